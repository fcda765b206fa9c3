#pragma once

#include <QIcon>
#include <QObject>
#include <QPixmap>

// The window's list of 61 small images, addressed by index. Each comes from the
// desktop's icon theme where a fitting icon exists, else from our own drawing,
// so that no image is ever blank.
class ImageList : public QObject
{
    Q_OBJECT

public:
    static constexpr int Count = 61;

    explicit ImageList(QObject* parent = nullptr);

    QIcon icon(int index) const;
    static QIcon programIcon();
    // The About page's 34 x 37 logo: a harbour light.
    static QPixmap harborlight();

private:
    static QIcon drawn(int index);
};
