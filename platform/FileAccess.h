#pragma once

#include <QString>

// Whether the program may write a file or create files in a folder. A file or
// folder whose owner has no write permission counts as read-only even for the
// superuser, like a read-only attribute: the user marked it so on purpose.
namespace FileAccess
{
bool isWritableFile(const QString& path);
bool isWritableFolder(const QString& path);

// While it lives, files the process creates are readable and writable by their owner only.
class PrivateFileCreation
{
public:
    PrivateFileCreation();
    ~PrivateFileCreation();
    PrivateFileCreation(const PrivateFileCreation&) = delete;
    PrivateFileCreation& operator=(const PrivateFileCreation&) = delete;
};

// A free name for a copy: "name.bak", else "name.bak.1", "name.bak.2", ...
QString freeBackupName(const QString& path);
} // namespace FileAccess
