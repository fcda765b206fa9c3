#include "app/SessionStore.h"

#include "app/JournalPage.h"
#include "app/MemoText.h"
#include "app/WindowServices.h"
#include "loc/LocStrings.h"
#include "platform/AppPaths.h"
#include "platform/Exception.h"
#include "platform/FileAccess.h"
#include "zip/ZipArchiver.h"

#include "ui_vlmx_main.h"

#include <QFileInfo>

SessionStore::SessionStore(Ui::TFMain& ui, TFMainServices& services, JournalPage& journal, QWidget* window)
    : QObject(window)
    , ui(ui)
    , m_services(services)
    , m_journal(journal)
    , m_window(window)
{
    // The session archive's component with its designed properties.
    m_zip = new TZipArchiver(window, csLoading);
    m_zip->setObjectName(QStringLiteral("zip"));
    m_zip->SetPassword(QStringLiteral("730582"));
    m_zip->SetPasswordReqCount(1);
    m_zip->SetUnattended(false);
    m_zip->SetDll_Load(false);
    m_zip->SetVerbose(false);
    m_zip->SetTrace(false);
    m_zip->Loaded();
}

void SessionStore::nameFiles(const QString& executablePath)
{
    FArchiveFileName = AppPaths::changeExtension(executablePath, QStringLiteral(".vma"));
    const QString programName = QFileInfo(executablePath).fileName();
    FJournalEntryName = AppPaths::changeExtension(programName, QStringLiteral(".clips"));
    FNotesEntryName = AppPaths::changeExtension(programName, QStringLiteral(".notes"));
}

void SessionStore::LoadSession()
{
    try {
        // Nothing stored yet is no error, so the component is not asked to report one.
        if (!QFileInfo::exists(FArchiveFileName)) {
            return;
        }
        m_zip->SetZipFileName(FArchiveFileName);
        m_zip->SetAddOptions(AddOpts { AddEncrypt });
        loadEntry(ui.log, FJournalEntryName);
        loadEntry(ui.jot, FNotesEntryName);
    } catch (...) { }
}

void SessionStore::loadEntry(QPlainTextEdit* memo, const QString& entryName)
{
    TZipStream* stream = m_zip->EntryStream();
    stream->Clear();
    m_zip->ExtractEntryToStream(entryName);
    const QByteArray bytes = stream->data().mid(stream->pos());
    if (bytes.isEmpty()) {
        for (int i = 0; i < m_zip->Count(); ++i) {
            const ZipDirEntry& entry = m_zip->DirEntry(i);
            if (entry.FileName.compare(entryName, Qt::CaseInsensitive) == 0 && entry.UncompressedSize > 0) {
                m_keepArchive = true;
            }
        }
    }
    m_journal.setMemoText(memo, bytes);
}

void SessionStore::keepUnreadArchive()
{
    if (!m_keepArchive || !QFileInfo::exists(FArchiveFileName)) {
        return;
    }
    const QString copy = FileAccess::freeBackupName(FArchiveFileName);
    if (!QFile::copy(FArchiveFileName, copy)) {
        throw Exception(
            QStringLiteral("Cannot keep a copy of %1 as %2; the session was not stored.").arg(FArchiveFileName, copy));
    }
    QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    m_keepArchive = false;
    m_services.dialogs->message(m_window, LoadStr(sArchiveKept).arg(FArchiveFileName, copy));
}

bool SessionStore::StoreSession()
{
    // The component pumps events while it works, so a second "Save" can arrive meanwhile. It is refused
    // here, before it could refill the stream whose bytes the running store is still writing.
    if (m_zip->Busy()) {
        return false;
    }
    // What could not be read at start is kept aside before it is replaced.
    keepUnreadArchive();
    // A new archive holds whatever the user copied: only its owner may read it.
    const FileAccess::PrivateFileCreation privateFiles;
    m_zip->SetZipFileName(FArchiveFileName);
    m_zip->SetAddOptions(AddOpts { AddEncrypt });
    storeEntry(ui.log, FJournalEntryName);
    storeEntry(ui.jot, FNotesEntryName);
    return true;
}

void SessionStore::storeEntry(QPlainTextEdit* memo, const QString& entryName)
{
    TZipStream* stream = m_zip->EntryStream();
    stream->Clear();
    stream->write(MemoText::toBytes(memo));
    m_zip->AddStreamEntry(entryName, 0, 0x20);
}
