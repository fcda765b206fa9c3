#pragma once

#include <QObject>
#include <QString>

class JournalPage;
class JournalView;
class QWidget;
struct TFMainServices;

namespace Ui
{
class TFMain;
}

// The find bar below the pages: a search that follows each key, "Next", a
// double click's selection into the find box, and "Open" on the box's text.
class FindBar : public QObject
{
    Q_OBJECT

public:
    FindBar(Ui::TFMain& ui, TFMainServices& services, JournalPage& journal, QWidget* window);

    void txtFindTextKeyUp();
    void cmdFindTextClick();
    void ActionOnDblClickGetSelectedExecute(QObject* sender);
    void ActionShellOpenSelectedTextExecute();

    // The find state: the text searched for, its length, the 0-based position of the
    // current match in the memo's text (-1 for none), and where "Next" goes on.
    const QString& findText() const { return FFindText; }
    qsizetype findPos() const { return FFindPos; }
    qsizetype findNext() const { return FFindNext; }

private:
    qsizetype findInMemo(JournalView* memo, qsizetype start);
    void selectMatch(JournalView* memo);

    Ui::TFMain& m_ui;
    TFMainServices& m_services;
    JournalPage& m_journal;
    QWidget* m_window;

    QString FFindText;
    qsizetype FFindLength = 0;
    qsizetype FFindPos = 0;
    qsizetype FFindNext = 0;
};
