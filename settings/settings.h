// Settings and configuration: the configuration and About dialogs.
#ifndef VANTREL_SETTINGS_H
#define VANTREL_SETTINGS_H

#include <windows.h>

enum { ConfigDialogId = 2003, AboutDialogId = 109 };

BOOL RegisterConfigClasses(HINSTANCE instance);
INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
