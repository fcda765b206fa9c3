#include "app/ImageList.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace
{
struct Artwork
{
    int index;
    const char* themeName;
    QRgb colour;
    char glyph;
};

// The images the window uses; every other index gets a plain drawn tile.
const Artwork Images[] = {
    { 0, "document-save", 0xff2e7d32, 'S' },
    { 1, "document-save-as", 0xff1565c0, 'A' },
    { 2, "go-bottom", 0xff6a1b9a, 'v' },
    { 3, "go-top", 0xff6a1b9a, '^' },
    { 10, "edit-paste", 0xff00838f, 'J' },
    { 11, "accessories-text-editor", 0xffef6c00, 'N' },
    { 36, "help-about", 0xff37474f, 'i' },
    { 46, "folder-open", 0xff8d6e63, 'D' },
    { 55, "image-x-generic", 0xffad1457, 'I' },
    { 57, "preferences-system-windows", 0xff283593, 'W' },
    { 60, "document-open", 0xff558b2f, 'O' },
};

// A transparent square with a filled, rounded tile, ready to be drawn on.
QPixmap roundedTile(int size, qreal cornerFraction, const QColor& colour)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath tile;
    tile.addRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), size * cornerFraction, size * cornerFraction);
    painter.fillPath(tile, colour);
    return pixmap;
}

const Artwork* artworkFor(int index)
{
    for (const Artwork& art : Images) {
        if (art.index == index) {
            return &art;
        }
    }
    return nullptr;
}
} // namespace

ImageList::ImageList(QObject* parent)
    : QObject(parent)
{
    setObjectName(QStringLiteral("imagesMain"));
}

QIcon ImageList::icon(int index) const
{
    if (index < 0 || index >= Count) {
        return {};
    }
    const Artwork* art = artworkFor(index);
    const QIcon fallback = drawn(index);
    return art ? QIcon::fromTheme(QString::fromLatin1(art->themeName), fallback) : fallback;
}

QIcon ImageList::drawn(int index)
{
    const Artwork* art = artworkFor(index);
    const QColor colour = art ? QColor::fromRgb(art->colour) : QColor::fromHsv((index * 37) % 360, 120, 150);
    const QString glyph = art ? QString(QLatin1Char(art->glyph)) : QString::number(index % 10);
    QIcon icon;
    for (int size : { 16, 32 }) {
        QPixmap pixmap = roundedTile(size, 1 / 5.0, colour);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::white);
        QFont font;
        font.setPixelSize(size * 3 / 4);
        font.setBold(true);
        painter.setFont(font);
        painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, glyph);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon ImageList::programIcon()
{
    QIcon icon;
    for (int size : { 16, 32, 48, 64 }) {
        QPixmap pixmap = roundedTile(size, 1 / 6.0, Qt::black);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        QPen pen(QColor(0, 255, 0));
        pen.setWidthF(size / 8.0);
        pen.setCapStyle(Qt::RoundCap);
        painter.setPen(pen);
        // A "V" over a journal line.
        painter.drawLine(QPointF(size * 0.25, size * 0.22), QPointF(size * 0.5, size * 0.62));
        painter.drawLine(QPointF(size * 0.5, size * 0.62), QPointF(size * 0.75, size * 0.22));
        pen.setWidthF(size / 16.0);
        painter.setPen(pen);
        painter.drawLine(QPointF(size * 0.2, size * 0.78), QPointF(size * 0.8, size * 0.78));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QPixmap ImageList::harborlight()
{
    QPixmap pixmap(34, 37);
    pixmap.fill(Qt::black);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor lime(0, 255, 0);
    // Beams, lamp, a striped tower and the water line.
    painter.setPen(QPen(QColor(0, 160, 0), 1));
    painter.drawLine(QPointF(17, 8), QPointF(2, 3));
    painter.drawLine(QPointF(17, 8), QPointF(32, 3));
    painter.setBrush(lime);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(17, 8), 3, 3);
    QPolygonF tower;
    tower << QPointF(13, 12) << QPointF(21, 12) << QPointF(24, 32) << QPointF(10, 32);
    painter.drawPolygon(tower);
    painter.setBrush(Qt::black);
    painter.drawRect(QRectF(11, 19, 12, 3));
    painter.drawRect(QRectF(10, 26, 14, 2));
    painter.setPen(QPen(lime, 1));
    painter.drawLine(QPointF(1, 34.5), QPointF(33, 34.5));
    painter.end();
    return pixmap;
}
