// The inhibit bookkeeping driven by arbitrary callers: takes, releases and
// leavings in any order, with any names and texts. Whatever they do, the
// caps hold, live cookies stay nonzero and unique, only an owner releases,
// and every holder line is printable UTF-8 of bounded length.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/idle/inhibit_book.h"

namespace {

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

// Whether `text` has no C0 control and no byte that starts nothing.
bool Printable(std::string_view text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f || c == 0xc0 || c == 0xc1 || c >= 0xf5)
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char *>(data), size);
    idle::InhibitBook book;
    // What the book should hold: cookie -> owner.
    std::map<std::uint32_t, std::string> live;
    std::uint32_t lastCookie = 0;
    auto take = [&](std::size_t n) {
        std::string_view piece = input.substr(0, n);
        input.remove_prefix(piece.size());
        return piece;
    };
    while (input.size() >= 2) {
        unsigned op = static_cast<unsigned char>(input[0]);
        std::string owner = ":1." + std::to_string(static_cast<unsigned char>(input[1]) % 24);
        input.remove_prefix(2);
        switch (op % 4) {
        case 0:
        case 1: {
            std::size_t length = input.empty() ? 0 : static_cast<unsigned char>(input[0]);
            std::string_view text = take(length + 1);
            std::string_view application = text.substr(0, text.size() / 2), reason = text.substr(text.size() / 2);
            std::uint32_t cookie = book.Take(owner, application, reason);
            if (cookie) {
                Check(!live.count(cookie));
                live[cookie] = owner;
                lastCookie = cookie;
            }
            break;
        }
        case 2: {
            std::uint32_t cookie = (op & 0x80) ? lastCookie : op >> 2;
            auto result = book.Give(owner, cookie);
            auto it = live.find(cookie);
            if (it == live.end())
                Check(result == idle::InhibitBook::Release::Unknown);
            else if (it->second != owner)
                Check(result == idle::InhibitBook::Release::NotYours);
            else {
                Check(result == idle::InhibitBook::Release::Released);
                live.erase(it);
            }
            break;
        }
        case 3:
            std::erase_if(live, [&](const auto &entry) { return entry.second == owner; });
            book.DropOwner(owner);
            break;
        }
        Check(book.Count() == live.size() && book.Count() <= idle::InhibitBook::kMaxTotal);
        Check(book.Held() == !live.empty());
    }
    for (const std::string &line : book.Holders())
        Check(Printable(line) && line.size() <= 2 * idle::InhibitBook::kMaxText + 3);
    std::string clipped = idle::PrintableClip(std::string_view(reinterpret_cast<const char *>(data), size), 40);
    Check(Printable(clipped) && clipped.size() <= 40);
    idle::NamesIdle(std::string_view(reinterpret_cast<const char *>(data), size));
    return 0;
}
