#pragma once

#include <zip.h>

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace ZipEngine
{

// The archive file as libzip reads and rewrites it. Reads come from the existing archive (a
// missing or empty file reads as an empty archive); the new archive goes to a temporary file in
// the archive's folder or the given temporary folder and replaces the old one only at commit,
// after it and its folder have been synced. Anything not committed is removed again.
class ArchiveSource
{
public:
    ArchiveSource(std::string path, std::string tempDir);
    ~ArchiveSource();
    ArchiveSource(const ArchiveSource&) = delete;
    ArchiveSource& operator=(const ArchiveSource&) = delete;

    // Opens the existing archive for reading; false with errorText() when it exists but cannot be read.
    bool open();
    // A libzip source over this object; the object must outlive it.
    zip_source_t* source(zip_error_t* error);

    bool existed() const { return m_readFd >= 0 && m_readSize > 0; }
    uint64_t written() const { return m_written; }
    const std::string& errorText() const { return m_errorText; }

private:
    static zip_int64_t dispatch(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command);
    zip_int64_t handle(void* data, zip_uint64_t length, zip_source_cmd_t command);
    zip_int64_t fail(int zipError, int sysError, std::string text);
    bool refuse(int zipError, int sysError, std::string text);

    bool beginWrite();
    bool writeAll(int fd, const void* data, size_t length);
    bool commit();
    bool moveIntoPlace(const std::string& from);
    void rollback();
    int createTemp(const std::string& folder, std::string& path);

    std::string m_path;
    std::string m_folder;
    std::string m_tempDir;
    int m_readFd = -1;
    uint64_t m_readSize = 0;
    uint64_t m_readPos = 0;
    time_t m_readTime = 0;
    mode_t m_mode = 0;
    bool m_hasMode = false;
    int m_writeFd = -1;
    std::string m_tempPath;
    uint64_t m_written = 0;
    zip_error_t m_error;
    std::string m_errorText;
};

} // namespace ZipEngine
