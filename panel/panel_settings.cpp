// The settings the panel owns, where Windows keeps them: under the current
// user's Control Panel\Desktop, which the watcher and the saver read too.
#include <windows.h>

#include "panel/panel.h"

static const char DesktopKeyPath[] = "Control Panel\\Desktop";

// A string value as its number: digits, with blanks around them allowed;
// FALSE for anything else, for an empty or missing value, and for a number
// past what a DWORD holds.
static BOOL ReadNumber(HKEY key, const char *name, DWORD *number) {
    char text[32];
    DWORD type = REG_NONE, size = sizeof text - 1;
    if (RegQueryValueExA(key, name, NULL, &type, (LPBYTE)text, &size) != ERROR_SUCCESS) return FALSE;
    if (type != REG_SZ || size == 0) return FALSE;
    text[size] = '\0';
    const char *p = text;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p < '0' || *p > '9') return FALSE;
    DWORD value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        DWORD digit = (DWORD)(*p - '0');
        if (value > (0xFFFFFFFFu - digit) / 10) return FALSE;
        value = value * 10 + digit;
    }
    while (*p == ' ' || *p == '\t') ++p;
    if (*p != '\0') return FALSE;
    *number = value;
    return TRUE;
}

void LoadPanelSettings(PANELSETTINGS *settings) {
    settings->active = TRUE;
    settings->timeoutSeconds = PANEL_DEFAULT_TIMEOUT;
    settings->usePassword = FALSE;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, DesktopKeyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return;
    DWORD number;
    // Only a plain "0" turns the saver off; what cannot be read leaves it on,
    // as an absent value does.
    if (ReadNumber(key, "ScreenSaveActive", &number)) settings->active = number != 0;
    // No wait at all is not a time to wait: it counts as unreadable.
    if (ReadNumber(key, "ScreenSaveTimeOut", &number) && number > 0) settings->timeoutSeconds = number;
    // Read exactly as the saver reads it, whatever its type, so the box
    // shows what a run will do: a string "0" is the bytes '0', NUL, and
    // so on; data longer than a DWORD is off.
    DWORD usePassword = 0, size = sizeof usePassword;
    settings->usePassword = RegQueryValueExA(key, "ScreenSaveUsePassword", NULL, NULL, (LPBYTE)&usePassword,
                                             &size) == ERROR_SUCCESS &&
                            usePassword != 0;
    RegCloseKey(key);
}

static BOOL WriteString(HKEY key, const char *name, const char *text) {
    return RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)text, (DWORD)lstrlenA(text) + 1) == ERROR_SUCCESS;
}

BOOL StorePanelSettings(const PANELSETTINGS *settings, UINT which) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, DesktopKeyPath, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, NULL,
                        &key, NULL) != ERROR_SUCCESS)
        return FALSE;
    BOOL stored = WriteString(key, "ScreenSaveActive", settings->active ? "1" : "0");
    if (stored && (which & PANEL_STORE_TIMEOUT)) {
        char text[16];
        wsprintfA(text, "%u", (UINT)settings->timeoutSeconds);
        stored = WriteString(key, "ScreenSaveTimeOut", text);
    }
    if (stored && (which & PANEL_STORE_PASSWORD)) {
        DWORD usePassword = settings->usePassword ? 1 : 0;
        stored = RegSetValueExA(key, "ScreenSaveUsePassword", 0, REG_DWORD, (const BYTE *)&usePassword,
                                sizeof usePassword) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return stored;
}

UINT MinutesFromSeconds(DWORD seconds) {
    // To the nearest minute, and never below one: a wait of 40 seconds
    // shows as 1, 90 as 2.
    return ClampWaitMinutes((UINT)(seconds / 60 + (seconds % 60 >= 30 ? 1 : 0)));
}

UINT ClampWaitMinutes(UINT minutes) {
    if (minutes < PANEL_MIN_MINUTES) return PANEL_MIN_MINUTES;
    if (minutes > PANEL_MAX_MINUTES) return PANEL_MAX_MINUTES;
    return minutes;
}

// Copies as much of `text` as fits, always ending `buffer` (size > 0).
static void CopyText(char *buffer, DWORD size, const char *text) {
    DWORD i = 0;
    for (; i + 1 < size && text[i]; ++i) buffer[i] = text[i];
    buffer[i] = '\0';
}

BOOL AskLockOffered(char *reason, DWORD size) {
    if (!reason || size == 0) return FALSE;
    reason[0] = '\0';
    HMODULE verifier = LoadLibraryA("PASSWORD.CPL");
    SessionLockOfferedProc offered =
        verifier ? (SessionLockOfferedProc)(void *)GetProcAddress(verifier, "SessionLockOffered") : NULL;
    BOOL yes = FALSE;
    if (!offered) {
        CopyText(reason, size, "no password verifier is installed");
    } else {
        yes = offered(reason, size) != FALSE;
        // What came back is shown as text: it ends inside the buffer
        // whatever the verifier wrote.
        reason[size - 1] = '\0';
        if (yes) reason[0] = '\0';
        else if (!reason[0]) CopyText(reason, size, "the password verifier gives no reason");
    }
    if (verifier) FreeLibrary(verifier);
    return yes;
}
