#include "session/RecoveryWriter.h"

#include "loc/LocStrings.h"
#include "platform/AtomicFile.h"
#include "session/RecoveryFormat.h"

#include <QFile>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

RecoveryWriter::RecoveryWriter(const QString& path, const QByteArray& header, qsizetype recordBytes, bool blocked)
    : m_path(path)
    , m_header(header)
    , m_written(recordBytes)
    , m_blocked(blocked)
    , m_sync(new QTimer(this))
{
    m_sync->setSingleShot(true);
    m_sync->setInterval(1000);
    connect(m_sync, &QTimer::timeout, this, &RecoveryWriter::sync);
}

RecoveryWriter::~RecoveryWriter()
{
    closeFile();
}

void RecoveryWriter::append(const QByteArray& bytes, bool snapshot)
{
    m_pending += bytes;
    if (snapshot) {
        m_snapshotEnd = m_written + m_pending.size();
    }
    if (m_blocked) {
        failed(LoadStr(sRecoveryLeftInPlace));
        return;
    }
    if (m_fd < 0 && !openFile()) {
        return;
    }
    if (!AtomicFile::writeAll(m_fd, m_pending)) {
        const int code = errno;
        // A record written in part would end the file for the reader; it goes again later.
        (void)::ftruncate(m_fd, m_header.size() + m_written);
        failedWith(code);
        return;
    }
    m_written += m_pending.size();
    m_pending.clear();
    tellIfSafe();
    if (!m_sync->isActive()) {
        m_sync->start();
    }
}

void RecoveryWriter::storeSucceeded(const QByteArray& header)
{
    if (m_blocked || m_snapshotEnd < 0) {
        return;
    }
    QByteArray after;
    if (!recordsFrom(m_snapshotEnd, &after)) {
        return;
    }
    // The new file begins at the snapshot: its marks would only repeat the header.
    after = RecoveryFormat::withoutStoreMarks(after);
    // The old file keeps everything until its replacement is in place.
    closeFile();
    QString reason;
    if (after.isEmpty()) {
        const QByteArray native = QFile::encodeName(AtomicFile::resolveLinks(m_path));
        if (::unlink(native.constData()) != 0 && errno != ENOENT) {
            failedWith(errno);
            return;
        }
    } else if (!AtomicFile::write(m_path, header + after, &reason)) {
        failed(reason);
        return;
    }
    m_header = header;
    m_written = after.size();
    m_pending.clear();
    m_snapshotEnd = -1;
    m_syncFailed = false;
    tellIfSafe();
}

bool RecoveryWriter::sync()
{
    if (m_fd >= 0 && ::fdatasync(m_fd) != 0) {
        m_syncFailed = true;
        failedWith(errno);
    }
    return !m_failing && m_pending.isEmpty();
}

bool RecoveryWriter::openFile()
{
    const QByteArray native = QFile::encodeName(AtomicFile::resolveLinks(m_path));
    // Not blocking, so that a FIFO put in the file's place cannot hold the thread.
    m_fd = ::open(native.constData(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK);
    bool created = false;
    if (m_fd < 0 && errno == ENOENT) {
        m_fd = ::open(native.constData(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        created = m_fd >= 0;
    }
    if (m_fd < 0) {
        failedWith(errno);
        return false;
    }
    struct stat info
    {
    };
    if (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(m_fd);
        m_fd = -1;
        failed(LoadStr(sNotARegularFile));
        return false;
    }
    if (created) {
        // What was written before went with the old file; the snapshot's place moves with what waits.
        m_snapshotEnd = m_snapshotEnd >= m_written ? m_snapshotEnd - m_written : -1;
        m_written = 0;
        if (!AtomicFile::writeAll(m_fd, m_header)) {
            const int code = errno;
            ::close(m_fd);
            m_fd = -1;
            ::unlink(native.constData());
            failedWith(code);
            return false;
        }
    } else {
        // Whatever the file holds after the records this writer knows of (a record cut short) is cut off.
        (void)::ftruncate(m_fd, m_header.size() + m_written);
    }
    return true;
}

bool RecoveryWriter::recordsFrom(qsizetype offset, QByteArray* records)
{
    records->clear();
    if (offset < m_written) {
        const QByteArray native = QFile::encodeName(AtomicFile::resolveLinks(m_path));
        const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            failedWith(errno);
            return false;
        }
        records->resize(m_written - offset);
        qsizetype done = 0;
        while (done < records->size()) {
            const ssize_t got = ::pread(
                fd, records->data() + done, size_t(records->size() - done), off_t(m_header.size() + offset + done));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                const int code = got < 0 ? errno : EIO;
                ::close(fd);
                failedWith(code);
                return false;
            }
            done += got;
        }
        ::close(fd);
    }
    *records += QByteArrayView(m_pending).sliced(qBound(qsizetype(0), offset - m_written, m_pending.size()));
    return true;
}

bool RecoveryWriter::closeFile()
{
    m_sync->stop();
    if (m_fd < 0) {
        return true;
    }
    bool closed = true;
    if (::fdatasync(m_fd) != 0) {
        m_syncFailed = true;
        failedWith(errno);
        closed = false;
    }
    if (::close(m_fd) != 0) {
        m_syncFailed = true;
        failedWith(errno);
        closed = false;
    }
    m_fd = -1;
    return closed;
}

void RecoveryWriter::failed(const QString& reason)
{
    if (!m_failing) {
        m_failing = true;
        Q_EMIT writeFailed(reason);
    }
}

void RecoveryWriter::failedWith(int code)
{
    failed(QString::fromLocal8Bit(std::strerror(code)));
}

void RecoveryWriter::tellIfSafe()
{
    if (m_failing && m_pending.isEmpty() && !m_syncFailed) {
        m_failing = false;
        Q_EMIT writeRecovered();
    }
}
