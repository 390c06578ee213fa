// The watcher's settings: the two values the system's panel writes under
// Control Panel\Desktop, read from the registry file and read again when the
// file changes.
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "idle/watcher_internal.h"
#include "registry/store.h"

namespace idle {

namespace {

const char kDesktopKey[] = "Control Panel\\Desktop";

// A whole number as Windows keeps these settings: a decimal string (spaces
// around it tolerated) or a REG_DWORD. Nothing when it is neither.
std::optional<long long> NumberOf(const vantrel::registry::Value *value) {
    if (!value) return std::nullopt;
    const std::vector<BYTE> &data = value->data;
    if (value->type == REG_DWORD) {
        if (data.size() != 4) return std::nullopt;
        return (long long)((DWORD)data[0] | (DWORD)data[1] << 8 | (DWORD)data[2] << 16 | (DWORD)data[3] << 24);
    }
    if (value->type != REG_SZ && value->type != REG_EXPAND_SZ) return std::nullopt;
    std::string text(data.begin(), data.end());
    text = text.substr(0, text.find('\0'));
    size_t at = text.find_first_not_of(" \t");
    if (at == std::string::npos) return std::nullopt;
    bool negative = false;
    if (text[at] == '-' || text[at] == '+') negative = text[at++] == '-';
    if (at >= text.size() || text[at] < '0' || text[at] > '9') return std::nullopt;
    long long number = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        // Past any sane setting already; saturating keeps it from overflowing.
        if (number < 1000000000000LL) number = number * 10 + (text[at] - '0');
    }
    if (text.find_first_not_of(" \t", at) != std::string::npos) return std::nullopt;
    return negative ? -number : number;
}

}  // namespace

DesktopSettings SettingsFromValues(const vantrel::registry::Value *active, const vantrel::registry::Value *timeout) {
    DesktopSettings settings;
    if (std::optional<long long> on = NumberOf(active)) settings.active = *on != 0;
    if (std::optional<long long> seconds = NumberOf(timeout)) {
        // No wait at all is no setting: a saver a second after every input
        // would keep the user from the desktop, and one that never comes is
        // what ScreenSaveActive "0" is for. The panel reads it the same way.
        if (*seconds < 1) settings.timeoutSeconds = DesktopSettings().timeoutSeconds;
        else if (*seconds > kLongestTimeoutSeconds) settings.timeoutSeconds = kLongestTimeoutSeconds;
        else settings.timeoutSeconds = (unsigned)*seconds;
    }
    return settings;
}

DesktopSettings ReadDesktopSettings(const std::string &path) {
    // The store reads its file once; naming it again makes it read the file
    // as it is now.
    vantrel::registry::UseFile(path);
    DesktopSettings settings = SettingsFromValues(vantrel::registry::FindValue(kDesktopKey, "ScreenSaveActive"),
                                                  vantrel::registry::FindValue(kDesktopKey, "ScreenSaveTimeOut"));
    vantrel::registry::CloseAllKeys();
    return settings;
}

FileWatch::FileWatch(const std::string &path) {
    if (path.empty()) {
        problem_ = "no settings file";
        return;
    }
    size_t slash = path.rfind('/');
    folder_ = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    name_ = slash == std::string::npos ? path : path.substr(slash + 1);
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) {
        problem_ = std::string("inotify: ") + std::strerror(errno);
        return;
    }
    AddWatch();
}

FileWatch::~FileWatch() {
    if (fd_ >= 0) close(fd_);
}

void FileWatch::AddWatch() {
    // The panel creates the folder on its first save; made here (with any
    // parent missing, as on a fresh account), a first save is noticed too.
    for (size_t slash = folder_.find('/', 1); slash != std::string::npos; slash = folder_.find('/', slash + 1))
        mkdir(folder_.substr(0, slash).c_str(), 0700);
    mkdir(folder_.c_str(), 0700);
    watch_ = inotify_add_watch(fd_, folder_.c_str(),
                               IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE |
                                   IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
    if (watch_ < 0) problem_ = folder_ + ": " + std::strerror(errno);
    else problem_.clear();
}

bool FileWatch::Changed() {
    if (fd_ < 0) return false;
    bool changed = false, lost = false;
    alignas(inotify_event) char buffer[8192];
    for (;;) {
        ssize_t got = read(fd_, buffer, sizeof buffer);
        if (got <= 0) break;
        for (ssize_t at = 0; at + (ssize_t)sizeof(inotify_event) <= got;) {
            const inotify_event *event = reinterpret_cast<const inotify_event *>(buffer + at);
            size_t size = sizeof(inotify_event) + event->len;
            if (at + (ssize_t)size > got) break;
            if (event->mask & IN_Q_OVERFLOW) changed = true;
            if (event->wd == watch_ && (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF))) lost = true;
            if (event->len > 0 && name_ == std::string(event->name, strnlen(event->name, event->len))) changed = true;
            at += (ssize_t)size;
        }
    }
    if (lost) {
        // The folder itself went or moved: watch whatever has its name now.
        // (The old watch's own IN_IGNORED that this may bring names a
        // descriptor no longer ours.)
        if (watch_ >= 0) inotify_rm_watch(fd_, watch_);
        watch_ = -1;
        AddWatch();
        changed = true;
    }
    return changed;
}

}  // namespace idle
