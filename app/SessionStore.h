#pragma once

#include <QObject>
#include <QString>

class JournalPage;
class QPlainTextEdit;
class QWidget;
class TZipArchiver;
struct TFMainServices;

namespace Ui
{
class TFMain;
}

// The session archive: the journal and the notes loaded at start and stored
// at exit and on "Save", through the window's zip component.
class SessionStore : public QObject
{
    Q_OBJECT

public:
    SessionStore(Ui::TFMain& ui, TFMainServices& services, JournalPage& journal, QWidget* window);

    // Names the archive and its two entries after the program file.
    void nameFiles(const QString& executablePath);
    void LoadSession();
    // False when refused because another archive operation is running.
    bool StoreSession();

    TZipArchiver* zip() const { return m_zip; }
    const QString& archiveFileName() const { return FArchiveFileName; }
    const QString& journalEntryName() const { return FJournalEntryName; }
    const QString& notesEntryName() const { return FNotesEntryName; }

private:
    void loadEntry(QPlainTextEdit* memo, const QString& entryName);
    void storeEntry(QPlainTextEdit* memo, const QString& entryName);
    void keepUnreadArchive();

    Ui::TFMain& ui;
    TFMainServices& m_services;
    JournalPage& m_journal;
    QWidget* m_window;
    TZipArchiver* m_zip;
    QString FArchiveFileName;
    QString FJournalEntryName;
    QString FNotesEntryName;
    // An entry of the stored archive could not be read; the archive is copied aside before the first store.
    bool m_keepArchive = false;
};
