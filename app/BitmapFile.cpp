#include "app/BitmapFile.h"

#include <QBuffer>
#include <QImageWriter>
#include <QtEndian>

namespace
{
void put16(QByteArray& out, quint16 value)
{
    const quint16 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char*>(&le), 2);
}

void put32(QByteArray& out, quint32 value)
{
    const quint32 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char*>(&le), 4);
}

QByteArray encode32(const QImage& source)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const quint32 rowBytes = quint32(image.width()) * 4;
    const quint32 pixelBytes = rowBytes * quint32(image.height());
    const quint32 headerBytes = 14 + 40;
    QByteArray out;
    out.reserve(int(headerBytes + pixelBytes));
    out.append("BM", 2);
    put32(out, headerBytes + pixelBytes);
    put32(out, 0);
    put32(out, headerBytes);
    put32(out, 40);
    put32(out, quint32(image.width()));
    put32(out, quint32(image.height()));
    put16(out, 1);
    put16(out, 32);
    put32(out, 0); // BI_RGB
    put32(out, pixelBytes);
    put32(out, 2835); // 72 dots per inch
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    // Bottom-up rows of blue, green, red, alpha.
    for (int y = image.height() - 1; y >= 0; --y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const char pixel[4]
                = { char(qBlue(line[x])), char(qGreen(line[x])), char(qRed(line[x])), char(qAlpha(line[x])) };
            out.append(pixel, 4);
        }
    }
    return out;
}
} // namespace

namespace BitmapFile
{
QByteArray encode(const QImage& image)
{
    if (image.hasAlphaChannel() && image.format() != QImage::Format_Indexed8) {
        return encode32(image);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "bmp");
    if (!writer.write(image)) {
        return {};
    }
    return bytes;
}
} // namespace BitmapFile
