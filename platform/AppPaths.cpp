#include "platform/AppPaths.h"

#include "platform/FileAccess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>

namespace
{
QString& overridePath()
{
    static QString path;
    return path;
}

// The XDG base directory rules: an unset, empty or relative value is ignored.
QString xdgHome(const char* variable, const QString& fallback)
{
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value)) {
        return QDir::cleanPath(value);
    }
    return QDir::cleanPath(QDir::homePath() + QLatin1Char('/') + fallback);
}

QString dataFile(const QString& home, const QString& extension, AppPaths::Folder folder)
{
    if (AppPaths::dataBesideExecutable()) {
        return AppPaths::besideExecutable(extension);
    }
    const QString dir = home + QStringLiteral("/vellumix");
    if (folder == AppPaths::Folder::Create) {
        // A folder that cannot be made shows later, when the file cannot be written.
        AppPaths::makePrivateFolder(dir);
    }
    return dir + QLatin1Char('/') + AppPaths::executableNameWith(extension);
}
} // namespace

namespace AppPaths
{
QString executablePath()
{
    if (!overridePath().isEmpty()) {
        return overridePath();
    }
    // Before the application object exists Qt cannot tell the path.
    if (QCoreApplication::instance() == nullptr) {
        return QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    }
    return QFileInfo(QCoreApplication::applicationFilePath()).absoluteFilePath();
}

void setExecutablePathForTesting(const QString& path)
{
    overridePath() = path;
}

QString changeExtension(const QString& path, const QString& extension)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot > slash) {
        return path.left(dot) + extension;
    }
    return path + extension;
}

QString besideExecutable(const QString& extension)
{
    return changeExtension(executablePath(), extension);
}

QString executableNameWith(const QString& extension)
{
    return changeExtension(QFileInfo(executablePath()).fileName(), extension);
}

bool dataBesideExecutable()
{
    return FileAccess::isWritableFolder(QFileInfo(executablePath()).absolutePath());
}

QString settingsFile(Folder folder)
{
    return dataFile(configHome(), QStringLiteral(".ini"), folder);
}

QString archiveFile(Folder folder)
{
    return dataFile(dataHome(), QStringLiteral(".vma"), folder);
}

QString configHome()
{
    return xdgHome("XDG_CONFIG_HOME", QStringLiteral(".config"));
}

QString dataHome()
{
    return xdgHome("XDG_DATA_HOME", QStringLiteral(".local/share"));
}

bool makePrivateFolder(const QString& path)
{
    const QString clean = QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path));
    qsizetype next = 0;
    while (next >= 0) {
        next = clean.indexOf(QLatin1Char('/'), next + 1);
        const QString step = next < 0 ? clean : clean.left(next);
        if (::mkdir(QFile::encodeName(step).constData(), 0700) != 0 && errno != EEXIST && !QFileInfo(step).isDir()) {
            return false;
        }
    }
    return QFileInfo(clean).isDir();
}
} // namespace AppPaths
