#pragma once

#include <QtGlobal>

// Sizes and little-endian field access of the zip format's records, shared by
// the directory reader and the part writer.
namespace ZipRecordBytes
{
constexpr int kCentralFixedSize = 46;
constexpr int kLocalFixedSize = 30;
constexpr int kDataDescriptorSize = 16;
constexpr qint64 kCopyBlock = 10240;
// The component's confirmation dialog kind.
constexpr int kConfirmKind = 0x132712;

inline quint16 le16(const char* p)
{
    return quint16(quint8(p[0]) | (quint8(p[1]) << 8));
}

inline quint32 le32(const char* p)
{
    return quint32(le16(p)) | (quint32(le16(p + 2)) << 16);
}

inline void put16(char* p, quint16 v)
{
    p[0] = char(v & 0xFF);
    p[1] = char(v >> 8);
}

inline void put32(char* p, quint32 v)
{
    put16(p, quint16(v & 0xFFFF));
    put16(p + 2, quint16(v >> 16));
}
} // namespace ZipRecordBytes
