#include "textview/TextBuffer.h"

#include "platform/LargeBuffer.h"
#include "textview/MemoText.h"

#include <algorithm>
#include <cstring>

namespace
{
// 8 Mi characters (16 MiB) of undo history beyond the newest steps.
constexpr qsizetype DefaultUndoLimit = qsizetype(8) << 20;
constexpr qsizetype MinimumGap = 4096;
constexpr qsizetype CheckpointUnits = 4096;

bool isAscii(const char* data, qsizetype length)
{
    // Eight bytes at a time, which compilers turn into vector code.
    quint64 bits = 0;
    qsizetype i = 0;
    for (; i + 8 <= length; i += 8) {
        quint64 word;
        std::memcpy(&word, data + i, sizeof word);
        bits |= word;
    }
    for (; i < length; ++i) {
        bits |= static_cast<unsigned char>(data[i]);
    }
    return (bits & 0x8080808080808080ULL) == 0;
}

// UTF-16 code units of valid UTF-8: one per character, two for those beyond U+FFFF.
qsizetype unitsOf(const char* data, qsizetype length)
{
    if (isAscii(data, length)) {
        return length;
    }
    qsizetype units = 0;
    for (qsizetype i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(data[i]);
        units += ((c & 0xC0) != 0x80) + (c >= 0xF0);
    }
    return units;
}

// A lone surrogate has no UTF-8; it becomes U+FFFD, as QString::toUtf8() would write it.
QString withoutLoneSurrogates(const QString& text)
{
    QString result = text;
    for (qsizetype i = 0; i < result.size(); ++i) {
        const QChar c = result.at(i);
        if (c.isHighSurrogate() && i + 1 < result.size() && result.at(i + 1).isLowSurrogate()) {
            ++i;
        } else if (c.isSurrogate()) {
            result[i] = QChar::ReplacementCharacter;
        }
    }
    return result;
}

// Every occurrence of a byte sequence becomes LF, in place. Returns how many there were.
qsizetype replaceByLineFeed(QByteArray& bytes, QByteArrayView what)
{
    qsizetype at = QByteArrayView(bytes).indexOf(what);
    if (at < 0) {
        return 0; // untouched, so bytes shared with the caller are not copied
    }
    char* data = bytes.data();
    const qsizetype size = bytes.size();
    qsizetype out = 0;
    qsizetype in = 0;
    qsizetype count = 0;
    // Only bytes at or after in are searched, and those were not moved yet.
    while (at >= 0) {
        std::memmove(data + out, data + in, size_t(at - in));
        out += at - in;
        data[out++] = '\n';
        in = at + what.size();
        ++count;
        const qsizetype next = QByteArrayView(data + in, size - in).indexOf(what);
        at = next < 0 ? -1 : in + next;
    }
    std::memmove(data + out, data + in, size_t(size - in));
    bytes.truncate(out + size - in);
    return count;
}

// CR LF and bare CR become LF, in place. Returns the number of bare CRs and of CR LF pairs.
std::pair<qsizetype, qsizetype> carriageReturnsToLineFeeds(QByteArray& bytes)
{
    if (!bytes.contains('\r')) {
        return { 0, 0 };
    }
    char* data = bytes.data();
    const qsizetype size = bytes.size();
    qsizetype out = 0;
    qsizetype in = 0;
    qsizetype bare = 0;
    qsizetype pairs = 0;
    for (;;) {
        const auto* found = static_cast<const char*>(std::memchr(data + in, '\r', size_t(size - in)));
        const qsizetype at = found != nullptr ? found - data : size;
        if (out != in) {
            std::memmove(data + out, data + in, size_t(at - in));
        }
        out += at - in;
        if (found == nullptr) {
            break;
        }
        in = at + 1;
        if (in < size && data[in] == '\n') {
            ++pairs; // the LF goes with the next run
        } else {
            ++bare;
            data[out++] = '\n';
        }
    }
    bytes.truncate(out);
    return { bare, pairs };
}
char foldAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// How common a folded byte is in everyday text, higher for rarer ones: a search looks for the
// pattern's rarest byte first, so that common letters do not bring a candidate every few bytes.
int rarity(char folded)
{
    static constexpr char byFrequency[] = " etaoinshrdlcumwfgypbvkjxqz";
    if (folded >= '0' && folded <= '9') {
        return 12;
    }
    const char* found = std::strchr(byFrequency, folded);
    return found != nullptr && folded != '\0' ? int(found - byFrequency) : int(sizeof byFrequency);
}

// Where the folded pattern starts in text at or after from, or -1. Candidates for its rarest byte
// come from memchr(), once for each case, each search reused until the scan has passed it.
qsizetype indexOfFolded(QByteArrayView text, QByteArrayView pattern, qsizetype from)
{
    qsizetype anchor = 0;
    for (qsizetype i = 1; i < pattern.size(); ++i) {
        if (rarity(foldAscii(pattern[i])) > rarity(foldAscii(pattern[anchor]))) {
            anchor = i;
        }
    }
    const char* begin = text.data();
    const char* end = begin + text.size() - (pattern.size() - 1 - anchor);
    const char lower = foldAscii(pattern[anchor]);
    const char upper = lower >= 'a' && lower <= 'z' ? char(lower - 'a' + 'A') : lower;
    const auto next = [end](const char* at, char c) {
        const auto* found = at < end ? static_cast<const char*>(std::memchr(at, c, size_t(end - at))) : nullptr;
        return found != nullptr ? found : end;
    };
    const char* nextLower = nullptr;
    const char* nextUpper = upper != lower ? nullptr : end;
    for (const char* at = begin + from + anchor; at < end;) {
        if (nextLower == nullptr || nextLower < at) {
            nextLower = next(at, lower);
        }
        if (nextUpper == nullptr || nextUpper < at) {
            nextUpper = next(at, upper);
        }
        const char* found = std::min(nextLower, nextUpper);
        if (found == end) {
            return -1;
        }
        const char* candidate = found - anchor;
        qsizetype k = 0;
        while (k < pattern.size() && foldAscii(candidate[k]) == foldAscii(pattern[k])) {
            ++k;
        }
        if (k == pattern.size()) {
            return candidate - begin;
        }
        at = found + 1;
    }
    return -1;
}

// The last line whose start, as startOf tells it, lies at or before a value.
template <typename StartOf> qsizetype lastLine(qsizetype lines, qsizetype value, StartOf startOf)
{
    qsizetype low = 0;
    qsizetype high = lines - 1;
    while (low < high) {
        const qsizetype middle = (low + high + 1) / 2;
        if (startOf(middle) <= value) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    return low;
}
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
    , m_lines { LineStart { 0, 0 } }
    , m_undoLimit(DefaultUndoLimit)
{ }

QChar TextBuffer::at(qsizetype position) const
{
    Q_ASSERT(position >= 0 && position < size());
    const Place place = locate(position);
    const QString character = decode(place.byte, locate(place.unit + 1, true).byte);
    return character.at(position - place.unit);
}

QString TextBuffer::mid(qsizetype position, qsizetype length) const
{
    position = std::clamp<qsizetype>(position, 0, size());
    length = std::clamp<qsizetype>(length, 0, size() - position);
    const Place from = locate(position);
    return decode(from.byte, length == 0 ? from.byte : locate(position + length, true).byte);
}

QString TextBuffer::decode(qsizetype fromByte, qsizetype toByte) const
{
    const char* data = m_data.constData();
    if (toByte <= m_gapStart) {
        return QString::fromUtf8(data + fromByte, toByte - fromByte);
    }
    if (fromByte >= m_gapStart) {
        return QString::fromUtf8(data + fromByte + gapLength(), toByte - fromByte);
    }
    // The gap lies between whole characters.
    return QString::fromUtf8(data + fromByte, m_gapStart - fromByte)
        + QString::fromUtf8(data + m_gapEnd, toByte - m_gapStart);
}

QByteArrayView TextBuffer::utf8()
{
    moveGap(byteSize());
    return QByteArrayView(m_data.constData(), m_gapStart);
}

QByteArray TextBuffer::storedBytes(const Snapshot& text)
{
    const qsizetype byteSize = text.data.size() - (text.gapEnd - text.gapStart);
    QByteArray bytes = LargeBuffer::uninitialized(byteSize + text.lineCount - 1);
    char* out = bytes.data();
    const char* data = text.data.constData();
    for (const auto& [begin, end] :
        { std::pair(data, data + text.gapStart), std::pair(data + text.gapEnd, data + text.data.size()) }) {
        const char* run = begin;
        for (auto* lineFeed = static_cast<const char*>(std::memchr(run, '\n', size_t(end - run))); lineFeed != nullptr;
             lineFeed = static_cast<const char*>(std::memchr(run, '\n', size_t(end - run)))) {
            out = std::copy(run, lineFeed, out);
            *out++ = '\r';
            *out++ = '\n';
            run = lineFeed + 1;
        }
        out = std::copy(run, end, out);
    }
    return bytes;
}

TextBuffer::LineStart TextBuffer::lineStartAt(qsizetype line) const
{
    Q_ASSERT(line >= 0 && line < lineCount());
    const LineStart stored = m_lines[size_t(line)];
    return line > m_stepLine ? LineStart { stored.byte + m_step.byte, stored.unit + m_step.unit } : stored;
}

qsizetype TextBuffer::lineStart(qsizetype line) const
{
    return lineStartAt(line).unit;
}

qsizetype TextBuffer::lineLength(qsizetype line) const
{
    const qsizetype end = line + 1 < lineCount() ? lineStartAt(line + 1).unit - 1 : m_units;
    return end - lineStart(line);
}

qsizetype TextBuffer::lineBytes(qsizetype line) const
{
    const qsizetype end = line + 1 < lineCount() ? lineStartAt(line + 1).byte - 1 : byteSize();
    return end - lineStartAt(line).byte;
}

qsizetype TextBuffer::lineAt(qsizetype position) const
{
    return lastLine(lineCount(), position, [this](qsizetype line) { return lineStartAt(line).unit; });
}

qsizetype TextBuffer::lineAtByte(qsizetype byte) const
{
    return lastLine(lineCount(), byte, [this](qsizetype line) { return lineStartAt(line).byte; });
}

qsizetype TextBuffer::fromTextPosition(qsizetype textPosition) const
{
    // Line n starts at lineStart(n) + n when every line break before it counts twice.
    const qsizetype low
        = lastLine(lineCount(), textPosition, [this](qsizetype line) { return lineStart(line) + line; });
    // A position between CR and LF is the end of its line.
    return std::clamp<qsizetype>(textPosition - low, 0, lineEnd(low));
}

TextBuffer::Place TextBuffer::walk(Place from, qsizetype toUnit, qsizetype toByte) const
{
    while (from.unit < toUnit && from.byte < toByte) {
        const auto lead = static_cast<unsigned char>(byteAt(from.byte));
        const qsizetype length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        from.byte += length;
        from.unit += length == 4 ? 2 : 1;
    }
    return from;
}

const std::vector<TextBuffer::Place>& TextBuffer::checkpoints(qsizetype line) const
{
    auto found = m_checkpoints.find(line);
    if (found == m_checkpoints.end()) {
        // About every CheckpointUnits units a place from the line's start, so that no walk is long.
        std::vector<Place> marks;
        const LineStart start = lineStartAt(line);
        const qsizetype end = start.byte + lineBytes(line);
        for (Place place { start.unit, start.byte }; place.byte < end;) {
            place = walk(place, start.unit + qsizetype(marks.size() + 1) * CheckpointUnits, end);
            marks.push_back({ place.unit - start.unit, place.byte - start.byte });
        }
        found = m_checkpoints.emplace(line, std::move(marks)).first;
    }
    return found->second;
}

TextBuffer::Place TextBuffer::walkInLine(qsizetype line, qsizetype toUnit, qsizetype toByte) const
{
    const LineStart start = lineStartAt(line);
    const qsizetype bytes = lineBytes(line);
    if (bytes == lineLength(line)) {
        const qsizetype offset = std::clamp<qsizetype>(std::min(toUnit - start.unit, toByte - start.byte), 0, bytes);
        return { start.unit + offset, start.byte + offset }; // ASCII
    }
    Place from { start.unit, start.byte };
    if (bytes > CheckpointUnits) {
        const std::vector<Place>& marks = checkpoints(line);
        const auto after = std::upper_bound(marks.begin(), marks.end(),
            Place { toUnit - start.unit, toByte - start.byte },
            [](const Place& target, const Place& mark) { return target.unit < mark.unit || target.byte < mark.byte; });
        if (after != marks.begin()) {
            from = { start.unit + std::prev(after)->unit, start.byte + std::prev(after)->byte };
        }
    }
    return walk(from, toUnit, std::min(toByte, start.byte + bytes));
}

TextBuffer::Place TextBuffer::locate(qsizetype position, bool roundUp) const
{
    position = std::clamp<qsizetype>(position, 0, m_units);
    Place place = walkInLine(lineAt(position), position, byteSize());
    if (place.unit > position && !roundUp) {
        place = { place.unit - 2, place.byte - 4 }; // inside a surrogate pair
    }
    return place;
}

qsizetype TextBuffer::find(QStringView needle, qsizetype from, bool caseSensitive)
{
    if (needle.isEmpty() || from < 0 || from > size()) {
        return -1;
    }
    // A match of whole UTF-8 sequences in UTF-8 text starts on a character, and only ASCII bytes fold.
    const QByteArray pattern = withoutLoneSurrogates(needle.toString()).toUtf8();
    const QByteArrayView text = utf8();
    const qsizetype start = locate(from, true).byte;
    const qsizetype found = caseSensitive ? text.indexOf(pattern, start) : indexOfFolded(text, pattern, start);
    return found < 0 ? -1 : positionOfByte(found);
}

qsizetype TextBuffer::positionOfByte(qsizetype byte) const
{
    return walkInLine(lineAtByte(byte), m_units, byte).unit;
}

void TextBuffer::setText(const QString& text)
{
    adopt(withoutLoneSurrogates(text).toUtf8());
}

TextBuffer::Loaded TextBuffer::setStoredBytes(QByteArray bytes)
{
    Loaded loaded;
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0) {
        loaded.cutAtZero = true;
        bytes.truncate(zero);
    }
    if (!QByteArrayView(bytes).isValidUtf8()) {
        loaded.windows1252 = true;
        const MemoText::Decoded decoded = MemoText::decode(bytes);
        loaded.lineBreaksChanged = decoded.lineBreaksChanged;
        QString text = decoded.text;
        text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
        adopt(text.toUtf8());
        return loaded;
    }
    const auto [bareReturns, pairs] = carriageReturnsToLineFeeds(bytes);
    const bool ascii = isAscii(bytes.constData(), bytes.size());
    const qsizetype separators = ascii ? 0 : replaceByLineFeed(bytes, "\xE2\x80\xA9");
    adopt(std::move(bytes), ascii);
    // Every line break that is now LF but was not CR LF was changed on the way in.
    loaded.lineBreaksChanged = bareReturns > 0 || separators > 0 || lineCount() - 1 != pairs;
    return loaded;
}

void TextBuffer::adopt(QByteArray utf8, std::optional<bool> knownAscii)
{
    const bool undoBefore = isUndoAvailable();
    const bool redoBefore = isRedoAvailable();
    m_data = std::move(utf8);
    m_snapshotGap = {};
    m_gapStart = m_gapEnd = m_data.size();
    m_checkpoints.clear();

    const char* data = m_data.constData();
    const qsizetype size = m_data.size();
    const bool ascii = knownAscii.value_or(isAscii(data, size));
    m_lines.clear();
    // Most journal lines are longer than this; a guess too small costs one reallocation.
    m_lines.reserve(size_t(size / 32 + 1));
    LargeBuffer::preferHugePages(m_lines.data(), m_lines.capacity() * sizeof(LineStart));
    m_lines.push_back({ 0, 0 });
    m_stepLine = 0;
    m_step = { 0, 0 };
    qsizetype unit = 0;
    qsizetype lineStart = 0;
    for (auto* lineFeed = static_cast<const char*>(std::memchr(data, '\n', size_t(size))); lineFeed != nullptr;
         lineFeed = static_cast<const char*>(std::memchr(lineFeed + 1, '\n', size_t(data + size - lineFeed - 1)))) {
        const qsizetype byte = lineFeed - data;
        unit += (ascii ? byte - lineStart : unitsOf(data + lineStart, byte - lineStart)) + 1;
        lineStart = byte + 1;
        m_lines.push_back({ lineStart, unit });
    }
    m_units = unit + (ascii ? size - lineStart : unitsOf(data + lineStart, size - lineStart));

    forgetSteps();
    Q_EMIT reset();
    tellUndoState(undoBefore, redoBefore);
}

void TextBuffer::forgetSteps()
{
    m_undo.clear();
    m_redo.clear();
    m_undoCharacters = 0;
    m_mergeClosed = true;
}

void TextBuffer::clearUndo()
{
    const bool undoBefore = isUndoAvailable();
    const bool redoBefore = isRedoAvailable();
    forgetSteps();
    tellUndoState(undoBefore, redoBefore);
}

void TextBuffer::replace(qsizetype position, qsizetype removed, const QString& added, EditKind kind)
{
    Q_ASSERT(position >= 0 && removed >= 0 && position + removed <= size());
    if (removed == 0 && added.isEmpty()) {
        return;
    }
    const bool undoBefore = isUndoAvailable();
    const bool redoBefore = isRedoAvailable();
    record(apply(position, removed, withoutLoneSurrogates(added)), kind);
    tellUndoState(undoBefore, redoBefore);
}

TextBuffer::Edit TextBuffer::apply(qsizetype position, qsizetype removed, const QString& added)
{
    const Place from = locate(position);
    const Place to = locate(position + removed, true);
    const qsizetype firstLine = lineAt(from.unit);
    QString removedText = decode(from.byte, to.byte);
    const QByteArray addedBytes = added.toUtf8();

    moveGap(from.byte);
    m_gapEnd += to.byte - from.byte;
    reserveGap(addedBytes.size());
    std::memcpy(writable(m_gapStart, m_gapStart + addedBytes.size()) + m_gapStart, addedBytes.constData(),
        size_t(addedBytes.size()));
    m_gapStart += addedBytes.size();
    m_units += added.size() - (to.unit - from.unit);
    m_checkpoints.clear();

    const qsizetype removedBreaks = removedText.count(QLatin1Char('\n'));
    const qsizetype addedBreaks = added.count(QLatin1Char('\n'));
    moveStepTo(firstLine);
    const auto first = m_lines.begin() + firstLine + 1;
    m_lines.erase(first, first + removedBreaks);
    if (addedBreaks > 0) {
        // Entries up to the step line hold their true starts.
        std::vector<LineStart> starts;
        starts.reserve(size_t(addedBreaks));
        qsizetype byte = addedBytes.indexOf('\n');
        for (qsizetype unit = added.indexOf(QLatin1Char('\n')); unit >= 0;
             unit = added.indexOf(QLatin1Char('\n'), unit + 1), byte = addedBytes.indexOf('\n', byte + 1)) {
            starts.push_back({ from.byte + byte + 1, from.unit + unit + 1 });
        }
        m_lines.insert(m_lines.begin() + firstLine + 1, starts.begin(), starts.end());
    }
    m_stepLine = firstLine + addedBreaks;
    m_step.byte += addedBytes.size() - (to.byte - from.byte);
    m_step.unit += added.size() - (to.unit - from.unit);
    if (m_stepLine >= lineCount() - 1) {
        m_step = { 0, 0 };
    }

    Q_EMIT linesChanged(firstLine, removedBreaks, addedBreaks);
    m_removedText = removedText;
    Q_EMIT changed(from.unit, to.unit - from.unit, added);
    m_removedText.clear();
    return Edit { from.unit, std::move(removedText), added };
}

void TextBuffer::moveStepTo(qsizetype line)
{
    if (m_step.byte != 0 || m_step.unit != 0) {
        if (line > m_stepLine) {
            for (qsizetype i = m_stepLine + 1; i <= line; ++i) {
                m_lines[size_t(i)].byte += m_step.byte;
                m_lines[size_t(i)].unit += m_step.unit;
            }
        } else {
            for (qsizetype i = line + 1; i <= m_stepLine; ++i) {
                m_lines[size_t(i)].byte -= m_step.byte;
                m_lines[size_t(i)].unit -= m_step.unit;
            }
        }
    }
    m_stepLine = line;
}

char* TextBuffer::writable(qsizetype from, qsizetype to)
{
    // While a snapshot shares the array, bytes in its gap are no part of its text: writing there
    // changes nothing it reads, so a capture at the end does not copy the whole journal.
    if (!m_data.isDetached() && from >= m_snapshotGap.first && to <= m_snapshotGap.second) {
        return const_cast<char*>(m_data.constData());
    }
    m_snapshotGap = {};
    return m_data.data();
}

TextBuffer::Snapshot TextBuffer::snapshot() const
{
    m_snapshotGap = { m_gapStart, m_gapEnd };
    return { m_data, m_gapStart, m_gapEnd, lineCount() };
}

void TextBuffer::moveGap(qsizetype byte)
{
    if (byte < m_gapStart) {
        const qsizetype moved = m_gapStart - byte;
        char* data = writable(m_gapEnd - moved, m_gapEnd);
        std::memmove(data + m_gapEnd - moved, data + byte, size_t(moved));
        m_gapStart -= moved;
        m_gapEnd -= moved;
    } else if (byte > m_gapStart) {
        const qsizetype moved = byte - m_gapStart;
        char* data = writable(m_gapStart, m_gapStart + moved);
        std::memmove(data + m_gapStart, data + m_gapEnd, size_t(moved));
        m_gapStart += moved;
        m_gapEnd += moved;
    }
}

void TextBuffer::reserveGap(qsizetype length)
{
    if (gapLength() >= length) {
        return;
    }
    // Growing by a share of the size keeps appends amortised; the array grows in place where it
    // can, so the text is not copied.
    const qsizetype grow = std::max({ length - gapLength(), MinimumGap, byteSize() / 16 });
    const qsizetype oldSize = m_data.size();
    const qsizetype tail = oldSize - m_gapEnd;
    m_data.resize(oldSize + grow);
    char* data = m_data.data();
    std::memmove(data + m_gapEnd + grow, data + m_gapEnd, size_t(tail));
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
    // Every step holds its text as UTF-16: a count of steps alone would let a few large captures
    // pin hundreds of MiB.
    while (m_undoCharacters > m_undoLimit && m_undo.size() > 1) {
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
