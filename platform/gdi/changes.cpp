// Change counts of 8-bit bitmaps: which blocks of which rows the layer wrote
// when. A frame of the program copies its backdrop whole into the work
// bitmap, draws the bombs over it and copies the work bitmap whole into the
// window; with these counts both copies touch only the blocks that changed
// since the same copy last time, not the two million that did not.
#include <algorithm>

#include "gdi/gdi_internal.h"

namespace layer {

namespace {

constexpr int kBlock = kShownBlock;

// Counts restart before they could wrap, under a new name, so nothing that
// remembered an old count can mistake it for a new one.
void Restart(BitmapChanges &c, const BitmapObject &bitmap) {
    c.id = NewTableVersion();
    c.writes = 0;
    c.blocksPerRow = (bitmap.width + kBlock - 1) / kBlock;
    c.blocks.assign((size_t)c.blocksPerRow * (size_t)bitmap.height, 0);
    c.rows.assign((size_t)bitmap.height, 0);
    c.lastCopy.valid = false;
}

}  // namespace

bool ChangesTracked(const BitmapObject &bitmap) {
    // A bitmap the layer has not written yet has no counts to trust either.
    return bitmap.bitsPixel == 8 && !bitmap.changes.untracked && bitmap.changes.id != 0;
}

void NoteWritten(BitmapObject *bitmap, const RECT &rect) {
    if (!bitmap || bitmap->bitsPixel != 8) return;
    BitmapChanges &c = bitmap->changes;
    if (c.untracked) return;
    if (c.id == 0 || c.writes == UINT32_MAX) Restart(c, *bitmap);
    RECT r = RectIntersection(rect, RECT{0, 0, bitmap->width, bitmap->height});
    if (RectIsEmpty(r)) return;
    const uint32_t count = ++c.writes;
    const int b0 = r.left / kBlock, b1 = (r.right - 1) / kBlock + 1;
    for (LONG y = r.top; y < r.bottom; ++y) {
        uint32_t *row = c.blocks.data() + (size_t)y * (size_t)c.blocksPerRow;
        std::fill(row + b0, row + b1, count);
        c.rows[(size_t)y] = count;
    }
}

void NoteBitsHandedOut(BitmapObject *bitmap) {
    if (!bitmap) return;
    bitmap->changes = BitmapChanges{};
    bitmap->changes.untracked = true;
}

}  // namespace layer
