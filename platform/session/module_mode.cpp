#include "session/module_mode.h"

#include <cstring>

namespace layer {

bool ParseWindowId(const char *text, uint32_t *id) {
    if (!text) return false;
    unsigned base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    }
    if (!*text) return false;
    uint64_t value = 0;
    for (; *text; ++text) {
        unsigned digit;
        char c = *text;
        if (c >= '0' && c <= '9')
            digit = (unsigned)(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = (unsigned)(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = (unsigned)(c - 'A' + 10);
        else
            return false;
        value = value * base + digit;
        if (value > 0xFFFFFFFFu) return false;
    }
    if (value == 0) return false;
    *id = (uint32_t)value;
    return true;
}

std::vector<std::string> ModuleModeArguments(const std::vector<std::string> &arguments,
                                             const char *xscreensaverWindow, uintptr_t rootWindow) {
    bool root = false, windowIdGiven = false;
    std::string windowIdText;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string &a = arguments[i];
        if (a == "--root" || a == "-root") {
            root = true;
        } else if (a == "--window-id" || a == "-window-id") {
            windowIdGiven = true;
            windowIdText = i + 1 < arguments.size() ? arguments[++i] : "";
        } else if (a.rfind("--window-id=", 0) == 0 || a.rfind("-window-id=", 0) == 0) {
            windowIdGiven = true;
            windowIdText = a.substr(a.find('=') + 1);
        }
    }
    if (!windowIdGiven && !root) return arguments;

    uint32_t id = 0;
    bool usable;
    if (windowIdGiven) {
        usable = ParseWindowId(windowIdText.c_str(), &id);
    } else if (xscreensaverWindow) {
        // The driver names the window it made for us; a value it cannot
        // have meant must not send the drawing somewhere else.
        usable = ParseWindowId(xscreensaverWindow, &id);
    } else {
        usable = rootWindow != 0 && rootWindow <= 0xFFFFFFFFu;
        id = (uint32_t)rootWindow;
    }
    std::string program = arguments.empty() ? std::string("vantrel-saver") : arguments[0];
    return {program, "/p", usable ? std::to_string(id) : std::string("0")};
}

}  // namespace layer
