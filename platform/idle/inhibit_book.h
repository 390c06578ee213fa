// The bookkeeping behind the org.freedesktop.ScreenSaver service and
// logind's inhibitors, apart from any bus, so that it can be tested and fed
// arbitrary input on its own. Everything in it comes from other programs:
// it is bounded and kept printable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace idle {

// `text` made safe to log on one line: control characters and bytes that
// are not UTF-8 become '?', and it is cut (never inside a character) to at
// most `maxBytes` bytes.
std::string PrintableClip(std::string_view text, std::size_t maxBytes);

// Whether logind's BlockInhibited ("shutdown:sleep:idle") names idle.
bool NamesIdle(std::string_view colonWords);

// The inhibits taken through Inhibit(application, reason), each under the
// unique bus name of its caller.
class InhibitBook {
  public:
    // A video player holds one or two; a client that takes more is broken
    // or hostile, and must not grow the watcher without end.
    static constexpr std::size_t kMaxPerOwner = 16;
    static constexpr std::size_t kMaxTotal = 256;
    static constexpr std::size_t kMaxText = 96;
    // Unique names are at most 255 bytes on any bus.
    static constexpr std::size_t kMaxOwner = 255;

    // A new, nonzero cookie no live inhibit has; 0 when a cap refuses it or
    // the owner is empty or too long.
    std::uint32_t Take(std::string_view owner, std::string_view application, std::string_view reason);

    enum class Release { Released, Unknown, NotYours };
    Release Give(std::string_view owner, std::uint32_t cookie);

    // Every inhibit of an owner that left the bus; how many there were.
    std::size_t DropOwner(std::string_view owner);

    bool Held() const { return !entries.empty(); }
    std::size_t Count() const { return entries.size(); }
    // "application (reason)", oldest first.
    std::vector<std::string> Holders() const;

  private:
    struct Entry {
        std::uint32_t cookie;
        std::string owner;
        std::string application;
        std::string reason;
    };
    std::vector<Entry> entries;
    std::uint32_t lastCookie = 0;
};

}  // namespace idle
