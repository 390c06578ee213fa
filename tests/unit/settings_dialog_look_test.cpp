// The configuration and About dialogs as the layer draws them: every
// caption fits its control on one line in the dialog's own font, and every
// label, button and picture is there to be seen on the screen, not hidden
// under the group box drawn round them.
#include <gtest/gtest.h>
#include <layer_hooks.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "host/host.h"
#include "platform/session/layer_internal.h"
#include "settings/settings.h"

namespace {

class DialogLookTest : public ::testing::Test {
protected:
    void SetUp() override {
        layer::ResetHeadless(800, 600);
        HostState = HostStateRecord{};
        HostState.instance = GetModuleHandleA(nullptr);
        SaverSettings = SaverSettingsRecord{};
    }
    void TearDown() override {
        layer::SetIdleHook(nullptr);
        layer::ResetHeadless(640, 480);
    }

    // Opens a dialog, hands it to `look` once it has shown itself and has
    // nothing left to do, and closes it.
    static void Look(int which, const std::function<void(HWND)> &look) {
        bool looked = false;
        layer::SetIdleHook([&] {
            HWND dialog = layer::ActiveDialog();
            if (!dialog) return;
            if (!looked) {
                looked = true;
                look(dialog);
            }
            EndDialog(dialog, 0);
        });
        if (which == ConfigDialogId)
            ShowConfigDialog(nullptr);
        else
            DialogBoxParamA(HostState.instance, MAKEINTRESOURCEA(AboutDialogId), nullptr, AboutDialogProc, 0);
        layer::SetIdleHook(nullptr);
        EXPECT_TRUE(looked);
    }

    // The dialog's controls, in their order, with their rectangles in its
    // client area.
    static std::vector<std::pair<HWND, RECT>> Controls(HWND dialog) {
        std::vector<std::pair<HWND, RECT>> out;
        for (HWND c : layer::FindWindowRecord(dialog)->children) out.push_back({c, layer::FindWindowRecord(c)->rect});
        return out;
    }
    static std::string Text(HWND hwnd) {
        char text[256] = "";
        GetWindowTextA(hwnd, text, sizeof text);
        return text;
    }
    static std::string Class(HWND hwnd) {
        char name[64] = "";
        GetClassNameA(hwnd, name, sizeof name);
        return name;
    }

    // The room a control leaves its caption, by kind, or 0 when it shows none.
    static int Room(HWND control, const RECT &client) {
        DWORD style = (DWORD)GetWindowLongA(control, GWL_STYLE);
        std::string cls = Class(control);
        if (cls == "Static") return (style & SS_TYPEMASK) <= SS_RIGHT ? client.right : 0;
        if (cls != "Button") return 0;
        switch (style & BS_TYPEMASK) {
        case BS_AUTOCHECKBOX:
        case BS_CHECKBOX: return client.right - 13 - 4;  // the box and the gap after it
        case BS_GROUPBOX: return client.right - 16;
        default: return client.right - 8;  // inside the edge and the focus rectangle
        }
    }

    static void EveryCaptionFits(HWND dialog) {
        for (const auto &control : Controls(dialog)) {
            HWND c = control.first;
            RECT client;
            GetClientRect(c, &client);
            int room = Room(c, client);
            std::string text = Text(c);
            if (room == 0 || text.empty()) continue;
            HDC dc = GetDC(c);
            SelectObject(dc, (HFONT)SendMessageA(c, WM_GETFONT, 0, 0));
            RECT need = {0, 0, 1000, 0};
            DrawTextA(dc, text.c_str(), -1, &need, DT_CALCRECT | DT_SINGLELINE);
            ReleaseDC(c, dc);
            EXPECT_LE(need.right, room) << "'" << text << "' is cut off";
            EXPECT_LE(need.bottom, client.bottom) << "'" << text << "' is taller than its control";
        }
    }

    // On the screen, each control that shows something shows it: dark text
    // on the face for captions, the picture's colours for bitmaps.
    static void EveryControlShows(HWND dialog) {
        int width = 0, height = 0;
        std::vector<uint32_t> screen = layer::ComposedPixels(dialog, &width, &height);
        for (auto [c, r] : Controls(dialog)) {
            int dark = 0, face = 0, coloured = 0;
            for (int y = r.top; y < r.bottom && y < height; ++y)
                for (int x = r.left; x < r.right && x < width; ++x) {
                    uint32_t p = screen[(size_t)y * width + x];
                    dark += p == 0;
                    face += p == 0xC0C0C0;
                    unsigned red = p >> 16, green = (p >> 8) & 0xFF, blue = p & 0xFF;
                    coloured += red != green || green != blue;
                }
            std::string text = Text(c);
            if (Class(c) == "Static" && (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) {
                EXPECT_GT(coloured, (r.right - r.left) * (r.bottom - r.top) / 4) << "a picture is hidden";
            } else if (!text.empty()) {
                EXPECT_GT(dark, 10) << "'" << text << "' does not show";
                if (Class(c) == "Static") {
                    EXPECT_GT(face, (r.right - r.left) * (r.bottom - r.top) / 3) << "'" << text << "' is hidden";
                }
            }
        }
    }
};

TEST_F(DialogLookTest, TheConfigurationDialogShowsEveryControlWhole) {
    Look(ConfigDialogId, [](HWND dialog) {
        EveryCaptionFits(dialog);
        EveryControlShows(dialog);
    });
}

TEST_F(DialogLookTest, TheAboutDialogShowsEveryControlWhole) {
    Look(AboutDialogId, [](HWND dialog) {
        EveryCaptionFits(dialog);
        EveryControlShows(dialog);
    });
}

}  // namespace
