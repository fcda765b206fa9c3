#pragma once

#include <QByteArray>
#include <QImage>

// A picture as the bytes of a Windows bitmap (BMP) file at the picture's own
// depth: indexed and plain colour pictures as Qt writes them, pictures with an
// alpha channel at 32 bits per pixel, which Qt's writer would cut to 24.
namespace BitmapFile
{
QByteArray encode(const QImage& image);
}
