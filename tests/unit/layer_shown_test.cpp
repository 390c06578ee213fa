// A window copy converts and presents only what changed since the last one;
// what the display shows must still be, at every step, what converting and
// presenting everything would show. Each run here is made twice from the
// same seed: once as the program makes it, once with the window's record of
// what it showed thrown away before every step, so that the next copy
// converts and presents everything. The screens of the two runs are
// compared step by step, and in the first run the screen must also match the
// window's own pixels.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/unit/engine_fixture.h"
#include "platform/gdi/gdi_internal.h"
#include "platform/session/layer_internal.h"
#include "tests/unit/stub_display.h"

namespace {

// A display that keeps a screen for each window, changed only by what it is
// handed to show; parts of a screen can be spoilt, as when a server loses
// what a covered window showed.
struct Screens {
    struct Screen {
        int width = 0, height = 0;
        std::vector<uint32_t> pixels;
    };
    std::map<uintptr_t, Screen> byWindow;
    int presents = 0;
    int rects = 0;
    int indexed = 0;  // presents read from the indices the window shows
    long area = 0;  // pixels handed over
};

class ScreenDisplay final : public StubDisplay {
public:
    explicit ScreenDisplay(Screens *screens) : StubDisplay(320, 240), screens_(screens) {}
    const char *Name() const override { return "screens"; }
    void Present(uintptr_t window, const uint32_t *pixels, int width, int height,
                 const std::vector<RECT> &dirty) override {
        Show(window, pixels, nullptr, nullptr, width, height, dirty);
    }
    // Shown from the indices alone, as a backend may: where they are not the
    // surface, the screen parts from the window's pixels.
    void PresentIndexed(uintptr_t window, const uint32_t *pixels, const uint8_t *indices, const uint32_t *table,
                        int width, int height, const std::vector<RECT> &dirty) override {
        screens_->indexed++;
        Show(window, pixels, indices, table, width, height, dirty);
    }

private:
    void Show(uintptr_t window, const uint32_t *pixels, const uint8_t *indices, const uint32_t *table, int width,
              int height, const std::vector<RECT> &dirty) {
        Screens::Screen &s = screens_->byWindow[window];
        if (s.width != width || s.height != height) s = {width, height, std::vector<uint32_t>((size_t)width * height)};
        screens_->presents++;
        for (const RECT &r : dirty) {
            screens_->rects++;
            screens_->area += (long)(r.right - r.left) * (r.bottom - r.top);
            for (LONG y = std::max<LONG>(r.top, 0); y < std::min<LONG>(r.bottom, height); ++y)
                for (LONG x = std::max<LONG>(r.left, 0); x < std::min<LONG>(r.right, width); ++x)
                    s.pixels[(size_t)y * width + x] =
                        indices ? table[indices[(size_t)y * width + x]] : pixels[(size_t)y * width + x];
        }
    }

    Screens *screens_;
};

uint64_t Fingerprint(const std::vector<uint32_t> &pixels) {
    uint64_t h = 1469598103934665603ull;
    for (uint32_t p : pixels) h = (h ^ p) * 1099511628211ull;
    return h;
}

// What one run left on the screen after each step.
struct Steps {
    std::vector<uint64_t> screens;
    int presents = 0;
    int rects = 0;
    int indexed = 0;
    std::string firstMismatch;  // where the screen and the window's pixels parted, if they did
};

class ShownTest : public EngineTest {
protected:
    void Begin(Screens *screens) {
        layer::ResetLayer(std::make_unique<ScreenDisplay>(screens));
        layer::SetTickCount(1000);
        ScriptIdle({});
    }

    // After a step: the screen of `window` into the run, and the check that
    // it is the window's own pixels. `reference` makes the next step convert
    // everything.
    void Record(Screens &screens, HWND shown, bool reference, Steps *run, const std::string &step) {
        int w = 0, h = 0;
        std::vector<uint32_t> pixels = layer::WindowPixels(shown, &w, &h);
        Screens::Screen &s = screens.byWindow[(uintptr_t)shown];
        if (s.pixels.size() != pixels.size()) s = {w, h, std::vector<uint32_t>(pixels.size())};
        run->screens.push_back(Fingerprint(s.pixels));
        if (!reference && run->firstMismatch.empty() && s.pixels != pixels) run->firstMismatch = step;
        // The reference forgets what the window showed behind the layer's
        // back, so that its own forgetting is not what is being trusted.
        if (reference)
            if (layer::Window *record = layer::FindWindowRecord(shown)) record->shown.reset();
    }

    // Spoils part of the screen and reports it uncovered, as a server does.
    static void Uncover(Screens &screens, HWND shown, const RECT &r) {
        Screens::Screen &s = screens.byWindow[(uintptr_t)shown];
        for (LONG y = std::max<LONG>(r.top, 0); y < std::min<LONG>(r.bottom, s.height); ++y)
            for (LONG x = std::max<LONG>(r.left, 0); x < std::min<LONG>(r.right, s.width); ++x)
                s.pixels[(size_t)y * s.width + x] = 0xABCDEF;
        layer::LayerInputSink().Exposed((uintptr_t)shown, r);
    }

    // Drawing of other kinds into the window between frames: a fill, text
    // with an opaque background, and DrawText.
    static void DrawOver(HWND shown, int step) {
        HDC dc = GetDC(shown);
        RECT box = {step % 90, step % 70, step % 90 + 37, step % 70 + 11};
        HBRUSH brush = CreateSolidBrush(RGB(step * 13 % 256, 200, 40));
        FillRect(dc, &box, brush);
        DeleteObject(brush);
        SetBkMode(dc, OPAQUE);
        SetBkColor(dc, RGB(0, 0, 255));
        TextOutA(dc, 40 + step % 50, 30, "fps 15", 6);
        RECT label = {5, 90, 140, 110};
        DrawTextA(dc, "overlay", -1, &label, DT_LEFT);
        ReleaseDC(shown, dc);
    }

    // The saver through bomb phases and slideshow pictures, full screen or
    // as a preview inside another window.
    Steps RunSaver(bool reference, LONG backdrop, bool preview, int steps) {
        Screens screens;
        Begin(&screens);
        SaverSettings = SaverSettingsRecord{};
        SaverSettings.ScreenDelay = 1;  // a phase lasts 78 paints
        SaverSettings.BombCount = 200;
        SaverSettings.BombBackdrop = backdrop;
        SaveSettings();  // what the window reads when it is made
        WNDCLASSA saverClass = {};
        saverClass.style = CS_OWNDC;
        saverClass.lpfnWndProc = HostWindowProc;
        saverClass.hInstance = instance;
        saverClass.lpszClassName = "ShownSaver";
        RegisterClassA(&saverClass);
        HWND parent = preview ? MakeHostingWindow(152, 112) : nullptr;
        HostState.previewMode = preview ? 1 : 0;
        window = CreateWindowExA(0, "ShownSaver", "Screen Saver", (preview ? WS_CHILD : WS_POPUP) | WS_VISIBLE, 0, 0,
                                 preview ? 152 : 320, preview ? 112 : 240, parent, nullptr, instance, nullptr);
        HostState.window = window;
        Steps run;
        for (int step = 0; step < steps; ++step) {
            Paint();
            if (step % 7 == 3) DrawOver(window, step);
            if (step % 11 == 5) Uncover(screens, window, RECT{step % 60, step % 40, step % 60 + 50, step % 40 + 30});
            layer::FlushPresent();
            Record(screens, window, reference, &run, "paint " + std::to_string(step));
        }
        run.presents = screens.presents;
        run.rects = screens.rects;
        run.indexed = screens.indexed;
        return run;
    }

    // A window that draws nothing by itself.
    HWND PlainWindow(int width, int height) {
        WNDCLASSA c = {};
        c.lpfnWndProc = DefWindowProcA;
        c.hInstance = instance;
        c.lpszClassName = "ShownPlain";
        RegisterClassA(&c);
        return CreateWindowExA(0, "ShownPlain", "", WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr, nullptr,
                               instance, nullptr);
    }

    void ExpectSameScreens(const Steps &reference, const Steps &shown) {
        EXPECT_EQ("", shown.firstMismatch) << "the screen parted from the window's pixels";
        ASSERT_EQ(reference.screens.size(), shown.screens.size());
        for (size_t i = 0; i < shown.screens.size(); ++i)
            ASSERT_EQ(reference.screens[i], shown.screens[i]) << "the screens part at step " << i;
    }
};

TEST_F(ShownTest, TheSaverShowsWhatConvertingEverythingShowsThroughPhasesAndOtherDrawing) {
    // Bombs, a picture, bombs, a picture, bombs: 78 paints a phase.
    const int steps = 78 * 4 + 30;
    for (LONG backdrop : {1, 0}) {
        for (bool preview : {false, true}) {
            SCOPED_TRACE(std::string(backdrop ? "backdrop" : "no backdrop") + (preview ? ", preview" : ""));
            Steps reference = RunSaver(true, backdrop, preview, steps);
            ReleaseAssets(window);
            Steps shown = RunSaver(false, backdrop, preview, steps);
            ReleaseAssets(window);
            window = nullptr;
            ExpectSameScreens(reference, shown);
            // And it is less: a slideshow paint sends nothing, a bomb frame
            // only the blocks around the bombs.
            EXPECT_LT(shown.presents, reference.presents);
            // Bomb frames go from the indices; after the drawing over them
            // until a copy has converted everything again, not.
            EXPECT_GT(shown.indexed, 0);
            EXPECT_LT(shown.indexed, shown.presents);
        }
    }
}

struct Info8 {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
};

HBITMAP MakeDib8(int w, int h, uint8_t **bits, int tint) {
    Info8 info = {};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = w;
    info.header.biHeight = -h;
    info.header.biPlanes = 1;
    info.header.biBitCount = 8;
    info.header.biCompression = BI_RGB;
    for (int i = 0; i < 256; ++i) info.colors[i] = {(BYTE)(i ^ tint), (BYTE)(255 - i), (BYTE)(i * 3 + tint), 0};
    // Without `bits` the program never sees the pixels: the layer alone
    // writes them and keeps count of where.
    void *p = nullptr;
    HBITMAP b = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO *>(&info), DIB_RGB_COLORS, bits ? &p : nullptr,
                                 nullptr, 0);
    if (bits) *bits = static_cast<uint8_t *>(p);
    return b;
}

void Fill(HDC dc, int x, int y, int w, int h, COLORREF color) {
    RECT r = {x, y, x + w, y + h};
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(dc, &r, brush);
    DeleteObject(brush);
}

// Copies, stretches, fills, text, another colour table and clipped paints in
// a random order, with what the screen shows compared after every step.
// The frame is written either through its pixels or, as the saver writes
// its own, only through the layer: a backdrop copied over it again and
// again (or, for a while, the whole frame cleared), patches filled in. Then the frame must also hold, at every step,
// what the same drawing leaves in a twin whose pixels the test holds, where
// every copy is made in full.
TEST_F(ShownTest, MixedDrawingOnAWindowShowsWhatConvertingEverythingShows) {
    auto runOnce = [&](bool reference, bool throughLayer) {
        Screens screens;
        Begin(&screens);
        HWND shown = PlainWindow(203, 150);
        uint8_t *bits = nullptr, *small = nullptr, *twinBits = nullptr;
        HBITMAP frame = MakeDib8(240, 160, throughLayer ? nullptr : &bits, 0);
        HBITMAP other = MakeDib8(240, 160, throughLayer ? nullptr : &small, 0x55);  // same indices below, other colours
        HBITMAP backdrop = MakeDib8(240, 160, nullptr, 0), twin = MakeDib8(240, 160, &twinBits, 0);
        HDC frameDc = CreateCompatibleDC(nullptr), otherDc = CreateCompatibleDC(nullptr);
        HDC backdropDc = CreateCompatibleDC(nullptr), twinDc = CreateCompatibleDC(nullptr);
        HGDIOBJ oldFrame = SelectObject(frameDc, frame), oldOther = SelectObject(otherDc, other);
        HGDIOBJ oldBackdrop = SelectObject(backdropDc, backdrop), oldTwin = SelectObject(twinDc, twin);
        for (int band = 0; band < 16; ++band) Fill(backdropDc, 0, band * 10, 240, 10, RGB(band * 16, 90, 200 - band * 9));
        const size_t stride = 240;
        SeedRandom(99);
        Steps run;
        std::string twinParted;
        for (int step = 0; step < 400; ++step) {
            if (throughLayer) {
                // What the saver does to its work bitmap, with now and then
                // a change of backdrop or a copy from elsewhere in it.
                // For a stretch there is no backdrop: the frame is cleared
                // whole instead, in one colour and then in another.
                const bool cleared = step >= 200 && step < 260;
                for (HDC to : {frameDc, twinDc}) {
                    if (cleared) Fill(to, 0, 0, 240, 160, step < 230 ? RGB(0, 0, 0) : RGB(200, 10, 10));
                    else if (step % 5 != 4) BitBlt(to, 0, 0, 240, 160, backdropDc, 0, 0, SRCCOPY);
                    if (step % 23 == 11) BitBlt(to, 7, 3, 200, 100, backdropDc, 20, 40, SRCCOPY);
                }
                if (step % 17 == 8) Fill(backdropDc, step % 200, step % 120, 33, 21, RGB(step, 255 - step % 256, 3));
            }
            // The frame moves a little: a few small patches change.
            for (int patch = 0; patch < 3; ++patch) {
                int x = NextRandom() % 230, y = NextRandom() % 150, v = NextRandom() % 256;
                if (throughLayer) {
                    for (HDC to : {frameDc, twinDc}) Fill(to, x, y, 9, 9, RGB(v, v * 5, 255 - v));
                } else {
                    for (int dy = 0; dy < 9; ++dy) std::memset(bits + (y + dy) * stride + x, v, 9);
                }
            }
            if (throughLayer) {
                BitBlt(otherDc, 0, 0, 240, 160, frameDc, 0, 0, SRCCOPY);
                const auto &held = layer::BitmapFromHandle(frame)->bits;
                if (twinParted.empty() && std::memcmp(held.data(), twinBits, stride * 160) != 0)
                    twinParted = "step " + std::to_string(step);
            } else {
                std::memcpy(small, bits, stride * 160);
            }
            HDC dc = GetDC(shown);
            int what = NextRandom() % 10;
            int x = NextRandom() % 200 - 20, y = NextRandom() % 150 - 20, w = NextRandom() % 120, h = NextRandom() % 90;
            RECT box = {x, y, x + w, y + h};
            switch (what) {
            case 0: BitBlt(dc, x, y, w, h, frameDc, x + 3, y + 1, SRCCOPY); break;
            case 1: BitBlt(dc, 0, 0, 203, 150, otherDc, 0, 0, SRCCOPY); break;
            case 2: StretchBlt(dc, 0, 0, 203, 150, frameDc, 10, 10, 101, 75, SRCCOPY); break;
            case 3: FillRect(dc, &box, (HBRUSH)GetStockObject(GRAY_BRUSH)); break;
            case 4: TextOutA(dc, x, y, "Vantrel", 7); break;
            case 5: BitBlt(dc, x, y, w, h, frameDc, 0, 0, SRCAND); break;
            case 6: BitBlt(dc, x, y, w, h, nullptr, 0, 0, BLACKNESS); break;
            case 7: {
                // A paint whose clip is part of the window.
                ReleaseDC(shown, dc);
                InvalidateRect(shown, &box, FALSE);
                PAINTSTRUCT paint;
                dc = BeginPaint(shown, &paint);
                BitBlt(dc, 0, 0, 203, 150, frameDc, 0, 0, SRCCOPY);
                EndPaint(shown, &paint);
                dc = GetDC(shown);
                break;
            }
            case 8: {
                // The frame's own table changes, as a palette does at a phase switch.
                RGBQUAD c = {(BYTE)step, 7, 99, 0};
                SetDIBColorTable(frameDc, (UINT)(step % 256), 1, &c);
                SetDIBColorTable(twinDc, (UINT)(step % 256), 1, &c);
                break;
            }
            default: break;
            }
            // Most steps end with the frame copied whole, as the saver does.
            if (what != 9) BitBlt(dc, 0, 0, 203, 150, frameDc, 0, 0, SRCCOPY);
            ReleaseDC(shown, dc);
            if (step % 13 == 6) Uncover(screens, shown, RECT{x, y, x + 40, y + 40});
            layer::FlushPresent();
            Record(screens, shown, reference, &run, "step " + std::to_string(step));
        }
        EXPECT_EQ("", twinParted) << "the frame parted from its twin";
        SelectObject(frameDc, oldFrame);
        SelectObject(otherDc, oldOther);
        SelectObject(backdropDc, oldBackdrop);
        SelectObject(twinDc, oldTwin);
        for (HDC memory : {frameDc, otherDc, backdropDc, twinDc}) DeleteDC(memory);
        for (HBITMAP bitmap : {frame, other, backdrop, twin}) DeleteObject(bitmap);
        return run;
    };
    for (bool throughLayer : {false, true}) {
        SCOPED_TRACE(throughLayer ? "written through the layer" : "written through its pixels");
        Steps reference = runOnce(true, throughLayer);
        Steps shown = runOnce(false, throughLayer);
        ExpectSameScreens(reference, shown);
    }
}

TEST_F(ShownTest, AnUnchangedCopySendsNothingAndOneChangedPixelOnlyItsBlock) {
    Screens screens;
    Begin(&screens);
    HWND plain = PlainWindow(320, 240);
    uint8_t *bits = nullptr;
    HBITMAP frame = MakeDib8(320, 240, &bits, 0);
    for (size_t i = 0; i < 320 * 240; ++i) bits[i] = (uint8_t)(i * 7);
    HDC frameDc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(frameDc, frame);
    HDC dc = GetDC(plain);
    BitBlt(dc, 0, 0, 320, 240, frameDc, 0, 0, SRCCOPY);
    layer::FlushPresent();
    screens.presents = screens.rects = 0;
    screens.area = 0;

    BitBlt(dc, 0, 0, 320, 240, frameDc, 0, 0, SRCCOPY);
    layer::FlushPresent();
    EXPECT_EQ(0, screens.presents) << "nothing changed, nothing is sent";

    bits[100 * 320 + 200] ^= 1;
    BitBlt(dc, 0, 0, 320, 240, frameDc, 0, 0, SRCCOPY);
    layer::FlushPresent();
    EXPECT_EQ(1, screens.presents);
    EXPECT_EQ(1, screens.rects);
    EXPECT_EQ(layer::kShownCell, screens.area) << "one pixel sends its cell, in the one row it changed in";
    int w = 0, h = 0;
    EXPECT_EQ(layer::WindowPixels(plain, &w, &h), screens.byWindow[(uintptr_t)plain].pixels);

    // The same cell changed in the last row of one band and the first of
    // the next, and far below: the two rows go as one rectangle, the third
    // alone, and nothing in between.
    screens.rects = 0;
    screens.area = 0;
    const int band = layer::kShownBand, column = 3 * layer::kShownCell;
    for (int row : {band - 1, band, 5 * band + 2}) bits[row * 320 + column] ^= 1;
    BitBlt(dc, 0, 0, 320, 240, frameDc, 0, 0, SRCCOPY);
    layer::FlushPresent();
    EXPECT_EQ(2, screens.rects);
    EXPECT_EQ(3 * layer::kShownCell, screens.area);
    EXPECT_EQ(layer::WindowPixels(plain, &w, &h), screens.byWindow[(uintptr_t)plain].pixels);

    // A bitmap only the layer wrote, until the program asks for its pixels
    // and writes one itself: the copy after that still sees it.
    HBITMAP hidden = MakeDib8(320, 240, nullptr, 0);
    SelectObject(frameDc, hidden);
    Fill(frameDc, 0, 0, 320, 240, RGB(10, 20, 30));
    BitBlt(dc, 0, 0, 320, 240, frameDc, 0, 0, SRCCOPY);
    BitBlt(dc, 0, 0, 320, 240, frameDc, 0, 0, SRCCOPY);
    layer::FlushPresent();
    screens.presents = 0;
    DIBSECTION section = {};
    ASSERT_EQ((int)sizeof section, GetObjectA(hidden, sizeof section, &section));
    static_cast<uint8_t *>(section.dsBm.bmBits)[5 * 320 + 7] ^= 0x80;
    BitBlt(dc, 0, 0, 320, 240, frameDc, 0, 0, SRCCOPY);
    layer::FlushPresent();
    EXPECT_EQ(1, screens.presents) << "a pixel written through the pointer is shown";
    EXPECT_EQ(layer::WindowPixels(plain, &w, &h), screens.byWindow[(uintptr_t)plain].pixels);

    ReleaseDC(plain, dc);
    SelectObject(frameDc, old);
    DeleteDC(frameDc);
    DeleteObject(frame);
    DeleteObject(hidden);
}

// More writes between two copies than the layer keeps a log of: the copy
// into the window and the backdrop's copy over the frame must still find
// every one of them, through the counts of the blocks.
TEST_F(ShownTest, MoreWritesBetweenTwoCopiesThanTheLogHoldsAreAllShownAndAllUndone) {
    Screens screens;
    Begin(&screens);
    HWND plain = PlainWindow(320, 240);
    HBITMAP frame = MakeDib8(320, 240, nullptr, 0), backdrop = MakeDib8(320, 240, nullptr, 0);
    HDC frameDc = CreateCompatibleDC(nullptr), backdropDc = CreateCompatibleDC(nullptr);
    HGDIOBJ oldFrame = SelectObject(frameDc, frame), oldBackdrop = SelectObject(backdropDc, backdrop);
    for (int band = 0; band < 24; ++band) Fill(backdropDc, 0, band * 10, 320, 10, RGB(band * 10, 60, 250 - band * 9));
    HDC dc = GetDC(plain);
    for (int frameNo = 0; frameNo < 4; ++frameNo) {
        BitBlt(frameDc, 0, 0, 320, 240, backdropDc, 0, 0, SRCCOPY);
        EXPECT_EQ(layer::BitmapFromHandle(backdrop)->bits, layer::BitmapFromHandle(frame)->bits)
            << "frame " << frameNo << ": the backdrop did not cover every write";
        // A few writes, then (in the second and third frames) ten thousand;
        // the third is not shown, so the next backdrop's copy is the first
        // to look for them.
        const int writes = frameNo == 1 || frameNo == 2 ? 10000 : 40;
        for (int i = 0; i < writes; ++i)
            Fill(frameDc, (i + frameNo) * 37 % 317, i * 53 % 237, 1 + i % 3, 1 + i % 2, RGB(i % 256, 255 - i % 200, 9));
        if (frameNo == 2) continue;
        BitBlt(dc, 0, 0, 320, 240, frameDc, 0, 0, SRCCOPY);
        layer::FlushPresent();
        int w = 0, h = 0;
        std::vector<uint32_t> pixels = layer::WindowPixels(plain, &w, &h);
        EXPECT_EQ(pixels, screens.byWindow[(uintptr_t)plain].pixels) << "frame " << frameNo;
        // What a copy made in full would show: a window that forgot what it showed.
        if (layer::Window *record = layer::FindWindowRecord(plain)) record->shown.reset();
        BitBlt(dc, 0, 0, 320, 240, frameDc, 0, 0, SRCCOPY);
        EXPECT_EQ(pixels, layer::WindowPixels(plain, &w, &h)) << "frame " << frameNo << ": a write was not shown";
    }
    ReleaseDC(plain, dc);
    SelectObject(frameDc, oldFrame);
    SelectObject(backdropDc, oldBackdrop);
    DeleteDC(frameDc);
    DeleteDC(backdropDc);
    DeleteObject(frame);
    DeleteObject(backdrop);
}

// Pixel buffers start on a cache line; from half a large page up on a large
// page, so that the kernel can back them with large pages. Growing from one
// kind to the other and back keeps what they hold.
TEST(PixelStorage, LargeBuffersStartOnALargePageAndKeepTheirContentsAcrossKinds) {
    layer::PixelVector<uint8_t> small(1000, 7);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(small.data()) % layer::kCacheLine);
    layer::PixelVector<uint32_t> pixels(1920 * 1080, 0x123456);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(pixels.data()) % layer::kLargePage);
    pixels.back() = 0xABCDEF;
    pixels.resize(3840 * 2160, 1);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(pixels.data()) % layer::kLargePage);
    EXPECT_EQ(0x123456u, pixels[0]);
    EXPECT_EQ(0xABCDEFu, pixels[1920 * 1080 - 1]);
    EXPECT_EQ(1u, pixels.back());
    pixels.resize(100);
    pixels.shrink_to_fit();
    EXPECT_EQ(0x123456u, pixels[99]);
    small.resize(layer::kLargePage, 9);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(small.data()) % layer::kLargePage);
    EXPECT_EQ(7, small[999]);
    EXPECT_EQ(9, small.back());
}

}  // namespace
