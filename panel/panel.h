// The Screen Saver Settings panel's entry (vantrel-saver --panel).
#pragma once

#include <windows.h>

int WINAPI PanelMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);
