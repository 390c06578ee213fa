// A small X client that the native end-to-end scripts run beside
// vantrel-saver: it plays the part of a settings panel that hosts a preview,
// looks at windows from outside, and reads what the screen shows.
//
//   x11_probe makewindow WxH+X+Y   a plain mapped window; prints "window=ID" and
//                                  runs until the window is destroyed (exit 0)
//   x11_probe cover                an override-redirect window over the whole
//                                  screen, raised; prints "window=ID", runs until killed
//   x11_probe destroy ID           XDestroyWindow; exit 1 when there is no such window
//   x11_probe info ID              window=ID x= y= w= h= viewable= override= children=
//                                  class= title= (x, y on the screen); exit 1 when gone
//   x11_probe children ID          the ids of ID's children, bottom first, one a line
//   x11_probe top                  the topmost viewable child of the root: window=ID
//   x11_probe find [TITLE]         top-level windows of the saver's Win32 class and
//                                  title ("Screen Saver" unless given): count=N
//                                  window=ID (the topmost); exit 1 when there is none
//   x11_probe cursor               cursor=blank or cursor=visible
//   x11_probe shot ID FILE         the window's pixels as a binary PPM
//   x11_probe texts ID             what ID's labels and buttons say, a line each:
//                                  x= y= (inside ID) text=
//
// IDs are decimal, as the saver's command line takes them.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

Display *display;
bool badWindow;

int NoteError(Display *, XErrorEvent *error) {
    if (error->error_code == BadWindow || error->error_code == BadDrawable || error->error_code == BadMatch)
        badWindow = true;
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: x11_probe makewindow WxH+X+Y | cover | destroy ID | info ID | children ID | top |"
                 " find [TITLE] | list [TITLE] | cursor | shot ID FILE | texts ID\n");
    return 2;
}

bool ParseId(const char *text, Window *id) {
    char *end = nullptr;
    unsigned long value = std::strtoul(text, &end, 10);
    if (!*text || *end) return false;
    *id = (Window)value;
    return true;
}

std::string Text(Window window, Atom property) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char *data = nullptr;
    std::string out;
    if (XGetWindowProperty(display, window, property, 0, 1024, False, AnyPropertyType, &type, &format, &count, &after,
                           &data) == Success &&
        data && format == 8)
        out.assign((const char *)data, count);
    if (data) XFree(data);
    return out;
}

int RunUntilDestroyed(Window window) {
    std::printf("window=%lu\n", (unsigned long)window);
    std::fflush(stdout);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == DestroyNotify && event.xdestroywindow.window == window) return 0;
    }
}

int MakeWindow(const char *geometry) {
    int x = 0, y = 0;
    unsigned width = 0, height = 0;
    int flags = XParseGeometry(geometry, &x, &y, &width, &height);
    if (!(flags & WidthValue) || !(flags & HeightValue)) return Usage();
    Window root = DefaultRootWindow(display);
    Window window = XCreateSimpleWindow(display, root, x, y, width, height, 0, 0, 0x202040);
    XSelectInput(display, window, StructureNotifyMask);
    XStoreName(display, window, "x11_probe panel");
    XMapWindow(display, window);
    // Shown before its id is handed out, so a preview never waits on it.
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MapNotify) break;
    }
    return RunUntilDestroyed(window);
}

int Cover() {
    int screen = DefaultScreen(display);
    XSetWindowAttributes attributes = {};
    attributes.override_redirect = True;
    attributes.background_pixel = 0xFF00FF;
    Window window = XCreateWindow(display, DefaultRootWindow(display), 0, 0, (unsigned)DisplayWidth(display, screen),
                                  (unsigned)DisplayHeight(display, screen), 0, CopyFromParent, InputOutput,
                                  CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
    XSelectInput(display, window, StructureNotifyMask);
    XMapRaised(display, window);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MapNotify) break;
    }
    return RunUntilDestroyed(window);
}

int Info(Window window) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes) || badWindow) return 1;
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(display, window, attributes.root, 0, 0, &x, &y, &child);
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    XQueryTree(display, window, &root, &parent, &children, &count);
    if (children) XFree(children);
    Atom win32Class = XInternAtom(display, "_VANTREL_WIN32_CLASS", False);
    std::printf("window=%lu x=%d y=%d w=%d h=%d viewable=%d override=%d children=%u parent=%lu class=%s title=%s\n",
                (unsigned long)window, x, y, attributes.width, attributes.height,
                attributes.map_state == IsViewable ? 1 : 0, attributes.override_redirect ? 1 : 0, count,
                (unsigned long)parent, Text(window, win32Class).c_str(), Text(window, XA_WM_NAME).c_str());
    return badWindow ? 1 : 0;
}

int Children(Window window) {
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count) || badWindow) return 1;
    for (unsigned i = 0; i < count; ++i) std::printf("%lu\n", (unsigned long)children[i]);
    if (children) XFree(children);
    return 0;
}

// What ID's labels and buttons say: "x= y= text=" for each child that tells
// (x, y inside ID), bottom first.
int Texts(Window window) {
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count) || badWindow) return 1;
    Atom property = XInternAtom(display, "_VANTREL_TEXT", False);
    for (unsigned i = 0; i < count; ++i) {
        Atom type;
        int format;
        unsigned long length, after;
        unsigned char *data = nullptr;
        bool tells = XGetWindowProperty(display, children[i], property, 0, 1024, False, AnyPropertyType, &type,
                                        &format, &length, &after, &data) == Success &&
                     type != None && format == 8;
        if (data) XFree(data);
        XWindowAttributes attributes;
        if (!tells || !XGetWindowAttributes(display, children[i], &attributes)) continue;
        std::printf("x=%d y=%d text=%s\n", attributes.x, attributes.y, Text(children[i], property).c_str());
    }
    if (children) XFree(children);
    return 0;
}

std::vector<Window> ViewableTopLevels() {
    std::vector<Window> out;
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable)
            out.push_back(children[i]);
    }
    if (children) XFree(children);
    return out;  // bottom first
}

int Top() {
    std::vector<Window> windows = ViewableTopLevels();
    if (windows.empty()) return 1;
    std::printf("window=%lu\n", (unsigned long)windows.back());
    return 0;
}

int Find(const char *title) {
    Atom win32Class = XInternAtom(display, "_VANTREL_WIN32_CLASS", False);
    Window root, parent, *children = nullptr;
    unsigned count = 0, found = 0;
    Window topmost = 0;
    XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
    for (unsigned i = 0; i < count; ++i) {
        if (Text(children[i], win32Class) == "WindowsScreenSaverClass" &&
            Text(children[i], XA_WM_NAME) == title) {
            ++found;
            topmost = children[i];
        }
    }
    if (children) XFree(children);
    std::printf("count=%u window=%lu\n", found, (unsigned long)topmost);
    return found ? 0 : 1;
}

// Every saver window titled TITLE, one "window=ID" line each, bottom first.
int List(const char *title) {
    Atom win32Class = XInternAtom(display, "_VANTREL_WIN32_CLASS", False);
    Window root, parent, *children = nullptr;
    unsigned count = 0, found = 0;
    XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
    for (unsigned i = 0; i < count; ++i) {
        if (Text(children[i], win32Class) == "WindowsScreenSaverClass" && Text(children[i], XA_WM_NAME) == title) {
            ++found;
            std::printf("window=%lu\n", (unsigned long)children[i]);
        }
    }
    if (children) XFree(children);
    return found ? 0 : 1;
}

int CursorState() {
    int eventBase, errorBase;
    if (!XFixesQueryExtension(display, &eventBase, &errorBase)) {
        std::fprintf(stderr, "x11_probe: the display has no XFIXES extension\n");
        return 2;
    }
    XFixesCursorImage *image = XFixesGetCursorImage(display);
    if (!image) return 2;
    bool blank = true;
    for (unsigned long i = 0; i < (unsigned long)image->width * image->height; ++i)
        if ((image->pixels[i] >> 24) & 0xFF) blank = false;
    XFree(image);
    std::printf("cursor=%s\n", blank ? "blank" : "visible");
    return 0;
}

int Shot(Window window, const char *path) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes) || badWindow) return 1;
    XImage *image =
        XGetImage(display, window, 0, 0, (unsigned)attributes.width, (unsigned)attributes.height, AllPlanes, ZPixmap);
    if (!image) return 1;
    std::FILE *file = std::fopen(path, "wb");
    if (!file) {
        XDestroyImage(image);
        return 1;
    }
    std::fprintf(file, "P6\n%d %d\n255\n", image->width, image->height);
    Visual *visual = attributes.visual;
    for (int y = 0; y < image->height; ++y) {
        for (int x = 0; x < image->width; ++x) {
            unsigned long pixel = XGetPixel(image, x, y);
            unsigned long masks[3] = {visual->red_mask, visual->green_mask, visual->blue_mask};
            unsigned char rgb[3];
            for (int c = 0; c < 3; ++c) {
                unsigned long mask = masks[c];
                int shift = 0;
                while (mask && !(mask & 1)) {
                    mask >>= 1;
                    ++shift;
                }
                unsigned long value = (pixel >> shift) & mask;
                rgb[c] = (unsigned char)(mask ? value * 255 / mask : 0);
            }
            std::fwrite(rgb, 1, 3, file);
        }
    }
    XDestroyImage(image);
    return std::fclose(file) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return Usage();
    display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "x11_probe: cannot open the display\n");
        return 2;
    }
    XSetErrorHandler(NoteError);
    // A script ends a long-running probe with SIGTERM; that is a normal end.
    signal(SIGTERM, [](int) { std::_Exit(0); });
    std::string command = argv[1];
    Window id = 0;
    int result;
    if (command == "makewindow" && argc == 3) {
        result = MakeWindow(argv[2]);
    } else if (command == "cover" && argc == 2) {
        result = Cover();
    } else if (command == "top" && argc == 2) {
        result = Top();
    } else if (command == "find" && (argc == 2 || argc == 3)) {
        result = Find(argc == 3 ? argv[2] : "Screen Saver");
    } else if (command == "list" && (argc == 2 || argc == 3)) {
        result = List(argc == 3 ? argv[2] : "Screen Saver");
    } else if (command == "cursor" && argc == 2) {
        result = CursorState();
    } else if (command == "texts" && argc == 3 && ParseId(argv[2], &id)) {
        result = Texts(id);
    } else if ((command == "destroy" || command == "info" || command == "children") && argc == 3 &&
               ParseId(argv[2], &id)) {
        if (command == "destroy") {
            XDestroyWindow(display, id);
            XSync(display, False);
            result = badWindow ? 1 : 0;
        } else {
            result = command == "info" ? Info(id) : Children(id);
        }
    } else if (command == "shot" && argc == 4 && ParseId(argv[2], &id)) {
        result = Shot(id, argv[3]);
    } else {
        result = Usage();
    }
    std::fflush(stdout);
    XCloseDisplay(display);
    return result;
}
