#include "session/RecoveryLog.h"

#include "loc/LocStrings.h"
#include "platform/AtomicFile.h"
#include "platform/MappedFile.h"
#include "session/RecoveryWriter.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace RecoveryFormat;

namespace
{
// A free name beside the file that tells when it was kept aside.
QString datedName(const QString& path)
{
    const QString base = path + QDateTime::currentDateTime().toString(QStringLiteral(".yyyy-MM-dd-HHmmss"));
    QString name = base;
    for (int number = 1; QFileInfo::exists(name) || QFileInfo(name).isSymLink(); ++number) {
        name = base + QLatin1Char('-') + QString::number(number);
    }
    return name;
}

QString keepAside(const QString& path)
{
    const QString name = datedName(path);
    return QFile::rename(path, name) ? name : QString();
}

// Opens the file for reading; a FIFO, a device or a link out of the file's folder is never opened, since
// reading it could block for ever or read what is not ours.
bool openRegularFile(const QString& path, MappedFile* file, QString* reason)
{
    const QString target = AtomicFile::resolveLinks(path);
    if (QFileInfo(target).absolutePath() != QFileInfo(path).absolutePath()) {
        *reason = LoadStr(sNotARegularFile);
        return false;
    }
    const int fd = ::open(QFile::encodeName(target).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    struct stat info
    {
    };
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *reason = fd < 0 && errno != ELOOP ? QString::fromLocal8Bit(std::strerror(errno)) : LoadStr(sNotARegularFile);
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    return file->open(fd, reason);
}

class StringTexts : public RecoveryLog::Texts
{
public:
    explicit StringTexts(QString* texts)
        : m_texts(texts)
    { }
    qsizetype size(RecoveryLog::Memo memo) const override { return m_texts[memo].size(); }
    void replace(RecoveryLog::Memo memo, qsizetype position, qsizetype removed, const QString& added) override
    {
        m_texts[memo].replace(position, removed, added);
    }
    void setText(RecoveryLog::Memo memo, const QString& text) override { m_texts[memo] = text; }

private:
    QString* m_texts;
};

// Applies records to the texts, joining runs of insertions that continue each other (captures
// at the end, typing) into one change, so that a long replay costs about what loading its text does.
class Applier
{
public:
    static constexpr qsizetype JoinedLimit = 1 << 20;

    explicit Applier(RecoveryLog::Texts& texts)
        : m_texts(texts)
    { }
    ~Applier() { flush(); }

    // False when the record does not fit the text as it is.
    bool apply(const Record& record)
    {
        const qsizetype pendingHere = m_pending && m_memo == record.memo ? m_added.size() : 0;
        const auto size = quint64(m_texts.size(record.memo) + pendingHere);
        if (record.type == WholeText) {
            flush();
            m_texts.setText(record.memo, text(record.text));
            return true;
        }
        if (record.position > size || record.removed > size - record.position) {
            return false;
        }
        const auto position = qsizetype(record.position);
        // Joined up to a size that keeps the text held here small beside the buffer.
        if (record.removed == 0 && m_pending && m_memo == record.memo && position == m_position + m_added.size()
            && m_added.size() < JoinedLimit) {
            appendText(m_added, record.text);
            return true;
        }
        flush();
        if (record.removed == 0) {
            m_pending = true;
            m_memo = record.memo;
            m_position = position;
            m_added = text(record.text);
        } else {
            m_texts.replace(record.memo, position, qsizetype(record.removed), text(record.text));
        }
        return true;
    }

    void flush()
    {
        if (m_pending) {
            m_pending = false;
            m_texts.replace(m_memo, m_position, 0, std::exchange(m_added, {}));
        }
    }

private:
    RecoveryLog::Texts& m_texts;
    bool m_pending = false;
    RecoveryLog::Memo m_memo = RecoveryLog::Journal;
    qsizetype m_position = 0;
    QString m_added;
};
} // namespace

RecoveryLog::RecoveryLog(QObject* parent)
    : QObject(parent)
    , m_thread(new QThread(this))
{ }

RecoveryLog::~RecoveryLog()
{
    if (m_writer) {
        QMetaObject::invokeMethod(
            m_writer, [writer = m_writer] { delete writer; }, Qt::BlockingQueuedConnection);
    }
    m_thread->quit();
    m_thread->wait();
}

void RecoveryLog::startWriter(const SessionFingerprint& base, qsizetype recordBytes, bool blocked)
{
    m_base = base;
    m_writer = new RecoveryWriter(m_path, header(base), recordBytes, blocked);
    m_writer->moveToThread(m_thread);
    connect(m_writer, &RecoveryWriter::writeFailed, this, &RecoveryLog::writeFailed);
    connect(m_writer, &RecoveryWriter::writeRecovered, this, &RecoveryLog::writeRecovered);
    m_thread->start();
}

RecoveryLog::Replay RecoveryLog::open(const QString& path, const SessionFingerprint& stored, QString texts[2])
{
    StringTexts strings(texts);
    return open(path, stored, strings);
}

RecoveryLog::Replay RecoveryLog::open(const QString& path, const SessionFingerprint& stored, Texts& texts)
{
    Replay replay;
    m_path = path;
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        startWriter(stored, 0, false);
        return replay;
    }
    MappedFile file;
    if (!openRegularFile(path, &file, &replay.reason)) {
        // Not ours to replace or delete: it moves aside, or stays where it is, untouched.
        replay.trouble = Replay::Trouble::Unreadable;
        replay.keptAside = keepAside(path);
        startWriter(stored, 0, replay.keptAside.isEmpty());
        return replay;
    }
    const QByteArrayView bytes = file.bytes();
    // Each walk through the records gives back the pages behind it.
    const auto walked = [&file](qsizetype offset) { file.release(offset); };
    const Parsed parsed = parse(bytes, walked);
    if (parsed.header == Parsed::Header::Begun) {
        // Killed while the file was being begun: nothing was recorded in it yet.
        QFile::remove(path);
        startWriter(stored, 0, false);
        return replay;
    }
    // Where each memo's recorded changes start: after the last store that the archive holds.
    qsizetype start[2] = { -1, -1 };
    bool recorded[2] = { false, false };
    for (const Memo memo : { Journal, Notes }) {
        if (parsed.base.memo[memo] == stored.memo[memo]) {
            start[memo] = 0;
        }
    }
    qsizetype lastSnapshot = -1;
    Record record;
    Records scan(bytes, parsed, walked);
    for (qsizetype i = 0; scan.next(record); ++i) {
        if (record.type == SnapshotTaken) {
            lastSnapshot = i;
        } else if (record.type == StoreBegins) {
            for (const Memo memo : { Journal, Notes }) {
                if (record.snapshot.memo[memo] == stored.memo[memo]) {
                    start[memo] = (lastSnapshot >= 0 ? lastSnapshot : i) + 1;
                }
            }
        } else {
            recorded[record.memo] = true;
        }
    }
    const bool fits = parsed.header == Parsed::Header::Valid && (start[Journal] >= 0 || !recorded[Journal])
        && (start[Notes] >= 0 || !recorded[Notes]);
    if (!fits) {
        replay.trouble = Replay::Trouble::NotThisSession;
        replay.keptAside = keepAside(path);
        startWriter(stored, 0, replay.keptAside.isEmpty());
        return replay;
    }

    // Records after one that cannot be read or applied were made on top of it: none of them is applied.
    qsizetype intactEnd = parsed.unreadableTail ? parsed.end : bytes.size();
    {
        Applier applier(texts);
        Records replayed(bytes, parsed, walked);
        for (qsizetype i = 0; replayed.next(record); ++i) {
            if (record.type == StoreBegins || record.type == SnapshotTaken || i < start[record.memo]) {
                continue;
            }
            if (!applier.apply(record)) {
                intactEnd = record.offset;
                break;
            }
            ++replay.changes;
        }
    }
    if (intactEnd < bytes.size()) {
        // The whole file goes aside; what was applied stays recorded where it was.
        replay.trouble = Replay::Trouble::Damaged;
        replay.keptAside = keepAside(path);
        QString reason;
        if (replay.keptAside.isEmpty()
            || !AtomicFile::write(path, QByteArray::fromRawData(bytes.data(), intactEnd), &reason)) {
            startWriter(stored, 0, replay.keptAside.isEmpty());
            return replay;
        }
    }
    startWriter(parsed.base, intactEnd - HeaderSize, false);
    return replay;
}

void RecoveryLog::append(const QByteArray& bytes, bool snapshot)
{
    QMetaObject::invokeMethod(m_writer, [writer = m_writer, bytes, snapshot] { writer->append(bytes, snapshot); });
}

void RecoveryLog::recordChange(Memo memo, qsizetype position, qsizetype removed, const QString& added)
{
    append(change(memo, position, removed, added));
}

void RecoveryLog::recordText(Memo memo, const QString& text)
{
    append(wholeText(memo, text));
}

void RecoveryLog::snapshotTaken()
{
    append(RecoveryFormat::snapshotTaken(), true);
}

void RecoveryLog::storeBegins(const SessionFingerprint& snapshot)
{
    append(RecoveryFormat::storeBegins(snapshot));
}

void RecoveryLog::storeSucceeded(const SessionFingerprint& snapshot)
{
    m_base = snapshot;
    QMetaObject::invokeMethod(m_writer, [writer = m_writer, head = header(m_base)] { writer->storeSucceeded(head); });
}

bool RecoveryLog::flush()
{
    bool safe = true;
    if (m_writer) {
        QMetaObject::invokeMethod(
            m_writer, [writer = m_writer, &safe] { safe = writer->sync(); }, Qt::BlockingQueuedConnection);
    }
    return safe;
}
