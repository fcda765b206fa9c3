#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class TZipCore;

// The path with its extension replaced, or with the extension added when it has none.
QString ZipWithExtension(const QString& path, const QString& extension);

// One multi-part set as the worker reads or writes it: the current part and its
// file, the numbering and names of the parts, and the facts of the drive they
// are on. Disks are asked for through the core's events and dialog.
class TZipPartSet
{
public:
    // How the parts of a set are told apart.
    enum NameScheme : int {
        nsUndetermined = 0,
        // Every part has the set's name; the volume label "PKBACK# 001" numbers the disk.
        nsVolumeLabels = 1,
        // name001.zip, name002.zip, …
        nsNumberedNames = 2,
        // name.z01, name.z02, …, name.zip for the last part.
        nsNumberedExtensions = 3,
    };

    explicit TZipPartSet(TZipCore& core);
    TZipPartSet(const TZipPartSet&) = delete;
    TZipPartSet& operator=(const TZipPartSet&) = delete;

    // The current part; only an existing file is opened, for reading.
    const QString& Path() const { return m_partPath; }
    void SetPath(const QString& path) { m_partPath = path; }
    bool Open();
    void Close();
    // Null when no part is open.
    QFile* File() const { return m_part.get(); }

    // 0-based; -1 stands for the last disk.
    int DiskNumber() const { return FDiskNumber; }
    void SetDiskNumber(int disk) { FDiskNumber = disk; }
    int LastDiskNumber() const { return FLastDiskNumber; }
    void SetLastDiskNumber(int disk) { FLastDiskNumber = disk; }
    NameScheme Scheme() const { return FNameScheme; }
    void SetScheme(NameScheme scheme) { FNameScheme = scheme; }
    // The next disk prompt asks even when the drive is ready.
    void WantNewDisk() { m_newDiskWanted = true; }

    // Refreshes the drive facts for the current part; false when the drive's size is unknown.
    // A path that names no drive raises 11003 or 11004.
    bool ProbeDrive();
    bool ProbeDrive(const QString& path);
    const QString& DriveRoot() const { return m_driveRoot; }
    bool DriveFixed() const { return m_driveFixed; }
    void SetDriveFixed(bool fixed) { m_driveFixed = fixed; }
    bool ReadOnlyVolume() const { return m_readOnlyVolume; }
    qint64 FreeBytes() const { return m_freeBytes; }
    qint64 TotalBytes() const { return m_totalBytes; }

    // Part names for the current disk: ".z01" … ".z99" (".zip" for the last disk),
    // or the three characters before the extension replaced by the disk's number.
    QString NumberedExtensionPath(const QString& path) const;
    QString NumberedNamePath(const QString& path) const;
    // The names a writer gives part `number` (1-based) of a set named `target`.
    static QString ExtensionPartName(const QString& target, int number);
    static QString AppendedPartName(const QString& target, int number);
    static QString ThreeDigits(int number);
    // "PKBACK# 001" for disk 0.
    static QString LabelForDisk(int disk);
    // The disk a part belongs to, by its volume label or its numbered name.
    int DiskFromName() const;
    // The first part of a set on a removable disk in name order: numbered names, then numbered extensions.
    static QString RemovableSearch(const QString& folder, const QString& base);

    // Reading: makes disk n current, asking for it until the right part is there, and opens it.
    void GetNewDisk(int disk);
    bool IsExpectedDisk();
    // On a removable drive asks for the disk that DiskNumber names; a refusal raises 11007.
    void DiskPrompt();

private:
    TZipCore& m_core;
    QString m_partPath;
    std::unique_ptr<QFile> m_part;
    int FDiskNumber = 0;
    int FLastDiskNumber = 0;
    bool m_newDiskWanted = false;
    NameScheme FNameScheme = nsUndetermined;
    QString m_driveRoot;
    bool m_driveFixed = true;
    QString m_volumeLabel;
    bool m_readOnlyVolume = false;
    qint64 m_freeBytes = -1;
    qint64 m_totalBytes = -1;
};

// What a write of parts has changed: the parts it made and the files it set aside under
// another name. On a fixed drive it is also kept beside the set, in "<archive>.parts~", so
// that a write cut short by a kill is undone by the next operation on the set, or, when the
// new set was complete, only the files set aside are removed.
class TZipPartJournal
{
public:
    // Keeps the record on disk as well; false when its file cannot be made.
    bool Open(const QString& archive);
    void SetAside(const QString& name, const QString& aside);
    // Recorded before the file is made.
    void Created(const QString& name);
    // The last part recorded was given up again and removed.
    void DropLastCreated();
    // The new set is complete: drops what was set aside.
    void Commit();
    // Removes the parts made and puts back what was set aside.
    void Rollback();

    // Finishes or undoes the write an earlier run left behind for this archive.
    static void Recover(const QString& archive);

private:
    static QString PathFor(const QString& archive);
    static void Undo(const QStringList& created, const QList<QPair<QString, QString>>& aside);
    static void Drop(const QList<QPair<QString, QString>>& aside);
    void Write(const QString& line);
    void Close();

    std::unique_ptr<QFile> m_file;
    QStringList m_created;
    QList<QPair<QString, QString>> m_aside;
};

// Where each local header landed while a multi-part set is joined or split.
class TZipDataList
{
public:
    struct LocalHeaderItem
    {
        quint16 DiskNumber = 0;
        qint64 HeaderOffset = 0;
        quint16 NameLength = 0;
        QByteArray Name;
        quint32 CompressedSize = 0;
    };

    explicit TZipDataList(int count);
    int Count() const { return int(m_items.size()); }
    // Raises "Index out of range" at or beyond the count.
    LocalHeaderItem& Item(int index);
    // The first item from `from` on with that name, without regard to case; -1 when there is none.
    int IndexOf(const QByteArray& name, int from = 0) const;

private:
    std::vector<LocalHeaderItem> m_items;
};
