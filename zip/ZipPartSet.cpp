#include "zip/ZipPartSet.h"

#include "platform/Drives.h"
#include "zip/ZipCore.h"
#include "zip/ZipDlg.h"
#include "zip/ZipMsgStr.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace
{
// A name ending in ".zip" counts as the last of the numbered extensions.
constexpr int kNumberOfZipExtension = 99999;
const QString kLabelPrefix = QStringLiteral("PKBACK# ");

QString stemOf(const QString& path)
{
    return ZipWithExtension(path, QString());
}

QString numberedExtension(int number)
{
    return (number < 10 ? QStringLiteral(".z0") : QStringLiteral(".z")) + QString::number(number);
}
} // namespace

QString ZipWithExtension(const QString& path, const QString& extension)
{
    const QString suffix = QFileInfo(path).suffix();
    return (suffix.isEmpty() ? path : path.chopped(suffix.size() + 1)) + extension;
}

TZipPartSet::TZipPartSet(TZipCore& core)
    : m_core(core)
{ }

bool TZipPartSet::Open()
{
    Close();
    if (m_partPath.isEmpty() || !QFileInfo(m_partPath).isFile())
        return false;
    m_part = std::make_unique<QFile>(m_partPath);
    if (!m_part->open(QIODevice::ReadOnly)) {
        m_part.reset();
        return false;
    }
    return true;
}

void TZipPartSet::Close()
{
    if (m_part)
        m_part->close();
    m_part.reset();
}

bool TZipPartSet::ProbeDrive()
{
    return ProbeDrive(m_partPath);
}

bool TZipPartSet::ProbeDrive(const QString& path)
{
    if (path.isEmpty())
        throw EZipArchiver(ZipMsg::InvalidDrive, path);
    const Drives::DriveInfo info = Drives::driveInfo(QFileInfo(path).absoluteFilePath());
    if (!info.valid)
        throw EZipArchiver(ZipMsg::DriveNotDefined, path);
    m_driveRoot = info.root;
    m_driveFixed = Drives::isFixedKind(info.type);
    m_volumeLabel = info.label;
    m_readOnlyVolume = info.readOnly;
    m_freeBytes = info.freeBytes;
    m_totalBytes = info.totalBytes;
    return m_totalBytes >= 0;
}

QString TZipPartSet::ThreeDigits(int number)
{
    return QStringLiteral("%1").arg(number, 3, 10, QLatin1Char('0'));
}

QString TZipPartSet::LabelForDisk(int disk)
{
    return kLabelPrefix + ThreeDigits(disk + 1);
}

QString TZipPartSet::NumberedExtensionPath(const QString& path) const
{
    if (FDiskNumber < 0 || FDiskNumber >= FLastDiskNumber)
        return ZipWithExtension(path, QStringLiteral(".zip"));
    return ExtensionPartName(path, FDiskNumber + 1);
}

QString TZipPartSet::NumberedNamePath(const QString& path) const
{
    const QString suffix = QFileInfo(path).suffix();
    QString stem = stemOf(path);
    stem.chop(std::min<qsizetype>(3, QFileInfo(stem).fileName().size()));
    return stem + ThreeDigits(FDiskNumber + 1) + (suffix.isEmpty() ? QString() : QStringLiteral(".") + suffix);
}

QString TZipPartSet::ExtensionPartName(const QString& target, int number)
{
    return ZipWithExtension(target, numberedExtension(number));
}

QString TZipPartSet::AppendedPartName(const QString& target, int number)
{
    const QString suffix = QFileInfo(target).suffix();
    return stemOf(target) + ThreeDigits(number) + (suffix.isEmpty() ? QString() : QStringLiteral(".") + suffix);
}

int TZipPartSet::DiskFromName() const
{
    if (m_volumeLabel.startsWith(kLabelPrefix))
        return m_volumeLabel.mid(kLabelPrefix.size(), 3).toInt();
    return QFileInfo(stemOf(m_partPath)).fileName().right(3).toInt();
}

QString TZipPartSet::RemovableSearch(const QString& folder, const QString& base)
{
    const QDir dir(folder);
    const QDir::Filters filters = QDir::Files | QDir::Hidden;
    // Sorted by name: the order a directory listing gives is not stable here.
    for (const QString& name : dir.entryList({ base + QStringLiteral("???.zip") }, filters, QDir::Name)) {
        if (name.size() < base.size() + 7)
            continue;
        if (name.mid(name.size() - 7, 3).toInt() > 0)
            return dir.filePath(name);
    }
    for (const QString& name : dir.entryList({ base + QStringLiteral(".z??*") }, filters, QDir::Name)) {
        const QString tail = name.mid(base.size() + 2);
        const int number
            = tail.compare(QLatin1String("IP"), Qt::CaseInsensitive) == 0 ? kNumberOfZipExtension : tail.toInt();
        if (number > 0)
            return dir.filePath(name);
    }
    return {};
}

bool TZipPartSet::IsExpectedDisk()
{
    const QString start = m_partPath;
    if (!m_driveFixed && (FNameScheme == nsUndetermined || FNameScheme == nsVolumeLabels)) {
        if (m_volumeLabel == LabelForDisk(FDiskNumber) && QFileInfo::exists(start)) {
            FNameScheme = nsVolumeLabels;
            return true;
        }
    }
    if (FNameScheme == nsUndetermined) {
        const QString byExtension = NumberedExtensionPath(start);
        if (QFileInfo::exists(byExtension)) {
            m_partPath = byExtension;
            FNameScheme = nsNumberedExtensions;
            return true;
        }
        const QString byName = NumberedNamePath(start);
        if (QFileInfo::exists(byName)) {
            m_partPath = byName;
            FNameScheme = nsNumberedNames;
            return true;
        }
        if (m_driveFixed) {
            m_partPath = byName;
            return true;
        }
        return false;
    }
    if (FNameScheme == nsVolumeLabels)
        return false;
    const QString next = FNameScheme == nsNumberedNames ? NumberedNamePath(start) : NumberedExtensionPath(start);
    if (!m_driveFixed && !QFileInfo::exists(next))
        return false;
    m_partPath = next;
    return true;
}

void TZipPartSet::DiskPrompt()
{
    if (m_driveFixed) {
        if (m_core.Cancel())
            throw EZipArchiver(ZipMsg::UserCancelled, true);
        return;
    }
    m_core.Report(TZipCore::zacTick, 0, QString(), 0);
    while (m_newDiskWanted || !ProbeDrive()) {
        if (m_core.Unattended())
            throw EZipArchiver(ZipMsg::UnattendedSpanning, true);
        QString text = FDiskNumber < 0 ? LoadMessageText(ZipMsg::InsertLastDisk)
                                       : FormatMessageText(ZipMsg::InsertDiskOf, FDiskNumber + 1, FLastDiskNumber + 1);
        text += FormatMessageText(ZipMsg::InDrive, m_driveRoot);
        bool confirmed;
        if (m_core.OnGetNextDisk) {
            bool abort = false;
            m_core.OnGetNextDisk(m_core.Master(), FDiskNumber + 1, FLastDiskNumber + 1, m_driveRoot, abort);
            confirmed = !abort;
        } else {
            confirmed = m_core.MessageDialog(QString(), text, ZipDlgConfirm, { mbOK, mbCancel }) == mrOk;
        }
        if (!confirmed)
            throw EZipArchiver(ZipMsg::UserCancelled, true);
        m_newDiskWanted = false;
    }
}

void TZipPartSet::GetNewDisk(int disk)
{
    Close();
    FDiskNumber = disk;
    for (;;) {
        m_newDiskWanted = true;
        DiskPrompt();
        if (!IsExpectedDisk())
            continue;
        if (m_core.Verbose())
            m_core.Report(TZipCore::zacMessage, 0, FormatMessageText(ZipMsg::TraceOpeningDisk, m_partPath), 0);
        if (Open())
            return;
        if (m_driveFixed)
            throw EZipArchiver(ZipMsg::InputMissing, true);
        m_core.ReportMessageId(ZipMsg::InputMissing);
    }
}

TZipDataList::TZipDataList(int count)
    : m_items(size_t(std::max(count, 0)))
{ }

TZipDataList::LocalHeaderItem& TZipDataList::Item(int index)
{
    if (index < 0 || index >= Count())
        throw EZipArchiver(QStringLiteral("Index out of range"), true);
    return m_items[size_t(index)];
}

int TZipDataList::IndexOf(const QByteArray& name, int from) const
{
    for (size_t i = size_t(std::max(from, 0)); i < m_items.size(); ++i) {
        if (m_items[i].Name.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

namespace
{
const QString kJournalSuffix = QStringLiteral(".parts~");
const QByteArray kAsideTag = "aside";
const QByteArray kCreatedTag = "created";
const QByteArray kDoneTag = "done";

// Parts and the files set aside lie in the archive's folder; the journal names them without it.
QString inFolderOf(const QString& archive, const QByteArray& field)
{
    const QString name = QString::fromUtf8(QByteArray::fromPercentEncoding(field));
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QLatin1String("..") || name == QLatin1String("."))
        return {};
    return QFileInfo(archive).absoluteDir().filePath(name);
}
} // namespace

QString TZipPartJournal::PathFor(const QString& archive)
{
    return QFileInfo(archive).absoluteFilePath() + kJournalSuffix;
}

bool TZipPartJournal::Open(const QString& archive)
{
    m_file = std::make_unique<QFile>(PathFor(archive));
    if (m_file->open(QIODevice::WriteOnly | QIODevice::Truncate))
        return true;
    m_file.reset();
    return false;
}

void TZipPartJournal::Write(const QString& line)
{
    if (!m_file)
        return;
    // Each step is on disk before it is taken, so whatever a kill cuts short can be undone.
    m_file->write(line.toUtf8() + '\n');
    m_file->flush();
}

void TZipPartJournal::SetAside(const QString& name, const QString& aside)
{
    Write(QString::fromLatin1(kAsideTag + ' ' + QFileInfo(name).fileName().toUtf8().toPercentEncoding() + ' '
        + QFileInfo(aside).fileName().toUtf8().toPercentEncoding()));
    m_aside.append({ name, aside });
}

void TZipPartJournal::Created(const QString& name)
{
    Write(QString::fromLatin1(kCreatedTag + ' ' + QFileInfo(name).fileName().toUtf8().toPercentEncoding()));
    m_created.append(name);
}

void TZipPartJournal::DropLastCreated()
{
    if (!m_created.isEmpty())
        m_created.removeLast();
}

void TZipPartJournal::Commit()
{
    Write(QString::fromLatin1(kDoneTag));
    Drop(m_aside);
    Close();
}

void TZipPartJournal::Rollback()
{
    Undo(m_created, m_aside);
    Close();
}

void TZipPartJournal::Close()
{
    if (m_file) {
        m_file->close();
        m_file->remove();
        m_file.reset();
    }
    m_created.clear();
    m_aside.clear();
}

void TZipPartJournal::Undo(const QStringList& created, const QList<QPair<QString, QString>>& aside)
{
    for (const QString& name : created)
        QFile::remove(name);
    for (auto it = aside.crbegin(); it != aside.crend(); ++it)
        QFile::rename(it->second, it->first);
}

void TZipPartJournal::Drop(const QList<QPair<QString, QString>>& aside)
{
    for (const auto& kept : aside)
        QFile::remove(kept.second);
}

void TZipPartJournal::Recover(const QString& archive)
{
    QFile file(PathFor(archive));
    if (!file.open(QIODevice::ReadOnly))
        return;
    QStringList created;
    QList<QPair<QString, QString>> aside;
    bool done = false;
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().trimmed().split(' ');
        const QString first = inFolderOf(archive, fields.value(1));
        if (fields.first() == kAsideTag && fields.size() == 3) {
            const QString second = inFolderOf(archive, fields.value(2));
            if (!first.isEmpty() && !second.isEmpty())
                aside.append({ first, second });
        } else if (fields.first() == kCreatedTag && fields.size() == 2 && !first.isEmpty()) {
            created.append(first);
        } else if (fields.first() == kDoneTag) {
            done = true;
        }
    }
    file.close();
    if (done)
        Drop(aside);
    else
        Undo(created, aside);
    file.remove();
}
