#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// One running program per session archive. The first start holds a lock on a file beside the
// archive, named after its fully resolved path, and listens on a local socket; a later start asks
// it through the socket to come to the front and ends without touching any file. The lock is a
// file lock: it goes with the process that held it, however that ended, and holds across runtime
// folders and, where the file server supports locks, across computers.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    explicit SingleInstance(const QString& archivePath, QObject* parent = nullptr);
    ~SingleInstance() override;

    enum class Claim {
        First, // this program has the archive
        Raised, // another program has it and was asked to show itself
        Refused, // another program has it and could not be reached
    };
    Claim claim();
    // Why the archive was refused, or why it is not known to be this program's alone; empty otherwise.
    const QString& problem() const { return m_problem; }
    const QString& lockFileName() const { return m_lockPath; }

Q_SIGNALS:
    // A later start wants the window in front.
    void raiseRequested();

private:
    void listen();
    bool askToRaise();

    QString m_archive;
    QString m_lockPath;
    QString m_socketPath;
    QString m_problem;
    int m_lockFd = -1;
    QLocalServer* m_server = nullptr;
};
