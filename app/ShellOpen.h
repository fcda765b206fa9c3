#pragma once

#include <QString>
#include <QUrl>

#include <functional>

class QWidget;

// Hands a request (an absolute local path or a URL) to the desktop's opener; tests see it instead.
using DesktopOpener = std::function<bool(const QUrl& request)>;

// Asks the desktop to open a file, folder, document or URL with its associated
// program. True when the request was accepted; raises nothing and does not wait.
// A relative name is resolved against the current folder.
bool ShellOpen(const QString& target, QWidget* ownerWindow, const DesktopOpener& opener = {});
