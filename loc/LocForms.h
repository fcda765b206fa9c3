#pragma once

#include <QByteArray>
#include <QString>

class QWidget;

// Reads a window description (a Qt Designer .ui document) into an existing window:
// every control it names is looked up by objectName and its stored properties are
// set again. Nothing is created or destroyed; unknown names are passed over.
// Throws EReadError, leaving the window untouched, when the document is malformed or a
// value is out of range (a position or size no window can have, a font size past 1000 points).
void ApplyWindowDescription(QWidget* window, const QByteArray& description, const QString& resourceName);
// The same checks without a window.
void CheckWindowDescription(const QByteArray& description, const QString& resourceName);
