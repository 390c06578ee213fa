// The configuration dialog. Its controls and their bindings arrive with the
// dialog templates; until then the dialog handles nothing.
#include "settings/settings.h"

BOOL RegisterConfigClasses(HINSTANCE)
{
    // The dialog needs no window class of its own.
    return TRUE;
}

INT_PTR CALLBACK ConfigDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return 0;
}
