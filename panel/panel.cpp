// The Screen Saver Settings panel: the system's side of choosing, timing
// and previewing the saver, as a dialog of its own.
#include <windows.h>

#include "panel/panel.h"

int WINAPI PanelMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 1; }
