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

    bool existed() const { return FReadFd >= 0 && FReadSize > 0; }
    uint64_t written() const { return FWritten; }
    const std::string& errorText() const { return FErrorText; }

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

    std::string FPath;
    std::string FFolder;
    std::string FTempDir;
    int FReadFd = -1;
    uint64_t FReadSize = 0;
    uint64_t FReadPos = 0;
    time_t FReadTime = 0;
    mode_t FMode = 0;
    bool FHasMode = false;
    int FWriteFd = -1;
    std::string FTempPath;
    uint64_t FWritten = 0;
    zip_error_t FError;
    std::string FErrorText;
};

} // namespace ZipEngine
