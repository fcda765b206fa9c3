#pragma once

#include <QObject>
#include <QStringList>

class JournalPage;
class QEvent;
class QWidget;

namespace Ui
{
class TFMain;
}

// The Drop Zone page: files dropped anywhere on the window are listed here and journalled
// one path at a time. Controls that take drops themselves (the memos, the edits, the lists)
// leave files to it and keep only what else is dragged onto them, such as plain text.
class DropZonePage : public QObject
{
    Q_OBJECT

public:
    DropZonePage(Ui::TFMain& ui, JournalPage& journal, QWidget* window);

    // The dropped paths in order.
    void WMDropFiles(const QStringList& paths);

    // A drag or drop event on the window or one of its controls; true when it carried files and was taken.
    bool takeFileDrag(QEvent* event);

Q_SIGNALS:
    // Files were dropped, in order; the drop is already released.
    void filesDropped(const QStringList& paths);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Ui::TFMain& m_ui;
    JournalPage& m_journal;
};
