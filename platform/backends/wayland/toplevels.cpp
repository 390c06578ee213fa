// Top-level windows: made, shown, placed, titled and destroyed at the
// layer's word; the configure events of their layer surfaces and
// xdg_toplevels; a close from the compositor; and the title bar with its
// close box that we draw ourselves where the compositor draws none.
#include <algorithm>

#include "backends/wayland/wayland_backend.h"
#include "gdi/font.h"

namespace layer {
namespace wayland {

const zwlr_layer_surface_v1_listener kLayerSurfaceListener = {
    [](void *data, zwlr_layer_surface_v1 *layer, uint32_t serial, uint32_t width, uint32_t height) {
        auto *s = static_cast<Surface *>(data);
        zwlr_layer_surface_v1_ack_configure(layer, serial);
        s->backend->Configured(s, width, height);
    },
    [](void *data, zwlr_layer_surface_v1 *) {
        auto *s = static_cast<Surface *>(data);
        s->backend->SurfaceClosed(s);
    },
};

const xdg_surface_listener kXdgSurfaceListener = {
    [](void *data, xdg_surface *surface, uint32_t serial) {
        auto *s = static_cast<Surface *>(data);
        xdg_surface_ack_configure(surface, serial);
        s->backend->Configured(s, 0, 0);
    },
};

const xdg_toplevel_listener kToplevelListener = {
    [](void *data, xdg_toplevel *, int32_t width, int32_t height, wl_array *) {
        auto *s = static_cast<Surface *>(data);
        // A dialog keeps the size the layer gave it; only the saver's
        // fullscreen surface takes the output's.
        if (s->fullScreen && width > 0 && height > 0) {
            s->logicalWidth = width;
            s->logicalHeight = height;
        }
    },
    [](void *data, xdg_toplevel *) {
        auto *s = static_cast<Surface *>(data);
        uintptr_t window = s->window;
        s->backend->Report([window](InputSink &sink) { sink.CloseRequested(window); });
    },
    [](void *, xdg_toplevel *, int32_t, int32_t) {},
    [](void *, xdg_toplevel *, wl_array *) {},
};

// Whether the compositor draws the frame: where it says the client does
// (a window rule may), the dialog gets our own title bar.
const zxdg_toplevel_decoration_v1_listener kDecorationListener = {
    [](void *data, zxdg_toplevel_decoration_v1 *, uint32_t mode) {
        auto *s = static_cast<Surface *>(data);
        s->backend->DecorationMode(s, mode);
    },
};

namespace {

const wl_callback_listener kCloseCheckListener = {
    [](void *data, wl_callback *, uint32_t) {
        auto *s = static_cast<Surface *>(data);
        s->backend->CloseChecked(s);
    },
};

}  // namespace

// ---- windows ----------------------------------------------------------------------

uintptr_t WaylandBackend::CreateNativeWindow(const NativeWindowRequest &request) {
    NativeWindow w;
    w.topLevel = !request.parent || request.parent == kDesktop;
    w.fullScreen = w.topLevel && (request.style & WS_POPUP) && (request.exStyle & WS_EX_TOPMOST);
    w.owner = request.owner;
    w.area = request.rect;
    w.title = request.title;
    uintptr_t handle = next_;
    next_ += 2;
    if (!w.topLevel) {
        NativeWindow *parent = Find(request.parent);
        if (!parent) return 0;  // another program's window: nothing here can show inside it
        w.parent = request.parent;
        parent->children.push_back(handle);
    }
    windows_[handle] = std::move(w);
    return handle;
}

void WaylandBackend::DestroyNativeWindow(uintptr_t window) {
    NativeWindow *w = Find(window);
    if (!w) return;
    DropSurfaces(*w);
    uintptr_t parent = w->parent;
    RECT area = w->area;
    bool shown = w->shown;
    for (uintptr_t child : w->children)
        if (NativeWindow *c = Find(child)) c->parent = 0;
    windows_.erase(window);
    if (NativeWindow *p = Find(parent)) {
        p->children.erase(std::remove(p->children.begin(), p->children.end(), window), p->children.end());
        if (shown) Recompose(parent, area);
    }
    Flush();
}

void WaylandBackend::ShowNativeWindow(uintptr_t window, bool visible) {
    NativeWindow *w = Find(window);
    if (!w || w->shown == visible) return;
    w->shown = visible;
    if (visible && w->topLevel) windowShown_ = true;
    if (!w->topLevel) {
        Recompose(w->parent, w->area);
        Flush();
        return;
    }
    if (!visible) {
        DropSurfaces(*w);
        Flush();
        return;
    }
    if (w->fullScreen) {
        fullScreenShown_ = true;
        CoverOutputs(window, *w);
    } else {
        MakeSurface(window, *w, nullptr, false);
    }
    Flush();
}

void WaylandBackend::SetNativeTitle(uintptr_t window, const std::string &title) {
    NativeWindow *w = Find(window);
    if (!w) return;
    w->title = title;
    for (auto &s : w->surfaces) {
        if (!s->toplevel) continue;
        xdg_toplevel_set_title(s->toplevel, title.c_str());
        if (s->bar)
            MakeTitleBar(s.get(), std::max<LONG>(1, w->area.right - w->area.left),
                         std::max<LONG>(1, w->area.bottom - w->area.top));
    }
    Flush();
}

void WaylandBackend::PlaceNativeWindow(uintptr_t window, const RECT &clientArea) {
    NativeWindow *w = Find(window);
    if (!w) return;
    RECT before = w->area;
    w->area = clientArea;
    if (!w->topLevel) {
        if (w->shown) {
            Recompose(w->parent, before);
            Recompose(w->parent, clientArea);
        }
        return;
    }
    // Where a top-level window goes is the compositor's choice; its size is
    // the layer's, and the next frame's buffers have it.
    for (auto &s : w->surfaces)
        if (s->toplevel && !w->fullScreen) {
            int width = std::max<LONG>(1, clientArea.right - clientArea.left);
            int height = std::max<LONG>(1, clientArea.bottom - clientArea.top);
            if (s->bar) {
                MakeTitleBar(s.get(), width, height);
                height += kBarHeight;
            }
            xdg_toplevel_set_min_size(s->toplevel, width, height);
            xdg_toplevel_set_max_size(s->toplevel, width, height);
        }
}

void WaylandBackend::MakeTitleBar(Surface *s, int width, int height) {
    if (!s->bar) {
        s->bar = wl_compositor_create_surface(compositor_);
        wl_surface_set_user_data(s->bar, s);
        s->barSubsurface = wl_subcompositor_get_subsurface(subcompositor_, s->bar, s->surface);
        wl_subsurface_set_position(s->barSubsurface, 0, -kBarHeight);
    }
    xdg_surface_set_window_geometry(s->xdgSurface, 0, -kBarHeight, width, height + kBarHeight);
    NativeWindow *w = Find(s->window);
    const std::string title = w ? w->title : std::string();
    // Drawn in window pixels, then each made a block of the dialog's scale.
    const int f = s->pixelScale;
    if (s->barBuffer && s->barBuffer->width == width * f && s->barTitle == title) return;
    if (s->barBuffer) DestroyBuffer(s->barBuffer.get());
    s->barBuffer.reset();
    Buffer *made = MakeBuffer(s, width * f, kBarHeight * f);
    if (!made) return;
    // MakeBuffer keeps what it makes with the frames; the bar's is apart.
    s->barBuffer = std::move(s->buffers.back());
    s->buffers.pop_back();
    s->barTitle = title;
    std::vector<uint32_t> bar((size_t)width * kBarHeight);
    uint32_t *p = bar.data();
    const uint32_t caption = 0x000080, face = 0xC0C0C0, light = 0xFFFFFF, dark = 0x808080, ink = 0x000000;
    for (int i = 0; i < width * kBarHeight; ++i) p[i] = caption;
    int left = width - kCloseBoxWidth - 2, top = 2, right = width - 2, bottom = kBarHeight - 2;
    // The title in the caption's face, white, cut short before the close box.
    TextStyle style = CaptionStyle();
    DrawTextPixels(p, width, kBarHeight, 4, (kBarHeight - LineHeight(style)) / 2, style, title.data(), title.size(),
                   light, left - 2);
    for (int y = top; y < bottom; ++y)
        for (int x = std::max(0, left); x < right; ++x) {
            uint32_t c = face;
            if (y == top || x == left) c = light;
            if (y == bottom - 1 || x == right - 1) c = dark;
            p[y * width + x] = c;
        }
    // The cross, two pixels thick, in the middle of the box.
    int cx = (left + right) / 2, cy = (top + bottom) / 2;
    for (int d = -4; d <= 4; ++d)
        for (int t = 0; t < 2; ++t) {
            int x1 = cx + d - 1 + t, x2 = cx - d - 1 + t, y = cy + d;
            if (x1 >= 0 && x1 < width && y >= 0 && y < kBarHeight) p[y * width + x1] = ink;
            if (x2 >= 0 && x2 < width && y >= 0 && y < kBarHeight) p[y * width + x2] = ink;
        }
    for (int y = 0; y < kBarHeight * f; ++y)
        for (int x = 0; x < width * f; ++x) made->data[(size_t)y * width * f + x] = p[(y / f) * width + x / f];
    wl_surface_set_buffer_scale(s->bar, f);
    wl_surface_attach(s->bar, made->buffer, 0, 0);
    wl_surface_damage(s->bar, 0, 0, width, kBarHeight);
    wl_surface_commit(s->bar);
    made->busy = true;
}

void WaylandBackend::DecorationMode(Surface *s, uint32_t mode) {
    NativeWindow *w = Find(s->window);
    if (!w || !s->toplevel) return;
    int width = std::max<LONG>(1, w->area.right - w->area.left);
    int height = std::max<LONG>(1, w->area.bottom - w->area.top);
    bool ours = mode == ZXDG_TOPLEVEL_DECORATION_V1_MODE_CLIENT_SIDE;
    if (ours == (s->bar != nullptr)) return;
    if (ours) {
        if (!subcompositor_) return;
        MakeTitleBar(s, width, height);
    } else {
        if (s->barBuffer) DestroyBuffer(s->barBuffer.get());
        s->barBuffer.reset();
        wl_subsurface_destroy(s->barSubsurface);
        wl_surface_destroy(s->bar);
        s->barSubsurface = nullptr;
        s->bar = nullptr;
        s->barTitle.clear();
        xdg_surface_set_window_geometry(s->xdgSurface, 0, 0, width, height);
    }
    int bar = s->bar ? kBarHeight : 0;
    xdg_toplevel_set_min_size(s->toplevel, width, height + bar);
    xdg_toplevel_set_max_size(s->toplevel, width, height + bar);
}

void WaylandBackend::SurfaceEntered(Surface *s, wl_output *output, bool entered) {
    OutputRecord *record = nullptr;
    for (auto &o : outputs_)
        if (o->output == output) record = o.get();
    if (!record) return;
    uint32_t name = record->info.global;
    s->entered.erase(std::remove(s->entered.begin(), s->entered.end(), name), s->entered.end());
    if (entered) s->entered.push_back(name);
    RescaleDialog(s);
}

void WaylandBackend::RescaleDialog(Surface *s) {
    // Sharp on the densest output it is on; the compositor shrinks it on
    // the others.
    int scale = 1;
    for (uint32_t name : s->entered)
        if (OutputRecord *o = FindOutput(name)) scale = std::max(scale, o->info.scale);
    scale = std::min(scale, 4);
    if (scale == s->pixelScale) return;
    s->pixelScale = scale;
    NativeWindow *w = Find(s->window);
    if (!w) return;
    int width = std::max<LONG>(1, w->area.right - w->area.left);
    int height = std::max<LONG>(1, w->area.bottom - w->area.top);
    if (s->bar) MakeTitleBar(s, width, height);
    // Every pixel again, at the new scale, from what the window last showed.
    Recompose(s->window, RECT{0, 0, width, height});
    Flush();
}

void WaylandBackend::Configured(Surface *s, uint32_t width, uint32_t height) {
    if (width > 0 && height > 0) {
        s->logicalWidth = (int)width;
        s->logicalHeight = (int)height;
    }
    if (s->logicalWidth <= 0 || s->logicalHeight <= 0) {
        // A fullscreen toplevel the compositor left the size of to us, or a
        // window: the output's logical size, or the window's own.
        int w = 0, h = 0;
        if (OutputRecord *o = FindOutput(s->output)) {
            wayland::LogicalSize(o->info, &w, &h);
        } else if (NativeWindow *nw = Find(s->window)) {
            int scale = ScaleOf(s);
            w = std::max<LONG>(1, (nw->area.right - nw->area.left) / scale);
            h = std::max<LONG>(1, (nw->area.bottom - nw->area.top) / scale);
        }
        s->logicalWidth = std::max(1, w);
        s->logicalHeight = std::max(1, h);
    }
    bool first = !s->configured;
    s->configured = true;
    if (s->cover) {
        if (first) CommitCover(s);
        return;
    }
    if (s->back && !s->frame) {
        Commit(s);
    } else if (first && !s->back) {
        // Nothing drawn for it yet: the layer shows the whole window again.
        uintptr_t window = s->window;
        NativeWindow *w = Find(window);
        if (w) {
            RECT all = {0, 0, w->area.right - w->area.left, w->area.bottom - w->area.top};
            Report([window, all](InputSink &sink) { sink.Exposed(window, all); });
        }
    }
}

void WaylandBackend::SurfaceClosed(Surface *s) {
    // The compositor closes a layer surface whose output is going; the
    // output's removal may still be on its way. What the compositor sent
    // before the answer to this sync tells which it was.
    if (s->closeCheck) return;
    s->closeCheck = wl_display_sync(display_);
    wl_callback_add_listener(s->closeCheck, &kCloseCheckListener, s);
}

void WaylandBackend::CloseChecked(Surface *s) {
    wl_callback_destroy(s->closeCheck);
    s->closeCheck = nullptr;
    uintptr_t window = s->window;
    bool outputGone = s->output && !FindOutput(s->output);
    RemoveSurface(window, s);  // s is gone from here on
    if (outputGone) {
        NativeWindow *w = Find(window);
        if (!w || !w->surfaces.empty()) return;
    }
    // Closed by the compositor (or the user through it): the run ends, as
    // when a window manager closes a window.
    Report([window](InputSink &sink) { sink.CloseRequested(window); });
}

}  // namespace wayland
}  // namespace layer
