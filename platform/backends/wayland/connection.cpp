// The connection to the compositor: the globals it offers, bound as they
// are announced; the round trips and flushes; what happens when it goes
// away; and the wait for events, with the reports the listeners queued
// delivered to the layer in order.
#include <errno.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "backends/wayland/wayland_backend.h"
#include "session/termination.h"

namespace layer {
namespace wayland {

long long MonotonicMs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

namespace {

const wl_registry_listener kRegistryListener = {
    [](void *data, wl_registry *, uint32_t name, const char *interface, uint32_t version) {
        Of(data)->Global(name, interface, version);
    },
    [](void *data, wl_registry *, uint32_t name) { Of(data)->GlobalRemoved(name); },
};

const xdg_wm_base_listener kWmBaseListener = {
    [](void *, xdg_wm_base *base, uint32_t serial) { xdg_wm_base_pong(base, serial); },
};

}  // namespace

// ---- the connection -------------------------------------------------------------

std::unique_ptr<Backend> WaylandBackend::Create(const char *displayName, const std::string &outputName,
                                                std::string *why) {
    const char *name = displayName ? displayName : std::getenv("WAYLAND_DISPLAY");
    std::string shown = name && *name ? name : "wayland-0";
    wl_display *display = wl_display_connect(name && *name ? name : nullptr);
    if (!display) {
        *why = "cannot open display \"" + shown + "\" (no Wayland compositor answers there)";
        return nullptr;
    }
    std::unique_ptr<WaylandBackend> b(new WaylandBackend());
    b->display_ = display;
    b->confinedName_ = outputName;
    // Before the first roundtrip: a seat that has a keyboard already sends
    // its keymap during them, and only once.
    b->xkb_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    b->registry_ = wl_display_get_registry(display);
    wl_registry_add_listener(b->registry_, &kRegistryListener, b.get());
    // The globals, then what the outputs and the seat say of themselves,
    // then what xdg-output adds (its objects are made once the manager and
    // the outputs are known).
    for (int i = 0; i < 3; ++i) {
        if (!b->Roundtrip()) {
            *why = "cannot open display \"" + shown + "\" (the Wayland compositor went away)";
            return nullptr;
        }
    }
    if (!b->compositor_ || !b->shm_ || (!b->layerShell_ && !b->wmBase_)) {
        *why = "the Wayland compositor of \"" + shown + "\" offers no surfaces the saver can show";
        return nullptr;
    }
    if (!outputName.empty() && b->ConfinedIndex() < 0) {
        *why = "the Wayland compositor of \"" + shown + "\" has no output named \"" + outputName + "\"";
        return nullptr;
    }
    return b;
}

WaylandBackend::~WaylandBackend() {
    for (auto &entry : windows_) DropSurfaces(entry.second);
    if (keyState_) xkb_state_unref(keyState_);
    if (keymap_) xkb_keymap_unref(keymap_);
    if (xkb_) xkb_context_unref(xkb_);
    if (relativePointer_) zwp_relative_pointer_v1_destroy(relativePointer_);
    if (relativeManager_) zwp_relative_pointer_manager_v1_destroy(relativeManager_);
    if (pointer_) wl_pointer_destroy(pointer_);
    if (keyboard_) wl_keyboard_destroy(keyboard_);
    if (seat_) wl_seat_destroy(seat_);
    for (auto &o : outputs_) {
        if (o->xdgOutput) zxdg_output_v1_destroy(o->xdgOutput);
        if (o->output) wl_output_destroy(o->output);
    }
    if (xdgOutputs_) zxdg_output_manager_v1_destroy(xdgOutputs_);
    if (layerShell_) zwlr_layer_shell_v1_destroy(layerShell_);
    if (wmBase_) xdg_wm_base_destroy(wmBase_);
    if (viewporter_) wp_viewporter_destroy(viewporter_);
    if (decorations_) zxdg_decoration_manager_v1_destroy(decorations_);
    if (subcompositor_) wl_subcompositor_destroy(subcompositor_);
    if (shm_) wl_shm_destroy(shm_);
    if (compositor_) wl_compositor_destroy(compositor_);
    if (registry_) wl_registry_destroy(registry_);
    wl_display_flush(display_);
    wl_display_disconnect(display_);
}

bool WaylandBackend::Roundtrip() { return wl_display_roundtrip(display_) >= 0; }

void WaylandBackend::Lost() {
    int error = wl_display_get_error(display_);
    // Like an X program whose server went away: say so and end with 1,
    // rather than run on showing nothing, or wait for events that never come.
    if (error == EPROTO)
        std::fprintf(stderr, "%s: the Wayland compositor ended the connection over a protocol error\n",
                     program_invocation_short_name);
    else
        std::fprintf(stderr, "%s: lost the connection to the Wayland compositor (%s)\n",
                     program_invocation_short_name, std::strerror(error ? error : EPIPE));
    std::fflush(stderr);
    _exit(1);
}

void WaylandBackend::Flush() {
    // A full socket (EAGAIN) is written when WaitForEvents polls for it.
    if (wl_display_flush(display_) < 0 && errno != EAGAIN) Lost();
}

void WaylandBackend::Global(uint32_t name, const char *interface, uint32_t version) {
    auto bind = [&](const wl_interface *type, uint32_t most) {
        return wl_registry_bind(registry_, name, type, std::min(version, most));
    };
    if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
        compositorVersion_ = std::min(version, 4u);
        compositor_ = (wl_compositor *)bind(&wl_compositor_interface, 4);
    } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
        shm_ = (wl_shm *)bind(&wl_shm_interface, 1);
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !seat_) {
        seat_ = (wl_seat *)bind(&wl_seat_interface, 5);
        seatName_ = name;
        wl_seat_add_listener(seat_, &kSeatListener, this);
    } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
        auto record = std::make_unique<OutputRecord>();
        record->backend = this;
        record->info.global = name;
        record->output = (wl_output *)bind(&wl_output_interface, 4);
        wl_output_add_listener(record->output, &kOutputListener, record.get());
        if (xdgOutputs_) {
            record->xdgOutput = zxdg_output_manager_v1_get_xdg_output(xdgOutputs_, record->output);
            zxdg_output_v1_add_listener(record->xdgOutput, &kXdgOutputListener, record.get());
        }
        outputs_.push_back(std::move(record));
    } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0) {
        xdgOutputs_ = (zxdg_output_manager_v1 *)bind(&zxdg_output_manager_v1_interface, 3);
        for (auto &o : outputs_) {
            if (o->xdgOutput) continue;
            o->xdgOutput = zxdg_output_manager_v1_get_xdg_output(xdgOutputs_, o->output);
            zxdg_output_v1_add_listener(o->xdgOutput, &kXdgOutputListener, o.get());
        }
    } else if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0) {
        layerShell_ = (zwlr_layer_shell_v1 *)bind(&zwlr_layer_shell_v1_interface, 4);
    } else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0) {
        wmBase_ = (xdg_wm_base *)bind(&xdg_wm_base_interface, 2);
        xdg_wm_base_add_listener(wmBase_, &kWmBaseListener, this);
    } else if (std::strcmp(interface, wp_viewporter_interface.name) == 0) {
        viewporter_ = (wp_viewporter *)bind(&wp_viewporter_interface, 1);
    } else if (std::strcmp(interface, wl_subcompositor_interface.name) == 0) {
        subcompositor_ = (wl_subcompositor *)bind(&wl_subcompositor_interface, 1);
    } else if (std::strcmp(interface, zwp_relative_pointer_manager_v1_interface.name) == 0) {
        relativeManager_ =
            (zwp_relative_pointer_manager_v1 *)bind(&zwp_relative_pointer_manager_v1_interface, 1);
    } else if (std::strcmp(interface, zxdg_decoration_manager_v1_interface.name) == 0) {
        decorations_ = (zxdg_decoration_manager_v1 *)bind(&zxdg_decoration_manager_v1_interface, 1);
    }
}

// ---- waiting ----------------------------------------------------------------------

bool WaylandBackend::Deliver(InputSink &sink) {
    if (reports_.empty()) return false;
    // A report may make the layer destroy windows, and so surfaces, and
    // queue new reports: the list is taken first.
    std::vector<std::function<void(InputSink &)>> reports;
    reports.swap(reports_);
    for (auto &report : reports) report(sink);
    return true;
}

bool WaylandBackend::WaitForEvents(int timeoutMs, InputSink &sink) {
    long long deadline = timeoutMs > 0 ? MonotonicMs() + timeoutMs : 0;
    int wake = TerminationWakeDescriptor();
    int fd = wl_display_get_fd(display_);
    bool reported = false;
    for (;;) {
        if (wl_display_dispatch_pending(display_) < 0) Lost();
        if (repeatKey_ && MonotonicMs() >= nextRepeat_) {
            UINT vk = repeatVk_;
            bool alt = repeatAlt_;
            Report([vk, alt](InputSink &sink) { sink.KeyChanged(vk, true, alt); });
            nextRepeat_ = std::max(nextRepeat_ + 1000 / std::max(1, repeatRate_), MonotonicMs());
        }
        if (Deliver(sink)) reported = true;
        if (reported || timeoutMs == 0) {
            Flush();
            return reported;
        }
        int left = -1;
        if (timeoutMs > 0) {
            long long remaining = deadline - MonotonicMs();
            if (remaining <= 0) {
                Flush();
                return false;
            }
            left = (int)remaining;
        }
        if (repeatKey_) {
            int untilRepeat = (int)std::max<long long>(0, nextRepeat_ - MonotonicMs());
            left = left < 0 ? untilRepeat : std::min(left, untilRepeat);
        }
        // Events read by someone else meanwhile are dispatched first; only
        // then may this thread read the socket.
        while (wl_display_prepare_read(display_) != 0)
            if (wl_display_dispatch_pending(display_) < 0) Lost();
        if (Deliver(sink)) {
            wl_display_cancel_read(display_);
            Flush();
            return true;
        }
        bool unsent = false;
        if (wl_display_flush(display_) < 0) {
            if (errno != EAGAIN) {
                wl_display_cancel_read(display_);
                Lost();
            }
            unsent = true;
        }
        struct pollfd fds[2] = {{fd, (short)(POLLIN | (unsent ? POLLOUT : 0)), 0}, {wake, POLLIN, 0}};
        int ready = poll(fds, wake >= 0 ? 2 : 1, left);
        if (ready < 0) {
            wl_display_cancel_read(display_);
            if (errno == EINTR) continue;
            return reported;
        }
        if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) {
            if (wl_display_read_events(display_) < 0) Lost();
        } else {
            wl_display_cancel_read(display_);
        }
        // A request to end the run is the layer's to act on.
        if (ready > 0 && wake >= 0 && (fds[1].revents & POLLIN)) {
            if (wl_display_dispatch_pending(display_) < 0) Lost();
            Deliver(sink);
            return true;
        }
    }
}

}  // namespace wayland

std::unique_ptr<Backend> CreateWaylandBackend(const char *displayName, const std::string &outputName,
                                              std::string *why) {
    std::string ignored;
    return wayland::WaylandBackend::Create(displayName, outputName, why ? why : &ignored);
}

}  // namespace layer
