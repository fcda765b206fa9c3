#pragma once

#include "platform/ClipboardViewer.h"

#include <QThread>

class X11ClipboardWatcher;

// The CLIPBOARD selection watched on an X connection and a thread of their own, so that an
// owner that answers slowly or never only delays the changes after it, never the window.
// A read gives up once its owner has sent nothing for the read timeout.
class X11ClipboardViewer final : public ClipboardViewer
{
    Q_OBJECT

public:
    static constexpr int ReadTimeoutMs = 2000;

    // maxReadBytes: tests give a smaller limit than MaxTextBytes.
    explicit X11ClipboardViewer(QObject* parent = nullptr, qsizetype maxReadBytes = MaxTextBytes);
    ~X11ClipboardViewer() override;

    void start() override;
    void stop() override;
    bool isActive() const override { return m_active; }

private:
    QThread m_thread;
    X11ClipboardWatcher* m_watcher = nullptr;
    // Results of an earlier subscription are dropped on arrival.
    quint64 m_generation = 0;
    bool m_active = false;
};
