#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

// One running program per session archive. The first start holds a lock named after the
// archive and listens; a later start asks it to come to the front and ends without touching
// any file. A lock left by a killed program is recognised by its dead process and taken over.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    explicit SingleInstance(const QString& archivePath, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True for the first start; false when another program has the archive (it was asked to show itself).
    bool claim();

Q_SIGNALS:
    // A later start wants the window in front.
    void raiseRequested();

private:
    QString m_socketPath;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
};
