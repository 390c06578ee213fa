// DrawTextA: text laid out in a rectangle, the way labels, buttons and
// message boxes show their captions: lines broken at line ends and, with
// DT_WORDBREAK, between words; each line aligned on its own; '&' mnemonics
// underlined; the result clipped to the rectangle.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "gdi/font.h"
#include "session/layer_internal.h"

namespace layer {

namespace {

struct Line {
    std::string text;
    std::vector<size_t> underlined;  // indices into text
    int width = 0;
};

// Measures with tabs expanded (to every eighth average character) when asked.
class Measure {
public:
    Measure(const TextStyle &style, bool expandTabs) : style_(style), expand_(expandTabs) {
        TEXTMETRICA tm;
        MetricsOf(style, &tm);
        tab_ = 8 * tm.tmAveCharWidth;
    }
    int Width(const std::string &text, size_t from, size_t to) const {
        int x = 0;
        for (size_t i = from; i < to; ++i) x = Next(x, (unsigned char)text[i]);
        return x;
    }
    int Next(int x, unsigned char ch) const {
        if (ch == '\t' && expand_ && tab_ > 0) return (x / tab_ + 1) * tab_;
        return x + CharAdvance(style_, ch);
    }
    bool ExpandsTabs() const { return expand_; }

private:
    TextStyle style_;
    bool expand_;
    int tab_ = 0;
};

void AddLine(std::vector<Line> *lines, const std::string &text, const std::vector<size_t> &underlined, size_t from,
             size_t to, const Measure &measure) {
    Line line;
    line.text = text.substr(from, to - from);
    for (size_t u : underlined)
        if (u >= from && u < to) line.underlined.push_back(u - from);
    line.width = measure.Width(text, from, to);
    lines->push_back(std::move(line));
}

// Greedy breaking between words: a line ends at the last blank before the
// word that would cross the edge. The blanks there stay on the line (and in
// its width) as far as they fit, and the rest are dropped. A word wider than
// the whole line stays whole on a line of its own (the rectangle clips it),
// as captions show a long word.
void BreakWords(std::vector<Line> *lines, const std::string &text, const std::vector<size_t> &underlined,
                int limit, const Measure &measure) {
    size_t start = 0, n = text.size();
    for (;;) {
        size_t fit = std::string::npos;
        for (size_t b = start;; ++b) {
            if (b < n && text[b] != ' ') continue;
            // Blanks before the break do not count against the edge.
            size_t end = b;
            while (end > start && text[end - 1] == ' ') --end;
            if (end > start && measure.Width(text, start, end) > limit) break;
            fit = b;
            if (b >= n) break;
        }
        if (fit == std::string::npos || fit == start) {
            // Not even one word fits: the first word goes alone.
            fit = start;
            while (fit < n && text[fit] == ' ') ++fit;
            while (fit < n && text[fit] != ' ') ++fit;
        }
        size_t end = fit;
        if (fit < n) {
            while (end > start && text[end - 1] == ' ') --end;
            while (end < n && text[end] == ' ' && measure.Width(text, start, end + 1) <= limit) ++end;
        }
        AddLine(lines, text, underlined, start, end, measure);
        start = fit;
        while (start < n && text[start] == ' ') ++start;
        if (start >= n) return;
    }
}

std::vector<Line> LayOut(const char *text, size_t count, UINT format, int limit, const Measure &measure) {
    std::vector<Line> lines;
    bool single = (format & DT_SINGLELINE) != 0;
    size_t at = 0;
    do {
        size_t end = at;
        if (single)
            end = count;
        else
            while (end < count && text[end] != '\r' && text[end] != '\n') ++end;
        std::vector<size_t> underlined;
        std::string paragraph = (format & DT_NOPREFIX) ? std::string(text + at, end - at)
                                                       : StripPrefixes(text + at, end - at, &underlined);
        if ((format & DT_WORDBREAK) && !single)
            BreakWords(&lines, paragraph, underlined, limit, measure);
        else
            AddLine(&lines, paragraph, underlined, 0, paragraph.size(), measure);
        // One line end is CR, LF or the pair.
        if (end < count && text[end] == '\r' && end + 1 < count && text[end + 1] == '\n') ++end;
        at = end + 1;
    } while (at < count && !single);
    return lines;
}

void DrawLine(DeviceContext *dc, int x, int y, const TextStyle &style, const Line &line, const Measure &measure,
              const RECT &clip) {
    int height = LineHeight(style);
    if (dc->bkMode == OPAQUE) {
        RECT box = RectIntersection({x, y, x + line.width, y + height}, clip);
        if (!RectIsEmpty(box)) FillSolid(dc, box, dc->bkColor);
    }
    // Runs between tabs are drawn where the tab stops put them.
    size_t from = 0;
    int pen = 0;
    while (from <= line.text.size()) {
        size_t to = measure.ExpandsTabs() ? line.text.find('\t', from) : std::string::npos;
        if (to == std::string::npos) to = line.text.size();
        std::vector<size_t> underlined;
        for (size_t u : line.underlined)
            if (u >= from && u < to) underlined.push_back(u - from);
        DrawTextInk(dc, x + pen, y, style, line.text.data() + from, to - from, dc->textColor, clip, underlined);
        pen += measure.Width(line.text, from, to);
        if (to >= line.text.size()) break;
        pen = measure.Next(pen, '\t');
        from = to + 1;
    }
}

}  // namespace

}  // namespace layer

using namespace layer;

extern "C" int WINAPI DrawTextA(HDC hdc, LPCSTR lpchText, int cchText, LPRECT lprc, UINT format) {
    EnsureStarted();
    DeviceContext *dc = DcFromHandle(hdc);
    if (!dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (!lprc || (!lpchText && cchText != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t count = cchText < 0 ? std::strlen(lpchText) : (size_t)cchText;
    if (count == 0) {
        if (format & DT_CALCRECT) {
            lprc->right = lprc->left;
            lprc->bottom = lprc->top;
        }
        return 0;
    }
    TextStyle style = StyleOfFont(dc->font);
    Measure measure(style, (format & DT_EXPANDTABS) != 0);
    std::vector<Line> lines = LayOut(lpchText, count, format, (int)(lprc->right - lprc->left), measure);
    int lineHeight = LineHeight(style);
    int total = lineHeight * (int)lines.size();
    if (format & DT_CALCRECT) {
        int widest = 0;
        for (const Line &line : lines) widest = std::max(widest, line.width);
        lprc->right = lprc->left + widest;
        lprc->bottom = lprc->top + total;
        return total;
    }
    int y = lprc->top;
    bool single = (format & DT_SINGLELINE) != 0;
    if (single && (format & DT_VCENTER))
        y = lprc->top + (lprc->bottom - lprc->top - lineHeight) / 2;
    else if (single && (format & DT_BOTTOM))
        y = lprc->bottom - lineHeight;
    RECT clip = *lprc;
    if (format & DT_NOCLIP) clip = {-0x40000000, -0x40000000, 0x40000000, 0x40000000};
    int firstLine = y;
    for (const Line &line : lines) {
        int x = lprc->left;
        if (format & DT_CENTER)
            x = lprc->left + (lprc->right - lprc->left - line.width) / 2;
        else if (format & DT_RIGHT)
            x = lprc->right - line.width;
        DrawLine(dc, x, y, style, line, measure, clip);
        y += lineHeight;
    }
    // Placed text answers with how far down from the top it ends.
    if (single && (format & (DT_VCENTER | DT_BOTTOM))) return firstLine - lprc->top + total;
    return total;
}
