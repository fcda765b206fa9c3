#include "platform/wayland/WaylandClipboardWatcher.h"

#include <QSocketNotifier>

#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace
{
// When a change was heard of, on the clock X servers stamp their events with, so that figures
// taken on either desktop compare.
quint32 monotonicMilliseconds()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return quint32(quint64(now.tv_sec) * 1000 + quint64(now.tv_nsec) / 1000000);
}

constexpr qsizetype ReadChunk = qsizetype(1) << 16;
} // namespace

const wl_registry_listener WaylandClipboardWatcher::RegistryEvents = {
    &WaylandClipboardWatcher::global,
    [](void*, wl_registry*, uint32_t) {},
};

const wl_callback_listener WaylandClipboardWatcher::SyncEvents = {
    [](void* data, wl_callback* callback, uint32_t) { static_cast<WaylandClipboardWatcher*>(data)->synced(callback); },
};

WaylandClipboardWatcher::WaylandClipboardWatcher(int readTimeoutMs, qsizetype maxReadBytes)
    : ClipboardWatcher(readTimeoutMs)
    , m_maxReadBytes(maxReadBytes)
{
}

WaylandClipboardWatcher::~WaylandClipboardWatcher()
{
    close();
}

bool WaylandClipboardWatcher::available()
{
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        return false;
    }
    struct Found
    {
        bool seat = false;
        bool control = false;
    } found;
    static const wl_registry_listener listener = {
        [](void* data, wl_registry*, uint32_t, const char* interface, uint32_t) {
            auto* found = static_cast<Found*>(data);
            found->seat = found->seat || std::strcmp(interface, wl_seat_interface.name) == 0;
            found->control = found->control || DataControl::isManager(interface);
        },
        [](void*, wl_registry*, uint32_t) {},
    };
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, &found);
    const bool answered = wl_display_roundtrip(display) >= 0;
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return answered && found.seat && found.control;
}

void WaylandClipboardWatcher::global(
    void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    auto* watcher = static_cast<WaylandClipboardWatcher*>(data);
    if (!watcher->m_seat && std::strcmp(interface, wl_seat_interface.name) == 0) {
        // The first seat is the user's; a desktop with several is rare and watched on its first.
        watcher->m_seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else {
        watcher->m_control.bind(registry, name, interface, version);
    }
}

bool WaylandClipboardWatcher::open()
{
    if (m_display) {
        return m_notifier->isEnabled();
    }
    m_display = wl_display_connect(nullptr);
    if (!m_display) {
        qWarning("The clipboard cannot be watched: no connection to the Wayland compositor");
        return false;
    }
    m_registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_registry, &RegistryEvents, this);
    m_notifier = new QSocketNotifier(wl_display_get_fd(m_display), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &WaylandClipboardWatcher::pump);
    m_writable = new QSocketNotifier(wl_display_get_fd(m_display), QSocketNotifier::Write, this);
    m_writable->setEnabled(false);
    connect(m_writable, &QSocketNotifier::activated, this, &WaylandClipboardWatcher::flush);
    if (wl_display_roundtrip(m_display) < 0 || !m_seat || !m_control.isBound()) {
        qWarning("The clipboard cannot be watched: the Wayland compositor offers no clipboard access");
        m_notifier->setEnabled(false);
        return false;
    }
    return true;
}

void WaylandClipboardWatcher::close()
{
    pause();
    m_control.clear();
    if (m_seat) {
        wl_seat_destroy(m_seat);
        m_seat = nullptr;
    }
    if (m_registry) {
        wl_registry_destroy(m_registry);
        m_registry = nullptr;
    }
    delete m_notifier;
    m_notifier = nullptr;
    delete m_writable;
    m_writable = nullptr;
    if (m_display) {
        wl_display_disconnect(m_display);
        m_display = nullptr;
    }
}

void WaylandClipboardWatcher::watch(quint64 generation)
{
    pause();
    if (!open()) {
        return;
    }
    m_generation = generation;
    m_watching = true;
    // A new device hears of the selection there now first, then of each change.
    m_control.watch(m_seat, this);
    flush();
}

void WaylandClipboardWatcher::pause()
{
    m_watching = false;
    m_control.unwatch();
    for (Notice& notice : m_notices) {
        drop(notice);
    }
    m_notices.clear();
    for (auto& [offer, forms] : m_announced) {
        DataControl::release(offer);
    }
    m_announced.clear();
    stopTimer();
    flush();
}

void WaylandClipboardWatcher::flush()
{
    if (!m_display) {
        return;
    }
    const bool full = wl_display_flush(m_display) < 0 && errno == EAGAIN;
    m_writable->setEnabled(full);
}

bool WaylandClipboardWatcher::broken()
{
    if (!m_display || wl_display_get_error(m_display) == 0) {
        return false;
    }
    // The compositor went away (the session ends): what was read is told, the rest is let go.
    if (!m_reportedBreak) {
        m_reportedBreak = true;
        qWarning("The clipboard is no longer watched: the connection to the Wayland compositor broke");
    }
    m_notifier->setEnabled(false);
    m_writable->setEnabled(false);
    deliverReady();
    pause();
    Q_EMIT connectionLost();
    return true;
}

void WaylandClipboardWatcher::pump()
{
    if (!m_display) {
        return;
    }
    // Events already queued are dispatched before more are read, as libwayland requires.
    while (wl_display_prepare_read(m_display) != 0) {
        if (wl_display_dispatch_pending(m_display) < 0) {
            break;
        }
    }
    if (wl_display_get_error(m_display) == 0) {
        wl_display_read_events(m_display);
        wl_display_dispatch_pending(m_display);
    } else {
        wl_display_cancel_read(m_display);
    }
    if (broken()) {
        return;
    }
    // What is read leaves before anything more is asked, and the newest source is asked before
    // anything else: it may be replaced any moment.
    deliverReady();
    launchLatest();
    flush();
    armTimer(m_notices);
}

void WaylandClipboardWatcher::offerAnnounced(DataControl::Offer* offer)
{
    m_announced[offer];
}

void WaylandClipboardWatcher::offerForm(DataControl::Offer* offer, const char* form)
{
    const auto announced = m_announced.find(offer);
    if (announced != m_announced.end()) {
        announced->second.emplace_back(form);
    }
}

void WaylandClipboardWatcher::selectionChanged(DataControl::Offer* offer)
{
    Notice notice;
    notice.ownership = ++m_lastOwnership;
    const quint32 time = monotonicMilliseconds();
    if (offer) {
        notice.offer = offer;
        notice.read = ClipboardRead(time);
        const auto announced = m_announced.find(offer);
        if (announced != m_announced.end()) {
            notice.read.setFormats(announced->second);
            m_announced.erase(announced);
        } else {
            notice.read.setFormats({});
        }
    } else {
        notice.read = ClipboardRead::empty(time);
    }
    if (!m_watching) {
        drop(notice);
        return;
    }
    m_notices.push_back(std::move(notice));
}

void WaylandClipboardWatcher::otherSelection(DataControl::Offer* offer)
{
    m_announced.erase(offer);
    DataControl::release(offer);
}

void WaylandClipboardWatcher::finished()
{
    qWarning("The clipboard is no longer watched: the Wayland compositor withdrew the seat");
    m_control.unwatch();
}

void WaylandClipboardWatcher::launchLatest()
{
    for (Notice& notice : m_notices) {
        if (notice.launched) {
            continue;
        }
        notice.launched = true;
        if (notice.ownership != m_lastOwnership) {
            // Anything asked now would reach a later source: this one is gone unread.
            notice.read.lose();
        }
        const QByteArray form = notice.read.next();
        if (form.isEmpty()) {
            finish(notice);
        } else {
            ask(notice, form);
        }
    }
}

void WaylandClipboardWatcher::ask(Notice& notice, const QByteArray& form)
{
    notice.deadline = readDeadline();
    auto request = std::make_unique<Request>();
    request->form = form;
    int ends[2];
    // Only our end is non-blocking: the source writes as it always does.
    if (pipe2(ends, O_CLOEXEC) != 0 || fcntl(ends[0], F_SETFL, O_NONBLOCK) != 0) {
        qWarning("The clipboard cannot be read: no pipe (%s)", std::strerror(errno));
        notice.read.answer(form, ClipboardRead::Answer::Refused);
        finish(notice);
        return;
    }
    // The request carries a copy of the descriptor; ours is closed so that the end of the
    // source's writing shows as the end of the pipe.
    DataControl::receive(notice.offer, form, ends[1]);
    ::close(ends[1]);
    request->fd = ends[0];
    request->sync = wl_display_sync(m_display);
    wl_callback_add_listener(request->sync, &SyncEvents, this);
    request->notifier = std::make_unique<QSocketNotifier>(request->fd, QSocketNotifier::Read);
    Notice* owner = &notice;
    connect(request->notifier.get(), &QSocketNotifier::activated, this, [this, owner] { readPipe(*owner); });
    notice.request = std::move(request);
}

WaylandClipboardWatcher::Notice* WaylandClipboardWatcher::noticeOf(wl_callback* callback)
{
    for (Notice& notice : m_notices) {
        if (notice.request && notice.request->sync == callback) {
            return &notice;
        }
    }
    return nullptr;
}

void WaylandClipboardWatcher::synced(wl_callback* callback)
{
    Notice* notice = noticeOf(callback);
    wl_callback_destroy(callback);
    if (!notice) {
        return;
    }
    Request& request = *notice->request;
    request.sync = nullptr;
    request.synced = true;
    // A selection announced before this answer may have reached the compositor before our receive.
    request.foreign = m_lastOwnership != notice->ownership;
    advance(*notice);
}

void WaylandClipboardWatcher::readPipe(Notice& notice)
{
    Request& request = *notice.request;
    for (;;) {
        const qsizetype had = request.data.size();
        const qsizetype room = std::min(ReadChunk, m_maxReadBytes + 1 - had);
        request.data.resize(had + room);
        const ssize_t got = ::read(request.fd, request.data.data() + had, size_t(room));
        request.data.resize(had + std::max<ssize_t>(got, 0));
        if (got > 0) {
            notice.deadline = readDeadline();
            if (request.data.size() > m_maxReadBytes) {
                // A source may offer more than memory holds; the read ends here and the copy is dropped.
                request.tooLarge = true;
                request.ended = true;
                break;
            }
            continue;
        }
        if (got == 0) {
            request.ended = true;
        } else if (errno == EINTR) {
            continue;
        } else if (errno != EAGAIN) {
            request.broken = true;
            request.ended = true;
        }
        break;
    }
    if (request.ended) {
        request.notifier->setEnabled(false);
        ::close(request.fd);
        request.fd = -1;
        advance(notice);
        deliverReady();
        launchLatest();
        flush();
        armTimer(m_notices);
    }
}

void WaylandClipboardWatcher::advance(Notice& notice)
{
    if (notice.done || !notice.request || !notice.request->ended || !notice.request->synced) {
        return;
    }
    Request& request = *notice.request;
    using Answer = ClipboardRead::Answer;
    Answer answer = Answer::Data;
    if (request.foreign) {
        answer = Answer::Foreign;
    } else if (request.tooLarge) {
        answer = Answer::TooLarge;
    } else if (request.broken) {
        answer = request.data.isEmpty() ? Answer::Refused : Answer::Broken;
    } else if (request.data.isEmpty() && notice.ownership != m_lastOwnership) {
        // A source that lost the clipboard may close what it was asked for unwritten (or die with
        // it): an empty end once a later change is known is no text of this one.
        notice.read.lose();
        answer = Answer::Refused;
    }
    const QByteArray form = request.form;
    notice.read.answer(form, answer, std::move(request.data), form);
    dropRequest(request);
    notice.request.reset();
    const QByteArray next = notice.read.next();
    if (next.isEmpty()) {
        finish(notice);
    } else {
        ask(notice, next);
    }
}

void WaylandClipboardWatcher::finish(Notice& notice)
{
    notice.done = true;
    if (notice.request) {
        Request& request = *notice.request;
        notice.read.giveUp(!request.data.isEmpty() && ClipboardRead::isTextForm(request.form));
        dropRequest(request);
        notice.request.reset();
    }
    if (notice.offer) {
        DataControl::release(notice.offer);
        notice.offer = nullptr;
    }
}

void WaylandClipboardWatcher::drop(Notice& notice)
{
    if (notice.request) {
        dropRequest(*notice.request);
        notice.request.reset();
    }
    if (notice.offer) {
        DataControl::release(notice.offer);
        notice.offer = nullptr;
    }
}

void WaylandClipboardWatcher::dropRequest(Request& request)
{
    if (request.sync) {
        wl_callback_destroy(request.sync);
        request.sync = nullptr;
    }
    if (request.notifier) {
        // It may be the one whose signal is running.
        request.notifier->setEnabled(false);
        request.notifier.release()->deleteLater();
    }
    if (request.fd >= 0) {
        ::close(request.fd);
        request.fd = -1;
    }
}

void WaylandClipboardWatcher::expire()
{
    const qint64 now = this->now();
    for (Notice& notice : m_notices) {
        if (notice.launched && !notice.done && notice.deadline <= now) {
            finish(notice);
        }
    }
    deliverReady();
    launchLatest();
    flush();
    armTimer(m_notices);
}

void WaylandClipboardWatcher::deliverReady()
{
    while (!m_notices.empty() && m_notices.front().done) {
        const Notice& notice = m_notices.front();
        if (m_watching) {
            Q_EMIT noticeRead(m_generation, notice.read.result(notice.ownership == m_lastOwnership));
        }
        m_notices.pop_front();
    }
}
