#include "app/SingleInstance.h"

#include "loc/LocStrings.h"
#include "platform/AtomicFile.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
const QByteArray RaiseRequest = "raise\n";

// The same archive through another path, a linked folder or a link to it is the same archive.
QString resolvedPath(const QString& archivePath)
{
    const QFileInfo target(AtomicFile::resolveLinks(QFileInfo(archivePath).absoluteFilePath()));
    const QString folder = QFileInfo(target.absolutePath()).canonicalFilePath();
    return QDir(folder.isEmpty() ? target.absolutePath() : folder).filePath(target.fileName());
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// A write lock on the whole file. Open-file-description locks belong to this open file, not to
// the process's every descriptor of it; kernels without them get the classic record lock.
bool lockWhole(int fd)
{
    struct flock lock
    {
    };
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
#ifdef F_OFD_SETLK
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) {
        return true;
    }
    if (errno != EINVAL) {
        return false;
    }
#endif
    return ::fcntl(fd, F_SETLK, &lock) == 0;
}
} // namespace

SingleInstance::SingleInstance(const QString& archivePath, QObject* parent)
    : QObject(parent)
    , m_archive(archivePath)
{
    const QString resolved = resolvedPath(archivePath);
    m_lockPath = resolved + QStringLiteral(".lock");
    const QString name = QStringLiteral("vellumix-")
        + QString::fromLatin1(
            QCryptographicHash::hash(QFile::encodeName(resolved), QCryptographicHash::Sha256).toHex().left(24));
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
    QDir().mkpath(folder);
    m_socketPath = QDir(folder).filePath(name);
}

SingleInstance::~SingleInstance()
{
    if (m_server) {
        m_server->close();
    }
    if (m_lockFd >= 0) {
        ::close(m_lockFd);
    }
}

SingleInstance::Claim SingleInstance::claim()
{
    // Not blocking, and never through a link: a FIFO or a device in its place must not hold the start.
    const int fd = ::open(
        QFile::encodeName(m_lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    struct stat info
    {
    };
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const QString reason = fd < 0 ? systemError(errno) : LoadStr(sNotARegularFile);
        if (fd >= 0) {
            ::close(fd);
        }
        // The program still starts: refusing would leave the user with no journal at all.
        m_problem = LoadStr(sArchiveLockUnknown).arg(m_archive, m_lockPath, reason);
        listen();
        return Claim::First;
    }
    if (lockWhole(fd)) {
        m_lockFd = fd;
        listen();
        return Claim::First;
    }
    const int code = errno;
    ::close(fd);
    if (code != EAGAIN && code != EACCES) {
        // No locks on that file system (ENOLCK on NFS without a lock service, say).
        m_problem = LoadStr(sArchiveLockUnknown).arg(m_archive, m_lockPath, systemError(code));
        listen();
        return Claim::First;
    }
    if (askToRaise()) {
        return Claim::Raised;
    }
    m_problem = LoadStr(sArchiveInUse).arg(m_archive);
    return Claim::Refused;
}

void SingleInstance::listen()
{
    // A socket file left by a killed program would refuse the listen.
    QLocalServer::removeServer(m_socketPath);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->readAll().contains(RaiseRequest)) {
                    Q_EMIT raiseRequested();
                }
                socket->disconnectFromServer();
            });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    m_server->listen(m_socketPath);
}

bool SingleInstance::askToRaise()
{
    // The running program may still be starting; it listens right after taking the lock.
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(m_socketPath);
        if (socket.waitForConnected(500)) {
            socket.write(RaiseRequest);
            socket.waitForBytesWritten(1000);
            socket.waitForDisconnected(1000);
            return true;
        }
        QThread::msleep(100);
    }
    return false;
}
