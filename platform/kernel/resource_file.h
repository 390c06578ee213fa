// The compiled resource file (.res) that windres writes and the program
// carries: a run of records, each a header naming the resource's type and
// name, then its data. The bytes come from outside the layer's control (a
// build step, or a test), so reading them never trusts a size or an offset.
#ifndef VANTREL_PLATFORM_RESOURCE_FILE_H
#define VANTREL_PLATFORM_RESOURCE_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace layer {

// A type or a name: an ordinal, or a string kept upper-cased, since the
// system looks names up without regard to case.
struct ResourceId {
    bool isString = false;
    uint16_t ordinal = 0;
    std::u16string text;
};

struct ResourceEntry {
    ResourceId type;
    ResourceId name;
    uint32_t dataVersion = 0;
    uint16_t memoryFlags = 0;
    uint16_t language = 0;
    uint32_t version = 0;
    uint32_t characteristics = 0;
    size_t offset = 0;  // of the data, from the start of the file
    uint32_t size = 0;
};

struct ResourceFile {
    std::vector<ResourceEntry> entries;  // in file order
    // Reading stopped at a record that did not hold together; everything
    // from there on is treated as absent.
    bool damaged = false;
};

ResourceFile ParseResourceFile(const uint8_t *data, size_t size);

// An id as a caller names it through the ANSI API: an integer resource,
// "#123" (the same as the integer 123), or a name (compared upper-cased).
// False for a null pointer.
bool ResourceIdFromArgument(const char *argument, ResourceId *id);
bool SameResourceId(const ResourceId &a, const ResourceId &b);

}  // namespace layer

#endif
