// The Screen Saver Settings panel: the system's side of choosing, timing
// and previewing the saver, as a dialog of its own.
#include <windows.h>

#include "panel/panel.h"
#include "panel/panel_resource.h"

PANELSTATE PanelState;

int WINAPI PanelMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    PanelState = PANELSTATE();
    PanelState.instance = hInstance;
    // Children are started by this file's name: it is the saver too.
    DWORD length = GetModuleFileNameA(NULL, PanelState.program, sizeof PanelState.program);
    if (length == 0 || length >= sizeof PanelState.program) PanelState.program[0] = '\0';
    if (!RegisterPanelClasses(hInstance)) return 1;
    INT_PTR result = DialogBoxParamA(hInstance, MAKEINTRESOURCEA(IDD_PANEL), NULL, PanelDialogProc, 0);
    return result == -1 ? 1 : 0;
}
