// Copies between 8-bit DIB sections and to a window: compatible bitmaps keep
// the table, raster operations act on indices, other tables are colour
// matched, stretching picks the same pixels as the system.
#include "conformance.h"

#include <vector>

namespace {

struct Info8 {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
};

// A bottom-up 8-bit section; row y (from the top) is at bits + (h - 1 - y) * stride.
struct Dib {
    HBITMAP bitmap = NULL;
    HDC dc = NULL;
    HGDIOBJ original = NULL;
    BYTE *bits = nullptr;
    int width = 0, height = 0, stride = 0;

    Dib(int w, int h, const std::vector<RGBQUAD> &table) : width(w), height(h), stride((w + 3) & ~3) {
        Info8 info = {};
        info.header.biSize = sizeof(BITMAPINFOHEADER);
        info.header.biWidth = w;
        info.header.biHeight = h;
        info.header.biPlanes = 1;
        info.header.biBitCount = 8;
        info.header.biCompression = BI_RGB;
        for (size_t i = 0; i < table.size() && i < 256; ++i) info.colors[i] = table[i];
        void *p = nullptr;
        bitmap = CreateDIBSection(NULL, reinterpret_cast<BITMAPINFO *>(&info), DIB_RGB_COLORS, &p, NULL, 0);
        bits = static_cast<BYTE *>(p);
        dc = CreateCompatibleDC(NULL);
        original = SelectObject(dc, bitmap);
    }
    ~Dib() {
        SelectObject(dc, original);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    BYTE &At(int x, int y) { return bits[(height - 1 - y) * stride + x]; }
};

std::vector<RGBQUAD> Ramp() {
    std::vector<RGBQUAD> t(256);
    for (int i = 0; i < 256; ++i) t[i] = {(BYTE)i, (BYTE)(255 - i), (BYTE)(i / 2), 0};
    return t;
}

class Blit : public Win32Test {};

TEST_F(Blit, CompatibleBitmapOfAnEightBitSectionKeepsItsTable) {
    Dib model(4, 4, Ramp());
    ASSERT_NE(nullptr, model.bits);
    HBITMAP made = CreateCompatibleBitmap(model.dc, 10, 6);
    ASSERT_NE(nullptr, made);
    DIBSECTION ds = {};
    ASSERT_EQ((int)sizeof ds, GetObjectA(made, sizeof ds, &ds));
    EXPECT_EQ(8, ds.dsBm.bmBitsPixel);
    EXPECT_EQ(10, ds.dsBm.bmWidth);
    EXPECT_NE(nullptr, ds.dsBm.bmBits);
    HDC dc = CreateCompatibleDC(NULL);
    HGDIOBJ was = SelectObject(dc, made);
    RGBQUAD got[256];
    ASSERT_EQ(256u, GetDIBColorTable(dc, 0, 256, got));
    std::vector<RGBQUAD> want = Ramp();
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(want[i].rgbRed, got[i].rgbRed) << i;
        EXPECT_EQ(want[i].rgbGreen, got[i].rgbGreen) << i;
    }
    SelectObject(dc, was);
    DeleteDC(dc);
    DeleteObject(made);
}

TEST_F(Blit, RasterOperationsActOnIndicesBetweenEqualTables) {
    Dib src(8, 3, Ramp()), dst(8, 3, Ramp());
    for (int x = 0; x < 8; ++x) {
        src.At(x, 0) = (BYTE)(0x10 + x);
        src.At(x, 1) = (BYTE)(0xF0 | x);
        src.At(x, 2) = (BYTE)(0x0F + x);
        dst.At(x, 0) = 0x77;
        dst.At(x, 1) = 0x3C;
        dst.At(x, 2) = 0x81;
    }
    ASSERT_TRUE(BitBlt(dst.dc, 0, 0, 8, 1, src.dc, 0, 0, SRCCOPY));
    ASSERT_TRUE(BitBlt(dst.dc, 0, 1, 8, 1, src.dc, 0, 1, SRCAND));
    ASSERT_TRUE(BitBlt(dst.dc, 0, 2, 8, 1, src.dc, 0, 2, SRCPAINT));
    GdiFlush();
    for (int x = 0; x < 8; ++x) {
        EXPECT_EQ(0x10 + x, dst.At(x, 0)) << x;
        EXPECT_EQ(0x3C & (0xF0 | x), dst.At(x, 1)) << x;
        EXPECT_EQ(0x81 | (0x0F + x), dst.At(x, 2)) << x;
    }
}

TEST_F(Blit, DifferentTablesAreColourMatched) {
    std::vector<RGBQUAD> from(256, RGBQUAD{0, 0, 0, 0}), to(256, RGBQUAD{255, 255, 255, 0});
    from[1] = {30, 20, 10, 0};   // exact in `to` at 5 and 9
    from[2] = {0, 0, 200, 0};    // nearest to 7
    from[3] = {250, 250, 250, 0};  // nearest to any white entry: the first
    to[0] = {0, 0, 0, 0};
    to[5] = {30, 20, 10, 0};
    to[7] = {0, 0, 190, 0};
    to[9] = {30, 20, 10, 0};
    Dib src(4, 1, from), dst(4, 1, to);
    for (int x = 0; x < 4; ++x) src.At(x, 0) = (BYTE)x;
    ASSERT_TRUE(BitBlt(dst.dc, 0, 0, 4, 1, src.dc, 0, 0, SRCCOPY));
    GdiFlush();
    EXPECT_EQ(0, dst.At(0, 0));
    EXPECT_EQ(5, dst.At(1, 0));
    EXPECT_EQ(7, dst.At(2, 0));
    EXPECT_EQ(1, dst.At(3, 0));
}

TEST_F(Blit, StretchingUpAndDownPicksTheSamePixels) {
    std::vector<RGBQUAD> t = Ramp();
    Dib src(6, 4, t), up(12, 8, t), down(3, 2, t), odd(5, 3, t);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) src.At(x, y) = (BYTE)(1 << ((x + y) % 8));
    ASSERT_TRUE(StretchBlt(up.dc, 0, 0, 12, 8, src.dc, 0, 0, 6, 4, SRCCOPY));
    ASSERT_TRUE(StretchBlt(down.dc, 0, 0, 3, 2, src.dc, 0, 0, 6, 4, SRCCOPY));
    EXPECT_EQ(BLACKONWHITE, SetStretchBltMode(odd.dc, COLORONCOLOR));
    ASSERT_TRUE(StretchBlt(odd.dc, 0, 0, 5, 3, src.dc, 0, 0, 6, 4, SRCCOPY));
    GdiFlush();
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 12; ++x) EXPECT_EQ(src.At(x / 2, y / 2), up.At(x, y)) << x << "," << y;
    // Halving in the default mode ANDs each 2x2 block: all bits differ, so 0.
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(0, down.At(x, y)) << x << "," << y;
    // Five of six columns, three of four rows, keeping one pixel of each
    // run: the last of a run of columns, the first of a run of rows.
    const int cols[5] = {0, 1, 3, 4, 5}, rows[3] = {0, 1, 3};
    std::vector<int> want, got;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            want.push_back(src.At(cols[x], rows[y]));
            got.push_back(odd.At(x, y));
        }
    EXPECT_EQ(want, got);
}

TEST_F(Blit, SourceOutsideItsBitmapLeavesTheDestinationAlone) {
    std::vector<RGBQUAD> t = Ramp();
    Dib src(4, 4, t), dst(8, 8, t);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) src.At(x, y) = (BYTE)(10 + x + 4 * y);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) dst.At(x, y) = 99;
    ASSERT_TRUE(BitBlt(dst.dc, 1, 1, 6, 6, src.dc, -2, -1, SRCCOPY));
    GdiFlush();
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            int u = x - 1 - 2, v = y - 1 - 1;
            bool inside = x >= 1 && x < 7 && y >= 1 && y < 7 && u >= 0 && u < 4 && v >= 0 && v < 4;
            EXPECT_EQ(inside ? 10 + u + 4 * v : 99, dst.At(x, y)) << x << "," << y;
        }
}

TEST_F(Blit, CopyToAWindowShowsTheTableColours) {
    std::string cls = RegisterTestClass(DefWindowProcA);
    HWND w = MakeWindow(cls, WS_POPUP | WS_VISIBLE, "", 0, 0, 32, 16);
    ASSERT_NE(nullptr, w);
    DrainQueue();
    std::vector<RGBQUAD> t(256, RGBQUAD{0, 0, 0, 0});
    t[4] = {0x40, 0x80, 0xC0, 0};
    t[9] = {0xFF, 0x00, 0x20, 0};
    Dib src(32, 16, t);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) src.At(x, y) = x < 16 ? 4 : 9;
    HDC dc = GetDC(w);
    ASSERT_TRUE(BitBlt(dc, 0, 0, 32, 16, src.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(RGB(0xC0, 0x80, 0x40), GetPixel(dc, 3, 5));
    EXPECT_EQ(RGB(0x20, 0x00, 0xFF), GetPixel(dc, 20, 10));
    ReleaseDC(w, dc);
}

}  // namespace
