#pragma once

#include <QByteArray>
#include <QString>

// The zip format's records as the component reads and rewrites them: central
// and local file headers and the end of the central directory. Every parser
// reads through ZipByteReader, so no field is taken from a raw offset unchecked.

// Little-endian fields read in order or at a named offset. A read past the end
// yields 0 and leaves the reader failed, in the manner of libzip's zip_buffer.
class ZipByteReader
{
public:
    ZipByteReader(const char* data, qsizetype size);
    explicit ZipByteReader(const QByteArray& bytes);
    // The reader keeps no copy: the bytes must outlive it.
    explicit ZipByteReader(QByteArray&&) = delete;

    bool ok() const { return m_ok; }
    qsizetype offset() const { return m_offset; }
    qsizetype left() const { return m_size - m_offset; }
    void setOffset(qsizetype offset);

    quint8 u8();
    quint16 u16();
    quint32 u32();
    QByteArray bytes(qsizetype count);
    void skip(qsizetype count);

    quint32 u32At(qsizetype offset);

private:
    const char* take(qsizetype count);

    const char* m_data;
    qsizetype m_size;
    qsizetype m_offset = 0;
    bool m_ok = true;
};

// Little-endian fields appended in order.
class ZipByteWriter
{
public:
    void u16(quint16 value);
    void u32(quint32 value);
    const QByteArray& bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

// Little-endian writes into a record that is being rewritten; a field that does
// not fit the record is left out.
void ZipPut16(QByteArray& record, qsizetype offset, quint16 value);
void ZipPut32(QByteArray& record, qsizetype offset, quint32 value);

namespace ZipRecords
{
// The marker at the very start of the first part of a multi-part set.
constexpr quint32 MultiPartMarker = 0x08074B50;
constexpr int DataDescriptorSize = 16;
constexpr int GeneralFlagDataDescriptor = 0x0008;
constexpr int GeneralFlagEncrypted = 0x0001;
constexpr int GeneralFlagUtf8 = 0x0800;
// Copies between parts run in blocks of this size.
constexpr qint64 CopyBlockSize = 10240;

// The first four bytes as a signature; 0 when there are fewer.
quint32 SignatureOf(const QByteArray& bytes);
} // namespace ZipRecords

// One entry of the archive's central directory. The first sixteen fields are
// the 42 bytes that follow a central header's signature, in file order.
struct ZipDirEntry
{
    static constexpr int RawSize = 42;

    quint8 VersionMadeBy = 0;
    quint8 HostSystem = 0;
    quint16 VersionNeeded = 0;
    quint16 Flags = 0;
    quint16 Method = 0;
    quint32 DosDateTime = 0;
    quint32 Crc32 = 0;
    quint32 CompressedSize = 0;
    quint32 UncompressedSize = 0;
    quint16 NameLength = 0;
    quint16 ExtraLength = 0;
    quint16 CommentLength = 0;
    quint16 DiskStart = 0;
    quint16 InternalAttributes = 0;
    quint32 ExternalAttributes = 0;
    quint32 LocalHeaderOffset = 0;
    QString FileName;
    QString FileComment;
    bool Encrypted = false;
    QByteArray ExtraData;

    // Reads the sixteen raw fields.
    void Read(ZipByteReader& in);
};

// A central file header's fixed part, kept raw so that a joined or split set
// can rewrite where the entry lives and copy the rest as found.
struct ZipCentralHeader
{
    static constexpr quint32 Signature = 0x02014B50;
    static constexpr int Size = 46;
    static constexpr int DiskStartAt = 34;
    static constexpr int LocalHeaderOffsetAt = 42;

    QByteArray Raw;
    ZipDirEntry Fields;
    bool SignatureOk = false;

    // False when the bytes are fewer than a header.
    bool Parse(const QByteArray& raw);
    // The name, extra field and comment that follow the fixed part.
    qint64 TailSize() const { return qint64(Fields.NameLength) + Fields.ExtraLength + Fields.CommentLength; }
    void Relocate(quint16 disk, quint32 localHeaderOffset);
};

// A local file header's fixed part, the fields the component needs.
struct ZipLocalHeader
{
    static constexpr quint32 Signature = 0x04034B50;
    static constexpr int Size = 30;

    bool SignatureOk = false;
    quint16 Flags = 0;
    quint32 CompressedSize = 0;
    quint16 NameLength = 0;
    quint16 ExtraLength = 0;

    bool Parse(const QByteArray& raw);
    bool HasDataDescriptor() const { return (Flags & ZipRecords::GeneralFlagDataDescriptor) != 0; }
};

// The end-of-central-directory record.
struct ZipEndOfCentral
{
    static constexpr quint32 Signature = 0x06054B50;
    static constexpr int Size = 22;
    // The record and the longest comment it can carry.
    static constexpr qint64 MaxSearchWindow = 65535 + Size;

    quint32 HeaderSig = 0;
    quint16 ThisDiskNo = 0;
    quint16 CentralDiskNo = 0;
    quint16 CentralEntries = 0;
    quint16 TotalEntries = 0;
    quint32 CentralSize = 0;
    quint32 CentralOffset = 0;
    quint16 ZipCommentLen = 0;

    // False when the bytes are fewer than a record or do not start with its signature.
    bool Parse(const char* data, qsizetype size);
    QByteArray Raw() const;

    // The offset of the last signature in the window that starts at or before
    // `last` with a whole record after it; -1 when there is none.
    static qsizetype FindBackwards(const QByteArray& window, qsizetype last);
};
