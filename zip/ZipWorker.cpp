#include "zip/ZipWorker.h"

#include "platform/Drives.h"
#include "zip/ZipDlg.h"
#include "zip/ZipMsgStr.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <new>

namespace
{
constexpr int kLoadingDirectoryItem = 9;
constexpr int kJoiningItem = 10;
constexpr int kGarbageLimit = 512;
constexpr quint8 kGarbageBelow = 0x2F;
constexpr int kNoIP = 99999;

// Code page 437, bytes 0x80 to 0xFF.
constexpr std::array<char16_t, 128> kCp437High { 0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA,
    0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB,
    0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1,
    0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593,
    0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C,
    0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584,
    0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9,
    0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0,
    0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0 };

QString withExtension(const QString& path, const QString& extension)
{
    const QFileInfo info(path);
    const QString suffix = info.suffix();
    QString stem = path;
    if (!suffix.isEmpty())
        stem.chop(suffix.size() + 1);
    return stem + extension;
}

QString stemOf(const QString& path)
{
    return withExtension(path, QString());
}

QString threeDigits(int number)
{
    return QStringLiteral("%1").arg(number, 3, 10, QLatin1Char('0'));
}

// The last part was not found; the search has reported why.
struct LocateFailed
{
};

// Reports a component error in quiet searches that must still be shown.
struct ForcedReport : EZipArchiver
{
    using EZipArchiver::EZipArchiver;
};
} // namespace

TZipDataList::TZipDataList(int count)
    : FItems(size_t(std::max(count, 0)))
{ }

TZipDataList::LocalHeaderItem& TZipDataList::Item(int index)
{
    if (index < 0 || index >= Count())
        throw EZipArchiver(QStringLiteral("Index out of range"), true);
    return FItems[size_t(index)];
}

int TZipDataList::IndexOf(const QByteArray& name) const
{
    for (size_t i = 0; i < FItems.size(); ++i) {
        if (FItems[i].Name.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

TZipStream::TZipStream()
{
    open(QIODevice::ReadWrite);
}

void TZipStream::Clear()
{
    buffer().clear();
    seek(0);
}

TZipWorker::TZipWorker(QObject* master)
    : TZipEngineBind(master)
    , FEntryStream(std::make_unique<TZipStream>())
{ }

TZipWorker::~TZipWorker()
{
    // A running command must not call back into a worker being destroyed.
    AbortEngine();
    ClosePart();
}

void TZipWorker::TakeSettings(const TZipSettings& settings)
{
    m_settings = settings;
    SetUnattended(settings.Unattended);
    SetVerbose(settings.Verbose);
    SetTrace(settings.Trace);
    SetDllDirectory(settings.DLLDirectory);
    SetTempDir(settings.TempDir);
}

void TZipWorker::Activate()
{
    if (FActive)
        return;
    FActive = true;
    if (FListingDue)
        List();
    FListingDue = false;
}

void TZipWorker::Deactivate()
{
    FActive = false;
}

void TZipWorker::SetZipFileName(const QString& name)
{
    FZipFileName = name;
    List();
}

int TZipWorker::Count() const
{
    return FZipFileName.isEmpty() ? 0 : int(FEntries.size());
}

void TZipWorker::ResetState()
{
    TZipEngineBind::ResetState();
}

void TZipWorker::ClearDirectory()
{
    FEntries.clear();
    FDirOnlyCount = 0;
    FZipComment.clear();
    FArchiveComment.clear();
    FZipStartOffset = 0;
    FCentralStart = 0;
    FCentralOffset = 0;
    FStructureWarning = false;
    FMultiPart = false;
    FFirstPartOfSet = false;
    FHostNum = 0;
    FHostVer = 20;
}

void TZipWorker::ClosePart()
{
    if (FPart)
        FPart->close();
    FPart.reset();
}

bool TZipWorker::OpenPart()
{
    ClosePart();
    if (FPartPath.isEmpty() || !QFileInfo(FPartPath).isFile())
        return false;
    FPart = std::make_unique<QFile>(FPartPath);
    if (!FPart->open(QIODevice::ReadOnly)) {
        FPart.reset();
        return false;
    }
    return true;
}

QString TZipWorker::OemToText(const QByteArray& raw)
{
    QString text;
    text.reserve(raw.size());
    for (char c : raw) {
        const auto byte = quint8(c);
        text += byte < 0x80 ? QChar(byte) : QChar(kCp437High[byte - 0x80]);
    }
    return text;
}

QByteArray TZipWorker::TextToOem(const QString& text)
{
    QByteArray raw;
    raw.reserve(text.size());
    for (QChar c : text) {
        if (c.unicode() < 0x80) {
            raw += char(c.unicode());
            continue;
        }
        const auto* hit = std::find(kCp437High.begin(), kCp437High.end(), c.unicode());
        raw += hit == kCp437High.end() ? '?' : char(0x80 + (hit - kCp437High.begin()));
    }
    return raw;
}

QString TZipWorker::ConvertEntryText(const QByteArray& raw, quint8 host, quint8 version, bool utf8Flag) const
{
    // A name flagged as UTF-8 says so itself, whatever made it.
    if (utf8Flag)
        return QString::fromUtf8(raw);
    const bool convert = m_settings.CodePage == CodePageOpts::cpOEM || (m_settings.CodePage == CodePageOpts::cpAuto && host == 0) || host == 6
        || (host == 11 && version == 50);
    return convert ? OemToText(raw) : QString::fromUtf8(raw);
}

QByteArray TZipWorker::ConvertToEntryText(const QString& text, quint8 host, quint8 version) const
{
    const bool convert = m_settings.CodePage == CodePageOpts::cpOEM || (m_settings.CodePage == CodePageOpts::cpAuto && host == 0) || host == 6
        || (host == 11 && version == 50);
    return convert ? TextToOem(text) : text.toUtf8();
}

int TZipWorker::ProbeArchiveFile(const QString& path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return -7;
    try {
        const qint64 size = file.size();
        int result = 0;
        const QByteArray head = file.read(4);
        const quint32 signature = ZipRecords::SignatureOf(head);
        if (head.size() == 4) {
            if (head.startsWith("MZ"))
                result = 0x01;
            else if (signature == ZipLocalHeader::Signature)
                result = 0x02;
            else if (signature == ZipCentralHeader::Signature)
                result = 0x08;
            else if (signature == ZipRecords::MultiPartMarker)
                result = 0x04;
        }
        auto centralChecks = [&](const ZipEndOfCentral& eoc) {
            ZipCentralHeader central;
            if (!file.seek(eoc.CentralOffset) || !central.Parse(file.read(ZipCentralHeader::Size))
                || !central.SignatureOk)
                return;
            result |= 0x40;
            if (central.Fields.DiskStart != eoc.ThisDiskNo)
                return;
            if (file.seek(central.Fields.LocalHeaderOffset)
                && ZipRecords::SignatureOf(file.read(4)) == ZipLocalHeader::Signature)
                result |= 0x20;
        };
        ZipEndOfCentral eoc;
        bool endAtEnd = false;
        if (size >= ZipEndOfCentral::Size && file.seek(size - ZipEndOfCentral::Size)) {
            const QByteArray raw = file.read(ZipEndOfCentral::Size);
            if (eoc.Parse(raw.constData(), raw.size())) {
                endAtEnd = true;
                result |= 0x80;
                if (eoc.ZipCommentLen == 0)
                    result |= 0x10;
                if (eoc.ThisDiskNo == eoc.CentralDiskNo)
                    centralChecks(eoc);
            }
        }
        if (!endAtEnd || eoc.ThisDiskNo != eoc.CentralDiskNo) {
            result &= 0x1F;
            const qint64 window = std::min(size, ZipEndOfCentral::MaxSearchWindow);
            QByteArray bytes;
            if (window >= ZipEndOfCentral::Size && file.seek(size - window))
                bytes = file.read(window);
            const qsizetype at = ZipEndOfCentral::FindBackwards(bytes, bytes.size());
            ZipEndOfCentral found;
            if (at >= 0 && found.Parse(bytes.constData() + at, bytes.size() - at)) {
                result |= 0x80;
                if (at + ZipEndOfCentral::Size + found.ZipCommentLen == bytes.size())
                    result |= 0x10;
                centralChecks(found);
                if (found.ThisDiskNo != found.CentralDiskNo)
                    result &= 0x1F;
            }
            if (endAtEnd)
                result |= 0x80;
        }
        return result;
    } catch (...) {
        return -9;
    }
}

bool TZipWorker::FindEndRecord(ZipEndOfCentral& record, bool raise)
{
    FZipComment.clear();
    FArchiveComment.clear();
    FEOCOffset = 0;
    if (!OpenPart()) {
        ReportMessageId(11002);
        if (raise)
            throw EZipArchiver(11001, true);
        return false;
    }
    ZipByteReader head(FPart->read(8));
    if (head.u32() == ZipRecords::MultiPartMarker && head.u32() == ZipLocalHeader::Signature) {
        FFirstPartOfSet = true;
        FMultiPart = true;
    }
    const qint64 size = FPart->size();
    const bool seekFailed = size < ZipEndOfCentral::Size || !FPart->seek(size - ZipEndOfCentral::Size);
    if (seekFailed || size > qint64(0xFFFFFFFF)) {
        ClosePart();
        if (Verbose())
            Report(zacMessage, 0,
                QStringLiteral("Opening EOC seek/size error ") + QString::number(size / 1048576) + QStringLiteral("Mb"),
                0);
        if (raise)
            throw EZipArchiver(seekFailed ? 11036 : 10205, true);
        return false;
    }
    FFileSize = size;
    FRealFileSize = size;
    const QByteArray raw = FPart->read(ZipEndOfCentral::Size);
    if (record.Parse(raw.constData(), raw.size())) {
        FEOCOffset = size - ZipEndOfCentral::Size;
        return true;
    }
    return SearchEndRecord(record, raise);
}

bool TZipWorker::SearchEndRecord(ZipEndOfCentral& record, bool raise)
{
    const qint64 size = FFileSize;
    try {
        const qint64 window = std::min(size, ZipEndOfCentral::MaxSearchWindow);
        if (!FPart->seek(size - window))
            throw EZipArchiver(11008, true);
        const QByteArray bytes = FPart->read(window);
        if (bytes.size() != window)
            throw EZipArchiver(11011, true);
        // The last 22 bytes were read already and hold no record.
        const qsizetype i = ZipEndOfCentral::FindBackwards(bytes, window - ZipEndOfCentral::Size - 1);
        if (i >= 0 && record.Parse(bytes.constData() + i, window - i)) {
            FEOCOffset = size - window + i;
            const qint64 commentAt = i + ZipEndOfCentral::Size;
            FZipComment = bytes.mid(commentAt, record.ZipCommentLen);
            const qint64 trailing = window - commentAt - record.ZipCommentLen;
            if (trailing > 0) {
                FFileSize -= trailing;
                const QByteArray tail = bytes.right(trailing);
                const bool harmless = trailing < kGarbageLimit
                    && std::all_of(tail.begin(), tail.end(), [](char c) { return quint8(c) < kGarbageBelow; });
                if (!harmless)
                    ReportMessageId(10204);
            }
            return true;
        }
    } catch (const EZipArchiver&) {
        if (raise) {
            ClosePart();
            throw;
        }
    }
    ClosePart();
    if (!raise)
        return false;
    const int disk = DiskFromName();
    if (!FFirstPartOfSet && disk >= 1)
        throw EZipArchiver(11038, QVariantList { disk });
    if (FFirstPartOfSet)
        throw EZipArchiver(disk == 1 ? 11037 : 11045, true);
    throw EZipArchiver(11036, true);
}

int TZipWorker::DiskFromName() const
{
    const QString label = FVolumeLabel;
    if (label.startsWith(QLatin1String("PKBACK# ")))
        return label.mid(8, 3).toInt();
    const QString stem = QFileInfo(stemOf(FPartPath)).fileName();
    return stem.right(3).toInt();
}

bool TZipWorker::ProbeDrive()
{
    const QString path = FPartPath.isEmpty() ? FZipFileName : FPartPath;
    if (path.isEmpty())
        throw EZipArchiver(11003, path);
    const Drives::DriveInfo info = Drives::driveInfo(QFileInfo(path).absoluteFilePath());
    if (!info.valid)
        throw EZipArchiver(11004, path);
    FDriveRoot = info.root;
    FDriveFixed = Drives::isFixedKind(info.type);
    FVolumeLabel = info.label;
    FReadOnlyVolume = info.readOnly;
    FFreeBytes = info.freeBytes;
    FTotalBytes = info.totalBytes;
    return FTotalBytes >= 0;
}

int TZipWorker::NumberedNamesSearch(const QString& base, ZipEndOfCentral& record, QString& found)
{
    for (int number = 1; number <= 999; ++number) {
        const QString name = base + threeDigits(number) + QStringLiteral(".zip");
        if (!QFileInfo::exists(name))
            return -1;
        FPartPath = name;
        const bool hasEnd = FindEndRecord(record, false);
        ClosePart();
        if (hasEnd) {
            if (record.ThisDiskNo != number - 1)
                return -1;
            found = name;
            return number - 1;
        }
    }
    return -1;
}

QString TZipWorker::RemovableSearch(const QString& folder, const QString& base) const
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
        const int number = tail.compare(QLatin1String("IP"), Qt::CaseInsensitive) == 0 ? kNoIP : tail.toInt();
        if (number > 0)
            return dir.filePath(name);
    }
    return {};
}

int TZipWorker::LocateLastPart(const QString& path, ZipEndOfCentral& record, bool quiet)
{
    try {
        const QString full = QFileInfo(path).absoluteFilePath();
        const QString folder = QFileInfo(full).path();
        const QString extension = QStringLiteral(".") + QFileInfo(full).suffix().toUpper();
        FPartPath = full;
        FNameScheme = 0;
        ClosePart();
        FDriveFixed = Drives::isFixedKind(Drives::driveType(full));
        ProbeDrive();
        bool derived = false;
        int expected = 0;
        if (!QFileInfo::exists(full)) {
            const QString base = stemOf(full);
            QString found;
            if (FDriveFixed) {
                if (extension == QLatin1String(".ZIP"))
                    expected = NumberedNamesSearch(base, record, found);
                if (found.isEmpty()) {
                    if (quiet) {
                        FPartPath.clear();
                        return 1;
                    }
                    throw EZipArchiver(11002, true);
                }
                if (QFileInfo::exists(withExtension(found, QStringLiteral(".z01"))))
                    throw EZipArchiver(11002, true);
            } else {
                found = RemovableSearch(folder, QFileInfo(base).fileName());
                if (found.isEmpty()) {
                    if (quiet) {
                        FPartPath.clear();
                        return 1;
                    }
                    throw EZipArchiver(11002, true);
                }
            }
            FPartPath = found;
            derived = true;
        }
        for (;;) {
            if (FindEndRecord(record, false)) {
                if (derived && !FMultiPart && record.ThisDiskNo == 0)
                    throw EZipArchiver(11002, true);
                if (derived && FDriveFixed && record.ThisDiskNo != expected)
                    throw EZipArchiver(11036, true);
                return 0;
            }
            ClosePart();
            if (FDriveFixed) {
                if (derived)
                    throw EZipArchiver(11002, true);
                throw ForcedReport(11036, true);
            }
            if (OnGetNextDisk) {
                bool abort = false;
                OnGetNextDisk(Master(), 0, 0, FDriveRoot, abort);
                if (abort) {
                    FPartPath.clear();
                    return 1;
                }
            } else {
                FDiskNumber = -1;
                FNewDiskWanted = true;
                DiskPrompt();
            }
            ProbeDrive();
            if (derived) {
                const QString found = RemovableSearch(folder, QFileInfo(stemOf(full)).fileName());
                if (found.isEmpty()) {
                    ReportMessageId(11002);
                    FPartPath.clear();
                    return -1;
                }
                FPartPath = found;
            }
        }
    } catch (const ForcedReport& e) {
        ReportException(e);
    } catch (const EZipArchiver& e) {
        if (!quiet)
            ReportException(e);
    }
    FPartPath.clear();
    ClosePart();
    return -1;
}

void TZipWorker::DiskPrompt()
{
    if (FDriveFixed) {
        if (Cancel())
            throw EZipArchiver(11007, true);
        return;
    }
    Report(zacTick, 0, QString(), 0);
    while (FNewDiskWanted || !ProbeDrive()) {
        if (Unattended())
            throw EZipArchiver(11025, true);
        QString text
            = FDiskNumber < 0 ? LoadMessageText(11033) : FormatMessageText(11034, FDiskNumber + 1, FLastDiskNumber + 1);
        text += FormatMessageText(11035, FDriveRoot);
        bool confirmed;
        if (OnGetNextDisk) {
            bool abort = false;
            OnGetNextDisk(Master(), FDiskNumber + 1, FLastDiskNumber + 1, FDriveRoot, abort);
            confirmed = !abort;
        } else {
            confirmed = MessageDialog(QString(), text, ZipDlgConfirm, { mbOK, mbCancel }) == mrOk;
        }
        if (!confirmed)
            throw EZipArchiver(11007, true);
        FNewDiskWanted = false;
    }
}

QString TZipWorker::NumberedExtensionPath(const QString& path) const
{
    if (FDiskNumber < 0 || FDiskNumber >= FLastDiskNumber)
        return withExtension(path, QStringLiteral(".zip"));
    const int number = FDiskNumber + 1;
    return withExtension(path, (number < 10 ? QStringLiteral(".z0") : QStringLiteral(".z")) + QString::number(number));
}

QString TZipWorker::NumberedNamePath(const QString& path) const
{
    const QString suffix = QFileInfo(path).suffix();
    QString stem = stemOf(path);
    stem.chop(std::min<qsizetype>(3, QFileInfo(stem).fileName().size()));
    return stem + threeDigits(FDiskNumber + 1) + (suffix.isEmpty() ? QString() : QStringLiteral(".") + suffix);
}

bool TZipWorker::IsExpectedDisk()
{
    const QString start = FPartPath;
    if (!FDriveFixed && (FNameScheme == 0 || FNameScheme == 1)) {
        if (FVolumeLabel == QStringLiteral("PKBACK# ") + threeDigits(FDiskNumber + 1) && QFileInfo::exists(start)) {
            FNameScheme = 1;
            return true;
        }
    }
    if (FNameScheme == 0) {
        const QString byExtension = NumberedExtensionPath(start);
        if (QFileInfo::exists(byExtension)) {
            FPartPath = byExtension;
            FNameScheme = 3;
            return true;
        }
        const QString byName = NumberedNamePath(start);
        if (QFileInfo::exists(byName)) {
            FPartPath = byName;
            FNameScheme = 2;
            return true;
        }
        if (FDriveFixed) {
            FPartPath = byName;
            return true;
        }
        return false;
    }
    if (FNameScheme == 1)
        return false;
    const QString next = FNameScheme == 2 ? NumberedNamePath(start) : NumberedExtensionPath(start);
    if (!FDriveFixed && !QFileInfo::exists(next))
        return false;
    FPartPath = next;
    return true;
}

void TZipWorker::GetNewDisk(int disk)
{
    ClosePart();
    FDiskNumber = disk;
    for (;;) {
        FNewDiskWanted = true;
        DiskPrompt();
        if (!IsExpectedDisk())
            continue;
        if (Verbose())
            Report(zacMessage, 0, FormatMessageText(11602, FPartPath), 0);
        if (OpenPart())
            return;
        if (FDriveFixed)
            throw EZipArchiver(11001, true);
        ReportMessageId(11001);
    }
}

ZipCentralHeader TZipWorker::ReadCentralHeader(int& disk, int lastDisk)
{
    ZipCentralHeader header;
    while (!header.Parse(FPart->read(ZipCentralHeader::Size))) {
        if (disk >= lastDisk)
            throw EZipArchiver(11013, true);
        GetNewDisk(disk + 1);
        disk = FDiskNumber;
    }
    if (!header.SignatureOk)
        throw EZipArchiver(11015, true);
    return header;
}

int TZipWorker::List()
{
    ClearDirectory();
    SetErrorCode(0);
    if (!FActive) {
        FListingDue = true;
        return 0;
    }
    FListingDue = false;
    ClosePart();
    ZipEndOfCentral eoc;
    if (!FZipFileName.isEmpty()) {
        QString part = FZipFileName;
        if (ProbeArchiveFile(FZipFileName) == 209)
            part = withExtension(FZipFileName, QStringLiteral(".zip"));
        try {
            LocateLastPart(part, eoc, true);
        } catch (const EZipArchiver& e) {
            ReportException(e);
        }
    }
    if (!FPart) {
        if (OnDirUpdate)
            OnDirUpdate(Master());
        return 0;
    }

    bool ok = false;
    BeginWait();
    try {
        ReadDirectory(eoc);
        ok = true;
    } catch (const EZipArchiver& e) {
        ReportException(e);
    } catch (const std::bad_alloc&) {
        ReportException(EZipArchiver(10103, true));
    } catch (const std::exception& e) {
        ReportMessageId(10202, QString::fromUtf8(e.what()));
    }
    Report(zacEndOfBatch, 0, QString(), 0);
    EndWait();
    ClosePart();
    if (ok) {
        FZipStartOffset += FCentralStart - qint64(FCentralOffset);
        FArchiveComment = ConvertEntryText(FZipComment, FHostNum, FHostVer);
    } else {
        FZipFileName.clear();
        FZipStartOffset = 0;
        FEntries.clear();
    }
    if (OnDirUpdate)
        OnDirUpdate(Master());
    return ErrorCode();
}

void TZipWorker::ReadDirectory(const ZipEndOfCentral& eoc)
{
    FLastDiskNumber = eoc.ThisDiskNo;
    if (eoc.ThisDiskNo != 0)
        FMultiPart = true;
    FDiskNumber = eoc.ThisDiskNo;
    FCentralOffset = eoc.CentralOffset;
    if (eoc.CentralDiskNo == eoc.ThisDiskNo) {
        // Measured back from the end record, so a prefix before the archive is allowed for.
        FCentralStart = FEOCOffset - qint64(eoc.CentralSize);
    } else {
        GetNewDisk(eoc.CentralDiskNo);
        FFileSize = FPart->size();
        FCentralStart = eoc.CentralOffset;
    }
    FZipStartOffset = FFileSize == ZipEndOfCentral::Size ? 0 : FFileSize;
    if (FCentralStart != qint64(FCentralOffset)) {
        FStructureWarning = true;
        ReportMessageId(10203);
    }
    if (FCentralStart < 0 || !FPart->seek(FCentralStart))
        throw EZipArchiver(10201, true);

    const QString itemText = LoadMessageText(11409);
    Report(zacXItem, kLoadingDirectoryItem, itemText, eoc.TotalEntries);
    FEntries.reserve(eoc.TotalEntries);
    int disk = FDiskNumber;
    for (int i = 0; i < eoc.TotalEntries; ++i) {
        ZipDirEntry entry = ReadCentralHeader(disk, eoc.ThisDiskNo).Fields;
        const QByteArray name = FPart->read(entry.NameLength);
        if (name.size() != entry.NameLength)
            throw EZipArchiver(11017, true);
        if (entry.HostSystem != 0) {
            FHostNum = entry.HostSystem;
            FHostVer = entry.VersionMadeBy;
        }
        const bool utf8 = (entry.Flags & ZipRecords::GeneralFlagUtf8) != 0;
        entry.FileName = ConvertEntryText(name, entry.HostSystem, entry.VersionMadeBy, utf8);
        entry.FileName.replace(QLatin1Char('/'), QLatin1Char('\\'));
        entry.Encrypted = (entry.Flags & ZipRecords::GeneralFlagEncrypted) != 0;
        entry.ExtraData = FPart->read(entry.ExtraLength);
        if (entry.ExtraData.size() != entry.ExtraLength)
            throw EZipArchiver(10201, true);
        const QByteArray comment = FPart->read(entry.CommentLength);
        if (comment.size() != entry.CommentLength)
            throw EZipArchiver(11022, true);
        entry.FileComment = ConvertEntryText(comment, entry.HostSystem, entry.VersionMadeBy, utf8);
        FZipStartOffset = qint64(std::min(quint64(FZipStartOffset), quint64(entry.LocalHeaderOffset)));
        const bool hasFilePart = !entry.FileName.isEmpty() && !entry.FileName.endsWith(QLatin1Char('\\'));
        if (m_settings.UseDirOnlyEntries || hasFilePart) {
            FEntries.push_back(std::move(entry));
            if (OnNewName)
                OnNewName(Master(), int(FEntries.size()), FEntries.back());
        } else {
            ++FDirOnlyCount;
        }
        Report(zacXProgress, 0, itemText, 1);
        if (Cancel())
            throw EZipArchiver(11007, true);
    }
    FLastDiskNumber = eoc.ThisDiskNo;
}

void TZipWorker::CopyBlock(QFile& target, qint64 size, int errorId, int lastDisk)
{
    char buffer[ZipRecords::CopyBlockSize];
    while (size > 0) {
        const qint64 chunk = std::min(size, ZipRecords::CopyBlockSize);
        qint64 done = 0;
        while (done < chunk) {
            const qint64 got = FPart->read(buffer + done, chunk - done);
            if (got < 0)
                throw EZipArchiver(errorId, true);
            done += got;
            // A part that ends exactly here continues on the next disk.
            if (done < chunk) {
                if (!FPart->atEnd() || FDiskNumber >= lastDisk)
                    throw EZipArchiver(errorId, true);
                GetNewDisk(FDiskNumber + 1);
            }
        }
        if (target.write(buffer, chunk) != chunk)
            throw EZipArchiver(11010, true);
        Report(zacXProgress, 0, QString(), chunk);
        if (Cancel())
            throw EZipArchiver(11007, true);
        size -= chunk;
    }
}

int TZipWorker::ReadSpan(const QString& source, QString& target, [[maybe_unused]] bool joining)
{
    int result = 0;
    FDiskNumber = -1;
    ClosePart();
    try {
        FDriveFixed = Drives::isFixedKind(Drives::driveType(source));
        if (!target.isEmpty() && !QFileInfo(target).fileName().isEmpty()) {
            if (QFileInfo::exists(target)) {
                if (m_settings.HowToDelete == TDeleteOpts::htdFinal || !QFile::moveToTrash(target))
                    QFile::remove(target);
            }
            target = withExtension(target, QStringLiteral(".zip"));
        } else {
            target = MakeTempName();
            if (target.isEmpty())
                throw EZipArchiver(11027, true);
        }
        ReadSpanBody(source, target);
    } catch (const LocateFailed&) {
        result = -9;
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
    ClosePart();
    if (result != 0 && !target.isEmpty()) {
        QFile::remove(target);
        target.clear();
    }
    return result;
}

void TZipWorker::ReadSpanBody(const QString& source, const QString& target)
{
    ZipEndOfCentral eoc;
    const int located = LocateLastPart(source, eoc, false);
    if (located < 0)
        throw LocateFailed {};
    if (located == 1)
        throw EZipArchiver(11007, true);
    const QDateTime sourceDate = QFileInfo(FPartPath).lastModified();
    const int lastDisk = eoc.ThisDiskNo;
    FLastDiskNumber = lastDisk;
    FDiskNumber = lastDisk;
    const QByteArray comment = FZipComment;
    const qint64 endOffset = FEOCOffset;

    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw EZipArchiver(11009, true);

    qint64 centralStart = eoc.CentralOffset;
    if (eoc.CentralDiskNo != eoc.ThisDiskNo)
        GetNewDisk(eoc.CentralDiskNo);
    else
        centralStart = endOffset - qint64(eoc.CentralSize);
    const int centralDisk = FDiskNumber;
    if (centralStart < 0 || !FPart->seek(centralStart))
        throw EZipArchiver(11008, true);

    TZipDataList items(eoc.TotalEntries);
    std::vector<bool> placed(size_t(eoc.TotalEntries), false);
    qint64 expected = qint64(eoc.CentralSize) + ZipEndOfCentral::Size + eoc.ZipCommentLen;
    int disk = FDiskNumber;
    for (int i = 0; i < eoc.TotalEntries; ++i) {
        const ZipDirEntry entry = ReadCentralHeader(disk, lastDisk).Fields;
        auto& item = items.Item(i);
        item.NameLength = entry.NameLength;
        item.Name = FPart->read(entry.NameLength);
        if (item.Name.size() != entry.NameLength)
            throw EZipArchiver(11017, true);
        item.CompressedSize = entry.CompressedSize;
        const qint64 skip = qint64(entry.ExtraLength) + entry.CommentLength;
        if (FPart->read(skip).size() != skip)
            throw EZipArchiver(11013, true);
        expected += qint64(entry.NameLength) + entry.ExtraLength + entry.CompressedSize + ZipLocalHeader::Size
            + ((entry.Flags & ZipRecords::GeneralFlagDataDescriptor) ? ZipRecords::DataDescriptorSize : 0);
    }

    GetNewDisk(0);
    Report(zacXItem, kJoiningItem, LoadMessageText(11410), expected);
    if (ZipRecords::SignatureOf(FPart->read(4)) != ZipRecords::MultiPartMarker)
        throw EZipArchiver(11031, true);
    for (int i = 0; i < eoc.TotalEntries; ++i) {
        QByteArray raw = FPart->read(ZipLocalHeader::Size);
        if (raw.isEmpty() && FPart->atEnd() && FDiskNumber < lastDisk) {
            GetNewDisk(FDiskNumber + 1);
            raw = FPart->read(ZipLocalHeader::Size);
        }
        ZipLocalHeader local;
        if (!local.Parse(raw))
            throw EZipArchiver(11012, true);
        if (!local.SignatureOk)
            throw EZipArchiver(11014, true);
        const QByteArray name = FPart->read(local.NameLength);
        if (name.size() != local.NameLength)
            throw EZipArchiver(11016, true);
        // Two entries of one name each take their own item.
        int index = -1;
        for (int k = 0; k < items.Count(); ++k) {
            if (!placed[size_t(k)] && items.Item(k).Name.compare(name, Qt::CaseInsensitive) == 0) {
                index = k;
                break;
            }
        }
        if (index < 0)
            throw EZipArchiver(11026, true);
        placed[size_t(index)] = true;
        auto& item = items.Item(index);
        item.DiskNumber = 0;
        item.HeaderOffset = out.pos();
        Report(zacMessage, 0,
            LoadMessageText(10105) + QString::fromUtf8(name).replace(QLatin1Char('/'), QLatin1Char('\\')), 0);
        if (out.write(raw) != raw.size() || out.write(name) != name.size())
            throw EZipArchiver(11028, true);
        CopyBlock(out, local.ExtraLength, 11018, lastDisk);
        CopyBlock(out, local.CompressedSize != 0 ? local.CompressedSize : item.CompressedSize, 11021, lastDisk);
        if (local.HasDataDescriptor())
            CopyBlock(out, ZipRecords::DataDescriptorSize, 11020, lastDisk);
    }

    if (FDiskNumber != centralDisk)
        GetNewDisk(centralDisk);
    if (!FPart->seek(centralStart))
        throw EZipArchiver(11008, true);
    const qint64 centralOut = out.pos();
    disk = FDiskNumber;
    for (int i = 0; i < eoc.TotalEntries; ++i) {
        ZipCentralHeader header = ReadCentralHeader(disk, lastDisk);
        const qint64 offset = items.Item(i).HeaderOffset;
        if (offset > qint64(0xFFFFFFFF))
            throw EZipArchiver(10205, true);
        header.Relocate(0, quint32(offset));
        const QByteArray name = FPart->read(header.Fields.NameLength);
        if (name.size() != header.Fields.NameLength)
            throw EZipArchiver(11017, true);
        if (out.write(header.Raw) != header.Raw.size() || out.write(name) != name.size())
            throw EZipArchiver(11029, true);
        CopyBlock(out, header.Fields.ExtraLength, 11019, lastDisk);
        CopyBlock(out, header.Fields.CommentLength, 11022, lastDisk);
    }
    if (out.pos() > qint64(0xFFFFFFFF))
        throw EZipArchiver(10205, true);
    ZipEndOfCentral joined = eoc;
    joined.ThisDiskNo = 0;
    joined.CentralDiskNo = 0;
    joined.CentralOffset = quint32(centralOut);
    joined.ZipCommentLen = quint16(comment.size());
    if (out.write(joined.Raw()) != ZipEndOfCentral::Size)
        throw EZipArchiver(11030, true);
    if (out.write(comment) != comment.size())
        throw EZipArchiver(11023, true);
    out.setFileTime(sourceDate, QFileDevice::FileModificationTime);
    out.close();
}
