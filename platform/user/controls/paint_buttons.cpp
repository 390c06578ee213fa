// Painting the buttons (push buttons, check boxes, radio buttons and group
// boxes) in the classic grey look, from the state in ButtonState, and the
// helpers every control's painter uses.
#include <string>

#include "gdi/font.h"
#include "user/controls/paint_internal.h"

namespace layer {

PaintScope::PaintScope(HWND hwnd, HFONT font) : hwnd_(hwnd) {
    dc = BeginPaint(hwnd, &ps_);
    if (!dc) return;
    GdiObject *object = GdiLookup(font);
    HGDIOBJ chosen = object && object->kind == GdiKind::Font ? (HGDIOBJ)font : GetStockObject(SYSTEM_FONT);
    previousFont_ = SelectObject(dc, chosen);
    GetClientRect(hwnd, &client);
}

PaintScope::~PaintScope() {
    if (!dc) return;
    if (previousFont_) SelectObject(dc, previousFont_);
    EndPaint(hwnd_, &ps_);
}

COLORREF Sys(int index) { return GetSysColor(index); }

void Fill(HDC dc, const RECT &r, COLORREF color) {
    if (DeviceContext *d = DcFromHandle(dc); d && !RectIsEmpty(r)) FillSolid(d, r, color);
}

void Pixel(HDC dc, int x, int y, COLORREF color) { Fill(dc, {x, y, x + 1, y + 1}, color); }

void Frame(HDC dc, const RECT &r, COLORREF topLeft, COLORREF bottomRight) {
    if (r.right - r.left < 1 || r.bottom - r.top < 1) return;
    Fill(dc, {r.left, r.top, r.right - 1, r.top + 1}, topLeft);
    Fill(dc, {r.left, r.top, r.left + 1, r.bottom - 1}, topLeft);
    Fill(dc, {r.left, r.bottom - 1, r.right, r.bottom}, bottomRight);
    Fill(dc, {r.right - 1, r.top, r.right, r.bottom}, bottomRight);
}

void RaisedEdge(HDC dc, const RECT &r) {
    Frame(dc, r, Sys(COLOR_BTNHIGHLIGHT), Sys(COLOR_3DDKSHADOW));
    Frame(dc, {r.left + 1, r.top + 1, r.right - 1, r.bottom - 1}, Sys(COLOR_3DLIGHT), Sys(COLOR_BTNSHADOW));
}

void SunkenEdge(HDC dc, const RECT &r) {
    Frame(dc, r, Sys(COLOR_BTNSHADOW), Sys(COLOR_BTNHIGHLIGHT));
    Frame(dc, {r.left + 1, r.top + 1, r.right - 1, r.bottom - 1}, Sys(COLOR_3DDKSHADOW), Sys(COLOR_3DLIGHT));
}

void FocusFrame(HDC dc, const RECT &r) {
    if (r.right - r.left < 2 || r.bottom - r.top < 2) return;
    // Every other pixel, on a checkerboard, so that neighbouring sides meet.
    COLORREF ink = Sys(COLOR_WINDOWTEXT);
    for (int x = r.left; x < r.right; ++x) {
        if (((x + r.top) & 1) == 0) Pixel(dc, x, r.top, ink);
        if (((x + r.bottom - 1) & 1) == 0) Pixel(dc, x, r.bottom - 1, ink);
    }
    for (int y = r.top + 1; y < r.bottom - 1; ++y) {
        if (((r.left + y) & 1) == 0) Pixel(dc, r.left, y, ink);
        if (((r.right - 1 + y) & 1) == 0) Pixel(dc, r.right - 1, y, ink);
    }
}

COLORREF AskParentColors(HWND control, HDC dc, UINT message, int defaultBackground) {
    COLORREF background = Sys(defaultBackground);
    SetTextColor(dc, Sys(COLOR_WINDOWTEXT));
    SetBkColor(dc, background);
    HWND parent = GetParent(control);
    if (!parent || !FindWindowRecord(parent)) return background;
    HBRUSH brush = (HBRUSH)SendMessageA(parent, message, (WPARAM)dc, (LPARAM)control);
    COLORREF color;
    bool hollow;
    // A hollow brush would leave the surface as it was; the face stands in.
    if (brush && ResolveBrush(brush, &color, &hollow) && !hollow) return color;
    return background;
}

std::string WindowText(HWND hwnd) {
    Window *w = FindWindowRecord(hwnd);
    return w ? w->title : std::string();
}

namespace {

constexpr int kCheckSize = 13;  // the check box and radio button, square
constexpr int kCheckGap = 4;    // between the box and its caption

DWORD StyleOf(HWND hwnd) { return (DWORD)GetWindowLongA(hwnd, GWL_STYLE); }

// A caption in its rectangle; a disabled one is etched, grey on a white
// shadow. Answers where the text went.
RECT Caption(HDC dc, HWND hwnd, const RECT &area, UINT format) {
    std::string text = WindowText(hwnd);
    RECT where = area;
    DrawTextA(dc, text.c_str(), (int)text.size(), &where, format | DT_CALCRECT);
    int width = where.right - where.left, height = where.bottom - where.top;
    int left = area.left, top = area.top;
    if (format & DT_CENTER) left = area.left + (area.right - area.left - width) / 2;
    if (format & DT_RIGHT) left = area.right - width;
    if (format & DT_VCENTER) top = area.top + (area.bottom - area.top - height) / 2;
    where = {left, top, left + width, top + height};
    int mode = SetBkMode(dc, TRANSPARENT);
    RECT box = area;
    if (IsWindowEnabled(hwnd)) {
        DrawTextA(dc, text.c_str(), (int)text.size(), &box, format);
    } else {
        COLORREF previous = SetTextColor(dc, Sys(COLOR_BTNHIGHLIGHT));
        RECT shadow = {box.left + 1, box.top + 1, box.right + 1, box.bottom + 1};
        DrawTextA(dc, text.c_str(), (int)text.size(), &shadow, format);
        SetTextColor(dc, Sys(COLOR_GRAYTEXT));
        DrawTextA(dc, text.c_str(), (int)text.size(), &box, format);
        SetTextColor(dc, previous);
    }
    SetBkMode(dc, mode);
    return where;
}

void PaintPushButton(HWND hwnd, const ButtonState &b, const PaintScope &p) {
    HDC dc = p.dc;
    RECT r = p.client;
    AskParentColors(hwnd, dc, WM_CTLCOLORBTN, COLOR_BTNFACE);
    SetTextColor(dc, Sys(COLOR_BTNTEXT));
    Fill(dc, r, Sys(COLOR_BTNFACE));
    // The default button wears a black frame round its edge.
    if ((StyleOf(hwnd) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
        Frame(dc, r, Sys(COLOR_WINDOWFRAME), Sys(COLOR_WINDOWFRAME));
        r = {r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
    }
    if (b.pushed)
        SunkenEdge(dc, r);
    else
        RaisedEdge(dc, r);
    RECT text = {r.left + 2, r.top + 2, r.right - 2, r.bottom - 2};
    // Pressed, the caption moves with the face, down and to the right.
    if (b.pushed) text = {text.left + 1, text.top + 1, text.right + 1, text.bottom + 1};
    Caption(dc, hwnd, text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    if (b.focused) FocusFrame(dc, {p.client.left + 4, p.client.top + 4, p.client.right - 4, p.client.bottom - 4});
}

// The classic tick: seven pixels square, three thick.
const char *const kCheckMark[] = {"......#", ".....##", "#...###", "##.###.", "#####..", ".###...", "..#...."};

// A radio button: the outer ring shaded like a sunken edge (G grey, H
// white), the inner ring darker (K black, L light), the field white (W).
const char *const kRadio[] = {"....GGGG....", "..GGKKKKGG..", ".GKKWWWWKKH.", ".GKWWWWWWLH.",
                              "GKWWWWWWWWLH", "GKWWWWWWWWLH", "GKWWWWWWWWLH", "GKWWWWWWWWLH",
                              ".GKWWWWWWLH.", ".GLLWWWWLLH.", "..HHLLLLHH..", "....HHHH...."};
const char *const kRadioDot[] = {".##.", "####", "####", ".##."};

void PaintBox(HWND hwnd, const ButtonState &b, const PaintScope &p, bool radio) {
    HDC dc = p.dc;
    RECT r = p.client;
    Fill(dc, r, AskParentColors(hwnd, dc, WM_CTLCOLORSTATIC, COLOR_BTNFACE));
    bool enabled = IsWindowEnabled(hwnd) != FALSE;
    bool leftText = (StyleOf(hwnd) & BS_LEFTTEXT) != 0;
    int top = r.top + (r.bottom - r.top - kCheckSize) / 2;
    int left = leftText ? r.right - kCheckSize : r.left;
    // The field greys while the box is held down, or when it cannot be used.
    COLORREF field = b.pushed || !enabled ? Sys(COLOR_BTNFACE) : Sys(COLOR_WINDOW);
    COLORREF mark = enabled ? Sys(COLOR_WINDOWTEXT) : Sys(COLOR_GRAYTEXT);
    if (radio) {
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 12; ++x) {
                COLORREF c;
                switch (kRadio[y][x]) {
                case 'G': c = Sys(COLOR_BTNSHADOW); break;
                case 'H': c = Sys(COLOR_BTNHIGHLIGHT); break;
                case 'K': c = Sys(COLOR_3DDKSHADOW); break;
                case 'L': c = Sys(COLOR_3DLIGHT); break;
                case 'W': c = field; break;
                default: continue;
                }
                Pixel(dc, left + x, top + y, c);
            }
        if (b.check == BST_CHECKED)
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 4; ++x)
                    if (kRadioDot[y][x] == '#') Pixel(dc, left + 4 + x, top + 4 + y, mark);
    } else {
        RECT box = {left, top, left + kCheckSize, top + kCheckSize};
        SunkenEdge(dc, box);
        RECT inside = {box.left + 2, box.top + 2, box.right - 2, box.bottom - 2};
        if (b.check == BST_INDETERMINATE) {
            // A third state: the field dithered and the tick in grey.
            for (int y = inside.top; y < inside.bottom; ++y)
                for (int x = inside.left; x < inside.right; ++x)
                    Pixel(dc, x, y, ((x + y) & 1) ? Sys(COLOR_BTNHIGHLIGHT) : Sys(COLOR_BTNFACE));
            mark = Sys(COLOR_BTNSHADOW);
        } else {
            Fill(dc, inside, field);
        }
        if (b.check != BST_UNCHECKED)
            for (int y = 0; y < 7; ++y)
                for (int x = 0; x < 7; ++x)
                    if (kCheckMark[y][x] == '#') Pixel(dc, inside.left + 1 + x, inside.top + 1 + y, mark);
    }
    RECT text = leftText ? RECT{r.left, r.top, left - kCheckGap, r.bottom}
                         : RECT{left + kCheckSize + kCheckGap, r.top, r.right, r.bottom};
    RECT where = Caption(dc, hwnd, text, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    if (b.focused && !WindowText(hwnd).empty()) {
        RECT focus = {where.left - 1, where.top - 1, where.right + 1, where.bottom + 1};
        FocusFrame(dc, RectIntersection(focus, r));
    }
}

void PaintGroupBox(HWND hwnd, const PaintScope &p) {
    HDC dc = p.dc;
    RECT r = p.client;
    COLORREF background = AskParentColors(hwnd, dc, WM_CTLCOLORSTATIC, COLOR_BTNFACE);
    // Only the frame and the caption are the box's own; inside it, what is
    // under it shows.
    ComposeUnder(hwnd, dc);
    TEXTMETRICA tm;
    GetTextMetricsA(dc, &tm);
    // An etched frame: a grey line with a white one below and right of it,
    // the top line through the middle of the caption.
    RECT frame = {r.left, r.top + tm.tmHeight / 2, r.right, r.bottom};
    Frame(dc, {frame.left, frame.top, frame.right - 1, frame.bottom - 1}, Sys(COLOR_BTNSHADOW), Sys(COLOR_BTNSHADOW));
    Frame(dc, {frame.left + 1, frame.top + 1, frame.right, frame.bottom}, Sys(COLOR_BTNHIGHLIGHT),
          Sys(COLOR_BTNHIGHLIGHT));
    if (WindowText(hwnd).empty()) return;
    RECT text = {r.left + 8, r.top, r.right - 8, r.top + tm.tmHeight};
    RECT where = text;
    std::string caption = WindowText(hwnd);
    DrawTextA(dc, caption.c_str(), (int)caption.size(), &where, DT_LEFT | DT_SINGLELINE | DT_CALCRECT);
    // The caption breaks the line.
    Fill(dc, RectIntersection(where, text), background);
    Caption(dc, hwnd, text, DT_LEFT | DT_SINGLELINE);
}

}  // namespace

void PaintButton(HWND hwnd) {
    ControlState *c = ControlOf(hwnd, ControlKind::Button);
    if (!c) return;
    PaintScope p(hwnd, c->font);
    if (!p.dc) return;
    // BeginPaint's erase may have gone through a procedure that subclasses
    // the button; the state is looked up again after it.
    if (!(c = ControlOf(hwnd, ControlKind::Button))) return;
    ButtonState b = c->button;
    switch (StyleOf(hwnd) & BS_TYPEMASK) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE:
        PaintBox(hwnd, b, p, false);
        break;
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
        PaintBox(hwnd, b, p, true);
        break;
    case BS_GROUPBOX:
        PaintGroupBox(hwnd, p);
        break;
    default:
        PaintPushButton(hwnd, b, p);
        break;
    }
}

void DrawEdgesOver(HWND hwnd, HDC hdc) {
    Window *w = FindWindowRecord(hwnd);
    if (!w) return;
    auto edge = [hdc](HWND other, int dx, int dy) {
        Window *o = FindWindowRecord(other);
        if (o && (o->style & WS_VISIBLE) && (o->exStyle & WS_EX_CLIENTEDGE))
            SunkenEdge(hdc, {o->rect.left - dx, o->rect.top - dy, o->rect.right - dx, o->rect.bottom - dy});
    };
    std::vector<HWND> children = w->children;
    for (HWND child : children) edge(child, 0, 0);
    // Siblings above this window come first in their parent's list.
    Window *parent = (w->style & WS_CHILD) ? FindWindowRecord(w->parent) : nullptr;
    if (!parent) return;
    std::vector<HWND> siblings = parent->children;
    int dx = w->rect.left + w->client.left, dy = w->rect.top + w->client.top;
    for (HWND sibling : siblings) {
        if (sibling == hwnd) break;
        edge(sibling, dx, dy);
    }
}

}  // namespace layer
