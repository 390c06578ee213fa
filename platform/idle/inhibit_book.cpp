// Cookies, their owners and the caps on them; what the buses hand us, made
// safe to keep and to log.
#include "idle/inhibit_book.h"

#include <algorithm>

namespace idle {

namespace {

// The length of the well-formed UTF-8 character at the start of `text` and
// its code point, or 0 when it is not one (overlong forms, surrogates and
// values past U+10FFFF included).
std::size_t DecodeOne(std::string_view text, char32_t *point) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length;
    char32_t value;
    if (lead < 0x80) {
        *point = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (byte(i) & 0x3F);
    }
    if ((length == 3 && value < 0x800) || (length == 4 && value < 0x10000) || value > 0x10FFFF ||
        (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *point = value;
    return length;
}

// Characters that would break a log line or turn the text around on a
// terminal: C0 and C1 controls, line and paragraph separators, the
// bidirectional overrides and isolates.
bool Unsafe(char32_t point) {
    return point < 0x20 || (point >= 0x7F && point <= 0x9F) || point == 0x2028 || point == 0x2029 ||
           (point >= 0x202A && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069);
}

}  // namespace

std::string PrintableClip(std::string_view text, std::size_t maxBytes) {
    std::string out;
    out.reserve(std::min(text.size(), maxBytes));
    while (!text.empty()) {
        char32_t point = 0;
        std::size_t length = DecodeOne(text, &point);
        std::string_view piece = length ? text.substr(0, length) : text.substr(0, 1);
        bool replace = !length || Unsafe(point);
        std::size_t needed = replace ? 1 : piece.size();
        if (out.size() + needed > maxBytes)
            break;
        if (replace)
            out += '?';
        else
            out += piece;
        text.remove_prefix(piece.size());
    }
    return out;
}

bool NamesIdle(std::string_view colonWords) {
    while (true) {
        std::size_t colon = colonWords.find(':');
        if (colonWords.substr(0, colon) == "idle")
            return true;
        if (colon == std::string_view::npos)
            return false;
        colonWords.remove_prefix(colon + 1);
    }
}

std::uint32_t InhibitBook::Take(std::string_view owner, std::string_view application, std::string_view reason) {
    if (owner.empty() || owner.size() > kMaxOwner || entries.size() >= kMaxTotal)
        return 0;
    if (static_cast<std::size_t>(std::count_if(entries.begin(), entries.end(), [&](const Entry &entry) {
            return entry.owner == owner;
        })) >= kMaxPerOwner)
        return 0;
    // Counting on from the last one keeps a released cookie from coming back
    // soon, so a late UnInhibit cannot release someone else's inhibit.
    std::uint32_t cookie = lastCookie;
    do {
        ++cookie;
    } while (cookie == 0 || std::any_of(entries.begin(), entries.end(),
                                        [&](const Entry &entry) { return entry.cookie == cookie; }));
    lastCookie = cookie;
    entries.push_back({cookie, std::string(owner), PrintableClip(application, kMaxText),
                       PrintableClip(reason, kMaxText)});
    return cookie;
}

InhibitBook::Release InhibitBook::Give(std::string_view owner, std::uint32_t cookie) {
    auto it = std::find_if(entries.begin(), entries.end(), [&](const Entry &entry) { return entry.cookie == cookie; });
    if (it == entries.end())
        return Release::Unknown;
    if (it->owner != owner)
        return Release::NotYours;
    entries.erase(it);
    return Release::Released;
}

std::size_t InhibitBook::DropOwner(std::string_view owner) {
    return std::erase_if(entries, [&](const Entry &entry) { return entry.owner == owner; });
}

std::vector<std::string> InhibitBook::Holders() const {
    std::vector<std::string> lines;
    lines.reserve(entries.size());
    for (const Entry &entry : entries)
        lines.push_back((entry.application.empty() ? std::string("?") : entry.application) + " (" +
                        entry.reason + ")");
    return lines;
}

}  // namespace idle
