// A stand-in for logind on a private system bus: the few calls the saver's
// verifier and the watcher make, with the lock's behaviour chosen per test.
//
//   logind_standin --mode lock-after:MS|never|refuse|no-session [--session-id ID]
//
// Connects to the bus named by DBUS_SYSTEM_BUS_ADDRESS, owns
// org.freedesktop.login1, prints "ready" once it does, and then one line per
// event a test counts: "lock-requested <seconds>" for each Lock call (refused
// ones too) and "locked <seconds>" when LockedHint turns true (realtime
// seconds with milliseconds, comparable with `date +%s.%N`). Ends with 0 on
// SIGTERM or SIGINT, and when its bus goes.
#include <signal.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>
#include <time.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

enum class Mode { LockAfter, Never, Refuse, NoSession };

constexpr char kManagerPath[] = "/org/freedesktop/login1";
constexpr char kManagerInterface[] = "org.freedesktop.login1.Manager";
constexpr char kSessionInterface[] = "org.freedesktop.login1.Session";

struct StandIn {
    Mode mode = Mode::Never;
    std::uint64_t lockAfterUs = 0;
    std::string sessionId = "c1";
    std::string sessionPath;
    bool locked = false;
    sd_bus *bus = nullptr;
    sd_event *loop = nullptr;
    sd_event_source *pendingLock = nullptr;
} standIn;

void Note(const char *what) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::printf("%s %lld.%03ld\n", what, static_cast<long long>(now.tv_sec), now.tv_nsec / 1000000);
    std::fflush(stdout);
}

void SetLocked(bool locked) {
    if (standIn.locked == locked)
        return;
    standIn.locked = locked;
    sd_bus_emit_properties_changed(standIn.bus, standIn.sessionPath.c_str(), kSessionInterface, "LockedHint",
                                   nullptr);
    if (locked)
        Note("locked");
}

int NoSession(sd_bus_error *error) {
    return sd_bus_error_set(error, "org.freedesktop.login1.NoSessionForPID",
                            "The caller does not belong to any known session");
}

int ReplySession(sd_bus_message *call) {
    return sd_bus_reply_method_return(call, "o", standIn.sessionPath.c_str());
}

int GetSession(sd_bus_message *call, void *, sd_bus_error *error) {
    const char *id = nullptr;
    int r = sd_bus_message_read(call, "s", &id);
    if (r < 0)
        return r;
    if (standIn.mode == Mode::NoSession)
        return NoSession(error);
    if (std::strcmp(id, "auto") != 0 && std::strcmp(id, "") != 0 && standIn.sessionId != id)
        return sd_bus_error_setf(error, "org.freedesktop.login1.NoSuchSession", "No session '%s' known", id);
    return ReplySession(call);
}

int GetSessionByPid(sd_bus_message *call, void *, sd_bus_error *error) {
    std::uint32_t pid = 0;
    int r = sd_bus_message_read(call, "u", &pid);
    if (r < 0)
        return r;
    if (standIn.mode == Mode::NoSession)
        return NoSession(error);
    return ReplySession(call);
}

int ListInhibitors(sd_bus_message *call, void *, sd_bus_error *) {
    sd_bus_message *reply = nullptr;
    int r = sd_bus_message_new_method_return(call, &reply);
    if (r >= 0)
        r = sd_bus_message_open_container(reply, 'a', "(ssssuu)");
    if (r >= 0)
        r = sd_bus_message_close_container(reply);
    if (r >= 0)
        r = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return r;
}

int LockTimeUp(sd_event_source *source, std::uint64_t, void *) {
    sd_event_source_unref(source);
    standIn.pendingLock = nullptr;
    SetLocked(true);
    return 0;
}

int Lock(sd_bus_message *call, void *, sd_bus_error *error) {
    Note("lock-requested");
    if (standIn.mode == Mode::Refuse)
        return sd_bus_error_set(error, "org.freedesktop.DBus.Error.AccessDenied", "Locking is not allowed here");
    // logind tells the session's locker through this signal.
    sd_bus_emit_signal(standIn.bus, standIn.sessionPath.c_str(), kSessionInterface, "Lock", "");
    if (standIn.mode == Mode::LockAfter && !standIn.locked && !standIn.pendingLock) {
        int r = sd_event_add_time_relative(standIn.loop, &standIn.pendingLock, CLOCK_MONOTONIC, standIn.lockAfterUs,
                                           0, LockTimeUp, nullptr);
        if (r < 0)
            return sd_bus_error_set_errno(error, r);
    }
    return sd_bus_reply_method_return(call, "");
}

int Unlock(sd_bus_message *call, void *, sd_bus_error *) {
    if (standIn.pendingLock) {
        sd_event_source_unref(standIn.pendingLock);
        standIn.pendingLock = nullptr;
    }
    SetLocked(false);
    sd_bus_emit_signal(standIn.bus, standIn.sessionPath.c_str(), kSessionInterface, "Unlock", "");
    return sd_bus_reply_method_return(call, "");
}

int SetLockedHint(sd_bus_message *call, void *, sd_bus_error *) {
    int locked = 0;
    int r = sd_bus_message_read(call, "b", &locked);
    if (r < 0)
        return r;
    SetLocked(locked != 0);
    return sd_bus_reply_method_return(call, "");
}

int LockedHintProperty(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *,
                       sd_bus_error *) {
    return sd_bus_message_append(reply, "b", static_cast<int>(standIn.locked));
}

int IdProperty(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *, sd_bus_error *) {
    return sd_bus_message_append(reply, "s", standIn.sessionId.c_str());
}

int ActiveProperty(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *,
                   sd_bus_error *) {
    return sd_bus_message_append(reply, "b", 1);
}

int BlockInhibitedProperty(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *,
                           sd_bus_error *) {
    return sd_bus_message_append(reply, "s", "");
}

const sd_bus_vtable kManagerVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("GetSession", "s", "o", GetSession, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetSessionByPID", "u", "o", GetSessionByPid, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ListInhibitors", "", "a(ssssuu)", ListInhibitors, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_PROPERTY("BlockInhibited", "s", BlockInhibitedProperty, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_VTABLE_END,
};

const sd_bus_vtable kSessionVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Lock", "", "", Lock, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Unlock", "", "", Unlock, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("SetLockedHint", "b", "", SetLockedHint, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_PROPERTY("LockedHint", "b", LockedHintProperty, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_PROPERTY("Id", "s", IdProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Active", "b", ActiveProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_SIGNAL("Lock", "", 0),
    SD_BUS_SIGNAL("Unlock", "", 0),
    SD_BUS_VTABLE_END,
};

int Usage() {
    std::fprintf(stderr,
                 "usage: logind_standin --mode lock-after:MS|never|refuse|no-session [--session-id ID]\n");
    return 2;
}

bool ParseMode(const char *text) {
    constexpr char kLockAfter[] = "lock-after:";
    if (std::strncmp(text, kLockAfter, sizeof kLockAfter - 1) == 0) {
        const char *digits = text + sizeof kLockAfter - 1;
        char *end = nullptr;
        errno = 0;
        unsigned long ms = std::strtoul(digits, &end, 10);
        if (*digits < '0' || *digits > '9' || *end || errno || ms > 3600000)
            return false;
        standIn.mode = Mode::LockAfter;
        standIn.lockAfterUs = static_cast<std::uint64_t>(ms) * 1000;
        return true;
    }
    if (std::strcmp(text, "never") == 0)
        standIn.mode = Mode::Never;
    else if (std::strcmp(text, "refuse") == 0)
        standIn.mode = Mode::Refuse;
    else if (std::strcmp(text, "no-session") == 0)
        standIn.mode = Mode::NoSession;
    else
        return false;
    return true;
}

int Fail(const char *what, int r) {
    std::fprintf(stderr, "logind_standin: %s: %s\n", what, std::strerror(r < 0 ? -r : r));
    return 1;
}

}  // namespace

int main(int argc, char **argv) {
    bool haveMode = false;
    for (int at = 1; at < argc; at += 2) {
        if (at + 1 >= argc)
            return Usage();
        if (std::strcmp(argv[at], "--mode") == 0) {
            if (!ParseMode(argv[at + 1]))
                return Usage();
            haveMode = true;
        } else if (std::strcmp(argv[at], "--session-id") == 0 && argv[at + 1][0]) {
            standIn.sessionId = argv[at + 1];
        } else {
            return Usage();
        }
    }
    if (!haveMode)
        return Usage();

    char *path = nullptr;
    int r = sd_bus_path_encode("/org/freedesktop/login1/session", standIn.sessionId.c_str(), &path);
    if (r < 0)
        return Fail("session path", r);
    standIn.sessionPath = path;
    std::free(path);

    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigprocmask(SIG_BLOCK, &stops, nullptr);

    if ((r = sd_event_default(&standIn.loop)) < 0)
        return Fail("event loop", r);
    // A null handler ends the loop, with 0.
    sd_event_add_signal(standIn.loop, nullptr, SIGTERM, nullptr, nullptr);
    sd_event_add_signal(standIn.loop, nullptr, SIGINT, nullptr, nullptr);

    if ((r = sd_bus_open_system(&standIn.bus)) < 0)
        return Fail("no system bus", r);
    sd_bus_set_exit_on_disconnect(standIn.bus, 1);
    if ((r = sd_bus_add_object_vtable(standIn.bus, nullptr, kManagerPath, kManagerInterface, kManagerVtable,
                                      nullptr)) < 0)
        return Fail("manager object", r);
    if ((r = sd_bus_add_object_vtable(standIn.bus, nullptr, standIn.sessionPath.c_str(), kSessionInterface,
                                      kSessionVtable, nullptr)) < 0)
        return Fail("session object", r);
    if ((r = sd_bus_attach_event(standIn.bus, standIn.loop, 0)) < 0)
        return Fail("attaching the bus", r);
    if ((r = sd_bus_request_name(standIn.bus, "org.freedesktop.login1", 0)) < 0)
        return Fail("owning org.freedesktop.login1", r);
    std::printf("ready\n");
    std::fflush(stdout);

    r = sd_event_loop(standIn.loop);
    sd_bus_flush_close_unref(standIn.bus);
    sd_event_unref(standIn.loop);
    return r < 0 ? Fail("event loop", r) : 0;
}
