#include "zip/ZipCore.h"

#include "platform/Drives.h"
#include "zip/ZipDlg.h"
#include "zip/ZipMsgStr.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryFile>
#include <QThread>

namespace
{
constexpr int kItemPercentSwitch = 214748;
} // namespace

int TProgressDetails::ItemPerCent() const
{
    if (FItemSize == 0 || FItemPosition == 0)
        return 0;
    if (FItemSize < quint32(kItemPercentSwitch))
        return int(quint32(FItemPosition * 100u) / FItemSize);
    return int(FItemPosition / (FItemSize / 100u));
}

int TProgressDetails::TotalPerCent() const
{
    if (FTotalSize <= 0 || FTotalPosition <= 0)
        return 0;
    // Wraps like the signed 64-bit product instead of overflowing.
    return int(qint64(quint64(FTotalPosition) * 100u) / FTotalSize);
}

void TProgDetails::Clear()
{
    FItemCount = 0;
    FBytesWritten = 0;
    FTotalSize = 0;
    FTotalPosition = 0;
    FItemSize = 0;
    FItemPosition = 0;
    FItemNumber = 0;
    FItemName.clear();
    FProgType = ProgressType::EndOfBatch;
}

void TProgDetails::SetCount(int count)
{
    Clear();
    FItemCount = count;
    FItemNumber = 0;
    FProgType = ProgressType::TotalFiles2Process;
}

void TProgDetails::SetSize(qint64 size)
{
    FTotalSize = size;
    FTotalPosition = 0;
    FItemSize = 0;
    FItemPosition = 0;
    FBytesWritten = 0;
    FItemName.clear();
    FProgType = ProgressType::TotalSize2Process;
}

void TProgDetails::NewItem(const QString& name, quint32 size)
{
    ++FItemNumber;
    FItemName = name;
    FItemSize = size;
    FItemPosition = 0;
    FProgType = ProgressType::NewFile;
}

void TProgDetails::Advance(quint32 bytes)
{
    FTotalPosition += bytes;
    FItemPosition += bytes;
    FProgType = ProgressType::ProgressUpdate;
}

void TProgDetails::EndItem()
{
    FItemName.clear();
    FItemSize = 0;
    FProgType = ProgressType::EndOfBatch;
}

void TProgDetails::NewExtra(const QString& name, quint32 size)
{
    FItemName = name;
    FItemSize = size;
    FItemPosition = 0;
    FProgType = ProgressType::NewExtra;
}

void TProgDetails::AdvanceXtra(quint32 bytes)
{
    FItemPosition += bytes;
    FProgType = ProgressType::ExtraUpdate;
}

TZipCore::TZipCore(QObject* master)
    : FMaster(master)
    , FDetails(std::make_unique<TProgDetails>())
{ }

TZipCore::~TZipCore()
{
    RestoreCursor();
}

void TZipCore::Report(quint8 action, int code, const QString& text, qint64 size)
{
    if (FClosing)
        return;
    const auto size32 = quint32(size);
    TProgDetails& details = *FDetails;
    auto progress = [&](ProgressType type, const QString& name, qint64 bytes) {
        if (OnProgress)
            OnProgress(FMaster, type, name, bytes);
    };
    auto detailsChanged = [&] {
        if (OnProgressDetails)
            OnProgressDetails(FMaster, &details);
    };
    auto itemProgress = [&](const QString& name, quint32 total, int perCent) {
        if (OnItemProgress)
            OnItemProgress(FMaster, name, total, perCent);
    };
    auto totalProgress = [&](qint64 total, int perCent) {
        if (OnTotalProgress)
            OnTotalProgress(FMaster, total, perCent);
    };

    switch (action) {
    case zacNone:
        break;
    case zacTick:
        if (OnTick)
            OnTick(FMaster);
        break;
    case zacItem:
        progress(ProgressType::NewFile, text, size);
        details.NewItem(text, size32);
        detailsChanged();
        itemProgress(details.ItemName(), size32, 0);
        break;
    case zacProgress:
        progress(ProgressType::ProgressUpdate, QString(), size);
        details.Advance(size32);
        detailsChanged();
        itemProgress(details.ItemName(), details.ItemSize(), details.ItemPerCent());
        totalProgress(details.TotalSize(), details.TotalPerCent());
        break;
    case zacEndOfBatch:
        progress(ProgressType::EndOfBatch, QString(), 0);
        details.EndItem();
        detailsChanged();
        // 101 per cent marks the end of a batch.
        itemProgress(QString(), 0, 101);
        totalProgress(0, 101);
        break;
    case zacMessage: {
        QString eventText = text;
        if (code != 0) {
            FErrorMessage = text;
            FErrorCode = qint8(code & 0xFF);
            if (FErrorCode == 9 && !FHandlerErrorText.isEmpty()) {
                FErrorMessage = FormatMessageText(ZipMsg::ExceptionInEvent, FHandlerErrorText);
                eventText = FErrorMessage;
            }
        }
        if (OnMessage)
            OnMessage(FMaster, code, eventText);
        break;
    }
    case zacCount:
        details.SetCount(int(size32));
        detailsChanged();
        progress(ProgressType::TotalFiles2Process, QString(), size);
        break;
    case zacSize:
        details.SetSize(size);
        detailsChanged();
        progress(ProgressType::TotalSize2Process, QString(), size);
        break;
    case zacXItem:
        progress(ProgressType::NewExtra, text, size);
        details.NewExtra(LoadMessageText(ZipMsg::ItemBase + code), size32);
        detailsChanged();
        itemProgress(details.ItemName(), size32, 0);
        break;
    case zacXProgress:
        progress(ProgressType::ExtraUpdate, details.ItemName(), size);
        details.AdvanceXtra(size32);
        detailsChanged();
        itemProgress(details.ItemName(), details.ItemSize(), details.ItemPerCent());
        break;
    default:
        DefaultReport(action, code, text, size32);
        break;
    }
    CheckTerminate();
}

void TZipCore::CheckTerminate()
{
    if (OnCheckTerminate) {
        bool abort = FCancel;
        OnCheckTerminate(FMaster, abort);
        if (abort)
            SetCancel(true);
    } else if (!FNotMainThread && QCoreApplication::instance()) {
        QCoreApplication::processEvents();
    }
}

void TZipCore::ReportText(int ident, const QString& text)
{
    FErrorMessage = text;
    FErrorCode = ident;
    if (!FUnattended)
        ShowMessageBox(text, ZipDlgInformation);
    if (OnMessage)
        OnMessage(FMaster, ident, text);
}

void TZipCore::ReportMessageId(int ident, const QString& tail)
{
    if (FUnattended && !OnMessage)
        return;
    ReportText(ident, LoadMessageText(ident) + tail);
}

void TZipCore::ReportMessageFmt(int ident, const QVariantList& args)
{
    if (FUnattended && !OnMessage)
        return;
    ReportText(ident, FormatMessageText(ident, args));
}

void TZipCore::ReportException(const EZipArchiver& e)
{
    FErrorCode = e.MessageId();
    FErrorMessage = e.message();
    if (e.DisplayFlag() && !FUnattended)
        ShowMessageBox(FErrorMessage, ZipDlgError);
    if (OnMessage)
        OnMessage(FMaster, FErrorCode, FErrorMessage);
}

int TZipCore::MessageDialog(const QString& title, QString& text, int kind, TMsgDlgButtons buttons)
{
    QString caption = title.isEmpty() ? ZipApplicationTitle() : title;
    if (FVerbose)
        caption = ZipFormat(QStringLiteral("%s   (%d)"), { caption, kind & 0xFFFF });
    if (OnZipDialog) {
        QString answer = text;
        int result = kind;
        OnZipDialog(FMaster, caption, answer, result, buttons);
        if (result >= mrOk && result <= mrYesToAll) {
            text = answer;
            return result;
        }
    }
    // Widgets exist only in a widget application and only on its thread.
    const QCoreApplication* app = QCoreApplication::instance();
    if (!qobject_cast<const QApplication*>(app) || QThread::currentThread() != app->thread()) {
        if (((kind >> 16) & 0x7) >= 4)
            text.clear();
        return mrCancel;
    }
    TZipDialogBox box(nullptr, kind);
    box.setup(caption, text, buttons);
    const int result = box.showModal();
    if (box.kind() == 4)
        text = result == mrOk ? box.inputText() : QString();
    return result;
}

int TZipCore::ShowMessageBox(const QString& text, int kind)
{
    QString copy = text;
    return MessageDialog(QString(), copy, kind, { mbOK });
}

void TZipCore::BeginWait()
{
    if (FNotMainThread)
        return;
    if (FWaitCount == 0 && qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        m_cursorSaved = true;
    }
    ++FWaitCount;
}

void TZipCore::EndWait()
{
    if (FNotMainThread || FWaitCount <= 0)
        return;
    if (--FWaitCount == 0)
        RestoreCursor();
}

void TZipCore::RestoreCursor()
{
    if (m_cursorSaved) {
        QGuiApplication::restoreOverrideCursor();
        m_cursorSaved = false;
    }
}

QString TZipCore::MakeTempName(const QString& prefix, const QString& extension)
{
    QString folder;
    if (!FTempDir.isEmpty()) {
        if (!FTempDir.endsWith(QLatin1Char('/')))
            FTempDir += QLatin1Char('/');
        folder = FTempDir;
    } else {
        folder = QDir::tempPath() + QLatin1Char('/');
    }
    const QString stem = prefix.isEmpty() ? QStringLiteral("zip") : prefix;
    QTemporaryFile file(folder + stem + QStringLiteral("XXXXXX.tmp"));
    file.setAutoRemove(false);
    if (!file.open())
        return {};
    const QString name = file.fileName();
    file.close();
    QFile::remove(name);
    const QString ext = extension.isEmpty() ? QStringLiteral(".zip") : extension;
    return name.chopped(4) + ext;
}

void TZipCore::SetTempDir(const QString& folder)
{
    if (folder == FTempDir)
        return;
    if (!folder.isEmpty()) {
        const Drives::DriveType type = Drives::driveType(folder);
        if (type != Drives::DriveType::Fixed && type != Drives::DriveType::RamDisk)
            throw EZipArchiver(ZipMsg::CannotWriteTo, folder);
    }
    FTempDir = folder;
}

void TZipCore::MarkReentry()
{
    FReentry = true;
    if (FVerbose)
        Report(zacMessage, 0, QStringLiteral("Re-entry"), 0);
}

void TZipCore::DefaultReport(quint8, int, const QString&, quint32) { }

void TZipCore::EndRun()
{
    if (!FNotMainThread && FWaitCount > 0) {
        FWaitCount = 0;
        RestoreCursor();
    }
}

void TZipCore::SetCancel(bool value)
{
    FCancel = value;
}

void TZipCore::StartRun()
{
    FReentry = false;
    const QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() != app->thread())
        FNotMainThread = true;
}

void TZipCore::ResetState()
{
    SetMessageLanguage(QString());
    FReentry = false;
    FCancel = false;
    FUnattended = false;
    FVerbose = false;
    FTrace = false;
    FClosing = false;
    FErrorCode = 0;
    FErrorMessage.clear();
    FHandlerErrorText.clear();
    FDetails->Clear();
}
