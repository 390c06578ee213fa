// The controls as they are drawn: each paints its whole client area from
// its state, in the classic grey look, whenever that state changes and the
// paint cycle comes round. Judged by the pixels on the headless desktop.
#include <commctrl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "layer_fixture.h"
#include "recording_display.h"

namespace {

constexpr uint32_t kFace = 0xC0C0C0, kWhite = 0xFFFFFF, kBlack = 0x000000, kShadow = 0x808080, kNavy = 0x000080;
// Controls given no font draw with the system font, 16 pixels a line.
constexpr int kSystemLine = 16;

// A window's pixels, read at client coordinates.
struct Picture {
    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    uint32_t At(int x, int y) const { return pixels[(size_t)y * width + x]; }
    int Count(uint32_t colour, RECT r) const {
        int n = 0;
        for (int y = std::max(0, (int)r.top); y < std::min(height, (int)r.bottom); ++y)
            for (int x = std::max(0, (int)r.left); x < std::min(width, (int)r.right); ++x) n += At(x, y) == colour;
        return n;
    }
    // The bounding box of the pixels of one colour, or an empty box.
    RECT Bounds(uint32_t colour, RECT r) const {
        RECT b = {1 << 20, 1 << 20, -1, -1};
        for (int y = std::max(0, (int)r.top); y < std::min(height, (int)r.bottom); ++y)
            for (int x = std::max(0, (int)r.left); x < std::min(width, (int)r.right); ++x)
                if (At(x, y) == colour) {
                    b.left = std::min<LONG>(b.left, x);
                    b.top = std::min<LONG>(b.top, y);
                    b.right = std::max<LONG>(b.right, x + 1);
                    b.bottom = std::max<LONG>(b.bottom, y + 1);
                }
        return b;
    }
};

class LayerPaintControlsTest : public LayerTest {
protected:
    void SetUp() override {
        LayerTest::SetUp();
        RegisterLogging("Parent", 0, (HBRUSH)(COLOR_BTNFACE + 1));
        parent = MakeWindow("Parent", WS_POPUP | WS_VISIBLE, 20, 10, 400, 300);
        ASSERT_NE(nullptr, parent);
    }

    HWND Control(const char *cls, DWORD style, const char *text, int x, int y, int w, int h, DWORD exStyle = 0) {
        HWND c = CreateWindowExA(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                                 (HMENU)(UINT_PTR)(++nextId), GetModuleHandleA(nullptr), nullptr);
        EXPECT_NE(nullptr, c);
        return c;
    }
    // The paint cycle, then what the control shows.
    static Picture Shown(HWND hwnd) {
        Pump();
        Picture p;
        p.pixels = layer::WindowPixels(hwnd, &p.width, &p.height);
        return p;
    }
    static Picture Composed(HWND hwnd) {
        Pump();
        Picture p;
        p.pixels = layer::ComposedPixels(hwnd, &p.width, &p.height);
        return p;
    }

    HWND parent = nullptr;
    int nextId = 100;
};

TEST_F(LayerPaintControlsTest, ACheckBoxShowsItsMarkOnlyWhenChecked) {
    HWND box = Control("Button", BS_AUTOCHECKBOX, "Bombs Only", 10, 10, 150, 20);
    // The field inside the box's sunken edge: 9 pixels square, the box
    // centred on the control's height.
    RECT field = {2, 3 + 2, 11, 3 + 11};
    Picture off = Shown(box);
    EXPECT_EQ(81, off.Count(kWhite, field)) << "an unchecked box is an empty white field";
    EXPECT_EQ(kShadow, off.At(0, 3)) << "the box is sunken";
    EXPECT_EQ(kWhite, off.At(12, 15));
    EXPECT_GT(off.Count(kBlack, {17, 0, 150, 20}), 20) << "the caption at the right";

    SendMessageA(box, BM_SETCHECK, BST_CHECKED, 0);
    Picture on = Shown(box);
    EXPECT_GE(on.Count(kBlack, field), 15) << "the tick";
    layer::ClickControl(box);
    Pump();
    EXPECT_EQ(BST_UNCHECKED, SendMessageA(box, BM_GETCHECK, 0, 0));
    EXPECT_EQ(81, Shown(box).Count(kWhite, field)) << "a click takes the tick away again";

    HWND three = Control("Button", BS_AUTO3STATE, "Maybe", 10, 40, 150, 20);
    SendMessageA(three, BM_SETCHECK, BST_INDETERMINATE, 0);
    Picture maybe = Shown(three);
    EXPECT_EQ(0, maybe.Count(kBlack, field));
    EXPECT_GE(maybe.Count(kShadow, field), 15) << "the third state's tick is grey";

    // The click gave it the focus: a dotted rectangle round the caption only.
    ASSERT_EQ(box, GetFocus());
    Picture focused = Shown(box);
    EXPECT_EQ(off.Count(kBlack, {0, 0, 13, 20}), focused.Count(kBlack, {0, 0, 13, 20})) << "nothing round the box";
    EXPECT_GT(focused.Count(kBlack, {13, 0, 150, 20}), off.Count(kBlack, {13, 0, 150, 20}) + 20);
    EXPECT_EQ(16, focused.Bounds(kBlack, {13, 0, 150, 20}).left) << "a pixel before the caption";
}

TEST_F(LayerPaintControlsTest, PushButtonsShowDefaultPressedAndFocusedStates) {
    HWND normal = Control("Button", BS_PUSHBUTTON, "Cancel", 10, 10, 75, 23);
    HWND fallback = Control("Button", BS_DEFPUSHBUTTON, "OK", 100, 10, 75, 23);
    Picture n = Shown(normal), d = Shown(fallback);
    // At rest: lit from the top left, a black edge bottom and right.
    EXPECT_EQ(kWhite, n.At(0, 0));
    EXPECT_EQ(kWhite, n.At(0, 11));
    EXPECT_EQ(kWhite, n.At(37, 0));
    EXPECT_EQ(kBlack, n.At(74, 11));
    EXPECT_EQ(kBlack, n.At(37, 22));
    EXPECT_EQ(kShadow, n.At(73, 11));
    EXPECT_EQ(kFace, n.At(5, 5));
    // The default button has a black frame all round, the edge inside it.
    for (int x = 0; x < 75; ++x) {
        EXPECT_EQ(kBlack, d.At(x, 0)) << x;
        EXPECT_EQ(kBlack, d.At(x, 22)) << x;
    }
    for (int y = 0; y < 23; ++y) {
        EXPECT_EQ(kBlack, d.At(0, y)) << y;
        EXPECT_EQ(kBlack, d.At(74, y)) << y;
    }
    EXPECT_EQ(kWhite, d.At(1, 1));
    // Captions are centred.
    RECT text = n.Bounds(kBlack, {3, 3, 72, 20});
    EXPECT_NEAR(37, (text.left + text.right) / 2, 1);
    EXPECT_NEAR(11, (text.top + text.bottom) / 2, 2);

    // Pressed, the edge is sunken and the caption moves down and right.
    SendMessageA(normal, BM_SETSTATE, TRUE, 0);
    Picture p = Shown(normal);
    EXPECT_EQ(kShadow, p.At(0, 0));
    EXPECT_EQ(kBlack, p.At(1, 1));
    EXPECT_EQ(kWhite, p.At(74, 11));
    RECT moved = p.Bounds(kBlack, {3, 3, 72, 20});
    EXPECT_EQ(text.left + 1, moved.left);
    EXPECT_EQ(text.top + 1, moved.top);
    SendMessageA(normal, BM_SETSTATE, FALSE, 0);
    EXPECT_EQ(kWhite, Shown(normal).At(0, 0)) << "released, it is raised again";

    // The focus: a dotted rectangle inside the edge.
    SetFocus(normal);
    Picture f = Shown(normal);
    int dots = f.Count(kBlack, {4, 4, 71, 5});
    EXPECT_GE(dots, 30);
    EXPECT_LE(dots, 35);
    EXPECT_EQ(kBlack, f.At(4, 4));
    EXPECT_EQ(kFace, f.At(5, 4)) << "every other pixel";
    SetFocus(parent);
    EXPECT_EQ(0, Shown(normal).Count(kBlack, {4, 4, 71, 5}));
}

TEST_F(LayerPaintControlsTest, AGroupBoxIsAnEtchedFrameTheControlsUnderItShowThrough) {
    // Created first, the group box lies over the label created after it.
    HWND group = Control("Button", BS_GROUPBOX, " Options ", 10, 10, 200, 120);
    HWND label = Control("Static", SS_LEFT, "Under", 30, 50, 80, 16);
    Picture g = Shown(group);
    int line = kSystemLine / 2;  // through the middle of the caption
    EXPECT_EQ(kShadow, g.At(2, line));
    EXPECT_EQ(kWhite, g.At(2, line + 1));
    EXPECT_EQ(kShadow, g.At(190, line));
    EXPECT_EQ(kShadow, g.At(0, 60));
    EXPECT_EQ(kWhite, g.At(1, 60));
    EXPECT_EQ(kWhite, g.At(199, 60));
    EXPECT_EQ(kWhite, g.At(100, 119));
    // The caption breaks the top line.
    RECT caption = g.Bounds(kBlack, {0, 0, 200, 13});
    EXPECT_GT(caption.right, caption.left);
    EXPECT_EQ(kFace, g.At(caption.left - 2, line));
    // What the screen shows: the label's text inside the frame.
    Picture all = Composed(parent);
    RECT under = all.Bounds(kBlack, {30, 50, 110, 66});
    EXPECT_GT(under.right - under.left, 15) << "the label shows through the group box";
    SetWindowTextA(label, "Under it all");
    Picture changed = Composed(parent);
    EXPECT_GT(changed.Bounds(kBlack, {30, 50, 110, 66}).right, under.right) << "and so do its changes";
}

TEST_F(LayerPaintControlsTest, LabelsAlignAndWrapTheirText) {
    HWND left = Control("Static", SS_LEFT, "Bomb Speed", 10, 10, 120, 16);
    HWND centre = Control("Static", SS_CENTER, "Bomb Speed", 10, 30, 120, 16);
    HWND right = Control("Static", SS_RIGHT, "Bomb Speed", 10, 50, 120, 16);
    RECT l = Shown(left).Bounds(kBlack, {0, 0, 120, 16}), c = Shown(centre).Bounds(kBlack, {0, 0, 120, 16}),
         r = Shown(right).Bounds(kBlack, {0, 0, 120, 16});
    int width = l.right - l.left;
    EXPECT_EQ(0, l.left);
    EXPECT_EQ(width, c.right - c.left);
    EXPECT_NEAR(60, (c.left + c.right) / 2, 1);
    EXPECT_GE(r.right, 118);
    EXPECT_EQ(kFace, Shown(left).At(119, 15)) << "the label's background is the face";

    // Too long for its width, the text breaks between words.
    HWND wrapped = Control("Static", SS_LEFT, "Max Bomb Count", 10, 80, 60, 40);
    Picture w = Shown(wrapped);
    EXPECT_GT(w.Count(kBlack, {0, 0, 60, kSystemLine}), 10);
    EXPECT_GT(w.Count(kBlack, {0, kSystemLine, 60, 2 * kSystemLine}), 10) << "the second line";
    // A label keeps its ampersands with SS_NOPREFIX, underlines otherwise.
    HWND prefixed = Control("Static", SS_LEFT, "&Delay", 10, 130, 100, 16);
    HWND literal = Control("Static", SS_LEFT | SS_NOPREFIX, "&Delay", 10, 150, 100, 16);
    Picture p = Shown(prefixed), q = Shown(literal);
    EXPECT_GT(p.Count(kBlack, {0, 13, 8, 14}), 3) << "the D underlined, below the baseline";
    EXPECT_GT(q.Bounds(kBlack, {0, 0, 100, 16}).right, p.Bounds(kBlack, {0, 0, 100, 16}).right);
}

TEST_F(LayerPaintControlsTest, APictureShowsTheBitmapsOwnColours) {
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colors[256];
    } info = {};
    info.header.biSize = sizeof info.header;
    info.header.biWidth = 24;
    info.header.biHeight = 10;  // bottom-up, as bitmap resources are
    info.header.biPlanes = 1;
    info.header.biBitCount = 8;
    for (int i = 0; i < 256; ++i) info.colors[i] = {(BYTE)i, (BYTE)(255 - i), (BYTE)(i * 7), 0};
    uint8_t *bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, (BITMAPINFO *)&info, DIB_RGB_COLORS, (void **)&bits, nullptr, 0);
    ASSERT_NE(nullptr, bitmap);
    size_t stride = 24;
    for (int row = 0; row < 10; ++row)
        for (int x = 0; x < 24; ++x) bits[row * stride + x] = (uint8_t)(row * 24 + x);
    HWND picture = Control("Static", SS_BITMAP, "", 10, 10, 80, 80);
    SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, (LPARAM)bitmap);
    Picture p = Shown(picture);
    ASSERT_EQ(24, p.width);
    ASSERT_EQ(10, p.height);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 24; ++x) {
            const RGBQUAD &c = info.colors[bits[(9 - y) * stride + x]];
            uint32_t expected = (uint32_t)c.rgbRed << 16 | (uint32_t)c.rgbGreen << 8 | c.rgbBlue;
            ASSERT_EQ(expected, p.At(x, y)) << x << "," << y;
        }
    SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, 0);
    DestroyWindow(picture);
    DeleteObject(bitmap);
}

TEST_F(LayerPaintControlsTest, AnEditShowsItsTextAlignedItsSelectionAndItsCaret) {
    HWND right = Control("Edit", ES_RIGHT | ES_MULTILINE, "50", 10, 10, 64, 24, WS_EX_CLIENTEDGE);
    HWND left = Control("Edit", ES_LEFT, "50", 10, 40, 64, 24, WS_EX_CLIENTEDGE);
    Picture r = Shown(right), l = Shown(left);
    ASSERT_EQ(60, r.width) << "the client area inside the sunken edge";
    EXPECT_EQ(kWhite, r.At(0, 0));
    RECT rightText = r.Bounds(kBlack, {0, 0, 60, 20}), leftText = l.Bounds(kBlack, {0, 0, 60, 20});
    EXPECT_GE(rightText.right, 60 - 3) << "ES_RIGHT text ends at the right margin";
    EXPECT_LE(leftText.left, 2);
    EXPECT_EQ(rightText.right - rightText.left, leftText.right - leftText.left);
    EXPECT_EQ(0, r.Count(kBlack, {0, 0, 40, 20})) << "no caret without the focus";

    // Typing with the focus: the text grows leftwards and the caret stands
    // after it, a one-pixel line the height of the text.
    SendMessageA(right, WM_KEYDOWN, VK_END, 0);
    layer::TypeText(right, "7");
    Picture typed = Shown(right);
    RECT grown = typed.Bounds(kBlack, {0, 0, 60, 20});
    EXPECT_LT(grown.left, rightText.left);
    int caretColumn = grown.right - 1;
    EXPECT_GE(caretColumn, 57);
    EXPECT_EQ(kSystemLine, typed.Count(kBlack, {caretColumn, 0, caretColumn + 1, 20})) << "the caret";
    SendMessageA(right, WM_KEYDOWN, VK_HOME, 0);
    Picture home = Shown(right);
    EXPECT_EQ(kSystemLine, home.Count(kBlack, {grown.left, 0, grown.left + 1, 20})) << "the caret at the first digit";
    EXPECT_EQ(0, home.Count(kBlack, {caretColumn, 0, caretColumn + 1, 20}));

    // A selection is white on the highlight while the box has the focus.
    SendMessageA(right, EM_SETSEL, 0, -1);
    Picture selected = Shown(right);
    EXPECT_GT(selected.Count(kNavy, {0, 0, 60, 20}), 40);
    EXPECT_GT(selected.Count(kWhite, selected.Bounds(kNavy, {0, 0, 60, 20})), 5) << "the text inverted";
    SetFocus(parent);
    EXPECT_EQ(0, Shown(right).Count(kNavy, {0, 0, 60, 20})) << "hidden without the focus";

    // A click puts the caret at the boundary between characters nearest to
    // it, as they are drawn, narrow or wide.
    HWND word = Control("Edit", ES_LEFT, "illWW", 10, 70, 120, 24);
    for (int x : {4, 8, 11, 17, 24, 33}) {
        SendMessageA(word, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, 5));
        SendMessageA(word, WM_LBUTTONUP, 0, MAKELPARAM(x, 5));
        Picture p = Shown(word);
        int caret = -1;
        for (int column = 0; column < p.width && caret < 0; ++column)
            if (p.Count(kBlack, {column, 0, column + 1, p.height}) == kSystemLine) caret = column;
        EXPECT_NEAR(x, caret, 7) << "a click at " << x << ": no further than half the widest letter";
    }

    // The sunken edge is drawn round the box, on what is under it.
    Picture screen = Composed(parent);
    EXPECT_EQ(kShadow, screen.At(10, 10));
    EXPECT_EQ(kBlack, screen.At(11, 11));
    EXPECT_EQ(kWhite, screen.At(73, 33));
    EXPECT_EQ(kFace, screen.At(72, 32));
}

TEST_F(LayerPaintControlsTest, TheTrackbarThumbIsDrawnWhereItsStateSaysAndMoves) {
    HWND bar = Control(TRACKBAR_CLASSA, TBS_HORZ | TBS_BOTH | TBS_NOTICKS | TBS_ENABLESELRANGE, "", 10, 10, 160, 25);
    SendMessageA(bar, TBM_SETRANGE, TRUE, MAKELPARAM(1, 100));
    SendMessageA(bar, TBM_SETPOS, TRUE, 20);
    auto check = [&](const Picture &p, const RECT &thumb) {
        // A raised rectangle exactly where the state puts the thumb.
        EXPECT_EQ(kWhite, p.At(thumb.left, (thumb.top + thumb.bottom) / 2));
        EXPECT_EQ(kWhite, p.At((thumb.left + thumb.right) / 2, thumb.top));
        EXPECT_EQ(kBlack, p.At(thumb.right - 1, (thumb.top + thumb.bottom) / 2));
        EXPECT_EQ(kBlack, p.At((thumb.left + thumb.right) / 2, thumb.bottom - 1));
        EXPECT_EQ(kShadow, p.At(thumb.right - 2, (thumb.top + thumb.bottom) / 2));
        EXPECT_EQ(kFace, p.At((thumb.left + thumb.right) / 2, (thumb.top + thumb.bottom) / 2));
    };
    RECT before, after, channel;
    SendMessageA(bar, TBM_GETTHUMBRECT, 0, (LPARAM)&before);
    SendMessageA(bar, TBM_GETCHANNELRECT, 0, (LPARAM)&channel);
    Picture p = Shown(bar);
    check(p, before);
    EXPECT_EQ(kShadow, p.At(channel.left, channel.top)) << "the channel is sunken";
    EXPECT_EQ(0, p.Count(kNavy, channel)) << "no selection until one is set";

    SendMessageA(bar, TBM_SETPOS, TRUE, 80);
    SendMessageA(bar, TBM_GETTHUMBRECT, 0, (LPARAM)&after);
    ASSERT_GT(after.left, before.right);
    Picture moved = Shown(bar);
    check(moved, after);
    EXPECT_EQ(kWhite, moved.At((before.left + before.right) / 2, (channel.top + channel.bottom) / 2))
        << "the channel where the thumb was";

    SendMessageA(bar, TBM_SETSEL, TRUE, MAKELPARAM(30, 60));
    Picture selected = Shown(bar);
    RECT band = selected.Bounds(kNavy, channel);
    EXPECT_GT(band.right - band.left, 30);
    EXPECT_LT(band.right, after.left) << "the range lies between its positions";
    EXPECT_GT(band.left, channel.left + 20);

    // The default thumb points down: its last row is a single pixel.
    HWND pointed = Control(TRACKBAR_CLASSA, TBS_HORZ, "", 10, 60, 160, 40);
    RECT thumb;
    SendMessageA(pointed, TBM_GETTHUMBRECT, 0, (LPARAM)&thumb);
    Picture q = Shown(pointed);
    EXPECT_EQ(1, q.Count(kBlack, {thumb.left, thumb.bottom - 1, thumb.right, thumb.bottom}));
    EXPECT_EQ(kFace, q.At(thumb.left, thumb.bottom - 1));
    EXPECT_EQ(kWhite, q.At(thumb.left, thumb.top + 2));
}

TEST_F(LayerPaintControlsTest, AChangeOfStateReachesTheDisplayThroughThePaintCycle) {
    DisplayLog shown;
    layer::ResetLayer(std::make_unique<RecordingDisplay>(&shown));
    RegisterLogging("Parent", 0, (HBRUSH)(COLOR_BTNFACE + 1));
    parent = MakeWindow("Parent", WS_POPUP | WS_VISIBLE, 20, 10, 300, 200);
    HWND box = Control("Button", BS_AUTOCHECKBOX, "Backdrop", 10, 10, 120, 20);
    HWND bar = Control(TRACKBAR_CLASSA, TBS_HORZ, "", 10, 40, 160, 30);
    Pump();
    auto presentedFor = [&](HWND hwnd) {
        return std::count_if(shown.presented.begin(), shown.presented.end(),
                             [&](const auto &p) { return p.first == (uintptr_t)hwnd; });
    };
    EXPECT_GT(presentedFor(box), 0);
    shown.presented.clear();
    SendMessageA(box, BM_SETCHECK, BST_CHECKED, 0);
    SendMessageA(bar, TBM_SETPOS, TRUE, 60);
    EXPECT_EQ(0, presentedFor(box)) << "nothing is drawn before the paint cycle";
    Pump();
    EXPECT_EQ(1, presentedFor(box));
    EXPECT_EQ(1, presentedFor(bar));
    shown.presented.clear();
    Pump();
    EXPECT_TRUE(shown.presented.empty()) << "and nothing more once it is drawn";
}

}  // namespace
