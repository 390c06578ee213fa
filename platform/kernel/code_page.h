// Text conversions between the ANSI code page the A functions speak
// (Windows-1252 here, as on a Western Windows), UTF-16 and UTF-8.
#ifndef VANTREL_PLATFORM_KERNEL_CODE_PAGE_H
#define VANTREL_PLATFORM_KERNEL_CODE_PAGE_H

#include <string>

namespace layer {

// One byte for every UTF-16 unit, as Windows converts for the A functions:
// what Windows-1252 lacks becomes '?'. The bytes 1252 leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the control characters of the
// same number in both directions, so every ANSI string survives a trip
// through UTF-16 and back.
std::string AnsiFromUtf16(const std::u16string &text);
std::u16string Utf16FromAnsi(const std::string &text);

// Strict conversions for the text of files: false for anything that is not
// well-formed (an overlong or cut-off sequence, a surrogate on its own, a
// code point past U+10FFFF), with `out` then meaningless.
bool Utf16FromUtf8(const std::string &text, std::u16string &out);
bool Utf8FromUtf16(const std::u16string &text, std::string &out);

}  // namespace layer

#endif
