#include "app/WindowServices.h"

#include "platform/AppPaths.h"

void TFMainServices::completeWithDefaults()
{
    if (!clipboard) {
        clipboard = ClipboardViewer::create();
    }
    if (!windows) {
        windows = WindowList::create();
    }
    if (!dialogs) {
        dialogs = std::make_unique<DesktopDialogs>();
    }
    const bool programGiven = !executablePath.isEmpty();
    if (!programGiven) {
        executablePath = AppPaths::executablePath();
    }
    if (settingsFile.isEmpty()) {
        settingsFile = programGiven ? AppPaths::changeExtension(executablePath, QStringLiteral(".ini"))
                                    : AppPaths::settingsFile();
    }
    if (archiveFile.isEmpty()) {
        archiveFile = programGiven ? AppPaths::changeExtension(executablePath, QStringLiteral(".vma"))
                                   : AppPaths::archiveFile();
    }
}
