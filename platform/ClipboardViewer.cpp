#include "platform/ClipboardViewer.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace
{
const QString PasswordManagerHint = QStringLiteral("x-kde-passwordManagerHint");
}

void SystemClipboardViewer::start()
{
    if (m_connection) {
        return;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    m_connection = connect(clipboard, &QClipboard::changed, this, [this](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard) {
            Q_EMIT changed();
        }
    });
    Q_EMIT changed();
}

void SystemClipboardViewer::stop()
{
    disconnect(m_connection);
    m_connection = {};
}

bool SystemClipboardViewer::read(ClipboardContent* content)
{
    *content = {};
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!data) {
        return false;
    }
    content->hasText = data->hasText();
    if (content->hasText) {
        // The text ends at its first zero, as a C string on the clipboard does.
        content->text = data->text();
        const qsizetype end = content->text.indexOf(QChar(0));
        if (end >= 0) {
            content->text.truncate(end);
        }
    }
    content->secret = data->hasFormat(PasswordManagerHint) && data->data(PasswordManagerHint).trimmed() == "secret";
    content->hasImage = data->hasImage();
    return true;
}

QImage SystemClipboardViewer::readImage()
{
    return QGuiApplication::clipboard()->image(QClipboard::Clipboard);
}
