// A visible Wayland window that holds idle off with an idle inhibitor, as a
// video player does.
//
//   wl_idle_inhibit     a 320x240 window of one colour with a
//                       zwp_idle_inhibitor_v1 on its surface; prints
//                       "inhibiting" once the compositor has shown it (its
//                       first frame callback came), then holds until SIGTERM
//                       or SIGINT, destroys the inhibitor, and exits 0
//
// Exit 1: no compositor, or it closed the connection; 2: it offers no
// xdg_wm_base, wl_shm, wl_compositor or zwp_idle_inhibit_manager_v1. A
// compositor counts an inhibitor only while its surface is visible, so the
// window is mapped before the line is printed.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "idle-inhibit-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace {

constexpr int kWidth = 320, kHeight = 240;

wl_compositor *compositor;
wl_shm *shm;
xdg_wm_base *wmBase;
zwp_idle_inhibit_manager_v1 *inhibitManager;

bool configured, shown, closed;
int signalPipe[2] = {-1, -1};

void Global(void *, wl_registry *registry, uint32_t name, const char *interface, uint32_t) {
    // Version 1 of each has all this window needs.
    if (!std::strcmp(interface, wl_compositor_interface.name) && !compositor)
        compositor = static_cast<wl_compositor *>(wl_registry_bind(registry, name, &wl_compositor_interface, 1));
    else if (!std::strcmp(interface, wl_shm_interface.name) && !shm)
        shm = static_cast<wl_shm *>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    else if (!std::strcmp(interface, xdg_wm_base_interface.name) && !wmBase)
        wmBase = static_cast<xdg_wm_base *>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
    else if (!std::strcmp(interface, zwp_idle_inhibit_manager_v1_interface.name) && !inhibitManager)
        inhibitManager = static_cast<zwp_idle_inhibit_manager_v1 *>(
            wl_registry_bind(registry, name, &zwp_idle_inhibit_manager_v1_interface, 1));
}
void GlobalGone(void *, wl_registry *, uint32_t) {}
const wl_registry_listener kRegistryListener = {Global, GlobalGone};

void Ping(void *, xdg_wm_base *base, uint32_t serial) { xdg_wm_base_pong(base, serial); }
const xdg_wm_base_listener kWmBaseListener = {Ping};

void SurfaceConfigure(void *, xdg_surface *surface, uint32_t serial) {
    xdg_surface_ack_configure(surface, serial);
    configured = true;
}
const xdg_surface_listener kXdgSurfaceListener = {SurfaceConfigure};

void ToplevelConfigure(void *, xdg_toplevel *, int32_t, int32_t, wl_array *) {}
void ToplevelClose(void *, xdg_toplevel *) { closed = true; }
// Bound at version 1, which sends neither bounds nor capabilities.
void ToplevelBounds(void *, xdg_toplevel *, int32_t, int32_t) {}
void ToplevelCapabilities(void *, xdg_toplevel *, wl_array *) {}
const xdg_toplevel_listener kToplevelListener = {ToplevelConfigure, ToplevelClose, ToplevelBounds,
                                                 ToplevelCapabilities};

void FrameDone(void *, wl_callback *callback, uint32_t) {
    wl_callback_destroy(callback);
    shown = true;
}
const wl_callback_listener kFrameListener = {FrameDone};

void OnSignal(int) {
    int saved = errno;
    char byte = 1;
    (void)!write(signalPipe[1], &byte, 1);
    errno = saved;
}

// One colour, 320x240, in a buffer the compositor keeps for as long as the
// window lives.
wl_buffer *MakeBuffer() {
    const int stride = kWidth * 4, size = stride * kHeight;
    int fd = memfd_create("wl_idle_inhibit", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, size) < 0) {
        if (fd >= 0) close(fd);
        return nullptr;
    }
    void *pixels = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED) {
        close(fd);
        return nullptr;
    }
    auto *p = static_cast<uint32_t *>(pixels);
    for (int i = 0; i < kWidth * kHeight; ++i) p[i] = 0xff2060a0;
    munmap(pixels, size);
    wl_shm_pool *pool = wl_shm_create_pool(shm, fd, size);
    wl_buffer *buffer = wl_shm_pool_create_buffer(pool, 0, kWidth, kHeight, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    return buffer;
}

// Reads and dispatches what the compositor sent, waiting for it or a
// signal. False when the connection is gone; sets *signalled on a signal.
bool Pump(wl_display *display, bool *signalled) {
    while (wl_display_prepare_read(display) != 0)
        if (wl_display_dispatch_pending(display) < 0) return false;
    if (wl_display_flush(display) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(display);
        return false;
    }
    pollfd fds[2] = {{wl_display_get_fd(display), POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
    int ready = poll(fds, 2, -1);
    if (ready > 0 && fds[0].revents) {
        if (wl_display_read_events(display) < 0) return false;
    } else {
        wl_display_cancel_read(display);
    }
    if (ready > 0 && fds[1].revents) *signalled = true;
    return wl_display_dispatch_pending(display) >= 0;
}

}  // namespace

int main() {
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) < 0) return 1;
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    wl_display *display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "wl_idle_inhibit: cannot connect to the compositor\n");
        return 1;
    }
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, nullptr);
    if (wl_display_roundtrip(display) < 0) {
        std::fprintf(stderr, "wl_idle_inhibit: the compositor closed the connection\n");
        return 1;
    }
    if (!compositor || !shm || !wmBase || !inhibitManager) {
        std::fprintf(stderr, "wl_idle_inhibit: the compositor lacks %s\n",
                     !compositor ? "wl_compositor"
                     : !shm      ? "wl_shm"
                     : !wmBase   ? "xdg_wm_base"
                                 : "zwp_idle_inhibit_manager_v1");
        return 2;
    }
    xdg_wm_base_add_listener(wmBase, &kWmBaseListener, nullptr);

    wl_surface *surface = wl_compositor_create_surface(compositor);
    xdg_surface *xdgSurface = xdg_wm_base_get_xdg_surface(wmBase, surface);
    xdg_surface_add_listener(xdgSurface, &kXdgSurfaceListener, nullptr);
    xdg_toplevel *toplevel = xdg_surface_get_toplevel(xdgSurface);
    xdg_toplevel_add_listener(toplevel, &kToplevelListener, nullptr);
    xdg_toplevel_set_title(toplevel, "wl_idle_inhibit");
    xdg_toplevel_set_app_id(toplevel, "wl_idle_inhibit");
    wl_surface_commit(surface);

    bool signalled = false, ok = true;
    while (ok && !configured && !signalled && !closed) ok = Pump(display, &signalled);

    zwp_idle_inhibitor_v1 *inhibitor = nullptr;
    wl_buffer *buffer = nullptr;
    if (ok && configured) {
        inhibitor = zwp_idle_inhibit_manager_v1_create_inhibitor(inhibitManager, surface);
        buffer = MakeBuffer();
        if (!buffer) {
            std::fprintf(stderr, "wl_idle_inhibit: cannot make a buffer\n");
            ok = false;
        } else {
            wl_surface_attach(surface, buffer, 0, 0);
            wl_surface_damage(surface, 0, 0, kWidth, kHeight);
            wl_callback_add_listener(wl_surface_frame(surface), &kFrameListener, nullptr);
            wl_surface_commit(surface);
        }
    }
    while (ok && !shown && !signalled && !closed) ok = Pump(display, &signalled);
    if (ok && shown) {
        std::printf("inhibiting\n");
        std::fflush(stdout);
    }
    while (ok && !signalled && !closed) ok = Pump(display, &signalled);
    if (!ok) {
        std::fprintf(stderr, "wl_idle_inhibit: the compositor closed the connection\n");
        return 1;
    }

    // The inhibitor goes first and alone, so the release is the compositor's
    // to see even when the window's end would be seen later.
    if (inhibitor) zwp_idle_inhibitor_v1_destroy(inhibitor);
    wl_display_roundtrip(display);
    xdg_toplevel_destroy(toplevel);
    xdg_surface_destroy(xdgSurface);
    wl_surface_destroy(surface);
    if (buffer) wl_buffer_destroy(buffer);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
