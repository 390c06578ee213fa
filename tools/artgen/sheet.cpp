#include "sheet.h"

#include <zlib.h>

#include <cstdlib>
#include <string>

#include "catalogue.h"
#include "quantize.h"
#include "raster.h"

namespace artgen {

namespace {

void Put32Be(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    Put32Be(out, static_cast<uint32_t>(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    Put32Be(out, static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
}

int Paeth(int a, int b, int c) {
    int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
}

}  // namespace

std::vector<uint8_t> WritePng(int width, int height, int channels, const std::vector<uint8_t>& rgb) {
    const size_t bpp = static_cast<size_t>(channels);
    const size_t stride = static_cast<size_t>(width) * bpp;
    std::vector<uint8_t> raw;
    raw.reserve((stride + 1) * height);
    std::vector<uint8_t> candidate(stride), best(stride);
    for (int y = 0; y < height; ++y) {
        const uint8_t* cur = &rgb[y * stride];
        const uint8_t* up = y > 0 ? &rgb[(y - 1) * stride] : nullptr;
        // Each row takes the filter whose output has the smallest sum of
        // magnitudes, the usual cheap guess at what deflates best.
        long bestScore = -1;
        uint8_t bestFilter = 0;
        for (uint8_t filter = 0; filter <= 4; ++filter) {
            long score = 0;
            for (size_t i = 0; i < stride; ++i) {
                int a = i >= bpp ? cur[i - bpp] : 0, b = up ? up[i] : 0, c = (up && i >= bpp) ? up[i - bpp] : 0;
                int pred = filter == 0 ? 0 : filter == 1 ? a : filter == 2 ? b : filter == 3 ? (a + b) / 2 : Paeth(a, b, c);
                candidate[i] = static_cast<uint8_t>(cur[i] - pred);
                score += candidate[i] < 128 ? candidate[i] : 256 - candidate[i];
            }
            if (bestScore < 0 || score < bestScore) {
                bestScore = score;
                bestFilter = filter;
                best = candidate;
            }
        }
        raw.push_back(bestFilter);
        raw.insert(raw.end(), best.begin(), best.end());
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9);
    packed.resize(packedSize);

    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    Put32Be(header, static_cast<uint32_t>(width));
    Put32Be(header, static_cast<uint32_t>(height));
    // 8 bits a sample, RGB or RGBA; deflate, adaptive filters, no interlace.
    header.insert(header.end(), {8, static_cast<uint8_t>(channels == 4 ? 6 : 2), 0, 0, 0});
    PutChunk(out, "IHDR", header);
    PutChunk(out, "IDAT", packed);
    PutChunk(out, "IEND", {});
    return out;
}

namespace {

Color ColorOf(const Rgb8& c) { return Rgb(c.r, c.g, c.b); }

// Draws the picture at (x0, y0), enlarged by `zoom` or halved when zoom is 0
// (the four corners averaged, as a viewer would show it).
void Place(Canvas& sheet, const IndexedImage& im, int x0, int y0, int zoom) {
    if (zoom == 0) {
        for (int y = 0; y < im.height / 2; ++y)
            for (int x = 0; x < im.width / 2; ++x) {
                Color sum{};
                for (int k = 0; k < 4; ++k) sum = sum + ColorOf(im.table[im.At(2 * x + (k & 1), 2 * y + (k >> 1))]);
                sheet.At(x0 + x, y0 + y) = sum * 0.25f;
            }
        return;
    }
    for (int y = 0; y < im.height * zoom; ++y)
        for (int x = 0; x < im.width * zoom; ++x) sheet.At(x0 + x, y0 + y) = ColorOf(im.table[im.At(x / zoom, y / zoom)]);
}

// Icons over a checkerboard, so their transparent corners show as such.
void PlaceIcon(Canvas& sheet, const IconImage& icon, int x0, int y0, int zoom) {
    const IndexedImage& im = icon.image;
    for (int y = 0; y < im.height * zoom; ++y)
        for (int x = 0; x < im.width * zoom; ++x) {
            size_t i = static_cast<size_t>(y / zoom) * im.width + x / zoom;
            bool light = ((x / 8) + (y / 8)) % 2 == 0;
            sheet.At(x0 + x, y0 + y) = icon.transparent[i] ? (light ? Rgb(150, 154, 164) : Rgb(110, 114, 124)) : ColorOf(im.table[im.pixels[i]]);
        }
}

std::string LabelOf(int id) {
    for (const CatalogueEntry& e : kBitmaps)
        if (e.id == id) return std::to_string(id) + " " + e.label;
    return std::to_string(id);
}

}  // namespace

std::vector<uint8_t> ContactSheet(const std::map<int, IndexedImage>& bitmaps, const std::vector<IconImage>& icons) {
    const int width = 1024, height = 768;
    Canvas sheet(width, height, Rgb(36, 40, 48));
    const Color ink = Rgb(226, 230, 236);
    const int columns[3] = {16, 352, 688};
    const int rows[3] = {12, 290, 568};
    auto item = [&](int column, int row, int id, int zoom, int dx = 0) {
        DrawText(sheet, LabelOf(id), columns[column] + dx, rows[row], 2, ink);
        Place(sheet, bitmaps.at(id), columns[column] + dx, rows[row] + 20, zoom);
    };
    item(0, 0, 117, 0);
    item(1, 0, 119, 0);
    item(2, 0, 120, 0);
    item(0, 1, 138, 0);
    item(1, 1, 128, 0);
    item(2, 1, 118, 2);
    item(2, 1, 130, 2, 150);
    item(0, 2, 124, 2);
    item(1, 2, 125, 2);
    DrawText(sheet, std::to_string(kIconId) + " ICON", columns[2], rows[2], 2, ink);
    PlaceIcon(sheet, icons[1], columns[2], rows[2] + 20, 3);
    PlaceIcon(sheet, icons[0], columns[2] + 112, rows[2] + 20, 6);
    PlaceIcon(sheet, icons[1], columns[2] + 224, rows[2] + 20, 1);
    PlaceIcon(sheet, icons[0], columns[2] + 264, rows[2] + 20, 1);

    std::vector<uint8_t> rgb;
    rgb.reserve(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            Rgb8 c = ToRgb8(sheet.At(x, y));
            rgb.insert(rgb.end(), {c.r, c.g, c.b});
        }
    return WritePng(width, height, 3, rgb);
}

std::vector<uint8_t> IconPng(const IconImage& icon) {
    const IndexedImage& im = icon.image;
    std::vector<uint8_t> rgba;
    rgba.reserve(im.pixels.size() * 4);
    for (size_t i = 0; i < im.pixels.size(); ++i) {
        const Rgb8& c = im.table[im.pixels[i]];
        rgba.insert(rgba.end(), {c.r, c.g, c.b, static_cast<uint8_t>(icon.transparent[i] ? 0 : 255)});
    }
    return WritePng(im.width, im.height, 4, rgba);
}

}  // namespace artgen
