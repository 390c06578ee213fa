// GDI objects and device contexts inside the layer. One handle table holds
// every kind of object; later kinds (DIB sections, palettes, memory DCs)
// join it by deriving from GdiObject.
#ifndef VANTREL_PLATFORM_GDI_INTERNAL_H
#define VANTREL_PLATFORM_GDI_INTERNAL_H

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <algorithm>
#include <limits>
#include <functional>
#include <memory>
#include <vector>

#include "gdi/expand_indices.h"
#include "gdi/region.h"
#include "gdi/row_runs.h"
#include "session/layer_internal.h"

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
// Where an 8-bit bitmap's indices were last written, so that a copy can
// leave alone what is as it was (gdi/changes.cpp). Every write the layer
// makes counts one more; each block of a row (kShownBlock pixels) keeps the
// count of the last write that touched it.
struct BitmapChanges {
    uint64_t id = 0;        // names this record's counts; a new one when they restart
    uint32_t writes = 0;    // writes so far
    bool untracked = false; // the program holds a pointer to the bits: nothing here holds
    int blocksPerRow = 0;
    std::vector<uint32_t> blocks;  // per block, rows from the top
    std::vector<uint32_t> rows;    // per row: the latest of its blocks
    // The latest writes themselves, counts in order: whoever wants what
    // changed since a count no older than `logFloor` finds it here as the
    // rectangles written, to the pixel, instead of the blocks around them
    // (a bomb is half a block wide), and without walking every row.
    struct Write {
        uint32_t count;
        RECT rect;
    };
    std::vector<Write> log;
    uint32_t logFloor = 0;  // every write counted after this is in the log
    // The log's first entries that the blocks and rows already count. The
    // rest are counted there only when something reads them (CountLogged),
    // or when they leave the log: a frame's copies read the log, and filling
    // the counts of every write meant a cache miss a row for nothing.
    size_t counted = 0;
    // The last plain copy into the bitmap (gdi/blit.cpp): from which bitmap
    // as it was then, with which colour tables, where to; or the last solid
    // fill, of which index. And the count after it, so that blocks counted
    // later are those written since.
    struct Copy {
        bool valid = false;
        bool fill = false;
        uint8_t index = 0;
        uint64_t source = 0;
        uint32_t sourceWrites = 0;
        uint64_t sourceTable = 0, table = 0;
        int64_t dx = 0, dy = 0;
        RECT rect = {0, 0, 0, 0};
        uint32_t after = 0;
    } lastCopy;
};

struct BitmapObject : GdiObject {
    BitmapObject() : GdiObject(GdiKind::Bitmap) {}
    int width = 0;
    int height = 0;        // always positive; `topDown` keeps the DIB's orientation
    bool topDown = false;
    int bitsPixel = 1;
    bool dib = false;
    size_t stride = 0;     // bytes per row, DWORD-aligned for DIB sections
    PixelVector<uint8_t> bits;        // rows in the DIB's own order
    std::vector<RGBQUAD> colorTable;  // 1 << bitsPixel entries for an indexed DIB, else none
    // Names the table's contents: two bitmaps with the same number hold the
    // same colours, so copies between them need no colour matching. A new
    // number comes with every change of the table.
    uint64_t tableVersion = 0;
    HDC selectedInto = nullptr;       // a bitmap lives in one memory DC at a time
    BitmapChanges changes;            // 8-bit bitmaps only
};

inline bool SameRect(const RECT &a, const RECT &b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// The layer wrote `rect` (top-down rows) of an 8-bit bitmap.
void NoteWritten(BitmapObject *bitmap, const RECT &rect);
// Counts `rect` (inside the bitmap, not empty) as written with `count`,
// which must be the bitmap's latest.
void CountWritten(BitmapChanges &c, const RECT &rect, uint32_t count);
// The rectangles written after `after`, in the order written, into `out`;
// false when the log does not reach back that far.
bool WrittenSince(const BitmapChanges &c, uint32_t after, std::vector<RECT> *out);
// Forgets the log: only the blocks say what was written up to now.
void DropLog(BitmapChanges &c);
// Brings the blocks and rows up to the whole log, for whoever reads them.
void CountLogged(BitmapChanges &c);

// A written rectangle widened to whole cache lines of an 8-bit row: they
// are fetched whole anyway, and spans that start and end on them need no
// odd ends. What lies in the widening was not written, so it holds the same
// on both sides of a copy or a comparison.
inline RECT ToCacheLines(const RECT &r) {
    const LONG line = (LONG)kCacheLine;
    return {r.left & ~(line - 1), r.top, (r.right + line - 1) & ~(line - 1), r.bottom};
}

// The program was given the address of the bits: from now on it may write
// them behind the layer's back.
void NoteBitsHandedOut(BitmapObject *bitmap);
// Whether the bitmap's change counts can be trusted.
bool ChangesTracked(const BitmapObject &bitmap);

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

// ---- what a window shows of 8-bit copies (gdi/shown.cpp) --------------------
//
// A frame of the program is one full-window copy of an 8-bit bitmap, of which
// only a little changes from the last. A window keeps the indices its surface
// was converted from and the colour table used; a copy looks only at the
// blocks its source wrote since the last one, compares them against what is
// shown 16 indices at a time, and converts and presents only what differs.
// Anything else that draws on the surface forgets the blocks it touched
// (MarkDirty), so they are converted again by the next copy.

constexpr int kShownBlock = 128;  // pixels of a row whose writes are counted and looked at as one
constexpr int kShownCell = 16;    // pixels of a row presented as one
constexpr int kShownBand = 16;    // rows whose changed cells are gathered into rectangles at once

// The rows of a band in which a cell of it changed: [top, bottom), none
// while bottom is 0.
struct ShownCell {
    int top = 0;
    int bottom = 0;
};

struct ShownIndices {
    int width = 0;
    int height = 0;
    int blocksPerRow = 0;
    PixelVector<uint8_t> indices;  // rows from the top, `width` a row
    std::vector<uint8_t> stale;    // per block: nonzero when the surface there may hold anything
    size_t staleBlocks = 0;        // how many of them are
    uint32_t table[256] = {};
    // The last copy, when it came from a tracked bitmap straight above the
    // window's columns: the bitmap, its write count then, the rows' offset
    // and the rectangle. The same copy again need only look at the blocks
    // the bitmap wrote since, and at stale ones.
    struct Source {
        bool valid = false;
        uint64_t bitmap = 0;
        uint32_t writes = 0;
        int64_t dy = 0;
        RECT rect = {0, 0, 0, 0};
    } source;
};

// Forgets what a window's surface shows of 8-bit copies inside `rect`
// (client coordinates).
void ForgetShown(HWND window, const RECT &rect);

// Writes rows of 8-bit indices onto `r` of a window's surface through
// `table` (0x00RRGGBB), converting only what differs from what it shows, and
// queues the changed parts for the display. Rows come from the top down.
class ShownWriter {
public:
    // `source`, when given, is the bitmap the rows come from, its column
    // `dx` and row `dy` past the window's.
    ShownWriter(HWND window, uint32_t *surface, int width, int height, const uint32_t table[256], const RECT &r,
                BitmapObject *source = nullptr, int64_t dx = 0, int64_t dy = 0);
    ShownWriter(const ShownWriter &) = delete;
    ShownWriter &operator=(const ShownWriter &) = delete;
    // `indices[0]` lands on column r.left of row y.
    void Row(int y, const uint8_t *indices);
    // Where a window row's indices lie in the source: row y's, as Row takes
    // them, start `offset + pitch * y` bytes from `top` (the pitch is
    // negative for a bottom-up bitmap).
    struct Rows {
        const uint8_t *top;
        ptrdiff_t offset, pitch;
        const uint8_t *Of(int y) const { return top + (offset + pitch * (ptrdiff_t)y); }
    };
    // Instead of every row: only what the source wrote since the same copy
    // last time, as its log has it. False, with nothing done, where the log
    // cannot tell (no such copy before, a log that does not reach back, or
    // parts of the window shown by something else): then every row goes
    // through Row.
    bool WriteLogged(const Rows &rows);
    // Queues what changed in the rows still open.
    void Finish();

private:
    void CloseBand();
    void Span(int y, const uint8_t *indices, int left, int right);
    HWND window_;
    uint32_t *surface_;
    int width_;
    RECT r_;
    const uint32_t *table_;
    ShownIndices *shown_;
    // With a source unchanged since the same copy: its counts, and the count
    // the window's indices were taken at. Null when every block is compared.
    BitmapChanges *since_ = nullptr;
    bool sinceCounted_ = false;  // since_'s blocks and rows brought up to its log
    uint32_t sinceWrites_ = 0;
    int64_t dy_ = 0;
    ShownIndices::Source nextSource_;
    int band_ = -1;
    // Scratch that outlives the writer, so a frame allocates nothing: per
    // cell of the band the rows it changed in, and the rectangles still growing
    // downwards (left to right) with those of the band being closed.
    std::vector<ShownCell> &bandCells_;
    std::vector<RECT> &open_;
    std::vector<RECT> &next_;
};

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
