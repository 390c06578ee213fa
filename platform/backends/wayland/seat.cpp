// The seat: its pointer and keyboard as they come and go, pointer
// positions turned into the layer's screen coordinates, the keymap from
// xkbcommon, keys into virtual keys, and the repeat of held keys that a
// Wayland client does itself.
#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "backends/keys.h"
#include "backends/wayland/wayland_backend.h"

namespace layer {
namespace wayland {

const wl_seat_listener kSeatListener = {
    [](void *data, wl_seat *, uint32_t capabilities) { Of(data)->SeatCapabilities(capabilities); },
    [](void *, wl_seat *, const char *) {},
};

namespace {

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

const zwp_relative_pointer_v1_listener kRelativePointerListener = {
    [](void *data, zwp_relative_pointer_v1 *, uint32_t, uint32_t, wl_fixed_t, wl_fixed_t, wl_fixed_t dx,
       wl_fixed_t dy) { Of(data)->PointerTravelled(wl_fixed_to_double(dx), wl_fixed_to_double(dy)); },
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

}  // namespace

// ---- input ------------------------------------------------------------------------

void WaylandBackend::SeatCapabilities(uint32_t capabilities) {
    if ((capabilities & WL_SEAT_CAPABILITY_POINTER) && !pointer_) {
        pointer_ = wl_seat_get_pointer(seat_);
        wl_pointer_add_listener(pointer_, &kPointerListener, this);
        if (relativeManager_) {
            relativePointer_ = zwp_relative_pointer_manager_v1_get_relative_pointer(relativeManager_, pointer_);
            zwp_relative_pointer_v1_add_listener(relativePointer_, &kRelativePointerListener, this);
        }
    } else if (!(capabilities & WL_SEAT_CAPABILITY_POINTER) && pointer_) {
        if (relativePointer_) zwp_relative_pointer_v1_destroy(relativePointer_);
        relativePointer_ = nullptr;
        wl_pointer_destroy(pointer_);
        pointer_ = nullptr;
        pointerSurface_ = nullptr;
    }
    if ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) && !keyboard_) {
        keyboard_ = wl_seat_get_keyboard(seat_);
        wl_keyboard_add_listener(keyboard_, &kKeyboardListener, this);
        keyboardLate_ = windowShown_;
        keyboardEntered_ = false;
        keyboardOffered_ = false;
        keySeen_ = false;
    } else if (!(capabilities & WL_SEAT_CAPABILITY_KEYBOARD) && keyboard_) {
        wl_keyboard_destroy(keyboard_);
        keyboard_ = nullptr;
        keyboardSurface_ = nullptr;
        repeatKey_ = 0;
        // A keyboard that came and went while the saver showed, with no key
        // heard from it, typed before we had it (a virtual one, as a tool
        // that types makes, is gone within a millisecond): still a key. Not
        // when it was shown to us and its focus went elsewhere: each
        // monitor's saver is a client of its own, and only the one with the
        // focus had the key (a protected run would ask for a lock twice).
        if (keyboardLate_ && !keySeen_ && fullScreenShown_ && (keyboardEntered_ || !keyboardOffered_)) {
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
    // Over the saver, how far the pointer went is the device's own word
    // (PointerTravelled): a place on the surface is only as good as where
    // the compositor shows the surface, and mutter tells the first one while
    // the window still grows into place, and nothing more once it is there.
    if (relativePointer_ && pointerSurface_->fullScreen && pointerKnown_) return;
    if (!pointerOnBar_) ReportPointer(pointerSurface_);
}

void WaylandBackend::PointerTravelled(double dx, double dy) {
    if (!pointerSurface_ || !pointerSurface_->fullScreen || !pointerKnown_) return;
    travelX_ += dx;
    travelY_ += dy;
    int x = (int)travelX_, y = (int)travelY_;
    if (!x && !y) return;
    travelX_ -= x;
    travelY_ -= y;
    pointerX_ += x;
    pointerY_ += y;
    int px = pointerX_, py = pointerY_;
    Report([px, py](InputSink &sink) { sink.PointerMoved(px, py); });
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
    // A compositor with no keyboard to show sends a keymap of no format,
    // and no focus with it.
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1) keyboardOffered_ = true;
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
