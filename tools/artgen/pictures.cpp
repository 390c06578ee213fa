#include "pictures.h"

#include <algorithm>
#include <cmath>

#include "quantize.h"
#include "raster.h"

namespace artgen {

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

float Px(int v) { return static_cast<float>(v) + 0.5f; }

// A range of hills: the crest follows fractal noise between base - amp and
// base; the face darkens with depth below the crest and is lit along it.
struct RidgeStyle {
    float base, amp, scale;
    Color crest, foot;
    float depth;
    Color rim;
    float rimWidth;
    float grain;
};

void Ridge(Canvas& c, uint32_t seed, const RidgeStyle& s) {
    for (int x = 0; x < c.Width(); ++x) {
        float crest = s.base - s.amp * Fbm1(seed, Px(x) / s.scale, 5);
        int y0 = std::max(0, static_cast<int>(std::floor(crest)));
        for (int y = y0; y < c.Height(); ++y) {
            float cover = Clamp01(static_cast<float>(y) + 1.0f - crest);
            float below = Px(y) - crest;
            Color col = Mix(s.crest, s.foot, Clamp01(below / s.depth));
            col = col * (1.0f - s.grain + 2.0f * s.grain * Fbm2(seed + 31, Px(x) / 24.0f, Px(y) / 14.0f, 3));
            col = col + s.rim * Falloff(below, s.rimWidth);
            c.Blend(x, y, col, cover);
        }
    }
}

void Vignette(Canvas& c, float strength) {
    const float cx = c.Width() * 0.5f, cy = c.Height() * 0.5f;
    for (int y = 0; y < c.Height(); ++y)
        for (int x = 0; x < c.Width(); ++x) {
            float dx = (Px(x) - cx) / cx, dy = (Px(y) - cy) / cy;
            float k = 1.0f - strength * Smooth(0.3f, 2.0f, dx * dx + dy * dy);
            c.At(x, y) = c.At(x, y) * k;
        }
}

// A smoky trail behind something moving from `from` towards `to`.
void Trail(Canvas& c, uint32_t seed, Point from, Point to, float width, Color smoke, float alpha) {
    Random rnd(seed);
    const int steps = 48;
    for (int i = steps; i >= 0; --i) {
        float t = static_cast<float>(i) / steps;
        float jx = rnd.Range(-1.0f, 1.0f) * width * 0.4f * t, jy = rnd.Range(-1.0f, 1.0f) * width * 0.4f * t;
        float r = width * (0.35f + 0.9f * t);
        FillEllipse(c, Mix(to.x, from.x, t) + jx, Mix(to.y, from.y, t) + jy, r, r, smoke, alpha * (1.0f - t) * 0.5f);
    }
}

struct PlumeStyle {
    float x0, y0, height, w0, w1, drift;
    Color shadow, light;
    float fire;  // glow of flames at the foot
};

// A column of smoke rising from (x0, y0), widening and leaning with the wind;
// the side towards the sun (left) is lit.
void Plume(Canvas& c, uint32_t seed, const PlumeStyle& s) {
    int top = std::max(0, static_cast<int>(s.y0 - s.height * 1.05f));
    for (int y = top; y < std::min(c.Height(), static_cast<int>(s.y0) + 2); ++y) {
        float t = Clamp01((s.y0 - Px(y)) / s.height);
        float centre = s.x0 + s.drift * t * t * s.height;
        float w = Mix(s.w0, s.w1, std::sqrt(t));
        int x0 = std::max(0, static_cast<int>(centre - 1.6f * w)), x1 = std::min(c.Width() - 1, static_cast<int>(centre + 1.6f * w));
        for (int x = x0; x <= x1; ++x) {
            float n = Fbm2(seed, Px(x) / 34.0f, (Px(y) + t * 40.0f) / 30.0f, 5);
            float dx = (Px(x) - centre) / w;
            float body = Clamp01(1.0f - dx * dx * 0.8f) * 0.8f + (n - 0.5f) * 1.4f;
            float d = Smooth(0.15f, 0.55f, body) * (1.0f - Smooth(0.75f, 1.0f, t)) * Smooth(0.0f, 0.04f, t);
            if (d <= 0) continue;
            float lit = Clamp01(0.45f - dx * 0.35f + (n - 0.5f) * 1.6f);
            Color col = Mix(s.shadow, s.light, lit);
            col = col + Rgb(255, 110, 30) * (s.fire * (1.0f - Smooth(0.0f, 0.3f, t)) * Clamp01(1.0f - std::fabs(dx)));
            c.Blend(x, y, col, d * 0.93f);
        }
    }
}

void Flames(Canvas& c, uint32_t seed, float x, float y, float size) {
    Glow(c, x, y - size * 0.4f, size * 0.8f, size * 6.0f, Rgb(255, 120, 40), 0.5f);
    Random rnd(seed);
    for (int i = 0; i < 7; ++i) {
        float fx = x + rnd.Range(-0.9f, 0.9f) * size, h = size * rnd.Range(0.9f, 2.2f), w = size * rnd.Range(0.25f, 0.45f);
        Color col = Mix(Rgb(255, 90, 20), Rgb(255, 220, 110), rnd.Unit());
        FillPolygon(c, {{fx - w, y}, {fx + w * 0.2f, y - h}, {fx + w, y}}, col, 0.9f);
    }
    FillEllipse(c, x, y - size * 0.2f, size * 0.5f, size * 0.35f, Rgb(255, 245, 200), 0.85f);
}

void Crater(Canvas& c, uint32_t seed, float cx, float cy, float rx, Color soil, Color sky, bool water) {
    const float ry = rx * 0.36f;
    for (int y = std::max(0, static_cast<int>(cy - ry * 1.7f)); y < std::min(c.Height(), static_cast<int>(cy + ry * 1.7f) + 1); ++y)
        for (int x = std::max(0, static_cast<int>(cx - rx * 1.7f)); x < std::min(c.Width(), static_cast<int>(cx + rx * 1.7f) + 1); ++x) {
            float dx = (Px(x) - cx) / rx, dy = (Px(y) - cy) / ry;
            float n = Fbm2(seed, Px(x) / 9.0f, Px(y) / 5.0f, 3);
            float q = std::sqrt(dx * dx + dy * dy) + (n - 0.5f) * 0.3f;
            if (q < 1.0f) {
                // The far wall faces us and the low sun; the near wall is in shadow.
                float light = Clamp01(0.55f - dy * 0.5f);
                Color col = soil * (0.3f + 0.55f * light) * (0.85f + 0.3f * n);
                if (water && q < 0.5f) {
                    float ripple = Fbm2(seed + 7, Px(x) / 14.0f, Px(y) / 2.0f, 3);
                    col = Mix(col, sky * (0.45f + 0.35f * ripple), 1.0f - Smooth(0.38f, 0.5f, q));
                }
                c.Blend(x, y, col, Smooth(1.0f, 0.93f, q));
            } else if (q < 1.55f) {
                // Thrown-up earth round the lip, lit on top.
                float lip = 1.0f - (q - 1.0f) / 0.55f;
                Color col = soil * ((0.8f + 0.3f * lip * Clamp01(0.5f - dy * 0.5f)) * (0.7f + 0.5f * n));
                c.Blend(x, y, col, Smooth(0.0f, 0.5f, lip) * Smooth(0.3f, 0.6f, n + 0.2f * lip) * 0.9f);
            }
        }
}

void Branch(Canvas& c, Random& rnd, Point p, float angle, float length, float width, int depth, Color col) {
    Point q{p.x + length * SinTurns(angle), p.y - length * CosTurns(angle)};
    DrawLine(c, p, q, width, col);
    if (depth == 0) return;
    int forks = rnd.Chance(0.3f) ? 3 : 2;
    for (int i = 0; i < forks; ++i) {
        float spread = (static_cast<float>(i) - (forks - 1) * 0.5f) * 0.09f;
        // One draw per statement: the order of arguments is up to the
        // compiler, and the picture must not depend on which one built it.
        float turn = rnd.Range(-0.04f, 0.04f);
        float shrink = rnd.Range(0.6f, 0.8f);
        Branch(c, rnd, q, angle + spread + turn, length * shrink, std::max(1.0f, width * 0.65f), depth - 1, col);
    }
}

void Stars(Canvas& c, uint32_t seed, int count, float maxY) {
    Random rnd(seed);
    for (int i = 0; i < count; ++i) {
        float x = rnd.Range(0, static_cast<float>(c.Width())), y = rnd.Range(0, maxY);
        float u = rnd.Unit();
        float b = 0.15f + 0.85f * u * u * u;
        Color tint = Mix(Rgb(170, 190, 255), Rgb(255, 240, 210), rnd.Unit());
        float fade = 1.0f - Smooth(maxY * 0.6f, maxY, y);
        c.Add(static_cast<int>(x), static_cast<int>(y), tint, b * fade);
        if (b > 0.7f) {
            for (int k = 1; k <= 2; ++k) {
                float a = b * fade * (k == 1 ? 0.45f : 0.18f);
                c.Add(static_cast<int>(x) + k, static_cast<int>(y), tint, a);
                c.Add(static_cast<int>(x) - k, static_cast<int>(y), tint, a);
                c.Add(static_cast<int>(x), static_cast<int>(y) + k, tint, a);
                c.Add(static_cast<int>(x), static_cast<int>(y) - k, tint, a);
            }
        }
    }
}

// A searchlight: a cone of light from a point on the ground, brightest near
// its source and along its middle.
void Beam(Canvas& c, Point source, float dx, float dy, float spread, float strength, Color color) {
    float len = std::sqrt(dx * dx + dy * dy);
    dx /= len;
    dy /= len;
    for (int y = 0; y < c.Height(); ++y)
        for (int x = 0; x < c.Width(); ++x) {
            float rx = Px(x) - source.x, ry = Px(y) - source.y;
            float along = rx * dx + ry * dy;
            if (along <= 0) continue;
            float across = std::fabs(rx * -dy + ry * dx);
            float half = 3.0f + along * spread;
            if (across >= half * 1.6f) continue;
            float k = across / half;
            float core = k < 1.0f ? (1.0f - k * k) * (1.0f - k * k) : 0.0f;
            float halo = Falloff(k, 0.6f) * 0.12f * (1.0f - Smooth(1.0f, 1.6f, k));
            float fade = 1.0f / (1.0f + along / 260.0f);
            c.Add(x, y, color, strength * (core + halo) * fade);
        }
}

void Aircraft(Canvas& c, float cx, float cy, float s, Color color) {
    std::vector<Point> pts = {{-12, 0},   {-10, -1.3f}, {-3, -1.4f}, {1.5f, -11}, {3.8f, -11}, {2.6f, -1.4f}, {8, -1.1f},
                              {10, -4.5f}, {11.8f, -4.5f}, {11.2f, 0},  {11.8f, 4.5f}, {10, 4.5f},  {8, 1.1f},     {2.6f, 1.4f},
                              {3.8f, 11},  {1.5f, 11},    {-3, 1.4f},  {-10, 1.3f}};
    for (Point& p : pts) p = {cx + p.x * s, cy + p.y * s};
    FillPolygon(c, pts, color);
}

IndexedImage Finish(Canvas& c) { return Quantize(c); }

}  // namespace

// --- 117: the title -------------------------------------------------------

IndexedImage TitlePicture() {
    Canvas c(kWidth, kHeight);
    VerticalGradient(c, {{0, Rgb(10, 8, 34)},
                         {150, Rgb(46, 18, 82)},
                         {255, Rgb(146, 36, 74)},
                         {325, Rgb(232, 90, 50)},
                         {372, Rgb(255, 178, 86)}});
    const Point sun{462, 336};
    Glow(c, sun.x, sun.y, 46, 460, Rgb(255, 130, 60), 0.6f);
    // Rays fanning up from the sun: brightness varies with the slope of the
    // line to the sun, which stands in for its angle.
    for (int y = 0; y < static_cast<int>(sun.y); ++y)
        for (int x = 0; x < kWidth; ++x) {
            float dx = Px(x) - sun.x, dy = sun.y - Px(y);
            float slope = dx / (dy + 30.0f);
            float ray = Smooth(0.45f, 0.8f, Fbm1(1174, slope * 9.0f + 40.0f, 3));
            float dist = std::sqrt(dx * dx + dy * dy);
            c.Add(x, y, Rgb(255, 150, 90), 0.16f * ray * Falloff(dist, 260.0f) * Smooth(0, 40, dist));
        }
    // Streaks of cloud, lit from below by the setting sun.
    for (int y = 30; y < 362; ++y)
        for (int x = 0; x < kWidth; ++x) {
            float band = Smooth(30, 120, Px(y)) * (1.0f - Smooth(300, 362, Px(y)));
            float n = Fbm2(117, Px(x) / 230.0f, Px(y) / 30.0f, 5);
            float d = Smooth(0.48f, 0.68f, n) * band;
            if (d <= 0) continue;
            float below = Fbm2(117, Px(x) / 230.0f, (Px(y) + 6.0f) / 30.0f, 5);
            float lit = Clamp01((n - below) * 9.0f + 0.25f);
            float dx = Px(x) - sun.x, dy = Px(y) - sun.y;
            float nearSun = Falloff(std::sqrt(dx * dx + dy * dy), 230.0f);
            Color dark = Mix(Rgb(34, 14, 56), Rgb(96, 26, 66), Px(y) / 362.0f);
            Color light = Mix(Rgb(236, 96, 84), Rgb(255, 204, 130), nearSun);
            c.Blend(x, y, Mix(dark, light, Clamp01(lit * (0.35f + 0.75f * nearSun))), d * 0.92f);
        }
    FillEllipse(c, sun.x, sun.y, 36, 36, Rgb(255, 238, 186));
    Glow(c, sun.x, sun.y, 20, 120, Rgb(255, 220, 150), 0.35f);

    // Bombs falling out of the dusk, trailing smoke.
    const Point noses[] = {{506, 240}, {112, 306}, {296, 276}};
    const float lengths[] = {62, 40, 28};
    for (int i = 0; i < 3; ++i) {
        Point n = noses[i];
        float l = lengths[i] * 0.7071f;
        Point t{n.x + l, n.y - l};
        Trail(c, 300 + i, t, {t.x + l * 4.0f, t.y - l * 4.0f}, lengths[i] * 0.16f, Rgb(190, 120, 130), 0.9f);
        DrawShadedBomb(c, n, t, Rgb(70, 62, 80), Rgb(52, 44, 60));
    }

    Ridge(c, 1171, {374, 72, 120, Rgb(122, 48, 86), Rgb(80, 30, 70), 120, Rgb(255, 130, 80) * 0.35f, 3, 0.05f});
    Ridge(c, 1172, {392, 56, 110, Rgb(60, 22, 54), Rgb(34, 12, 36), 90, Rgb(255, 120, 70) * 0.3f, 2, 0.08f});
    Ridge(c, 1173, {438, 34, 80, Rgb(22, 9, 22), Rgb(8, 4, 10), 60, Rgb(255, 110, 60) * 0.22f, 1.5f, 0.1f});

    const std::string title = "VANTREL";
    const int scale = 13;
    int x0 = (kWidth - TextColumns(title) * scale) / 2;
    DrawLettering(c, title, x0, 64, {scale, 4, 4, 7, Rgb(255, 236, 130), Rgb(224, 92, 18), Rgb(30, 8, 20)});
    const std::string sub = "SCREEN SAVER";
    DrawLettering(c, sub, (kWidth - TextColumns(sub) * 4) / 2, 182,
                  {4, 1, 2, 3, Rgb(255, 240, 220), Rgb(250, 170, 140), Rgb(40, 10, 30)});
    Vignette(c, 0.35f);
    return Finish(c);
}

// --- 119: the battlefield at dusk -------------------------------------------

IndexedImage BattlefieldPicture() {
    Canvas c(kWidth, kHeight);
    VerticalGradient(c, {{0, Rgb(34, 32, 66)}, {110, Rgb(88, 58, 96)}, {215, Rgb(206, 108, 82)}, {275, Rgb(250, 176, 104)}});
    const Point sun{148, 262};
    Glow(c, sun.x, sun.y, 40, 380, Rgb(255, 150, 80), 0.5f);
    FillEllipse(c, sun.x, sun.y, 24, 24, Rgb(255, 226, 170));
    // Thin high cloud.
    for (int y = 20; y < 250; ++y)
        for (int x = 0; x < kWidth; ++x) {
            float n = Fbm2(119, Px(x) / 260.0f, Px(y) / 16.0f, 5);
            float d = Smooth(0.55f, 0.72f, n) * Smooth(20, 80, Px(y)) * (1.0f - Smooth(200, 250, Px(y)));
            if (d > 0) c.Blend(x, y, Mix(Rgb(70, 50, 86), Rgb(250, 150, 110), Clamp01(Px(y) / 240.0f)), d * 0.7f);
        }

    Ridge(c, 1191, {286, 40, 140, Rgb(112, 80, 104), Rgb(92, 68, 92), 80, Rgb(255, 170, 110) * 0.25f, 2, 0.04f});
    // Plumes from fires beyond the ridge.
    Plume(c, 1192, {392, 290, 250, 12, 70, 0.7f, Rgb(48, 40, 46), Rgb(160, 120, 116), 0.0f});
    Plume(c, 1193, {560, 284, 190, 10, 55, 0.8f, Rgb(56, 46, 52), Rgb(170, 130, 120), 0.0f});
    Ridge(c, 1194, {326, 44, 110, Rgb(70, 56, 52), Rgb(46, 38, 34), 90, Rgb(255, 160, 90) * 0.3f, 2, 0.08f});

    // A ruined house on the middle ridge, still burning inside.
    {
        std::vector<Point> wall = {{446, 318}, {446, 282}, {458, 270}, {466, 279}, {474, 266}, {480, 276}, {492, 262},
                                   {500, 274}, {506, 274}, {512, 288}, {512, 318}};
        FillPolygon(c, wall, Rgb(38, 30, 30));
        for (int i = 0; i < 3; ++i) FillPolygon(c, {{454.0f + i * 19, 292}, {462.0f + i * 19, 292}, {462.0f + i * 19, 304}, {454.0f + i * 19, 304}}, Rgb(255, 150, 50), 0.9f);
        Glow(c, 480, 298, 14, 70, Rgb(255, 120, 40), 0.35f);
    }

    Ridge(c, 1195, {366, 30, 90, Rgb(98, 78, 54), Rgb(30, 24, 18), 110, Rgb(255, 170, 100) * 0.45f, 2.5f, 0.16f});
    // Churned mud and tufts of dead grass over the near ground.
    for (int y = 350; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            float n = Fbm2(1205, Px(x) / 40.0f, Px(y) / 12.0f, 4);
            float wet = Smooth(0.55f, 0.7f, n) * Smooth(350, 380, Px(y));
            c.At(x, y) = Mix(c.At(x, y), c.At(x, y) * 0.55f, wet * 0.8f);
        }
    {
        Random rnd(1206);
        for (int i = 0; i < 420; ++i) {
            float gx = rnd.Range(0, kWidth), gy = rnd.Range(352, kHeight);
            float s = 0.5f + (gy - 352) / 128.0f * 1.5f;
            Color col = Mix(Rgb(96, 90, 50), Rgb(170, 140, 80), rnd.Unit()) * (0.6f + 0.4f * (1.0f - (gy - 352) / 128.0f));
            for (int k = -2; k <= 2; ++k) {
                float bend = rnd.Range(-1, 1);
                float tall = rnd.Range(3, 6);
                DrawLine(c, {gx + k * s, gy}, {gx + k * s * 2.2f + bend, gy - s * tall}, 0.9f, col, 0.8f);
            }
        }
    }
    const Color soil = Rgb(104, 82, 58);
    const Color sky = Rgb(236, 150, 100);
    Crater(c, 1196, 330, 372, 32, soil, sky, false);
    Crater(c, 1197, 70, 388, 30, soil, sky, false);
    Crater(c, 1198, 470, 398, 54, soil, sky, true);
    Crater(c, 1199, 186, 424, 78, soil, sky, true);
    Crater(c, 1200, 574, 452, 86, soil, sky, false);
    // The big plume rises from a crater that is still burning.
    Plume(c, 1201, {330, 372, 330, 10, 110, 0.55f, Rgb(36, 30, 34), Rgb(150, 118, 110), 0.9f});
    Flames(c, 1202, 330, 374, 9);

    // Barbed wire on leaning stakes across the foreground.
    {
        Random rnd(1203);
        std::vector<Point> tops;
        for (int i = 0; i < 8; ++i) {
            float x = 12.0f + i * 52.0f + rnd.Range(-8, 8);
            float base = 470.0f - i * 4.5f + rnd.Range(-4, 4);
            float lean = rnd.Range(-7, 7);
            float h = rnd.Range(38, 52);
            Point top{x + lean, base - h};
            DrawLine(c, {x, base}, top, 3.2f, Rgb(26, 20, 18));
            tops.push_back(top);
        }
        for (size_t i = 0; i + 1 < tops.size(); ++i)
            for (int strand = 0; strand < 2; ++strand) {
                Point a{tops[i].x, tops[i].y + 4 + strand * 16}, b{tops[i + 1].x, tops[i + 1].y + 4 + strand * 16};
                Point prev = a;
                for (int k = 1; k <= 12; ++k) {
                    float t = k / 12.0f;
                    Point p{Mix(a.x, b.x, t), Mix(a.y, b.y, t) + 7.0f * 4.0f * t * (1.0f - t)};
                    DrawLine(c, prev, p, 1.2f, Rgb(30, 24, 22));
                    if (k % 3 == 0) {
                        DrawLine(c, {p.x - 2, p.y - 2}, {p.x + 2, p.y + 2}, 1.0f, Rgb(30, 24, 22));
                        DrawLine(c, {p.x - 2, p.y + 2}, {p.x + 2, p.y - 2}, 1.0f, Rgb(30, 24, 22));
                    }
                    prev = p;
                }
            }
    }
    // A dead tree on the right.
    {
        Random rnd(1204);
        Branch(c, rnd, {604, 372}, -0.02f, 44, 7, 5, Rgb(24, 18, 18));
    }
    Vignette(c, 0.4f);
    return Finish(c);
}

// --- 120: searchlights over the city --------------------------------------

IndexedImage SearchlightPicture() {
    Canvas c(kWidth, kHeight);
    VerticalGradient(c, {{0, Rgb(4, 6, 20)}, {210, Rgb(12, 20, 52)}, {330, Rgb(36, 42, 88)}, {390, Rgb(96, 70, 92)}});
    Stars(c, 120, 520, 330);
    // The moon, a crescent in its own glow.
    Glow(c, 548, 78, 26, 200, Rgb(150, 170, 230), 0.25f);
    FillEllipse(c, 548, 78, 26, 26, Rgb(240, 236, 210));
    FillEllipse(c, 538, 72, 24, 24, Rgb(12, 16, 44), 0.92f);
    // Low drifting cloud, later lit where the beams cross it.
    Canvas haze(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            float n = Fbm2(1201, Px(x) / 180.0f, Px(y) / 40.0f, 5);
            float d = Smooth(0.5f, 0.75f, n) * (1.0f - Smooth(250, 360, Px(y)));
            haze.At(x, y) = {d, d, d};
            c.Blend(x, y, Rgb(30, 34, 66), d * 0.6f);
        }

    // Buildings further off.
    Random rnd(1202);
    for (float x = -10; x < kWidth;) {
        float w = rnd.Range(24, 52), h = rnd.Range(40, 120);
        FillPolygon(c, {{x, 410}, {x, 410 - h}, {x + w, 410 - h}, {x + w, 410}}, Rgb(22, 24, 46));
        for (float wy = 410 - h + 6; wy < 400; wy += 8)
            for (float wx = x + 4; wx < x + w - 4; wx += 6)
                if (rnd.Chance(0.12f)) FillPolygon(c, {{wx, wy}, {wx + 2, wy}, {wx + 2, wy + 3}, {wx, wy + 3}}, Rgb(170, 140, 90), 0.7f);
        x += w + rnd.Range(0, 6);
    }

    const Color light = Rgb(186, 206, 255);
    struct Light {
        Point at;
        float dx, dy;
    };
    const Light lights[] = {{{96, 400}, 0.42f, -1}, {{214, 400}, -0.18f, -1}, {{338, 400}, 0.3f, -1},
                            {{452, 400}, -0.52f, -1}, {{586, 400}, -0.14f, -1}};
    Canvas beams(kWidth, kHeight);
    for (const Light& l : lights) Beam(beams, l.at, l.dx, l.dy, 0.05f, 0.42f, light);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const Color& b = beams.At(x, y);
            float boost = 1.0f + 1.6f * haze.At(x, y).r;
            c.At(x, y) = c.At(x, y) + b * boost;
        }
    // Two bombers caught where the beams cross.
    Aircraft(c, 252, 148, 1.3f, Rgb(200, 208, 226));
    Aircraft(c, 394, 214, 0.9f, Rgb(170, 180, 206));
    Glow(c, 252, 148, 14, 60, light, 0.25f);

    // The city in front: towers with lit windows and roof-top lights.
    for (float x = -6; x < kWidth;) {
        float w = rnd.Range(30, 72), h = rnd.Range(70, 190);
        float base = 480, top = base - h;
        Color wall = Rgb(8, 10, 20);
        FillPolygon(c, {{x, base}, {x, top}, {x + w, top}, {x + w, base}}, wall);
        int roof = rnd.Int(0, 3);
        if (roof == 1) {
            FillPolygon(c, {{x + w * 0.2f, top}, {x + w * 0.2f, top - 14}, {x + w * 0.8f, top - 14}, {x + w * 0.8f, top}}, wall);
            FillPolygon(c, {{x + w * 0.35f, top - 14}, {x + w * 0.35f, top - 26}, {x + w * 0.65f, top - 26}, {x + w * 0.65f, top - 14}}, wall);
        } else if (roof == 2) {
            FillPolygon(c, {{x + w * 0.15f, top}, {x + w * 0.5f, top - w * 0.7f}, {x + w * 0.85f, top}}, wall);
        } else if (roof == 3) {
            FillEllipse(c, x + w * 0.5f, top, w * 0.38f, w * 0.3f, wall);
        }
        float mastX = x + w * rnd.Range(0.3f, 0.7f);
        if (roof == 0 || rnd.Chance(0.3f)) {
            float mastTop = top - rnd.Range(16, 34) - (roof == 1 ? 26 : 0);
            DrawLine(c, {mastX, top}, {mastX, mastTop}, 1.5f, wall);
            FillEllipse(c, mastX, mastTop, 1.6f, 1.6f, Rgb(255, 60, 50));
            Glow(c, mastX, mastTop, 3, 14, Rgb(255, 40, 30), 0.4f);
        }
        float lit = rnd.Range(0.15f, 0.4f);
        for (float wy = top + 8; wy < base - 6; wy += 10)
            for (float wx = x + 5; wx < x + w - 7; wx += 8)
                if (rnd.Chance(lit)) {
                    float warmth = rnd.Unit();
                    float dim = rnd.Range(0.6f, 1.0f);
                    Color col = Mix(Rgb(255, 196, 96), Rgb(255, 236, 170), warmth) * dim;
                    FillPolygon(c, {{wx, wy}, {wx + 4, wy}, {wx + 4, wy + 5}, {wx, wy + 5}}, col);
                }
        x += w + rnd.Range(0, 10);
    }
    // Haze of the city's own light at street level.
    for (int y = 380; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) c.Add(x, y, Rgb(60, 40, 50), 0.25f * Smooth(380, 480, Px(y)));
    Vignette(c, 0.35f);
    return Finish(c);
}

// --- 138: the fortress on the cliff -----------------------------------------

namespace {

void Tower(Canvas& c, float cx, float top, float bottom, float r, Color stone, Color roof, float roofHeight) {
    for (int y = std::max(0, static_cast<int>(top)); y < static_cast<int>(bottom); ++y)
        for (int x = static_cast<int>(cx - r); x <= static_cast<int>(cx + r); ++x) {
            float nx = (Px(x) - cx) / r;
            if (std::fabs(nx) > 1.0f) continue;
            // Round wall lit from the right, with courses of masonry.
            float light = 0.45f + 0.55f * Clamp01(0.35f + 0.75f * nx);
            float course = (static_cast<int>(Px(y) - top) % 7 == 0) ? 0.82f : 1.0f;
            float grain = 0.9f + 0.2f * Fbm2(1381, Px(x) / 5.0f, Px(y) / 5.0f, 2);
            c.Blend(x, y, stone * (light * course * grain), Clamp01((1.0f - std::fabs(nx)) * r));
        }
    if (roofHeight > 0) {
        // Conical roof in two halves, the sunny one brighter.
        FillPolygon(c, {{cx - r - 3, top + 1}, {cx, top - roofHeight}, {cx, top + 1}}, roof * 0.7f);
        FillPolygon(c, {{cx, top + 1}, {cx, top - roofHeight}, {cx + r + 3, top + 1}}, roof * 1.15f);
    } else {
        for (float mx = cx - r; mx < cx + r - 2; mx += 7)
            FillPolygon(c, {{mx, top}, {mx, top - 6}, {mx + 4, top - 6}, {mx + 4, top}}, stone * (mx > cx ? 0.95f : 0.6f));
    }
    // Arrow slits.
    for (float wy = top + 12; wy < bottom - 10; wy += 22)
        FillPolygon(c, {{cx - 1.5f + r * 0.25f, wy}, {cx + 1.5f + r * 0.25f, wy}, {cx + 1.5f + r * 0.25f, wy + 8}, {cx - 1.5f + r * 0.25f, wy + 8}}, Rgb(30, 22, 24));
}

void Wall(Canvas& c, float x0, float x1, float top, float bottom, Color stone) {
    for (int y = static_cast<int>(top); y < static_cast<int>(bottom); ++y)
        for (int x = static_cast<int>(x0); x < static_cast<int>(x1); ++x) {
            int row = static_cast<int>(Px(y) - top) / 6;
            bool joint = static_cast<int>(Px(y) - top) % 6 == 0 || (static_cast<int>(Px(x) + row * 5) % 11 == 0);
            float grain = 0.88f + 0.24f * Fbm2(1382, Px(x) / 6.0f, Px(y) / 4.0f, 2);
            c.Blend(x, y, stone * (grain * (joint ? 0.8f : 1.0f) * (0.8f + 0.2f * Smooth(x0, x1, Px(x)))), 1.0f);
        }
    for (float mx = x0; mx < x1 - 3; mx += 9)
        FillPolygon(c, {{mx, top}, {mx, top - 6}, {mx + 5, top - 6}, {mx + 5, top}}, stone * 0.92f);
}

}  // namespace

IndexedImage FortressPicture() {
    Canvas c(kWidth, kHeight);
    const float horizon = 300;
    VerticalGradient(c, {{0, Rgb(38, 66, 138)}, {150, Rgb(98, 138, 200)}, {255, Rgb(232, 196, 168)}, {horizon, Rgb(252, 214, 160)}});
    const Point sun{516, 252};
    Glow(c, sun.x, sun.y, 34, 360, Rgb(255, 190, 120), 0.5f);
    FillEllipse(c, sun.x, sun.y, 20, 20, Rgb(255, 246, 214));
    // Heaped cloud: white where the sun catches the top, grey-blue beneath.
    for (int y = 20; y < 270; ++y)
        for (int x = 0; x < kWidth; ++x) {
            float n = Fbm2(138, Px(x) / 150.0f, Px(y) / 60.0f, 6);
            float d = Smooth(0.52f, 0.66f, n) * Smooth(20, 60, Px(y)) * (1.0f - Smooth(200, 270, Px(y)));
            if (d <= 0) continue;
            float above = Fbm2(138, Px(x) / 150.0f, (Px(y) - 8.0f) / 60.0f, 6);
            float top = Clamp01((n - above) * 8.0f + 0.4f);
            Color col = Mix(Rgb(120, 124, 160), Rgb(255, 236, 220), top);
            c.Blend(x, y, col, d * 0.9f);
        }
    // A far headland on the horizon.
    for (int x = 430; x < kWidth; ++x) {
        float h = 14.0f * Smooth(430, 520, Px(x)) * (0.6f + 0.6f * Fbm1(1383, Px(x) / 40.0f, 3));
        for (int y = static_cast<int>(horizon - h); y < static_cast<int>(horizon); ++y) c.Blend(x, y, Rgb(132, 130, 160), Clamp01(static_cast<float>(y) + 1.0f - (horizon - h)));
    }

    // The sea: darker and coarser towards us, a path of glitter under the sun.
    for (int y = static_cast<int>(horizon); y < kHeight; ++y) {
        float depth = (Px(y) - horizon) / (kHeight - horizon);  // 0 far, 1 near
        float scale = 0.5f + 6.0f * depth;
        for (int x = 0; x < kWidth; ++x) {
            Color water = Mix(Rgb(150, 160, 178), Rgb(18, 62, 92), Smooth(0.0f, 0.7f, depth));
            float wave = Fbm2(1384, Px(x) / (36.0f * scale), Px(y) / (1.6f * scale), 4);
            Color col = water * (0.8f + 0.45f * wave);
            float path = Falloff((Px(x) - sun.x) / (14.0f + 120.0f * depth), 1.0f);
            float glint = Smooth(0.56f, 0.7f, wave) * path;
            col = col + Rgb(255, 230, 170) * (glint * 0.9f + path * 0.12f * (1.0f - depth));
            c.At(x, y) = col;
        }
    }

    // The cliff: top edge, a sunlit face on the right, layered rock.
    const float cliffTop = 214;
    auto faceX = [&](float y) { return 318.0f + (y - cliffTop) * 0.3f + 26.0f * (Fbm1(1385, y / 30.0f, 4) - 0.5f); };
    for (int y = static_cast<int>(cliffTop) - 14; y < kHeight; ++y) {
        float fx = faceX(Px(y));
        for (int x = 0; x < kWidth; ++x) {
            float edge = cliffTop - 10.0f * Fbm1(1386, Px(x) / 50.0f, 4) + 6.0f * Smooth(250, fx, Px(x));
            if (Px(y) < edge || Px(x) > fx + 1) continue;
            float cover = Clamp01(fx + 1.0f - Px(x)) * Clamp01(Px(y) - edge + 0.5f);
            float strata = Fbm2(1387, Px(x) / 220.0f, Px(y) / 9.0f, 4);
            // Upright fissures and broken facets, as in weathered limestone.
            float fissure = Smooth(0.025f, 0.0f, std::fabs(Fbm2(1388, Px(x) / 26.0f, Px(y) / 160.0f, 4) - 0.5f));
            float facet = Noise2(1391, Px(x) / 22.0f, Px(y) / 34.0f);
            float facetEdge = Noise2(1391, (Px(x) + 3.0f) / 22.0f, (Px(y) - 3.0f) / 34.0f) - facet;
            float sunlit = Smooth(fx - 90.0f, fx - 4.0f, Px(x));
            Color rock = Mix(Rgb(92, 80, 78), Rgb(214, 176, 132), sunlit * 0.8f + 0.1f + 0.15f * facet);
            rock = rock * (1.0f - 0.3f * Smooth(260, 480, Px(y))) * (0.7f + 0.5f * strata) * (1.0f - 0.45f * fissure) * (1.0f + 1.2f * facetEdge);
            float moss = Smooth(0.62f, 0.72f, Fbm2(1392, Px(x) / 30.0f, Px(y) / 20.0f, 4)) * (1.0f - sunlit);
            rock = Mix(rock, Rgb(70, 90, 56), moss * 0.6f);
            // Shade deepens with height above the water, the foot in mist.
            rock = Mix(rock, Rgb(100, 120, 140), 0.25f * Smooth(400, 480, Px(y)));
            float grass = Smooth(edge + 9.0f, edge + 3.0f, Px(y));
            rock = Mix(rock, Mix(Rgb(52, 96, 44), Rgb(116, 150, 62), sunlit), grass);
            c.Blend(x, y, rock, cover);
        }
        // Surf where the face meets the sea.
        if (Px(y) > 396)
            for (int x = static_cast<int>(fx) - 2; x < static_cast<int>(fx) + 22; ++x) {
                float n = Fbm2(1389, Px(x) / 6.0f, Px(y) / 3.0f, 3);
                float foam = Smooth(0.45f, 0.7f, n) * (1.0f - Clamp01((Px(x) - fx) / 22.0f));
                c.Blend(x, y, Rgb(236, 240, 240), foam * 0.9f);
            }
    }

    // The fortress.
    const Color stone = Rgb(202, 178, 146), roof = Rgb(150, 62, 44);
    Wall(c, 40, 292, 170, 208, stone);
    Tower(c, 160, 86, 206, 34, stone * 0.97f, roof, 0);  // keep
    Tower(c, 184, 58, 88, 10, stone, roof, 40);         // turret on the keep
    Tower(c, 48, 126, 210, 20, stone, roof, 48);
    Tower(c, 292, 118, 212, 24, stone, roof, 56);
    Tower(c, 230, 140, 206, 14, stone, roof, 34);
    // Gate.
    FillPolygon(c, {{100, 208}, {100, 190}, {106, 184}, {112, 190}, {112, 208}}, Rgb(40, 28, 26));
    // Flag on the turret.
    DrawLine(c, {184, 18}, {184, 2}, 1.5f, Rgb(60, 50, 50));
    std::vector<Point> flag;
    for (int k = 0; k <= 8; ++k) flag.push_back({184.0f + k * 2.6f, 3.0f + 2.0f * SinTurns(k / 8.0f)});
    for (int k = 8; k >= 0; --k) flag.push_back({184.0f + k * 2.6f, 12.0f + 2.0f * SinTurns(k / 8.0f)});
    FillPolygon(c, flag, Rgb(200, 36, 40));
    // Gulls.
    Random rnd(1390);
    for (int i = 0; i < 6; ++i) {
        float gx = rnd.Range(340, 600), gy = rnd.Range(110, 230), s = rnd.Range(3, 6);
        DrawLine(c, {gx - s, gy - s * 0.5f}, {gx, gy}, 1.2f, Rgb(60, 60, 76));
        DrawLine(c, {gx, gy}, {gx + s, gy - s * 0.5f}, 1.2f, Rgb(60, 60, 76));
    }
    Vignette(c, 0.3f);
    return Finish(c);
}

// --- the bomb phase ---------------------------------------------------------

ColorTable SpriteTable() {
    ColorTable t{};
    const Rgb8 greens[10] = {{0, 40, 20},  {0, 64, 32},   {0, 88, 44},  {0, 112, 56},   {0, 136, 67},
                             {0, 156, 76}, {0, 176, 86}, {0, 195, 95}, {60, 215, 130}, {130, 235, 175}};
    for (int i = 0; i < 10; ++i) t[10 + i] = greens[i];
    // Greys 1, 2, 3 ... from index 20, so every level the backdrop needs is
    // there and the ramp stops short of white.
    for (int i = 20; i < 255; ++i) {
        auto v = static_cast<uint8_t>(i - 19);
        t[i] = {v, v, v};
    }
    t[255] = {255, 255, 255};
    return t;
}

ColorTable MaskTable() {
    // A copy of the sprite's own table: 0 is its first black and 255 its only
    // white, so the mask gives the same indices whether it is copied or
    // colour-matched, and a copy into the sprite's buffers needs no matching
    // at all.
    return SpriteTable();
}

namespace {

const Point kSpriteNose{7.0f, 57.5f};
const Point kSpriteTail{55.0f, 9.5f};

}  // namespace

IndexedImage BombSprite() {
    IndexedImage im;
    im.width = im.height = kSpriteSize;
    im.table = SpriteTable();
    im.pixels.assign(static_cast<size_t>(kSpriteSize) * kSpriteSize, 0);
    // Every second row only: the bomb reads as scan lines over the backdrop.
    for (int y = 0; y < kSpriteSize; y += 2)
        for (int x = 0; x < kSpriteSize; ++x)
            if (InsideBomb(kSpriteNose, kSpriteTail, Px(x), Px(y))) im.pixels[static_cast<size_t>(y) * kSpriteSize + x] = kBombIndex;
    return im;
}

IndexedImage BombMask(const IndexedImage& sprite) {
    IndexedImage im = sprite;
    im.table = MaskTable();
    for (uint8_t& p : im.pixels) p = p ? 0 : 255;
    return im;
}

IndexedImage Backdrop() {
    const int w = kWidth, h = kHeight;
    std::vector<float> grey(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float g = 30.0f + 34.0f * (Fbm2(1281, Px(x) / 110.0f, Px(y) / 110.0f, 5) - 0.5f);
            g += 9.0f * (Noise2(1282, Px(x) / 2.2f, Px(y) / 2.2f) - 0.5f);
            // Cracks in the ground.
            float crack = std::fabs(Fbm2(1283, Px(x) / 70.0f, Px(y) / 70.0f, 5) - 0.5f);
            g -= 12.0f * Smooth(0.012f, 0.0f, crack);
            grey[static_cast<size_t>(y) * w + x] = g;
        }
    // Craters: a dark bowl whose far wall catches the light from the upper
    // left, and a raised rim.
    Random rnd(1284);
    for (int i = 0; i < 16; ++i) {
        float cx = rnd.Range(0, w), cy = rnd.Range(0, h), r = rnd.Range(12, 46);
        for (int y = std::max(0, static_cast<int>(cy - r * 1.5f)); y < std::min(h, static_cast<int>(cy + r * 1.5f)); ++y)
            for (int x = std::max(0, static_cast<int>(cx - r * 1.5f)); x < std::min(w, static_cast<int>(cx + r * 1.5f)); ++x) {
                float dx = Px(x) - cx, dy = Px(y) - cy;
                float d = std::sqrt(dx * dx + dy * dy);
                float q = d / r + 0.15f * (Noise2(1285 + i, Px(x) / 6.0f, Px(y) / 6.0f) - 0.5f);
                float facing = d > 0 ? (dx + dy) / d * 0.7071f : 0.0f;  // towards lower right
                float& g = grey[static_cast<size_t>(y) * w + x];
                if (q < 1.0f) g += -16.0f * (1.0f - q * q) + 9.0f * facing * q;
                else if (q < 1.45f) g += 10.0f * (1.0f - (q - 1.0f) / 0.45f) * (0.6f - 0.4f * facing);
            }
    }
    // Scattered rubble, each stone lit on its upper left.
    for (int i = 0; i < 700; ++i) {
        float cx = rnd.Range(0, w), cy = rnd.Range(0, h), r = rnd.Range(1.2f, 3.8f);
        for (int y = std::max(0, static_cast<int>(cy - r - 2)); y < std::min(h, static_cast<int>(cy + r + 3)); ++y)
            for (int x = std::max(0, static_cast<int>(cx - r - 2)); x < std::min(w, static_cast<int>(cx + r + 3)); ++x) {
                float dx = Px(x) - cx, dy = Px(y) - cy;
                float d = std::sqrt(dx * dx + dy * dy);
                float& g = grey[static_cast<size_t>(y) * w + x];
                if (d < r) g += 8.0f - 10.0f * (dx + dy) / (r * 1.414f);
                else if (d < r + 2.0f && dx + dy > 0) g -= 6.0f;  // its shadow
            }
    }
    IndexedImage im;
    im.width = w;
    im.height = h;
    im.table = SpriteTable();
    im.pixels.resize(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float dx = (Px(x) - w * 0.5f) / (w * 0.5f), dy = (Px(y) - h * 0.5f) / (h * 0.5f);
            float g = grey[static_cast<size_t>(y) * w + x] * (1.0f - 0.5f * Smooth(0.2f, 2.0f, dx * dx + dy * dy));
            int level = std::clamp(static_cast<int>(std::floor(g + 0.5f)), 0, kBackdropMaxGrey);
            // Grey g sits at index 19 + g; plain black is index 0.
            im.pixels[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(level == 0 ? 0 : 19 + level);
        }
    return im;
}

// --- the dialogs' pictures ------------------------------------------------

IndexedImage ConfigBanner() {
    Canvas c(128, 64);
    VerticalGradient(c, {{0, Rgb(18, 12, 46)}, {30, Rgb(92, 28, 78)}, {52, Rgb(226, 92, 56)}, {64, Rgb(255, 170, 86)}});
    Glow(c, 98, 60, 10, 70, Rgb(255, 150, 70), 0.6f);
    FillEllipse(c, 98, 60, 7, 7, Rgb(255, 232, 180));
    Trail(c, 1241, {30, 36}, {50, 16}, 2.0f, Rgb(150, 80, 100), 0.8f);
    DrawShadedBomb(c, {18, 48}, {30, 36}, Rgb(70, 62, 80), Rgb(52, 44, 60));
    Random rnd(1242);
    for (float x = -2; x < 128;) {
        float w = rnd.Range(6, 14), h = rnd.Range(6, 16);
        FillPolygon(c, {{x, 64}, {x, 64 - h}, {x + w, 64 - h}, {x + w, 64}}, Rgb(20, 8, 22));
        if (rnd.Chance(0.5f)) c.Blend(static_cast<int>(x + w * 0.5f), static_cast<int>(64 - h + 3), Rgb(255, 200, 110), 0.9f);
        x += w;
    }
    DrawLettering(c, "VANTREL", 3, 6, {3, 0, 1, 1, Rgb(255, 236, 130), Rgb(224, 92, 18), Rgb(30, 8, 20)});
    return Quantize(c);
}

IndexedImage AboutPicture() {
    Canvas c(128, 80);
    VerticalGradient(c, {{0, Rgb(4, 6, 22)}, {50, Rgb(16, 24, 60)}, {80, Rgb(60, 54, 96)}});
    Stars(c, 1251, 60, 60);
    Beam(c, {20, 80}, 0.35f, -1, 0.06f, 0.35f, Rgb(186, 206, 255));
    Beam(c, {108, 80}, -0.3f, -1, 0.06f, 0.35f, Rgb(186, 206, 255));
    DrawShadedBomb(c, {38, 62}, {92, 12}, Rgb(60, 150, 90), Rgb(44, 110, 70));
    Random rnd(1252);
    for (float x = -2; x < 128;) {
        float w = rnd.Range(7, 16), h = rnd.Range(5, 15);
        FillPolygon(c, {{x, 80}, {x, 80 - h}, {x + w, 80 - h}, {x + w, 80}}, Rgb(8, 10, 20));
        for (float wy = 80 - h + 3; wy < 78; wy += 4)
            for (float wx = x + 2; wx < x + w - 2; wx += 3)
                if (rnd.Chance(0.3f)) c.Blend(static_cast<int>(wx), static_cast<int>(wy), Rgb(255, 210, 120), 0.9f);
        x += w + rnd.Range(0, 3);
    }
    return Quantize(c);
}

IconImage BombIcon(int size) {
    const float s = static_cast<float>(size);
    const Point nose{s * 0.1f, s * 0.9f}, tail{s * 0.86f, s * 0.14f};
    Canvas c(size, size);
    DrawShadedBomb(c, nose, tail, Rgb(70, 160, 100), Rgb(50, 120, 80));
    IconImage icon;
    icon.image = Quantize(c);
    icon.transparent.assign(static_cast<size_t>(size) * size, 0);
    // Index 0 is the darkest entry; made exactly black it is what the
    // transparent pixels hold, so they leave the screen as it is.
    icon.image.table[0] = {0, 0, 0};
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            int hits = 0;
            for (int sy = 0; sy < 4; ++sy)
                for (int sx = 0; sx < 4; ++sx)
                    hits += InsideBomb(nose, tail, x + (sx + 0.5f) * 0.25f, y + (sy + 0.5f) * 0.25f);
            if (hits < 8) {
                icon.transparent[static_cast<size_t>(y) * size + x] = 1;
                icon.image.pixels[static_cast<size_t>(y) * size + x] = 0;
            }
        }
    return icon;
}

std::vector<IconImage> BombIcons() { return {BombIcon(16), BombIcon(32)}; }

}  // namespace artgen
