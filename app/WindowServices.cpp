#include "app/WindowServices.h"

#include "platform/AppPaths.h"

void TFMainServices::completeWithDefaults()
{
    if (!clipboard) {
        clipboard = std::make_unique<SystemClipboardViewer>();
    }
    if (!windows) {
        windows = WindowList::create();
    }
    if (!dialogs) {
        dialogs = std::make_unique<DesktopDialogs>();
    }
    if (executablePath.isEmpty()) {
        executablePath = AppPaths::executablePath();
    }
}
