#pragma once

#include "tests/app/WindowFixture.h"
#include "textview/JournalView.h"

#include <QProcess>

// The session archive as other programs see and make it.
namespace SessionTools
{
inline const QString Password = QStringLiteral("730582");

inline QByteArray run(const QString& program, const QStringList& arguments, const QString& folder = {})
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(1000);
        return "<timed out>";
    }
    return process.readAllStandardOutput();
}

// An entry as another program sees it.
inline QByteArray entry(const QString& archive, const QString& name)
{
    return run(QStringLiteral("unzip"), { QStringLiteral("-P"), Password, QStringLiteral("-p"), archive, name });
}

inline QStringList entryNames(const QString& archive)
{
    return QString::fromUtf8(run(QStringLiteral("unzip"), { QStringLiteral("-Z1"), archive }))
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Whether unzip finds the archive sound, its entries decrypted with the password.
inline bool soundArchive(const QString& archive)
{
    QProcess process;
    process.start(QStringLiteral("unzip"), { QStringLiteral("-tq"), QStringLiteral("-P"), Password, archive });
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Zips the journal (and the notes, when given) into the fixture's archive with Info-ZIP.
inline void zipSession(const WindowFixture& fixture, const QByteArray& journal, const QByteArray& notes = {})
{
    QStringList names = { QStringLiteral("vellumix.clips") };
    fixture.writeFile(names.first(), journal);
    if (!notes.isNull()) {
        names << QStringLiteral("vellumix.notes");
        fixture.writeFile(names.last(), notes);
    }
    run(QStringLiteral("zip"),
        QStringList { QStringLiteral("-q"), QStringLiteral("-P"), Password, QStringLiteral("vellumix.vma") } + names,
        fixture.dir.path());
    for (const QString& name : names) {
        QFile::remove(fixture.path(name));
    }
}

inline JournalView* memo(TFMain* window, const char* name)
{
    return window->findChild<JournalView*>(QString::fromLatin1(name));
}
} // namespace SessionTools
