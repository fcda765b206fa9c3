#include "platform/x11/X11ClipboardViewer.h"

#include "platform/x11/X11ClipboardWatcher.h"

X11ClipboardViewer::X11ClipboardViewer(QObject* parent, qsizetype maxReadBytes)
    : ThreadedClipboardViewer(new X11ClipboardWatcher(ReadTimeoutMs, maxReadBytes), parent)
{
}
