#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class QThread;
class RecoveryWriter;

// What one store of the session holds: the size and CRC-32 of each memo's stored bytes,
// as the archive's directory tells them.
struct SessionFingerprint
{
    struct Entry
    {
        quint64 size = 0;
        quint32 crc = 0;
        bool operator==(const Entry&) const = default;
    };
    Entry memo[2]; // the journal, the notes
    bool operator==(const SessionFingerprint&) const = default;
};

// A private file beside the archive holding every change made to the journal and the notes
// since they were last stored, written as it happens by a thread of its own, so that a crash,
// a kill or a power cut loses nothing. A successful store makes what it holds obsolete.
class RecoveryLog : public QObject
{
    Q_OBJECT

public:
    enum Memo : quint8 { Journal = 0, Notes = 1 };

    struct Replay
    {
        int changes = 0; // changes applied to the stored texts
        QString keptAside; // a file that did not fit the stored session, moved to this name
    };

    explicit RecoveryLog(QObject* parent = nullptr);
    // Waits until everything recorded is written.
    ~RecoveryLog() override;

    // Applies what the file at path recorded on top of the stored texts (LF line breaks) and
    // records there from now on. A file that does not fit the stored session is kept aside.
    Replay open(const QString& path, const SessionFingerprint& stored, QString texts[2]);
    // Where recorded changes are applied: the two memos' texts, LF line breaks.
    class Texts
    {
    public:
        virtual ~Texts() = default;
        virtual qsizetype size(Memo memo) const = 0;
        virtual void replace(Memo memo, qsizetype position, qsizetype removed, const QString& added) = 0;
        virtual void setText(Memo memo, const QString& text) = 0;
    };
    // The same for texts held elsewhere, such as a view's buffer, which are changed in place.
    Replay open(const QString& path, const SessionFingerprint& stored, Texts& texts);
    const QString& path() const { return m_path; }

    // The characters [position, position + removed) were replaced by added.
    void recordChange(Memo memo, qsizetype position, qsizetype removed, const QString& added);
    void recordText(Memo memo, const QString& text);
    // A store of texts with this fingerprint begins; once it succeeded, what came before is dropped.
    void storeBegins(const SessionFingerprint& snapshot);
    void storeSucceeded();

    // Blocks until the writer has caught up (for an orderly exit and for tests).
    void flush();

Q_SIGNALS:
    // Writing failed for the reason given; what was recorded stays in memory and is written again
    // with the next change.
    void writeFailed(const QString& reason);
    // What failed has been written after all.
    void writeRecovered();

private:
    void append(const QByteArray& record);

    QString m_path;
    SessionFingerprint m_base;
    SessionFingerprint m_snapshot;
    QList<QByteArray> m_sinceSnapshot;
    QThread* m_thread;
    RecoveryWriter* m_writer;
};
