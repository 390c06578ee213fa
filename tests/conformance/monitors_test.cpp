// Monitors: whatever their number, what the enumeration, the look-ups and
// the screen metrics say must agree. The primary monitor's corner is 0,0 and
// its size is the screen's; the virtual screen bounds them all.
//
// Those cases hold for one monitor as well as for two, so a run meant for
// two that sees one would pass them all. The runner therefore names the
// layout it set up in VANTREL_EXPECT_MONITORS ("WxH+X+Y,WxH-X+Y", in any
// order, as the system places them: the primary at 0,0), and the first case
// checks that this is what the system reports.
#include "conformance.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Enumerated {
    std::vector<HMONITOR> monitors;
    std::vector<RECT> rects;
    size_t stopAfter = 0;  // 0: never
};

BOOL CALLBACK Collect(HMONITOR monitor, HDC, LPRECT rect, LPARAM data)
{
    Enumerated *found = reinterpret_cast<Enumerated *>(data);
    found->monitors.push_back(monitor);
    found->rects.push_back(*rect);
    return found->stopAfter == 0 || found->monitors.size() < found->stopAfter;
}

bool Same(const RECT &a, const RECT &b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

RECT VirtualScreen()
{
    RECT r;
    r.left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    r.top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    r.right = r.left + GetSystemMetrics(SM_CXVIRTUALSCREEN);
    r.bottom = r.top + GetSystemMetrics(SM_CYVIRTUALSCREEN);
    return r;
}

MONITORINFO InfoOf(HMONITOR monitor)
{
    MONITORINFO info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    EXPECT_TRUE(GetMonitorInfoA(monitor, &info));
    return info;
}

std::string Describe(const std::vector<RECT> &rects)
{
    std::string text;
    for (const RECT &r : rects) {
        char item[80];
        std::snprintf(item, sizeof item, "%s%ldx%ld%+ld%+ld", text.empty() ? "" : ",",
                      static_cast<long>(r.right - r.left), static_cast<long>(r.bottom - r.top),
                      static_cast<long>(r.left), static_cast<long>(r.top));
        text += item;
    }
    return text;
}

// "WxH+X+Y" items separated by commas, X and Y signed ("1600x1200-1600+0" is
// left of the primary monitor); false for anything else.
bool ParseLayout(const char *text, std::vector<RECT> *rects)
{
    while (*text) {
        long w, h, x, y;
        int used = 0;
        if (std::sscanf(text, "%ldx%ld%ld%ld%n", &w, &h, &x, &y, &used) != 4 || w <= 0 || h <= 0) return false;
        rects->push_back(RECT{static_cast<LONG>(x), static_cast<LONG>(y), static_cast<LONG>(x + w),
                              static_cast<LONG>(y + h)});
        text += used;
        if (*text == ',') ++text;
        else if (*text) return false;
    }
    return !rects->empty();
}

class Monitors : public Win32Test {
  protected:
    void SetUp() override
    {
        Win32Test::SetUp();
        ASSERT_TRUE(EnumDisplayMonitors(NULL, NULL, Collect, reinterpret_cast<LPARAM>(&all)));
        ASSERT_FALSE(all.monitors.empty());
        primary = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTONULL);
        ASSERT_NE(nullptr, primary);
    }
    Enumerated all;
    HMONITOR primary = NULL;
};

TEST_F(Monitors, TheLayoutIsTheOneSetUp)
{
    const char *expected = std::getenv("VANTREL_EXPECT_MONITORS");
    if (!expected || !*expected) GTEST_SKIP() << "no VANTREL_EXPECT_MONITORS: the layout set up is not known";
    std::vector<RECT> want;
    ASSERT_TRUE(ParseLayout(expected, &want)) << "VANTREL_EXPECT_MONITORS=" << expected;
    auto order = [](const RECT &a, const RECT &b) { return a.left != b.left ? a.left < b.left : a.top < b.top; };
    std::vector<RECT> have = all.rects;
    std::sort(want.begin(), want.end(), order);
    std::sort(have.begin(), have.end(), order);
    ASSERT_EQ(Describe(want), Describe(have)) << "the system sees " << have.size() << " monitor"
                                              << (have.size() == 1 ? "" : "s") << ", where " << want.size()
                                              << " were set up";
    EXPECT_EQ(static_cast<int>(want.size()), GetSystemMetrics(SM_CMONITORS));
}

TEST_F(Monitors, EnumerationAgreesWithTheMetrics)
{
    EXPECT_EQ(static_cast<int>(all.monitors.size()), GetSystemMetrics(SM_CMONITORS));
    int primaries = 0;
    RECT bounds = all.rects[0];
    for (size_t i = 0; i < all.monitors.size(); ++i) {
        SCOPED_TRACE(i);
        MONITORINFO info = InfoOf(all.monitors[i]);
        EXPECT_TRUE(Same(info.rcMonitor, all.rects[i])) << "enumerated without a clip: the whole monitor";
        EXPECT_TRUE(info.rcWork.left >= info.rcMonitor.left && info.rcWork.right <= info.rcMonitor.right &&
                    info.rcWork.top >= info.rcMonitor.top && info.rcWork.bottom <= info.rcMonitor.bottom);
        if (info.dwFlags & MONITORINFOF_PRIMARY) {
            ++primaries;
            EXPECT_EQ(primary, all.monitors[i]);
            EXPECT_EQ(0, info.rcMonitor.left);
            EXPECT_EQ(0, info.rcMonitor.top);
            EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), info.rcMonitor.right);
            EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), info.rcMonitor.bottom);
        }
        if (info.rcMonitor.left < bounds.left) bounds.left = info.rcMonitor.left;
        if (info.rcMonitor.top < bounds.top) bounds.top = info.rcMonitor.top;
        if (info.rcMonitor.right > bounds.right) bounds.right = info.rcMonitor.right;
        if (info.rcMonitor.bottom > bounds.bottom) bounds.bottom = info.rcMonitor.bottom;
        // Each is found again by a point or a rectangle inside it.
        const RECT &r = info.rcMonitor;
        POINT centre = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        EXPECT_EQ(all.monitors[i], MonitorFromPoint(centre, MONITOR_DEFAULTTONULL));
        POINT last = {r.right - 1, r.bottom - 1};
        EXPECT_EQ(all.monitors[i], MonitorFromPoint(last, MONITOR_DEFAULTTONULL));
        RECT inside = {centre.x - 5, centre.y - 5, centre.x + 5, centre.y + 5};
        EXPECT_EQ(all.monitors[i], MonitorFromRect(&inside, MONITOR_DEFAULTTONULL));
    }
    EXPECT_EQ(1, primaries);
    EXPECT_TRUE(Same(bounds, VirtualScreen()));
}

TEST_F(Monitors, OffEveryMonitorTheFlagsDecide)
{
    RECT v = VirtualScreen();
    POINT away = {v.left - 5000, v.top - 5000};
    EXPECT_EQ(nullptr, MonitorFromPoint(away, MONITOR_DEFAULTTONULL));
    EXPECT_EQ(primary, MonitorFromPoint(away, MONITOR_DEFAULTTOPRIMARY));
    RECT off = {v.right + 100, v.bottom + 100, v.right + 200, v.bottom + 200};
    EXPECT_EQ(nullptr, MonitorFromRect(&off, MONITOR_DEFAULTTONULL));
    EXPECT_EQ(primary, MonitorFromRect(&off, MONITOR_DEFAULTTOPRIMARY));

    // The nearest one is a monitor with no other nearer.
    HMONITOR nearest = MonitorFromPoint(away, MONITOR_DEFAULTTONEAREST);
    ASSERT_NE(nullptr, nearest);
    auto distance = [&](HMONITOR m) {
        RECT r = InfoOf(m).rcMonitor;
        long long dx = away.x < r.left ? r.left - away.x : 0;
        long long dy = away.y < r.top ? r.top - away.y : 0;
        return dx * dx + dy * dy;
    };
    for (HMONITOR m : all.monitors)
        EXPECT_LE(distance(nearest), distance(m));
    EXPECT_NE(nullptr, MonitorFromRect(&off, MONITOR_DEFAULTTONEAREST));
}

TEST_F(Monitors, AWindowBelongsToTheMonitorItCoversMost)
{
    std::string cls = RegisterTestClass(RecordingProc);
    for (size_t i = 0; i < all.monitors.size(); ++i) {
        SCOPED_TRACE(i);
        RECT r = all.rects[i];
        // Mostly on this monitor, a little over its left edge.
        HWND window = MakeWindow(cls, WS_POPUP, "", r.left - 10, r.top + 10, 100, 100);
        ASSERT_NE(nullptr, window);
        EXPECT_EQ(all.monitors[i], MonitorFromWindow(window, MONITOR_DEFAULTTONULL));
    }
    HWND gone = MakeWindow(cls, WS_POPUP);
    DestroyWindow(gone);
    EXPECT_EQ(nullptr, MonitorFromWindow(gone, MONITOR_DEFAULTTONULL));
    EXPECT_EQ(primary, MonitorFromWindow(gone, MONITOR_DEFAULTTOPRIMARY));
}

TEST_F(Monitors, InfoIsGivenOnlyForRealHandlesAndKnownSizes)
{
    MONITORINFOEXA a;
    std::memset(&a, 0, sizeof a);
    a.cbSize = sizeof a;
    ASSERT_TRUE(GetMonitorInfoA(primary, reinterpret_cast<LPMONITORINFO>(&a)));
    EXPECT_EQ(0, std::strncmp(a.szDevice, "\\\\.\\", 4)) << a.szDevice;
    MONITORINFOEXW w;
    std::memset(&w, 0, sizeof w);
    w.cbSize = sizeof w;
    ASSERT_TRUE(GetMonitorInfoW(primary, reinterpret_cast<LPMONITORINFO>(&w)));
    EXPECT_TRUE(Same(a.rcMonitor, w.rcMonitor));
    for (size_t i = 0; i < sizeof a.szDevice; ++i) {
        EXPECT_EQ(static_cast<unsigned>(static_cast<unsigned char>(a.szDevice[i])), static_cast<unsigned>(w.szDevice[i]));
        if (!a.szDevice[i]) break;
    }

    MONITORINFO info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info + 4;
    EXPECT_FALSE(GetMonitorInfoA(primary, &info));
    info.cbSize = sizeof info;
    EXPECT_FALSE(GetMonitorInfoA(NULL, &info));
    SetLastError(0);
    EXPECT_FALSE(GetMonitorInfoA(reinterpret_cast<HMONITOR>(static_cast<UINT_PTR>(0x5EAD0001)), &info));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_MONITOR_HANDLE), GetLastError());
}

TEST_F(Monitors, EnumerationKeepsToTheClipAndStopsWhenAsked)
{
    RECT clip = {10, 20, 30, 50};
    Enumerated clipped;
    ASSERT_TRUE(EnumDisplayMonitors(NULL, &clip, Collect, reinterpret_cast<LPARAM>(&clipped)));
    ASSERT_EQ(1u, clipped.monitors.size());
    EXPECT_EQ(primary, clipped.monitors[0]);
    EXPECT_TRUE(Same(clip, clipped.rects[0]));

    RECT v = VirtualScreen();
    RECT nowhere = {v.right + 10, v.bottom + 10, v.right + 20, v.bottom + 20};
    Enumerated none;
    EXPECT_TRUE(EnumDisplayMonitors(NULL, &nowhere, Collect, reinterpret_cast<LPARAM>(&none)));
    EXPECT_TRUE(none.monitors.empty());

    Enumerated first;
    first.stopAfter = 1;
    EnumDisplayMonitors(NULL, NULL, Collect, reinterpret_cast<LPARAM>(&first));
    EXPECT_EQ(1u, first.monitors.size());
}

}  // namespace
