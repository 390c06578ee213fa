// The run-length decoder on streams a bitmap resource could hold, well
// formed or not: every pixel it writes must land inside the bitmap.
#include <gtest/gtest.h>

#include <vector>

#include "platform/kernel/rle8.h"

namespace {

using layer::DecodeRle8;
using layer::Rle8End;

// A destination with guard bytes on both sides, so a stray write shows.
struct Canvas {
    Canvas(int w, int h) : width(w), height(h), stride(((size_t)w + 3) & ~(size_t)3) {
        memory.assign(kGuard + stride * (size_t)h + kGuard, 0xCD);
        std::fill(memory.begin() + kGuard, memory.end() - kGuard, 0);
    }
    static constexpr size_t kGuard = 64;
    int width, height;
    size_t stride;
    std::vector<uint8_t> memory;

    uint8_t *pixels() { return memory.data() + kGuard; }
    uint8_t at(int x, int y) const { return memory[kGuard + (size_t)y * stride + (size_t)x]; }
    Rle8End Decode(const std::vector<uint8_t> &stream) {
        return DecodeRle8(stream.data(), stream.size(), pixels(), width, height, stride);
    }
    bool GuardsIntact() const {
        for (size_t i = 0; i < kGuard; ++i)
            if (memory[i] != 0xCD || memory[memory.size() - 1 - i] != 0xCD) return false;
        return true;
    }
    std::vector<uint8_t> Row(int y) const {
        return std::vector<uint8_t>(memory.begin() + (long)(kGuard + (size_t)y * stride),
                                    memory.begin() + (long)(kGuard + (size_t)y * stride + (size_t)width));
    }
};

TEST(Rle8, RunsAbsoluteRunsLinesAndEndOfBitmap) {
    Canvas c(6, 3);
    // Row 0: run of 2 x 7, absolute 4,5,6 (odd: one pad byte), then end of line.
    // Row 1: absolute 1,2,3,4 (even: no pad). Row 2: run of 6 x 9, end of bitmap.
    EXPECT_EQ(Rle8End::EndOfBitmap,
              c.Decode({2, 7, 0, 3, 4, 5, 6, 0, 0, 0, 0, 4, 1, 2, 3, 4, 0, 0, 6, 9, 0, 1, 5, 5}));
    EXPECT_EQ((std::vector<uint8_t>{7, 7, 4, 5, 6, 0}), c.Row(0));
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 4, 0, 0}), c.Row(1));
    EXPECT_EQ((std::vector<uint8_t>{9, 9, 9, 9, 9, 9}), c.Row(2));
    EXPECT_TRUE(c.GuardsIntact());
}

TEST(Rle8, DeltaMovesRightAndUpWithoutDrawing) {
    Canvas c(5, 4);
    EXPECT_EQ(Rle8End::EndOfBitmap, c.Decode({1, 3, 0, 2, 2, 2, 1, 8, 0, 1}));
    EXPECT_EQ(3, c.at(0, 0));
    EXPECT_EQ(8, c.at(3, 2));  // from x=1 row 0, two right and two up
    EXPECT_EQ(0, c.at(1, 0));
    EXPECT_EQ(0, c.at(2, 2));
    EXPECT_TRUE(c.GuardsIntact());
}

TEST(Rle8, RunsAreClippedAtTheRowEndAndDoNotWrap) {
    Canvas c(5, 2);
    // A run of 200 and an absolute run of 7 starting near the end of row 0,
    // then a delta far past the row's end: nothing spills into row 1.
    EXPECT_EQ(Rle8End::EndOfBitmap, c.Decode({3, 1, 200, 2, 0, 7, 9, 9, 9, 9, 9, 9, 9, 0, 0, 2, 250, 0, 4, 6, 0, 1}));
    EXPECT_EQ((std::vector<uint8_t>{1, 1, 1, 2, 2}), c.Row(0));
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 0, 0}), c.Row(1));
    EXPECT_TRUE(c.GuardsIntact());
}

TEST(Rle8, LeavingTheLastRowStopsDecoding) {
    Canvas delta(4, 2);
    EXPECT_EQ(Rle8End::PastLastRow, delta.Decode({1, 5, 0, 2, 0, 2, 4, 6}));
    EXPECT_EQ((std::vector<uint8_t>{5, 0, 0, 0}), delta.Row(0));
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 0}), delta.Row(1));
    EXPECT_TRUE(delta.GuardsIntact());

    Canvas lines(3, 2);
    EXPECT_EQ(Rle8End::PastLastRow, lines.Decode({3, 1, 0, 0, 3, 2, 0, 0, 3, 3, 0, 0}));
    EXPECT_EQ((std::vector<uint8_t>{2, 2, 2}), lines.Row(1));
    EXPECT_TRUE(lines.GuardsIntact());
}

TEST(Rle8, TruncatedStreamsStopCleanlyAndLeaveTheRestAtZero) {
    // Cut inside an absolute run: the bytes that are there still land.
    Canvas absolute(6, 2);
    EXPECT_EQ(Rle8End::OutOfInput, absolute.Decode({0, 5, 1, 2}));
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 0, 0, 0, 0}), absolute.Row(0));
    EXPECT_TRUE(absolute.GuardsIntact());
    // Cut inside a delta, after a lone byte, and with no end code at all.
    for (std::vector<uint8_t> stream : {std::vector<uint8_t>{2, 4, 0, 2, 1}, std::vector<uint8_t>{2, 4, 0},
                                        std::vector<uint8_t>{2, 4}, std::vector<uint8_t>{}}) {
        Canvas c(6, 2);
        EXPECT_EQ(Rle8End::OutOfInput, c.Decode(stream));
        EXPECT_EQ(stream.empty() ? 0 : 4, c.at(0, 0));
        EXPECT_EQ(0, c.at(2, 0));
        EXPECT_TRUE(c.GuardsIntact());
    }
}

TEST(Rle8, ANullOrEmptyDestinationIsNeverWritten) {
    std::vector<uint8_t> stream = {4, 1, 0, 1};
    EXPECT_EQ(Rle8End::OutOfInput, DecodeRle8(stream.data(), stream.size(), nullptr, 4, 1, 4));
    uint8_t one = 0xAA;
    EXPECT_EQ(Rle8End::OutOfInput, DecodeRle8(stream.data(), stream.size(), &one, 0, 1, 4));
    EXPECT_EQ(Rle8End::OutOfInput, DecodeRle8(stream.data(), stream.size(), &one, 4, 0, 4));
    EXPECT_EQ(0xAA, one);
}

}  // namespace
