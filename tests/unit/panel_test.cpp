// The Screen Saver Settings panel on the headless desktop: what it reads
// from and writes to Control Panel\Desktop, Apply and Cancel, the watcher it
// asks for, and a preview that cannot start. No process is started: the
// layer's start hook records what would have been.
#include <gtest/gtest.h>
#include <layer_hooks.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "panel/panel.h"
#include "panel/panel_resource.h"

namespace {

const char DesktopKey[] = "Control Panel\\Desktop";

void StoreValue(const char *name, DWORD type, const void *data, DWORD size) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, DesktopKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                             &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, (const BYTE *)data, size));
    RegCloseKey(key);
}
void StoreString(const char *name, const std::string &text) {
    StoreValue(name, REG_SZ, text.c_str(), (DWORD)text.size() + 1);
}

// A value as "type:text", or nothing when it is absent.
std::optional<std::string> Stored(const char *name) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, DesktopKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return std::nullopt;
    char text[64] = {};
    DWORD type = 0, size = sizeof text - 1;
    LSTATUS status = RegQueryValueExA(key, name, nullptr, &type, (LPBYTE)text, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return std::nullopt;
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD number;
        memcpy(&number, text, sizeof number);
        return "dword:" + std::to_string(number);
    }
    return std::string(type == REG_SZ ? "sz:" : "other:") + text;
}

// Stand-ins for the verifier's SessionLockOffered.
const char *offeredReason = "";
BOOL WINAPI LockOffered(LPSTR reason, DWORD size) {
    if (reason && size) reason[0] = '\0';
    return TRUE;
}
BOOL WINAPI LockNotOffered(LPSTR reason, DWORD size) {
    if (reason && size) snprintf(reason, size, "%s", offeredReason);
    return FALSE;
}
// One that fills the whole buffer and leaves it unended.
BOOL WINAPI LockNotOfferedUnended(LPSTR reason, DWORD size) {
    memset(reason, 'x', size);
    return FALSE;
}
template <typename Proc>
FARPROC AsFarProc(Proc proc) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void *>(proc));
}
void InstallVerifier(BOOL(WINAPI *offered)(LPSTR, DWORD)) {
    layer::RegisterLibrary("PASSWORD.CPL", {{"SessionLockOffered", AsFarProc(offered)}});
}

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        layer::ResetHeadless(800, 600);
        layer::SetTickCount(1000);
        const char *display = std::getenv("DISPLAY");
        savedDisplay_ = display ? std::optional<std::string>(display) : std::nullopt;
        unsetenv("DISPLAY");
        started_.clear();
        layer::SetProcessStartHook([this](const std::string &, const std::vector<std::string> &arguments) {
            std::string line;
            for (size_t i = 1; i < arguments.size(); ++i) line += (i > 1 ? " " : "") + arguments[i];
            started_.push_back(line);
            return false;
        });
    }
    void TearDown() override {
        layer::SetProcessStartHook(nullptr);
        layer::SetIdleHook(nullptr);
        if (savedDisplay_) setenv("DISPLAY", savedDisplay_->c_str(), 1);
        layer::ResetHeadless(640, 480);
    }

    // Runs the panel, one step each time its dialog has nothing to do; a
    // panel still open after the last step is a failure and is ended.
    int RunPanel(std::vector<std::function<void()>> steps) {
        size_t next = 0;
        layer::SetIdleHook([&] {
            if (next < steps.size()) {
                steps[next++]();
            } else if (HWND open = layer::ActiveDialog()) {
                ADD_FAILURE() << "the panel was still open after the last step";
                EndDialog(open, IDCANCEL);
            }
        });
        int result = PanelMain(GetModuleHandleA(nullptr), nullptr, (LPSTR) "", SW_SHOWNORMAL);
        layer::SetIdleHook(nullptr);
        return result;
    }

    static HWND Item(int id) { return GetDlgItem(layer::ActiveDialog(), id); }
    static void Click(int id) { layer::ClickControl(Item(id)); }
    static void Retype(const std::string &text) {
        layer::SelectAllText(Item(IDC_PANEL_WAIT));
        layer::TypeText(Item(IDC_PANEL_WAIT), text.empty() ? "\b" : text);
    }
    static std::string Text(HWND control) {
        char text[512] = {};
        GetWindowTextA(control, text, sizeof text);
        return text;
    }
    static bool ApplyEnabled() { return IsWindowEnabled(Item(IDC_PANEL_APPLY)) != FALSE; }
    static bool LockEnabled() { return IsWindowEnabled(Item(IDC_PANEL_LOCK)) != FALSE; }
    static bool LockTicked() { return IsDlgButtonChecked(layer::ActiveDialog(), IDC_PANEL_LOCK) == BST_CHECKED; }
    static std::string LockReason() { return Text(Item(IDC_PANEL_LOCK_REASON)); }

    std::vector<std::string> started_;
    std::optional<std::string> savedDisplay_;
};

TEST_F(PanelTest, ReadsWhatWindowsStoresAndFallsBackQuietly) {
    struct Case {
        const char *active, *timeout;  // null: absent
        BOOL wantActive;
        DWORD wantSeconds;
    } cases[] = {
        {nullptr, nullptr, TRUE, 600},  {"0", "300", FALSE, 300},       {"1", " 45 ", TRUE, 45},
        {"yes", "abc", TRUE, 600},      {"", "0", TRUE, 600},           {"0", "-5", FALSE, 600},
        {"1", "99999999999", TRUE, 600}, {"1", "12x", TRUE, 600},
    };
    for (const Case &c : cases) {
        layer::ResetHeadless(800, 600);
        if (c.active) StoreString("ScreenSaveActive", c.active);
        if (c.timeout) StoreString("ScreenSaveTimeOut", c.timeout);
        PANELSETTINGS settings;
        LoadPanelSettings(&settings);
        EXPECT_EQ(c.wantActive, settings.active) << (c.active ? c.active : "absent");
        EXPECT_EQ(c.wantSeconds, settings.timeoutSeconds) << (c.timeout ? c.timeout : "absent");
    }
    // A number stored as a DWORD is not what Windows writes there: the default.
    layer::ResetHeadless(800, 600);
    DWORD number = 120;
    StoreValue("ScreenSaveTimeOut", REG_DWORD, &number, sizeof number);
    PANELSETTINGS settings;
    LoadPanelSettings(&settings);
    EXPECT_EQ(600u, settings.timeoutSeconds);

    EXPECT_EQ(1u, MinutesFromSeconds(3));
    EXPECT_EQ(1u, MinutesFromSeconds(89));
    EXPECT_EQ(2u, MinutesFromSeconds(90));
    EXPECT_EQ(10u, MinutesFromSeconds(600));
    EXPECT_EQ(9999u, MinutesFromSeconds(0xFFFFFFFFu));
}

TEST_F(PanelTest, OkStoresStringsAndTurningOnStartsTheWatcher) {
    StoreString("ScreenSaveActive", "0");
    EXPECT_EQ(0, RunPanel({[] {
                               EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(layer::ActiveDialog(), IDC_PANEL_ACTIVE));
                               EXPECT_EQ("10", Text(Item(IDC_PANEL_WAIT)));
                               EXPECT_FALSE(ApplyEnabled()) << "Apply before any change";
                               Click(IDC_PANEL_ACTIVE);
                           },
                           [] { Retype("25"); },
                           [] {
                               EXPECT_TRUE(ApplyEnabled());
                               Click(IDOK);
                           }}));
    EXPECT_EQ("sz:1", Stored("ScreenSaveActive"));
    EXPECT_EQ("sz:1500", Stored("ScreenSaveTimeOut"));
    EXPECT_EQ(std::vector<std::string>{"--watch"}, started_);

    // Turned off: stored, and no watcher asked for (the running one ends itself).
    started_.clear();
    EXPECT_EQ(0, RunPanel({[] { Click(IDC_PANEL_ACTIVE); }, [] { Click(IDOK); }}));
    EXPECT_EQ("sz:0", Stored("ScreenSaveActive"));
    EXPECT_TRUE(started_.empty());
}

TEST_F(PanelTest, CancelStoresNothing) {
    EXPECT_EQ(0, RunPanel({[] {
                               Click(IDC_PANEL_ACTIVE);
                           },
                           [] { Retype("3"); },
                           [] { Click(IDCANCEL); }}));
    EXPECT_FALSE(Stored("ScreenSaveActive").has_value());
    EXPECT_FALSE(Stored("ScreenSaveTimeOut").has_value());
}

TEST_F(PanelTest, ApplyClampsWaitAndGreysItself) {
    EXPECT_EQ(0, RunPanel({[] { Retype("0"); },
                           [] { Click(IDC_PANEL_APPLY); },
                           [] {
                               EXPECT_EQ("sz:60", Stored("ScreenSaveTimeOut")) << "0 minutes is brought up to 1";
                               EXPECT_EQ("1", Text(Item(IDC_PANEL_WAIT)));
                               EXPECT_FALSE(ApplyEnabled());
                               Retype("");
                           },
                           [] { Click(IDC_PANEL_APPLY); },
                           [] {
                               EXPECT_EQ("sz:60", Stored("ScreenSaveTimeOut")) << "an empty Wait keeps the wait";
                               EXPECT_EQ("1", Text(Item(IDC_PANEL_WAIT)));
                               Click(IDCANCEL);
                           }}));
}

TEST_F(PanelTest, AWaitLeftAloneKeepsItsSeconds) {
    StoreString("ScreenSaveTimeOut", "45");
    EXPECT_EQ(0, RunPanel({[] {
                               EXPECT_EQ("1", Text(Item(IDC_PANEL_WAIT)));
                               Click(IDC_PANEL_ACTIVE);
                           },
                           [] { Click(IDC_PANEL_ACTIVE); },
                           [] { Click(IDOK); }}));
    EXPECT_EQ("sz:45", Stored("ScreenSaveTimeOut"));
    EXPECT_EQ("sz:1", Stored("ScreenSaveActive"));
}

TEST_F(PanelTest, APreviewThatCannotRunIsSaidInTheMonitorsScreen) {
    // Without an X server no preview is tried.
    EXPECT_EQ(0, RunPanel({[] {
                               HWND why = GetDlgItem(Item(IDC_PANEL_MONITOR), IDC_PANEL_NO_PREVIEW);
                               EXPECT_TRUE(IsWindowVisible(why));
                               EXPECT_NE(std::string::npos, Text(why).find("no X server"));
                               Click(IDCANCEL);
                           }}));
    EXPECT_TRUE(started_.empty());

    // With one, a saver that cannot be started is said, and the panel works on.
    setenv("DISPLAY", ":97", 1);
    EXPECT_EQ(0, RunPanel({[] {
                               HWND monitor = Item(IDC_PANEL_MONITOR);
                               HWND why = GetDlgItem(monitor, IDC_PANEL_NO_PREVIEW);
                               EXPECT_TRUE(IsWindowVisible(why));
                               EXPECT_FALSE(IsWindowVisible(GetDlgItem(monitor, IDC_PANEL_PREVIEW_HOST)));
                               EXPECT_NE(std::string::npos, Text(why).find("could not be started"));
                               Retype("7");
                           },
                           [] { Click(IDOK); }}));
    ASSERT_FALSE(started_.empty());
    EXPECT_EQ(0u, started_[0].rfind("/p ", 0)) << started_[0];
    EXPECT_EQ("sz:420", Stored("ScreenSaveTimeOut"));
}

TEST_F(PanelTest, ReadsTheLockSettingAsTheSaverDoes) {
    // The raw bytes of a 32-bit number whatever the type: a string "0" is
    // nonzero bytes, and data longer than four bytes is not read at all.
    struct Case {
        DWORD type;
        const char *data;
        DWORD size;
        BOOL want;
    } cases[] = {
        {REG_DWORD, "\1\0\0\0", 4, TRUE}, {REG_DWORD, "\0\0\0\0", 4, FALSE}, {REG_SZ, "0", 2, TRUE},
        {REG_SZ, "", 1, FALSE},           {REG_SZ, "1234", 5, FALSE},           {REG_BINARY, "\0\2", 2, TRUE},
    };
    PANELSETTINGS settings;
    LoadPanelSettings(&settings);
    EXPECT_FALSE(settings.usePassword) << "absent";
    for (const Case &c : cases) {
        layer::ResetHeadless(800, 600);
        StoreValue("ScreenSaveUsePassword", c.type, c.data, c.size);
        LoadPanelSettings(&settings);
        EXPECT_EQ(c.want, settings.usePassword) << "type " << c.type << ", " << c.size << " bytes";
    }
}

TEST_F(PanelTest, TheLockBoxIsOfferedOnlyWhereTheVerifierCanLock) {
    struct Case {
        const char *name;
        std::function<void()> install;
        bool enabled;
        std::string reason;
    } cases[] = {
        {"no verifier", [] {}, false, "No password verifier is installed."},
        {"no entry", [] { layer::RegisterLibrary("PASSWORD.CPL", {{"VerifyScreenSavePwd", AsFarProc(LockOffered)}}); },
         false, "No password verifier is installed."},
        {"offered", [] { InstallVerifier(LockOffered); }, true, ""},
        {"not offered",
         [] {
             offeredReason = "swaylock does not tell the session when it has locked the screen";
             InstallVerifier(LockNotOffered);
         },
         false, "Swaylock does not tell the session when it has locked the screen."},
        {"no reason",
         [] {
             offeredReason = "";
             InstallVerifier(LockNotOffered);
         },
         false, "The password verifier gives no reason."},
        {"unended reason", [] { InstallVerifier(LockNotOfferedUnended); }, false,
         "X" + std::string(sizeof PanelState.lockReason - 2, 'x') + "."},
    };
    for (const Case &c : cases) {
        layer::ResetHeadless(800, 600);
        c.install();
        EXPECT_EQ(0, RunPanel({[&] {
                      EXPECT_EQ(c.enabled, LockEnabled()) << c.name;
                      EXPECT_FALSE(LockTicked()) << c.name;
                      EXPECT_EQ(c.reason, LockReason()) << c.name;
                      Click(IDCANCEL);
                  }}));
        EXPECT_EQ(0, layer::LibraryReferences("PASSWORD.CPL")) << c.name << ": the verifier is let go";
    }
}

TEST_F(PanelTest, TheLockBoxStoresADwordOnlyWhenItChanged) {
    InstallVerifier(LockOffered);
    // Ticked and cancelled: nothing; ticked and OK: a DWORD 1.
    EXPECT_EQ(0, RunPanel({[] { Click(IDC_PANEL_LOCK); },
                           [] {
                               EXPECT_TRUE(ApplyEnabled());
                               Click(IDCANCEL);
                           }}));
    EXPECT_FALSE(Stored("ScreenSaveUsePassword").has_value());
    EXPECT_EQ(0, RunPanel({[] { Click(IDC_PANEL_LOCK); }, [] { Click(IDOK); }}));
    EXPECT_EQ("dword:1", Stored("ScreenSaveUsePassword"));

    // A string the saver reads as on stays as it is while the box is left alone.
    StoreString("ScreenSaveUsePassword", "1");
    EXPECT_EQ(0, RunPanel({[] {
                               EXPECT_TRUE(LockTicked());
                               Retype("5");
                           },
                           [] { Click(IDOK); }}));
    EXPECT_EQ("sz:1", Stored("ScreenSaveUsePassword"));
    EXPECT_EQ(0, RunPanel({[] { Click(IDC_PANEL_LOCK); }, [] { Click(IDOK); }}));
    EXPECT_EQ("dword:0", Stored("ScreenSaveUsePassword"));
}

TEST_F(PanelTest, ProtectionLeftOnWhereNoLockCanBeHadCanStillBeTurnedOff) {
    offeredReason = "no login manager answers on the system bus";
    InstallVerifier(LockNotOffered);
    StoreString("ScreenSaveUsePassword", "0");  // the bytes '0', NUL: on
    EXPECT_EQ(0, RunPanel({[] {
                               EXPECT_TRUE(LockEnabled());
                               EXPECT_TRUE(LockTicked());
                               EXPECT_EQ("No login manager answers on the system bus. Still on: untick it to turn it off.",
                                         LockReason());
                               Click(IDC_PANEL_LOCK);
                           },
                           [] {
                               EXPECT_TRUE(LockEnabled()) << "greyed only once it is stored off";
                               Click(IDC_PANEL_APPLY);
                           },
                           [] {
                               EXPECT_EQ("dword:0", Stored("ScreenSaveUsePassword"));
                               EXPECT_FALSE(LockEnabled());
                               EXPECT_FALSE(LockTicked());
                               EXPECT_EQ("No login manager answers on the system bus.", LockReason());
                               Click(IDCANCEL);
                           }}));
}

}  // namespace
