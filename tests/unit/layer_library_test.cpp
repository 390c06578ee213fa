// Fake run-time libraries, the screen-saver switch and fault injection.
#include "layer_fixture.h"

class LayerLibraryTest : public LayerTest {};

static INT_PTR WINAPI AnswerFortyTwo() { return 42; }
static INT_PTR WINAPI AnswerSeven() { return 7; }

TEST_F(LayerLibraryTest, SystemLibrariesAreAbsentButRequestsAreCounted) {
    for (const char *name : {"PASSWORD.CPL", "MPR.DLL", "IMM32.DLL"}) {
        SetLastError(0);
        EXPECT_EQ(nullptr, LoadLibraryA(name)) << name;
        EXPECT_EQ((DWORD)ERROR_MOD_NOT_FOUND, GetLastError()) << name;
        EXPECT_EQ(nullptr, GetModuleHandleA(name)) << name;
    }
    LoadLibraryA("password.cpl");
    EXPECT_EQ(2, layer::LibraryLoadRequests("PASSWORD.CPL"));
    EXPECT_EQ(1, layer::LibraryLoadRequests("mpr"));
    EXPECT_EQ(0, layer::LibraryReferences("MPR.DLL"));
}

TEST_F(LayerLibraryTest, NamesCompareLikeModuleNamesAndReferencesAreCounted) {
    layer::RegisterLibrary("Mpr.dll", {{"PwdChangePasswordA", AnswerFortyTwo}, {"Other", AnswerSeven}});
    EXPECT_EQ(nullptr, GetModuleHandleA("MPR.DLL"));  // registered, but nobody loaded it

    HMODULE a = LoadLibraryA("MPR.DLL");
    HMODULE b = LoadLibraryA("mpr");
    HMODULE c = LoadLibraryA("C:\\Windows\\System32\\mpr.dll");
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, c);
    EXPECT_EQ(nullptr, LoadLibraryA("mpr."));  // a trailing dot means "no extension"
    EXPECT_EQ(3, layer::LibraryReferences("mpr.dll"));
    EXPECT_EQ(3, layer::LibraryLoadRequests("MPR.DLL"));
    EXPECT_EQ(1, layer::LibraryLoadRequests("MPR."));
    EXPECT_EQ(a, GetModuleHandleA("mpr"));

    FARPROC proc = GetProcAddress(a, "PwdChangePasswordA");
    ASSERT_NE(nullptr, proc);
    EXPECT_EQ(42, proc());
    EXPECT_EQ(AnswerSeven, GetProcAddress(a, MAKEINTRESOURCEA(2)));
    SetLastError(0);
    EXPECT_EQ(nullptr, GetProcAddress(a, "pwdchangepassworda"));  // entry names keep their case
    EXPECT_EQ((DWORD)ERROR_PROC_NOT_FOUND, GetLastError());

    EXPECT_TRUE(FreeLibrary(a));
    EXPECT_TRUE(FreeLibrary(a));
    EXPECT_TRUE(FreeLibrary(a));
    EXPECT_EQ(0, layer::LibraryReferences("MPR.DLL"));
    // Unloaded: the handle names nothing any more.
    EXPECT_FALSE(FreeLibrary(a));
    EXPECT_EQ(nullptr, GetProcAddress(a, "PwdChangePasswordA"));
    EXPECT_EQ(nullptr, GetModuleHandleA("MPR.DLL"));
}

TEST_F(LayerLibraryTest, AlreadyLoadedLibraryIsFoundWithoutLoading) {
    layer::RegisterLibrary("IMM32.DLL", {{"ImmAssociateContext", AnswerSeven}}, true);
    HMODULE imm = GetModuleHandleA("imm32.dll");
    ASSERT_NE(nullptr, imm);
    EXPECT_EQ(1, layer::LibraryReferences("IMM32"));
    EXPECT_EQ(0, layer::LibraryLoadRequests("IMM32"));
    EXPECT_NE(nullptr, GetProcAddress(imm, "ImmAssociateContext"));
}

TEST_F(LayerLibraryTest, ProgramModuleIsTheInstance) {
    HMODULE self = GetModuleHandleA(nullptr);
    ASSERT_NE(nullptr, self);
    EXPECT_EQ(nullptr, GetProcAddress(self, "WinMain"));
    EXPECT_EQ(nullptr, GetProcAddress(nullptr, "anything"));
}

TEST_F(LayerLibraryTest, ScreenSaverSwitchReportsThePreviousState) {
    BOOL previous = 123;
    EXPECT_TRUE(SystemParametersInfoA(SPI_SCREENSAVERRUNNING, 1, &previous, 0));
    EXPECT_EQ(FALSE, previous);
    EXPECT_TRUE(layer::ScreenSaverRunning());
    EXPECT_TRUE(SystemParametersInfoA(SPI_SCREENSAVERRUNNING, 0, &previous, 0));
    EXPECT_EQ(TRUE, previous);
    EXPECT_FALSE(layer::ScreenSaverRunning());
    EXPECT_TRUE(SystemParametersInfoA(SPI_SCREENSAVERRUNNING, 1, nullptr, 0));
    BOOL now = FALSE;
    EXPECT_TRUE(SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &now, 0));
    EXPECT_EQ(TRUE, now);
    EXPECT_FALSE(SystemParametersInfoA(0xFFFF, 0, &now, 0));
}

TEST_F(LayerLibraryTest, InjectedFaultsFailTheNamedCallsAsManyTimesAsAsked) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "Faulty";
    layer::InjectFault("RegisterClassA", 2);
    EXPECT_EQ(0, RegisterClassA(&wc));
    EXPECT_EQ(0, RegisterClassA(&wc));
    EXPECT_NE(0, RegisterClassA(&wc));

    layer::InjectFault("CreateWindowExA");
    EXPECT_EQ(nullptr, MakeWindow("Faulty", WS_POPUP, 0, 0, 5, 5));
    EXPECT_NE(0u, GetLastError());
    HWND w = MakeWindow("Faulty", WS_POPUP, 0, 0, 5, 5);
    EXPECT_NE(nullptr, w);

    // A count of zero takes a pending fault back.
    layer::InjectFault("SetTimer", 3);
    layer::InjectFault("SetTimer", 0);
    EXPECT_NE(0u, SetTimer(w, 1, 10, nullptr));
}

TEST_F(LayerLibraryTest, MessageBoxesAreRecordedAndAnsweredOk) {
    RegisterLogging();
    HWND w = MakeWindow("LayerTestClass", WS_POPUP, 0, 0, 5, 5);
    EXPECT_EQ(IDOK, MessageBoxA(w, "Unable to load bitmap #117!", nullptr, MB_OK | MB_ICONHAND));
    EXPECT_EQ(IDOK, MessageBoxA(nullptr, "second", "Caption", MB_OKCANCEL));
    EXPECT_EQ(0, MessageBoxA(reinterpret_cast<HWND>(0x7777), "bad owner", "x", MB_OK));
    auto boxes = layer::MessageBoxes();
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ("Unable to load bitmap #117!", boxes[0].text);
    EXPECT_EQ("Error", boxes[0].caption);
    EXPECT_EQ((UINT)(MB_OK | MB_ICONHAND), boxes[0].flags);
    EXPECT_EQ(w, boxes[0].owner);
    EXPECT_EQ("Caption", boxes[1].caption);
    EXPECT_EQ(nullptr, boxes[1].owner);
}
