// The Screen Saver Settings panel (vantrel-saver --panel): its entry, its
// process-wide record, and the procedures its parts share.
#pragma once

#include <windows.h>

int WINAPI PanelMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);

// What the panel sets, as it reads it from the registry and writes it back.
typedef struct tagPANELSETTINGS {
    BOOL active;           // ScreenSaveActive: "1" or "0"
    DWORD timeoutSeconds;  // ScreenSaveTimeOut, in seconds
    BOOL usePassword;      // ScreenSaveUsePassword: the saver locks the session before it closes
} PANELSETTINGS;

// Which of the settings an Apply writes: ScreenSaveActive always, the
// others only when the user changed them.
#define PANEL_STORE_TIMEOUT 0x1
#define PANEL_STORE_PASSWORD 0x2

// The password verifier's word on whether a lock can be had here; when not,
// `reason` gets one line saying why. The verifier is "PASSWORD.CPL".
typedef BOOL(WINAPI *SessionLockOfferedProc)(LPSTR reason, DWORD size);

// The range of Wait, in minutes, and what an absent or unreadable timeout is.
#define PANEL_MIN_MINUTES 1
#define PANEL_MAX_MINUTES 9999
#define PANEL_DEFAULT_TIMEOUT 600

// One process the panel started and still waits for.
typedef struct tagPANELCHILD {
    PROCESS_INFORMATION process;
    BOOL running;
} PANELCHILD;

typedef struct tagPANELSTATE {
    HINSTANCE instance;
    HWND dialog;
    PANELSETTINGS stored;  // what the registry holds, as far as the panel knows
    UINT shownMinutes;     // what Wait showed when the settings were last read or stored
    BOOL filling;          // the panel itself is changing a control: not the user's change
    BOOL lockOffered;      // the verifier can lock the session here
    char lockReason[256];  // and why not, when it cannot
    char program[1024];    // the file of this program, quoted into command lines
    HWND previewHost;      // where the live preview draws
    HWND noPreview;        // says why there is none, in the monitor's screen
    PANELCHILD preview;    // /p
    PANELCHILD fullScreen; // /s, started by Preview
    PANELCHILD configure;  // /c, started by Settings...
} PANELSTATE;

extern PANELSTATE PanelState;

// panel_settings.cpp
void LoadPanelSettings(PANELSETTINGS *settings);
BOOL StorePanelSettings(const PANELSETTINGS *settings, UINT which);
BOOL AskLockOffered(char *reason, DWORD size);
UINT MinutesFromSeconds(DWORD seconds);
UINT ClampWaitMinutes(UINT minutes);

// panel_dialog.cpp
INT_PTR CALLBACK PanelDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
BOOL ApplyPanel(HWND hDlg);

// panel_preview.cpp
BOOL RegisterPanelClasses(HINSTANCE instance);
void GetMonitorScreenRect(const RECT *client, RECT *screen);
void MakePreviewArea(HWND hDlg);
void StartPreview(void);
void StopPreview(void);
BOOL StartChild(PANELCHILD *child, const char *arguments);
void StopChild(PANELCHILD *child);
BOOL ChildHasEnded(PANELCHILD *child);
void ShowNoPreview(const char *why);
