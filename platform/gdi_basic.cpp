// The GDI handle table, stock objects and the simplest drawing: FillRect and
// GetPixel on a window's 32-bit client surface.
#include <map>

#include "gdi_internal.h"
#include "layer_internal.h"

namespace layer {

namespace {

struct GdiTable {
    std::map<uintptr_t, std::unique_ptr<GdiObject>> objects;
    uintptr_t next = kFirstDynamic;
    bool stockMade = false;
    static constexpr uintptr_t kStockBase = 0x00A00000;
    static constexpr uintptr_t kFirstDynamic = 0x00B00000;
};

GdiTable &Table() {
    static GdiTable table;
    return table;
}

constexpr int kStockCount = 20;  // up to DC_PEN
// The default bitmap is a stock object, but not one GetStockObject hands out.
constexpr int kStockBitmapIndex = 21;

uintptr_t StockHandle(int index) { return GdiTable::kStockBase + (uintptr_t)index * 4; }

void MakeStockObjects() {
    GdiTable &t = Table();
    if (t.stockMade) return;
    t.stockMade = true;
    auto brush = [&](int index, COLORREF color, bool hollow) {
        auto b = std::make_unique<BrushObject>();
        b->color = color;
        b->hollow = hollow;
        b->stock = true;
        t.objects[StockHandle(index)] = std::move(b);
    };
    auto pen = [&](int index, COLORREF color, bool null) {
        auto p = std::make_unique<PenObject>();
        p->color = color;
        p->null = null;
        p->stock = true;
        t.objects[StockHandle(index)] = std::move(p);
    };
    auto plain = [&](int index, GdiKind kind) {
        auto o = std::make_unique<GdiObject>(kind);
        o->stock = true;
        t.objects[StockHandle(index)] = std::move(o);
    };
    brush(WHITE_BRUSH, RGB(255, 255, 255), false);
    brush(LTGRAY_BRUSH, RGB(192, 192, 192), false);
    brush(GRAY_BRUSH, RGB(128, 128, 128), false);
    brush(DKGRAY_BRUSH, RGB(64, 64, 64), false);
    brush(BLACK_BRUSH, RGB(0, 0, 0), false);
    brush(NULL_BRUSH, 0, true);
    pen(WHITE_PEN, RGB(255, 255, 255), false);
    pen(BLACK_PEN, RGB(0, 0, 0), false);
    pen(NULL_PEN, 0, true);
    for (int font = 10; font <= 14; ++font) plain(font, GdiKind::Font);  // OEM_FIXED .. DEVICE_DEFAULT
    {
        // The twenty static colours of the system palette, in its order.
        static const BYTE kStatic[20][3] = {
            {0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
            {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
            {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0},
            {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
        auto palette = std::make_unique<PaletteObject>();
        for (const auto &c : kStatic) palette->entries.push_back({c[0], c[1], c[2], 0});
        palette->stock = true;
        t.objects[StockHandle(DEFAULT_PALETTE)] = std::move(palette);
    }
    plain(16, GdiKind::Font);              // SYSTEM_FIXED_FONT
    plain(17, GdiKind::Font);              // DEFAULT_GUI_FONT
    brush(18, RGB(255, 255, 255), false);  // DC_BRUSH
    pen(19, RGB(0, 0, 0), false);          // DC_PEN
    auto bitmap = std::make_unique<BitmapObject>();
    bitmap->width = 1;
    bitmap->height = 1;
    bitmap->bitsPixel = 1;
    bitmap->stride = 2;  // device bitmaps keep WORD-aligned rows
    bitmap->bits.assign(2, 0);
    bitmap->stock = true;
    t.objects[StockHandle(kStockBitmapIndex)] = std::move(bitmap);
}

// The classic system colours, enough for (COLOR_x + 1) class backgrounds.
COLORREF SysColor(int index) {
    switch (index) {
    case COLOR_SCROLLBAR: return RGB(200, 200, 200);
    case COLOR_BACKGROUND: return RGB(58, 110, 165);
    case COLOR_ACTIVECAPTION: return RGB(153, 180, 209);
    case COLOR_INACTIVECAPTION: return RGB(191, 205, 219);
    case COLOR_MENU: return RGB(240, 240, 240);
    case COLOR_WINDOW: return RGB(255, 255, 255);
    case COLOR_WINDOWFRAME: return RGB(100, 100, 100);
    case COLOR_MENUTEXT:
    case COLOR_WINDOWTEXT:
    case COLOR_CAPTIONTEXT:
    case COLOR_BTNTEXT: return RGB(0, 0, 0);
    case COLOR_ACTIVEBORDER: return RGB(180, 180, 180);
    case COLOR_INACTIVEBORDER: return RGB(244, 247, 252);
    case COLOR_APPWORKSPACE: return RGB(171, 171, 171);
    case COLOR_HIGHLIGHT: return RGB(51, 153, 255);
    case COLOR_HIGHLIGHTTEXT: return RGB(255, 255, 255);
    case COLOR_BTNFACE: return RGB(240, 240, 240);
    case COLOR_BTNSHADOW: return RGB(160, 160, 160);
    case COLOR_GRAYTEXT: return RGB(109, 109, 109);
    }
    return RGB(0, 0, 0);
}

constexpr int kMaxSysColor = 30;

}  // namespace

GdiObject *GdiLookup(HGDIOBJ handle) {
    MakeStockObjects();
    auto &objects = Table().objects;
    auto it = objects.find((uintptr_t)handle);
    return it == objects.end() ? nullptr : it->second.get();
}

HGDIOBJ GdiAdd(std::unique_ptr<GdiObject> object) {
    MakeStockObjects();
    GdiTable &t = Table();
    uintptr_t h = t.next;
    t.next += 4;
    t.objects[h] = std::move(object);
    return (HGDIOBJ)h;
}

// Whether any DC still holds the object.
static bool SelectedAnywhere(HGDIOBJ handle) {
    for (auto &entry : Table().objects) {
        if (entry.second->kind != GdiKind::DC) continue;
        auto *dc = static_cast<const DeviceContext *>(entry.second.get());
        if (dc->brush == handle || dc->pen == handle || dc->font == handle || dc->bitmap == handle) return true;
    }
    return false;
}

void GdiRemove(HGDIOBJ handle) {
    GdiObject *o = GdiLookup(handle);
    if (!o || o->stock) return;
    std::vector<HGDIOBJ> held;
    if (o->kind == GdiKind::DC) {
        auto *dc = static_cast<DeviceContext *>(o);
        held = {dc->brush, dc->pen, dc->font, dc->bitmap};
        if (BitmapObject *bitmap = BitmapFromHandle(dc->bitmap); bitmap && bitmap->selectedInto == handle)
            bitmap->selectedInto = nullptr;
    }
    Table().objects.erase((uintptr_t)handle);
    for (HGDIOBJ h : held) ReleaseIfPending(h);
}

void ReleaseIfPending(HGDIOBJ handle) {
    GdiObject *o = GdiLookup(handle);
    if (o && o->deletePending && !SelectedAnywhere(handle)) GdiRemove(handle);
}

bool IsSelectedAnywhere(HGDIOBJ handle) { return SelectedAnywhere(handle); }

std::vector<HGDIOBJ> GdiHandlesWhere(const std::function<bool(const GdiObject *)> &test) {
    std::vector<HGDIOBJ> out;
    for (auto &entry : Table().objects)
        if (test(entry.second.get())) out.push_back((HGDIOBJ)entry.first);
    return out;
}

DeviceContext *DcFromHandle(HDC hdc) {
    GdiObject *o = GdiLookup(hdc);
    return (o && o->kind == GdiKind::DC) ? static_cast<DeviceContext *>(o) : nullptr;
}

BitmapObject *BitmapFromHandle(HGDIOBJ handle) {
    GdiObject *o = GdiLookup(handle);
    return (o && o->kind == GdiKind::Bitmap) ? static_cast<BitmapObject *>(o) : nullptr;
}

PaletteObject *PaletteFromHandle(HGDIOBJ handle) {
    GdiObject *o = GdiLookup(handle);
    return (o && o->kind == GdiKind::Palette) ? static_cast<PaletteObject *>(o) : nullptr;
}

HGDIOBJ StockBitmap() {
    MakeStockObjects();
    return (HGDIOBJ)StockHandle(kStockBitmapIndex);
}

void ResetGdi() {
    GdiTable &t = Table();
    t.objects.clear();
    t.next = GdiTable::kFirstDynamic;
    t.stockMade = false;
}

int CountLiveGdiObjects() {
    int n = 0;
    for (auto &entry : Table().objects) {
        const GdiObject *o = entry.second.get();
        if (o->stock) continue;
        // A CS_OWNDC window's DC belongs to the window, not to the caller.
        if (o->kind == GdiKind::DC && static_cast<const DeviceContext *>(o)->own) continue;
        n++;
    }
    return n;
}

bool ResolveBrush(HBRUSH brush, COLORREF *color, bool *hollow) {
    uintptr_t v = (uintptr_t)brush;
    if (v >= 1 && v <= kMaxSysColor + 1) {
        *color = SysColor((int)v - 1);
        *hollow = false;
        return true;
    }
    GdiObject *o = GdiLookup(brush);
    if (!o || o->kind != GdiKind::Brush) return false;
    auto *b = static_cast<BrushObject *>(o);
    *color = b->color;
    *hollow = b->hollow;
    return true;
}

void ForEachDrawableRect(DeviceContext *dc, const RECT &rect, const std::function<void(const RECT &)> &fill) {
    Surface surface;
    if (!DcSurface(dc, &surface)) return;
    RECT bounds = {0, 0, surface.width, surface.height};
    RECT r = RectIntersection(rect, bounds);
    if (RectIsEmpty(r)) return;
    if (!dc->hasClip) {
        fill(r);
        return;
    }
    for (const RECT &c : dc->clip.Rects()) {
        RECT piece = RectIntersection(r, c);
        if (!RectIsEmpty(piece)) fill(piece);
    }
}

}  // namespace layer

using namespace layer;

extern "C" {

HGDIOBJ WINAPI GetStockObject(int i) {
    if (i < 0 || i >= kStockCount) return nullptr;
    GdiObject *o = GdiLookup((HGDIOBJ)StockHandle(i));
    return o ? (HGDIOBJ)StockHandle(i) : nullptr;
}

int WINAPI FillRect(HDC hDC, const RECT *lprc, HBRUSH hbr) {
    EnsureStarted();
    DeviceContext *dc = DcFromHandle(hDC);
    COLORREF color;
    bool hollow;
    if (!dc || !lprc || !ResolveBrush(hbr, &color, &hollow)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (hollow) return 1;
    if (dc->memory) {
        MemoryFill(dc, *lprc, color);
        return 1;
    }
    Surface surface;
    if (!DcSurface(dc, &surface)) return 1;
    // Windows takes the rectangle as given: right and bottom are excluded, and
    // a rectangle given backwards fills nothing.
    uint32_t pixel = PixelFromColorRef(color);
    RECT drawn = {0, 0, 0, 0};
    ForEachDrawableRect(dc, *lprc, [&](const RECT &r) {
        for (LONG y = r.top; y < r.bottom; ++y) {
            uint32_t *row = surface.pixels + (size_t)y * (size_t)surface.width;
            for (LONG x = r.left; x < r.right; ++x) row[x] = pixel;
        }
        drawn = RectUnion(drawn, r);
    });
    if (!RectIsEmpty(drawn)) DcDrawn(dc, drawn);
    return 1;
}

COLORREF WINAPI GetPixel(HDC hdc, int x, int y) {
    EnsureStarted();
    DeviceContext *dc = DcFromHandle(hdc);
    if (dc && dc->memory) return MemoryPixel(dc, x, y);
    Surface surface;
    if (!dc || !DcSurface(dc, &surface)) return CLR_INVALID;
    if (x < 0 || y < 0 || x >= surface.width || y >= surface.height) return CLR_INVALID;
    if (dc->hasClip) {
        bool inside = false;
        for (const RECT &c : dc->clip.Rects()) inside = inside || RectContains(c, x, y);
        if (!inside) return CLR_INVALID;
    }
    return ColorRefFromPixel(surface.pixels[(size_t)y * (size_t)surface.width + (size_t)x]);
}

}  // extern "C"
