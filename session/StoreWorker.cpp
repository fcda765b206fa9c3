#include "session/StoreWorker.h"

#include "platform/Crc32.h"
#include "platform/Exception.h"
#include "platform/FileAccess.h"
#include "zip/ZipArchiver.h"

#include <QScopeGuard>

#include <memory>
#include <utility>

StoreWorker::StoreWorker(std::function<void(const SessionFingerprint&)> fingerprinted)
    : m_fingerprinted(std::move(fingerprinted))
{ }

StoreWorker::~StoreWorker()
{
    delete m_zip;
}

template <typename Operation> QString StoreWorker::collectingMessages(Operation operation)
{
    m_collected.clear();
    operation();
    if (m_collected.isEmpty() && m_zip->ErrorCode() != 0) {
        m_collected << m_zip->ErrorMessage();
    }
    m_collected.removeDuplicates();
    return m_collected.join(QStringLiteral("; "));
}

bool StoreWorker::readsBack(const QString& name, quint64 size)
{
    TZipStream* stream = m_zip->EntryStream();
    stream->Clear();
    const auto cleared = qScopeGuard([stream] { stream->Clear(); });
    // The engine checks the bytes against the directory's CRC as it extracts them.
    const QString failure = collectingMessages([&] { m_zip->ExtractEntryToStream(name); });
    return failure.isEmpty() && quint64(stream->size() - stream->pos()) == size;
}

StoreWorker::Done StoreWorker::run(const Job& job)
{
    Done done;
    try {
        QByteArray bytes[2];
        for (int memo = 0; memo < 2; ++memo) {
            bytes[memo] = TextBuffer::storedBytes(job.texts[memo]);
            done.snapshot.memo[memo] = { quint64(bytes[memo].size()), crc32(bytes[memo]) };
        }
        m_fingerprinted(done.snapshot);
        done.failure = store(job, bytes, done);
    } catch (const std::exception& error) {
        // Out of memory, say: the archive stays as it was, the changes wait in the recovery file.
        const auto* own = dynamic_cast<const Exception*>(&error);
        done.failure = own ? own->message() : QString::fromLocal8Bit(error.what());
    }
    return done;
}

QString StoreWorker::store(const Job& job, const QByteArray (&bytes)[2], Done& done)
{
    if (!m_zip) {
        // Made here so that it belongs to this thread; its settings are the window's component's.
        m_zip = new TZipArchiver(nullptr, csLoading);
        m_zip->SetPassword(QStringLiteral("730582"));
        m_zip->SetPasswordReqCount(1);
        m_zip->SetUnattended(false);
        m_zip->SetDll_Load(false);
        m_zip->SetVerbose(false);
        m_zip->SetTrace(false);
        m_zip->SetNotMainThread(true);
        m_zip->Loaded();
        // Messages become part of the one failure reported; a question finds no one to answer it
        // on this thread and is cancelled.
        m_zip->SetOnZipDialog([this](QObject*, const QString&, QString& text, int& result, TMsgDlgButtons buttons) {
            if (buttons == TMsgDlgButtons { mbOK } && ((result >> 16) & 0x7) < 4) {
                m_collected << text.trimmed();
                result = mrOk;
            }
        });
    }
    std::unique_ptr<FileAccess::PrivateFileCreation> privateFiles;
    if (job.newArchive) {
        privateFiles = std::make_unique<FileAccess::PrivateFileCreation>();
    }
    QString failure = collectingMessages([&] { m_zip->SetZipFileName(job.archive); });
    m_zip->SetAddOptions(AddOpts { AddEncrypt });
    for (int memo = 0; memo < 2 && failure.isEmpty(); ++memo) {
        const QString& name = job.entryNames[memo];
        const ZipDirEntry* held = nullptr;
        for (int i = 0; i < m_zip->Count(); ++i) {
            if (m_zip->DirEntry(i).FileName.compare(name, Qt::CaseInsensitive) == 0) {
                held = &m_zip->DirEntry(i);
            }
        }
        // Each add rewrites the whole archive; an entry it already holds unchanged is left as it is,
        // unless its bytes on the disk were damaged since: copied raw, they would stay damaged for good.
        if (!job.changed[memo] && held && quint64(held->UncompressedSize) == done.snapshot.memo[memo].size
            && held->Crc32 == done.snapshot.memo[memo].crc && readsBack(name, done.snapshot.memo[memo].size)) {
            continue;
        }
        TZipStream* stream = m_zip->EntryStream();
        const auto cleared = qScopeGuard([stream] { stream->Clear(); });
        // Shared, not copied: the stream's bytes are only read while the entry is added.
        stream->buffer() = bytes[memo];
        stream->seek(stream->size());
        int status = 0;
        failure = collectingMessages([&] { status = m_zip->AddStreamEntry(name, 0, 0x20); });
        if (status != 0 && failure.isEmpty()) {
            failure = m_zip->ErrorMessage().isEmpty() ? QString::number(status) : m_zip->ErrorMessage();
        }
        if (failure.isEmpty()) {
            done.written << name;
        }
    }
    return failure;
}
