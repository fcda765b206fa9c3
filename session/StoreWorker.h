#pragma once

#include "session/RecoveryFormat.h"
#include "session/SessionZip.h"
#include "textview/TextBuffer.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// Stores snapshots of the memos into the session archive on a thread of its own, through a zip
// component of its own: the stored bytes, their CRCs, deflate, encryption and the replace of the
// archive never hold up the window.
class StoreWorker : public QObject
{
    Q_OBJECT

public:
    struct Job
    {
        QString archive; // links resolved
        QString entryNames[2];
        TextBuffer::Snapshot texts[2];
        // An entry that did not change is left as the archive holds it, if its size and CRC agree.
        bool changed[2] = { true, true };
        bool newArchive = false; // then only its owner may read it
    };
    struct Done
    {
        SessionFingerprint snapshot;
        QString failure; // empty when stored
        QStringList written; // the entries written
    };

    // fingerprinted learns, on the worker's thread, what is about to be stored, before the archive is touched.
    explicit StoreWorker(std::function<void(const SessionFingerprint&)> fingerprinted);
    ~StoreWorker() override;

    // Runs on the worker's thread.
    Done run(const Job& job);

private:
    QString store(const Job& job, const QByteArray (&bytes)[2], Done& done);
    // Whether the archive's entry extracts whole, with its CRC and this size.
    bool readsBack(const QString& name, quint64 size);

    std::function<void(const SessionFingerprint&)> m_fingerprinted;
    std::unique_ptr<SessionZip> m_zip;
};
