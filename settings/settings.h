// Settings and configuration: the five user settings with their registry
// storage, and the configuration and About dialogs.
#ifndef VANTREL_SETTINGS_H
#define VANTREL_SETTINGS_H

#include <windows.h>

// Kept under these names in the registry too.
struct SaverSettingsRecord {
    LONG BombCount = 50;
    LONG BombSpeed = 50;
    LONG ScreenDelay = 25;
    LONG BombsOnly = 0;
    LONG BombBackdrop = 1;
};
extern SaverSettingsRecord SaverSettings;

extern const char SettingsKeyPath[];

// settings_store.cpp
void LoadSettings(void);
void ClampSettings(void);
void SaveSettings(void);

// config_dialog.cpp
enum { ConfigDialogId = 2003, AboutDialogId = 109 };
// The sliders of the open configuration dialog, matched against the sender
// of every scroll message.
extern HWND BombCountSlider;
extern HWND BombSpeedSlider;
extern HWND ScreenDelaySlider;
BOOL RegisterConfigClasses(HINSTANCE instance);
INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// about_dialog.cpp
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
