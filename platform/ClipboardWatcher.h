#pragma once

#include "platform/ClipboardViewer.h"

#include <QElapsedTimer>
#include <QObject>
#include <QThread>

#include <algorithm>
#include <limits>

class QTimer;

// The reading side of a clipboard subscription: it lives on a thread of its own and talks to
// the display server there.
class ClipboardWatcher : public QObject
{
    Q_OBJECT

public:
    explicit ClipboardWatcher(int readTimeoutMs);

    // From now on, report the contents there now and each change, tagged with generation.
    virtual void watch(quint64 generation) = 0;
    // Reports nothing more; reads under way are dropped.
    virtual void pause() = 0;

Q_SIGNALS:
    void noticeRead(quint64 generation, const ClipboardContent& content);
    void connectionLost();

protected:
    // When a read that just heard from its source gives up, if it hears nothing more.
    qint64 readDeadline() const { return m_clock.elapsed() + m_readTimeoutMs; }
    qint64 now() const { return m_clock.elapsed(); }
    // Calls expire() once the earliest deadline of the notices being read has passed.
    template <typename Notices> void armTimer(const Notices& notices)
    {
        qint64 next = std::numeric_limits<qint64>::max();
        for (const auto& notice : notices) {
            if (notice.launched && !notice.done) {
                next = std::min(next, notice.deadline);
            }
        }
        wakeAt(next);
    }
    void stopTimer() { wakeAt(std::numeric_limits<qint64>::max()); }

private:
    virtual void expire() = 0;
    void wakeAt(qint64 time);

    const int m_readTimeoutMs;
    QElapsedTimer m_clock;
    QTimer* m_timer = nullptr;
};

// A subscription whose watcher runs on a thread of its own, so that a program that answers
// slowly or never only delays the changes after it, never the window.
class ThreadedClipboardViewer : public ClipboardViewer
{
    Q_OBJECT

public:
    // A read gives up once its source has sent nothing for this long.
    static constexpr int ReadTimeoutMs = 2000;

    // Takes the watcher over.
    explicit ThreadedClipboardViewer(ClipboardWatcher* watcher, QObject* parent = nullptr);
    ~ThreadedClipboardViewer() override;

    void start() override;
    void stop() override;
    bool isActive() const override { return m_active; }

private:
    QThread m_thread;
    ClipboardWatcher* m_watcher = nullptr;
    // Results of an earlier subscription are dropped on arrival.
    quint64 m_generation = 0;
    bool m_active = false;
};
