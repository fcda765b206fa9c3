#pragma once

// What the benchmarks share: a generated journal, a window without a desktop
// behind it, and the process's memory figures.

#include "app/WindowServices.h"
#include "platform/ClipboardViewer.h"
#include "platform/WindowList.h"

#include <QByteArray>
#include <QFile>

#include <cstdio>
#include <ctime>
#include <functional>

namespace BenchSupport
{
// Stamp lines and short captures, as a day of copying leaves them.
inline QByteArray journalOf(qsizetype bytes)
{
    QByteArray text;
    text.reserve(bytes + 256);
    for (int i = 0; text.size() < bytes; ++i) {
        text += "[2026-12-07-14:05:" + QByteArray::number(i % 60).rightJustified(2, '0') + "]-----------------\r\n";
        text += "copied text number " + QByteArray::number(i) + " with a few words in it\r\n";
    }
    return text;
}

class SilentClipboard : public ClipboardViewer
{
public:
    void start() override { m_active = true; }
    void stop() override { m_active = false; }
    bool isActive() const override { return m_active; }

private:
    bool m_active = false;
};

class NoWindows : public WindowList
{
public:
    QList<TopLevelWindow> topLevelWindows() override { return {}; }
};

// A benchmark never waits for a person: messages and questions are printed, a question is
// answered Yes, a save dialog or a question of the zip component cancelled.
class PrintedDialogs : public Dialogs
{
public:
    void message(QWidget*, const QString& text) override
    {
        std::printf("message: %s\n", qPrintable(text));
        std::fflush(stdout);
    }
    bool ask(QWidget* parent, const QString& text) override
    {
        message(parent, text);
        return true;
    }
    QString saveFileName(QWidget*, const QString&, const QString&, bool) override { return {}; }
    int zipDialog(QWidget* parent, const QString&, QString& text, int, TMsgDlgButtons) override
    {
        message(parent, text);
        return mrCancel;
    }
};

// A window's services with no desktop behind them, for a program file in the given folder.
inline TFMainServices quietServices(const QString& executablePath)
{
    TFMainServices services;
    services.clipboard = std::make_unique<SilentClipboard>();
    services.windows = std::make_unique<NoWindows>();
    services.dialogs = std::make_unique<PrintedDialogs>();
    services.executablePath = executablePath;
    return services;
}

// A clock's reading in milliseconds: CLOCK_MONOTONIC for wall time, CLOCK_THREAD_CPUTIME_ID for
// the CPU time of the calling thread, which other load on the machine does not stretch.
inline double clockMilliseconds(clockid_t clock)
{
    timespec now {};
    clock_gettime(clock, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// A line of /proc/self/status in KiB ("VmRSS:" now, "VmHWM:" at the peak), -1 when unknown.
inline long statusKiB(const char* key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key)) {
            return line.mid(qstrlen(key)).trimmed().split(' ').value(0).toLong();
        }
    }
    return -1;
}

inline long statusMiB(const char* key)
{
    const long kib = statusKiB(key);
    return kib < 0 ? -1 : kib / 1024;
}
} // namespace BenchSupport
