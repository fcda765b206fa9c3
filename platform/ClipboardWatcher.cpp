#include "platform/ClipboardWatcher.h"

#include <QTimer>

ClipboardWatcher::ClipboardWatcher(int readTimeoutMs)
    : m_readTimeoutMs(readTimeoutMs)
    , m_timer(new QTimer(this))
{
    m_clock.start();
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] { expire(); });
}

void ClipboardWatcher::wakeAt(qint64 time)
{
    if (time == std::numeric_limits<qint64>::max()) {
        m_timer->stop();
    } else {
        m_timer->start(int(std::max<qint64>(0, time - m_clock.elapsed())));
    }
}

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
    connect(m_watcher, &ClipboardWatcher::connectionLost, this, &ClipboardViewer::desktopEnded, Qt::QueuedConnection);
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
