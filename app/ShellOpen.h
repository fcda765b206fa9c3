#pragma once

#include <QString>

#include <functional>

class QWidget;

// Asks the desktop to open a file, folder, document or URL with its associated
// program. True when the request was accepted; raises nothing and does not wait.
bool ShellOpen(const QString& target, QWidget* ownerWindow);

// Tests see the request (an absolute path or a URL) instead of the desktop; an empty function restores it.
void setShellOpenForTesting(std::function<bool(const QString& request)> opener);
