#include "zip/ZipLz77.h"

#include <QIODevice>

#include <array>

namespace
{
constexpr int kWindowSize = 4096;
constexpr int kWindowStart = 4080;

class LzSource
{
public:
    LzSource(QIODevice& device, qint64 length)
        : m_device(device)
        , m_remaining(length)
        , m_unlimited(length < 0)
    { }

    bool next(quint8& byte)
    {
        if (!m_unlimited && m_remaining <= 0)
            return false;
        char c;
        if (!m_device.getChar(&c)) {
            m_exhausted = true;
            return false;
        }
        if (!m_unlimited)
            --m_remaining;
        byte = static_cast<quint8>(c);
        return true;
    }

    // Without a limit, reaching the end of the stream is consuming all of it.
    bool allConsumed() const { return m_unlimited ? m_exhausted : m_remaining == 0; }

private:
    QIODevice& m_device;
    qint64 m_remaining;
    bool m_unlimited;
    bool m_exhausted = false;
};
} // namespace

int LzExtract(QIODevice& dest, QIODevice& source, qint64 sourceLength)
{
    LzSource src(source, sourceLength);
    quint32 unpackedSize = 0;
    for (int i = 0; i < 4; ++i) {
        quint8 b;
        if (!src.next(b))
            return -1;
        unpackedSize |= quint32(b) << (8 * i);
    }

    std::array<char, kWindowSize> window {};
    int writePos = kWindowStart;
    qint64 written = 0;
    bool failedWrite = false;
    auto put = [&](char c) {
        if (!dest.putChar(c))
            failedWrite = true;
        window[writePos] = c;
        writePos = (writePos + 1) % kWindowSize;
        ++written;
    };

    bool ended = false;
    while (!ended && !failedWrite) {
        quint8 flags;
        if (!src.next(flags))
            break;
        for (int bit = 0; bit < 8; ++bit) {
            if (flags & (1u << bit)) {
                quint8 literal;
                if (!src.next(literal)) {
                    ended = true;
                    break;
                }
                put(static_cast<char>(literal));
            } else {
                quint8 b1, b2;
                if (!src.next(b1) || !src.next(b2)) {
                    ended = true;
                    break;
                }
                int readPos = b1 + (b2 & 0xF0) * 16;
                const int length = (b2 & 0x0F) + 3;
                for (int k = 0; k < length; ++k) {
                    put(window[readPos]);
                    readPos = (readPos + 1) % kWindowSize;
                }
            }
        }
    }

    if (failedWrite || !src.allConsumed())
        return -1;
    return written == qint64(unpackedSize) ? 0 : -2;
}
