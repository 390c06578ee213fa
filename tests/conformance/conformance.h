// Shared scaffolding for the Win32 behaviour tests: a fixture that gives each
// test its own window classes and leaves no window, timer or message behind,
// a log that window procedures write to, and polling helpers for messages
// that arrive with time (timers).
#ifndef VANTREL_TESTS_CONFORMANCE_H
#define VANTREL_TESTS_CONFORMANCE_H

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

// A message as a window procedure saw it.
struct SeenMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// Everything the recording procedures saw since the test began.
std::vector<SeenMessage> &SeenLog();
void Record(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Index of the first logged `message` for `window` at or after `from`, or -1.
int FindSeen(HWND window, UINT message, size_t from = 0);
int CountSeen(HWND window, UINT message);

// Records every message and leaves it to DefWindowProcA.
LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Removes and dispatches whatever is queued (WM_QUIT included), bounded so
// that a window that never validates cannot hang the run.
void DrainQueue();

// Polls PeekMessageA with the given filter until a message comes or
// `timeoutMs` passes. Time-driven messages (timers) need this; nothing else
// should wait.
bool WaitForMessage(MSG *msg, HWND window, UINT first, UINT last, UINT flags = PM_REMOVE, DWORD timeoutMs = 3000);

// Takes queued messages in order, dispatching and skipping any whose number is
// not in `wanted` (the system may queue its own), until one in `wanted` comes
// or the queue is empty. Returns FALSE when none came.
bool NextOf(MSG *msg, std::initializer_list<UINT> wanted);

class Win32Test : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    HINSTANCE Instance() const;
    // Registers a class that belongs to this test alone and returns its name.
    std::string RegisterTestClass(WNDPROC proc, HBRUSH background = NULL, UINT style = 0);
    // Creates a window that the fixture destroys at the end of the test.
    HWND MakeWindow(const std::string &className, DWORD style, const char *title = "", int x = 0, int y = 0,
                    int width = 160, int height = 120, HWND parent = NULL);
    // A hidden top-level window of a recording class: for queue tests.
    HWND MakeQuietWindow();

  private:
    std::vector<std::string> classes_;
    std::vector<HWND> windows_;
};

// The conformance program started as a child by the processes tests:
// "--child-exit N" ends with N, "--child-sleep" waits a minute,
// "--child-check-args ..." ends with 0 when its arguments are the ones
// ChildArguments() lists, else with 10 plus the first that differs.
// True when argv asked for one of these; *status is then the exit status.
bool RunAsChild(int argc, char **argv, int *status);
extern const char *const ChildArguments[];
extern const int ChildArgumentCount;

#endif
