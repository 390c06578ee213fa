// The system controls (button, edit, static, trackbar) and the dialog
// manager, as the rest of the layer sees them. Each control keeps its state
// on its window record (Window::control) and each dialog its own
// (Window::dialog), so whoever draws them reads it from there.
#ifndef VANTREL_PLATFORM_CONTROLS_H
#define VANTREL_PLATFORM_CONTROLS_H

#include <windows.h>

#include <commctrl.h>

#include <string>

#include "gdi/gdi_internal.h"
#include "session/layer_internal.h"

namespace layer {

enum class ControlKind { Button, Edit, Static, Trackbar };

struct ButtonState {
    UINT check = BST_UNCHECKED;
    bool pushed = false;    // drawn pressed: the mouse is down inside it, or the space bar is held
    bool tracking = false;  // a press began on it and has not ended
    bool focused = false;
};

struct EditState {
    std::string text;
    int anchor = 0;  // the selection runs from anchor to caret; equal when nothing is selected
    int caret = 0;
    bool focused = false;
    bool selecting = false;   // the mouse is dragging a selection
    bool dialogMode = false;  // asked for its dialog code with a message: it lives in a dialog
    bool modified = false;
    bool thinBorder = false;  // created with WS_BORDER outside a dialog: a line inside the client area
    size_t limit = 30000;
};

struct StaticState {
    HANDLE image = nullptr;   // SS_BITMAP: the bitmap shown
    HANDLE loaded = nullptr;  // the one the control loaded itself; it goes with the control
};

struct TrackbarState {
    LONG min = 0, max = 100, pos = 0;
    LONG line = 1, page = 20;
    LONG selStart = 0, selEnd = 0;
    int thumbLength = 0;  // across the channel
    int thumbWidth = 0;   // along it
    RECT channel = {0, 0, 0, 0};  // client coordinates
    RECT thumb = {0, 0, 0, 0};
    bool dragging = false;
    int autoPage = 0;  // -1 or +1 while a press on the channel keeps paging
    bool focused = false;
};

struct ControlState {
    ControlKind kind = ControlKind::Static;
    HFONT font = nullptr;  // from WM_SETFONT; null is the system font
    ButtonState button;
    EditState edit;
    StaticState picture;
    TrackbarState trackbar;
};

struct DialogState {
    HFONT font = nullptr;  // made from the template's font; deleted with the dialog
    int baseX = 8, baseY = 16;  // dialog base units of that font, in pixels
    UINT defaultId = IDOK;
    INT_PTR result = 0;
    bool ended = false;
    HWND savedFocus = nullptr;
    HWND disabledOwner = nullptr;  // the owner the modal loop disabled, to enable again
    bool loopRunning = false;
};

// The state of a control of the given kind, or null.
ControlState *ControlOf(HWND hwnd, ControlKind kind);
DialogState *DialogOf(HWND hwnd);

// Called when the layer starts: the classes every Windows process has.
void RegisterSystemClasses();

// WM_SETFONT as the text-drawing controls answer it: keep the font, and
// repaint when the low word of lParam asks for it.
LRESULT SetControlFont(HWND hwnd, ControlState *c, WPARAM font, LPARAM redraw);

LRESULT CALLBACK ButtonProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK EditProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK TrackbarProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// ---- shared by the controls ---------------------------------------------------
// WM_COMMAND to the parent: the control's id and `code`, the control in lParam.
void NotifyParent(HWND control, WORD code);
// The client area inside a WS_EX_CLIENTEDGE border (2 pixels a side), as
// WM_NCCALCSIZE answers it for every control.
void ClientInsideEdge(HWND hwnd, RECT *windowRect);
// Gives a window a new size, its client and surface with it (WM_SIZE follows).
void ResizeWindowInternal(HWND hwnd, int width, int height);
// (a * b) / c rounded to nearest, halves away from zero; 0 for c == 0.
int MulDivRound(int a, int b, int c);
// The dialog base units of a template font; `face` empty means no font was given.
void BaseUnitsForFont(const std::string &face, int pointSize, int *baseX, int *baseY);

// Where a line of an edit control's text begins, in client coordinates, for
// a line `textWidth` pixels wide: what a click is measured against and
// where the text is drawn.
int EditLineLeft(HWND edit, int textWidth);

// ---- painting (paint_buttons.cpp, paint_fields.cpp) --------------------------------
// WM_PAINT of each control: the whole client area from the state above.
void PaintButton(HWND hwnd);
void PaintStatic(HWND hwnd);
void PaintEdit(HWND hwnd);
void PaintTrackbar(HWND hwnd);
// The layer's surfaces hold client areas only, so the sunken edge of a
// WS_EX_CLIENTEDGE window is drawn by the windows it lies over: its parent
// and the siblings below it (a group box round it), each after painting
// itself (EndPaint).
void DrawEdgesOver(HWND hwnd, HDC hdc);
// A group box lets what is under it show through (user/compose.cpp): it
// takes the pixels of its parent and of the siblings below it into its
// surface before drawing its frame, and is invalidated when they change.
void ComposeUnder(HWND hwnd, HDC hdc);
// Part of a window's surface changed (client coordinates): the see-through
// windows over it are invalidated.
void RevealChange(HWND hwnd, const RECT &clientRect);

// ---- the trackbar, for the hooks --------------------------------------------------
// Where the thumb's centre is now, in the trackbar's client coordinates.
bool TrackbarThumbCentre(HWND trackbar, POINT *centre);
// A client point whose press-and-drag puts the thumb at `position` (the
// nearest reachable position when the channel has fewer pixels than positions).
bool TrackbarPointForPosition(HWND trackbar, LONG position, POINT *point);

}  // namespace layer

#endif
