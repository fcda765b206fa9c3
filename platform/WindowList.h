#pragma once

#include <QList>
#include <QString>

#include <memory>

// One top-level window of the desktop: its handle number and its title (may be empty).
struct TopLevelWindow
{
    quint32 handle = 0;
    QString title;
};

// The top-level windows of the desktop, in stacking order, enumerated synchronously.
class WindowList
{
public:
    virtual ~WindowList() = default;
    virtual QList<TopLevelWindow> topLevelWindows() = 0;

    // The desktop's own list: X11 where the program runs on it, else empty.
    static std::unique_ptr<WindowList> create();
};
