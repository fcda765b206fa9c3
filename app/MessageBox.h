#pragma once

#include <QString>

class QWidget;

// Plain message boxes captioned with the application title.
namespace MessageBox
{
void show(QWidget* parent, const QString& text);
void show(QWidget* parent, const QString& caption, const QString& text);
} // namespace MessageBox
