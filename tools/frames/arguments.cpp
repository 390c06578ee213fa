// The renderer's command line. Everything is checked before the saver runs:
// a typo must not cost a long render that uses the wrong settings.
#include <strings.h>

#include <cstdint>

#include "frames.h"

namespace frames {

const char UsageText[] =
    "usage: vantrel-frames --size WxH --frames N --out DIR [--seed S] [--set Name=Value ...]\n"
    "                      [--mode s|p] [--gif FILE]\n"
    "  --size WxH        desktop size, 1..8192 each way\n"
    "  --frames N        paints to render, 1..100000 (one per 66 ms timer tick)\n"
    "  --out DIR         where frame-00001.bmp ... go (made if missing)\n"
    "  --seed S          the tick count at start, which seeds the animation (default 1)\n"
    "  --set Name=Value  a setting: BombCount, BombSpeed, ScreenDelay, BombsOnly, BombBackdrop\n"
    "  --mode s|p        full screen (default) or the preview in a window a quarter the size\n"
    "  --gif FILE        also write an animated GIF\n";

namespace {

const char *const SettingNames[] = {"BombCount", "BombSpeed", "ScreenDelay", "BombsOnly", "BombBackdrop"};

// Plain decimal digits only, within [lowest, highest].
bool ParseNumber(const std::string &text, int64_t lowest, int64_t highest, int64_t *value)
{
    size_t at = 0;
    bool negative = false;
    if (!text.empty() && text[0] == '-') {
        negative = true;
        at = 1;
    }
    if (at == text.size())
        return false;
    int64_t magnitude = 0;
    for (; at < text.size(); ++at) {
        if (text[at] < '0' || text[at] > '9')
            return false;
        magnitude = magnitude * 10 + (text[at] - '0');
        if (magnitude > (int64_t(1) << 40))
            return false;
    }
    *value = negative ? -magnitude : magnitude;
    return *value >= lowest && *value <= highest;
}

bool ParseSetting(const std::string &pair, Options *options, std::string *error)
{
    size_t equals = pair.find('=');
    if (equals == std::string::npos) {
        *error = "--set wants Name=Value, not '" + pair + "'";
        return false;
    }
    std::string name = pair.substr(0, equals);
    const char *canonical = nullptr;
    // Registry value names do not care about case, and neither do we.
    for (const char *known : SettingNames)
        if (strcasecmp(known, name.c_str()) == 0)
            canonical = known;
    if (!canonical) {
        *error = "unknown setting '" + name + "' (known: BombCount, BombSpeed, ScreenDelay, BombsOnly, BombBackdrop)";
        return false;
    }
    // Any 32-bit value goes in as given; the program clamps on reading, as it
    // would a value someone typed into the registry.
    int64_t value;
    if (!ParseNumber(pair.substr(equals + 1), INT32_MIN, UINT32_MAX, &value)) {
        *error = "the value of " + std::string(canonical) + " must be a 32-bit integer, not '" +
                 pair.substr(equals + 1) + "'";
        return false;
    }
    options->settings.emplace_back(canonical, static_cast<DWORD>(value));
    return true;
}

bool ParseSize(const std::string &text, Options *options)
{
    size_t x = text.find_first_of("xX");
    if (x == std::string::npos)
        return false;
    int64_t width, height;
    if (!ParseNumber(text.substr(0, x), 1, 8192, &width) || !ParseNumber(text.substr(x + 1), 1, 8192, &height))
        return false;
    options->width = static_cast<int>(width);
    options->height = static_cast<int>(height);
    return true;
}

}  // namespace

bool ParseArguments(const std::vector<std::string> &arguments, Options *options, std::string *error)
{
    *options = Options{};
    bool haveSize = false, haveFrames = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string &option = arguments[i];
        static const char *const WithValue[] = {"--size", "--frames", "--out", "--seed", "--set", "--mode", "--gif"};
        bool known = false;
        for (const char *name : WithValue)
            known = known || option == name;
        if (!known) {
            *error = "unknown argument '" + option + "'";
            return false;
        }
        if (i + 1 >= arguments.size()) {
            *error = option + " needs a value";
            return false;
        }
        const std::string &value = arguments[++i];
        int64_t number;
        if (option == "--size") {
            if (!ParseSize(value, options)) {
                *error = "--size wants WxH with each between 1 and 8192, not '" + value + "'";
                return false;
            }
            haveSize = true;
        } else if (option == "--frames") {
            if (!ParseNumber(value, 1, 100000, &number)) {
                *error = "--frames wants a number from 1 to 100000, not '" + value + "'";
                return false;
            }
            options->frames = static_cast<long>(number);
            haveFrames = true;
        } else if (option == "--out") {
            if (value.empty()) {
                *error = "--out needs a directory";
                return false;
            }
            options->outDir = value;
        } else if (option == "--seed") {
            if (!ParseNumber(value, 0, UINT32_MAX, &number)) {
                *error = "--seed wants a number from 0 to 4294967295, not '" + value + "'";
                return false;
            }
            options->seed = static_cast<DWORD>(number);
        } else if (option == "--set") {
            if (!ParseSetting(value, options, error))
                return false;
            // More pairs may follow one --set.
            while (i + 1 < arguments.size() && arguments[i + 1].rfind("--", 0) != 0)
                if (!ParseSetting(arguments[++i], options, error))
                    return false;
        } else if (option == "--mode") {
            if (value != "s" && value != "p") {
                *error = "--mode wants s or p, not '" + value + "'";
                return false;
            }
            options->preview = value == "p";
        } else if (option == "--gif") {
            if (value.empty()) {
                *error = "--gif needs a file name";
                return false;
            }
            options->gifPath = value;
        }
    }
    if (!haveSize || !haveFrames || options->outDir.empty()) {
        *error = !haveSize ? "--size is required" : !haveFrames ? "--frames is required" : "--out is required";
        return false;
    }
    return true;
}

}  // namespace frames
