#pragma once

#include <QObject>
#include <QString>

#include <functional>

class DocumentText;
class QPlainTextEdit;
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
    FindBar(Ui::TFMain& ui, TFMainServices& services, std::function<QPlainTextEdit*()> activeMemo, QWidget* window);

    void txtFindTextKeyUp();
    void cmdFindTextClick();
    void ActionOnDblClickGetSelectedExecute(QObject* sender);
    void ActionShellOpenSelectedTextExecute();

    // The memo's text was replaced; its search copy is made when the program is idle.
    void memoReplaced(QPlainTextEdit* memo);

    // The find state: the text searched for, its length, the 0-based position of the
    // current match in the memo's text (-1 for none), and where "Next" goes on.
    const QString& findText() const { return FFindText; }
    qsizetype findPos() const { return FFindPos; }
    qsizetype findNext() const { return FFindNext; }

private:
    qsizetype findInMemo(QPlainTextEdit* memo, qsizetype start);
    void selectMatch(QPlainTextEdit* memo);
    DocumentText* copyOf(QPlainTextEdit* memo) const;

    Ui::TFMain& ui;
    TFMainServices& m_services;
    std::function<QPlainTextEdit*()> m_activeMemo;
    QWidget* m_window;
    DocumentText* m_logText;
    DocumentText* m_jotText;

    QString FFindText;
    qsizetype FFindLength = 0;
    qsizetype FFindPos = 0;
    qsizetype FFindNext = 0;
};
