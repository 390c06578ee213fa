// Keys and a pointer for the KWin end-to-end script. KWin has neither the
// virtual-pointer nor the virtual-keyboard protocol; its own fake-input
// interface is offered only to a program whose desktop entry asks for it
// (X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input, Exec naming this file).
//
//   kwin_input     reads commands on stdin, one a line, and answers each with
//                  one line once the compositor has handled it ("ok ..."), or
//                  "error: ..." for a command it does not understand:
//       key CODE [CODE...]  press the keys in order, release them in reverse:
//                           "key 56 30" is Alt+A (Linux key codes)
//       move DX DY          move the pointer by DX, DY
//       moveto X Y          move the pointer to X, Y on the layout
//       button B            press and release B: left, right, middle or a code
//       quit                leave (so does the end of stdin)
//   Before the first command it prints "ready", once it holds the interface.
//   The device it makes stays on the seat until the program ends, so that
//   the seat has a pointer and a keyboard for clients started meanwhile.
//
// Exit 0 after quit or end of input; 1: no compositor, or it went away;
// 2: the compositor does not offer fake input to this program.
#include <linux/input-event-codes.h>
#include <wayland-client.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fake-input-client-protocol.h"

namespace {

org_kde_kwin_fake_input *fake;
uint32_t fakeVersion;

void Global(void *, wl_registry *registry, uint32_t name, const char *interface, uint32_t version) {
    if (!std::strcmp(interface, org_kde_kwin_fake_input_interface.name) && !fake) {
        // Keys came with version 4; movement to a place with 3.
        fakeVersion = version < 4 ? version : 4;
        fake = static_cast<org_kde_kwin_fake_input *>(
            wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, fakeVersion));
    }
}

void GlobalGone(void *, wl_registry *, uint32_t) {}

const wl_registry_listener kRegistryListener = {Global, GlobalGone};

bool ParseNumber(const std::string &text, double *value) {
    if (text.empty()) return false;
    char *end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return !*end && *value > -100000 && *value < 100000;
}

bool ParseCode(const std::string &text, uint32_t *code, uint32_t most) {
    if (text.empty()) return false;
    char *end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (*end || value == 0 || value > most) return false;
    *code = static_cast<uint32_t>(value);
    return true;
}

bool ParseButton(const std::string &text, uint32_t *button) {
    if (text == "left") *button = BTN_LEFT;
    else if (text == "right") *button = BTN_RIGHT;
    else if (text == "middle") *button = BTN_MIDDLE;
    else return ParseCode(text, button, KEY_MAX);
    return true;
}

std::vector<std::string> Words(const char *line) {
    std::vector<std::string> words;
    std::string word;
    for (const char *p = line; *p; ++p) {
        if (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word += *p;
        }
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

// Sends what `words` asks for; "" when it was understood, else why not.
std::string Perform(const std::vector<std::string> &words) {
    const std::string &verb = words[0];
    if (verb == "key") {
        if (fakeVersion < 4) return "this compositor's fake input has no keys (version " + std::to_string(fakeVersion) + ")";
        std::vector<uint32_t> codes;
        for (size_t i = 1; i < words.size(); ++i) {
            uint32_t code;
            if (!ParseCode(words[i], &code, KEY_MAX)) return "not a key code: " + words[i];
            codes.push_back(code);
        }
        if (codes.empty()) return "key needs a code";
        for (uint32_t code : codes) org_kde_kwin_fake_input_keyboard_key(fake, code, WL_KEYBOARD_KEY_STATE_PRESSED);
        for (size_t i = codes.size(); i-- > 0;)
            org_kde_kwin_fake_input_keyboard_key(fake, codes[i], WL_KEYBOARD_KEY_STATE_RELEASED);
        return "";
    }
    if (verb == "move" || verb == "moveto") {
        double x, y;
        if (words.size() != 3 || !ParseNumber(words[1], &x) || !ParseNumber(words[2], &y))
            return verb + " needs two numbers";
        if (verb == "move") {
            org_kde_kwin_fake_input_pointer_motion(fake, wl_fixed_from_double(x), wl_fixed_from_double(y));
        } else {
            if (fakeVersion < 3) return "this compositor's fake input cannot place the pointer";
            org_kde_kwin_fake_input_pointer_motion_absolute(fake, wl_fixed_from_double(x), wl_fixed_from_double(y));
        }
        return "";
    }
    if (verb == "button") {
        uint32_t button;
        if (words.size() != 2 || !ParseButton(words[1], &button)) return "button needs left, right, middle or a code";
        org_kde_kwin_fake_input_button(fake, button, WL_POINTER_BUTTON_STATE_PRESSED);
        org_kde_kwin_fake_input_button(fake, button, WL_POINTER_BUTTON_STATE_RELEASED);
        return "";
    }
    return "unknown command: " + verb;
}

}  // namespace

int main(int argc, char **) {
    if (argc != 1) {
        std::fprintf(stderr, "usage: kwin_input <commands\n");
        return 2;
    }
    wl_display *display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "kwin_input: cannot connect to the compositor\n");
        return 1;
    }
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, nullptr);
    if (wl_display_roundtrip(display) < 0) {
        std::fprintf(stderr, "kwin_input: the compositor closed the connection\n");
        return 1;
    }
    if (!fake) {
        std::fprintf(stderr,
                     "kwin_input: the compositor offers no org_kde_kwin_fake_input to this program (it needs a "
                     "desktop entry whose Exec is this program and whose X-KDE-Wayland-Interfaces names it)\n");
        return 2;
    }
    // KWin ignores every request of a device that has not said who it is.
    org_kde_kwin_fake_input_authenticate(fake, "Vantrel end-to-end tests", "drives the saver under test");
    if (wl_display_roundtrip(display) < 0) {
        std::fprintf(stderr, "kwin_input: the compositor closed the connection\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    char line[512];
    while (std::fgets(line, sizeof line, stdin)) {
        std::vector<std::string> words = Words(line);
        if (words.empty()) continue;
        if (words[0] == "quit") break;
        std::string why = Perform(words);
        if (!why.empty()) {
            std::printf("error: %s\n", why.c_str());
            std::fflush(stdout);
            continue;
        }
        // Answered only once the compositor has handled the requests, so a
        // script that reads the answer knows the input went in.
        if (wl_display_roundtrip(display) < 0) {
            std::fprintf(stderr, "kwin_input: the compositor closed the connection\n");
            return 1;
        }
        std::string done = "ok";
        for (const std::string &w : words) done += " " + w;
        std::printf("%s\n", done.c_str());
        std::fflush(stdout);
    }
    org_kde_kwin_fake_input_destroy(fake);
    wl_registry_destroy(registry);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
