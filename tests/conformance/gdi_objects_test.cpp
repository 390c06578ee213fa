// GDI objects: memory DCs and what they start with, DIB sections and their
// descriptions, the one-DC-at-a-time rule for bitmaps, deleting objects that
// are stock or still selected, colour tables and palettes.
#include "conformance.h"

#include <cstring>

namespace {

struct Info8 {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
};

// An 8-bit DIB section whose table holds `colors` entries, entry i = (i, 255 - i, i / 2).
HBITMAP MakeDib8(int width, int height, int colors, void **bits = nullptr) {
    Info8 info = {};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = height;
    info.header.biPlanes = 1;
    info.header.biBitCount = 8;
    info.header.biCompression = BI_RGB;
    info.header.biClrUsed = colors == 256 ? 0 : colors;
    for (int i = 0; i < colors; ++i) info.colors[i] = {(BYTE)i, (BYTE)(255 - i), (BYTE)(i / 2), 0};
    void *unused = nullptr;
    return CreateDIBSection(NULL, reinterpret_cast<BITMAPINFO *>(&info), DIB_RGB_COLORS, bits ? bits : &unused,
                            NULL, 0);
}

HBITMAP MakeDib32(int width, int height, void **bits) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return CreateDIBSection(NULL, &info, DIB_RGB_COLORS, bits, NULL, 0);
}

class GdiObjects : public Win32Test {};

TEST_F(GdiObjects, MemoryDcStartsWithAOneByOneMonochromeBitmap) {
    HDC memory = CreateCompatibleDC(NULL);
    ASSERT_NE(nullptr, memory);
    EXPECT_EQ((DWORD)OBJ_MEMDC, GetObjectType(memory));
    HBITMAP dib = MakeDib8(4, 3, 256);
    ASSERT_NE(nullptr, dib);
    HGDIOBJ original = SelectObject(memory, dib);
    ASSERT_NE(nullptr, original);
    EXPECT_EQ((DWORD)OBJ_BITMAP, GetObjectType(original));
    BITMAP bm = {};
    ASSERT_EQ((int)sizeof bm, GetObjectA(original, sizeof bm, &bm));
    EXPECT_EQ(1, bm.bmWidth);
    EXPECT_EQ(1, bm.bmHeight);
    EXPECT_EQ(1, bm.bmBitsPixel);
    EXPECT_EQ(dib, SelectObject(memory, original)) << "selecting back returns the section";
    // Every memory DC starts with the same one.
    HDC second = CreateCompatibleDC(memory);
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(original, SelectObject(second, dib));
    EXPECT_TRUE(DeleteDC(second));
    EXPECT_TRUE(DeleteDC(memory));
    EXPECT_TRUE(DeleteObject(dib));
}

TEST_F(GdiObjects, DibSectionsDescribeThemselves) {
    void *bits = nullptr;
    HBITMAP dib = MakeDib8(5, 3, 256, &bits);
    ASSERT_NE(nullptr, dib);
    ASSERT_NE(nullptr, bits);
    EXPECT_EQ((DWORD)OBJ_BITMAP, GetObjectType(dib));
    EXPECT_EQ((int)sizeof(BITMAP), GetObjectA(dib, 0, NULL)) << "size asked for with no buffer";
    BITMAP bm = {};
    ASSERT_EQ((int)sizeof bm, GetObjectA(dib, sizeof bm, &bm));
    EXPECT_EQ(0, bm.bmType);
    EXPECT_EQ(5, bm.bmWidth);
    EXPECT_EQ(3, bm.bmHeight);
    EXPECT_EQ(8, bm.bmWidthBytes) << "rows of whole DWORDs";
    EXPECT_EQ(1, bm.bmPlanes);
    EXPECT_EQ(8, bm.bmBitsPixel);
    EXPECT_EQ(bits, bm.bmBits);
    DIBSECTION ds = {};
    ASSERT_EQ((int)sizeof ds, GetObjectA(dib, sizeof ds, &ds));
    EXPECT_EQ(bits, ds.dsBm.bmBits);
    EXPECT_EQ((DWORD)sizeof(BITMAPINFOHEADER), ds.dsBmih.biSize);
    EXPECT_EQ(5, ds.dsBmih.biWidth);
    EXPECT_EQ(3, ds.dsBmih.biHeight);
    EXPECT_EQ(8, ds.dsBmih.biBitCount);
    EXPECT_EQ((DWORD)BI_RGB, ds.dsBmih.biCompression);
    EXPECT_EQ(0, GetObjectA(dib, sizeof bm - 1, &bm)) << "a buffer too small for a BITMAP";
    EXPECT_TRUE(DeleteObject(dib));
    EXPECT_EQ(0u, GetObjectType(dib)) << "gone after DeleteObject";

    HBITMAP wide = MakeDib32(5, -2, &bits);
    ASSERT_NE(nullptr, wide);
    ASSERT_EQ((int)sizeof bm, GetObjectA(wide, sizeof bm, &bm));
    EXPECT_EQ(20, bm.bmWidthBytes);
    EXPECT_EQ(2, bm.bmHeight) << "a top-down section still reports a positive height";
    EXPECT_EQ(32, bm.bmBitsPixel);
    EXPECT_TRUE(DeleteObject(wide));
}

TEST_F(GdiObjects, ABitmapIsSelectedIntoOneDcAtATime) {
    HDC first = CreateCompatibleDC(NULL);
    HDC second = CreateCompatibleDC(NULL);
    HBITMAP dib = MakeDib8(2, 2, 256);
    HGDIOBJ original = SelectObject(first, dib);
    ASSERT_NE(nullptr, original);
    EXPECT_EQ(nullptr, SelectObject(second, dib)) << "already in the first DC";
    EXPECT_EQ(dib, SelectObject(first, dib)) << "selecting it again where it is";
    SelectObject(first, original);
    EXPECT_NE(nullptr, SelectObject(second, dib)) << "free again once deselected";
    DeleteDC(second);  // lets go of it, as deselecting does
    EXPECT_NE(nullptr, SelectObject(first, dib));
    DeleteDC(first);
    EXPECT_TRUE(DeleteObject(dib));
}

TEST_F(GdiObjects, BitmapsAreNotSelectedIntoWindowDcs) {
    HWND window = MakeQuietWindow();
    HDC dc = GetDC(window);
    ASSERT_NE(nullptr, dc);
    EXPECT_EQ((DWORD)OBJ_DC, GetObjectType(dc));
    HBITMAP dib = MakeDib8(2, 2, 256);
    EXPECT_EQ(nullptr, SelectObject(dc, dib));
    ReleaseDC(window, dc);
    EXPECT_TRUE(DeleteObject(dib));
}

TEST_F(GdiObjects, StockObjectsSurviveDeleteObject) {
    HGDIOBJ black = GetStockObject(BLACK_BRUSH);
    HGDIOBJ palette = GetStockObject(DEFAULT_PALETTE);
    EXPECT_TRUE(DeleteObject(black));
    EXPECT_TRUE(DeleteObject(palette));
    EXPECT_EQ((DWORD)OBJ_BRUSH, GetObjectType(black));
    EXPECT_EQ((DWORD)OBJ_PAL, GetObjectType(palette));
    EXPECT_FALSE(DeleteObject(NULL));
}

TEST_F(GdiObjects, ASelectedBitmapOutlivesDeleteObjectUntilItsDcLetsGo) {
    HDC memory = CreateCompatibleDC(NULL);
    HBITMAP dib = MakeDib8(2, 2, 256);
    ASSERT_NE(nullptr, SelectObject(memory, dib));
    EXPECT_TRUE(DeleteObject(dib)) << "the deletion is put off, not refused";
    EXPECT_EQ((DWORD)OBJ_BITMAP, GetObjectType(dib)) << "still there while selected";
    EXPECT_TRUE(DeleteDC(memory));
    EXPECT_EQ(0u, GetObjectType(dib)) << "deleted with its DC";
}

TEST_F(GdiObjects, ColourTableIsReadThroughAMemoryDc) {
    HDC memory = CreateCompatibleDC(NULL);
    RGBQUAD table[256] = {};
    EXPECT_EQ(0u, GetDIBColorTable(memory, 0, 256, table)) << "the stock bitmap has no colour table";
    HBITMAP dib = MakeDib8(3, 3, 256);
    HGDIOBJ original = SelectObject(memory, dib);
    ASSERT_EQ(256u, GetDIBColorTable(memory, 0, 256, table));
    EXPECT_EQ(10, table[10].rgbBlue);
    EXPECT_EQ(245, table[10].rgbGreen);
    EXPECT_EQ(5, table[10].rgbRed);
    EXPECT_EQ(6u, GetDIBColorTable(memory, 250, 100, table)) << "clipped at the table's end";
    EXPECT_EQ(250, table[0].rgbBlue);
    EXPECT_EQ(0u, GetDIBColorTable(memory, 256, 1, table));
    RGBQUAD white = {255, 255, 255, 0};
    EXPECT_EQ(1u, SetDIBColorTable(memory, 7, 1, &white));
    ASSERT_EQ(1u, GetDIBColorTable(memory, 7, 1, table));
    EXPECT_EQ(255, table[0].rgbGreen);
    SelectObject(memory, original);

    void *bits = nullptr;
    HBITMAP wide = MakeDib32(2, 2, &bits);
    original = SelectObject(memory, wide);
    EXPECT_EQ(0u, GetDIBColorTable(memory, 0, 256, table)) << "a 32-bit section has no table";
    SelectObject(memory, original);
    DeleteDC(memory);
    DeleteObject(dib);
    DeleteObject(wide);

    // A section given a short table still has all 256 entries; the ones it
    // was not given are black.
    HBITMAP small = MakeDib8(2, 2, 16);
    ASSERT_NE(nullptr, small);
    memory = CreateCompatibleDC(NULL);
    original = SelectObject(memory, small);
    std::memset(table, 0x55, sizeof table);
    EXPECT_EQ(256u, GetDIBColorTable(memory, 0, 256, table));
    EXPECT_EQ(15, table[15].rgbBlue);
    EXPECT_EQ(240, table[15].rgbGreen);
    for (int i = 16; i < 256; ++i)
        EXPECT_EQ(0, table[i].rgbBlue | table[i].rgbGreen | table[i].rgbRed | table[i].rgbReserved) << i;
    SelectObject(memory, original);
    DeleteDC(memory);
    DeleteObject(small);

    HWND window = MakeQuietWindow();
    HDC dc = GetDC(window);
    EXPECT_EQ(0u, GetDIBColorTable(dc, 0, 256, table)) << "a window DC holds no DIB section";
    ReleaseDC(window, dc);
}

TEST_F(GdiObjects, PalettesAreMadeDescribedAndSelected) {
    struct {
        WORD version;
        WORD count;
        PALETTEENTRY entries[4];
    } log = {0x300, 4, {{1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}, {10, 11, 12, PC_NOCOLLAPSE}}};
    HPALETTE palette = CreatePalette(reinterpret_cast<LOGPALETTE *>(&log));
    ASSERT_NE(nullptr, palette);
    EXPECT_EQ((DWORD)OBJ_PAL, GetObjectType(palette));
    WORD count = 0;
    EXPECT_EQ((int)sizeof count, GetObjectA(palette, sizeof count, &count));
    EXPECT_EQ(4, count);
    PALETTEENTRY got[4] = {};
    EXPECT_EQ(2u, GetPaletteEntries(palette, 2, 10, got));
    EXPECT_EQ(7, got[0].peRed);
    EXPECT_EQ(PC_NOCOLLAPSE, got[1].peFlags);
    EXPECT_EQ(4u, GetPaletteEntries(palette, 0, 0, NULL)) << "the count, when no buffer is given";

    HWND window = MakeQuietWindow();
    HDC dc = GetDC(window);
    HPALETTE first = SelectPalette(dc, palette, FALSE);
    EXPECT_EQ(GetStockObject(DEFAULT_PALETTE), first) << "every DC starts with the default palette";
    // A display of 32-bit colour has no system palette to map entries into.
    EXPECT_EQ(0u, RealizePalette(dc));
    EXPECT_EQ(palette, SelectPalette(dc, first, FALSE));
    ReleaseDC(window, dc);

    HDC memory = CreateCompatibleDC(NULL);
    EXPECT_EQ(GetStockObject(DEFAULT_PALETTE), SelectPalette(memory, palette, FALSE));
    EXPECT_EQ(palette, SelectPalette(memory, (HPALETTE)GetStockObject(DEFAULT_PALETTE), TRUE));
    DeleteDC(memory);
    EXPECT_TRUE(DeleteObject(palette));
    EXPECT_EQ(0u, GetObjectType(palette));
}

TEST_F(GdiObjects, BadHandlesAreRefused) {
    HDC memory = CreateCompatibleDC(NULL);
    HBITMAP dib = MakeDib8(2, 2, 256);
    EXPECT_EQ(nullptr, SelectObject(memory, (HGDIOBJ)(ULONG_PTR)0x1234));
    EXPECT_EQ(nullptr, SelectObject(NULL, dib));
    EXPECT_EQ(nullptr, SelectPalette(memory, (HPALETTE)dib, FALSE)) << "a bitmap is not a palette";
    EXPECT_EQ(0u, GetObjectType((HGDIOBJ)(ULONG_PTR)0x1234));
    EXPECT_EQ(0, GetObjectA((HGDIOBJ)(ULONG_PTR)0x1234, sizeof(BITMAP), NULL));
    EXPECT_FALSE(DeleteDC(NULL));
    EXPECT_EQ(nullptr, CreatePalette(NULL));
    DeleteDC(memory);
    DeleteObject(dib);
}

TEST_F(GdiObjects, SolidBrushesAreObjectsToSelectAndDelete) {
    HBRUSH brush = CreateSolidBrush(RGB(10, 20, 30));
    ASSERT_NE(nullptr, brush);
    EXPECT_EQ((DWORD)OBJ_BRUSH, GetObjectType(brush));
    HDC memory = CreateCompatibleDC(NULL);
    HGDIOBJ original = SelectObject(memory, brush);
    EXPECT_EQ(GetStockObject(WHITE_BRUSH), original) << "a new DC's brush";
    EXPECT_EQ(brush, SelectObject(memory, original));
    DeleteDC(memory);
    EXPECT_TRUE(DeleteObject(brush));
    EXPECT_EQ(0u, GetObjectType(brush));
}

}  // namespace
