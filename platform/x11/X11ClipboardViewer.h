#pragma once

#include "platform/ClipboardWatcher.h"

// The CLIPBOARD selection watched on an X connection and a thread of their own.
class X11ClipboardViewer final : public ThreadedClipboardViewer
{
    Q_OBJECT

public:
    // maxReadBytes: tests give a smaller limit than MaxTextBytes.
    explicit X11ClipboardViewer(QObject* parent = nullptr, qsizetype maxReadBytes = MaxTextBytes);
};
