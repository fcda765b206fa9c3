#include "platform/WindowList.h"
#include "platform/x11/XcbReply.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

namespace
{
xcb_atom_t internAtom(xcb_connection_t* connection, const char* name)
{
    XcbReply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, uint16_t(qstrlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

class X11WindowList final : public WindowList
{
public:
    QList<TopLevelWindow> topLevelWindows() override;

private:
    bool hasProperty(xcb_window_t window, xcb_atom_t property) const;
    QString title(xcb_window_t window) const;
    xcb_window_t clientWindow(xcb_window_t frame, int depth) const;

    xcb_connection_t* m_connection = nullptr;
    xcb_atom_t m_netWmName = XCB_ATOM_NONE;
    xcb_atom_t m_utf8String = XCB_ATOM_NONE;
    xcb_atom_t m_wmState = XCB_ATOM_NONE;
};

QList<TopLevelWindow> X11WindowList::topLevelWindows()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection()) {
        return {};
    }
    m_connection = x11->connection();
    m_netWmName = internAtom(m_connection, "_NET_WM_NAME");
    m_utf8String = internAtom(m_connection, "UTF8_STRING");
    m_wmState = internAtom(m_connection, "WM_STATE");

    QList<TopLevelWindow> windows;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
    XcbReply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, screen->root), nullptr));
    if (!tree) {
        return windows;
    }
    const xcb_window_t* children = xcb_query_tree_children(tree.value);
    const int count = xcb_query_tree_children_length(tree.value);
    for (int i = 0; i < count; ++i) {
        // A reparenting window manager puts each program's window inside a frame of its own;
        // the program's window, marked by WM_STATE, carries the title.
        const xcb_window_t client = clientWindow(children[i], 3);
        const xcb_window_t window = client != XCB_WINDOW_NONE ? client : children[i];
        windows.append({ window, title(window) });
    }
    return windows;
}

bool X11WindowList::hasProperty(xcb_window_t window, xcb_atom_t property) const
{
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0), nullptr));
    return reply && reply->type != XCB_ATOM_NONE;
}

xcb_window_t X11WindowList::clientWindow(xcb_window_t frame, int depth) const
{
    if (m_wmState == XCB_ATOM_NONE) {
        return XCB_WINDOW_NONE;
    }
    if (hasProperty(frame, m_wmState)) {
        return frame;
    }
    if (depth == 0) {
        return XCB_WINDOW_NONE;
    }
    XcbReply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, frame), nullptr));
    if (!tree) {
        return XCB_WINDOW_NONE;
    }
    const xcb_window_t* children = xcb_query_tree_children(tree.value);
    for (int i = 0, count = xcb_query_tree_children_length(tree.value); i < count; ++i) {
        const xcb_window_t found = clientWindow(children[i], depth - 1);
        if (found != XCB_WINDOW_NONE) {
            return found;
        }
    }
    return XCB_WINDOW_NONE;
}

QString X11WindowList::title(xcb_window_t window) const
{
    auto read = [this, window](xcb_atom_t property, xcb_atom_t type) -> QByteArray {
        if (property == XCB_ATOM_NONE) {
            return {};
        }
        // 256 longs are 1024 bytes, more than the list ever shows of a title.
        XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, property, type, 0, 256), nullptr));
        if (!reply || reply->type != type || reply->format != 8) {
            return {};
        }
        return QByteArray(
            static_cast<const char*>(xcb_get_property_value(reply.value)), xcb_get_property_value_length(reply.value));
    };
    const QByteArray utf8 = read(m_netWmName, m_utf8String);
    if (!utf8.isEmpty()) {
        return QString::fromUtf8(utf8);
    }
    return QString::fromLatin1(read(XCB_ATOM_WM_NAME, XCB_ATOM_STRING));
}
} // namespace

std::unique_ptr<WindowList> WindowList::create()
{
    return std::make_unique<X11WindowList>();
}
