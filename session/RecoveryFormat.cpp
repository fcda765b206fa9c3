#include "session/RecoveryFormat.h"

#include "platform/Crc32.h"

#include <QtEndian>

#include <utility>

namespace RecoveryFormat
{
namespace
{
constexpr char Magic[8] = { 'V', 'L', 'M', 'X', 'R', 'C', 'V', '1' };
constexpr qsizetype RecordFrame = 4 + 1 + 4; // length, type, CRC

// Reads fields in order; a read past the end yields 0 and leaves the reader failed.
class Reader
{
public:
    explicit Reader(QByteArrayView bytes)
        : m_bytes(bytes)
    { }
    bool ok() const { return m_ok; }
    qsizetype left() const { return m_bytes.size() - m_at; }

    template <typename T> T number()
    {
        const QByteArrayView field = take(sizeof(T));
        return m_ok ? qFromLittleEndian<T>(field.data()) : T(0);
    }
    QByteArrayView take(qsizetype count)
    {
        if (!m_ok || count < 0 || count > left()) {
            m_ok = false;
            return {};
        }
        const QByteArrayView field = m_bytes.sliced(m_at, count);
        m_at += count;
        return field;
    }
    QByteArrayView rest() { return take(left()); }

private:
    QByteArrayView m_bytes;
    qsizetype m_at = 0;
    bool m_ok = true;
};

class Writer
{
public:
    template <typename T> Writer& number(T value)
    {
        char field[sizeof(T)];
        qToLittleEndian(value, field);
        m_bytes.append(field, sizeof(T));
        return *this;
    }
    Writer& utf16(QStringView text)
    {
        if (text.isEmpty()) {
            return *this; // an empty view may have no data, and memcpy from null is undefined
        }
        const qsizetype at = m_bytes.size();
        m_bytes.resize(at + text.size() * 2);
        qToLittleEndian<char16_t>(text.utf16(), text.size(), m_bytes.data() + at);
        return *this;
    }
    Writer& fingerprint(const SessionFingerprint& fingerprint)
    {
        for (const auto& entry : fingerprint.memo) {
            number(entry.size).number(entry.crc);
        }
        return *this;
    }
    QByteArray take() { return std::exchange(m_bytes, {}); }

private:
    QByteArray m_bytes;
};

SessionFingerprint fingerprint(Reader& in)
{
    SessionFingerprint fingerprint;
    for (auto& entry : fingerprint.memo) {
        entry.size = in.number<quint64>();
        entry.crc = in.number<quint32>();
    }
    return fingerprint;
}

// Length, type and payload, then the CRC of type and payload: a record cut short is recognised.
QByteArray record(RecordType type, const QByteArray& payload)
{
    QByteArray bytes = Writer().number(quint32(payload.size())).number(quint8(type)).take() + payload;
    return bytes + Writer().number(crc32(QByteArrayView(bytes).sliced(4))).take();
}

bool readFields(Record& record, QByteArrayView body);

// Reads the record at offset; where it ends, or -1 when it cannot be read.
qsizetype readRecord(QByteArrayView bytes, qsizetype offset, Record& record, bool checkCrc)
{
    Reader in(bytes.sliced(offset));
    record = Record {};
    record.offset = offset;
    const auto length = in.number<quint32>();
    const QByteArrayView body = in.take(qsizetype(length) + 1);
    const auto check = in.number<quint32>();
    if (!in.ok() || (checkCrc && check != crc32(body)) || !readFields(record, body)) {
        return -1;
    }
    return offset + RecordFrame + qsizetype(length);
}

// The record's fields from its type and payload, or nothing when they do not make a whole record.
bool readFields(Record& record, QByteArrayView body)
{
    Reader in(body);
    record.type = RecordType(in.number<quint8>());
    switch (record.type) {
    case Change:
        record.memo = Memo(in.number<quint8>());
        record.position = in.number<quint64>();
        record.removed = in.number<quint64>();
        record.text = in.rest();
        break;
    case WholeText:
        record.memo = Memo(in.number<quint8>());
        record.text = in.rest();
        break;
    case StoreBegins:
        record.snapshot = fingerprint(in);
        return in.ok() && in.left() == 0;
    case SnapshotTaken:
        return in.left() == 0;
    default:
        return false;
    }
    return in.ok() && record.memo <= Notes && record.text.size() % 2 == 0;
}
} // namespace

QByteArray header(const SessionFingerprint& base)
{
    QByteArray bytes = QByteArray(Magic, sizeof Magic) + Writer().fingerprint(base).take();
    return bytes + Writer().number(crc32(bytes)).take();
}

QByteArray change(Memo memo, qsizetype position, qsizetype removed, QStringView added)
{
    return record(
        Change, Writer().number(quint8(memo)).number(quint64(position)).number(quint64(removed)).utf16(added).take());
}

QByteArray wholeText(Memo memo, QStringView text)
{
    return record(WholeText, Writer().number(quint8(memo)).utf16(text).take());
}

QByteArray snapshotTaken()
{
    return record(SnapshotTaken, {});
}

QByteArray storeBegins(const SessionFingerprint& snapshot)
{
    return record(StoreBegins, Writer().fingerprint(snapshot).take());
}

Parsed parse(QByteArrayView bytes, const Walked& walked)
{
    Parsed parsed;
    const QByteArrayView magic(Magic, sizeof Magic);
    if (bytes.size() < HeaderSize) {
        if (magic.startsWith(bytes.first(qMin(bytes.size(), magic.size())))) {
            parsed.header = Parsed::Header::Begun;
        }
        return parsed;
    }
    Reader head(bytes.first(HeaderSize));
    if (head.take(magic.size()) != magic) {
        return parsed;
    }
    parsed.base = fingerprint(head);
    if (head.number<quint32>() != crc32(bytes.first(HeaderSize - 4))) {
        return parsed;
    }
    parsed.header = Parsed::Header::Valid;
    parsed.end = HeaderSize;
    Record record;
    while (parsed.end < bytes.size()) {
        const qsizetype end = readRecord(bytes, parsed.end, record, true);
        if (end < 0) {
            parsed.unreadableTail = true;
            break;
        }
        parsed.end = end;
        if (walked) {
            walked(end);
        }
    }
    return parsed;
}

Records::Records(QByteArrayView bytes, const Parsed& parsed, Walked walked)
    : m_bytes(bytes.first(parsed.header == Parsed::Header::Valid ? parsed.end : 0))
    , m_at(HeaderSize)
    , m_walked(std::move(walked))
{ }

bool Records::next(Record& record)
{
    if (m_at >= m_bytes.size()) {
        return false;
    }
    // The record before this one is done with.
    if (m_walked) {
        m_walked(m_at);
    }
    // parse() checked every CRC up to here.
    m_at = readRecord(m_bytes, m_at, record, false);
    return m_at >= 0;
}

QByteArray withoutStoreMarks(QByteArrayView records)
{
    QByteArray kept;
    Reader in(records);
    while (in.left() > 0) {
        const qsizetype at = records.size() - in.left();
        const auto length = in.number<quint32>();
        const auto type = in.number<quint8>();
        in.take(qsizetype(length) + 4);
        if (!in.ok()) {
            // Not records as this program writes them: nothing is left out.
            return records.toByteArray();
        }
        if (type != StoreBegins && type != SnapshotTaken) {
            kept += records.sliced(at, RecordFrame + length);
        }
    }
    return kept;
}

void appendText(QString& to, QByteArrayView utf16le)
{
    const qsizetype count = utf16le.size() / 2;
    if (count == 0) {
        return;
    }
    const qsizetype at = to.size();
    to.resize(at + count);
    qFromLittleEndian<char16_t>(utf16le.data(), count, to.data() + at);
}

QString text(QByteArrayView utf16le)
{
    if (utf16le.size() < 2) {
        return {};
    }
    QString text(utf16le.size() / 2, Qt::Uninitialized);
    qFromLittleEndian<char16_t>(utf16le.data(), text.size(), text.data());
    return text;
}
} // namespace RecoveryFormat
