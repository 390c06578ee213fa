// Copies between bitmaps and windows in the layer: colour matching between
// tables, AND/OR on indices, clipping at every edge, stretching, copies to a
// window, fills on memory DCs, and that nothing leaks or spills over.
#include <layer_hooks.h>

#include <cstring>
#include <set>
#include <vector>

#include "tests/unit/layer_fixture.h"

namespace {

struct Info8 {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
};

// An 8-bit section with the given table (the rest black), top-down or not.
HBITMAP MakeDib8(int w, int h, const std::vector<RGBQUAD> &table, bool topDown = false, uint8_t **bits = nullptr) {
    Info8 info = {};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = w;
    info.header.biHeight = topDown ? -h : h;
    info.header.biPlanes = 1;
    info.header.biBitCount = 8;
    info.header.biCompression = BI_RGB;
    for (size_t i = 0; i < table.size() && i < 256; ++i) info.colors[i] = table[i];
    void *p = nullptr;
    HBITMAP b = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO *>(&info), DIB_RGB_COLORS, &p, nullptr, 0);
    if (bits) *bits = static_cast<uint8_t *>(p);
    return b;
}

// Grey ramp: entry i = (i, i, i).
std::vector<RGBQUAD> Grey() {
    std::vector<RGBQUAD> t(256);
    for (int i = 0; i < 256; ++i) t[(size_t)i] = {(BYTE)i, (BYTE)i, (BYTE)i, 0};
    return t;
}

class LayerBlit : public LayerTest {
protected:
    void SetUp() override {
        LayerTest::SetUp();
        start = layer::LiveGdiObjects();
    }
    // A memory DC holding `bitmap`; released in TearDown-free style by Drop.
    HDC Hold(HBITMAP bitmap) {
        HDC dc = CreateCompatibleDC(nullptr);
        old.push_back({dc, SelectObject(dc, bitmap), bitmap});
        return dc;
    }
    void DropAll() {
        for (auto &h : old) {
            SelectObject(h.dc, h.original);
            DeleteDC(h.dc);
            DeleteObject(h.bitmap);
        }
        old.clear();
    }
    HBITMAP Make(int w, int h, const std::vector<RGBQUAD> &table, bool topDown = false) {
        HBITMAP b = MakeDib8(w, h, table, topDown);
        if (topDown) topDowns.insert(b);
        return b;
    }
    uint8_t *Cell(HBITMAP b, int x, int y) {
        BITMAP bm = {};
        GetObjectA(b, sizeof bm, &bm);
        int row = topDowns.count(b) ? y : bm.bmHeight - 1 - y;
        return static_cast<uint8_t *>(bm.bmBits) + (size_t)row * (size_t)bm.bmWidthBytes + (size_t)x;
    }
    // Index at (x, y) counted from the top, whatever the storage order.
    uint8_t At(HBITMAP b, int x, int y) { return *Cell(b, x, y); }
    void Put(HBITMAP b, int x, int y, uint8_t v) { *Cell(b, x, y) = v; }
    void FillAll(HBITMAP b, int w, int h, uint8_t v) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) Put(b, x, y, v);
    }
    // Source pattern: index at (x, y) = (x + 16 * y) & 0xFF, never 0.
    void Pattern(HBITMAP b, int w, int h) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) Put(b, x, y, (uint8_t)(((x + 16 * y) % 255) + 1));
    }
    static uint8_t PatternAt(int x, int y) { return (uint8_t)(((x + 16 * y) % 255) + 1); }

    struct Held {
        HDC dc;
        HGDIOBJ original;
        HBITMAP bitmap;
    };
    std::vector<Held> old;
    std::set<HBITMAP> topDowns;
    int start = 0;
};


TEST_F(LayerBlit, DifferentTablesMatchColoursExactFirstThenNearestLowestIndex) {
    // Source colours: 1 exact in the destination (twice: 5 and 9), 2 between
    // two equally near entries (7 and 8), 3 nearest to entry 4.
    std::vector<RGBQUAD> srcTable(256, RGBQUAD{0, 0, 0, 0}), dstTable(256, RGBQUAD{255, 255, 255, 0});
    srcTable[1] = {30, 20, 10, 0};
    srcTable[2] = {0, 0, 100, 0};
    srcTable[3] = {200, 0, 0, 0};
    dstTable[0] = {0, 0, 0, 0};
    dstTable[4] = {190, 5, 0, 0};
    dstTable[5] = {30, 20, 10, 0};
    dstTable[7] = {0, 0, 90, 0};
    dstTable[8] = {0, 0, 110, 0};
    dstTable[9] = {30, 20, 10, 0};
    dstTable[10] = {29, 20, 10, 0};
    HBITMAP src = Make(4, 1, srcTable), dst = Make(4, 1, dstTable, true);
    for (int x = 0; x < 4; ++x) Put(src, x, 0, (uint8_t)x);
    HDC s = Hold(src), d = Hold(dst);
    ASSERT_TRUE(BitBlt(d, 0, 0, 4, 1, s, 0, 0, SRCCOPY));
    EXPECT_EQ(0, At(dst, 0, 0));
    EXPECT_EQ(5, At(dst, 1, 0)) << "exact match, lowest of two";
    EXPECT_EQ(7, At(dst, 2, 0)) << "equally near: lowest index";
    EXPECT_EQ(4, At(dst, 3, 0));

    // A changed table is matched afresh, not from what an earlier copy found.
    RGBQUAD moved = {200, 0, 0, 0};
    ASSERT_EQ(1u, SetDIBColorTable(d, 20, 1, &moved));
    ASSERT_TRUE(BitBlt(d, 0, 0, 4, 1, s, 0, 0, SRCCOPY));
    EXPECT_EQ(20, At(dst, 3, 0));
    DropAll();
}

TEST_F(LayerBlit, AndOrActOnIndicesAndTranslateFirstWhenTablesDiffer) {
    HBITMAP a = Make(9, 2, Grey()), b = Make(9, 2, Grey(), true);
    for (int x = 0; x < 9; ++x) {
        Put(a, x, 0, (uint8_t)(0xF0 | x));
        Put(a, x, 1, (uint8_t)(0x0F + x));
        Put(b, x, 0, 0x3C);
        Put(b, x, 1, 0x81);
    }
    HDC sa = Hold(a), db = Hold(b);
    ASSERT_TRUE(BitBlt(db, 0, 0, 9, 1, sa, 0, 0, SRCAND));
    ASSERT_TRUE(BitBlt(db, 0, 1, 9, 1, sa, 0, 1, SRCPAINT));
    for (int x = 0; x < 9; ++x) {
        EXPECT_EQ((uint8_t)(0x3C & (0xF0 | x)), At(b, x, 0)) << x;
        EXPECT_EQ((uint8_t)(0x81 | (0x0F + x)), At(b, x, 1)) << x;
    }

    // A mask of another table: its white and black land on the destination's
    // 255 and 0 before the AND, so the mask keeps or clears whole indices.
    std::vector<RGBQUAD> maskTable(256, RGBQUAD{0, 0, 0, 0});
    maskTable[1] = {255, 255, 255, 0};
    HBITMAP mask = Make(2, 1, maskTable);
    Put(mask, 0, 0, 1);
    Put(mask, 1, 0, 0);
    Put(b, 0, 0, 0x5A);
    Put(b, 1, 0, 0x5A);
    HDC sm = Hold(mask);
    ASSERT_TRUE(BitBlt(db, 0, 0, 2, 1, sm, 0, 0, SRCAND));
    EXPECT_EQ(0x5A, At(b, 0, 0));
    EXPECT_EQ(0, At(b, 1, 0));
    ASSERT_TRUE(BitBlt(db, 0, 0, 2, 1, nullptr, 0, 0, WHITENESS));
    EXPECT_EQ(255, At(b, 1, 0));
    ASSERT_TRUE(BitBlt(db, 0, 0, 2, 1, nullptr, 0, 0, BLACKNESS));
    EXPECT_EQ(0, At(b, 0, 0));
    SetLastError(0);
    EXPECT_FALSE(BitBlt(db, 0, 0, 2, 1, sa, 0, 0, SRCINVERT)) << "operations not offered fail";
    EXPECT_FALSE(BitBlt(db, 0, 0, 2, 1, nullptr, 0, 0, SRCCOPY)) << "a copy needs a source";
    DropAll();
}

TEST_F(LayerBlit, ClippingAtEveryEdgeLeavesTheRestUntouched) {
    struct Case {
        int x, y, w, h, sx, sy;
    };
    const Case cases[] = {
        {0, 0, 6, 5, 0, 0},    {-2, -3, 6, 5, 0, 0},  {5, 6, 6, 5, 0, 0},   {2, 2, 100, 100, 0, 0},
        {1, 1, 6, 5, -2, -1},  {0, 0, 8, 8, 3, 2},    {-4, 2, 20, 3, -3, 4}, {3, 3, 2, 2, 5, 4},
        {9, 0, 4, 4, 0, 0},    {0, 0, 4, 4, 6, 0},    {2, 1, -2, -1, 4, 3}, {-100, -100, 200, 200, 50, 50},
    };
    for (bool srcDown : {false, true})
        for (bool dstDown : {false, true})
            for (const Case &c : cases) {
                SCOPED_TRACE(testing::Message() << c.x << "," << c.y << " " << c.w << "x" << c.h << " from " << c.sx
                                                << "," << c.sy << " src top-down " << srcDown << " dst top-down "
                                                << dstDown);
                HBITMAP src = Make(6, 5, Grey(), srcDown), dst = Make(9, 8, Grey(), dstDown);
                Pattern(src, 6, 5);
                FillAll(dst, 9, 8, 0);
                HDC s = Hold(src), d = Hold(dst);
                EXPECT_TRUE(BitBlt(d, c.x, c.y, c.w, c.h, s, c.sx, c.sy, SRCCOPY));
                // What a negative extent means: counted back from the origin, which stays inside.
                int x = c.w < 0 ? c.x + c.w + 1 : c.x, w = c.w < 0 ? -c.w : c.w;
                int y = c.h < 0 ? c.y + c.h + 1 : c.y, h = c.h < 0 ? -c.h : c.h;
                int sx = c.sx + (x - c.x), sy = c.sy + (y - c.y);
                for (int Y = 0; Y < 8; ++Y)
                    for (int X = 0; X < 9; ++X) {
                        int u = X - x + sx, v = Y - y + sy;
                        bool inside = X >= x && X < x + w && Y >= y && Y < y + h && u >= 0 && u < 6 && v >= 0 && v < 5;
                        ASSERT_EQ(inside ? PatternAt(u, v) : 0, At(dst, X, Y)) << "at " << X << "," << Y;
                    }
                DropAll();
            }
    // The bitmap's padding past its last column is never written either.
    HBITMAP src = Make(6, 5, Grey()), narrow = Make(5, 2, Grey());
    Pattern(src, 6, 5);
    *Cell(narrow, 5, 0) = 0xEE;
    HDC s = Hold(src), d = Hold(narrow);
    EXPECT_TRUE(BitBlt(d, 1, 0, 6, 2, s, 0, 0, SRCCOPY));
    EXPECT_EQ(0xEE, *Cell(narrow, 5, 0));
    DropAll();
}

TEST_F(LayerBlit, OverlappingCopyWithinOneBitmapReadsTheOriginal) {
    HBITMAP b = Make(8, 8, Grey());
    Pattern(b, 8, 8);
    HDC d = Hold(b);
    ASSERT_TRUE(BitBlt(d, 2, 1, 6, 7, d, 0, 0, SRCCOPY));
    for (int y = 1; y < 8; ++y)
        for (int x = 2; x < 8; ++x) EXPECT_EQ(PatternAt(x - 2, y - 1), At(b, x, y)) << x << "," << y;
    DropAll();
}

TEST_F(LayerBlit, StretchPicksSourcePixelsByTheirCentres) {
    HBITMAP src = Make(640, 480, Grey()), half = Make(320, 240, Grey(), true), big = Make(1024, 768, Grey());
    Pattern(src, 640, 480);
    HDC s = Hold(src), h = Hold(half), g = Hold(big);

    EXPECT_EQ(BLACKONWHITE, SetStretchBltMode(h, COLORONCOLOR)) << "the default mode";
    ASSERT_TRUE(StretchBlt(h, 0, 0, 320, 240, s, 0, 0, 640, 480, SRCCOPY));
    for (int y = 0; y < 240; y += 7)
        for (int x = 0; x < 320; x += 5) ASSERT_EQ(PatternAt(2 * x + 1, 2 * y), At(half, x, y)) << x << "," << y;

    // The default mode ANDs the pixels that fall together.
    EXPECT_EQ(COLORONCOLOR, SetStretchBltMode(h, BLACKONWHITE));
    ASSERT_TRUE(StretchBlt(h, 0, 0, 320, 240, s, 0, 0, 640, 480, SRCCOPY));
    for (int y = 0; y < 240; y += 7)
        for (int x = 0; x < 320; x += 5) {
            uint8_t v = PatternAt(2 * x, 2 * y) & PatternAt(2 * x + 1, 2 * y) & PatternAt(2 * x, 2 * y + 1) &
                        PatternAt(2 * x + 1, 2 * y + 1);
            ASSERT_EQ(v, At(half, x, y)) << x << "," << y;
        }

    ASSERT_TRUE(StretchBlt(g, 0, 0, 1024, 768, s, 0, 0, 640, 480, SRCCOPY));
    for (int y = 0; y < 768; y += 3)
        for (int x = 0; x < 1024; x += 3) {
            int u = (2 * x + 1) * 640 / 2048, v = (2 * y + 1) * 480 / 1536;
            ASSERT_EQ(PatternAt(u, v), At(big, x, y)) << x << "," << y;
        }
    // Equal sizes copy as BitBlt does, clipping included.
    FillAll(half, 320, 240, 0);
    ASSERT_TRUE(StretchBlt(h, -3, 2, 10, 10, s, 4, 5, 10, 10, SRCCOPY));
    EXPECT_EQ(PatternAt(7, 5), At(half, 0, 2));
    EXPECT_EQ(0, At(half, 7, 1));
    EXPECT_EQ(0, At(half, 7, 12));
    EXPECT_EQ(0, SetStretchBltMode(h, 9));
    DropAll();
}

TEST_F(LayerBlit, StretchLeavesWhatMapsOutsideTheSourceAlone) {
    HBITMAP src = Make(4, 4, Grey()), dst = Make(12, 12, Grey());
    Pattern(src, 4, 4);
    FillAll(dst, 12, 12, 0);
    HDC s = Hold(src), d = Hold(dst);
    // Twice the size, the source starting one pixel before its left edge.
    ASSERT_TRUE(StretchBlt(d, 1, 1, 8, 8, s, -1, 0, 4, 4, SRCCOPY));
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x) {
            bool drawn = x >= 3 && x < 9 && y >= 1 && y < 9;
            uint8_t want = drawn ? PatternAt((x - 1) / 2 - 1, (y - 1) / 2) : 0;
            ASSERT_EQ(want, At(dst, x, y)) << x << "," << y;
        }
    DropAll();
}

TEST_F(LayerBlit, CopiesToAWindowGoThroughTheSourceTable) {
    RegisterLogging();
    HWND w = MakeWindow("LayerTestClass", WS_POPUP | WS_VISIBLE, 0, 0, 16, 8);
    Pump();
    std::vector<RGBQUAD> table = Grey();
    table[3] = {0x30, 0x20, 0x10, 0x99};  // the reserved byte never reaches the screen
    HBITMAP src = Make(16, 8, table, true);
    FillAll(src, 16, 8, 3);
    Put(src, 5, 2, 200);
    HDC s = Hold(src);
    HDC win = GetDC(w);
    ASSERT_TRUE(BitBlt(win, 0, 0, 16, 8, s, 0, 0, SRCCOPY));
    EXPECT_EQ(RGB(200, 200, 200), GetPixel(win, 5, 2));
    ReleaseDC(w, win);
    std::vector<uint32_t> px = layer::WindowPixels(w);
    ASSERT_EQ(128u, px.size());
    EXPECT_EQ(0x102030u, px[0]);
    EXPECT_EQ(0xC8C8C8u, px[2 * 16 + 5]);

    // AND on the window acts on colours; inside a paint only the invalid part changes.
    RECT part = {4, 4, 8, 6};
    InvalidateRect(w, &part, FALSE);
    PAINTSTRUCT ps;
    HDC paint = BeginPaint(w, &ps);
    FillAll(src, 16, 8, 200);
    ASSERT_TRUE(BitBlt(paint, 0, 0, 16, 8, s, 0, 0, SRCAND));
    EndPaint(w, &ps);
    px = layer::WindowPixels(w);
    EXPECT_EQ(0x102030u & 0xC8C8C8u, px[4 * 16 + 4]);
    EXPECT_EQ(0x102030u, px[3 * 16 + 4]);
    EXPECT_EQ(0x102030u, px[4 * 16 + 8]);
    DropAll();
    DestroyWindow(w);
    EXPECT_EQ(start, layer::LiveGdiObjects());
}

TEST_F(LayerBlit, FillsAndReadsOnMemoryBitmaps) {
    std::vector<RGBQUAD> table(256, RGBQUAD{255, 255, 255, 0});
    table[0] = {0, 0, 0, 0};
    table[6] = {0, 0, 250, 0};
    HBITMAP b = Make(5, 4, table);
    FillAll(b, 5, 4, 255);
    HDC d = Hold(b);
    RECT r = {-2, 1, 3, 9};
    EXPECT_TRUE(FillRect(d, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))));
    EXPECT_EQ(255, At(b, 0, 0));
    EXPECT_EQ(0, At(b, 2, 3));
    EXPECT_EQ(255, At(b, 3, 1));
    HBRUSH red = CreateSolidBrush(RGB(240, 0, 0));
    RECT one = {4, 0, 5, 1};
    FillRect(d, &one, red);
    EXPECT_EQ(6, At(b, 4, 0)) << "the nearest colour of the table";
    EXPECT_EQ(RGB(250, 0, 0), GetPixel(d, 4, 0));
    EXPECT_EQ(RGB(0, 0, 0), GetPixel(d, 0, 1));
    EXPECT_EQ(CLR_INVALID, GetPixel(d, 5, 0));
    DeleteObject(red);
    DropAll();
    EXPECT_EQ(start, layer::LiveGdiObjects());
}

TEST_F(LayerBlit, CompatibleBitmapsTakeTheFormatAndACopyOfTheTable) {
    std::vector<RGBQUAD> table = Grey();
    table[7] = {1, 2, 3, 0};
    HBITMAP model = Make(3, 3, table);
    HDC m = Hold(model);
    for (int round = 0; round < 3; ++round) {
        HBITMAP made = CreateCompatibleBitmap(m, 33, 17);
        ASSERT_NE(nullptr, made);
        DIBSECTION ds = {};
        ASSERT_EQ((int)sizeof ds, GetObjectA(made, sizeof ds, &ds));
        EXPECT_EQ(8, ds.dsBm.bmBitsPixel);
        EXPECT_EQ(36, ds.dsBm.bmWidthBytes);
        ASSERT_NE(nullptr, ds.dsBm.bmBits);
        const uint8_t *bits = static_cast<const uint8_t *>(ds.dsBm.bmBits);
        EXPECT_EQ(std::vector<uint8_t>(36 * 17, 0), std::vector<uint8_t>(bits, bits + 36 * 17));
        HDC other = CreateCompatibleDC(nullptr);
        HGDIOBJ was = SelectObject(other, made);
        RGBQUAD got[256];
        ASSERT_EQ(256u, GetDIBColorTable(other, 0, 256, got));
        EXPECT_EQ(3, got[7].rgbRed);
        // A copy: changing it leaves the model's table alone, and copies
        // between the two then match colours.
        RGBQUAD black = {0, 0, 0, 0};
        SetDIBColorTable(other, 7, 1, &black);
        ASSERT_EQ(1u, GetDIBColorTable(m, 7, 1, got));
        EXPECT_EQ(3, got[0].rgbRed);
        Put(model, 0, 0, 7);
        ASSERT_TRUE(BitBlt(other, 0, 0, 1, 1, m, 0, 0, SRCCOPY));
        EXPECT_EQ(RGB(2, 2, 2), GetPixel(other, 0, 0)) << "index 7 is black there now; grey 2 is nearest";
        SelectObject(other, was);
        DeleteDC(other);
        DeleteObject(made);
    }
    HBITMAP empty = CreateCompatibleBitmap(m, 0, 5);
    BITMAP bm = {};
    ASSERT_EQ((int)sizeof bm, GetObjectA(empty, sizeof bm, &bm));
    EXPECT_EQ(1, bm.bmWidth);
    EXPECT_EQ(1, bm.bmBitsPixel);
    EXPECT_TRUE(DeleteObject(empty));
    EXPECT_EQ(nullptr, CreateCompatibleBitmap(m, 100000, 100000));
    EXPECT_EQ(nullptr, CreateCompatibleBitmap(m, -4, 4));
    layer::InjectFault("CreateCompatibleBitmap");
    EXPECT_EQ(nullptr, CreateCompatibleBitmap(m, 4, 4));
    EXPECT_EQ((DWORD)ERROR_NOT_ENOUGH_MEMORY, GetLastError());

    // From a window or the screen: 32-bit; from a DC with nothing selected: monochrome.
    HBITMAP screen = CreateCompatibleBitmap(nullptr, 4, 4);
    ASSERT_EQ((int)sizeof bm, GetObjectA(screen, sizeof bm, &bm));
    EXPECT_EQ(32, bm.bmBitsPixel);
    HDC bare = CreateCompatibleDC(nullptr);
    HBITMAP mono = CreateCompatibleBitmap(bare, 20, 3);
    ASSERT_EQ((int)sizeof bm, GetObjectA(mono, sizeof bm, &bm));
    EXPECT_EQ(1, bm.bmBitsPixel);
    EXPECT_EQ(4, bm.bmWidthBytes);
    DeleteDC(bare);
    DeleteObject(mono);
    DeleteObject(screen);
    DropAll();
    EXPECT_EQ(start, layer::LiveGdiObjects());
}

}  // namespace
