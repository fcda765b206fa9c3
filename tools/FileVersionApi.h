#pragma once

#include <QByteArray>
#include <QString>

// Stand-ins for the Windows version functions. A file carries its version block
// in an ELF section named ".vmxversion"; the running executable's own block is
// the compiled-in resource ResourcePath, answered for the process image and for
// the path AppPaths reports, whatever the file on disk holds.
namespace FileVersionApi
{
inline constexpr char SectionName[] = ".vmxversion";
inline constexpr char ResourcePath[] = ":/vellumix/VS_VERSION_INFO";

// Bytes needed for the file's version block; 0 when it has none or cannot be read.
quint32 GetFileVersionInfoSize(const QString& fileName);

// Copies at most size bytes of the block into data; false when there is no block.
bool GetFileVersionInfo(const QString& fileName, quint32 size, char* data);

// Finds subBlock in a version block: "\" names the fixed part, other paths name
// nodes by key, case-insensitively, with empty parts (doubled backslashes)
// skipped. A binary value comes back as its bytes, a text value as UTF-8 up to
// its terminator. False when the path is not found or the block is malformed.
bool VerQueryValue(const QByteArray& block, const QByteArray& subBlock, QByteArray* value);

// The version block carried by an ELF file's section, empty when there is none.
QByteArray elfSection(const QString& fileName);
} // namespace FileVersionApi
