#include "platform/FileAccess.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace
{
bool writable(const QString& path, bool wantFolder)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat info
    {
    };
    if (::stat(native.constData(), &info) != 0 || S_ISDIR(info.st_mode) != wantFolder) {
        return false;
    }
    if ((info.st_mode & S_IWUSR) == 0) {
        return false;
    }
    return ::access(native.constData(), wantFolder ? (W_OK | X_OK) : W_OK) == 0;
}
} // namespace

namespace FileAccess
{
bool isWritableFile(const QString& path)
{
    return writable(path, false);
}

bool isWritableFolder(const QString& path)
{
    return writable(path, true);
}

PrivateFileCreation::PrivateFileCreation()
    : m_previous(::umask(077))
{ }

PrivateFileCreation::~PrivateFileCreation()
{
    ::umask(m_previous);
}

QString freeBackupName(const QString& path)
{
    const QString base = path + QStringLiteral(".bak");
    QString name = base;
    for (int number = 1; QFileInfo::exists(name); ++number) {
        name = base + QLatin1Char('.') + QString::number(number);
    }
    return name;
}
} // namespace FileAccess
