// The resource lookup shared by FindResourceA and the loaders of bitmaps
// (and later dialogs and icons).
#ifndef VANTREL_PLATFORM_KERNEL_RESOURCE_H
#define VANTREL_PLATFORM_KERNEL_RESOURCE_H

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace layer {

// ERROR_SUCCESS and the resource's handle, or the error FindResourceA reports.
DWORD FindProgramResource(HMODULE module, LPCSTR name, LPCSTR type, HRSRC *found);
// The bytes of a resource; false for a handle that names none.
bool ResourceBytes(HRSRC handle, const uint8_t **data, size_t *size);

}  // namespace layer

#endif
