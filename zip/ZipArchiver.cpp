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
    , m_componentState(componentState)
    , m_worker(std::make_unique<TZipWorker>(this))
    , m_sfx(std::make_unique<TZipSFX>())
{
    if (auto* widget = qobject_cast<QWidget*>(owner))
        m_ownerHandle = widget->window();
    m_worker->SetOwnerHandle(m_ownerHandle);
    if (m_componentState & csDesigning) {
        FActiveState = asDesigning;
    } else if (m_componentState & csLoading) {
        FActiveState = asLoading;
    } else {
        FActiveState = asActive;
        m_worker->Activate();
    }
}

TCustomZipArchiver::~TCustomZipArchiver()
{
    m_worker->Deactivate();
}

int TCustomZipArchiver::StartOperation()
{
    if (DesigningOrLoading())
        return StatusLoading;
    if (!Active())
        return StatusNotActive;
    if (FBusy) {
        FReentry = true;
        m_worker->MarkReentry();
        return StatusNotActive;
    }
    try {
        TZipWorker& w = *m_worker;
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
        m_worker->ReportException(e);
        return e.MessageId() != 0 ? e.MessageId() : StatusOtherError;
    } catch (const std::exception&) {
        return StatusOtherError;
    }
}

void TCustomZipArchiver::EndOperation()
{
    m_worker->EndRun();
    FBusy = false;
    if (m_worker->Reentry())
        FReentry = true;
    FFSpecArgs = m_worker->FSpecArgs;
    FFSpecArgsExcl = m_worker->FSpecArgsExcl;
    if (FActiveState == asDeactivating) {
        FActiveState = asInactive;
        m_worker->Deactivate();
    }
}

int TCustomZipArchiver::AddStreamEntry(const QString& name, quint32 dosDate, quint32 attributes)
{
    int status = StartOperation();
    if (status != 0)
        return status;
    try {
        status = m_worker->AddStreamEntry(name, dosDate, attributes);
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
        result = m_worker->ExtractEntryToStream(name);
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
        m_worker->Deactivate();
    // A name stored in the form is kept while loading; the listing waits for activation.
    if (DesigningOrLoading() || !Active()) {
        m_worker->SetZipFileName(value);
        return;
    }
    if (StartOperation() != 0)
        return;
    try {
        m_worker->SetZipFileName(value);
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
    if (m_componentState & csDesigning) {
        FActiveState = value ? asDesigning : asInactive;
    } else if (m_componentState & csLoading) {
        FActiveState = value ? asLoading : asInactive;
    } else if (FBusy) {
        FActiveState = value ? asActive : asDeactivating;
    } else if (value) {
        FActiveState = asActive;
        if (old == asInactive && StartOperation() == 0) {
            m_worker->Activate();
            EndOperation();
        } else {
            m_worker->Deactivate();
        }
    } else {
        m_worker->Deactivate();
    }
}

void TCustomZipArchiver::Loaded()
{
    m_componentState &= quint8(~csLoading);
    if (m_componentState & csDesigning)
        return;
    SetMessageLanguage(FStoredLanguage);
    if (Active() && StartOperation() == 0) {
        m_worker->Activate();
        EndOperation();
    } else {
        m_worker->Deactivate();
    }
}

bool TCustomZipArchiver::Dll_Load() const
{
    return DesigningOrLoading() ? FDllLoadWanted : m_worker->IsLoaded();
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
            m_worker->SetDllLoaded(value);
        } catch (const EZipArchiver& e) {
            m_worker->ReportException(e);
        }
        FDllLoadWanted = m_worker->IsLoaded();
        return;
    }
    const int status = StartOperation();
    // A library that failed to load is not wanted again by every later operation.
    if (status == 0 || m_worker->ErrorCode() == status)
        FDllLoadWanted = m_worker->IsLoaded();
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
    m_sfx->Message = text;
    m_sfx->MessageFlags = flags;
}
