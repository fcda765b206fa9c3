#include "app/MessageBox.h"

#include <QGuiApplication>
#include <QMessageBox>

namespace MessageBox
{
void show(QWidget* parent, const QString& text)
{
    show(parent, QGuiApplication::applicationDisplayName(), text);
}

void show(QWidget* parent, const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
    box.exec();
}
} // namespace MessageBox
