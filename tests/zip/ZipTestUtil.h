#pragma once

// Builders the zip tests use to make their own packed data: an LZ77 packer of
// the component's format and language blocks around string tables.

#include <QByteArray>
#include <QMap>
#include <QString>

#include <array>
#include <vector>

namespace ZipTest
{
inline void appendLe(QByteArray& out, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

// One item of a hand-made packed stream.
struct LzItem
{
    bool literal;
    quint8 byte;
    int position;
    int length;
};
inline LzItem lit(char c)
{
    return { true, quint8(c), 0, 0 };
}
inline LzItem ref(int position, int length)
{
    return { false, 0, position, length };
}

inline QByteArray lzStream(quint32 declaredSize, const std::vector<LzItem>& items)
{
    QByteArray out;
    appendLe(out, declaredSize, 4);
    for (size_t group = 0; group < items.size(); group += 8) {
        const qsizetype flagAt = out.size();
        out.append('\0');
        quint8 flags = 0;
        for (size_t k = 0; k < 8 && group + k < items.size(); ++k) {
            const LzItem& item = items[group + k];
            if (item.literal) {
                flags |= quint8(1u << k);
                out.append(char(item.byte));
            } else {
                out.append(char(item.position & 0xFF));
                out.append(char(((item.position >> 4) & 0xF0) | ((item.length - 3) & 0x0F)));
            }
        }
        out[flagAt] = char(flags);
    }
    return out;
}

// Greedy packer: longest match in the window, literals otherwise.
inline QByteArray lzPack(const QByteArray& data)
{
    std::array<quint8, 4096> window {};
    int writePos = 4080;
    std::vector<LzItem> items;
    qsizetype i = 0;
    while (i < data.size()) {
        int bestLength = 0;
        int bestPos = 0;
        for (int p = 0; p < 4096; ++p) {
            if (window[p] != quint8(data[i]))
                continue;
            // The copy may read bytes it has just written itself.
            int length = 0;
            while (length < 18 && i + length < data.size()) {
                const int source = (p + length) % 4096;
                const int back = (source - writePos + 4096) % 4096;
                const quint8 byte = back < length ? quint8(data[i + back]) : window[source];
                if (byte != quint8(data[i + length]))
                    break;
                ++length;
            }
            if (length > bestLength) {
                bestLength = length;
                bestPos = p;
                if (length == 18)
                    break;
            }
        }
        if (bestLength >= 3) {
            items.push_back(ref(bestPos, bestLength));
            for (int k = 0; k < bestLength; ++k) {
                window[writePos] = window[(bestPos + k) % 4096];
                writePos = (writePos + 1) % 4096;
            }
            i += bestLength;
        } else {
            items.push_back(lit(data[i]));
            window[writePos] = quint8(data[i]);
            writePos = (writePos + 1) % 4096;
            ++i;
        }
    }
    return lzStream(quint32(data.size()), items);
}

// The image of a resource file holding string tables for the given ids.
inline QByteArray stringTableImage(const QMap<int, QString>& texts)
{
    QByteArray image;
    auto header = [&](quint32 dataSize, quint16 type, quint16 name) {
        appendLe(image, dataSize, 4);
        appendLe(image, 32, 4);
        appendLe(image, 0xFFFF, 2);
        appendLe(image, type, 2);
        appendLe(image, 0xFFFF, 2);
        appendLe(image, name, 2);
        appendLe(image, 0, 4); // data version
        appendLe(image, 0x1030, 2); // memory flags
        appendLe(image, 0x0407, 2); // language
        appendLe(image, 0, 4); // version
        appendLe(image, 0, 4); // characteristics
    };
    header(0, 0, 0);
    QMap<int, bool> blocks;
    for (auto it = texts.begin(); it != texts.end(); ++it)
        blocks[it.key() / 16 + 1] = true;
    for (auto it = blocks.begin(); it != blocks.end(); ++it) {
        const int block = it.key();
        QByteArray data;
        for (int id = (block - 1) * 16; id < block * 16; ++id) {
            const QString text = texts.value(id);
            appendLe(data, quint32(text.size()), 2);
            for (QChar c : text)
                appendLe(data, c.unicode(), 2);
        }
        header(quint32(data.size()), 6, quint16(block));
        image += data;
        while (image.size() % 4)
            image.append('\0');
    }
    return image;
}

inline QByteArray languageBlock(quint16 id, const QByteArray& name, const QByteArray& packed)
{
    QByteArray out;
    appendLe(out, id, 2);
    appendLe(out, quint32(packed.size()), 2);
    appendLe(out, quint32(name.size()), 2);
    return out + name + packed;
}
} // namespace ZipTest
