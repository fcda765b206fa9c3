#include "platform/Drives.h"
#include "zip/ZipDlg.h"
#include "zip/ZipMsgStr.h"
#include "zip/ZipWorker.h"
#include "zip/ZipWorkerRecords.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>

namespace
{
constexpr qint64 kSectorSize = 512;
constexpr int kSplittingItem = 11;
constexpr int kFatalDll = 10101;

QString withExtension(const QString& path, const QString& extension)
{
    const QString suffix = QFileInfo(path).suffix();
    return (suffix.isEmpty() ? path : path.chopped(suffix.size() + 1)) + extension;
}

qint64 roundToSectors(qint64 bytes)
{
    return (bytes + kSectorSize - 1) / kSectorSize * kSectorSize;
}

// Asks for another disk: the caller loops back to the disk prompt.
struct OtherDisk
{
};
} // namespace

// Writes a single-file archive onto parts. On a fixed drive every part it
// replaces is kept aside until the whole set is written, so a failure puts
// the old set back as it was.
class TZipPartWriter
{
public:
    TZipPartWriter(TZipWorker& worker, const QString& target)
        : w(worker)
        , m_target(target)
    { }

    void Run(const QString& source);
    void Finish(bool success);

private:
    struct Place
    {
        int disk;
        qint64 offset;
    };

    Place Write(const char* data, qint64 size, bool unsplit);
    void NextPart();
    void OpenPart();
    void ClosePart();
    QString PartName() const;
    void DecideStatus(const QString& name, bool& erase);
    void EraseDisk();
    void KeepAside(const QString& name);
    bool UsableSpace(qint64& usable);
    void CopyData(QFile& source, qint64 size);
    void RenameLastPart();

    TZipWorker& w;
    QString m_target;
    QDateTime m_date;
    qint64 m_sourceSize = 0;
    int m_scheme = 0;
    std::unique_ptr<QFile> m_part;
    qint64 m_room = 0;
    bool m_yesToAll = false;
    QStringList m_created;
    QList<QPair<QString, QString>> m_aside;
};

QString TZipPartWriter::PartName() const
{
    const int number = w.FDiskNumber + 1;
    if (m_scheme == 3)
        return withExtension(
            m_target, (number < 10 ? QStringLiteral(".z0") : QStringLiteral(".z")) + QString::number(number));
    if (m_scheme == 2) {
        const QString suffix = QFileInfo(m_target).suffix();
        return withExtension(m_target, QStringLiteral("%1").arg(number, 3, 10, QLatin1Char('0')))
            + (suffix.isEmpty() ? QString() : QStringLiteral(".") + suffix);
    }
    return m_target;
}

void TZipPartWriter::KeepAside(const QString& name)
{
    if (!w.FDriveFixed || !QFileInfo::exists(name))
        return;
    QString aside = name + QStringLiteral(".old~");
    for (int n = 1; QFileInfo::exists(aside); ++n)
        aside = name + QStringLiteral(".old%1~").arg(n);
    if (!QFile::rename(name, aside))
        throw EZipArchiver(11009, true);
    m_aside.append({ name, aside });
}

void TZipPartWriter::Finish(bool success)
{
    ClosePart();
    if (success) {
        for (const auto& kept : std::as_const(m_aside))
            QFile::remove(kept.second);
        return;
    }
    for (const QString& name : std::as_const(m_created))
        QFile::remove(name);
    for (const auto& kept : std::as_const(m_aside))
        QFile::rename(kept.second, kept.first);
}

void TZipPartWriter::DecideStatus(const QString& name, bool& erase)
{
    const QFileInfo info(name);
    TZipDiskStatus status;
    int previous = 0;
    bool overwrite = false;
    if (info.exists()) {
        w.FPartPath = name;
        previous = w.DiskFromName() - 1;
        overwrite = true;
        if (info.lastModified() == m_date && previous >= 0 && previous < w.FDiskNumber)
            status.insert(zdsPreviousDisk);
        else
            status.insert(zdsSameFileName);
    } else if (!w.FDriveFixed) {
        const bool empty = QDir(w.FDriveRoot).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        status.insert(empty ? zdsEmpty : zdsHasFiles);
    }
    if (m_yesToAll)
        return;
    if (w.OnStatusDisk) {
        TZipDiskAction action = TZipDiskAction::zdaOk;
        w.OnStatusDisk(w.Master(), previous, name, status, action);
        switch (action) {
        case TZipDiskAction::zdaYesToAll:
            m_yesToAll = true;
            break;
        case TZipDiskAction::zdaReject:
            if (w.FDriveFixed)
                throw EZipArchiver(11007, false);
            throw OtherDisk {};
        case TZipDiskAction::zdaCancel:
            throw EZipArchiver(11007, false);
        case TZipDiskAction::zdaErase:
            erase = true;
            break;
        default:
            break;
        }
        return;
    }
    if (!overwrite || w.Unattended())
        return;
    QString text = status.contains(zdsPreviousDisk) ? FormatMessageText(11040, previous + 1)
                                                    : FormatMessageText(11039, QDir::toNativeSeparators(name));
    const int answer
        = w.MessageDialog(LoadMessageText(11102), text, ZipDlgConfirm, { mbYes, mbNo, mbCancel, mbYesToAll });
    if (answer == mrYesToAll)
        m_yesToAll = true;
    else if (answer == mrNo && !w.FDriveFixed)
        throw OtherDisk {};
    else if (answer != mrYes)
        throw EZipArchiver(11007, false);
}

void TZipPartWriter::EraseDisk()
{
    const QString root = QDir(w.FDriveRoot).absolutePath();
    if (w.Settings().SpanOptions.contains(spTryFormat)) {
        // Formatting is not available on this platform: it counts as a failed format.
        if (!Drives::formatDrive(root))
            throw EZipArchiver(11007, true);
    } else {
        if (w.Settings().ConfirmErase) {
            QString text = FormatMessageText(11101, QDir::toNativeSeparators(root));
            if (w.MessageDialog(LoadMessageText(11102), text, ZipDlgConfirm, { mbYes, mbNo }) != mrYes)
                return;
        }
        QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        while (it.hasNext()) {
            const QFileInfo entry(it.next());
            if (entry.isDir() && !entry.isSymLink()) {
                if (w.Trace())
                    w.Report(TZipCore::zacMessage, 0, FormatMessageText(11600, entry.filePath()), 0);
                QDir(entry.filePath()).removeRecursively();
            } else {
                if (w.Trace())
                    w.Report(TZipCore::zacMessage, 0, FormatMessageText(11601, entry.filePath()), 0);
                QFile::remove(entry.filePath());
            }
        }
    }
    if (!w.Settings().SpanOptions.contains(spNoVolumeName)) {
        const QString label = QStringLiteral("PKBACK# %1").arg(w.FDiskNumber + 1, 3, 10, QLatin1Char('0'));
        if (!Drives::setVolumeLabel(root, label))
            throw EZipArchiver(11005, true);
    }
}

bool TZipPartWriter::UsableSpace(qint64& usable)
{
    w.ProbeDrive();
    qint64 reserve = roundToSectors(w.Settings().KeepFreeOnAllDisks);
    if (w.FDiskNumber == 0)
        reserve += roundToSectors(w.Settings().KeepFreeOnDisk1);
    usable = w.FFreeBytes < 0 ? 0 : std::max<qint64>(0, w.FFreeBytes - reserve);
    if (w.Settings().MaxVolumeSize > 0)
        usable = std::min<qint64>(usable, w.Settings().MaxVolumeSize);
    return usable >= std::max(w.Settings().MinFreeVolumeSize, 1);
}

void TZipPartWriter::OpenPart()
{
    for (;;) {
        try {
            if (!w.FDriveFixed) {
                // The disk prompt shows an estimate of the disks to come.
                qint64 usable = w.FTotalBytes - qint64(w.Settings().KeepFreeOnAllDisks);
                if (w.Settings().MaxVolumeSize > 0 && (usable <= 0 || w.Settings().MaxVolumeSize < usable))
                    usable = w.Settings().MaxVolumeSize;
                if (usable > 0)
                    w.FLastDiskNumber
                        = std::max<int>(w.FLastDiskNumber, int((m_sourceSize + w.Settings().KeepFreeOnDisk1 + 4) / usable));
                w.FNewDiskWanted = true;
            }
            w.FPartPath = m_target;
            w.DiskPrompt();
            const QString name = PartName();
            bool erase = !w.OnStatusDisk;
            DecideStatus(name, erase);
            if (!w.FDriveFixed && w.Settings().SpanOptions.contains(spWipeFiles) && erase)
                EraseDisk();
            KeepAside(name);
            for (;;) {
                m_part = std::make_unique<QFile>(name);
                if (m_part->open(QIODevice::WriteOnly | QIODevice::Truncate))
                    break;
                m_part.reset();
                QString text = FormatMessageText(11009, QDir::toNativeSeparators(name));
                if (w.Unattended() || w.MessageDialog(QString(), text, ZipDlgError, { mbRetry, mbCancel }) != mrRetry)
                    throw EZipArchiver(11007, false);
            }
            m_created.append(name);
            w.FPartPath = name;
            qint64 usable = 0;
            if (!UsableSpace(usable)) {
                m_part->close();
                m_part.reset();
                QFile::remove(name);
                m_created.removeLast();
                // A fixed drive has no other disk to offer.
                if (w.FDriveFixed)
                    throw EZipArchiver(11032, true);
                if (w.OnStatusDisk) {
                    TZipDiskAction action = TZipDiskAction::zdaOk;
                    w.OnStatusDisk(w.Master(), 0, name, TZipDiskStatus { zdsNotEnoughSpace }, action);
                    if (action == TZipDiskAction::zdaCancel)
                        throw EZipArchiver(11007, false);
                } else {
                    QString text = LoadMessageText(11032);
                    if (w.MessageDialog(QString(), text, ZipDlgError, { mbRetry, mbCancel }) != mrRetry)
                        throw EZipArchiver(11007, false);
                }
                throw OtherDisk {};
            }
            if (!w.FDriveFixed && !w.Settings().SpanOptions.contains(spNoVolumeName)) {
                const QString label = QStringLiteral("PKBACK# %1").arg(w.FDiskNumber + 1, 3, 10, QLatin1Char('0'));
                if (!Drives::setVolumeLabel(w.FDriveRoot, label))
                    throw EZipArchiver(11005, true);
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
        throw EZipArchiver(11010, true);
}

void TZipPartWriter::NextPart()
{
    ClosePart();
    ++w.FDiskNumber;
    OpenPart();
}

TZipPartWriter::Place TZipPartWriter::Write(const char* data, qint64 size, bool unsplit)
{
    if (w.Cancel())
        throw EZipArchiver(11007, true);
    if (!m_part)
        OpenPart();
    if (unsplit && m_room < size) {
        NextPart();
        // A header larger than a whole part can never be written unsplit.
        if (m_room < size)
            throw EZipArchiver(11032, true);
    }
    if (m_room == 0)
        NextPart();
    const Place place { w.FDiskNumber, m_part->pos() };
    while (size > 0) {
        if (m_room == 0)
            NextPart();
        const qint64 chunk = std::min(size, m_room);
        if (m_part->write(data, chunk) != chunk)
            throw EZipArchiver(11010, true);
        m_room -= chunk;
        data += chunk;
        size -= chunk;
        w.Report(TZipCore::zacXProgress, 0, QString(), chunk);
    }
    return place;
}

void TZipPartWriter::CopyData(QFile& source, qint64 size)
{
    char buffer[ZipRecords::CopyBlockSize];
    while (size > 0) {
        const qint64 chunk = std::min(size, ZipRecords::CopyBlockSize);
        if (source.read(buffer, chunk) != chunk)
            throw EZipArchiver(11021, true);
        Write(buffer, chunk, false);
        size -= chunk;
    }
}

void TZipPartWriter::RenameLastPart()
{
    const QString last = PartName();
    const QString zipName = withExtension(m_target, QStringLiteral(".zip"));
    if (last == zipName)
        return;
    if (QFileInfo::exists(zipName)) {
        bool replace = true;
        if (w.OnStatusDisk) {
            TZipDiskAction action = TZipDiskAction::zdaOk;
            w.OnStatusDisk(w.Master(), w.FDiskNumber, zipName, TZipDiskStatus { zdsSameFileName }, action);
            replace = action != TZipDiskAction::zdaCancel && action != TZipDiskAction::zdaReject;
        } else if (!w.Unattended()) {
            QString text = FormatMessageText(11039, QDir::toNativeSeparators(zipName));
            replace = w.MessageDialog(LoadMessageText(11102), text, ZipDlgConfirm, { mbYes, mbNo }) == mrYes;
        }
        if (!replace) {
            w.ReportMessageId(11050, QDir::toNativeSeparators(last));
            return;
        }
        KeepAside(zipName);
    }
    if (!QFile::rename(last, zipName))
        throw EZipArchiver(11010, true);
    m_created.removeAll(last);
    m_created.append(zipName);
}

void TZipPartWriter::Run(const QString& source)
{
    if (!QFileInfo(source).isFile())
        throw EZipArchiver(11001, true);
    if (QFileInfo(m_target).fileName().isEmpty())
        throw EZipArchiver(11009, true);
    w.FPartPath = m_target;
    w.ProbeDrive();
    if (w.FReadOnlyVolume)
        throw EZipArchiver(11051, m_target);
    w.FPartPath = source;
    ZipEndOfCentral eoc;
    w.FindEndRecord(eoc, true);
    const QByteArray comment = w.FZipComment;
    w.ClosePart();
    m_date = QFileInfo(source).lastModified();
    m_sourceSize = QFileInfo(source).size();
    w.FPartPath = m_target;
    w.ProbeDrive();
    m_scheme = w.FNameScheme == 1 ? 0 : w.FNameScheme;
    if (m_scheme == 0 && (w.FDriveFixed || w.Settings().SpanOptions.contains(spNoVolumeName)))
        m_scheme = w.Settings().SpanOptions.contains(spCompatName) ? 3 : 2;
    w.FDiskNumber = 0;
    w.FLastDiskNumber = 0;

    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        throw EZipArchiver(11001, true);
    // Central headers first: they hold the sizes that a data descriptor hides.
    if (!in.seek(eoc.CentralOffset))
        throw EZipArchiver(11008, true);
    std::vector<ZipCentralHeader> central;
    std::vector<QByteArray> tails;
    TZipDataList items(eoc.TotalEntries);
    for (int i = 0; i < eoc.TotalEntries; ++i) {
        ZipCentralHeader header;
        if (!header.Parse(in.read(ZipCentralHeader::Size)))
            throw EZipArchiver(11013, true);
        if (!header.SignatureOk)
            throw EZipArchiver(11015, true);
        const QByteArray tail = in.read(header.TailSize());
        if (tail.size() != header.TailSize())
            throw EZipArchiver(11013, true);
        auto& item = items.Item(i);
        item.NameLength = header.Fields.NameLength;
        item.Name = tail.left(item.NameLength);
        item.CompressedSize = header.Fields.CompressedSize;
        central.push_back(header);
        tails.push_back(tail);
    }

    w.Report(TZipCore::zacXItem, kSplittingItem, LoadMessageText(11411), m_sourceSize);
    ZipByteWriter marker;
    marker.u32(ZipRecords::MultiPartMarker);
    Write(marker.bytes().constData(), marker.bytes().size(), true);
    for (int i = 0; i < eoc.TotalEntries; ++i) {
        auto& item = items.Item(i);
        if (!in.seek(central[size_t(i)].Fields.LocalHeaderOffset))
            throw EZipArchiver(11008, true);
        QByteArray header = in.read(ZipLocalHeader::Size);
        ZipLocalHeader local;
        if (!local.Parse(header))
            throw EZipArchiver(11012, true);
        if (!local.SignatureOk)
            throw EZipArchiver(11014, true);
        const qint64 rest = qint64(local.NameLength) + local.ExtraLength;
        const QByteArray tail = in.read(rest);
        if (tail.size() != rest)
            throw EZipArchiver(11012, true);
        header += tail;
        w.Report(TZipCore::zacMessage, 0,
            LoadMessageText(10105) + QString::fromUtf8(item.Name).replace(QLatin1Char('/'), QLatin1Char('\\')), 0);
        const Place place = Write(header.constData(), header.size(), true);
        item.DiskNumber = quint16(place.disk);
        item.HeaderOffset = place.offset;
        CopyData(in, qint64(item.CompressedSize) + (local.HasDataDescriptor() ? ZipRecords::DataDescriptorSize : 0));
    }

    w.Report(TZipCore::zacMessage, 0, LoadMessageText(10105) + LoadMessageText(11047), 0);
    Place first { -1, 0 };
    std::vector<int> centralDisks;
    for (int i = 0; i < eoc.TotalEntries; ++i) {
        ZipCentralHeader& header = central[size_t(i)];
        const auto& item = items.Item(i);
        if (item.HeaderOffset > qint64(0xFFFFFFFF))
            throw EZipArchiver(10205, true);
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
        first = { w.FDiskNumber, m_part->pos() };
    }
    ZipEndOfCentral out = eoc;
    out.CentralDiskNo = quint16(first.disk);
    out.CentralOffset = quint32(first.offset);
    out.ZipCommentLen = quint16(comment.size());
    // The end record may still move to the next part, so its own disk is set last.
    if (m_room < end.size())
        NextPart();
    out.ThisDiskNo = quint16(w.FDiskNumber);
    out.CentralEntries = quint16(std::count(centralDisks.begin(), centralDisks.end(), w.FDiskNumber));
    end = out.Raw() + comment;
    Write(end.constData(), end.size(), true);
    ClosePart();
    if (w.FDriveFixed && m_scheme == 3)
        RenameLastPart();
    w.FLastDiskNumber = w.FDiskNumber;
}

int TZipWorker::WriteSpan(const QString& source, const QString& target)
{
    int result = 0;
    TZipPartWriter writer(*this, target);
    FWritingParts = true;
    try {
        writer.Run(source);
        writer.Finish(true);
    } catch (const EZipArchiver& e) {
        ReportException(e);
        result = -7;
    } catch (const std::bad_alloc&) {
        ReportException(EZipArchiver(10103, true));
        result = -8;
    } catch (const std::exception& e) {
        ReportMessageId(11024, QString::fromUtf8(e.what()));
        result = -9;
    }
    if (result != 0) {
        try {
            writer.Finish(false);
        } catch (...) {
            // Putting the old set back is all that is left to do.
        }
    }
    FWritingParts = false;
    ClosePart();
    return result;
}

int TZipWorker::SpanAdd(quint32 dosDate, quint32 attributes)
{
    const QString archive = QFileInfo(FZipFileName).absoluteFilePath();
    QString temp = MakeTempName();
    if (temp.isEmpty()) {
        ReportException(EZipArchiver(11027, true));
        return 0;
    }
    if (Verbose())
        Report(zacMessage, 0, FormatMessageText(10111, temp), 0);

    // An existing archive or set is joined first, so the add extends it.
    const QString source = ProbeArchiveFile(archive) == 209 ? withExtension(archive, QStringLiteral(".zip")) : archive;
    ZipEndOfCentral eoc;
    const int found = LocateLastPart(source, eoc, true);
    if (found < 0)
        return 0;
    QString plainSource;
    if (found == 0) {
        const bool multiPart = FMultiPart || eoc.ThisDiskNo != 0;
        const QString part = FPartPath;
        ClosePart();
        if (multiPart) {
            if (ReadSpan(source, temp, true) < 0)
                return 0;
        } else if (!QFile::copy(part, temp)) {
            ReportException(EZipArchiver(11009, true));
            return 0;
        } else {
            plainSource = part;
        }
    }

    int success = 0;
    FZipFileName = temp;
    try {
        TZipCommandBlock block;
        FillZipCommand(block, dosDate, attributes);
        SetHandlerErrorText(QString());
        FHandlerFailed = false;
        success = RunZip(&block.Record);
    } catch (const EZipArchiver& e) {
        ReportCommandError(e);
    } catch (const std::exception&) {
        ReportException(EZipArchiver(kFatalDll, true));
    }
    FZipFileName = archive;
    if (success > 0 && WriteSpan(temp, archive) != 0)
        success = 0;
    QFile::remove(temp);
    if (success > 0 && !plainSource.isEmpty()) {
        // The single-file archive now lives on in the parts; left beside them it would be listed instead.
        ZipEndOfCentral check;
        FPartPath = plainSource;
        const bool stillPlain = FindEndRecord(check, false) && check.ThisDiskNo == 0 && !FMultiPart;
        ClosePart();
        if (stillPlain)
            QFile::remove(plainSource);
    }
    if (success == 0) {
        // The directory was read from the temporary archive; read the set again but keep the error.
        const int code = ErrorCode();
        const QString message = ErrorMessage();
        List();
        SetErrorCode(code);
        SetErrorMessage(message);
    }
    return success;
}
