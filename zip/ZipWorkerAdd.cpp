#include "platform/Drives.h"
#include "zip/ZipMsgStr.h"
#include "zip/ZipWorker.h"
#include "zip/ZipWorkerRecords.h"

#include <QDir>
#include <QFileInfo>

namespace
{
constexpr int kSfxUnsupported = -1;

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

void TZipWorker::ValidateAdd(bool spanning)
{
    if (Unattended() && m_settings.AddOptions.contains(AddEncrypt) && FPassword.isEmpty())
        throw EZipArchiver(ZipMsg::NoPasswordUnattended, true);
    if (ZipFileName().isEmpty())
        throw EZipArchiver(ZipMsg::NoZipFile, true);
    const QString archive = QFileInfo(ZipFileName()).absoluteFilePath();
    m_parts.ProbeDrive(archive);
    const bool removable = !m_parts.DriveFixed();
    if (spanning && removable && Unattended())
        throw EZipArchiver(ZipMsg::UnattendedSpanning, true);
    if (!(spanning && removable)) {
        const QString folder = QFileInfo(archive).absolutePath();
        if (m_settings.AddOptions.contains(AddForceDest))
            QDir().mkpath(folder);
        if (!QFileInfo(folder).isDir())
            throw EZipArchiver(ZipMsg::NoDestinationDirectory, QDir::toNativeSeparators(folder));
    }
    if (m_parts.ReadOnlyVolume() || !canWriteArchive(archive))
        throw EZipArchiver(ZipMsg::CannotWriteTo, ZipFileName());
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
        ReportException(EZipArchiver(ZipMsg::NoFilesToZip, true));
    } else if (FSpecArgs.first().contains(QLatin1Char('*')) || FSpecArgs.first().contains(QLatin1Char('?'))) {
        ReportException(EZipArchiver(ZipMsg::NoWildcards, true));
        FSpecArgs.clear();
        FSpecArgsExcl.clear();
    } else if (quint64(EntryStream()->data().size()) > 0xFFFFFFFFu) {
        // The engine takes the size in 32 bits: the entry would be stored cut short.
        ReportException(EZipArchiver(ZipMsg::FileTooBig, true));
        FSpecArgs.clear();
        FSpecArgsExcl.clear();
    } else {
        ExtAdd(dosDate, attributes);
    }
    return ErrorCode();
}

void TZipWorker::ExtAdd(quint32 dosDate, quint32 attributes)
{
    if (m_addBusy)
        return;
    FSuccessCount = 0;
    SetErrorCode(0);
    SetErrorMessage(QString());
    {
        bool waiting = false;
        bool loaded = false;
        m_addBusy = true;
        AddCleanup cleanup(*this, m_addBusy, m_extraData, waiting, loaded);

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
                throw EZipArchiver(ZipMsg::SfxCreationError, kSfxUnsupported);
        } catch (const EZipArchiver& e) {
            ReportException(e);
            return;
        }

        SetCancel(false);
        BeginWait();
        waiting = true;
        FSuccessCount = spanning ? SpanAdd(dosDate, attributes) : RunAddCommand(ZipFileName(), dosDate, attributes);
    }
    if (FSuccessCount > 0 && ProbeArchiveFile(ZipFileName()) != 209)
        List();
}
