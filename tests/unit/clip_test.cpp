// The part of a window both display backends send when it changes.
#include <gtest/gtest.h>

#include <string>

#include "platform/backends/clip.h"

using layer::ClipToSurface;

namespace {

std::string Show(const RECT &r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

}  // namespace

TEST(ClipToSurfaceTest, DirtyRectanglesAreCutToTheSurface) {
    RECT r;
    ASSERT_TRUE(ClipToSurface({10, 20, 30, 40}, 100, 50, &r));
    EXPECT_EQ("10,20,30,40", Show(r));
    ASSERT_TRUE(ClipToSurface({-5, -7, 200, 300}, 100, 50, &r));
    EXPECT_EQ("0,0,100,50", Show(r));
    ASSERT_TRUE(ClipToSurface({90, 45, 120, 60}, 100, 50, &r));
    EXPECT_EQ("90,45,100,50", Show(r));
}

TEST(ClipToSurfaceTest, NothingIsSentForRectanglesOffTheSurfaceOrEmpty) {
    RECT r = {1, 2, 3, 4};
    EXPECT_FALSE(ClipToSurface({100, 0, 150, 10}, 100, 50, &r));
    EXPECT_EQ("0,0,0,0", Show(r));
    EXPECT_FALSE(ClipToSurface({-20, -20, 0, 0}, 100, 50, &r));
    EXPECT_FALSE(ClipToSurface({10, 10, 10, 20}, 100, 50, &r));
    EXPECT_FALSE(ClipToSurface({30, 10, 20, 20}, 100, 50, &r));  // reversed
    EXPECT_FALSE(ClipToSurface({0, 0, 10, 10}, 0, 0, &r));
}
