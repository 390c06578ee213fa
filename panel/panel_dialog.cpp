// The panel's dialog: the check boxes and Wait, Apply greyed until something
// changed, OK and Cancel; Settings... and Preview hand over to the saver.
#include <windows.h>

#include "panel/panel.h"
#include "panel/panel_resource.h"

// While a child of ours runs (the preview, a full-screen Preview, the
// settings), the panel looks in on it now and then.
#define PANEL_CHILD_TIMER 1
#define PANEL_CHILD_PERIOD 250

// Where no lock can be had the box is greyed, with the reason under it;
// but a protection already on stays open to the user, who could otherwise
// never turn it off here.
static void ShowLockSetting(HWND hDlg) {
    BOOL on = PanelState.stored.usePassword;
    CheckDlgButton(hDlg, IDC_PANEL_LOCK, on ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(GetDlgItem(hDlg, IDC_PANEL_LOCK), PanelState.lockOffered || on);
    char line[sizeof PanelState.lockReason + 64] = "";
    if (!PanelState.lockOffered) {
        // The reason as a sentence of its own.
        wsprintfA(line, on ? "%s. Still on: untick it to turn it off." : "%s.", PanelState.lockReason);
        if (line[0] >= 'a' && line[0] <= 'z') line[0] = (char)(line[0] - 'a' + 'A');
    }
    SetDlgItemTextA(hDlg, IDC_PANEL_LOCK_REASON, line);
}

static void ShowSettings(HWND hDlg) {
    PanelState.filling = TRUE;
    CheckDlgButton(hDlg, IDC_PANEL_ACTIVE, PanelState.stored.active ? BST_CHECKED : BST_UNCHECKED);
    PanelState.shownMinutes = MinutesFromSeconds(PanelState.stored.timeoutSeconds);
    SetDlgItemInt(hDlg, IDC_PANEL_WAIT, PanelState.shownMinutes, FALSE);
    ShowLockSetting(hDlg);
    PanelState.filling = FALSE;
    EnableWindow(GetDlgItem(hDlg, IDC_PANEL_APPLY), FALSE);
}

static void MarkChanged(HWND hDlg) {
    if (PanelState.filling) return;
    EnableWindow(GetDlgItem(hDlg, IDC_PANEL_APPLY), TRUE);
}

// The watcher keeps one of itself per session, so asking again is harmless.
static void StartWatcher(void) {
    PANELCHILD watcher = {};
    if (!StartChild(&watcher, "--watch")) return;
    // It outlives the panel: not ours to wait for.
    CloseHandle(watcher.process.hThread);
    CloseHandle(watcher.process.hProcess);
}

BOOL ApplyPanel(HWND hDlg) {
    PANELSETTINGS next = PanelState.stored;
    next.active = IsDlgButtonChecked(hDlg, IDC_PANEL_ACTIVE) == BST_CHECKED;
    BOOL translated = FALSE;
    UINT typed = GetDlgItemInt(hDlg, IDC_PANEL_WAIT, &translated, FALSE);
    // A number out of range is brought into it; a field left empty keeps
    // the wait it had.
    UINT minutes = translated ? ClampWaitMinutes(typed) : PanelState.shownMinutes;
    // The timeout is written only when Wait changed: a stored wait that is
    // not whole minutes stays as it is.
    BOOL timeoutChanged = minutes != PanelState.shownMinutes;
    if (timeoutChanged) next.timeoutSeconds = (DWORD)minutes * 60;
    // Written only when the box changed, so that a value stored in another
    // form is left as it is while it still says the same.
    next.usePassword = IsDlgButtonChecked(hDlg, IDC_PANEL_LOCK) == BST_CHECKED;
    UINT which = (timeoutChanged ? PANEL_STORE_TIMEOUT : 0) |
                 (next.usePassword != PanelState.stored.usePassword ? PANEL_STORE_PASSWORD : 0);
    if (!StorePanelSettings(&next, which)) {
        MessageBoxA(hDlg, "The screen saver settings could not be saved.", "Screen Saver Settings",
                    MB_OK | MB_ICONEXCLAMATION);
        return FALSE;
    }
    PanelState.stored = next;
    ShowSettings(hDlg);
    if (next.active) StartWatcher();
    return TRUE;
}

static void WatchChildren(HWND hDlg) { SetTimer(hDlg, PANEL_CHILD_TIMER, PANEL_CHILD_PERIOD, NULL); }

static void LookInOnChildren(HWND hDlg) {
    // Preview and Settings... hold the panel as a modal dialog would; when
    // they end, the preview starts again with what the settings now are.
    BOOL handedOver = PanelState.fullScreen.running || PanelState.configure.running;
    ChildHasEnded(&PanelState.fullScreen);
    ChildHasEnded(&PanelState.configure);
    if (handedOver && !PanelState.fullScreen.running && !PanelState.configure.running) {
        EnableWindow(hDlg, TRUE);
        SetForegroundWindow(hDlg);
        StartPreview();
    }
    if (ChildHasEnded(&PanelState.preview)) ShowNoPreview("The preview has ended.");
    if (!PanelState.preview.running && !PanelState.fullScreen.running && !PanelState.configure.running)
        KillTimer(hDlg, PANEL_CHILD_TIMER);
}

static void HandOver(HWND hDlg, PANELCHILD *child, const char *arguments) {
    StopPreview();
    if (!StartChild(child, arguments)) {
        MessageBoxA(hDlg, "The screen saver could not be started.", "Screen Saver Settings", MB_OK | MB_ICONEXCLAMATION);
        StartPreview();
        return;
    }
    EnableWindow(hDlg, FALSE);
    WatchChildren(hDlg);
}

static void EndChildren(void) {
    StopChild(&PanelState.fullScreen);
    StopChild(&PanelState.configure);
    StopPreview();
}

INT_PTR CALLBACK PanelDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        PanelState.dialog = hDlg;
        LoadPanelSettings(&PanelState.stored);
        PanelState.lockOffered = AskLockOffered(PanelState.lockReason, sizeof PanelState.lockReason);
        SendDlgItemMessageA(hDlg, IDC_PANEL_WAIT, EM_LIMITTEXT, 4, 0);
        ShowSettings(hDlg);
        MakePreviewArea(hDlg);
        StartPreview();
        WatchChildren(hDlg);
        return TRUE;
    case WM_TIMER:
        if (wParam == PANEL_CHILD_TIMER) LookInOnChildren(hDlg);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_PANEL_ACTIVE:
        case IDC_PANEL_LOCK:
            if (HIWORD(wParam) == BN_CLICKED) MarkChanged(hDlg);
            return TRUE;
        case IDC_PANEL_WAIT:
            if (HIWORD(wParam) == EN_CHANGE) MarkChanged(hDlg);
            return TRUE;
        case IDC_PANEL_APPLY:
            ApplyPanel(hDlg);
            return TRUE;
        case IDOK:
            if (IsWindowEnabled(GetDlgItem(hDlg, IDC_PANEL_APPLY)) && !ApplyPanel(hDlg)) return TRUE;
            EndDialog(hDlg, IDOK);
            return TRUE;
        case IDCANCEL:
            EndDialog(hDlg, IDCANCEL);
            return TRUE;
        case IDC_PANEL_SETTINGS:
            HandOver(hDlg, &PanelState.configure, "/c");
            return TRUE;
        case IDC_PANEL_PREVIEW:
            HandOver(hDlg, &PanelState.fullScreen, "/s");
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        KillTimer(hDlg, PANEL_CHILD_TIMER);
        EndChildren();
        return FALSE;
    }
    return FALSE;
}
