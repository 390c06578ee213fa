// Windows that are drawn over one another. Each window has a surface of its
// own, and a display shows each as a native window, so a window that on
// Windows lets what is under it show through (a group box draws only its
// frame and caption) is given the pixels under it instead: it composes its
// parent and the siblings below it into its own surface before drawing
// itself, and is invalidated whenever what lies under it changes.
#include <layer_hooks.h>

#include "user/controls/controls.h"

namespace layer {

namespace {

bool IsSeeThrough(const Window *w) {
    return w->control && w->control->kind == ControlKind::Button && (w->style & BS_TYPEMASK) == BS_GROUPBOX &&
           (w->style & WS_CHILD);
}

// Copies a window's surface, and its visible children's over it, into `out`
// (`width` pixels a row) with its client origin at (x, y), inside `clip`
// (coordinates of `out`). Children from `stopAt` up are left out.
void Compose(HWND hwnd, uint32_t *out, int width, int x, int y, RECT clip, HWND stopAt) {
    Window *w = FindWindowRecord(hwnd);
    if (!w || !w->pixels) return;
    clip = RectIntersection(clip, {x, y, x + w->surfaceWidth, y + w->surfaceHeight});
    for (LONG row = clip.top; row < clip.bottom; ++row) {
        const uint32_t *from = w->pixels + (size_t)(row - y) * (size_t)w->surfaceWidth;
        uint32_t *to = out + (size_t)row * (size_t)width;
        for (LONG col = clip.left; col < clip.right; ++col) to[col] = from[col - x];
    }
    std::vector<HWND> children = w->children;
    auto first = children.begin();
    for (auto it = children.begin(); it != children.end(); ++it)
        if (*it == stopAt) first = it + 1;
    // The bottom of the z-order first; the list starts at the top.
    for (auto it = children.end(); it != first;) {
        --it;
        Window *c = FindWindowRecord(*it);
        if (!c || !(c->style & WS_VISIBLE)) continue;
        Compose(*it, out, width, x + c->rect.left + c->client.left, y + c->rect.top + c->client.top, clip, nullptr);
    }
}

}  // namespace

void ComposeUnder(HWND hwnd, HDC hdc) {
    Window *w = FindWindowRecord(hwnd);
    DeviceContext *dc = DcFromHandle(hdc);
    if (!w || !dc || !IsSeeThrough(w) || !w->pixels || !FindWindowRecord(w->parent)) return;
    int dx = w->rect.left + w->client.left, dy = w->rect.top + w->client.top;
    RECT all = {0, 0, w->surfaceWidth, w->surfaceHeight};
    // Only where the DC may draw: the rest of the surface is up to date.
    std::vector<RECT> parts = dc->hasClip ? dc->clip.Rects() : std::vector<RECT>{all};
    for (const RECT &part : parts) {
        RECT r = RectIntersection(part, all);
        if (RectIsEmpty(r)) continue;
        Compose(w->parent, w->pixels, w->surfaceWidth, -dx, -dy, r, hwnd);
        MarkDirty(hwnd, r);
    }
}

void RevealChange(HWND hwnd, const RECT &clientRect) {
    Window *w = FindWindowRecord(hwnd);
    if (!w || w->desktop) return;
    // The see-through windows over the change: the window's own children
    // and the siblings above it, each in its own client coordinates.
    auto reveal = [](HWND other, RECT r) {
        Window *o = FindWindowRecord(other);
        if (!o || !IsSeeThrough(o) || !(o->style & WS_VISIBLE)) return;
        int dx = o->rect.left + o->client.left, dy = o->rect.top + o->client.top;
        RECT inside = {r.left - dx, r.top - dy, r.right - dx, r.bottom - dy};
        InvalidateRect(other, &inside, FALSE);
    };
    std::vector<HWND> children = w->children;
    for (HWND child : children) reveal(child, clientRect);
    if (!(w->style & WS_CHILD)) return;
    Window *parent = FindWindowRecord(w->parent);
    if (!parent) return;
    int dx = w->rect.left + w->client.left, dy = w->rect.top + w->client.top;
    RECT inParent = {clientRect.left + dx, clientRect.top + dy, clientRect.right + dx, clientRect.bottom + dy};
    std::vector<HWND> siblings = parent->children;
    for (HWND sibling : siblings) {
        if (sibling == hwnd) break;
        reveal(sibling, inParent);
    }
}

std::vector<uint32_t> ComposedPixels(HWND window, int *width, int *height) {
    EnsureStarted();
    Window *w = FindWindowRecord(window);
    int wide = w && !w->desktop ? w->surfaceWidth : 0, high = w && !w->desktop ? w->surfaceHeight : 0;
    if (width) *width = wide;
    if (height) *height = high;
    std::vector<uint32_t> out((size_t)wide * (size_t)high, 0);
    if (wide > 0 && high > 0) Compose(window, out.data(), wide, 0, 0, {0, 0, wide, high}, nullptr);
    return out;
}

}  // namespace layer
