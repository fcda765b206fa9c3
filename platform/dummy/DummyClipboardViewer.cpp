#include "platform/ClipboardViewer.h"

std::unique_ptr<ClipboardViewer> ClipboardViewer::create()
{
    return std::make_unique<SystemClipboardViewer>();
}
