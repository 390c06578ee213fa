// Timers. A timer is never queued: it is due when its period has passed,
// yields one WM_TIMER however many periods were missed, and starts its next
// period when that message is taken out of the queue.
#include <algorithm>

#include "session/layer_internal.h"

namespace layer {

static constexpr UINT kMinimumPeriod = 10;  // USER_TIMER_MINIMUM
static constexpr UINT kMaximumPeriod = 0x7FFFFFFF;

static bool Due(const Timer &t, uint64_t now) { return now - t.start >= t.period || now < t.start; }

static bool Matches(HWND filter, const Timer &t) {
    if (filter == (HWND)-1) return t.window == nullptr;
    if (!filter) return true;
    return t.window == filter || IsChildOf(filter, t.window);
}

void KillTimersOf(HWND hwnd) {
    auto &timers = S().timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(), [hwnd](const Timer &t) { return t.window == hwnd; }),
                 timers.end());
}

const Timer *FindTimer(HWND hwnd, UINT_PTR id) {
    for (const Timer &t : S().timers)
        if (t.window == hwnd && t.id == id) return &t;
    return nullptr;
}

bool FindDueTimer(HWND filter, bool remove, MSG *msg) {
    uint64_t now = LayerNow();
    Timer *best = nullptr;
    for (Timer &t : S().timers) {
        if (!Matches(filter, t) || !Due(t, now)) continue;
        // The one that fell due first goes first.
        if (!best || t.start + t.period < best->start + best->period) best = &t;
    }
    if (!best) return false;
    msg->hwnd = best->window;
    msg->message = WM_TIMER;
    msg->wParam = best->id;
    msg->lParam = (LPARAM)best->proc;
    msg->time = GetTickCount();
    msg->pt = S().cursor;
    if (remove) best->start = now;
    return true;
}

bool NextTimerDue(HWND filter, uint64_t *due) {
    bool found = false;
    for (const Timer &t : S().timers) {
        if (!Matches(filter, t)) continue;
        uint64_t d = t.start + t.period;
        if (!found || d < *due) *due = d;
        found = true;
    }
    return found;
}

}  // namespace layer

using namespace layer;

extern "C" {

UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
    EnsureStarted();
    if (hWnd && !FindWindowRecord(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (TakeFault("SetTimer")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    State &s = S();
    UINT period = std::clamp(uElapse, kMinimumPeriod, kMaximumPeriod);
    UINT_PTR id = nIDEvent;
    if (!hWnd) {
        // Thread timers get their identifier from the system unless an
        // existing one is being reset.
        if (!id || !FindTimer(nullptr, id)) {
            do {
                id = s.nextThreadTimer--;
                if (s.nextThreadTimer == 0) s.nextThreadTimer = 0x7FFF;
            } while (FindTimer(nullptr, id));
        }
    }
    Timer *existing = const_cast<Timer *>(FindTimer(hWnd, id));
    Timer t;
    t.window = hWnd;
    t.id = id;
    t.period = period;
    t.proc = lpTimerFunc;
    t.start = LayerNow();
    if (existing)
        *existing = t;
    else
        s.timers.push_back(t);
    return id ? id : 1;
}

BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
    EnsureStarted();
    if (hWnd && !FindWindowRecord(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    auto &timers = S().timers;
    for (auto it = timers.begin(); it != timers.end(); ++it) {
        if (it->window == hWnd && it->id == uIDEvent) {
            timers.erase(it);
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

}  // extern "C"
