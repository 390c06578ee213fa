// The generator's RLE8 writer must make a valid stream for any picture,
// whatever its width and however its pixels repeat; a strict decoder of the
// test's own reads it back.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "../../tools/artgen/bitmap.h"

namespace {

// Decodes and checks the shape of the stream: runs never cross a row,
// absolute runs hold at least 3 pixels and keep 16-bit alignment, every row
// but the top one ends with end-of-line, the top one with end-of-bitmap,
// and nothing follows it.
bool Decode(const std::vector<uint8_t>& s, int width, int height, std::vector<uint8_t>& topDown, std::string& why) {
    topDown.assign(static_cast<size_t>(width) * height, 0xEE);
    size_t i = 0;
    for (int row = 0; row < height; ++row) {
        int x = 0;
        while (true) {
            if (i + 2 > s.size()) return why = "stream ends inside row " + std::to_string(row), false;
            uint8_t a = s[i], b = s[i + 1];
            i += 2;
            if (a > 0) {
                if (x + a > width) return why = "encoded run crosses the row end", false;
                for (int k = 0; k < a; ++k) topDown[static_cast<size_t>(height - 1 - row) * width + x++] = b;
            } else if (b >= 3) {
                if (x + b > width || i + b > s.size()) return why = "absolute run out of bounds", false;
                for (int k = 0; k < b; ++k) topDown[static_cast<size_t>(height - 1 - row) * width + x++] = s[i + k];
                i += b + (b & 1);
                if ((i & 1) != 0) return why = "lost 16-bit alignment", false;
            } else if (b == 0 || b == 1) {
                if (x != width) return why = "row closed before its end", false;
                bool last = row == height - 1;
                if ((b == 1) != last) return why = "wrong escape at the end of row " + std::to_string(row), false;
                break;
            } else {
                return why = "delta or short absolute run", false;
            }
        }
    }
    if (i != s.size()) return why = "bytes after end-of-bitmap", false;
    return true;
}

artgen::IndexedImage Picture(int width, int height, uint32_t seed, int kind) {
    artgen::IndexedImage im;
    im.width = width;
    im.height = height;
    uint32_t state = seed * 2654435761u + 1;
    auto next = [&] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    uint8_t value = 0;
    for (int i = 0; i < width * height; ++i) {
        switch (kind) {
            case 0: value = static_cast<uint8_t>(next()); break;                    // noise
            case 1: value = 7; break;                                               // flat, runs longer than 255
            case 2: if (next() % 4 == 0) value = static_cast<uint8_t>(next()); break;  // short runs
            case 3: value = static_cast<uint8_t>((i / (1 + next() % 3)) & 1); break;   // 1- and 2-pixel runs
            default: value = static_cast<uint8_t>(i % 3 == 0 ? 0 : next()); break;  // zeros scattered in noise
        }
        im.pixels.push_back(value);
    }
    return im;
}

TEST(ArtRle8, EveryWidthAndPatternRoundTripsThroughAStrictDecoder) {
    for (int width : {1, 2, 3, 4, 5, 7, 65, 128, 255, 256, 257, 511, 640})
        for (int kind = 0; kind < 5; ++kind)
            for (uint32_t seed = 1; seed <= 3; ++seed) {
                SCOPED_TRACE("width " + std::to_string(width) + " kind " + std::to_string(kind));
                artgen::IndexedImage im = Picture(width, 5, seed, kind);
                std::vector<uint8_t> stream = artgen::EncodeRle8(im), back;
                std::string why;
                ASSERT_TRUE(Decode(stream, width, 5, back, why)) << why;
                ASSERT_EQ(back, im.pixels);
            }
}

TEST(ArtRle8, RepeatsAreStoredAsRunsSoFlatPicturesStaySmall) {
    artgen::IndexedImage flat = Picture(640, 480, 1, 1);
    // Three runs of 255, 255 and 130 plus the end escape per row.
    EXPECT_EQ(artgen::EncodeRle8(flat).size(), 480u * 8u);
}

TEST(ArtRle8, BitmapFileHeadersDescribeTheStream) {
    artgen::IndexedImage im = Picture(65, 65, 9, 2);
    im.table[255] = {255, 255, 255};
    std::vector<uint8_t> file = artgen::WriteBmp(im, 0);
    auto u32 = [&](size_t at) { return file[at] | (file[at + 1] << 8) | (file[at + 2] << 16) | (static_cast<uint32_t>(file[at + 3]) << 24); };
    EXPECT_EQ(u32(2), file.size());
    EXPECT_EQ(u32(10), 14u + 40u + 1024u);
    EXPECT_EQ(u32(34), file.size() - u32(10));  // image size is the stream's length
    EXPECT_EQ(u32(46), 0u);
    EXPECT_EQ(file[54 + 255 * 4 + 3], 0);  // reserved byte of the last entry
    std::vector<uint8_t> back;
    std::string why;
    ASSERT_TRUE(Decode({file.begin() + u32(10), file.end()}, 65, 65, back, why)) << why;
    EXPECT_EQ(back, im.pixels);
}

}  // namespace
