// The frame renderer, run as a user runs it (the binary, for its files and
// exit codes) and in process (for what the saver painted).
#include <gtest/gtest.h>
#include <layer_hooks.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "frames.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

uint32_t Little(const Bytes &b, size_t at, int bytes)
{
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | b.at(at + i);
    return value;
}

std::string Quote(const std::string &text) { return "'" + text + "'"; }

struct ToolRun {
    int exitCode;
    std::string errors;
};

class FramesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = ::testing::TempDir() + "frames-test-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern.data()));
        dir = pattern;
    }
    void TearDown() override { std::system(("rm -rf " + Quote(dir)).c_str()); }

    ToolRun Run(const std::vector<std::string> &arguments)
    {
        std::string command = Quote(FRAMES_TOOL);
        for (const std::string &argument : arguments)
            command += " " + Quote(argument);
        std::string errorFile = dir + "/stderr.txt";
        int status = std::system((command + " >/dev/null 2>" + Quote(errorFile)).c_str());
        Bytes errors = ReadFile(errorFile);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(errors.begin(), errors.end())};
    }

    // Every frame's pixels, in process, as 0x00RRGGBB.
    static std::vector<std::vector<uint32_t>> Render(frames::Options options)
    {
        std::vector<std::vector<uint32_t>> shots;
        EXPECT_EQ(0, frames::RunSaver(options, [&](long, HWND saver) {
            shots.push_back(layer::WindowPixels(saver));
        }));
        EXPECT_EQ(size_t(options.frames), shots.size());
        return shots;
    }

    static frames::Options Small(long count, std::vector<std::pair<std::string, DWORD>> settings = {})
    {
        frames::Options options;
        options.width = 160;
        options.height = 120;
        options.frames = count;
        options.settings = std::move(settings);
        return options;
    }

    std::string dir;
};

std::set<uint32_t> ColoursOf(const std::vector<uint32_t> &pixels) { return {pixels.begin(), pixels.end()}; }

// The sprite's colour table, which every bomb frame is composed in.
std::set<uint32_t> SpriteColours()
{
    layer::ResetHeadless(64, 48);
    HBITMAP sprite = static_cast<HBITMAP>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(118), IMAGE_BITMAP,
                                                     0, 0, LR_CREATEDIBSECTION));
    HDC memory = CreateCompatibleDC(nullptr);
    SelectObject(memory, sprite);
    RGBQUAD table[256] = {};
    UINT count = GetDIBColorTable(memory, 0, 256, table);
    DeleteDC(memory);
    DeleteObject(sprite);
    std::set<uint32_t> colours;
    for (UINT i = 0; i < count; ++i)
        colours.insert(uint32_t(table[i].rgbRed) << 16 | table[i].rgbGreen << 8 | table[i].rgbBlue);
    return colours;
}

// A 24-bit bottom-up BMP as top-down 0x00RRGGBB pixels; fails the test on
// anything else.
std::vector<uint32_t> DecodeBmp(const Bytes &file, int width, int height)
{
    EXPECT_GE(file.size(), 54u);
    if (file.size() < 54)
        return {};
    size_t rowBytes = (size_t(width) * 3 + 3) & ~size_t(3);
    EXPECT_EQ('B', file[0]);
    EXPECT_EQ('M', file[1]);
    EXPECT_EQ(file.size(), Little(file, 2, 4));
    EXPECT_EQ(54u, Little(file, 10, 4));
    EXPECT_EQ(40u, Little(file, 14, 4));
    EXPECT_EQ(uint32_t(width), Little(file, 18, 4));
    EXPECT_EQ(uint32_t(height), Little(file, 22, 4));
    EXPECT_EQ(24u, Little(file, 28, 2));
    EXPECT_EQ(0u, Little(file, 30, 4));
    EXPECT_EQ(54 + rowBytes * height, file.size());
    std::vector<uint32_t> pixels;
    if (file.size() != 54 + rowBytes * height)
        return pixels;
    for (int y = height - 1; y >= 0; --y)
        for (int x = 0; x < width; ++x) {
            const uint8_t *p = &file[54 + size_t(y) * rowBytes + size_t(x) * 3];
            pixels.push_back(uint32_t(p[2]) << 16 | p[1] << 8 | p[0]);
        }
    return pixels;
}

// A plain GIF decoder: every frame as the canvas a viewer shows after it.
std::vector<std::vector<uint32_t>> DecodeGif(const Bytes &gif, int *width, int *height)
{
    std::vector<std::vector<uint32_t>> frames;
    if (gif.size() < 13 || std::string(gif.begin(), gif.begin() + 6) != "GIF89a")
        return frames;
    *width = int(Little(gif, 6, 2));
    *height = int(Little(gif, 8, 2));
    size_t at = 13;
    std::vector<uint32_t> global;
    if (gif[10] & 0x80)
        for (int i = 0; i < (2 << (gif[10] & 7)); ++i, at += 3)
            global.push_back(uint32_t(gif[at]) << 16 | gif[at + 1] << 8 | gif[at + 2]);
    std::vector<uint32_t> canvas(size_t(*width) * *height, 0);
    int transparent = -1;
    while (at < gif.size()) {
        uint8_t kind = gif[at++];
        if (kind == 0x3B)
            break;
        if (kind == 0x21) {
            uint8_t label = gif[at++];
            if (label == 0xF9)
                transparent = (gif[at + 1] & 1) ? gif[at + 4] : -1;
            while (gif.at(at))
                at += gif[at] + 1;
            ++at;
            continue;
        }
        if (kind != 0x2C)
            return {};
        int left = int(Little(gif, at, 2)), top = int(Little(gif, at + 2, 2));
        int w = int(Little(gif, at + 4, 2)), h = int(Little(gif, at + 6, 2));
        uint8_t flags = gif[at + 8];
        at += 9;
        std::vector<uint32_t> table = global;
        if (flags & 0x80) {
            table.clear();
            for (int i = 0; i < (2 << (flags & 7)); ++i, at += 3)
                table.push_back(uint32_t(gif[at]) << 16 | gif[at + 1] << 8 | gif[at + 2]);
        }
        int minimum = gif[at++];
        Bytes data;
        while (gif.at(at)) {
            data.insert(data.end(), gif.begin() + at + 1, gif.begin() + at + 1 + gif[at]);
            at += gif[at] + 1;
        }
        ++at;
        // LZW, the textbook way.
        const int clear = 1 << minimum, end = clear + 1;
        std::vector<Bytes> dictionary;
        auto reset = [&] {
            dictionary.assign(clear + 2, {});
            for (int i = 0; i < clear; ++i)
                dictionary[i] = {uint8_t(i)};
        };
        reset();
        int bits = minimum + 1, previous = -1;
        size_t bit = 0;
        Bytes indices;
        while (bit + bits <= data.size() * 8) {
            int code = 0;
            for (int i = 0; i < bits; ++i, ++bit)
                code |= ((data[bit / 8] >> (bit % 8)) & 1) << i;
            if (code == clear) {
                reset();
                bits = minimum + 1;
                previous = -1;
                continue;
            }
            if (code == end)
                break;
            Bytes entry;
            if (code < int(dictionary.size()))
                entry = dictionary[code];
            else if (previous >= 0 && code == int(dictionary.size())) {
                entry = dictionary[previous];
                entry.push_back(entry[0]);
            } else
                return {};
            indices.insert(indices.end(), entry.begin(), entry.end());
            if (previous >= 0 && dictionary.size() < 4096) {
                Bytes added = dictionary[previous];
                added.push_back(entry[0]);
                dictionary.push_back(added);
            }
            if (int(dictionary.size()) == (1 << bits) && bits < 12)
                ++bits;
            previous = code;
        }
        if (indices.size() != size_t(w) * h)
            return {};
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                int index = indices[size_t(y) * w + x];
                if (index != transparent)
                    canvas[size_t(top + y) * *width + left + x] = table.at(index);
            }
        frames.push_back(canvas);
        transparent = -1;
    }
    return frames;
}

std::string FrameName(int frame)
{
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%05d.bmp", frame);
    return name;
}

TEST_F(FramesTest, BadArgumentsExitWithStatusTwoAndSayWhy)
{
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--size", "64x48", "--frames", "3"},                         // no --out
        {"--frames", "3", "--out", dir},                              // no --size
        {"--size", "64x48", "--out", dir},                            // no --frames
        {"--size", "64x48", "--frames", "3", "--out"},                // missing value
        {"--size", "0x48", "--frames", "3", "--out", dir},
        {"--size", "64x8193", "--frames", "3", "--out", dir},
        {"--size", "64", "--frames", "3", "--out", dir},
        {"--size", "64x48", "--frames", "0", "--out", dir},
        {"--size", "64x48", "--frames", "100001", "--out", dir},
        {"--size", "64x48", "--frames", "3x", "--out", dir},
        {"--size", "64x48", "--frames", "3", "--out", dir, "--mode", "c"},
        {"--size", "64x48", "--frames", "3", "--out", dir, "--seed", "-1"},
        {"--size", "64x48", "--frames", "3", "--out", dir, "--set", "Speed=3"},
        {"--size", "64x48", "--frames", "3", "--out", dir, "--set", "BombCount=many"},
        {"--size", "64x48", "--frames", "3", "--out", dir, "--set", "BombCount"},
        {"--size", "64x48", "--frames", "3", "--out", dir, "--verbose"},
        {"--size", "64x48", "--frames", "3", "--out", dir, "extra"},
    };
    for (const auto &arguments : bad) {
        std::string shown;
        for (const std::string &a : arguments)
            shown += a + " ";
        ToolRun run = Run(arguments);
        EXPECT_EQ(2, run.exitCode) << shown;
        EXPECT_NE(std::string::npos, run.errors.find("vantrel-frames: ")) << shown;
        EXPECT_NE(std::string::npos, run.errors.find("usage:")) << shown;
    }
    EXPECT_FALSE(std::ifstream(dir + FrameName(1)).good());
}

TEST_F(FramesTest, SettingsAcceptSeveralPairsAnyCaseAndAnyThirtyTwoBitValue)
{
    frames::Options options;
    std::string error;
    ASSERT_TRUE(frames::ParseArguments({"--set", "bombcount=7", "BOMBSPEED=4294967295", "--size", "2x3", "--frames",
                                        "1", "--out", "d", "--set", "ScreenDelay=-5", "--seed", "4294967295"},
                                       &options, &error))
        << error;
    const std::vector<std::pair<std::string, DWORD>> expected = {
        {"BombCount", 7}, {"BombSpeed", 0xFFFFFFFFu}, {"ScreenDelay", DWORD(-5)}};
    EXPECT_EQ(expected, options.settings);
    EXPECT_EQ(4294967295u, options.seed);
    EXPECT_EQ(2, options.width);
    EXPECT_EQ(3, options.height);
    EXPECT_FALSE(frames::ParseArguments({"--size", "2x3", "--frames", "1", "--out", "d", "--set", "BombCount=4294967296"},
                                        &options, &error));
}

TEST_F(FramesTest, WritesOneValidBmpPerFrameOfTheDesktopSize)
{
    std::string out = dir + "/made/here";
    ASSERT_EQ(0, Run({"--size", "64x48", "--frames", "3", "--out", out}).exitCode);
    for (int frame = 1; frame <= 3; ++frame)
        EXPECT_EQ(64u * 48, DecodeBmp(ReadFile(out + FrameName(frame)), 64, 48).size()) << frame;
    EXPECT_FALSE(std::ifstream(out + FrameName(4)).good());

    // Rows of an odd width carry padding, and the preview is a quarter size.
    ASSERT_EQ(0, Run({"--size", "250x198", "--frames", "2", "--out", out, "--mode", "p"}).exitCode);
    EXPECT_EQ(62u * 49, DecodeBmp(ReadFile(out + FrameName(2)), 62, 49).size());
}

TEST_F(FramesTest, BmpWriterKeepsEveryPixelAndColourChannel)
{
    const std::vector<uint32_t> pixels = {0xFF0000, 0x00FF00, 0x0000FF, 0x123456, 0xABCDEF,
                                          0x000000, 0xFFFFFF, 0x010203, 0x808080, 0x7F0080};
    ASSERT_TRUE(frames::WriteBmp(dir + "/p.bmp", pixels.data(), 5, 2));
    EXPECT_EQ(pixels, DecodeBmp(ReadFile(dir + "/p.bmp"), 5, 2));
}

TEST_F(FramesTest, FirstPaintIsBlackAndTheNextAlreadyShowsBombs)
{
    auto shots = Render(Small(3));
    EXPECT_EQ(std::set<uint32_t>{0}, ColoursOf(shots[0]));
    // The warm-up inside the first paint has started bombs already.
    EXPECT_TRUE(ColoursOf(shots[1]).count(0x00C35F));
    EXPECT_NE(shots[1], shots[2]);
}

TEST_F(FramesTest, TheSeedDecidesTheAnimation)
{
    ASSERT_EQ(0, Run({"--size", "96x72", "--frames", "12", "--out", dir + "/a", "--seed", "77"}).exitCode);
    ASSERT_EQ(0, Run({"--size", "96x72", "--frames", "12", "--out", dir + "/b", "--seed", "77"}).exitCode);
    ASSERT_EQ(0, Run({"--size", "96x72", "--frames", "12", "--out", dir + "/c", "--seed", "78"}).exitCode);
    bool anyDifferent = false;
    for (int frame = 1; frame <= 12; ++frame) {
        Bytes a = ReadFile(dir + "/a" + FrameName(frame));
        EXPECT_EQ(a, ReadFile(dir + "/b" + FrameName(frame))) << frame;
        anyDifferent = anyDifferent || a != ReadFile(dir + "/c" + FrameName(frame));
    }
    EXPECT_TRUE(anyDifferent);
}

TEST_F(FramesTest, WithoutTheBackdropOnlyBlackAndTheBombColourShow)
{
    auto shots = Render(Small(40, {{"BombBackdrop", 0}, {"BombCount", 200}}));
    std::set<uint32_t> seen;
    for (const auto &shot : shots)
        for (uint32_t colour : ColoursOf(shot))
            seen.insert(colour);
    EXPECT_EQ((std::set<uint32_t>{0x000000, 0x00C35F}), seen);

    // With it, the backdrop's greys are there too.
    shots = Render(Small(2));
    EXPECT_GT(ColoursOf(shots[1]).size(), 2u);
}

TEST_F(FramesTest, BombsOnlyNeverGivesWayToThePictures)
{
    const std::set<uint32_t> sprite = SpriteColours();
    ASSERT_EQ(true, sprite.count(0x00C35F) == 1);
    auto outside = [&](const std::vector<uint32_t> &shot) {
        for (uint32_t colour : ColoursOf(shot))
            if (!sprite.count(colour))
                return true;
        return false;
    };

    auto shots = Render(Small(200, {{"ScreenDelay", 1}, {"BombsOnly", 1}}));
    for (size_t i = 0; i < shots.size(); ++i)
        ASSERT_FALSE(outside(shots[i])) << "frame " << i + 1;

    // Without it, the paint after 79 bomb paints is a picture.
    shots = Render(Small(80, {{"ScreenDelay", 1}}));
    EXPECT_FALSE(outside(shots[78]));
    EXPECT_TRUE(outside(shots[79]));
}

TEST_F(FramesTest, GifHoldsEveryFrameExactly)
{
    // Through a bomb phase into a picture (many colours) and back.
    const std::string out = dir + "/f", gif = dir + "/a.gif";
    ASSERT_EQ(0, Run({"--size", "96x72", "--frames", "170", "--set", "ScreenDelay=1", "--out", out, "--gif", gif})
                     .exitCode);
    Bytes file = ReadFile(gif);
    ASSERT_GE(file.size(), 6u);
    EXPECT_EQ("GIF89a", std::string(file.begin(), file.begin() + 6));
    EXPECT_EQ(0x3B, file.back());
    int width = 0, height = 0;
    auto shown = DecodeGif(file, &width, &height);
    ASSERT_EQ(170u, shown.size());
    EXPECT_EQ(96, width);
    EXPECT_EQ(72, height);
    for (int frame = 1; frame <= 170; ++frame)
        ASSERT_EQ(DecodeBmp(ReadFile(out + FrameName(frame)), 96, 72), shown[frame - 1]) << frame;
}

TEST_F(FramesTest, GifFallsBackToAFixedPaletteForManyColours)
{
    // 64 x 64 pixels, every one its own colour.
    std::vector<uint32_t> first(64 * 64), second(64 * 64);
    for (size_t i = 0; i < first.size(); ++i) {
        first[i] = uint32_t(i * 4093);
        second[i] = i < 100 ? 0xFFFFFF : first[i];
    }
    frames::GifWriter writer;
    ASSERT_TRUE(writer.Open(dir + "/many.gif", 64, 64, 7));
    ASSERT_TRUE(writer.AddFrame(first.data()));
    ASSERT_TRUE(writer.AddFrame(second.data()));
    ASSERT_TRUE(writer.Close());
    int width = 0, height = 0;
    auto shown = DecodeGif(ReadFile(dir + "/many.gif"), &width, &height);
    ASSERT_EQ(2u, shown.size());
    for (size_t i = 0; i < first.size(); ++i) {
        // Near the original, channel by channel.
        for (int shift = 0; shift < 24; shift += 8) {
            ASSERT_LE(std::abs(int((shown[0][i] >> shift) & 0xFF) - int((first[i] >> shift) & 0xFF)), 26) << i;
        }
        if (i < 100)
            ASSERT_EQ(0xFFFFFFu, shown[1][i]);
        else
            ASSERT_EQ(shown[0][i], shown[1][i]);
    }
}

}  // namespace
