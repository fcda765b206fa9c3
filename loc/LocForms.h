#pragma once

#include <QByteArray>
#include <QString>

class QWidget;

// Reads a window description (a Qt Designer .ui document) into an existing window:
// every control it names is looked up by objectName and its stored properties are
// set again. Nothing is created or destroyed; unknown names are passed over.
// Throws EReadError, leaving the window untouched, when the document is malformed.
void ApplyWindowDescription(QWidget* window, const QByteArray& description, const QString& resourceName);
