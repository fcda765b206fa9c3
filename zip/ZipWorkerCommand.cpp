#include "zip/ZipDlg.h"
#include "zip/ZipMsgStr.h"
#include "zip/ZipWorker.h"
#include "zip/ZipWorkerRecords.h"

#include <QFileInfo>

namespace
{
constexpr int kOemCodePage = 2;
} // namespace

void TZipWorker::FillZipCommand(TZipCommandBlock& block, const QString& archive, quint32 dosDate, quint32 attributes)
{
    ZipCommandRecord& r = block.Record;
    TEngineTexts& texts = block.Texts;
    const bool encrypt = m_settings.AddOptions.contains(AddEncrypt);
    const bool recurse = m_settings.AddOptions.contains(AddRecurseDirs);
    r.Handle = m_ownerHandle;
    r.Caller = this;
    r.Version = ZE_RECORD_VERSION;
    r.Callback = &TZipWorker::EngineCallback;
    r.Trace = EngineFlag(Trace());
    r.Password = texts.AddOrNull(EngineBytes(FPassword, MaxCommandPassword));
    r.StoreSuffixes
        = texts.AddOrNull(StoreSuffixList(m_settings.AddStoreSuffixes, m_settings.ExtAddStoreSuffixes).toUtf8());
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
    r.ArchiveName = texts.Add(QFile::encodeName(archive));
    r.TempDir = texts.AddOrNull(QFile::encodeName(TempDir()));
    r.Comment = texts.AddOrNull(RawComment());
    r.ArchiveOnly = m_settings.AddOptions.contains(AddArchiveOnly) ? 1 : 0;
    r.ResetArchive = m_settings.AddOptions.contains(AddResetArchive) ? 1 : 0;
    r.InputFromMemory = ZE_TRUE;
    block.Input = EntryStream()->data();
    r.InputMemory = block.Input.constData();
    r.InputSize = quint32(block.Input.size());
    r.Attributes = attributes;
    r.DosDateTime = dosDate;
    r.HowToDelete = m_settings.HowToDelete == TDeleteOpts::htdAllowUndo ? ZE_TRUE : ZE_FALSE;
    r.CodePage = m_settings.CodePage == CodePageOpts::cpOEM ? kOemCodePage : 0;
    r.Version2 = ZE_RECORD_VERSION;
    r.RootDir = m_settings.RootDir.isEmpty()
        ? nullptr
        : texts.Add(QFile::encodeName(QFileInfo(m_settings.RootDir).absoluteFilePath()));

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

void TZipWorker::ReportCommandError(const EZipArchiver& e)
{
    SetErrorCode(e.MessageId());
    SetErrorMessage(e.message() + HandlerErrorText());
    if (e.DisplayFlag() && !Unattended())
        ShowMessageBox(ErrorMessage(), ZipDlgError);
    if (OnMessage)
        OnMessage(Master(), ErrorCode(), ErrorMessage());
}

int TZipWorker::RunAddCommand(const QString& archive, quint32 dosDate, quint32 attributes)
{
    try {
        TZipCommandBlock block;
        FillZipCommand(block, archive, dosDate, attributes);
        SetHandlerErrorText(QString());
        m_handlerFailed = false;
        return RunZip(&block.Record);
    } catch (const EZipArchiver& e) {
        ReportCommandError(e);
    } catch (const std::exception&) {
        ReportException(EZipArchiver(ZipMsg::FatalDllError, true));
    }
    return 0;
}
