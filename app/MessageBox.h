#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// Plain message boxes captioned with the application title. Tests capture the
// messages instead of showing them, so no test ever waits for a click.
namespace MessageBox
{
void show(QWidget* parent, const QString& text);
void show(QWidget* parent, const QString& caption, const QString& text);

// While a sink is set, messages are appended to it and no box is shown.
void setCaptureForTesting(QStringList* sink);
} // namespace MessageBox
