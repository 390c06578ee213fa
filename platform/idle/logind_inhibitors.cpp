// logind's idle inhibitors (systemd-inhibit --what=idle ...). Older logind
// (systemd 252 and before, as Debian 12 has it) sends no PropertiesChanged
// for BlockInhibited, but every version keeps one state file per inhibitor
// in /run/systemd/inhibit: a change there is when we ask logind again.
#include <sys/inotify.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "idle/inhibit_book.h"
#include "idle/watcher.h"

namespace idle {

namespace {

constexpr char kName[] = "org.freedesktop.login1";
constexpr char kPath[] = "/org/freedesktop/login1";
constexpr char kInterface[] = "org.freedesktop.login1.Manager";
constexpr char kRunDir[] = "/run/systemd";
constexpr char kInhibitDir[] = "/run/systemd/inhibit";
constexpr std::uint64_t kCallTimeout = 5'000'000;
// Enough lines for a log; the rest are counted, not listed.
constexpr std::size_t kMaxHolders = 16;

class LogindInhibitors final : public Inhibitors {
  public:
    LogindInhibitors(sd_bus *bus, std::function<void()> changed) : bus(sd_bus_ref(bus)), changed(std::move(changed)) {}
    ~LogindInhibitors() override {
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

    sd_bus *bus;
    std::function<void()> changed;
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

    // Who holds it is for the log only: a failure here changes nothing else.
    std::vector<std::string> lines;
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
    if (folderWatch >= 0)
        return;
    folderWatch = inotify_add_watch(notify, kInhibitDir,
                                    IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE_SELF |
                                        IN_MOVE_SELF | IN_ONLYDIR);
    if (folderWatch >= 0 || parentWatch >= 0)
        return;
    parentWatch = inotify_add_watch(notify, kRunDir, IN_CREATE | IN_MOVED_TO | IN_ONLYDIR);
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

bool LogindInhibitors::Start(std::string *why) {
    notify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (notify < 0) {
        *why = std::string("cannot watch logind's inhibitors: ") + std::strerror(errno);
        return false;
    }
    // Watched before the first question, so that no change falls between.
    WatchFolder();
    if (folderWatch < 0 && parentWatch < 0) {
        *why = std::string("logind keeps no ") + kRunDir;
        return false;
    }
    return Query(why, false);
}

}  // namespace

std::unique_ptr<Inhibitors> WatchLogindInhibitors(sd_bus *system, std::function<void()> changed, std::string *why) {
    if (!system) {
        *why = "no system bus";
        return nullptr;
    }
    auto inhibitors = std::make_unique<LogindInhibitors>(system, std::move(changed));
    if (!inhibitors->Start(why))
        return nullptr;
    return inhibitors;
}

}  // namespace idle
