// A pointer for the Wayland end-to-end scripts. A headless compositor has no
// mouse, and its seat offers no pointer at all until some device exists; this
// client makes a virtual one, moves it, optionally clicks, and leaves once the
// compositor has taken every request in.
//
//   wl_pointer DX DY [BUTTON]          move by DX, DY (logical pixels; 0 0 moves
//                                      nothing but reports the position), then
//                                      press and release BUTTON: left, right,
//                                      middle or a Linux button code; exit 0
//   wl_pointer --hold [DX DY [BUTTON]] the same, then keep the device (and with it
//                                      the seat's pointer) until killed or the
//                                      compositor goes; exit 0
//
// Exit 1: no compositor, or it lost the connection; 2: wrong arguments or no
// virtual pointer manager.
#include <signal.h>
#include <time.h>
#include <wayland-client.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace {

wl_seat *seat;
zwlr_virtual_pointer_manager_v1 *manager;

// Codes from linux/input-event-codes.h, the ones a script names.
constexpr uint32_t kButtonLeft = 0x110, kButtonRight = 0x111, kButtonMiddle = 0x112;

void Global(void *, wl_registry *registry, uint32_t name, const char *interface, uint32_t) {
    // Version 1 is all this client asks of either; every compositor with the
    // manager has it.
    if (!std::strcmp(interface, wl_seat_interface.name) && !seat)
        seat = static_cast<wl_seat *>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (!std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name))
        manager = static_cast<zwlr_virtual_pointer_manager_v1 *>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
}

void GlobalGone(void *, wl_registry *, uint32_t) {}

const wl_registry_listener kRegistryListener = {Global, GlobalGone};

uint32_t NowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

int Usage() {
    std::fprintf(stderr, "usage: wl_pointer [--hold] [DX DY [left|right|middle|CODE]]\n");
    return 2;
}

bool ParseDistance(const char *text, double *value) {
    char *end = nullptr;
    *value = std::strtod(text, &end);
    return *text && !*end && *value > -100000 && *value < 100000;
}

bool ParseButton(const char *text, uint32_t *button) {
    if (!std::strcmp(text, "left")) *button = kButtonLeft;
    else if (!std::strcmp(text, "right")) *button = kButtonRight;
    else if (!std::strcmp(text, "middle")) *button = kButtonMiddle;
    else {
        char *end = nullptr;
        unsigned long code = std::strtoul(text, &end, 0);
        if (!*text || *end || code == 0 || code > 0x2ff) return false;
        *button = static_cast<uint32_t>(code);
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    int arg = 1;
    bool hold = arg < argc && !std::strcmp(argv[arg], "--hold");
    if (hold) ++arg;
    int left = argc - arg;
    if (left != 0 && left != 2 && left != 3) return Usage();
    if (!hold && left == 0) return Usage();
    double dx = 0, dy = 0;
    uint32_t button = 0;
    if (left >= 2 && (!ParseDistance(argv[arg], &dx) || !ParseDistance(argv[arg + 1], &dy))) return Usage();
    if (left == 3 && !ParseButton(argv[arg + 2], &button)) return Usage();

    wl_display *display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "wl_pointer: cannot connect to the compositor\n");
        return 1;
    }
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, nullptr);
    if (wl_display_roundtrip(display) < 0) {
        std::fprintf(stderr, "wl_pointer: the compositor closed the connection\n");
        return 1;
    }
    if (!manager) {
        std::fprintf(stderr, "wl_pointer: the compositor offers no zwlr_virtual_pointer_manager_v1\n");
        return 2;
    }

    zwlr_virtual_pointer_v1 *pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, seat);
    // Even a movement of 0, 0 is sent: the compositor then tells the client
    // under the pointer where it is, without moving it.
    if (left >= 2) {
        zwlr_virtual_pointer_v1_motion(pointer, NowMs(), wl_fixed_from_double(dx), wl_fixed_from_double(dy));
        zwlr_virtual_pointer_v1_frame(pointer);
    }
    if (button) {
        // Two frames: a press and a release in one frame would reach clients
        // as one event group, which is not what a hand does.
        zwlr_virtual_pointer_v1_button(pointer, NowMs(), button, WL_POINTER_BUTTON_STATE_PRESSED);
        zwlr_virtual_pointer_v1_frame(pointer);
        zwlr_virtual_pointer_v1_button(pointer, NowMs(), button, WL_POINTER_BUTTON_STATE_RELEASED);
        zwlr_virtual_pointer_v1_frame(pointer);
    }
    // The roundtrip returns once the compositor has handled everything sent
    // before it, so the movement has happened when this program ends.
    if (wl_display_roundtrip(display) < 0) {
        std::fprintf(stderr, "wl_pointer: the compositor closed the connection\n");
        return 1;
    }
    if (hold) {
        // A script ends a held pointer with SIGTERM; that is a normal end.
        signal(SIGTERM, [](int) { std::_Exit(0); });
        std::printf("ready\n");
        std::fflush(stdout);
        while (wl_display_dispatch(display) >= 0) {
        }
        return 0;
    }
    zwlr_virtual_pointer_v1_destroy(pointer);
    zwlr_virtual_pointer_manager_v1_destroy(manager);
    if (seat) wl_seat_destroy(seat);
    wl_registry_destroy(registry);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
