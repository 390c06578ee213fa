// The line that tells the user why the saver did not give way: a child of
// the saver's window along its bottom edge, white on black, so the saver's
// own drawing never covers it. Input on it is the saver's input.
#include "password/password.h"

namespace password {

namespace {

const char kNoticeClass[] = "VantrelLockNotice";
constexpr UINT_PTR kGoTimer = 1;
constexpr UINT kShowMs = 10000;
constexpr int kHeight = 28;

LRESULT CALLBACK NoticeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT area;
        GetClientRect(window, &area);
        FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        char text[512];
        int length = GetWindowTextA(window, text, sizeof text);
        SetTextColor(dc, RGB(255, 255, 255));
        SetBkMode(dc, TRANSPARENT);
        DrawTextA(dc, text, length, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_TIMER:
        if (wParam == kGoTimer) DestroyWindow(window);
        return 0;
    case WM_SETCURSOR:
        SetCursor(nullptr);
        return TRUE;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_MOUSEMOVE:
        // The saver measures movement from the cursor, not from lParam.
        if (HWND saver = GetParent(window)) return SendMessageA(saver, message, wParam, lParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// One saver per process, so one line at a time.
HWND notice = nullptr;

bool RegisterNoticeClass() {
    WNDCLASSA existing;
    if (GetClassInfoA(GetModuleHandleA(nullptr), kNoticeClass, &existing)) return true;
    WNDCLASSA notice = {};
    notice.lpfnWndProc = NoticeProc;
    notice.hInstance = GetModuleHandleA(nullptr);
    notice.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    notice.lpszClassName = kNoticeClass;
    return RegisterClassA(&notice) != 0;
}

}  // namespace

void ShowLockNotice(HWND saver, const std::string &line) {
    if (!IsWindow(saver) || !RegisterNoticeClass()) return;
    RECT area;
    GetClientRect(saver, &area);
    if (notice && IsWindow(notice) && GetParent(notice) == saver) {
        SetWindowTextA(notice, line.c_str());
        InvalidateRect(notice, nullptr, TRUE);
    } else {
        notice = CreateWindowExA(0, kNoticeClass, line.c_str(), WS_CHILD | WS_VISIBLE, 0,
                                 area.bottom - kHeight, area.right - area.left, kHeight, saver, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
        if (!notice) return;
    }
    // Shown afresh for the whole time after every refusal.
    SetTimer(notice, kGoTimer, kShowMs, nullptr);
    UpdateWindow(notice);
}

HWND LockNoticeWindow() { return notice && IsWindow(notice) ? notice : nullptr; }

}  // namespace password
