#include "zip/ZipRecords.h"

#include <algorithm>

ZipByteReader::ZipByteReader(const char* data, qsizetype size)
    : m_data(data)
    , m_size(data ? std::max<qsizetype>(size, 0) : 0)
{ }

ZipByteReader::ZipByteReader(const QByteArray& bytes)
    : ZipByteReader(bytes.constData(), bytes.size())
{ }

void ZipByteReader::setOffset(qsizetype offset)
{
    if (offset < 0 || offset > m_size) {
        m_ok = false;
        return;
    }
    m_offset = offset;
}

const char* ZipByteReader::take(qsizetype count)
{
    if (!m_ok || count < 0 || count > left()) {
        m_ok = false;
        return nullptr;
    }
    const char* at = m_data + m_offset;
    m_offset += count;
    return at;
}

quint8 ZipByteReader::u8()
{
    const char* at = take(1);
    return at ? quint8(at[0]) : 0;
}

quint16 ZipByteReader::u16()
{
    const char* at = take(2);
    return at ? quint16(quint8(at[0]) | (quint8(at[1]) << 8)) : 0;
}

quint32 ZipByteReader::u32()
{
    const quint32 low = u16();
    const quint32 high = u16();
    return m_ok ? low | (high << 16) : 0;
}

QByteArray ZipByteReader::bytes(qsizetype count)
{
    const char* at = take(count);
    return at ? QByteArray(at, count) : QByteArray();
}

void ZipByteReader::skip(qsizetype count)
{
    take(count);
}

quint32 ZipByteReader::u32At(qsizetype offset)
{
    setOffset(offset);
    return u32();
}

void ZipByteWriter::u16(quint16 value)
{
    m_bytes.append(char(value & 0xFF));
    m_bytes.append(char(value >> 8));
}

void ZipByteWriter::u32(quint32 value)
{
    u16(quint16(value & 0xFFFF));
    u16(quint16(value >> 16));
}

void ZipPut16(QByteArray& record, qsizetype offset, quint16 value)
{
    if (offset < 0 || offset + 2 > record.size())
        return;
    record[offset] = char(value & 0xFF);
    record[offset + 1] = char(value >> 8);
}

void ZipPut32(QByteArray& record, qsizetype offset, quint32 value)
{
    if (offset < 0 || offset + 4 > record.size())
        return;
    ZipPut16(record, offset, quint16(value & 0xFFFF));
    ZipPut16(record, offset + 2, quint16(value >> 16));
}

quint32 ZipRecords::SignatureOf(const QByteArray& bytes)
{
    ZipByteReader in(bytes);
    const quint32 signature = in.u32();
    return in.ok() ? signature : 0;
}

void ZipDirEntry::Read(ZipByteReader& in)
{
    VersionMadeBy = in.u8();
    HostSystem = in.u8();
    VersionNeeded = in.u16();
    Flags = in.u16();
    Method = in.u16();
    DosDateTime = in.u32();
    Crc32 = in.u32();
    CompressedSize = in.u32();
    UncompressedSize = in.u32();
    NameLength = in.u16();
    ExtraLength = in.u16();
    CommentLength = in.u16();
    DiskStart = in.u16();
    InternalAttributes = in.u16();
    ExternalAttributes = in.u32();
    LocalHeaderOffset = in.u32();
}

bool ZipCentralHeader::Parse(const QByteArray& raw)
{
    Raw = raw.left(Size);
    ZipByteReader in(Raw);
    SignatureOk = in.u32() == Signature;
    Fields = ZipDirEntry();
    Fields.Read(in);
    return in.ok();
}

void ZipCentralHeader::Relocate(quint16 disk, quint32 localHeaderOffset)
{
    ZipPut16(Raw, DiskStartAt, disk);
    ZipPut32(Raw, LocalHeaderOffsetAt, localHeaderOffset);
    Fields.DiskStart = disk;
    Fields.LocalHeaderOffset = localHeaderOffset;
}

bool ZipLocalHeader::Parse(const QByteArray& raw)
{
    ZipByteReader in(raw);
    SignatureOk = in.u32() == Signature;
    in.skip(2); // version needed
    Flags = in.u16();
    in.skip(2 + 4 + 4); // method, time and date, CRC
    CompressedSize = in.u32();
    in.skip(4); // uncompressed size
    NameLength = in.u16();
    ExtraLength = in.u16();
    return in.ok();
}

bool ZipEndOfCentral::Parse(const char* data, qsizetype size)
{
    ZipByteReader in(data, size);
    HeaderSig = in.u32();
    ThisDiskNo = in.u16();
    CentralDiskNo = in.u16();
    CentralEntries = in.u16();
    TotalEntries = in.u16();
    CentralSize = in.u32();
    CentralOffset = in.u32();
    ZipCommentLen = in.u16();
    return in.ok() && HeaderSig == Signature;
}

QByteArray ZipEndOfCentral::Raw() const
{
    ZipByteWriter out;
    out.u32(HeaderSig);
    out.u16(ThisDiskNo);
    out.u16(CentralDiskNo);
    out.u16(CentralEntries);
    out.u16(TotalEntries);
    out.u32(CentralSize);
    out.u32(CentralOffset);
    out.u16(ZipCommentLen);
    return out.bytes();
}

qsizetype ZipEndOfCentral::FindBackwards(const QByteArray& window, qsizetype last)
{
    ZipByteReader in(window);
    for (qsizetype i = std::min(last, window.size() - Size); i >= 0; --i) {
        if (in.u32At(i) == Signature)
            return i;
    }
    return -1;
}
