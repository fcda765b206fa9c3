// A misbehaving owner of the CLIPBOARD selection, for the tests:
//   clipboard-owner hang         takes the selection and never answers a request
//   clipboard-owner refuse-text  lists UTF8_STRING among its targets but refuses to give it
// It says "owner" once it owns the selection and "request TARGET" for each request, and runs
// until it is killed or its X server goes.

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{
xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    xcb_intern_atom_reply_t* reply
        = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return found;
}

std::string atomName(xcb_connection_t* connection, xcb_atom_t value)
{
    xcb_get_atom_name_reply_t* reply
        = xcb_get_atom_name_reply(connection, xcb_get_atom_name(connection, value), nullptr);
    std::string name = reply ? std::string(xcb_get_atom_name_name(reply), xcb_get_atom_name_name_length(reply)) : "?";
    std::free(reply);
    return name;
}

void answer(xcb_connection_t* connection, const xcb_selection_request_event_t* request, xcb_atom_t property)
{
    xcb_selection_notify_event_t notify {};
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = request->time;
    notify.requestor = request->requestor;
    notify.selection = request->selection;
    notify.target = request->target;
    notify.property = property;
    xcb_send_event(connection, 0, request->requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&notify));
    xcb_flush(connection);
}
} // namespace

int main(int argc, char* argv[])
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode != "hang" && mode != "refuse-text") {
        std::fprintf(stderr, "usage: %s hang|refuse-text\n", argv[0]);
        return 2;
    }
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "no X server\n");
        return 1;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_window_t window = xcb_generate_id(connection);
    const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
        XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
    const xcb_atom_t clipboard = atom(connection, "CLIPBOARD");
    const xcb_atom_t targets = atom(connection, "TARGETS");
    const xcb_atom_t utf8 = atom(connection, "UTF8_STRING");

    // The selection is taken with a real time stamp, learnt from a property change.
    xcb_change_property(connection, XCB_PROP_MODE_APPEND, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0, nullptr);
    xcb_flush(connection);
    xcb_timestamp_t time = XCB_CURRENT_TIME;
    while (time == XCB_CURRENT_TIME) {
        xcb_generic_event_t* event = xcb_wait_for_event(connection);
        if (!event) {
            return 1;
        }
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
            time = reinterpret_cast<xcb_property_notify_event_t*>(event)->time;
        }
        std::free(event);
    }
    xcb_set_selection_owner(connection, window, clipboard, time);
    xcb_get_selection_owner_reply_t* owner
        = xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, clipboard), nullptr);
    const bool owns = owner && owner->owner == window;
    std::free(owner);
    if (!owns) {
        std::fprintf(stderr, "could not take the clipboard\n");
        return 1;
    }
    std::printf("owner\n");
    std::fflush(stdout);

    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        if ((event->response_type & 0x7f) == XCB_SELECTION_REQUEST) {
            const auto* request = reinterpret_cast<const xcb_selection_request_event_t*>(event);
            std::printf("request %s\n", atomName(connection, request->target).c_str());
            std::fflush(stdout);
            if (mode == "refuse-text") {
                if (request->target == targets) {
                    const xcb_atom_t offered[] = { targets, utf8 };
                    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, request->requestor, request->property,
                        XCB_ATOM_ATOM, 32, 2, offered);
                    answer(connection, request, request->property);
                } else {
                    answer(connection, request, XCB_ATOM_NONE);
                }
            }
        }
        std::free(event);
    }
    return 0;
}
