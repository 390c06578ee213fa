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

TEST(ModuleModeTest, AWindowThatCannotBeUsedIsNamedWithTheReason) {
    using layer::UnusableWindow;
    // The windows there are: the root and 0x400004 (4194308).
    auto exists = [](uint32_t id) { return id == kRoot || id == 0x400004u; };
    auto why = [&](const Args &args, const char *driver = nullptr) {
        return UnusableWindow(args, driver, kRoot, exists);
    };
    for (const Args &fine : {Args{"saver", "/p", "4194308"}, Args{"saver", "-l4194308"}, Args{"saver", "/s"},
                             Args{"saver", "/c"}, Args{"saver"}, Args{"saver", "--window-id", "0x400004"}})
        EXPECT_EQ("", why(fine)) << fine.back();
    EXPECT_EQ("", why({"saver", "--root"}, "4194308"));
    EXPECT_EQ("", why({"saver", "--root"}));  // the root window itself

    EXPECT_EQ("cannot draw into window 99999999 from /p: no such window", why({"saver", "/p", "99999999"}));
    EXPECT_EQ("cannot draw into window 0 from /P: no such window", why({"saver", "/P", "0"}));
    EXPECT_EQ("cannot draw into window \"abc\" from /p: not a window number", why({"saver", "/p", "abc"}));
    EXPECT_EQ("no window to draw into: /l names none", why({"saver", "/l"}));
    EXPECT_EQ("cannot draw into window 0x1234567 from --window-id: no such window",
              why({"saver", "--window-id", "0x1234567"}));
    EXPECT_EQ("cannot draw into window 0x0 from --window-id: no such window", why({"saver", "--window-id=0x0"}));
    EXPECT_EQ("cannot draw into window \"-3\" from --window-id: not a window number",
              why({"saver", "--window-id", "-3"}, "0x400004"));
    EXPECT_EQ("cannot draw into window \"garbage\\x0a\" from $XSCREENSAVER_WINDOW: not a window number",
              why({"saver", "--root"}, "garbage\n"));
    EXPECT_EQ("no window to draw into: $XSCREENSAVER_WINDOW names none", why({"saver", "--root"}, ""));
    EXPECT_EQ("cannot draw into the root window: there is none",
              UnusableWindow({"saver", "--root"}, nullptr, 0, exists));
}

// ---- the settings as options ------------------------------------------------

using layer::ModuleOptions;
using layer::ParseModuleOptions;
using Settings = std::vector<std::pair<std::string, uint32_t>>;

TEST(ModuleOptionsTest, EverySpellingSetsItsSettingAndLeavesTheRest) {
    ModuleOptions o = ParseModuleOptions({"saver", "--root", "--bomb-count", "7", "-bomb-speed=9", "--screen-delay=3",
                                          "-bombs-only", "--no-backdrop", "-fps"});
    EXPECT_EQ("", o.error);
    EXPECT_EQ((Settings{{"BombCount", 7}, {"BombSpeed", 9}, {"ScreenDelay", 3}, {"BombsOnly", 1}, {"BombBackdrop", 0}}),
              o.settings);
    EXPECT_TRUE(o.frameRate);
    EXPECT_FALSE(o.help);
    EXPECT_EQ((Args{"saver", "--root"}), o.rest);

    // Any order, the switches' other halves, and a later value winning.
    o = ParseModuleOptions({"saver", "-no-bombs-only", "--window-id", "0x42", "--backdrop", "-bomb-count", "1",
                            "--bomb-count=200", "--fps", "--no-fps"});
    EXPECT_EQ("", o.error);
    EXPECT_EQ((Settings{{"BombsOnly", 0}, {"BombBackdrop", 1}, {"BombCount", 1}, {"BombCount", 200}}), o.settings);
    EXPECT_FALSE(o.frameRate);
    EXPECT_EQ((Args{"saver", "--window-id", "0x42"}), o.rest);
}

TEST(ModuleOptionsTest, TheWindowsSwitchesStayTheProgramsWithOptionsBesideThem) {
    for (const Args &args : {Args{"saver"}, Args{"saver", "/s"}, Args{"saver", "-s"}, Args{"saver", "/p", "1234"},
                             Args{"saver", "-c:5"}, Args{"saver", "/x"}, Args{"saver", "-install"}, Args{"saver", "-"}}) {
        ModuleOptions o = ParseModuleOptions(args);
        EXPECT_EQ("", o.error) << args.back();
        EXPECT_EQ(args, o.rest);
        EXPECT_TRUE(o.settings.empty());
    }
    ModuleOptions o = ParseModuleOptions({"saver", "/s", "--bomb-speed", "80"});
    EXPECT_EQ((Args{"saver", "/s"}), o.rest);
    EXPECT_EQ((Settings{{"BombSpeed", 80}}), o.settings);
}

TEST(ModuleOptionsTest, NumbersAreWholeAndThoseTooLargeStayLarge) {
    EXPECT_EQ((Settings{{"BombCount", 0}}), ParseModuleOptions({"s", "--bomb-count", "0"}).settings);
    // Left for the saver's own limits to bring down, never wrapped to a small one.
    EXPECT_EQ((Settings{{"BombCount", 2147483647u}}),
              ParseModuleOptions({"s", "--bomb-count=99999999999999999999"}).settings);
    for (const char *bad : {"lots", "", "-5", "+5", "1.5", "5x", " 5", "0x10"}) {
        ModuleOptions o = ParseModuleOptions({"s", "--root", "--bomb-count", bad});
        EXPECT_EQ(std::string("--bomb-count wants a whole number, not \"") + bad + "\"", o.error) << bad;
    }
    EXPECT_EQ("-screen-delay wants a whole number, not \"soon\"",
              ParseModuleOptions({"s", "-screen-delay=soon"}).error);
    EXPECT_EQ("--bomb-speed needs a number after it", ParseModuleOptions({"s", "--root", "--bomb-speed"}).error);
}

TEST(ModuleOptionsTest, WhatIsNotUnderstoodIsNamedOnOneLine) {
    struct Case {
        Args args;
        const char *error;
    } cases[] = {
        {{"s", "--frobnicate"}, "unknown option \"--frobnicate\"; --help lists the options"},
        {{"s", "/s", "--bomb-counts=3"}, "unknown option \"--bomb-counts\"; --help lists the options"},
        {{"s", "--"}, "unknown option \"--\"; --help lists the options"},
        // In a module run every argument is an option, so a stray one is a mistake.
        {{"s", "-root", "-frobnicate"}, "unknown option \"-frobnicate\"; --help lists the options"},
        {{"s", "--root", "/s"}, "unexpected argument \"/s\" (a module run takes options only)"},
        {{"s", "--fps=1"}, "--fps takes no value"},
        {{"s", "--no-backdrop=yes"}, "--no-backdrop takes no value"},
        {{"s", "--root=1"}, "--root takes no value"},
        {{"s", "--help=me"}, "--help takes no value"},
        // Control bytes in what is named are spelled out, so the line stays one.
        {{"s", "--r@\x01\n"}, "unknown option \"--r@\\x01\\x0a\"; --help lists the options"},
        {{"s", "--root", "x\ny"}, "unexpected argument \"x\\x0ay\" (a module run takes options only)"},
        {{"s", "--bomb-count=\r\x7f"}, "--bomb-count wants a whole number, not \"\\x0d\\x7f\""},
    };
    for (const Case &c : cases) {
        ModuleOptions o = ParseModuleOptions(c.args);
        EXPECT_EQ(c.error, o.error) << c.args.back();
        EXPECT_EQ(std::string::npos, o.error.find('\n'));
    }
    // The driver's own colour-map switch means nothing to true colour and
    // is no mistake.
    EXPECT_EQ("", ParseModuleOptions({"s", "-install", "--root"}).error);
}

TEST(ModuleOptionsTest, HelpListsEveryOptionAndStopsTheRun) {
    for (const char *spelling : {"--help", "-help"}) {
        ModuleOptions o = ParseModuleOptions({"s", "/s", spelling, "--frobnicate"});
        EXPECT_TRUE(o.help) << spelling;
        EXPECT_EQ("", o.error);  // nothing after it is read
    }
    // An error before it still counts: it is what the user got wrong first.
    EXPECT_FALSE(ParseModuleOptions({"s", "--bomb-count=x", "--help"}).help);
    std::string text = layer::HelpText("vantrel-saver");
    for (const char *option : {"--root", "--window-id", "--bomb-count N", "--bomb-speed N", "--screen-delay N",
                               "--bombs-only", "--no-bombs-only", "--backdrop", "--no-backdrop", "--fps", "--help"})
        EXPECT_NE(std::string::npos, text.find(option)) << option;
    EXPECT_EQ(0u, text.find("Usage: vantrel-saver "));
}
