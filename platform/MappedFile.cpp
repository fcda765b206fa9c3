#include "platform/MappedFile.h"

#include <sys/mman.h>
#include <unistd.h>

namespace
{
// Pages are given back in steps of this size: fewer system calls, and little held meanwhile.
constexpr qsizetype ReleaseStep = qsizetype(4) << 20;
} // namespace

bool MappedFile::open(int fd, QString* reason)
{
    if (!m_file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        *reason = m_file.errorString();
        ::close(fd);
        return false;
    }
    const qint64 size = m_file.size();
    if (size > 0) {
        if (uchar* mapped = m_file.map(0, size)) {
            m_mapped = true;
            m_bytes = QByteArrayView(reinterpret_cast<const char*>(mapped), qsizetype(size));
            return true;
        }
    }
    // Some file systems cannot map files; an empty file has nothing to map.
    m_read = m_file.readAll();
    if (m_file.error() != QFileDevice::NoError) {
        *reason = m_file.errorString();
        return false;
    }
    m_bytes = m_read;
    return true;
}

void MappedFile::release(qsizetype offset)
{
    if (!m_mapped || offset - m_released < ReleaseStep) {
        return;
    }
    const auto page = qsizetype(::sysconf(_SC_PAGESIZE));
    const qsizetype end = qMin(offset, m_bytes.size()) / page * page;
    // The mapping is shared with the file: pages given back are read from it again when touched.
    ::madvise(const_cast<char*>(m_bytes.data()) + m_released, std::size_t(end - m_released), MADV_DONTNEED);
    m_released = end;
}
