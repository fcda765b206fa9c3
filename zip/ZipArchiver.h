#pragma once

#include "zip/ZipSettings.h"
#include "zip/ZipTypes.h"
#include "zip/ZipWorker.h"
#include "zip/ZipWorkerRecords.h"

#include <QIcon>
#include <QObject>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <memory>
#include <utility>

// Self-extractor settings: kept and handed to the worker, not used by this program.
class TZipSFX
{
public:
    QString Caption;
    QString CommandLine;
    QString DefaultDir;
    QIcon Icon;
    QString Message;
    quint8 MessageFlags = 0;
    TSFXOptions Options;
    OvrOpts OverWriteMode = OvrOpts::OvrConfirm;
    QString Path;
};

// Where a component is in its life, as the form loader sets it.
enum ComponentStateFlag : quint8 { csLoading = 1, csDesigning = 2 };

// The façade's activity; Active reads true for every state but asInactive.
enum ZipActiveState : int {
    // Deactivation waits for the running operation to end.
    asDeactivating = -1,
    asInactive = 0,
    asActive = 1,
    // Activation waits for the end of loading.
    asLoading = 2,
    asDesigning = 3,
};

// Holds every property of the component and guards each operation.
class TCustomZipArchiver : public QObject
{
public:
    static constexpr int StatusLoading = -256;
    static constexpr int StatusNotActive = -255;
    static constexpr int StatusOtherError = -9;

    explicit TCustomZipArchiver(QObject* owner = nullptr, quint8 componentState = 0);
    ~TCustomZipArchiver() override;

    // Operations.
    int AddStreamEntry(const QString& name, quint32 dosDate, quint32 attributes);
    TZipStream* ExtractEntryToStream(const QString& name);
    TZipStream* EntryStream() const { return m_worker->EntryStream(); }
    // Called by the form loader when every stored property has been read.
    void Loaded();

    // State.
    int ActiveState() const { return FActiveState; }
    bool Active() const { return FActiveState != asInactive; }
    void SetActive(bool value);
    bool Busy() const { return FBusy; }
    bool Reentry() const { return FReentry; }
    bool NotMainThread() const { return FNotMainThread; }
    // Set: operations change no cursor and turn no event loop.
    void SetNotMainThread(bool value)
    {
        FNotMainThread = value;
        m_worker->SetNotMainThread(value);
    }
    TZipWorker* Worker() const { return m_worker.get(); }
    int ErrorCode() const { return m_worker->ErrorCode(); }
    const QString& ErrorMessage() const { return m_worker->ErrorMessage(); }
    int Count() const { return m_worker->Count(); }
    const ZipDirEntry& DirEntry(int index) const { return m_worker->Entry(index); }

    // Properties.
    const TZipSettings& Settings() const { return m_settings; }
    int AddCompLevel() const { return m_settings.AddCompLevel; }
    void SetAddCompLevel(int value) { m_settings.AddCompLevel = value; }
    double AddFrom() const { return m_settings.AddFrom; }
    void SetAddFrom(double value) { m_settings.AddFrom = value; }
    AddOpts AddOptions() const { return m_settings.AddOptions; }
    void SetAddOptions(AddOpts value) { m_settings.AddOptions = value; }
    AddStoreExts AddStoreSuffixes() const { return m_settings.AddStoreSuffixes; }
    void SetAddStoreSuffixes(AddStoreExts value) { m_settings.AddStoreSuffixes = value; }
    CodePageOpts CodePage() const { return m_settings.CodePage; }
    void SetCodePage(CodePageOpts value) { m_settings.CodePage = value; }
    bool ConfirmErase() const { return m_settings.ConfirmErase; }
    void SetConfirmErase(bool value) { m_settings.ConfirmErase = value; }
    bool Dll_Load() const;
    void SetDll_Load(bool value);
    const QString& DLLDirectory() const { return m_settings.DLLDirectory; }
    void SetDLLDirectory(const QString& value) { m_settings.DLLDirectory = value; }
    const QString& ExtAddStoreSuffixes() const { return m_settings.ExtAddStoreSuffixes; }
    // Normalised as given; a non-empty text stands in the suffix set as assEXT.
    void SetExtAddStoreSuffixes(const QString& value)
    {
        m_settings.ExtAddStoreSuffixes = NormaliseStoreSuffixes(value);
        if (m_settings.ExtAddStoreSuffixes.isEmpty())
            m_settings.AddStoreSuffixes.remove(assEXT);
        else
            m_settings.AddStoreSuffixes.insert(assEXT);
    }
    const QString& ExtrBaseDir() const { return m_settings.ExtrBaseDir; }
    void SetExtrBaseDir(const QString& value) { m_settings.ExtrBaseDir = value; }
    ExtrOpts ExtrOptions() const { return m_settings.ExtrOptions; }
    void SetExtrOptions(ExtrOpts value) { m_settings.ExtrOptions = value; }
    const QStringList& FSpecArgs() const { return FFSpecArgs; }
    void SetFSpecArgs(const QStringList& value) { FFSpecArgs = value; }
    const QStringList& FSpecArgsExcl() const { return FFSpecArgsExcl; }
    void SetFSpecArgsExcl(const QStringList& value) { FFSpecArgsExcl = value; }
    TDeleteOpts HowToDelete() const { return m_settings.HowToDelete; }
    void SetHowToDelete(TDeleteOpts value) { m_settings.HowToDelete = value; }
    quint32 KeepFreeOnAllDisks() const { return m_settings.KeepFreeOnAllDisks; }
    void SetKeepFreeOnAllDisks(quint32 value) { m_settings.KeepFreeOnAllDisks = value; }
    quint32 KeepFreeOnDisk1() const { return m_settings.KeepFreeOnDisk1; }
    void SetKeepFreeOnDisk1(quint32 value) { m_settings.KeepFreeOnDisk1 = value; }
    QString Language() const;
    void SetLanguage(const QString& value);
    int MaxVolumeSize() const { return m_settings.MaxVolumeSize; }
    void SetMaxVolumeSize(int value) { m_settings.MaxVolumeSize = value; }
    int MinFreeVolumeSize() const { return m_settings.MinFreeVolumeSize; }
    void SetMinFreeVolumeSize(int value) { m_settings.MinFreeVolumeSize = value; }
    const QString& Password() const { return m_worker->Password(); }
    void SetPassword(const QString& value) { m_worker->SetPassword(value); }
    quint32 PasswordReqCount() const { return m_settings.PasswordReqCount; }
    void SetPasswordReqCount(quint32 value)
    {
        m_settings.PasswordReqCount = std::min(value, TZipSettings::MaxPasswordReqCount);
    }
    const QString& RootDir() const { return m_settings.RootDir; }
    void SetRootDir(const QString& value) { m_settings.RootDir = value; }
    const QString& SFXCaption() const { return m_sfx->Caption; }
    void SetSFXCaption(const QString& value) { m_sfx->Caption = value; }
    const QString& SFXCommandLine() const { return m_sfx->CommandLine; }
    void SetSFXCommandLine(const QString& value) { m_sfx->CommandLine = value; }
    const QString& SFXDefaultDir() const { return m_sfx->DefaultDir; }
    void SetSFXDefaultDir(const QString& value) { m_sfx->DefaultDir = value; }
    const QIcon& SFXIcon() const { return m_sfx->Icon; }
    void SetSFXIcon(const QIcon& value) { m_sfx->Icon = value; }
    const QString& SFXMessage() const { return m_sfx->Message; }
    void SetSFXMessage(const QString& value);
    quint8 SFXMessageFlags() const { return m_sfx->MessageFlags; }
    TSFXOptions SFXOptions() const { return m_sfx->Options; }
    void SetSFXOptions(TSFXOptions value) { m_sfx->Options = value; }
    OvrOpts SFXOverWriteMode() const { return m_sfx->OverWriteMode; }
    void SetSFXOverWriteMode(OvrOpts value) { m_sfx->OverWriteMode = value; }
    const QString& SFXPath() const { return m_sfx->Path; }
    void SetSFXPath(const QString& value) { m_sfx->Path = value; }
    SpanOpts SpanOptions() const { return m_settings.SpanOptions; }
    void SetSpanOptions(SpanOpts value) { m_settings.SpanOptions = value; }
    const QString& TempDir() const { return m_settings.TempDir; }
    void SetTempDir(const QString& value) { m_settings.TempDir = value; }
    bool Trace() const { return m_settings.Trace; }
    void SetTrace(bool value) { m_settings.Trace = value; }
    bool Unattended() const { return m_settings.Unattended; }
    void SetUnattended(bool value) { m_settings.Unattended = value; }
    bool UseDirOnlyEntries() const { return m_settings.UseDirOnlyEntries; }
    void SetUseDirOnlyEntries(bool value) { m_settings.UseDirOnlyEntries = value; }
    bool Verbose() const { return m_settings.Verbose; }
    void SetVerbose(bool value) { m_settings.Verbose = value; }
    QString Version() const { return QStringLiteral("1.79.03.01"); }
    void SetVersion(const QString&) { }
    QString VersionInfo() const { return Version(); }
    void SetVersionInfo(const QString&) { }
    QString ZipFileName() const { return m_worker->ZipFileName(); }
    void SetZipFileName(const QString& value);

    // Events live in the core; the properties read and write its slots.
#define VELLUMIX_ZIP_EVENT(Type, Name)                                                                                 \
    Type Name() const                                                                                                  \
    {                                                                                                                  \
        return m_worker->Name;                                                                                         \
    }                                                                                                                  \
    void Set##Name(Type handler)                                                                                       \
    {                                                                                                                  \
        m_worker->Name = std::move(handler);                                                                           \
    }
    VELLUMIX_ZIP_EVENT(TCheckTerminateEvent, OnCheckTerminate)
    VELLUMIX_ZIP_EVENT(TGetNextDiskEvent, OnGetNextDisk)
    VELLUMIX_ZIP_EVENT(TItemProgressEvent, OnItemProgress)
    VELLUMIX_ZIP_EVENT(TMessageEvent, OnMessage)
    VELLUMIX_ZIP_EVENT(TProgressEvent, OnProgress)
    VELLUMIX_ZIP_EVENT(TProgressDetailsEvent, OnProgressDetails)
    VELLUMIX_ZIP_EVENT(TNotifyEvent, OnTick)
    VELLUMIX_ZIP_EVENT(TTotalProgressEvent, OnTotalProgress)
    VELLUMIX_ZIP_EVENT(TZipDialogEvent, OnZipDialog)
    VELLUMIX_ZIP_EVENT(TCopyZipOverwriteEvent, OnCopyZipOverwrite)
    VELLUMIX_ZIP_EVENT(TCRC32ErrorEvent, OnCRC32Error)
    VELLUMIX_ZIP_EVENT(TNotifyEvent, OnDirUpdate)
    VELLUMIX_ZIP_EVENT(TExtractOverwriteEvent, OnExtractOverwrite)
    VELLUMIX_ZIP_EVENT(TExtractSkippedEvent, OnExtractSkipped)
    VELLUMIX_ZIP_EVENT(TFileCommentEvent, OnFileComment)
    VELLUMIX_ZIP_EVENT(TFileExtraEvent, OnFileExtra)
    VELLUMIX_ZIP_EVENT(TNewNameEvent, OnNewName)
    VELLUMIX_ZIP_EVENT(TPasswordErrorEvent, OnPasswordError)
    VELLUMIX_ZIP_EVENT(TSetAddNameEvent, OnSetAddName)
    VELLUMIX_ZIP_EVENT(TSetExtNameEvent, OnSetExtName)
    VELLUMIX_ZIP_EVENT(TSetNewNameEvent, OnSetNewName)
    VELLUMIX_ZIP_EVENT(TStatusDiskEvent, OnStatusDisk)
#undef VELLUMIX_ZIP_EVENT

    // The guard around every operation; EndOperation only after a start that returned 0.
    int StartOperation();
    void EndOperation();

private:
    bool DesigningOrLoading() const
    {
        return m_componentState != 0;
    }

    quint8 m_componentState = 0;
    int FActiveState = asInactive;
    bool FBusy = false;
    bool FReentry = false;
    bool FNotMainThread = false;
    bool FDllLoadWanted = false;
    QString FStoredLanguage;
    void* m_ownerHandle = nullptr;
    std::unique_ptr<TZipWorker> m_worker;
    std::unique_ptr<TZipSFX> m_sfx;
    QStringList FFSpecArgs;
    QStringList FFSpecArgsExcl;

    TZipSettings m_settings;
};

// The component as placed on a form.
class TZipArchiver : public TCustomZipArchiver
{
public:
    using TCustomZipArchiver::TCustomZipArchiver;
};
