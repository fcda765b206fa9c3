#pragma once

// Adding and extracting one entry through the component's memory stream, as the
// program's session code does.

#include "zip/ZipArchiver.h"

#include <QByteArray>
#include <QString>

namespace ZipTest
{
inline int add(TZipArchiver& zip, const QString& name, const QByteArray& data)
{
    zip.EntryStream()->Clear();
    zip.EntryStream()->write(data);
    return zip.AddStreamEntry(name, 0, 0x20);
}

// The entry's bytes, or "<none>" when the component gave no stream.
inline QByteArray extract(TZipArchiver& zip, const QString& name)
{
    zip.EntryStream()->Clear();
    TZipStream* stream = zip.ExtractEntryToStream(name);
    return stream ? stream->data() : QByteArray("<none>");
}
} // namespace ZipTest
