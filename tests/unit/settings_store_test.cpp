// The settings record against what the registry may hold: nothing, partial
// data, values of other types and sizes, numbers out of range.
#include <gtest/gtest.h>
#include <layer_hooks.h>
#include <windows.h>

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/session/module_mode.h"
#include "settings/settings.h"

namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        layer::ResetHeadless(640, 480);
        SaverSettings = SaverSettingsRecord{};
    }

    static void Store(const char *name, DWORD type, std::vector<BYTE> data)
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, data.data(), static_cast<DWORD>(data.size())));
        RegCloseKey(key);
    }

    static void StoreNumber(const char *name, DWORD value)
    {
        Store(name, REG_DWORD, {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)});
    }

    static std::vector<LONG> Loaded()
    {
        LoadSettings();
        return {SaverSettings.BombCount, SaverSettings.BombSpeed, SaverSettings.ScreenDelay,
                SaverSettings.BombsOnly, SaverSettings.BombBackdrop};
    }

    // What a stored value reads back as, the rest at their defaults.
    static std::vector<LONG> LoadedWith(const char *name, DWORD value)
    {
        layer::ResetHeadless(640, 480);
        StoreNumber(name, value);
        return Loaded();
    }
};

using Values = std::vector<LONG>;

TEST_F(SettingsStoreTest, WithoutTheKeyEverySettingHasItsDefault)
{
    SaverSettings = {7, 7, 7, 7, 7};  // whatever the dialog left behind
    EXPECT_EQ((Values{50, 50, 25, 0, 1}), Loaded());
}

TEST_F(SettingsStoreTest, AnAbsentValueKeepsItsDefaultWhileOthersAreRead)
{
    StoreNumber("BombSpeed", 80);
    EXPECT_EQ((Values{50, 80, 25, 0, 1}), Loaded());
    StoreNumber("bombsonly", 1);  // names compare without case, as in the registry
    EXPECT_EQ((Values{50, 80, 25, 1, 1}), Loaded());
}

TEST_F(SettingsStoreTest, EveryValueIsClampedIntoItsRangeAsASignedNumber)
{
    struct Case {
        const char *name;
        DWORD stored;
        Values expected;
    } cases[] = {
        {"BombCount", 0, {1, 50, 25, 0, 1}},
        {"BombCount", 1, {1, 50, 25, 0, 1}},
        {"BombCount", 200, {200, 50, 25, 0, 1}},
        {"BombCount", 201, {200, 50, 25, 0, 1}},
        {"BombCount", 0xFFFFFFFF, {1, 50, 25, 0, 1}},
        {"BombCount", 0x80000000, {1, 50, 25, 0, 1}},  // negative: lower bound, never upper
        {"BombCount", 0x7FFFFFFF, {200, 50, 25, 0, 1}},
        {"BombSpeed", DWORD(-5), {50, 1, 25, 0, 1}},
        {"BombSpeed", 100, {50, 100, 25, 0, 1}},
        {"BombSpeed", 101, {50, 100, 25, 0, 1}},
        {"ScreenDelay", 101, {50, 50, 100, 0, 1}},
        {"ScreenDelay", 0, {50, 50, 1, 0, 1}},
        {"ScreenDelay", 1, {50, 50, 1, 0, 1}},
        {"BombsOnly", 2, {50, 50, 25, 1, 1}},
        {"BombsOnly", 0x80000001, {50, 50, 25, 0, 1}},
        {"BombBackdrop", 0xFFFFFFFF, {50, 50, 25, 0, 0}},
        {"BombBackdrop", 0, {50, 50, 25, 0, 0}},
        {"BombBackdrop", 7, {50, 50, 25, 0, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << " stored as " << c.stored);
        EXPECT_EQ(c.expected, LoadedWith(c.name, c.stored));
    }
}

TEST_F(SettingsStoreTest, ClampingWorksOnTheRecordInPlace)
{
    SaverSettings = {INT_MIN, INT_MAX, -1, INT_MAX, INT_MIN};
    ClampSettings();
    EXPECT_EQ(1, SaverSettings.BombCount);
    EXPECT_EQ(100, SaverSettings.BombSpeed);
    EXPECT_EQ(1, SaverSettings.ScreenDelay);
    EXPECT_EQ(1, SaverSettings.BombsOnly);
    EXPECT_EQ(0, SaverSettings.BombBackdrop);
    SaverSettings = {17, 3, 99, 1, 0};
    ClampSettings();
    EXPECT_EQ(17, SaverSettings.BombCount);
    EXPECT_EQ(3, SaverSettings.BombSpeed);
    EXPECT_EQ(99, SaverSettings.ScreenDelay);
}

TEST_F(SettingsStoreTest, ValuesOfOtherTypesAndSizesAreTakenByTheirBytes)
{
    // "100" with its terminator is four bytes: 0x00303031, far above range.
    Store("BombCount", REG_SZ, {'1', '0', '0', 0});
    // Eight bytes do not fit: the default stays.
    Store("BombSpeed", REG_BINARY, {30, 0, 0, 0, 0, 0, 0, 0});
    // Two bytes fill the low end; the high end is zero, not left over.
    Store("ScreenDelay", REG_BINARY, {0x0C, 0x00});
    // A big-endian DWORD is just four more bytes.
    Store("BombBackdrop", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 1});
    EXPECT_EQ((Values{200, 50, 12, 0, 1}), Loaded());

    // A one-byte value right after a value with high bytes set.
    layer::ResetHeadless(640, 480);
    StoreNumber("BombCount", 0xFFFFFF05);
    Store("BombSpeed", REG_BINARY, {7});
    Store("ScreenDelay", REG_NONE, {});
    EXPECT_EQ((Values{1, 7, 1, 0, 1}), Loaded());  // no bytes at all read as 0
}

TEST_F(SettingsStoreTest, SavingCreatesTheKeyWithFiveDwords)
{
    SaverSettings = {123, 45, 67, 1, 0};
    SaveSettings();
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Kestrelix\\VantrelScreenSaver", 0,
                                           KEY_QUERY_VALUE, &key));
    struct Expected {
        const char *name;
        DWORD value;
    } expected[] = {{"BombCount", 123}, {"BombSpeed", 45}, {"ScreenDelay", 67}, {"BombsOnly", 1}, {"BombBackdrop", 0}};
    for (const Expected &e : expected) {
        SCOPED_TRACE(e.name);
        DWORD type = 0, size = 8;
        BYTE data[8] = {};
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, e.name, nullptr, &type, data, &size));
        EXPECT_EQ(DWORD(REG_DWORD), type);
        EXPECT_EQ(4u, size);
        EXPECT_EQ(e.value, DWORD(data[0]) | DWORD(data[1]) << 8 | DWORD(data[2]) << 16 | DWORD(data[3]) << 24);
    }
    RegCloseKey(key);
}

TEST_F(SettingsStoreTest, ALoadAfterASaveGivesBackExactlyWhatWasSaved)
{
    for (const SaverSettingsRecord &saved :
         {SaverSettingsRecord{1, 1, 1, 0, 0}, SaverSettingsRecord{200, 100, 100, 1, 1}, SaverSettingsRecord{77, 33, 9, 1, 0}}) {
        SaverSettings = saved;
        SaveSettings();
        SaverSettings = {};
        LoadSettings();
        EXPECT_EQ(saved.BombCount, SaverSettings.BombCount);
        EXPECT_EQ(saved.BombSpeed, SaverSettings.BombSpeed);
        EXPECT_EQ(saved.ScreenDelay, SaverSettings.ScreenDelay);
        EXPECT_EQ(saved.BombsOnly, SaverSettings.BombsOnly);
        EXPECT_EQ(saved.BombBackdrop, SaverSettings.BombBackdrop);
    }
}

TEST_F(SettingsStoreTest, ASaveThatCannotCreateTheKeyWritesNothingAndGoesOn)
{
    SaverSettings = {10, 20, 30, 1, 0};
    layer::InjectFault("RegCreateKeyExA");
    SaveSettings();
    EXPECT_EQ(10, SaverSettings.BombCount);
    HKEY key;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, KEY_QUERY_VALUE, &key));
    EXPECT_EQ((Values{50, 50, 25, 0, 1}), Loaded());
}

// A module run's options: what the settings read as, through the saver's own
// limits, while the file the user keeps them in stays byte for byte as it was.
TEST_F(SettingsStoreTest, ModuleOptionsStandInForTheStoredSettingsAndAreNeverWritten)
{
    char pattern[] = "/tmp/vantrel-options-test.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    const std::string folder = pattern, file = folder + "/registry.reg";
    auto contents = [&file] {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        return in ? all.str() : std::string("(none)");
    };
    auto apply = [](std::vector<std::string> arguments) {
        layer::ModuleOptions options = layer::ParseModuleOptions(arguments);
        ASSERT_EQ("", options.error);
        layer::ApplyModuleOptions(options);
    };

    // No settings file at all: the options alone, and still no file.
    layer::UseRegistryFile(file);
    apply({"s", "--root", "--bomb-count=999", "--bombs-only", "--screen-delay", "0", "--no-backdrop"});
    EXPECT_EQ((Values{200, 50, 1, 1, 0}), Loaded());
    EXPECT_EQ("(none)", contents());

    // Stored settings: the options win where given, the file the rest.
    layer::ResetHeadless(640, 480);
    layer::UseRegistryFile(file);
    StoreNumber("BombCount", 5);
    StoreNumber("BombSpeed", 9);
    StoreNumber("BombsOnly", 1);
    const std::string before = contents();
    apply({"s", "--window-id", "0x42", "--bomb-count", "150", "--no-bombs-only", "--bomb-speed=99999999999"});
    EXPECT_EQ((Values{150, 100, 25, 0, 1}), Loaded());
    EXPECT_EQ(before, contents());

    // The configuration dialog's OK still stores what it is given; the run
    // goes on seeing its options.
    SaverSettings = {20, 30, 40, 1, 0};
    SaveSettings();
    EXPECT_NE(std::string::npos, contents().find("\"BombCount\"=dword:00000014"));
    EXPECT_EQ((Values{150, 100, 40, 0, 0}), Loaded());

    layer::ResetHeadless(640, 480);  // and a new run has none of them
    layer::UseRegistryFile(file);
    EXPECT_EQ((Values{20, 30, 40, 1, 0}), Loaded());
    unlink(file.c_str());
    rmdir(folder.c_str());
}

}  // namespace
