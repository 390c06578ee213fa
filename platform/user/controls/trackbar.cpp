// The trackbar ("msctls_trackbar32"): a range, a position and the keys and
// mouse gestures that move it, each change told to the parent by
// WM_HSCROLL (WM_VSCROLL when vertical) with the trackbar in lParam. Its
// state is TrackbarState on the window record (see button_static.cpp).
//
// Geometry, in client coordinates of a horizontal trackbar (a vertical one
// swaps the axes): the thumb is `len` pixels across (21, or 23 with a
// selection range; less when the client area is thinner) and (len/2)|1
// along; the channel runs from len/4 + 3 pixels inside each end. The thumb's
// left edge for position p is channel.left + travel * (p - min) / (max -
// min), rounded down, where travel is the channel's length less the thumb's
// width; a pointer at x means the position min + (x - channel.left -
// thumbWidth/2) * (max - min) / travel, rounded to nearest and clamped.
#include <algorithm>
#include <cmath>

#include "user/controls/controls.h"

namespace layer {

namespace {

constexpr UINT_PTR kPageTimer = 1;
constexpr UINT kPageRepeatMs = 500;

DWORD StyleOf(HWND hwnd) { return (DWORD)GetWindowLongA(hwnd, GWL_STYLE); }
bool Vertical(HWND hwnd) { return (StyleOf(hwnd) & TBS_VERT) != 0; }

TrackbarState *TrackbarOf(HWND hwnd) {
    ControlState *c = ControlOf(hwnd, ControlKind::Trackbar);
    return c ? &c->trackbar : nullptr;
}

int ChannelStart(const TrackbarState &t, bool vertical) { return vertical ? t.channel.top : t.channel.left; }
int ChannelLength(const TrackbarState &t, bool vertical) {
    return vertical ? t.channel.bottom - t.channel.top : t.channel.right - t.channel.left;
}
int Travel(const TrackbarState &t, bool vertical) { return ChannelLength(t, vertical) - t.thumbWidth; }

void PlaceThumb(HWND hwnd, TrackbarState &t) {
    DWORD style = StyleOf(hwnd);
    bool vertical = (style & TBS_VERT) != 0;
    long long range = (long long)t.max - t.min;
    long long offset = 0;
    if (range > 0) offset = (long long)std::max(Travel(t, vertical), 0) * ((long long)t.pos - t.min) / range;
    int along = ChannelStart(t, vertical) + (int)offset;
    int across = ((style & (TBS_BOTH | TBS_TOP)) && !(style & TBS_NOTICKS)) ? 10 : 2;
    if (vertical)
        t.thumb = {across, along, across + t.thumbLength, along + t.thumbWidth};
    else
        t.thumb = {along, across, along + t.thumbWidth, across + t.thumbLength};
}

void Layout(HWND hwnd, TrackbarState &t) {
    DWORD style = StyleOf(hwnd);
    bool vertical = (style & TBS_VERT) != 0;
    bool selection = (style & TBS_ENABLESELRANGE) != 0;
    RECT client;
    GetClientRect(hwnd, &client);
    int across = vertical ? client.right : client.bottom;
    int along = vertical ? client.bottom : client.right;
    int wanted = selection ? 23 : 21;
    t.thumbLength = across >= wanted ? wanted : across > 9 ? across - 6 : 4;
    t.thumbWidth = (t.thumbLength / 2) | 1;
    int inset = t.thumbLength / 4 + 3;
    int thickness = selection ? (t.thumbLength / 4) * 3 : 4;
    int top = selection ? (t.thumbLength - thickness + 2) / 2 : t.thumbLength / 2 - 1;
    if (style & TBS_BOTH)
        top += (style & TBS_NOTICKS) ? 1 : 9;
    else if (style & TBS_TOP)
        top += (style & TBS_NOTICKS) ? 2 : 10;
    if (vertical)
        t.channel = {top, inset, top + thickness, along - inset};
    else
        t.channel = {inset, top, along - inset, top + thickness};
    PlaceThumb(hwnd, t);
}

LONG PositionAt(const TrackbarState &t, int place, bool vertical) {
    int travel = Travel(t, vertical);
    if (travel <= 0 || t.max <= t.min) return t.min;
    double along = place - ChannelStart(t, vertical) - t.thumbWidth / 2;
    double p = t.min + along * ((double)t.max - t.min) / travel;
    p = std::clamp(p, (double)t.min, (double)t.max);
    return (LONG)std::lround(p);
}

void Notify(HWND hwnd, WORD code, LONG position = 0) {
    HWND parent = GetParent(hwnd);
    if (!parent || !FindWindowRecord(parent)) return;
    WPARAM wp = code == TB_THUMBTRACK || code == TB_THUMBPOSITION ? MAKEWPARAM(code, (WORD)position) : code;
    SendMessageA(parent, Vertical(hwnd) ? WM_VSCROLL : WM_HSCROLL, wp, (LPARAM)hwnd);
}

// Clamps into the range as the control always does: below the minimum
// first, then above the maximum (so an upside-down range ends at its maximum).
LONG Clamp(const TrackbarState &t, LONG p) {
    if (p < t.min) p = t.min;
    if (p > t.max) p = t.max;
    return p;
}

void SetPosition(HWND hwnd, TrackbarState &t, LONG p) {
    p = Clamp(t, p);
    if (p == t.pos) return;
    t.pos = p;
    PlaceThumb(hwnd, t);
    InvalidateRect(hwnd, nullptr, FALSE);
}

// One step of the keyboard or a page of the channel: nothing to say when
// the thumb is already at that end.
void Step(HWND hwnd, TrackbarState &t, LONG by, WORD code) {
    if ((by < 0 && t.pos == t.min) || (by > 0 && t.pos == t.max)) return;
    SetPosition(hwnd, t, t.pos + by);
    Notify(hwnd, code);
}

void Jump(HWND hwnd, TrackbarState &t, bool toMax) {
    LONG target = toMax ? t.max : t.min;
    if (t.pos == target) return;
    SetPosition(hwnd, t, target);
    Notify(hwnd, toMax ? TB_BOTTOM : TB_TOP);
}

void PageTowards(HWND hwnd, TrackbarState &t, POINT pt) {
    bool vertical = Vertical(hwnd);
    LONG towards = PositionAt(t, vertical ? pt.y : pt.x, vertical) - t.pos;
    if (towards > 0 && t.autoPage > 0)
        Step(hwnd, t, t.page, TB_PAGEDOWN);
    else if (towards < 0 && t.autoPage < 0)
        Step(hwnd, t, -t.page, TB_PAGEUP);
}

// The band a press pages in: the channel's length, the thumb's breadth.
bool InPageBand(HWND hwnd, const TrackbarState &t, POINT pt) {
    RECT band = t.channel;
    if (Vertical(hwnd)) {
        band.left = t.thumb.left;
        band.right = t.thumb.right;
    } else {
        band.top = t.thumb.top;
        band.bottom = t.thumb.bottom;
    }
    return pt.x >= band.left && pt.x < band.right && pt.y >= band.top && pt.y < band.bottom;
}

void KeyDown(HWND hwnd, TrackbarState &t, UINT vk) {
    DWORD style = StyleOf(hwnd);
    bool vertical = (style & TBS_VERT) != 0;
    // TBS_DOWNISLEFT turns the keys that do not lie along the bar around.
    bool flip = (style & TBS_DOWNISLEFT) != 0;
    switch (vk) {
    case VK_UP:
    case VK_DOWN: {
        bool down = (vk == VK_DOWN) != (!vertical && flip);
        Step(hwnd, t, down ? t.line : -t.line, down ? TB_LINEDOWN : TB_LINEUP);
        break;
    }
    case VK_LEFT:
    case VK_RIGHT: {
        bool down = (vk == VK_RIGHT) != (vertical && flip);
        Step(hwnd, t, down ? t.line : -t.line, down ? TB_LINEDOWN : TB_LINEUP);
        break;
    }
    case VK_NEXT:
    case VK_PRIOR: {
        bool down = (vk == VK_NEXT) != (!vertical && flip);
        Step(hwnd, t, down ? t.page : -t.page, down ? TB_PAGEDOWN : TB_PAGEUP);
        break;
    }
    case VK_HOME:
        Jump(hwnd, t, false);
        break;
    case VK_END:
        Jump(hwnd, t, true);
        break;
    }
}

void EndGesture(HWND hwnd, TrackbarState &t) {
    if (t.autoPage) KillTimer(hwnd, kPageTimer);
    t.dragging = false;
    t.autoPage = 0;
    InvalidateRect(hwnd, nullptr, FALSE);
}

void RangeChanged(HWND hwnd, TrackbarState &t, BOOL redraw) {
    t.pos = Clamp(t, t.pos);
    // A new range brings a page of a fifth of it.
    t.page = std::max<LONG>((t.max - t.min) / 5, 1);
    PlaceThumb(hwnd, t);
    if (redraw) InvalidateRect(hwnd, nullptr, FALSE);
}

BOOL CopyRectTo(LPARAM lParam, const RECT &r) {
    if (!lParam) return FALSE;
    *(RECT *)lParam = r;
    return TRUE;
}

}  // namespace

bool TrackbarThumbCentre(HWND trackbar, POINT *centre) {
    TrackbarState *t = TrackbarOf(trackbar);
    if (!t) return false;
    *centre = {(t->thumb.left + t->thumb.right) / 2, (t->thumb.top + t->thumb.bottom) / 2};
    return true;
}

bool TrackbarPointForPosition(HWND trackbar, LONG position, POINT *point) {
    TrackbarState *t = TrackbarOf(trackbar);
    if (!t) return false;
    bool vertical = Vertical(trackbar);
    position = Clamp(*t, position);
    long long range = (long long)t->max - t->min;
    int travel = std::max(Travel(*t, vertical), 0);
    int ideal = ChannelStart(*t, vertical) + t->thumbWidth / 2 +
                (range > 0 ? (int)(travel * ((long long)position - t->min) / range) : 0);
    // The ideal pixel may round to a neighbour of the position; a pixel or
    // two further may hit it exactly.
    int place = ideal;
    for (int delta : {0, 1, -1, 2, -2}) {
        if (PositionAt(*t, ideal + delta, vertical) == position) {
            place = ideal + delta;
            break;
        }
    }
    int across = vertical ? (t->thumb.left + t->thumb.right) / 2 : (t->thumb.top + t->thumb.bottom) / 2;
    *point = vertical ? POINT{across, place} : POINT{place, across};
    return true;
}

LRESULT CALLBACK TrackbarProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        Window *w = FindWindowRecord(hwnd);
        if (!w) return FALSE;
        w->control = std::make_shared<ControlState>();
        w->control->kind = ControlKind::Trackbar;
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
    ControlState *c = ControlOf(hwnd, ControlKind::Trackbar);
    if (!c) return DefWindowProcA(hwnd, msg, wParam, lParam);
    TrackbarState &t = c->trackbar;
    switch (msg) {
    case WM_NCCALCSIZE:
        ClientInsideEdge(hwnd, (RECT *)lParam);
        return 0;
    case WM_CREATE:
    case WM_SIZE:
        Layout(hwnd, t);
        return 0;
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS;
    case TBM_GETPOS:
        return t.pos;
    case TBM_GETRANGEMIN:
        return t.min;
    case TBM_GETRANGEMAX:
        return t.max;
    case TBM_SETPOS:
        SetPosition(hwnd, t, (LONG)lParam);
        return 0;
    case TBM_SETRANGE:
        // Two signed words: the minimum low, the maximum high.
        t.min = (SHORT)LOWORD(lParam);
        t.max = (SHORT)HIWORD(lParam);
        RangeChanged(hwnd, t, (BOOL)wParam);
        return 0;
    case TBM_SETRANGEMIN:
        t.min = (LONG)lParam;
        RangeChanged(hwnd, t, (BOOL)wParam);
        return 0;
    case TBM_SETRANGEMAX:
        t.max = (LONG)lParam;
        RangeChanged(hwnd, t, (BOOL)wParam);
        return 0;
    case TBM_SETPAGESIZE: {
        LONG previous = t.page;
        t.page = (LONG)lParam;
        return previous;
    }
    case TBM_GETPAGESIZE:
        return t.page;
    case TBM_SETLINESIZE: {
        LONG previous = t.line;
        t.line = (LONG)lParam;
        return previous;
    }
    case TBM_GETLINESIZE:
        return t.line;
    case TBM_SETSEL:
    case TBM_SETSELSTART:
    case TBM_SETSELEND:
        // Only a trackbar with a selection range keeps one.
        if (!(StyleOf(hwnd) & TBS_ENABLESELRANGE)) {
            t.selStart = t.selEnd = 0;
            return 0;
        }
        if (msg == TBM_SETSEL) {
            t.selStart = (SHORT)LOWORD(lParam);
            t.selEnd = (SHORT)HIWORD(lParam);
        } else if (msg == TBM_SETSELSTART) {
            t.selStart = (LONG)lParam;
        } else {
            t.selEnd = (LONG)lParam;
        }
        t.selStart = std::max(t.selStart, t.min);
        t.selEnd = std::min(t.selEnd, t.max);
        if (wParam) InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
    case TBM_GETSELSTART:
        return t.selStart;
    case TBM_GETSELEND:
        return t.selEnd;
    case TBM_CLEARSEL:
        t.selStart = t.selEnd = 0;
        if (wParam) InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
    case TBM_GETTHUMBRECT:
        return CopyRectTo(lParam, t.thumb);
    case TBM_GETCHANNELRECT:
        CopyRectTo(lParam, t.channel);
        return 0;
    case TBM_GETTHUMBLENGTH:
        return t.thumbLength;
    case TBM_GETNUMTICS:
        return (StyleOf(hwnd) & TBS_NOTICKS) ? 0 : 2;
    case WM_KEYDOWN:
        KeyDown(hwnd, t, (UINT)wParam);
        return TRUE;
    case WM_KEYUP:
        // Every released key that moves the thumb ends the move, whether it
        // moved it or not.
        switch (wParam) {
        case VK_LEFT:
        case VK_UP:
        case VK_RIGHT:
        case VK_DOWN:
        case VK_NEXT:
        case VK_PRIOR:
        case VK_HOME:
        case VK_END:
            Notify(hwnd, TB_ENDTRACK);
        }
        return TRUE;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        SetFocus(hwnd);
        TrackbarState *live = TrackbarOf(hwnd);
        if (!live) return 0;
        POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        if (pt.x >= live->thumb.left && pt.x < live->thumb.right && pt.y >= live->thumb.top &&
            pt.y < live->thumb.bottom) {
            live->dragging = true;
            SetCapture(hwnd);
            InvalidateRect(hwnd, nullptr, FALSE);
            return 0;
        }
        if (!InPageBand(hwnd, *live, pt)) return 0;
        bool vertical = Vertical(hwnd);
        LONG towards = PositionAt(*live, vertical ? pt.y : pt.x, vertical) - live->pos;
        if (towards == 0) return 0;
        live->autoPage = towards < 0 ? -1 : 1;
        PageTowards(hwnd, *live, pt);
        SetCapture(hwnd);
        SetTimer(hwnd, kPageTimer, kPageRepeatMs, nullptr);
        return 0;
    }
    case WM_MOUSEMOVE: {
        if (!t.dragging) return 0;
        bool vertical = Vertical(hwnd);
        LONG p = PositionAt(t, vertical ? GET_Y_LPARAM(lParam) : GET_X_LPARAM(lParam), vertical);
        if (p == t.pos) return 0;
        SetPosition(hwnd, t, p);
        Notify(hwnd, TB_THUMBTRACK, t.pos);
        return 0;
    }
    case WM_TIMER:
        if (wParam == kPageTimer && t.autoPage) {
            POINT pt;
            GetCursorPos(&pt);
            POINT origin = ClientOrigin(FindWindowRecord(hwnd));
            pt.x -= origin.x;
            pt.y -= origin.y;
            PageTowards(hwnd, t, pt);
        }
        return 0;
    case WM_LBUTTONUP:
        if (t.dragging) {
            LONG p = t.pos;
            EndGesture(hwnd, t);
            Notify(hwnd, TB_THUMBPOSITION, p);
            if (!IsWindow(hwnd)) return 0;
            Notify(hwnd, TB_ENDTRACK);
        } else if (t.autoPage) {
            EndGesture(hwnd, t);
            Notify(hwnd, TB_ENDTRACK);
        } else {
            return 0;
        }
        if (IsWindow(hwnd) && GetCapture() == hwnd) ReleaseCapture();
        return 0;
    case WM_CAPTURECHANGED:
        // The mouse was taken away in the middle of a gesture: it ends there.
        if ((t.dragging || t.autoPage) && (HWND)lParam != hwnd) {
            EndGesture(hwnd, t);
            Notify(hwnd, TB_ENDTRACK);
        }
        return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        t.focused = msg == WM_SETFOCUS;
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
    case WM_PAINT:
        PaintTrackbar(hwnd);
        return 0;
    case WM_ENABLE:
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
    case WM_SETFONT:
        c->font = (HFONT)wParam;
        return 0;
    case WM_GETFONT:
        return (LRESULT)c->font;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace layer

extern "C" void WINAPI InitCommonControls(void) {
    // The classes exist from the layer's start; asking again changes nothing.
    layer::EnsureStarted();
}
