#include "zip/ZipArchiver.h"

#include "zip/ZipMsgStr.h"

#include <QWidget>

namespace
{
constexpr quint8 kSfxFlagsFirst = 65;
constexpr quint8 kSfxFlagsSecond = 36;
} // namespace

TCustomZipArchiver::TCustomZipArchiver(QObject* owner, quint8 componentState)
    : QObject(owner)
    , FComponentState(componentState)
    , FWorker(std::make_unique<TZipWorker>(this))
    , FSFX(std::make_unique<TZipSFX>())
{
    if (auto* widget = qobject_cast<QWidget*>(owner))
        FOwnerHandle = widget->window();
    FWorker->SetOwnerHandle(FOwnerHandle);
    if (FComponentState & csDesigning) {
        FActiveState = asDesigning;
    } else if (FComponentState & csLoading) {
        FActiveState = asLoading;
    } else {
        FActiveState = asActive;
        FWorker->Activate();
    }
}

TCustomZipArchiver::~TCustomZipArchiver()
{
    FWorker->Deactivate();
}

int TCustomZipArchiver::StartOperation()
{
    if (DesigningOrLoading())
        return StatusLoading;
    if (!Active())
        return StatusNotActive;
    if (FBusy) {
        FReentry = true;
        FWorker->MarkReentry();
        return StatusNotActive;
    }
    try {
        TZipWorker& w = *FWorker;
        w.SetErrorCode(0);
        w.SetNotMainThread(FNotMainThread);
        w.FSpecArgs = FFSpecArgs;
        w.FSpecArgsExcl = FFSpecArgsExcl;
        w.TakeSettings(m_settings);
        w.Activate();
        w.StartRun();
        FReentry = false;
        FBusy = true;
        try {
            w.SetDllLoaded(FDllLoadWanted);
        } catch (...) {
            // A start that fails here must not leave the component busy.
            w.EndRun();
            FBusy = false;
            throw;
        }
        return 0;
    } catch (const EZipArchiver& e) {
        FWorker->ReportException(e);
        return e.MessageId() != 0 ? e.MessageId() : StatusOtherError;
    } catch (const std::exception&) {
        return StatusOtherError;
    }
}

void TCustomZipArchiver::EndOperation()
{
    FWorker->EndRun();
    FBusy = false;
    if (FWorker->Reentry())
        FReentry = true;
    FFSpecArgs = FWorker->FSpecArgs;
    FFSpecArgsExcl = FWorker->FSpecArgsExcl;
    if (FActiveState == asDeactivating) {
        FActiveState = asInactive;
        FWorker->Deactivate();
    }
}

int TCustomZipArchiver::AddStreamEntry(const QString& name, quint32 dosDate, quint32 attributes)
{
    int status = StartOperation();
    if (status != 0)
        return status;
    try {
        status = FWorker->AddStreamEntry(name, dosDate, attributes);
    } catch (...) {
        EndOperation();
        throw;
    }
    EndOperation();
    return status;
}

TZipStream* TCustomZipArchiver::ExtractEntryToStream(const QString& name)
{
    if (StartOperation() != 0)
        return nullptr;
    TZipStream* result = nullptr;
    try {
        result = FWorker->ExtractEntryToStream(name);
    } catch (...) {
        EndOperation();
        throw;
    }
    EndOperation();
    return result;
}

void TCustomZipArchiver::SetZipFileName(const QString& value)
{
    if (DesigningOrLoading())
        FWorker->Deactivate();
    // A name stored in the form is kept while loading; the listing waits for activation.
    if (DesigningOrLoading() || !Active()) {
        FWorker->SetZipFileName(value);
        return;
    }
    if (StartOperation() != 0)
        return;
    try {
        FWorker->SetZipFileName(value);
    } catch (...) {
        EndOperation();
        throw;
    }
    EndOperation();
}

void TCustomZipArchiver::SetActive(bool value)
{
    const int old = FActiveState;
    FActiveState = asInactive;
    if (FComponentState & csDesigning) {
        FActiveState = value ? asDesigning : asInactive;
    } else if (FComponentState & csLoading) {
        FActiveState = value ? asLoading : asInactive;
    } else if (FBusy) {
        FActiveState = value ? asActive : asDeactivating;
    } else if (value) {
        FActiveState = asActive;
        if (old == asInactive && StartOperation() == 0) {
            FWorker->Activate();
            EndOperation();
        } else {
            FWorker->Deactivate();
        }
    } else {
        FWorker->Deactivate();
    }
}

void TCustomZipArchiver::Loaded()
{
    FComponentState &= quint8(~csLoading);
    if (FComponentState & csDesigning)
        return;
    SetMessageLanguage(FStoredLanguage);
    if (Active() && StartOperation() == 0) {
        FWorker->Activate();
        EndOperation();
    } else {
        FWorker->Deactivate();
    }
}

bool TCustomZipArchiver::Dll_Load() const
{
    return DesigningOrLoading() ? FDllLoadWanted : FWorker->IsLoaded();
}

void TCustomZipArchiver::SetDll_Load(bool value)
{
    if (value == Dll_Load())
        return;
    FDllLoadWanted = value;
    if (DesigningOrLoading())
        return;
    if (Active() && FBusy) {
        try {
            FWorker->SetDllLoaded(value);
        } catch (const EZipArchiver& e) {
            FWorker->ReportException(e);
        }
        FDllLoadWanted = FWorker->IsLoaded();
        return;
    }
    const int status = StartOperation();
    // A library that failed to load is not wanted again by every later operation.
    if (status == 0 || FWorker->ErrorCode() == status)
        FDllLoadWanted = FWorker->IsLoaded();
    if (status == 0)
        EndOperation();
}

QString TCustomZipArchiver::Language() const
{
    if (DesigningOrLoading())
        return FStoredLanguage;
    return MessageLanguageInfo(-1, -1);
}

void TCustomZipArchiver::SetLanguage(const QString& value)
{
    if (DesigningOrLoading())
        FStoredLanguage = value;
    else
        SetMessageLanguage(value);
}

void TCustomZipArchiver::SetSFXMessage(const QString& value)
{
    QString text = value;
    quint8 flags = 0;
    if (text.startsWith(QChar(1))) {
        flags = kSfxFlagsFirst;
        text.remove(0, 1);
    } else if (text.startsWith(QChar(2))) {
        flags = kSfxFlagsSecond;
        text.remove(0, 1);
    }
    FSFX->Message = text;
    FSFX->MessageFlags = flags;
}
