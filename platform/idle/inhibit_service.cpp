// org.freedesktop.ScreenSaver's inhibit calls, where the desktop serves none.
// Video players and browsers hold idle off through it; each inhibit is kept
// under its caller's unique bus name, so that a caller that crashes or is
// killed takes its inhibits with it when it leaves the bus.
#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "idle/inhibit_book.h"
#include "idle/watcher.h"

namespace idle {

namespace {

constexpr char kName[] = "org.freedesktop.ScreenSaver";
constexpr char kInterface[] = "org.freedesktop.ScreenSaver";
// Firefox and Qt programs call the first, Chromium and GLib ones the second.
constexpr const char *kPaths[] = {"/ScreenSaver", "/org/freedesktop/ScreenSaver"};

class ScreenSaverService final : public Inhibitors {
  public:
    ScreenSaverService(sd_bus *bus, std::function<void()> changed) : bus(sd_bus_ref(bus)), changed(std::move(changed)) {}
    ~ScreenSaverService() override {
        for (sd_bus_slot *slot : slots)
            sd_bus_slot_unref(slot);
        if (owned)
            sd_bus_release_name(bus, kName);
        sd_bus_flush(bus);
        sd_bus_unref(bus);
    }

    bool Held() const override { return book.Held(); }
    std::vector<std::string> Holders() const override { return book.Holders(); }

    // Serves the object and then asks for the name; false with *why when
    // someone else has it or the bus refuses.
    bool Start(std::string *why);

  private:
    static int OnInhibit(sd_bus_message *message, void *self, sd_bus_error *error);
    static int OnUnInhibit(sd_bus_message *message, void *self, sd_bus_error *error);
    static int OnOwnerChanged(sd_bus_message *message, void *self, sd_bus_error *error);
    static const sd_bus_vtable kVtable[];

    // Runs a change of the book and says so when Held() flipped.
    template <typename Change> auto Changing(Change change) {
        bool before = book.Held();
        auto result = change();
        if (book.Held() != before && changed)
            changed();
        return result;
    }

    sd_bus *bus;
    std::function<void()> changed;
    InhibitBook book;
    std::vector<sd_bus_slot *> slots;
    bool owned = false;
};

const sd_bus_vtable ScreenSaverService::kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD_WITH_NAMES("Inhibit", "ss", SD_BUS_PARAM(application_name) SD_BUS_PARAM(reason_for_inhibit), "u",
                             SD_BUS_PARAM(cookie), ScreenSaverService::OnInhibit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("UnInhibit", "u", SD_BUS_PARAM(cookie), "", , ScreenSaverService::OnUnInhibit,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

int ScreenSaverService::OnInhibit(sd_bus_message *message, void *self, sd_bus_error *error) {
    auto *service = static_cast<ScreenSaverService *>(self);
    const char *sender = sd_bus_message_get_sender(message);
    const char *application = nullptr, *reason = nullptr;
    if (!sender)
        return sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED, "An inhibit needs a caller on the bus.");
    if (sd_bus_message_read(message, "ss", &application, &reason) < 0)
        return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS, "Inhibit takes (application, reason).");
    std::uint32_t cookie = service->Changing([&] { return service->book.Take(sender, application, reason); });
    if (!cookie)
        return sd_bus_error_set(error, SD_BUS_ERROR_LIMITS_EXCEEDED, "Too many inhibits are held.");
    return sd_bus_reply_method_return(message, "u", cookie);
}

int ScreenSaverService::OnUnInhibit(sd_bus_message *message, void *self, sd_bus_error *error) {
    auto *service = static_cast<ScreenSaverService *>(self);
    const char *sender = sd_bus_message_get_sender(message);
    std::uint32_t cookie = 0;
    if (!sender)
        return sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED, "An inhibit needs a caller on the bus.");
    if (sd_bus_message_read(message, "u", &cookie) < 0)
        return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS, "UnInhibit takes a cookie.");
    switch (service->Changing([&] { return service->book.Give(sender, cookie); })) {
    case InhibitBook::Release::Released:
        return sd_bus_reply_method_return(message, "");
    case InhibitBook::Release::NotYours:
        return sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED, "That inhibit belongs to another caller.");
    case InhibitBook::Release::Unknown:
        break;
    }
    return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS, "No inhibit has that cookie.");
}

// A unique name whose owner went: every inhibit it held ends with it.
int ScreenSaverService::OnOwnerChanged(sd_bus_message *message, void *self, sd_bus_error *) {
    auto *service = static_cast<ScreenSaverService *>(self);
    const char *name = nullptr, *oldOwner = nullptr, *newOwner = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) < 0)
        return 0;
    if (name[0] == ':' && newOwner[0] == '\0')
        service->Changing([&] { return service->book.DropOwner(name); });
    return 0;
}

// "org.freedesktop.ScreenSaver is served by :1.7 (pid 812, ksmserver)".
std::string DescribeOwner(sd_bus *bus) {
    std::string text = std::string(kName) + " is served by another program";
    sd_bus_creds *creds = nullptr;
    if (sd_bus_get_name_creds(bus, kName, SD_BUS_CREDS_UNIQUE_NAME | SD_BUS_CREDS_PID | SD_BUS_CREDS_COMM, &creds) < 0)
        return text;
    const char *unique = nullptr, *comm = nullptr;
    pid_t pid = 0;
    if (sd_bus_creds_get_unique_name(creds, &unique) >= 0 && unique) {
        text = std::string(kName) + " is served by " + PrintableClip(unique, 64);
        bool hasPid = sd_bus_creds_get_pid(creds, &pid) >= 0 && pid > 0;
        bool hasComm = sd_bus_creds_get_comm(creds, &comm) >= 0 && comm;
        if (hasPid || hasComm) {
            text += " (";
            if (hasPid)
                text += "pid " + std::to_string(pid) + (hasComm ? ", " : "");
            if (hasComm)
                text += PrintableClip(comm, 32);
            text += ")";
        }
    }
    sd_bus_creds_unref(creds);
    return text;
}

bool ScreenSaverService::Start(std::string *why) {
    // The match first: a caller that inhibits and leaves at once is seen to
    // leave after its call, never before.
    sd_bus_slot *slot = nullptr;
    int r = sd_bus_match_signal(bus, &slot, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                "NameOwnerChanged", OnOwnerChanged, this);
    if (r < 0) {
        *why = std::string("cannot follow callers on the session bus: ") + std::strerror(-r);
        return false;
    }
    slots.push_back(slot);
    for (const char *path : kPaths) {
        r = sd_bus_add_object_vtable(bus, &slot, path, kInterface, kVtable, this);
        if (r < 0) {
            *why = std::string("cannot serve ") + path + ": " + std::strerror(-r);
            return false;
        }
        slots.push_back(slot);
    }
    // Not queued: when the desktop serves the name, its idle already
    // honours the inhibits it takes, and ours would see none.
    r = sd_bus_request_name(bus, kName, 0);
    if (r == -EEXIST) {
        *why = DescribeOwner(bus) + ", whose idle honours its inhibits";
        return false;
    }
    if (r < 0) {
        *why = std::string("cannot own ") + kName + ": " + std::strerror(-r);
        return false;
    }
    owned = true;
    return true;
}

}  // namespace

std::unique_ptr<Inhibitors> ServeScreenSaverInhibit(sd_bus *session, std::function<void()> changed, std::string *why) {
    if (!session) {
        *why = "no session bus";
        return nullptr;
    }
    auto service = std::make_unique<ScreenSaverService>(session, std::move(changed));
    if (!service->Start(why))
        return nullptr;
    return service;
}

}  // namespace idle
