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

#include "gdi/region.h"

namespace layer {

enum class GdiKind { Brush, Pen, Font, Bitmap, Palette, Region, DC };

struct GdiObject {
    explicit GdiObject(GdiKind k) : kind(k) {}
    virtual ~GdiObject() = default;
    GdiKind kind;
    bool stock = false;
    // DeleteObject came while the object was selected into a DC: it goes when
    // the last DC lets go of it.
    bool deletePending = false;
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

// A bitmap: the stock 1x1 monochrome one every memory DC starts with, or a
// DIB section (8-bit with its colour table, or 32-bit).
struct BitmapObject : GdiObject {
    BitmapObject() : GdiObject(GdiKind::Bitmap) {}
    int width = 0;
    int height = 0;        // always positive; `topDown` keeps the DIB's orientation
    bool topDown = false;
    int bitsPixel = 1;
    bool dib = false;
    size_t stride = 0;     // bytes per row, DWORD-aligned for DIB sections
    std::vector<uint8_t> bits;        // rows in the DIB's own order
    std::vector<RGBQUAD> colorTable;  // 1 << bitsPixel entries for an indexed DIB, else none
    // Names the table's contents: two bitmaps with the same number hold the
    // same colours, so copies between them need no colour matching. A new
    // number comes with every change of the table.
    uint64_t tableVersion = 0;
    HDC selectedInto = nullptr;       // a bitmap lives in one memory DC at a time
};

// A logical font: what was asked for. It is drawn with one of the layer's
// own bitmap faces (gdi/font.cpp), chosen by name and height.
struct FontObject : GdiObject {
    FontObject() : GdiObject(GdiKind::Font) {}
    LOGFONTA request = {};
};

struct PaletteObject : GdiObject {
    PaletteObject() : GdiObject(GdiKind::Palette) {}
    std::vector<PALETTEENTRY> entries;
};

struct DeviceContext : GdiObject {
    DeviceContext() : GdiObject(GdiKind::DC) {}
    HWND window = nullptr;  // a window DC draws on this window's client surface
    bool memory = false;    // from CreateCompatibleDC: draws on its selected bitmap
    bool own = false;       // CS_OWNDC: lives as long as the window
    bool paint = false;     // handed out by BeginPaint, taken back by EndPaint
    bool hasClip = false;
    Region clip;            // DC coordinates
    HGDIOBJ brush = nullptr;
    HGDIOBJ pen = nullptr;
    HGDIOBJ font = nullptr;
    HGDIOBJ bitmap = nullptr;
    HGDIOBJ palette = nullptr;
    int stretchMode = BLACKONWHITE;
    COLORREF textColor = RGB(0, 0, 0);
    COLORREF bkColor = RGB(255, 255, 255);
    int bkMode = OPAQUE;
    POINT position = {0, 0};  // where LineTo starts
};

struct Surface {
    uint32_t *pixels = nullptr;  // 0x00RRGGBB, rows from the top
    int width = 0;
    int height = 0;
};

GdiObject *GdiLookup(HGDIOBJ handle);
HGDIOBJ GdiAdd(std::unique_ptr<GdiObject> object);
// Takes an object out of the table (stock objects stay). A DC that goes
// lets go of what it held, so objects waiting for that are deleted too.
void GdiRemove(HGDIOBJ handle);
// Deletes an object whose DeleteObject was held back, once no DC holds it.
void ReleaseIfPending(HGDIOBJ handle);
bool IsSelectedAnywhere(HGDIOBJ handle);
std::vector<HGDIOBJ> GdiHandlesWhere(const std::function<bool(const GdiObject *)> &test);
DeviceContext *DcFromHandle(HDC hdc);
BitmapObject *BitmapFromHandle(HGDIOBJ handle);
PaletteObject *PaletteFromHandle(HGDIOBJ handle);
// The 1x1 monochrome bitmap a memory DC holds while nothing else is selected.
HGDIOBJ StockBitmap();
// Bytes per row of a DIB: whole DWORDs.
size_t DibStride(int width, int bitsPixel);
// A zeroed DIB section, or null for a size beyond what the layer holds.
std::unique_ptr<BitmapObject> NewDibSection(int width, int height, bool topDown, int bitsPixel,
                                            std::vector<RGBQUAD> table);
// A DIB section from a packed DIB (header, colour table, pixels) as a
// bitmap resource holds it; null and the error to report when the data is
// not an 8-bit DIB that holds together.
std::unique_ptr<BitmapObject> DibSectionFromPacked(const uint8_t *data, size_t size, DWORD *error);

// The pixels a DC draws on; false when it has none.
bool DcSurface(DeviceContext *dc, Surface *surface);
// Calls `fill` for each part of `rect` (DC coordinates) the DC may draw on.
void ForEachDrawableRect(DeviceContext *dc, const RECT &rect, const std::function<void(const RECT &)> &fill);
// Tells the display that part of a DC's target changed.
void DcDrawn(DeviceContext *dc, const RECT &rect);

// A number no colour table has had yet.
uint64_t NewTableVersion();
// The entry of `table` nearest to the colour: an exact match first, else
// the smallest squared RGB distance, the lowest index on ties.
int NearestIndex(const RGBQUAD *table, size_t count, BYTE r, BYTE g, BYTE b);
// FillRect and GetPixel on a memory DC's bitmap. MemoryFill returns the
// part it filled (empty when none).
RECT MemoryFill(DeviceContext *dc, const RECT &rect, COLORREF color);
COLORREF MemoryPixel(DeviceContext *dc, int x, int y);

// Resolves a brush handle, a stock brush or a (COLOR_x + 1) value.
bool ResolveBrush(HBRUSH brush, COLORREF *color, bool *hollow);
// What FillRect does with a solid colour, on any DC the layer draws on.
void FillSolid(DeviceContext *dc, const RECT &rect, COLORREF color);

inline uint32_t PixelFromColorRef(COLORREF c) {
    return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}
inline COLORREF ColorRefFromPixel(uint32_t p) {
    return ((p & 0xFF) << 16) | (p & 0xFF00) | ((p >> 16) & 0xFF);
}

}  // namespace layer

#endif
