// The thread's message queue. Retrieval follows the system's priorities:
// posted messages, then the quit message once nothing posted is left, then
// input, then WM_PAINT for a window that needs painting, then WM_TIMER for a
// timer that is due. Paint and timer messages are never stored; they are
// made up when nothing ahead of them matches the caller's filter.
#include <layer_hooks.h>

#include <algorithm>

#include "session/layer_internal.h"
#include "session/termination.h"

namespace layer {

static bool InRange(UINT message, UINT first, UINT last) {
    if (first == 0 && last == 0) return true;
    return message >= first && message <= last;
}

static bool WindowMatches(HWND filter, HWND hwnd) {
    if (filter == (HWND)-1) return hwnd == nullptr;
    if (!filter) return true;
    return hwnd == filter || IsChildOf(filter, hwnd);
}

// Messages whose parameters point into the sender's memory can only be sent.
static bool CarriesPointer(UINT msg) {
    switch (msg) {
    case WM_CREATE:
    case WM_NCCREATE:
    case WM_SETTEXT:
    case WM_GETTEXT:
    case WM_NCCALCSIZE:
    case WM_GETMINMAXINFO:
    case WM_WINDOWPOSCHANGING:
    case WM_WINDOWPOSCHANGED:
    case WM_STYLECHANGING:
    case WM_STYLECHANGED:
    case WM_HELP:
        return true;
    }
    return false;
}

static MSG MakeMsg(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    MSG m;
    m.hwnd = hwnd;
    m.message = msg;
    m.wParam = wParam;
    m.lParam = lParam;
    m.time = GetTickCount();
    m.pt = S().cursor;
    return m;
}

void PostInternal(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    S().posted.push_back(MakeMsg(hwnd, msg, wParam, lParam));
}

void QueueInput(const MSG &msg) {
    auto &input = S().input;
    // Mouse moves that nobody has read yet collapse into the latest one, as
    // the system's input queue does.
    if (msg.message == WM_MOUSEMOVE && !input.empty()) {
        MSG &last = input.back();
        if (last.message == WM_MOUSEMOVE && last.hwnd == msg.hwnd && last.wParam == msg.wParam) {
            last = msg;
            return;
        }
    }
    input.push_back(msg);
}

void RemoveMessagesOf(HWND hwnd) {
    State &s = S();
    auto gone = [hwnd](const MSG &m) { return m.hwnd == hwnd; };
    s.posted.erase(std::remove_if(s.posted.begin(), s.posted.end(), gone), s.posted.end());
    s.input.erase(std::remove_if(s.input.begin(), s.input.end(), gone), s.input.end());
}

// A request from outside to end the run: every window of ours goes, with
// the messages it would get from DestroyWindow, and the loop gets its quit
// message (the program's own WM_DESTROY usually posts it already).
static void EndRunForTermination() {
    State &s = S();
    std::vector<HWND> tops = s.topLevels;
    for (HWND top : tops) {
        Window *w = FindWindowRecord(top);
        if (w && !w->desktop && !w->destroying) DestroyWindow(top);
    }
    if (!s.quitPending) PostQuitMessage(0);
}

void PumpBackend(int timeoutMs) {
    State &s = S();
    if (s.backend) s.backend->WaitForEvents(timeoutMs, LayerInputSink());
    if (TakeTerminationRequest()) EndRunForTermination();
}

// One attempt to find a message for the filter. Sent messages never wait in
// this queue: SendMessageA calls the procedure at once on the one thread.
static bool Retrieve(MSG *out, HWND filter, UINT first, UINT last, bool remove) {
    State &s = S();
    for (auto it = s.posted.begin(); it != s.posted.end(); ++it) {
        if (!WindowMatches(filter, it->hwnd) || !InRange(it->message, first, last)) continue;
        *out = *it;
        if (remove) s.posted.erase(it);
        return true;
    }
    // The quit message ignores the filter, but waits for posted messages.
    if (s.quitPending) {
        *out = MakeMsg(nullptr, WM_QUIT, (WPARAM)(intptr_t)s.quitCode, 0);
        if (remove) s.quitPending = false;
        return true;
    }
    for (size_t i = 0; i < s.input.size(); ++i) {
        // A key belongs to the window with the focus when it is read, not
        // when it was pressed: keys typed ahead follow the focus they move.
        if (s.input[i].message >= WM_KEYFIRST && s.input[i].message <= WM_KEYLAST)
            s.input[i].hwnd = KeyboardTarget(s.input[i].hwnd);
        MSG m = s.input[i];
        if (!WindowMatches(filter, m.hwnd) || !InRange(m.message, first, last)) continue;
        if (!remove) {
            *out = m;
            return true;
        }
        s.input.erase(s.input.begin() + (long)i);
        // Taking a message out runs hit testing, activation and the cursor
        // update; the window may refuse ("eat") it.
        if (!AcceptHardwareMessage(&m)) {
            i = (size_t)-1;  // the queue may have changed: look again from the start
            continue;
        }
        *out = m;
        return true;
    }
    if (filter != (HWND)-1 && InRange(WM_PAINT, first, last)) {
        HWND target = FindWindowToPaint(filter);
        if (target) {
            *out = MakeMsg(target, WM_PAINT, 0, 0);
            return true;
        }
    }
    if (InRange(WM_TIMER, first, last) && FindDueTimer(filter, remove, out)) return true;
    return false;
}

static bool FilterIsValid(HWND filter) {
    if (!filter || filter == (HWND)-1) return true;
    return FindWindowRecord(filter) != nullptr;
}

// Nothing for the filter: let the idle hook act, then sleep until the next
// timer of the filter is due or the display has something to say.
static void WaitForWork(HWND filter, UINT first, UINT last) {
    State &s = S();
    FlushPresent();
    if (s.idleHook) {
        auto hook = s.idleHook;  // the hook may replace itself
        hook();
        MSG probe;
        if (Retrieve(&probe, filter, first, last, false)) return;
    }
    uint64_t due = 0;
    bool haveTimer = InRange(WM_TIMER, first, last) && NextTimerDue(filter, &due);
    if (haveTimer) {
        uint64_t now = LayerNow();
        if (due <= now) return;
        if (s.virtualClock) {
            s.virtualNow = due;
            PumpBackend(0);
        } else {
            uint64_t wait = due - now;
            PumpBackend((int)std::min<uint64_t>(wait, 0x7FFFFFFF));
        }
        return;
    }
    // With no timer to wait for, a loop driven by an idle hook would wait
    // for ever on the headless desktop; the hook gets another turn instead.
    PumpBackend(s.idleHook ? 0 : -1);
}

}  // namespace layer

using namespace layer;

extern "C" {

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    EnsureStarted();
    if (CarriesPointer(Msg)) {
        SetLastError(ERROR_MESSAGE_SYNC_ONLY);
        return FALSE;
    }
    if (hWnd == HWND_BROADCAST) {
        for (HWND top : S().topLevels) PostInternal(top, Msg, wParam, lParam);
        return TRUE;
    }
    if (hWnd && !FindWindowRecord(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    PostInternal(hWnd, Msg, wParam, lParam);
    return TRUE;
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    EnsureStarted();
    if (hWnd == HWND_BROADCAST) {
        std::vector<HWND> tops = S().topLevels;
        for (HWND top : tops)
            if (FindWindowRecord(top)) CallProc(top, Msg, wParam, lParam);
        return 1;
    }
    if (!FindWindowRecord(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return CallProc(hWnd, Msg, wParam, lParam);
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
    EnsureStarted();
    if (!FilterIsValid(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!lpMsg) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    PumpBackend(0);
    MSG m;
    if (!Retrieve(&m, hWnd, wMsgFilterMin, wMsgFilterMax, (wRemoveMsg & PM_REMOVE) != 0)) {
        FlushPresent();
        return FALSE;
    }
    *lpMsg = m;
    return TRUE;
}

BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
    EnsureStarted();
    if (!lpMsg) {
        SetLastError(ERROR_NOACCESS);
        return -1;
    }
    for (;;) {
        if (!FilterIsValid(hWnd)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return -1;
        }
        PumpBackend(0);
        MSG m;
        if (Retrieve(&m, hWnd, wMsgFilterMin, wMsgFilterMax, true)) {
            *lpMsg = m;
            return m.message != WM_QUIT;
        }
        WaitForWork(hWnd, wMsgFilterMin, wMsgFilterMax);
    }
}

BOOL WINAPI WaitMessage(void) {
    EnsureStarted();
    for (;;) {
        PumpBackend(0);
        MSG m;
        if (Retrieve(&m, nullptr, 0, 0, false)) return TRUE;
        WaitForWork(nullptr, 0, 0);
    }
}

void WINAPI PostQuitMessage(int nExitCode) {
    EnsureStarted();
    S().quitPending = true;
    S().quitCode = nExitCode;
}

BOOL WINAPI TranslateMessage(const MSG *lpMsg) {
    EnsureStarted();
    if (!lpMsg) return FALSE;
    UINT m = lpMsg->message;
    if (m != WM_KEYDOWN && m != WM_KEYUP && m != WM_SYSKEYDOWN && m != WM_SYSKEYUP) return FALSE;
    if (m == WM_KEYDOWN || m == WM_SYSKEYDOWN) {
        UINT vk = (UINT)lpMsg->wParam;
        State &s = S();
        bool shift = s.threadKeyDown[VK_SHIFT];
        bool control = s.threadKeyDown[VK_CONTROL];
        int ch = -1;
        if (vk >= 'A' && vk <= 'Z') {
            ch = control ? (int)(vk - 'A' + 1) : shift ? (int)vk : (int)(vk - 'A' + 'a');
        } else if (vk >= '0' && vk <= '9' && !control) {
            static const char shifted[] = ")!@#$%^&*(";
            ch = shift ? shifted[vk - '0'] : (int)vk;
        } else if (vk == VK_SPACE) {
            ch = ' ';
        } else if (vk == VK_RETURN) {
            ch = control ? '\n' : '\r';
        } else if (vk == VK_ESCAPE) {
            ch = 0x1B;
        } else if (vk == VK_BACK) {
            ch = control ? 0x7F : 0x08;
        } else if (vk == VK_TAB && !control) {
            ch = '\t';
        } else if (!control) {
            // The punctuation keys of a US keyboard, plain and shifted.
            static const struct {
                UINT vk;
                char plain, shifted;
            } punctuation[] = {{VK_OEM_1, ';', ':'},     {VK_OEM_PLUS, '=', '+'},   {VK_OEM_COMMA, ',', '<'},
                               {VK_OEM_MINUS, '-', '_'}, {VK_OEM_PERIOD, '.', '>'}, {VK_OEM_2, '/', '?'},
                               {VK_OEM_3, '`', '~'},     {VK_OEM_4, '[', '{'},      {VK_OEM_5, '\\', '|'},
                               {VK_OEM_6, ']', '}'},     {VK_OEM_7, '\'', '"'}};
            for (const auto &p : punctuation)
                if (p.vk == vk) ch = shift ? p.shifted : p.plain;
        }
        if (ch >= 0) PostInternal(lpMsg->hwnd, m == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR, (WPARAM)ch, lpMsg->lParam);
    }
    // Key messages count as translated whether or not they made a character.
    return TRUE;
}

LRESULT WINAPI DispatchMessageA(const MSG *lpMsg) {
    EnsureStarted();
    if (!lpMsg) return 0;
    if (lpMsg->message == WM_TIMER && lpMsg->lParam) {
        // Only a callback that a live timer was set with is ever called, so a
        // forged WM_TIMER cannot jump to an arbitrary address.
        const Timer *t = FindTimer(lpMsg->hwnd, lpMsg->wParam);
        if (t && (LPARAM)t->proc == lpMsg->lParam) {
            TIMERPROC proc = t->proc;
            proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, GetTickCount());
            return 0;
        }
    }
    if (!lpMsg->hwnd) return 0;
    if (!FindWindowRecord(lpMsg->hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    HWND hwnd = lpMsg->hwnd;
    LRESULT r = CallProc(hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
    // A procedure that paints without BeginPaint still gets its background
    // erased once; the region stays, so WM_PAINT keeps coming.
    if (lpMsg->message == WM_PAINT) SendEraseIfPending(hwnd);
    return r;
}

}  // extern "C"
