#include "app/FindBar.h"

#include "app/JournalPage.h"
#include "app/ShellOpen.h"
#include "app/TextPos.h"
#include "app/WindowServices.h"
#include "loc/LocStrings.h"
#include "textview/JournalView.h"
#include "textview/MemoText.h"

#include "ui_vlmx_main.h"

FindBar::FindBar(Ui::TFMain& ui, TFMainServices& services, JournalPage& journal, QWidget* window)
    : QObject(window)
    , m_ui(ui)
    , m_services(services)
    , m_journal(journal)
    , m_window(window)
{ }

qsizetype FindBar::findInMemo(JournalView* memo, qsizetype start)
{
    if (FFindText.contains(QLatin1Char('\r')) || FFindText.contains(QLatin1Char('\n'))) {
        // A search text with line breaks: rare enough to search the text as it leaves the memo.
        return TextPosFrom(FFindText, QString::fromUtf8(MemoText::toBytes(memo)), start, false);
    }
    if (start < 1) {
        return 0;
    }
    // Without line breaks in the search text a match lies within one line, where both counts agree.
    TextBuffer* buffer = memo->buffer();
    const qsizetype found = buffer->find(FFindText, buffer->fromTextPosition(start - 1), false);
    return found < 0 ? 0 : buffer->toTextPosition(found) + 1;
}

void FindBar::selectMatch(JournalView* memo)
{
    if (FFindPos >= 0) {
        MemoText::selectText(memo, FFindPos, FFindLength);
        return;
    }
    TextCursor cursor = memo->textCursor();
    cursor.clearSelection();
    memo->setTextCursor(cursor);
}

void FindBar::txtFindTextKeyUp()
{
    FFindText = m_ui.txtFindText->text();
    FFindLength = FFindText.size();
    if (JournalView* memo = m_journal.activeMemo()) {
        FFindPos = findInMemo(memo, 1) - 1;
        FFindNext = FFindPos + FFindLength;
        selectMatch(memo);
    }
}

void FindBar::cmdFindTextClick()
{
    if (JournalView* memo = m_journal.activeMemo()) {
        FFindPos = findInMemo(memo, FFindNext + 1) - 1;
        FFindNext = FFindPos + FFindLength;
        selectMatch(memo);
    }
}

void FindBar::ActionOnDblClickGetSelectedExecute(QObject* sender)
{
    if (sender != m_ui.log && sender != m_ui.jot) {
        return;
    }
    QString selected = static_cast<JournalView*>(sender)->selectedText();
    selected.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    m_ui.txtFindText->setText(selected);
}

void FindBar::ActionShellOpenSelectedTextExecute()
{
    const QString target = m_ui.txtFindText->text();
    bool accepted = false;
    try {
        accepted = ShellOpen(target, m_window, m_services.opener);
    } catch (...) { }
    // The desktop's opener shows nothing when it refuses, so the program says it.
    if (!accepted) {
        m_services.dialogs->message(m_window,
            LoadStr(sItemCannotBeOpenedBefore) + QLatin1Char('"') + target + QLatin1Char('"')
                + LoadStr(sItemCannotBeOpenedAfter));
    }
}
