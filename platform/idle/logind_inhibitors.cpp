// logind's idle inhibitors (systemd-inhibit --what=idle ...). logind sends
// PropertiesChanged for BlockInhibited when the set of blocked words
// changes, but some versions sent the value from before a release, and a
// second inhibitor of a kind already blocked changes nothing there. So the
// signal is only the cue to ask again; and since logind keeps one state
// file per inhibitor in /run/systemd/inhibit, a change in that folder is
// one too (it also keeps the holders we log up to date).
//
// A locked session holds idle too: the locker owns the screen then, and a
// saver started under it would be seen by nobody until the unlock, when it
// would stand between the user and the desktop and, protected, lock the
// session again. The session's LockedHint is followed like BlockInhibited.
#include <sys/inotify.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "idle/inhibit_book.h"
#include "idle/logind_inhibitors.h"
#include "idle/watcher.h"

namespace idle {

namespace {

constexpr char kName[] = "org.freedesktop.login1";
constexpr char kPath[] = "/org/freedesktop/login1";
constexpr char kInterface[] = "org.freedesktop.login1.Manager";
constexpr char kSessionInterface[] = "org.freedesktop.login1.Session";
constexpr std::uint64_t kCallTimeout = 5'000'000;
// Enough lines for a log; the rest are counted, not listed.
constexpr std::size_t kMaxHolders = 16;

class LogindInhibitors final : public Inhibitors {
  public:
    LogindInhibitors(sd_bus *bus, std::function<void()> changed, std::string runDir)
        : bus(sd_bus_ref(bus)), changed(std::move(changed)), runDir(std::move(runDir)), inhibitDir(this->runDir + "/inhibit") {}
    ~LogindInhibitors() override {
        sd_bus_slot_unref(signalSlot);
        sd_bus_slot_unref(sessionSlot);
        if (notify >= 0)
            close(notify);
        sd_bus_unref(bus);
    }

    bool Held() const override { return held; }
    std::vector<std::string> Holders() const override { return holders; }
    int Fd() const override { return notify; }
    void Dispatch() override;

    bool Start(std::string *why);

  private:
    // BlockInhibited and the idle inhibitors; false when logind did not
    // answer (then what we knew stays). `tell`: call changed on a flip.
    bool Query(std::string *why, bool tell);
    // The inhibitor folder when it is there, else its parent, for the
    // folder's making (logind makes it with the first inhibitor).
    void WatchFolder();
    // Our own session's object, as logind resolves "auto"; empty without one.
    std::string FindSession();
    static int OnPropertiesChanged(sd_bus_message *message, void *self, sd_bus_error *);
    static int OnSessionChanged(sd_bus_message *message, void *self, sd_bus_error *);

    sd_bus *bus;
    sd_bus_slot *signalSlot = nullptr;
    sd_bus_slot *sessionSlot = nullptr;
    std::string session;
    std::function<void()> changed;
    std::string runDir, inhibitDir;
    int notify = -1;
    int folderWatch = -1;
    int parentWatch = -1;
    bool held = false;
    std::vector<std::string> holders;
};

bool LogindInhibitors::Query(std::string *why, bool tell) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message *call = nullptr, *reply = nullptr;
    char *blocked = nullptr;
    int r = sd_bus_get_property_string(bus, kName, kPath, kInterface, "BlockInhibited", &error, &blocked);
    if (r < 0) {
        if (why)
            *why = std::string("logind does not answer on the system bus: ") +
                   PrintableClip(error.message ? error.message : std::strerror(-r), 160);
        sd_bus_error_free(&error);
        return false;
    }
    bool nowHeld = NamesIdle(blocked);
    std::free(blocked);
    int locked = 0;
    if (!session.empty() &&
        sd_bus_get_property_trivial(bus, kName, session.c_str(), kSessionInterface, "LockedHint", &error, 'b',
                                    &locked) < 0) {
        locked = 0;  // a session that cannot say is taken as open, as before we asked
        sd_bus_error_free(&error);
    }
    nowHeld = nowHeld || locked;

    // Who holds it is for the log only: a failure here changes nothing else.
    std::vector<std::string> lines;
    if (locked)
        lines.push_back("the session is locked");
    std::size_t more = 0;
    if (sd_bus_message_new_method_call(bus, &call, kName, kPath, kInterface, "ListInhibitors") >= 0 &&
        sd_bus_call(bus, call, kCallTimeout, &error, &reply) >= 0 &&
        sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "(ssssuu)") >= 0) {
        const char *what, *who, *reason, *mode;
        std::uint32_t uid, pid;
        while (sd_bus_message_read(reply, "(ssssuu)", &what, &who, &reason, &mode, &uid, &pid) > 0) {
            if (!NamesIdle(what) || std::strcmp(mode, "block") != 0)
                continue;
            if (lines.size() < kMaxHolders)
                lines.push_back(PrintableClip(who, InhibitBook::kMaxText) + " (" +
                                PrintableClip(reason, InhibitBook::kMaxText) + ")");
            else
                ++more;
        }
    }
    if (more)
        lines.push_back("and " + std::to_string(more) + " more");
    sd_bus_message_unref(call);
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);

    holders = std::move(lines);
    if (nowHeld != held) {
        held = nowHeld;
        if (tell && changed)
            changed();
    }
    return true;
}

void LogindInhibitors::WatchFolder() {
    if (folderWatch < 0)
        folderWatch = inotify_add_watch(notify, inhibitDir.c_str(),
                                        IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE_SELF |
                                            IN_MOVE_SELF | IN_ONLYDIR);
    // The parent only while the folder is missing: other services' files
    // come and go there, and each would wake us.
    if (folderWatch >= 0 && parentWatch >= 0) {
        inotify_rm_watch(notify, parentWatch);
        parentWatch = -1;
    } else if (folderWatch < 0 && parentWatch < 0) {
        parentWatch = inotify_add_watch(notify, runDir.c_str(), IN_CREATE | IN_MOVED_TO | IN_ONLYDIR);
    }
}

void LogindInhibitors::Dispatch() {
    // Only that something changed matters; the events themselves are
    // drained, and the folder's own end or making taken note of.
    alignas(inotify_event) char buffer[4096];
    bool any = false;
    while (true) {
        ssize_t n = read(notify, buffer, sizeof buffer);
        if (n <= 0)
            break;
        any = true;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            if (event->wd == folderWatch && (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF))) {
                inotify_rm_watch(notify, folderWatch);
                folderWatch = -1;
            }
            at += sizeof(inotify_event) + event->len;
        }
    }
    if (!any)
        return;
    WatchFolder();
    Query(nullptr, true);
}

// Whether a PropertiesChanged of `interface` names `property`, among the
// values sent or the ones only said to have changed.
bool MentionsProperty(sd_bus_message *message, const char *interface, const char *property) {
    const char *sentFor = nullptr, *name = nullptr;
    bool mentioned = false;
    if (sd_bus_message_read(message, "s", &sentFor) < 0 || std::strcmp(sentFor, interface) != 0 ||
        sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, "{sv}") < 0)
        return false;
    while (sd_bus_message_enter_container(message, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
        if (sd_bus_message_read(message, "s", &name) < 0 || sd_bus_message_skip(message, "v") < 0 ||
            sd_bus_message_exit_container(message) < 0)
            return false;
        mentioned = mentioned || std::strcmp(name, property) == 0;
    }
    if (sd_bus_message_exit_container(message) < 0)
        return false;
    if (sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, "s") > 0) {
        while (sd_bus_message_read(message, "s", &name) > 0)
            mentioned = mentioned || std::strcmp(name, property) == 0;
    }
    return mentioned;
}

int LogindInhibitors::OnPropertiesChanged(sd_bus_message *message, void *self, sd_bus_error *) {
    if (MentionsProperty(message, kInterface, "BlockInhibited"))
        static_cast<LogindInhibitors *>(self)->Query(nullptr, true);
    return 0;
}

int LogindInhibitors::OnSessionChanged(sd_bus_message *message, void *self, sd_bus_error *) {
    if (MentionsProperty(message, kSessionInterface, "LockedHint"))
        static_cast<LogindInhibitors *>(self)->Query(nullptr, true);
    return 0;
}

std::string LogindInhibitors::FindSession() {
    std::string path;
    for (const char *method : {"GetSession", "GetSessionByPID"}) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message *reply = nullptr;
        const char *found = nullptr;
        int r = std::strcmp(method, "GetSession") == 0
                    ? sd_bus_call_method(bus, kName, kPath, kInterface, method, &error, &reply, "s", "auto")
                    : sd_bus_call_method(bus, kName, kPath, kInterface, method, &error, &reply, "u",
                                         static_cast<std::uint32_t>(getpid()));
        if (r >= 0 && sd_bus_message_read(reply, "o", &found) >= 0 && found)
            path = found;
        sd_bus_message_unref(reply);
        sd_bus_error_free(&error);
        if (!path.empty())
            break;
    }
    return path;
}

bool LogindInhibitors::Start(std::string *why) {
    notify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (notify < 0) {
        *why = std::string("cannot watch logind's inhibitors: ") + std::strerror(errno);
        return false;
    }
    // Watched before the first question, so that no change falls between.
    int r = sd_bus_match_signal(bus, &signalSlot, kName, kPath, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                                OnPropertiesChanged, this);
    if (r < 0) {
        *why = std::string("cannot follow logind on the system bus: ") + std::strerror(-r);
        return false;
    }
    session = FindSession();
    if (!session.empty() && sd_bus_match_signal(bus, &sessionSlot, kName, session.c_str(),
                                                "org.freedesktop.DBus.Properties", "PropertiesChanged",
                                                OnSessionChanged, this) < 0)
        session.clear();  // not followed, so not asked either
    WatchFolder();
    if (folderWatch < 0 && parentWatch < 0) {
        *why = "logind keeps no " + runDir;
        return false;
    }
    return Query(why, false);
}

}  // namespace

std::unique_ptr<Inhibitors> WatchLogindInhibitors(sd_bus *system, std::function<void()> changed, std::string *why) {
    return WatchLogindInhibitorsIn(system, std::move(changed), why, "/run/systemd");
}

std::unique_ptr<Inhibitors> WatchLogindInhibitorsIn(sd_bus *system, std::function<void()> changed, std::string *why,
                                                    const std::string &runDir) {
    if (!system) {
        *why = "no system bus";
        return nullptr;
    }
    auto inhibitors = std::make_unique<LogindInhibitors>(system, std::move(changed), runDir);
    if (!inhibitors->Start(why))
        return nullptr;
    return inhibitors;
}

}  // namespace idle
