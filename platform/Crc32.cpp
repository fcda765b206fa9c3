#include "platform/Crc32.h"

#include <array>
#include <cstring>

#include <QtEndian>

namespace
{
// Eight tables let the loop take eight bytes a step.
using Tables = std::array<std::array<quint32, 256>, 8>;

Tables makeTables()
{
    Tables tables {};
    for (quint32 i = 0; i < 256; ++i) {
        quint32 c = i;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        tables[0][i] = c;
    }
    for (quint32 i = 0; i < 256; ++i) {
        for (int t = 1; t < 8; ++t) {
            tables[t][i] = (tables[t - 1][i] >> 8) ^ tables[0][tables[t - 1][i] & 0xFF];
        }
    }
    return tables;
}
} // namespace

quint32 crc32(QByteArrayView bytes, quint32 crc)
{
    static const Tables t = makeTables();
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    qsizetype n = bytes.size();
    crc = ~crc;
    while (n >= 8) {
        quint32 low;
        quint32 high;
        std::memcpy(&low, p, 4);
        std::memcpy(&high, p + 4, 4);
        low = qFromLittleEndian(low) ^ crc;
        high = qFromLittleEndian(high);
        crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24]
            ^ t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
        p += 8;
        n -= 8;
    }
    while (n-- > 0) {
        crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}
