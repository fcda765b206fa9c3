#pragma once

#include <QObject>

class JournalPage;
class QWidget;
struct TFMainServices;

namespace Ui
{
class TFMain;
}

// The Applications page: the titles of the desktop's top-level windows, filtered,
// written into the journal on request.
class ApplicationsPage : public QObject
{
    Q_OBJECT

public:
    ApplicationsPage(Ui::TFMain& ui, TFMainServices& services, JournalPage& journal, QWidget* window);

    void ActionGetSysApplicationsExecute();
    void ActionCopySysApplicationsToClipboardExecute();
    void lvSysApplicationsDblClick();

private:
    Ui::TFMain& m_ui;
    TFMainServices& m_services;
    JournalPage& m_journal;
    QWidget* m_window;
};
