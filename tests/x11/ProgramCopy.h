#pragma once

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

// Another program run to its end (xdotool, xprop, unzip, kill): its standard output,
// empty when it did not finish in time.
inline QByteArray runCommand(const QString& program, const QStringList& arguments, int timeout = 60000)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(timeout)) {
        process.kill();
        process.waitForFinished(1000);
        return {};
    }
    return process.readAllStandardOutput();
}

// The built program and what it loads, copied into a folder of the test's, so that its settings,
// archive and recovery file land there.
inline bool copyProgram(const QString& folder, const QStringList& extra = {})
{
    for (const QString& name :
        QStringList { QStringLiteral("vellumix"), QStringLiteral("libZipEngine179.so") } + extra) {
        if (!QFile::copy(QStringLiteral(VELLUMIX_BIN_DIR "/") + name, folder + QLatin1Char('/') + name)) {
            return false;
        }
    }
    return true;
}

// The journal stored in the program's archive in that folder; empty when there is none yet.
inline QByteArray storedJournal(const QString& folder)
{
    return runCommand(QStringLiteral("unzip"),
        { QStringLiteral("-P"), QStringLiteral("730582"), QStringLiteral("-p"),
            folder + QStringLiteral("/vellumix.vma"), QStringLiteral("vellumix.clips") });
}

// Whether the program has the text on disk: in its recovery file (which keeps changes as UTF-16)
// or, once a store in the background took it there, in its archive.
inline bool onDisk(const QString& folder, const QByteArray& text)
{
    const QString wide = QString::fromUtf8(text);
    QFile recovery(folder + QStringLiteral("/vellumix.vma.recovery"));
    if (recovery.open(QIODevice::ReadOnly)
        && recovery.readAll().contains(QByteArray(reinterpret_cast<const char*>(wide.utf16()), wide.size() * 2))) {
        return true;
    }
    return storedJournal(folder).contains(text);
}

// The id of the program's main window once it is shown, empty when none appeared. xdotool gives
// up when a window goes away while it looks through them (an xclip that lost the clipboard, say),
// so it is asked again until the deadline.
inline QByteArray waitForWindow(const QProcess& program)
{
    QByteArray window;
    const QDeadlineTimer deadline(60000);
    while (window.isEmpty() && !deadline.hasExpired() && program.state() == QProcess::Running) {
        window = runCommand(QStringLiteral("xdotool"),
            { QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                QStringLiteral("--pid"), QString::number(program.processId()), QStringLiteral("--name"),
                QStringLiteral("^vellumix$") },
            int(deadline.remainingTime()))
                     .split('\n')
                     .value(0);
    }
    return window;
}
