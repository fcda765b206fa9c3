#pragma once

#include <QObject>
#include <QStringList>

class JournalPage;
class QDragEnterEvent;
class QDropEvent;

namespace Ui
{
class TFMain;
}

// The Drop Zone page: files dropped on the window are listed here and journalled one path at a time.
class DropZonePage : public QObject
{
    Q_OBJECT

public:
    DropZonePage(Ui::TFMain& ui, JournalPage& journal, QObject* parent);

    // The dropped paths in order.
    void WMDropFiles(const QStringList& paths);

    void dragEnter(QDragEnterEvent* event);
    // The local paths a drop carries, in order; the drop is accepted (released) whatever happens next.
    static QStringList takeDroppedPaths(QDropEvent* event);

private:
    Ui::TFMain& ui;
    JournalPage& m_journal;
};
