#include "app/ShellOpen.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace
{
bool looksLikeUrl(const QString& target)
{
    // "C:" and other one-letter schemes are no URLs, nor is "note: text".
    const QUrl url(target, QUrl::TolerantMode);
    const QString scheme = url.scheme();
    return url.isValid() && scheme.size() > 1
        && (target.contains(QLatin1String("://")) || scheme == QLatin1String("mailto"));
}
} // namespace

bool ShellOpen(const QString& target, QWidget*, const DesktopOpener& opener)
{
    if (target.isEmpty()) {
        return false;
    }
    QUrl url;
    if (looksLikeUrl(target)) {
        url = QUrl(target, QUrl::TolerantMode);
    } else {
        // The desktop's opener says nothing about a missing file, so it is refused here.
        const QFileInfo file(QDir::current(), target);
        if (!file.exists()) {
            return false;
        }
        url = QUrl::fromLocalFile(QDir::cleanPath(file.absoluteFilePath()));
    }
    return opener ? opener(url) : QDesktopServices::openUrl(url);
}
