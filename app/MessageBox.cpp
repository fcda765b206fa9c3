#include "app/MessageBox.h"

#include <QGuiApplication>
#include <QMessageBox>

namespace
{
QStringList* g_capture = nullptr;
}

namespace MessageBox
{
void show(QWidget* parent, const QString& text)
{
    show(parent, QGuiApplication::applicationDisplayName(), text);
}

void show(QWidget* parent, const QString& caption, const QString& text)
{
    if (g_capture) {
        g_capture->append(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
    box.exec();
}

void setCaptureForTesting(QStringList* sink)
{
    g_capture = sink;
}
} // namespace MessageBox
