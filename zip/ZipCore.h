#pragma once

#include "zip/ZipTypes.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>

class QObject;
class EZipArchiver;
struct ZipDirEntry;

// A snapshot of the running batch, handed to OnProgressDetails.
class TProgressDetails
{
public:
    virtual ~TProgressDetails() = default;

    ProgressType ProgType() const { return FProgType; }
    int ItemCount() const { return FItemCount; }
    qint64 BytesWritten() const { return FBytesWritten; }
    qint64 TotalSize() const { return FTotalSize; }
    qint64 TotalPosition() const { return FTotalPosition; }
    quint32 ItemSize() const { return FItemSize; }
    quint32 ItemPosition() const { return FItemPosition; }
    const QString& ItemName() const { return FItemName; }
    int ItemNumber() const { return FItemNumber; }

    int ItemPerCent() const;
    int TotalPerCent() const;

protected:
    ProgressType FProgType = ProgressType::EndOfBatch;
    int FItemCount = 0;
    qint64 FBytesWritten = 0;
    qint64 FTotalSize = 0;
    qint64 FTotalPosition = 0;
    quint32 FItemSize = 0;
    quint32 FItemPosition = 0;
    QString FItemName;
    int FItemNumber = 0;
};

// The core's own details, with the updates only the core performs.
class TProgDetails : public TProgressDetails
{
public:
    void Clear();
    void SetCount(int count);
    void SetSize(qint64 size);
    void NewItem(const QString& name, quint32 size);
    void Advance(quint32 bytes);
    void EndItem();
    void NewExtra(const QString& name, quint32 size);
    void AdvanceXtra(quint32 bytes);
    void SetBytesWritten(qint64 bytes) { FBytesWritten = bytes; }
};

// Event handler types; every handler gets the component as Sender.
using TCheckTerminateEvent = std::function<void(QObject* Sender, bool& abort)>;
using TGetNextDiskEvent
    = std::function<void(QObject* Sender, int DiskSeqNo, int DiskTotal, const QString& Drive, bool& AbortAction)>;
using TItemProgressEvent = std::function<void(QObject* Sender, const QString& Item, quint32 TotalSize, int PerCent)>;
using TMessageEvent = std::function<void(QObject* Sender, int ErrCode, const QString& Message)>;
using TProgressEvent
    = std::function<void(QObject* Sender, ProgressType ProgrType, const QString& Filename, qint64 FileSize)>;
using TProgressDetailsEvent = std::function<void(QObject* Sender, TProgressDetails* details)>;
using TNotifyEvent = std::function<void(QObject* Sender)>;
using TTotalProgressEvent = std::function<void(QObject* Sender, qint64 TotalSize, int PerCent)>;
using TZipDialogEvent
    = std::function<void(QObject* Sender, const QString& title, QString& msg, int& Result, TMsgDlgButtons btns)>;
using TCopyZipOverwriteEvent = std::function<void(QObject* Sender, const QString& ForFile, bool& DoOverwrite)>;
using TCRC32ErrorEvent = std::function<void(
    QObject* Sender, const QString& ForFile, quint32 FoundCRC, quint32 ExpectedCRC, bool& DoExtract)>;
using TExtractOverwriteEvent
    = std::function<void(QObject* Sender, const QString& ForFile, bool IsOlder, bool& DoOverwrite, int DirIndex)>;
using TExtractSkippedEvent
    = std::function<void(QObject* Sender, const QString& ForFile, UnZipSkipTypes SkipType, int ExtError)>;
using TFileCommentEvent
    = std::function<void(QObject* Sender, const QString& ForFile, QString& FileComment, bool& IsChanged)>;
using TFileExtraEvent = std::function<void(QObject* Sender, const QString& ForFile, QByteArray& Data, bool& IsChanged)>;
using TNewNameEvent = std::function<void(QObject* Sender, int SeqNo, const ZipDirEntry& ZipEntry)>;
using TPasswordErrorEvent = std::function<void(QObject* Sender, bool IsZipAction, QString& NewPassword,
    const QString& ForFile, quint32& RepeatCount, TMsgDlgBtn& Action)>;
using TSetAddNameEvent
    = std::function<void(QObject* Sender, QString& FileName, const QString& ExtName, bool& IsChanged)>;
using TSetExtNameEvent = std::function<void(QObject* Sender, QString& FileName, bool& IsChanged)>;
using TSetNewNameEvent = std::function<void(QObject* Sender, QString& OldFileName, bool& IsChanged)>;
using TStatusDiskEvent = std::function<void(
    QObject* Sender, int PreviousDisk, const QString& PreviousFile, TZipDiskStatus Status, TZipDiskAction& Action)>;

// Where every operation of the component reports: progress events, messages
// and errors, its dialog, the wait cursor, temporary names and run flags.
class TZipCore
{
public:
    explicit TZipCore(QObject* master);
    virtual ~TZipCore();
    TZipCore(const TZipCore&) = delete;
    TZipCore& operator=(const TZipCore&) = delete;

    // Report actions the core understands.
    enum ReportAction : quint8 {
        zacTick = 0,
        zacItem = 1,
        zacProgress = 2,
        zacEndOfBatch = 3,
        zacMessage = 4,
        zacCount = 5,
        zacSize = 6,
        zacXItem = 15,
        zacXProgress = 16,
        zacNone = 19,
    };

    void Report(quint8 action, int code, const QString& text, qint64 size);
    void ReportMessageId(int ident, const QString& tail = {});
    void ReportMessageFmt(int ident, const QVariantList& args);
    void ReportException(const EZipArchiver& e);
    int MessageDialog(const QString& title, QString& text, int kind, TMsgDlgButtons buttons);
    int ShowMessageBox(const QString& text, int kind);
    void BeginWait();
    void EndWait();
    // Empty when no fresh file could be made.
    QString MakeTempName(const QString& prefix = {}, const QString& extension = {});
    void SetTempDir(const QString& folder);
    void MarkReentry();

    virtual void DefaultReport(quint8 action, int code, const QString& text, quint32 size);
    virtual void EndRun();
    virtual void SetCancel(bool value);
    virtual void StartRun();
    virtual void ResetState();

    QObject* Master() const { return FMaster; }
    int WaitCount() const { return FWaitCount; }
    bool Cancel() const { return FCancel; }
    int ErrorCode() const { return FErrorCode; }
    void SetErrorCode(int code) { FErrorCode = code; }
    const QString& ErrorMessage() const { return FErrorMessage; }
    void SetErrorMessage(const QString& text) { FErrorMessage = text; }
    const QString& HandlerErrorText() const { return FHandlerErrorText; }
    void SetHandlerErrorText(const QString& text) { FHandlerErrorText = text; }
    bool Closing() const { return FClosing; }
    void SetClosing(bool value) { FClosing = value; }
    bool NotMainThread() const { return FNotMainThread; }
    void SetNotMainThread(bool value) { FNotMainThread = value; }
    TProgDetails* Details() const { return FDetails.get(); }
    bool Reentry() const { return FReentry; }
    const QString& TempDir() const { return FTempDir; }
    bool Trace() const { return FTrace; }
    void SetTrace(bool value) { FTrace = value; }
    bool Unattended() const { return FUnattended; }
    void SetUnattended(bool value) { FUnattended = value; }
    bool Verbose() const { return FVerbose; }
    void SetVerbose(bool value) { FVerbose = value; }

    TCheckTerminateEvent OnCheckTerminate;
    TGetNextDiskEvent OnGetNextDisk;
    TItemProgressEvent OnItemProgress;
    TMessageEvent OnMessage;
    TProgressEvent OnProgress;
    TProgressDetailsEvent OnProgressDetails;
    TNotifyEvent OnTick;
    TTotalProgressEvent OnTotalProgress;
    TZipDialogEvent OnZipDialog;
    TCopyZipOverwriteEvent OnCopyZipOverwrite;
    TCRC32ErrorEvent OnCRC32Error;
    TNotifyEvent OnDirUpdate;
    TExtractOverwriteEvent OnExtractOverwrite;
    TExtractSkippedEvent OnExtractSkipped;
    TFileCommentEvent OnFileComment;
    TFileExtraEvent OnFileExtra;
    TNewNameEvent OnNewName;
    TPasswordErrorEvent OnPasswordError;
    TSetAddNameEvent OnSetAddName;
    TSetExtNameEvent OnSetExtName;
    TSetNewNameEvent OnSetNewName;
    TStatusDiskEvent OnStatusDisk;

protected:
    void ReportText(int ident, const QString& text);
    void CheckTerminate();
    void RestoreCursor();

    QObject* FMaster;
    int FWaitCount = 0;
    bool m_cursorSaved = false;
    bool FCancel = false;
    int FErrorCode = -1;
    QString FErrorMessage;
    QString FHandlerErrorText;
    bool FClosing = false;
    bool FNotMainThread = false;
    std::unique_ptr<TProgDetails> FDetails;
    bool FReentry = false;
    QString FTempDir;
    bool FTrace = false;
    bool FUnattended = true;
    bool FVerbose = false;
};
