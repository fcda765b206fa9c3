#pragma once

#include "platform/ClipboardViewer.h"

#include <QObject>
#include <QThread>

// The reading side of a clipboard subscription: it lives on a thread of its own and talks to
// the display server there.
class ClipboardWatcher : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // From now on, report the contents there now and each change, tagged with generation.
    virtual void watch(quint64 generation) = 0;
    // Reports nothing more; reads under way are dropped.
    virtual void pause() = 0;

Q_SIGNALS:
    void noticeRead(quint64 generation, const ClipboardContent& content);
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
