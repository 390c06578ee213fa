// The committed pictures, read by a decoder of their own (not the
// generator's), against what the engine and the dialogs rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> ReadFile(const std::string& name) {
    std::ifstream in(std::string(RESOURCES_DIR) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t U16(const std::vector<uint8_t>& f, size_t at) { return f[at] | (f[at + 1] << 8); }
uint32_t U32(const std::vector<uint8_t>& f, size_t at) { return U16(f, at) | (U16(f, at + 2) << 16); }

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

struct Picture {
    bool ok = false;
    std::string problem;
    uint32_t headerSize = 0, planes = 0, bits = 0, compression = 0, colorsUsed = 0, dataOffset = 0;
    int32_t width = 0, height = 0;
    std::vector<Rgb> table;
    std::vector<int> reserved;
    std::vector<uint8_t> pixels;  // top row first
    int At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    Rgb ColorAt(int x, int y) const { return table[At(x, y)]; }
};

// Strict RLE8: every run stays inside its row and the picture, the stream
// ends with the end-of-bitmap escape and never runs off its data.
Picture Load(const std::string& name) {
    Picture p;
    std::vector<uint8_t> f = ReadFile(name);
    if (f.size() < 54 + 1024 || f[0] != 'B' || f[1] != 'M') {
        p.problem = "missing or too short";
        return p;
    }
    p.dataOffset = U32(f, 10);
    p.headerSize = U32(f, 14);
    p.width = static_cast<int32_t>(U32(f, 18));
    p.height = static_cast<int32_t>(U32(f, 22));
    p.planes = U16(f, 26);
    p.bits = U16(f, 28);
    p.compression = U32(f, 30);
    uint32_t dataSize = U32(f, 34);
    p.colorsUsed = U32(f, 46);
    if (p.width <= 0 || p.height <= 0 || p.width > 2048 || p.height > 2048 || p.dataOffset > f.size() ||
        f.size() - p.dataOffset < dataSize) {
        p.problem = "bad geometry or data bounds";
        return p;
    }
    for (int i = 0; i < 256; ++i) {
        size_t at = 54 + 4 * static_cast<size_t>(i);
        p.table.push_back({f[at + 2], f[at + 1], f[at]});
        p.reserved.push_back(f[at + 3]);
    }
    p.pixels.assign(static_cast<size_t>(p.width) * p.height, 0);
    size_t i = p.dataOffset, end = p.dataOffset + dataSize;
    int x = 0, rowFromBottom = 0;
    auto put = [&](uint8_t v) {
        if (x >= p.width || rowFromBottom >= p.height) return false;
        p.pixels[static_cast<size_t>(p.height - 1 - rowFromBottom) * p.width + x++] = v;
        return true;
    };
    while (i + 2 <= end) {
        uint8_t a = f[i], b = f[i + 1];
        i += 2;
        if (a) {
            for (int k = 0; k < a; ++k)
                if (!put(b)) {
                    p.problem = "encoded run out of bounds";
                    return p;
                }
        } else if (b == 0) {
            x = 0;
            ++rowFromBottom;
        } else if (b == 1) {
            p.ok = true;
            return p;
        } else if (b == 2) {
            p.problem = "delta escape (never written by us)";
            return p;
        } else {
            if (i + b > end) {
                p.problem = "absolute run cut short";
                return p;
            }
            for (int k = 0; k < b; ++k)
                if (!put(f[i + k])) {
                    p.problem = "absolute run out of bounds";
                    return p;
                }
            i += b + (b & 1);
        }
    }
    p.problem = "no end-of-bitmap escape";
    return p;
}

struct Expected {
    const char* file;
    int width, height;
    uint32_t colorsUsed;
    size_t minColours;  // distinct indices a real picture of this kind needs
};

const Expected kSlideshow[] = {{"title.bmp", 640, 480, 256, 101},
                               {"battlefield.bmp", 640, 480, 256, 101},
                               {"searchlights.bmp", 640, 480, 256, 101},
                               {"fortress.bmp", 640, 480, 0, 101}};
const Expected kOthers[] = {{"bomb.bmp", 65, 65, 256, 2},
                            {"backdrop.bmp", 640, 480, 256, 24},
                            {"bomb_mask.bmp", 65, 65, 256, 2},
                            {"config_banner.bmp", 128, 64, 256, 33},
                            {"about.bmp", 128, 80, 256, 33}};

size_t Distinct(const Picture& p) { return std::set<uint8_t>(p.pixels.begin(), p.pixels.end()).size(); }

bool Black(const Rgb& c) { return c == Rgb{0, 0, 0}; }
bool White(const Rgb& c) { return c == Rgb{255, 255, 255}; }

// How GDI maps a colour into another table: exact match first, else the
// nearest, lowest index on ties.
int MatchColour(const std::vector<Rgb>& table, Rgb c) {
    int best = 0;
    long bestD = -1;
    for (int i = 0; i < 256; ++i) {
        long dr = table[i].r - c.r, dg = table[i].g - c.g, db = table[i].b - c.b;
        long d = dr * dr + dg * dg + db * db;
        if (bestD < 0 || d < bestD) {
            bestD = d;
            best = i;
        }
    }
    return best;
}

TEST(ArtFiles, EveryBitmapIsAn8BitRle8PictureOfItsSizeThatDecodesCleanly) {
    std::vector<Expected> all(std::begin(kSlideshow), std::end(kSlideshow));
    all.insert(all.end(), std::begin(kOthers), std::end(kOthers));
    for (const Expected& e : all) {
        SCOPED_TRACE(e.file);
        Picture p = Load(e.file);
        ASSERT_TRUE(p.ok) << p.problem;
        EXPECT_EQ(p.headerSize, 40u);
        EXPECT_EQ(p.planes, 1u);
        EXPECT_EQ(p.bits, 8u);
        EXPECT_EQ(p.compression, 1u);  // BI_RLE8
        EXPECT_EQ(p.width, e.width);
        EXPECT_EQ(p.height, e.height);  // positive: bottom-up
        EXPECT_EQ(p.colorsUsed, e.colorsUsed);
        EXPECT_EQ(p.dataOffset, 54u + 1024u);  // all 256 entries present
        EXPECT_TRUE(std::all_of(p.reserved.begin(), p.reserved.end(), [](int r) { return r == 0; }));
        EXPECT_GE(Distinct(p), e.minColours);
    }
}

TEST(ArtFiles, SlideshowPicturesAreRichAndDistinct) {
    std::vector<std::vector<uint8_t>> seen;
    for (const Expected& e : kSlideshow) {
        SCOPED_TRACE(e.file);
        Picture p = Load(e.file);
        ASSERT_TRUE(p.ok) << p.problem;
        EXPECT_GT(Distinct(p), 100u);
        // No colour may cover most of the picture, as a flat fill would.
        std::array<size_t, 256> count{};
        for (uint8_t v : p.pixels) ++count[v];
        EXPECT_LT(*std::max_element(count.begin(), count.end()), p.pixels.size() / 4);
        for (const auto& other : seen) EXPECT_NE(other, p.pixels);
        seen.push_back(p.pixels);
    }
}

TEST(ArtFiles, SpriteTableIsBlackThenGreenThenGreyWithOneWhiteAtTheEnd) {
    Picture s = Load("bomb.bmp");
    ASSERT_TRUE(s.ok) << s.problem;
    for (int i = 0; i < 10; ++i) EXPECT_TRUE(Black(s.table[i])) << i;
    for (int i = 10; i < 20; ++i) EXPECT_TRUE(s.table[i].g > s.table[i].r && s.table[i].g > s.table[i].b) << i;
    EXPECT_EQ(s.table[17], (Rgb{0, 195, 95}));
    for (int i = 20; i < 255; ++i) {
        EXPECT_TRUE(s.table[i].r == s.table[i].g && s.table[i].g == s.table[i].b) << i;
        EXPECT_FALSE(White(s.table[i])) << i;
        if (i > 20) {
            EXPECT_GE(s.table[i].r, s.table[i - 1].r) << i;
        }
    }
    EXPECT_TRUE(White(s.table[255]));
    for (int i = 0; i < 255; ++i) EXPECT_FALSE(White(s.table[i])) << i;
}

TEST(ArtFiles, BombIsIndex17OnEvenRowsLyingAlongTheDiagonalFinsUpperRight) {
    Picture s = Load("bomb.bmp");
    ASSERT_TRUE(s.ok) << s.problem;
    int count = 0, minX = 65, maxX = -1, minY = 65, maxY = -1;
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
            int v = s.At(x, y);
            if (!v) continue;
            ASSERT_EQ(v, 17) << x << "," << y;
            ASSERT_EQ(y % 2, 0) << "bomb on odd row " << y;
            ++count;
            minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
        }
    EXPECT_GT(count, 400);
    EXPECT_LT(count, 4225 / 4);
    // The bomb spans most of the square both ways, so it lies diagonally.
    EXPECT_GT(maxX - minX, 40);
    EXPECT_GT(maxY - minY, 40);
    int upperRight = 0, lowerLeft = 0, offDiagonal = 0;
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
            if (!s.At(x, y)) continue;
            int along = (2 * x - minX - maxX) - (2 * y - minY - maxY);
            upperRight += along > 0;
            lowerLeft += along < 0;
            // Its axis runs from lower left to upper right, not the other way.
            offDiagonal += std::abs((2 * x - minX - maxX) + (2 * y - minY - maxY)) > 40;
        }
    EXPECT_GT(upperRight, lowerLeft) << "the broad finned end belongs at the upper right";
    EXPECT_LT(offDiagonal * 10, count);
    // The nose end: the lowest bomb row starts further left than the top row.
    int firstXTop = -1, firstXBottom = -1;
    for (int x = 0; x < s.width && firstXTop < 0; ++x)
        if (s.At(x, minY)) firstXTop = x;
    for (int x = 0; x < s.width && firstXBottom < 0; ++x)
        if (s.At(x, maxY)) firstXBottom = x;
    EXPECT_LT(firstXBottom, firstXTop);
}

TEST(ArtFiles, MaskIsTheSpritesComplementAndGivesTheSameIndicesWhenMatchedByColour) {
    Picture s = Load("bomb.bmp"), m = Load("bomb_mask.bmp");
    ASSERT_TRUE(s.ok && m.ok) << s.problem << m.problem;
    ASSERT_EQ(s.pixels.size(), m.pixels.size());
    EXPECT_TRUE(Black(m.table[0]));
    EXPECT_TRUE(White(m.table[255]));
    for (int i = 1; i < 255; ++i) EXPECT_FALSE(White(m.table[i])) << i;
    for (int y = 0; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x) {
            int want = s.At(x, y) ? 0 : 255;
            ASSERT_EQ(m.At(x, y), want) << x << "," << y;
            ASSERT_EQ(MatchColour(s.table, m.ColorAt(x, y)), want) << x << "," << y;
        }
}

TEST(ArtFiles, BackdropIsTexturedDarkGreyFromTheSpritesTable) {
    Picture s = Load("bomb.bmp"), b = Load("backdrop.bmp");
    ASSERT_TRUE(s.ok && b.ok) << s.problem << b.problem;
    EXPECT_EQ(b.table, s.table);
    std::set<int> greys;
    int darkest = 255, lightest = 0;
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x) {
            Rgb c = b.ColorAt(x, y);
            ASSERT_NE(std::find(s.table.begin(), s.table.end(), c), s.table.end()) << x << "," << y;
            ASSERT_TRUE(c.r == c.g && c.g == c.b) << x << "," << y;
            // Copied into a buffer that carries the sprite's table, the
            // colour must land on the same index.
            ASSERT_EQ(s.table[MatchColour(s.table, c)], c);
            greys.insert(c.r);
            darkest = std::min(darkest, c.r);
            lightest = std::max(lightest, c.r);
        }
    EXPECT_LE(lightest, 71);
    EXPECT_LE(darkest, 8);
    EXPECT_GE(greys.size(), 24u);
}

TEST(ArtFiles, IconHoldsA16And32ImageWithTheirMasks) {
    std::vector<uint8_t> f = ReadFile("bomb.ico");
    ASSERT_GE(f.size(), 6u + 32u);
    EXPECT_EQ(U16(f, 0), 0u);
    EXPECT_EQ(U16(f, 2), 1u);  // icon, not cursor
    ASSERT_EQ(U16(f, 4), 2u);
    std::set<int> sizes;
    for (int i = 0; i < 2; ++i) {
        size_t e = 6 + 16 * static_cast<size_t>(i);
        int size = f[e];
        uint32_t bytes = U32(f, e + 8), offset = U32(f, e + 12);
        sizes.insert(size);
        ASSERT_LE(static_cast<size_t>(offset) + bytes, f.size());
        EXPECT_EQ(f[e + 1], size);
        EXPECT_EQ(U16(f, e + 6), 8u);
        EXPECT_EQ(U32(f, offset), 40u);
        EXPECT_EQ(U32(f, offset + 8), static_cast<uint32_t>(2 * size));  // colour image and mask
        EXPECT_EQ(U16(f, offset + 14), 8u);
        int xorStride = (size + 3) & ~3, andStride = ((size + 31) / 32) * 4;
        ASSERT_EQ(bytes, 40u + 1024u + static_cast<uint32_t>((xorStride + andStride) * size));
        // Some pixels show the bomb and the corners are see-through.
        size_t andAt = offset + 40 + 1024 + static_cast<size_t>(xorStride) * size;
        int opaque = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) opaque += !(f[andAt + y * andStride + x / 8] & (0x80 >> (x % 8)));
        EXPECT_GT(opaque, size * size / 8);
        EXPECT_LT(opaque, size * size / 2);
        // Rows are stored bottom-up; the bottom right corner is background.
        EXPECT_TRUE(f[andAt + (size - 1) / 8] & (0x80 >> ((size - 1) % 8)));
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 32}));
}

TEST(ArtFiles, ResourceScriptNamesEveryPictureWithItsIdentifier) {
    std::vector<uint8_t> rc = ReadFile("saver.rc"), header = ReadFile("resource.h");
    std::string script(rc.begin(), rc.end()), ids(header.begin(), header.end());
    const std::pair<int, const char*> entries[] = {{117, "title.bmp"},    {119, "battlefield.bmp"},
                                                   {120, "searchlights.bmp"}, {138, "fortress.bmp"},
                                                   {118, "bomb.bmp"},     {128, "backdrop.bmp"},
                                                   {130, "bomb_mask.bmp"}, {124, "config_banner.bmp"},
                                                   {125, "about.bmp"},    {139, "bomb.ico"}};
    for (const auto& [id, file] : entries) {
        SCOPED_TRACE(file);
        // The statement names the file by a symbol that resource.h gives the id.
        size_t at = script.find(std::string("\"") + file + "\"");
        ASSERT_NE(at, std::string::npos);
        size_t lineStart = script.rfind('\n', at) + 1;
        std::string symbol = script.substr(lineStart, script.find(' ', lineStart) - lineStart);
        EXPECT_NE(ids.find("#define " + symbol + " " + std::to_string(id) + "\n"), std::string::npos) << symbol;
        EXPECT_FALSE(ReadFile(file).empty());
    }
}

}  // namespace
