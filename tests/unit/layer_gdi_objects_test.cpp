// Bitmaps loaded from resources, DIB sections, memory DCs, palettes and
// brushes in the layer: what the engine relies on, the failures it must
// see, and that every object made is also given back.
#include <gtest/gtest.h>
#include <layer_hooks.h>
#include <windows.h>

#include <cstring>
#include <vector>

#include "tests/unit/res_builder.h"

namespace {

using namespace resbuild;

class LayerGdiObjects : public ::testing::Test {
protected:
    void SetUp() override {
        layer::ResetHeadless(640, 480);
        startObjects = layer::LiveGdiObjects();
    }
    void TearDown() override { layer::ResetHeadless(640, 480); }

    static HBITMAP Load(int id) {
        return (HBITMAP)LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0,
                                   LR_CREATEDIBSECTION);
    }
    // Bitmap resources under the given ids, nothing else.
    static void UseBitmaps(const std::vector<std::pair<int, std::vector<uint8_t>>> &bitmaps) {
        std::vector<uint8_t> file = NewResFile();
        for (const auto &[id, dib] : bitmaps) AddRecord(file, Ord(2), Ord((uint16_t)id), dib);
        layer::UseResources(file);
    }
    static std::vector<uint8_t> Pixels(HBITMAP bitmap) {
        BITMAP bm = {};
        if (GetObjectA(bitmap, sizeof bm, &bm) != sizeof bm || !bm.bmBits) return {};
        const uint8_t *bits = static_cast<const uint8_t *>(bm.bmBits);
        return std::vector<uint8_t>(bits, bits + (size_t)bm.bmWidthBytes * (size_t)bm.bmHeight);
    }

    int startObjects = 0;
};

// 3x2, bottom row first: (1 2 3) then (4 5 5), as RLE8.
std::vector<uint8_t> SmallRle() { return {0, 3, 1, 2, 3, 0, 0, 0, 1, 4, 2, 5, 0, 0, 0, 1}; }

TEST_F(LayerGdiObjects, LoadedBitmapKeepsItsIndicesAndColourTable) {
    UseBitmaps({{118, PackedDib(3, 2, BI_RLE8, 256, SmallRle())},
                {119, PackedDib(3, 2, BI_RGB, 0, {9, 8, 7, 0, 6, 5, 4, 0})}});
    HBITMAP rle = Load(118);
    ASSERT_NE(nullptr, rle) << GetLastError();
    BITMAP bm = {};
    ASSERT_EQ((int)sizeof bm, GetObjectA(rle, sizeof bm, &bm));
    EXPECT_EQ(3, bm.bmWidth);
    EXPECT_EQ(2, bm.bmHeight);
    EXPECT_EQ(4, bm.bmWidthBytes);
    EXPECT_EQ(8, bm.bmBitsPixel);
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 0, 4, 5, 5, 0}), Pixels(rle));

    HBITMAP plain = Load(119);  // biClrUsed 0: a full table follows the header
    ASSERT_NE(nullptr, plain);
    EXPECT_EQ((std::vector<uint8_t>{9, 8, 7, 0, 6, 5, 4, 0}), Pixels(plain));

    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ original = SelectObject(memory, rle);
    RGBQUAD table[256];
    ASSERT_EQ(256u, GetDIBColorTable(memory, 0, 256, table));
    EXPECT_EQ(200, table[200].rgbBlue);
    EXPECT_EQ((BYTE)(2 * 200), table[200].rgbGreen);
    EXPECT_EQ((BYTE)(3 * 200), table[200].rgbRed);
    SelectObject(memory, original);
    DeleteDC(memory);
    DeleteObject(rle);
    DeleteObject(plain);
    EXPECT_EQ(startObjects, layer::LiveGdiObjects());
}

TEST_F(LayerGdiObjects, ShortTablesAreFilledWithBlack) {
    UseBitmaps({{120, PackedDib(3, 2, BI_RLE8, 4, SmallRle())}});
    HBITMAP bitmap = Load(120);
    ASSERT_NE(nullptr, bitmap) << "the pixels follow the four stored entries";
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 0, 4, 5, 5, 0}), Pixels(bitmap));
    HDC memory = CreateCompatibleDC(nullptr);
    SelectObject(memory, bitmap);
    RGBQUAD table[256];
    std::memset(table, 0x77, sizeof table);
    ASSERT_EQ(256u, GetDIBColorTable(memory, 0, 256, table));
    EXPECT_EQ(3, table[3].rgbBlue);
    EXPECT_EQ(0, table[4].rgbBlue | table[4].rgbGreen | table[4].rgbRed);
    DeleteDC(memory);
    DeleteObject(bitmap);
}

TEST_F(LayerGdiObjects, DamagedOrAbsurdBitmapsAreRefused) {
    std::vector<uint8_t> good = PackedDib(3, 2, BI_RLE8, 0, SmallRle());
    auto patched = [&](size_t at, uint32_t value, size_t bytes = 4) {
        std::vector<uint8_t> dib = good;
        for (size_t i = 0; i < bytes; ++i) dib.at(at + i) = (uint8_t)(value >> (8 * i));
        return dib;
    };
    std::vector<uint8_t> tableCut(good.begin(), good.begin() + 40 + 100 * 4);
    std::vector<uint8_t> rgbCut = PackedDib(3, 2, BI_RGB, 0, {1, 2, 3, 0, 4});  // 5 of 8 pixel bytes
    std::vector<std::vector<uint8_t>> bad = {
        patched(0, 12),               // the old core header
        patched(0, 64),               // no header of that size exists
        patched(0, 0xFFFFFFF0),       // header "larger" than the data
        patched(4, 0),                // no width
        patched(4, 100000),           // absurd width
        patched(8, (uint32_t)-2),     // RLE8 stored top-down
        patched(8, 0x7FFFFFFF),       // absurd height
        patched(12, 2, 2),            // two planes
        patched(14, 4, 2),            // not 8 bits
        patched(16, BI_BITFIELDS),    // not RLE8 or plain
        patched(32, 257),             // more colours than 8 bits index
        tableCut,                     // the table runs off the end
        rgbCut,                       // plain pixels run off the end
        {40, 0, 0},                   // a header cut short
    };
    std::vector<std::pair<int, std::vector<uint8_t>>> bitmaps;
    for (size_t i = 0; i < bad.size(); ++i) bitmaps.push_back({(int)(200 + i), bad[i]});
    UseBitmaps(bitmaps);
    for (size_t i = 0; i < bad.size(); ++i) {
        SetLastError(0);
        EXPECT_EQ(nullptr, Load((int)(200 + i))) << "case " << i;
        EXPECT_EQ((DWORD)ERROR_INVALID_DATA, GetLastError()) << "case " << i;
    }
    EXPECT_EQ(startObjects, layer::LiveGdiObjects());
}

TEST_F(LayerGdiObjects, TruncatedRunsLeaveTheRestBlackButStillLoad) {
    std::vector<uint8_t> cut = SmallRle();
    cut.resize(4);  // the absolute run of three stops after two
    UseBitmaps({{118, PackedDib(3, 2, BI_RLE8, 0, cut)}});
    HBITMAP bitmap = Load(118);
    ASSERT_NE(nullptr, bitmap);
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 0, 0, 0, 0, 0, 0}), Pixels(bitmap));
    DeleteObject(bitmap);
}

TEST_F(LayerGdiObjects, LoadFailuresReportWhatWentWrong) {
    UseBitmaps({{117, PackedDib(3, 2, BI_RLE8, 0, SmallRle())}, {118, PackedDib(3, 2, BI_RLE8, 0, SmallRle())}});
    SetLastError(0);
    EXPECT_EQ(nullptr, Load(130));
    EXPECT_EQ((DWORD)ERROR_RESOURCE_NAME_NOT_FOUND, GetLastError());
    EXPECT_EQ(nullptr, LoadImageA(nullptr, MAKEINTRESOURCEA(117), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION))
        << "no instance: the system's bitmaps, of which there are none";
    EXPECT_EQ(nullptr, LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(117), IMAGE_BITMAP, 6, 4, 0))
        << "stretching on load is not offered";
    HBITMAP own = (HBITMAP)LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(117), IMAGE_BITMAP, 3, 2, 0);
    EXPECT_NE(nullptr, own) << "its own size is fine";
    DeleteObject(own);
    HBITMAP viaLoadBitmap = LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(117));
    ASSERT_NE(nullptr, viaLoadBitmap);
    DeleteObject(viaLoadBitmap);

    // A fault aimed at one picture leaves the others alone, once.
    layer::InjectFault("LoadImageA:118");
    HBITMAP first = Load(117);
    EXPECT_NE(nullptr, first);
    SetLastError(0);
    EXPECT_EQ(nullptr, Load(118));
    EXPECT_EQ((DWORD)ERROR_NOT_ENOUGH_MEMORY, GetLastError());
    HBITMAP again = Load(118);
    EXPECT_NE(nullptr, again);
    layer::InjectFault("LoadImageA", 2);
    EXPECT_EQ(nullptr, Load(117));
    EXPECT_EQ(nullptr, Load(118));
    HBITMAP after = Load(117);
    EXPECT_NE(nullptr, after);
    for (HBITMAP b : {first, again, after}) DeleteObject(b);
    EXPECT_EQ(startObjects, layer::LiveGdiObjects());
}

TEST_F(LayerGdiObjects, DibSectionsOfEightAndThirtyTwoBits) {
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colors[2];
    } info = {{sizeof(BITMAPINFOHEADER), 7, -3, 1, 8, BI_RGB, 0, 0, 0, 2, 0}, {{1, 2, 3, 0}, {4, 5, 6, 0}}};
    void *bits = nullptr;
    HBITMAP eight = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO *>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(nullptr, eight);
    ASSERT_NE(nullptr, bits);
    DIBSECTION ds = {};
    ASSERT_EQ((int)sizeof ds, GetObjectA(eight, sizeof ds, &ds));
    EXPECT_EQ(8, ds.dsBm.bmWidthBytes);
    EXPECT_EQ(3, ds.dsBm.bmHeight);
    EXPECT_EQ(bits, ds.dsBm.bmBits);
    EXPECT_EQ(24u, ds.dsBmih.biSizeImage);
    EXPECT_EQ(0, std::memcmp(bits, std::vector<uint8_t>(24, 0).data(), 24)) << "sections start cleared";

    BITMAPINFO wide = {};
    wide.bmiHeader = {sizeof(BITMAPINFOHEADER), 3, 3, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    HBITMAP thirtyTwo = CreateDIBSection(nullptr, &wide, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(nullptr, thirtyTwo);
    BITMAP bm = {};
    GetObjectA(thirtyTwo, sizeof bm, &bm);
    EXPECT_EQ(12, bm.bmWidthBytes);

    // Refused: formats not offered, absurd sizes, and the fault.
    BITMAPINFO refused = wide;
    refused.bmiHeader.biBitCount = 24;
    bits = &refused;
    EXPECT_EQ(nullptr, CreateDIBSection(nullptr, &refused, DIB_RGB_COLORS, &bits, nullptr, 0));
    EXPECT_EQ(nullptr, bits) << "the bits pointer is cleared on failure";
    refused = wide;
    refused.bmiHeader.biWidth = 20000;
    EXPECT_EQ(nullptr, CreateDIBSection(nullptr, &refused, DIB_RGB_COLORS, &bits, nullptr, 0));
    refused = wide;
    refused.bmiHeader.biHeight = 0;
    EXPECT_EQ(nullptr, CreateDIBSection(nullptr, &refused, DIB_RGB_COLORS, &bits, nullptr, 0));
    EXPECT_EQ(nullptr, CreateDIBSection(nullptr, &wide, DIB_PAL_COLORS, &bits, nullptr, 0));
    EXPECT_EQ(nullptr, CreateDIBSection(nullptr, nullptr, DIB_RGB_COLORS, &bits, nullptr, 0));
    layer::InjectFault("CreateDIBSection");
    EXPECT_EQ(nullptr, CreateDIBSection(nullptr, &wide, DIB_RGB_COLORS, &bits, nullptr, 0));

    DeleteObject(eight);
    DeleteObject(thirtyTwo);
    EXPECT_EQ(startObjects, layer::LiveGdiObjects());
}

TEST_F(LayerGdiObjects, SelectionAndDeletionRulesKeepCountsHonest) {
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 2, 2, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void *bits;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    HDC first = CreateCompatibleDC(nullptr);
    HDC second = CreateCompatibleDC(first);
    EXPECT_EQ(startObjects + 4, layer::LiveGdiObjects());

    HGDIOBJ stockBitmap = SelectObject(first, bitmap);
    ASSERT_NE(nullptr, stockBitmap);
    EXPECT_EQ(nullptr, SelectObject(second, bitmap));
    EXPECT_EQ(GetStockObject(WHITE_BRUSH), SelectObject(second, brush));
    EXPECT_TRUE(DeleteObject(stockBitmap)) << "the stock bitmap is not deleted";
    EXPECT_EQ((DWORD)OBJ_BITMAP, GetObjectType(stockBitmap));

    // Selected objects survive DeleteObject until their DC lets go.
    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_TRUE(DeleteObject(brush));
    EXPECT_EQ(startObjects + 4, layer::LiveGdiObjects());
    EXPECT_EQ(bitmap, SelectObject(first, stockBitmap));
    EXPECT_EQ(0u, GetObjectType(bitmap)) << "deselected, and so deleted";
    EXPECT_TRUE(DeleteDC(second));
    EXPECT_EQ(0u, GetObjectType(brush));
    EXPECT_TRUE(DeleteDC(first));
    EXPECT_FALSE(DeleteDC(first)) << "already gone";
    EXPECT_EQ(startObjects, layer::LiveGdiObjects());

    HDC bogus = (HDC)(uintptr_t)0x4321;
    EXPECT_EQ(nullptr, CreateCompatibleDC(bogus));
    layer::InjectFault("CreateCompatibleDC");
    EXPECT_EQ(nullptr, CreateCompatibleDC(nullptr));
    EXPECT_EQ(startObjects, layer::LiveGdiObjects());
}

TEST_F(LayerGdiObjects, WindowDcsAreNotDeletedThroughDeleteDc) {
    HDC screen = GetDC(nullptr);
    ASSERT_NE(nullptr, screen);
    EXPECT_FALSE(DeleteDC(screen));
    EXPECT_EQ((DWORD)OBJ_DC, GetObjectType(screen));
    RGBQUAD table[4];
    EXPECT_EQ(0u, GetDIBColorTable(screen, 0, 4, table));
    EXPECT_EQ(1, ReleaseDC(nullptr, screen));
    EXPECT_EQ(startObjects, layer::LiveGdiObjects());
}

TEST_F(LayerGdiObjects, PalettesAreValidatedSelectedAndRealized) {
    std::vector<uint8_t> storage(sizeof(WORD) * 2 + 1025 * sizeof(PALETTEENTRY));
    LOGPALETTE *log = reinterpret_cast<LOGPALETTE *>(storage.data());
    for (int i = 0; i < 1025; ++i) log->palPalEntry[i] = {(BYTE)i, 0, 0, PC_NOCOLLAPSE};
    log->palVersion = 0x300;
    for (WORD count : {0, 1025}) {
        log->palNumEntries = count;
        EXPECT_EQ(nullptr, CreatePalette(log)) << count << " entries";
    }
    log->palNumEntries = 256;
    log->palVersion = 0x200;
    EXPECT_EQ(nullptr, CreatePalette(log)) << "only version 0x300 exists";
    log->palVersion = 0x300;
    layer::InjectFault("CreatePalette");
    EXPECT_EQ(nullptr, CreatePalette(log));
    HPALETTE palette = CreatePalette(log);
    ASSERT_NE(nullptr, palette);
    log->palNumEntries = 1024;
    HPALETTE largest = CreatePalette(log);
    EXPECT_NE(nullptr, largest);
    WORD count = 0;
    EXPECT_EQ(2, GetObjectA(largest, sizeof count, &count));
    EXPECT_EQ(1024, count);
    PALETTEENTRY entry;
    EXPECT_EQ(1u, GetPaletteEntries(palette, 255, 5, &entry));
    EXPECT_EQ(255, entry.peRed);
    EXPECT_EQ(0u, GetPaletteEntries(palette, 256, 1, &entry));

    HDC dc = GetDC(nullptr);
    HPALETTE stock = (HPALETTE)GetStockObject(DEFAULT_PALETTE);
    EXPECT_EQ(20u, GetPaletteEntries(stock, 0, 0, nullptr)) << "the static colours";
    layer::InjectFault("SelectPalette");
    EXPECT_EQ(nullptr, SelectPalette(dc, palette, FALSE));
    EXPECT_EQ(stock, SelectPalette(dc, palette, FALSE)) << "the fault changed nothing";
    EXPECT_EQ(0u, RealizePalette(dc));
    EXPECT_EQ(palette, SelectPalette(dc, largest, FALSE));
    // A palette deleted while selected is gone at once; the DC still hands
    // back its old handle, as the system does.
    EXPECT_TRUE(DeleteObject(largest));
    EXPECT_EQ(0u, GetObjectType(largest));
    EXPECT_EQ(largest, SelectPalette(dc, palette, FALSE));
    EXPECT_EQ((UINT)GDI_ERROR, RealizePalette(nullptr));
    ReleaseDC(nullptr, dc);

    HDC memory = CreateCompatibleDC(nullptr);
    layer::InjectFault("GetDIBColorTable");
    RGBQUAD table[1];
    EXPECT_EQ(0u, GetDIBColorTable(memory, 0, 1, table));
    DeleteDC(memory);
    DeleteObject(palette);
    EXPECT_EQ(startObjects, layer::LiveGdiObjects());
}

TEST_F(LayerGdiObjects, TheProgramsOwnBitmapsLoad) {
    // Whatever art the resource script holds loads as 8-bit sections.
    int loaded = 0;
    for (int id : {117, 119, 120, 138, 118, 128, 130, 124, 125}) {
        if (!FindResourceA(nullptr, MAKEINTRESOURCEA(id), RT_BITMAP)) continue;
        HBITMAP bitmap = Load(id);
        ASSERT_NE(nullptr, bitmap) << id << " error " << GetLastError();
        BITMAP bm = {};
        GetObjectA(bitmap, sizeof bm, &bm);
        EXPECT_EQ(8, bm.bmBitsPixel) << id;
        DeleteObject(bitmap);
        ++loaded;
    }
    if (loaded == 0) GTEST_SKIP() << "no art in the resources yet";
    EXPECT_EQ(startObjects, layer::LiveGdiObjects());
}

// Handles are looked up many times a frame; a number names its own object
// only while that lives, and after a reset the same number names the new one.
TEST_F(LayerGdiObjects, AHandleFindsItsOwnObjectOnlyWhileItLives) {
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    EXPECT_EQ((DWORD)OBJ_BRUSH, GetObjectType(brush));
    EXPECT_TRUE(DeleteObject(brush));
    EXPECT_EQ(0u, GetObjectType(brush));

    layer::ResetHeadless(640, 480);
    HGDIOBJ first = CreateSolidBrush(RGB(4, 5, 6));
    EXPECT_EQ((DWORD)OBJ_BRUSH, GetObjectType(first));
    layer::ResetHeadless(640, 480);
    HDC again = CreateCompatibleDC(nullptr);
    ASSERT_EQ(first, (HGDIOBJ)again) << "numbers start again after a reset";
    EXPECT_EQ((DWORD)OBJ_MEMDC, GetObjectType(again));
    DeleteDC(again);
}

}  // namespace
