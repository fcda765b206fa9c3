#pragma once

#include <QByteArray>
#include <QString>

// Writes a whole file through a temporary file and a rename, so a failed write leaves the old
// file as it was. Raises an Exception naming the file and the reason.
void writeWholeFile(const QString& fileName, const QByteArray& bytes);
