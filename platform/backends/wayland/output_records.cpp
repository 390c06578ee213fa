// The compositor's outputs as they come and go: the records the wl_output
// and xdg-output listeners fill in, the saver's surfaces on every output
// (an output that comes while it shows is covered too), a global's
// removal, and the screen and monitors the layer asks about. The sums done
// over the records are outputs.cpp's, kept apart so that tests need no
// compositor.
#include <algorithm>

#include "backends/wayland/wayland_backend.h"

namespace layer {
namespace wayland {

const wl_output_listener kOutputListener = {
    [](void *data, wl_output *, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char *, const char *,
       int32_t transform) {
        auto *r = static_cast<OutputRecord *>(data);
        if (!r->info.logicalKnown) {
            r->info.x = x;
            r->info.y = y;
        }
        r->info.transform = transform;
    },
    [](void *data, wl_output *, uint32_t flags, int32_t width, int32_t height, int32_t) {
        auto *r = static_cast<OutputRecord *>(data);
        if (flags & WL_OUTPUT_MODE_CURRENT) {
            r->info.modeWidth = width;
            r->info.modeHeight = height;
        }
    },
    [](void *data, wl_output *) {
        auto *r = static_cast<OutputRecord *>(data);
        r->backend->OutputChanged(r);
    },
    [](void *data, wl_output *, int32_t factor) { static_cast<OutputRecord *>(data)->info.scale = std::max(1, factor); },
    [](void *data, wl_output *, const char *name) { static_cast<OutputRecord *>(data)->info.name = name; },
    [](void *, wl_output *, const char *) {},
};

const zxdg_output_v1_listener kXdgOutputListener = {
    [](void *data, zxdg_output_v1 *, int32_t x, int32_t y) {
        auto *r = static_cast<OutputRecord *>(data);
        r->info.x = x;
        r->info.y = y;
        r->info.logicalKnown = true;
    },
    [](void *data, zxdg_output_v1 *, int32_t width, int32_t height) {
        auto *r = static_cast<OutputRecord *>(data);
        r->info.logicalWidth = width;
        r->info.logicalHeight = height;
        r->info.logicalKnown = true;
    },
    // Before version 3 xdg-output has a done of its own; after it,
    // wl_output.done covers both.
    [](void *data, zxdg_output_v1 *) {
        auto *r = static_cast<OutputRecord *>(data);
        r->backend->OutputChanged(r);
    },
    [](void *data, zxdg_output_v1 *, const char *name) {
        auto *r = static_cast<OutputRecord *>(data);
        if (r->info.name.empty()) r->info.name = name;
    },
    [](void *, zxdg_output_v1 *, const char *) {},
};

OutputRecord *WaylandBackend::FindOutput(uint32_t global) {
    for (auto &o : outputs_)
        if (o->info.global == global) return o.get();
    return nullptr;
}

std::vector<wayland::OutputInfo> WaylandBackend::Infos() const {
    std::vector<wayland::OutputInfo> infos;
    for (const auto &o : outputs_) infos.push_back(o->info);
    return infos;
}

int WaylandBackend::ConfinedIndex() const {
    if (confinedName_.empty()) return -1;
    return wayland::OutputNamed(Infos(), confinedName_);
}

void WaylandBackend::OutputChanged(OutputRecord *record) {
    bool first = !record->info.ready;
    record->info.ready = true;
    if (!first) {
        // A new scale: the dialogs on the output are drawn at it.
        for (auto &entry : windows_)
            for (auto &s : entry.second.surfaces)
                if (std::count(s->entered.begin(), s->entered.end(), record->info.global)) RescaleDialog(s.get());
        return;
    }
    // An output that comes while the saver shows is covered too (or, for a
    // backend kept to one output, left alone).
    for (auto &entry : windows_)
        if (entry.second.fullScreen && entry.second.shown) CoverOutputs(entry.first, entry.second);
}

void WaylandBackend::GlobalRemoved(uint32_t name) {
    if (name == seatName_ && seat_) {
        if (relativePointer_) zwp_relative_pointer_v1_destroy(relativePointer_);
        relativePointer_ = nullptr;
        if (pointer_) wl_pointer_destroy(pointer_);
        if (keyboard_) wl_keyboard_destroy(keyboard_);
        wl_seat_destroy(seat_);
        pointer_ = nullptr;
        keyboard_ = nullptr;
        seat_ = nullptr;
        pointerSurface_ = nullptr;
        // A key held as the seat went gets no release: its repeat ends here.
        keyboardSurface_ = nullptr;
        repeatKey_ = 0;
        return;
    }
    auto it = std::find_if(outputs_.begin(), outputs_.end(),
                           [name](const std::unique_ptr<OutputRecord> &o) { return o->info.global == name; });
    if (it == outputs_.end()) return;
    // Its surfaces go with it; a window left with none has nowhere to be.
    for (auto &entry : windows_) {
        NativeWindow &w = entry.second;
        bool had = !w.surfaces.empty();
        bool lostMain = false;
        for (size_t i = w.surfaces.size(); i-- > 0;) {
            if (w.surfaces[i]->output != name) continue;
            lostMain = lostMain || !w.surfaces[i]->cover;
            RemoveSurface(entry.first, w.surfaces[i].get());
        }
        uintptr_t window = entry.first;
        if (had && w.surfaces.empty() && w.fullScreen) {
            Report([window](InputSink &sink) { sink.CloseRequested(window); });
        } else if (lostMain && w.fullScreen && !w.surfaces.empty()) {
            // The saver moves to an output that was kept dark, fitted to it.
            uint32_t to = w.surfaces.front()->output;
            RemoveSurface(window, w.surfaces.front().get());
            MakeSurface(window, w, FindOutput(to), false);
        }
    }
    OutputRecord *o = it->get();
    if (o->xdgOutput) zxdg_output_v1_destroy(o->xdgOutput);
    if (o->output) {
        if (wl_output_get_version(o->output) >= WL_OUTPUT_RELEASE_SINCE_VERSION)
            wl_output_release(o->output);
        else
            wl_output_destroy(o->output);
    }
    outputs_.erase(it);
}

// ---- the screen -------------------------------------------------------------------

void WaylandBackend::ScreenSize(int *width, int *height) {
    std::vector<wayland::OutputInfo> infos = Infos();
    int index = ConfinedIndex();
    if (index < 0) index = wayland::PrimaryOutput(infos);
    if (index < 0) {
        // Nothing to show on yet; a size the program can lay a window out in.
        *width = 1024;
        *height = 768;
        return;
    }
    wayland::DeviceSize(infos[index], width, height);
}

std::vector<Monitor> WaylandBackend::Monitors() {
    std::vector<Monitor> monitors = wayland::MonitorsOf(Infos(), ConfinedIndex());
    if (monitors.empty()) return Backend::Monitors();
    return monitors;
}

void WaylandBackend::CoverOutputs(uintptr_t window, NativeWindow &w) {
    std::vector<wayland::OutputInfo> infos = Infos();
    int confined = ConfinedIndex();
    int primary = confined >= 0 ? confined : wayland::PrimaryOutput(infos);
    if (primary < 0) {
        // No output has said what it is yet: the compositor chooses one.
        if (w.surfaces.empty()) MakeSurface(window, w, nullptr, false);
        return;
    }
    auto on = [&](uint32_t global) {
        return std::any_of(w.surfaces.begin(), w.surfaces.end(),
                           [global](const std::unique_ptr<Surface> &s) { return s->output == global; });
    };
    bool hasMain = std::any_of(w.surfaces.begin(), w.surfaces.end(),
                               [](const std::unique_ptr<Surface> &s) { return !s->cover; });
    if (!on(infos[primary].global)) MakeSurface(window, w, outputs_[primary].get(), hasMain);
    if (confined >= 0) return;
    // The window is one monitor's; the others are kept dark and their input
    // still ends the run, as the full-screen saver does on Windows.
    for (size_t i = 0; i < infos.size(); ++i)
        if (infos[i].ready && !on(infos[i].global)) MakeSurface(window, w, outputs_[i].get(), true);
}

}  // namespace wayland
}  // namespace layer
