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

StoreWorker::~StoreWorker() = default;

bool StoreWorker::readsBack(const QString& name, quint64 size)
{
    TZipArchiver* const zip = m_zip->component();
    TZipStream* stream = zip->EntryStream();
    stream->Clear();
    const auto cleared = qScopeGuard([stream] { stream->Clear(); });
    // The engine checks the bytes against the directory's CRC as it extracts them.
    const QString failure = m_zip->collecting([&] { zip->ExtractEntryToStream(name); });
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
        // Made here so that it belongs to this thread; a question finds no one to answer it here
        // and is cancelled.
        m_zip = std::make_unique<SessionZip>(nullptr, SessionZip::Question());
        m_zip->component()->SetNotMainThread(true);
    }
    TZipArchiver* const zip = m_zip->component();
    std::unique_ptr<FileAccess::PrivateFileCreation> privateFiles;
    if (job.newArchive) {
        privateFiles = std::make_unique<FileAccess::PrivateFileCreation>();
    }
    QString failure = m_zip->collecting([&] { zip->SetZipFileName(job.archive); });
    zip->SetAddOptions(AddOpts { AddEncrypt });
    for (int memo = 0; memo < 2 && failure.isEmpty(); ++memo) {
        const QString& name = job.entryNames[memo];
        const ZipDirEntry* held = m_zip->findEntry(name);
        // Each add rewrites the whole archive; an entry it already holds unchanged is left as it is,
        // unless its bytes on the disk were damaged since: copied raw, they would stay damaged for good.
        if (!job.changed[memo] && held && quint64(held->UncompressedSize) == done.snapshot.memo[memo].size
            && held->Crc32 == done.snapshot.memo[memo].crc && readsBack(name, done.snapshot.memo[memo].size)) {
            continue;
        }
        TZipStream* stream = zip->EntryStream();
        const auto cleared = qScopeGuard([stream] { stream->Clear(); });
        // Shared, not copied: the stream's bytes are only read while the entry is added.
        stream->buffer() = bytes[memo];
        stream->seek(stream->size());
        int status = 0;
        failure = m_zip->collecting([&] { status = zip->AddStreamEntry(name, 0, 0x20); });
        if (status != 0 && failure.isEmpty()) {
            failure = zip->ErrorMessage().isEmpty() ? QString::number(status) : zip->ErrorMessage();
        }
        if (failure.isEmpty()) {
            done.written << name;
        }
    }
    return failure;
}
