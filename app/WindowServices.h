#pragma once

#include "app/ClockText.h"
#include "app/Dialogs.h"
#include "app/ShellOpen.h"
#include "platform/ClipboardViewer.h"
#include "platform/WindowList.h"

#include <QString>

#include <memory>

// What the window uses of the desktop and the outside world. Members left empty
// get the real ones; tests hand in their own.
struct TFMainServices
{
    std::unique_ptr<ClipboardViewer> clipboard;
    std::unique_ptr<WindowList> windows;
    std::unique_ptr<Dialogs> dialogs;
    ClockText clock;
    DesktopOpener opener;
    // The program file after which the settings, the archive and its entries are named.
    QString executablePath;
    // Where the settings and the archive live: beside the program file given, else where an
    // installed or a portable program keeps them.
    QString settingsFile;
    QString archiveFile;
    // How long after changes the session is stored by itself: after this many milliseconds
    // without a change, and at the latest this many after the first change not yet stored.
    int storeIdleDelay = 3000;
    int storeLatestDelay = 60000;

    // Fills what was left empty with the desktop's own services.
    void completeWithDefaults();
};
