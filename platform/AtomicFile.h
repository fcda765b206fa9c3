#pragma once

#include <QByteArray>
#include <QString>

// Whole-file replacement that never leaves a file half written: the new bytes go
// to a temporary file beside the file's target, which is synced and renamed over it.
namespace AtomicFile
{
// The file a path stands for: a symbolic link's final target (which may not exist yet),
// else the path itself. Writing there keeps the link a link.
QString resolveLinks(const QString& path);

// Replaces the file's content. A new file is created for its owner alone; an existing one keeps
// its permissions. On failure the old file stays as it was and error tells the reason.
bool write(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// The temporary names made beside a file by write() and by the zip engine: the file's name,
// ".~vellumix-", the creating process's id, "-" and six letters or digits; pid gets the id.
bool isTemporaryNameOf(const QString& candidate, const QString& fileName, qint64* pid = nullptr);
// Removes such leftovers beside the file's target whose creating process has ended; returns how many.
int removeLeftovers(const QString& path);

// Brings the file's bytes and its name in its folder to the disk; whether its bytes got there.
bool sync(const QString& path);

// Writes all bytes to an open file descriptor, as many calls as it takes; false with errno set when one fails.
bool writeAll(int fd, const QByteArray& bytes);
} // namespace AtomicFile
