#pragma once

#include "session/RecoveryLog.h"
#include "zip/ZipTypes.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class TextBuffer;
struct ZipDirEntry;
class TZipArchiver;

// The session archive: the journal and the notes loaded at start and stored at
// exit and on "Save" through the window's zip component. Every change between
// two stores is kept in a recovery file, so that nothing is lost to a crash.
class SessionStore : public QObject
{
    Q_OBJECT

public:
    // Larger entries are not loaded: the memory they would take could end the program.
    static constexpr quint64 MaxEntrySize = quint64(1) << 30;

    enum class Outcome { Stored, Busy, Failed };
    struct Result
    {
        Outcome outcome = Outcome::Stored;
        QString reason; // for a failure: what went wrong, in the user's words
    };

    // How the session speaks to the user: the window's message boxes, and its answers to the zip
    // component's questions (a password), or mrNone to let the component ask itself.
    struct Prompts
    {
        std::function<void(const QString& text)> tell;
        std::function<int(const QString& title, QString& text, int kind, TMsgDlgButtons buttons)> zipQuestion;
    };

    // The journal's and the notes' buffers; owner is the window the component's dialogs belong to.
    SessionStore(TextBuffer* journal, TextBuffer* notes, Prompts prompts, QObject* owner);

    // Names the archive, its recovery file, and the two entries after the program file.
    void nameFiles(const QString& archivePath, const QString& executablePath);
    // Loads both memos, tells once what did not load as it was stored, and applies the changes
    // the recovery file kept since the last store.
    void LoadSession();
    // Busy when another archive operation is running; nothing is stored then. Events wait while
    // the store runs when pumpEvents is false: with the desktop gone, the next turn of the event
    // loop may be the program's last.
    Result StoreSession(bool pumpEvents = true);
    // "The session was not stored in … : …"
    QString notStoredText(const Result& result) const;
    // Waits until every change is in the recovery file; whether all of them are, synced.
    bool flushRecovery() const { return m_recovery->flush(); }
    // Whether what was changed since the last store waits safely in the recovery file.
    bool changesKeptSafe() const { return flushRecovery() && !m_recoveryFailing; }

    TZipArchiver* zip() const { return m_zip; }
    const QString& archiveFileName() const { return FArchiveFileName; }
    const QString& journalEntryName() const { return FJournalEntryName; }
    const QString& notesEntryName() const { return FNotesEntryName; }
    const QString& recoveryFileName() const { return m_recoveryFileName; }

Q_SIGNALS:
    // A memo changed since the last store.
    void changed();

private:
    // Loads the entry into text and returns the size and CRC of the bytes loaded: none when it
    // could not be read, whatever the archive's directory claims.
    SessionFingerprint::Entry loadEntry(const QString& entryName, TextBuffer* text, QStringList* problems);
    // The archive's directory entry of that name, or null.
    const ZipDirEntry* findEntry(const QString& entryName) const;
    TextBuffer* bufferOf(RecoveryLog::Memo memo) const;
    // Runs a component operation with its message boxes collected instead of shown.
    template <typename Operation> QString collectingMessages(Operation operation);
    // A copy of the archive as it is now, unless one with the same bytes exists; empty when none could be made.
    QString keepCopy();
    void record(RecoveryLog::Memo memo);
    void reportRecoveryFailure(const QString& reason);
    void tellReplay(const RecoveryLog::Replay& replay);

    TextBuffer* m_buffers[2];
    Prompts m_prompts;
    TZipArchiver* m_zip;
    RecoveryLog* m_recovery;
    QString FArchiveFileName;
    QString FJournalEntryName;
    QString FNotesEntryName;
    QString m_recoveryFileName;
    // Set while a load fills the memos, whose changes are then no news to the recovery file.
    bool m_loading = false;
    // Whether a memo changed since the last store or load took its text.
    bool m_changedSinceStore[2] = { true, true };
    QStringList m_collected;
    // The archive could not be read as stored and must be copied aside before it is replaced.
    bool m_keepArchive = false;
    // The archive or an entry could not be read; once its copy is kept, a new archive takes its place.
    bool m_archiveUnreadable = false;
    QString m_notAFile;
    bool m_recoveryFailing = false;
};
