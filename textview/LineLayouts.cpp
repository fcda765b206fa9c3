#include "textview/LineLayouts.h"

#include "textview/TextBuffer.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QtMath>

#include <algorithm>
#include <climits>

namespace
{
constexpr qsizetype ChunkLines = 1024;
// Enough layouts for a few screens of a tall window.
constexpr size_t KeptLayouts = 600;

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

// Keys of a map that belong to lines [first, first + removed] go; keys of later lines move by added - removed.
template <typename Map, typename KeyOf, typename Moved>
void shiftLines(Map& map, qsizetype first, qsizetype removed, qsizetype added, KeyOf keyOf, Moved moved)
{
    map.erase(map.lower_bound(keyOf(first)), map.lower_bound(keyOf(first + removed + 1)));
    const qsizetype delta = added - removed;
    if (delta == 0) {
        return;
    }
    std::vector<typename Map::node_type> nodes;
    for (auto it = map.lower_bound(keyOf(first + removed + 1)); it != map.end();) {
        nodes.push_back(map.extract(it++));
    }
    for (auto& node : nodes) {
        node.key() = moved(node.key(), delta);
        map.insert(map.end(), std::move(node));
    }
}
} // namespace

LineLayouts::LineLayouts(const TextBuffer& buffer)
    : m_buffer(buffer)
{
    m_option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
}

LineLayouts::~LineLayouts() = default;

void LineLayouts::setFormat(const QFont& font, qreal width)
{
    m_font = font;
    m_width = std::max<qreal>(width, 1);
    const QFontMetricsF metrics(font);
    const qreal advance
        = QFontInfo(font).fixedPitch() ? metrics.horizontalAdvance(QLatin1Char('x')) : metrics.averageCharWidth();
    m_columns = std::max<qsizetype>(1, qsizetype(m_width / std::max<qreal>(advance, 1)));
    clear();
}

void LineLayouts::clear()
{
    m_layouts.clear();
    m_rows.clear();
    m_longLines.clear();
    m_chunkRows.clear();
    m_validChunks = 0;
    m_preeditLine = -1;
}

void LineLayouts::linesChanged(qsizetype firstLine, qsizetype removedBreaks, qsizetype addedBreaks)
{
    const auto lineKey = [](qsizetype line) { return line; };
    const auto movedLine = [](qsizetype line, qsizetype delta) { return line + delta; };
    shiftLines(
        m_layouts, firstLine, removedBreaks, addedBreaks, [](qsizetype line) { return LayoutKey(line, INT_MIN); },
        [](LayoutKey key, qsizetype delta) { return LayoutKey(key.first + delta, key.second); });
    shiftLines(m_rows, firstLine, removedBreaks, addedBreaks, lineKey, movedLine);
    shiftLines(m_longLines, firstLine, removedBreaks, addedBreaks, lineKey, movedLine);
    if (m_preeditLine > firstLine + removedBreaks) {
        m_preeditLine += addedBreaks - removedBreaks;
    } else if (m_preeditLine >= firstLine) {
        m_preeditLine = -1; // its layout went with the changed lines
    }

    const qsizetype chunks = (m_buffer.lineCount() + ChunkLines - 1) / ChunkLines;
    if (removedBreaks == addedBreaks) {
        // The same lines at the same numbers: only their own chunks change.
        for (qsizetype chunk = firstLine / ChunkLines; chunk <= (firstLine + addedBreaks) / ChunkLines; ++chunk) {
            if (chunk < m_validChunks) {
                m_chunkRows[size_t(chunk)] = countChunk(chunk);
            }
        }
    } else {
        m_validChunks = std::min(m_validChunks, firstLine / ChunkLines);
    }
    m_chunkRows.resize(size_t(chunks));
}

qsizetype LineLayouts::estimate(qsizetype length) const
{
    return length <= m_columns ? 1 : (length + m_columns - 1) / m_columns;
}

LineLayouts::LongLine& LineLayouts::longLine(qsizetype line)
{
    auto found = m_longLines.find(line);
    if (found != m_longLines.end()) {
        return found->second;
    }
    LongLine pieces;
    const qsizetype start = m_buffer.lineStart(line);
    const qsizetype length = m_buffer.lineLength(line);
    for (qsizetype piece = 0;;) {
        pieces.starts.push_back(piece);
        if (length - piece <= SegmentLength) {
            break;
        }
        // A piece ends after the last blank in its second half; without one, anywhere but inside a
        // surrogate pair or before a combining mark.
        const qsizetype half = piece + SegmentLength / 2;
        const QString window = m_buffer.mid(start + half, SegmentLength / 2 + 1);
        qsizetype end = piece + SegmentLength;
        qsizetype blank = SegmentLength / 2 - 1;
        while (blank >= 0 && !isBlank(window.at(blank))) {
            --blank;
        }
        if (blank >= 0) {
            end = half + blank + 1;
        } else {
            while (end > half && (window.at(end - half).isLowSurrogate() || window.at(end - half).isMark())) {
                --end;
            }
        }
        piece = end;
    }
    pieces.rows.assign(pieces.starts.size(), -1);
    return m_longLines.emplace(line, std::move(pieces)).first->second;
}

int LineLayouts::segmentCount(qsizetype line)
{
    return m_buffer.lineLength(line) <= SegmentLength ? 1 : int(longLine(line).starts.size());
}

qsizetype LineLayouts::segmentStart(qsizetype line, int segment)
{
    return segment == 0 ? 0 : longLine(line).starts[size_t(segment)];
}

qsizetype LineLayouts::segmentLength(qsizetype line, int segment)
{
    const qsizetype length = m_buffer.lineLength(line);
    if (length <= SegmentLength) {
        return length;
    }
    const LongLine& pieces = longLine(line);
    const qsizetype end = size_t(segment) + 1 < pieces.starts.size() ? pieces.starts[size_t(segment) + 1] : length;
    return end - pieces.starts[size_t(segment)];
}

int LineLayouts::segmentAt(qsizetype line, qsizetype offset)
{
    if (m_buffer.lineLength(line) <= SegmentLength) {
        return 0;
    }
    const LongLine& pieces = longLine(line);
    return int(std::upper_bound(pieces.starts.begin(), pieces.starts.end(), offset) - pieces.starts.begin()) - 1;
}

QTextLayout& LineLayouts::layout(qsizetype line, int segment)
{
    const LayoutKey key(line, segment);
    auto found = m_layouts.find(key);
    if (found == m_layouts.end()) {
        found = m_layouts.emplace(key, Kept { makeLayout(line, segment) }).first;
    }
    found->second.used = ++m_useCount;
    return *found->second.layout;
}

std::unique_ptr<QTextLayout> LineLayouts::makeLayout(qsizetype line, int segment)
{
    const qsizetype start = m_buffer.lineStart(line) + segmentStart(line, segment);
    auto layout = std::make_unique<QTextLayout>(m_buffer.mid(start, segmentLength(line, segment)), m_font);
    layout->setTextOption(m_option);
    layout->setCacheEnabled(true);
    const bool preedit = line == m_preeditLine && segment == m_preeditSegment;
    if (preedit) {
        layout->setPreeditArea(int(m_preeditOffset), m_preeditText);
        QList<QTextLayout::FormatRange> formats = m_preeditFormats;
        for (QTextLayout::FormatRange& format : formats) {
            format.start += int(m_preeditOffset);
        }
        layout->setFormats(formats);
    }
    layout->beginLayout();
    qreal y = 0;
    for (QTextLine row = layout->createLine(); row.isValid(); row = layout->createLine()) {
        row.setLeadingIncluded(true);
        row.setLineWidth(m_width);
        row.setPosition(QPointF(0, y));
        y += row.height();
        if (row.leading() < 0) {
            y += qCeil(row.leading());
        }
    }
    layout->endLayout();
    if (!preedit) {
        learnRows(line, segment, layout->lineCount());
    }
    return layout;
}

void LineLayouts::learnRows(qsizetype line, int segment, int rows)
{
    if (m_buffer.lineLength(line) <= SegmentLength) {
        setLineRows(line, rows);
        return;
    }
    longLine(line).rows[size_t(segment)] = rows;
    setLineRows(line, rowsBeforeSegment(line, segmentCount(line)));
}

void LineLayouts::setLineRows(qsizetype line, qsizetype rows)
{
    const qsizetype before = rowsOfLine(line);
    if (rows == estimate(m_buffer.lineLength(line))) {
        m_rows.erase(line);
    } else {
        m_rows[line] = rows;
    }
    const qsizetype chunk = line / ChunkLines;
    if (chunk < m_validChunks) {
        m_chunkRows[size_t(chunk)] += rows - before;
    }
}

qsizetype LineLayouts::rowsOfLine(qsizetype line) const
{
    const auto found = m_rows.find(line);
    return found != m_rows.end() ? found->second : estimate(m_buffer.lineLength(line));
}

qsizetype LineLayouts::countChunk(qsizetype chunk) const
{
    const qsizetype first = chunk * ChunkLines;
    const qsizetype last = std::min(m_buffer.lineCount(), first + ChunkLines);
    qsizetype sum = 0;
    qsizetype start = m_buffer.lineStart(first);
    for (qsizetype line = first; line < last; ++line) {
        const qsizetype next = line + 1 < m_buffer.lineCount() ? m_buffer.lineStart(line + 1) : m_buffer.size() + 1;
        sum += estimate(next - start - 1);
        start = next;
    }
    for (auto it = m_rows.lower_bound(first); it != m_rows.end() && it->first < last; ++it) {
        sum += it->second - estimate(m_buffer.lineLength(it->first));
    }
    return sum;
}

qsizetype LineLayouts::chunkRows(qsizetype chunk)
{
    m_chunkRows.resize(size_t((m_buffer.lineCount() + ChunkLines - 1) / ChunkLines));
    while (m_validChunks <= chunk) {
        m_chunkRows[size_t(m_validChunks)] = countChunk(m_validChunks);
        ++m_validChunks;
    }
    return m_chunkRows[size_t(chunk)];
}

qsizetype LineLayouts::totalRows()
{
    const qsizetype chunks = (m_buffer.lineCount() + ChunkLines - 1) / ChunkLines;
    qsizetype sum = 0;
    for (qsizetype chunk = 0; chunk < chunks; ++chunk) {
        sum += chunkRows(chunk);
    }
    return sum;
}

qsizetype LineLayouts::segmentRows(qsizetype line, int segment)
{
    if (segmentCount(line) == 1) {
        return rowsOfLine(line);
    }
    const int rows = longLine(line).rows[size_t(segment)];
    return rows >= 0 ? rows : estimate(segmentLength(line, segment));
}

qsizetype LineLayouts::rowsBeforeSegment(qsizetype line, int segment)
{
    qsizetype sum = 0;
    for (int piece = 0; piece < segment; ++piece) {
        sum += segmentRows(line, piece);
    }
    return sum;
}

qsizetype LineLayouts::rowNumber(const RowRef& row)
{
    const qsizetype chunk = row.line / ChunkLines;
    qsizetype sum = 0;
    for (qsizetype before = 0; before < chunk; ++before) {
        sum += chunkRows(before);
    }
    for (qsizetype line = chunk * ChunkLines; line < row.line; ++line) {
        sum += rowsOfLine(line);
    }
    return sum + rowsBeforeSegment(row.line, row.segment) + row.row;
}

RowRef LineLayouts::rowAt(qsizetype rowNumber)
{
    const qsizetype chunks = (m_buffer.lineCount() + ChunkLines - 1) / ChunkLines;
    qsizetype chunk = 0;
    for (; chunk + 1 < chunks && chunkRows(chunk) <= rowNumber; ++chunk) {
        rowNumber -= chunkRows(chunk);
    }
    qsizetype line = chunk * ChunkLines;
    for (; line + 1 < m_buffer.lineCount() && rowsOfLine(line) <= rowNumber; ++line) {
        rowNumber -= rowsOfLine(line);
    }
    int segment = 0;
    for (const int last = segmentCount(line) - 1; segment < last; ++segment) {
        const qsizetype rows = segmentRows(line, segment);
        if (rowNumber < rows) {
            break;
        }
        rowNumber -= rows;
    }
    return normalized(RowRef { line, segment, int(std::min<qsizetype>(rowNumber, INT_MAX)) });
}

RowRef LineLayouts::normalized(RowRef row)
{
    for (;;) {
        const int rows = layout(row.line, row.segment).lineCount();
        if (row.row < rows) {
            return row;
        }
        RowRef last = row;
        last.row = rows - 1;
        RowRef next = last;
        if (!nextRow(next)) {
            return last;
        }
        next.row = row.row - rows;
        row = next;
    }
}

bool LineLayouts::nextRow(RowRef& row)
{
    if (row.row + 1 < layout(row.line, row.segment).lineCount()) {
        ++row.row;
    } else if (row.segment + 1 < segmentCount(row.line)) {
        row = RowRef { row.line, row.segment + 1, 0 };
    } else if (row.line + 1 < m_buffer.lineCount()) {
        row = RowRef { row.line + 1, 0, 0 };
    } else {
        return false;
    }
    return true;
}

bool LineLayouts::previousRow(RowRef& row)
{
    if (row.row > 0) {
        --row.row;
        return true;
    }
    if (row.segment > 0) {
        row.segment -= 1;
    } else if (row.line > 0) {
        row.line -= 1;
        row.segment = segmentCount(row.line) - 1;
    } else {
        return false;
    }
    row.row = layout(row.line, row.segment).lineCount() - 1;
    return true;
}

RowRef LineLayouts::rowOf(qsizetype position)
{
    RowRef row;
    row.line = m_buffer.lineAt(position);
    const qsizetype offset = position - m_buffer.lineStart(row.line);
    row.segment = segmentAt(row.line, offset);
    const int inLayout = toLayoutOffset(row.line, row.segment, offset - segmentStart(row.line, row.segment));
    row.row = layout(row.line, row.segment).lineForTextPosition(inLayout).lineNumber();
    row.row = std::max(row.row, 0);
    return row;
}

void LineLayouts::setPreedit(qsizetype position, const QString& text, const QList<QTextLayout::FormatRange>& formats)
{
    if (m_preeditLine >= 0) {
        m_layouts.erase(LayoutKey(m_preeditLine, m_preeditSegment));
    }
    m_preeditLine = -1;
    m_preeditText = text;
    m_preeditFormats = formats;
    if (text.isEmpty()) {
        return;
    }
    m_preeditLine = m_buffer.lineAt(position);
    const qsizetype offset = position - m_buffer.lineStart(m_preeditLine);
    m_preeditSegment = segmentAt(m_preeditLine, offset);
    m_preeditOffset = offset - segmentStart(m_preeditLine, m_preeditSegment);
    m_layouts.erase(LayoutKey(m_preeditLine, m_preeditSegment));
}

int LineLayouts::toLayoutOffset(qsizetype line, int segment, qsizetype offsetInSegment) const
{
    if (line == m_preeditLine && segment == m_preeditSegment && offsetInSegment > m_preeditOffset) {
        offsetInSegment += m_preeditText.size();
    }
    return int(offsetInSegment);
}

qsizetype LineLayouts::fromLayoutOffset(qsizetype line, int segment, int layoutOffset) const
{
    if (line != m_preeditLine || segment != m_preeditSegment || layoutOffset <= m_preeditOffset) {
        return layoutOffset;
    }
    return std::max(m_preeditOffset, layoutOffset - m_preeditText.size());
}

void LineLayouts::trim()
{
    if (m_layouts.size() <= KeptLayouts) {
        return;
    }
    std::vector<quint64> uses;
    uses.reserve(m_layouts.size());
    for (const auto& [key, kept] : m_layouts) {
        uses.push_back(kept.used);
    }
    // Keep the half used most recently.
    const auto middle = uses.begin() + KeptLayouts / 2;
    std::nth_element(uses.begin(), middle, uses.end(), std::greater<>());
    const quint64 oldest = *middle;
    std::erase_if(m_layouts, [oldest](const auto& entry) { return entry.second.used < oldest; });
}
