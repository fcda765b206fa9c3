// Another program on the Wayland clipboard, setting the seat's selection through data-control:
//   data-control-source serve TEXT         offers TEXT in the usual text forms and writes it when asked
//   data-control-source silent TEXT        offers the text forms, never writes and keeps each pipe open
//                                          until it is killed, even once another took the clipboard
//   data-control-source close TEXT         closes each pipe at once without writing
//   data-control-source secret TEXT        serves TEXT and x-kde-passwordManagerHint "secret"
//   data-control-source burst COUNT TEXT   serves COUNT selections "TEXT 0", "TEXT 1", ... set as fast as
//                                          the compositor takes them
//   data-control-source paced COUNT TEXT   the same, each set once the one before has been written out
// TEXT "-" is read from standard input. It says "set N" once selection N is the compositor's, "send N FORM"
// when asked for it, "sent N FORM" once that was written out and "cancelled N" when another took the
// clipboard; it ends when its last selection was cancelled (silent: never), the compositor went or it
// was killed.

#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace
{
enum class Mode { Serve, Silent, Close, Secret };

const char* const TextForms[] = { "text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "STRING", "TEXT" };
const char* const HintForm = "x-kde-passwordManagerHint";

struct Selection;

struct Program
{
    Mode mode = Mode::Serve;
    wl_seat* seat = nullptr;
    zwlr_data_control_manager_v1* manager = nullptr;
    std::vector<Selection*> selections;
    std::vector<zwlr_data_control_offer_v1*> offers;
    std::vector<int> heldOpen;
    int live = 0;
};

struct Selection
{
    Program* program = nullptr;
    int index = 0;
    std::string text;
    zwlr_data_control_source_v1* source = nullptr;
    bool written = false;
    bool cancelled = false;
};

void say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

bool writeAll(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += size_t(n);
    }
    return true;
}

void send(void* data, zwlr_data_control_source_v1*, const char* form, int fd)
{
    auto* selection = static_cast<Selection*>(data);
    const std::string name = std::to_string(selection->index) + " " + form;
    say("send " + name);
    switch (selection->program->mode) {
    case Mode::Silent:
        selection->program->heldOpen.push_back(fd);
        return;
    case Mode::Close:
        close(fd);
        return;
    case Mode::Serve:
    case Mode::Secret:
        break;
    }
    const bool ok = writeAll(fd, std::strcmp(form, HintForm) == 0 ? std::string("secret") : selection->text);
    close(fd);
    selection->written = true;
    say((ok ? "sent " : "broken ") + name);
}

void cancelled(void* data, zwlr_data_control_source_v1* source)
{
    auto* selection = static_cast<Selection*>(data);
    zwlr_data_control_source_v1_destroy(source);
    selection->source = nullptr;
    selection->cancelled = true;
    --selection->program->live;
    say("cancelled " + std::to_string(selection->index));
}

const zwlr_data_control_source_v1_listener SourceEvents = { send, cancelled };

void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t)
{
    auto* program = static_cast<Program*>(data);
    if (!program->seat && std::strcmp(interface, wl_seat_interface.name) == 0) {
        program->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (!program->manager && std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0) {
        program->manager = static_cast<zwlr_data_control_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
    }
}

void globalRemoved(void*, wl_registry*, uint32_t) { }

const wl_registry_listener RegistryEvents = { global, globalRemoved };

// The device tells of every selection, its own included; none of them is read here. An offer is
// let go once the selection event that names it has come.
const zwlr_data_control_device_v1_listener DeviceEvents = {
    [](void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
        static_cast<Program*>(data)->offers.push_back(offer);
    },
    [](void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1*) {
        for (zwlr_data_control_offer_v1* offer : static_cast<Program*>(data)->offers) {
            zwlr_data_control_offer_v1_destroy(offer);
        }
        static_cast<Program*>(data)->offers.clear();
    },
    [](void*, zwlr_data_control_device_v1*) {},
    [](void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1*) {},
};

// Runs the compositor's events until done() holds; false when the compositor went.
template <typename Done> bool dispatchUntil(wl_display* display, Done done)
{
    while (!done()) {
        if (wl_display_dispatch(display) < 0) {
            return false;
        }
    }
    return true;
}

int usage(const char* self)
{
    std::fprintf(stderr, "usage: %s serve|silent|close|secret TEXT\n       %s burst|paced COUNT TEXT\n", self, self);
    return 2;
}
} // namespace

int main(int argc, char* argv[])
{
    if (argc < 3) {
        return usage(argv[0]);
    }
    const std::string mode = argv[1];
    Program program;
    int count = 1;
    bool numbered = false;
    bool paced = false;
    if (mode == "burst" || mode == "paced") {
        count = argc == 4 ? std::atoi(argv[2]) : 0;
        numbered = true;
        paced = mode == "paced";
    } else if (argc != 3) {
        return usage(argv[0]);
    } else if (mode == "silent") {
        program.mode = Mode::Silent;
    } else if (mode == "close") {
        program.mode = Mode::Close;
    } else if (mode == "secret") {
        program.mode = Mode::Secret;
    } else if (mode != "serve") {
        return usage(argv[0]);
    }
    if (count < 1) {
        return usage(argv[0]);
    }
    std::string text = argv[argc - 1];
    if (text == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    }
    // A reader that went away must not end the source.
    std::signal(SIGPIPE, SIG_IGN);

    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "no Wayland compositor\n");
        return 1;
    }
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &RegistryEvents, &program);
    wl_display_roundtrip(display);
    if (!program.seat || !program.manager) {
        std::fprintf(stderr, "the compositor offers no seat or no data-control\n");
        return 1;
    }
    zwlr_data_control_device_v1* device = zwlr_data_control_manager_v1_get_data_device(program.manager, program.seat);
    zwlr_data_control_device_v1_add_listener(device, &DeviceEvents, &program);

    bool connected = true;
    for (int i = 0; connected && i < count; ++i) {
        auto* selection = new Selection { &program, i, numbered ? text + " " + std::to_string(i) : text };
        program.selections.push_back(selection);
        selection->source = zwlr_data_control_manager_v1_create_data_source(program.manager);
        zwlr_data_control_source_v1_add_listener(selection->source, &SourceEvents, selection);
        for (const char* form : TextForms) {
            zwlr_data_control_source_v1_offer(selection->source, form);
        }
        if (program.mode == Mode::Secret) {
            zwlr_data_control_source_v1_offer(selection->source, HintForm);
        }
        zwlr_data_control_device_v1_set_selection(device, selection->source);
        ++program.live;
        connected = wl_display_roundtrip(display) >= 0;
        if (connected) {
            say("set " + std::to_string(i));
        }
        if (connected && paced && i + 1 < count) {
            connected = dispatchUntil(display, [selection] { return selection->written || selection->cancelled; });
        }
    }
    connected
        = connected && dispatchUntil(display, [&program] { return program.live == 0 && program.mode != Mode::Silent; });

    for (Selection* selection : program.selections) {
        if (selection->source) {
            zwlr_data_control_source_v1_destroy(selection->source);
        }
        delete selection;
    }
    for (zwlr_data_control_offer_v1* offer : program.offers) {
        zwlr_data_control_offer_v1_destroy(offer);
    }
    for (int fd : program.heldOpen) {
        close(fd);
    }
    zwlr_data_control_device_v1_destroy(device);
    zwlr_data_control_manager_v1_destroy(program.manager);
    wl_seat_destroy(program.seat);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return connected ? 0 : 1;
}
