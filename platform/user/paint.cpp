// The paint cycle: update regions, WM_PAINT, BeginPaint/EndPaint and the
// background erase, and handing finished pixels to the display.
#include <cstring>

#include "user/controls/controls.h"
#include "gdi/gdi_internal.h"
#include "session/layer_internal.h"

namespace layer {

static RECT ClientBounds(const Window *w) {
    return {0, 0, w->client.right - w->client.left, w->client.bottom - w->client.top};
}

static void ChangeRegion(HWND hwnd, const RECT *rect, bool invalidate, bool erase) {
    Window *w = FindWindowRecord(hwnd);
    if (!w || w->desktop || !IsVisibleChain(hwnd)) return;
    RECT area = rect ? RectIntersection(*rect, ClientBounds(w)) : ClientBounds(w);
    if (invalidate) {
        if (!RectIsEmpty(area)) {
            w->update.Add(area);
            if (erase) w->erase = true;
        }
    } else {
        w->update.Subtract(area);
        if (w->update.Empty()) w->erase = false;
    }
    // Without WS_CLIPCHILDREN the parent's change reaches the children under it.
    if (w->style & WS_CLIPCHILDREN) return;
    std::vector<HWND> children = w->children;
    for (HWND c : children) {
        Window *child = FindWindowRecord(c);
        if (!child || !(child->style & WS_VISIBLE)) continue;
        POINT off = {child->rect.left + child->client.left, child->rect.top + child->client.top};
        RECT inChild = {area.left - off.x, area.top - off.y, area.right - off.x, area.bottom - off.y};
        ChangeRegion(c, &inChild, invalidate, erase);
    }
}

void InvalidateInternal(HWND hwnd, const RECT *rect, bool erase, bool /*children*/) {
    ChangeRegion(hwnd, rect, true, erase);
}

static HWND FirstToPaint(HWND hwnd) {
    Window *w = FindWindowRecord(hwnd);
    if (!w || !(w->style & WS_VISIBLE)) return nullptr;
    if (!w->update.Empty()) return hwnd;
    for (HWND c : w->children) {
        HWND found = FirstToPaint(c);
        if (found) return found;
    }
    return nullptr;
}

HWND FindWindowToPaint(HWND filter) {
    if (filter) {
        if (!IsVisibleChain(filter)) return nullptr;
        return FirstToPaint(filter);
    }
    for (HWND top : S().topLevels) {
        HWND found = FirstToPaint(top);
        if (found) return found;
    }
    return nullptr;
}

// A DC clipped to the window's update region, as WM_ERASEBKGND gets it.
static HDC UpdateDC(HWND hwnd, const Region &region, bool *temporary) {
    Window *w = FindWindowRecord(hwnd);
    HDC dc = w->ownDC;
    *temporary = dc == nullptr;
    if (!dc) dc = CreateWindowDC(hwnd, false);
    SetDCClip(dc, &region);
    return dc;
}

static void DoneWithDC(HDC dc, bool temporary) {
    if (temporary) {
        GdiRemove(dc);
    } else {
        SetDCClip(dc, nullptr);
    }
}

void SendEraseIfPending(HWND hwnd) {
    Window *w = FindWindowRecord(hwnd);
    if (!w || !w->erase || w->update.Empty()) return;
    w->erase = false;
    bool temporary;
    HDC dc = UpdateDC(hwnd, w->update, &temporary);
    SendMessageA(hwnd, WM_ERASEBKGND, (WPARAM)dc, 0);
    if (DcFromHandle(dc)) DoneWithDC(dc, temporary);
}

namespace {

int64_t Area(const RECT &r) { return RectIsEmpty(r) ? 0 : (int64_t)(r.right - r.left) * (r.bottom - r.top); }

// A window's rectangles waiting for the display. Drawing comes in many small
// pieces (a glyph's runs, a control's edges); a piece that overlaps or
// touches one of the last few joins it when their bounds waste little, so
// the display gets a few rectangles rather than hundreds. Past the limit
// everything becomes one rectangle: more pixels, but never a lost one.
void AddPending(std::vector<RECT> &list, RECT r, bool join) {
    constexpr size_t kLookBack = 8;
    constexpr size_t kMaxRects = 2048;
    if (RectIsEmpty(r)) return;
    for (bool joined = join; joined;) {
        joined = false;
        size_t from = list.size() > kLookBack ? list.size() - kLookBack : 0;
        for (size_t i = list.size(); i-- > from;) {
            RECT u = RectUnion(list[i], r);
            int64_t covered = Area(list[i]) + Area(r) - Area(RectIntersection(list[i], r));
            if ((Area(u) - covered) * 4 > Area(u)) continue;
            r = u;
            list.erase(list.begin() + (ptrdiff_t)i);
            joined = true;
            break;
        }
    }
    if (list.size() < kMaxRects) {
        list.push_back(r);
        return;
    }
    for (const RECT &e : list) r = RectUnion(r, e);
    list.assign(1, r);
}

}  // namespace

void MarkDirty(HWND hwnd, const RECT &clientRect) {
    ForgetShown(hwnd, clientRect);
    AddPending(S().dirtyRects[(uintptr_t)hwnd], clientRect, true);
}

void QueuePresent(HWND hwnd, const RECT &clientRect) {
    // An 8-bit copy hands over rectangles that are disjoint already.
    AddPending(S().dirtyRects[(uintptr_t)hwnd], clientRect, false);
}

void FlushPresent() {
    State &s = S();
    if (s.dirtyRects.empty()) return;
    auto dirty = std::move(s.dirtyRects);
    s.dirtyRects.clear();
    for (auto &entry : dirty) {
        if (entry.second.empty()) continue;
        for (const RECT &r : entry.second) RevealChange((HWND)entry.first, r);
        Window *w = FindWindowRecord((HWND)entry.first);
        if (!w || w->desktop || !w->pixels) continue;
        const uint8_t *indices = nullptr;
        const uint32_t *table = nullptr;
        if (ShownAsIndices(*w, &indices, &table))
            s.backend->PresentIndexed(entry.first, w->pixels, indices, table, w->surfaceWidth, w->surfaceHeight,
                                      entry.second);
        else
            s.backend->Present(entry.first, w->pixels, w->surfaceWidth, w->surfaceHeight, entry.second);
    }
}

static void UpdateNow(HWND hwnd) {
    Window *w = FindWindowRecord(hwnd);
    if (!w || !(w->style & WS_VISIBLE)) return;
    if (!w->update.Empty()) SendMessageA(hwnd, WM_PAINT, 0, 0);
    w = FindWindowRecord(hwnd);
    if (!w) return;
    std::vector<HWND> children = w->children;
    for (HWND c : children) UpdateNow(c);
}

}  // namespace layer

using namespace layer;

extern "C" {

BOOL WINAPI InvalidateRect(HWND hWnd, const RECT *lpRect, BOOL bErase) {
    EnsureStarted();
    if (!hWnd) {
        // No window means every window on the desktop.
        std::vector<HWND> tops = S().topLevels;
        for (HWND top : tops) ChangeRegion(top, nullptr, true, bErase != 0);
        return TRUE;
    }
    if (!ValidWindow(hWnd)) return FALSE;
    ChangeRegion(hWnd, lpRect, true, bErase != 0);
    return TRUE;
}

BOOL WINAPI ValidateRect(HWND hWnd, const RECT *lpRect) {
    EnsureStarted();
    if (!hWnd) {
        std::vector<HWND> tops = S().topLevels;
        for (HWND top : tops) ChangeRegion(top, nullptr, true, true);
        return TRUE;
    }
    if (!ValidWindow(hWnd)) return FALSE;
    ChangeRegion(hWnd, lpRect, false, false);
    return TRUE;
}

BOOL WINAPI GetUpdateRect(HWND hWnd, LPRECT lpRect, BOOL bErase) {
    Window *w = ValidWindow(hWnd);
    if (!w) return FALSE;
    RECT bounds = w->update.Empty() ? RECT{0, 0, 0, 0} : w->update.Bounds();
    if (lpRect) *lpRect = bounds;
    if (bErase) SendEraseIfPending(hWnd);
    return !RectIsEmpty(bounds);
}

HDC WINAPI BeginPaint(HWND hWnd, LPPAINTSTRUCT lpPaint) {
    Window *w = ValidWindow(hWnd);
    if (!w) return nullptr;
    if (!lpPaint) {
        SetLastError(ERROR_NOACCESS);
        return nullptr;
    }
    Region region = w->update;
    bool needErase = w->erase;
    w->update.Clear();
    w->erase = false;
    region.ClipTo(ClientBounds(w));
    HDC dc = w->ownDC;
    if (!dc) {
        dc = CreateWindowDC(hWnd, false);
        DcFromHandle(dc)->paint = true;
    }
    // Drawing between BeginPaint and EndPaint lands only on what was invalid.
    SetDCClip(dc, &region);
    BOOL fErase = FALSE;
    if (needErase && !region.Empty()) {
        // A paint cycle of the window's own inside its erase is no frame.
        bool outer = !S().erasing;
        S().erasing = true;
        fErase = SendMessageA(hWnd, WM_ERASEBKGND, (WPARAM)dc, 0) == 0;
        if (outer) S().erasing = false;
    }
    std::memset(lpPaint, 0, sizeof *lpPaint);
    lpPaint->hdc = dc;
    lpPaint->fErase = fErase;
    lpPaint->rcPaint = region.Empty() ? RECT{0, 0, 0, 0} : region.Bounds();
    return dc;
}

BOOL WINAPI EndPaint(HWND hWnd, const PAINTSTRUCT *lpPaint) {
    EnsureStarted();
    (void)hWnd;
    if (lpPaint) {
        DeviceContext *dc = DcFromHandle(lpPaint->hdc);
        if (S().frameRate.shown && !S().erasing && dc && dc->window) {
            FramePainted(dc->window, lpPaint->hdc);
            dc = DcFromHandle(lpPaint->hdc);
        }
        // The sunken edges of the windows over this one are part of what it shows.
        if (dc && (dc->paint || dc->own) && dc->window) DrawEdgesOver(dc->window, lpPaint->hdc);
        if ((dc = DcFromHandle(lpPaint->hdc)) && dc->paint) {
            GdiRemove(lpPaint->hdc);
        } else if (dc && dc->own) {
            SetDCClip(lpPaint->hdc, nullptr);
        }
    }
    FlushPresent();
    return TRUE;
}

BOOL WINAPI UpdateWindow(HWND hWnd) {
    if (!ValidWindow(hWnd)) return FALSE;
    UpdateNow(hWnd);
    return TRUE;
}

}  // extern "C"
