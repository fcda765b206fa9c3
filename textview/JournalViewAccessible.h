#pragma once

#include <QString>

class QAccessibleInterface;
class QObject;

// What assistive technology sees of a JournalView: an editable multi-line text with the text,
// caret and selection interfaces, whose text is read a line at a time rather than whole.
QAccessibleInterface* journalViewAccessible(const QString& className, QObject* object);
