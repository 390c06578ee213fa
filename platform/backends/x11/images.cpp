// The X11 backend's images: how the parts of a window that changed reach
// the server.
//
// They go through one staging image, a shared-memory segment where the
// server can see ours, or plain requests where it cannot. Each rectangle is
// packed into the staging memory as a small image of its own, its rows back
// to back, and sent from there. A frame's few hundred kilobytes then fill
// the same pages of the segment in order, every frame, and the server reads
// them in sequence. Rows of a screen-sized image put the same rectangles on
// thousands of small pages, and the page walks cost the server more than
// the pixels did.
#include "backends/x11/x11_backend.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdlib>

#include "backends/clip.h"
#include "gdi/expand_indices.h"
#include "gdi/fetch_ahead.h"

namespace layer {
namespace x11 {

namespace {

// Enough for what a frame changes; a larger presentation waits for the
// server to read the staging memory before it fills it again.
constexpr size_t kStagingBytes = 2u << 20;
constexpr unsigned kStagingWidth = 1024;

// Bytes a row of `columns` pixels takes in an image like `image`: the
// server works the stride out from the width in the same way.
size_t RowBytes(const XImage &image, int columns) {
    const size_t bits = (size_t)columns * (size_t)image.bits_per_pixel;
    const size_t pad = (size_t)image.bitmap_pad;
    return (bits + pad - 1) / pad * pad / 8;
}

}  // namespace

bool X11Backend::MakeStaging() {
    XImage *x = nullptr;
    if (shm_) {
        x = XShmCreateImage(display_, visual_, (unsigned)depth_, ZPixmap, nullptr, &staging_.shm, kStagingWidth, 1);
        if (x) {
            x->height = (int)(kStagingBytes / (size_t)x->bytes_per_line);
            staging_.shm.shmid = shmget(IPC_PRIVATE, kStagingBytes, IPC_CREAT | 0600);
            if (staging_.shm.shmid >= 0) {
                void *address = shmat(staging_.shm.shmid, nullptr, 0);
                if (address != (void *)-1) {
                    staging_.shm.shmaddr = x->data = (char *)address;
                    staging_.shm.readOnly = True;
                    unsigned long errorsBefore = protocolErrors;
                    Bool attached = XShmAttach(display_, &staging_.shm);
                    XSync(display_, False);
                    // The segment goes when both sides have let go of it,
                    // however this process ends.
                    shmctl(staging_.shm.shmid, IPC_RMID, nullptr);
                    if (attached && protocolErrors == errorsBefore) {
                        staging_.image = x;
                        staging_.shared = true;
                        return true;
                    }
                    shmdt(address);
                } else {
                    shmctl(staging_.shm.shmid, IPC_RMID, nullptr);
                }
            }
            x->data = nullptr;
            XDestroyImage(x);
        }
        // The server cannot see our memory (a display on another machine):
        // plain requests from now on.
        shm_ = false;
    }
    x = XCreateImage(display_, visual_, (unsigned)depth_, ZPixmap, 0, nullptr, kStagingWidth, 1, 32, 0);
    if (!x) return false;
    x->height = (int)(kStagingBytes / (size_t)x->bytes_per_line);
    x->data = (char *)std::malloc(kStagingBytes);
    if (!x->data) {
        XDestroyImage(x);
        return false;
    }
    staging_.image = x;
    staging_.shared = false;
    return true;
}

void X11Backend::FreeStaging() {
    if (!staging_.image) return;
    if (staging_.shared) {
        XShmDetach(display_, &staging_.shm);
        staging_.image->data = nullptr;
        XDestroyImage(staging_.image);
        shmdt(staging_.shm.shmaddr);
    } else {
        XDestroyImage(staging_.image);  // frees the pixels too
    }
    staging_ = Staging();
}

void X11Backend::Present(uintptr_t window, const uint32_t *pixels, int width, int height,
                         const std::vector<RECT> &dirty) {
    PresentPacked(window, PresentSource{pixels, nullptr, nullptr}, width, height, dirty);
}

void X11Backend::PresentIndexed(uintptr_t window, const uint32_t *pixels, const uint8_t *indices,
                                const uint32_t *table, int width, int height, const std::vector<RECT> &dirty) {
    PresentSource source{pixels, nullptr, nullptr};
    if (indices && table && LayoutIsNative(layout_)) {
        source.indices = indices;
        source.table = table;
    }
    PresentPacked(window, source, width, height, dirty);
}

void X11Backend::PresentPacked(uintptr_t window, const PresentSource &source, int width, int height,
                               const std::vector<RECT> &dirty) {
    const uint32_t *pixels = source.pixels;
    NativeWindow *w = Find(window);
    if (!w || !pixels || dirty.empty()) return;
    // A window the layer resized without saying so (a control that sized
    // itself) shows its whole new surface.
    if (width != w->area.right - w->area.left || height != w->area.bottom - w->area.top)
        PlaceNativeWindow(window, RECT{w->area.left, w->area.top, w->area.left + width, w->area.top + height});
    if (!staging_.image && !MakeStaging()) return;
    const XImage &staging = *staging_.image;
    size_t used = 0;
    bool sent = false;
    for (const RECT &part : dirty) {
        RECT area;
        if (!ClipToSurface(part, width, height, &area)) continue;
        const int columns = area.right - area.left;
        const size_t rowBytes = RowBytes(staging, columns);
        // A rectangle larger than the staging memory goes in bands of rows.
        const LONG bandRows = (LONG)std::max<size_t>(1, kStagingBytes / rowBytes);
        for (LONG top = area.top; top < area.bottom; top += bandRows) {
            const LONG rows = std::min<LONG>(bandRows, area.bottom - top);
            const size_t bytes = rowBytes * (size_t)rows;
            if (used + bytes > kStagingBytes) {
                // The server has read what is there only once it answers;
                // plain requests carried their pixels with them.
                if (staging_.shared) XSync(display_, False);
                used = 0;
            }
            XImage packed = staging;
            packed.width = columns;
            packed.height = (int)rows;
            packed.bytes_per_line = (int)rowBytes;
            packed.data = staging.data + used;
            // The indices were compared most of a frame's work ago and have
            // left the nearer caches; a rectangle's rows, a line or two each
            // and a screen row apart, are fetched a few ahead.
            if (source.indices) {
                for (LONG y = 0; y < std::min<LONG>(rows, kRowsAhead); ++y)
                    PrefetchSpan(source.indices + (size_t)(top + y) * (size_t)width + (size_t)area.left,
                                 (size_t)columns);
            }
            for (LONG y = 0; y < rows; ++y) {
                const size_t at = (size_t)(top + y) * (size_t)width + (size_t)area.left;
                if (source.indices && y + kRowsAhead < rows)
                    PrefetchSpan(source.indices + at + (size_t)kRowsAhead * (size_t)width, (size_t)columns);
                uint8_t *out = (uint8_t *)packed.data + (size_t)y * rowBytes;
                if (source.indices)
                    ExpandIndices(reinterpret_cast<uint32_t *>(out), source.indices + at, columns, source.table);
                else
                    x11::ConvertRow(pixels + at, columns, layout_, out);
            }
            if (staging_.shared)
                XShmPutImage(display_, (Window)window, gc_, &packed, 0, 0, area.left, top, (unsigned)columns,
                             (unsigned)rows, False);
            else
                XPutImage(display_, (Window)window, gc_, &packed, 0, 0, area.left, top, (unsigned)columns,
                          (unsigned)rows);
            // Each image starts on a cache line of its own.
            used += (bytes + 63) & ~(size_t)63;
            sent = true;
        }
    }
    if (!sent) return;
    if (staging_.shared) {
        // The server reads the segment when it gets to the requests; the
        // next presentation must not be written into it before then.
        XSync(display_, False);
    } else {
        XFlush(display_);
    }
}

}  // namespace x11
}  // namespace layer
