// Idle on GNOME: mutter's IdleMonitor on the session bus. One idle watch of
// the armed length; once it fires, a one-shot user-active watch for the
// input that ends it. mutter holds idle watches back while gnome-session
// has idle inhibited, so GNOME's own inhibitors need nothing from us.
#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstring>

#include "idle/watcher.h"

namespace idle {

namespace {

constexpr char kName[] = "org.gnome.Mutter.IdleMonitor";
constexpr char kPath[] = "/org/gnome/Mutter/IdleMonitor/Core";
constexpr char kInterface[] = "org.gnome.Mutter.IdleMonitor";
// mutter answers at once; a compositor that does not within this is hung,
// and the watcher must not hang with it.
constexpr std::uint64_t kCallTimeout = 5'000'000;

class GnomeIdleMonitor final : public IdleSource {
  public:
    GnomeIdleMonitor(sd_bus *bus, const IdleEvents &events) : bus(sd_bus_ref(bus)), events(events) {}
    ~GnomeIdleMonitor() override {
        RemoveWatches();
        sd_bus_slot_unref(firedSlot);
        sd_bus_slot_unref(ownerSlot);
        sd_bus_flush(bus);
        sd_bus_unref(bus);
    }

    std::string Name() const override { return "org.gnome.Mutter.IdleMonitor (GNOME)"; }
    int Fd() const override { return -1; }
    bool Dispatch() override { return !gone; }
    void Arm(unsigned seconds) override {
        RemoveWatches();
        if (gone)
            return;
        std::uint64_t interval = static_cast<std::uint64_t>(seconds ? seconds : 1) * 1000;
        idleWatch = Call("AddIdleWatch", "t", interval);
    }
    void Disarm() override { RemoveWatches(); }
    bool CountsDesktopInhibitors() const override { return true; }

    bool Start(std::string *why);

  private:
    static int OnWatchFired(sd_bus_message *message, void *self, sd_bus_error *);
    static int OnOwnerChanged(sd_bus_message *message, void *self, sd_bus_error *);

    // A method of the monitor that answers a watch id; 0 when it failed.
    template <typename... Args> std::uint32_t Call(const char *member, const char *types, Args... args) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message *call = nullptr, *reply = nullptr;
        std::uint32_t id = 0;
        if (sd_bus_message_new_method_call(bus, &call, owner.c_str(), kPath, kInterface, member) >= 0 &&
            (!*types || sd_bus_message_append(call, types, args...) >= 0) &&
            sd_bus_call(bus, call, kCallTimeout, &error, &reply) >= 0 && sd_bus_message_read(reply, "u", &id) < 0)
            id = 0;
        sd_bus_message_unref(call);
        sd_bus_message_unref(reply);
        sd_bus_error_free(&error);
        return id;
    }
    void Remove(std::uint32_t *id) {
        if (*id && !gone)
            sd_bus_call_method(bus, owner.c_str(), kPath, kInterface, "RemoveWatch", nullptr, nullptr, "u", *id);
        *id = 0;
    }
    void RemoveWatches() {
        Remove(&idleWatch);
        Remove(&activeWatch);
    }

    sd_bus *bus;
    IdleEvents events;
    // The monitor's unique name: watches belong to the mutter that made
    // them, and only its WatchFired counts.
    std::string owner;
    sd_bus_slot *firedSlot = nullptr;
    sd_bus_slot *ownerSlot = nullptr;
    std::uint32_t idleWatch = 0;
    std::uint32_t activeWatch = 0;
    bool gone = false;
};

int GnomeIdleMonitor::OnWatchFired(sd_bus_message *message, void *self, sd_bus_error *) {
    auto *monitor = static_cast<GnomeIdleMonitor *>(self);
    const char *sender = sd_bus_message_get_sender(message);
    std::uint32_t id = 0;
    if (!sender || monitor->owner != sender || sd_bus_message_read(message, "u", &id) < 0 || id == 0)
        return 0;
    if (id == monitor->idleWatch) {
        // The idle watch stays: mutter fires it again after the next input
        // and the same quiet time.
        if (!monitor->activeWatch)
            monitor->activeWatch = monitor->Call("AddUserActiveWatch", "");
        if (monitor->events.idle)
            monitor->events.idle();
    } else if (id == monitor->activeWatch) {
        // mutter drops a user-active watch once it fired.
        monitor->activeWatch = 0;
        if (monitor->events.active)
            monitor->events.active();
    }
    return 0;
}

int GnomeIdleMonitor::OnOwnerChanged(sd_bus_message *message, void *self, sd_bus_error *) {
    auto *monitor = static_cast<GnomeIdleMonitor *>(self);
    const char *name = nullptr, *oldOwner = nullptr, *newOwner = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) < 0 || std::strcmp(name, kName) != 0 ||
        monitor->gone || monitor->owner != oldOwner)
        return 0;
    // Whoever takes the name next is another compositor, and another session.
    monitor->gone = true;
    monitor->idleWatch = monitor->activeWatch = 0;
    if (monitor->events.ended)
        monitor->events.ended();
    return 0;
}

bool GnomeIdleMonitor::Start(std::string *why) {
    // The name's leaving is followed from before its owner is asked for, so
    // that a mutter ending in between is not missed.
    int r = sd_bus_match_signal(bus, &ownerSlot, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                "NameOwnerChanged", OnOwnerChanged, this);
    if (r < 0) {
        *why = std::string("cannot follow ") + kName + " on the session bus: " + std::strerror(-r);
        return false;
    }
    const char *unique = nullptr;
    sd_bus_creds *creds = nullptr;
    r = sd_bus_get_name_creds(bus, kName, SD_BUS_CREDS_UNIQUE_NAME, &creds);
    if (r >= 0 && sd_bus_creds_get_unique_name(creds, &unique) >= 0 && unique)
        owner = unique;
    sd_bus_creds_unref(creds);
    if (owner.empty()) {
        *why = std::string("nobody owns ") + kName + " on the session bus";
        return false;
    }
    // mutter sends WatchFired to the watch's maker alone.
    r = sd_bus_match_signal(bus, &firedSlot, owner.c_str(), kPath, kInterface, "WatchFired", OnWatchFired, this);
    if (r < 0) {
        *why = std::string("cannot follow ") + kName + "'s WatchFired: " + std::strerror(-r);
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<IdleSource> OpenGnomeIdleMonitor(sd_bus *session, const IdleEvents &events, std::string *why) {
    if (!session) {
        *why = "no session bus";
        return nullptr;
    }
    auto monitor = std::make_unique<GnomeIdleMonitor>(session, events);
    if (!monitor->Start(why))
        return nullptr;
    return monitor;
}

}  // namespace idle
