// A keyboard and pointer for the end-to-end scripts on a headless mutter.
// Its seat has no devices at all until a remote-desktop session of mutter's
// own D-Bus API makes them, and a session lasts only as long as the bus
// connection of whoever made it: so this client stays, makes one session at
// its start and takes commands on standard input, one a line:
//
//   key SYM            press and release the key of keysym SYM (an xkb name
//                      such as a, Return, Escape, or a number, 0x61)
//   keydown SYM        press it only (a modifier held for the next keys)
//   keyup SYM          release it
//   code N             press and release evdev key code N
//   move DX DY         move the pointer by DX, DY (layout pixels)
//   button B           press and release B: left, right, middle or an evdev code
//   quit               stop the session and end with 0
//
// Mutter makes a session's keyboard and pointer only when the first event
// for each comes, and a keyboard that appears while a program has the focus
// is announced to it with the key that made it already down. So the
// devices are made here at the start, by a pointer movement of nothing and
// a tap of Shift, and "ready" is printed only once the Wayland seat (in
// WAYLAND_DISPLAY) offers both; a script starts this before the program
// whose input it is to be. Each command is then answered with "ok" once
// mutter has taken it, or "error: WHY".
//
// Talks to the bus in DBUS_SESSION_BUS_ADDRESS. Exit 1 when there is no bus
// or compositor, or mutter goes away or closes the session; 2 on wrong
// arguments.
#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char *kService = "org.gnome.Mutter.RemoteDesktop";
constexpr const char *kPath = "/org/gnome/Mutter/RemoteDesktop";
constexpr const char *kSessionInterface = "org.gnome.Mutter.RemoteDesktop.Session";

// Codes from linux/input-event-codes.h, the ones a script names.
constexpr int32_t kButtonLeft = 0x110, kButtonRight = 0x111, kButtonMiddle = 0x112;
constexpr uint32_t kKeyLeftShift = 42;
// How long mutter may take to put the devices on the seat.
constexpr int kDevicesTimeoutMs = 20000;

sd_bus *bus;
std::string session;
bool closed;

int Fail(const char *what, int error, const sd_bus_error *detail) {
    std::fprintf(stderr, "mutter_input: %s: %s\n", what,
                 detail && sd_bus_error_is_set(detail) ? detail->message : std::strerror(-error));
    return 1;
}

// Calls one method of the session; on failure WHY says why.
bool Call(const char *method, std::string *why, const char *types = nullptr, ...) {
    sd_bus_message *request = nullptr, *reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int r = sd_bus_message_new_method_call(bus, &request, kService, session.c_str(), kSessionInterface, method);
    if (r >= 0 && types) {
        va_list args;
        va_start(args, types);
        r = sd_bus_message_appendv(request, types, args);
        va_end(args);
    }
    if (r >= 0) r = sd_bus_call(bus, request, 5 * 1000 * 1000, &error, &reply);
    if (r < 0) *why = std::string(method) + ": " + (sd_bus_error_is_set(&error) ? error.message : std::strerror(-r));
    sd_bus_error_free(&error);
    sd_bus_message_unref(request);
    sd_bus_message_unref(reply);
    return r >= 0;
}

bool ParseKeysym(const char *text, uint32_t *keysym) {
    if (!*text) return false;
    char *end = nullptr;
    unsigned long number = std::strtoul(text, &end, 0);
    // Numbers in hexadecimal only: a digit alone names its own key.
    if (!std::strncmp(text, "0x", 2) && !*end && number > 0 && number <= 0x1fffffff) {
        *keysym = static_cast<uint32_t>(number);
        return true;
    }
    xkb_keysym_t sym = xkb_keysym_from_name(text, XKB_KEYSYM_NO_FLAGS);
    *keysym = sym;
    return sym != XKB_KEY_NoSymbol;
}

bool ParseNumber(const char *text, double *value) {
    char *end = nullptr;
    *value = std::strtod(text, &end);
    return *text && !*end && *value > -100000 && *value < 100000;
}

bool ParseButton(const char *text, int32_t *button) {
    if (!std::strcmp(text, "left")) *button = kButtonLeft;
    else if (!std::strcmp(text, "right")) *button = kButtonRight;
    else if (!std::strcmp(text, "middle")) *button = kButtonMiddle;
    else {
        char *end = nullptr;
        long code = std::strtol(text, &end, 0);
        if (!*text || *end || code <= 0 || code > 0x2ff) return false;
        *button = static_cast<int32_t>(code);
    }
    return true;
}

// One command line; false with WHY when it could not be done.
bool Run(const std::string &line, std::string *why) {
    char verb[16] = "", a[64] = "", b[64] = "", extra[2] = "";
    int n = std::sscanf(line.c_str(), "%15s %63s %63s %1s", verb, a, b, extra);
    std::string command = verb;
    uint32_t keysym = 0;
    if ((command == "key" || command == "keydown" || command == "keyup") && n == 2) {
        if (!ParseKeysym(a, &keysym)) return *why = std::string("no such keysym: ") + a, false;
        // sd-bus takes a boolean as an int.
        if (command != "keyup" && !Call("NotifyKeyboardKeysym", why, "ub", keysym, 1)) return false;
        return command == "keydown" || Call("NotifyKeyboardKeysym", why, "ub", keysym, 0);
    }
    if (command == "code" && n == 2) {
        char *end = nullptr;
        unsigned long code = std::strtoul(a, &end, 0);
        if (*end || code == 0 || code > 0x2ff) return *why = std::string("bad key code: ") + a, false;
        return Call("NotifyKeyboardKeycode", why, "ub", static_cast<uint32_t>(code), 1) &&
               Call("NotifyKeyboardKeycode", why, "ub", static_cast<uint32_t>(code), 0);
    }
    if (command == "move" && n == 3) {
        double dx = 0, dy = 0;
        if (!ParseNumber(a, &dx) || !ParseNumber(b, &dy)) return *why = "bad distance", false;
        return Call("NotifyPointerMotionRelative", why, "dd", dx, dy);
    }
    if (command == "button" && n == 2) {
        int32_t button = 0;
        if (!ParseButton(a, &button)) return *why = std::string("bad button: ") + a, false;
        return Call("NotifyPointerButton", why, "ib", button, 1) && Call("NotifyPointerButton", why, "ib", button, 0);
    }
    return *why = "unknown command: " + line, false;
}

int SessionClosed(sd_bus_message *, void *, sd_bus_error *) {
    closed = true;
    return 0;
}

wl_seat *seat;
uint32_t capabilities;

const wl_seat_listener kSeatListener = {
    [](void *, wl_seat *, uint32_t caps) { capabilities = caps; },
    [](void *, wl_seat *, const char *) {},
};

const wl_registry_listener kRegistryListener = {
    [](void *, wl_registry *registry, uint32_t name, const char *interface, uint32_t) {
        if (!std::strcmp(interface, wl_seat_interface.name) && !seat) {
            seat = static_cast<wl_seat *>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
            wl_seat_add_listener(seat, &kSeatListener, nullptr);
        }
    },
    [](void *, wl_registry *, uint32_t) {},
};

// Waits until the seat has a keyboard and a pointer; false when the
// compositor went or the time ran out.
bool DevicesOnSeat(wl_display *display) {
    constexpr uint32_t kBoth = WL_SEAT_CAPABILITY_POINTER | WL_SEAT_CAPABILITY_KEYBOARD;
    int waited = 0;
    while ((capabilities & kBoth) != kBoth) {
        if (waited >= kDevicesTimeoutMs) return false;
        while (wl_display_prepare_read(display) != 0)
            if (wl_display_dispatch_pending(display) < 0) return false;
        if (wl_display_flush(display) < 0 && errno != EAGAIN) {
            wl_display_cancel_read(display);
            return false;
        }
        pollfd fd = {wl_display_get_fd(display), POLLIN, 0};
        int ready = poll(&fd, 1, 100);
        waited += 100;
        if (ready > 0) {
            if (wl_display_read_events(display) < 0) return false;
        } else {
            wl_display_cancel_read(display);
        }
        if (wl_display_dispatch_pending(display) < 0) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char **) {
    if (argc != 1) {
        std::fprintf(stderr, "usage: mutter_input (commands on standard input)\n");
        return 2;
    }
    // The bus of DBUS_SESSION_BUS_ADDRESS ($XDG_RUNTIME_DIR/bus without it).
    int r = sd_bus_open_user(&bus);
    if (r < 0) return Fail("cannot connect to the session bus", r, nullptr);

    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message *reply = nullptr;
    r = sd_bus_call_method(bus, kService, kPath, kService, "CreateSession", &error, &reply, "");
    if (r < 0) return Fail("CreateSession", r, &error);
    const char *path = nullptr;
    r = sd_bus_message_read(reply, "o", &path);
    if (r < 0) return Fail("CreateSession's reply", r, nullptr);
    session = path;
    reply = sd_bus_message_unref(reply);

    // Subscribed before Start, so a session mutter ends at once is noticed.
    r = sd_bus_match_signal(bus, nullptr, kService, session.c_str(), kSessionInterface, "Closed", SessionClosed,
                            nullptr);
    if (r < 0) return Fail("watching the session", r, nullptr);
    std::string why;
    if (!Call("Start", &why)) {
        std::fprintf(stderr, "mutter_input: %s\n", why.c_str());
        return 1;
    }
    // The seat as a client sees it, to know when the devices are there.
    wl_display *display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "mutter_input: cannot connect to the compositor\n");
        return 1;
    }
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, nullptr);
    if (wl_display_roundtrip(display) < 0 || !seat) {
        std::fprintf(stderr, "mutter_input: the compositor has no seat\n");
        return 1;
    }
    if (!Call("NotifyPointerMotionRelative", &why, "dd", 0.0, 0.0) ||
        !Call("NotifyKeyboardKeycode", &why, "ub", kKeyLeftShift, 1) ||
        !Call("NotifyKeyboardKeycode", &why, "ub", kKeyLeftShift, 0)) {
        std::fprintf(stderr, "mutter_input: %s\n", why.c_str());
        return 1;
    }
    if (!DevicesOnSeat(display)) {
        std::fprintf(stderr, "mutter_input: the seat has no keyboard and pointer (capabilities %u)\n", capabilities);
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    // Lines are split here rather than by stdio: poll must not say "nothing
    // to read" while a second command waits in a stdio buffer.
    std::string pending;
    bool input = true;
    while (input) {
        // The bus first: a Closed signal or a lost connection ends us even
        // while no command comes.
        while ((r = sd_bus_process(bus, nullptr)) > 0) {
        }
        if (r < 0 || closed) {
            std::fprintf(stderr, "mutter_input: %s\n", closed ? "mutter closed the session" : "the bus went away");
            return 1;
        }
        // The compositor's connection only to see it go.
        if (wl_display_dispatch_pending(display) < 0 || (wl_display_flush(display) < 0 && errno != EAGAIN)) {
            std::fprintf(stderr, "mutter_input: the compositor went away\n");
            return 1;
        }
        pollfd fds[3] = {{0, POLLIN, 0},
                         {sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0},
                         {wl_display_get_fd(display), POLLIN, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            return Fail("poll", -errno, nullptr);
        }
        if ((fds[2].revents & POLLIN) && wl_display_dispatch(display) < 0) {
            std::fprintf(stderr, "mutter_input: the compositor went away\n");
            return 1;
        }
        if (fds[2].revents & (POLLHUP | POLLERR)) {
            std::fprintf(stderr, "mutter_input: the compositor went away\n");
            return 1;
        }
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        char buffer[256];
        ssize_t got = read(0, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        pending.append(buffer, static_cast<size_t>(got));
        size_t end;
        // One command at a time: its answer goes out before the next is done.
        while (input && (end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty()) continue;
            if (line == "quit") {
                input = false;
                break;
            }
            if (Run(line, &why)) std::printf("ok\n");
            else std::printf("error: %s\n", why.c_str());
            std::fflush(stdout);
        }
        if (pending.size() > 4096) pending.clear();  // no line of ours is that long
    }
    Call("Stop", &why);
    sd_bus_flush_close_unref(bus);
    wl_display_disconnect(display);
    return 0;
}
