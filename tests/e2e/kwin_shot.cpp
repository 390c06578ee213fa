// One output's pixels from KWin, for the KWin end-to-end script: KWin has no
// screencopy protocol, and its screenshot service on the session bus answers
// only a program whose desktop entry asks for it
// (X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2, Exec naming
// this file).
//
//   kwin_shot OUTPUT FILE.ppm   the output at its device pixels, no cursor
//
// The service writes the raw image into a pipe we hand it, and says in its
// reply how to read it (size, stride, Qt's pixel format).
// Exit 0 with FILE written; 1: the bus, the service or the pipe failed, or
// the service refused; 2: wrong arguments.
#include <errno.h>
#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// QImage::Format values the service may send.
enum QtFormat : uint32_t {
    kRgb32 = 4,
    kArgb32 = 5,
    kArgb32Premultiplied = 6,
    kRgbx8888 = 16,
    kRgba8888 = 17,
    kRgba8888Premultiplied = 18,
};

struct Reply {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t stride = 0;
    uint32_t format = 0;
    std::string type;
};

int Fail(const char *what, int error) {
    std::fprintf(stderr, "kwin_shot: %s: %s\n", what, std::strerror(error < 0 ? -error : error));
    return 1;
}

// The reply's a{sv}: the fields above, the others skipped.
int ReadReply(sd_bus_message *message, Reply *reply) {
    int r = sd_bus_message_enter_container(message, 'a', "{sv}");
    if (r < 0) return r;
    while ((r = sd_bus_message_enter_container(message, 'e', "sv")) > 0) {
        const char *key = nullptr;
        if ((r = sd_bus_message_read(message, "s", &key)) < 0) return r;
        const char *contents = nullptr;
        if ((r = sd_bus_message_peek_type(message, nullptr, &contents)) < 0) return r;
        uint32_t *field = !std::strcmp(key, "width")    ? &reply->width
                          : !std::strcmp(key, "height") ? &reply->height
                          : !std::strcmp(key, "stride") ? &reply->stride
                          : !std::strcmp(key, "format") ? &reply->format
                                                        : nullptr;
        if (field && !std::strcmp(contents, "u")) {
            r = sd_bus_message_read(message, "v", "u", field);
        } else if (!std::strcmp(key, "type") && !std::strcmp(contents, "s")) {
            const char *type = nullptr;
            r = sd_bus_message_read(message, "v", "s", &type);
            if (r >= 0 && type) reply->type = type;
        } else {
            r = sd_bus_message_skip(message, "v");
        }
        if (r < 0) return r;
        if ((r = sd_bus_message_exit_container(message)) < 0) return r;
    }
    if (r < 0) return r;
    return sd_bus_message_exit_container(message);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kwin_shot OUTPUT FILE.ppm\n");
        return 2;
    }
    const char *output = argv[1], *file = argv[2];
    sd_bus *bus = nullptr;
    int r = sd_bus_open_user(&bus);
    if (r < 0) return Fail("cannot reach the session bus", r);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) < 0) return Fail("pipe", errno);

    sd_bus_message *call = nullptr;
    r = sd_bus_message_new_method_call(bus, &call, "org.kde.KWin", "/org/kde/KWin/ScreenShot2",
                                       "org.kde.KWin.ScreenShot2", "CaptureScreen");
    if (r >= 0) r = sd_bus_message_append(call, "s", output);
    // The output's own pixels, not the logical size; and no cursor, which is
    // not the saver's to draw.
    if (r >= 0)
        r = sd_bus_message_append(call, "a{sv}", 2, "native-resolution", "b", 1, "include-cursor", "b", 0);
    if (r >= 0) r = sd_bus_message_append(call, "h", fds[1]);
    if (r < 0) return Fail("cannot build the call", r);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message *answer = nullptr;
    // The service writes the pixels from a thread of its own while it sends
    // the reply, so waiting for the reply before reading cannot block it.
    r = sd_bus_call(bus, call, 30 * 1000000ULL, &error, &answer);
    close(fds[1]);
    if (r < 0) {
        std::fprintf(stderr, "kwin_shot: CaptureScreen %s: %s\n", output,
                     error.message ? error.message : std::strerror(-r));
        return 1;
    }
    Reply reply;
    r = ReadReply(answer, &reply);
    if (r < 0) return Fail("cannot read the reply", r);
    if (reply.type != "raw" || !reply.width || !reply.height || reply.stride < reply.width * 4 ||
        reply.width > 16384 || reply.height > 16384) {
        std::fprintf(stderr, "kwin_shot: an image this program cannot read: type %s, %ux%u, stride %u\n",
                     reply.type.c_str(), reply.width, reply.height, reply.stride);
        return 1;
    }
    bool bgra = reply.format == kRgb32 || reply.format == kArgb32 || reply.format == kArgb32Premultiplied;
    bool rgba = reply.format == kRgbx8888 || reply.format == kRgba8888 || reply.format == kRgba8888Premultiplied;
    if (!bgra && !rgba) {
        std::fprintf(stderr, "kwin_shot: pixel format %u is not one this program reads\n", reply.format);
        return 1;
    }

    std::vector<unsigned char> data((size_t)reply.stride * reply.height);
    size_t have = 0;
    while (have < data.size()) {
        ssize_t n = read(fds[0], data.data() + have, data.size() - have);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Fail("reading the pixels", errno);
        if (n == 0) break;
        have += (size_t)n;
    }
    close(fds[0]);
    if (have < data.size()) {
        std::fprintf(stderr, "kwin_shot: the service sent %zu of %zu bytes\n", have, data.size());
        return 1;
    }

    FILE *out = std::fopen(file, "wb");
    if (!out) return Fail(file, errno);
    std::fprintf(out, "P6\n%u %u\n255\n", reply.width, reply.height);
    std::vector<unsigned char> row((size_t)reply.width * 3);
    for (uint32_t y = 0; y < reply.height; ++y) {
        const unsigned char *p = data.data() + (size_t)y * reply.stride;
        for (uint32_t x = 0; x < reply.width; ++x, p += 4) {
            // Qt's 32-bit formats are 0xAARRGGBB words (here, B G R A in
            // memory); the 8888 ones are bytes in their names' order.
            row[x * 3 + 0] = bgra ? p[2] : p[0];
            row[x * 3 + 1] = p[1];
            row[x * 3 + 2] = bgra ? p[0] : p[2];
        }
        std::fwrite(row.data(), 1, row.size(), out);
    }
    if (std::fclose(out) != 0) return Fail(file, errno);
    sd_bus_message_unref(answer);
    sd_bus_message_unref(call);
    sd_bus_unref(bus);
    return 0;
}
