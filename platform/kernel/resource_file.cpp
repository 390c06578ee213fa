#include "kernel/resource_file.h"

namespace layer {

namespace {

// Bounds every read against the end of the file. Offsets are checked by
// subtraction, so no sum can wrap past the end and look valid.
struct Reader {
    const uint8_t *data;
    size_t size;

    bool Has(size_t at, size_t count) const { return at <= size && count <= size - at; }
    uint16_t Word(size_t at) const { return (uint16_t)(data[at] | (data[at + 1] << 8)); }
    uint32_t Dword(size_t at) const {
        return (uint32_t)data[at] | ((uint32_t)data[at + 1] << 8) | ((uint32_t)data[at + 2] << 16) |
               ((uint32_t)data[at + 3] << 24);
    }
};

char16_t UpperUnit(char16_t c) { return (c >= u'a' && c <= u'z') ? (char16_t)(c - u'a' + u'A') : c; }

// Reads a type or name field that must end before `limit` (the end of the
// record's header). Advances `at` past it.
bool ReadId(const Reader &r, size_t *at, size_t limit, ResourceId *id) {
    if (*at > limit || limit - *at < 2) return false;
    uint16_t first = r.Word(*at);
    if (first == 0xFFFF) {
        if (limit - *at < 4) return false;
        id->isString = false;
        id->ordinal = r.Word(*at + 2);
        *at += 4;
        return true;
    }
    id->isString = true;
    id->text.clear();
    for (size_t p = *at;; p += 2) {
        if (limit - p < 2) return false;  // no terminator inside the header
        char16_t unit = (char16_t)r.Word(p);
        if (unit == 0) {
            *at = p + 2;
            return true;
        }
        id->text.push_back(UpperUnit(unit));
    }
}

size_t AlignUp4(size_t v) { return (v + 3) & ~(size_t)3; }

}  // namespace

ResourceFile ParseResourceFile(const uint8_t *data, size_t size) {
    ResourceFile file;
    if (!data) return file;
    Reader r{data, size};
    size_t at = 0;
    // Every record moves on by at least its fixed header, so this ends.
    while (at < size) {
        if (!r.Has(at, 8)) {
            file.damaged = true;
            break;
        }
        uint32_t dataSize = r.Dword(at);
        uint32_t headerSize = r.Dword(at + 4);
        // The header holds the two sizes, two ids of at least a WORD pair
        // each and 16 bytes of fixed fields; data starts DWORD-aligned.
        if (headerSize < 32 || headerSize % 4 != 0 || !r.Has(at, headerSize)) {
            file.damaged = true;
            break;
        }
        size_t headerEnd = at + headerSize;
        ResourceEntry entry;
        size_t p = at + 8;
        if (!ReadId(r, &p, headerEnd, &entry.type) || !ReadId(r, &p, headerEnd, &entry.name)) {
            file.damaged = true;
            break;
        }
        p = AlignUp4(p);
        if (p > headerEnd || headerEnd - p < 16) {
            file.damaged = true;
            break;
        }
        entry.dataVersion = r.Dword(p);
        entry.memoryFlags = r.Word(p + 4);
        entry.language = r.Word(p + 6);
        entry.version = r.Dword(p + 8);
        entry.characteristics = r.Dword(p + 12);
        if (!r.Has(headerEnd, dataSize)) {
            file.damaged = true;
            break;
        }
        entry.offset = headerEnd;
        entry.size = dataSize;
        // The empty record that opens every file only marks the format.
        bool marker = !entry.type.isString && entry.type.ordinal == 0 && !entry.name.isString &&
                      entry.name.ordinal == 0 && dataSize == 0;
        if (!marker) file.entries.push_back(std::move(entry));
        // The last record may end without its padding.
        size_t next = headerEnd + dataSize;
        at = next >= size ? size : AlignUp4(next);
    }
    return file;
}

bool ResourceIdFromArgument(const char *argument, ResourceId *id) {
    if (!argument) return false;
    uintptr_t value = (uintptr_t)argument;
    if ((value >> 16) == 0) {
        id->isString = false;
        id->ordinal = (uint16_t)value;
        id->text.clear();
        return true;
    }
    if (argument[0] == '#') {
        // "#123" names the integer resource 123; anything else after the
        // '#' is an ordinary name.
        uint32_t number = 0;
        size_t i = 1;
        for (; argument[i] >= '0' && argument[i] <= '9' && number <= 0xFFFF; ++i)
            number = number * 10 + (uint32_t)(argument[i] - '0');
        if (i > 1 && argument[i] == '\0' && number <= 0xFFFF) {
            id->isString = false;
            id->ordinal = (uint16_t)number;
            id->text.clear();
            return true;
        }
    }
    id->isString = true;
    id->ordinal = 0;
    id->text.clear();
    // ANSI bytes above 0x7F are taken as Latin-1; names in this program are
    // plain ASCII.
    for (const char *c = argument; *c; ++c) id->text.push_back(UpperUnit((char16_t)(unsigned char)*c));
    return true;
}

bool SameResourceId(const ResourceId &a, const ResourceId &b) {
    if (a.isString != b.isString) return false;
    return a.isString ? a.text == b.text : a.ordinal == b.ordinal;
}

}  // namespace layer
