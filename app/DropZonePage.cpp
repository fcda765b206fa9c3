#include "app/DropZonePage.h"

#include "app/JournalPage.h"

#include "ui_vlmx_main.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>

DropZonePage::DropZonePage(Ui::TFMain& ui, JournalPage& journal, QObject* parent)
    : QObject(parent)
    , ui(ui)
    , m_journal(journal)
{ }

void DropZonePage::dragEnter(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

QStringList DropZonePage::takeDroppedPaths(QDropEvent* event)
{
    event->acceptProposedAction();
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            paths << url.toLocalFile();
        }
    }
    return paths;
}

void DropZonePage::WMDropFiles(const QStringList& paths)
{
    if (paths.isEmpty()) {
        return;
    }
    ui.lvDropLog->clear();
    for (QString path : paths) {
        path.truncate(2048);
        QStringView name(path);
        while (name.size() > 1 && name.endsWith(QLatin1Char('/'))) {
            name.chop(1);
        }
        name = name.sliced(name.lastIndexOf(QLatin1Char('/')) + 1);
        new QTreeWidgetItem(ui.lvDropLog, { name.toString(), path });
        m_journal.AppendToJournal(path);
    }
}
