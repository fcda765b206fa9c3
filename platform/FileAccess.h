#pragma once

#include <QString>

// Whether the program may write a file or create files in a folder. A file or
// folder whose owner has no write permission counts as read-only even for the
// superuser, like a read-only attribute: the user marked it so on purpose.
namespace FileAccess
{
bool isWritableFile(const QString& path);
bool isWritableFolder(const QString& path);
} // namespace FileAccess
