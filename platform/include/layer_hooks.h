// Hooks into the native Win32 layer that the real system does not have.
// Tests and tools use them to drive the program on the headless backend:
// a settable clock and cursor, injected input, fake libraries, fault
// injection and read-back of what was drawn. The program itself never
// includes this header.
#ifndef VANTREL_PLATFORM_LAYER_HOOKS_H
#define VANTREL_PLATFORM_LAYER_HOOKS_H

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace layer {

// Forget every window, class, timer, queued message, fake library, fault and
// flag, and start over on a headless desktop of the given size with the real
// clock, the cursor at (0, 0) and no foreground window.
void ResetHeadless(int desktopWidth = 640, int desktopHeight = 480);

// ---- clock ----------------------------------------------------------------
// From now on GetTickCount returns `ticks` until the clock is moved again.
// On this virtual clock Sleep(n) advances it by n, and a message loop that
// has nothing to do but wait for a timer jumps the clock to that timer.
void SetTickCount(DWORD ticks);
void AdvanceTicks(DWORD milliseconds);
bool ClockIsVirtual();

// ---- input ----------------------------------------------------------------
// Input goes through the input queue as on Windows: keys to the focus window
// (else the foreground window), mouse messages to the window under the
// cursor, with client coordinates in lParam.
void SetCursorPosition(int x, int y);  // moves the cursor silently
void InjectKey(UINT virtualKey, bool down, bool alt = false);
void InjectMouseMove(int x, int y);
enum class Button { Left, Right, Middle };
void InjectButton(Button button, bool down);
void InjectWheel(int delta);
HCURSOR CurrentCursor();  // what the last SetCursor left in effect

// Called whenever GetMessageA (or a modal loop) finds nothing to deliver and
// would wait. The hook may post, inject, move the clock or destroy windows.
// When it leaves nothing to deliver and no timer is pending, it is called
// again rather than the loop waiting for ever; on the virtual clock a pending
// timer is jumped to after the hook has had its turn.
void SetIdleHook(std::function<void()> hook);

// Called in the middle of every save of the registry file: its temporary
// copy written and synced, not yet renamed into place. A test can make
// something happen there, such as a signal arriving.
void SetRegistrySaveHook(std::function<void()> hook);

// ---- libraries --------------------------------------------------------------
struct FakeExport {
    std::string name;
    FARPROC proc;
};
// Makes LoadLibraryA(name) succeed (names compare case-insensitively).
// `alreadyLoaded` makes GetModuleHandleA find it before any LoadLibraryA.
void RegisterLibrary(const std::string &name, std::vector<FakeExport> exports, bool alreadyLoaded = false);
// LoadLibraryA calls minus FreeLibrary calls (plus one if already loaded).
int LibraryReferences(const std::string &name);
// How many times LoadLibraryA was asked for `name`, found or not.
int LibraryLoadRequests(const std::string &name);

// ---- faults -------------------------------------------------------------------
// The next `count` calls of the named API function fail as Windows reports
// that failure ("RegisterClassA", "CreateWindowExA", "SetTimer", ...).
// "LoadImageA:<id>" aims at one bitmap: the decimal integer id ("LoadImageA:118")
// or the name as passed; "LoadImageA" at any. Both fail with
// ERROR_NOT_ENOUGH_MEMORY. Also "CreatePalette", "SelectPalette" (returns
// NULL), "GetDIBColorTable" (returns 0), "CreateCompatibleDC", "CreateDIBSection".
void InjectFault(const std::string &function, int count = 1);

// ---- resources ---------------------------------------------------------------------
// From now on the program's resources are these bytes of a compiled .res file
// instead of the ones built in (until ResetHeadless); no bytes means no
// resources. Handles and pointers from the resources before become invalid,
// as after unloading a module.
void UseResources(std::vector<uint8_t> resFile);

// ---- observation ----------------------------------------------------------------
// The state SystemParametersInfoA(SPI_SCREENSAVERRUNNING) last set.
bool ScreenSaverRunning();
// Pixels of a window's client area as 0x00RRGGBB, row by row from the top.
std::vector<uint32_t> WindowPixels(HWND window, int *width = nullptr, int *height = nullptr);
// What a screen shows of a window's client area: its own pixels with those
// of its visible children (and theirs) over them, the bottom of the
// z-order first, each clipped to its parent. The sunken edges a parent
// draws round its children show between them.
std::vector<uint32_t> ComposedPixels(HWND window, int *width = nullptr, int *height = nullptr);
// What the frame-rate overlay (--fps) says now: "FPS: 15.2"; "" while it is
// off or before its first second of frames is in.
std::string FrameRateShown();
// GDI objects alive now (stock objects excluded). DCs from GetDC and
// BeginPaint count until released; a CS_OWNDC window's own DC does not.
int LiveGdiObjects();
// Every DialogBoxParamA call, made or refused: the template ("#2003" for an
// integer identifier) and the owner it was given.
struct DialogRequest {
    std::string templateName;
    HWND owner;
};
std::vector<DialogRequest> DialogRequests();

// ---- dialogs ----------------------------------------------------------------------
// A modal dialog runs its own loop inside DialogBoxParamA; the idle hook is
// called from that loop too whenever it has nothing to deliver, so a test
// drives a dialog from the hook. These act as a person would, through the
// input queue; what they queue is delivered by the dialog's loop.

// The innermost modal dialog now running (its loop is on the stack), or null.
HWND ActiveDialog();
// A left click at the centre of the control, through the input queue (cursor moved there,
// button down, button up), as a person would click it.
void ClickControl(HWND control);
// Presses the trackbar's thumb, drags it to where `position` lies and releases it,
// through the input queue, in several pointer moves. The trackbar takes each
// move as it comes, so its WM_HSCROLL messages have been sent on return.
void DragTrackbar(HWND trackbar, int position);
// Gives the control the focus (as a click would) and types `text` as key presses (WM_KEYDOWN,
// WM_CHAR, WM_KEYUP through the input queue); '\b' is Backspace.
void TypeText(HWND control, const std::string &text);
// Selects all of an edit control's text, so the next typing replaces it.
void SelectAllText(HWND edit);

// What GetCommandLineA returns; main() sets it from its arguments.
void SetCommandLine(const std::string &commandLine);
// The command line main() makes of its arguments, the program name first:
// arguments joined by spaces, quoted when empty or holding a space or tab.
std::string BuildCommandLine(const std::vector<std::string> &arguments);
// What follows the program name (and the blanks after it) in a command line:
// the text WinMain receives.
const char *CommandLineTail(const char *commandLine);
// A command line split into arguments as a Windows program's C runtime
// splits it (CreateProcessA gives the child these): the program name up to
// a blank outside quotes; then arguments where backslashes escape only
// quotes and a doubled quote inside quotes is one quote.
std::vector<std::string> SplitCommandLine(const char *commandLine);
// Called by CreateProcessA with the program's file and the arguments it
// would start it with, before anything is started: true lets the start go
// on, false fails the call as for a missing program (ERROR_FILE_NOT_FOUND).
// A test sees what a program would start without starting anything.
void SetProcessStartHook(std::function<bool(const std::string &file, const std::vector<std::string> &arguments)> hook);

// MessageBoxA calls, oldest first. The headless desktop answers IDOK at once,
// unless message boxes are made interactive: then each is a modal dialog
// (ActiveDialog() while it runs) that a test answers with ClickControl,
// InjectKey and the like. ResetHeadless goes back to answering at once.
void SetMessageBoxesInteractive(bool interactive);
struct MessageBoxRecord {
    std::string text;
    std::string caption;
    UINT flags;
    HWND owner;
};
std::vector<MessageBoxRecord> MessageBoxes();

// ---- registry ---------------------------------------------------------------------
// Backs HKEY_CURRENT_USER with a REGEDIT4 file from now on ("" = memory only,
// what ResetHeadless goes back to). Open keys are closed and the file is read
// on the next registry call, as a newly started process would.
void UseRegistryFile(const std::string &path);
// Where the program keeps its registry, from the environment's values (null
// when unset): $VANTREL_REGISTRY itself, else $XDG_CONFIG_HOME/vantrel/registry.reg
// (only an absolute XDG_CONFIG_HOME counts), else $HOME/.config/vantrel/registry.reg;
// "" when none of them is usable.
std::string RegistryFilePath(const char *vantrelRegistry, const char *xdgConfigHome, const char *home);

}  // namespace layer

#endif
