#include "kernel/code_page.h"

namespace layer {
namespace {

// Windows-1252's 0x80..0x9F row.
const char16_t kRow80[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                             0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                             0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                             0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool IsHighSurrogate(char32_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(char32_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

}  // namespace

std::string AnsiFromUtf16(const std::u16string &text)
{
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        char mapped = '?';
        for (int i = 0; i < 32; ++i) {
            if (kRow80[i] == c) {
                mapped = static_cast<char>(0x80 + i);
                break;
            }
        }
        out.push_back(mapped);
    }
    return out;
}

std::u16string Utf16FromAnsi(const std::string &text)
{
    std::u16string out;
    out.reserve(text.size());
    for (char byte : text) {
        unsigned char c = static_cast<unsigned char>(byte);
        out.push_back(c >= 0x80 && c < 0xA0 ? kRow80[c - 0x80] : char16_t(c));
    }
    return out;
}

bool Utf16FromUtf8(const std::string &text, std::u16string &out)
{
    out.clear();
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[at]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++at;
            continue;
        }
        size_t length;
        char32_t c, least;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, c = lead & 0x1F, least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, c = lead & 0x0F, least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, c = lead & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (text.size() - at < length)
            return false;
        for (size_t i = 1; i < length; ++i) {
            unsigned char next = static_cast<unsigned char>(text[at + i]);
            if ((next & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (next & 0x3F);
        }
        if (c < least || c > 0x10FFFF || IsHighSurrogate(c) || IsLowSurrogate(c))
            return false;
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        at += length;
    }
    return true;
}

bool Utf8FromUtf16(const std::u16string &text, std::string &out)
{
    out.clear();
    out.reserve(text.size());
    for (size_t at = 0; at < text.size(); ++at) {
        char32_t c = text[at];
        if (IsLowSurrogate(c))
            return false;
        if (IsHighSurrogate(c)) {
            if (at + 1 >= text.size() || !IsLowSurrogate(text[at + 1]))
                return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++at] - 0xDC00);
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return true;
}

}  // namespace layer
