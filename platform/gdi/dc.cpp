// Window device contexts: GetDC/ReleaseDC, the DCs that BeginPaint hands
// out, and the one DC a CS_OWNDC window keeps for life.
#include <vector>

#include "gdi/gdi_internal.h"
#include "session/layer_internal.h"

namespace layer {

HDC CreateWindowDC(HWND hwnd, bool own) {
    auto dc = std::make_unique<DeviceContext>();
    dc->window = hwnd;
    dc->own = own;
    dc->brush = GetStockObject(WHITE_BRUSH);
    dc->pen = GetStockObject(BLACK_PEN);
    dc->font = GetStockObject(SYSTEM_FONT);
    dc->palette = GetStockObject(DEFAULT_PALETTE);
    return (HDC)GdiAdd(std::move(dc));
}

void FreeWindowDCs(HWND hwnd) {
    // A DC that outlives its window would draw on nothing; they all go,
    // including any the program forgot to release.
    Window *w = FindWindowRecord(hwnd);
    if (w) w->ownDC = nullptr;
    std::vector<HGDIOBJ> mine = GdiHandlesWhere([hwnd](const GdiObject *o) {
        return o->kind == GdiKind::DC && static_cast<const DeviceContext *>(o)->window == hwnd;
    });
    for (HGDIOBJ dc : mine) GdiRemove(dc);
}

void SetDCClip(HDC hdc, const Region *clip) {
    DeviceContext *dc = DcFromHandle(hdc);
    if (!dc) return;
    dc->hasClip = clip != nullptr;
    dc->clip = clip ? *clip : Region();
}

bool DcSurface(DeviceContext *dc, Surface *surface) {
    if (!dc->window) return false;
    Window *w = FindWindowRecord(dc->window);
    if (!w) return false;
    if (w->desktop && !w->pixels) {
        // The screen DC's surface is made on first use: most runs never draw
        // on the desktop.
        SizeSurface(w);
    }
    if (!w->pixels) return false;
    surface->pixels = w->pixels;
    surface->width = w->surfaceWidth;
    surface->height = w->surfaceHeight;
    return true;
}

void DcDrawn(DeviceContext *dc, const RECT &rect) {
    if (dc->window) MarkDirty(dc->window, rect);
}

}  // namespace layer

using namespace layer;

extern "C" {

HDC WINAPI GetDC(HWND hWnd) {
    EnsureStarted();
    if (!hWnd) hWnd = S().desktop;
    Window *w = ValidWindow(hWnd);
    if (!w) return nullptr;
    if (w->ownDC) {
        SetDCClip(w->ownDC, nullptr);
        return w->ownDC;
    }
    return CreateWindowDC(hWnd, false);
}

int WINAPI ReleaseDC(HWND hWnd, HDC hDC) {
    EnsureStarted();
    DeviceContext *dc = DcFromHandle(hDC);
    if (!dc || !dc->window) return 0;
    (void)hWnd;  // Windows goes by the DC; the window argument is not checked
    if (!dc->own) GdiRemove(hDC);
    FlushPresent();
    return 1;
}

}  // extern "C"
