#include "platform/FileAccess.h"

#include <QFile>
#include <QFileInfo>

#include <mutex>

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

namespace
{
// The mask belongs to the process: with stores on another thread, the first to begin sets it and
// the last to end puts back what was there before either.
std::mutex privateCreationMutex;
int privateCreations = 0;
mode_t maskBefore = 0;
} // namespace

PrivateFileCreation::PrivateFileCreation()
{
    const std::lock_guard lock(privateCreationMutex);
    if (privateCreations++ == 0) {
        maskBefore = ::umask(077);
    }
}

PrivateFileCreation::~PrivateFileCreation()
{
    const std::lock_guard lock(privateCreationMutex);
    if (--privateCreations == 0) {
        ::umask(maskBefore);
    }
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
