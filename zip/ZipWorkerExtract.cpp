#include "platform/LargeBuffer.h"
#include "zip/ZipMsgStr.h"
#include "zip/ZipWorker.h"
#include "zip/ZipWorkerRecords.h"

#include <QFile>

#include <algorithm>
#include <new>
#include <utility>

namespace
{

// Clears the extract's state on every way out of it.
class ExtractCleanup
{
public:
    ExtractCleanup(TZipWorker& worker, bool& busy, QByteArray& output, bool& loaded, QString& joined)
        : m_worker(worker)
        , m_busy(busy)
        , m_output(output)
        , m_loaded(loaded)
        , m_joined(joined)
    { }
    ~ExtractCleanup()
    {
        if (m_loaded)
            m_worker.ReleaseForOperation();
        m_busy = false;
        m_output.clear();
        m_worker.SetCancel(false);
        m_worker.FSpecArgs.clear();
        if (m_worker.SuccessCount() != 1)
            m_worker.EntryStream()->Clear();
        if (!m_joined.isEmpty())
            QFile::remove(m_joined);
    }
    ExtractCleanup(const ExtractCleanup&) = delete;
    ExtractCleanup& operator=(const ExtractCleanup&) = delete;

private:
    TZipWorker& m_worker;
    bool& m_busy;
    QByteArray& m_output;
    bool& m_loaded;
    QString& m_joined;
};
} // namespace

TZipStream* TZipWorker::ExtractEntryToStream(const QString& name)
{
    FSuccessCount = 0;
    if (!name.isEmpty())
        FSpecArgs = QStringList { name };
    if (FSpecArgs.isEmpty()) {
        ReportException(EZipArchiver(ZipMsg::NoFilesToZip, true));
        return nullptr;
    }
    FEntryStream->Clear();
    ExtExtract();
    return FSuccessCount == 1 ? FEntryStream.get() : nullptr;
}

void TZipWorker::ExtExtract()
{
    FSuccessCount = 0;
    SetErrorCode(0);
    SetErrorMessage(QString());
    if (m_extractBusy)
        return;
    bool loaded = false;
    QString joined;
    m_extractBusy = true;
    ExtractCleanup cleanup(*this, m_extractBusy, m_output, loaded, joined);
    SetCancel(false);
    try {
        if (ZipFileName().isEmpty())
            throw EZipArchiver(ZipMsg::NoZipFile, true);
        if (Count() == 0) {
            List();
            if (Count() == 0) {
                if (ErrorCode() == 0)
                    throw EZipArchiver(ZipMsg::CannotOpenZip, true);
                return;
            }
        }

        QString archive = ZipFileName();
        if (LastDiskNumber() > 0) {
            // Joining reads the parts' end records, which must not replace the open archive's comment.
            const QByteArray rawComment = m_zipComment;
            const QString comment = FArchiveComment;
            const int joinedResult = ReadSpan(ZipFileName(), joined, true);
            m_zipComment = rawComment;
            FArchiveComment = comment;
            if (joinedResult != srOk)
                return;
            archive = joined;
        }

        LoadForOperation();
        loaded = true;
        TUnzipCommandBlock block;
        UnzipCommandRecord& r = block.Record;
        r.Handle = Unattended() ? nullptr : m_ownerHandle;
        r.Caller = this;
        r.Version = ZE_RECORD_VERSION;
        r.Callback = &TZipWorker::EngineCallback;
        r.Trace = EngineFlag(Trace());
        r.Password = block.Texts.Add(FPassword.toUtf8());
        r.Test = EngineFlag(m_settings.ExtrOptions.contains(ExtrTest));
        r.Reserved44 = ZE_TRUE;
        r.Verbose = EngineFlag(Verbose() || Trace());
        r.Update = EngineFlag(m_settings.ExtrOptions.contains(ExtrUpdate));
        r.Freshen
            = EngineFlag(m_settings.ExtrOptions.contains(ExtrFreshen) && !m_settings.ExtrOptions.contains(ExtrUpdate));
        r.DirNames = EngineFlag(m_settings.ExtrOptions.contains(ExtrDirNames));
        r.OverWrite = EngineFlag(m_settings.ExtrOptions.contains(ExtrOverWrite));
        r.ArchiveName = block.Texts.Add(QFile::encodeName(archive));
        r.PasswordRequests = qint32(std::min<quint32>(m_settings.PasswordReqCount, 15));
        r.ExtractDir = nullptr;
        if (FSpecArgs.first() != QLatin1String("*.*")) {
            block.Specs.assign(size_t(FSpecArgs.size()), ExtractSpecRecord {});
            for (qsizetype i = 0; i < FSpecArgs.size(); ++i)
                block.Specs[size_t(i)].Spec = block.Texts.Add(EngineText(FSpecArgs.at(i)));
            r.SpecCount = qint32(FSpecArgs.size());
            r.ExtractSpecs = block.Specs.data();
        }

        const QString& wanted = FSpecArgs.first();
        for (const ZipDirEntry& entry : m_entries) {
            if (entry.FileName.compare(wanted, Qt::CaseInsensitive) != 0)
                continue;
            m_output = LargeBuffer::uninitialized(qsizetype(entry.UncompressedSize));
            r.OutputToMemory = ZE_TRUE;
            r.OutputMemory = m_output.data();
            r.OutputSize = entry.UncompressedSize;
            r.SpecCount = 1;
            if (r.ExtractSpecs == nullptr) {
                block.Specs.assign(1, ExtractSpecRecord {});
                block.Specs[0].Spec = block.Texts.Add(EngineText(wanted));
                r.ExtractSpecs = block.Specs.data();
            }
            break;
        }

        r.Check = ZE_RECORD_CHECK;
        SetHandlerErrorText(QString());
        m_handlerFailed = false;
        if (Unattended() && FPassword.isEmpty() && !OnPasswordError) {
            r.PasswordRequests = 0;
            Report(zacMessage, 0, LoadMessageText(ZipMsg::UnattendedExtractWarning), 0);
        }
        if (r.OutputToMemory)
            FSuccessCount = RunUnzip(&r);
        if (FSuccessCount == 1) {
            EntryStream()->buffer() = std::exchange(m_output, {});
            EntryStream()->seek(0);
        }
    } catch (const EZipArchiver& e) {
        m_extractBusy = false;
        ReportCommandError(e);
        FSuccessCount = 0;
    } catch (const std::bad_alloc&) {
        // A directory that claims more than memory can hold.
        m_extractBusy = false;
        ReportException(EZipArchiver(ZipMsg::NoMemory, true));
        FSuccessCount = 0;
    }
}
