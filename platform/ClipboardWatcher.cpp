#include "platform/ClipboardWatcher.h"

ThreadedClipboardViewer::ThreadedClipboardViewer(ClipboardWatcher* watcher, QObject* parent)
    : ClipboardViewer(parent)
    , m_watcher(watcher)
{
    qRegisterMetaType<ClipboardContent>();
    m_thread.setObjectName(QStringLiteral("clipboard watcher"));
    m_watcher->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_watcher, &QObject::deleteLater);
    connect(
        m_watcher, &ClipboardWatcher::noticeRead, this,
        [this](quint64 generation, const ClipboardContent& content) {
            if (m_active && generation == m_generation) {
                Q_EMIT changed(content);
            }
        },
        Qt::QueuedConnection);
    m_thread.start();
}

ThreadedClipboardViewer::~ThreadedClipboardViewer()
{
    // The watcher is deleted on its own thread as that thread ends.
    m_thread.quit();
    m_thread.wait();
}

void ThreadedClipboardViewer::start()
{
    if (m_active) {
        return;
    }
    m_active = true;
    const quint64 generation = ++m_generation;
    QMetaObject::invokeMethod(
        m_watcher, [watcher = m_watcher, generation] { watcher->watch(generation); }, Qt::QueuedConnection);
}

void ThreadedClipboardViewer::stop()
{
    if (!m_active) {
        return;
    }
    m_active = false;
    ++m_generation;
    QMetaObject::invokeMethod(
        m_watcher, [watcher = m_watcher] { watcher->pause(); }, Qt::QueuedConnection);
}
