// What a window shows of 8-bit copies: the indices its surface was last
// converted from, compared block by block with each new copy, so that a
// frame converts and presents only what moved.
//
// Between frames the surface is mostly out of the cache, so what counts is
// the memory a frame touches: a block is compared 16 indices at a time and
// only the pieces that differ are stored and converted. Blocks are wide
// because, measured, the bookkeeping per block cost more than the bytes
// narrower ones save; what is presented goes in narrower cells, so the
// display copies little more than what changed.
#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "gdi/gdi_internal.h"
#include "session/layer_internal.h"

namespace layer {

namespace {

typedef uint8_t Bytes16 __attribute__((vector_size(16)));

// Converts 16 indices. A piece that fills a cache line of the surface goes
// past the cache: the line is not read first, and the frame's few changed
// lines do not push out what the next frame needs.
inline void StorePiece(uint32_t *__restrict out, const uint8_t *__restrict now, const uint32_t *__restrict table) {
#if defined(__SSE2__)
    if ((reinterpret_cast<uintptr_t>(out) & (kCacheLine - 1)) == 0) {
        alignas(16) uint32_t px[16];
        ExpandIndices(px, now, 16, table);
        for (int k = 0; k < 16; k += 4)
            _mm_stream_si128(reinterpret_cast<__m128i *>(out + k), _mm_load_si128(reinterpret_cast<const __m128i *>(px + k)));
        return;
    }
#endif
    ExpandIndices(out, now, 16, table);
}

// Takes `n` indices as shown, converted whole.
inline void TakeSpan(uint8_t *__restrict was, const uint8_t *__restrict now, uint32_t *__restrict out, int n,
                     const uint32_t *__restrict table) {
    std::memcpy(was, now, (size_t)n);
    ExpandIndices(out, now, n, table);
}

// Marks the cells columns [c0, c1) fall in as changed in row y. Rows come
// from the top down, so a cell's first row is the first one marked.
inline void MarkCells(ShownCell *cells, int c0, int c1, int y) {
    for (int c = c0 / kShownCell; c <= (c1 - 1) / kShownCell; ++c) {
        if (cells[c].bottom == 0) cells[c].top = y;
        cells[c].bottom = y + 1;
    }
}

// Brings `n` indices of what the window shows up to `now`, a 16-index piece
// at a time: a piece that differs is stored and converted, one that does not
// is left alone, so the surface's cache lines behind it are not touched.
// The cells of the band behind what differed are marked in `row`.
// Which pieces differ is found first, up to 32 at once and without a branch
// each: changed and unchanged pieces alternate at a bomb's edges, and a
// branch per piece was mispredicted there as often as not.
inline void UpdateSpan(uint8_t *__restrict was, const uint8_t *__restrict now, uint32_t *__restrict out, int n,
                       const uint32_t *__restrict table, int column, int row, ShownCell *__restrict cells) {
    int i = 0;
    while (i + 16 <= n) {
        const int pieces = std::min((n - i) / 16, 32);
        uint32_t differ = 0;
        for (int k = 0; k < pieces; ++k) {
            Bytes16 x, y;
            std::memcpy(&x, was + i + 16 * k, 16);
            std::memcpy(&y, now + i + 16 * k, 16);
            Bytes16 d = x ^ y;
            uint64_t halves[2];
            std::memcpy(halves, &d, 16);
            differ |= (uint32_t)((halves[0] | halves[1]) != 0) << k;
        }
        for (; differ != 0; differ &= differ - 1) {
            const int at = i + 16 * __builtin_ctz(differ);
            std::memcpy(was + at, now + at, 16);
            StorePiece(out + at, now + at, table);
            MarkCells(cells, column + at, column + at + 16, row);
        }
        i += 16 * pieces;
    }
    if (i < n && std::memcmp(was + i, now + i, (size_t)(n - i)) != 0) {
        TakeSpan(was + i, now + i, out + i, n - i, table);
        MarkCells(cells, column + i, column + n, row);
    }
}

ShownIndices *ShownFor(Window *w, const uint32_t table[256]) {
    ShownIndices *shown = w->shown.get();
    if (!shown || shown->width != w->surfaceWidth || shown->height != w->surfaceHeight) {
        w->shown = std::make_shared<ShownIndices>();
        shown = w->shown.get();
        shown->width = w->surfaceWidth;
        shown->height = w->surfaceHeight;
        shown->blocksPerRow = (shown->width + kShownBlock - 1) / kShownBlock;
        shown->indices.assign((size_t)shown->width * (size_t)shown->height, 0);
        shown->stale.assign((size_t)shown->blocksPerRow * (size_t)shown->height, 1);
        shown->staleBlocks = shown->stale.size();
        std::memcpy(shown->table, table, sizeof shown->table);
    } else if (std::memcmp(shown->table, table, sizeof shown->table) != 0) {
        // Other colours for the same indices: nothing shown can be trusted.
        std::fill(shown->stale.begin(), shown->stale.end(), 1);
        shown->staleBlocks = shown->stale.size();
        std::memcpy(shown->table, table, sizeof shown->table);
    }
    return shown;
}

template <typename T, int Which>
std::vector<T> &Scratch() {
    static std::vector<T> v;
    return v;
}

}  // namespace

void ForgetShown(HWND window, const RECT &rect) {
    Window *w = FindWindowRecord(window);
    if (!w || !w->shown) return;
    ShownIndices &shown = *w->shown;
    RECT r = RectIntersection(rect, RECT{0, 0, shown.width, shown.height});
    if (RectIsEmpty(r)) return;
    int b0 = r.left / kShownBlock, b1 = (r.right - 1) / kShownBlock + 1;
    for (LONG y = r.top; y < r.bottom; ++y) {
        uint8_t *stale = shown.stale.data() + (size_t)y * (size_t)shown.blocksPerRow;
        for (int b = b0; b < b1; ++b) {
            shown.staleBlocks += stale[b] == 0;
            stale[b] = 1;
        }
    }
}

bool ShownAsIndices(const Window &w, const uint8_t **indices, const uint32_t **table) {
    // A block is stale where anything but an 8-bit copy drew or nothing has
    // yet; with none stale, the surface is the indices through the table.
    const ShownIndices *shown = w.shown.get();
    if (!shown || !w.pixels || shown->staleBlocks != 0 || shown->width != w.surfaceWidth ||
        shown->height != w.surfaceHeight)
        return false;
    *indices = shown->indices.data();
    *table = shown->table;
    return true;
}

ShownWriter::ShownWriter(HWND window, uint32_t *surface, int width, int height, const uint32_t table[256],
                         const RECT &r, BitmapObject *source, int64_t dx, int64_t dy)
    : window_(window), surface_(surface), width_(width), r_(r), table_(table), shown_(nullptr), dy_(dy),
      bandCells_(Scratch<ShownCell, 0>()), open_(Scratch<RECT, 0>()), next_(Scratch<RECT, 1>()) {
    Window *w = FindWindowRecord(window);
    if (w && w->pixels == surface && w->surfaceWidth == width && w->surfaceHeight == height)
        shown_ = ShownFor(w, table);
    open_.clear();
    if (!shown_) return;
    bandCells_.assign((size_t)((shown_->width + kShownCell - 1) / kShownCell), ShownCell{});
    // A source straight above the window's columns keeps its counts by the
    // same blocks as the window.
    if (source && dx == 0 && ChangesTracked(*source)) {
        BitmapChanges &c = source->changes;
        nextSource_ = {true, c.id, c.writes, dy, r};
        const ShownIndices::Source &last = shown_->source;
        if (last.valid && last.bitmap == c.id && last.dy == dy && SameRect(last.rect, r)) {
            since_ = &c;
            sinceWrites_ = last.writes;
        }
    }
    // Until this copy is finished, the window shows no one copy.
    shown_->source.valid = false;
}

void ShownWriter::Row(int y, const uint8_t *indices) {
    uint32_t *out = surface_ + (size_t)y * (size_t)width_;
    const int x0 = r_.left, x1 = r_.right;
    if (!shown_) {
        // Not a window's own surface: converted whole, as any copy is.
        ExpandIndices(out + x0, indices, x1 - x0, table_);
        MarkDirty(window_, RECT{x0, y, x1, y + 1});
        return;
    }
    if (y / kShownBand != band_) {
        CloseBand();
        band_ = y / kShownBand;
    }
    uint8_t *was = shown_->indices.data() + (size_t)y * (size_t)width_;
    uint8_t *stale = shown_->stale.data() + (size_t)y * (size_t)shown_->blocksPerRow;
    ShownCell *cells = bandCells_.data();
    const uint8_t *from = indices - x0;  // indexed by column
    const int b0 = x0 / kShownBlock, b1 = (x1 - 1) / kShownBlock + 1;
    // Blocks the source has not written since the window took its indices
    // from it are as they were; only stale ones need a look there.
    const uint32_t *written = nullptr;
    if (since_) {
        if (!sinceCounted_) {
            CountLogged(*since_);
            sinceCounted_ = true;
        }
        size_t row = (size_t)(y + dy_);
        if (since_->rows[row] > sinceWrites_) written = since_->blocks.data() + row * (size_t)since_->blocksPerRow;
        else if (!std::any_of(stale + b0, stale + b1, [](uint8_t v) { return v != 0; })) return;
    }
    for (int b = b0; b < b1; ++b) {
        if (since_ && !stale[b] && (!written || written[b] <= sinceWrites_)) continue;
        // The last block of a row ends at the surface's edge; a block the
        // copy covers in part is brought up to date in that part, and stays
        // unknown in the rest if it was.
        int a = b * kShownBlock, e = std::min(a + kShownBlock, width_);
        const bool whole = a >= x0 && e <= x1;
        if (y + kRowsAhead < shown_->height)
            PrefetchSpan(was + (size_t)kRowsAhead * (size_t)width_ + a, (size_t)(e - a), false);
        a = std::max(a, x0);
        e = std::min(e, x1);
        if (stale[b]) {
            TakeSpan(was + a, from + a, out + a, e - a, table_);
            MarkCells(cells, a, e, y);
            if (whole) {
                stale[b] = 0;
                --shown_->staleBlocks;
            }
        } else {
            UpdateSpan(was + a, from + a, out + a, e - a, table_, a, y, cells);
        }
    }
}

bool ShownWriter::WriteLogged(const Rows &rows) {
    if (!shown_ || !since_ || shown_->staleBlocks != 0) return false;
    static std::vector<RECT> written;
    if (!WrittenSince(*since_, sinceWrites_, &written)) return false;
    size_t kept = 0;
    for (const RECT &w : written) {
        // The source's rows lie dy_ below the window's; its columns are the window's.
        RECT inWindow = {w.left, (LONG)(w.top - dy_), w.right, (LONG)(w.bottom - dy_)};
        RECT inside = RectIntersection(ToCacheLines(inWindow), r_);
        if (!RectIsEmpty(inside)) written[kept++] = inside;
    }
    written.resize(kept);
    ForEachRowRun(written, [&](LONG y, const std::vector<std::pair<LONG, LONG>> &spans) {
        const uint8_t *indices = rows.Of((int)y);
        // Between frames all of this has left the cache: the same columns a
        // few rows down are fetched while this row is compared.
        if (y + kRowsAhead < r_.bottom) {
            const uint8_t *below = rows.Of((int)y + kRowsAhead) - r_.left;
            const uint8_t *shownBelow = shown_->indices.data() + (size_t)(y + kRowsAhead) * (size_t)width_;
            for (const auto &span : spans) {
                PrefetchSpan(shownBelow + span.first, (size_t)(span.second - span.first), true);
                PrefetchSpan(below + span.first, (size_t)(span.second - span.first), false);
            }
        }
        for (const auto &span : spans) Span((int)y, indices, (int)span.first, (int)span.second);
    });
    return true;
}

void ShownWriter::Span(int y, const uint8_t *indices, int left, int right) {
    if (y / kShownBand != band_) {
        CloseBand();
        band_ = y / kShownBand;
    }
    const size_t at = (size_t)y * (size_t)width_;
    const uint8_t *from = indices - r_.left;  // indexed by column
    UpdateSpan(shown_->indices.data() + at + left, from + left, surface_ + at + left, right - left, table_, left,
               y, bandCells_.data());
}

void ShownWriter::CloseBand() {
    if (band_ < 0) return;
    // Runs of changed cells become rectangles over the rows that changed in
    // them (a bomb that moved changes its top and bottom rows, little in
    // between); one that continues a run of the same columns just above
    // grows instead.
    next_.clear();
    const int b0 = r_.left / kShownCell, b1 = (r_.right - 1) / kShownCell + 1;
    size_t o = 0;
    for (int b = b0; b < b1;) {
        if (bandCells_[(size_t)b].bottom == 0) {
            ++b;
            continue;
        }
        int e = b;
        LONG top = std::numeric_limits<LONG>::max(), bottom = 0;
        for (; e < b1 && bandCells_[(size_t)e].bottom != 0; ++e) {
            top = std::min<LONG>(top, bandCells_[(size_t)e].top);
            bottom = std::max<LONG>(bottom, bandCells_[(size_t)e].bottom);
            bandCells_[(size_t)e] = ShownCell{};
        }
        RECT run = {std::max<LONG>(r_.left, b * kShownCell), top, std::min<LONG>(r_.right, e * kShownCell), bottom};
        while (o < open_.size() && open_[o].left < run.left) QueuePresent(window_, open_[o++]);
        if (o < open_.size() && open_[o].left == run.left && open_[o].right == run.right &&
            open_[o].bottom == run.top) {
            run.top = open_[o++].top;
        }
        next_.push_back(run);
        b = e;
    }
    for (; o < open_.size(); ++o) QueuePresent(window_, open_[o]);
    open_.swap(next_);
}

void ShownWriter::Finish() {
#if defined(__SSE2__)
    _mm_sfence();  // what went past the cache is in memory before anyone reads it
#endif
    CloseBand();
    band_ = -1;
    if (shown_ && nextSource_.valid) shown_->source = nextSource_;
    for (const RECT &r : open_) QueuePresent(window_, r);
    open_.clear();
}

}  // namespace layer
