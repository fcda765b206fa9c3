#pragma once

#include "app/vlmx_main.h"
#include "loc/LocUtils.h"
#include "platform/AppPaths.h"
#include "tests/app/FakeClipboardViewer.h"
#include "tests/app/TestDialogs.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

inline const QDateTime FixedMoment(QDate(2026, 12, 7), QTime(14, 5, 9));

// A main window whose executable lies in a fresh folder, with a fake clipboard,
// a fixed clock, dialogs that answer for the user and a desktop opener that only records.
struct WindowFixture
{
    explicit WindowFixture(const QString& exeName = QStringLiteral("vellumix"))
        : executable(dir.filePath(exeName))
    {
        // The program file is this test itself under another name, so it carries the program's version block.
        QFile::link(QCoreApplication::applicationFilePath(), executable);
        LocUtils.SetAppFileName(executable);
    }
    ~WindowFixture()
    {
        destroy();
        LocUtils.SetAppFileName(AppPaths::executablePath());
    }

    // The services a window gets from this fixture; the clipboard is the fake unless one is given.
    TFMainServices services(std::unique_ptr<ClipboardViewer> realClipboard = {})
    {
        TFMainServices services;
        if (realClipboard) {
            services.clipboard = std::move(realClipboard);
        } else {
            auto fake = std::make_unique<FakeClipboardViewer>();
            clipboard = fake.get();
            services.clipboard = std::move(fake);
        }
        services.windows = std::move(windows);
        services.dialogs = std::make_unique<TestDialogs>(&script);
        services.clock = ClockText::fixed(moment, dateFormat, QStringLiteral("HH:mm:ss"));
        services.opener = [this](const QUrl& request) {
            opened << (request.isLocalFile() ? request.toLocalFile() : request.toString());
            return true;
        };
        services.executablePath = executable;
        services.settingsFile = AppPaths::changeExtension(executable, QStringLiteral(".ini"));
        services.archiveFile = AppPaths::changeExtension(executable, QStringLiteral(".vma"));
        services.storeIdleDelay = services.storeLatestDelay = storeDelay;
        return services;
    }

    TFMain* create(std::unique_ptr<ClipboardViewer> realClipboard = {})
    {
        window = std::make_unique<TFMain>(services(std::move(realClipboard)));
        return window.get();
    }
    // Destroys the window, which stores what it keeps on exit. The next window starts as a new
    // process would, in the built-in language.
    void destroy()
    {
        window.reset();
        LocUtils.ResetResourceModules();
    }

    QString path(const QString& name) const { return dir.filePath(name); }
    void writeFile(const QString& name, const QByteArray& content) const
    {
        QFile file(path(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
            qFatal("cannot write test file");
        }
    }
    QByteArray readFile(const QString& name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir dir;
    QString executable;
    QDateTime moment = FixedMoment; // what the clock of the next window tells
    QString dateFormat = QStringLiteral("yyyy-MM-dd"); // the short date format it tells it in
    // Stores in the background come only where a test asks for them, so that none runs into its steps.
    int storeDelay = 24 * 3600 * 1000;
    DialogScript script;
    DialogScript* const dialogs = &script;
    QStringList& messages = script.messages;
    QStringList opened; // what the desktop was asked to open
    FakeClipboardViewer* clipboard = nullptr;
    std::unique_ptr<WindowList> windows; // handed to the next window created
    std::unique_ptr<TFMain> window;
};

inline const QByteArray StampLine = "[2026-12-07-14:05:09]-----------------";
