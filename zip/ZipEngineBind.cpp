#include "zip/ZipEngineBind.h"

#include "platform/AppPaths.h"
#include "zip/ZipLz77.h"
#include "zip/ZipMsgStr.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

#include <cerrno>
#include <cstring>

namespace
{
constexpr qint64 kMinResourceSize = 50000;

const QString kResourceDirectory = QStringLiteral("><");

// Ends the wait cursor also when a load raises.
class WaitGuard
{
public:
    explicit WaitGuard(TZipCore& core)
        : m_core(core)
    {
        m_core.BeginWait();
    }
    ~WaitGuard() { m_core.EndWait(); }
    WaitGuard(const WaitGuard&) = delete;
    WaitGuard& operator=(const WaitGuard&) = delete;

private:
    TZipCore& m_core;
};

bool isExecutableImage(const QByteArray& head)
{
    return head.startsWith("\x7F"
                           "ELF");
}

template <typename Func> Func resolve(void* handle, const char* name)
{
    return reinterpret_cast<Func>(dlsym(handle, name));
}
} // namespace

TZipEngineBind::TZipEngineBind(QObject* master)
    : TZipCore(master)
    , FLibraryName(EngineFileName())
{ }

TZipEngineBind::~TZipEngineBind()
{
    FreeLibrary();
    DeleteExtractedLibrary();
}

QString TZipEngineBind::EngineFileName()
{
    return QStringLiteral("libZipEngine179.so");
}

QString TZipEngineBind::PathConcat(const QString& folder, const QString& name)
{
    QString result = folder;
    if (!folder.isEmpty() && !name.isEmpty()) {
        const bool folderEnds = folder.endsWith(QLatin1Char('/'));
        const bool nameStarts = name.startsWith(QLatin1Char('/'));
        if (folderEnds && nameStarts)
            result.chop(1);
        else if (!folderEnds && !nameStarts)
            result += QLatin1Char('/');
    }
    return result + name;
}

int TZipEngineBind::Load(quint8 reason)
{
    FLoadReasons = (FLoadReasons | reason) & LoadReasonMask;
    if (IsLoaded())
        return FEngineVersion;

    WaitGuard wait(*this);
    FEngineVersion = 0;
    QString path;
    if (!FExtractedPath.isEmpty())
        path = FExtractedPath;
    else if (FDLLDirectory == kResourceDirectory)
        path = ExtractResourceLibrary();
    if (path.isEmpty() && !FDLLDirectory.isEmpty()) {
        path = PathConcat(FDLLDirectory, EngineFileName());
        if (FDLLDirectory.startsWith(QLatin1Char('.'))) {
            const QString exeFolder = QFileInfo(AppPaths::executablePath()).absolutePath() + QLatin1Char('/');
            path = PathConcat(exeFolder, path);
        }
        if (!QFileInfo::exists(path))
            path.clear();
    }
    // The bare name lets the system's library search decide, run path included. A sanitizer's
    // dlopen interceptor hides the program's run path, so the program's own folder is tried first.
    if (path.isEmpty() && QCoreApplication::instance()) {
        const QString beside = PathConcat(QCoreApplication::applicationDirPath() + QLatin1Char('/'), EngineFileName());
        if (QFileInfo::exists(beside))
            path = beside;
    }
    if (path.isEmpty())
        path = EngineFileName();

    const int resVersion = ResourceVersion();
    const int priv = LoadLibraryFile(path, resVersion < MinPrivVersion);
    if (resVersion > priv) {
        const QString alt = ExtractResourceLibrary();
        if (alt.isEmpty() || LoadLibraryFile(alt, false) < MinPrivVersion)
            LoadLibraryFile(path, true);
    }
    if (Verbose())
        Report(zacMessage, 0, FormatMessageText(ZipMsg::LibraryLoaded, FLibraryName), 0);
    return FEngineVersion;
}

int TZipEngineBind::Release(quint8 reason)
{
    FLoadReasons = (FLoadReasons & ~reason) & LoadReasonMask;
    if (FLoadReasons == 0)
        Unload();
    return FEngineVersion;
}

int TZipEngineBind::LoadForOperation()
{
    Load(lrOperation);
    const int result = IsLoaded() ? FEngineVersion : 0;
    if (FEngineVersion >= MinEngineVersion)
        return result;
    const QString name = FLibraryName.isEmpty() ? EngineFileName() : FLibraryName;
    Release(LoadReasonMask);
    throw EZipArchiver(ZipMsg::OldOrCorrupt, name);
}

void TZipEngineBind::ReleaseForOperation()
{
    Release(lrOperation);
}

int TZipEngineBind::LoadLibraryFile(const QString& path, bool mustRaise)
{
    FreeLibrary();
    ClearEntryPoints();

    // dlopen shows no dialogs, so the error-mode switch has no counterpart here.
    dlerror();
    errno = 0;
    const QByteArray file = QFile::encodeName(path);
    FLibraryHandle = file.isEmpty() ? nullptr : dlopen(file.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!FLibraryHandle) {
        const int code = errno;
        const char* reason = dlerror();
        if (Verbose() || Trace()) {
            const QString systemText = reason ? QString::fromLocal8Bit(reason) : QString::fromLocal8Bit(strerror(code));
            Report(zacMessage, 0, QStringLiteral("Error [%1 %2] loading %3").arg(code).arg(systemText, path), 0);
        }
        ClearEntryPoints();
        if (!mustRaise)
            return 0;
        FLoadReasons = 0;
        throw EZipArchiver(ZipMsg::FailedToLoad, path);
    }

    // Each entry point is looked up only while all before it were found.
    if ((m_unzExec = resolve<ZE_UnzExecFunc>(FLibraryHandle, "ZE_UnzExec"))
        && (m_zipExec = resolve<ZE_ZipExecFunc>(FLibraryHandle, "ZE_ZipExec"))
        && (m_version = resolve<ZE_VersionFunc>(FLibraryHandle, "ZE_Version"))
        && (m_privVersion = resolve<ZE_PrivVersionFunc>(FLibraryHandle, "ZE_PrivVersion"))
        && (m_abort = resolve<ZE_AbortFunc>(FLibraryHandle, "ZE_Abort"))
        && (m_path = resolve<ZE_PathFunc>(FLibraryHandle, "ZE_Path"))) {
        FEnginePrivVersion = m_privVersion();
        FEngineVersion = m_version();
        const char* ownPath = m_path();
        FLibraryName = ownPath ? QFile::decodeName(ownPath) : QString();
    }

    if (FEngineVersion < MinEngineVersion || FEngineVersion > MaxEngineVersion) {
        // Without ZE_Path the name stays as it was; after an unload it is empty, so name the file.
        const QString name = FLibraryName.isEmpty() ? path : FLibraryName;
        FreeLibrary();
        ClearEntryPoints();
        if (mustRaise) {
            FLoadReasons = 0;
            throw EZipArchiver(ZipMsg::OldOrCorrupt, name);
        }
    }
    return FEnginePrivVersion;
}

QString TZipEngineBind::ExtractResourceLibrary()
{
    const int resVersion = ResourceVersion();
    if (resVersion <= MinPrivVersion) {
        if (Trace())
            Report(zacMessage, 0, QStringLiteral("No dll in resource"), 0);
        return FExtractedPath;
    }
    FExtractedPath = MakeTempName(QStringLiteral("ZE_"), QStringLiteral(".so"));
    if (FExtractedPath.isEmpty())
        return FExtractedPath;

    bool copied = false;
    QByteArray image = ResourceLibrary();
    if (image.size() > kMinResourceSize) {
        QBuffer source(&image);
        source.open(QIODevice::ReadOnly);
        QFile dest(FExtractedPath);
        if (dest.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (isExecutableImage(image.left(4)))
                copied = dest.write(image) == image.size();
            else
                copied = LzExtract(dest, source, image.size()) == 0;
            copied = dest.flush() && copied;
            dest.close();
        }
        if (copied && Trace())
            Report(zacMessage, 0,
                ZipFormat(QStringLiteral("extracted resource dll %s %d"), { FExtractedPath, resVersion }), 0);
    }
    if (!copied && QFileInfo::exists(FExtractedPath))
        QFile::remove(FExtractedPath);
    if (!QFileInfo::exists(FExtractedPath))
        FExtractedPath.clear();
    return FExtractedPath;
}

void TZipEngineBind::DeleteExtractedLibrary()
{
    const QString path = FExtractedPath;
    FExtractedPath.clear();
    FDeleteExtractedOnUnload = false;
    if (!path.isEmpty() && QFileInfo::exists(path))
        QFile::remove(path);
}

void TZipEngineBind::Unload()
{
    if (IsLoaded()) {
        if (Verbose())
            Report(zacMessage, 0, FormatMessageText(ZipMsg::LibraryUnloaded, FLibraryName), 0);
        FreeLibrary();
    }
    ClearEntryPoints();
    FLibraryName.clear();
    FLoadReasons = 0;
    if (FDeleteExtractedOnUnload)
        DeleteExtractedLibrary();
}

void TZipEngineBind::CheckEngineResult(int status)
{
    switch (status) {
    case ZS_Cancelled:
        throw EZipArchiver(ZipMsg::DllCancelled, true);
    case ZS_Aborted:
        throw EZipArchiver(ZipMsg::DllAborting, true);
    case ZS_HandlerException:
        throw EZipArchiver(ZipMsg::DllHandlerException, true);
    case ZS_NoMemory:
        throw EZipArchiver(ZipMsg::DllNoMemory, true);
    case ZS_InvalidRecord:
        throw EZipArchiver(ZipMsg::DllInvalidStructure, true);
    default:
        if (status < 0)
            throw EZipArchiver(ZipMsg::DllCriticalError, QVariantList { status });
    }
}

template <typename Record, typename Exec> int TZipEngineBind::RunCommand(Record* record, Exec TZipEngineBind::*entry)
{
    Load(lrCall);
    const Exec exec = this->*entry;
    if (!exec) {
        Release(lrCall);
        throw EZipArchiver(ZipMsg::FailedToLoad, EngineFileName());
    }
    int status;
    try {
        status = exec(record);
    } catch (...) {
        // Whatever escapes the engine call, a callback's exception included.
        status = -7;
    }
    FOperationKey = 0;
    Release(lrCall);
    CheckEngineResult(status);
    return status;
}

int TZipEngineBind::RunZip(ZipCommandRecord* record)
{
    return RunCommand(record, &TZipEngineBind::m_zipExec);
}

int TZipEngineBind::RunUnzip(UnzipCommandRecord* record)
{
    return RunCommand(record, &TZipEngineBind::m_unzExec);
}

void TZipEngineBind::AbortEngine()
{
    SetCancel(true);
    if (IsLoaded() && m_abort)
        m_abort(FOperationKey);
}

void TZipEngineBind::SetDllLoaded(bool value)
{
    if (value == IsLoaded())
        return;
    if (value)
        Load(lrProperty);
    else
        Release(lrProperty);
}

void TZipEngineBind::SetDllDirectory(const QString& value)
{
    if (value == FDLLDirectory)
        return;
    FDLLDirectory = value;
    // "/" alone stays: stripped it would mean "no folder".
    if (FDLLDirectory.size() > 1 && FDLLDirectory.endsWith(QLatin1Char('/')))
        FDLLDirectory.chop(1);
    if (IsLoaded() && !FExtractedPath.isEmpty())
        FDeleteExtractedOnUnload = true;
    else
        DeleteExtractedLibrary();
}

void TZipEngineBind::ResetState()
{
    Unload();
    TZipCore::ResetState();
}

int TZipEngineBind::ResourceVersion() const
{
    QFile resource(QStringLiteral(":/11612"));
    if (!resource.open(QIODevice::ReadOnly))
        return 0;
    bool ok = false;
    const int version = QString::fromUtf8(resource.readAll()).left(7).toInt(&ok, 10);
    return ok ? version : 0;
}

QByteArray TZipEngineBind::ResourceLibrary() const
{
    QFile resource(QStringLiteral(":/11613"));
    if (!resource.open(QIODevice::ReadOnly))
        return {};
    return resource.readAll();
}

void TZipEngineBind::FreeLibrary()
{
    if (FLibraryHandle)
        dlclose(FLibraryHandle);
    FLibraryHandle = nullptr;
}

void TZipEngineBind::ClearEntryPoints()
{
    FLibraryHandle = nullptr;
    m_unzExec = nullptr;
    m_zipExec = nullptr;
    m_version = nullptr;
    m_privVersion = nullptr;
    m_abort = nullptr;
    m_path = nullptr;
    FEngineVersion = 0;
    FEnginePrivVersion = 0;
}
