#include "platform/Crc32.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

quint32 crc32(QByteArrayView bytes, quint32 crc)
{
    // zlib's CRC takes several bytes a step; its length is an unsigned int, so larger texts go in pieces.
    const auto* p = reinterpret_cast<const Bytef*>(bytes.data());
    qsizetype n = bytes.size();
    uLong value = crc;
    do {
        const auto piece = uInt(std::min<qsizetype>(n, UINT_MAX));
        value = ::crc32(value, p, piece);
        p += piece;
        n -= piece;
    } while (n > 0);
    return quint32(value);
}
