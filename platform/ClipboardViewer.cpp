#include "platform/ClipboardViewer.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#if VELLUMIX_HAVE_WAYLAND
#include "platform/wayland/WaylandClipboardViewer.h"
#endif
#if VELLUMIX_HAVE_X11
#include "platform/x11/X11ClipboardViewer.h"
#endif

namespace
{
const QString PasswordManagerHint = QStringLiteral("x-kde-passwordManagerHint");
}

ClipboardViewer::Kind ClipboardViewer::sessionKind()
{
#if VELLUMIX_HAVE_WAYLAND
    // Only a session that names its compositor: libwayland would otherwise try "wayland-0".
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && WaylandClipboardViewer::available()) {
        return Kind::Wayland;
    }
#endif
#if VELLUMIX_HAVE_X11
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        return Kind::X11;
    }
#endif
    return Kind::Qt;
}

std::unique_ptr<ClipboardViewer> ClipboardViewer::create()
{
    switch (sessionKind()) {
#if VELLUMIX_HAVE_WAYLAND
    case Kind::Wayland:
        return std::make_unique<WaylandClipboardViewer>();
#endif
#if VELLUMIX_HAVE_X11
    case Kind::X11:
        return std::make_unique<X11ClipboardViewer>();
#endif
    default:
        return std::make_unique<SystemClipboardViewer>();
    }
}

void SystemClipboardViewer::start()
{
    if (m_connection) {
        return;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    m_connection = connect(clipboard, &QClipboard::changed, this, [this](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard) {
            Q_EMIT changed(read());
        }
    });
    Q_EMIT changed(read());
}

void SystemClipboardViewer::stop()
{
    disconnect(m_connection);
    m_connection = {};
}

ClipboardContent SystemClipboardViewer::read() const
{
    ClipboardContent content;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!data) {
        content.failed = true;
        return content;
    }
    content.secret = data->hasFormat(PasswordManagerHint) && data->data(PasswordManagerHint).trimmed() == "secret";
    content.hasText = data->hasText();
    if (content.hasText && !content.secret) {
        content.text = data->text();
        // Qt has read it whole by now; counted in characters, the limit still keeps it out of the journal.
        if (content.text.size() > MaxTextBytes) {
            content = ClipboardContent();
            content.tooLarge = true;
            return content;
        }
        const qsizetype end = content.text.indexOf(QChar(0));
        if (end >= 0) {
            content.text.truncate(end);
        }
    }
    content.hasImage = data->hasImage();
    if (content.hasImage) {
        content.image = QGuiApplication::clipboard()->image(QClipboard::Clipboard);
    }
    return content;
}
