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
// Writes kept: a frame of 200 bombs logs about 400, so a copy made once a
// frame always finds its own. Past this the older half goes.
constexpr size_t kMaxLog = 8192;

// Counts restart before they could wrap, under a new name, so nothing that
// remembered an old count can mistake it for a new one.
void Restart(BitmapChanges &c, const BitmapObject &bitmap) {
    c.id = NewTableVersion();
    c.writes = 0;
    c.blocksPerRow = (bitmap.width + kBlock - 1) / kBlock;
    c.blocks.assign((size_t)c.blocksPerRow * (size_t)bitmap.height, 0);
    c.rows.assign((size_t)bitmap.height, 0);
    c.log.clear();
    c.logFloor = 0;
    c.counted = 0;
    c.lastCopy.valid = false;
}

// Counts `r` as written with `count` in its blocks and rows.
void Count(BitmapChanges &c, const RECT &r, uint32_t count) {
    const int b0 = r.left / kBlock, b1 = (r.right - 1) / kBlock + 1;
    for (LONG y = r.top; y < r.bottom; ++y) {
        uint32_t *row = c.blocks.data() + (size_t)y * (size_t)c.blocksPerRow;
        std::fill(row + b0, row + b1, count);
        c.rows[(size_t)y] = count;
    }
}

// Counts the log's first `upTo` entries, in order: a later write's count
// is the higher, so a block ends with its last one's.
void CountLoggedUpTo(BitmapChanges &c, size_t upTo) {
    for (; c.counted < upTo; ++c.counted) Count(c, c.log[c.counted].rect, c.log[c.counted].count);
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
    CountWritten(c, r, ++c.writes);
}

void CountWritten(BitmapChanges &c, const RECT &r, uint32_t count) {
    // A sprite is drawn as its mask and then itself, on the same rectangle.
    if (!c.log.empty() && SameRect(c.log.back().rect, r)) {
        c.log.back().count = count;
        c.counted = std::min(c.counted, c.log.size() - 1);  // counted again, later
        return;
    }
    if (c.log.size() >= kMaxLog) {
        size_t drop = c.log.size() / 2;
        CountLoggedUpTo(c, drop);
        c.logFloor = c.log[drop - 1].count;
        c.log.erase(c.log.begin(), c.log.begin() + (long)drop);
        c.counted -= drop;
    }
    c.log.push_back({count, r});
}

void CountLogged(BitmapChanges &c) { CountLoggedUpTo(c, c.log.size()); }

bool WrittenSince(const BitmapChanges &c, uint32_t after, std::vector<RECT> *out) {
    out->clear();
    if (after < c.logFloor) return false;
    auto first = std::upper_bound(c.log.begin(), c.log.end(), after,
                                  [](uint32_t count, const BitmapChanges::Write &w) { return count < w.count; });
    for (auto it = first; it != c.log.end(); ++it) out->push_back(it->rect);
    return true;
}

void DropLog(BitmapChanges &c) {
    CountLogged(c);
    c.log.clear();
    c.counted = 0;
    c.logFloor = c.writes;
}

void NoteBitsHandedOut(BitmapObject *bitmap) {
    if (!bitmap) return;
    bitmap->changes = BitmapChanges{};
    bitmap->changes.untracked = true;
}

}  // namespace layer
