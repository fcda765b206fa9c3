#pragma once

#include "session/RecoveryLog.h"
#include "session/SessionZip.h"
#include "session/StoreWorker.h"
#include "zip/ZipTypes.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <utility>

class QThread;
class QTimer;
class TextBuffer;
struct ZipDirEntry;
class TZipArchiver;

// The session archive: the journal and the notes loaded at start through the window's zip
// component, and stored by a worker thread a few seconds after changes, on "Save" and at exit.
// Every change between two stores is kept in a recovery file, so that nothing is lost to a crash.
class SessionStore : public QObject
{
    Q_OBJECT

public:
    // Larger entries are not loaded: the memory they would take could end the program.
    static constexpr quint64 MaxEntrySize = quint64(1) << 30;

    // Kept: the archive could not be loaded, and the user chose to keep it as it is.
    enum class Outcome { Stored, Busy, Failed, Kept };
    struct Result
    {
        Result(Outcome outcome = Outcome::Stored, QString reason = {}, QStringList written = {})
            : outcome(outcome)
            , reason(std::move(reason))
            , written(std::move(written))
        { }
        Outcome outcome;
        QString reason; // for a failure: what went wrong, in the user's words
        QStringList written; // the entries written; the others were left as the archive held them
    };

    // How the session speaks to the user: the window's message boxes, and its answers to the zip
    // component's questions (a password), or mrNone to let the component ask itself.
    struct Prompts
    {
        std::function<void(const QString& text)> tell;
        // Yes (true) or No; No when nobody is there to answer.
        std::function<bool(const QString& text)> ask;
        std::function<int(const QString& title, QString& text, int kind, TMsgDlgButtons buttons)> zipQuestion;
    };

    // The journal's and the notes' buffers; owner is the window the component's dialogs belong to.
    SessionStore(TextBuffer* journal, TextBuffer* notes, Prompts prompts, QObject* owner);
    // Waits for a store that is running.
    ~SessionStore() override;

    // A store begins by itself once the memos were left alone this many milliseconds after a
    // change, and at the latest this many after the first change not yet stored.
    void setStoreDelays(int idleMilliseconds, int latestMilliseconds);

    // Names the archive, its recovery file, and the two entries after the program file.
    void nameFiles(const QString& archivePath, const QString& executablePath);
    // Loads both memos, tells once what did not load as it was stored, and applies the changes
    // the recovery file kept since the last store.
    void LoadSession();
    // Waits for a store that is running, then stores what the memos hold now. Busy when called
    // again while it waits; nothing more is stored then. An archive that could not be loaded is
    // replaced only when the user agrees, and only when something changed. Events go on while the worker stores,
    // unless pumpEvents is false: with the desktop gone, the next turn of the event loop may be
    // the program's last.
    Result StoreSession(bool pumpEvents = true);
    // Stores of one call: changes that keep coming during each are left to the recovery file.
    static constexpr int MaxRounds = 3;
    // Begins a store in the background when a memo changed and no store runs; whether one runs.
    bool storeInBackground();
    bool storeRunning() const { return m_running != nullptr; }
    // "The session was not stored in … : …"
    QString notStoredText(const Result& result) const;
    // Waits until every change is in the recovery file; whether all of them are, synced.
    bool flushRecovery() const { return m_recovery->flush(); }
    // Whether what was changed since the last store waits safely in the recovery file.
    bool changesKeptSafe() const { return flushRecovery() && !m_recoveryFailing; }

    TZipArchiver* zip() const { return m_zip->component(); }
    const QString& archiveFileName() const { return FArchiveFileName; }
    const QString& journalEntryName() const { return FJournalEntryName; }
    const QString& notesEntryName() const { return FNotesEntryName; }
    const QString& recoveryFileName() const { return m_recoveryFileName; }

Q_SIGNALS:
    // A memo changed since the last store.
    void changed();
    // A store ended, in the background or not.
    void storeFinished();

private:
    // Loads the entry into text and returns the size and CRC of the bytes loaded: none when it
    // could not be read, whatever the archive's directory claims.
    SessionFingerprint::Entry loadEntry(const QString& entryName, TextBuffer* text, QStringList* problems);
    TextBuffer* bufferOf(RecoveryLog::Memo memo) const;
    // A copy of the archive as it is now, unless one with the same bytes exists; empty when none could be made.
    QString keepCopy();
    // Whether the archive that could not be loaded may be replaced now; Kept or Failed when not.
    std::optional<Result> mayReplaceUnloaded();
    // Takes the snapshot and hands it to the worker; why it could not, or empty.
    QString startStore();
    void finishStore();
    void waitForStore(bool pumpEvents);
    void scheduleStore();
    void tellBackgroundFailure(const QString& reason);
    void reportRecoveryFailure(const QString& reason);
    void tellReplay(const RecoveryLog::Replay& replay);

    TextBuffer* m_buffers[2];
    Prompts m_prompts;
    std::unique_ptr<SessionZip> m_zip;
    RecoveryLog* m_recovery;
    QString FArchiveFileName;
    QString FJournalEntryName;
    QString FNotesEntryName;
    QString m_recoveryFileName;
    // Set while a load fills the memos, whose changes are then no news to the recovery file.
    bool m_loading = false;
    // Whether a memo changed since the last store or load took its text.
    bool m_changedSinceStore[2] = { true, true };
    // The archive could not be read as stored and must be copied aside before it is replaced.
    bool m_keepArchive = false;
    // The archive or an entry could not be read; once its copy is kept, a new archive takes its place.
    bool m_archiveUnreadable = false;
    // A memo was not loaded from the archive: storing would write over what it holds.
    bool m_askBeforeReplacing = false;
    // Changes from the recovery file were applied at the load.
    bool m_replayedUnstored = false;
    QString m_keptCopy;
    QString m_notAFile;
    bool m_recoveryFailing = false;

    struct Running
    {
        bool changed[2];
        std::shared_future<StoreWorker::Done> done;
    };
    QThread* m_storeThread;
    StoreWorker* m_worker;
    std::unique_ptr<Running> m_running;
    Result m_lastResult;
    QTimer* m_idle;
    QTimer* m_latest;
    // Background stores wait for the load; a call that waits for a store refuses a second one.
    bool m_loaded = false;
    bool m_waiting = false;
    // What the last background store failed with, told once; until one succeeds, only the latest
    // delay starts another.
    QString m_backgroundFailure;
};
