#include "zip/ZipWorker.h"

#include "platform/Drives.h"
#include "zip/ZipDlg.h"
#include "zip/ZipMsgStr.h"
#include "zip/ZipWorkerRecords.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <new>

namespace
{
constexpr int kLoadingDirectoryItem = 9;

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

} // namespace

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
    , m_parts(*this)
    , FEntryStream(std::make_unique<TZipStream>())
{ }

TZipWorker::~TZipWorker()
{
    // A running command must not call back into a worker being destroyed.
    AbortEngine();
    m_parts.Close();
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
    if (m_active)
        return;
    m_active = true;
    if (m_listingDue)
        List();
    m_listingDue = false;
}

void TZipWorker::Deactivate()
{
    m_active = false;
}

void TZipWorker::SetZipFileName(const QString& name)
{
    FZipFileName = name;
    List();
}

int TZipWorker::Count() const
{
    return FZipFileName.isEmpty() ? 0 : int(m_entries.size());
}

void TZipWorker::ResetState()
{
    TZipEngineBind::ResetState();
}

void TZipWorker::ClearDirectory()
{
    m_entries.clear();
    FDirOnlyCount = 0;
    m_zipComment.clear();
    FArchiveComment.clear();
    FZipStartOffset = 0;
    m_centralStart = 0;
    m_centralOffset = 0;
    m_multiPart = false;
    m_firstPartOfSet = false;
    m_hostNum = 0;
    m_hostVer = 20;
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
    const bool convert = m_settings.CodePage == CodePageOpts::cpOEM
        || (m_settings.CodePage == CodePageOpts::cpAuto && host == 0) || host == 6 || (host == 11 && version == 50);
    return convert ? OemToText(raw) : QString::fromUtf8(raw);
}

QByteArray TZipWorker::EngineText(const QString& text, int maxChars) const
{
    if (m_settings.CodePage == CodePageOpts::cpOEM)
        return TextToOem(maxChars < 0 ? text : text.left(maxChars));
    return maxChars < 0 ? text.toUtf8() : EngineBytes(text, maxChars);
}

bool TZipWorker::ProbeDrive()
{
    return m_parts.ProbeDrive(m_parts.Path().isEmpty() ? FZipFileName : m_parts.Path());
}

ZipCentralHeader TZipWorker::ReadCentralHeader(int& disk, int lastDisk)
{
    ZipCentralHeader header;
    while (!header.Parse(m_parts.File()->read(ZipCentralHeader::Size))) {
        if (disk >= lastDisk)
            throw EZipArchiver(ZipMsg::CentralHeaderReadError, true);
        m_parts.GetNewDisk(disk + 1);
        disk = m_parts.DiskNumber();
    }
    if (!header.SignatureOk)
        throw EZipArchiver(ZipMsg::CentralSignatureWrong, true);
    return header;
}

int TZipWorker::List()
{
    ClearDirectory();
    SetErrorCode(0);
    if (!m_active) {
        m_listingDue = true;
        return 0;
    }
    m_listingDue = false;
    m_parts.Close();
    ZipEndOfCentral eoc;
    if (!FZipFileName.isEmpty()) {
        QString part = FZipFileName;
        if (ProbeArchiveFile(FZipFileName) == pbCompanionExecutable)
            part = ZipWithExtension(FZipFileName, QStringLiteral(".zip"));
        try {
            LocateLastPart(part, eoc, true);
        } catch (const EZipArchiver& e) {
            ReportException(e);
        }
    }
    if (!m_parts.File()) {
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
        ReportException(EZipArchiver(ZipMsg::NoMemory, true));
    } catch (const std::exception& e) {
        ReportMessageId(ZipMsg::ListUnknownError, QString::fromUtf8(e.what()));
    }
    Report(zacEndOfBatch, 0, QString(), 0);
    EndWait();
    m_parts.Close();
    // A cancel ends with the listing it stopped, as it does with an add or an extract.
    SetCancel(false);
    if (ok) {
        FZipStartOffset += m_centralStart - qint64(m_centralOffset);
        FArchiveComment = ConvertEntryText(m_zipComment, m_hostNum, m_hostVer);
    } else {
        FZipFileName.clear();
        FZipStartOffset = 0;
        m_entries.clear();
    }
    if (OnDirUpdate)
        OnDirUpdate(Master());
    return ErrorCode();
}

void TZipWorker::ReadDirectory(const ZipEndOfCentral& eoc)
{
    m_parts.SetLastDiskNumber(eoc.ThisDiskNo);
    if (eoc.ThisDiskNo != 0)
        m_multiPart = true;
    m_parts.SetDiskNumber(eoc.ThisDiskNo);
    m_centralOffset = eoc.CentralOffset;
    if (eoc.CentralDiskNo == eoc.ThisDiskNo) {
        // Measured back from the end record, so a prefix before the archive is allowed for.
        m_centralStart = m_eocOffset - qint64(eoc.CentralSize);
    } else {
        m_parts.GetNewDisk(eoc.CentralDiskNo);
        m_fileSize = m_parts.File()->size();
        m_centralStart = eoc.CentralOffset;
    }
    FZipStartOffset = m_fileSize == ZipEndOfCentral::Size ? 0 : m_fileSize;
    if (m_centralStart != qint64(m_centralOffset))
        ReportMessageId(ZipMsg::StructureWarning);
    if (m_centralStart < 0 || !m_parts.File()->seek(m_centralStart))
        throw EZipArchiver(ZipMsg::SeekErrorReading, true);

    const QString itemText = LoadMessageText(ZipMsg::ItemLoadingDirectory);
    Report(zacXItem, kLoadingDirectoryItem, itemText, eoc.TotalEntries);
    m_entries.reserve(eoc.TotalEntries);
    int disk = m_parts.DiskNumber();
    for (int i = 0; i < eoc.TotalEntries; ++i) {
        ZipDirEntry entry = ReadCentralHeader(disk, eoc.ThisDiskNo).Fields;
        const QByteArray name = m_parts.File()->read(entry.NameLength);
        if (name.size() != entry.NameLength)
            throw EZipArchiver(ZipMsg::CentralNameReadError, true);
        if (entry.HostSystem != 0) {
            m_hostNum = entry.HostSystem;
            m_hostVer = entry.VersionMadeBy;
        }
        const bool utf8 = (entry.Flags & ZipRecords::GeneralFlagUtf8) != 0;
        entry.FileName = ConvertEntryText(name, entry.HostSystem, entry.VersionMadeBy, utf8);
        entry.FileName.replace(QLatin1Char('/'), QLatin1Char('\\'));
        entry.Encrypted = (entry.Flags & ZipRecords::GeneralFlagEncrypted) != 0;
        entry.ExtraData = m_parts.File()->read(entry.ExtraLength);
        if (entry.ExtraData.size() != entry.ExtraLength)
            throw EZipArchiver(ZipMsg::SeekErrorReading, true);
        const QByteArray comment = m_parts.File()->read(entry.CommentLength);
        if (comment.size() != entry.CommentLength)
            throw EZipArchiver(ZipMsg::FileCommentReadError, true);
        entry.FileComment = ConvertEntryText(comment, entry.HostSystem, entry.VersionMadeBy, utf8);
        FZipStartOffset = qint64(std::min(quint64(FZipStartOffset), quint64(entry.LocalHeaderOffset)));
        const bool hasFilePart = !entry.FileName.isEmpty() && !entry.FileName.endsWith(QLatin1Char('\\'));
        if (m_settings.UseDirOnlyEntries || hasFilePart) {
            m_entries.push_back(std::move(entry));
            if (OnNewName)
                OnNewName(Master(), int(m_entries.size()), m_entries.back());
        } else {
            ++FDirOnlyCount;
        }
        Report(zacXProgress, 0, itemText, 1);
        if (Cancel())
            throw EZipArchiver(ZipMsg::UserCancelled, true);
    }
    m_parts.SetLastDiskNumber(eoc.ThisDiskNo);
}

int TZipWorker::RunSpanStep(const std::function<int()>& step)
{
    try {
        return step();
    } catch (const EZipArchiver& e) {
        ReportException(e);
        return srComponentError;
    } catch (const std::bad_alloc&) {
        ReportException(EZipArchiver(ZipMsg::NoMemory, true));
        return srNoMemory;
    } catch (const std::exception& e) {
        ReportMessageId(ZipMsg::SpanUnknownError, QString::fromUtf8(e.what()));
        return srOtherError;
    }
}
