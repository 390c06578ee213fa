// The program's resources as the system serves them: lookup by type and id,
// and bitmaps loaded as DIB sections that keep the stored colour table and
// pixel indices. Each bitmap is checked against a decode of its raw resource
// made here, so both builds must agree with the stored data pixel for pixel.
#include "conformance.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// The stored form of a bitmap resource, decoded without the system's help.
struct RawBitmap {
    int width = 0;
    int height = 0;  // rows, bottom-up in `pixels`
    std::vector<RGBQUAD> table;
    std::vector<uint8_t> pixels;  // rows of `stride` bytes
    size_t stride = 0;
};

uint32_t Dword(const uint8_t *p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

// Only what the program's art uses: a 40-byte header, 8 bits, bottom-up,
// BI_RLE8 or BI_RGB.
bool DecodeRaw(const uint8_t *data, size_t size, RawBitmap *out) {
    if (size < 40 || Dword(data) != 40) return false;
    int width = (int)Dword(data + 4);
    int height = (int)Dword(data + 8);
    unsigned bits = data[14] | (data[15] << 8);
    uint32_t compression = Dword(data + 16);
    uint32_t used = Dword(data + 32);
    if (width <= 0 || height <= 0 || bits != 8 || used > 256) return false;
    size_t colors = used ? used : 256;
    size_t at = 40 + colors * 4;
    if (at > size) return false;
    out->width = width;
    out->height = height;
    // A section's table has all 256 entries; those not stored are black.
    out->table.assign(256, RGBQUAD{0, 0, 0, 0});
    std::memcpy(out->table.data(), data + 40, colors * 4);
    out->stride = ((size_t)width + 3) & ~(size_t)3;
    out->pixels.assign(out->stride * (size_t)height, 0);
    if (compression == BI_RGB) {
        if (size - at < out->pixels.size()) return false;
        std::memcpy(out->pixels.data(), data + at, out->pixels.size());
        return true;
    }
    if (compression != BI_RLE8) return false;
    size_t x = 0, y = 0;
    auto put = [&](uint8_t value) {
        if (x < (size_t)width && y < (size_t)height) out->pixels[y * out->stride + x] = value;
        ++x;
    };
    while (at + 1 < size && y < (size_t)height) {
        uint8_t count = data[at], code = data[at + 1];
        at += 2;
        if (count) {
            for (int i = 0; i < count; ++i) put(code);
        } else if (code == 0) {
            x = 0;
            ++y;
        } else if (code == 1) {
            break;
        } else if (code == 2) {
            if (at + 1 >= size) break;
            x += data[at];
            y += data[at + 1];
            at += 2;
        } else {
            for (int i = 0; i < code && at + i < size; ++i) put(data[at + i]);
            at += code + (code & 1);
        }
    }
    return true;
}

// The bitmap ids the program's resources hold, found by asking for each.
std::vector<int> BitmapIds() {
    std::vector<int> ids;
    for (int id = 1; id < 4096; ++id)
        if (FindResourceA(NULL, MAKEINTRESOURCEA(id), RT_BITMAP)) ids.push_back(id);
    return ids;
}

TEST(Resources, VersionResourceIsFoundLockedAndSized) {
    HRSRC info = FindResourceA(NULL, MAKEINTRESOURCEA(1), RT_VERSION);
    ASSERT_NE(nullptr, info) << GetLastError();
    HGLOBAL loaded = LoadResource(NULL, info);
    ASSERT_NE(nullptr, loaded);
    const uint8_t *data = static_cast<const uint8_t *>(LockResource(loaded));
    ASSERT_NE(nullptr, data);
    DWORD size = SizeofResource(NULL, info);
    ASSERT_GE(size, 6u + 32u);
    // VS_VERSIONINFO opens with its own length and, at 6, its key in UTF-16.
    EXPECT_LE((DWORD)(data[0] | (data[1] << 8)), size);
    const char *key = "VS_VERSION_INFO";
    for (size_t i = 0; key[i]; ++i) EXPECT_EQ((uint8_t)key[i], data[6 + 2 * i]) << i;
    EXPECT_EQ(info, FindResourceA(NULL, "#1", RT_VERSION)) << "\"#1\" names the integer id 1";
    EXPECT_EQ(info, FindResourceA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16)));
}

TEST(Resources, MissingTypeAndMissingNameAreReportedApart) {
    SetLastError(0);
    EXPECT_EQ(nullptr, FindResourceA(NULL, MAKEINTRESOURCEA(1), RT_MENU));
    EXPECT_EQ((DWORD)ERROR_RESOURCE_TYPE_NOT_FOUND, GetLastError());
    SetLastError(0);
    EXPECT_EQ(nullptr, FindResourceA(NULL, MAKEINTRESOURCEA(999), RT_VERSION));
    EXPECT_EQ((DWORD)ERROR_RESOURCE_NAME_NOT_FOUND, GetLastError());
    SetLastError(0);
    EXPECT_EQ(nullptr, FindResourceA(NULL, "NOSUCHNAME", RT_VERSION));
    EXPECT_EQ((DWORD)ERROR_RESOURCE_NAME_NOT_FOUND, GetLastError());
}

TEST(Resources, LoadImageOfAMissingBitmapFails) {
    SetLastError(0);
    EXPECT_EQ(nullptr, LoadImageA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(4000), IMAGE_BITMAP, 0, 0,
                                  LR_CREATEDIBSECTION));
    EXPECT_NE(0u, GetLastError());
}

TEST(Resources, EveryBitmapLoadsAsAnEightBitSectionWithItsStoredTableAndPixels) {
    std::vector<int> ids = BitmapIds();
#if VANTREL_EXPECT_BITMAPS
    ASSERT_FALSE(ids.empty()) << "resources/ holds art, but the program's resources hold no bitmap";
#else
    if (ids.empty()) GTEST_SKIP() << "no bitmaps in the resources yet";
#endif
    HDC memory = CreateCompatibleDC(NULL);
    ASSERT_NE(nullptr, memory);
    for (int id : ids) {
        SCOPED_TRACE(id);
        HRSRC info = FindResourceA(NULL, MAKEINTRESOURCEA(id), RT_BITMAP);
        ASSERT_NE(nullptr, info);
        const uint8_t *data = static_cast<const uint8_t *>(LockResource(LoadResource(NULL, info)));
        ASSERT_NE(nullptr, data);
        RawBitmap raw;
        ASSERT_TRUE(DecodeRaw(data, SizeofResource(NULL, info), &raw)) << "not 8-bit art";

        HBITMAP bitmap = (HBITMAP)LoadImageA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0,
                                             LR_CREATEDIBSECTION);
        ASSERT_NE(nullptr, bitmap) << GetLastError();
        DIBSECTION section = {};
        ASSERT_EQ((int)sizeof section, GetObjectA(bitmap, sizeof section, &section));
        EXPECT_EQ(8, section.dsBm.bmBitsPixel);
        EXPECT_EQ(raw.width, section.dsBm.bmWidth);
        EXPECT_EQ(raw.height, section.dsBm.bmHeight);
        EXPECT_EQ((LONG)raw.stride, section.dsBm.bmWidthBytes);
        ASSERT_NE(nullptr, section.dsBm.bmBits);

        HGDIOBJ old = SelectObject(memory, bitmap);
        ASSERT_NE(nullptr, old);
        RGBQUAD table[256] = {};
        UINT read = GetDIBColorTable(memory, 0, 256, table);
        ASSERT_EQ(raw.table.size(), read);
        EXPECT_EQ(0, std::memcmp(raw.table.data(), table, read * sizeof(RGBQUAD))) << "colour table";
        const uint8_t *bits = static_cast<const uint8_t *>(section.dsBm.bmBits);
        size_t differing = 0, first = 0;
        for (size_t i = 0; i < raw.pixels.size(); ++i) {
            if (i % raw.stride >= (size_t)raw.width) continue;  // row padding
            if (bits[i] != raw.pixels[i] && differing++ == 0) first = i;
        }
        EXPECT_EQ(0u, differing) << "first at row " << first / raw.stride << " column " << first % raw.stride;
        SelectObject(memory, old);
        EXPECT_TRUE(DeleteObject(bitmap));
    }
    DeleteDC(memory);
}

}  // namespace
