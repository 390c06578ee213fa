// State and helpers shared by the files of the layer. Nothing here is seen
// by the program; it talks to the layer through windows.h only.
#ifndef VANTREL_PLATFORM_LAYER_INTERNAL_H
#define VANTREL_PLATFORM_LAYER_INTERNAL_H

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "backends/backend.h"
#include "gdi/fetch_ahead.h"
#include "gdi/region.h"

namespace layer {

// ---- values the SDK defines that the program does not need ----------------
constexpr UINT kWmParentNotify = 0x0210;
constexpr UINT kWmStyleChanging = 0x007C;
constexpr UINT kWmStyleChanged = 0x007D;
constexpr int kHtNowhere = 0;
constexpr int kHtError = -2;
constexpr int kMaActivate = 1;
constexpr int kMaActivateAndEat = 2;
constexpr int kMaNoActivateAndEat = 4;

// Storage for pixel buffers (surfaces, bitmaps, what windows show). Each
// starts on a cache line, so that 16 pixels of a surface row at a column
// that is a multiple of 16 fill exactly one line. One of half a large page
// or more starts on a large page and takes whole ones, asked for as large
// pages before anything is written: a frame touches a few rows of each of
// many 4 KB pages of such a buffer, and at one page-table walk each that
// costs more than the bytes do.
constexpr size_t kLargePage = 2u << 20;
void *AllocatePixels(size_t bytes);
void FreePixels(void *p, size_t bytes);
template <typename T>
struct PixelStorage {
    typedef T value_type;
    PixelStorage() = default;
    template <typename U>
    PixelStorage(const PixelStorage<U> &) {}
    T *allocate(size_t n) {
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        return static_cast<T *>(AllocatePixels(n * sizeof(T)));
    }
    void deallocate(T *p, size_t n) { FreePixels(p, n * sizeof(T)); }
    template <typename U>
    bool operator==(const PixelStorage<U> &) const { return true; }
    template <typename U>
    bool operator!=(const PixelStorage<U> &) const { return false; }
};
template <typename T>
using PixelVector = std::vector<T, PixelStorage<T>>;

struct DialogState;   // user/controls/controls.h
struct ControlState;  // user/controls/controls.h
struct ShownIndices;  // gdi/gdi_internal.h

struct WindowClass {
    std::string name;
    ATOM atom = 0;
    UINT style = 0;
    WNDPROC proc = nullptr;
    int clsExtra = 0;
    int wndExtra = 0;
    HINSTANCE instance = nullptr;
    HICON icon = nullptr;
    HCURSOR cursor = nullptr;
    HBRUSH background = nullptr;
    LPCSTR menuName = nullptr;  // kept as given: an id or a caller's string
    int windows = 0;             // live windows of the class
};

struct Window {
    HWND handle = nullptr;
    WindowClass *cls = nullptr;
    std::string title;
    DWORD style = 0;
    DWORD exStyle = 0;
    WNDPROC proc = nullptr;
    HINSTANCE instance = nullptr;
    HWND parent = nullptr;          // for WS_CHILD windows
    HWND owner = nullptr;           // for top-level windows
    uintptr_t foreignParent = 0;    // a child of another process's window
    LONG_PTR id = 0;
    LONG_PTR userData = 0;
    std::vector<unsigned char> extra;
    RECT rect = {0, 0, 0, 0};       // in the parent's client coordinates (screen for top-level)
    RECT client = {0, 0, 0, 0};     // in window coordinates
    std::vector<HWND> children;     // top of the z-order first
    Region update;                  // client coordinates
    bool erase = false;
    bool destroying = false;
    bool ncDestroyed = false;
    // The client surface, 0x00RRGGBB, `surfaceWidth` a row, in `ownPixels`;
    // null when the window has none.
    uint32_t *pixels = nullptr;
    PixelVector<uint32_t> ownPixels;
    int surfaceWidth = 0;
    int surfaceHeight = 0;
    // The 8-bit indices the surface was last converted from, where it was
    // (gdi/shown.cpp); null until an 8-bit copy lands on the window.
    std::shared_ptr<ShownIndices> shown;
    HDC ownDC = nullptr;
    bool desktop = false;
    // The dialog manager's record of a dialog, and the state of a system
    // control (button, edit, static, trackbar); null for other windows.
    std::shared_ptr<DialogState> dialog;
    std::shared_ptr<ControlState> control;
};

struct Timer {
    HWND window = nullptr;
    UINT_PTR id = 0;
    UINT period = 0;
    TIMERPROC proc = nullptr;
    uint64_t start = 0;  // layer time when the current period began
};

struct FakeLibrary {
    std::string name;  // as LibraryKey gives it
    std::vector<std::pair<std::string, FARPROC>> exports;
    HMODULE handle = nullptr;
    int references = 0;
    int loadRequests = 0;
};

struct RecordedBox {
    std::string text;
    std::string caption;
    UINT flags = 0;
    HWND owner = nullptr;
};

struct ResourceTable;  // kernel/resource.cpp

struct InputMessage {
    MSG msg;
};

// The frames per second a saver window paints, shown in its corner (--fps).
struct FrameRateOverlay {
    bool shown = false;
    bool counting = false;
    uint64_t since = 0;  // layer time the count began
    int frames = 0;      // painted since then
    std::string text;    // what the corner says; "" until a first second is in
};

struct State {
    std::unique_ptr<Backend> backend;
    // The primary monitor's size (SM_CXSCREEN, the desktop window's).
    int screenWidth = 0;
    int screenHeight = 0;
    // The display's monitors, the primary first at 0,0, and their bounds.
    std::vector<Monitor> monitors;
    RECT virtualScreen = {0, 0, 0, 0};
    // Where the layer's 0,0 is in the display's own coordinates.
    POINT displayOrigin = {0, 0};
    // One process of a run of one per monitor (MonitorShare), or alone.
    bool confined = false;
    std::string run;

    // user
    std::vector<std::unique_ptr<WindowClass>> classes;
    ATOM nextAtom = 0xC000;
    std::map<uintptr_t, std::unique_ptr<Window>> windows;
    std::vector<HWND> topLevels;  // top of the z-order first
    HWND desktop = nullptr;
    HWND active = nullptr;
    HWND focus = nullptr;
    HWND foreground = nullptr;
    uintptr_t foreignForeground = 0;

    std::deque<MSG> posted;
    std::deque<MSG> input;
    bool quitPending = false;
    int quitCode = 0;

    std::vector<Timer> timers;
    UINT_PTR nextThreadTimer = 0x7FFF;

    POINT cursor = {0, 0};
    HCURSOR currentCursor = nullptr;
    bool keyDown[256] = {};
    // Keys as of the last key message taken from the queue: what GetKeyState
    // and TranslateMessage see, as on Windows.
    bool threadKeyDown[256] = {};
    HWND capture = nullptr;
    std::vector<HWND> modalDialogs;  // dialogs whose modal loop is running, innermost last
    bool buttonDown[3] = {};
    // double clicks
    UINT lastClickMessage = 0;
    HWND lastClickWindow = nullptr;
    DWORD lastClickTime = 0;
    POINT lastClickPos = {0, 0};

    std::function<void()> idleHook;
    std::function<void()> registrySaveHook;
    std::vector<RecordedBox> messageBoxes;
    bool messageBoxesInteractive = false;  // shown as dialogs even without a screen
    std::vector<std::pair<std::string, HWND>> dialogRequests;  // template, owner
    std::map<uintptr_t, bool> dirtyWindows;
    bool erasing = false;  // BeginPaint is sending WM_ERASEBKGND
    FrameRateOverlay frameRate;
    // What of each window's surface the display has yet to be shown.
    std::map<uintptr_t, std::vector<RECT>> dirtyRects;

    // kernel
    bool virtualClock = false;
    uint64_t virtualNow = 0;    // layer time on the virtual clock
    int64_t tickOffset = 0;     // GetTickCount = layer time + offset
    std::string commandLine;
    std::vector<char> commandLineBuffer;
    std::vector<FakeLibrary> libraries;
    std::map<std::string, int> loadRequests;
    uintptr_t nextLibraryHandle = 0x10000000;
    bool screenSaverRunning = false;
    std::map<std::string, int> faults;
    // The program's resources: what a test gave UseResources, else the
    // embedded ones, read on first use.
    std::shared_ptr<const ResourceTable> resources;
};

State &S();
// Makes sure the layer has a backend before first use: the display that
// ChooseBackend (session/backend_choice.h) picks from $VANTREL_BACKEND,
// $WAYLAND_DISPLAY and $DISPLAY. Without one the process ends with status 1,
// saying why, as X programs do; a run that names an X window on a Wayland
// session without an X server ends with 255. The process entry starts the
// layer with what its command line names; anything else before it gets the
// choice of a run that names no window.
void StartForRun(bool namesXWindow);
void EnsureStarted();
// Starts over on `backend`, as ResetHeadless does on a headless desktop: for
// tests of what the layer makes of a backend's reports.
void ResetLayer(std::unique_ptr<Backend> backend);

// ---- monitors ----------------------------------------------------------------
// What the environment asks of one process of a run that gives every monitor
// a process of its own (session/monitor_run.cpp sets it for each):
//   VANTREL_MONITOR       its monitor, "WxH+X+Y" in the display's coordinates;
//                         that monitor alone is then its whole screen
//   VANTREL_MONITOR_NAME  the display's name for it (optional)
//   VANTREL_RUN           the run's id, the same in all of them (optional);
//                         a process with one never splits again
struct MonitorShare {
    bool confined = false;
    Monitor monitor;
    std::string run;
};
MonitorShare MonitorShareFromEnvironment();
// Starts over on `backend` seen as one process of such a run sees it.
void ResetLayer(std::unique_ptr<Backend> backend, const MonitorShare &share);
// Asks the display for its monitors again (user/monitor.cpp): the list,
// the screen metrics and the desktop window's size follow.
void RefreshMonitors();

// ---- time ----------------------------------------------------------------
uint64_t LayerNow();  // milliseconds, never going back
void AdvanceVirtual(uint64_t ms);
uint64_t RealNow();

// Library names compare as Windows compares module names: without case or
// directory, ".DLL" when no extension is given.
std::string LibraryKey(const std::string &name);

// ---- faults ----------------------------------------------------------------
// True when the named function is to fail this time.
bool TakeFault(const char *function);

// ---- windows ----------------------------------------------------------------
Window *FindWindowRecord(HWND hwnd);
Window *ValidWindow(HWND hwnd);  // sets ERROR_INVALID_WINDOW_HANDLE when null
bool IsChildOf(HWND parent, HWND hwnd);
HWND RootOf(HWND hwnd);
bool IsVisibleChain(HWND hwnd);
bool IsEnabledChain(HWND hwnd);
POINT ClientOrigin(const Window *w);  // screen coordinates of client (0, 0)
// Puts the native window where the window's client area now is and gives it
// the client's size; whatever changes a window's rect or client calls it.
void SyncNativeGeometry(HWND hwnd);
// Gives a window a zeroed surface the size of its client area (up to what
// the layer holds); what it showed of 8-bit copies goes with the old one.
void SizeSurface(Window *w);
LRESULT CallProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Puts a window at the top of its siblings; top-level windows that are not
// topmost stay below every topmost one.
void BringToTop(Window *w);
void ActivateWindow(HWND top);
void DeactivateApp();
HWND SetFocusInternal(HWND hwnd);
HWND WindowFromScreenPoint(POINT pt);
const WindowClass *FindClass(LPCSTR name, HINSTANCE instance);
void DestroyAllWindows();  // for a reset: no messages, just forget

// ---- messages ---------------------------------------------------------------
void PostInternal(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
void QueueInput(const MSG &msg);
void RemoveMessagesOf(HWND hwnd);
void PumpBackend(int timeoutMs);

// ---- timers -----------------------------------------------------------------
void KillTimersOf(HWND hwnd);
// The first due timer matching the filter; its message is filled in.
bool FindDueTimer(HWND filter, bool remove, MSG *msg);
// When the earliest timer matching the filter falls due (layer time).
bool NextTimerDue(HWND filter, uint64_t *due);
const Timer *FindTimer(HWND hwnd, UINT_PTR id);

// ---- painting -----------------------------------------------------------------
void InvalidateInternal(HWND hwnd, const RECT *rect, bool erase, bool children);
HWND FindWindowToPaint(HWND filter);
// Part of a window's surface was drawn on: it reaches the display at the
// next flush, and what the surface showed of 8-bit copies there is forgotten.
void MarkDirty(HWND hwnd, const RECT &clientRect);
// Part of a window's surface changed through an 8-bit copy that keeps its
// own record of what it showed: it only reaches the display.
void QueuePresent(HWND hwnd, const RECT &clientRect);
void FlushPresent();
// True when every pixel of the window's surface is the colour of the 8-bit
// index the window shows there (gdi/shown.cpp): its indices and their table.
bool ShownAsIndices(const Window &w, const uint8_t **indices, const uint32_t **table);
void SendEraseIfPending(HWND hwnd);
// A saver window finished painting a frame on `dc`: the frame-rate overlay
// counts it and draws itself over it (user/frame_rate.cpp).
void FramePainted(HWND hwnd, HDC dc);

// ---- input ----------------------------------------------------------------------
InputSink &LayerInputSink();
// Where a queued key goes when it is read: the focus window, else the
// active window, else where it was queued for.
HWND KeyboardTarget(HWND queuedFor);
// Takes the cursor position from the display's pointer, where there is one.
void FollowNativePointer();
// Called when a hardware message leaves the queue: hit test, activation,
// cursor. Returns false when the message is to be dropped.
bool AcceptHardwareMessage(MSG *msg);

// ---- gdi ------------------------------------------------------------------------
HDC CreateWindowDC(HWND hwnd, bool own);
void FreeWindowDCs(HWND hwnd);
void ResetGdi();
void SetDCClip(HDC hdc, const Region *clip);  // client coordinates; null = none
int CountLiveGdiObjects();

// ---- cursor / user objects ---------------------------------------------------------
bool IsUserIconOrCursor(HANDLE h);
HCURSOR StockArrowCursor();

// ---- strings --------------------------------------------------------------------------
bool EqualNoCase(const std::string &a, const std::string &b);
std::string UpperCase(std::string s);

}  // namespace layer

#endif
