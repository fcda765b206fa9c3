#pragma once

#include <QString>

// Drives as the zip component sees them: the mount point holding a path is
// its drive root, with a type, a label, a read-only flag and free space.
namespace Drives
{
// The values of the Windows drive types, which callers compare against.
enum class DriveType { Unknown = 0, NoRootDir = 1, Removable = 2, Fixed = 3, Remote = 4, CdRom = 5, RamDisk = 6 };

struct DriveInfo
{
    bool valid = false;
    QString root; // ends with '/'
    DriveType type = DriveType::NoRootDir;
    QString label;
    bool readOnly = false;
    qint64 freeBytes = -1; // available to this user
    qint64 totalBytes = -1;
};

// A path that does not exist yet belongs to the drive of its nearest existing folder.
DriveInfo driveInfo(const QString& path);
QString driveRoot(const QString& path);
DriveType driveType(const QString& path);
// Fixed, remote and RAM drives stay put between parts of a multi-part set.
bool isFixedKind(DriveType type);

// Labels can be set, and drives formatted, only on drives declared by tests.
bool setVolumeLabel(const QString& path, const QString& label);
bool formatDrive(const QString& path);

// Test double: while it lives, the folder and everything below it is a drive
// of the given type and label.
class TestDrive
{
public:
    TestDrive(const QString& folder, DriveType type = DriveType::Removable, const QString& label = {});
    ~TestDrive();
    TestDrive(const TestDrive&) = delete;
    TestDrive& operator=(const TestDrive&) = delete;

    void setReadOnly(bool readOnly);
    void setSpace(qint64 freeBytes, qint64 totalBytes);
    QString label() const;

private:
    QString m_folder;
};
} // namespace Drives
