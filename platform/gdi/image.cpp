// Bitmaps from the program's resources: LoadImageA and LoadBitmapA decode a
// packed 8-bit DIB (plain or run-length encoded) into a DIB section that
// keeps the resource's colour table and pixel indices as they are.
#include <string>

#include "gdi/gdi_internal.h"
#include "kernel/resource.h"
#include "session/layer_internal.h"
#include "kernel/rle8.h"

namespace layer {

namespace {

uint32_t Dword(const uint8_t *p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
uint16_t Word(const uint8_t *p) { return (uint16_t)(p[0] | (p[1] << 8)); }

}  // namespace

std::unique_ptr<BitmapObject> DibSectionFromPacked(const uint8_t *data, size_t size, DWORD *error) {
    *error = ERROR_INVALID_DATA;
    if (!data || size < sizeof(BITMAPINFOHEADER)) return nullptr;
    // BITMAPINFOHEADER and its two longer successors; the old 12-byte core
    // header is not read.
    uint32_t headerSize = Dword(data);
    if ((headerSize != 40 && headerSize != 108 && headerSize != 124) || headerSize > size) return nullptr;
    int32_t width = (int32_t)Dword(data + 4);
    int32_t height = (int32_t)Dword(data + 8);
    uint16_t planes = Word(data + 12);
    uint16_t bitCount = Word(data + 14);
    uint32_t compression = Dword(data + 16);
    uint32_t sizeImage = Dword(data + 20);
    uint32_t colorsUsed = Dword(data + 32);
    if (planes != 1 || bitCount != 8) return nullptr;
    if (compression != BI_RGB && compression != BI_RLE8) return nullptr;
    // Run-length data is always stored bottom-up.
    if (height == 0 || height == INT32_MIN || (compression == BI_RLE8 && height < 0)) return nullptr;
    if (colorsUsed > 256) return nullptr;
    size_t colors = colorsUsed ? colorsUsed : 256;
    size_t tableEnd = headerSize + colors * sizeof(RGBQUAD);
    if (tableEnd > size) return nullptr;

    bool topDown = height < 0;
    int rows = topDown ? -height : height;
    std::vector<RGBQUAD> table(colors);
    for (size_t i = 0; i < colors; ++i) {
        const uint8_t *q = data + headerSize + i * 4;
        table[i] = {q[0], q[1], q[2], q[3]};
    }
    auto bitmap = NewDibSection(width, rows, topDown, 8, std::move(table));
    if (!bitmap) return nullptr;

    const uint8_t *pixels = data + tableEnd;
    size_t available = size - tableEnd;
    if (compression == BI_RGB) {
        if (bitmap->bits.size() > available) return nullptr;
        std::copy(pixels, pixels + bitmap->bits.size(), bitmap->bits.begin());
    } else {
        // A stream that ends early leaves the rest of the picture at index 0,
        // as the system's decoder does.
        if (sizeImage && sizeImage < available) available = sizeImage;
        DecodeRle8(pixels, available, bitmap->bits.data(), bitmap->width, bitmap->height, bitmap->stride);
    }
    *error = ERROR_SUCCESS;
    return bitmap;
}

}  // namespace layer

using namespace layer;

extern "C" {

HANDLE WINAPI LoadImageA(HINSTANCE hInst, LPCSTR name, UINT type, int cx, int cy, UINT fuLoad) {
    EnsureStarted();
    // Only bitmaps of the program's own resources, at their own size.
    if (type != IMAGE_BITMAP || (fuLoad & LR_LOADFROMFILE) || cx < 0 || cy < 0 || !name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // A fault can be aimed at one picture ("LoadImageA:118") or at any.
    std::string aimed = "LoadImageA:";
    aimed += IS_INTRESOURCE(name) ? std::to_string((uintptr_t)name) : std::string(name);
    if (TakeFault(aimed.c_str()) || TakeFault("LoadImageA")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // Without an instance the system's own bitmaps are meant; there are none.
    if (!hInst) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    HRSRC found;
    DWORD error = FindProgramResource(hInst, name, RT_BITMAP, &found);
    const uint8_t *data = nullptr;
    size_t size = 0;
    if (error == ERROR_SUCCESS && !ResourceBytes(found, &data, &size)) error = ERROR_RESOURCE_DATA_NOT_FOUND;
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return nullptr;
    }
    auto bitmap = DibSectionFromPacked(data, size, &error);
    if (!bitmap) {
        SetLastError(error);
        return nullptr;
    }
    // Stretching on load is not offered: a size must be the picture's own.
    if ((cx && cx != bitmap->width) || (cy && cy != bitmap->height)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return (HANDLE)GdiAdd(std::move(bitmap));
}

HBITMAP WINAPI LoadBitmapA(HINSTANCE hInstance, LPCSTR lpBitmapName) {
    // The system would make a bitmap in the display's format; the layer keeps
    // the 8-bit section, which draws the same on its 32-bit surfaces.
    return (HBITMAP)LoadImageA(hInstance, lpBitmapName, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
}

}  // extern "C"
