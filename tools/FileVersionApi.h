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

quint32 GetFileVersionInfoSize(const QString& fileName);

// Copies at most size bytes of the block into data.
bool GetFileVersionInfo(const QString& fileName, quint32 size, char* data);

// "\" names the fixed part; keys match case-insensitively and empty parts (doubled
// backslashes) are skipped. A text value comes back as UTF-8 up to its terminator.
bool VerQueryValue(const QByteArray& block, const QByteArray& subBlock, QByteArray* value);

QByteArray elfSection(const QString& fileName);
} // namespace FileVersionApi
