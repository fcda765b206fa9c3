#include "platform/AppPaths.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace
{
QString& overridePath()
{
    static QString path;
    return path;
}
} // namespace

namespace AppPaths
{
QString executablePath()
{
    if (!overridePath().isEmpty()) {
        return overridePath();
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
} // namespace AppPaths
