// Memory DCs, DIB sections, palettes and brushes: making them, selecting
// them into DCs, describing and deleting them, with the rules Windows keeps
// about which object may be where.
#include <algorithm>
#include <cstring>

#include "gdi/gdi_internal.h"
#include "session/layer_internal.h"

namespace layer {

// Above this a bitmap cannot be meant seriously: 16384 pixels a side and
// 256 MiB of pixels, the most a DIB section here will hold.
constexpr LONG kMaxBitmapSide = 16384;
constexpr size_t kMaxBitmapBytes = (size_t)256 << 20;

size_t DibStride(int width, int bitsPixel) { return (((size_t)width * (size_t)bitsPixel + 31) / 32) * 4; }

std::unique_ptr<BitmapObject> NewDibSection(int width, int height, bool topDown, int bitsPixel,
                                            std::vector<RGBQUAD> table) {
    if (width < 1 || height < 1 || width > kMaxBitmapSide || height > kMaxBitmapSide) return nullptr;
    size_t stride = DibStride(width, bitsPixel);
    if (stride > kMaxBitmapBytes / (size_t)height) return nullptr;
    auto bitmap = std::make_unique<BitmapObject>();
    bitmap->width = width;
    bitmap->height = height;
    bitmap->topDown = topDown;
    bitmap->bitsPixel = bitsPixel;
    bitmap->dib = true;
    bitmap->stride = stride;
    bitmap->bits.assign(stride * (size_t)height, 0);
    // An indexed section always has a full table; entries it was not given
    // are black, as the system fills them.
    if (bitsPixel <= 8) table.resize((size_t)1 << bitsPixel, RGBQUAD{0, 0, 0, 0});
    bitmap->colorTable = std::move(table);
    bitmap->tableVersion = NewTableVersion();
    return bitmap;
}

namespace {

// The DIB section with a colour table selected into a DC, if any.
BitmapObject *SelectedColorDib(HDC hdc) {
    DeviceContext *dc = DcFromHandle(hdc);
    if (!dc || !dc->memory) return nullptr;
    BitmapObject *bitmap = BitmapFromHandle(dc->bitmap);
    if (!bitmap || !bitmap->dib || bitmap->bitsPixel > 8 || bitmap->colorTable.empty()) return nullptr;
    return bitmap;
}

HGDIOBJ SelectBitmap(HDC hdc, DeviceContext *dc, HGDIOBJ handle, BitmapObject *bitmap) {
    // Only a memory DC draws on a bitmap, and a bitmap is drawn on by one DC
    // at a time; the stock bitmap is shared by all.
    if (!dc->memory) return nullptr;
    if (!bitmap->stock && bitmap->selectedInto && bitmap->selectedInto != hdc) return nullptr;
    HGDIOBJ previous = dc->bitmap;
    if (previous == handle) return previous;
    if (BitmapObject *old = BitmapFromHandle(previous); old && old->selectedInto == hdc) old->selectedInto = nullptr;
    dc->bitmap = handle;
    if (!bitmap->stock) bitmap->selectedInto = hdc;
    ReleaseIfPending(previous);
    return previous;
}

}  // namespace

}  // namespace layer

using namespace layer;

extern "C" {

HDC WINAPI CreateCompatibleDC(HDC hdc) {
    EnsureStarted();
    if (hdc && !DcFromHandle(hdc)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (TakeFault("CreateCompatibleDC")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto dc = std::make_unique<DeviceContext>();
    dc->memory = true;
    dc->brush = GetStockObject(WHITE_BRUSH);
    dc->pen = GetStockObject(BLACK_PEN);
    dc->font = GetStockObject(SYSTEM_FONT);
    dc->palette = GetStockObject(DEFAULT_PALETTE);
    dc->bitmap = StockBitmap();
    return (HDC)GdiAdd(std::move(dc));
}

BOOL WINAPI DeleteDC(HDC hdc) {
    EnsureStarted();
    DeviceContext *dc = DcFromHandle(hdc);
    if (!dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Window DCs go back through ReleaseDC and EndPaint, or with their window.
    if (!dc->memory) return FALSE;
    GdiRemove(hdc);  // lets go of the bitmap, which may then be deleted
    return TRUE;
}

HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h) {
    EnsureStarted();
    DeviceContext *dc = DcFromHandle(hdc);
    GdiObject *object = GdiLookup(h);
    if (!dc || !object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    HGDIOBJ *slot = nullptr;
    switch (object->kind) {
    case GdiKind::Bitmap:
        return SelectBitmap(hdc, dc, h, static_cast<BitmapObject *>(object));
    case GdiKind::Brush: slot = &dc->brush; break;
    case GdiKind::Pen: slot = &dc->pen; break;
    case GdiKind::Font: slot = &dc->font; break;
    default:
        // Palettes go through SelectPalette; a DC is not selectable.
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    HGDIOBJ previous = *slot;
    *slot = h;
    if (previous != h) ReleaseIfPending(previous);
    return previous;
}

BOOL WINAPI DeleteObject(HGDIOBJ ho) {
    EnsureStarted();
    GdiObject *object = GdiLookup(ho);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (object->stock) return TRUE;  // stock objects outlive every caller
    if (object->kind == GdiKind::DC) return DeleteDC((HDC)ho);
    // Still selected: the object is marked and goes when its DC lets go of
    // it, which is what Wine does (Windows itself refuses with FALSE).
    if (IsSelectedAnywhere(ho)) {
        object->deletePending = true;
        return TRUE;
    }
    GdiRemove(ho);
    return TRUE;
}

int WINAPI GetObjectA(HANDLE h, int c, LPVOID pv) {
    EnsureStarted();
    GdiObject *object = GdiLookup(h);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (object->kind == GdiKind::Palette) {
        // A palette describes itself by its entry count, a WORD.
        auto *palette = static_cast<PaletteObject *>(object);
        WORD count = (WORD)palette->entries.size();
        if (!pv) return (int)sizeof(WORD);
        if (c <= 0) return 0;
        int n = std::min(c, (int)sizeof(WORD));
        std::memcpy(pv, &count, (size_t)n);
        return n;
    }
    if (object->kind == GdiKind::Font) {
        // A font describes itself by what it was asked to be.
        const LOGFONTA &lf = static_cast<FontObject *>(object)->request;
        if (!pv) return (int)sizeof(LOGFONTA);
        if (c <= 0) return 0;
        int n = std::min(c, (int)sizeof(LOGFONTA));
        std::memcpy(pv, &lf, (size_t)n);
        return n;
    }
    if (object->kind != GdiKind::Bitmap) {
        // Brushes and pens have no description here yet.
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto *bitmap = static_cast<BitmapObject *>(object);
    if (!pv) return (int)sizeof(BITMAP);
    BITMAP bm = {};
    bm.bmType = 0;
    bm.bmWidth = bitmap->width;
    bm.bmHeight = bitmap->height;
    bm.bmWidthBytes = (LONG)bitmap->stride;
    bm.bmPlanes = 1;
    bm.bmBitsPixel = (WORD)bitmap->bitsPixel;
    bm.bmBits = bitmap->dib ? bitmap->bits.data() : nullptr;
    if (bm.bmBits) NoteBitsHandedOut(bitmap);
    if (bitmap->dib && c >= (int)sizeof(DIBSECTION)) {
        DIBSECTION ds = {};
        ds.dsBm = bm;
        ds.dsBmih.biSize = sizeof(BITMAPINFOHEADER);
        ds.dsBmih.biWidth = bitmap->width;
        // The header's height comes back positive even for a top-down DIB,
        // as the system gives it.
        ds.dsBmih.biHeight = bitmap->height;
        ds.dsBmih.biPlanes = 1;
        ds.dsBmih.biBitCount = (WORD)bitmap->bitsPixel;
        ds.dsBmih.biCompression = BI_RGB;
        ds.dsBmih.biSizeImage = (DWORD)bitmap->bits.size();
        ds.dsBmih.biClrUsed = (DWORD)bitmap->colorTable.size();
        std::memcpy(pv, &ds, sizeof ds);
        return (int)sizeof(DIBSECTION);
    }
    if (c < (int)sizeof(BITMAP)) return 0;
    std::memcpy(pv, &bm, sizeof bm);
    return (int)sizeof(BITMAP);
}

DWORD WINAPI GetObjectType(HGDIOBJ h) {
    EnsureStarted();
    GdiObject *object = GdiLookup(h);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    switch (object->kind) {
    case GdiKind::Brush: return OBJ_BRUSH;
    case GdiKind::Pen: return OBJ_PEN;
    case GdiKind::Font: return OBJ_FONT;
    case GdiKind::Bitmap: return OBJ_BITMAP;
    case GdiKind::Palette: return OBJ_PAL;
    case GdiKind::Region: return 8;  // OBJ_REGION
    case GdiKind::DC: return static_cast<DeviceContext *>(object)->memory ? OBJ_MEMDC : OBJ_DC;
    }
    return 0;
}

HBITMAP WINAPI CreateDIBSection(HDC hdc, const BITMAPINFO *pbmi, UINT usage, void **ppvBits, HANDLE hSection,
                                DWORD offset) {
    EnsureStarted();
    if (ppvBits) *ppvBits = nullptr;
    (void)offset;
    // Bits in a file mapping and colour tables of palette indices are not
    // offered: the program makes its sections from plain colour tables.
    if (!pbmi || hSection || usage != DIB_RGB_COLORS || (hdc && !DcFromHandle(hdc))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const BITMAPINFOHEADER &h = pbmi->bmiHeader;
    bool known = h.biSize == sizeof(BITMAPINFOHEADER) || h.biSize == 108 || h.biSize == 124;
    bool format = (h.biBitCount == 8 || h.biBitCount == 32) && h.biCompression == BI_RGB;
    if (!known || h.biPlanes != 1 || !format || h.biHeight == 0 || h.biHeight == LONG(0x80000000) ||
        (h.biBitCount == 8 && h.biClrUsed > 256)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (TakeFault("CreateDIBSection")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::vector<RGBQUAD> table;
    if (h.biBitCount == 8) {
        // The table follows the header, whatever size the header declares.
        size_t count = h.biClrUsed ? h.biClrUsed : 256;
        const RGBQUAD *colors = reinterpret_cast<const RGBQUAD *>(reinterpret_cast<const BYTE *>(pbmi) + h.biSize);
        table.assign(colors, colors + count);
    }
    bool topDown = h.biHeight < 0;
    auto bitmap = NewDibSection(h.biWidth, topDown ? -h.biHeight : h.biHeight, topDown, h.biBitCount, std::move(table));
    if (!bitmap) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void *bits = bitmap->bits.data();
    if (ppvBits) NoteBitsHandedOut(bitmap.get());
    HBITMAP handle = (HBITMAP)GdiAdd(std::move(bitmap));
    if (ppvBits) *ppvBits = bits;
    return handle;
}

UINT WINAPI GetDIBColorTable(HDC hdc, UINT iStart, UINT cEntries, RGBQUAD *prgbq) {
    EnsureStarted();
    if (TakeFault("GetDIBColorTable")) return 0;
    BitmapObject *bitmap = SelectedColorDib(hdc);
    if (!bitmap || !prgbq) return 0;
    size_t size = bitmap->colorTable.size();
    if (iStart >= size) return 0;
    UINT n = (UINT)std::min<size_t>(cEntries, size - iStart);
    std::memcpy(prgbq, bitmap->colorTable.data() + iStart, n * sizeof(RGBQUAD));
    return n;
}

UINT WINAPI SetDIBColorTable(HDC hdc, UINT iStart, UINT cEntries, const RGBQUAD *prgbq) {
    EnsureStarted();
    BitmapObject *bitmap = SelectedColorDib(hdc);
    if (!bitmap || !prgbq) return 0;
    size_t size = bitmap->colorTable.size();
    if (iStart >= size) return 0;
    UINT n = (UINT)std::min<size_t>(cEntries, size - iStart);
    std::memcpy(bitmap->colorTable.data() + iStart, prgbq, n * sizeof(RGBQUAD));
    if (n) bitmap->tableVersion = NewTableVersion();
    return n;
}

HPALETTE WINAPI CreatePalette(const LOGPALETTE *plpal) {
    EnsureStarted();
    if (!plpal || plpal->palVersion != 0x300 || plpal->palNumEntries == 0 || plpal->palNumEntries > 1024) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (TakeFault("CreatePalette")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto palette = std::make_unique<PaletteObject>();
    palette->entries.assign(plpal->palPalEntry, plpal->palPalEntry + plpal->palNumEntries);
    return (HPALETTE)GdiAdd(std::move(palette));
}

UINT WINAPI GetPaletteEntries(HPALETTE hpal, UINT iStart, UINT cEntries, LPPALETTEENTRY pPalEntries) {
    EnsureStarted();
    PaletteObject *palette = PaletteFromHandle(hpal);
    if (!palette) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    size_t size = palette->entries.size();
    if (!pPalEntries) return (UINT)size;  // the caller asks how many there are
    if (iStart >= size) return 0;
    UINT n = (UINT)std::min<size_t>(cEntries, size - iStart);
    std::memcpy(pPalEntries, palette->entries.data() + iStart, n * sizeof(PALETTEENTRY));
    return n;
}

HPALETTE WINAPI SelectPalette(HDC hdc, HPALETTE hPal, BOOL bForceBkgd) {
    EnsureStarted();
    (void)bForceBkgd;  // foreground or background: the same on a display without a palette
    DeviceContext *dc = DcFromHandle(hdc);
    if (!dc || !PaletteFromHandle(hPal)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (TakeFault("SelectPalette")) return nullptr;
    // A palette may be selected into any number of DCs. The previous handle
    // comes back as it was, even when that palette has since been deleted.
    HPALETTE previous = (HPALETTE)dc->palette;
    dc->palette = hPal;
    return previous;
}

UINT WINAPI RealizePalette(HDC hdc) {
    EnsureStarted();
    DeviceContext *dc = DcFromHandle(hdc);
    if (!dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return GDI_ERROR;
    }
    // A 32-bit display has no system palette to map entries into: nothing
    // changes on screen, and no entry is reported as mapped, as the system
    // answers on such a display.
    return 0;
}

HBRUSH WINAPI CreateSolidBrush(COLORREF color) {
    EnsureStarted();
    auto brush = std::make_unique<BrushObject>();
    brush->color = color;
    return (HBRUSH)GdiAdd(std::move(brush));
}

}  // extern "C"
