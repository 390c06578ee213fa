// What the controls' painters share: the paint cycle with the control's
// font selected, the classic three-dimensional edges in the system colours,
// dotted focus rectangles, and the colours a parent picks for its controls.
#ifndef VANTREL_PLATFORM_PAINT_INTERNAL_H
#define VANTREL_PLATFORM_PAINT_INTERNAL_H

#include <windows.h>

#include "user/controls/controls.h"

namespace layer {

// BeginPaint with the control's font selected (the system font when it has
// none, or one that is no longer a font); EndPaint when it goes.
class PaintScope {
public:
    PaintScope(HWND hwnd, HFONT font);
    ~PaintScope();
    PaintScope(const PaintScope &) = delete;
    PaintScope &operator=(const PaintScope &) = delete;

    HDC dc = nullptr;
    RECT client = {0, 0, 0, 0};

private:
    HWND hwnd_;
    PAINTSTRUCT ps_ = {};
    HGDIOBJ previousFont_ = nullptr;
};

COLORREF Sys(int index);  // GetSysColor
void Fill(HDC dc, const RECT &r, COLORREF color);
void Pixel(HDC dc, int x, int y, COLORREF color);
// A one-pixel frame: the top and left sides in one colour, the bottom and
// right in the other (which own the corners they share).
void Frame(HDC dc, const RECT &r, COLORREF topLeft, COLORREF bottomRight);
// Two-pixel edges: raised is lit from the top left (a button at rest),
// sunken the other way (a field, a pressed button).
void RaisedEdge(HDC dc, const RECT &r);
void SunkenEdge(HDC dc, const RECT &r);
// The dotted rectangle round whatever has the keyboard focus.
void FocusFrame(HDC dc, const RECT &r);
// Asks the parent for the control's colours with WM_CTLCOLORxxx (the DC
// comes with the default text colour and this background already set) and
// answers with the background to fill with: the brush the parent returned,
// or the default system colour when it returned none.
COLORREF AskParentColors(HWND control, HDC dc, UINT message, int defaultBackground);
// The window text, as the control shows it.
std::string WindowText(HWND hwnd);

}  // namespace layer

#endif
