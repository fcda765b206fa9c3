#include "app/ShellOpen.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace
{
std::function<bool(const QString&)> g_opener;

bool looksLikeUrl(const QString& target)
{
    // "C:" and other one-letter schemes are no URLs, nor is "note: text".
    const QUrl url(target, QUrl::TolerantMode);
    const QString scheme = url.scheme();
    return url.isValid() && scheme.size() > 1
        && (target.contains(QLatin1String("://")) || scheme == QLatin1String("mailto"));
}
} // namespace

bool ShellOpen(const QString& target, QWidget*)
{
    if (target.isEmpty()) {
        return false;
    }
    QString request;
    QUrl url;
    if (looksLikeUrl(target)) {
        url = QUrl(target, QUrl::TolerantMode);
        request = url.toString();
    } else {
        // The desktop's opener says nothing about a missing file, so it is refused here.
        const QFileInfo file(QDir::current(), target);
        if (!file.exists()) {
            return false;
        }
        request = QDir::cleanPath(file.absoluteFilePath());
        url = QUrl::fromLocalFile(request);
    }
    if (g_opener) {
        return g_opener(request);
    }
    return QDesktopServices::openUrl(url);
}

void setShellOpenForTesting(std::function<bool(const QString&)> opener)
{
    g_opener = std::move(opener);
}
