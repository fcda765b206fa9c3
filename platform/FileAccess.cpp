#include "platform/FileAccess.h"

#include <QFile>

#include <sys/stat.h>
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
} // namespace FileAccess
