#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>

class QMainWindow;
class QTimer;

// Where the window stands: the outer (frame) geometry the settings hold, kept
// above other windows on request, snapped to the screen edges when the user moves it.
class WindowPlacement : public QObject
{
    Q_OBJECT

public:
    static constexpr int SnapBuffer = 111;

    explicit WindowPlacement(QMainWindow* window);

    // Places the frame as the settings give it. Any numbers are taken: the size is cut to the
    // desktop's, the title bar kept on it, and a placement off every screen brought onto the primary one.
    void place(int left, int top, int width, int height);
    // The frame's geometry as the settings keep it, also before the window manager has framed the window,
    // never larger than the desktop.
    QRect outerGeometry() const;

    void SetStayOnTop(bool onTop);
    bool ScreenSnap() const { return m_screenSnap; }
    void setScreenSnap(bool snap) { m_screenSnap = snap; }
    // The frame's top-left corner after the snapping rules, for a frame of the given size proposed at pos.
    static QPoint snappedPosition(const QPoint& pos, const QSize& frameSize, const QRect& workArea);

    // The window's own events, handed on by it.
    void shown();
    void moved();
    void resized();

private:
    void setOuterGeometry(const QRect& outer);
    void watchFrame();
    void applyPendingOuter();
    QSize frameExtra() const;

    QMainWindow* m_window;
    QTimer* m_frameWatch = nullptr;
    int m_frameTicks = 0;
    QRect m_pendingOuter;
    QPoint m_placedAt { -1, -1 };
    bool m_placementSettled = false;
    bool m_screenSnap = false;
    bool m_resizing = false;
};
