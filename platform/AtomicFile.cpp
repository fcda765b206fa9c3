#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr int RandomLength = 6;
// Temporary files are "<name>.~vellumix-<creating process>-<six letters or digits>": no name a user
// would give a file of theirs.
const QLatin1String TemporaryMarker(".~vellumix-");

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool fail(QString* error, int code)
{
    if (error) {
        *error = reason(code);
    }
    return false;
}

void syncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}
} // namespace

namespace AtomicFile
{
bool sync(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    syncFolder(QFileInfo(path).absolutePath());
    return synced;
}

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t done = ::write(fd, at, size_t(left));
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            if (done == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        at += done;
        left -= done;
    }
    return true;
}

QString resolveLinks(const QString& path)
{
    QString current = QFileInfo(path).absoluteFilePath();
    // A loop of links ends somewhere; the kernel gives up after 40 as well.
    for (int depth = 0; depth < 40; ++depth) {
        const QFileInfo info(current);
        if (!info.isSymLink()) {
            return current;
        }
        const QString target = info.symLinkTarget();
        if (target.isEmpty()) {
            return current;
        }
        current = QDir::cleanPath(QDir(info.absolutePath()).absoluteFilePath(target));
    }
    return current;
}

bool write(const QString& path, const QByteArray& bytes, QString* error)
{
    const QString target = resolveLinks(path);
    const QFileInfo info(target);
    struct stat existing
    {
    };
    const bool exists = ::stat(QFile::encodeName(target).constData(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        return fail(error, EISDIR);
    }
    const mode_t mode = exists ? (existing.st_mode & 07777) : (S_IRUSR | S_IWUSR);

    QString temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        QString suffix;
        for (int i = 0; i < RandomLength; ++i) {
            suffix += QLatin1Char(Letters[QRandomGenerator::global()->bounded(int(sizeof Letters - 1))]);
        }
        temporary = target + TemporaryMarker + QString::number(::getpid()) + QLatin1Char('-') + suffix;
        fd = ::open(QFile::encodeName(temporary).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST) {
            return fail(error, errno);
        }
    }
    if (fd < 0) {
        return fail(error, EEXIST);
    }
    // The creation mode passes through the umask; the intended one is set outright.
    ::fchmod(fd, mode);
    const QByteArray nativeTemporary = QFile::encodeName(temporary);
    if (!writeAll(fd, bytes) || ::fsync(fd) != 0) {
        const int code = errno;
        ::close(fd);
        ::unlink(nativeTemporary.constData());
        return fail(error, code);
    }
    if (::close(fd) != 0 || ::rename(nativeTemporary.constData(), QFile::encodeName(target).constData()) != 0) {
        const int code = errno;
        ::unlink(nativeTemporary.constData());
        return fail(error, code);
    }
    syncFolder(info.absolutePath());
    return true;
}

bool isTemporaryNameOf(const QString& candidate, const QString& fileName, qint64* pid)
{
    const QString stem = fileName + TemporaryMarker;
    if (!candidate.startsWith(stem)) {
        return false;
    }
    const QStringView rest = QStringView(candidate).sliced(stem.size());
    const qsizetype dash = rest.indexOf(QLatin1Char('-'));
    bool number = false;
    const qint64 creator = dash > 0 && dash <= 10 ? rest.first(dash).toLongLong(&number) : 0;
    if (!number || creator <= 0 || rest.size() != dash + 1 + RandomLength) {
        return false;
    }
    for (QChar c : rest.sliced(dash + 1)) {
        if (!((c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('0') && c <= QLatin1Char('9')))) {
            return false;
        }
    }
    if (pid) {
        *pid = creator;
    }
    return true;
}

int removeLeftovers(const QString& path)
{
    const QFileInfo target(resolveLinks(path));
    const QString name = target.fileName();
    int removed = 0;
    const QStringList candidates
        = QDir(target.absolutePath())
              .entryList({ name + TemporaryMarker + QLatin1Char('*') }, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& candidate : candidates) {
        qint64 pid = 0;
        // A process that still runs may be writing it (or only carry the number now): left alone.
        if (isTemporaryNameOf(candidate, name, &pid) && pid_t(pid) == pid && ::kill(pid_t(pid), 0) != 0
            && errno == ESRCH && QFile::remove(target.absoluteDir().filePath(candidate))) {
            ++removed;
        }
    }
    return removed;
}
} // namespace AtomicFile
