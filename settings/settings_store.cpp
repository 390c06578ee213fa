// The five settings and their home in the current user's registry. Every
// load starts from the defaults and ends clamped, so the engine never sees a
// value out of range whatever the registry holds.
#include "settings/settings.h"

SaverSettingsRecord SaverSettings;

const char SettingsKeyPath[] = "SOFTWARE\\Kestrelix\\VantrelScreenSaver";

namespace {

struct StoredSetting {
    const char *name;
    LONG SaverSettingsRecord::*field;
    LONG lowest;
    LONG highest;
};

// Record order: loads, saves and the clamp all walk it the same way.
const StoredSetting storedSettings[] = {
    {"BombCount", &SaverSettingsRecord::BombCount, 1, 200},
    {"BombSpeed", &SaverSettingsRecord::BombSpeed, 1, 100},
    {"ScreenDelay", &SaverSettingsRecord::ScreenDelay, 1, 100},
    {"BombsOnly", &SaverSettingsRecord::BombsOnly, 0, 1},
    {"BombBackdrop", &SaverSettingsRecord::BombBackdrop, 0, 1},
};

}  // namespace

void ClampSettings(void)
{
    for (const StoredSetting &setting : storedSettings) {
        LONG &value = SaverSettings.*setting.field;
        if (value < setting.lowest)
            value = setting.lowest;
        else if (value > setting.highest)
            value = setting.highest;
    }
}

void LoadSettings(void)
{
    SaverSettings = SaverSettingsRecord{};
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        for (const StoredSetting &setting : storedSettings) {
            // Any type will do as long as it fits in four bytes; shorter
            // data fills the low bytes and the rest must read as zero, not
            // as whatever the previous value left behind.
            BYTE buffer[4] = {0, 0, 0, 0};
            DWORD size = sizeof buffer;
            if (RegQueryValueExA(key, setting.name, nullptr, nullptr, buffer, &size) == ERROR_SUCCESS) {
                DWORD bits = DWORD(buffer[0]) | DWORD(buffer[1]) << 8 | DWORD(buffer[2]) << 16 | DWORD(buffer[3]) << 24;
                SaverSettings.*setting.field = static_cast<LONG>(bits);
            }
        }
        RegCloseKey(key);
    }
    ClampSettings();
}

void SaveSettings(void)
{
    HKEY key;
    DWORD disposition;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, &disposition) != ERROR_SUCCESS)
        return;
    // A value that fails to write does not keep the others from trying.
    for (const StoredSetting &setting : storedSettings) {
        DWORD bits = static_cast<DWORD>(SaverSettings.*setting.field);
        BYTE little[4] = {BYTE(bits), BYTE(bits >> 8), BYTE(bits >> 16), BYTE(bits >> 24)};
        RegSetValueExA(key, setting.name, 0, REG_DWORD, little, sizeof little);
    }
    RegCloseKey(key);
}
