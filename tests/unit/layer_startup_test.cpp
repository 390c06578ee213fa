// The command line main() hands the program, and the formatter it uses.
#include "layer_fixture.h"

#include <string>

class LayerStartupTest : public LayerTest {};

TEST_F(LayerStartupTest, ArgumentsAreJoinedAndQuotedWhereNeeded) {
    using layer::BuildCommandLine;
    EXPECT_EQ("vantrel-saver /s", BuildCommandLine({"vantrel-saver", "/s"}));
    EXPECT_EQ("vantrel-saver /p 1234", BuildCommandLine({"vantrel-saver", "/p", "1234"}));
    EXPECT_EQ("\"/opt/my saver/vantrel-saver\" /c", BuildCommandLine({"/opt/my saver/vantrel-saver", "/c"}));
    EXPECT_EQ("prog \"\" \"a\tb\"", BuildCommandLine({"prog", "", "a\tb"}));
    EXPECT_EQ("prog", BuildCommandLine({"prog"}));
    // Quotes and the backslashes before them survive a round trip through
    // the C runtime's rules.
    EXPECT_EQ("prog a\\\"b", BuildCommandLine({"prog", "a\"b"}));
    EXPECT_EQ("prog \"x y\\\\\"", BuildCommandLine({"prog", "x y\\"}));
    EXPECT_EQ("prog c:\\dir\\", BuildCommandLine({"prog", "c:\\dir\\"}));
}

TEST_F(LayerStartupTest, TailStartsAfterTheProgramNameAndItsBlanks) {
    using layer::CommandLineTail;
    EXPECT_STREQ("/s", CommandLineTail("vantrel-saver /s"));
    EXPECT_STREQ("/p 1234", CommandLineTail("\"/opt/my saver/x\"   \t/p 1234"));
    EXPECT_STREQ("", CommandLineTail("vantrel-saver"));
    EXPECT_STREQ("", CommandLineTail("\"unterminated name"));
    EXPECT_STREQ("", CommandLineTail(""));
    EXPECT_STREQ("", CommandLineTail(nullptr));
    EXPECT_STREQ("  ", CommandLineTail("prog \"\"  ") + 2);
}

TEST_F(LayerStartupTest, CommandLineIsWhatWasSet) {
    layer::SetCommandLine(layer::BuildCommandLine({"vantrel-saver", "/p", "77"}));
    EXPECT_STREQ("vantrel-saver /p 77", GetCommandLineA());
    EXPECT_STREQ("/p 77", layer::CommandLineTail(GetCommandLineA()));
}

TEST_F(LayerStartupTest, WsprintfFormatsLikeTheSystem) {
    char buf[1100];
    EXPECT_EQ(27, wsprintfA(buf, "Unable to load bitmap #%d!", 117));
    EXPECT_STREQ("Unable to load bitmap #117!", buf);
    wsprintfA(buf, "%d %u %ld %i", -5, 4000000000u, (LONG)-7, 9);
    EXPECT_STREQ("-5 4000000000 -7 9", buf);
    wsprintfA(buf, "%x %X %#x %08X %c%c", 255, 255, 255, 0xBEEF, 'o', 'k');
    EXPECT_STREQ("ff FF 0xff 0000BEEF ok", buf);
    wsprintfA(buf, "[%5s|%-5s|%.2s|%s]", "ab", "ab", "abc", (const char *)nullptr);
    EXPECT_STREQ("[   ab|ab   |ab|(null)]", buf);
    wsprintfA(buf, "%05d|%-4d|%%|%I64d", -42, 7, (long long)-5000000000LL);
    EXPECT_STREQ("-0042|7   |%|-5000000000", buf);
}

TEST_F(LayerStartupTest, WsprintfStopsAt1024Bytes) {
    std::string big(2000, 'x');
    std::string out(1100, '\0');
    int n = wsprintfA(out.data(), "%s%s", big.c_str(), big.c_str());
    EXPECT_EQ(1023, n);
    EXPECT_EQ('\0', out[1023]);
    EXPECT_EQ('\0', out[1024]);  // nothing written past the limit
}

TEST_F(LayerStartupTest, StringHelpersTolerateNull) {
    EXPECT_EQ(0, lstrlenA(nullptr));
    EXPECT_EQ(5, lstrlenA("hello"));
    EXPECT_EQ(0, lstrcmpiA("Screen Saver", "SCREEN saver"));
    EXPECT_LT(lstrcmpiA("abc", "abd"), 0);
    EXPECT_GT(lstrcmpiA("b", "A"), 0);
    EXPECT_LT(lstrcmpiA(nullptr, "a"), 0);
    EXPECT_EQ(0, lstrcmpiA(nullptr, nullptr));
}
