// The layer's process-wide state, its start and reset, and the hooks that
// tests use to look inside.
#include <layer_hooks.h>
#include <sys/mman.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "user/controls/controls.h"
#include "session/layer_internal.h"
#include "registry/store.h"
#include "session/termination.h"
#include "session/backend_choice.h"

namespace layer {

namespace {

bool TakesLargePages(size_t bytes) { return bytes >= kLargePage / 2; }

size_t WholeLargePages(size_t bytes) { return (bytes + kLargePage - 1) & ~(kLargePage - 1); }

}  // namespace

void *AllocatePixels(size_t bytes) {
    if (!TakesLargePages(bytes))
        return ::operator new(bytes ? bytes : 1, std::align_val_t(kCacheLine));
    if (bytes > SIZE_MAX - 2 * kLargePage) throw std::bad_alloc();
    // A large page's worth more than asked for, so that a large page
    // boundary lies in the first one; what lies before it and past the
    // whole pages goes back at once.
    const size_t whole = WholeLargePages(bytes);
    void *mapped = mmap(nullptr, whole + kLargePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    const uintptr_t at = (uintptr_t)mapped;
    const uintptr_t start = (at + kLargePage - 1) & ~(kLargePage - 1);
    if (start > at) munmap(mapped, start - at);
    if (const size_t tail = at + whole + kLargePage - (start + whole)) munmap((void *)(start + whole), tail);
    // Untouched yet, so the first write of each page brings a large one
    // when the kernel has one to give; nothing depends on it.
    madvise((void *)start, whole, MADV_HUGEPAGE);
    return (void *)start;
}

void FreePixels(void *p, size_t bytes) {
    if (!p) return;
    if (TakesLargePages(bytes)) munmap(p, WholeLargePages(bytes));
    else ::operator delete(p, std::align_val_t(kCacheLine));
}

void ResetExceptionState();  // kernel/exception.cpp
void ResetLastError();       // kernel/kernel.cpp

State &S() {
    static State state;
    return state;
}

bool EqualNoCase(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper((unsigned char)a[i]) != std::toupper((unsigned char)b[i])) return false;
    return true;
}

std::string UpperCase(std::string s) {
    for (char &c : s) c = (char)std::toupper((unsigned char)c);
    return s;
}

static void CreateDesktopRecord() {
    State &s = S();
    auto w = std::make_unique<Window>();
    w->handle = (HWND)s.backend->DesktopWindow();
    w->desktop = true;
    w->title = "";
    w->style = WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    w->proc = DefWindowProcA;
    w->rect = {0, 0, s.screenWidth, s.screenHeight};
    w->client = w->rect;
    s.desktop = w->handle;
    s.windows[(uintptr_t)w->handle] = std::move(w);
}

MonitorShare MonitorShareFromEnvironment() {
    MonitorShare share;
    RECT rect;
    if (ParseMonitorGeometry(std::getenv("VANTREL_MONITOR"), &rect)) {
        share.confined = true;
        share.monitor.rect = share.monitor.work = rect;
        share.monitor.primary = true;
        if (const char *name = std::getenv("VANTREL_MONITOR_NAME")) share.monitor.name = name;
    }
    if (const char *run = std::getenv("VANTREL_RUN")) share.run = run;
    return share;
}

// The display as a program sees it on Windows: the primary monitor's corner
// at 0,0, so that a window made at 0,0 lands on it; or, in one process of a
// run of one per monitor, that process's monitor as the whole screen.
static std::unique_ptr<Backend> SeenAsWindowsSeesIt(std::unique_ptr<Backend> display, const MonitorShare &share,
                                                    POINT *origin) {
    DisplayView view;
    if (share.confined) {
        view.confined = true;
        view.only = share.monitor;
        if (view.only.name.empty()) view.only.name = "MONITOR";
        view.origin = {share.monitor.rect.left, share.monitor.rect.top};
        display->ShareDisplay(DisplayShare{share.run, share.monitor});
    } else {
        std::vector<Monitor> monitors = display->Monitors();
        if (!monitors.empty()) view.origin = {monitors.front().rect.left, monitors.front().rect.top};
    }
    *origin = view.origin;
    if (!view.confined && view.origin.x == 0 && view.origin.y == 0) return display;
    return ViewOfDisplay(std::move(display), view);
}

static void Start(std::unique_ptr<Backend> backend, const MonitorShare &share = MonitorShare()) {
    State &s = S();
    s.backend = SeenAsWindowsSeesIt(std::move(backend), share, &s.displayOrigin);
    s.confined = share.confined;
    s.run = share.run;
    s.currentCursor = StockArrowCursor();
    RefreshMonitors();
    CreateDesktopRecord();
    RegisterSystemClasses();
    FollowNativePointer();
}

void StartLayer(std::unique_ptr<Backend> backend) {
    if (S().backend) return;
    Start(std::move(backend), MonitorShareFromEnvironment());
}

bool ParseSize(const char *text, int *width, int *height) {
    if (!text) return false;
    char *end = nullptr;
    long w = std::strtol(text, &end, 10);
    if (end == text || (*end != 'x' && *end != 'X')) return false;
    const char *rest = end + 1;
    long h = std::strtol(rest, &end, 10);
    if (end == rest || *end != '\0') return false;
    // A desktop must have pixels, and a surface must stay addressable.
    if (w < 1 || h < 1 || w > 16384 || h > 16384) return false;
    *width = (int)w;
    *height = (int)h;
    return true;
}

static void CannotOpen(const std::string &why) {
    // Showing nothing while seeming to run would be worse than stopping
    // here, where whoever started us can see why.
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, why.c_str());
    std::exit(1);
}

void StartForRun(bool namesXWindow) {
    State &s = S();
    if (s.backend) return;
    BackendChoice choice = ChooseBackend(std::getenv("VANTREL_BACKEND"), std::getenv("WAYLAND_DISPLAY"),
                                         std::getenv("DISPLAY"), namesXWindow);
    if (!choice.warning.empty()) std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, choice.warning.c_str());
    MonitorShare share = MonitorShareFromEnvironment();
    switch (choice.plan) {
    case BackendPlan::Headless: {
        int w = 1024, h = 768;
        ParseSize(std::getenv("VANTREL_HEADLESS_SIZE"), &w, &h);
        // A list that cannot be read is one monitor of the desktop's size.
        std::vector<Monitor> monitors;
        ParseMonitorList(std::getenv("VANTREL_HEADLESS_MONITORS"), &monitors);
        Start(CreateHeadlessBackend(w, h, monitors), share);
        return;
    }
    case BackendPlan::PreviewNeedsX:
        std::fprintf(stderr, "%s: a preview needs an X window, and this Wayland session has no X server ($DISPLAY)\n",
                     program_invocation_short_name);
        std::exit(255);  // what the program answers a command line it cannot use
    case BackendPlan::Wayland:
    case BackendPlan::WaylandElseX11: {
        std::string why;
        // One process of a run of one per output takes that output alone,
        // which the compositor then reports as the whole screen at 0,0.
        std::string output = share.confined ? share.monitor.name : std::string();
        std::unique_ptr<Backend> display = CreateWaylandBackend(nullptr, output, &why);
        if (display) {
            if (share.confined) {
                int w = 0, h = 0;
                display->ScreenSize(&w, &h);
                share.monitor.rect = share.monitor.work = {0, 0, w, h};
            }
            Start(std::move(display), share);
            return;
        }
        if (choice.plan == BackendPlan::Wayland) CannotOpen(why);
        break;
    }
    case BackendPlan::X11: break;
    }
    std::string why;
    std::unique_ptr<Backend> display = CreateX11Backend(nullptr, &why);
    if (!display) CannotOpen(why);
    Start(std::move(display), share);
}

void EnsureStarted() { StartForRun(false); }

void ResetLayer(std::unique_ptr<Backend> backend) { ResetLayer(std::move(backend), MonitorShare()); }

void ResetLayer(std::unique_ptr<Backend> backend, const MonitorShare &share) {
    State &s = S();
    if (s.backend) DestroyAllWindows();
    ResetGdi();
    // Rebuilding the whole record leaves nothing behind that a field-by-field
    // reset could forget.
    s.~State();
    new (&s) State();
    Start(std::move(backend), share);
    ResetExceptionState();
    ResetLastError();
    ClearTerminationRequest();
    vantrel::registry::Reset();
}

void ResetHeadless(int desktopWidth, int desktopHeight) {
    if (desktopWidth < 1) desktopWidth = 1;
    if (desktopHeight < 1) desktopHeight = 1;
    ResetLayer(CreateHeadlessBackend(desktopWidth, desktopHeight));
}

bool TakeFault(const char *function) {
    auto &faults = S().faults;
    auto it = faults.find(function);
    if (it == faults.end()) return false;
    if (--it->second <= 0) faults.erase(it);
    return true;
}

void InjectFault(const std::string &function, int count) {
    if (count <= 0) {
        S().faults.erase(function);
        return;
    }
    S().faults[function] += count;
}

void SetIdleHook(std::function<void()> hook) { S().idleHook = std::move(hook); }

void SetRegistrySaveHook(std::function<void()> hook) { S().registrySaveHook = std::move(hook); }

bool ScreenSaverRunning() { return S().screenSaverRunning; }

std::vector<uint32_t> WindowPixels(HWND window, int *width, int *height) {
    EnsureStarted();
    Window *w = FindWindowRecord(window);
    if (!w || w->desktop) {
        if (width) *width = 0;
        if (height) *height = 0;
        return {};
    }
    if (width) *width = w->surfaceWidth;
    if (height) *height = w->surfaceHeight;
    if (!w->pixels) return {};
    return std::vector<uint32_t>(w->pixels, w->pixels + (size_t)w->surfaceWidth * (size_t)w->surfaceHeight);
}

int LiveGdiObjects() { return CountLiveGdiObjects(); }

std::string FrameRateShown() { return S().frameRate.text; }

HCURSOR CurrentCursor() {
    EnsureStarted();
    return S().currentCursor;
}

std::vector<MessageBoxRecord> MessageBoxes() {
    std::vector<MessageBoxRecord> out;
    for (const RecordedBox &b : S().messageBoxes) out.push_back({b.text, b.caption, b.flags, b.owner});
    return out;
}

}  // namespace layer
