#include "app/DropZonePage.h"

#include "app/JournalPage.h"

#include "ui_vlmx_main.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace
{
QStringList localPaths(const QMimeData* data)
{
    QStringList paths;
    if (data != nullptr && data->hasUrls()) {
        for (const QUrl& url : data->urls()) {
            if (url.isLocalFile()) {
                paths << url.toLocalFile();
            }
        }
    }
    return paths;
}
} // namespace

DropZonePage::DropZonePage(Ui::TFMain& ui, JournalPage& journal, QWidget* window)
    : QObject(window)
    , m_ui(ui)
    , m_journal(journal)
{
    // A control that takes drops would insert a file's URL as text; the viewports of scroll areas take them.
    for (QWidget* control : window->findChildren<QWidget*>()) {
        if (control->acceptDrops()) {
            control->installEventFilter(this);
        }
    }
}

bool DropZonePage::takeFileDrag(QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (localPaths(drag->mimeData()).isEmpty()) {
            return false;
        }
        drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList paths = localPaths(drop->mimeData());
        if (paths.isEmpty()) {
            return false;
        }
        // The drop is released whatever the journal does with it.
        drop->acceptProposedAction();
        Q_EMIT filesDropped(paths);
        return true;
    }
    default:
        return false;
    }
}

bool DropZonePage::eventFilter(QObject*, QEvent* event)
{
    return takeFileDrag(event);
}

void DropZonePage::WMDropFiles(const QStringList& paths)
{
    if (paths.isEmpty()) {
        return;
    }
    m_ui.lvDropLog->clear();
    for (QString path : paths) {
        path.truncate(2048);
        QStringView name(path);
        while (name.size() > 1 && name.endsWith(QLatin1Char('/'))) {
            name.chop(1);
        }
        name = name.sliced(name.lastIndexOf(QLatin1Char('/')) + 1);
        new QTreeWidgetItem(m_ui.lvDropLog, { name.toString(), path });
        m_journal.AppendToJournal(path);
    }
}
