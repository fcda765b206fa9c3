#include "app/FileDialog.h"

#include <QFileDialog>

namespace
{
std::optional<QString> g_next;
}

namespace FileDialog
{
QString getSaveFileName(QWidget* parent, const QString& proposedName, const QString& filter, bool confirmOverwrite)
{
    if (g_next) {
        const QString answer = *g_next;
        g_next.reset();
        return answer;
    }
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !confirmOverwrite);
    if (!filter.isEmpty()) {
        dialog.setNameFilter(filter);
    }
    dialog.selectFile(proposedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

void setNextFileNameForTesting(const std::optional<QString>& name)
{
    g_next = name;
}
} // namespace FileDialog
