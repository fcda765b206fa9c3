#pragma once

// What the benchmarks share: a generated journal, a window without a desktop
// behind it, and the process's memory figures.

#include "platform/ClipboardViewer.h"
#include "platform/WindowList.h"

#include <QByteArray>
#include <QFile>

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

// A line of /proc/self/status in MiB ("VmRSS:" now, "VmHWM:" at the peak), -1 when unknown.
inline long statusMiB(const char* key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key)) {
            return line.mid(qstrlen(key)).trimmed().split(' ').value(0).toLong() / 1024;
        }
    }
    return -1;
}
} // namespace BenchSupport
