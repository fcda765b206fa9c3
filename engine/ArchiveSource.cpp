#include "engine/ArchiveSource.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ZipEngine
{

namespace
{

std::string folderOf(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string systemText(const std::string& what, const std::string& path, int error)
{
    return what + " " + path + ": " + std::strerror(error);
}

bool syncFolder(const std::string& folder)
{
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return ok;
}

} // namespace

ArchiveSource::ArchiveSource(std::string path, std::string tempDir)
    : m_path(std::move(path))
    , m_folder(folderOf(m_path))
    , m_tempDir(std::move(tempDir))
{
    while (m_tempDir.size() > 1 && m_tempDir.back() == '/')
        m_tempDir.pop_back();
    zip_error_init(&m_error);
}

ArchiveSource::~ArchiveSource()
{
    rollback();
    if (m_readFd >= 0)
        ::close(m_readFd);
    zip_error_fini(&m_error);
}

bool ArchiveSource::open()
{
    m_readFd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_readFd < 0) {
        if (errno == ENOENT)
            return true;
        m_errorText = systemText("Cannot open", m_path, errno);
        return false;
    }
    struct stat info;
    if (::fstat(m_readFd, &info) != 0 || !S_ISREG(info.st_mode)) {
        m_errorText = "Not a regular file: " + m_path;
        ::close(m_readFd);
        m_readFd = -1;
        return false;
    }
    m_readSize = static_cast<uint64_t>(info.st_size);
    m_readTime = info.st_mtime;
    m_mode = info.st_mode & 07777;
    m_hasMode = true;
    return true;
}

zip_source_t* ArchiveSource::source(zip_error_t* error)
{
    return zip_source_function_create(&ArchiveSource::dispatch, this, error);
}

zip_int64_t ArchiveSource::dispatch(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto* source = static_cast<ArchiveSource*>(self);
    // Nothing may be thrown through libzip's C frames.
    try {
        return source->handle(data, length, command);
    } catch (...) {
        return source->fail(ZIP_ER_MEMORY, 0, "Out of memory");
    }
}

zip_int64_t ArchiveSource::fail(int zipError, int sysError, std::string text)
{
    zip_error_set(&m_error, zipError, sysError);
    if (m_errorText.empty())
        m_errorText = std::move(text);
    return -1;
}

bool ArchiveSource::refuse(int zipError, int sysError, std::string text)
{
    fail(zipError, sysError, std::move(text));
    return false;
}

zip_int64_t ArchiveSource::handle(void* data, zip_uint64_t length, zip_source_cmd_t command)
{
    switch (command) {
    case ZIP_SOURCE_OPEN:
        m_readPos = 0;
        return 0;
    case ZIP_SOURCE_READ: {
        if (m_readFd < 0 || m_readPos >= m_readSize)
            return 0;
        size_t want = static_cast<size_t>(std::min<uint64_t>(length, m_readSize - m_readPos));
        ssize_t got;
        do {
            got = ::pread(m_readFd, data, want, static_cast<off_t>(m_readPos));
        } while (got < 0 && errno == EINTR);
        if (got < 0)
            return fail(ZIP_ER_READ, errno, systemText("Cannot read", m_path, errno));
        m_readPos += static_cast<uint64_t>(got);
        return got;
    }
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_SEEK: {
        zip_int64_t pos = zip_source_seek_compute_offset(m_readPos, m_readSize, data, length, &m_error);
        if (pos < 0)
            return -1;
        m_readPos = static_cast<uint64_t>(pos);
        return 0;
    }
    case ZIP_SOURCE_TELL:
        return static_cast<zip_int64_t>(m_readPos);
    case ZIP_SOURCE_STAT: {
        auto* st = static_cast<zip_stat_t*>(data);
        if (length < sizeof *st)
            return fail(ZIP_ER_INVAL, 0, "Invalid stat request");
        zip_stat_init(st);
        st->size = m_readSize;
        st->mtime = m_readTime;
        st->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
        return sizeof *st;
    }
    case ZIP_SOURCE_ACCEPT_EMPTY:
        return 1;
    case ZIP_SOURCE_BEGIN_WRITE:
        return beginWrite() ? 0 : -1;
    case ZIP_SOURCE_WRITE:
        if (m_writeFd < 0)
            return fail(ZIP_ER_INTERNAL, 0, "Write without a temporary file");
        if (!writeAll(m_writeFd, data, length))
            return -1;
        if (off_t pos = ::lseek(m_writeFd, 0, SEEK_CUR); pos > 0 && static_cast<uint64_t>(pos) > m_written)
            m_written = static_cast<uint64_t>(pos);
        return static_cast<zip_int64_t>(length);
    case ZIP_SOURCE_SEEK_WRITE: {
        auto* args = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, length, &m_error);
        if (args == nullptr)
            return -1;
        if (::lseek(m_writeFd, args->offset, args->whence) < 0)
            return fail(ZIP_ER_SEEK, errno, systemText("Cannot seek in", m_tempPath, errno));
        return 0;
    }
    case ZIP_SOURCE_TELL_WRITE: {
        off_t pos = ::lseek(m_writeFd, 0, SEEK_CUR);
        if (pos < 0)
            return fail(ZIP_ER_TELL, errno, systemText("Cannot tell in", m_tempPath, errno));
        return pos;
    }
    case ZIP_SOURCE_COMMIT_WRITE:
        return commit() ? 0 : -1;
    case ZIP_SOURCE_ROLLBACK_WRITE:
        rollback();
        return 0;
    case ZIP_SOURCE_REMOVE:
        if (::unlink(m_path.c_str()) != 0 && errno != ENOENT)
            return fail(ZIP_ER_REMOVE, errno, systemText("Cannot remove", m_path, errno));
        syncFolder(m_folder);
        return 0;
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&m_error, data, length);
    case ZIP_SOURCE_FREE:
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_SEEK,
            ZIP_SOURCE_TELL, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_ACCEPT_EMPTY,
            ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_WRITE, ZIP_SOURCE_SEEK_WRITE, ZIP_SOURCE_TELL_WRITE,
            ZIP_SOURCE_COMMIT_WRITE, ZIP_SOURCE_ROLLBACK_WRITE, ZIP_SOURCE_REMOVE, ZIP_SOURCE_SUPPORTS, -1);
    default:
        return fail(ZIP_ER_OPNOTSUPP, 0, "Unsupported archive operation");
    }
}

int ArchiveSource::createTemp(const std::string& folder, std::string& path)
{
    static constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    std::minstd_rand pick(static_cast<unsigned>(now.tv_nsec) ^ static_cast<unsigned>(getpid()));
    // "<archive>.~vellumix-<process>-" and six letters or digits: the program recognises the leftovers
    // of a killed store by it, and never takes a user's file for one.
    // snprintf, not std::to_string: that one's digit table is a unique symbol, which would keep the
    // library loaded for good after dlclose.
    char process[24];
    std::snprintf(process, sizeof process, "%ld", static_cast<long>(getpid()));
    std::string stem = (folder == "/" ? "" : folder) + "/" + baseOf(m_path) + ".~vellumix-" + process + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = stem;
        for (int i = 0; i < 6; ++i)
            path += Letters[pick() % (sizeof Letters - 1)];
        // 0666 lets the umask decide for a new archive, as for any file the user creates.
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (m_hasMode)
                (void)::fchmod(fd, m_mode);
            return fd;
        }
        if (errno != EEXIST)
            break;
    }
    fail(ZIP_ER_TMPOPEN, errno, systemText("Cannot create a temporary file in", folder, errno));
    path.clear();
    return -1;
}

bool ArchiveSource::beginWrite()
{
    rollback();
    m_written = 0;
    m_writeFd = createTemp(m_tempDir.empty() ? m_folder : m_tempDir, m_tempPath);
    return m_writeFd >= 0;
}

bool ArchiveSource::writeAll(int fd, const void* data, size_t length)
{
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        ssize_t done = ::write(fd, bytes, length);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return refuse(ZIP_ER_WRITE, errno, systemText("Cannot write", m_tempPath, errno));
        }
        bytes += done;
        length -= static_cast<size_t>(done);
    }
    return true;
}

bool ArchiveSource::commit()
{
    if (m_writeFd < 0)
        return refuse(ZIP_ER_INTERNAL, 0, "Commit without a temporary file");
    if (::fsync(m_writeFd) != 0)
        return refuse(ZIP_ER_WRITE, errno, systemText("Cannot sync", m_tempPath, errno));
    ::close(m_writeFd);
    m_writeFd = -1;
    if (!moveIntoPlace(m_tempPath))
        return false;
    m_tempPath.clear();
    if (!syncFolder(m_folder))
        return refuse(ZIP_ER_WRITE, errno, systemText("Cannot sync the folder", m_folder, errno));
    if (m_readFd >= 0)
        ::close(m_readFd);
    m_readFd = -1;
    m_readSize = 0;
    return open();
}

bool ArchiveSource::moveIntoPlace(const std::string& from)
{
    if (::rename(from.c_str(), m_path.c_str()) == 0)
        return true;
    if (errno != EXDEV)
        return refuse(ZIP_ER_RENAME, errno, systemText("Cannot replace", m_path, errno));
    // The temporary folder is on another file system: copy into the archive's folder first so
    // that the final step is still a rename.
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return refuse(ZIP_ER_READ, errno, systemText("Cannot reopen", from, errno));
    std::string local;
    int out = createTemp(m_folder, local);
    bool ok = out >= 0;
    std::vector<char> buffer(1 << 16);
    while (ok) {
        ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            ok = refuse(ZIP_ER_READ, errno, systemText("Cannot read", from, errno));
            break;
        }
        if (got == 0)
            break;
        ok = writeAll(out, buffer.data(), static_cast<size_t>(got));
    }
    ::close(in);
    if (ok && ::fsync(out) != 0)
        ok = refuse(ZIP_ER_WRITE, errno, systemText("Cannot sync", local, errno));
    if (out >= 0)
        ::close(out);
    if (ok && ::rename(local.c_str(), m_path.c_str()) != 0)
        ok = refuse(ZIP_ER_RENAME, errno, systemText("Cannot replace", m_path, errno));
    if (!ok && !local.empty())
        ::unlink(local.c_str());
    if (ok)
        ::unlink(from.c_str());
    return ok;
}

void ArchiveSource::rollback()
{
    if (m_writeFd >= 0)
        ::close(m_writeFd);
    m_writeFd = -1;
    if (!m_tempPath.empty())
        ::unlink(m_tempPath.c_str());
    m_tempPath.clear();
}

} // namespace ZipEngine
