#include "session/SessionStore.h"

#include "loc/LocStrings.h"
#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "platform/Exception.h"
#include "platform/FileAccess.h"
#include "textview/TextBuffer.h"
#include "zip/ZipArchiver.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QThread>
#include <QTimer>

#include <utility>

#include <sys/stat.h>

namespace
{
constexpr RecoveryLog::Memo Memos[] = { RecoveryLog::Journal, RecoveryLog::Notes };

// Something other than a regular file where the archive should be: reading a FIFO or a device would never end.
bool isOtherThanFile(const QString& path)
{
    struct stat info
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && !S_ISREG(info.st_mode);
}

bool sameBytes(const QString& a, const QString& b)
{
    QFile first(a);
    QFile second(b);
    if (first.size() != second.size() || !first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly)) {
        return false;
    }
    while (!first.atEnd()) {
        if (first.read(1 << 20) != second.read(1 << 20)) {
            return false;
        }
    }
    return true;
}
} // namespace

SessionStore::SessionStore(TextBuffer* journal, TextBuffer* notes, Prompts prompts, QObject* owner)
    : QObject(owner)
    , m_buffers { journal, notes }
    , m_prompts(std::move(prompts))
    , m_recovery(new RecoveryLog(this))
    , m_storeThread(new QThread(this))
    , m_idle(new QTimer(this))
    , m_latest(new QTimer(this))
{
    // The session archive's component. Its message boxes about the session become part of one
    // message of ours; its questions (a password) still reach the user.
    m_zip = std::make_unique<SessionZip>(
        owner, [this](const QString& title, QString& text, int kind, TMsgDlgButtons buttons) {
            return m_prompts.zipQuestion(title, text, kind, buttons);
        });
    m_zip->component()->setObjectName(QStringLiteral("zip"));

    for (const RecoveryLog::Memo memo : Memos) {
        TextBuffer* text = bufferOf(memo);
        connect(text, &TextBuffer::changed, this,
            [this, memo](qsizetype position, qsizetype removed, const QString& added) {
                // What a load puts in place is what the archive and the recovery file already hold.
                if (!m_loading) {
                    m_changedSinceStore[memo] = true;
                    m_recovery->recordChange(memo, position, removed, added);
                    scheduleStore();
                    Q_EMIT changed();
                }
            });
        connect(text, &TextBuffer::reset, this, [this, memo, text] {
            if (!m_loading) {
                m_changedSinceStore[memo] = true;
                m_recovery->recordText(memo, text->toString());
                scheduleStore();
                Q_EMIT changed();
            }
        });
    }
    connect(m_recovery, &RecoveryLog::writeFailed, this, &SessionStore::reportRecoveryFailure);
    connect(m_recovery, &RecoveryLog::writeRecovered, this, [this] { m_recoveryFailing = false; });

    m_worker = new StoreWorker([recovery = m_recovery](const SessionFingerprint& snapshot) {
        // Named in the recovery file before the archive changes, so that a crash during the store
        // replays what came after the snapshot onto whichever archive survived it.
        recovery->storeBegins(snapshot);
        recovery->flush();
    });
    m_worker->moveToThread(m_storeThread);
    m_storeThread->setObjectName(QStringLiteral("session store"));
    m_storeThread->start();
    for (QTimer* timer : { m_idle, m_latest }) {
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, &SessionStore::storeInBackground);
    }
    setStoreDelays(3000, 60000);
}

SessionStore::~SessionStore()
{
    if (m_running) {
        m_running->done.wait();
    }
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker] { delete worker; }, Qt::BlockingQueuedConnection);
    m_storeThread->quit();
    m_storeThread->wait();
}

void SessionStore::setStoreDelays(int idleMilliseconds, int latestMilliseconds)
{
    m_idle->setInterval(idleMilliseconds);
    m_latest->setInterval(latestMilliseconds);
}

void SessionStore::nameFiles(const QString& archivePath, const QString& executablePath)
{
    FArchiveFileName = archivePath;
    const QString programName = QFileInfo(executablePath).fileName();
    FJournalEntryName = AppPaths::changeExtension(programName, QStringLiteral(".clips"));
    FNotesEntryName = AppPaths::changeExtension(programName, QStringLiteral(".notes"));
    m_recoveryFileName = FArchiveFileName + QStringLiteral(".recovery");
}

TextBuffer* SessionStore::bufferOf(RecoveryLog::Memo memo) const
{
    return m_buffers[memo];
}

namespace
{
// Recorded changes go straight into the views' buffers, so that a large journal is never held twice.
// Undo forgets them as it goes: the load clears it anyway, and meanwhile it would hold them again.
class BufferTexts : public RecoveryLog::Texts
{
public:
    BufferTexts(TextBuffer* journal, TextBuffer* notes)
        : m_buffers { journal, notes }
        , m_undoLimits { journal->undoLimit(), notes->undoLimit() }
    {
        for (TextBuffer* buffer : m_buffers) {
            buffer->setUndoLimit(0);
        }
    }
    ~BufferTexts() override
    {
        for (int memo = 0; memo < 2; ++memo) {
            m_buffers[memo]->setUndoLimit(m_undoLimits[memo]);
        }
    }
    BufferTexts(const BufferTexts&) = delete;
    BufferTexts& operator=(const BufferTexts&) = delete;
    qsizetype size(RecoveryLog::Memo memo) const override { return m_buffers[memo]->size(); }
    void replace(RecoveryLog::Memo memo, qsizetype position, qsizetype removed, const QString& added) override
    {
        m_buffers[memo]->replace(position, removed, added);
    }
    void setText(RecoveryLog::Memo memo, const QString& text) override { m_buffers[memo]->setText(text); }

private:
    TextBuffer* m_buffers[2];
    qsizetype m_undoLimits[2];
};
} // namespace

void SessionStore::LoadSession()
{
    SessionFingerprint stored;
    QStringList problems;
    bool unloaded = false; // an entry the archive holds is not in its memo
    const QString archive = AtomicFile::resolveLinks(FArchiveFileName);
    m_loading = true;
    // Whatever ends the load, later changes must reach the recovery file again.
    auto loaded = qScopeGuard([this] { m_loading = false; });
    for (const RecoveryLog::Memo memo : Memos) {
        bufferOf(memo)->setText(QString());
    }
    // Temporary files of a store that a kill interrupted; no store of another program runs on this archive.
    AtomicFile::removeLeftovers(archive);
    AtomicFile::removeLeftovers(m_recoveryFileName);
    try {
        if (isOtherThanFile(archive)) {
            m_notAFile = LoadStr(sArchiveNotAFile).arg(FArchiveFileName);
        } else if (QFileInfo::exists(archive)) {
            // Nothing stored yet is no error, so the component is only asked about an archive that exists.
            const QString unreadable = m_zip->collecting([&] { zip()->SetZipFileName(archive); });
            if (!unreadable.isEmpty()) {
                m_archiveUnreadable = true;
                problems << LoadStr(sArchiveUnreadable).arg(unreadable);
            } else {
                zip()->SetAddOptions(AddOpts { AddEncrypt });
                const QString names[2] = { FJournalEntryName, FNotesEntryName };
                for (const RecoveryLog::Memo memo : Memos) {
                    const qsizetype before = problems.size();
                    stored.memo[memo] = loadEntry(names[memo], bufferOf(memo), &problems);
                    unloaded
                        = unloaded || (stored.memo[memo] == SessionFingerprint::Entry {} && problems.size() > before);
                }
            }
        }
    } catch (const std::exception& error) {
        // Out of memory, say: what was not loaded must not be stored over.
        const auto* own = dynamic_cast<const Exception*>(&error);
        problems << LoadStr(sArchiveUnreadable).arg(own ? own->message() : QString::fromLocal8Bit(error.what()));
        for (const RecoveryLog::Memo memo : Memos) {
            if (stored.memo[memo] == SessionFingerprint::Entry {}) {
                bufferOf(memo)->setText(QString());
            }
        }
        m_archiveUnreadable = true;
    }
    m_keepArchive = !problems.isEmpty();
    m_askBeforeReplacing = m_archiveUnreadable || unloaded;

    const RecoveryLog::Replay replay = [&] {
        BufferTexts buffers(bufferOf(RecoveryLog::Journal), bufferOf(RecoveryLog::Notes));
        return m_recovery->open(m_recoveryFileName, stored, buffers);
    }();
    for (const RecoveryLog::Memo memo : Memos) {
        bufferOf(memo)->clearUndo();
    }
    loaded.dismiss();
    m_loading = false;
    m_loaded = true;
    // Whether the archive holds what the memos now show is told by its directory at the next store.
    m_changedSinceStore[RecoveryLog::Journal] = m_changedSinceStore[RecoveryLog::Notes] = false;
    m_replayedUnstored = replay.changes > 0;
    if (replay.changes > 0) {
        // Stored soon, so that the recovery file shrinks again.
        scheduleStore();
    }
    if (!m_notAFile.isEmpty()) {
        m_prompts.tell(m_notAFile);
    }
    if (!problems.isEmpty()) {
        const QString copy = keepCopy();
        problems << (copy.isEmpty() ? LoadStr(sArchiveCopyNotKept).arg(FileAccess::freeBackupName(FArchiveFileName))
                                    : LoadStr(sArchiveCopyKept).arg(copy));
        m_prompts.tell(LoadStr(sArchiveNotLoaded).arg(FArchiveFileName) + QStringLiteral("\n\n")
            + problems.join(QLatin1Char('\n')));
    }
    tellReplay(replay);
}

void SessionStore::tellReplay(const RecoveryLog::Replay& replay)
{
    using Trouble = RecoveryLog::Replay::Trouble;
    const QString& file = m_recoveryFileName;
    if (replay.trouble == Trouble::Unreadable) {
        m_prompts.tell(replay.keptAside.isEmpty()
                ? LoadStr(sRecoveryUnreadableLeft).arg(file, replay.reason)
                : LoadStr(sRecoveryUnreadable).arg(file, replay.reason, replay.keptAside));
    } else if (replay.trouble != Trouble::None) {
        const QString kept = replay.keptAside.isEmpty() ? file : replay.keptAside;
        m_prompts.tell(
            LoadStr(replay.trouble == Trouble::Damaged ? sRecoveryDamaged : sRecoveryKeptAside).arg(file, kept));
    }
}

SessionFingerprint::Entry SessionStore::loadEntry(const QString& entryName, TextBuffer* text, QStringList* problems)
{
    SessionFingerprint::Entry fingerprint;
    const ZipDirEntry* found = m_zip->findEntry(entryName);
    if (!found) {
        return fingerprint;
    }
    if (quint64(found->UncompressedSize) > MaxEntrySize) {
        *problems << LoadStr(sEntryTooLarge).arg(entryName).arg(MaxEntrySize >> 20);
        return fingerprint;
    }
    TZipStream* stream = zip()->EntryStream();
    stream->Clear();
    const QString failure = m_zip->collecting([&] { zip()->ExtractEntryToStream(entryName); });
    QByteArray bytes = stream->data().mid(stream->pos());
    stream->Clear();
    if (bytes.size() != qsizetype(found->UncompressedSize)) {
        // Adding to an archive whose entry cannot be read (a part of a split set, another password) would
        // fail as well; once its copy is kept, the store makes a new one.
        m_archiveUnreadable = true;
        *problems << LoadStr(sEntryUnreadable).arg(entryName, failure.isEmpty() ? zip()->ErrorMessage() : failure);
        return fingerprint;
    }
    // The engine checked these bytes against the directory's CRC.
    fingerprint = { quint64(found->UncompressedSize), found->Crc32 };
    const TextBuffer::Loaded decoded = text->setStoredBytes(std::move(bytes));
    if (decoded.cutAtZero) {
        *problems << LoadStr(sEntryCutAtZero).arg(entryName);
    }
    if (decoded.windows1252) {
        *problems << LoadStr(sEntryWindows1252).arg(entryName);
    }
    if (decoded.lineBreaksChanged) {
        *problems << LoadStr(sEntryLineBreaks).arg(entryName);
    }
    return fingerprint;
}

QString SessionStore::keepCopy()
{
    const QString archive = AtomicFile::resolveLinks(FArchiveFileName);
    // One copy per distinct content: starting again with the same damaged archive adds none.
    const QString base = FArchiveFileName + QStringLiteral(".bak");
    for (int number = 0;; ++number) {
        const QString name = number == 0 ? base : base + QLatin1Char('.') + QString::number(number);
        if (!QFileInfo::exists(name)) {
            break;
        }
        if (sameBytes(archive, name)) {
            m_keptCopy = name;
            return name;
        }
    }
    const QString copy = FileAccess::freeBackupName(FArchiveFileName);
    const FileAccess::PrivateFileCreation privateFiles;
    // On the disk before the archive may be replaced: a power cut must not take both.
    if (!QFile::copy(archive, copy) || !QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || !AtomicFile::sync(copy)) {
        QFile::remove(copy);
        return {};
    }
    m_keepArchive = false;
    m_keptCopy = copy;
    return copy;
}

QString SessionStore::notStoredText(const Result& result) const
{
    return LoadStr(sSessionNotStored).arg(FArchiveFileName, result.reason);
}

SessionStore::Result SessionStore::StoreSession(bool pumpEvents)
{
    // A second "Save", or a close, arriving while this one waits is refused: this one stores.
    if (m_waiting) {
        if (!pumpEvents && m_running) {
            // The program ends inside that wait: the store running is at least let finish.
            m_running->done.wait();
        }
        return { Outcome::Busy, {} };
    }
    m_waiting = true;
    const auto waited = qScopeGuard([this] { m_waiting = false; });
    if (m_askBeforeReplacing) {
        if (const std::optional<Result> refused = mayReplaceUnloaded()) {
            return *refused;
        }
    }
    // A store already running is not doubled; what changed after its snapshot follows in this one.
    waitForStore(pumpEvents);
    QStringList written;
    // Captures that arrive while the worker stores (the close waits with the event loop turning)
    // go into another round, so that the archive holds what the memos hold when this returns.
    for (int round = 0; round < MaxRounds; ++round) {
        const QString failure = startStore();
        if (!failure.isEmpty()) {
            return { Outcome::Failed, failure };
        }
        waitForStore(pumpEvents);
        written += m_lastResult.written;
        if (m_lastResult.outcome != Outcome::Stored
            || (!m_changedSinceStore[RecoveryLog::Journal] && !m_changedSinceStore[RecoveryLog::Notes])) {
            break;
        }
    }
    written.removeDuplicates();
    return { m_lastResult.outcome, m_lastResult.reason,
        m_lastResult.outcome == Outcome::Stored ? written : QStringList() };
}

std::optional<SessionStore::Result> SessionStore::mayReplaceUnloaded()
{
    const QString archive = AtomicFile::resolveLinks(FArchiveFileName);
    if (!QFileInfo::exists(archive)) {
        m_askBeforeReplacing = false;
        return std::nullopt;
    }
    // Nothing to store that the recovery file could not bring back: the archive stays as it was found.
    if (!m_replayedUnstored && !m_changedSinceStore[RecoveryLog::Journal] && !m_changedSinceStore[RecoveryLog::Notes]) {
        return Result { Outcome::Kept };
    }
    if (m_keepArchive && keepCopy().isEmpty()) {
        return Result { Outcome::Failed,
            LoadStr(sCannotKeepCopy).arg(FArchiveFileName, FileAccess::freeBackupName(FArchiveFileName)) };
    }
    // When the recovery file cannot keep the changes, they are stored: the archive's copy is kept.
    if (changesKeptSafe()
        && !m_prompts.ask(LoadStr(sReplaceUnloaded).arg(FArchiveFileName, m_keptCopy, m_recoveryFileName))) {
        return Result { Outcome::Kept };
    }
    m_askBeforeReplacing = false;
    return std::nullopt;
}

bool SessionStore::storeInBackground()
{
    if (!m_loaded || m_running || m_waiting) {
        return m_running != nullptr;
    }
    // An archive that could not be loaded is replaced only when the user stores or closes; until
    // then the changes wait in the recovery file and the archive stays as it was found.
    if (m_askBeforeReplacing || m_archiveUnreadable) {
        return false;
    }
    if (!m_changedSinceStore[RecoveryLog::Journal] && !m_changedSinceStore[RecoveryLog::Notes]) {
        return false;
    }
    const QString failure = startStore();
    if (!failure.isEmpty()) {
        tellBackgroundFailure(failure);
        return false;
    }
    return true;
}

QString SessionStore::startStore()
{
    const QString archive = AtomicFile::resolveLinks(FArchiveFileName);
    if (isOtherThanFile(archive)) {
        return LoadStr(sArchiveNotAFile).arg(FArchiveFileName);
    }
    // What could not be read at start is kept aside before it is replaced.
    if (m_keepArchive && QFileInfo::exists(archive) && keepCopy().isEmpty()) {
        return LoadStr(sCannotKeepCopy).arg(FArchiveFileName, FileAccess::freeBackupName(FArchiveFileName));
    }
    if (m_archiveUnreadable) {
        // Its copy is kept; the component could not add to it, so a new archive takes its place.
        QFile::remove(archive);
        m_archiveUnreadable = false;
    }
    StoreWorker::Job job;
    job.archive = archive;
    job.entryNames[RecoveryLog::Journal] = FJournalEntryName;
    job.entryNames[RecoveryLog::Notes] = FNotesEntryName;
    job.newArchive = !QFileInfo::exists(archive);
    auto running = std::make_unique<Running>();
    for (const RecoveryLog::Memo memo : Memos) {
        // Changes from here on belong to the next store.
        job.changed[memo] = running->changed[memo] = std::exchange(m_changedSinceStore[memo], false);
        // Shared with the buffer, which copies its bytes only when it changes before the worker is done.
        job.texts[memo] = bufferOf(memo)->snapshot();
    }
    m_recovery->snapshotTaken();
    auto done = std::make_shared<std::promise<StoreWorker::Done>>();
    running->done = done->get_future().share();
    m_running = std::move(running);
    m_idle->stop();
    m_latest->stop();
    QMetaObject::invokeMethod(m_worker, [this, worker = m_worker, job = std::move(job), done]() mutable {
        done->set_value(worker->run(job));
        job = {};
        QMetaObject::invokeMethod(this, &SessionStore::finishStore, Qt::QueuedConnection);
    });
    return {};
}

void SessionStore::finishStore()
{
    if (!m_running) {
        return;
    }
    const StoreWorker::Done done = m_running->done.get();
    const std::unique_ptr<Running> finished = std::move(m_running);
    if (done.failure.isEmpty()) {
        m_recovery->storeSucceeded(done.snapshot);
        m_lastResult = { Outcome::Stored, {}, done.written };
        m_backgroundFailure.clear();
    } else {
        for (const RecoveryLog::Memo memo : Memos) {
            m_changedSinceStore[memo] = m_changedSinceStore[memo] || finished->changed[memo];
        }
        m_lastResult = { Outcome::Failed, done.failure };
        // Whoever waits for the store tells of its failure.
        if (!m_waiting) {
            tellBackgroundFailure(done.failure);
        }
    }
    if (m_changedSinceStore[RecoveryLog::Journal] || m_changedSinceStore[RecoveryLog::Notes]) {
        scheduleStore();
    }
    Q_EMIT storeFinished();
}

void SessionStore::waitForStore(bool pumpEvents)
{
    if (!m_running) {
        return;
    }
    if (pumpEvents) {
        // Typing, captures and painting go on while the worker stores.
        QEventLoop loop;
        connect(this, &SessionStore::storeFinished, &loop, &QEventLoop::quit);
        loop.exec();
    } else {
        m_running->done.wait();
        finishStore();
        // The program may end right after: the recovery file is brought up to date with the store now.
        m_recovery->flush();
    }
}

void SessionStore::scheduleStore()
{
    // After a failure, stores come no more often than the latest delay allows.
    if (m_backgroundFailure.isEmpty()) {
        m_idle->start();
    }
    if (!m_latest->isActive()) {
        m_latest->start();
    }
}

void SessionStore::tellBackgroundFailure(const QString& reason)
{
    m_latest->start();
    if (reason != m_backgroundFailure) {
        m_backgroundFailure = reason;
        m_prompts.tell(notStoredText({ Outcome::Failed, reason }));
    }
}

void SessionStore::reportRecoveryFailure(const QString& reason)
{
    m_recoveryFailing = true;
    m_prompts.tell(LoadStr(sRecoveryNotWritten).arg(LoadStr(sCannotWrite).arg(m_recoveryFileName, reason)));
}
