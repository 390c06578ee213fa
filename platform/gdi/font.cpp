// Fonts and text: the two faces built from their glyph sheets, logical and
// stock fonts mapped onto them by name and height, and the text calls that
// measure and draw a single run (TextOutA, GetTextExtentPoint32A,
// GetTextMetricsA) with the DC's text colours. DrawTextA, which lays text
// out in a rectangle, is in drawtext.cpp.
#include "gdi/font.h"

#include <algorithm>
#include <cstring>

#include "session/layer_internal.h"

namespace layer {

struct Glyph {
    int width = 0;      // ink columns, before any thickening
    uint32_t rows[16] = {};  // bit x is column x
    bool present = false;
};

struct Face {
    const char *name;
    int height;
    int ascent;
    int internalLeading;
    int weight;
    int thicken;  // columns of ink added to the right of every stroke
    Glyph glyphs[96];  // 32 ... 126, and 127 for the box

    const Glyph &For(unsigned char ch) const {
        if (ch < 32 || ch > 126 || !glyphs[ch - 32].present) return glyphs[127 - 32];
        return glyphs[ch - 32];
    }
};

namespace {

constexpr int kBox = 127;

// Reads the sheets into the face's glyphs. A row whose columns do not match
// its sheet's characters is a mistake in the data; the glyphs it would
// have given stay missing and draw as the box, which a test notices.
void BuildFace(Face *face, const GlyphSheet *sheets, size_t count) {
    for (size_t s = 0; s < count; ++s) {
        const GlyphSheet &sheet = sheets[s];
        size_t chars = std::strlen(sheet.chars);
        std::vector<Glyph> built(chars);
        bool good = true;
        for (int row = 0; row < face->height && good; ++row) {
            const char *line = sheet.rows[row];
            if (!line) {
                good = false;
                break;
            }
            size_t at = 0;
            for (size_t c = 0; c < chars && good; ++c) {
                size_t start = at;
                uint32_t bits = 0;
                while (line[at] == '#' || line[at] == '.') {
                    if (line[at] == '#' && at - start < 24) bits |= 1u << (at - start);
                    ++at;
                }
                int width = (int)(at - start);
                if (width > 24 || (row > 0 && width != built[c].width)) good = false;
                built[c].width = width;
                built[c].rows[row] = bits;
                if (c + 1 < chars) good = good && line[at++] == ' ';
            }
            good = good && line[at] == '\0';
        }
        if (!good) continue;
        for (size_t c = 0; c < chars; ++c) {
            unsigned char ch = (unsigned char)sheet.chars[c];
            if (ch < 32 || ch > kBox) continue;
            Glyph &g = face->glyphs[ch - 32];
            g = built[c];
            for (int row = 0; row < face->height; ++row)
                for (int t = 0; t < face->thicken; ++t) g.rows[row] |= g.rows[row] << 1;
            g.width += face->thicken;
            g.present = true;
        }
    }
}

const Face &SansFace() {
    static const Face *face = [] {
        static Face f = {"MS Sans Serif", 13, 11, 2, FW_NORMAL, 0, {}};
        BuildFace(&f, kSansSheets, kSansSheetCount);
        return &f;
    }();
    return *face;
}

const Face &SystemFace() {
    static const Face *face = [] {
        static Face f = {"System", 16, 13, 3, FW_BOLD, 1, {}};
        BuildFace(&f, kSystemSheets, kSystemSheetCount);
        return &f;
    }();
    return *face;
}

// Raster faces the system has under other names are these two; every other
// name gets the sans face, as a missing face gets the nearest the system has.
const Face &FaceNamed(const char *name) {
    std::string n(name, strnlen(name, LF_FACESIZE));
    for (const char *system : {"", "System", "Fixedsys", "Terminal"})
        if (EqualNoCase(n, system)) return SystemFace();
    return SansFace();
}

int GlyphInk(const TextStyle &style, const Glyph &g) { return g.width + (style.bold ? 1 : 0); }

void FillClipped(DeviceContext *dc, const RECT &r, const RECT &clip, COLORREF color) {
    RECT piece = RectIntersection(r, clip);
    if (!RectIsEmpty(piece)) FillSolid(dc, piece, color);
}

}  // namespace

TextStyle StyleOfFont(HGDIOBJ font) {
    TextStyle style;
    GdiObject *object = GdiLookup(font);
    if (!object || object->kind != GdiKind::Font) {
        style.face = &SystemFace();
        return style;
    }
    const LOGFONTA &lf = static_cast<FontObject *>(object)->request;
    const Face &face = FaceNamed(lf.lfFaceName);
    style.face = &face;
    // A positive height is the cell's, a negative one the characters'
    // without the internal leading; the face grows by the nearest whole
    // multiple of its own size.
    long wanted = lf.lfHeight > 0 ? lf.lfHeight : lf.lfHeight < 0 ? -(long)lf.lfHeight + face.internalLeading : 0;
    if (wanted > 0) style.scale = (int)std::clamp((wanted + face.height / 2) / face.height, 1L, 8L);
    style.bold = lf.lfWeight >= FW_SEMIBOLD && face.weight < FW_SEMIBOLD;
    style.underline = lf.lfUnderline != 0;
    return style;
}

int CharAdvance(const TextStyle &style, unsigned char ch) {
    return (GlyphInk(style, style.face->For(ch)) + 1) * style.scale;
}

int TextWidth(const TextStyle &style, const char *text, size_t count) {
    int width = 0;
    for (size_t i = 0; i < count; ++i) width += CharAdvance(style, (unsigned char)text[i]);
    return width;
}

int LineHeight(const TextStyle &style) { return style.face->height * style.scale; }

void MetricsOf(const TextStyle &style, TEXTMETRICA *tm) {
    const Face &face = *style.face;
    std::memset(tm, 0, sizeof *tm);
    int s = style.scale;
    tm->tmHeight = face.height * s;
    tm->tmAscent = face.ascent * s;
    tm->tmDescent = (face.height - face.ascent) * s;
    tm->tmInternalLeading = face.internalLeading * s;
    tm->tmAveCharWidth = CharAdvance(style, 'x');
    int widest = 0;
    for (int ch = 32; ch <= kBox; ++ch) widest = std::max(widest, CharAdvance(style, (unsigned char)ch));
    tm->tmMaxCharWidth = widest;
    tm->tmWeight = style.bold ? FW_BOLD : face.weight;
    tm->tmDigitizedAspectX = 96;
    tm->tmDigitizedAspectY = 96;
    tm->tmFirstChar = 32;
    tm->tmLastChar = 255;
    tm->tmDefaultChar = kBox;
    tm->tmBreakChar = ' ';
    tm->tmUnderlined = style.underline;
    // The bit says the pitch is variable, whatever its name suggests.
    tm->tmPitchAndFamily = TMPF_FIXED_PITCH | FF_SWISS;
    tm->tmCharSet = ANSI_CHARSET;
}

namespace {

// Calls fill(rect) for every run of ink of the text, cells left to right
// from (x, y), stopping at the first cell that starts at or past `right`.
template <typename Fill>
void ForEachInk(int x, int y, const TextStyle &style, const char *text, size_t count, int right,
                const std::vector<size_t> &underlined, Fill fill) {
    const Face &face = *style.face;
    int s = style.scale;
    int underlineTop = y + face.ascent * s;
    size_t nextUnderline = 0;
    int left = x;
    for (size_t i = 0; i < count; ++i) {
        const Glyph &g = face.For((unsigned char)text[i]);
        int advance = CharAdvance(style, (unsigned char)text[i]);
        if (x >= right) break;
        for (int row = 0; row < face.height; ++row) {
            uint32_t bits = g.rows[row];
            if (style.bold) bits |= bits << 1;
            for (int col = 0; bits >> col;) {
                if (!((bits >> col) & 1)) {
                    ++col;
                    continue;
                }
                int end = col;
                while ((bits >> end) & 1) ++end;
                fill(RECT{x + col * s, y + row * s, x + end * s, y + (row + 1) * s});
                col = end;
            }
        }
        while (nextUnderline < underlined.size() && underlined[nextUnderline] < i) ++nextUnderline;
        if (nextUnderline < underlined.size() && underlined[nextUnderline] == i)
            fill(RECT{x, underlineTop, x + GlyphInk(style, g) * s, underlineTop + s});
        x += advance;
    }
    if (style.underline) fill(RECT{left, underlineTop, x, underlineTop + s});
}

}  // namespace

void DrawTextInk(DeviceContext *dc, int x, int y, const TextStyle &style, const char *text, size_t count,
                 COLORREF color, const RECT &clip, const std::vector<size_t> &underlined) {
    ForEachInk(x, y, style, text, count, clip.right, underlined,
               [&](const RECT &r) { FillClipped(dc, r, clip, color); });
}

TextStyle CaptionStyle() {
    TextStyle style;
    style.face = &SystemFace();
    return style;
}

void DrawTextPixels(uint32_t *pixels, int width, int height, int x, int y, const TextStyle &style, const char *text,
                    size_t count, uint32_t color, int right) {
    right = std::min(right, width);
    ForEachInk(x, y, style, text, count, right, {}, [&](const RECT &r) {
        int left = std::max<int>(0, r.left), top = std::max<int>(0, r.top);
        int end = std::min<int>(right, r.right), bottom = std::min<int>(height, r.bottom);
        for (int row = top; row < bottom; ++row)
            for (int col = left; col < end; ++col) pixels[(size_t)row * (size_t)width + col] = color;
    });
}

std::string StripPrefixes(const char *text, size_t count, std::vector<size_t> *underlined) {
    std::string out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        if (text[i] == '&' && i + 1 < count) {
            ++i;
            if (text[i] != '&' && underlined) underlined->push_back(out.size());
        } else if (text[i] == '&') {
            continue;  // a prefix with nothing after it prefixes nothing
        }
        out.push_back(text[i]);
    }
    return out;
}

}  // namespace layer

using namespace layer;

namespace {

DeviceContext *TextDC(HDC hdc) {
    EnsureStarted();
    DeviceContext *dc = DcFromHandle(hdc);
    if (!dc) SetLastError(ERROR_INVALID_HANDLE);
    return dc;
}

}  // namespace

extern "C" {

HFONT WINAPI CreateFontIndirectA(const LOGFONTA *lplf) {
    EnsureStarted();
    if (!lplf) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto font = std::make_unique<FontObject>();
    font->request = *lplf;
    // The name is kept as the system keeps it: at most 31 characters.
    font->request.lfFaceName[LF_FACESIZE - 1] = '\0';
    return (HFONT)GdiAdd(std::move(font));
}

HFONT WINAPI CreateFontA(int cHeight, int cWidth, int cEscapement, int cOrientation, int cWeight, DWORD bItalic,
                         DWORD bUnderline, DWORD bStrikeOut, DWORD iCharSet, DWORD iOutPrecision,
                         DWORD iClipPrecision, DWORD iQuality, DWORD iPitchAndFamily, LPCSTR pszFaceName) {
    LOGFONTA lf = {};
    lf.lfHeight = cHeight;
    lf.lfWidth = cWidth;
    lf.lfEscapement = cEscapement;
    lf.lfOrientation = cOrientation;
    lf.lfWeight = cWeight;
    lf.lfItalic = (BYTE)bItalic;
    lf.lfUnderline = (BYTE)bUnderline;
    lf.lfStrikeOut = (BYTE)bStrikeOut;
    lf.lfCharSet = (BYTE)iCharSet;
    lf.lfOutPrecision = (BYTE)iOutPrecision;
    lf.lfClipPrecision = (BYTE)iClipPrecision;
    lf.lfQuality = (BYTE)iQuality;
    lf.lfPitchAndFamily = (BYTE)iPitchAndFamily;
    if (pszFaceName) std::strncpy(lf.lfFaceName, pszFaceName, LF_FACESIZE - 1);
    return CreateFontIndirectA(&lf);
}

BOOL WINAPI GetTextExtentPoint32A(HDC hdc, LPCSTR lpString, int c, LPSIZE psizl) {
    DeviceContext *dc = TextDC(hdc);
    if (!dc) return FALSE;
    if (c < 0 || !psizl || (c > 0 && !lpString)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    TextStyle style = StyleOfFont(dc->font);
    psizl->cx = TextWidth(style, lpString, (size_t)c);
    psizl->cy = LineHeight(style);
    return TRUE;
}

BOOL WINAPI GetTextMetricsA(HDC hdc, LPTEXTMETRICA lptm) {
    DeviceContext *dc = TextDC(hdc);
    if (!dc) return FALSE;
    if (!lptm) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    MetricsOf(StyleOfFont(dc->font), lptm);
    return TRUE;
}

BOOL WINAPI TextOutA(HDC hdc, int x, int y, LPCSTR lpString, int c) {
    DeviceContext *dc = TextDC(hdc);
    if (!dc) return FALSE;
    if (c < 0 || (c > 0 && !lpString)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    TextStyle style = StyleOfFont(dc->font);
    RECT cell = {x, y, x + TextWidth(style, lpString, (size_t)c), y + LineHeight(style)};
    if (dc->bkMode == OPAQUE) FillSolid(dc, cell, dc->bkColor);
    RECT everywhere = {-0x40000000, -0x40000000, 0x40000000, 0x40000000};
    DrawTextInk(dc, x, y, style, lpString, (size_t)c, dc->textColor, everywhere);
    return TRUE;
}

COLORREF WINAPI SetTextColor(HDC hdc, COLORREF color) {
    DeviceContext *dc = TextDC(hdc);
    if (!dc) return CLR_INVALID;
    COLORREF previous = dc->textColor;
    dc->textColor = color & 0x00FFFFFF;
    return previous;
}

COLORREF WINAPI GetTextColor(HDC hdc) {
    DeviceContext *dc = TextDC(hdc);
    return dc ? dc->textColor : CLR_INVALID;
}

COLORREF WINAPI SetBkColor(HDC hdc, COLORREF color) {
    DeviceContext *dc = TextDC(hdc);
    if (!dc) return CLR_INVALID;
    COLORREF previous = dc->bkColor;
    dc->bkColor = color & 0x00FFFFFF;
    return previous;
}

COLORREF WINAPI GetBkColor(HDC hdc) {
    DeviceContext *dc = TextDC(hdc);
    return dc ? dc->bkColor : CLR_INVALID;
}

int WINAPI SetBkMode(HDC hdc, int mode) {
    DeviceContext *dc = TextDC(hdc);
    if (!dc) return 0;
    if (mode != TRANSPARENT && mode != OPAQUE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int previous = dc->bkMode;
    dc->bkMode = mode;
    return previous;
}

int WINAPI GetBkMode(HDC hdc) {
    DeviceContext *dc = TextDC(hdc);
    return dc ? dc->bkMode : 0;
}

}  // extern "C"
