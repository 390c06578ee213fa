// Surfaces and the shm buffers they show: a window's wl_surface in the
// role its kind of window takes, buffers reused once the compositor lets
// go of them, each knowing what of the window it missed, and frames
// committed only when the compositor has asked for one. Windows inside
// others (a dialog's controls) are drawn into their top-level window's
// frame here too.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "backends/clip.h"
#include "gdi/expand_indices.h"
#include "gdi/fetch_ahead.h"
#include "gdi/row_runs.h"
#include "backends/wayland/buffer_fill.h"
#include "backends/wayland/wayland_backend.h"

namespace layer {
namespace wayland {
namespace {

// A bounding box instead of a very long list: a buffer the compositor held
// for many frames is brought up to date in one copy rather than thousands.
// Not sooner: a frame's changes are a few dozen small pieces spread over the
// screen, and their bounding box would be most of it.
void AddRect(std::vector<RECT> *list, const RECT &r) {
    if (r.right <= r.left || r.bottom <= r.top) return;
    constexpr size_t kMostRects = 512;
    if (list->size() < kMostRects) {
        list->push_back(r);
        return;
    }
    RECT all = r;
    for (const RECT &q : *list) {
        all.left = std::min(all.left, q.left);
        all.top = std::min(all.top, q.top);
        all.right = std::max(all.right, q.right);
        all.bottom = std::max(all.bottom, q.bottom);
    }
    list->assign(1, all);
}

void Shift(RECT *r, int x, int y) {
    r->left += x;
    r->right += x;
    r->top += y;
    r->bottom += y;
}

bool Overlap(RECT *out, const RECT *a, const RECT *b) {
    out->left = std::max(a->left, b->left);
    out->top = std::max(a->top, b->top);
    out->right = std::min(a->right, b->right);
    out->bottom = std::min(a->bottom, b->bottom);
    return out->left < out->right && out->top < out->bottom;
}

const wl_callback_listener kFrameListener = {
    [](void *data, wl_callback *, uint32_t) {
        auto *s = static_cast<Surface *>(data);
        s->backend->FrameDone(s);
    },
};

// Where a dialog is: the outputs it shows on decide the scale it is drawn at.
const wl_surface_listener kDialogSurfaceListener = {
    [](void *data, wl_surface *, wl_output *output) {
        auto *s = static_cast<Surface *>(data);
        s->backend->SurfaceEntered(s, output, true);
    },
    [](void *data, wl_surface *, wl_output *output) {
        auto *s = static_cast<Surface *>(data);
        s->backend->SurfaceEntered(s, output, false);
    },
};

const wl_buffer_listener kBufferListener = {
    [](void *data, wl_buffer *) {
        auto *b = static_cast<Buffer *>(data);
        b->owner->backend->Released(b);
    },
};

}  // namespace

// ---- surfaces ---------------------------------------------------------------------

Surface *WaylandBackend::MakeSurface(uintptr_t window, NativeWindow &w, OutputRecord *output, bool cover) {
    auto owned = std::make_unique<Surface>();
    Surface *s = owned.get();
    s->backend = this;
    s->window = window;
    s->output = output ? output->info.global : 0;
    s->cover = cover;
    s->fullScreen = w.fullScreen;
    s->surface = wl_compositor_create_surface(compositor_);
    wl_surface_set_user_data(s->surface, s);
    if (viewporter_) s->viewport = wp_viewporter_get_viewport(viewporter_, s->surface);
    wl_output *where = output ? output->output : nullptr;
    if (w.fullScreen && layerShell_) {
        s->layerSurface = zwlr_layer_shell_v1_get_layer_surface(layerShell_, s->surface, where,
                                                                ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, kAppId);
        zwlr_layer_surface_v1_add_listener(s->layerSurface, &kLayerSurfaceListener, s);
        zwlr_layer_surface_v1_set_anchor(s->layerSurface,
                                         ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                                             ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
        zwlr_layer_surface_v1_set_size(s->layerSurface, 0, 0);
        zwlr_layer_surface_v1_set_exclusive_zone(s->layerSurface, -1);
        zwlr_layer_surface_v1_set_keyboard_interactivity(s->layerSurface,
                                                         ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE);
    } else if (wmBase_) {
        s->xdgSurface = xdg_wm_base_get_xdg_surface(wmBase_, s->surface);
        xdg_surface_add_listener(s->xdgSurface, &kXdgSurfaceListener, s);
        s->toplevel = xdg_surface_get_toplevel(s->xdgSurface);
        xdg_toplevel_add_listener(s->toplevel, &kToplevelListener, s);
        xdg_toplevel_set_app_id(s->toplevel, kAppId);
        xdg_toplevel_set_title(s->toplevel, w.title.c_str());
        if (w.fullScreen) {
            xdg_toplevel_set_fullscreen(s->toplevel, where);
        } else {
            wl_surface_add_listener(s->surface, &kDialogSurfaceListener, s);
            int width = std::max<LONG>(1, w.area.right - w.area.left);
            int height = std::max<LONG>(1, w.area.bottom - w.area.top);
            if (!decorations_ && subcompositor_) MakeTitleBar(s, width, height);
            int bar = s->bar ? kBarHeight : 0;
            xdg_toplevel_set_min_size(s->toplevel, width, height + bar);
            xdg_toplevel_set_max_size(s->toplevel, width, height + bar);
            if (NativeWindow *owner = Find(w.owner))
                for (auto &os : owner->surfaces)
                    if (os->toplevel) {
                        xdg_toplevel_set_parent(s->toplevel, os->toplevel);
                        break;
                    }
            if (decorations_) {
                s->decoration = zxdg_decoration_manager_v1_get_toplevel_decoration(decorations_, s->toplevel);
                zxdg_toplevel_decoration_v1_add_listener(s->decoration, &kDecorationListener, s);
                zxdg_toplevel_decoration_v1_set_mode(s->decoration, ZXDG_TOPLEVEL_DECORATION_V1_MODE_SERVER_SIDE);
            }
        }
    } else {
        // Layer shell alone: a window of ours that is not the saver's cannot
        // be shown (a compositor without xdg-shell is a desktop shell's own).
        wl_surface_destroy(s->surface);
        if (s->viewport) wp_viewport_destroy(s->viewport);
        return nullptr;
    }
    // The first commit carries no buffer; the configure that answers it says
    // how large to be.
    wl_surface_commit(s->surface);
    w.surfaces.push_back(std::move(owned));
    return s;
}

void WaylandBackend::DestroyBuffer(Buffer *b) {
    if (b->buffer) wl_buffer_destroy(b->buffer);
    if (b->data) munmap(b->data, b->bytes);
    b->buffer = nullptr;
    b->data = nullptr;
}

void WaylandBackend::DestroySurface(Surface *s) {
    if (pointerSurface_ == s) pointerSurface_ = nullptr;
    if (keyboardSurface_ == s) {
        keyboardSurface_ = nullptr;
        repeatKey_ = 0;
    }
    for (auto &b : s->buffers) DestroyBuffer(b.get());
    s->buffers.clear();
    s->back = nullptr;
    if (s->frame) wl_callback_destroy(s->frame);
    if (s->closeCheck) wl_callback_destroy(s->closeCheck);
    if (s->viewport) wp_viewport_destroy(s->viewport);
    if (s->barBuffer) DestroyBuffer(s->barBuffer.get());
    s->barBuffer.reset();
    if (s->barSubsurface) wl_subsurface_destroy(s->barSubsurface);
    if (s->bar) wl_surface_destroy(s->bar);
    s->barSubsurface = nullptr;
    s->bar = nullptr;
    if (s->decoration) zxdg_toplevel_decoration_v1_destroy(s->decoration);
    if (s->toplevel) xdg_toplevel_destroy(s->toplevel);
    if (s->xdgSurface) xdg_surface_destroy(s->xdgSurface);
    if (s->layerSurface) zwlr_layer_surface_v1_destroy(s->layerSurface);
    if (s->surface) wl_surface_destroy(s->surface);
    s->frame = s->closeCheck = nullptr;
    s->viewport = nullptr;
    s->surface = nullptr;
}

void WaylandBackend::DropSurfaces(NativeWindow &w) {
    for (auto &s : w.surfaces) DestroySurface(s.get());
    w.surfaces.clear();
}

void WaylandBackend::RemoveSurface(uintptr_t window, Surface *s) {
    NativeWindow *w = Find(window);
    if (!w) return;
    DestroySurface(s);
    w->surfaces.erase(std::remove_if(w->surfaces.begin(), w->surfaces.end(),
                                     [s](const std::unique_ptr<Surface> &p) { return p.get() == s; }),
                      w->surfaces.end());
}

// ---- frames -----------------------------------------------------------------------

int WaylandBackend::ScaleOf(const Surface *s) {
    OutputRecord *o = FindOutput(s->output);
    return o ? std::max(1, o->info.scale) : 1;
}

Buffer *WaylandBackend::MakeBuffer(Surface *s, int width, int height) {
    size_t stride = (size_t)width * 4;
    size_t bytes = stride * (size_t)height;
    int fd = memfd_create("vantrel-saver-frame", MFD_CLOEXEC);
    if (fd < 0) return nullptr;
    if (ftruncate(fd, (off_t)bytes) < 0) {
        close(fd);
        return nullptr;
    }
    void *data = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED) {
        close(fd);
        return nullptr;
    }
    wl_shm_pool *pool = wl_shm_create_pool(shm_, fd, (int32_t)bytes);
    close(fd);
    auto b = std::make_unique<Buffer>();
    b->owner = s;
    // 0x00RRGGBB words in this machine's order are what XRGB8888 is.
    b->buffer = wl_shm_pool_create_buffer(pool, 0, width, height, (int32_t)stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    b->data = (uint32_t *)data;
    b->bytes = bytes;
    b->width = width;
    b->height = height;
    // A new buffer holds nothing of the window yet.
    b->stale.push_back(RECT{0, 0, width, height});
    wl_buffer_add_listener(b->buffer, &kBufferListener, b.get());
    s->buffers.push_back(std::move(b));
    return s->buffers.back().get();
}

Buffer *WaylandBackend::FreeBuffer(Surface *s, int width, int height) {
    for (auto &b : s->buffers) {
        if (b->busy || b->retired) continue;
        if (b->width == width && b->height == height) return b.get();
    }
    return MakeBuffer(s, width, height);
}

void WaylandBackend::Released(Buffer *b) {
    b->busy = false;
    if (!b->retired) return;
    Surface *s = b->owner;
    DestroyBuffer(b);
    s->buffers.erase(std::remove_if(s->buffers.begin(), s->buffers.end(),
                                    [b](const std::unique_ptr<Buffer> &p) { return p.get() == b; }),
                     s->buffers.end());
}

void WaylandBackend::Present(uintptr_t window, const uint32_t *pixels, int width, int height,
                             const std::vector<RECT> &dirty) {
    PresentIndexed(window, pixels, nullptr, nullptr, width, height, dirty);
}

void WaylandBackend::PresentIndexed(uintptr_t window, const uint32_t *pixels, const uint8_t *indices,
                                    const uint32_t *table, int width, int height, const std::vector<RECT> &dirty) {
    NativeWindow *w = Find(window);
    if (!w || !pixels || dirty.empty() || width <= 0 || height <= 0) return;
    if (w->fullScreen && w->children.empty()) {
        // Filled from the indices where the layer gave them with their table.
        PresentSurfaces(*w, pixels, width, height, dirty, table ? indices : nullptr, table);
        return;
    }
    // Windows inside others have no surfaces of their own (a dialog's
    // controls); each keeps its pixels and its top-level window draws them.
    std::vector<RECT> parts;
    if (w->cacheWidth != width || w->cacheHeight != height) {
        w->cache.assign((size_t)width * (size_t)height, 0);
        w->cacheWidth = width;
        w->cacheHeight = height;
        parts.push_back(RECT{0, 0, width, height});
    } else {
        for (const RECT &d : dirty) {
            RECT c;
            if (ClipToSurface(d, width, height, &c)) parts.push_back(c);
        }
    }
    for (const RECT &r : parts)
        for (LONG y = r.top; y < r.bottom; ++y)
            std::memcpy(w->cache.data() + (size_t)y * width + r.left, pixels + (size_t)y * width + r.left,
                        (size_t)(r.right - r.left) * 4);
    if (!w->topLevel && !w->shown) return;
    int x = 0, y = 0;
    uintptr_t top = TopOf(window, &x, &y);
    if (!top) return;
    for (RECT &r : parts) Shift(&r, x, y);
    Compose(top, parts);
}

uintptr_t WaylandBackend::TopOf(uintptr_t window, int *x, int *y) {
    *x = *y = 0;
    for (int depth = 0; depth < 64; ++depth) {
        NativeWindow *w = Find(window);
        if (!w) return 0;
        if (w->topLevel) return window;
        if (!w->shown) return 0;  // inside a hidden window: nothing shows
        *x += w->area.left;
        *y += w->area.top;
        window = w->parent;
    }
    return 0;
}

void WaylandBackend::Recompose(uintptr_t window, const RECT &area) {
    // `area` is in `window`'s client coordinates.
    int x = 0, y = 0;
    uintptr_t top = TopOf(window, &x, &y);
    if (!top) return;
    RECT r = area;
    Shift(&r, x, y);
    Compose(top, {r});
}

void WaylandBackend::DrawChildren(NativeWindow &parent, int x, int y, const RECT &clip, std::vector<uint32_t> &out,
                                  int width) {
    // The newest child lies lowest, as on the X server.
    for (size_t i = parent.children.size(); i-- > 0;) {
        NativeWindow *c = Find(parent.children[i]);
        if (!c || !c->shown) continue;
        RECT place = c->area;
        Shift(&place, x, y);
        RECT part;
        if (!Overlap(&part, &place, &clip)) continue;
        RECT known = {place.left, place.top, place.left + c->cacheWidth, place.top + c->cacheHeight};
        RECT drawn;
        if (Overlap(&drawn, &part, &known))
            for (LONG row = drawn.top; row < drawn.bottom; ++row)
                std::memcpy(out.data() + (size_t)row * width + drawn.left,
                            c->cache.data() + (size_t)(row - place.top) * c->cacheWidth + (drawn.left - place.left),
                            (size_t)(drawn.right - drawn.left) * 4);
        DrawChildren(*c, place.left, place.top, part, out, width);
    }
}

void WaylandBackend::Compose(uintptr_t top, const std::vector<RECT> &rects) {
    NativeWindow *t = Find(top);
    if (!t || t->cacheWidth <= 0 || t->cacheHeight <= 0) return;
    int width = t->cacheWidth, height = t->cacheHeight;
    t->composed.resize(t->cache.size());
    std::vector<RECT> parts;
    for (const RECT &r : rects) {
        RECT c;
        if (!ClipToSurface(r, width, height, &c)) continue;
        for (LONG y = c.top; y < c.bottom; ++y)
            std::memcpy(t->composed.data() + (size_t)y * width + c.left, t->cache.data() + (size_t)y * width + c.left,
                        (size_t)(c.right - c.left) * 4);
        DrawChildren(*t, 0, 0, c, t->composed, width);
        parts.push_back(c);
    }
    if (!parts.empty()) PresentSurfaces(*t, t->composed.data(), width, height, parts);
}

void WaylandBackend::PresentSurfaces(NativeWindow &window, const uint32_t *pixels, int width, int height,
                                     const std::vector<RECT> &dirty, const uint8_t *indices, const uint32_t *table) {
    NativeWindow *w = &window;
    for (auto &owned : w->surfaces) {
        Surface *s = owned.get();
        if (s->cover) continue;
        const int f = s->pixelScale;
        const int bufferWidth = width * f, bufferHeight = height * f;
        // Buffers of another size go (busy ones once the compositor lets go).
        for (size_t i = s->buffers.size(); i-- > 0;) {
            Buffer *b = s->buffers[i].get();
            if (b->width == bufferWidth && b->height == bufferHeight) continue;
            if (s->back == b) s->back = nullptr;
            if (b->busy) {
                b->retired = true;
            } else {
                DestroyBuffer(b);
                s->buffers.erase(s->buffers.begin() + (long)i);
            }
        }
        std::vector<RECT> parts;
        for (const RECT &d : dirty) {
            RECT c;
            if (ClipToSurface(d, width, height, &c)) parts.push_back(c);
        }
        if (parts.empty()) continue;
        if (!s->back) {
            s->back = FreeBuffer(s, bufferWidth, bufferHeight);
            if (!s->back) continue;
        }
        for (auto &b : s->buffers)
            if (b.get() != s->back && !b->retired)
                for (const RECT &p : parts) AddRect(&b->stale, p);
        Buffer *back = s->back;
        // What it missed while the compositor held it, then what is new.
        std::vector<RECT> copy = std::move(back->stale);
        back->stale.clear();
        copy.insert(copy.end(), parts.begin(), parts.end());
        // (A new buffer's own rectangle is in its pixels: the clip brings it
        // back to the window's.)
        std::vector<RECT> clipped;
        for (const RECT &stale : copy) {
            RECT r;
            if (ClipToSurface(stale, width, height, &r)) clipped.push_back(r);
        }
        if (f == 1) {
            // What the buffer missed and what is new overlap nearly whole (a
            // bomb a few rows on): each pixel is copied once.
            ForEachRowRun(clipped, [&](LONG y, const std::vector<std::pair<LONG, LONG>> &spans) {
                const size_t at = (size_t)y * (size_t)width;
                // The indices have left the nearer caches since they were
                // compared: the same columns a few rows down come meanwhile.
                if (indices && y + kRowsAhead < height) {
                    const uint8_t *below = indices + at + (size_t)kRowsAhead * (size_t)width;
                    for (const auto &span : spans) PrefetchSpan(below + span.first, (size_t)(span.second - span.first));
                }
                for (const auto &span : spans)
                    FillBufferSpan(back->data + at + span.first, pixels + at + span.first,
                                   indices ? indices + at + span.first : nullptr, table,
                                   (int)(span.second - span.first));
            });
            FinishBufferFill();
        } else {
            for (const RECT &r : clipped) {
                size_t columns = (size_t)(r.right - r.left);
                for (LONG y = r.top; y < r.bottom; ++y) {
                    const uint32_t *from = pixels + (size_t)y * (size_t)width + r.left;
                    uint32_t *row = back->data + (size_t)y * f * (size_t)bufferWidth + (size_t)r.left * f;
                    for (size_t x = 0; x < columns; ++x)
                        for (int k = 0; k < f; ++k) row[x * f + k] = from[x];
                    for (int k = 1; k < f; ++k)
                        std::memcpy(row + (size_t)k * bufferWidth, row, columns * f * 4);
                }
            }
        }
        for (const RECT &p : parts) AddRect(&s->damage, p);
        if (s->configured && !s->frame) Commit(s);
    }
    Flush();
}

void WaylandBackend::Commit(Surface *s) {
    Buffer *b = s->back;
    if (!b || !s->surface) return;
    // A dialog's buffer is at the scale it was drawn at; the saver's at its
    // output's.
    int scale = s->fullScreen ? ScaleOf(s) : s->pixelScale;
    int f = s->pixelScale;  // buffer pixels per window pixel, which damage is in
    bool exact = b->width == s->logicalWidth * scale && b->height == s->logicalHeight * scale;
    // A fractional scale, or a window the size of another output: the
    // compositor fits the pixels to the surface.
    bool fitted = !exact && s->viewport;
    int bufferScale = exact ? scale : 1;
    if (bufferScale != s->bufferScale) {
        wl_surface_set_buffer_scale(s->surface, bufferScale);
        s->bufferScale = bufferScale;
    }
    int destinationWidth = fitted ? s->logicalWidth : -1, destinationHeight = fitted ? s->logicalHeight : -1;
    if (s->viewport && (destinationWidth != s->destinationWidth || destinationHeight != s->destinationHeight)) {
        wp_viewport_set_destination(s->viewport, destinationWidth, destinationHeight);
        s->destinationWidth = destinationWidth;
        s->destinationHeight = destinationHeight;
    }
    wl_surface_attach(s->surface, b->buffer, 0, 0);
    for (const RECT &d : s->damage) {
        RECT r = {d.left * f, d.top * f, d.right * f, d.bottom * f};
        if (compositorVersion_ >= 4) {
            wl_surface_damage_buffer(s->surface, r.left, r.top, r.right - r.left, r.bottom - r.top);
        } else {
            int u = exact ? scale : 1;  // buffer pixels per surface unit
            wl_surface_damage(s->surface, r.left / u, r.top / u, (r.right + u - 1) / u - r.left / u,
                              (r.bottom + u - 1) / u - r.top / u);
        }
    }
    s->damage.clear();
    s->frame = wl_surface_frame(s->surface);
    wl_callback_add_listener(s->frame, &kFrameListener, s);
    wl_surface_commit(s->surface);
    b->busy = true;
    s->back = nullptr;
}

void WaylandBackend::FrameDone(Surface *s) {
    wl_callback_destroy(s->frame);
    s->frame = nullptr;
    // Whatever was drawn meanwhile goes out now, in one frame.
    if (s->back && s->configured) Commit(s);
}

void WaylandBackend::CommitCover(Surface *s) {
    // Black once: a buffer of the surface's logical size, which memfd
    // pages start as zeros, at scale 1.
    Buffer *b = MakeBuffer(s, s->logicalWidth, s->logicalHeight);
    if (!b) return;
    wl_surface_set_buffer_scale(s->surface, 1);
    wl_surface_attach(s->surface, b->buffer, 0, 0);
    wl_surface_damage(s->surface, 0, 0, s->logicalWidth, s->logicalHeight);
    wl_surface_commit(s->surface);
    b->busy = true;
}

}  // namespace wayland
}  // namespace layer
