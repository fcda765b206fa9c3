#include "platform/Drives.h"
#include "zip/ZipDlg.h"
#include "zip/ZipMsgStr.h"
#include "zip/ZipWorker.h"
#include "zip/ZipWorkerRecords.h"

#include <QDir>
#include <QFileInfo>

namespace
{
constexpr int kFatalDll = 10101;
constexpr int kNoFiles = 10301;
constexpr int kWildcards = 10307;
constexpr int kNoZipFile = 10102;
constexpr int kNoPasswordUnattended = 10302;
constexpr int kSfxFailed = 10304;
constexpr int kNoDestination = 10308;
constexpr int kUnattendedSpan = 11025;
constexpr int kCannotWrite = 11051;
constexpr int kSfxUnsupported = -1;
constexpr int kOemCodePage = 2;

bool ownerWritable(const QFileInfo& info)
{
    return (info.permissions() & QFileDevice::WriteOwner) != 0;
}

// Read-only like an attribute: the owner's write bit counts, even for root.
bool canWriteArchive(const QString& path)
{
    const QFileInfo info(path);
    if (info.exists()) {
        if (!info.isFile() || !ownerWritable(info))
            return false;
        QFile file(path);
        return file.open(QIODevice::ReadWrite);
    }
    if (!ownerWritable(QFileInfo(info.absolutePath())))
        return false;
    QFile probe(path);
    if (!probe.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    probe.close();
    probe.remove();
    return true;
}

// Clears the add's state on every way out of it.
class AddCleanup
{
public:
    AddCleanup(TZipWorker& worker, bool& busy, QByteArray& extra, bool& waiting, bool& loaded)
        : m_worker(worker)
        , m_busy(busy)
        , m_extra(extra)
        , m_waiting(waiting)
        , m_loaded(loaded)
    { }
    ~AddCleanup()
    {
        m_worker.FSpecArgs.clear();
        m_worker.FSpecArgsExcl.clear();
        if (m_waiting)
            m_worker.EndWait();
        if (m_loaded)
            m_worker.ReleaseForOperation();
        m_extra.clear();
        m_worker.SetCancel(false);
        m_busy = false;
    }
    AddCleanup(const AddCleanup&) = delete;
    AddCleanup& operator=(const AddCleanup&) = delete;

private:
    TZipWorker& m_worker;
    bool& m_busy;
    QByteArray& m_extra;
    bool& m_waiting;
    bool& m_loaded;
};
} // namespace

QByteArray TZipWorker::EngineText(const QString& text) const
{
    return m_settings.CodePage == CodePageOpts::cpOEM ? TextToOem(text) : text.toUtf8();
}

void TZipWorker::ReportCommandError(const EZipArchiver& e)
{
    SetErrorCode(e.MessageId());
    SetErrorMessage(e.message() + HandlerErrorText());
    if (e.DisplayFlag() && !Unattended())
        ShowMessageBox(ErrorMessage(), ZipDlgError);
    if (OnMessage)
        OnMessage(Master(), ErrorCode(), ErrorMessage());
}

void TZipWorker::ValidateAdd(bool spanning)
{
    if (Unattended() && m_settings.AddOptions.contains(AddEncrypt) && FPassword.isEmpty())
        throw EZipArchiver(kNoPasswordUnattended, true);
    if (ZipFileName().isEmpty())
        throw EZipArchiver(kNoZipFile, true);
    const QString archive = QFileInfo(ZipFileName()).absoluteFilePath();
    m_parts.ProbeDrive(archive);
    const bool removable = !m_parts.DriveFixed();
    if (spanning && removable && Unattended())
        throw EZipArchiver(kUnattendedSpan, true);
    if (!(spanning && removable)) {
        const QString folder = QFileInfo(archive).absolutePath();
        if (m_settings.AddOptions.contains(AddForceDest))
            QDir().mkpath(folder);
        if (!QFileInfo(folder).isDir())
            throw EZipArchiver(kNoDestination, QDir::toNativeSeparators(folder));
    }
    if (m_parts.ReadOnlyVolume() || !canWriteArchive(archive))
        throw EZipArchiver(kCannotWrite, ZipFileName());
}

void TZipWorker::FillZipCommand(TZipCommandBlock& block, quint32 dosDate, quint32 attributes)
{
    ZipCommandRecord& r = block.Record;
    TEngineTexts& texts = block.Texts;
    const bool encrypt = m_settings.AddOptions.contains(AddEncrypt);
    const bool recurse = m_settings.AddOptions.contains(AddRecurseDirs);
    r.Handle = FOwnerHandle;
    r.Caller = this;
    r.Version = ZE_RECORD_VERSION;
    r.Callback = &TZipWorker::EngineCallback;
    r.Trace = EngineFlag(Trace());
    r.Password = texts.AddOrNull(EngineBytes(FPassword, MaxCommandPassword));
    r.StoreSuffixes = texts.AddOrNull(StoreSuffixList(m_settings.AddStoreSuffixes, m_settings.ExtAddStoreSuffixes).toUtf8());
    r.Encrypt = EngineFlag(encrypt);
    r.HiddenFiles = EngineFlag(m_settings.AddOptions.contains(AddHiddenFiles));
    r.Volume = EngineFlag(m_settings.AddOptions.contains(AddVolume));
    r.NoSeparateDirs = EngineFlag(!m_settings.AddOptions.contains(AddSeparateDirs));
    r.FromDate = EngineFlag(m_settings.AddOptions.contains(AddFromDate));
    r.Verbose = EngineFlag(Verbose() || Trace());
    r.Reserved56 = ZE_TRUE;
    r.Level = m_settings.AddCompLevel;
    r.NoDirNames = EngineFlag(!m_settings.AddOptions.contains(AddDirNames));
    r.RecurseDirs = EngineFlag(recurse);
    r.NotSafe = EngineFlag(!m_settings.AddOptions.contains(AddSafe));
    r.ForceDos = EngineFlag(m_settings.AddOptions.contains(AddForceDOS));
    r.Move = EngineFlag(m_settings.AddOptions.contains(AddMove));
    r.Update = EngineFlag(m_settings.AddOptions.contains(AddUpdate));
    r.Freshen = EngineFlag(m_settings.AddOptions.contains(AddFreshen) && !m_settings.AddOptions.contains(AddUpdate));
    r.ZipTime = EngineFlag(m_settings.AddOptions.contains(AddZipTime));
    r.FromDateValue = DateTimeToDos(m_settings.AddFrom);
    r.FileSpecCount = qint32(FSpecArgs.size());
    r.ArchiveName = texts.Add(QFile::encodeName(ZipFileName()));
    r.TempDir = texts.AddOrNull(QFile::encodeName(TempDir()));
    r.Comment = texts.AddOrNull(RawComment());
    r.ArchiveOnly = m_settings.AddOptions.contains(AddArchiveOnly) ? 1 : 0;
    r.ResetArchive = m_settings.AddOptions.contains(AddResetArchive) ? 1 : 0;
    r.InputFromMemory = ZE_TRUE;
    r.InputMemory = EntryStream()->data().constData();
    r.InputSize = quint32(EntryStream()->Size());
    r.Attributes = attributes;
    r.DosDateTime = dosDate;
    r.HowToDelete = m_settings.HowToDelete == TDeleteOpts::htdAllowUndo ? ZE_TRUE : ZE_FALSE;
    r.CodePage = m_settings.CodePage == CodePageOpts::cpOEM ? kOemCodePage : 0;
    r.Version2 = ZE_RECORD_VERSION;
    r.RootDir = m_settings.RootDir.isEmpty() ? nullptr : texts.Add(QFile::encodeName(QFileInfo(m_settings.RootDir).absoluteFilePath()));

    block.Specs.assign(size_t(FSpecArgs.size()), FileSpecRecord {});
    for (qsizetype i = 0; i < FSpecArgs.size(); ++i) {
        const ZipFileSpec spec = ParseFileSpec(FSpecArgs.at(i), recurse, encrypt, FPassword);
        FileSpecRecord& out = block.Specs[size_t(i)];
        out.Spec = texts.AddOrNull(EngineText(spec.Name));
        out.Password = texts.AddOrNull(EngineBytes(spec.Password, MaxCommandPassword));
        out.Encrypt = spec.Encrypt;
        out.Recurse = spec.Recurse;
    }
    r.FileSpecs = block.Specs.empty() ? nullptr : block.Specs.data();
    r.ExcludeCount = qint32(FSpecArgsExcl.size());
    for (const QString& exclude : FSpecArgsExcl)
        block.Excludes.push_back(texts.Add(EngineText(exclude)));
    r.ExcludeSpecs = block.Excludes.empty() ? nullptr : block.Excludes.data();
    r.Check = ZE_RECORD_CHECK;
}

int TZipWorker::AddStreamEntry(const QString& name, quint32 dosDate, quint32 attributes)
{
    if (!name.isEmpty())
        FSpecArgs = QStringList { name };
    if (dosDate == 0)
        dosDate = DosNow();
    FSuccessCount = 0;
    // Reported as exceptions so the error code is set even when nobody listens.
    if (FSpecArgs.isEmpty()) {
        ReportException(EZipArchiver(kNoFiles, true));
    } else if (FSpecArgs.first().contains(QLatin1Char('*')) || FSpecArgs.first().contains(QLatin1Char('?'))) {
        ReportException(EZipArchiver(kWildcards, true));
        FSpecArgs.clear();
        FSpecArgsExcl.clear();
    } else {
        ExtAdd(dosDate, attributes);
    }
    return ErrorCode();
}

void TZipWorker::ExtAdd(quint32 dosDate, quint32 attributes)
{
    if (FAddBusy)
        return;
    FSuccessCount = 0;
    SetErrorCode(0);
    SetErrorMessage(QString());
    {
        bool waiting = false;
        bool loaded = false;
        FAddBusy = true;
        AddCleanup cleanup(*this, FAddBusy, FExtraData, waiting, loaded);

        if (m_settings.AddOptions.contains(AddDiskSpanErase)) {
            m_settings.AddOptions.insert(AddDiskSpan);
            m_settings.SpanOptions.insert(spWipeFiles);
        }
        const bool spanning = m_settings.AddOptions.contains(AddDiskSpan);
        try {
            ValidateAdd(spanning);
            LoadForOperation();
            loaded = true;
            const QString& name = ZipFileName();
            if (name.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive) && !QFileInfo::exists(name))
                throw EZipArchiver(kSfxFailed, kSfxUnsupported);
        } catch (const EZipArchiver& e) {
            ReportException(e);
            return;
        }

        SetCancel(false);
        BeginWait();
        waiting = true;
        if (spanning) {
            FSuccessCount = SpanAdd(dosDate, attributes);
        } else {
            try {
                TZipCommandBlock block;
                FillZipCommand(block, dosDate, attributes);
                SetHandlerErrorText(QString());
                FHandlerFailed = false;
                FSuccessCount = RunZip(&block.Record);
            } catch (const EZipArchiver& e) {
                ReportCommandError(e);
            } catch (const std::exception&) {
                ReportException(EZipArchiver(kFatalDll, true));
            }
        }
    }
    if (FSuccessCount > 0 && ProbeArchiveFile(ZipFileName()) != 209)
        List();
}
