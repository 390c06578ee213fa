// The watcher's settings and its rule for starting a saver.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "idle/watcher_internal.h"
#include "registry/store.h"

namespace {

using idle::DesktopSettings;
using vantrel::registry::Value;

Value Text(const std::string &text) {
    Value value;
    value.type = REG_SZ;
    value.data.assign(text.begin(), text.end());
    value.data.push_back(0);
    return value;
}

Value Dword(DWORD number) {
    Value value;
    value.type = REG_DWORD;
    for (int shift = 0; shift < 32; shift += 8) value.data.push_back((BYTE)(number >> shift));
    return value;
}

unsigned TimeoutOf(const Value &value) { return idle::SettingsFromValues(nullptr, &value).timeoutSeconds; }
bool ActiveOf(const Value &value) { return idle::SettingsFromValues(&value, nullptr).active; }

TEST(WatcherSettings, ValuesAsWindowsStoresThemAndDefaultsForTheRest) {
    EXPECT_EQ(idle::SettingsFromValues(nullptr, nullptr), (DesktopSettings{true, 600}));
    EXPECT_FALSE(ActiveOf(Text("0")));
    EXPECT_TRUE(ActiveOf(Text("1")));
    EXPECT_FALSE(ActiveOf(Dword(0)));
    EXPECT_TRUE(ActiveOf(Text("yes")));  // unreadable: the default, on
    EXPECT_EQ(TimeoutOf(Text("3")), 3u);
    EXPECT_EQ(TimeoutOf(Text(" 300 ")), 300u);
    EXPECT_EQ(TimeoutOf(Dword(42)), 42u);
    for (const char *bad : {"", "ten", "5 minutes", "-"}) EXPECT_EQ(TimeoutOf(Text(bad)), 600u) << bad;
    Value binary = Dword(42);
    binary.type = REG_BINARY;
    EXPECT_EQ(TimeoutOf(binary), 600u);
    Value shortDword = Dword(42);
    shortDword.data.resize(2);
    EXPECT_EQ(TimeoutOf(shortDword), 600u);
}

TEST(WatcherSettings, NoWaitIsTheDefaultAndALongOneThePanelsLongest) {
    EXPECT_EQ(TimeoutOf(Text("1")), 1u);
    EXPECT_EQ(TimeoutOf(Text("0")), 600u);
    EXPECT_EQ(TimeoutOf(Text("-30")), 600u);
    EXPECT_EQ(TimeoutOf(Text("99999999999999999999999")), idle::kLongestTimeoutSeconds);
    EXPECT_EQ(TimeoutOf(Dword(0xffffffffu)), idle::kLongestTimeoutSeconds);
}

TEST(WatcherSettings, ReadFromTheRegistryFileAsItIsNow) {
    char folder[] = "/tmp/watcher-test.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string path = std::string(folder) + "/registry.reg";
    EXPECT_EQ(idle::ReadDesktopSettings(path), (DesktopSettings{true, 600}));
    std::ofstream(path) << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"
                           "\"ScreenSaveActive\"=\"1\"\n\"ScreenSaveTimeOut\"=\"3\"\n";
    EXPECT_EQ(idle::ReadDesktopSettings(path), (DesktopSettings{true, 3}));
    // Rewritten behind the store's back, as the panel's process does.
    std::ofstream(path) << "REGEDIT4\n\n[HKEY_CURRENT_USER\\control panel\\desktop]\n"
                           "\"ScreenSaveActive\"=\"0\"\n\"ScreenSaveTimeOut\"=dword:0000003c\n";
    EXPECT_EQ(idle::ReadDesktopSettings(path), (DesktopSettings{false, 60}));
    vantrel::registry::Reset();
    unlink(path.c_str());
    rmdir(folder);
}

TEST(WatcherRule, IdleWhileHeldStartsTheSaverAtTheRelease) {
    idle::WatchState state;
    state.held = true;
    idle::NoteIdle(state);
    EXPECT_EQ(idle::Decide(state), idle::Step::Wait);
    state.held = false;
    EXPECT_EQ(idle::Decide(state), idle::Step::StartSaver);
    // Input before the release: nothing to remember.
    idle::WatchState touched;
    touched.held = true;
    idle::NoteIdle(touched);
    idle::NoteActive(touched);
    touched.held = false;
    EXPECT_EQ(idle::Decide(touched), idle::Step::Wait);
}

TEST(WatcherRule, AnEndedSaverComesBackOnlyAfterInputAndANewIdle) {
    idle::WatchState state;
    idle::NoteIdle(state);
    ASSERT_EQ(idle::Decide(state), idle::Step::StartSaver);
    idle::NoteSaverStarted(state);
    EXPECT_EQ(idle::Decide(state), idle::Step::Wait);
    idle::NoteSaverEnded(state);  // crashed, the session still idle
    EXPECT_EQ(idle::Decide(state), idle::Step::Wait);
    idle::NoteRearmed(state);  // a new timeout is not input
    idle::NoteIdle(state);
    EXPECT_EQ(idle::Decide(state), idle::Step::Wait);
    idle::NoteActive(state);
    EXPECT_EQ(idle::Decide(state), idle::Step::Wait);
    idle::NoteIdle(state);
    EXPECT_EQ(idle::Decide(state), idle::Step::StartSaver);
}

TEST(WatcherRule, TurnedOffEndsTheWatcherWhateverElseHolds) {
    idle::WatchState state;
    idle::NoteIdle(state);
    state.active = false;
    EXPECT_EQ(idle::Decide(state), idle::Step::Quit);
}

TEST(WatcherLock, OneWatcherPerDisplay) {
    char folder[] = "/tmp/watcher-lock.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const char *saved = std::getenv("XDG_RUNTIME_DIR");
    std::string old = saved ? saved : "";
    setenv("XDG_RUNTIME_DIR", folder, 1);
    EXPECT_EQ(idle::SessionLockPath("/run/user/1000/wayland-1", folder, 1000),
              std::string(folder) + "/vantrel-saver-watch-_run_user_1000_wayland-1.lock");
    pid_t other = 0;
    std::string why;
    int first = idle::LockSession(":5", &other, &why);
    ASSERT_GE(first, 0) << why;
    EXPECT_EQ(idle::LockSession(":5", &other, &why), -1);
    EXPECT_EQ(other, getpid());
    int elsewhere = idle::LockSession(":6", &other, &why);
    EXPECT_GE(elsewhere, 0);
    close(first);
    close(elsewhere);
    int again = idle::LockSession(":5", &other, &why);
    EXPECT_GE(again, 0);
    close(again);
    // A runtime folder that is gone: the lock still holds, from /tmp.
    setenv("XDG_RUNTIME_DIR", (std::string(folder) + "/gone").c_str(), 1);
    std::string display = "watcher-test-" + std::to_string(getpid());
    int fallback = idle::LockSession(display, &other, &why);
    EXPECT_GE(fallback, 0) << why;
    EXPECT_EQ(idle::LockSession(display, &other, &why), -1);
    close(fallback);
    unlink(idle::SessionLockPath(display, nullptr, getuid()).c_str());
    if (saved) setenv("XDG_RUNTIME_DIR", old.c_str(), 1);
    else unsetenv("XDG_RUNTIME_DIR");
    std::system((std::string("rm -rf ") + folder).c_str());
}

}  // namespace
