#include "app/TextBuffer.h"

#include <algorithm>
#include <cstring>

namespace
{
// 8 Mi characters (16 MiB) of undo history beyond the newest steps.
constexpr qsizetype DefaultUndoLimit = qsizetype(8) << 20;
constexpr qsizetype MinimumGap = 4096;
} // namespace

qsizetype TextBuffer::Step::characters() const
{
    qsizetype sum = 0;
    for (const Edit& edit : edits) {
        sum += edit.removed.size() + edit.added.size();
    }
    return sum;
}

TextBuffer::TextBuffer(QObject* parent)
    : QObject(parent)
    , m_lineStarts { 0 }
    , m_undoLimit(DefaultUndoLimit)
{ }

QChar TextBuffer::at(qsizetype position) const
{
    Q_ASSERT(position >= 0 && position < size());
    return m_data.at(position < m_gapStart ? position : position + gapLength());
}

QString TextBuffer::mid(qsizetype position, qsizetype length) const
{
    position = std::clamp<qsizetype>(position, 0, size());
    length = std::clamp<qsizetype>(length, 0, size() - position);
    const QChar* data = m_data.constData();
    if (position + length <= m_gapStart) {
        return QString(data + position, length);
    }
    if (position >= m_gapStart) {
        return QString(data + position + gapLength(), length);
    }
    const qsizetype before = m_gapStart - position;
    QString result(length, Qt::Uninitialized);
    std::memcpy(result.data(), data + position, before * sizeof(QChar));
    std::memcpy(result.data() + before, data + m_gapEnd, (length - before) * sizeof(QChar));
    return result;
}

QStringView TextBuffer::text()
{
    moveGap(size());
    return QStringView(m_data.constData(), m_gapStart);
}

QString TextBuffer::toString() const
{
    return mid(0, size());
}

qsizetype TextBuffer::lineStart(qsizetype line) const
{
    Q_ASSERT(line >= 0 && line < lineCount());
    return m_lineStarts[size_t(line)] + (line > m_stepLine ? m_stepDelta : 0);
}

qsizetype TextBuffer::lineLength(qsizetype line) const
{
    const qsizetype end = line + 1 < lineCount() ? lineStart(line + 1) - 1 : size();
    return end - lineStart(line);
}

qsizetype TextBuffer::lineAt(qsizetype position) const
{
    // The last line that starts at or before the position.
    qsizetype low = 0;
    qsizetype high = lineCount() - 1;
    while (low < high) {
        const qsizetype middle = (low + high + 1) / 2;
        if (lineStart(middle) <= position) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    return low;
}

qsizetype TextBuffer::fromTextPosition(qsizetype textPosition) const
{
    // Line n starts at lineStart(n) + n when every line break before it counts twice.
    qsizetype low = 0;
    qsizetype high = lineCount() - 1;
    while (low < high) {
        const qsizetype middle = (low + high + 1) / 2;
        if (lineStart(middle) + middle <= textPosition) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    // A position between CR and LF is the end of its line.
    return std::clamp<qsizetype>(textPosition - low, 0, lineEnd(low));
}

void TextBuffer::setText(QString text)
{
    const bool undoBefore = isUndoAvailable();
    const bool redoBefore = isRedoAvailable();
    m_data = std::move(text);
    m_gapStart = m_gapEnd = m_data.size();
    indexLines();
    m_undo.clear();
    m_redo.clear();
    m_undoCharacters = 0;
    m_mergeClosed = true;
    Q_EMIT reset();
    tellUndoState(undoBefore, redoBefore);
}

void TextBuffer::indexLines()
{
    m_lineStarts.clear();
    m_lineStarts.push_back(0);
    m_stepLine = 0;
    m_stepDelta = 0;
    const QStringView all(m_data.constData(), m_gapStart);
    for (qsizetype at = all.indexOf(QLatin1Char('\n')); at >= 0; at = all.indexOf(QLatin1Char('\n'), at + 1)) {
        m_lineStarts.push_back(at + 1);
    }
}

void TextBuffer::replace(qsizetype position, qsizetype removed, const QString& added, EditKind kind)
{
    Q_ASSERT(position >= 0 && removed >= 0 && position + removed <= size());
    if (removed == 0 && added.isEmpty()) {
        return;
    }
    const bool undoBefore = isUndoAvailable();
    const bool redoBefore = isRedoAvailable();
    QString removedText = apply(position, removed, added);
    record(Edit { position, std::move(removedText), added }, kind);
    tellUndoState(undoBefore, redoBefore);
}

QString TextBuffer::apply(qsizetype position, qsizetype removed, const QString& added)
{
    const qsizetype firstLine = lineAt(position);
    moveGap(position);
    QString removedText(m_data.constData() + m_gapEnd, removed);
    m_gapEnd += removed;
    reserveGap(added.size());
    std::memcpy(m_data.data() + m_gapStart, added.constData(), added.size() * sizeof(QChar));
    m_gapStart += added.size();

    const qsizetype removedBreaks = removedText.count(QLatin1Char('\n'));
    const qsizetype addedBreaks = added.count(QLatin1Char('\n'));
    moveStepTo(firstLine);
    const auto first = m_lineStarts.begin() + firstLine + 1;
    m_lineStarts.erase(first, first + removedBreaks);
    if (addedBreaks > 0) {
        // Entries up to the step line hold their true starts.
        std::vector<qsizetype> starts;
        starts.reserve(size_t(addedBreaks));
        for (qsizetype at = added.indexOf(QLatin1Char('\n')); at >= 0; at = added.indexOf(QLatin1Char('\n'), at + 1)) {
            starts.push_back(position + at + 1);
        }
        m_lineStarts.insert(m_lineStarts.begin() + firstLine + 1, starts.begin(), starts.end());
    }
    m_stepLine = firstLine + addedBreaks;
    m_stepDelta += added.size() - removed;
    if (m_stepLine >= lineCount() - 1) {
        m_stepDelta = 0;
    }

    Q_EMIT linesChanged(firstLine, removedBreaks, addedBreaks);
    Q_EMIT changed(position, removed, added);
    return removedText;
}

void TextBuffer::moveStepTo(qsizetype line)
{
    if (m_stepDelta != 0) {
        if (line > m_stepLine) {
            for (qsizetype i = m_stepLine + 1; i <= line; ++i) {
                m_lineStarts[size_t(i)] += m_stepDelta;
            }
        } else {
            for (qsizetype i = line + 1; i <= m_stepLine; ++i) {
                m_lineStarts[size_t(i)] -= m_stepDelta;
            }
        }
    }
    m_stepLine = line;
}

void TextBuffer::moveGap(qsizetype position)
{
    QChar* data = m_data.data();
    if (position < m_gapStart) {
        const qsizetype moved = m_gapStart - position;
        std::memmove(data + m_gapEnd - moved, data + position, moved * sizeof(QChar));
        m_gapStart -= moved;
        m_gapEnd -= moved;
    } else if (position > m_gapStart) {
        const qsizetype moved = position - m_gapStart;
        std::memmove(data + m_gapStart, data + m_gapEnd, moved * sizeof(QChar));
        m_gapStart += moved;
        m_gapEnd += moved;
    }
}

void TextBuffer::reserveGap(qsizetype length)
{
    if (gapLength() >= length) {
        return;
    }
    // Growing by a share of the size keeps appends amortised; the string's own growth reallocates
    // in place where it can, so the text is not copied.
    const qsizetype grow = std::max({ length - gapLength(), MinimumGap, size() / 16 });
    const qsizetype oldSize = m_data.size();
    const qsizetype tail = oldSize - m_gapEnd;
    m_data.resize(oldSize + grow);
    QChar* data = m_data.data();
    std::memmove(data + m_gapEnd + grow, data + m_gapEnd, tail * sizeof(QChar));
    m_gapEnd += grow;
}

void TextBuffer::beginUndoGroup()
{
    if (m_groupDepth++ == 0) {
        m_groupStarted = false;
    }
}

void TextBuffer::endUndoGroup()
{
    Q_ASSERT(m_groupDepth > 0);
    if (--m_groupDepth == 0) {
        m_mergeClosed = true;
    }
}

void TextBuffer::record(Edit edit, EditKind kind)
{
    // A line break typed or removed is a step of its own, as the text boxes users know have it.
    if ((kind == EditKind::Typing && edit.added.contains(QLatin1Char('\n')))
        || (kind == EditKind::Removal && (!edit.added.isEmpty() || edit.removed.contains(QLatin1Char('\n'))))) {
        kind = EditKind::Other;
    }
    m_redo.clear();
    const qsizetype characters = edit.removed.size() + edit.added.size();
    if (m_groupDepth > 0) {
        if (!m_groupStarted) {
            m_undo.push_back(Step { {}, EditKind::Other });
            m_groupStarted = true;
        }
        m_undo.back().edits.push_back(std::move(edit));
    } else if (m_mergeClosed || m_undo.empty() || !merge(m_undo.back(), edit, kind)) {
        m_undo.push_back(Step { {}, kind });
        m_undo.back().edits.push_back(std::move(edit));
    }
    m_undoCharacters += characters;
    m_mergeClosed = kind == EditKind::Other;
    forgetOldSteps();
}

bool TextBuffer::merge(Step& step, const Edit& edit, EditKind kind)
{
    if (step.kind != kind || step.edits.size() != 1) {
        return false;
    }
    Edit& last = step.edits.front();
    if (kind == EditKind::Typing) {
        if (!edit.removed.isEmpty() || last.position + last.added.size() != edit.position) {
            return false;
        }
        last.added += edit.added;
        return true;
    }
    if (kind == EditKind::Removal) {
        if (edit.position == last.position) {
            last.removed += edit.removed; // Delete, forwards
            return true;
        }
        if (edit.position + edit.removed.size() == last.position) {
            last.removed.prepend(edit.removed); // Backspace
            last.position = edit.position;
            return true;
        }
    }
    return false;
}

void TextBuffer::forgetOldSteps()
{
    while (m_undoCharacters > m_undoLimit && qsizetype(m_undo.size()) > KeptSteps) {
        m_undoCharacters -= m_undo.front().characters();
        m_undo.pop_front();
    }
}

void TextBuffer::setUndoLimit(qsizetype characters)
{
    m_undoLimit = characters;
    const bool undoBefore = isUndoAvailable();
    forgetOldSteps();
    tellUndoState(undoBefore, isRedoAvailable());
}

qsizetype TextBuffer::undo()
{
    if (m_undo.empty() || m_groupDepth > 0) {
        return -1;
    }
    const bool redoBefore = isRedoAvailable();
    Step step = std::move(m_undo.back());
    m_undo.pop_back();
    m_undoCharacters -= step.characters();
    qsizetype caret = -1;
    for (auto edit = step.edits.rbegin(); edit != step.edits.rend(); ++edit) {
        apply(edit->position, edit->added.size(), edit->removed);
        caret = edit->position + edit->removed.size();
    }
    m_redo.push_back(std::move(step));
    tellUndoState(true, redoBefore);
    return caret;
}

qsizetype TextBuffer::redo()
{
    if (m_redo.empty() || m_groupDepth > 0) {
        return -1;
    }
    const bool undoBefore = isUndoAvailable();
    Step step = std::move(m_redo.back());
    m_redo.pop_back();
    qsizetype caret = -1;
    for (const Edit& edit : step.edits) {
        apply(edit.position, edit.removed.size(), edit.added);
        caret = edit.position + edit.added.size();
    }
    m_undoCharacters += step.characters();
    m_undo.push_back(std::move(step));
    forgetOldSteps();
    tellUndoState(undoBefore, true);
    return caret;
}

void TextBuffer::tellUndoState(bool undoBefore, bool redoBefore)
{
    if (undoBefore != isUndoAvailable()) {
        Q_EMIT undoAvailable(isUndoAvailable());
    }
    if (redoBefore != isRedoAvailable()) {
        Q_EMIT redoAvailable(isRedoAvailable());
    }
}
