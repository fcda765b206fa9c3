#pragma once

#include "platform/ClipboardWatcher.h"

// The seat's clipboard watched through the compositor's data-control protocol, on a Wayland
// connection and a thread of their own: copies made in native Wayland programs reach us while
// any window has the focus, where the X11 clipboard of Xwayland only hears of them while an X11
// window has it.
class WaylandClipboardViewer final : public ThreadedClipboardViewer
{
    Q_OBJECT

public:
    // maxReadBytes: tests give a smaller limit than MaxTextBytes.
    explicit WaylandClipboardViewer(QObject* parent = nullptr, qsizetype maxReadBytes = MaxTextBytes);

    // Whether the compositor named by WAYLAND_DISPLAY offers data-control to us.
    static bool available();
};
