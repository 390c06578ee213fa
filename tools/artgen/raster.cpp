#include "raster.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace artgen {

// NaN comes out as 0: one bad sample must not poison the diffusion of a whole picture.
float Clamp01(float v) { return !(v > 0.0f) ? 0.0f : (v > 1.0f ? 1.0f : v); }
float Mix(float a, float b, float t) { return a + (b - a) * t; }
Color Mix(Color a, Color b, float t) { return {Mix(a.r, b.r, t), Mix(a.g, b.g, t), Mix(a.b, b.b, t)}; }
float Smooth(float edge0, float edge1, float x) {
    float t = Clamp01((x - edge0) / (edge1 - edge0));
    return t * t * (3.0f - 2.0f * t);
}

float SinTurns(float turns) {
    // Reduce to [-0.25, 0.25] turns, where the odd Taylor series to x^11
    // is accurate far beyond what a picture needs.
    float t = turns - std::floor(turns);  // [0, 1)
    float sign = 1.0f;
    if (t > 0.5f) {
        t -= 0.5f;
        sign = -1.0f;
    }
    if (t > 0.25f) t = 0.5f - t;
    double x = t * 6.283185307179586;
    double x2 = x * x;
    double s = x * (1.0 - x2 / 6.0 * (1.0 - x2 / 20.0 * (1.0 - x2 / 42.0 * (1.0 - x2 / 72.0 * (1.0 - x2 / 110.0)))));
    return sign * static_cast<float>(s);
}

Canvas::Canvas(int width, int height, Color fill)
    : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height, fill) {}

void Canvas::Blend(int x, int y, Color c, float alpha) {
    if (!Inside(x, y)) return;
    alpha = Clamp01(alpha);
    Color& p = At(x, y);
    p = Mix(p, c, alpha);
}

void Canvas::Add(int x, int y, Color c, float amount) {
    if (!Inside(x, y)) return;
    Color& p = At(x, y);
    p = p + c * amount;
}

uint64_t Random::Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}
float Random::Unit() { return static_cast<float>(Next() >> 40) * (1.0f / 16777216.0f); }
float Random::Range(float lo, float hi) { return lo + (hi - lo) * Unit(); }
int Random::Int(int lo, int hi) { return lo + static_cast<int>(Next() % static_cast<uint64_t>(hi - lo + 1)); }

namespace {

uint32_t Hash(uint32_t seed, int32_t x, int32_t y) {
    uint32_t h = seed * 0x9E3779B1u ^ static_cast<uint32_t>(x) * 0x85EBCA77u ^ static_cast<uint32_t>(y) * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

float Lattice(uint32_t seed, int32_t x, int32_t y) { return static_cast<float>(Hash(seed, x, y) >> 8) * (1.0f / 16777215.0f); }

float Fade(float t) { return t * t * t * (t * (t * 6.0f - 15.0f) + 10.0f); }

// Floor that stays defined for any coordinate a picture can produce.
int32_t Cell(float v) { return static_cast<int32_t>(std::floor(std::clamp(v, -1.0e6f, 1.0e6f))); }

}  // namespace

float Noise2(uint32_t seed, float x, float y) {
    int32_t ix = Cell(x), iy = Cell(y);
    float tx = Fade(x - static_cast<float>(ix)), ty = Fade(y - static_cast<float>(iy));
    float a = Lattice(seed, ix, iy), b = Lattice(seed, ix + 1, iy);
    float c = Lattice(seed, ix, iy + 1), d = Lattice(seed, ix + 1, iy + 1);
    return Mix(Mix(a, b, tx), Mix(c, d, tx), ty);
}

float Fbm2(uint32_t seed, float x, float y, int octaves) {
    float sum = 0, amp = 1, norm = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += amp * Noise2(seed + 977u * i, x, y);
        norm += amp;
        amp *= 0.5f;
        // The odd offset keeps lattice points of the octaves from lining up.
        x = x * 2.0f + 17.13f;
        y = y * 2.0f + 5.71f;
    }
    return sum / norm;
}

float Noise1(uint32_t seed, float x) {
    int32_t ix = Cell(x);
    float t = Fade(x - static_cast<float>(ix));
    return Mix(Lattice(seed, ix, 0), Lattice(seed, ix + 1, 0), t);
}

float Fbm1(uint32_t seed, float x, int octaves) {
    float sum = 0, amp = 1, norm = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += amp * Noise1(seed + 977u * i, x);
        norm += amp;
        amp *= 0.5f;
        x = x * 2.0f + 17.13f;
    }
    return sum / norm;
}

namespace {

struct Bounds {
    int x0, y0, x1, y1;  // inclusive
};

Bounds Clip(const Canvas& canvas, float minX, float minY, float maxX, float maxY) {
    auto lo = [](float v, int limit) { return std::clamp(static_cast<int>(std::floor(std::clamp(v, -1.0e6f, 1.0e6f))), 0, limit); };
    return {lo(minX, canvas.Width()), lo(minY, canvas.Height()), lo(maxX, canvas.Width() - 1),
            lo(maxY, canvas.Height() - 1)};
}

template <typename Inside>
void Cover(Canvas& canvas, Bounds b, Color color, float alpha, Inside inside) {
    for (int y = b.y0; y <= b.y1; ++y) {
        for (int x = b.x0; x <= b.x1; ++x) {
            int hits = 0;
            for (int sy = 0; sy < 4; ++sy)
                for (int sx = 0; sx < 4; ++sx)
                    if (inside(static_cast<float>(x) + (sx + 0.5f) * 0.25f, static_cast<float>(y) + (sy + 0.5f) * 0.25f))
                        ++hits;
            if (hits) canvas.Blend(x, y, color, alpha * static_cast<float>(hits) / 16.0f);
        }
    }
}

}  // namespace

void FillPolygon(Canvas& canvas, const std::vector<Point>& points, Color color, float alpha) {
    if (points.size() < 3) return;
    float minX = points[0].x, maxX = minX, minY = points[0].y, maxY = minY;
    for (const Point& p : points) {
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    Cover(canvas, Clip(canvas, minX, minY, maxX, maxY), color, alpha, [&](float px, float py) {
        bool in = false;
        for (size_t i = 0, j = points.size() - 1; i < points.size(); j = i++) {
            const Point& a = points[i];
            const Point& b = points[j];
            if ((a.y > py) != (b.y > py) && px < (b.x - a.x) * (py - a.y) / (b.y - a.y) + a.x) in = !in;
        }
        return in;
    });
}

void FillEllipse(Canvas& canvas, float cx, float cy, float rx, float ry, Color color, float alpha) {
    Cover(canvas, Clip(canvas, cx - rx, cy - ry, cx + rx, cy + ry), color, alpha, [&](float px, float py) {
        float dx = (px - cx) / rx, dy = (py - cy) / ry;
        return dx * dx + dy * dy <= 1.0f;
    });
}

void DrawLine(Canvas& canvas, Point a, Point b, float width, Color color, float alpha) {
    float half = width * 0.5f;
    float dx = b.x - a.x, dy = b.y - a.y;
    float len2 = dx * dx + dy * dy;
    Cover(canvas,
          Clip(canvas, std::min(a.x, b.x) - half, std::min(a.y, b.y) - half, std::max(a.x, b.x) + half,
               std::max(a.y, b.y) + half),
          color, alpha, [&](float px, float py) {
              float t = len2 > 0 ? Clamp01(((px - a.x) * dx + (py - a.y) * dy) / len2) : 0.0f;
              float ex = a.x + dx * t - px, ey = a.y + dy * t - py;
              return ex * ex + ey * ey <= half * half;
          });
}

void Glow(Canvas& canvas, float cx, float cy, float scale, float reach, Color color, float amount) {
    Bounds b = Clip(canvas, cx - reach, cy - reach, cx + reach, cy + reach);
    for (int y = b.y0; y <= b.y1; ++y)
        for (int x = b.x0; x <= b.x1; ++x) {
            float dx = static_cast<float>(x) + 0.5f - cx, dy = static_cast<float>(y) + 0.5f - cy;
            float d = std::sqrt(dx * dx + dy * dy);
            if (d >= reach) continue;
            // Fade the tail to zero at the reach so no ring shows where it stops.
            float edge = 1.0f - d / reach;
            canvas.Add(x, y, color, amount * Falloff(d, scale) * edge * edge);
        }
}

void VerticalGradient(Canvas& canvas, const std::vector<Stop>& stops) {
    for (int y = 0; y < canvas.Height(); ++y) {
        float fy = static_cast<float>(y) + 0.5f;
        Color c = stops.front().color;
        if (fy >= stops.back().y) c = stops.back().color;
        for (size_t i = 0; i + 1 < stops.size(); ++i)
            if (fy >= stops[i].y && fy < stops[i + 1].y)
                c = Mix(stops[i].color, stops[i + 1].color, Smooth(stops[i].y, stops[i + 1].y, fy));
        for (int x = 0; x < canvas.Width(); ++x) canvas.At(x, y) = c;
    }
}

namespace {

struct Glyph {
    char ch;
    std::array<const char*, 7> rows;
};

// Our own 5 x 7 lettering, drawn for legibility at large sizes.
const Glyph kGlyphs[] = {
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'B', {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."}},
    {'C', {".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."}},
    {'D', {"####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'F', {"#####", "#....", "#....", "####.", "#....", "#....", "#...."}},
    {'G', {".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####"}},
    {'H', {"#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'I', {".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'J', {"..###", "...#.", "...#.", "...#.", "#..#.", "#..#.", ".##.."}},
    {'K', {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'M', {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}},
    {'N', {"#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'Q', {".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'V', {"#...#", "#...#", "#...#", ".#.#.", ".#.#.", ".#.#.", "..#.."}},
    {'W', {"#...#", "#...#", "#...#", "#.#.#", "#.#.#", "#.#.#", ".#.#."}},
    {'X', {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"}},
    {'Y', {"#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."}},
    {'Z', {"#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"}},
    {'0', {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."}},
    {'1', {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'2', {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"}},
    {'3', {"####.", "....#", "....#", ".###.", "....#", "....#", "####."}},
    {'4', {"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."}},
    {'5', {"#####", "#....", "####.", "....#", "....#", "#...#", ".###."}},
    {'6', {".###.", "#....", "#....", "####.", "#...#", "#...#", ".###."}},
    {'7', {"#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."}},
    {'8', {".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."}},
    {'9', {".###.", "#...#", "#...#", ".####", "....#", "....#", ".###."}},
    {'-', {".....", ".....", ".....", ".###.", ".....", ".....", "....."}},
    {'.', {".....", ".....", ".....", ".....", ".....", ".##..", ".##.."}},
    {':', {".....", ".##..", ".##..", ".....", ".##..", ".##..", "....."}},
    {'x', {".....", ".....", "#...#", ".#.#.", "..#..", ".#.#.", "#...#"}},
    {' ', {".....", ".....", ".....", ".....", ".....", ".....", "....."}},
};

const Glyph* FindGlyph(char ch) {
    if (ch >= 'a' && ch <= 'z' && ch != 'x') ch = static_cast<char>(ch - 'a' + 'A');
    for (const Glyph& g : kGlyphs)
        if (g.ch == ch) return &g;
    return FindGlyph(' ');
}

}  // namespace

int TextColumns(const std::string& text) { return text.empty() ? 0 : static_cast<int>(text.size()) * 6 - 1; }

void StampText(std::vector<uint8_t>& mask, int width, int height, const std::string& text, int x0, int y0,
               int scale) {
    for (size_t i = 0; i < text.size(); ++i) {
        const Glyph* g = FindGlyph(text[i]);
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col) {
                if (g->rows[row][col] != '#') continue;
                for (int sy = 0; sy < scale; ++sy)
                    for (int sx = 0; sx < scale; ++sx) {
                        int x = x0 + (static_cast<int>(i) * 6 + col) * scale + sx, y = y0 + row * scale + sy;
                        if (x >= 0 && y >= 0 && x < width && y < height) mask[static_cast<size_t>(y) * width + x] = 1;
                    }
            }
    }
}

void DrawText(Canvas& canvas, const std::string& text, int x0, int y0, int scale, Color color) {
    std::vector<uint8_t> mask(static_cast<size_t>(canvas.Width()) * canvas.Height(), 0);
    StampText(mask, canvas.Width(), canvas.Height(), text, x0, y0, scale);
    for (int y = 0; y < canvas.Height(); ++y)
        for (int x = 0; x < canvas.Width(); ++x)
            if (mask[static_cast<size_t>(y) * canvas.Width() + x]) canvas.At(x, y) = color;
}

void DrawLettering(Canvas& canvas, const std::string& text, int x0, int y0, const Lettering& style) {
    const int w = canvas.Width(), h = canvas.Height();
    std::vector<uint8_t> mask(static_cast<size_t>(w) * h, 0);
    StampText(mask, w, h, text, x0, y0, style.scale);
    auto in = [&](int x, int y) { return x >= 0 && y >= 0 && x < w && y < h && mask[static_cast<size_t>(y) * w + x]; };
    auto near = [&](int x, int y, int r) {
        for (int dy = -r; dy <= r; ++dy)
            for (int dx = -r; dx <= r; ++dx)
                if (dx * dx + dy * dy <= r * r + r && in(x + dx, y + dy)) return true;
        return false;
    };
    const int top = y0, bottom = y0 + 7 * style.scale;
    const int x1 = x0 + TextColumns(text) * style.scale;
    const int reach = style.outline + style.shadow + 1;
    for (int y = std::max(0, top - reach); y < std::min(h, bottom + reach); ++y)
        for (int x = std::max(0, x0 - reach); x < std::min(w, x1 + reach); ++x) {
            if (in(x, y)) {
                float t = Clamp01(static_cast<float>(y - top) / static_cast<float>(bottom - top));
                Color face = Mix(style.top, style.bottom, t);
                // A bright band just above the middle reads as polished metal.
                face = face + Rgb(255, 255, 255) * (0.35f * Falloff(t - 0.3f, 0.08f));
                // Bevel: lit where the letter ends just above or to the left.
                int lit = 0, dark = 0;
                for (int d = 1; d <= style.bevel; ++d) {
                    if (!lit && (!in(x - d, y) || !in(x, y - d))) lit = style.bevel + 1 - d;
                    if (!dark && (!in(x + d, y) || !in(x, y + d))) dark = style.bevel + 1 - d;
                }
                if (lit >= dark && lit) face = Mix(face, Rgb(255, 250, 225), 0.55f * lit / style.bevel);
                else if (dark) face = Mix(face, style.bottom * 0.45f, 0.6f * dark / style.bevel);
                canvas.At(x, y) = face;
            } else if (style.outline > 0 && near(x, y, style.outline)) {
                canvas.At(x, y) = style.outlineColor;
            } else if (style.shadow > 0 && near(x - style.shadow, y - style.shadow, style.outline)) {
                canvas.Blend(x, y, Rgb(0, 0, 0), 0.55f);
            }
        }
}

float BombBodyRadius(float u) {
    const float nose = 0.15f, body = 0.115f, tail = 0.04f;
    if (u < 0.0f || u > 1.0f) return 0.0f;
    if (u < nose) {
        float k = (nose - u) / nose;
        return body * std::sqrt(std::max(0.0f, 1.0f - k * k));
    }
    if (u < 0.44f) return body;
    if (u < 0.66f) return Mix(body, tail, Smooth(0.44f, 0.66f, u));
    return tail;
}

float BombFinHalfWidth(float u) {
    // Swept fins: a slanted leading edge, then full span to the square tail.
    if (u < 0.62f || u > 1.0f) return 0.0f;
    if (u < 0.78f) return Mix(0.04f, 0.2f, (u - 0.62f) / 0.16f);
    return 0.2f;
}

namespace {

struct Axis {
    Point nose;
    float ux, uy, length;
};

Axis MakeAxis(Point nose, Point tail) {
    float dx = tail.x - nose.x, dy = tail.y - nose.y;
    float len = std::sqrt(dx * dx + dy * dy);
    return {nose, dx / len, dy / len, len};
}

// (u along, v across), both in lengths of the bomb.
void ToAxis(const Axis& a, float px, float py, float& u, float& v) {
    float rx = px - a.nose.x, ry = py - a.nose.y;
    u = (rx * a.ux + ry * a.uy) / a.length;
    v = (rx * -a.uy + ry * a.ux) / a.length;
}

}  // namespace

bool InsideBomb(Point nose, Point tail, float px, float py) {
    Axis a = MakeAxis(nose, tail);
    float u, v;
    ToAxis(a, px, py, u, v);
    float av = std::fabs(v);
    float r = BombBodyRadius(u), f = BombFinHalfWidth(u);
    return (r > 0 && av <= r) || (f > 0 && av <= f);
}

void DrawShadedBomb(Canvas& canvas, Point nose, Point tail, Color body, Color fin) {
    Axis a = MakeAxis(nose, tail);
    float pad = a.length * 0.25f;
    Bounds b = Clip(canvas, std::min(nose.x, tail.x) - pad, std::min(nose.y, tail.y) - pad,
                    std::max(nose.x, tail.x) + pad, std::max(nose.y, tail.y) + pad);
    // Which side of the axis faces the light (upper left).
    float lightSide = (-a.uy * -0.7071f + a.ux * -0.7071f) >= 0 ? 1.0f : -1.0f;
    for (int y = b.y0; y <= b.y1; ++y)
        for (int x = b.x0; x <= b.x1; ++x) {
            Color sum{};
            int hits = 0;
            for (int sy = 0; sy < 4; ++sy)
                for (int sx = 0; sx < 4; ++sx) {
                    float u, v;
                    ToAxis(a, static_cast<float>(x) + (sx + 0.5f) * 0.25f, static_cast<float>(y) + (sy + 0.5f) * 0.25f, u, v);
                    float r = BombBodyRadius(u), f = BombFinHalfWidth(u);
                    float av = std::fabs(v);
                    if (r > 0 && av <= r) {
                        // Round body: brightness from the surface normal.
                        float n = v / r * lightSide;
                        float light = 0.35f + 0.65f * Clamp01(0.5f + 0.5f * n);
                        float specular = Falloff(n - 0.55f, 0.12f) * 0.55f;
                        Color c = body * light + Rgb(255, 255, 235) * specular;
                        // A painted band just behind the nose.
                        if (u > 0.24f && u < 0.29f) c = Mix(c, Rgb(230, 190, 60) * light, 0.8f);
                        sum = sum + c;
                        ++hits;
                    } else if (f > 0 && av <= f) {
                        float edge = (u > 0.97f || av > f - 0.015f) ? 1.25f : 1.0f;
                        sum = sum + fin * (v * lightSide > 0 ? 1.0f : 0.6f) * edge;
                        ++hits;
                    }
                }
            if (hits) canvas.Blend(x, y, sum * (1.0f / hits), hits / 16.0f);
        }
}

}  // namespace artgen
