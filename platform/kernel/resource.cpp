// The program's resources: FindResourceA and its companions over the .res
// file that the build embeds (or that a test supplies), and the lookup that
// LoadImageA and friends share.
#include <layer_hooks.h>

#include <cstring>

#include "kernel/resource.h"
#include "session/layer_internal.h"
#include "kernel/resource_file.h"

// Defined by the generated source that carries the compiled resource script.
// Weak, so the layer links into programs and tests built without it; they
// then simply have no resources.
extern "C" __attribute__((weak)) const unsigned char *VantrelEmbeddedResources(size_t *size);

namespace layer {

struct ResourceTable {
    std::vector<uint8_t> owned;  // bytes a test supplied; empty for the embedded ones
    const uint8_t *data = nullptr;
    size_t size = 0;
    ResourceFile file;
    uint32_t generation = 0;
};

namespace {

// Bumped for every table, so an HRSRC from an earlier table is not mistaken
// for one of the current table.
uint32_t tableGeneration = 0;

constexpr uintptr_t kHandleBase = 0x40000000;
constexpr uintptr_t kIndexBits = 22;
constexpr uintptr_t kIndexMask = ((uintptr_t)1 << kIndexBits) - 1;

std::shared_ptr<const ResourceTable> MakeTable(std::vector<uint8_t> owned, const uint8_t *data, size_t size) {
    auto table = std::make_shared<ResourceTable>();
    table->owned = std::move(owned);
    if (!table->owned.empty()) {
        data = table->owned.data();
        size = table->owned.size();
    }
    table->data = data;
    table->size = data ? size : 0;
    table->file = ParseResourceFile(table->data, table->size);
    table->generation = ++tableGeneration;
    return table;
}

const ResourceTable &Table() {
    State &s = S();
    if (!s.resources) {
        const unsigned char *data = nullptr;
        size_t size = 0;
        if (VantrelEmbeddedResources) data = VantrelEmbeddedResources(&size);
        s.resources = MakeTable({}, data, size);
    }
    return *s.resources;
}

HRSRC HandleOf(const ResourceTable &table, size_t index) {
    return (HRSRC)(kHandleBase + ((uintptr_t)(table.generation & 0xFF) << kIndexBits) + index + 1);
}

const ResourceEntry *EntryOf(HRSRC handle) {
    const ResourceTable &table = Table();
    uintptr_t v = (uintptr_t)handle;
    if (v <= kHandleBase) return nullptr;
    v -= kHandleBase;
    if ((v >> kIndexBits) != (table.generation & 0xFF)) return nullptr;
    size_t index = (size_t)(v & kIndexMask);
    if (index == 0 || index > table.file.entries.size()) return nullptr;
    return &table.file.entries[index - 1];
}

bool IsProgramModule(HMODULE module) { return !module || module == GetModuleHandleA(nullptr); }

}  // namespace

DWORD FindProgramResource(HMODULE module, LPCSTR name, LPCSTR type, HRSRC *found) {
    *found = nullptr;
    const ResourceTable &table = Table();
    // Fake libraries, like a module built without resources, have none.
    if (!IsProgramModule(module) || table.file.entries.empty()) return ERROR_RESOURCE_DATA_NOT_FOUND;
    ResourceId wantedType, wantedName;
    if (!ResourceIdFromArgument(type, &wantedType)) return ERROR_RESOURCE_TYPE_NOT_FOUND;
    if (!ResourceIdFromArgument(name, &wantedName)) return ERROR_RESOURCE_NAME_NOT_FOUND;
    bool typeSeen = false;
    const auto &entries = table.file.entries;
    for (size_t i = 0; i < entries.size() && i < kIndexMask; ++i) {
        if (!SameResourceId(entries[i].type, wantedType)) continue;
        typeSeen = true;
        // Languages are not chosen between: the program carries one of each.
        if (SameResourceId(entries[i].name, wantedName)) {
            *found = HandleOf(table, i);
            return ERROR_SUCCESS;
        }
    }
    return typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND;
}

bool ResourceBytes(HRSRC handle, const uint8_t **data, size_t *size) {
    const ResourceEntry *entry = EntryOf(handle);
    if (!entry) return false;
    *data = Table().data + entry->offset;
    *size = entry->size;
    return true;
}

void UseResources(std::vector<uint8_t> resFile) {
    // A table of no bytes is a program without resources; it must not fall
    // back to the embedded ones.
    auto table = MakeTable(std::move(resFile), nullptr, 0);
    S().resources = std::move(table);
}

}  // namespace layer

using namespace layer;

extern "C" {

HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType) {
    EnsureStarted();
    HRSRC found;
    DWORD error = FindProgramResource(hModule, lpName, lpType, &found);
    if (error != ERROR_SUCCESS) SetLastError(error);
    return found;
}

HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo) {
    EnsureStarted();
    (void)hModule;  // the handle alone says which resource it is
    const uint8_t *data;
    size_t size;
    if (!ResourceBytes(hResInfo, &data, &size)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // Resources are read-only; the pointer is handed out as the system does.
    return (HGLOBAL)data;
}

LPVOID WINAPI LockResource(HGLOBAL hResData) {
    // A loaded resource is already its own address.
    return hResData;
}

DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo) {
    EnsureStarted();
    (void)hModule;
    const uint8_t *data;
    size_t size;
    if (!ResourceBytes(hResInfo, &data, &size)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return (DWORD)size;
}

}  // extern "C"
