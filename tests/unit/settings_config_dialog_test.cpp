// The configuration and About dialogs driven as a person drives them: clicks,
// slider drags, typing and keys on the headless desktop, with the registry
// looked at before and after.
#include <gtest/gtest.h>
#include <layer_hooks.h>
#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/host.h"
#include "resources/resource.h"
#include "settings/settings.h"

namespace {

struct Stored {
    DWORD type;
    std::vector<BYTE> data;
    bool operator==(const Stored &) const = default;
};
using RegistryValues = std::map<std::string, Stored>;

std::vector<BYTE> DwordBytes(DWORD value)
{
    return {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)};
}

class ConfigDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        layer::ResetHeadless(800, 600);
        layer::SetTickCount(1000);
        HostState = HostStateRecord{};
        HostState.instance = GetModuleHandleA(nullptr);
        SaverSettings = SaverSettingsRecord{};
    }

    void TearDown() override
    {
        layer::SetIdleHook(nullptr);
        layer::ResetHeadless(640, 480);
    }

    // Opens the configuration dialog as /c does and runs `steps`, one each
    // time the dialog has nothing left to do. A dialog still open when the
    // steps run out is a failure and is ended with -2, so no test can hang.
    int RunDialog(std::vector<std::function<void()>> steps)
    {
        size_t next = 0;
        layer::SetIdleHook([&] {
            if (next < steps.size()) {
                steps[next++]();
            } else if (HWND open = layer::ActiveDialog()) {
                ADD_FAILURE() << "a dialog was still open after the last step";
                EndDialog(open, -2);
            }
        });
        int result = ShowConfigDialog(nullptr);
        layer::SetIdleHook(nullptr);
        EXPECT_EQ(steps.size(), next) << "the dialog ended before every step had run";
        return result;
    }

    static HWND Dialog() { return layer::ActiveDialog(); }
    static HWND Item(int id) { return GetDlgItem(Dialog(), id); }
    static void Click(int id) { layer::ClickControl(Item(id)); }
    static void Key(UINT key, bool alt = false)
    {
        layer::InjectKey(key, true, alt);
        layer::InjectKey(key, false, alt);
    }
    // Replaces a box's text as a person would: select it all, then type over
    // it, or delete it with Backspace to leave the box empty.
    static void Retype(int box, const std::string &text)
    {
        layer::SelectAllText(Item(box));
        layer::TypeText(Item(box), text.empty() ? "\b" : text);
    }

    static std::string Text(int id)
    {
        char text[64] = "";
        GetWindowTextA(Item(id), text, sizeof text);
        return text;
    }
    static LRESULT Position(int slider) { return SendMessageA(Item(slider), TBM_GETPOS, 0, 0); }
    static bool Checked(int id) { return IsDlgButtonChecked(Dialog(), id) == BST_CHECKED; }

    // What the dialog shows, row by row: slider, box, slider, box, slider,
    // box, then the two check boxes.
    static std::vector<std::string> Shown()
    {
        return {std::to_string(Position(IDC_BOMB_COUNT_SLIDER)), Text(IDC_BOMB_COUNT_BOX),
                std::to_string(Position(IDC_BOMB_SPEED_SLIDER)), Text(IDC_BOMB_SPEED_BOX),
                std::to_string(Position(IDC_SCREEN_DELAY_SLIDER)), Text(IDC_SCREEN_DELAY_BOX),
                Checked(IDC_BOMBS_ONLY) ? "only" : "-", Checked(IDC_BOMB_BACKDROP) ? "backdrop" : "-"};
    }
    static std::vector<LONG> Record()
    {
        return {SaverSettings.BombCount, SaverSettings.BombSpeed, SaverSettings.ScreenDelay, SaverSettings.BombsOnly,
                SaverSettings.BombBackdrop};
    }

    static void Store(const char *name, DWORD type, const std::vector<BYTE> &data)
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, data.data(), DWORD(data.size())));
        RegCloseKey(key);
    }
    static void StoreNumbers(std::vector<std::pair<const char *, DWORD>> values)
    {
        for (auto &[name, value] : values)
            Store(name, REG_DWORD, DwordBytes(value));
    }

    // Every value under the settings key; nullopt when there is no key.
    static std::optional<RegistryValues> Registry()
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
            return std::nullopt;
        RegistryValues values;
        for (const char *name : {"BombCount", "BombSpeed", "ScreenDelay", "BombsOnly", "BombBackdrop"}) {
            BYTE data[64];
            DWORD type = 0, size = sizeof data;
            if (RegQueryValueExA(key, name, nullptr, &type, data, &size) == ERROR_SUCCESS)
                values[name] = {type, std::vector<BYTE>(data, data + size)};
        }
        RegCloseKey(key);
        return values;
    }
    static std::optional<LONG> StoredNumber(const char *name)
    {
        auto values = Registry();
        if (!values || !values->count(name) || (*values)[name].type != REG_DWORD || (*values)[name].data.size() != 4)
            return std::nullopt;
        const std::vector<BYTE> &d = (*values)[name].data;
        return LONG(DWORD(d[0]) | DWORD(d[1]) << 8 | DWORD(d[2]) << 16 | DWORD(d[3]) << 24);
    }
};

const std::vector<std::string> DefaultsShown = {"50", "50", "50", "50", "25", "25", "-", "backdrop"};

TEST_F(ConfigDialogTest, OpensOnTheDefaultsWithNothingStoredAndCancelWritesNothing)
{
    EXPECT_EQ(0, RunDialog({[] {
                               EXPECT_EQ(DefaultsShown, Shown());
                               EXPECT_EQ(1, SendMessageA(Item(IDC_BOMB_COUNT_SLIDER), TBM_GETRANGEMIN, 0, 0));
                               EXPECT_EQ(200, SendMessageA(Item(IDC_BOMB_COUNT_SLIDER), TBM_GETRANGEMAX, 0, 0));
                               EXPECT_EQ(100, SendMessageA(Item(IDC_BOMB_SPEED_SLIDER), TBM_GETRANGEMAX, 0, 0));
                               EXPECT_EQ(100, SendMessageA(Item(IDC_SCREEN_DELAY_SLIDER), TBM_GETRANGEMAX, 0, 0));
                               EXPECT_EQ(Item(IDC_BOMB_COUNT_SLIDER), BombCountSlider);
                               EXPECT_EQ(Item(IDC_BOMB_SPEED_SLIDER), BombSpeedSlider);
                               EXPECT_EQ(Item(IDC_SCREEN_DELAY_SLIDER), ScreenDelaySlider);
                           },
                           [] { Click(IDCANCEL); }}));
    EXPECT_FALSE(Registry().has_value()) << "Cancel made the key";
}

TEST_F(ConfigDialogTest, OpensOnWhatIsStoredClamped)
{
    StoreNumbers({{"BombCount", 120}, {"BombSpeed", 0}, {"ScreenDelay", 900}, {"BombsOnly", 1}, {"BombBackdrop", 0}});
    EXPECT_EQ(0, RunDialog({[] {
                               EXPECT_EQ((std::vector<std::string>{"120", "120", "1", "1", "100", "100", "only", "-"}),
                                         Shown());
                           },
                           [] { Key(VK_ESCAPE); }}));
}

TEST_F(ConfigDialogTest, SliderMovesShowAtOnceAndCancelLeavesTheRegistryAsItWas)
{
    StoreNumbers({{"BombCount", 30}});
    RegistryValues before = *Registry();
    EXPECT_EQ(0, RunDialog({[] { layer::DragTrackbar(Item(IDC_BOMB_COUNT_SLIDER), 200); },
                           [] {
                               EXPECT_EQ("200", Text(IDC_BOMB_COUNT_BOX));
                               EXPECT_EQ(200, SaverSettings.BombCount);
                               layer::DragTrackbar(Item(IDC_SCREEN_DELAY_SLIDER), 1);
                           },
                           [] {
                               EXPECT_EQ("1", Text(IDC_SCREEN_DELAY_BOX));
                               EXPECT_EQ(1, SaverSettings.ScreenDelay);
                               // Keyboard steps on the focused slider count too.
                               Key(VK_RIGHT);
                           },
                           [] {
                               EXPECT_EQ("2", Text(IDC_SCREEN_DELAY_BOX));
                               EXPECT_EQ(2, SaverSettings.ScreenDelay);
                               EXPECT_EQ("50", Text(IDC_BOMB_SPEED_BOX)) << "another row moved";
                               Click(IDCANCEL);
                           }}));
    EXPECT_EQ(before, *Registry());
}

TEST_F(ConfigDialogTest, TypedNumbersCountOnlyOnOkAndAreClamped)
{
    struct Case {
        int box;
        const char *typed;
        const char *setting;
        LONG stored;
    };
    const Case cases[] = {
        {IDC_BOMB_COUNT_BOX, "250", "BombCount", 200},
        {IDC_BOMB_COUNT_BOX, "0", "BombCount", 1},
        {IDC_BOMB_COUNT_BOX, "", "BombCount", 1},
        {IDC_BOMB_COUNT_BOX, "lots", "BombCount", 1},
        {IDC_BOMB_COUNT_BOX, "4000000000", "BombCount", 1},  // read unsigned, kept signed: negative
        {IDC_BOMB_COUNT_BOX, "137", "BombCount", 137},
        {IDC_BOMB_SPEED_BOX, "150", "BombSpeed", 100},
        {IDC_SCREEN_DELAY_BOX, "7", "ScreenDelay", 7},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.setting) + " typed as '" + c.typed + "'");
        layer::ResetHeadless(800, 600);
        HostState.instance = GetModuleHandleA(nullptr);
        int slider = c.box == IDC_BOMB_COUNT_BOX  ? IDC_BOMB_COUNT_SLIDER
                     : c.box == IDC_BOMB_SPEED_BOX ? IDC_BOMB_SPEED_SLIDER
                                                   : IDC_SCREEN_DELAY_SLIDER;
        EXPECT_EQ(1, RunDialog({[&] { Retype(c.box, c.typed); },
                               [&] {
                                   EXPECT_EQ(c.typed, Text(c.box));
                                   EXPECT_EQ(slider == IDC_SCREEN_DELAY_SLIDER ? 25 : 50, Position(slider))
                                       << "typing moved the slider";
                                   EXPECT_EQ((std::vector<LONG>{50, 50, 25, 0, 1}), Record())
                                       << "typing changed the record";
                                   Click(IDOK);
                               }}));
        EXPECT_EQ(c.stored, StoredNumber(c.setting));
    }
}

TEST_F(ConfigDialogTest, OkStoresAllFiveAsNumbersAndEnterInABoxIsOk)
{
    EXPECT_EQ(1, RunDialog({[] { Retype(IDC_BOMB_COUNT_BOX, "250"); }, [] { Key(VK_RETURN); }}));
    auto values = Registry();
    ASSERT_TRUE(values.has_value());
    EXPECT_EQ((RegistryValues{{"BombCount", {REG_DWORD, DwordBytes(200)}},
                              {"BombSpeed", {REG_DWORD, DwordBytes(50)}},
                              {"ScreenDelay", {REG_DWORD, DwordBytes(25)}},
                              {"BombsOnly", {REG_DWORD, DwordBytes(0)}},
                              {"BombBackdrop", {REG_DWORD, DwordBytes(1)}}}),
              *values);
}

TEST_F(ConfigDialogTest, TypingThenMovingTheSliderShowsTheSlider)
{
    EXPECT_EQ(1, RunDialog({[] { Retype(IDC_BOMB_SPEED_BOX, "99"); },
                           [] { layer::DragTrackbar(Item(IDC_BOMB_SPEED_SLIDER), 10); },
                           [] {
                               EXPECT_EQ("10", Text(IDC_BOMB_SPEED_BOX));
                               Click(IDOK);
                           }}));
    EXPECT_EQ(10, StoredNumber("BombSpeed"));
}

TEST_F(ConfigDialogTest, DefaultsResetControlsAndRecordAndWriteNothingUntilOk)
{
    StoreNumbers({{"BombCount", 120}, {"BombSpeed", 10}, {"ScreenDelay", 90}, {"BombsOnly", 1}, {"BombBackdrop", 0}});
    RegistryValues before = *Registry();
    EXPECT_EQ(0, RunDialog({[] { Click(IDC_DEFAULTS); },
                           [&] {
                               EXPECT_EQ(DefaultsShown, Shown());
                               EXPECT_EQ((std::vector<LONG>{50, 50, 25, 0, 1}), Record());
                               EXPECT_EQ(before, *Registry()) << "Defaults wrote to the registry";
                               Click(IDCANCEL);
                           }}));
    EXPECT_EQ(before, *Registry());

    // Alt+D reaches the same button; OK then stores the defaults.
    EXPECT_EQ(1, RunDialog({[] { Key('D', true); },
                           [] {
                               EXPECT_EQ(DefaultsShown, Shown());
                               Click(IDOK);
                           }}));
    EXPECT_EQ((std::vector<std::optional<LONG>>{50, 50, 25, 0, 1}),
              (std::vector<std::optional<LONG>>{StoredNumber("BombCount"), StoredNumber("BombSpeed"),
                                                StoredNumber("ScreenDelay"), StoredNumber("BombsOnly"),
                                                StoredNumber("BombBackdrop")}));
}

TEST_F(ConfigDialogTest, CheckBoxesToggleTheRecordByClickAndByMnemonic)
{
    EXPECT_EQ(1, RunDialog({[] { Click(IDC_BOMBS_ONLY); },
                           [] {
                               EXPECT_TRUE(Checked(IDC_BOMBS_ONLY));
                               EXPECT_EQ(1, SaverSettings.BombsOnly);
                               Click(IDC_BOMBS_ONLY);
                           },
                           [] {
                               EXPECT_FALSE(Checked(IDC_BOMBS_ONLY));
                               EXPECT_EQ(0, SaverSettings.BombsOnly) << "two clicks did not restore it";
                               Click(IDC_BOMB_BACKDROP);
                           },
                           [] {
                               EXPECT_FALSE(Checked(IDC_BOMB_BACKDROP));
                               EXPECT_EQ(0, SaverSettings.BombBackdrop);
                               Key('B', true);
                           },
                           [] {
                               EXPECT_TRUE(Checked(IDC_BOMBS_ONLY)) << "Alt+B did not toggle Bombs Only";
                               EXPECT_EQ(1, SaverSettings.BombsOnly);
                               Click(IDOK);
                           }}));
    EXPECT_EQ(1, StoredNumber("BombsOnly"));
    EXPECT_EQ(0, StoredNumber("BombBackdrop"));
}

TEST_F(ConfigDialogTest, EscapeAndTheCloseBoxEndWithZero)
{
    StoreNumbers({{"BombCount", 77}});
    RegistryValues before = *Registry();
    EXPECT_EQ(0, RunDialog({[] { layer::DragTrackbar(Item(IDC_BOMB_COUNT_SLIDER), 3); }, [] { Key(VK_ESCAPE); }}));
    EXPECT_EQ(0, RunDialog({[] { Click(IDC_BOMBS_ONLY); },
                           [] { PostMessageA(Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0); }}));
    EXPECT_EQ(before, *Registry());
}

TEST_F(ConfigDialogTest, OkStillEndsWithOneWhenTheKeyCannotBeMade)
{
    EXPECT_EQ(1, RunDialog({[] {
        layer::InjectFault("RegCreateKeyExA");
        Click(IDOK);
    }}));
    EXPECT_FALSE(Registry().has_value());
}

TEST_F(ConfigDialogTest, AboutOpensOverTheDialogAndChangesNothing)
{
    HWND config = nullptr;
    auto openAbout = [&] {
        config = Dialog();
        Click(IDC_ABOUT);
    };
    auto aboutIsOpen = [&] {
        HWND about = Dialog();
        ASSERT_NE(config, about);
        char caption[64] = "";
        GetWindowTextA(about, caption, sizeof caption);
        EXPECT_STREQ("About Vantrel Screen Saver", caption);
        EXPECT_FALSE(IsWindowEnabled(config)) << "the configuration dialog takes input under the About box";
        ASSERT_FALSE(layer::DialogRequests().empty());
        EXPECT_EQ("#109", layer::DialogRequests().back().templateName);
        EXPECT_EQ(config, layer::DialogRequests().back().owner);
    };
    auto backInConfig = [&] {
        EXPECT_EQ(config, Dialog());
        EXPECT_TRUE(IsWindowEnabled(config));
        EXPECT_EQ(DefaultsShown, Shown());
        EXPECT_EQ((std::vector<LONG>{50, 50, 25, 0, 1}), Record());
    };

    // Closed by its own button (identifier 3), by Enter, and by Escape.
    EXPECT_EQ(0, RunDialog({openAbout, aboutIsOpen, [] { Click(IDC_ABOUT_OK); }, backInConfig, [] { Key('A', true); },
                           aboutIsOpen, [] { Key(VK_RETURN); }, backInConfig, [] { Click(IDC_ABOUT); },
                           [] { Key(VK_ESCAPE); },
                           [&] {
                               backInConfig();
                               Click(IDCANCEL);
                           }}));
    EXPECT_FALSE(Registry().has_value());
}

}  // namespace
