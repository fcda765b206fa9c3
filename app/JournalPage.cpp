#include "app/JournalPage.h"

#include "app/ImagesPage.h"
#include "app/WindowServices.h"
#include "app/WriteFile.h"
#include "loc/LocStrings.h"
#include "platform/ClipboardViewer.h"
#include "textview/JournalView.h"
#include "textview/MemoText.h"

#include "ui_vlmx_main.h"

#include <QRegularExpression>

namespace
{
// Nested re-reads while another program keeps the clipboard busy.
constexpr int MaxClipboardRetries = 3;
} // namespace

JournalPage::JournalPage(Ui::TFMain& ui, TFMainServices& services, ImagesPage& images, QWidget* window)
    : QObject(window)
    , m_ui(ui)
    , m_services(services)
    , m_images(images)
    , m_window(window)
{ }

JournalView* JournalPage::memo(Memo which) const
{
    return which == Journal ? m_ui.log : m_ui.jot;
}

QString JournalPage::stampLine(const QString& tail) const
{
    return QLatin1Char('[') + m_services.clock.stampText() + tail;
}

void JournalPage::AppendToJournal(const QString& text)
{
    if (m_ui.chkClipTimeStamp->isChecked()) {
        m_ui.log->appendLine(stampLine(QStringLiteral("]-----------------")));
    }
    m_ui.log->appendLine(text);
}

void JournalPage::appendUnderStamp(const QString& tail, const QStringList& lines)
{
    m_ui.log->appendLine(stampLine(tail));
    for (const QString& line : lines) {
        m_ui.log->appendLine(line);
    }
}

bool JournalPage::isInClipboardChain() const
{
    return m_services.clipboard->isActive();
}

void JournalPage::JoinClipboardChain()
{
    if (!m_services.clipboard->isActive()) {
        m_clipboardRetries = 0;
        m_services.clipboard->start();
    }
}

void JournalPage::LeaveClipboardChain()
{
    if (m_services.clipboard->isActive()) {
        m_services.clipboard->stop();
    }
}

void JournalPage::RejoinClipboardChain()
{
    m_services.clipboard->stop();
    m_services.clipboard->start();
}

void JournalPage::WMDrawClipboard(const ClipboardContent& content)
{
    bool done = !content.failed;
    try {
        // Text a password manager marks as secret never goes into the journal.
        if (done && content.hasText && !content.secret) {
            AppendToJournal(content.text);
        }
    } catch (const std::exception&) {
        done = false;
    }
    if (!done) {
        // Joining again brings a fresh notice, and with it another read; past the bound the change is dropped.
        if (m_clipboardRetries < MaxClipboardRetries) {
            ++m_clipboardRetries;
            RejoinClipboardChain();
        } else {
            m_clipboardRetries = 0;
        }
        return;
    }
    m_clipboardRetries = 0;
    if (content.tooLarge) {
        m_services.dialogs->message(m_window, LoadStr(sClipboardTooLarge).arg(ClipboardViewer::MaxTextBytes >> 20));
    }
    if (content.hasImage) {
        // An image that could not be fetched leaves the last one in view.
        m_images.ClipboardBitmapStep(content.image);
    }
}

void JournalPage::chkClipAsleepClick()
{
    if (m_ui.chkClipAsleep->isChecked()) {
        LeaveClipboardChain();
    } else {
        JoinClipboardChain();
    }
}

JournalView* JournalPage::activeMemo() const
{
    const QWidget* page = m_ui.pageMain->currentWidget();
    if (page == m_ui.tabClipboardJournal) {
        return m_ui.log;
    }
    if (page == m_ui.tabNoteJotter) {
        return m_ui.jot;
    }
    return nullptr;
}

void JournalPage::ActionGotoTopExecute()
{
    if (JournalView* memo = activeMemo()) {
        memo->moveCursor(JournalView::Start);
    }
}

void JournalPage::ActionGotoBottomExecute()
{
    if (JournalView* memo = activeMemo()) {
        memo->moveCursor(JournalView::End);
    }
}

void JournalPage::ActionSaveAsExecute()
{
    if (m_ui.pageMain->currentWidget() == m_ui.tabClipboardJournal) {
        saveMemoAs(m_ui.log, QStringLiteral("vellumix-journal-"));
    }
    if (m_ui.pageMain->currentWidget() == m_ui.tabNoteJotter) {
        saveMemoAs(m_ui.jot, QStringLiteral("vellumix-notes-"));
    }
}

void JournalPage::saveMemoAs(JournalView* memo, const QString& prefix)
{
    // Short dates hold slashes in most locales ("12/7/26"); no file name can.
    QString date = m_services.clock.shortDate(m_services.clock.now().date());
    static const QRegularExpression unfit(QStringLiteral("[/\\\\:*?\"<>|\\x00-\\x1f]"));
    date.replace(unfit, QStringLiteral("-"));
    const QString fileName
        = m_services.dialogs->saveFileName(m_window, prefix + date + QStringLiteral(".txt"), QString(), true);
    if (!fileName.isEmpty()) {
        writeWholeFile(fileName, MemoText::toBytes(memo));
    }
}
