// The Screen Saver Settings panel on the headless desktop: what it reads
// from and writes to Control Panel\Desktop, Apply and Cancel, the watcher it
// asks for, and a preview that cannot start. No process is started: the
// layer's start hook records what would have been.
#include <gtest/gtest.h>
#include <layer_hooks.h>
#include <windows.h>

#include <cstdlib>
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
    return std::string(type == REG_SZ ? "sz:" : "other:") + text;
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
        char text[256] = {};
        GetWindowTextA(control, text, sizeof text);
        return text;
    }
    static bool ApplyEnabled() { return IsWindowEnabled(Item(IDC_PANEL_APPLY)) != FALSE; }

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

}  // namespace
