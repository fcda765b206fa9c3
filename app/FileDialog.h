#pragma once

#include <QString>

#include <optional>

class QWidget;

// Save dialogs. Tests preset the next answer, so no test waits for a person.
namespace FileDialog
{
// The chosen file name, or an empty string when the user cancelled.
QString getSaveFileName(QWidget* parent, const QString& proposedName, const QString& filter, bool confirmOverwrite);

// The next call answers this without showing a dialog (an empty name cancels).
void setNextFileNameForTesting(const std::optional<QString>& name);
} // namespace FileDialog
