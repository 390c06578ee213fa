// Idle on Wayland: ext-idle-notify-v1, else KDE's org_kde_kwin_idle.
//
// The source keeps a connection of its own, apart from any the saver's
// backend would make: the watcher never draws, and a connection that only
// ever carries idle requests cannot be disturbed by anything else.
#include "idle/watcher.h"

#include <errno.h>
#include <poll.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <wayland-client.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "ext-idle-notify-v1-client-protocol.h"
#include "idle-client-protocol.h"

namespace idle {
namespace {

// The versions this file was written against; a newer compositor gets no
// more than these, so it never sends events we have no handler for.
constexpr uint32_t kSeatVersion = 1;
constexpr uint32_t kExtNotifierVersion = 1;
constexpr uint32_t kKdeIdleVersion = 1;

class WaylandIdle final : public IdleSource {
  public:
    WaylandIdle(wl_display *display, const IdleEvents &events) : display_(display), events_(events) {}

    ~WaylandIdle() override {
        DropWatch();
        if (extNotifier_) ext_idle_notifier_v1_destroy(extNotifier_);
        if (kdeIdle_) org_kde_kwin_idle_destroy(kdeIdle_);
        if (seat_) DropSeat();
        if (registry_) wl_registry_destroy(registry_);
        wl_display_flush(display_);
        wl_display_disconnect(display_);
    }

    // Binds what the compositor offers and waits for its answer. False with
    // *why when it offers no idle protocol.
    bool Start(std::string *why) {
        registry_ = wl_display_get_registry(display_);
        if (!registry_) {
            *why = "the Wayland compositor did not answer";
            return false;
        }
        static const wl_registry_listener kRegistry = {Global, GlobalRemove};
        wl_registry_add_listener(registry_, &kRegistry, this);
        // The globals, then our binds of them answered: a compositor that
        // takes offence at one says so now, not in the middle of the watch.
        if (wl_display_roundtrip(display_) < 0 || wl_display_roundtrip(display_) < 0) {
            *why = "the Wayland compositor closed the connection";
            return false;
        }
        if (!extNotifier_ && !kdeIdle_) {
            *why = "the Wayland compositor offers neither ext-idle-notify-v1 nor org_kde_kwin_idle";
            return false;
        }
        if (!seat_) {
            *why = "the Wayland compositor offers no seat";
            return false;
        }
        return true;
    }

    std::string Name() const override {
        return extNotifier_ ? "ext-idle-notify-v1 (Wayland)" : "org_kde_kwin_idle (Wayland)";
    }

    int Fd() const override { return wl_display_get_fd(display_); }

    bool Flush() override {
        if (lost_) return false;
        // A full socket is written at the next flush; the requests stay
        // queued in the meantime.
        if (wl_display_flush(display_) < 0 && errno != EAGAIN) return Lose();
        return true;
    }

    bool Dispatch() override {
        if (lost_) return false;
        while (wl_display_prepare_read(display_) != 0)
            if (wl_display_dispatch_pending(display_) < 0) return Lose();
        // Only read what is there: the loop calls us after poll() said so,
        // but also when poll() failed, and a read must never block it.
        pollfd pfd = {wl_display_get_fd(display_), POLLIN, 0};
        int ready = poll(&pfd, 1, 0);
        if (ready > 0 && (pfd.revents & (POLLIN | POLLHUP | POLLERR))) {
            if (wl_display_read_events(display_) < 0) return Lose();
        } else {
            wl_display_cancel_read(display_);
        }
        if (wl_display_dispatch_pending(display_) < 0) return Lose();
        if (wl_display_get_error(display_) != 0) return Lose();
        return true;
    }

    void Arm(unsigned seconds) override {
        armedSeconds_ = std::max(1u, seconds);
        armed_ = true;
        CreateWatch();
    }

    void Disarm() override {
        armed_ = false;
        idle_ = false;
        DropWatch();
        Flush();
    }

    bool CountsDesktopInhibitors() const override { return true; }

  private:
    static void Global(void *data, wl_registry *registry, uint32_t name, const char *interface,
                       uint32_t version) {
        auto *self = static_cast<WaylandIdle *>(data);
        if (strcmp(interface, wl_seat_interface.name) == 0) {
            // The first seat is the desktop's; another (rare) is kept in
            // mind in case the first goes.
            if (self->seat_) {
                self->spareSeats_.push_back({name, version});
                return;
            }
            self->BindSeat(name, version);
            self->CreateWatchIfArmed();
        } else if (strcmp(interface, ext_idle_notifier_v1_interface.name) == 0) {
            if (self->extNotifier_) return;
            self->extNotifier_ = static_cast<ext_idle_notifier_v1 *>(wl_registry_bind(
                registry, name, &ext_idle_notifier_v1_interface, std::min(version, kExtNotifierVersion)));
            self->extName_ = name;
        } else if (strcmp(interface, org_kde_kwin_idle_interface.name) == 0) {
            if (self->kdeIdle_) return;
            self->kdeIdle_ = static_cast<org_kde_kwin_idle *>(wl_registry_bind(
                registry, name, &org_kde_kwin_idle_interface, std::min(version, kKdeIdleVersion)));
            self->kdeName_ = name;
        }
    }

    static void GlobalRemove(void *data, wl_registry *, uint32_t name) {
        auto *self = static_cast<WaylandIdle *>(data);
        if (self->seat_ && name == self->seatName_) {
            // No idle is reported for a seat that is gone; the watch moves
            // to another seat, or waits for one to come.
            self->DropWatch();
            self->DropSeat();
            if (!self->spareSeats_.empty()) {
                auto [spare, version] = self->spareSeats_.front();
                self->spareSeats_.erase(self->spareSeats_.begin());
                self->BindSeat(spare, version);
                self->CreateWatchIfArmed();
            }
        } else if (self->extNotifier_ && name == self->extName_) {
            self->DropWatch();
            ext_idle_notifier_v1_destroy(self->extNotifier_);
            self->extNotifier_ = nullptr;
            self->CreateWatchIfArmed();
        } else if (self->kdeIdle_ && name == self->kdeName_) {
            self->DropWatch();
            org_kde_kwin_idle_destroy(self->kdeIdle_);
            self->kdeIdle_ = nullptr;
            self->CreateWatchIfArmed();
        } else {
            auto &spares = self->spareSeats_;
            spares.erase(std::remove_if(spares.begin(), spares.end(),
                                        [name](const std::pair<uint32_t, uint32_t> &seat) { return seat.first == name; }),
                         spares.end());
        }
    }

    void BindSeat(uint32_t name, uint32_t version) {
        seat_ = static_cast<wl_seat *>(wl_registry_bind(registry_, name, &wl_seat_interface, std::min(version, kSeatVersion)));
        seatName_ = name;
    }

    void DropSeat() {
        if (wl_seat_get_version(seat_) >= WL_SEAT_RELEASE_SINCE_VERSION)
            wl_seat_release(seat_);
        else
            wl_seat_destroy(seat_);
        seat_ = nullptr;
        seatName_ = 0;
    }

    void CreateWatchIfArmed() {
        if (armed_) CreateWatch();
    }

    // A watch of the armed time on the seat, replacing the one before: a
    // new one starts counting from now, and reports resumed only after it
    // has reported idle itself.
    void CreateWatch() {
        DropWatch();
        idle_ = false;
        if (!seat_) return;
        // Milliseconds in a uint32 hold 49 days; a longer time is as good
        // as never and must not wrap round into a short one.
        uint64_t ms = uint64_t(armedSeconds_) * 1000u;
        uint32_t timeout = ms > UINT32_MAX ? UINT32_MAX : uint32_t(ms);
        if (extNotifier_) {
            extNotification_ = ext_idle_notifier_v1_get_idle_notification(extNotifier_, timeout, seat_);
            static const ext_idle_notification_v1_listener kListener = {ExtIdled, ExtResumed};
            if (extNotification_) ext_idle_notification_v1_add_listener(extNotification_, &kListener, this);
        } else if (kdeIdle_) {
            kdeTimeout_ = org_kde_kwin_idle_get_idle_timeout(kdeIdle_, seat_, timeout);
            static const org_kde_kwin_idle_timeout_listener kListener = {KdeIdle, KdeResumed};
            if (kdeTimeout_) org_kde_kwin_idle_timeout_add_listener(kdeTimeout_, &kListener, this);
        }
        Flush();
    }

    void DropWatch() {
        if (extNotification_) ext_idle_notification_v1_destroy(extNotification_);
        if (kdeTimeout_) org_kde_kwin_idle_timeout_release(kdeTimeout_);
        extNotification_ = nullptr;
        kdeTimeout_ = nullptr;
    }

    // The protocols promise one idle before each resumed; the loop is told
    // each change once whatever the compositor sends.
    void ReportIdle() {
        if (idle_) return;
        idle_ = true;
        if (events_.idle) events_.idle();
    }
    void ReportActive() {
        if (!idle_) return;
        idle_ = false;
        if (events_.active) events_.active();
    }

    static void ExtIdled(void *data, ext_idle_notification_v1 *notification) {
        auto *self = static_cast<WaylandIdle *>(data);
        if (notification == self->extNotification_) self->ReportIdle();
    }
    static void ExtResumed(void *data, ext_idle_notification_v1 *notification) {
        auto *self = static_cast<WaylandIdle *>(data);
        if (notification == self->extNotification_) self->ReportActive();
    }
    static void KdeIdle(void *data, org_kde_kwin_idle_timeout *timeout) {
        auto *self = static_cast<WaylandIdle *>(data);
        if (timeout == self->kdeTimeout_) self->ReportIdle();
    }
    static void KdeResumed(void *data, org_kde_kwin_idle_timeout *timeout) {
        auto *self = static_cast<WaylandIdle *>(data);
        if (timeout == self->kdeTimeout_) self->ReportActive();
    }

    bool Lose() {
        if (!lost_) {
            lost_ = true;
            if (events_.ended) events_.ended();
        }
        return false;
    }

    wl_display *display_;
    IdleEvents events_;
    wl_registry *registry_ = nullptr;
    wl_seat *seat_ = nullptr;
    uint32_t seatName_ = 0;
    std::vector<std::pair<uint32_t, uint32_t>> spareSeats_;  // global names and versions
    ext_idle_notifier_v1 *extNotifier_ = nullptr;
    uint32_t extName_ = 0;
    org_kde_kwin_idle *kdeIdle_ = nullptr;
    uint32_t kdeName_ = 0;
    ext_idle_notification_v1 *extNotification_ = nullptr;
    org_kde_kwin_idle_timeout *kdeTimeout_ = nullptr;
    unsigned armedSeconds_ = 0;
    bool armed_ = false;
    bool idle_ = false;
    bool lost_ = false;
};

}  // namespace

std::unique_ptr<IdleSource> OpenWaylandIdle(const IdleEvents &events, std::string *why) {
    std::string ignored;
    if (!why) why = &ignored;
    const char *name = getenv("WAYLAND_DISPLAY");
    if (!name || !*name) {
        *why = "WAYLAND_DISPLAY is not set";
        return nullptr;
    }
    wl_display *display = wl_display_connect(nullptr);
    if (!display) {
        *why = std::string("the Wayland display \"") + name + "\" does not answer";
        return nullptr;
    }
    auto source = std::make_unique<WaylandIdle>(display, events);
    if (!source->Start(why)) return nullptr;
    return source;
}

}  // namespace idle
