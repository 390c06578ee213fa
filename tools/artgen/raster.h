// Drawing primitives for the art generator: a floating-point RGB canvas,
// a seeded random source, lattice noise and a few anti-aliased shapes.
//
// Everything here must give the same bits on every run and every build of
// this machine: only +, -, *, / and sqrt (all correctly rounded in IEEE) and
// floor are used on floats; nothing from libm whose last bit may differ
// between library versions (sin, exp, pow).
#ifndef ARTGEN_RASTER_H
#define ARTGEN_RASTER_H

#include <cstdint>
#include <string>
#include <vector>

namespace artgen {

struct Color {
    float r = 0, g = 0, b = 0;
};

inline Color Rgb(int r, int g, int b) { return {r / 255.0f, g / 255.0f, b / 255.0f}; }
inline Color operator+(Color a, Color b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }
inline Color operator*(Color a, float k) { return {a.r * k, a.g * k, a.b * k}; }
inline Color operator*(Color a, Color b) { return {a.r * b.r, a.g * b.g, a.b * b.b}; }

float Clamp01(float v);
float Mix(float a, float b, float t);
Color Mix(Color a, Color b, float t);
float Smooth(float edge0, float edge1, float x);
// A soft bump: 1 at d = 0 falling towards 0, without exp.
inline float Falloff(float d, float scale) {
    float q = d / scale;
    return 1.0f / (1.0f + q * q);
}
// sin and cos of an angle given in turns, from a fixed polynomial.
float SinTurns(float turns);
inline float CosTurns(float turns) { return SinTurns(turns + 0.25f); }

class Canvas {
public:
    Canvas(int width, int height, Color fill = {});
    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Inside(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
    Color& At(int x, int y) { return pixels_[static_cast<size_t>(y) * width_ + x]; }
    const Color& At(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }
    // Cover-weighted paint: alpha 0 leaves the pixel, 1 replaces it.
    void Blend(int x, int y, Color c, float alpha);
    // Light: adds, as a glow or a beam does.
    void Add(int x, int y, Color c, float amount);

private:
    int width_, height_;
    std::vector<Color> pixels_;
};

// splitmix64: small, fast and the same everywhere.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t Next();
    float Unit();                     // [0, 1)
    float Range(float lo, float hi);  // [lo, hi)
    int Int(int lo, int hi);          // [lo, hi]
    bool Chance(float p) { return Unit() < p; }

private:
    uint64_t state_;
};

// Lattice value noise in [0, 1] with a quintic fade, and its fractal sums.
float Noise2(uint32_t seed, float x, float y);
float Fbm2(uint32_t seed, float x, float y, int octaves);
float Noise1(uint32_t seed, float x);
float Fbm1(uint32_t seed, float x, int octaves);

struct Point {
    float x, y;
};

// Shapes are filled by sampling 4 x 4 points in each pixel of their bounds.
void FillPolygon(Canvas& canvas, const std::vector<Point>& points, Color color, float alpha = 1.0f);
void FillEllipse(Canvas& canvas, float cx, float cy, float rx, float ry, Color color, float alpha = 1.0f);
void DrawLine(Canvas& canvas, Point a, Point b, float width, Color color, float alpha = 1.0f);
// Adds a round glow of radius scale around (cx, cy) within the given reach.
void Glow(Canvas& canvas, float cx, float cy, float scale, float reach, Color color, float amount);
// Vertical gradient through colour stops given as (y, colour), y increasing.
struct Stop {
    float y;
    Color color;
};
void VerticalGradient(Canvas& canvas, const std::vector<Stop>& stops);

// 5 x 7 pixel lettering. A mask is width x height bytes, 1 where lettering is.
int TextColumns(const std::string& text);  // width in font cells, spacing included
void StampText(std::vector<uint8_t>& mask, int width, int height, const std::string& text, int x0, int y0,
               int scale);
// Plain one-colour text, for labels.
void DrawText(Canvas& canvas, const std::string& text, int x0, int y0, int scale, Color color);

// The lettering of the title art: bevelled face shaded from top to bottom,
// a dark outline and a drop shadow.
struct Lettering {
    int scale;
    int bevel;
    int outline;
    int shadow;
    Color top, bottom, outlineColor;
};
void DrawLettering(Canvas& canvas, const std::string& text, int x0, int y0, const Lettering& style);

// The bomb's side outline along its axis: u runs from 0 at the nose to 1 at
// the tail; the result is the half-width across the axis in lengths.
float BombBodyRadius(float u);
float BombFinHalfWidth(float u);
// True when the point lies in the bomb drawn from nose to tail.
bool InsideBomb(Point nose, Point tail, float px, float py);
// A shaded bomb, lit from the upper left.
void DrawShadedBomb(Canvas& canvas, Point nose, Point tail, Color body, Color fin);

}  // namespace artgen

#endif
