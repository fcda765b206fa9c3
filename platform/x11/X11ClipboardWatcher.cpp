#include "platform/x11/X11ClipboardWatcher.h"

#include "platform/x11/XcbReply.h"

#include <QSocketNotifier>

#include <xcb/xfixes.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace
{
// Sequence numbers wrap; the one that is behind by less than half the range is the earlier.
bool earlier(quint32 a, quint32 b)
{
    return qint32(a - b) < 0;
}

template <typename List, typename Value> bool contains(const List& list, const Value& value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

// Four times this still fits the server's 32-bit byte count.
constexpr quint32 WholeProperty = std::numeric_limits<quint32>::max() / 4;

constexpr uint32_t SelectionEvents = XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER
    | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE;
} // namespace

X11ClipboardWatcher::X11ClipboardWatcher(int readTimeoutMs, qsizetype maxReadBytes)
    : ClipboardWatcher(readTimeoutMs)
    , m_maxReadBytes(maxReadBytes)
{
}

X11ClipboardWatcher::~X11ClipboardWatcher()
{
    delete m_notifier;
    if (m_connection) {
        // The requestor windows go with the connection.
        xcb_disconnect(m_connection);
    }
}

xcb_atom_t X11ClipboardWatcher::atom(const char* name)
{
    XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, uint16_t(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

bool X11ClipboardWatcher::open()
{
    if (m_connection) {
        return m_notifier && !xcb_connection_has_error(m_connection);
    }
    m_connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(m_connection)) {
        qWarning("The clipboard cannot be watched: no connection to the X server");
        return false;
    }
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(m_connection, &xcb_xfixes_id);
    XcbReply<xcb_xfixes_query_version_reply_t> version(xfixes && xfixes->present
            ? xcb_xfixes_query_version_reply(m_connection, xcb_xfixes_query_version(m_connection, 1, 0), nullptr)
            : nullptr);
    if (!version) {
        qWarning("The clipboard cannot be watched: the X server lacks the XFixes extension");
        return false;
    }
    m_xfixesEvent = xfixes->first_event;
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;

    m_clipboard = atom("CLIPBOARD");
    m_targetsAtom = atom("TARGETS");
    m_incr = atom("INCR");
    m_property = atom("VELLUMIX_CLIPBOARD");
    for (const QByteArray& form : ClipboardRead::forms()) {
        m_forms.emplace_back(form, atom(form.constData()));
    }

    m_listener = xcb_generate_id(m_connection);
    xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_listener, m_root, 0, 0, 1, 1, 0,
        XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_flush(m_connection);

    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(m_connection), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11ClipboardWatcher::pump);
    return true;
}

void X11ClipboardWatcher::watch(quint64 generation)
{
    pause();
    if (!open()) {
        return;
    }
    m_generation = generation;
    m_watching = true;
    xcb_xfixes_select_selection_input(m_connection, m_listener, m_clipboard, SelectionEvents);
    // Changes the server handled before this request are in its answer; later ones bring events.
    const xcb_get_selection_owner_cookie_t cookie = xcb_get_selection_owner(m_connection, m_clipboard);
    m_startSequence = cookie.sequence;
    XcbReply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(m_connection, cookie, nullptr));
    ownerChanged(m_startSequence - 1, owner ? owner->owner : xcb_window_t(XCB_WINDOW_NONE), XCB_CURRENT_TIME);
    pump();
}

void X11ClipboardWatcher::pause()
{
    if (!m_watching) {
        return;
    }
    m_watching = false;
    xcb_xfixes_select_selection_input(m_connection, m_listener, m_clipboard, 0);
    for (Notice& notice : m_notices) {
        for (Request& request : notice.requests) {
            release(request);
        }
    }
    m_notices.clear();
    m_changes.clear();
    stopTimer();
    xcb_flush(m_connection);
}

void X11ClipboardWatcher::pump()
{
    for (;;) {
        // Waiting for a reply may have queued events as well, so the queue is emptied every time.
        xcb_generic_event_t* event = xcb_poll_for_queued_event(m_connection);
        if (!event) {
            // What is read leaves before anything more is asked, and the owner is asked before
            // anything else is read: it may lose the selection any moment.
            deliverReady();
            launchLatest();
            xcb_flush(m_connection);
            event = xcb_poll_for_event(m_connection);
        }
        if (!event) {
            break;
        }
        handle(event);
        std::free(event);
    }
    if (xcb_connection_has_error(m_connection)) {
        if (m_notifier->isEnabled()) {
            qWarning("The clipboard is no longer watched: the connection to the X server broke");
            m_notifier->setEnabled(false);
            Q_EMIT connectionLost();
        }
        m_watching = false;
        stopTimer();
        return;
    }
    armTimer(m_notices);
}

void X11ClipboardWatcher::handle(xcb_generic_event_t* event)
{
    if (!m_watching) {
        return;
    }
    const quint8 type = event->response_type & 0x7f;
    if (type == m_xfixesEvent + XCB_XFIXES_SELECTION_NOTIFY) {
        const auto* change = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
        if (change->selection == m_clipboard && !earlier(event->full_sequence, m_startSequence)) {
            ownerChanged(event->full_sequence, change->owner, change->selection_timestamp);
        }
    } else if (type == XCB_SELECTION_NOTIFY) {
        const auto* answer = reinterpret_cast<const xcb_selection_notify_event_t*>(event);
        answered(answer->requestor, answer->property);
    } else if (type == XCB_PROPERTY_NOTIFY) {
        const auto* property = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if (property->atom == m_property && property->state == XCB_PROPERTY_NEW_VALUE) {
            chunkArrived(property->window);
        }
    }
}

void X11ClipboardWatcher::ownerChanged(quint32 sequence, xcb_window_t owner, xcb_timestamp_t time)
{
    Notice notice;
    notice.ownership = ++m_lastOwnership;
    notice.owner = owner;
    notice.time = time;
    notice.read = owner == XCB_WINDOW_NONE ? ClipboardRead::empty(time) : ClipboardRead(time);
    m_changes.push_back({ sequence, notice.ownership });
    m_notices.push_back(std::move(notice));
}

quint64 X11ClipboardWatcher::ownershipAt(quint32 sequence) const
{
    for (auto change = m_changes.rbegin(); change != m_changes.rend(); ++change) {
        if (earlier(change->sequence, sequence)) {
            return change->ownership;
        }
    }
    return 0;
}

void X11ClipboardWatcher::launchLatest()
{
    for (Notice& notice : m_notices) {
        if (notice.launched) {
            continue;
        }
        notice.launched = true;
        if (notice.ownership != m_lastOwnership) {
            // Anything asked now would reach a later owner: this one is gone unread.
            notice.read.lose();
        }
        const QByteArray first = notice.read.next();
        if (first.isEmpty()) {
            finish(notice);
            continue;
        }
        notice.deadline = readDeadline();
        // Both at once: an owner that is about to lose the selection still answers what it got before.
        ask(notice, m_targetsAtom, {});
        ask(notice, atomOf(first), first);
    }
}

void X11ClipboardWatcher::ask(Notice& notice, xcb_atom_t target, const QByteArray& form)
{
    Request request;
    if (m_spareWindows.empty()) {
        request.window = xcb_generate_id(m_connection);
        const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, request.window, m_root, 0, 0, 1, 1, 0,
            XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
    } else {
        request.window = m_spareWindows.back();
        m_spareWindows.pop_back();
    }
    request.target = target;
    request.form = form;
    request.sequence
        = xcb_convert_selection(m_connection, request.window, m_clipboard, target, m_property, notice.time).sequence;
    notice.requests.push_back(request);
}

void X11ClipboardWatcher::release(Request& request)
{
    if (request.answer == Answer::Data || request.answer == Answer::Refused) {
        m_spareWindows.push_back(request.window);
    } else {
        // The owner may still write to this window; nothing of ours may read it again.
        xcb_destroy_window(m_connection, request.window);
    }
    request.window = XCB_WINDOW_NONE;
}

X11ClipboardWatcher::Notice* X11ClipboardWatcher::noticeOf(xcb_window_t window, Request** request)
{
    for (Notice& notice : m_notices) {
        for (Request& candidate : notice.requests) {
            if (candidate.window == window) {
                *request = &candidate;
                return &notice;
            }
        }
    }
    return nullptr;
}

bool X11ClipboardWatcher::readProperty(Request& request, Read* read)
{
    // Read whole and deleted: for a transfer in parts the deletion asks the owner for the next part.
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(m_connection,
        xcb_get_property(m_connection, 1, request.window, m_property, XCB_GET_PROPERTY_TYPE_ANY, 0, WholeProperty),
        nullptr));
    if (!reply || reply->bytes_after != 0) {
        return false;
    }
    const int length = xcb_get_property_value_length(reply.value);
    if (reply->type == XCB_ATOM_NONE) {
        *read = Read::Absent;
    } else if (reply->type == m_incr) {
        *read = Read::Incremental;
    } else {
        *read = length == 0 ? Read::Empty : Read::Value;
        if (request.type == XCB_ATOM_NONE) {
            request.type = reply->type;
            request.format = reply->format;
        }
        if (request.data.size() + length > m_maxReadBytes) {
            // An owner may offer more than memory holds; the read ends here and the copy is dropped.
            request.tooLarge = true;
            return false;
        }
        request.data.append(static_cast<const char*>(xcb_get_property_value(reply.value)), length);
    }
    return true;
}

void X11ClipboardWatcher::answered(xcb_window_t window, xcb_atom_t property)
{
    Request* request = nullptr;
    Notice* notice = noticeOf(window, &request);
    if (!notice || request->answer != Answer::Waiting) {
        return;
    }
    Read read = Read::Absent;
    if (ownershipAt(request->sequence) != notice->ownership) {
        request->answer = Answer::Foreign;
    } else if (property == XCB_ATOM_NONE) {
        request->answer = Answer::Refused;
    } else if (!readProperty(*request, &read) || read == Read::Absent) {
        request->answer = Answer::Broken;
    } else {
        request->answer = read == Read::Incremental ? Answer::Incremental : Answer::Data;
    }
    notice->deadline = readDeadline();
    advance(*notice);
}

void X11ClipboardWatcher::chunkArrived(xcb_window_t window)
{
    Request* request = nullptr;
    Notice* notice = noticeOf(window, &request);
    if (!notice || request->answer != Answer::Incremental) {
        return;
    }
    Read read = Read::Absent;
    if (!readProperty(*request, &read) || read == Read::Incremental) {
        request->answer = Answer::Broken;
    } else if (read == Read::Absent) {
        return;
    } else if (read == Read::Empty) {
        // The empty part ends the transfer.
        request->answer = Answer::Data;
    }
    notice->deadline = readDeadline();
    advance(*notice);
}

xcb_atom_t X11ClipboardWatcher::atomOf(const QByteArray& form) const
{
    for (const auto& [name, atom] : m_forms) {
        if (name == form) {
            return atom;
        }
    }
    return XCB_ATOM_NONE;
}

QByteArray X11ClipboardWatcher::formOf(xcb_atom_t atom) const
{
    for (const auto& [form, formAtom] : m_forms) {
        if (formAtom == atom && atom != XCB_ATOM_NONE) {
            return form;
        }
    }
    return {};
}

void X11ClipboardWatcher::settle(Notice& notice, Request& request)
{
    if (request.target == m_targetsAtom) {
        if (request.answer == Answer::Foreign) {
            notice.read.lose();
        } else if (request.answer == Answer::Data && request.type == XCB_ATOM_ATOM && request.format == 32) {
            const auto* atoms = reinterpret_cast<const xcb_atom_t*>(request.data.constData());
            std::vector<QByteArray> forms;
            for (qsizetype i = 0; i < request.data.size() / qsizetype(sizeof(xcb_atom_t)); ++i) {
                const QByteArray form = formOf(atoms[i]);
                if (!form.isEmpty()) {
                    forms.push_back(form);
                }
            }
            notice.read.setFormats(forms);
        }
    } else {
        using Answered = ClipboardRead::Answer;
        Answered answer = Answered::Refused;
        if (request.answer == Answer::Foreign) {
            answer = Answered::Foreign;
        } else if (request.answer == Answer::Data) {
            answer = Answered::Data;
        } else if (request.tooLarge) {
            answer = Answered::TooLarge;
        } else if (!request.data.isEmpty()) {
            answer = Answered::Broken;
        }
        // Only 8-bit values carry text or files; the type then says how the text is encoded.
        const QByteArray type = request.format == 8 ? formOf(request.type) : QByteArray();
        notice.read.answer(request.form, answer, std::move(request.data), type);
    }
    release(request);
}

void X11ClipboardWatcher::advance(Notice& notice)
{
    for (auto request = notice.requests.begin(); request != notice.requests.end();) {
        if (request->answer == Answer::Waiting || request->answer == Answer::Incremental) {
            ++request;
        } else {
            settle(notice, *request);
            request = notice.requests.erase(request);
        }
    }
    if (notice.done || !notice.requests.empty()) {
        return;
    }
    const QByteArray form = notice.read.next();
    if (form.isEmpty()) {
        finish(notice);
    } else {
        ask(notice, atomOf(form), form);
    }
}

void X11ClipboardWatcher::finish(Notice& notice)
{
    notice.done = true;
    if (!notice.requests.empty()) {
        bool partialText = false;
        for (Request& request : notice.requests) {
            partialText = partialText || (!request.data.isEmpty() && ClipboardRead::isTextForm(request.form));
            release(request);
        }
        notice.requests.clear();
        notice.read.giveUp(partialText);
    }
}

void X11ClipboardWatcher::expire()
{
    const qint64 now = this->now();
    for (Notice& notice : m_notices) {
        if (notice.launched && !notice.done && notice.deadline <= now) {
            finish(notice);
        }
    }
    deliverReady();
    armTimer(m_notices);
    xcb_flush(m_connection);
}

void X11ClipboardWatcher::deliverReady()
{
    while (!m_notices.empty() && m_notices.front().done) {
        Notice& notice = m_notices.front();
        Q_EMIT noticeRead(m_generation, notice.read.result(notice.ownership == m_lastOwnership));
        m_notices.pop_front();
    }
    // Keep the changes that can still name the owner of an unanswered request.
    bool waiting = false;
    quint32 oldest = 0;
    for (const Notice& notice : m_notices) {
        for (const Request& request : notice.requests) {
            if (!waiting || earlier(request.sequence, oldest)) {
                oldest = request.sequence;
                waiting = true;
            }
        }
    }
    while (m_changes.size() > 1 && (!waiting || earlier(m_changes[1].sequence, oldest))) {
        m_changes.pop_front();
    }
}
