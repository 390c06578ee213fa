// The X11 backend's images: what a window's pixels reach the server in,
// a shared-memory segment where the server can see ours (then the layer may
// draw the window straight into it) or a plain image sent in requests, and
// presenting the parts of a window that changed.
#include "backends/x11/x11_backend.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdlib>

#include "backends/clip.h"

namespace layer {
namespace x11 {

bool X11Backend::MakeImage(Image *image, int width, int height) {
    image->width = width;
    image->height = height;
    if (shm_) {
        XImage *x = XShmCreateImage(display_, visual_, (unsigned)depth_, ZPixmap, nullptr, &image->shm, (unsigned)width,
                                    (unsigned)height);
        if (x) {
            size_t size = (size_t)x->bytes_per_line * (size_t)height;
            image->shm.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
            if (image->shm.shmid >= 0) {
                void *address = shmat(image->shm.shmid, nullptr, 0);
                if (address != (void *)-1) {
                    image->shm.shmaddr = x->data = (char *)address;
                    image->shm.readOnly = False;
                    unsigned long errorsBefore = protocolErrors;
                    Bool attached = XShmAttach(display_, &image->shm);
                    XSync(display_, False);
                    // The segment goes when both sides have let go of it,
                    // however this process ends.
                    shmctl(image->shm.shmid, IPC_RMID, nullptr);
                    if (attached && protocolErrors == errorsBefore) {
                        image->image = x;
                        image->shared = true;
                        return true;
                    }
                    shmdt(address);
                } else {
                    shmctl(image->shm.shmid, IPC_RMID, nullptr);
                }
            }
            x->data = nullptr;
            XDestroyImage(x);
        }
        // The server cannot see our memory (a display on another machine):
        // plain requests from now on.
        shm_ = false;
    }
    XImage *x = XCreateImage(display_, visual_, (unsigned)depth_, ZPixmap, 0, nullptr, (unsigned)width,
                             (unsigned)height, 32, 0);
    if (!x) return false;
    x->data = (char *)std::calloc((size_t)x->bytes_per_line, (size_t)height);
    if (!x->data) {
        XDestroyImage(x);
        return false;
    }
    image->image = x;
    image->shared = false;
    return true;
}

void X11Backend::FreeImage(Image *image) {
    if (!image->image) return;
    if (image->shared) {
        XShmDetach(display_, &image->shm);
        image->image->data = nullptr;
        XDestroyImage(image->image);
        shmdt(image->shm.shmaddr);
    } else {
        XDestroyImage(image->image);  // frees the pixels too
    }
    *image = Image();
}

uint32_t *X11Backend::SurfaceMemory(uintptr_t window, int width, int height) {
    NativeWindow *w = Find(window);
    if (!w || !shm_ || width <= 0 || height <= 0 || !x11::LayoutIsNative(layout_)) return nullptr;
    // The image the window is shown from becomes the surface itself: the
    // server reads the frame where the layer wrote it.
    FreeImage(&w->image);
    if (!MakeImage(&w->image, width, height)) return nullptr;
    XImage *x = w->image.image;
    if (!w->image.shared || x->bytes_per_line != width * 4) return nullptr;
    w->image.lent = true;
    return reinterpret_cast<uint32_t *>(x->data);
}

void X11Backend::Present(uintptr_t window, const uint32_t *pixels, int width, int height,
                         const std::vector<RECT> &dirty) {
    NativeWindow *w = Find(window);
    if (!w || !pixels || dirty.empty()) return;
    // A window the layer resized without saying so (a control that sized
    // itself) shows its whole new surface.
    if (width != w->area.right - w->area.left || height != w->area.bottom - w->area.top)
        PlaceNativeWindow(window, RECT{w->area.left, w->area.top, w->area.left + width, w->area.top + height});
    Image &image = w->image;
    const bool inPlace = image.lent && (const char *)pixels == image.image->data;
    // Memory lent to the layer stays until the layer asks again or the
    // window goes, whatever it is asked to show meanwhile.
    if (image.lent && !inPlace) return;
    if (!inPlace && (!image.image || image.width != width || image.height != height)) {
        FreeImage(&image);
        if (!MakeImage(&image, width, height)) return;
    }
    XImage *x = image.image;
    int bytesPerPixel = x->bits_per_pixel / 8;
    bool sent = false;
    for (const RECT &part : dirty) {
        RECT area;
        if (!ClipToSurface(part, width, height, &area)) continue;
        int columns = area.right - area.left;
        for (LONG y = area.top; y < area.bottom && !inPlace; ++y) {
            uint8_t *row = (uint8_t *)x->data + (size_t)y * (size_t)x->bytes_per_line + (size_t)area.left * bytesPerPixel;
            x11::ConvertRow(pixels + (size_t)y * (size_t)width + area.left, columns, layout_, row);
        }
        unsigned rows = (unsigned)(area.bottom - area.top);
        if (image.shared)
            XShmPutImage(display_, (Window)window, gc_, x, area.left, area.top, area.left, area.top,
                         (unsigned)columns, rows, False);
        else
            XPutImage(display_, (Window)window, gc_, x, area.left, area.top, area.left, area.top, (unsigned)columns,
                      rows);
        sent = true;
    }
    if (!sent) return;
    if (image.shared) {
        // The server reads the segment when it gets to the requests; the
        // next frame must not be written into it before then.
        XSync(display_, False);
    } else {
        XFlush(display_);
    }
}

}  // namespace x11
}  // namespace layer
