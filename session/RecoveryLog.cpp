#include "session/RecoveryLog.h"

#include "platform/AtomicFile.h"
#include "platform/Crc32.h"
#include "platform/FileAccess.h"

#include <QDataStream>
#include <QFile>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace
{
constexpr char Magic[8] = { 'V', 'L', 'M', 'X', 'R', 'C', 'V', '1' };
enum RecordType : quint8 { Change = 1, WholeText = 2, StoreBegins = 3 };

QByteArray utf16(const QString& text)
{
    QByteArray bytes(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    if constexpr (QSysInfo::ByteOrder == QSysInfo::BigEndian) {
        for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
            std::swap(bytes[i], bytes[i + 1]);
        }
    }
    return bytes;
}

QString fromUtf16(QByteArrayView bytes)
{
    QString text(bytes.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        text[i] = QChar(char16_t(quint8(bytes[2 * i]) | quint8(bytes[2 * i + 1]) << 8));
    }
    return text;
}

void put(QDataStream& out, const SessionFingerprint& fingerprint)
{
    for (const auto& entry : fingerprint.memo) {
        out << entry.size << entry.crc;
    }
}

void get(QDataStream& in, SessionFingerprint& fingerprint)
{
    for (auto& entry : fingerprint.memo) {
        in >> entry.size >> entry.crc;
    }
}

// Every number in the file is little-endian, whatever the machine.
struct Writer : QDataStream
{
    explicit Writer(QByteArray* bytes)
        : QDataStream(bytes, QIODevice::WriteOnly)
    {
        setByteOrder(QDataStream::LittleEndian);
    }
};

// Length, type and payload, then the CRC of type and payload: a record cut short by a kill is recognised.
QByteArray record(RecordType type, const QByteArray& payload)
{
    QByteArray bytes;
    Writer out(&bytes);
    out << quint32(payload.size()) << quint8(type);
    bytes += payload;
    const quint32 crc = crc32(QByteArrayView(bytes).sliced(4));
    out.device()->seek(bytes.size());
    out << crc;
    return bytes;
}

QByteArray header(const SessionFingerprint& base)
{
    QByteArray bytes(Magic, sizeof Magic);
    QByteArray fingerprint;
    Writer out(&fingerprint);
    put(out, base);
    bytes += fingerprint;
    QByteArray check;
    Writer(&check) << crc32(bytes);
    return bytes + check;
}

constexpr qsizetype HeaderSize = sizeof Magic + 2 * (8 + 4) + 4;

struct Parsed
{
    bool valid = false;
    qsizetype end = 0; // where the last whole record ends
    SessionFingerprint base;
    struct Record
    {
        RecordType type;
        RecoveryLog::Memo memo = RecoveryLog::Journal;
        quint64 position = 0;
        quint64 removed = 0;
        QString text;
        SessionFingerprint snapshot;
    };
    QList<Record> records;
};

Parsed parse(const QByteArray& bytes)
{
    Parsed parsed;
    if (bytes.size() < HeaderSize || !bytes.startsWith(QByteArrayView(Magic, sizeof Magic))) {
        return parsed;
    }
    QDataStream in(bytes);
    in.setByteOrder(QDataStream::LittleEndian);
    in.skipRawData(sizeof Magic);
    get(in, parsed.base);
    quint32 check = 0;
    in >> check;
    if (check != crc32(QByteArrayView(bytes).first(HeaderSize - 4))) {
        return parsed;
    }
    parsed.valid = true;
    qsizetype at = HeaderSize;
    parsed.end = at;
    // Records end at the file's end or at the first one a kill cut short.
    while (bytes.size() - at >= 9) {
        quint32 length = qFromLittleEndian<quint32>(bytes.constData() + at);
        if (length > quint32(bytes.size() - at - 9)) {
            break;
        }
        const QByteArrayView body = QByteArrayView(bytes).sliced(at + 4, length + 1);
        if (qFromLittleEndian<quint32>(bytes.constData() + at + 5 + length) != crc32(body)) {
            break;
        }
        Parsed::Record record;
        record.type = RecordType(quint8(body[0]));
        const QByteArray payload = body.sliced(1).toByteArray();
        QDataStream fields(payload);
        fields.setByteOrder(QDataStream::LittleEndian);
        quint8 memo = 0;
        switch (record.type) {
        case Change:
            fields >> memo >> record.position >> record.removed;
            record.text = fromUtf16(QByteArrayView(payload).sliced(17));
            break;
        case WholeText:
            fields >> memo;
            record.text = fromUtf16(QByteArrayView(payload).sliced(1));
            break;
        case StoreBegins:
            get(fields, record.snapshot);
            break;
        default:
            return parsed;
        }
        if (memo > RecoveryLog::Notes || fields.status() != QDataStream::Ok) {
            return parsed;
        }
        record.memo = RecoveryLog::Memo(memo);
        parsed.records << record;
        at += 9 + length;
        parsed.end = at;
    }
    return parsed;
}
} // namespace

// Owns the file on its own thread: appends, syncs at most once a second, replaces it after a store.
class RecoveryWriter : public QObject
{
    Q_OBJECT

public:
    explicit RecoveryWriter(const QString& path)
        : m_path(path)
        , m_sync(new QTimer(this))
    {
        m_sync->setSingleShot(true);
        m_sync->setInterval(1000);
        connect(m_sync, &QTimer::timeout, this, &RecoveryWriter::sync);
    }
    ~RecoveryWriter() override { close(); }

    void append(const QByteArray& header, const QByteArray& bytes)
    {
        m_pending += bytes;
        if (m_fd < 0 && !openFile(header)) {
            return;
        }
        const off_t before = ::lseek(m_fd, 0, SEEK_END);
        if (!AtomicFile::writeAll(m_fd, m_pending)) {
            const int code = errno;
            // A record written in part would end the file for the reader; it goes again later.
            if (before >= 0) {
                (void)::ftruncate(m_fd, before);
            }
            failed(code);
            return;
        }
        m_pending.clear();
        if (m_failing) {
            m_failing = false;
            Q_EMIT writeRecovered();
        }
        if (!m_sync->isActive()) {
            m_sync->start();
        }
    }

    void replace(const QByteArray& content)
    {
        close();
        m_pending.clear();
        if (content.isEmpty()) {
            QFile::remove(m_path);
            return;
        }
        QString reason;
        if (!AtomicFile::write(m_path, content, &reason)) {
            m_failing = true;
            Q_EMIT writeFailed(reason);
        }
    }

    void sync()
    {
        if (m_fd >= 0) {
            ::fdatasync(m_fd);
        }
    }

Q_SIGNALS:
    void writeFailed(const QString& reason);
    void writeRecovered();

private:
    bool openFile(const QByteArray& headerIfNew)
    {
        const QByteArray native = QFile::encodeName(AtomicFile::resolveLinks(m_path));
        m_fd = ::open(native.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (m_fd < 0 && errno == ENOENT) {
            m_fd = ::open(native.constData(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (m_fd >= 0 && !AtomicFile::writeAll(m_fd, headerIfNew)) {
                const int code = errno;
                close();
                ::unlink(native.constData());
                failed(code);
                return false;
            }
        }
        if (m_fd < 0) {
            failed(errno);
            return false;
        }
        return true;
    }

    void failed(int code)
    {
        if (!m_failing) {
            m_failing = true;
            Q_EMIT writeFailed(QString::fromLocal8Bit(std::strerror(code)));
        }
    }

    void close()
    {
        if (m_fd >= 0) {
            ::fdatasync(m_fd);
            ::close(m_fd);
        }
        m_fd = -1;
        m_sync->stop();
    }

    QString m_path;
    int m_fd = -1;
    QByteArray m_pending;
    QTimer* m_sync;
    bool m_failing = false;
};

RecoveryLog::RecoveryLog(QObject* parent)
    : QObject(parent)
    , m_thread(new QThread(this))
    , m_writer(nullptr)
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

namespace
{
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
} // namespace

RecoveryLog::Replay RecoveryLog::open(const QString& path, const SessionFingerprint& stored, QString texts[2])
{
    StringTexts strings(texts);
    return open(path, stored, strings);
}

RecoveryLog::Replay RecoveryLog::open(const QString& path, const SessionFingerprint& stored, Texts& texts)
{
    Replay replay;
    m_path = path;
    m_base = stored;
    m_writer = new RecoveryWriter(path);
    m_writer->moveToThread(m_thread);
    connect(m_writer, &RecoveryWriter::writeFailed, this, &RecoveryLog::writeFailed);
    connect(m_writer, &RecoveryWriter::writeRecovered, this, &RecoveryLog::writeRecovered);
    m_thread->start();

    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly)) {
        return replay;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    if (bytes.size() < HeaderSize && QByteArrayView(Magic, sizeof Magic).startsWith(bytes.left(sizeof Magic))) {
        // Killed while the file was being begun: nothing was recorded in it yet.
        QFile::remove(path);
        return replay;
    }
    const Parsed parsed = parse(bytes);
    // Where each memo's recorded changes start: after the last store that the archive holds.
    qsizetype start[2] = { -1, -1 };
    bool recorded[2] = { false, false };
    for (int memo : { Journal, Notes }) {
        if (parsed.base.memo[memo] == stored.memo[memo]) {
            start[memo] = 0;
        }
    }
    for (qsizetype i = 0; i < parsed.records.size(); ++i) {
        const auto& record = parsed.records.at(i);
        if (record.type == StoreBegins) {
            for (int memo : { Journal, Notes }) {
                if (record.snapshot.memo[memo] == stored.memo[memo]) {
                    start[memo] = i + 1;
                }
            }
        } else {
            recorded[record.memo] = true;
        }
    }
    const bool fits
        = parsed.valid && (start[Journal] >= 0 || !recorded[Journal]) && (start[Notes] >= 0 || !recorded[Notes]);
    if (!fits) {
        replay.keptAside = FileAccess::freeBackupName(path);
        if (!QFile::rename(path, replay.keptAside)) {
            replay.keptAside.clear();
        }
        return replay;
    }
    for (qsizetype i = 0; i < parsed.records.size(); ++i) {
        const auto& record = parsed.records.at(i);
        if (record.type == StoreBegins || i < start[record.memo]) {
            continue;
        }
        const Memo memo = record.memo;
        const auto size = quint64(texts.size(memo));
        if (record.type == WholeText) {
            texts.setText(memo, record.text);
        } else if (record.position <= size && record.removed <= size - record.position) {
            texts.replace(memo, qsizetype(record.position), qsizetype(record.removed), record.text);
        } else {
            break;
        }
        ++replay.changes;
    }
    m_base = parsed.base;
    // A record a kill cut short would hide everything appended after it.
    if (parsed.end < bytes.size()) {
        QFile::resize(path, parsed.end);
    }
    return replay;
}

void RecoveryLog::append(const QByteArray& bytes)
{
    m_sinceSnapshot << bytes;
    QMetaObject::invokeMethod(
        m_writer, [writer = m_writer, head = header(m_base), bytes] { writer->append(head, bytes); });
}

void RecoveryLog::recordChange(Memo memo, qsizetype position, qsizetype removed, const QString& added)
{
    QByteArray payload;
    Writer(&payload) << quint8(memo) << quint64(position) << quint64(removed);
    append(record(Change, payload + utf16(added)));
}

void RecoveryLog::recordText(Memo memo, const QString& text)
{
    QByteArray payload;
    Writer(&payload) << quint8(memo);
    append(record(WholeText, payload + utf16(text)));
}

void RecoveryLog::storeBegins(const SessionFingerprint& snapshot)
{
    QByteArray payload;
    Writer out(&payload);
    put(out, snapshot);
    append(record(StoreBegins, payload));
    m_snapshot = snapshot;
    m_sinceSnapshot.clear();
}

void RecoveryLog::storeSucceeded()
{
    m_base = m_snapshot;
    QByteArray content;
    if (!m_sinceSnapshot.isEmpty()) {
        content = header(m_base);
        for (const QByteArray& bytes : m_sinceSnapshot) {
            content += bytes;
        }
    }
    QMetaObject::invokeMethod(m_writer, [writer = m_writer, content] { writer->replace(content); });
}

void RecoveryLog::flush()
{
    if (m_writer) {
        QMetaObject::invokeMethod(
            m_writer, [writer = m_writer] { writer->sync(); }, Qt::BlockingQueuedConnection);
    }
}

#include "RecoveryLog.moc"
