#include "app/Dialogs.h"

#include "app/MessageBox.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>

void DesktopDialogs::message(QWidget* parent, const QString& text)
{
    MessageBox::show(parent, text);
}

bool DesktopDialogs::ask(QWidget* parent, const QString& text)
{
    return QMessageBox::question(parent, QGuiApplication::applicationDisplayName(), text,
               QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        == QMessageBox::Yes;
}

QString DesktopDialogs::saveFileName(
    QWidget* parent, const QString& proposedName, const QString& filter, bool confirmOverwrite)
{
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
