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
    // "C:" and other one-letter schemes are no URLs.
    const QUrl url(target, QUrl::StrictMode);
    return url.isValid() && url.scheme().size() > 1 && !url.scheme().contains(QLatin1Char('/'));
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
        url = QUrl(target, QUrl::StrictMode);
        request = url.toString();
    } else {
        // The desktop's opener says nothing about a missing file, so it is refused here.
        const QFileInfo file(QDir::current(), target);
        if (!file.exists()) {
            return false;
        }
        request = file.absoluteFilePath();
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
