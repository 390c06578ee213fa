// Text in the layer: its two bitmap faces, fonts chosen by name and height,
// and TextOutA, GetTextExtentPoint32A, GetTextMetricsA and DrawTextA, judged
// by the pixels they leave on a 32-bit DIB section.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "layer_fixture.h"
#include "platform/gdi/font.h"

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;

bool Same(const RECT &a, const RECT &b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// Where ink lies in a picture: the bounding box of every pixel that is not
// the background, or an empty box.
struct Ink {
    int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1;  // right and bottom exclusive
    int count = 0;
    bool Empty() const { return count == 0; }
};

class LayerFontTest : public LayerTest {
protected:
    void SetUp() override {
        LayerTest::SetUp();
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = kWidth;
        info.bmiHeader.biHeight = -kHeight;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, (void **)&bits, nullptr, 0);
        ASSERT_NE(nullptr, bitmap);
        dc = CreateCompatibleDC(nullptr);
        ASSERT_NE(nullptr, dc);
        previous = SelectObject(dc, bitmap);
        Clear();
    }
    void TearDown() override {
        SelectObject(dc, previous);
        DeleteDC(dc);
        DeleteObject(bitmap);
        for (HFONT f : fonts) DeleteObject(f);
        LayerTest::TearDown();
    }

    void Clear() { std::fill(bits, bits + kWidth * kHeight, kWhite); }
    uint32_t At(int x, int y) const { return bits[y * kWidth + x] & 0xFFFFFF; }

    Ink InkIn(RECT r = {0, 0, kWidth, kHeight}) const {
        Ink ink;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                if (At(x, y) != kWhite) {
                    ink.left = std::min(ink.left, x);
                    ink.top = std::min(ink.top, y);
                    ink.right = std::max(ink.right, x + 1);
                    ink.bottom = std::max(ink.bottom, y + 1);
                    ink.count++;
                }
        return ink;
    }

    HFONT Font(const char *face, int height, int weight = FW_NORMAL, bool underline = false) {
        HFONT f = CreateFontA(height, 0, 0, 0, weight, FALSE, underline, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                              CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, face);
        fonts.push_back(f);
        return f;
    }
    HFONT Sans() { return Font("MS Sans Serif", -11); }
    HFONT System() { return Font("System", 16); }

    SIZE Extent(const std::string &text) {
        SIZE size = {-1, -1};
        EXPECT_TRUE(GetTextExtentPoint32A(dc, text.c_str(), (int)text.size(), &size));
        return size;
    }
    TEXTMETRICA Metrics() {
        TEXTMETRICA tm = {};
        EXPECT_TRUE(GetTextMetricsA(dc, &tm));
        return tm;
    }
    // The column ranges with ink in one row.
    std::vector<std::pair<int, int>> RunsInRow(int y, int from, int to) const {
        std::vector<std::pair<int, int>> runs;
        for (int x = from; x < to; ++x) {
            if (At(x, y) == kWhite) continue;
            int start = x;
            while (x < to && At(x, y) != kWhite) ++x;
            runs.push_back({start, x});
        }
        return runs;
    }

    static constexpr int kWidth = 400, kHeight = 120;
    HBITMAP bitmap = nullptr;
    uint32_t *bits = nullptr;
    HDC dc = nullptr;
    HGDIOBJ previous = nullptr;
    std::vector<HFONT> fonts;
};

TEST_F(LayerFontTest, BothFacesDrawEveryPrintableCharacterAsItsOwnGlyph) {
    // A character without a glyph draws as the box; every printable one has
    // a glyph of its own, so none may look like the box (the space is blank).
    for (HFONT font : {Sans(), System()}) {
        SelectObject(dc, font);
        SetBkMode(dc, TRANSPARENT);
        auto picture = [&](char ch) {
            Clear();
            TextOutA(dc, 2, 2, &ch, 1);
            std::vector<uint32_t> out(bits, bits + kWidth * 30);
            return out;
        };
        std::vector<uint32_t> box = picture('\x7f');
        ASSERT_TRUE(picture('\x01') == box) << "a control character draws as the box";
        for (int ch = 33; ch <= 126; ++ch) {
            std::vector<uint32_t> glyph = picture((char)ch);
            EXPECT_TRUE(box != glyph) << "'" << (char)ch << "' has no glyph";
            EXPECT_FALSE(InkIn({0, 0, kWidth, 30}).Empty()) << "'" << (char)ch << "' draws nothing";
        }
        Clear();
        TextOutA(dc, 2, 2, " ", 1);
        EXPECT_TRUE(InkIn().Empty());
        EXPECT_GT(Extent(" ").cx, 1);
    }
}

TEST_F(LayerFontTest, FacesGiveTheDialogBaseUnitsTheLayerLaysDialogsOutWith) {
    // The system's rule: the average width of the 52 letters, rounded, and
    // the line height. Text laid out in dialog units then fits its controls.
    const std::string letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    SelectObject(dc, Sans());
    EXPECT_EQ(6, (Extent(letters).cx / 26 + 1) / 2);
    EXPECT_EQ(13, Metrics().tmHeight);
    SelectObject(dc, System());
    EXPECT_EQ(8, (Extent(letters).cx / 26 + 1) / 2);
    EXPECT_EQ(16, Metrics().tmHeight);
    EXPECT_EQ(MAKELONG(8, 16), GetDialogBaseUnits());
}

TEST_F(LayerFontTest, ExtentsAreWhatTextOutCovers) {
    for (HFONT font : {Sans(), System(), Font("MS Sans Serif", -11, FW_BOLD), Font("System", 32)}) {
        SelectObject(dc, font);
        TEXTMETRICA tm = Metrics();
        for (const char *text : {"Max Bomb Count", "Wj|1@", "ii", "W"}) {
            SCOPED_TRACE(text);
            Clear();
            SetBkMode(dc, TRANSPARENT);
            SIZE size = Extent(text);
            EXPECT_EQ(tm.tmHeight, size.cy);
            ASSERT_TRUE(TextOutA(dc, 10, 20, text, (int)std::strlen(text)));
            Ink ink = InkIn();
            // All the ink inside the extent, and the extent no wider than the
            // ink and the blank after the last character.
            EXPECT_GE(ink.left, 10);
            EXPECT_LE(ink.right, 10 + size.cx);
            EXPECT_GE(ink.right, 10 + size.cx - 2 * (tm.tmHeight / 13) - 1);
            EXPECT_GE(ink.top, 20);
            EXPECT_LE(ink.bottom, 20 + size.cy);
            // Opaque text fills exactly its extent with the background colour.
            Clear();
            SetBkMode(dc, OPAQUE);
            SetBkColor(dc, RGB(0, 255, 0));
            SetTextColor(dc, RGB(255, 0, 0));
            TextOutA(dc, 10, 20, text, (int)std::strlen(text));
            ink = InkIn();
            EXPECT_EQ(10, ink.left);
            EXPECT_EQ(20, ink.top);
            EXPECT_EQ(10 + size.cx, ink.right);
            EXPECT_EQ(20 + size.cy, ink.bottom);
            int red = 0, green = 0;
            for (int y = ink.top; y < ink.bottom; ++y)
                for (int x = ink.left; x < ink.right; ++x) {
                    red += At(x, y) == 0xFF0000;
                    green += At(x, y) == 0x00FF00;
                }
            EXPECT_EQ(ink.count, red + green) << "text on its background, nothing else";
            EXPECT_GT(red, 0);
            SetTextColor(dc, RGB(0, 0, 0));
        }
    }
    // Text widths add up, as measuring a caption piece by piece assumes.
    SelectObject(dc, Sans());
    EXPECT_EQ(Extent("Bomb").cx + Extent(" Speed").cx, Extent("Bomb Speed").cx);
}

TEST_F(LayerFontTest, FontsAreChosenByNameHeightAndWeight) {
    SelectObject(dc, Sans());
    TEXTMETRICA sans = Metrics();
    EXPECT_EQ(11, sans.tmAscent);
    EXPECT_EQ(2, sans.tmDescent);
    EXPECT_EQ(FW_NORMAL, sans.tmWeight);
    SIZE word = Extent("Speed");

    SelectObject(dc, Font("ms sans serif", 13));  // the cell's height, any case
    EXPECT_EQ(word.cx, Extent("Speed").cx);
    SelectObject(dc, Font("Tahoma", -11));  // a face we lack: the sans one
    EXPECT_EQ(word.cx, Extent("Speed").cx);
    SelectObject(dc, Font("MS Sans Serif", -11, FW_BOLD));
    EXPECT_EQ(word.cx + 5, Extent("Speed").cx) << "bold is a pixel wider a character";
    EXPECT_EQ(FW_BOLD, Metrics().tmWeight);
    SelectObject(dc, Font("MS Sans Serif", -24));  // twice the size
    EXPECT_EQ(26, Metrics().tmHeight);
    EXPECT_EQ(2 * word.cx, Extent("Speed").cx);

    SelectObject(dc, System());
    TEXTMETRICA system = Metrics();
    EXPECT_EQ(13, system.tmAscent);
    EXPECT_EQ(FW_BOLD, system.tmWeight);
    SelectObject(dc, GetStockObject(SYSTEM_FONT));
    EXPECT_EQ(system.tmHeight, Metrics().tmHeight);
    EXPECT_EQ(system.tmAveCharWidth, Metrics().tmAveCharWidth);
    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    EXPECT_EQ(word.cx, Extent("Speed").cx);

    // A font describes itself as it was asked for.
    LOGFONTA lf = {};
    ASSERT_EQ((int)sizeof lf, GetObjectA(Font("Some Face", -17, FW_SEMIBOLD, true), sizeof lf, &lf));
    EXPECT_EQ(-17, lf.lfHeight);
    EXPECT_EQ(FW_SEMIBOLD, lf.lfWeight);
    EXPECT_EQ(1, lf.lfUnderline);
    EXPECT_STREQ("Some Face", lf.lfFaceName);
    EXPECT_EQ(OBJ_FONT, GetObjectType(fonts.back()));
}

TEST_F(LayerFontTest, MnemonicsAreUnderlinedAndDoubledAmpersandsShown) {
    SelectObject(dc, Sans());
    SetBkMode(dc, TRANSPARENT);
    TEXTMETRICA tm = Metrics();
    RECT r = {10, 10, 300, 40};
    DrawTextA(dc, "&About...", -1, &r, DT_LEFT | DT_SINGLELINE);
    // One underline: under the 'A', on the row below the baseline.
    int underline = 10 + tm.tmAscent;
    auto runs = RunsInRow(underline, 0, kWidth);
    ASSERT_EQ(1u, runs.size());
    EXPECT_EQ(10, runs[0].first);
    EXPECT_EQ(10 + Extent("A").cx - 1, runs[0].second) << "as wide as the letter's ink";
    EXPECT_EQ(Extent("About...").cx, InkIn().right - 10 + 1) << "the prefix takes no room";

    Clear();
    DrawTextA(dc, "Salt && Bread", -1, &r, DT_LEFT | DT_SINGLELINE);
    EXPECT_TRUE(RunsInRow(underline, 0, kWidth).empty()) << "a doubled ampersand underlines nothing";
    RECT calc = r;
    DrawTextA(dc, "Salt && Bread", -1, &calc, DT_LEFT | DT_SINGLELINE | DT_CALCRECT);
    EXPECT_EQ(Extent("Salt & Bread").cx, calc.right - calc.left);

    Clear();
    calc = r;
    DrawTextA(dc, "&About", -1, &calc, DT_SINGLELINE | DT_NOPREFIX | DT_CALCRECT);
    EXPECT_EQ(Extent("&About").cx, calc.right - calc.left) << "DT_NOPREFIX shows the ampersand";
    DrawTextA(dc, "&About", -1, &r, DT_SINGLELINE | DT_NOPREFIX);
    EXPECT_TRUE(RunsInRow(underline, 0, kWidth).empty());
}

TEST_F(LayerFontTest, DrawTextMeasuresAlignsAndBreaksLines) {
    SelectObject(dc, Sans());
    SetBkMode(dc, TRANSPARENT);
    TEXTMETRICA tm = Metrics();
    SIZE ok = Extent("Cancel");

    // Measuring draws nothing and gives the text's own rectangle.
    RECT r = {20, 30, 220, 80};
    EXPECT_EQ(tm.tmHeight, DrawTextA(dc, "Cancel", -1, &r, DT_SINGLELINE | DT_CALCRECT | DT_CENTER | DT_VCENTER));
    EXPECT_TRUE(Same(RECT{20, 30, 20 + ok.cx, 30 + tm.tmHeight}, r));
    EXPECT_TRUE(InkIn().Empty());

    int result = 0;
    auto inkFor = [&](UINT format) {
        Clear();
        RECT box = {20, 30, 220, 80};
        result = DrawTextA(dc, "Cancel", 6, &box, format | DT_SINGLELINE);
        return InkIn();
    };
    Ink left = inkFor(DT_LEFT);
    EXPECT_EQ(tm.tmHeight, result);
    Ink right = inkFor(DT_RIGHT);
    Ink centre = inkFor(DT_CENTER | DT_VCENTER);
    EXPECT_EQ((50 - tm.tmHeight) / 2 + tm.tmHeight, result) << "placed text returns where it ends";
    Ink bottom = inkFor(DT_BOTTOM);
    EXPECT_EQ(20, left.left);
    EXPECT_EQ(220 - ok.cx, right.left) << "right-aligned text ends at the edge";
    EXPECT_EQ(left.left + (200 - ok.cx) / 2, centre.left);
    EXPECT_EQ(left.top + (50 - tm.tmHeight) / 2, centre.top);
    EXPECT_EQ(left.top + 50 - tm.tmHeight, bottom.top);

    // Words move to the next line when they would cross the edge; a word
    // wider than the line stays whole; line ends always break.
    int word = Extent("Bomb").cx, space = Extent(" ").cx;
    r = {0, 0, word * 2 + space, 0};
    EXPECT_EQ(2 * tm.tmHeight, DrawTextA(dc, "Bomb Bomb Bomb", -1, &r, DT_WORDBREAK | DT_CALCRECT));
    EXPECT_EQ(word * 2 + space, r.right);
    r = {0, 0, word * 2 + space - 1, 0};
    EXPECT_EQ(3 * tm.tmHeight, DrawTextA(dc, "Bomb Bomb Bomb", -1, &r, DT_WORDBREAK | DT_CALCRECT));
    EXPECT_EQ(word + space, r.right) << "the widest line, with the blank where it broke";
    r = {0, 0, 5, 0};
    EXPECT_EQ(tm.tmHeight, DrawTextA(dc, "Unbreakable", -1, &r, DT_WORDBREAK | DT_CALCRECT));
    EXPECT_EQ(Extent("Unbreakable").cx, r.right);
    r = {0, 0, 300, 0};
    EXPECT_EQ(3 * tm.tmHeight, DrawTextA(dc, "one\r\ntwo\nthree", -1, &r, DT_CALCRECT));
    EXPECT_EQ(tm.tmHeight, DrawTextA(dc, "one\r\ntwo", -1, &r, DT_CALCRECT | DT_SINGLELINE));

    // Drawn, the second line of a broken text lies one line down, clipped
    // to the rectangle.
    Clear();
    r = {10, 10, 10 + word + 2, 10 + tm.tmHeight + 4};
    DrawTextA(dc, "Bomb Bomb", -1, &r, DT_WORDBREAK);
    Ink ink = InkIn();
    EXPECT_GE(ink.top, 10);
    EXPECT_LE(ink.bottom, r.bottom) << "clipped to the rectangle";
    EXPECT_FALSE(InkIn({0, 10 + tm.tmHeight, kWidth, kHeight}).Empty()) << "the second word went down";
}

TEST_F(LayerFontTest, TextCallsRefuseWhatWindowsRefuses) {
    SIZE size;
    TEXTMETRICA tm;
    RECT r = {0, 0, 10, 10};
    HDC bogus = (HDC)(uintptr_t)0x1234;
    SetLastError(0);
    EXPECT_FALSE(GetTextExtentPoint32A(bogus, "a", 1, &size));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_FALSE(GetTextExtentPoint32A(dc, "a", -1, &size));
    EXPECT_FALSE(GetTextExtentPoint32A(dc, "a", 1, nullptr));
    EXPECT_FALSE(GetTextMetricsA(bogus, &tm));
    EXPECT_FALSE(GetTextMetricsA(dc, nullptr));
    EXPECT_FALSE(TextOutA(bogus, 0, 0, "a", 1));
    EXPECT_EQ(0, DrawTextA(bogus, "a", 1, &r, 0));
    EXPECT_EQ(0, DrawTextA(dc, "a", 1, nullptr, 0));
    EXPECT_EQ(CLR_INVALID, SetTextColor(bogus, 0));
    EXPECT_EQ(CLR_INVALID, SetBkColor(bogus, 0));
    EXPECT_EQ(0, SetBkMode(bogus, TRANSPARENT));
    EXPECT_EQ(0, SetBkMode(dc, 7));
    EXPECT_EQ(nullptr, CreateFontIndirectA(nullptr));
    // Defaults, and the previous value from every setter.
    EXPECT_EQ(OPAQUE, GetBkMode(dc));
    EXPECT_EQ(OPAQUE, SetBkMode(dc, TRANSPARENT));
    EXPECT_EQ(RGB(0, 0, 0), SetTextColor(dc, RGB(1, 2, 3)));
    EXPECT_EQ(RGB(1, 2, 3), GetTextColor(dc));
    EXPECT_EQ(RGB(255, 255, 255), SetBkColor(dc, RGB(4, 5, 6)));
    // Empty text measures as nothing.
    ASSERT_TRUE(GetTextExtentPoint32A(dc, "", 0, &size));
    EXPECT_EQ(0, size.cx);
    r = {5, 5, 50, 50};
    EXPECT_EQ(0, DrawTextA(dc, "", -1, &r, DT_CALCRECT));
    EXPECT_TRUE(Same(RECT{5, 5, 5, 5}, r));
}

TEST_F(LayerFontTest, TextOnAnEightBitSectionTakesTheNearestColourOfItsTable) {
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colors[256];
    } info = {};
    info.header.biSize = sizeof info.header;
    info.header.biWidth = 64;
    info.header.biHeight = -20;
    info.header.biPlanes = 1;
    info.header.biBitCount = 8;
    info.colors[1] = {0, 0, 250, 0};  // nearly red (RGBQUAD is blue, green, red)
    info.colors[2] = {255, 255, 255, 0};
    uint8_t *pixels = nullptr;
    HBITMAP section = CreateDIBSection(nullptr, (BITMAPINFO *)&info, DIB_RGB_COLORS, (void **)&pixels, nullptr, 0);
    ASSERT_NE(nullptr, section);
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(memory, section);
    SetTextColor(memory, RGB(255, 0, 0));
    SetBkColor(memory, RGB(255, 255, 255));
    ASSERT_TRUE(TextOutA(memory, 0, 0, "I", 1));
    int red = 0, white = 0;
    for (int i = 0; i < 64 * 20; ++i) {
        red += pixels[i] == 1;
        white += pixels[i] == 2;
    }
    EXPECT_GT(red, 5);
    EXPECT_GT(white, 5) << "the opaque background";
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(section);
}

}  // namespace

// A title bar the display draws itself has no DC: the caption's text drawn
// straight into pixels must be the System face's ink, as TextOutA draws it,
// and must stop at its right edge and at the pixels' own.
TEST_F(LayerFontTest, TextDrawnIntoPixelsIsTextOutsInkAndKeepsInside) {
    const std::string caption = "Dialog & About";
    SelectObject(dc, GetStockObject(SYSTEM_FONT));
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    ASSERT_TRUE(TextOutA(dc, 3, 2, caption.c_str(), (int)caption.size()));
    std::vector<uint32_t> mine(bits, bits + kWidth * kHeight);

    std::vector<uint32_t> pixels((size_t)kWidth * kHeight, kWhite);
    layer::DrawTextPixels(pixels.data(), kWidth, kHeight, 3, 2, layer::CaptionStyle(), caption.data(),
                          caption.size(), 0x000000, kWidth);
    EXPECT_TRUE(pixels == mine) << "the same glyphs in the same places";
    EXPECT_FALSE(InkIn().Empty());

    // Cut short: nothing at or right of the edge asked for, nor outside.
    std::fill(pixels.begin(), pixels.end(), kWhite);
    layer::DrawTextPixels(pixels.data(), kWidth, 10, -4, 5, layer::CaptionStyle(), caption.data(), caption.size(),
                          0x000000, 30);
    int inked = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            if (pixels[(size_t)y * kWidth + x] != kWhite) {
                ++inked;
                EXPECT_LT(x, 30);
                EXPECT_LT(y, 10);
            }
    EXPECT_GT(inked, 0);
}
