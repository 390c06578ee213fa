// Dialogs and message boxes. There are no dialog templates yet, so a dialog
// cannot be made; a message box on the headless desktop is recorded and
// answered with OK at once.
#include "layer_internal.h"

#include <layer_hooks.h>

using namespace layer;

extern "C" {

INT_PTR WINAPI DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam) {
    EnsureStarted();
    (void)hInstance;
    S().dialogRequests.emplace_back(IS_INTRESOURCE(lpTemplateName)
                                        ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(lpTemplateName))
                                        : std::string(lpTemplateName ? lpTemplateName : ""),
                                    hWndParent);
    (void)lpDialogFunc;
    (void)dwInitParam;
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return -1;
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult) {
    EnsureStarted();
    (void)nResult;
    // No window is a dialog yet.
    if (!FindWindowRecord(hDlg)) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
}

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    EnsureStarted();
    if (hWnd && !IsWindow(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    RecordedBox box;
    box.text = lpText ? lpText : "";
    box.caption = lpCaption ? lpCaption : "Error";  // the system's caption when none is given
    box.flags = uType;
    box.owner = hWnd;
    S().messageBoxes.push_back(box);
    return IDOK;
}

}  // extern "C"

namespace layer {

std::vector<DialogRequest> DialogRequests() {
    std::vector<DialogRequest> requests;
    for (const auto &[name, owner] : S().dialogRequests) requests.push_back({name, owner});
    return requests;
}

}  // namespace layer
