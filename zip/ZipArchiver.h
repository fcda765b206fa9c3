#pragma once

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

// Holds every property of the component and guards each operation.
class TCustomZipArchiver : public QObject
{
public:
    static constexpr int StatusLoading = -256;
    static constexpr int StatusNotActive = -255;
    static constexpr int StatusOtherError = -9;
    static constexpr quint32 MaxPasswordReqCount = 15;

    explicit TCustomZipArchiver(QObject* owner = nullptr, quint8 componentState = 0);
    ~TCustomZipArchiver() override;

    // Operations.
    int AddStreamEntry(const QString& name, quint32 dosDate, quint32 attributes);
    TZipStream* ExtractEntryToStream(const QString& name);
    TZipStream* EntryStream() const { return FWorker->EntryStream(); }
    // Called by the form loader when every stored property has been read.
    void Loaded();

    // State.
    int ActiveState() const { return FActiveState; }
    bool Active() const { return FActiveState != 0; }
    void SetActive(bool value);
    bool Busy() const { return FBusy; }
    bool Reentry() const { return FReentry; }
    bool NotMainThread() const { return FNotMainThread; }
    quint8 ComponentState() const { return FComponentState; }
    TZipWorker* Worker() const { return FWorker.get(); }
    TZipSFX* SFX() const { return FSFX.get(); }
    int ErrorCode() const { return FWorker->ErrorCode(); }
    const QString& ErrorMessage() const { return FWorker->ErrorMessage(); }
    int Count() const { return FWorker->Count(); }
    const ZipDirEntry& DirEntry(int index) const { return FWorker->Entry(index); }

    // Properties.
    int AddCompLevel() const { return FAddCompLevel; }
    void SetAddCompLevel(int value) { FAddCompLevel = value; }
    double AddFrom() const { return FAddFrom; }
    void SetAddFrom(double value) { FAddFrom = value; }
    AddOpts AddOptions() const { return FAddOptions; }
    void SetAddOptions(AddOpts value) { FAddOptions = value; }
    AddStoreExts AddStoreSuffixes() const { return FAddStoreSuffixes; }
    void SetAddStoreSuffixes(AddStoreExts value) { FAddStoreSuffixes = value; }
    CodePageOpts CodePage() const { return FCodePage; }
    void SetCodePage(CodePageOpts value) { FCodePage = value; }
    bool ConfirmErase() const { return FConfirmErase; }
    void SetConfirmErase(bool value) { FConfirmErase = value; }
    bool Dll_Load() const;
    void SetDll_Load(bool value);
    const QString& DLLDirectory() const { return FDLLDirectory; }
    void SetDLLDirectory(const QString& value) { FDLLDirectory = value; }
    const QString& ExtAddStoreSuffixes() const { return FExtAddStoreSuffixes; }
    // Normalised as given; a non-empty text stands in the suffix set as assEXT.
    void SetExtAddStoreSuffixes(const QString& value)
    {
        FExtAddStoreSuffixes = NormaliseStoreSuffixes(value);
        if (FExtAddStoreSuffixes.isEmpty())
            FAddStoreSuffixes.remove(assEXT);
        else
            FAddStoreSuffixes.insert(assEXT);
    }
    const QString& ExtrBaseDir() const { return FExtrBaseDir; }
    void SetExtrBaseDir(const QString& value) { FExtrBaseDir = value; }
    ExtrOpts ExtrOptions() const { return FExtrOptions; }
    void SetExtrOptions(ExtrOpts value) { FExtrOptions = value; }
    const QStringList& FSpecArgs() const { return FFSpecArgs; }
    void SetFSpecArgs(const QStringList& value) { FFSpecArgs = value; }
    const QStringList& FSpecArgsExcl() const { return FFSpecArgsExcl; }
    void SetFSpecArgsExcl(const QStringList& value) { FFSpecArgsExcl = value; }
    TDeleteOpts HowToDelete() const { return FHowToDelete; }
    void SetHowToDelete(TDeleteOpts value) { FHowToDelete = value; }
    quint32 KeepFreeOnAllDisks() const { return FKeepFreeOnAllDisks; }
    void SetKeepFreeOnAllDisks(quint32 value) { FKeepFreeOnAllDisks = value; }
    quint32 KeepFreeOnDisk1() const { return FKeepFreeOnDisk1; }
    void SetKeepFreeOnDisk1(quint32 value) { FKeepFreeOnDisk1 = value; }
    QString Language() const;
    void SetLanguage(const QString& value);
    int MaxVolumeSize() const { return FMaxVolumeSize; }
    void SetMaxVolumeSize(int value) { FMaxVolumeSize = value; }
    int MinFreeVolumeSize() const { return FMinFreeVolumeSize; }
    void SetMinFreeVolumeSize(int value) { FMinFreeVolumeSize = value; }
    const QString& Password() const { return FWorker->Password; }
    void SetPassword(const QString& value) { FWorker->Password = value; }
    quint32 PasswordReqCount() const { return FPasswordReqCount; }
    void SetPasswordReqCount(quint32 value) { FPasswordReqCount = std::min(value, MaxPasswordReqCount); }
    const QString& RootDir() const { return FRootDir; }
    void SetRootDir(const QString& value) { FRootDir = value; }
    const QString& SFXCaption() const { return FSFX->Caption; }
    void SetSFXCaption(const QString& value) { FSFX->Caption = value; }
    const QString& SFXCommandLine() const { return FSFX->CommandLine; }
    void SetSFXCommandLine(const QString& value) { FSFX->CommandLine = value; }
    const QString& SFXDefaultDir() const { return FSFX->DefaultDir; }
    void SetSFXDefaultDir(const QString& value) { FSFX->DefaultDir = value; }
    const QIcon& SFXIcon() const { return FSFX->Icon; }
    void SetSFXIcon(const QIcon& value) { FSFX->Icon = value; }
    const QString& SFXMessage() const { return FSFX->Message; }
    void SetSFXMessage(const QString& value);
    quint8 SFXMessageFlags() const { return FSFX->MessageFlags; }
    TSFXOptions SFXOptions() const { return FSFX->Options; }
    void SetSFXOptions(TSFXOptions value) { FSFX->Options = value; }
    OvrOpts SFXOverWriteMode() const { return FSFX->OverWriteMode; }
    void SetSFXOverWriteMode(OvrOpts value) { FSFX->OverWriteMode = value; }
    const QString& SFXPath() const { return FSFX->Path; }
    void SetSFXPath(const QString& value) { FSFX->Path = value; }
    SpanOpts SpanOptions() const { return FSpanOptions; }
    void SetSpanOptions(SpanOpts value) { FSpanOptions = value; }
    const QString& TempDir() const { return FTempDir; }
    void SetTempDir(const QString& value) { FTempDir = value; }
    bool Trace() const { return FTrace; }
    void SetTrace(bool value) { FTrace = value; }
    bool Unattended() const { return FUnattended; }
    void SetUnattended(bool value) { FUnattended = value; }
    bool UseDirOnlyEntries() const { return FUseDirOnlyEntries; }
    void SetUseDirOnlyEntries(bool value) { FUseDirOnlyEntries = value; }
    bool Verbose() const { return FVerbose; }
    void SetVerbose(bool value) { FVerbose = value; }
    QString Version() const { return QStringLiteral("1.79.03.01"); }
    void SetVersion(const QString&) { }
    QString VersionInfo() const { return Version(); }
    void SetVersionInfo(const QString&) { }
    QString ZipFileName() const { return FWorker->ZipFileName(); }
    void SetZipFileName(const QString& value);

    // Events live in the core; the properties read and write its slots.
#define VELLUMIX_ZIP_EVENT(Type, Name)                                                                                 \
    Type Name() const                                                                                                  \
    {                                                                                                                  \
        return FWorker->Name;                                                                                          \
    }                                                                                                                  \
    void Set##Name(Type handler)                                                                                       \
    {                                                                                                                  \
        FWorker->Name = std::move(handler);                                                                            \
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
        return FComponentState != 0;
    }

    quint8 FComponentState = 0;
    int FActiveState = 0;
    bool FBusy = false;
    bool FReentry = false;
    bool FNotMainThread = false;
    bool FDllLoadWanted = false;
    QString FStoredLanguage;
    void* FOwnerHandle = nullptr;
    std::unique_ptr<TZipWorker> FWorker;
    std::unique_ptr<TZipSFX> FSFX;
    QStringList FFSpecArgs;
    QStringList FFSpecArgsExcl;

    int FAddCompLevel = 9;
    double FAddFrom = 0;
    AddOpts FAddOptions;
    AddStoreExts FAddStoreSuffixes = AddStoreExts::fromBits(0x7FBFFFF);
    CodePageOpts FCodePage = CodePageOpts::cpAuto;
    bool FConfirmErase = true;
    QString FDLLDirectory;
    QString FExtAddStoreSuffixes;
    QString FExtrBaseDir;
    ExtrOpts FExtrOptions;
    TDeleteOpts FHowToDelete = TDeleteOpts::htdAllowUndo;
    quint32 FKeepFreeOnAllDisks = 0;
    quint32 FKeepFreeOnDisk1 = 0;
    int FMaxVolumeSize = 0;
    int FMinFreeVolumeSize = 65536;
    quint32 FPasswordReqCount = 1;
    QString FRootDir;
    SpanOpts FSpanOptions;
    QString FTempDir;
    bool FTrace = false;
    bool FUnattended = false;
    bool FUseDirOnlyEntries = false;
    bool FVerbose = false;
};

// The component as placed on a form.
class TZipArchiver : public TCustomZipArchiver
{
public:
    using TCustomZipArchiver::TCustomZipArchiver;
};
