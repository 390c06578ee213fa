// Odds and ends of the system the saver leans on: the tick clock, the cursor,
// the running-saver switch and optional libraries that may be absent.
#include "conformance.h"

namespace {

class System : public Win32Test {};

TEST_F(System, TickCountAdvancesAcrossASleep) {
    DWORD before = GetTickCount();
    Sleep(50);
    DWORD elapsed = GetTickCount() - before;
    // Wine refreshes its tick count in steps of about 16 ms, so allow one step.
    EXPECT_GE(elapsed, 30u);
    EXPECT_LT(elapsed, 5000u);
}

TEST_F(System, CursorPositionCanBeRead) {
    POINT where = {-12345, -12345};
    ASSERT_TRUE(GetCursorPos(&where));
    EXPECT_NE(-12345, where.x);
    EXPECT_NE(-12345, where.y);
}

TEST_F(System, SetCursorReturnsTheCursorItReplaces) {
    HCURSOR arrow = LoadCursorA(NULL, IDC_ARROW);
    ASSERT_NE(nullptr, arrow);
    HCURSOR original = SetCursor(arrow);
    EXPECT_EQ(arrow, SetCursor(NULL));
    EXPECT_EQ(nullptr, SetCursor(arrow));
    EXPECT_EQ(arrow, SetCursor(original));
}

TEST_F(System, ScreenSaverRunningSwitchIsAccepted) {
    UINT previous = 12345;
    EXPECT_NE(0, SystemParametersInfoA(SPI_SCREENSAVERRUNNING, 1, &previous, 0));
    previous = 12345;
    EXPECT_NE(0, SystemParametersInfoA(SPI_SCREENSAVERRUNNING, 0, &previous, 0));
}

TEST_F(System, MissingLibrariesAreNotFound) {
    SetLastError(0);
    EXPECT_EQ(nullptr, LoadLibraryA("VANTRELNOSUCHLIB.DLL"));
    EXPECT_NE(0u, GetLastError());
    EXPECT_EQ(nullptr, GetModuleHandleA("VANTRELNOSUCHLIB.DLL")) << "a failed load leaves nothing loaded";
    EXPECT_EQ(nullptr, GetModuleHandleA("VANTRELNOTLOADED.DLL"));
    EXPECT_NE(nullptr, GetModuleHandleA(NULL)) << "the program's own module";
}

}  // namespace
