// A program that holds idle off through org.freedesktop.ScreenSaver, as a
// video player does.
//
//   inhibit_client [--path /ScreenSaver|/org/freedesktop/ScreenSaver] [APP [REASON]]
//
// Calls Inhibit(APP, REASON) on the session bus, prints "cookie N" and
// holds it until SIGTERM, SIGINT or the end of its standard input (so a
// script holds it with a pipe, and a closed pipe lets it go); then calls
// UnInhibit and exits 0. Killed with SIGKILL it simply leaves the bus. A
// call that fails ends it with 1 and the bus's message.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Fail(const char *what, int r, const sd_bus_error *error) {
    std::fprintf(stderr, "inhibit_client: %s: %s\n", what,
                 error && error->message ? error->message : std::strerror(r < 0 ? -r : r));
    return 1;
}

int Usage() {
    std::fprintf(stderr, "usage: inhibit_client [--path /ScreenSaver|/org/freedesktop/ScreenSaver] [APP [REASON]]\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    std::string path = "/org/freedesktop/ScreenSaver";
    const char *application = "inhibit_client";
    const char *reason = "playing a video";
    int at = 1;
    if (at < argc && std::strcmp(argv[at], "--path") == 0) {
        if (at + 1 >= argc)
            return Usage();
        path = argv[at + 1];
        at += 2;
    }
    if (at < argc)
        application = argv[at++];
    if (at < argc)
        reason = argv[at++];
    if (at < argc || !sd_bus_object_path_is_valid(path.c_str()))
        return Usage();

    // The signals that end the hold arrive on a descriptor, beside the bus
    // and standard input.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGHUP);
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    int signals = signalfd(-1, &stops, SFD_CLOEXEC);
    if (signals < 0)
        return Fail("signalfd", errno, nullptr);

    sd_bus *bus = nullptr;
    int r = sd_bus_open_user(&bus);
    if (r < 0)
        return Fail("no session bus", r, nullptr);

    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message *reply = nullptr;
    r = sd_bus_call_method(bus, "org.freedesktop.ScreenSaver", path.c_str(), "org.freedesktop.ScreenSaver", "Inhibit",
                           &error, &reply, "ss", application, reason);
    if (r < 0)
        return Fail("Inhibit", r, &error);
    std::uint32_t cookie = 0;
    r = sd_bus_message_read(reply, "u", &cookie);
    sd_bus_message_unref(reply);
    if (r < 0)
        return Fail("Inhibit's answer", r, nullptr);
    std::printf("cookie %u\n", cookie);
    std::fflush(stdout);

    bool watchInput = true;
    while (true) {
        pollfd fds[3] = {{signals, POLLIN, 0}, {sd_bus_get_fd(bus), 0, 0}, {watchInput ? 0 : -1, POLLIN, 0}};
        int events = sd_bus_get_events(bus);
        fds[1].events = static_cast<short>(events > 0 ? events : POLLIN);
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            return Fail("poll", errno, nullptr);
        }
        if (fds[0].revents)
            break;
        if (fds[2].revents & POLLNVAL) {
            // No standard input at all: only a signal ends the hold.
            watchInput = false;
        } else if (fds[2].revents) {
            char buffer[256];
            ssize_t n = read(0, buffer, sizeof buffer);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
                break;
        }
        if (fds[1].revents) {
            while ((r = sd_bus_process(bus, nullptr)) > 0) {
            }
            if (r < 0)
                return Fail("the session bus went away", r, nullptr);
        }
    }

    r = sd_bus_call_method(bus, "org.freedesktop.ScreenSaver", path.c_str(), "org.freedesktop.ScreenSaver", "UnInhibit",
                           &error, nullptr, "u", cookie);
    if (r < 0)
        return Fail("UnInhibit", r, &error);
    std::printf("released %u\n", cookie);
    sd_bus_flush_close_unref(bus);
    return 0;
}
