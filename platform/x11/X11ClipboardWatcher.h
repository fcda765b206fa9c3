#pragma once

#include "platform/ClipboardRead.h"
#include "platform/ClipboardWatcher.h"

#include <QByteArray>
#include <QObject>

#include <xcb/xcb.h>

#include <deque>
#include <vector>

class QSocketNotifier;

// Lives on the watcher thread and owns that thread's X connection. XFixes tells of each new
// owner of CLIPBOARD; the owner is asked at once for its targets and its text, and each change
// is reported in the order of the changes once it is read, refused or timed out.
//
// Which ownership answered a request is known exactly: an event carries the sequence number of
// the last request of ours the server had handled when the event arose, so a request went to
// the owner named by the last change whose event carries a smaller number. An answer that came
// from a later owner is never taken for the change it was asked for.
class X11ClipboardWatcher : public ClipboardWatcher
{
    Q_OBJECT

public:
    X11ClipboardWatcher(int readTimeoutMs, qsizetype maxReadBytes);
    ~X11ClipboardWatcher() override;

    void watch(quint64 generation) override;
    void pause() override;

private:
    enum class Answer { Waiting, Incremental, Data, Refused, Foreign, Broken };
    enum class Read { Absent, Incremental, Empty, Value };

    // One conversion of the selection, on a requestor window of its own.
    struct Request
    {
        xcb_window_t window = XCB_WINDOW_NONE;
        xcb_atom_t target = XCB_ATOM_NONE;
        // The read's name for the target; empty for TARGETS, which is ours to ask.
        QByteArray form;
        quint32 sequence = 0;
        Answer answer = Answer::Waiting;
        xcb_atom_t type = XCB_ATOM_NONE;
        quint8 format = 0;
        QByteArray data;
        bool tooLarge = false;
    };

    // One change of owner: the transport's side of it; what to read and how to judge it is the read's.
    struct Notice
    {
        quint64 ownership = 0;
        xcb_window_t owner = XCB_WINDOW_NONE;
        xcb_timestamp_t time = XCB_CURRENT_TIME;
        bool launched = false;
        bool done = false;
        qint64 deadline = 0;
        std::vector<Request> requests;
        ClipboardRead read;
    };

    // A change of owner: the ownership holds for requests with a greater sequence number.
    struct Change
    {
        quint32 sequence = 0;
        quint64 ownership = 0;
    };

    bool open();
    xcb_atom_t atom(const char* name);
    void pump();
    void handle(xcb_generic_event_t* event);
    void ownerChanged(quint32 sequence, xcb_window_t owner, xcb_timestamp_t time);
    void answered(xcb_window_t window, xcb_atom_t property);
    void chunkArrived(xcb_window_t window);
    void launchLatest();
    void ask(Notice& notice, xcb_atom_t target, const QByteArray& form);
    void advance(Notice& notice);
    void settle(Notice& notice, Request& request);
    void finish(Notice& notice);
    void expire() override;
    void deliverReady();
    void release(Request& request);
    quint64 ownershipAt(quint32 sequence) const;
    Notice* noticeOf(xcb_window_t window, Request** request);
    bool readProperty(Request& request, Read* read);
    QByteArray formOf(xcb_atom_t atom) const;
    xcb_atom_t atomOf(const QByteArray& form) const;

    const qsizetype m_maxReadBytes;
    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = XCB_WINDOW_NONE;
    xcb_window_t m_listener = XCB_WINDOW_NONE;
    quint8 m_xfixesEvent = 0;
    QSocketNotifier* m_notifier = nullptr;

    xcb_atom_t m_clipboard = XCB_ATOM_NONE;
    xcb_atom_t m_targetsAtom = XCB_ATOM_NONE;
    xcb_atom_t m_incr = XCB_ATOM_NONE;
    xcb_atom_t m_property = XCB_ATOM_NONE;
    // The forms a read may ask for, by name and atom.
    std::vector<std::pair<QByteArray, xcb_atom_t>> m_forms;

    bool m_watching = false;
    quint64 m_generation = 0;
    quint32 m_startSequence = 0;
    quint64 m_lastOwnership = 0;
    std::deque<Change> m_changes;
    std::deque<Notice> m_notices;
    std::vector<xcb_window_t> m_spareWindows;
};
