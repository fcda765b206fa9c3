#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QTimer;

// Owns the recovery file on a thread of its own: appends records, syncs at most once a second,
// and after a store rewrites the file to hold only what came after the store began, read back
// from the file itself. What failed to reach the file waits here and goes with the next append;
// a rewrite that fails leaves the file as it was, so no record is ever dropped between the two.
class RecoveryWriter : public QObject
{
    Q_OBJECT

public:
    // header starts the file when it is created; recordBytes are the record bytes an existing
    // file already holds after its header. A blocked writer never touches the path: it holds a
    // file the program could not read, which is not ours to replace.
    RecoveryWriter(const QString& path, const QByteArray& header, qsizetype recordBytes, bool blocked);
    ~RecoveryWriter() override;

    void append(const QByteArray& bytes, bool snapshot);
    // The store of the last snapshot succeeded; header names its texts.
    void storeSucceeded(const QByteArray& header);
    // Whether every record is written and synced.
    bool sync();

Q_SIGNALS:
    void writeFailed(const QString& reason);
    void writeRecovered();

private:
    bool openFile();
    // The record bytes from offset on, in the file and still waiting; false when they cannot be read.
    bool recordsFrom(qsizetype offset, QByteArray* records);
    bool closeFile();
    void failed(const QString& reason);
    void failedWith(int code);
    void tellIfSafe();

    QString m_path;
    QByteArray m_header;
    int m_fd = -1;
    qsizetype m_written; // record bytes in the file after its header
    QByteArray m_pending; // record bytes not yet in the file
    qsizetype m_snapshotEnd = -1; // where the records after the last snapshot start
    bool m_blocked;
    bool m_failing = false;
    // A failed sync may have lost written pages for good: only a rewrite makes the file safe again.
    bool m_syncFailed = false;
    QTimer* m_sync;
};
