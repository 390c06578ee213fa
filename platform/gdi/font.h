// The layer's own bitmap faces, and text measured and drawn with them: for
// GDI's text calls and for the controls that paint text. There are two
// faces, both drawn for this layer: a sans face with the metrics of 8-point
// MS Sans Serif (13 pixels a line, dialog base units 6 by 13) and a bold
// one with those of System (16 pixels a line, base units 8 by 16).
#ifndef VANTREL_PLATFORM_GDI_FONT_H
#define VANTREL_PLATFORM_GDI_FONT_H

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "gdi/gdi_internal.h"

namespace layer {

struct Face;  // font.cpp

// A font as it is drawn: a face at a whole-number scale (raster faces only
// grow by whole multiples), perhaps emboldened beyond the face's own weight
// and underlined.
struct TextStyle {
    const Face *face = nullptr;
    int scale = 1;
    bool bold = false;
    bool underline = false;
};

// What a font handle draws with: a logical or stock font, and the system
// font for anything else (a null handle included), as a DC without a font
// of its own draws.
TextStyle StyleOfFont(HGDIOBJ font);
int CharAdvance(const TextStyle &style, unsigned char ch);
int TextWidth(const TextStyle &style, const char *text, size_t count);
int LineHeight(const TextStyle &style);
// Fills `tm` as GetTextMetricsA reports the style.
void MetricsOf(const TextStyle &style, TEXTMETRICA *tm);

// Draws the ink of `count` characters, the top left of the first cell at
// (x, y), inside `clip` (DC coordinates). The characters whose indices are
// listed get a line under them, as mnemonics do.
void DrawTextInk(DeviceContext *dc, int x, int y, const TextStyle &style, const char *text, size_t count,
                 COLORREF color, const RECT &clip, const std::vector<size_t> &underlined = {});

// The face a window's caption is drawn in (the bold System face).
TextStyle CaptionStyle();
// Draws the ink of `count` characters into 0x00RRGGBB pixels, `width` by
// `height`, the top left of the first cell at (x, y): for what is drawn
// outside any DC, such as a title bar of the display's own. Nothing is drawn
// at or right of column `right`, nor outside the pixels.
void DrawTextPixels(uint32_t *pixels, int width, int height, int x, int y, const TextStyle &style, const char *text,
                    size_t count, uint32_t color, int right);

// Takes the mnemonic prefixes out of a caption: "&x" becomes "x" with the
// index of x noted, "&&" becomes "&".
std::string StripPrefixes(const char *text, size_t count, std::vector<size_t> *underlined);

// ---- the glyphs (font_glyphs.cpp) ---------------------------------------------------
// A sheet draws a few characters side by side, one row per line of the
// cell, the characters' columns separated by a blank; '#' is ink. A blank
// column follows every character when it is drawn, so a sheet shows only ink.
struct GlyphSheet {
    const char *chars;  // "\x7f" is the box drawn for characters without a glyph
    const char *rows[16];
};
extern const GlyphSheet kSansSheets[];
extern const size_t kSansSheetCount;
extern const GlyphSheet kSystemSheets[];
extern const size_t kSystemSheetCount;

}  // namespace layer

#endif
