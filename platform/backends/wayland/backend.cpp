// What of the Wayland backend is still to be given a file of its own.
#include <errno.h>
#include <linux/input-event-codes.h>
#include <poll.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "backends/clip.h"
#include "backends/keys.h"
#include "backends/wayland/wayland_backend.h"
#include "session/termination.h"

namespace layer {
namespace wayland {

const wl_seat_listener kSeatListener = {
    [](void *data, wl_seat *, uint32_t capabilities) { Of(data)->SeatCapabilities(capabilities); },
    [](void *, wl_seat *, const char *) {},
};

const wl_pointer_listener kPointerListener = {
    [](void *data, wl_pointer *, uint32_t serial, wl_surface *surface, wl_fixed_t x, wl_fixed_t y) {
        Of(data)->PointerEntered(serial, surface, x, y);
    },
    [](void *data, wl_pointer *, uint32_t, wl_surface *surface) { Of(data)->PointerLeft(surface); },
    [](void *data, wl_pointer *, uint32_t, wl_fixed_t x, wl_fixed_t y) { Of(data)->PointerMovedTo(x, y); },
    [](void *data, wl_pointer *, uint32_t serial, uint32_t, uint32_t button, uint32_t state) {
        Of(data)->PointerButton(serial, button, state);
    },
    [](void *data, wl_pointer *, uint32_t, uint32_t axis, wl_fixed_t value) { Of(data)->PointerAxis(axis, value); },
    [](void *, wl_pointer *) {},
    [](void *, wl_pointer *, uint32_t) {},
    [](void *, wl_pointer *, uint32_t, uint32_t) {},
    [](void *, wl_pointer *, uint32_t, int32_t) {},
    [](void *, wl_pointer *, uint32_t, int32_t) {},
};

const wl_keyboard_listener kKeyboardListener = {
    [](void *data, wl_keyboard *, uint32_t format, int32_t fd, uint32_t size) { Of(data)->Keymap(format, fd, size); },
    [](void *data, wl_keyboard *, uint32_t, wl_surface *surface, wl_array *keys) {
        Of(data)->KeyboardEntered(surface, keys);
    },
    [](void *data, wl_keyboard *, uint32_t, wl_surface *) { Of(data)->KeyboardLeft(); },
    [](void *data, wl_keyboard *, uint32_t, uint32_t, uint32_t key, uint32_t state) {
        Of(data)->Key(key, state == WL_KEYBOARD_KEY_STATE_PRESSED);
    },
    [](void *data, wl_keyboard *, uint32_t, uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group) {
        Of(data)->Modifiers(depressed, latched, locked, group);
    },
    [](void *data, wl_keyboard *, int32_t rate, int32_t delay) { Of(data)->RepeatInfo(rate, delay); },
};

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

const wl_callback_listener kCloseCheckListener = {
    [](void *data, wl_callback *, uint32_t) {
        auto *s = static_cast<Surface *>(data);
        s->backend->CloseChecked(s);
    },
};

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
    for (auto &s : w->surfaces)
        if (s->toplevel) xdg_toplevel_set_title(s->toplevel, title.c_str());
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
    if (s->barBuffer && s->barBuffer->width == width) return;
    if (s->barBuffer) DestroyBuffer(s->barBuffer.get());
    Buffer *made = MakeBuffer(s, width, kBarHeight);
    if (!made) return;
    // MakeBuffer keeps what it makes with the frames; the bar's is apart.
    s->barBuffer = std::move(s->buffers.back());
    s->buffers.pop_back();
    uint32_t *p = made->data;
    const uint32_t caption = 0x000080, face = 0xC0C0C0, light = 0xFFFFFF, dark = 0x808080, ink = 0x000000;
    for (int i = 0; i < width * kBarHeight; ++i) p[i] = caption;
    int left = width - kCloseBoxWidth - 2, top = 2, right = width - 2, bottom = kBarHeight - 2;
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
    wl_surface_attach(s->bar, made->buffer, 0, 0);
    wl_surface_damage(s->bar, 0, 0, width, kBarHeight);
    wl_surface_commit(s->bar);
    made->busy = true;
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

// ---- input ------------------------------------------------------------------------

void WaylandBackend::SeatCapabilities(uint32_t capabilities) {
    if ((capabilities & WL_SEAT_CAPABILITY_POINTER) && !pointer_) {
        pointer_ = wl_seat_get_pointer(seat_);
        wl_pointer_add_listener(pointer_, &kPointerListener, this);
    } else if (!(capabilities & WL_SEAT_CAPABILITY_POINTER) && pointer_) {
        wl_pointer_destroy(pointer_);
        pointer_ = nullptr;
        pointerSurface_ = nullptr;
    }
    if ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) && !keyboard_) {
        keyboard_ = wl_seat_get_keyboard(seat_);
        wl_keyboard_add_listener(keyboard_, &kKeyboardListener, this);
        keyboardLate_ = windowShown_;
        keyboardEntered_ = false;
        keySeen_ = false;
    } else if (!(capabilities & WL_SEAT_CAPABILITY_KEYBOARD) && keyboard_) {
        wl_keyboard_destroy(keyboard_);
        keyboard_ = nullptr;
        keyboardSurface_ = nullptr;
        repeatKey_ = 0;
        // A keyboard that came and went while the saver showed, with no key
        // heard from it, typed before we had it (a virtual one, as a tool
        // that types makes, is gone within a millisecond): still a key.
        if (keyboardLate_ && !keySeen_ && fullScreenShown_) {
            Report([](InputSink &sink) {
                sink.KeyChanged(0xFF, true, false);
                sink.KeyChanged(0xFF, false, false);
            });
        }
    }
}

bool WaylandBackend::SurfaceOrigin(const Surface *s, int *x, int *y, int *width, int *height) {
    const NativeWindow *w = nullptr;
    auto it = windows_.find(s->window);
    if (it != windows_.end()) w = &it->second;
    if (!w) return false;
    if (!s->cover) {
        *x = w->area.left;
        *y = w->area.top;
        *width = std::max<LONG>(1, w->area.right - w->area.left);
        *height = std::max<LONG>(1, w->area.bottom - w->area.top);
        return true;
    }
    std::vector<Monitor> monitors = wayland::MonitorsOf(Infos(), ConfinedIndex());
    OutputRecord *o = FindOutput(s->output);
    for (const Monitor &m : monitors)
        if (o && m.name == o->info.name) {
            *x = m.rect.left;
            *y = m.rect.top;
            *width = m.rect.right - m.rect.left;
            *height = m.rect.bottom - m.rect.top;
            return true;
        }
    return false;
}

void WaylandBackend::ReportPointer(const Surface *s) {
    int left, top, width, height;
    if (!SurfaceOrigin(s, &left, &top, &width, &height)) return;
    int px, py;
    wayland::SurfaceToPixels(pointerLocalX_, pointerLocalY_, s->logicalWidth, s->logicalHeight, width, height, &px,
                             &py);
    int x = left + px, y = top + py;
    if (s->fullScreen) {
        // Where the pointer was when the saver started is not something a
        // Wayland client can learn; the saver measures moves from there.
        // The first place we hear of is taken to be it, and later ones
        // count from it.
        if (!pointerKnown_) {
            pointerKnown_ = true;
            if (!anchored_) PointerPosition(&pointerX_, &pointerY_);
            offsetX_ = pointerX_ - x;
            offsetY_ = pointerY_ - y;
        }
        x += offsetX_;
        y += offsetY_;
    }
    if (x == pointerX_ && y == pointerY_) return;
    pointerX_ = x;
    pointerY_ = y;
    Report([x, y](InputSink &sink) { sink.PointerMoved(x, y); });
}

void WaylandBackend::PointerEntered(uint32_t serial, wl_surface *surface, wl_fixed_t x, wl_fixed_t y) {
    if (!surface) return;
    Surface *s = static_cast<Surface *>(wl_surface_get_user_data(surface));
    if (!s || s->backend != this) return;
    pointerSurface_ = s;
    pointerSerial_ = serial;
    pointerOnBar_ = surface == s->bar;
    if (cursorHidden_ || s->fullScreen) wl_pointer_set_cursor(pointer_, serial, nullptr, 0, 0);
    pointerLocalX_ = wl_fixed_to_double(x);
    pointerLocalY_ = wl_fixed_to_double(y);
    if (!pointerOnBar_) ReportPointer(s);
}

void WaylandBackend::PointerLeft(wl_surface *surface) {
    if (pointerSurface_ && (pointerSurface_->surface == surface || pointerSurface_->bar == surface))
        pointerSurface_ = nullptr;
}

void WaylandBackend::PointerMovedTo(wl_fixed_t x, wl_fixed_t y) {
    if (!pointerSurface_) return;
    pointerLocalX_ = wl_fixed_to_double(x);
    pointerLocalY_ = wl_fixed_to_double(y);
    if (!pointerOnBar_) ReportPointer(pointerSurface_);
}

void WaylandBackend::PointerButton(uint32_t serial, uint32_t button, uint32_t state) {
    bool down = state == WL_POINTER_BUTTON_STATE_PRESSED;
    if (pointerOnBar_ && pointerSurface_) {
        // Our title bar: its close box is the window's close, the rest of it
        // a handle the compositor moves the window by.
        Surface *s = pointerSurface_;
        if (!down || button != BTN_LEFT) return;
        int width = s->barBuffer ? s->barBuffer->width : 0;
        if (pointerLocalX_ >= width - kCloseBoxWidth - 2) {
            uintptr_t window = s->window;
            Report([window](InputSink &sink) { sink.CloseRequested(window); });
        } else if (s->toplevel && seat_) {
            xdg_toplevel_move(s->toplevel, seat_, serial);
            Flush();
        }
        return;
    }
    Button which;
    switch (button) {
    case BTN_LEFT: which = Button::Left; break;
    case BTN_RIGHT: which = Button::Right; break;
    case BTN_MIDDLE: which = Button::Middle; break;
    default: return;
    }
    Report([which, down](InputSink &sink) { sink.ButtonChanged(which, down); });
}

void WaylandBackend::PointerAxis(uint32_t axis, wl_fixed_t value) {
    double v = wl_fixed_to_double(value);
    if (v == 0) return;
    bool horizontal = axis == WL_POINTER_AXIS_HORIZONTAL_SCROLL;
    // Wayland counts down and right as positive; a wheel turned away from
    // the user is a positive delta on Windows, and so is right.
    int delta = horizontal ? (v > 0 ? WHEEL_DELTA : -WHEEL_DELTA) : (v > 0 ? -WHEEL_DELTA : WHEEL_DELTA);
    Report([delta, horizontal](InputSink &sink) { sink.WheelTurned(delta, horizontal); });
}

void WaylandBackend::Keymap(uint32_t format, int fd, uint32_t size) {
    if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 || !xkb_) {
        close(fd);
        return;
    }
    void *text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (text == MAP_FAILED) return;
    xkb_keymap *keymap =
        xkb_keymap_new_from_buffer(xkb_, (const char *)text, strnlen((const char *)text, size), XKB_KEYMAP_FORMAT_TEXT_V1,
                                   XKB_KEYMAP_COMPILE_NO_FLAGS);
    munmap(text, size);
    if (!keymap) return;
    xkb_state *state = xkb_state_new(keymap);
    if (!state) {
        xkb_keymap_unref(keymap);
        return;
    }
    if (keyState_) xkb_state_unref(keyState_);
    if (keymap_) xkb_keymap_unref(keymap_);
    keymap_ = keymap;
    keyState_ = state;
}

void WaylandBackend::KeyboardEntered(wl_surface *surface, wl_array *keys) {
    Surface *s = surface ? static_cast<Surface *>(wl_surface_get_user_data(surface)) : nullptr;
    keyboardSurface_ = s && s->backend == this ? s : nullptr;
    if (s && s->backend == this && !s->fullScreen) {
        // The compositor gave a window of ours the keyboard (a click, or
        // its own choice): the layer activates it.
        uintptr_t window = s->window;
        Report([window](InputSink &sink) { sink.NativeWindowFocused(window); });
    }
    bool first = !keyboardEntered_;
    keyboardEntered_ = true;
    if (!first || !keyboardLate_ || !keys) return;
    // The press that brought this keyboard into being went to the seat
    // before we had the keyboard to hear it; it is still held.
    const uint32_t *held = static_cast<const uint32_t *>(keys->data);
    for (size_t i = 0; i < keys->size / sizeof(uint32_t); ++i) Key(held[i], true);
}

void WaylandBackend::Key(uint32_t key, bool down) {
    keySeen_ = true;
    if (!keymap_ || !keyState_) {
        // No keymap to read it with, yet still a key.
        Report([down](InputSink &sink) { sink.KeyChanged(0xFF, down, false); });
        return;
    }
    xkb_keycode_t code = key + 8;  // evdev codes, as xkb numbers them
    xkb_layout_index_t layout = xkb_state_key_get_layout(keyState_, code);
    if (layout == XKB_LAYOUT_INVALID) layout = 0;
    const xkb_keysym_t *syms = nullptr;
    xkb_keysym_t unshifted = 0, shifted = 0;
    if (xkb_keymap_key_get_syms_by_level(keymap_, code, layout, 0, &syms) > 0) unshifted = syms[0];
    if (xkb_keymap_key_get_syms_by_level(keymap_, code, layout, 1, &syms) > 0) shifted = syms[0];
    if (!shifted) shifted = unshifted;
    bool numLock = xkb_state_mod_name_is_active(keyState_, XKB_MOD_NAME_NUM, XKB_STATE_MODS_EFFECTIVE) > 0;
    bool alt = xkb_state_mod_name_is_active(keyState_, XKB_MOD_NAME_ALT, XKB_STATE_MODS_EFFECTIVE) > 0;
    // xkb's key symbols are X's.
    UINT vk = VirtualKeyForKeysyms(unshifted, shifted, numLock);
    Report([vk, down, alt](InputSink &sink) { sink.KeyChanged(vk, down, alt); });
    // The saver ends at the first press; a dialog's keys repeat.
    if (down && repeatRate_ > 0 && keyboardSurface_ && !keyboardSurface_->fullScreen &&
        xkb_keymap_key_repeats(keymap_, code)) {
        repeatKey_ = key + 1;
        repeatVk_ = vk;
        repeatAlt_ = alt;
        nextRepeat_ = MonotonicMs() + repeatDelay_;
    } else if (!down && repeatKey_ == key + 1) {
        repeatKey_ = 0;
    }
}

void WaylandBackend::KeyboardLeft() {
    keyboardSurface_ = nullptr;
    repeatKey_ = 0;
}

void WaylandBackend::Modifiers(uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group) {
    if (keyState_) xkb_state_update_mask(keyState_, depressed, latched, locked, 0, 0, group);
}

void WaylandBackend::SetCursorVisible(bool visible) {
    cursorHidden_ = !visible;
    // Showing it again would need a cursor image of ours; the compositor's
    // comes back as the pointer leaves our surfaces.
    if (cursorHidden_ && pointer_ && pointerSurface_) {
        wl_pointer_set_cursor(pointer_, pointerSerial_, nullptr, 0, 0);
        Flush();
    }
}

void WaylandBackend::WarpPointer(int x, int y) {
    // Clients cannot move the pointer; the layer's idea of where it is moves,
    // and later reports count from there.
    offsetX_ += x - pointerX_;
    offsetY_ += y - pointerY_;
    anchored_ = true;
    pointerX_ = x;
    pointerY_ = y;
}

bool WaylandBackend::PointerPosition(int *x, int *y) {
    if (!anchored_) {
        anchored_ = true;
        // Until the pointer is over a surface of ours: the screen's middle,
        // where moves from then on are counted from.
        int w, h;
        ScreenSize(&w, &h);
        pointerX_ = w / 2;
        pointerY_ = h / 2;
    }
    *x = pointerX_;
    *y = pointerY_;
    return true;
}

}  // namespace wayland
}  // namespace layer
