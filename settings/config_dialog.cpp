// The configuration dialog: three sliders with number boxes and two check
// boxes over SaverSettings. The dialog edits the record itself; only OK puts
// it in the registry.
#include <windows.h>

#include <commctrl.h>

#include "host/host.h"
#include "resources/resource.h"
#include "settings/settings.h"

HWND BombCountSlider;
HWND BombSpeedSlider;
HWND ScreenDelaySlider;

namespace {

// One slider row: its controls, its range and the field it shows.
struct SliderRow {
    int slider;
    int box;
    LPARAM range;  // minimum in the low word, maximum in the high word
    LONG SaverSettingsRecord::*field;
    HWND *handle;
};

// The rows in the order the dialog fills them and matches scroll messages.
const SliderRow SliderRows[] = {
    {IDC_BOMB_COUNT_SLIDER, IDC_BOMB_COUNT_BOX, 0x00C80001, &SaverSettingsRecord::BombCount, &BombCountSlider},
    {IDC_BOMB_SPEED_SLIDER, IDC_BOMB_SPEED_BOX, 0x00640001, &SaverSettingsRecord::BombSpeed, &BombSpeedSlider},
    {IDC_SCREEN_DELAY_SLIDER, IDC_SCREEN_DELAY_BOX, 0x00640001, &SaverSettingsRecord::ScreenDelay,
     &ScreenDelaySlider},
};

void InitConfigDialog(HWND dialog)
{
    InitCommonControls();
    LoadSettings();
    CheckDlgButton(dialog, IDC_BOMBS_ONLY, SaverSettings.BombsOnly);
    CheckDlgButton(dialog, IDC_BOMB_BACKDROP, SaverSettings.BombBackdrop);
    for (const SliderRow &row : SliderRows) {
        LONG value = SaverSettings.*row.field;
        *row.handle = GetDlgItem(dialog, row.slider);
        SendDlgItemMessageA(dialog, row.slider, TBM_SETRANGE, 0, row.range);
        SendDlgItemMessageA(dialog, row.slider, TBM_SETPOS, 1, value);
        SetDlgItemInt(dialog, row.box, static_cast<UINT>(value), FALSE);
    }
}

void AcceptConfigDialog(HWND dialog)
{
    SaverSettings.BombsOnly = static_cast<LONG>(IsDlgButtonChecked(dialog, IDC_BOMBS_ONLY));
    SaverSettings.BombBackdrop = static_cast<LONG>(IsDlgButtonChecked(dialog, IDC_BOMB_BACKDROP));
    // Read unsigned and kept as the signed field: 4000000000 becomes negative
    // and the clamp lifts it to the minimum.
    for (const SliderRow &row : SliderRows)
        SaverSettings.*row.field = static_cast<LONG>(GetDlgItemInt(dialog, row.box, nullptr, FALSE));
    ClampSettings();
    // A failed save is not reported: the dialog closes as accepted all the same.
    SaveSettings();
    EndDialog(dialog, 1);
}

void ResetConfigDialog(HWND dialog)
{
    SaverSettings = SaverSettingsRecord{};
    CheckDlgButton(dialog, IDC_BOMBS_ONLY, 0);
    CheckDlgButton(dialog, IDC_BOMB_BACKDROP, SaverSettings.BombBackdrop);
    for (const SliderRow &row : SliderRows)
        SetDlgItemInt(dialog, row.box, static_cast<UINT>(SaverSettings.*row.field), FALSE);
    for (const SliderRow &row : SliderRows)
        SendDlgItemMessageA(dialog, row.slider, TBM_SETPOS, 1, SaverSettings.*row.field);
}

// The record decides, not the control: a click flips the field and the box
// is made to show it.
void ToggleSetting(HWND dialog, int checkBox, LONG *field)
{
    *field = ~*field & 1;
    CheckDlgButton(dialog, checkBox, static_cast<UINT>(*field));
}

void FollowSlider(HWND dialog, HWND sender)
{
    for (const SliderRow &row : SliderRows) {
        if (sender != *row.handle)
            continue;
        LONG position = static_cast<LONG>(SendDlgItemMessageA(dialog, row.slider, TBM_GETPOS, 0, 0));
        SaverSettings.*row.field = position;
        SetDlgItemInt(dialog, row.box, static_cast<UINT>(position), FALSE);
        return;
    }
}

}  // namespace

BOOL RegisterConfigClasses(HINSTANCE)
{
    // The dialog needs no window class of its own.
    return TRUE;
}

INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitConfigDialog(dialog);
        return 1;

    case WM_COMMAND:
        // The whole wParam: button clicks, mnemonics, Enter and Escape carry
        // notification code 0, the number boxes' own notifications do not.
        switch (wParam) {
        case IDOK:
            AcceptConfigDialog(dialog);
            return 1;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return 1;
        case IDC_ABOUT:
            DialogBoxParamA(HostState.instance, MAKEINTRESOURCEA(AboutDialogId), dialog, AboutDialogProc, 0);
            return 1;
        case IDC_BOMBS_ONLY:
            ToggleSetting(dialog, IDC_BOMBS_ONLY, &SaverSettings.BombsOnly);
            return 1;
        case IDC_BOMB_BACKDROP:
            ToggleSetting(dialog, IDC_BOMB_BACKDROP, &SaverSettings.BombBackdrop);
            return 1;
        case IDC_DEFAULTS:
            ResetConfigDialog(dialog);
            return 1;
        }
        return 0;

    case WM_HSCROLL:
        // Every notification, whatever its scroll code, carries the position.
        FollowSlider(dialog, reinterpret_cast<HWND>(lParam));
        return 1;
    }
    return 0;
}
