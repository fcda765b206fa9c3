#include "app/SingleInstance.h"

#include "platform/AtomicFile.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace
{
const QByteArray RaiseRequest = "raise\n";
}

SingleInstance::SingleInstance(const QString& archivePath, QObject* parent)
    : QObject(parent)
{
    // The same archive through another path or a link is the same archive.
    const QByteArray key = QFile::encodeName(AtomicFile::resolveLinks(QFileInfo(archivePath).absoluteFilePath()));
    const QString name = QStringLiteral("vellumix-")
        + QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(24));
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
    QDir().mkpath(folder);
    m_socketPath = QDir(folder).filePath(name);
    m_lock = std::make_unique<QLockFile>(m_socketPath + QStringLiteral(".lock"));
    // Never stale by age: only a holder that is no longer running gives the lock up.
    m_lock->setStaleLockTime(0);
}

SingleInstance::~SingleInstance()
{
    if (m_server) {
        m_server->close();
    }
}

bool SingleInstance::claim()
{
    if (m_lock->tryLock(0)) {
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
        return true;
    }
    // The running program may still be starting; it listens right after taking the lock.
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(m_socketPath);
        if (socket.waitForConnected(500)) {
            socket.write(RaiseRequest);
            socket.waitForBytesWritten(1000);
            socket.waitForDisconnected(1000);
            return false;
        }
        QThread::msleep(100);
    }
    return false;
}
