// Painting the static controls (text, pictures, rectangles and frames), the
// edit control and the trackbar in the classic grey look, from their state
// in controls.h.
#include <algorithm>
#include <string>
#include <vector>

#include "gdi/font.h"
#include "user/controls/paint_internal.h"

namespace layer {

namespace {

DWORD StyleOf(HWND hwnd) { return (DWORD)GetWindowLongA(hwnd, GWL_STYLE); }

// ---- static ---------------------------------------------------------------------------

// The picture at its own size, at the top left (centred with
// SS_CENTERIMAGE), each index through the bitmap's colour table.
void DrawPicture(HDC dc, HANDLE image, const RECT &client, DWORD style) {
    BITMAP bm;
    if (!image || GetObjectA(image, sizeof bm, &bm) != sizeof bm) return;
    int x = 0, y = 0;
    if (style & SS_CENTERIMAGE) {
        x = (client.right - bm.bmWidth) / 2;
        y = (client.bottom - bm.bmHeight) / 2;
    }
    HDC memory = CreateCompatibleDC(dc);
    if (!memory) return;
    // A bitmap held by another DC cannot be selected; it is not drawn then.
    HGDIOBJ previous = SelectObject(memory, image);
    if (previous) {
        BitBlt(dc, x, y, bm.bmWidth, bm.bmHeight, memory, 0, 0, SRCCOPY);
        SelectObject(memory, previous);
    }
    DeleteDC(memory);
}

void EtchedLine(HDC dc, const RECT &r, bool horizontal) {
    if (horizontal) {
        Fill(dc, {r.left, r.top, r.right, r.top + 1}, Sys(COLOR_BTNSHADOW));
        Fill(dc, {r.left, r.top + 1, r.right, r.top + 2}, Sys(COLOR_BTNHIGHLIGHT));
    } else {
        Fill(dc, {r.left, r.top, r.left + 1, r.bottom}, Sys(COLOR_BTNSHADOW));
        Fill(dc, {r.left + 1, r.top, r.left + 2, r.bottom}, Sys(COLOR_BTNHIGHLIGHT));
    }
}

UINT StaticTextFormat(DWORD style) {
    UINT format = DT_EXPANDTABS;
    switch (style & SS_TYPEMASK) {
    case SS_CENTER: format |= DT_CENTER | DT_WORDBREAK; break;
    case SS_RIGHT: format |= DT_RIGHT | DT_WORDBREAK; break;
    case SS_SIMPLE: format = DT_LEFT | DT_SINGLELINE; break;
    case SS_LEFTNOWORDWRAP: break;
    default: format |= DT_LEFT | DT_WORDBREAK; break;
    }
    if (style & SS_NOPREFIX) format |= DT_NOPREFIX;
    // Centred on the height too: only a single line can be.
    if (style & SS_CENTERIMAGE) format = (format & ~DT_WORDBREAK) | DT_VCENTER | DT_SINGLELINE;
    return format;
}

// ---- edit ------------------------------------------------------------------------------

constexpr int kEditTop = 1;  // pixels above the first line

struct EditLine {
    int start, end;  // character indices; `end` is before the line's CR LF
};

std::vector<EditLine> EditLines(const std::string &text, bool multiline) {
    std::vector<EditLine> lines;
    if (!multiline) return {{0, (int)text.size()}};
    int start = 0, n = (int)text.size();
    for (;;) {
        int end = start;
        while (end < n && text[(size_t)end] != '\r' && text[(size_t)end] != '\n') ++end;
        lines.push_back({start, end});
        if (end >= n) return lines;
        start = end + (text[(size_t)end] == '\r' && end + 1 < n && text[(size_t)end + 1] == '\n' ? 2 : 1);
    }
}

// ---- trackbar --------------------------------------------------------------------------

int PixelForPosition(const TrackbarState &t, bool vertical, LONG position) {
    int start = vertical ? t.channel.top : t.channel.left;
    int length = vertical ? t.channel.bottom - t.channel.top : t.channel.right - t.channel.left;
    int travel = std::max(length - t.thumbWidth, 0);
    long long range = (long long)t.max - t.min;
    long long offset = range > 0 ? travel * ((long long)std::clamp(position, t.min, t.max) - t.min) / range : 0;
    return start + t.thumbWidth / 2 + (int)offset;
}

// The thumb's outline: a rectangle, or one with a point towards the ticks
// (down for a horizontal bar unless TBS_TOP, right for a vertical one
// unless TBS_LEFT), its point as long as half the thumb is wide.
bool InThumb(const TrackbarState &t, DWORD style, int x, int y) {
    const RECT &r = t.thumb;
    if (x < r.left || x >= r.right || y < r.top || y >= r.bottom) return false;
    if (style & TBS_BOTH) return true;
    bool vertical = (style & TBS_VERT) != 0;
    bool towardsStart = (style & TBS_TOP) != 0;  // TBS_LEFT has the same value
    int across = vertical ? x - r.left : y - r.top;
    int along = vertical ? y - r.top : x - r.left;
    int length = vertical ? r.right - r.left : r.bottom - r.top;
    int width = vertical ? r.bottom - r.top : r.right - r.left;
    if (towardsStart) across = length - 1 - across;
    int point = width / 2;
    int into = across - (length - 1 - point);  // rows into the point, from 1
    if (into <= 0) return true;
    return along >= into && along <= width - 1 - into;
}

void DrawThumb(HDC dc, const TrackbarState &t, DWORD style) {
    const RECT &r = t.thumb;
    auto in = [&](int x, int y) { return InThumb(t, style, x, y); };
    // Lit from the top left: the sides facing there are white, those facing
    // away black with a grey line inside them.
    auto dark = [&](int x, int y) { return in(x, y) && (!in(x + 1, y) || (!in(x, y + 1) && in(x - 1, y))); };
    for (int y = r.top; y < r.bottom; ++y) {
        for (int x = r.left; x < r.right; ++x) {
            if (!in(x, y)) continue;
            COLORREF c;
            if (dark(x, y))
                c = Sys(COLOR_3DDKSHADOW);
            else if (!in(x - 1, y) || !in(x, y - 1))
                c = Sys(COLOR_BTNHIGHLIGHT);
            else if (dark(x + 1, y) || dark(x, y + 1))
                c = Sys(COLOR_BTNSHADOW);
            else if (t.dragging && ((x + y) & 1))
                c = Sys(COLOR_BTNHIGHLIGHT);  // held: the face dithered
            else
                c = Sys(COLOR_BTNFACE);
            Pixel(dc, x, y, c);
        }
    }
}

void DrawTick(HDC dc, const TrackbarState &t, bool vertical, LONG position, bool before) {
    int at = PixelForPosition(t, vertical, position);
    if (vertical) {
        int x = before ? t.thumb.left - 4 : t.thumb.right + 1;
        Fill(dc, {x, at, x + 3, at + 1}, Sys(COLOR_WINDOWTEXT));
    } else {
        int y = before ? t.thumb.top - 4 : t.thumb.bottom + 1;
        Fill(dc, {at, y, at + 1, y + 3}, Sys(COLOR_WINDOWTEXT));
    }
}

}  // namespace

void PaintStatic(HWND hwnd) {
    ControlState *c = ControlOf(hwnd, ControlKind::Static);
    if (!c) return;
    PaintScope p(hwnd, c->font);
    if (!p.dc || !(c = ControlOf(hwnd, ControlKind::Static))) return;
    HANDLE image = c->picture.image;
    HDC dc = p.dc;
    DWORD style = StyleOf(hwnd);
    COLORREF background = AskParentColors(hwnd, dc, WM_CTLCOLORSTATIC, COLOR_BTNFACE);
    const RECT &r = p.client;
    switch (style & SS_TYPEMASK) {
    case SS_BLACKRECT: Fill(dc, r, Sys(COLOR_3DDKSHADOW)); return;
    case SS_GRAYRECT: Fill(dc, r, Sys(COLOR_BTNSHADOW)); return;
    case SS_WHITERECT: Fill(dc, r, Sys(COLOR_BTNHIGHLIGHT)); return;
    }
    Fill(dc, r, background);
    switch (style & SS_TYPEMASK) {
    case SS_BLACKFRAME: Frame(dc, r, Sys(COLOR_3DDKSHADOW), Sys(COLOR_3DDKSHADOW)); return;
    case SS_GRAYFRAME: Frame(dc, r, Sys(COLOR_BTNSHADOW), Sys(COLOR_BTNSHADOW)); return;
    case SS_WHITEFRAME: Frame(dc, r, Sys(COLOR_BTNHIGHLIGHT), Sys(COLOR_BTNHIGHLIGHT)); return;
    case SS_ETCHEDHORZ: EtchedLine(dc, r, true); return;
    case SS_ETCHEDVERT: EtchedLine(dc, r, false); return;
    case SS_ETCHEDFRAME:
        Frame(dc, {r.left, r.top, r.right - 1, r.bottom - 1}, Sys(COLOR_BTNSHADOW), Sys(COLOR_BTNSHADOW));
        Frame(dc, {r.left + 1, r.top + 1, r.right, r.bottom}, Sys(COLOR_BTNHIGHLIGHT), Sys(COLOR_BTNHIGHLIGHT));
        return;
    case SS_BITMAP: DrawPicture(dc, image, r, style); return;
    case SS_ICON:
    case SS_OWNERDRAW:
    case SS_ENHMETAFILE: return;
    }
    std::string text = WindowText(hwnd);
    RECT box = r;
    if (!IsWindowEnabled(hwnd)) SetTextColor(dc, Sys(COLOR_GRAYTEXT));
    DrawTextA(dc, text.c_str(), (int)text.size(), &box, StaticTextFormat(style));
}

void PaintEdit(HWND hwnd) {
    ControlState *c = ControlOf(hwnd, ControlKind::Edit);
    if (!c) return;
    PaintScope p(hwnd, c->font);
    if (!p.dc || !(c = ControlOf(hwnd, ControlKind::Edit))) return;
    HFONT font = c->font;
    EditState e = c->edit;
    HDC dc = p.dc;
    DWORD style = StyleOf(hwnd);
    bool enabled = IsWindowEnabled(hwnd) != FALSE;
    // A box that cannot be typed in is coloured like a label.
    bool passive = !enabled || (style & ES_READONLY);
    COLORREF background = AskParentColors(hwnd, dc, passive ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT,
                                          passive ? COLOR_BTNFACE : COLOR_WINDOW);
    COLORREF ink = enabled ? GetTextColor(dc) : Sys(COLOR_GRAYTEXT);
    RECT inside = p.client;
    Fill(dc, inside, background);
    if (e.thinBorder) {
        Frame(dc, inside, Sys(COLOR_WINDOWFRAME), Sys(COLOR_WINDOWFRAME));
        inside = {inside.left + 1, inside.top + 1, inside.right - 1, inside.bottom - 1};
    }
    DeviceContext *target = DcFromHandle(dc);
    if (!target) return;
    TextStyle ts = StyleOfFont(font);
    int height = LineHeight(ts);
    int selStart = std::min(e.anchor, e.caret), selEnd = std::max(e.anchor, e.caret);
    bool showSelection = selStart < selEnd && (e.focused || (style & ES_NOHIDESEL));
    int y = inside.top + kEditTop;
    for (const EditLine &line : EditLines(e.text, (style & ES_MULTILINE) != 0)) {
        const char *text = e.text.data() + line.start;
        auto widthTo = [&](int index) { return TextWidth(ts, text, (size_t)(index - line.start)); };
        int left = EditLineLeft(hwnd, widthTo(line.end));
        DrawTextInk(target, left, y, ts, text, (size_t)(line.end - line.start), ink, inside);
        int from = std::max(selStart, line.start), to = std::min(selEnd, line.end);
        if (showSelection && from < to) {
            // The selection inverted: white on the highlight.
            int x = left + widthTo(from);
            Fill(dc, RectIntersection({x, y, left + widthTo(to), y + height}, inside), Sys(COLOR_HIGHLIGHT));
            DrawTextInk(target, x, y, ts, e.text.data() + from, (size_t)(to - from), Sys(COLOR_HIGHLIGHTTEXT),
                        inside);
        }
        if (e.focused && e.caret >= line.start && e.caret <= line.end) {
            int x = std::clamp(left + widthTo(e.caret), (int)inside.left, (int)inside.right - 1);
            Fill(dc, RectIntersection({x, y, x + 1, y + height}, inside), Sys(COLOR_WINDOWTEXT));
        }
        y += height;
        if (y >= inside.bottom) break;
    }
}

void PaintTrackbar(HWND hwnd) {
    ControlState *c = ControlOf(hwnd, ControlKind::Trackbar);
    if (!c) return;
    PaintScope p(hwnd, c->font);
    if (!p.dc || !(c = ControlOf(hwnd, ControlKind::Trackbar))) return;
    TrackbarState t = c->trackbar;
    HDC dc = p.dc;
    DWORD style = StyleOf(hwnd);
    bool vertical = (style & TBS_VERT) != 0;
    Fill(dc, p.client, AskParentColors(hwnd, dc, WM_CTLCOLORSTATIC, COLOR_BTNFACE));
    SunkenEdge(dc, t.channel);
    RECT well = {t.channel.left + 2, t.channel.top + 2, t.channel.right - 2, t.channel.bottom - 2};
    Fill(dc, well, Sys(COLOR_WINDOW));
    // A selection range shows once one is set.
    if ((style & TBS_ENABLESELRANGE) && t.selStart < t.selEnd) {
        int from = PixelForPosition(t, vertical, t.selStart), to = PixelForPosition(t, vertical, t.selEnd) + 1;
        RECT band = vertical ? RECT{well.left, from, well.right, to} : RECT{from, well.top, to, well.bottom};
        Fill(dc, RectIntersection(band, well), Sys(COLOR_HIGHLIGHT));
    }
    if (!(style & TBS_NOTICKS)) {
        bool before = (style & (TBS_TOP | TBS_BOTH)) != 0, after = !(style & TBS_TOP) || (style & TBS_BOTH);
        for (LONG position : {t.min, t.max}) {
            if (before) DrawTick(dc, t, vertical, position, true);
            if (after) DrawTick(dc, t, vertical, position, false);
        }
    }
    if (t.focused) FocusFrame(dc, p.client);
    if (!(style & TBS_NOTHUMB)) DrawThumb(dc, t, style);
}

}  // namespace layer
