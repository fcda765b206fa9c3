#pragma once

#include <QFont>
#include <QList>
#include <QTextLayout>
#include <QTextOption>

#include <map>
#include <memory>
#include <utility>
#include <vector>

class TextBuffer;

// One row on screen: a line, a piece of it (see LineLayouts), and a row of that piece's layout.
struct RowRef
{
    qsizetype line = 0;
    int segment = 0;
    int row = 0;
    auto operator<=>(const RowRef&) const = default;
};

// Word-wrapped layouts of the lines a view shows, made when asked for and kept while they are
// used, and the number of rows of every line: exact once the line was laid out, otherwise
// estimated from its length, which with a monospaced font is exact for the lines that fit in
// one row. Lines longer than SegmentLength are laid out in pieces that end after a blank where
// one is near, so that a line of many megabytes never needs one layout.
class LineLayouts
{
public:
    static constexpr qsizetype SegmentLength = 4096;

    explicit LineLayouts(const TextBuffer& buffer);
    ~LineLayouts();

    // The font, and the width that rows wrap at. Forgets every layout and count.
    void setFormat(const QFont& font, qreal width);
    const QFont& font() const { return m_font; }
    qreal width() const { return m_width; }
    // After the buffer's reset, and after its change notices.
    void clear();
    void linesChanged(qsizetype firstLine, qsizetype removedBreaks, qsizetype addedBreaks);

    int segmentCount(qsizetype line);
    // Where a piece starts in its line, and its length.
    qsizetype segmentStart(qsizetype line, int segment);
    qsizetype segmentLength(qsizetype line, int segment);
    // The piece holding an offset of the line; an offset where two pieces meet belongs to the later one.
    int segmentAt(qsizetype line, qsizetype offset);

    // A piece's layout, its lines placed one under the other from y = 0. Stays valid until
    // trim(), setFormat(), clear() or a change of the text.
    QTextLayout& layout(qsizetype line, int segment);
    QTextLine textLine(const RowRef& row) { return layout(row.line, row.segment).lineAt(row.row); }
    // Drops the layouts used longest ago when too many are kept.
    void trim();

    // Text that an input method is composing, shown at a position of the text without being part
    // of it; the formats' positions count from the start of the preedit text.
    void setPreedit(qsizetype position, const QString& text, const QList<QTextLayout::FormatRange>& formats);
    // Offsets in a piece's layout, which holds the preedit text where it is shown, and back; an
    // offset within the preedit text goes back to where it is shown.
    int toLayoutOffset(qsizetype line, int segment, qsizetype offsetInSegment) const;
    qsizetype fromLayoutOffset(qsizetype line, int segment, int layoutOffset) const;

    // Moving one row at a time, laying out as they go; false at either end of the text.
    bool nextRow(RowRef& row);
    bool previousRow(RowRef& row);
    // The row showing a position of the text.
    RowRef rowOf(qsizetype position);
    // A row whose number lies past the rows its piece really has moves on to the rows that follow.
    RowRef normalized(RowRef row);

    // Row numbers over the whole text, for the scroll bar.
    qsizetype totalRows();
    qsizetype rowNumber(const RowRef& row);
    RowRef rowAt(qsizetype rowNumber);

private:
    struct LongLine
    {
        std::vector<qsizetype> starts;
        std::vector<int> rows; // -1 where the piece was not laid out yet
    };
    struct Kept
    {
        std::unique_ptr<QTextLayout> layout;
        quint64 used = 0;
    };
    using LayoutKey = std::pair<qsizetype, int>;

    qsizetype estimate(qsizetype length) const;
    qsizetype rowsOfLine(qsizetype line) const;
    qsizetype rowsBeforeSegment(qsizetype line, int segment);
    qsizetype segmentRows(qsizetype line, int segment);
    LongLine& longLine(qsizetype line);
    std::unique_ptr<QTextLayout> makeLayout(qsizetype line, int segment);
    void learnRows(qsizetype line, int segment, int rows);
    void setLineRows(qsizetype line, qsizetype rows);
    qsizetype chunkRows(qsizetype chunk);
    qsizetype countChunk(qsizetype chunk) const;

    const TextBuffer& m_buffer;
    QFont m_font;
    QTextOption m_option;
    qreal m_width = 0;
    qsizetype m_columns = 1;

    std::map<LayoutKey, Kept> m_layouts;
    quint64 m_useCount = 0;
    // Rows of the lines whose count differs from their estimate.
    std::map<qsizetype, qsizetype> m_rows;
    std::map<qsizetype, LongLine> m_longLines;
    // Rows of each run of ChunkLines lines; the first m_validChunks are current.
    std::vector<qsizetype> m_chunkRows;
    qsizetype m_validChunks = 0;

    qsizetype m_preeditLine = -1;
    int m_preeditSegment = 0;
    qsizetype m_preeditOffset = 0; // in its piece
    QString m_preeditText;
    QList<QTextLayout::FormatRange> m_preeditFormats;
};
