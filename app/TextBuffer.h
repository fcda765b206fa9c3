#pragma once

#include <QObject>
#include <QString>
#include <QStringView>

#include <deque>
#include <vector>

// What an edit was, for undo: typed characters and characters removed by key merge with
// the edit before them, as in other text boxes; any other edit is an undo step of its own.
enum class EditKind { Other, Typing, Removal };

// The text of a journal view, held once: UTF-16 in a gap buffer, lines separated by LF,
// an index of where each line starts, undo and redo, and an exact notice of every change.
class TextBuffer : public QObject
{
    Q_OBJECT

public:
    explicit TextBuffer(QObject* parent = nullptr);

    qsizetype size() const { return m_gapStart + (m_data.size() - m_gapEnd); }
    bool isEmpty() const { return size() == 0; }
    QChar at(qsizetype position) const;
    QString mid(qsizetype position, qsizetype length) const;
    // The whole text in one piece, valid until the next change. Closes the gap at its end,
    // which costs little while edits happen near the end, as a journal's do.
    QStringView text();
    QString toString() const;

    qsizetype lineCount() const { return qsizetype(m_lineStarts.size()); }
    qsizetype lineStart(qsizetype line) const;
    // The line's characters, its LF not counted.
    qsizetype lineLength(qsizetype line) const;
    qsizetype lineEnd(qsizetype line) const { return lineStart(line) + lineLength(line); }
    qsizetype lineAt(qsizetype position) const;

    // Positions in the text as it is stored (each line break CR LF) and here (each line break LF).
    qsizetype toTextPosition(qsizetype position) const { return position + lineAt(position); }
    qsizetype fromTextPosition(qsizetype textPosition) const;

    // Takes the text over (LF line breaks; passed moved, it is not copied) and forgets undo.
    void setText(QString text);
    // Replaces [position, position + removed) with added, which holds LF line breaks only.
    void replace(qsizetype position, qsizetype removed, const QString& added, EditKind kind = EditKind::Other);

    // The replacements between the two calls are undone as one step.
    void beginUndoGroup();
    void endUndoGroup();
    // The next edit starts an undo step of its own, even where it could merge with the last.
    void closeUndoStep() { m_mergeClosed = true; }
    bool isUndoAvailable() const { return !m_undo.empty(); }
    bool isRedoAvailable() const { return !m_redo.empty(); }
    // Each returns where the caret goes: after the text the step put back, or -1 when there was no step.
    qsizetype undo();
    qsizetype redo();
    // Older steps are forgotten once the steps hold more characters than this; the newest
    // KeptSteps are kept whatever their size, so a large deletion can always be taken back.
    void setUndoLimit(qsizetype characters);
    static constexpr qsizetype KeptSteps = 100;

Q_SIGNALS:
    // Lines [firstLine, firstLine + removedBreaks] became [firstLine, firstLine + addedBreaks];
    // sent just before changed().
    void linesChanged(qsizetype firstLine, qsizetype removedBreaks, qsizetype addedBreaks);
    // The characters [position, position + removed) were replaced by added.
    void changed(qsizetype position, qsizetype removed, const QString& added);
    // setText() replaced the whole text.
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

    QString apply(qsizetype position, qsizetype removed, const QString& added);
    void record(Edit edit, EditKind kind);
    static bool merge(Step& step, const Edit& edit, EditKind kind);
    void forgetOldSteps();
    void tellUndoState(bool undoBefore, bool redoBefore);

    void moveGap(qsizetype position);
    void reserveGap(qsizetype length);
    qsizetype gapLength() const { return m_gapEnd - m_gapStart; }
    void indexLines();
    void moveStepTo(qsizetype line);

    // The text is m_data with [m_gapStart, m_gapEnd) left out.
    QString m_data;
    qsizetype m_gapStart = 0;
    qsizetype m_gapEnd = 0;
    // Where each line starts; entries after m_stepLine still lack m_stepDelta, so that edits
    // in one place do not shift every later entry each time.
    std::vector<qsizetype> m_lineStarts;
    qsizetype m_stepLine = 0;
    qsizetype m_stepDelta = 0;

    std::deque<Step> m_undo;
    std::vector<Step> m_redo;
    qsizetype m_undoCharacters = 0;
    qsizetype m_undoLimit;
    int m_groupDepth = 0;
    bool m_groupStarted = false;
    bool m_mergeClosed = true;
};
