#pragma once

#include "platform/ClipboardRead.h"
#include "platform/ClipboardWatcher.h"
#include "platform/wayland/DataControl.h"

#include <QObject>

#include <deque>
#include <map>
#include <memory>
#include <vector>

class QSocketNotifier;
struct wl_callback;
struct wl_callback_listener;
struct wl_registry_listener;
struct wl_display;
struct wl_registry;
struct wl_seat;

// Lives on the watcher thread and owns that thread's Wayland connection. Each selection the
// compositor announces is one change; its source is asked through a pipe for one form at a
// time, as the change's read names them, and each change is reported in the order of the
// changes once it is read, refused or timed out.
//
// Which source wrote into a pipe is known exactly: a sync request follows each receive, and
// the compositor handles the two in order, so a selection announced before the sync's answer
// may have reached the compositor before the receive did. Data that arrives in that case is not
// taken for the change it was asked for.
class WaylandClipboardWatcher : public ClipboardWatcher, private DataControl::Listener
{
    Q_OBJECT

public:
    WaylandClipboardWatcher(int readTimeoutMs, qsizetype maxReadBytes);
    ~WaylandClipboardWatcher() override;

    // Whether the compositor offers what the watcher needs; connects on the calling thread.
    static bool available();

    void watch(quint64 generation) override;
    void pause() override;

private:
    // One receive into a pipe.
    struct Request
    {
        QByteArray form;
        int fd = -1;
        std::unique_ptr<QSocketNotifier> notifier;
        wl_callback* sync = nullptr;
        bool synced = false;
        bool foreign = false;
        bool ended = false;
        bool broken = false;
        bool tooLarge = false;
        QByteArray data;
    };

    struct Notice
    {
        quint64 ownership = 0;
        DataControl::Offer* offer = nullptr;
        bool launched = false;
        bool done = false;
        qint64 deadline = 0;
        std::unique_ptr<Request> request;
        ClipboardRead read;
    };

    bool open();
    void close();
    void pump();
    void flush();
    bool broken();
    void launchLatest();
    void ask(Notice& notice, const QByteArray& form);
    void readPipe(Notice& notice);
    void synced(wl_callback* callback);
    Notice* noticeOf(wl_callback* callback);
    void advance(Notice& notice);
    void finish(Notice& notice);
    void drop(Notice& notice);
    void dropRequest(Request& request);
    void expire() override;
    void deliverReady();

    void offerAnnounced(DataControl::Offer* offer) override;
    void offerForm(DataControl::Offer* offer, const char* form) override;
    void selectionChanged(DataControl::Offer* offer) override;
    void otherSelection(DataControl::Offer* offer) override;
    void finished() override;

    static void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version);
    static const wl_registry_listener RegistryEvents;
    static const wl_callback_listener SyncEvents;

    const qsizetype m_maxReadBytes;
    wl_display* m_display = nullptr;
    wl_registry* m_registry = nullptr;
    wl_seat* m_seat = nullptr;
    DataControl m_control;
    QSocketNotifier* m_notifier = nullptr;
    // Watches for room to send while the connection's buffer is full.
    QSocketNotifier* m_writable = nullptr;
    bool m_reportedBreak = false;

    bool m_watching = false;
    quint64 m_generation = 0;
    quint64 m_lastOwnership = 0;
    // Offers announced whose forms are still arriving, by offer.
    std::map<DataControl::Offer*, std::vector<QByteArray>> m_announced;
    std::deque<Notice> m_notices;
};
