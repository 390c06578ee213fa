// x11_present: what the X11 backend presents is exactly the window's pixels,
// read back from the server on the display in DISPLAY. A window of the
// screen's size (less a margin) is shown whole, then in many rectangles of
// odd sizes, then in a few large ones that together exceed what the backend
// stages at once; after each step every pixel on the server must be the
// surface's, in the precision of the display's visual. The same steps follow
// from a surface given as 8-bit indices with their colour table. Prints one
// line per step and exits 1 at the first mismatch.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "backends/x11/x11_backend.h"

namespace {

// A pixel no neighbour repeats, different in every step.
uint32_t Pattern(int x, int y, int step) {
    uint32_t h = (uint32_t)x * 0x9E3779B1u ^ (uint32_t)y * 0x85EBCA77u ^ (uint32_t)step * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h & 0xFFFFFF;
}

// The top bits of `value` (0..255) that a channel of `mask` keeps.
unsigned long Kept(unsigned value, unsigned long mask) {
    int bits = 0;
    while (mask && !(mask & 1)) mask >>= 1;
    while (mask & 1) {
        mask >>= 1;
        ++bits;
    }
    return value >> (8 - bits);
}

unsigned long Channel(unsigned long pixel, unsigned long mask) {
    if (!mask) return 0;
    while (!(mask & 1)) {
        mask >>= 1;
        pixel >>= 1;
    }
    return pixel & mask;
}

class NoInput final : public layer::InputSink {
public:
    void PointerMoved(int, int) override {}
    void ButtonChanged(layer::Button, bool) override {}
    void WheelTurned(int, bool) override {}
    void KeyChanged(UINT, bool, bool) override {}
    void Exposed(uintptr_t, const RECT &) override {}
    void CloseRequested(uintptr_t) override {}
    void NativeWindowGone(uintptr_t) override {}
};

// Compares the window on the server with `pixels`; describes the first
// difference in `why`.
bool Matches(Display *display, Window window, const std::vector<uint32_t> &pixels, int width, int height,
             std::string *why) {
    XImage *image = XGetImage(display, window, 0, 0, (unsigned)width, (unsigned)height, AllPlanes, ZPixmap);
    if (!image) {
        *why = "the window could not be read back";
        return false;
    }
    bool same = true;
    for (int y = 0; y < height && same; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t want = pixels[(size_t)y * (size_t)width + (size_t)x];
            const unsigned long got = XGetPixel(image, x, y);
            const unsigned long r = Channel(got, image->red_mask), g = Channel(got, image->green_mask),
                                b = Channel(got, image->blue_mask);
            if (r != Kept(want >> 16 & 0xFF, image->red_mask) || g != Kept(want >> 8 & 0xFF, image->green_mask) ||
                b != Kept(want & 0xFF, image->blue_mask)) {
                char text[128];
                std::snprintf(text, sizeof text, "pixel (%d, %d) is %06lx on the server, %06x in the surface", x, y,
                              got, want);
                *why = text;
                same = false;
                break;
            }
        }
    }
    XDestroyImage(image);
    return same;
}

}  // namespace

int main() {
    std::string why;
    std::unique_ptr<layer::Backend> backend = layer::x11::X11Backend::Create(nullptr, &why);
    Display *display = XOpenDisplay(nullptr);
    if (!backend || !display) {
        std::fprintf(stderr, "x11_present: no display: %s\n", why.c_str());
        return 2;
    }
    int screenWidth = 0, screenHeight = 0;
    backend->ScreenSize(&screenWidth, &screenHeight);
    const int width = screenWidth - 8, height = screenHeight - 8;
    layer::NativeWindowRequest request;
    request.rect = {4, 4, 4 + width, 4 + height};
    request.style = WS_POPUP;
    request.className = "x11_present";
    const uintptr_t handle = backend->CreateNativeWindow(request);
    backend->ShowNativeWindow(handle, true);
    const Window window = (Window)handle;
    NoInput sink;
    for (int tries = 0;; ++tries) {
        backend->WaitForEvents(50, sink);
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable) break;
        if (tries == 200) {
            std::fprintf(stderr, "x11_present: the window did not show\n");
            return 2;
        }
    }

    std::vector<uint32_t> pixels((size_t)width * (size_t)height);
    std::vector<uint8_t> indices(pixels.size());
    uint32_t table[256];
    for (int i = 0; i < 256; ++i) table[i] = Pattern(i, 0, 99);
    auto paint = [&](const std::vector<RECT> &rects, int step, bool indexed) {
        for (const RECT &r : rects)
            for (LONG y = r.top; y < r.bottom; ++y)
                for (LONG x = r.left; x < r.right; ++x) {
                    const size_t at = (size_t)y * (size_t)width + (size_t)x;
                    indices[at] = (uint8_t)Pattern(x, y, step);
                    pixels[at] = indexed ? table[indices[at]] : Pattern(x, y, step);
                }
        if (indexed)
            backend->PresentIndexed(handle, pixels.data(), indices.data(), table, width, height, rects);
        else
            backend->Present(handle, pixels.data(), width, height, rects);
    };

    // Whole: at 1024 x 768 and 32 bits more than is staged at once.
    std::vector<std::vector<RECT>> steps = {{RECT{0, 0, width, height}}};
    // Many small ones, of widths that fill no whole word at 16 bits.
    std::vector<RECT> small;
    for (int i = 0; i < 120; ++i) {
        const int w = 1 + (i * 37) % 67, h = 1 + (i * 11) % 41;
        const int x = (i * 97) % (width - w), y = (i * 53) % (height - h);
        small.push_back(RECT{x, y, x + w, y + h});
    }
    small.push_back(RECT{0, height - 1, width, height});  // the last row, whole
    small.push_back(RECT{width - 1, 0, width, height});   // the last column, whole
    steps.push_back(small);
    // Large ones that overlap and together exceed the staging memory.
    std::vector<RECT> large;
    for (int i = 0; i < 6; ++i) {
        const int x = (i * 61) % (width / 3), y = (i * 47) % (height / 3);
        large.push_back(RECT{x, y, x + width * 2 / 3 + 1, y + height * 2 / 3});
    }
    steps.push_back(large);

    int step = 0;
    for (bool indexed : {false, true}) {
        for (const std::vector<RECT> &rects : steps) {
            paint(rects, ++step, indexed);
            const char *from = indexed ? "indices" : "surface";
            if (!Matches(display, window, pixels, width, height, &why)) {
                std::printf("step %d (%zu rectangles, from the %s): %s\n", step, rects.size(), from, why.c_str());
                return 1;
            }
            std::printf("step %d (%zu rectangles, from the %s): the server shows the surface\n", step, rects.size(),
                        from);
        }
    }
    backend->DestroyNativeWindow(handle);
    XCloseDisplay(display);
    return 0;
}
