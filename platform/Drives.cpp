#include "platform/Drives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>
#include <map>

namespace Drives
{
namespace
{
struct TestDriveState
{
    DriveType type;
    QString label;
    bool readOnly = false;
    qint64 freeBytes = -1;
    qint64 totalBytes = -1;
};

std::map<QString, TestDriveState>& testDrives()
{
    static std::map<QString, TestDriveState> drives;
    return drives;
}

QString withSlash(QString path)
{
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

QString normalised(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// The longest test folder that holds the path.
std::map<QString, TestDriveState>::iterator findTestDrive(const QString& path)
{
    auto& drives = testDrives();
    auto best = drives.end();
    const QString probe = withSlash(normalised(path));
    for (auto it = drives.begin(); it != drives.end(); ++it) {
        if (probe.startsWith(withSlash(it->first)) && (best == drives.end() || it->first.size() > best->first.size()))
            best = it;
    }
    return best;
}

QString readSysFlag(const QString& file)
{
    QFile flag(file);
    if (!flag.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(flag.readAll()).trimmed();
}

bool isRemovableDevice(const QString& device)
{
    if (!device.startsWith(QLatin1String("/dev/")))
        return false;
    const QString name = QFileInfo(QFileInfo(device).canonicalFilePath()).fileName();
    if (name.isEmpty())
        return false;
    // A partition has no flag of its own; its disk is the folder above it in sysfs.
    const QString sysPath = QFileInfo(QStringLiteral("/sys/class/block/") + name).canonicalFilePath();
    if (sysPath.isEmpty())
        return false;
    QString flag = readSysFlag(sysPath + QStringLiteral("/removable"));
    if (flag.isEmpty())
        flag = readSysFlag(sysPath + QStringLiteral("/../removable"));
    return flag == QLatin1String("1");
}

DriveType classify(const QStorageInfo& storage)
{
    const QString fs = QString::fromLatin1(storage.fileSystemType()).toLower();
    const QString device = QString::fromLocal8Bit(storage.device());
    static const QStringList ram { QStringLiteral("tmpfs"), QStringLiteral("ramfs") };
    static const QStringList remote { QStringLiteral("nfs"), QStringLiteral("nfs4"), QStringLiteral("cifs"),
        QStringLiteral("smb3"), QStringLiteral("smbfs"), QStringLiteral("ncpfs"), QStringLiteral("afs"),
        QStringLiteral("ceph"), QStringLiteral("glusterfs"), QStringLiteral("9p"), QStringLiteral("sshfs"),
        QStringLiteral("fuse.sshfs"), QStringLiteral("davfs"), QStringLiteral("fuse.davfs2") };
    static const QStringList optical { QStringLiteral("iso9660"), QStringLiteral("udf") };
    if (ram.contains(fs))
        return DriveType::RamDisk;
    if (remote.contains(fs) || device.startsWith(QLatin1String("//")))
        return DriveType::Remote;
    if (optical.contains(fs))
        return DriveType::CdRom;
    if (isRemovableDevice(device))
        return DriveType::Removable;
    return DriveType::Fixed;
}
} // namespace

DriveInfo driveInfo(const QString& path)
{
    DriveInfo info;
    if (path.isEmpty())
        return info;
    auto test = findTestDrive(path);
    if (test != testDrives().end()) {
        const QStorageInfo storage(test->first);
        info.valid = true;
        info.root = withSlash(test->first);
        info.type = test->second.type;
        info.label = test->second.label;
        info.readOnly = test->second.readOnly;
        info.freeBytes = test->second.freeBytes >= 0 ? test->second.freeBytes : storage.bytesAvailable();
        info.totalBytes = test->second.totalBytes >= 0 ? test->second.totalBytes : storage.bytesTotal();
        return info;
    }

    QString existing = normalised(path);
    while (!QFileInfo::exists(existing) && existing != QLatin1String("/"))
        existing = QFileInfo(existing).path();
    const QStorageInfo storage(existing);
    if (!storage.isValid() || !storage.isReady())
        return info;
    info.valid = true;
    info.root = withSlash(storage.rootPath());
    info.type = classify(storage);
    info.label = storage.name();
    info.readOnly = storage.isReadOnly();
    info.freeBytes = storage.bytesAvailable();
    info.totalBytes = storage.bytesTotal();
    return info;
}

QString driveRoot(const QString& path)
{
    return driveInfo(path).root;
}

DriveType driveType(const QString& path)
{
    return driveInfo(path).type;
}

bool isFixedKind(DriveType type)
{
    return type == DriveType::Fixed || type == DriveType::Remote || type == DriveType::RamDisk;
}

bool setVolumeLabel(const QString& path, const QString& label)
{
    auto test = findTestDrive(path);
    if (test == testDrives().end() || test->second.readOnly)
        return false;
    test->second.label = label;
    return true;
}

bool formatDrive(const QString& path)
{
    Q_UNUSED(path);
    return false;
}

TestDrive::TestDrive(const QString& folder, DriveType type, const QString& label)
    : m_folder(normalised(folder))
{
    testDrives()[m_folder] = TestDriveState { type, label };
}

TestDrive::~TestDrive()
{
    testDrives().erase(m_folder);
}

void TestDrive::setReadOnly(bool readOnly)
{
    testDrives()[m_folder].readOnly = readOnly;
}

void TestDrive::setSpace(qint64 freeBytes, qint64 totalBytes)
{
    auto& state = testDrives()[m_folder];
    state.freeBytes = freeBytes;
    state.totalBytes = totalBytes;
}

QString TestDrive::label() const
{
    return testDrives()[m_folder].label;
}
} // namespace Drives
