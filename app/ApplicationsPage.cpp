#include "app/ApplicationsPage.h"

#include "app/JournalPage.h"
#include "app/TextPos.h"
#include "app/WindowServices.h"
#include "loc/LocStrings.h"

#include "ui_vlmx_main.h"

#include <QScopeGuard>

#include <algorithm>

ApplicationsPage::ApplicationsPage(Ui::TFMain& ui, TFMainServices& services, JournalPage& journal, QWidget* window)
    : QObject(window)
    , m_ui(ui)
    , m_services(services)
    , m_journal(journal)
    , m_window(window)
{
    m_ui.lvSysApplications->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
}

void ApplicationsPage::ActionGetSysApplicationsExecute()
{
    m_window->setCursor(Qt::BusyCursor);
    const auto restore = qScopeGuard([this] { m_window->unsetCursor(); });
    m_ui.lvSysApplications->clear();
    const QString filter = m_ui.txtSysApplicationsFilter->text();
    const bool showNameless = m_ui.chkSysApplicationsShowNameless->isChecked();
    QStringList rows;
    for (const TopLevelWindow& window : m_services.windows->topLevelWindows()) {
        const QString title = window.title.left(254);
        if (!title.isEmpty()) {
            if (filter.isEmpty() || TextPos(filter, title, false) > 0) {
                rows << title;
            }
        } else if (filter.isEmpty() && showNameless) {
            rows << LoadStr(sNamelessWindow).arg(qint32(window.handle));
        }
    }
    std::stable_sort(rows.begin(), rows.end(),
        [](const QString& a, const QString& b) { return QString::localeAwareCompare(a, b) < 0; });
    for (const QString& row : rows) {
        new QTreeWidgetItem(m_ui.lvSysApplications, { row });
    }
}

void ApplicationsPage::ActionCopySysApplicationsToClipboardExecute()
{
    QStringList lines;
    for (int i = 0; i < m_ui.lvSysApplications->topLevelItemCount(); ++i) {
        lines << m_ui.lvSysApplications->topLevelItem(i)->text(0);
    }
    m_journal.appendUnderStamp(QStringLiteral("][SYSWINS]--------"), lines);
    m_journal.ActionGotoBottomExecute();
}

void ApplicationsPage::lvSysApplicationsDblClick()
{
    const QList<QTreeWidgetItem*> selected = m_ui.lvSysApplications->selectedItems();
    if (!selected.isEmpty()) {
        m_ui.txtFindText->setText(selected.constFirst()->text(0));
    }
}
