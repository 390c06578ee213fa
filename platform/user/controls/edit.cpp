// The edit control: text with a selection (anchor and caret), typing,
// Backspace and Delete, caret keys, clicks, and the notifications its parent
// hears. Its state is EditState on the window record (see button_static.cpp).
//
// A click is measured with the widths the text is drawn with
// (EditLineLeft and the font's glyphs), so it lands on the character shown
// under the pointer.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "user/controls/controls.h"
#include "gdi/font.h"

namespace layer {

namespace {

constexpr int kMargin = 1;  // pixels between the client edge and the text

DWORD StyleOf(HWND hwnd) { return (DWORD)GetWindowLongA(hwnd, GWL_STYLE); }

EditState *EditOf(HWND hwnd) {
    ControlState *c = ControlOf(hwnd, ControlKind::Edit);
    return c ? &c->edit : nullptr;
}

int SelectionStart(const EditState &e) { return std::min(e.anchor, e.caret); }
int SelectionEnd(const EditState &e) { return std::max(e.anchor, e.caret); }

// Replaces the selection with `text` and leaves the caret after it. With
// `honourLimit`, what does not fit is dropped and EN_MAXTEXT tells the
// parent; with `notify`, a change is announced by EN_UPDATE and EN_CHANGE.
void ReplaceSelection(HWND hwnd, std::string text, bool honourLimit, bool notify) {
    EditState *e = EditOf(hwnd);
    if (!e) return;
    DWORD style = StyleOf(hwnd);
    if (style & ES_UPPERCASE)
        for (char &ch : text) ch = (char)std::toupper((unsigned char)ch);
    else if (style & ES_LOWERCASE)
        for (char &ch : text) ch = (char)std::tolower((unsigned char)ch);
    int start = SelectionStart(*e), end = SelectionEnd(*e);
    size_t kept = e->text.size() - (size_t)(end - start);
    bool truncated = false;
    if (honourLimit && kept + text.size() > e->limit) {
        text.resize(e->limit > kept ? e->limit - kept : 0);
        truncated = true;
    }
    bool changed = end > start || !text.empty();
    e->text.replace((size_t)start, (size_t)(end - start), text);
    e->anchor = e->caret = start + (int)text.size();
    if (changed) e->modified = true;
    InvalidateRect(hwnd, nullptr, FALSE);
    if (truncated) NotifyParent(hwnd, EN_MAXTEXT);
    if (changed && notify && IsWindow(hwnd)) {
        NotifyParent(hwnd, EN_UPDATE);
        if (IsWindow(hwnd)) NotifyParent(hwnd, EN_CHANGE);
    }
}

// EM_SETSEL's rules: -1 as the start keeps the caret and drops the
// selection; other values are clamped to the text; the end is the caret.
void SetSelection(HWND hwnd, UINT start, UINT end) {
    EditState *e = EditOf(hwnd);
    if (!e) return;
    UINT length = (UINT)e->text.size();
    if (start == (UINT)-1) {
        start = end = (UINT)e->caret;
    } else {
        start = std::min(start, length);
        end = std::min(end, length);
    }
    if ((int)start != e->anchor || (int)end != e->caret) InvalidateRect(hwnd, nullptr, FALSE);
    e->anchor = (int)start;
    e->caret = (int)end;
}

void MoveCaret(EditState *e, int to, bool extend) {
    to = std::clamp(to, 0, (int)e->text.size());
    e->caret = to;
    if (!extend) e->anchor = to;
}

// Multiline text keeps "\r\n" between lines.
int LineStart(const std::string &text, int at) {
    while (at > 0 && text[(size_t)at - 1] != '\n') --at;
    return at;
}
int LineEnd(const std::string &text, int at) {
    while ((size_t)at < text.size() && text[(size_t)at] != '\r' && text[(size_t)at] != '\n') ++at;
    return at;
}

void MoveVertically(EditState *e, bool up, bool extend) {
    const std::string &t = e->text;
    int start = LineStart(t, e->caret);
    int column = e->caret - start;
    int target;
    if (up) {
        if (start == 0) return;
        int previous = LineStart(t, start - 1 > 0 && t[(size_t)start - 2] == '\r' ? start - 2 : start - 1);
        target = std::min(previous + column, LineEnd(t, previous));
    } else {
        int end = LineEnd(t, e->caret);
        if ((size_t)end >= t.size()) return;
        int next = end + (t[(size_t)end] == '\r' && (size_t)end + 1 < t.size() && t[(size_t)end + 1] == '\n' ? 2 : 1);
        target = std::min(next + column, LineEnd(t, next));
    }
    MoveCaret(e, target, extend);
}

// The character index nearest a client point: the line under it (a
// single-line box has one), then the nearest boundary between characters
// as the text is drawn, aligned as the style says.
int IndexAt(HWND hwnd, const EditState &e, int x, int y) {
    ControlState *c = ControlOf(hwnd, ControlKind::Edit);
    TextStyle style = StyleOfFont(c ? c->font : nullptr);
    int start = 0;
    if (StyleOf(hwnd) & ES_MULTILINE) {
        int line = std::max(0, y - kMargin) / LineHeight(style);
        for (; line > 0; --line) {
            int end = LineEnd(e.text, start);
            if ((size_t)end >= e.text.size()) break;
            start = end + (e.text[(size_t)end] == '\r' && (size_t)end + 1 < e.text.size() ? 2 : 1);
        }
    }
    int end = (StyleOf(hwnd) & ES_MULTILINE) ? LineEnd(e.text, start) : (int)e.text.size();
    const char *line = e.text.data() + start;
    int pen = EditLineLeft(hwnd, TextWidth(style, line, (size_t)(end - start)));
    for (int i = start; i < end; ++i) {
        int advance = CharAdvance(style, (unsigned char)e.text[(size_t)i]);
        if (x < pen + (advance + 1) / 2) return i;
        pen += advance;
    }
    return end;
}

void TypeCharacter(HWND hwnd, char ch) {
    EditState *e = EditOf(hwnd);
    if (!e) return;
    DWORD style = StyleOf(hwnd);
    bool multiline = (style & ES_MULTILINE) != 0;
    bool readOnly = (style & ES_READONLY) != 0;
    bool control = S().threadKeyDown[VK_CONTROL];
    switch (ch) {
    case '\r':
        // In a dialog, Enter belongs to the default button unless the box wants it.
        if (multiline && !(style & ES_WANTRETURN) && e->dialogMode) return;
        [[fallthrough]];
    case '\n':
        if (multiline && !readOnly) ReplaceSelection(hwnd, "\r\n", true, true);
        return;
    case '\t':
        if (multiline && !readOnly && !e->dialogMode) ReplaceSelection(hwnd, "\t", true, true);
        return;
    case '\b':
        if (readOnly || control) return;
        if (e->anchor == e->caret) {
            if (e->caret == 0) return;
            e->anchor = e->caret - 1;
        }
        ReplaceSelection(hwnd, "", false, true);
        return;
    }
    if ((unsigned char)ch < ' ' || ch == 0x7F || readOnly) return;
    // ES_NUMBER takes digits only; other keys are ignored.
    if ((style & ES_NUMBER) && !(ch >= '0' && ch <= '9')) return;
    ReplaceSelection(hwnd, std::string(1, ch), true, true);
}

void KeyDown(HWND hwnd, UINT vk) {
    EditState *e = EditOf(hwnd);
    if (!e) return;
    State &s = S();
    if (s.threadKeyDown[VK_MENU]) return;
    bool shift = s.threadKeyDown[VK_SHIFT], control = s.threadKeyDown[VK_CONTROL];
    DWORD style = StyleOf(hwnd);
    bool multiline = (style & ES_MULTILINE) != 0;
    HWND parent = GetParent(hwnd);
    switch (vk) {
    case VK_LEFT:
        if (e->anchor != e->caret && !shift)
            MoveCaret(e, SelectionStart(*e), false);
        else
            MoveCaret(e, e->caret - 1, shift);
        break;
    case VK_RIGHT:
        if (e->anchor != e->caret && !shift)
            MoveCaret(e, SelectionEnd(*e), false);
        else
            MoveCaret(e, e->caret + 1, shift);
        break;
    case VK_UP:
    case VK_DOWN:
        if (multiline)
            MoveVertically(e, vk == VK_UP, shift);
        else
            MoveCaret(e, e->caret + (vk == VK_UP ? -1 : 1), shift);
        break;
    case VK_HOME:
        MoveCaret(e, multiline && !control ? LineStart(e->text, e->caret) : 0, shift);
        break;
    case VK_END:
        MoveCaret(e, multiline && !control ? LineEnd(e->text, e->caret) : (int)e->text.size(), shift);
        break;
    case VK_DELETE:
        if (style & ES_READONLY) break;
        if (e->anchor == e->caret) {
            if ((size_t)e->caret >= e->text.size()) break;
            e->anchor = e->caret + 1;
        }
        ReplaceSelection(hwnd, "", false, true);
        break;
    case VK_RETURN: {
        // A box in a dialog that does not want Enter hands it to the
        // default button: the focus moves there and the key follows it.
        if ((multiline && (style & ES_WANTRETURN)) || !e->dialogMode || control || !parent) break;
        LRESULT defId = SendMessageA(parent, DM_GETDEFID, 0, 0);
        if (HIWORD(defId) != DC_HASDEFID) break;
        HWND button = GetDlgItem(parent, LOWORD(defId));
        if (!button) break;
        SendMessageA(parent, WM_NEXTDLGCTL, (WPARAM)button, TRUE);
        PostMessageA(button, WM_KEYDOWN, VK_RETURN, 0);
        break;
    }
    case VK_ESCAPE:
        // A multiline box takes every key, so it passes Escape on itself.
        if (multiline && e->dialogMode && parent) PostMessageA(parent, WM_CLOSE, 0, 0);
        break;
    case VK_TAB:
        if (multiline && e->dialogMode && parent) SendMessageA(parent, WM_NEXTDLGCTL, shift, 0);
        break;
    default:
        return;
    }
    InvalidateRect(hwnd, nullptr, FALSE);
}

}  // namespace

int EditLineLeft(HWND edit, int textWidth) {
    RECT client;
    GetClientRect(edit, &client);
    DWORD style = StyleOf(edit);
    // A thin border is drawn inside the client area, and the text keeps off it.
    EditState *e = EditOf(edit);
    int margin = kMargin + (e && e->thinBorder ? 1 : 0);
    int left = margin;
    if (style & ES_RIGHT)
        left = client.right - margin - textWidth;
    else if (style & ES_CENTER)
        left = (client.right - textWidth) / 2;
    // Text wider than the box starts at the left, whatever the alignment.
    return std::max(left, margin);
}

LRESULT CALLBACK EditProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        Window *w = FindWindowRecord(hwnd);
        if (!w) return FALSE;
        w->control = std::make_shared<ControlState>();
        w->control->kind = ControlKind::Edit;
        const CREATESTRUCTA *cs = (const CREATESTRUCTA *)lParam;
        if (cs && cs->lpszName && !IS_INTRESOURCE(cs->lpszName) && (unsigned char)cs->lpszName[0] != 0xFF)
            w->control->edit.text = cs->lpszName;
        // A plain border is not a frame around the client area: the box
        // draws a one-pixel line inside it instead.
        if ((w->style & WS_BORDER) && !(w->exStyle & WS_EX_CLIENTEDGE)) {
            w->style &= ~WS_BORDER;
            w->control->edit.thinBorder = true;
        }
        return TRUE;
    }
    ControlState *c = ControlOf(hwnd, ControlKind::Edit);
    if (!c) return DefWindowProcA(hwnd, msg, wParam, lParam);
    EditState &e = c->edit;
    switch (msg) {
    case WM_NCCALCSIZE:
        ClientInsideEdge(hwnd, (RECT *)lParam);
        return 0;
    case WM_GETDLGCODE: {
        LRESULT code = DLGC_HASSETSEL | DLGC_WANTCHARS | DLGC_WANTARROWS;
        if (StyleOf(hwnd) & ES_MULTILINE) code |= DLGC_WANTALLKEYS;
        if (lParam) e.dialogMode = true;
        return code;
    }
    case WM_SETTEXT: {
        e.text = lParam ? (const char *)lParam : "";
        e.anchor = e.caret = 0;
        e.modified = false;
        InvalidateRect(hwnd, nullptr, FALSE);
        // Only a single-line box announces a change made by the program.
        if (!(StyleOf(hwnd) & ES_MULTILINE)) {
            NotifyParent(hwnd, EN_UPDATE);
            if (IsWindow(hwnd)) NotifyParent(hwnd, EN_CHANGE);
        }
        return TRUE;
    }
    case WM_GETTEXT: {
        char *buffer = (char *)lParam;
        if (!buffer || wParam == 0) return 0;
        size_t n = std::min(e.text.size(), (size_t)wParam - 1);
        std::memcpy(buffer, e.text.data(), n);
        buffer[n] = '\0';
        return (LRESULT)n;
    }
    case WM_GETTEXTLENGTH:
        return (LRESULT)e.text.size();
    case EM_GETSEL: {
        DWORD start = (DWORD)SelectionStart(e), end = (DWORD)SelectionEnd(e);
        if (wParam) *(DWORD *)wParam = start;
        if (lParam) *(DWORD *)lParam = end;
        return MAKELONG(std::min<DWORD>(start, 0xFFFF), std::min<DWORD>(end, 0xFFFF));
    }
    case EM_SETSEL:
        SetSelection(hwnd, (UINT)wParam, (UINT)lParam);
        return 1;
    case EM_REPLACESEL:
        ReplaceSelection(hwnd, lParam ? (const char *)lParam : "", true, true);
        return 1;
    case EM_LIMITTEXT: {
        // No limit given means as much as a box can hold.
        size_t limit = wParam ? (size_t)wParam : (StyleOf(hwnd) & ES_MULTILINE) ? 0xFFFFFFFFu : 0x7FFFFFFEu;
        e.limit = limit;
        return 0;
    }
    case EM_GETLIMITTEXT:
        return (LRESULT)e.limit;
    case EM_GETMODIFY:
        return e.modified;
    case EM_SETMODIFY:
        e.modified = wParam != 0;
        return 0;
    case EM_SETREADONLY: {
        DWORD style = StyleOf(hwnd);
        DWORD wanted = wParam ? style | ES_READONLY : style & ~ES_READONLY;
        if (wanted != style) {
            SetWindowLongPtrA(hwnd, GWL_STYLE, (LONG)wanted);
            // A box that cannot be typed in has the face colour.
            InvalidateRect(hwnd, nullptr, FALSE);
        }
        return 1;
    }
    case WM_PAINT:
        PaintEdit(hwnd);
        return 0;
    case WM_CHAR:
        TypeCharacter(hwnd, (char)wParam);
        return 0;
    case WM_KEYDOWN:
        KeyDown(hwnd, (UINT)wParam);
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        bool extend = (wParam & MK_SHIFT) != 0;
        int index = IndexAt(hwnd, e, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        MoveCaret(&e, index, extend);
        e.selecting = true;
        SetCapture(hwnd);
        if (GetFocus() != hwnd) SetFocus(hwnd);
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
    }
    case WM_MOUSEMOVE:
        if (e.selecting && GetCapture() == hwnd) {
            MoveCaret(&e, IndexAt(hwnd, e, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)), true);
            InvalidateRect(hwnd, nullptr, FALSE);
        }
        return 0;
    case WM_LBUTTONUP:
        if (e.selecting) {
            e.selecting = false;
            if (GetCapture() == hwnd) ReleaseCapture();
        }
        return 0;
    case WM_CAPTURECHANGED:
        e.selecting = false;
        return 0;
    case WM_SETFOCUS:
        e.focused = true;
        InvalidateRect(hwnd, nullptr, FALSE);
        NotifyParent(hwnd, EN_SETFOCUS);
        return 0;
    case WM_KILLFOCUS:
        e.focused = false;
        InvalidateRect(hwnd, nullptr, FALSE);
        NotifyParent(hwnd, EN_KILLFOCUS);
        return 0;
    case WM_SETFONT:
        return SetControlFont(hwnd, c, wParam, lParam);
    case WM_GETFONT:
        return (LRESULT)c->font;
    case WM_ENABLE:
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace layer
