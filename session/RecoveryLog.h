#pragma once

#include "session/RecoveryFormat.h"

#include <QObject>
#include <QString>

class QThread;
class RecoveryWriter;

// A private file beside the archive holding every change made to the journal and the notes
// since they were last stored, written as it happens by a thread of its own, so that a crash,
// a kill or a power cut loses nothing. A successful store makes what came before it obsolete.
// Nothing recorded is kept in memory once written: the file is the only copy.
class RecoveryLog : public QObject
{
    Q_OBJECT

public:
    using Memo = RecoveryFormat::Memo;
    static constexpr Memo Journal = RecoveryFormat::Journal;
    static constexpr Memo Notes = RecoveryFormat::Notes;

    struct Replay
    {
        enum class Trouble {
            None,
            NotThisSession, // recorded on top of another store than the archive holds
            Damaged, // a record could not be read or applied; what came before it was
            Unreadable, // the file could not be read at all
        };
        int changes = 0; // changes applied to the stored texts
        Trouble trouble = Trouble::None;
        // Where the whole file was kept when not all of it was applied; empty when it could not be
        // moved aside, and then it is left in place and never written to.
        QString keptAside;
        QString reason; // why an unreadable file could not be read
    };

    explicit RecoveryLog(QObject* parent = nullptr);
    // Waits until everything recorded is written.
    ~RecoveryLog() override;

    // Where recorded changes are applied: the two memos' texts, LF line breaks.
    class Texts
    {
    public:
        virtual ~Texts() = default;
        virtual qsizetype size(Memo memo) const = 0;
        virtual void replace(Memo memo, qsizetype position, qsizetype removed, const QString& added) = 0;
        virtual void setText(Memo memo, const QString& text) = 0;
    };
    // Applies what the file at path recorded on top of the stored texts and records there from
    // now on. A file that does not fit the stored session, or that cannot be read or applied as a
    // whole, is kept aside under a dated name; nothing of it is ever deleted.
    Replay open(const QString& path, const SessionFingerprint& stored, Texts& texts);
    // The same for texts held in strings.
    Replay open(const QString& path, const SessionFingerprint& stored, QString texts[2]);
    const QString& path() const { return m_path; }

    // The characters [position, position + removed) were replaced by added.
    void recordChange(Memo memo, qsizetype position, qsizetype removed, const QString& added);
    void recordText(Memo memo, const QString& text);
    // A store takes its snapshot of the texts now; what is recorded later belongs to the next one.
    void snapshotTaken();
    // The snapshot's texts have this fingerprint and are about to be stored. Safe from any thread:
    // the store's worker calls it once it has the stored bytes.
    void storeBegins(const SessionFingerprint& snapshot);
    // The store succeeded: what was recorded before its snapshot is dropped.
    void storeSucceeded(const SessionFingerprint& snapshot);

    // Blocks until everything recorded is written and synced; whether it is.
    bool flush();

Q_SIGNALS:
    // Writing or syncing failed for the reason given; what failed to reach the file is written
    // again with the next change, and the file counts as safe again after the next store.
    void writeFailed(const QString& reason);
    // Everything recorded is in the file after all.
    void writeRecovered();

private:
    void startWriter(const SessionFingerprint& base, qsizetype recordBytes, bool blocked);
    void append(const QByteArray& record, bool snapshot = false);

    QString m_path;
    SessionFingerprint m_base;
    QThread* m_thread;
    RecoveryWriter* m_writer = nullptr;
};
