// The session's lock, asked of logind on the system bus. logind passes a
// Lock request on to the session's locker (GNOME Shell, KDE's screen locker,
// or whatever listens for the session's Lock signal); the locker sets the
// session's LockedHint once its shield is up. That hint is the only word
// that the screen is really locked, so it is what a close waits for.
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "password/password.h"

namespace password {

namespace {

constexpr const char *kService = "org.freedesktop.login1";
constexpr const char *kManagerPath = "/org/freedesktop/login1";
constexpr const char *kManager = "org.freedesktop.login1.Manager";
constexpr const char *kSession = "org.freedesktop.login1.Session";
// Between looks at the hint when no signal says it changed: a locker that
// sets it without logind's signal reaching us is still seen in time.
constexpr int kLookAgainMs = 250;
// How long one wait on the bus lasts before the saver's messages get a turn.
constexpr int kSliceMs = 15;
// A stranger's error text is shown on the screen: this much of it.
constexpr size_t kMaxErrorText = 160;

long long NowMs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

struct BusCloser {
    sd_bus *bus = nullptr;
    ~BusCloser() {
        if (bus) sd_bus_flush_close_unref(bus);
    }
};

struct ErrorHolder {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    ~ErrorHolder() { sd_bus_error_free(&error); }
};

// What another process put in an error, made fit for one line on a screen.
std::string Printable(const char *text) {
    std::string out;
    for (const char *c = text ? text : ""; *c && out.size() < kMaxErrorText; ++c)
        out += (*c >= 0x20 && *c < 0x7f) ? *c : ' ';
    if (out.empty()) out = "no reason given";
    return out;
}

uint64_t Usec(long long ms) { return (uint64_t)std::max(1LL, ms) * 1000; }

// A call that answers with one object path; empty when it fails.
std::string CallForPath(sd_bus *bus, const char *method, long long timeoutMs, const char *types, ...) {
    sd_bus_message *call = nullptr, *reply = nullptr;
    std::string path;
    if (sd_bus_message_new_method_call(bus, &call, kService, kManagerPath, kManager, method) >= 0) {
        va_list args;
        va_start(args, types);
        int r = sd_bus_message_appendv(call, types, args);
        va_end(args);
        ErrorHolder error;
        const char *found = nullptr;
        if (r >= 0 && sd_bus_call(bus, call, Usec(timeoutMs), &error.error, &reply) >= 0 &&
            sd_bus_message_read(reply, "o", &found) >= 0 && found)
            path = found;
    }
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    return path;
}

// The caller's own session, as logind resolves "auto", else by our pid.
std::string FindSession(sd_bus *bus, long long timeoutMs) {
    std::string path = CallForPath(bus, "GetSession", timeoutMs, "s", "auto");
    if (path.empty()) path = CallForPath(bus, "GetSessionByPID", timeoutMs, "u", (uint32_t)getpid());
    return path;
}

// 1 locked, 0 not, -1 the hint cannot be read.
int ReadLockedHint(sd_bus *bus, const std::string &session, long long timeoutMs) {
    sd_bus_message *call = nullptr, *reply = nullptr;
    int result = -1;
    if (sd_bus_message_new_method_call(bus, &call, kService, session.c_str(), "org.freedesktop.DBus.Properties",
                                       "Get") >= 0 &&
        sd_bus_message_append(call, "ss", kSession, "LockedHint") >= 0) {
        ErrorHolder error;
        int value = 0;
        if (sd_bus_call(bus, call, Usec(timeoutMs), &error.error, &reply) >= 0 &&
            sd_bus_message_read(reply, "v", "b", &value) >= 0)
            result = value ? 1 : 0;
    }
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    return result;
}

// Whether anyone holds logind's name on the bus.
bool HasOwner(sd_bus *bus, long long timeoutMs) {
    sd_bus_message *call = nullptr, *reply = nullptr;
    int owned = 0;
    if (sd_bus_message_new_method_call(bus, &call, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus", "NameHasOwner") >= 0 &&
        sd_bus_message_append(call, "s", kService) >= 0) {
        ErrorHolder error;
        if (sd_bus_call(bus, call, Usec(timeoutMs), &error.error, &reply) >= 0) sd_bus_message_read(reply, "b", &owned);
    }
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    return owned != 0;
}

int NoteChange(sd_bus_message *, void *changed, sd_bus_error *) {
    *static_cast<bool *>(changed) = true;
    return 0;
}

bool ContainsWord(const char *list, const char *word) {
    if (!list) return false;
    std::string all(list);
    size_t n = std::strlen(word);
    for (size_t start = 0; start <= all.size();) {
        size_t end = all.find(':', start);
        if (end == std::string::npos) end = all.size();
        std::string item = all.substr(start, end - start);
        if (item.size() == n && strncasecmp(item.c_str(), word, n) == 0) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

LockResult LockSession(int timeoutMs, const std::function<bool()> &keepWaiting) {
    const long long deadline = NowMs() + timeoutMs;
    auto left = [&] { return std::max(1LL, deadline - NowMs()); };
    BusCloser bus;
    if (sd_bus_open_system(&bus.bus) < 0 || !bus.bus)
        return {LockOutcome::NoBus, "no login manager answers on the system bus to lock the session"};
    std::string session = FindSession(bus.bus, left());
    if (session.empty()) {
        // Both lookups fail alike when nobody owns logind's name.
        if (!HasOwner(bus.bus, left())) return {LockOutcome::NoBus, "no login manager answers on the system bus to lock the session"};
        return {LockOutcome::NoSession, "the login manager knows no session of this program to lock"};
    }
    // Listening before asking: a locker may be quick.
    bool changed = false;
    sd_bus_slot *slot = nullptr;
    sd_bus_match_signal(bus.bus, &slot, kService, session.c_str(), "org.freedesktop.DBus.Properties",
                        "PropertiesChanged", NoteChange, &changed);
    {
        ErrorHolder error;
        sd_bus_message *reply = nullptr;
        int r = sd_bus_call_method(bus.bus, kService, session.c_str(), kSession, "Lock", &error.error, &reply, "");
        sd_bus_message_unref(reply);
        if (r < 0) {
            sd_bus_slot_unref(slot);
            return {LockOutcome::Refused,
                    "the login manager refused to lock the session: " + Printable(error.error.message)};
        }
    }
    LockResult result{LockOutcome::TimedOut, "the session did not report itself locked within " +
                                                 std::to_string((timeoutMs + 999) / 1000) + " s"};
    long long nextLook = 0;
    for (;;) {
        while (sd_bus_process(bus.bus, nullptr) > 0) {}
        long long now = NowMs();
        if (changed || now >= nextLook) {
            changed = false;
            nextLook = now + kLookAgainMs;
            if (ReadLockedHint(bus.bus, session, left()) == 1) {
                result = {LockOutcome::Locked, ""};
                break;
            }
        }
        if (!keepWaiting()) {
            result = {LockOutcome::Abandoned, "the run is ending"};
            break;
        }
        now = NowMs();
        if (now >= deadline) break;
        sd_bus_wait(bus.bus, Usec(std::min<long long>(kSliceMs, deadline - now)));
    }
    sd_bus_slot_unref(slot);
    return result;
}

bool LockOffered(std::string *reason) {
    std::string why;
    // swaylock, under swayidle's lock event, locks the screen but never
    // tells the session so: a close would wait for a hint that never comes.
    const char *sway = std::getenv("SWAYSOCK");
    if ((sway && *sway) || ContainsWord(std::getenv("XDG_CURRENT_DESKTOP"), "sway")) {
        why = "swaylock does not tell the session when it has locked the screen";
    } else {
        constexpr long long kAskMs = 2000;
        BusCloser bus;
        std::string session;
        if (sd_bus_open_system(&bus.bus) < 0 || !bus.bus || !HasOwner(bus.bus, kAskMs))
            why = "no login manager answers on the system bus";
        else if ((session = FindSession(bus.bus, kAskMs)).empty())
            why = "the login manager knows no session of this program";
        else if (ReadLockedHint(bus.bus, session, kAskMs) < 0)
            why = "the session does not report whether it is locked";
    }
    if (reason) *reason = why;
    return why.empty();
}

}  // namespace password
