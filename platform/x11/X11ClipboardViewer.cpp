#include "platform/x11/X11ClipboardViewer.h"

#include "platform/x11/X11ClipboardWatcher.h"

#include <QGuiApplication>

X11ClipboardViewer::X11ClipboardViewer(QObject* parent, qsizetype maxReadBytes)
    : ClipboardViewer(parent)
    , m_watcher(new X11ClipboardWatcher(ReadTimeoutMs, maxReadBytes))
{
    qRegisterMetaType<ClipboardContent>();
    m_thread.setObjectName(QStringLiteral("clipboard watcher"));
    m_watcher->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_watcher, &QObject::deleteLater);
    connect(
        m_watcher, &X11ClipboardWatcher::noticeRead, this,
        [this](quint64 generation, const ClipboardContent& content) {
            if (m_active && generation == m_generation) {
                Q_EMIT changed(content);
            }
        },
        Qt::QueuedConnection);
    m_thread.start();
}

X11ClipboardViewer::~X11ClipboardViewer()
{
    // The watcher is deleted on its own thread as that thread ends.
    m_thread.quit();
    m_thread.wait();
}

void X11ClipboardViewer::start()
{
    if (m_active) {
        return;
    }
    m_active = true;
    const quint64 generation = ++m_generation;
    QMetaObject::invokeMethod(
        m_watcher, [watcher = m_watcher, generation] { watcher->watch(generation); }, Qt::QueuedConnection);
}

void X11ClipboardViewer::stop()
{
    if (!m_active) {
        return;
    }
    m_active = false;
    ++m_generation;
    QMetaObject::invokeMethod(
        m_watcher, [watcher = m_watcher] { watcher->pause(); }, Qt::QueuedConnection);
}

std::unique_ptr<ClipboardViewer> ClipboardViewer::create()
{
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        return std::make_unique<X11ClipboardViewer>();
    }
    return std::make_unique<SystemClipboardViewer>();
}
