#include "platform/wayland/WaylandClipboardViewer.h"

#include "platform/wayland/WaylandClipboardWatcher.h"

WaylandClipboardViewer::WaylandClipboardViewer(QObject* parent, qsizetype maxReadBytes)
    : ThreadedClipboardViewer(new WaylandClipboardWatcher(ReadTimeoutMs, maxReadBytes), parent)
{
}

bool WaylandClipboardViewer::available()
{
    return WaylandClipboardWatcher::available();
}
