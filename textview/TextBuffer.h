#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringView>

#include <deque>
#include <optional>
#include <unordered_map>
#include <vector>

// What an edit was, for undo: typed characters and characters removed by key merge with
// the edit before them, as in other text boxes; any other edit is an undo step of its own.
enum class EditKind { Other, Typing, Removal };

// The text of a journal view, held once: UTF-8 in a gap buffer, lines separated by LF, an
// index of where each line starts, undo and redo, and an exact notice of every change.
// Positions count UTF-16 code units, as QString does; the buffer converts where a line holds
// other than ASCII. Holding UTF-8 lets a stored journal's bytes become the buffer in place.
class TextBuffer : public QObject
{
    Q_OBJECT

public:
    // What loading stored bytes changed, so that it can be told.
    struct Loaded
    {
        bool cutAtZero = false; // a zero byte, where the text ends
        bool windows1252 = false; // no UTF-8; read as Windows-1252
        bool lineBreaksChanged = false; // a bare CR, a bare LF or U+2029 became a CR LF line break
        bool changed() const { return cutAtZero || windows1252 || lineBreaksChanged; }
    };

    explicit TextBuffer(QObject* parent = nullptr);

    qsizetype size() const { return m_units; }
    bool isEmpty() const { return m_units == 0; }
    QChar at(qsizetype position) const;
    QString mid(qsizetype position, qsizetype length) const;
    QString toString() const { return mid(0, size()); }

    qsizetype lineCount() const { return qsizetype(m_lines.size()); }
    qsizetype lineStart(qsizetype line) const;
    // The line's code units, its LF not counted.
    qsizetype lineLength(qsizetype line) const;
    qsizetype lineEnd(qsizetype line) const { return lineStart(line) + lineLength(line); }
    qsizetype lineAt(qsizetype position) const;

    // Positions in the text as it is stored (each line break CR LF) and here (each line break LF).
    qsizetype toTextPosition(qsizetype position) const { return position + lineAt(position); }
    qsizetype fromTextPosition(qsizetype textPosition) const;

    // Replaces the whole text (LF line breaks) and forgets undo.
    void setText(const QString& text);
    // Takes stored bytes over as the text, in place where they are UTF-8: a zero byte ends the
    // text, CR LF, a bare CR or LF and U+2029 become LF, and bytes that are no UTF-8 are read as
    // Windows-1252. Forgets undo. Passed moved, a large journal is not copied.
    Loaded setStoredBytes(QByteArray bytes);
    // The text as it is stored: UTF-8, lines joined by CR LF, made in one pass.
    QByteArray storedBytes() const { return storedBytes(snapshot()); }
    // The text as it is now, sharing the buffer's bytes until the next change, so that taking it
    // costs nothing and another thread may turn it into stored bytes.
    struct Snapshot
    {
        QByteArray data;
        qsizetype gapStart = 0;
        qsizetype gapEnd = 0;
        qsizetype lineCount = 1;
    };
    Snapshot snapshot() const;
    static QByteArray storedBytes(const Snapshot& text);
    // The UTF-8 text in one piece, valid until the next change; closing the gap at the end costs
    // little while edits happen near the end, as a journal's do.
    QByteArrayView utf8();
    qsizetype positionOfByte(qsizetype byte) const;
    // The first occurrence of needle that starts at or after a position, or -1; without
    // caseSensitive only the ASCII letters A to Z are folded, as TextPosFrom() does.
    qsizetype find(QStringView needle, qsizetype from, bool caseSensitive);
    // What the change being told by changed() removed; empty at other times.
    const QString& removedText() const { return m_removedText; }

    // Replaces [position, position + removed) with added, which holds LF line breaks only. A
    // range that splits a surrogate pair grows to hold all of it; a lone surrogate in added
    // becomes U+FFFD, as it would in the stored bytes.
    void replace(qsizetype position, qsizetype removed, const QString& added, EditKind kind = EditKind::Other);

    // The replacements between the two calls are undone as one step.
    void beginUndoGroup();
    void endUndoGroup();
    // The next edit starts an undo step of its own, even where it could merge with the last.
    void closeUndoStep() { m_mergeClosed = true; }
    // Forgets every undo and redo step, as after a load.
    void clearUndo();
    bool isUndoAvailable() const { return !m_undo.empty(); }
    bool isRedoAvailable() const { return !m_redo.empty(); }
    // Each returns where the caret goes: after the text the step put back, or -1 when there was no step.
    qsizetype undo();
    qsizetype redo();
    // Older steps are forgotten once the steps hold more characters than this; the newest step is
    // kept whatever its size, so a large deletion can always be taken back.
    void setUndoLimit(qsizetype characters);
    qsizetype undoLimit() const { return m_undoLimit; }

Q_SIGNALS:
    // Lines [firstLine, firstLine + removedBreaks] became [firstLine, firstLine + addedBreaks];
    // sent just before changed().
    void linesChanged(qsizetype firstLine, qsizetype removedBreaks, qsizetype addedBreaks);
    // The code units [position, position + removed) were replaced by added.
    void changed(qsizetype position, qsizetype removed, const QString& added);
    // setText() or setStoredBytes() replaced the whole text.
    void reset();
    void undoAvailable(bool available);
    void redoAvailable(bool available);

private:
    struct Edit
    {
        qsizetype position;
        QString removed;
        QString added;
    };
    struct Step
    {
        std::vector<Edit> edits;
        EditKind kind;
        qsizetype characters() const;
    };
    struct LineStart
    {
        qsizetype byte;
        qsizetype unit;
    };
    // A place in the text both as a UTF-16 position and as a byte offset.
    struct Place
    {
        qsizetype unit;
        qsizetype byte;
    };

    Edit apply(qsizetype position, qsizetype removed, const QString& added);
    void record(Edit edit, EditKind kind);
    static bool merge(Step& step, const Edit& edit, EditKind kind);
    void forgetOldSteps();
    void forgetSteps();
    void tellUndoState(bool undoBefore, bool redoBefore);
    void adopt(QByteArray utf8, std::optional<bool> knownAscii = {});

    // Bytes
    char byteAt(qsizetype byte) const { return m_data.at(byte < m_gapStart ? byte : byte + gapLength()); }
    qsizetype byteSize() const { return m_data.size() - gapLength(); }
    qsizetype gapLength() const { return m_gapEnd - m_gapStart; }
    QString decode(qsizetype fromByte, qsizetype toByte) const;
    void moveGap(qsizetype byte);
    // The array, for writing bytes [from, to) of it.
    char* writable(qsizetype from, qsizetype to);
    void reserveGap(qsizetype length);

    // Lines and positions
    LineStart lineStartAt(qsizetype line) const;
    qsizetype lineBytes(qsizetype line) const;
    qsizetype lineAtByte(qsizetype byte) const;
    // The place of a position; one inside a surrogate pair goes to the pair's start, or with
    // roundUp to its end.
    Place locate(qsizetype position, bool roundUp = false) const;
    // Walks the characters from a place until either goal is reached; the unit goal may be
    // passed by one, where it splits a surrogate pair.
    Place walk(Place from, qsizetype toUnit, qsizetype toByte) const;
    Place walkInLine(qsizetype line, qsizetype toUnit, qsizetype toByte) const;
    const std::vector<Place>& checkpoints(qsizetype line) const;
    void moveStepTo(qsizetype line);

    // The text is m_data with bytes [m_gapStart, m_gapEnd) left out.
    QByteArray m_data;
    qsizetype m_gapStart = 0;
    qsizetype m_gapEnd = 0;
    // The gap of the last snapshot taken, which may still share m_data.
    mutable std::pair<qsizetype, qsizetype> m_snapshotGap;
    qsizetype m_units = 0;
    // Where each line starts; entries after m_stepLine still lack the step's deltas, so that
    // edits in one place do not shift every later entry each time.
    std::vector<LineStart> m_lines;
    qsizetype m_stepLine = 0;
    LineStart m_step { 0, 0 };
    // In long lines that hold more than ASCII, places along the line (relative to its start).
    mutable std::unordered_map<qsizetype, std::vector<Place>> m_checkpoints;

    std::deque<Step> m_undo;
    std::vector<Step> m_redo;
    QString m_removedText;
    qsizetype m_undoCharacters = 0;
    qsizetype m_undoLimit;
    int m_groupDepth = 0;
    bool m_groupStarted = false;
    bool m_mergeClosed = true;
};
