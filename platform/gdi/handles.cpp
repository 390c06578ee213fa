// The GDI handle table, stock objects and the simplest drawing: FillRect and
// GetPixel on a window's 32-bit client surface.
#include <algorithm>
#include <cstring>
#include <map>

#include "gdi/gdi_internal.h"
#include "gdi/planes.h"
#include "session/layer_internal.h"

namespace layer {

namespace {

struct GdiTable {
    std::map<uintptr_t, std::unique_ptr<GdiObject>> objects;
    uintptr_t next = kFirstDynamic;
    bool stockMade = false;
    static constexpr uintptr_t kStockBase = 0x00A00000;
    static constexpr uintptr_t kFirstDynamic = 0x00B00000;
    // The handles looked up lately, by the low bits of their numbers: a
    // frame looks up the same few DCs and bitmaps hundreds of times. A
    // handle leaves them before its object is freed.
    struct Recent {
        uintptr_t handle = 0;
        GdiObject *object = nullptr;
    };
    static constexpr size_t kRecent = 32;
    Recent recent[kRecent];
    static size_t Slot(uintptr_t handle) { return (handle >> 2) % kRecent; }
};

GdiTable &Table() {
    static GdiTable table;
    return table;
}

constexpr int kStockCount = 20;  // up to DC_PEN
// The default bitmap is a stock object, but not one GetStockObject hands out.
constexpr int kStockBitmapIndex = 21;

// The system colours of the classic grey scheme: a light grey face lit
// from the top left, white fields, navy selections.
COLORREF SysColor(int index) {
    switch (index) {
    case COLOR_SCROLLBAR: return RGB(192, 192, 192);
    case COLOR_BACKGROUND: return RGB(0, 128, 128);
    case COLOR_ACTIVECAPTION: return RGB(0, 0, 128);
    case COLOR_INACTIVECAPTION: return RGB(128, 128, 128);
    case COLOR_MENU: return RGB(192, 192, 192);
    case COLOR_WINDOW: return RGB(255, 255, 255);
    case COLOR_WINDOWFRAME: return RGB(0, 0, 0);
    case COLOR_MENUTEXT:
    case COLOR_WINDOWTEXT:
    case COLOR_BTNTEXT:
    case COLOR_INFOTEXT: return RGB(0, 0, 0);
    case COLOR_CAPTIONTEXT:
    case COLOR_HIGHLIGHTTEXT:
    case COLOR_BTNHIGHLIGHT: return RGB(255, 255, 255);
    case COLOR_ACTIVEBORDER:
    case COLOR_INACTIVEBORDER:
    case COLOR_BTNFACE:
    case COLOR_3DLIGHT:
    case COLOR_INACTIVECAPTIONTEXT: return RGB(192, 192, 192);
    case COLOR_APPWORKSPACE:
    case COLOR_BTNSHADOW:
    case COLOR_GRAYTEXT: return RGB(128, 128, 128);
    case COLOR_HIGHLIGHT: return RGB(0, 0, 128);
    case COLOR_3DDKSHADOW: return RGB(0, 0, 0);
    case COLOR_INFOBK: return RGB(255, 255, 225);
    }
    return RGB(0, 0, 0);
}

constexpr int kMaxSysColor = 30;

// The system colour brushes follow the stock objects GetStockObject hands out.
constexpr int kSysColorBrushBase = 32;

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
    brush(WHITE_BRUSH, RGB(255, 255, 255), false);
    brush(LTGRAY_BRUSH, RGB(192, 192, 192), false);
    brush(GRAY_BRUSH, RGB(128, 128, 128), false);
    brush(DKGRAY_BRUSH, RGB(64, 64, 64), false);
    brush(BLACK_BRUSH, RGB(0, 0, 0), false);
    brush(NULL_BRUSH, 0, true);
    pen(WHITE_PEN, RGB(255, 255, 255), false);
    pen(BLACK_PEN, RGB(0, 0, 0), false);
    pen(NULL_PEN, 0, true);
    auto font = [&](int index, const char *face, LONG height, LONG weight) {
        auto f = std::make_unique<FontObject>();
        f->request.lfHeight = height;
        f->request.lfWeight = weight;
        std::strncpy(f->request.lfFaceName, face, LF_FACESIZE - 1);
        f->stock = true;
        t.objects[StockHandle(index)] = std::move(f);
    };
    font(OEM_FIXED_FONT, "Terminal", 12, FW_NORMAL);
    font(ANSI_FIXED_FONT, "Courier", 13, FW_NORMAL);
    font(ANSI_VAR_FONT, "MS Sans Serif", 13, FW_NORMAL);
    font(SYSTEM_FONT, "System", 16, FW_BOLD);
    font(DEVICE_DEFAULT_FONT, "System", 16, FW_BOLD);
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
    font(SYSTEM_FIXED_FONT, "Fixedsys", 15, FW_NORMAL);
    font(DEFAULT_GUI_FONT, "MS Sans Serif", -11, FW_NORMAL);
    brush(18, RGB(255, 255, 255), false);  // DC_BRUSH
    pen(19, RGB(0, 0, 0), false);          // DC_PEN
    for (int i = 0; i <= kMaxSysColor; ++i) brush(kSysColorBrushBase + i, SysColor(i), false);
    auto bitmap = std::make_unique<BitmapObject>();
    bitmap->width = 1;
    bitmap->height = 1;
    bitmap->bitsPixel = 1;
    bitmap->stride = 2;  // device bitmaps keep WORD-aligned rows
    bitmap->bits.assign(2, 0);
    bitmap->stock = true;
    t.objects[StockHandle(kStockBitmapIndex)] = std::move(bitmap);
}


}  // namespace

GdiObject *GdiLookup(HGDIOBJ handle) {
    MakeStockObjects();
    GdiTable &t = Table();
    const uintptr_t h = (uintptr_t)handle;
    GdiTable::Recent &recent = t.recent[GdiTable::Slot(h)];
    if (recent.object && recent.handle == h) return recent.object;
    auto it = t.objects.find(h);
    if (it == t.objects.end()) return nullptr;
    recent = {h, it->second.get()};
    return recent.object;
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
    GdiTable &t = Table();
    GdiTable::Recent &recent = t.recent[GdiTable::Slot((uintptr_t)handle)];
    if (recent.handle == (uintptr_t)handle) recent = {};
    t.objects.erase((uintptr_t)handle);
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
    for (GdiTable::Recent &recent : t.recent) recent = {};
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

void FillSolid(DeviceContext *dc, const RECT &rect, COLORREF color) {
    if (dc->memory) {
        MemoryFill(dc, rect, color);
        return;
    }
    Surface surface;
    if (!DcSurface(dc, &surface)) return;
    // Windows takes the rectangle as given: right and bottom are excluded, and
    // a rectangle given backwards fills nothing.
    uint32_t pixel = PixelFromColorRef(color);
    RECT drawn = {0, 0, 0, 0};
    ForEachDrawableRect(dc, rect, [&](const RECT &r) {
        for (LONG y = r.top; y < r.bottom; ++y) {
            uint32_t *row = surface.pixels + (size_t)y * (size_t)surface.width;
            std::fill(row + r.left, row + r.right, pixel);
        }
        drawn = RectUnion(drawn, r);
    });
    if (!RectIsEmpty(drawn)) DcDrawn(dc, drawn);
}

void ForEachDrawableRect(DeviceContext *dc, const RECT &rect, const std::function<void(const RECT &)> &fill) {
    Surface surface;
    if (!DcSurface(dc, &surface)) return;
    RECT bounds = {0, 0, surface.width, surface.height};
    RECT r = RectIntersection(rect, bounds);
    if (!RectIsEmpty(r)) ForEachPiece(dc, r, fill);
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
    if (!hollow) FillSolid(dc, *lprc, color);
    return 1;
}

DWORD WINAPI GetSysColor(int nIndex) {
    if (nIndex < 0 || nIndex > kMaxSysColor) return 0;
    return SysColor(nIndex);
}

HBRUSH WINAPI GetSysColorBrush(int nIndex) {
    EnsureStarted();
    if (nIndex < 0 || nIndex > kMaxSysColor) return nullptr;
    // Brushes the system owns: deleting one changes nothing.
    MakeStockObjects();
    return (HBRUSH)StockHandle(kSysColorBrushBase + nIndex);
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
