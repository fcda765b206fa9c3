#include "app/WindowPlacement.h"

#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdlib>

WindowPlacement::WindowPlacement(QMainWindow* window)
    : QObject(window)
    , m_window(window)
{ }

namespace
{
// Every screen together; what a window can be placed on.
QRect virtualDesktop()
{
    QRect desktop;
    for (const QScreen* screen : QGuiApplication::screens()) {
        desktop |= screen->geometry();
    }
    return desktop.isValid() ? desktop : QRect(0, 0, 1024, 768);
}

// Enough of the frame that the user can still take hold of it.
constexpr int Handle = 64;
} // namespace

void WindowPlacement::place(int left, int top, int width, int height)
{
    // The settings file may hold any numbers; they are brought into range before any arithmetic.
    const QRect desktop = virtualDesktop();
    width = std::clamp(width, 1, desktop.width());
    height = std::clamp(height, 1, desktop.height());
    // A window placed wholly off every screen (a monitor since unplugged) would open where nobody sees it.
    bool onScreen = false;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect area = screen->geometry();
        onScreen = onScreen
            || (qint64(left) < qint64(area.left()) + area.width() && qint64(left) + width > area.left()
                && qint64(top) < qint64(area.top()) + area.height() && qint64(top) + height > area.top());
    }
    if (!onScreen && QGuiApplication::primaryScreen()) {
        const QPoint corner = QGuiApplication::primaryScreen()->availableGeometry().topLeft();
        left = corner.x();
        top = corner.y();
    }
    const int leftmost = desktop.left() - width + std::min(Handle, width);
    left = std::clamp(left, leftmost, std::max(leftmost, desktop.right() - Handle));
    top = std::clamp(top, desktop.top(), std::max(desktop.top(), desktop.bottom() - Handle));
    setOuterGeometry(QRect(left, top, width, height));
}

QRect WindowPlacement::outerGeometry() const
{
    QRect outer = m_pendingOuter.isValid() ? m_pendingOuter : m_window->frameGeometry();
    outer.setSize(outer.size().boundedTo(virtualDesktop().size()));
    return outer;
}

// The settings hold the frame's geometry, but the window manager tells the frame's
// extent only after the window is mapped; until then the geometry waits.
QSize WindowPlacement::frameExtra() const
{
    return m_window->frameGeometry().size() - m_window->geometry().size();
}

void WindowPlacement::setOuterGeometry(const QRect& outer)
{
    const QSize extra = frameExtra();
    m_window->move(outer.topLeft());
    m_placedAt = outer.topLeft();
    m_window->resize(outer.size() - extra);
    if (m_window->isVisible() && (extra.width() > 0 || extra.height() > 0)) {
        m_pendingOuter = QRect();
        return;
    }
    m_pendingOuter = outer;
    // Shown early (to stay on top) but not framed yet: the frame may still come.
    if (m_window->isVisible()) {
        watchFrame();
    }
}

void WindowPlacement::shown()
{
    if (!m_pendingOuter.isValid()) {
        m_placementSettled = true;
        return;
    }
    watchFrame();
}

void WindowPlacement::watchFrame()
{
    if (!m_frameWatch) {
        m_frameWatch = new QTimer(this);
        m_frameWatch->setInterval(50);
        connect(m_frameWatch, &QTimer::timeout, this, [this] {
            const QSize extra = frameExtra();
            if (extra.width() > 0 || extra.height() > 0) {
                applyPendingOuter();
            } else if (++m_frameTicks >= 40) {
                // No frame after two seconds: none will come, and the outer geometry is the inner one.
                m_frameWatch->stop();
                m_pendingOuter = QRect();
                m_placementSettled = true;
            }
        });
    }
    m_frameTicks = 0;
    m_frameWatch->start();
}

void WindowPlacement::applyPendingOuter()
{
    m_frameWatch->stop();
    m_placementSettled = true;
    if (m_pendingOuter.isValid()) {
        // Moved again now that the frame is known: a window shown before it was framed was placed by its inside.
        m_window->move(m_pendingOuter.topLeft());
        m_window->resize(m_pendingOuter.size() - frameExtra());
        m_pendingOuter = QRect();
    }
}

void WindowPlacement::SetStayOnTop(bool onTop)
{
    Qt::WindowFlags flags = m_window->windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, onTop);
    if (QWindow* window = m_window->windowHandle()) {
        // Telling the existing window spares the hide and show that setWindowFlags() does, so it keeps its place.
        m_window->overrideWindowFlags(flags);
        window->setFlags(flags);
    } else {
        m_window->setWindowFlags(flags);
    }
    m_window->show();
}

QPoint WindowPlacement::snappedPosition(const QPoint& pos, const QSize& frameSize, const QRect& workArea)
{
    int x = pos.x();
    int y = pos.y();
    const int right = workArea.left() + workArea.width();
    const int bottom = workArea.top() + workArea.height();
    if (std::abs(x - workArea.left()) < SnapBuffer) {
        x = workArea.left();
    }
    if (std::abs(y - workArea.top()) < SnapBuffer) {
        y = workArea.top();
    }
    if (std::abs(x + frameSize.width() - right) < SnapBuffer) {
        x = right - frameSize.width();
    }
    if (std::abs(y + frameSize.height() - bottom) < SnapBuffer) {
        y = bottom - frameSize.height();
    }
    return { x, y };
}

void WindowPlacement::resized()
{
    // A move that comes with a resize (dragging the left or top edge) must not snap.
    m_resizing = true;
    QTimer::singleShot(0, this, [this] { m_resizing = false; });
}

void WindowPlacement::moved()
{
    // Only moves by the user snap: not the placement read from the settings while the window manager maps it.
    if (!m_screenSnap || m_resizing || !m_placementSettled || !m_window->isVisible() || !m_window->screen()) {
        return;
    }
    const QRect frame = m_window->frameGeometry();
    if (frame.topLeft() == m_placedAt) {
        return;
    }
    m_placedAt = QPoint(-1, -1);
    if (frame.topLeft() == QPoint(0, 0)) {
        return;
    }
    const QPoint snapped = snappedPosition(frame.topLeft(), frame.size(), m_window->screen()->availableGeometry());
    if (snapped != frame.topLeft()) {
        m_window->move(snapped);
    }
}
