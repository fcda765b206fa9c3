#pragma once

#include <QString>

// Where the running executable lies. Settings, session archive and language
// libraries are all found beside it. Tests point it at a folder of their own.
namespace AppPaths
{
QString executablePath();
void setExecutablePathForTesting(const QString& path);

// The executable's full path with its extension replaced ("…/vellumix" + ".ini").
QString besideExecutable(const QString& extension);
// The executable's file name without folder, extension replaced ("vellumix.clips").
QString executableNameWith(const QString& extension);
QString changeExtension(const QString& path, const QString& extension);
} // namespace AppPaths
