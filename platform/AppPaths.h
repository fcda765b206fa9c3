#pragma once

#include <QString>

// Where the running executable lies, and where its settings file and session
// archive live. Tests point it at a folder of their own.
namespace AppPaths
{
// The real file, with symbolic links resolved: an installed program started
// through bin/vellumix still finds what lies beside it.
QString executablePath();
void setExecutablePathForTesting(const QString& path);

// The executable's full path with its extension replaced ("…/vellumix" + ".ini").
QString besideExecutable(const QString& extension);
// The executable's file name without folder, extension replaced ("vellumix.clips").
QString executableNameWith(const QString& extension);
QString changeExtension(const QString& path, const QString& extension);

// Settings and archive lie beside the executable while its folder is writable
// (a portable copy); an installed program keeps them in the user's XDG folders:
// $XDG_CONFIG_HOME/vellumix/<name>.ini and $XDG_DATA_HOME/vellumix/<name>.vma.
bool dataBesideExecutable();
enum class Folder { Create, Leave };
// Create makes a missing folder (0700) so that the file can be written.
QString settingsFile(Folder folder = Folder::Create);
QString archiveFile(Folder folder = Folder::Create);

// $XDG_CONFIG_HOME and $XDG_DATA_HOME, or ~/.config and ~/.local/share when
// unset or not absolute.
QString configHome();
QString dataHome();
// Makes a folder and its missing parents, each 0700; true when it exists afterwards.
bool makePrivateFolder(const QString& path);
} // namespace AppPaths
