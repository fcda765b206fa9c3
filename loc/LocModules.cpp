#include "loc/LocModules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QResource>
#include <QSet>
#include <QtEndian>

#include <cstring>
#include <map>

void TResourceStream::ReadBuffer(void* buffer, qint64 count)
{
    if (count < 0 || count > Size() - FPosition) {
        throw EReadError();
    }
    if (count > 0) {
        std::memcpy(buffer, FData.constData() + FPosition, static_cast<size_t>(count));
    }
    FPosition += count;
}

void TResourceStream::Skip(qint64 count)
{
    if (count < 0 || count > Size() - FPosition) {
        throw EReadError();
    }
    FPosition += count;
}

namespace
{
constexpr HMODULE AppModuleHandle = 1;
const QString AppRoot = QStringLiteral(":/vellumix/exe");
// Libraries are bigger by far than any translation needs; this only guards memory.
constexpr qint64 MaxLibrarySize = 64 * 1024 * 1024;

struct Library
{
    QString path;
    QByteArray data;
    QString mapRoot;
};

struct Registry
{
    std::map<HMODULE, Library> libraries;
    std::map<HMODULE, HMODULE> current { { AppModuleHandle, AppModuleHandle } };
    HMODULE next = AppModuleHandle + 1;
};

// Lives until the process ends, like the runtime's own module list: Qt's resource
// list may point into a library's data until the very end.
Registry& registry()
{
    static auto* instance = new Registry;
    return *instance;
}

quint32 be32(const QByteArray& d, qint64 at)
{
    return qFromBigEndian<quint32>(d.constData() + at);
}

quint16 be16(const QByteArray& d, qint64 at)
{
    return qFromBigEndian<quint16>(d.constData() + at);
}

bool fits(const QByteArray& d, qint64 at, qint64 length)
{
    return at >= 0 && length >= 0 && at <= d.size() && length <= d.size() - at;
}

QString resourceRoot(HMODULE module)
{
    if (module == AppModuleHandle) {
        return AppRoot;
    }
    const auto it = registry().libraries.find(module);
    if (it == registry().libraries.end()) {
        return QString();
    }
    return QLatin1Char(':') + it->second.mapRoot;
}
} // namespace

namespace LocModules
{
HMODULE appModule()
{
    return AppModuleHandle;
}

bool isSoundResourceFile(const QByteArray& d)
{
    constexpr quint16 Compressed = 0x01, Directory = 0x02, CompressedZstd = 0x04;
    if (d.size() < 20 || !d.startsWith("qres")) {
        return false;
    }
    const quint32 version = be32(d, 4);
    if (version < 1 || version > 3 || (version >= 3 && d.size() < 24)) {
        return false;
    }
    const qint64 tree = be32(d, 8), data = be32(d, 12), names = be32(d, 16);
    const qint64 nodeSize = version >= 2 ? 22 : 14;
    const qint64 maxNodes = d.size() / nodeSize;

    QList<qint64> pending { 0 };
    QSet<qint64> seen { 0 };
    while (!pending.isEmpty()) {
        const qint64 node = pending.takeLast();
        const qint64 at = tree + node * nodeSize;
        if (node >= maxNodes || !fits(d, at, nodeSize)) {
            return false;
        }
        const quint16 flags = be16(d, at + 4);
        if (node != 0) {
            const qint64 name = names + be32(d, at);
            if (!fits(d, name, 6) || !fits(d, name + 6, qint64(be16(d, name)) * 2)) {
                return false;
            }
        } else if (!(flags & Directory)) {
            return false;
        }
        if (flags & Directory) {
            const qint64 count = be32(d, at + 6), first = be32(d, at + 10);
            if (count > maxNodes || first + count > maxNodes) {
                return false;
            }
            for (qint64 child = first; child < first + count; ++child) {
                // A node reached twice would make the tree a graph, and Qt would loop in it.
                if (seen.contains(child)) {
                    return false;
                }
                seen.insert(child);
                pending.append(child);
            }
        } else {
            if ((flags & CompressedZstd) && (flags & Compressed)) {
                return false;
            }
            const qint64 entry = data + be32(d, at + 10);
            if (!fits(d, entry, 4) || !fits(d, entry + 4, be32(d, entry))) {
                return false;
            }
        }
    }
    return true;
}

HMODULE loadAsData(const QString& path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile() || info.size() > MaxLibrarySize) {
        return 0;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.peek(4) != "qres") {
        return 0;
    }
    Library library;
    library.data = file.readAll();
    if (!isSoundResourceFile(library.data)) {
        return 0;
    }
    Registry& r = registry();
    const HMODULE handle = r.next++;
    library.path = info.absoluteFilePath();
    library.mapRoot = QStringLiteral("/vellumix/lib%1").arg(handle);
    if (!QResource::registerResource(reinterpret_cast<const uchar*>(library.data.constData()), library.mapRoot)) {
        return 0;
    }
    r.libraries.emplace(handle, std::move(library));
    return handle;
}

void freeModule(HMODULE module)
{
    auto& libraries = registry().libraries;
    const auto it = libraries.find(module);
    if (it == libraries.end()) {
        return;
    }
    QResource::unregisterResource(reinterpret_cast<const uchar*>(it->second.data.constData()), it->second.mapRoot);
    libraries.erase(it);
}

bool isLoaded(HMODULE module)
{
    return module == AppModuleHandle || registry().libraries.count(module) > 0;
}

QString libraryPath(HMODULE module)
{
    const auto it = registry().libraries.find(module);
    return it == registry().libraries.end() ? QString() : it->second.path;
}

QList<HMODULE> openLibraries()
{
    QList<HMODULE> result;
    for (const auto& entry : registry().libraries) {
        result.append(entry.first);
    }
    return result;
}

std::optional<QByteArray> findResource(HMODULE module, const QString& name)
{
    const QString root = resourceRoot(module);
    if (root.isEmpty() || name.isEmpty()) {
        return std::nullopt;
    }
    const QStringList entries = QDir(root).entryList(QDir::Files | QDir::Hidden);
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0) {
            QFile file(root + QLatin1Char('/') + entry);
            if (file.open(QIODevice::ReadOnly)) {
                return file.readAll();
            }
        }
    }
    return std::nullopt;
}

QList<HMODULE> moduleList()
{
    QList<HMODULE> result;
    for (const auto& entry : registry().current) {
        result.append(entry.first);
    }
    return result;
}

HMODULE currentResourceModule(HMODULE module)
{
    const auto it = registry().current.find(module);
    return it == registry().current.end() ? 0 : it->second;
}

void setCurrentResourceModule(HMODULE module, HMODULE resourceModule)
{
    registry().current[module] = resourceModule;
}
} // namespace LocModules
