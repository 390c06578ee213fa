#include "session/module_mode.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include <layer_hooks.h>

#include "registry/store.h"
#include "session/layer_internal.h"

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

namespace {

// Where a module run's window comes from: "--window-id", else the driver's
// $XSCREENSAVER_WINDOW with "--root", else the root window itself.
struct ModuleWindow {
    bool moduleRun = false;
    bool root = false;       // the root window: nothing to read
    std::string text;        // the id as given
    const char *source = "";
};

ModuleWindow FindModuleWindow(const std::vector<std::string> &arguments, const char *xscreensaverWindow) {
    ModuleWindow found;
    bool windowIdGiven = false;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string &a = arguments[i];
        if (a == "--root" || a == "-root") {
            found.moduleRun = true;
        } else if (a == "--window-id" || a == "-window-id") {
            windowIdGiven = true;
            found.text = i + 1 < arguments.size() ? arguments[++i] : "";
        } else if (a.rfind("--window-id=", 0) == 0 || a.rfind("-window-id=", 0) == 0) {
            windowIdGiven = true;
            found.text = a.substr(a.find('=') + 1);
        }
    }
    found.moduleRun = found.moduleRun || windowIdGiven;
    if (windowIdGiven) {
        found.source = "--window-id";
    } else if (xscreensaverWindow) {
        found.text = xscreensaverWindow;
        found.source = "$XSCREENSAVER_WINDOW";
    } else {
        found.root = true;
        found.source = "--root";
    }
    return found;
}

}  // namespace

std::vector<std::string> ModuleModeArguments(const std::vector<std::string> &arguments,
                                             const char *xscreensaverWindow, uintptr_t rootWindow) {
    ModuleWindow window = FindModuleWindow(arguments, xscreensaverWindow);
    if (!window.moduleRun) return arguments;

    uint32_t id = 0;
    bool usable;
    if (window.root) {
        usable = rootWindow != 0 && rootWindow <= 0xFFFFFFFFu;
        id = (uint32_t)rootWindow;
    } else {
        // The driver names the window it made for us; a value it cannot
        // have meant must not send the drawing somewhere else.
        usable = ParseWindowId(window.text.c_str(), &id);
    }
    std::string program = arguments.empty() ? std::string("vantrel-saver") : arguments[0];
    return {program, "/p", usable ? std::to_string(id) : std::string("0")};
}

namespace {

// Where the program keeps its settings; the options stand in for values there.
const char kSettingsKey[] = "SOFTWARE\\Kestrelix\\VantrelScreenSaver";

struct SettingOption {
    const char *name;     // without dashes
    const char *setting;  // the registry value
    bool number;          // "--name N"; otherwise "--name" sets 1 and "--no-name" 0
    const char *help;
};
const SettingOption kSettingOptions[] = {
    {"bomb-count", "BombCount", true, "most bombs in flight at once (1-200, 50)"},
    {"bomb-speed", "BombSpeed", true, "how fast the bombs fall (1-100, 50)"},
    {"screen-delay", "ScreenDelay", true, "how long each part of the show lasts (1-100, 25)"},
    {"bombs-only", "BombsOnly", false, "bombs only, no slideshow (--no-bombs-only: both)"},
    {"backdrop", "BombBackdrop", false, "bombs over their backdrop (--no-backdrop: over black)"},
};

// A whole number as a settings dialog writes one. One too large for a
// setting stays the largest it can hold, which the program's limits then
// bring down to their top, as they would any value too large.
bool ParseCount(const std::string &text, uint32_t *value) {
    if (text.empty()) return false;
    uint64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (unsigned)(c - '0');
        if (n > INT32_MAX) n = INT32_MAX;
    }
    *value = (uint32_t)n;
    return true;
}

// An argument split as "-name", "--name" or either with "=value".
struct Spelling {
    int dashes = 0;  // 0: not an option
    std::string option;  // as written, up to any "="
    std::string name;    // without dashes
    std::string value;
    bool hasValue = false;
};

Spelling Split(const std::string &a) {
    Spelling s;
    if (a.size() < 2 || a[0] != '-') return s;
    s.dashes = a[1] == '-' ? 2 : 1;
    size_t eq = a.find('=');
    s.option = a.substr(0, eq);
    s.name = s.option.substr((size_t)s.dashes);
    if (eq != std::string::npos) {
        s.value = a.substr(eq + 1);
        s.hasValue = true;
    }
    return s;
}

bool IsModuleRun(const Spelling &s) { return s.dashes && (s.name == "root" || s.name == "window-id"); }

// An argument as an error line shows it: control bytes (a newline would split
// the one line a caller reads) are spelled \xNN.
std::string Printable(const std::string &text) {
    static const char kHex[] = "0123456789abcdef";
    std::string shown;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) {
            shown += "\\x";
            shown += kHex[c >> 4];
            shown += kHex[c & 15];
        } else {
            shown += (char)c;
        }
    }
    return shown;
}

std::string Quoted(const std::string &text) { return "\"" + Printable(text) + "\""; }

}  // namespace

std::string UnusableWindow(const std::vector<std::string> &arguments, const char *xscreensaverWindow,
                           uintptr_t rootWindow, const std::function<bool(uint32_t)> &windowExists) {
    std::string text, source;
    uint32_t id = 0;
    bool number;
    ModuleWindow window = FindModuleWindow(arguments, xscreensaverWindow);
    if (window.moduleRun) {
        if (window.root) {
            bool exists = rootWindow != 0 && rootWindow <= 0xFFFFFFFFu && windowExists((uint32_t)rootWindow);
            return exists ? "" : "cannot draw into the root window: there is none";
        }
        source = window.source;
        text = window.text;
        // Zero is a number, if one that no window has.
        size_t digits = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? 2 : 0;
        number = ParseWindowId(text.c_str(), &id) ||
                 (text.size() > digits && text.find_first_not_of('0', digits) == std::string::npos);
    } else {
        // The program's own reading: past blanks, dashes and slashes a mode
        // letter, then blanks, then as many digits as follow (in 32 bits,
        // wrapping as its DWORD does).
        std::string line = BuildCommandLine(arguments);
        const char *scan = CommandLineTail(line.c_str());
        while (*scan == ' ' || *scan == '-' || *scan == '/') ++scan;
        char mode = *scan;
        if (mode != 'p' && mode != 'P' && mode != 'l' && mode != 'L') return "";
        source = std::string("/") + mode;
        const char *start = scan + 1;
        while (*start == ' ') ++start;
        const char *end = start;
        while (*end >= '0' && *end <= '9') id = id * 10u + (uint32_t)(*end++ - '0');
        number = end != start;
        const char *word = start;
        while (*word && *word != ' ') ++word;
        text.assign(start, word);
    }
    if (number && id != 0 && windowExists(id)) return "";
    if (text.empty()) return "no window to draw into: " + source + " names none";
    std::string shown = number ? Printable(text) : "\"" + Printable(text) + "\"";
    return "cannot draw into window " + shown + " from " + source + ": " +
           (number ? "no such window" : "not a window number");
}

ModuleOptions ParseModuleOptions(const std::vector<std::string> &arguments) {
    ModuleOptions out;
    out.rest.push_back(arguments.empty() ? std::string("vantrel-saver") : arguments[0]);
    // Whether this is a module run decides what a switch we do not know is:
    // the Windows program's own, or a mistake.
    bool moduleRun = false;
    for (size_t i = 1; i < arguments.size(); ++i) moduleRun = moduleRun || IsModuleRun(Split(arguments[i]));

    for (size_t i = 1; i < arguments.size() && out.error.empty() && !out.help; ++i) {
        const std::string &a = arguments[i];
        Spelling s = Split(a);
        if (!s.dashes) {
            if (moduleRun)
                out.error = "unexpected argument " + Quoted(a) + " (a module run takes options only)";
            else
                out.rest.push_back(a);
            continue;
        }
        if (s.name == "window-id") {
            // Its value, whatever it looks like, is ModuleModeArguments' to judge.
            out.rest.push_back(a);
            if (!s.hasValue && i + 1 < arguments.size()) out.rest.push_back(arguments[++i]);
            continue;
        }
        const SettingOption *number = nullptr, *flag = nullptr;
        bool on = true;
        for (const SettingOption &o : kSettingOptions) {
            if (s.name == o.name) (o.number ? number : flag) = &o;
            if (!o.number && s.name == std::string("no-") + o.name) {
                flag = &o;
                on = false;
            }
        }
        bool fps = s.name == "fps" || s.name == "no-fps";
        bool driverOnly = s.name == "root" || s.name == "install" || s.name == "noinstall";
        if (number) {
            if (!s.hasValue) {
                if (i + 1 >= arguments.size()) {
                    out.error = s.option + " needs a number after it";
                    continue;
                }
                s.value = arguments[++i];
            }
            uint32_t value = 0;
            if (ParseCount(s.value, &value))
                out.settings.emplace_back(number->setting, value);
            else
                out.error = s.option + " wants a whole number, not " + Quoted(s.value);
        } else if (s.hasValue && (flag || fps || driverOnly || s.name == "help")) {
            out.error = s.option + " takes no value";
        } else if (flag) {
            out.settings.emplace_back(flag->setting, on ? 1u : 0u);
        } else if (fps) {
            out.frameRate = s.name == "fps";
        } else if (s.name == "help") {
            out.help = true;
        } else if (driverOnly) {
            // The driver's own switches (XScreenSaver modules take "-install"
            // for a colour map of their own, which true colour never needs).
            out.rest.push_back(a);
        } else if (s.dashes == 2 || moduleRun) {
            out.error = "unknown option " + Quoted(s.option) + "; --help lists the options";
        } else {
            out.rest.push_back(a);  // the program's own switch: -s, -c, -p ...
        }
    }
    return out;
}

std::string HelpText(const std::string &program) {
    std::string text = "Usage: " + program + " [/s | /c | /p WINDOW | /a] [OPTIONS]\n" +
                       "       " + program + " --root | --window-id WINDOW [OPTIONS]\n" +
                       "       " + program + " --watch    start the saver when the session is idle\n" +
                       "       " + program + " --panel    the screen saver settings\n\n" +
                       "Options, for this run only (the stored settings stay as they are):\n";
    auto line = [&text](std::string left, const char *help) {
        left.resize(std::max<size_t>(left.size() + 1, 20), ' ');
        text += "  " + left + help + "\n";
    };
    for (const SettingOption &o : kSettingOptions) line(std::string("--") + o.name + (o.number ? " N" : ""), o.help);
    line("--fps", "show the frames painted each second in a corner");
    line("--help", "print this and end");
    text += "\nEach may also be written --name=N, or with a single dash.\n";
    return text;
}

void ApplyModuleOptions(const ModuleOptions &options) {
    for (const auto &[setting, value] : options.settings) {
        std::vector<BYTE> little = {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)};
        vantrel::registry::SetRunValue(kSettingsKey, setting, REG_DWORD, std::move(little));
    }
    if (options.frameRate) S().frameRate.shown = true;
}

}  // namespace layer
