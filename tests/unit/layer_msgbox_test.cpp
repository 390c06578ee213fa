// MessageBoxA as a real modal dialog: the buttons the flags ask for, in
// order, the default one, Escape, the text wrapped beside the icon, the box
// centred on its owner, and what it returns. The headless desktop answers
// at once unless a test (or a display with a person at it) asks for more.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "dialog_fixture.h"
#include "layer_fixture.h"
#include "recording_display.h"

namespace {

class LayerMessageBoxTest : public LayerTest {
protected:
    void SetUp() override {
        LayerTest::SetUp();
        layer::SetMessageBoxesInteractive(true);
    }

    static HWND Box() { return layer::ActiveDialog(); }
    static HWND Item(int id) { return GetDlgItem(Box(), id); }
    static RECT Rect(HWND hwnd) {
        RECT r = {};
        GetWindowRect(hwnd, &r);
        return r;
    }
    static void Key(UINT vk) {
        layer::InjectKey(vk, true);
        layer::InjectKey(vk, false);
    }
    static std::string Text(HWND hwnd) {
        char text[512] = "";
        GetWindowTextA(hwnd, text, sizeof text);
        return text;
    }
    // Runs a box, one step each time it waits for a person.
    static int Run(HWND owner, const char *text, const char *caption, UINT type,
                   std::vector<std::function<void()>> steps) {
        DialogScript script(std::move(steps));
        int result = MessageBoxA(owner, text, caption, type);
        EXPECT_TRUE(script.AllRun()) << "the box ended before every step had run";
        return result;
    }
};

TEST_F(LayerMessageBoxTest, ButtonsComeInOrderUnderTheTextWithTheDefaultChosen) {
    RegisterLogging("Owner");
    HWND owner = MakeWindow("Owner", WS_POPUP | WS_VISIBLE, 100, 60, 400, 300);
    int result = Run(owner, "Save the settings?", "Vantrel", MB_YESNOCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2,
                     {[&] {
                          ASSERT_NE(nullptr, Box());
                          EXPECT_EQ("Vantrel", Text(Box()));
                          EXPECT_FALSE(IsWindowEnabled(owner)) << "modal: the owner waits";
                          RECT yes = Rect(Item(IDYES)), no = Rect(Item(IDNO)), cancel = Rect(Item(IDCANCEL));
                          EXPECT_LT(yes.right, no.left);
                          EXPECT_LT(no.right, cancel.left);
                          EXPECT_EQ(yes.top, cancel.top);
                          EXPECT_EQ(yes.right - yes.left, cancel.right - cancel.left);
                          EXPECT_EQ("&Yes", Text(Item(IDYES)));
                          EXPECT_EQ("Cancel", Text(Item(IDCANCEL)));
                          // The text right of the icon, above the buttons.
                          HWND text = GetDlgItem(Box(), 0xFFFF);
                          ASSERT_NE(nullptr, text);
                          EXPECT_EQ("Save the settings?", Text(text));
                          RECT box = Rect(Box()), label = Rect(text);
                          EXPECT_GE(label.left - box.left, 11 + 32);
                          EXPECT_LT(label.bottom, yes.top);
                          // Centred on the owner; the buttons centred in the box.
                          EXPECT_NEAR(100 + 400 / 2, (box.left + box.right) / 2, 2);
                          EXPECT_NEAR(60 + 300 / 2, (box.top + box.bottom) / 2, 2);
                          EXPECT_NEAR((box.left + box.right) / 2, (yes.left + cancel.right) / 2, 2);
                          // The second button is the default and has the focus.
                          EXPECT_EQ(Item(IDNO), GetFocus());
                          EXPECT_EQ(MAKELONG(IDNO, DC_HASDEFID), SendMessageA(Box(), DM_GETDEFID, 0, 0));
                          EXPECT_EQ(BS_DEFPUSHBUTTON, GetWindowLongA(Item(IDNO), GWL_STYLE) & BS_TYPEMASK);
                          Key(VK_RETURN);
                      }});
    EXPECT_EQ(IDNO, result) << "Enter presses the default button";
    EXPECT_TRUE(IsWindowEnabled(owner));
    ASSERT_EQ(1u, layer::MessageBoxes().size());
    EXPECT_EQ("Save the settings?", layer::MessageBoxes()[0].text);
}

TEST_F(LayerMessageBoxTest, EscapeIsCancelWhereThereIsOne) {
    EXPECT_EQ(IDCANCEL, Run(nullptr, "Continue?", "Box", MB_OKCANCEL, {[] { Key(VK_ESCAPE); }}));
    EXPECT_EQ(IDCANCEL, Run(nullptr, "Again?", "Box", MB_RETRYCANCEL, {[] {
                                EXPECT_EQ(Item(IDRETRY), GetFocus());
                                Key(VK_ESCAPE);
                            }}));
    // Without a Cancel button Escape does nothing, unless OK is the only one.
    EXPECT_EQ(IDYES, Run(nullptr, "Sure?", "Box", MB_YESNO,
                         {[] { Key(VK_ESCAPE); }, [] { layer::ClickControl(Item(IDYES)); }}));
    EXPECT_EQ(IDOK, Run(nullptr, "Done.", "Box", MB_OK, {[] { Key(VK_ESCAPE); }}));
    EXPECT_EQ(IDIGNORE, Run(nullptr, "The disk is full.", "Box", MB_ABORTRETRYIGNORE | MB_ICONHAND,
                            {[] {
                                EXPECT_EQ(Item(IDABORT), GetFocus()) << "the first button is the default";
                                layer::ClickControl(Item(IDIGNORE));
                            }}));
    // The text shows its ampersands as they are: its 'Y' is not a mnemonic
    // that would take the key from the Yes button.
    EXPECT_EQ(IDYES, Run(nullptr, "Buy &Yeast?", "Box", MB_YESNO | MB_DEFBUTTON2, {[] { Key('Y'); }}));
    // A default button beyond the last is the first.
    EXPECT_EQ(IDOK, Run(nullptr, "x", nullptr, MB_OKCANCEL | MB_DEFBUTTON4, {[] {
                            EXPECT_EQ("Error", Text(Box())) << "the caption when none is given";
                            Key(VK_RETURN);
                        }}));
}

TEST_F(LayerMessageBoxTest, LongTextIsWrappedAndTheBoxGrowsToHoldIt) {
    std::string text;
    for (int i = 0; i < 30; ++i) text += "The saver could not read its settings. ";
    Run(nullptr, text.c_str(), "Box", MB_OK | MB_ICONEXCLAMATION, {[&] {
            HWND label = GetDlgItem(Box(), 0xFFFF);
            RECT box = Rect(Box()), client;
            GetClientRect(label, &client);
            EXPECT_LE(box.right - box.left, 640);
            EXPECT_GE(box.left, 0);
            EXPECT_GT(client.bottom, 3 * 13) << "several lines";
            // Every line the label breaks into fits inside it.
            HDC dc = GetDC(label);
            SelectObject(dc, (HFONT)SendMessageA(label, WM_GETFONT, 0, 0));
            RECT need = client;
            DrawTextA(dc, text.c_str(), -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
            ReleaseDC(label, dc);
            EXPECT_LE(need.bottom, client.bottom);
            EXPECT_LE(need.right, client.right);
            layer::ClickControl(Item(IDOK));
        }});
}

TEST_F(LayerMessageBoxTest, TheIconIsDrawnBesideTheText) {
    auto iconColours = [](UINT icon) {
        std::vector<uint32_t> seen;
        Run(nullptr, "Look.", "Box", MB_OK | icon, {[&] {
                int width = 0, height = 0;
                std::vector<uint32_t> pixels = layer::ComposedPixels(Box(), &width, &height);
                for (int y = 11; y < 11 + 32 && y < height; ++y)
                    for (int x = 11; x < 11 + 32; ++x) seen.push_back(pixels[(size_t)y * width + x]);
                Key(VK_RETURN);
            }});
        return seen;
    };
    auto has = [](const std::vector<uint32_t> &pixels, uint32_t colour) {
        return std::find(pixels.begin(), pixels.end(), colour) != pixels.end();
    };
    EXPECT_TRUE(has(iconColours(MB_ICONHAND), 0xFF0000));
    EXPECT_TRUE(has(iconColours(MB_ICONEXCLAMATION), 0xFFFF00));
    std::vector<uint32_t> question = iconColours(MB_ICONQUESTION);
    EXPECT_TRUE(has(question, 0x0000FF) && has(question, 0xFFFFFF));
    std::vector<uint32_t> none = iconColours(0);
    EXPECT_FALSE(has(none, 0xFF0000) || has(none, 0xFFFF00) || has(none, 0x0000FF)) << "no icon, no icon colours";
}

TEST_F(LayerMessageBoxTest, ADisplayWithAPersonAtItShowsBoxesAndHeadlessAnswersAtOnce) {
    layer::ResetHeadless(640, 480);
    int waited = 0;
    layer::SetIdleHook([&] { ++waited; });
    EXPECT_EQ(IDOK, MessageBoxA(nullptr, "Quick", "Box", MB_YESNO));
    EXPECT_EQ(0, waited) << "answered without waiting";
    layer::SetIdleHook(nullptr);

    DisplayLog shown;
    layer::ResetLayer(std::make_unique<RecordingDisplay>(&shown, true));
    HWND seen = nullptr;
    int result = Run(nullptr, "Shown", "Box", MB_YESNO, {[&] {
                         seen = Box();
                         Key(VK_ESCAPE);  // ignored: no Cancel
                     },
                     [] { Key('N'); }});
    ASSERT_NE(nullptr, seen);
    EXPECT_EQ(IDNO, result) << "a button's mnemonic presses it";
    bool presented = false;
    for (const auto &p : shown.presented) presented = presented || p.first == (uintptr_t)seen;
    EXPECT_TRUE(presented) << "the box reached the display";
}

}  // namespace
