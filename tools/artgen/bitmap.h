// 8-bit indexed pictures and their stored forms: RLE8 device-independent
// bitmaps and icons.
#ifndef ARTGEN_BITMAP_H
#define ARTGEN_BITMAP_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace artgen {

struct Rgb8 {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb8&) const = default;
};

using ColorTable = std::array<Rgb8, 256>;

// Rows top-down in memory; the stored bitmap turns them bottom-up.
struct IndexedImage {
    int width = 0, height = 0;
    ColorTable table{};
    std::vector<uint8_t> pixels;
    uint8_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// RLE8 of one picture, rows bottom-up, each row closed by end-of-line and
// the last by end-of-bitmap.
std::vector<uint8_t> EncodeRle8(const IndexedImage& image);
// The whole .bmp file. colorsUsed is what the header states: 256 or 0.
std::vector<uint8_t> WriteBmp(const IndexedImage& image, uint32_t colorsUsed);

struct ParsedBmp {
    IndexedImage image;
    uint32_t headerSize = 0, compression = 0, colorsUsed = 0;
    uint16_t planes = 0, bitCount = 0;
    bool bottomUp = false;
    std::vector<uint8_t> reservedBytes;  // the fourth byte of each table entry
};
// Reads a file this tool writes (8 bits, RLE8). On failure returns false
// and says why in error; never reads out of bounds.
bool ParseBmp(const std::vector<uint8_t>& file, ParsedBmp& out, std::string& error);
bool DecodeRle8(const uint8_t* data, size_t size, int width, int height, std::vector<uint8_t>& topDown,
                std::string& error);

// An icon file of 8-bit images, each with its colour table and an AND mask
// (1 = transparent).
struct IconImage {
    IndexedImage image;
    std::vector<uint8_t> transparent;  // one byte per pixel, top-down
};
std::vector<uint8_t> WriteIco(const std::vector<IconImage>& images);

}  // namespace artgen

#endif
