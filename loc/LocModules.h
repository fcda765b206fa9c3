#pragma once

#include "platform/Exception.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// A module is the executable or a language library opened as data: a Qt binary
// resource file whose root holds the named raw-data resources. Handles are never reused.
using HMODULE = quintptr;

// The stream error of the platform: a read past the end of a resource.
class EReadError : public Exception
{
public:
    explicit EReadError(const QString& message = QStringLiteral("Stream read error"))
        : Exception(message)
    { }
};

// A read-only stream over one resource.
class TResourceStream
{
public:
    explicit TResourceStream(QByteArray data)
        : FData(std::move(data))
    { }

    qint64 Size() const { return FData.size(); }
    qint64 Position() const { return FPosition; }
    void Seek(qint64 position) { FPosition = qBound<qint64>(0, position, Size()); }
    // Throws EReadError unless all count bytes are there.
    void ReadBuffer(void* buffer, qint64 count);
    void Skip(qint64 count);

private:
    QByteArray FData;
    qint64 FPosition = 0;
};

namespace LocModules
{
// The executable; its resources are compiled in.
HMODULE appModule();
// Opens a library as data; 0 when the file is not a readable, well-formed library.
HMODULE loadAsData(const QString& path);
void freeModule(HMODULE module);
bool isLoaded(HMODULE module);
// The library's path; empty for the executable, whose path the caller knows.
QString libraryPath(HMODULE module);
QList<HMODULE> openLibraries();

// A named raw-data resource of a module, the name compared without regard to case.
std::optional<QByteArray> findResource(HMODULE module, const QString& name);

// The runtime's module list: each loaded module and its current resource module.
QList<HMODULE> moduleList();
HMODULE currentResourceModule(HMODULE module);
void setCurrentResourceModule(HMODULE module, HMODULE resourceModule);

// Whether data is a resource file whose every offset stays inside it; Qt trusts them.
bool isSoundResourceFile(const QByteArray& data);
} // namespace LocModules
