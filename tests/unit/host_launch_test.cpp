// The command line chooses the launch mode; these tests run SaverMain as the
// control panel would start the saver and look at what each mode did.
#include "host_fixture.h"

#include <csignal>

namespace {

struct PasswordChange {
    std::string kind;
    HWND parent;
    DWORD reserved1;
    DWORD reserved2;
};
std::vector<PasswordChange> passwordChanges;

DWORD WINAPI FakePwdChangePassword(LPCSTR kind, HWND parent, DWORD reserved1, DWORD reserved2)
{
    passwordChanges.push_back({kind ? kind : "", parent, reserved1, reserved2});
    return 0;
}

DWORD WINAPI FaultingPwdChangePassword(LPCSTR, HWND, DWORD, DWORD)
{
    std::raise(SIGSEGV);
    return 0;
}

class LaunchTest : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        passwordChanges.clear();
        layer::RegisterLibrary("MPR.DLL", {{"PwdChangePasswordA", AsFarProc(FakePwdChangePassword)}});
    }

    int Launch(const std::string &commandLine)
    {
        HostState = HostStateRecord{};
        return SaverMain(instance, nullptr, commandLine.c_str(), SW_SHOWNORMAL);
    }

    // The saver windows a full-screen run made, seen while its loop ran.
    int LaunchFullScreen(const std::string &commandLine, HWND *seen)
    {
        *seen = nullptr;
        ScriptIdle({[seen] { *seen = FindWindowA("WindowsScreenSaverClass", "Screen Saver"); }});
        return Launch(commandLine);
    }

    static std::string Number(HWND window)
    {
        return std::to_string(reinterpret_cast<UINT_PTR>(window));
    }
};

TEST_F(LaunchTest, ConfigureWithoutParentWhenTheLineHasNoSwitch)
{
    for (const char *line : {"", "   ", "-", "/", " -/ /- "}) {
        SCOPED_TRACE(line);
        size_t before = layer::DialogRequests().size();
        HWND seen = nullptr;
        ScriptIdle({[&] {
            seen = layer::ActiveDialog();
            PostMessageA(seen, WM_COMMAND, IDCANCEL, 0);
        }});
        // The dialog's own result is the launch's result.
        EXPECT_EQ(0, Launch(line));
        EXPECT_NE(nullptr, seen) << "no dialog was open";
        auto requests = layer::DialogRequests();
        ASSERT_EQ(before + 1, requests.size());
        EXPECT_EQ("#2003", requests.back().templateName);
        EXPECT_EQ(nullptr, requests.back().owner);
    }
}

TEST_F(LaunchTest, ConfigureOwnedByTheForegroundWindow)
{
    HWND foreground = MakeHostingWindow();
    SetForegroundWindow(foreground);
    for (const char *line : {"/c", "/C:1234", "/config", "c", "-C"}) {
        SCOPED_TRACE(line);
        bool ownerDisabled = false;
        ScriptIdle({[&] {
            ownerDisabled = !IsWindowEnabled(foreground);
            PostMessageA(layer::ActiveDialog(), WM_COMMAND, IDOK, 0);
        }});
        EXPECT_EQ(1, Launch(line));
        EXPECT_TRUE(ownerDisabled) << "the owner took input under the dialog";
        EXPECT_TRUE(IsWindowEnabled(foreground));
        ASSERT_FALSE(layer::DialogRequests().empty());
        EXPECT_EQ("#2003", layer::DialogRequests().back().templateName);
        EXPECT_EQ(foreground, layer::DialogRequests().back().owner);
    }
}

TEST_F(LaunchTest, ConfigureGivesTheDialogManagersFailure)
{
    // Without its template the dialog cannot be made: -1 comes back as is.
    layer::UseResources({});
    EXPECT_EQ(-1, Launch("/c"));
}

TEST_F(LaunchTest, RunSwitchesOpenTheFullScreenSaver)
{
    for (const char *line : {"/s", "-S", "s", "//s", "/saver", " - /S"}) {
        SCOPED_TRACE(line);
        layer::ResetHeadless(640, 480);
        layer::RegisterLibrary("MPR.DLL", {{"PwdChangePasswordA", AsFarProc(FakePwdChangePassword)}});
        HWND seen;
        EXPECT_EQ(0, LaunchFullScreen(line, &seen));
        EXPECT_NE(nullptr, seen);
        EXPECT_TRUE(layer::DialogRequests().empty());
    }
}

TEST_F(LaunchTest, PreviewRunsInTheNumberedWindow)
{
    for (std::string prefix : std::vector<std::string>{"/p ", "/P", "/l   ", "-L", "p", "/p  "}) {
        SCOPED_TRACE(prefix);
        layer::ResetHeadless(640, 480);
        HWND panel = MakeHostingWindow(152, 112);
        HWND preview = nullptr;
        HWND parent = nullptr;
        RECT area = {};
        ScriptIdle({[&] {
                        preview = HostState.window;
                        parent = GetParent(preview);
                        GetClientRect(preview, &area);
                    },
                    [&] { DestroyWindow(panel); }});
        EXPECT_EQ(0, Launch(prefix + Number(panel)));
        ASSERT_NE(nullptr, preview);
        EXPECT_EQ(panel, parent);
        EXPECT_EQ(152, area.right);
        EXPECT_EQ(112, area.bottom);
        EXPECT_FALSE(IsWindow(preview));
    }
}

TEST_F(LaunchTest, PreviewWithoutAUsableWindowFailsAndMakesNothing)
{
    HWND panel = MakeHostingWindow();
    std::string number = Number(panel);
    for (std::string line : std::vector<std::string>{"/p", "/p ", "/p 0", "/p 0x4D2", "/p:" + number, "/p -" + number, "/p\t" + number,
                             "/p 987654", "/l"}) {
        SCOPED_TRACE(line);
        EXPECT_EQ(-1, Launch(line));
        EXPECT_EQ(nullptr, FindWindowA("WindowsScreenSaverClass", nullptr));
        EXPECT_EQ(nullptr, HostState.window);
    }
    // Nothing was registered either: a later full-screen run still can.
    HWND seen;
    EXPECT_EQ(0, LaunchFullScreen("/s", &seen));
    EXPECT_NE(nullptr, seen);
}

TEST_F(LaunchTest, UnlistedSwitchesAreRefused)
{
    for (std::string line : std::vector<std::string>{"/x", "/?", "/1", "/\ts", "\ts", "/\x01s", "/\x80", "/\xff", "/z 12", "#", "\\s"}) {
        SCOPED_TRACE(line);
        EXPECT_EQ(-1, Launch(line));
    }
    EXPECT_TRUE(layer::DialogRequests().empty());
    EXPECT_TRUE(passwordChanges.empty());
}

TEST_F(LaunchTest, ChangePasswordHandsTheParentToTheSystem)
{
    HWND panel = MakeHostingWindow();
    EXPECT_EQ(0, Launch("/a " + Number(panel)));
    ASSERT_EQ(1u, passwordChanges.size());
    EXPECT_EQ("SCRSAVE", passwordChanges[0].kind);
    EXPECT_EQ(panel, passwordChanges[0].parent);
    EXPECT_EQ(0u, passwordChanges[0].reserved1);
    EXPECT_EQ(0u, passwordChanges[0].reserved2);
    EXPECT_EQ(0, layer::LibraryReferences("MPR.DLL"));
}

TEST_F(LaunchTest, ChangePasswordFallsBackToTheForegroundWindow)
{
    HWND foreground = MakeHostingWindow();
    SetForegroundWindow(foreground);
    for (const char *line : {"/a", "-A", "/a 0", "/a 987654", "/a:5"}) {
        SCOPED_TRACE(line);
        passwordChanges.clear();
        EXPECT_EQ(0, Launch(line));
        ASSERT_EQ(1u, passwordChanges.size());
        EXPECT_EQ(foreground, passwordChanges[0].parent);
    }
}

TEST_F(LaunchTest, ChangePasswordWithoutTheSystemRoutineStillSucceeds)
{
    layer::ResetHeadless(640, 480);
    EXPECT_EQ(0, Launch("/a"));
    EXPECT_EQ(1, layer::LibraryLoadRequests("MPR.DLL"));

    layer::RegisterLibrary("MPR.DLL", {{"SomethingElse", AsFarProc(FakePwdChangePassword)}});
    EXPECT_EQ(0, Launch("/a"));
    EXPECT_TRUE(passwordChanges.empty());
    EXPECT_EQ(0, layer::LibraryReferences("MPR.DLL"));
}

TEST(ParseDecimal, ReadsLeadingDigitsModulo2To32)
{
    EXPECT_EQ(0u, ParseDecimal(""));
    EXPECT_EQ(0u, ParseDecimal(nullptr));
    EXPECT_EQ(1234u, ParseDecimal("1234"));
    EXPECT_EQ(1234u, ParseDecimal("1234abc"));
    EXPECT_EQ(12u, ParseDecimal("12 34"));
    EXPECT_EQ(0u, ParseDecimal("x1234"));
    EXPECT_EQ(0u, ParseDecimal(" 1234"));
    EXPECT_EQ(0u, ParseDecimal("-1234"));
    EXPECT_EQ(0u, ParseDecimal("+1"));
    EXPECT_EQ(0u, ParseDecimal("0x4D2"));
    EXPECT_EQ(4294967295u, ParseDecimal("4294967295"));
    EXPECT_EQ(0u, ParseDecimal("4294967296"));
    EXPECT_EQ(1u, ParseDecimal("4294967297"));
    EXPECT_EQ(1410065408u, ParseDecimal("10000000000"));
    EXPECT_EQ(1234u, ParseDecimal("0000001234"));
}

TEST_F(LaunchTest, AWrappedWindowNumberNamesTheWrappedWindow)
{
    HWND panel = MakeHostingWindow();
    // 2^32 + n reads as n.
    unsigned long long wrapped = (1ull << 32) + reinterpret_cast<UINT_PTR>(panel);
    EXPECT_EQ(0, Launch("/a " + std::to_string(wrapped)));
    ASSERT_EQ(1u, passwordChanges.size());
    EXPECT_EQ(panel, passwordChanges[0].parent);
}

TEST(StartUp, TheSaverSeesOnlyWhatFollowsTheProgramName)
{
    EXPECT_STREQ("/s", SaverCommandTail("VantrelSaver.scr /s"));
    EXPECT_STREQ("/p 1234", SaverCommandTail("\"C:\\Program Files\\Vantrel Saver.scr\" /p 1234"));
    EXPECT_STREQ("/c:55", SaverCommandTail("\"saver.scr\"/c:55"));
    EXPECT_STREQ("/s", SaverCommandTail("saver.scr \t\x01\x1f /s"));
    EXPECT_STREQ("", SaverCommandTail("saver.scr"));
    EXPECT_STREQ("", SaverCommandTail("\"unterminated name /s"));
    EXPECT_STREQ("", SaverCommandTail(""));
    EXPECT_STREQ("", SaverCommandTail(nullptr));
    // Only leading blanks go; the saver's own scan deals with the rest.
    EXPECT_STREQ("- /S x", SaverCommandTail("a.scr  - /S x"));
}

TEST_F(LaunchTest, AFaultClearsTheProtectedSaverStateBeforeTheProcessEnds)
{
    EXPECT_EXIT(
        {
            layer::RegisterLibrary("MPR.DLL", {{"PwdChangePasswordA", AsFarProc(FaultingPwdChangePassword)}});
            SetSaverRunning(TRUE);
            SaverMain(instance, nullptr, "/a", SW_SHOWNORMAL);
            std::exit(77);  // not reached: the guard ends the process
        },
        ::testing::ExitedWithCode(1), "");
}

}  // namespace
