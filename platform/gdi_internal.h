// GDI objects and device contexts inside the layer. One handle table holds
// every kind of object; later kinds (DIB sections, palettes, memory DCs)
// join it by deriving from GdiObject.
#ifndef VANTREL_PLATFORM_GDI_INTERNAL_H
#define VANTREL_PLATFORM_GDI_INTERNAL_H

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "region.h"

namespace layer {

enum class GdiKind { Brush, Pen, Font, Bitmap, Palette, Region, DC };

struct GdiObject {
    explicit GdiObject(GdiKind k) : kind(k) {}
    virtual ~GdiObject() = default;
    GdiKind kind;
    bool stock = false;
};

struct BrushObject : GdiObject {
    BrushObject() : GdiObject(GdiKind::Brush) {}
    COLORREF color = 0;
    bool hollow = false;
};

struct PenObject : GdiObject {
    PenObject() : GdiObject(GdiKind::Pen) {}
    COLORREF color = 0;
    bool null = false;
};

struct DeviceContext : GdiObject {
    DeviceContext() : GdiObject(GdiKind::DC) {}
    HWND window = nullptr;  // a window DC draws on this window's client surface
    bool own = false;       // CS_OWNDC: lives as long as the window
    bool paint = false;     // handed out by BeginPaint, taken back by EndPaint
    bool hasClip = false;
    Region clip;            // DC coordinates
    HGDIOBJ brush = nullptr;
    HGDIOBJ pen = nullptr;
    HGDIOBJ font = nullptr;
    HGDIOBJ bitmap = nullptr;
    HGDIOBJ palette = nullptr;
};

struct Surface {
    uint32_t *pixels = nullptr;  // 0x00RRGGBB, rows from the top
    int width = 0;
    int height = 0;
};

GdiObject *GdiLookup(HGDIOBJ handle);
HGDIOBJ GdiAdd(std::unique_ptr<GdiObject> object);
void GdiRemove(HGDIOBJ handle);
std::vector<HGDIOBJ> GdiHandlesWhere(const std::function<bool(const GdiObject *)> &test);
DeviceContext *DcFromHandle(HDC hdc);

// The pixels a DC draws on; false when it has none.
bool DcSurface(DeviceContext *dc, Surface *surface);
// Calls `fill` for each part of `rect` (DC coordinates) the DC may draw on.
void ForEachDrawableRect(DeviceContext *dc, const RECT &rect, const std::function<void(const RECT &)> &fill);
// Tells the display that part of a DC's target changed.
void DcDrawn(DeviceContext *dc, const RECT &rect);

// Resolves a brush handle, a stock brush or a (COLOR_x + 1) value.
bool ResolveBrush(HBRUSH brush, COLORREF *color, bool *hollow);

inline uint32_t PixelFromColorRef(COLORREF c) {
    return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}
inline COLORREF ColorRefFromPixel(uint32_t p) {
    return ((p & 0xFF) << 16) | (p & 0xFF00) | ((p >> 16) & 0xFF);
}

}  // namespace layer

#endif
