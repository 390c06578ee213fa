// The About dialog: a picture, the credits and one button.
#include "resources/resource.h"
#include "settings/settings.h"

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return 1;
    case WM_COMMAND:
        if (wParam == IDC_ABOUT_OK) {
            EndDialog(dialog, 1);
            return 1;
        }
        // Escape and the close box: people expect a box like this to close
        // on them, and nothing is lost by it.
        if (wParam == IDCANCEL) {
            EndDialog(dialog, 0);
            return 1;
        }
        return 0;
    }
    return 0;
}
