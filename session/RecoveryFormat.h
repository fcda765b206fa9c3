#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <functional>
#include <vector>

// What one store of the session holds: the size and CRC-32 of each memo's stored bytes.
struct SessionFingerprint
{
    struct Entry
    {
        quint64 size = 0;
        quint32 crc = 0;
        bool operator==(const Entry&) const = default;
    };
    Entry memo[2]; // the journal, the notes
    bool operator==(const SessionFingerprint&) const = default;
};

// The recovery file's bytes: a header naming the store the records start from, then records of
// length, type, payload and the CRC of type and payload. Every number is little-endian, every
// text UTF-16LE. Reading checks every field against the bytes that are there before using it.
namespace RecoveryFormat
{
// A store takes its snapshot of the texts at a SnapshotTaken record and names them, once their
// fingerprint is known, with a StoreBegins record; records in between came after the snapshot.
// A StoreBegins record with no SnapshotTaken before it was taken where it stands.
enum RecordType : quint8 { Change = 1, WholeText = 2, StoreBegins = 3, SnapshotTaken = 4 };
enum Memo : quint8 { Journal = 0, Notes = 1 };

constexpr qsizetype HeaderSize = 8 + 2 * (8 + 4) + 4;

QByteArray header(const SessionFingerprint& base);
// The characters [position, position + removed) were replaced by added.
QByteArray change(Memo memo, qsizetype position, qsizetype removed, QStringView added);
QByteArray wholeText(Memo memo, QStringView text);
QByteArray snapshotTaken();
// A store of the texts of the last snapshot, which have this fingerprint, began.
QByteArray storeBegins(const SessionFingerprint& snapshot);

struct Record
{
    RecordType type = Change;
    Memo memo = Journal;
    quint64 position = 0;
    quint64 removed = 0;
    QByteArrayView text; // UTF-16LE, into the parsed bytes
    SessionFingerprint snapshot;
    qsizetype offset = 0; // where the record starts in the file
};

struct Parsed
{
    enum class Header { Valid, Begun, Foreign };
    // Begun: a kill came while the file was being started, so nothing was recorded in it.
    Header header = Header::Foreign;
    SessionFingerprint base;
    // Where the last record that could be read ends; bytes after it are a record that was
    // cut short or damaged, and whatever follows.
    qsizetype end = 0;
    bool unreadableTail = false;
};

// Told, as a reader walks through the bytes, the offset before which it needs none of them again.
using Walked = std::function<void(qsizetype offset)>;

// The records of a file with a valid header, read one after the other up to its parsed end, so
// that a file of millions of records is never held twice.
class Records
{
public:
    Records(QByteArrayView bytes, const Parsed& parsed, Walked walked = {});
    // The next record, or false after the last one.
    bool next(Record& record);

private:
    QByteArrayView m_bytes;
    qsizetype m_at;
    Walked m_walked;
};

// Records without those that mark a store: what a file begun at the store's snapshot keeps.
QByteArray withoutStoreMarks(QByteArrayView records);

// Checks the header and every record. The bytes must outlive what is read from them.
Parsed parse(QByteArrayView bytes, const Walked& walked = {});
QString text(QByteArrayView utf16le);
void appendText(QString& to, QByteArrayView utf16le);
} // namespace RecoveryFormat
