#include "zip/ZipPartWriter.h"

#include "platform/Drives.h"
#include "zip/ZipCore.h"
#include "zip/ZipDlg.h"
#include "zip/ZipMsgStr.h"
#include "zip/ZipSettings.h"
#include "zip/ZipWorker.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>
#include <new>

namespace
{
constexpr qint64 kSectorSize = 512;
constexpr int kSplittingItem = 11;

qint64 roundToSectors(qint64 bytes)
{
    return (bytes + kSectorSize - 1) / kSectorSize * kSectorSize;
}

// Asks for another disk: the caller loops back to the disk prompt.
struct OtherDisk
{
};
} // namespace

TZipPartWriter::TZipPartWriter(TZipPartSet& parts, TZipCore& core, const TZipSettings& settings, const QString& target)
    : m_parts(parts)
    , m_core(core)
    , m_settings(settings)
    , m_target(target)
{ }

QString TZipPartWriter::PartName() const
{
    const int number = m_parts.DiskNumber() + 1;
    if (m_scheme == TZipPartSet::nsNumberedExtensions)
        return TZipPartSet::ExtensionPartName(m_target, number);
    if (m_scheme == TZipPartSet::nsNumberedNames)
        return TZipPartSet::AppendedPartName(m_target, number);
    return m_target;
}

void TZipPartWriter::KeepAside(const QString& name)
{
    if (!m_parts.DriveFixed() || !QFileInfo::exists(name))
        return;
    QString aside = name + QStringLiteral(".old~");
    for (int n = 1; QFileInfo::exists(aside); ++n)
        aside = name + QStringLiteral(".old%1~").arg(n);
    m_journal.SetAside(name, aside);
    if (!QFile::rename(name, aside))
        throw EZipArchiver(ZipMsg::CreateOutputFailed, true);
}

void TZipPartWriter::Finish(bool success)
{
    ClosePart();
    if (success)
        m_journal.Commit();
    else
        m_journal.Rollback();
}

void TZipPartWriter::DecideStatus(const QString& name, bool& erase)
{
    const QFileInfo info(name);
    TZipDiskStatus status;
    int previous = 0;
    bool overwrite = false;
    if (info.exists()) {
        m_parts.SetPath(name);
        previous = m_parts.DiskFromName() - 1;
        overwrite = true;
        if (info.lastModified() == m_date && previous >= 0 && previous < m_parts.DiskNumber())
            status.insert(zdsPreviousDisk);
        else
            status.insert(zdsSameFileName);
    } else if (!m_parts.DriveFixed()) {
        const bool empty = QDir(m_parts.DriveRoot()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        status.insert(empty ? zdsEmpty : zdsHasFiles);
    }
    if (m_yesToAll)
        return;
    if (m_core.OnStatusDisk) {
        TZipDiskAction action = TZipDiskAction::zdaOk;
        m_core.OnStatusDisk(m_core.Master(), previous, name, status, action);
        switch (action) {
        case TZipDiskAction::zdaYesToAll:
            m_yesToAll = true;
            break;
        case TZipDiskAction::zdaReject:
            if (m_parts.DriveFixed())
                throw EZipArchiver(ZipMsg::UserCancelled, false);
            throw OtherDisk {};
        case TZipDiskAction::zdaCancel:
            throw EZipArchiver(ZipMsg::UserCancelled, false);
        case TZipDiskAction::zdaErase:
            erase = true;
            break;
        default:
            break;
        }
        return;
    }
    if (!overwrite || m_core.Unattended())
        return;
    QString text = status.contains(zdsPreviousDisk)
        ? FormatMessageText(ZipMsg::PreviousDisk, previous + 1)
        : FormatMessageText(ZipMsg::FileExistsOverwrite, QDir::toNativeSeparators(name));
    const int answer = m_core.MessageDialog(
        LoadMessageText(ZipMsg::ConfirmTitle), text, ZipDlgConfirm, { mbYes, mbNo, mbCancel, mbYesToAll });
    if (answer == mrYesToAll)
        m_yesToAll = true;
    else if (answer == mrNo && !m_parts.DriveFixed())
        throw OtherDisk {};
    else if (answer != mrYes)
        throw EZipArchiver(ZipMsg::UserCancelled, false);
}

void TZipPartWriter::EraseDisk()
{
    const QString root = QDir(m_parts.DriveRoot()).absolutePath();
    if (m_settings.SpanOptions.contains(spTryFormat)) {
        // Formatting is not available on this platform: it counts as a failed format.
        if (!Drives::formatDrive(root))
            throw EZipArchiver(ZipMsg::UserCancelled, true);
    } else {
        if (m_settings.ConfirmErase) {
            QString text = FormatMessageText(ZipMsg::EraseDrive, QDir::toNativeSeparators(root));
            if (m_core.MessageDialog(LoadMessageText(ZipMsg::ConfirmTitle), text, ZipDlgConfirm, { mbYes, mbNo })
                != mrYes)
                return;
        }
        QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        while (it.hasNext()) {
            const QFileInfo entry(it.next());
            if (entry.isDir() && !entry.isSymLink()) {
                if (m_core.Trace())
                    m_core.Report(
                        TZipCore::zacMessage, 0, FormatMessageText(ZipMsg::EraseRemoving, entry.filePath()), 0);
                QDir(entry.filePath()).removeRecursively();
            } else {
                if (m_core.Trace())
                    m_core.Report(
                        TZipCore::zacMessage, 0, FormatMessageText(ZipMsg::EraseDeleting, entry.filePath()), 0);
                QFile::remove(entry.filePath());
            }
        }
    }
    if (!m_settings.SpanOptions.contains(spNoVolumeName)) {
        if (!Drives::setVolumeLabel(root, TZipPartSet::LabelForDisk(m_parts.DiskNumber())))
            throw EZipArchiver(ZipMsg::LabelNotSet, true);
    }
}

bool TZipPartWriter::UsableSpace(qint64& usable)
{
    m_parts.ProbeDrive();
    qint64 reserve = roundToSectors(m_settings.KeepFreeOnAllDisks);
    if (m_parts.DiskNumber() == 0)
        reserve += roundToSectors(m_settings.KeepFreeOnDisk1);
    usable = m_parts.FreeBytes() < 0 ? 0 : std::max<qint64>(0, m_parts.FreeBytes() - reserve);
    if (m_settings.MaxVolumeSize > 0)
        usable = std::min<qint64>(usable, m_settings.MaxVolumeSize);
    return usable >= std::max(m_settings.MinFreeVolumeSize, 1);
}

void TZipPartWriter::OpenPart()
{
    for (;;) {
        try {
            if (!m_parts.DriveFixed()) {
                // The disk prompt shows an estimate of the disks to come.
                qint64 usable = m_parts.TotalBytes() - qint64(m_settings.KeepFreeOnAllDisks);
                if (m_settings.MaxVolumeSize > 0 && (usable <= 0 || m_settings.MaxVolumeSize < usable))
                    usable = m_settings.MaxVolumeSize;
                if (usable > 0)
                    m_parts.SetLastDiskNumber(std::max<int>(
                        m_parts.LastDiskNumber(), int((m_sourceSize + m_settings.KeepFreeOnDisk1 + 4) / usable)));
                m_parts.WantNewDisk();
            }
            m_parts.SetPath(m_target);
            m_parts.DiskPrompt();
            const QString name = PartName();
            bool erase = !m_core.OnStatusDisk;
            DecideStatus(name, erase);
            if (!m_parts.DriveFixed() && m_settings.SpanOptions.contains(spWipeFiles) && erase)
                EraseDisk();
            KeepAside(name);
            m_journal.Created(name);
            for (;;) {
                m_part = std::make_unique<QFile>(name);
                if (m_part->open(QIODevice::WriteOnly | QIODevice::Truncate))
                    break;
                m_part.reset();
                QString text = FormatMessageText(ZipMsg::CreateOutputFailed, QDir::toNativeSeparators(name));
                if (m_core.Unattended()
                    || m_core.MessageDialog(QString(), text, ZipDlgError, { mbRetry, mbCancel }) != mrRetry)
                    throw EZipArchiver(ZipMsg::UserCancelled, false);
            }
            m_parts.SetPath(name);
            qint64 usable = 0;
            if (!UsableSpace(usable)) {
                m_part->close();
                m_part.reset();
                QFile::remove(name);
                m_journal.DropLastCreated();
                // A fixed drive has no other disk to offer.
                if (m_parts.DriveFixed())
                    throw EZipArchiver(ZipMsg::NotEnoughSpace, true);
                if (m_core.OnStatusDisk) {
                    TZipDiskAction action = TZipDiskAction::zdaOk;
                    m_core.OnStatusDisk(m_core.Master(), 0, name, TZipDiskStatus { zdsNotEnoughSpace }, action);
                    if (action == TZipDiskAction::zdaCancel)
                        throw EZipArchiver(ZipMsg::UserCancelled, false);
                } else {
                    QString text = LoadMessageText(ZipMsg::NotEnoughSpace);
                    if (m_core.MessageDialog(QString(), text, ZipDlgError, { mbRetry, mbCancel }) != mrRetry)
                        throw EZipArchiver(ZipMsg::UserCancelled, false);
                }
                throw OtherDisk {};
            }
            if (!m_parts.DriveFixed() && !m_settings.SpanOptions.contains(spNoVolumeName)) {
                if (!Drives::setVolumeLabel(m_parts.DriveRoot(), TZipPartSet::LabelForDisk(m_parts.DiskNumber())))
                    throw EZipArchiver(ZipMsg::LabelNotSet, true);
            }
            m_room = usable;
            return;
        } catch (const OtherDisk&) {
            continue;
        }
    }
}

void TZipPartWriter::ClosePart()
{
    if (!m_part)
        return;
    if (m_date.isValid())
        m_part->setFileTime(m_date, QFileDevice::FileModificationTime);
    const bool flushed = m_part->flush();
    m_part->close();
    m_part.reset();
    if (!flushed)
        throw EZipArchiver(ZipMsg::WriteError, true);
}

void TZipPartWriter::NextPart()
{
    ClosePart();
    m_parts.SetDiskNumber(m_parts.DiskNumber() + 1);
    OpenPart();
}

TZipPartWriter::Place TZipPartWriter::Write(const char* data, qint64 size, bool unsplit)
{
    if (m_core.Cancel())
        throw EZipArchiver(ZipMsg::UserCancelled, true);
    if (!m_part)
        OpenPart();
    if (unsplit && m_room < size) {
        NextPart();
        // A header larger than a whole part can never be written unsplit.
        if (m_room < size)
            throw EZipArchiver(ZipMsg::NotEnoughSpace, true);
    }
    if (m_room == 0)
        NextPart();
    const Place place { m_parts.DiskNumber(), m_part->pos() };
    while (size > 0) {
        if (m_room == 0)
            NextPart();
        const qint64 chunk = std::min(size, m_room);
        if (m_part->write(data, chunk) != chunk)
            throw EZipArchiver(ZipMsg::WriteError, true);
        m_room -= chunk;
        data += chunk;
        size -= chunk;
        m_core.Report(TZipCore::zacXProgress, 0, QString(), chunk);
    }
    return place;
}

void TZipPartWriter::CopyData(QFile& source, qint64 size)
{
    char buffer[ZipRecords::CopyBlockSize];
    while (size > 0) {
        const qint64 chunk = std::min(size, ZipRecords::CopyBlockSize);
        if (source.read(buffer, chunk) != chunk)
            throw EZipArchiver(ZipMsg::ZippedDataReadError, true);
        Write(buffer, chunk, false);
        size -= chunk;
    }
}

void TZipPartWriter::RenameLastPart()
{
    const QString last = PartName();
    const QString zipName = ZipWithExtension(m_target, QStringLiteral(".zip"));
    if (last == zipName)
        return;
    if (QFileInfo::exists(zipName)) {
        bool replace = true;
        if (m_core.OnStatusDisk) {
            TZipDiskAction action = TZipDiskAction::zdaOk;
            m_core.OnStatusDisk(
                m_core.Master(), m_parts.DiskNumber(), zipName, TZipDiskStatus { zdsSameFileName }, action);
            replace = action != TZipDiskAction::zdaCancel && action != TZipDiskAction::zdaReject;
        } else if (!m_core.Unattended()) {
            QString text = FormatMessageText(ZipMsg::FileExistsOverwrite, QDir::toNativeSeparators(zipName));
            replace = m_core.MessageDialog(LoadMessageText(ZipMsg::ConfirmTitle), text, ZipDlgConfirm, { mbYes, mbNo })
                == mrYes;
        }
        if (!replace) {
            m_zipNameKept = true;
            m_core.ReportMessageId(ZipMsg::LastPartLeftAs, QDir::toNativeSeparators(last));
            return;
        }
        KeepAside(zipName);
    }
    m_journal.Created(zipName);
    if (!QFile::rename(last, zipName))
        throw EZipArchiver(ZipMsg::WriteError, true);
}

void TZipPartWriter::CheckTarget(const QString& source)
{
    if (!QFileInfo(source).isFile())
        throw EZipArchiver(ZipMsg::InputMissing, true);
    if (QFileInfo(m_target).fileName().isEmpty())
        throw EZipArchiver(ZipMsg::CreateOutputFailed, true);
    m_parts.SetPath(m_target);
    m_parts.ProbeDrive();
    if (m_parts.ReadOnlyVolume())
        throw EZipArchiver(ZipMsg::CannotWriteTo, m_target);
}

void TZipPartWriter::Run(const QString& source, const ZipEndOfCentral& eoc, const QByteArray& comment)
{
    m_date = QFileInfo(source).lastModified();
    m_sourceSize = QFileInfo(source).size();
    m_parts.SetPath(m_target);
    m_parts.ProbeDrive();
    // Only a fixed drive keeps parts aside, so only there is a write undone after a kill.
    if (m_parts.DriveFixed() && !m_journal.Open(m_target))
        throw EZipArchiver(ZipMsg::CreateOutputFailed, true);
    m_scheme = m_parts.Scheme() == TZipPartSet::nsVolumeLabels ? TZipPartSet::nsUndetermined : m_parts.Scheme();
    if (m_scheme == TZipPartSet::nsUndetermined
        && (m_parts.DriveFixed() || m_settings.SpanOptions.contains(spNoVolumeName)))
        m_scheme = m_settings.SpanOptions.contains(spCompatName) ? TZipPartSet::nsNumberedExtensions
                                                                 : TZipPartSet::nsNumberedNames;
    m_parts.SetDiskNumber(0);
    m_parts.SetLastDiskNumber(0);

    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        throw EZipArchiver(ZipMsg::InputMissing, true);
    // Central headers first: they hold the sizes that a data descriptor hides.
    if (!in.seek(eoc.CentralOffset))
        throw EZipArchiver(ZipMsg::SeekError, true);
    std::vector<ZipCentralHeader> central;
    std::vector<QByteArray> tails;
    TZipDataList items(eoc.TotalEntries);
    for (int i = 0; i < eoc.TotalEntries; ++i) {
        ZipCentralHeader header;
        if (!header.Parse(in.read(ZipCentralHeader::Size)))
            throw EZipArchiver(ZipMsg::CentralHeaderReadError, true);
        if (!header.SignatureOk)
            throw EZipArchiver(ZipMsg::CentralSignatureWrong, true);
        const QByteArray tail = in.read(header.TailSize());
        if (tail.size() != header.TailSize())
            throw EZipArchiver(ZipMsg::CentralHeaderReadError, true);
        auto& item = items.Item(i);
        item.NameLength = header.Fields.NameLength;
        item.Name = tail.left(item.NameLength);
        item.CompressedSize = header.Fields.CompressedSize;
        central.push_back(header);
        tails.push_back(tail);
    }

    m_core.Report(TZipCore::zacXItem, kSplittingItem, LoadMessageText(ZipMsg::ItemSplitting), m_sourceSize);
    ZipByteWriter marker;
    marker.u32(ZipRecords::MultiPartMarker);
    Write(marker.bytes().constData(), marker.bytes().size(), true);
    for (int i = 0; i < eoc.TotalEntries; ++i) {
        auto& item = items.Item(i);
        if (!in.seek(central[size_t(i)].Fields.LocalHeaderOffset))
            throw EZipArchiver(ZipMsg::SeekError, true);
        QByteArray header = in.read(ZipLocalHeader::Size);
        ZipLocalHeader local;
        if (!local.Parse(header))
            throw EZipArchiver(ZipMsg::LocalHeaderReadError, true);
        if (!local.SignatureOk)
            throw EZipArchiver(ZipMsg::LocalSignatureWrong, true);
        const qint64 rest = qint64(local.NameLength) + local.ExtraLength;
        const QByteArray tail = in.read(rest);
        if (tail.size() != rest)
            throw EZipArchiver(ZipMsg::LocalHeaderReadError, true);
        header += tail;
        m_core.Report(TZipCore::zacMessage, 0,
            LoadMessageText(ZipMsg::Copying)
                + QString::fromUtf8(item.Name).replace(QLatin1Char('/'), QLatin1Char('\\')),
            0);
        const Place place = Write(header.constData(), header.size(), true);
        item.DiskNumber = quint16(place.disk);
        item.HeaderOffset = place.offset;
        CopyData(in, qint64(item.CompressedSize) + (local.HasDataDescriptor() ? ZipRecords::DataDescriptorSize : 0));
    }

    m_core.Report(
        TZipCore::zacMessage, 0, LoadMessageText(ZipMsg::Copying) + LoadMessageText(ZipMsg::CentralDirectory), 0);
    Place first { -1, 0 };
    std::vector<int> centralDisks;
    for (int i = 0; i < eoc.TotalEntries; ++i) {
        ZipCentralHeader& header = central[size_t(i)];
        const auto& item = items.Item(i);
        if (item.HeaderOffset > qint64(0xFFFFFFFF))
            throw EZipArchiver(ZipMsg::FileOver4GB, true);
        header.Relocate(item.DiskNumber, quint32(item.HeaderOffset));
        const QByteArray block = header.Raw + tails[size_t(i)];
        const Place place = Write(block.constData(), block.size(), true);
        if (first.disk < 0)
            first = place;
        centralDisks.push_back(place.disk);
    }
    QByteArray end = eoc.Raw() + comment;
    if (first.disk < 0) {
        // No entries: the empty directory sits where the end record goes.
        if (!m_part || m_room < end.size()) {
            if (m_part)
                NextPart();
            else
                OpenPart();
        }
        first = { m_parts.DiskNumber(), m_part->pos() };
    }
    ZipEndOfCentral out = eoc;
    out.CentralDiskNo = quint16(first.disk);
    out.CentralOffset = quint32(first.offset);
    out.ZipCommentLen = quint16(comment.size());
    // The end record may still move to the next part, so its own disk is set last.
    if (m_room < end.size())
        NextPart();
    out.ThisDiskNo = quint16(m_parts.DiskNumber());
    out.CentralEntries = quint16(std::count(centralDisks.begin(), centralDisks.end(), m_parts.DiskNumber()));
    end = out.Raw() + comment;
    Write(end.constData(), end.size(), true);
    ClosePart();
    if (m_parts.DriveFixed() && m_scheme == TZipPartSet::nsNumberedExtensions)
        RenameLastPart();
    m_parts.SetLastDiskNumber(m_parts.DiskNumber());
}

int TZipWorker::WriteSpan(const QString& source, const QString& target)
{
    TZipPartWriter writer(m_parts, *this, m_settings, target);
    m_zipNameKept = false;
    const int result = RunSpanStep([&] {
        writer.CheckTarget(source);
        m_parts.SetPath(source);
        ZipEndOfCentral eoc;
        FindEndRecord(eoc, true);
        const QByteArray comment = m_zipComment;
        m_parts.Close();
        writer.Run(source, eoc, comment);
        writer.Finish(true);
        m_zipNameKept = writer.ZipNameKept();
        return int(srOk);
    });
    if (result != srOk) {
        try {
            writer.Finish(false);
        } catch (...) {
            // Putting the old set back is all that is left to do.
        }
    }
    m_parts.Close();
    return result;
}
