// How a start by a screen-saver driver becomes the program's own preview
// command line, and which window ids are taken.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/session/module_mode.h"

using layer::ModuleModeArguments;
using layer::ParseWindowId;
using Args = std::vector<std::string>;

namespace {
constexpr uintptr_t kRoot = 0x50D;
}

TEST(ModuleModeTest, WindowIdsAreDecimalOrHexadecimal) {
    uint32_t id = 0;
    ASSERT_TRUE(ParseWindowId("4194308", &id));
    EXPECT_EQ(4194308u, id);
    ASSERT_TRUE(ParseWindowId("0x400004", &id));
    EXPECT_EQ(0x400004u, id);
    ASSERT_TRUE(ParseWindowId("0XaBc", &id));
    EXPECT_EQ(0xABCu, id);
    ASSERT_TRUE(ParseWindowId("0xFFFFFFFF", &id));
    EXPECT_EQ(0xFFFFFFFFu, id);
}

TEST(ModuleModeTest, AnythingElseIsNoWindowId) {
    uint32_t id = 77;
    for (const char *bad : {"", "0", "0x", "0x0", "-5", "+5", " 5", "5 ", "12abc", "0x1g", "4294967296", "0x100000000",
                            "99999999999999999999999"})
        EXPECT_FALSE(ParseWindowId(bad, &id)) << bad;
    EXPECT_FALSE(ParseWindowId(nullptr, &id));
    EXPECT_EQ(77u, id);  // untouched on failure
}

TEST(ModuleModeTest, OrdinaryCommandLinesPassUnchanged) {
    for (const Args &args :
         {Args{"vantrel-saver"}, Args{"vantrel-saver", "/s"}, Args{"vantrel-saver", "/p", "1234"},
          Args{"vantrel-saver", "-c"}, Args{"vantrel-saver", "/rooted"}, Args{"vantrel-saver", "root"}})
        EXPECT_EQ(args, ModuleModeArguments(args, "0x400004", kRoot));
}

TEST(ModuleModeTest, RootDrawsIntoTheDriversWindow) {
    Args want = {"vantrel-saver", "/p", "4194308"};
    EXPECT_EQ(want, ModuleModeArguments({"vantrel-saver", "--root"}, "0x400004", kRoot));
    EXPECT_EQ(want, ModuleModeArguments({"vantrel-saver", "-root"}, "4194308", kRoot));
    // Switches of the driver's we have no use for are dropped with it.
    EXPECT_EQ(want, ModuleModeArguments({"vantrel-saver", "-install", "--root", "--fps"}, "0x400004", kRoot));
}

TEST(ModuleModeTest, RootWithoutADriverWindowIsTheRootWindowItself) {
    EXPECT_EQ((Args{"saver", "/p", "1293"}), ModuleModeArguments({"saver", "--root"}, nullptr, kRoot));
}

TEST(ModuleModeTest, AnExplicitWindowIdWins) {
    Args want = {"vantrel-saver", "/p", "305419896"};
    EXPECT_EQ(want, ModuleModeArguments({"vantrel-saver", "--window-id", "0x12345678"}, nullptr, kRoot));
    EXPECT_EQ(want, ModuleModeArguments({"vantrel-saver", "-window-id", "305419896"}, nullptr, kRoot));
    EXPECT_EQ(want, ModuleModeArguments({"vantrel-saver", "--window-id=0x12345678"}, nullptr, kRoot));
    EXPECT_EQ(want, ModuleModeArguments({"vantrel-saver", "--root", "--window-id", "0x12345678"}, "0x400004", kRoot));
}

TEST(ModuleModeTest, AnUnreadableWindowIsRefusedNotReplaced) {
    // The program refuses a preview of window 0, as of any window that does
    // not exist; drawing on the root instead would cover the user's desktop.
    Args refused = {"vantrel-saver", "/p", "0"};
    EXPECT_EQ(refused, ModuleModeArguments({"vantrel-saver", "--root"}, "garbage", kRoot));
    EXPECT_EQ(refused, ModuleModeArguments({"vantrel-saver", "--root"}, "", kRoot));
    EXPECT_EQ(refused, ModuleModeArguments({"vantrel-saver", "--window-id"}, nullptr, kRoot));
    EXPECT_EQ(refused, ModuleModeArguments({"vantrel-saver", "--window-id", "-3"}, nullptr, kRoot));
    EXPECT_EQ(refused, ModuleModeArguments({"vantrel-saver", "--root"}, nullptr, 0));
}
