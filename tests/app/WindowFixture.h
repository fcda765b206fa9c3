#pragma once

#include "app/ClockText.h"
#include "app/MessageBox.h"
#include "app/vlmx_main.h"
#include "loc/LocUtils.h"
#include "platform/AppPaths.h"
#include "tests/app/FakeClipboardViewer.h"

#include <QFile>
#include <QTemporaryDir>

#include <memory>

// A main window whose executable lies in a fresh folder, with a fake clipboard,
// a fixed clock and message boxes captured instead of shown.
struct WindowFixture
{
    explicit WindowFixture(const QString& exeName = QStringLiteral("vellumix"))
    {
        AppPaths::setExecutablePathForTesting(dir.filePath(exeName));
        LocUtils.SetAppFileName(AppPaths::executablePath());
        MessageBox::setCaptureForTesting(&messages);
        ClockText::setForTesting([] { return QDateTime(QDate(2026, 12, 7), QTime(14, 5, 9)); },
            QStringLiteral("yyyy-MM-dd"), QStringLiteral("HH:mm:ss"));
    }
    ~WindowFixture()
    {
        window.reset();
        MessageBox::setCaptureForTesting(nullptr);
        ClockText::setForTesting({}, {}, {});
        AppPaths::setExecutablePathForTesting({});
        LocUtils.SetAppFileName(AppPaths::executablePath());
    }

    TFMain* create()
    {
        TFMainServices services;
        auto fake = std::make_unique<FakeClipboardViewer>();
        clipboard = fake.get();
        services.clipboard = std::move(fake);
        services.windows = std::move(windows);
        window = std::make_unique<TFMain>(std::move(services));
        return window.get();
    }
    // Destroys the window, which stores what it keeps on exit.
    void destroy() { window.reset(); }

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
    QStringList messages;
    FakeClipboardViewer* clipboard = nullptr;
    std::unique_ptr<WindowList> windows; // handed to the next window created
    std::unique_ptr<TFMain> window;
};

inline const QByteArray StampLine = "[2026-12-07-14:05:09]-----------------";
