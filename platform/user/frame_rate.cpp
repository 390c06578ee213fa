// The frame-rate overlay (--fps): how many frames a saver window really
// painted in the last second or so, in its bottom-left corner, over each
// frame. It is drawn with the ordinary GDI calls on the window's own DC once
// the frame is in, so whatever follows the window's pixels to the screen
// sees it as one more drawing; when it is off, a painted frame costs one test.
#include <cstdio>

#include "session/layer_internal.h"

namespace layer {

namespace {

// The class every Windows screen saver's window has; dialogs and other
// windows are not frames of the show.
const char kSaverClass[] = "WindowsScreenSaverClass";

void DrawOverlay(HWND hwnd, HDC dc, const std::string &text) {
    RECT client;
    GetClientRect(hwnd, &client);
    // The bold face is 16 pixels tall: large enough on a laptop screen,
    // doubled where a screen is wide enough to make it look small.
    int scale = client.right >= 1280 ? 2 : 1;
    HFONT font = CreateFontA(16 * scale, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, 0, 0, 0, 0, "System");
    HGDIOBJ oldFont = SelectObject(dc, font);
    SIZE size = {0, 0};
    GetTextExtentPoint32A(dc, text.c_str(), (int)text.size(), &size);
    int margin = 4 * scale;
    // On a black plate of its own, readable over the backdrop and the pictures.
    RECT plate = {0, client.bottom - size.cy - 2 * margin, size.cx + 2 * margin, client.bottom};
    FillRect(dc, &plate, (HBRUSH)GetStockObject(BLACK_BRUSH));
    int oldMode = SetBkMode(dc, TRANSPARENT);
    COLORREF oldColor = SetTextColor(dc, RGB(255, 255, 255));
    TextOutA(dc, margin, plate.top + margin, text.c_str(), (int)text.size());
    SetTextColor(dc, oldColor);
    SetBkMode(dc, oldMode);
    SelectObject(dc, oldFont);
    DeleteObject(font);
}

}  // namespace

void FramePainted(HWND hwnd, HDC dc) {
    Window *w = FindWindowRecord(hwnd);
    if (!w || !w->cls || !EqualNoCase(w->cls->name, kSaverClass)) return;
    FrameRateOverlay &f = S().frameRate;
    uint64_t now = LayerNow();
    if (!f.counting) {
        f.counting = true;  // the first frame starts the count
        f.since = now;
    } else {
        ++f.frames;
    }
    uint64_t elapsed = now - f.since;
    if (elapsed >= 1000 && f.frames > 0) {
        char text[32];
        std::snprintf(text, sizeof text, "FPS: %.1f", f.frames * 1000.0 / (double)elapsed);
        f.text = text;
        f.since = now;
        f.frames = 0;
    }
    if (!f.text.empty()) DrawOverlay(hwnd, dc, f.text);
}

}  // namespace layer
