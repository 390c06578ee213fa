// The compiled dialog templates, read back from the program's resources:
// every control in its place, in tab order, with exactly its styles.
#include <gtest/gtest.h>
#include <layer_hooks.h>
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "platform/user/dialogs/template.h"
#include "resources/resource.h"

namespace {

struct Control {
    DWORD id;
    std::string className;
    std::string text;  // "#<n>" for a bitmap named by number
    short x, y, cx, cy;
    DWORD style;
};

// Class names compare without regard to case, as the system compares them
// (the resource compiler writes them in capitals).
std::string Describe(const Control &c)
{
    std::string className = c.className;
    std::transform(className.begin(), className.end(), className.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
    char line[200];
    snprintf(line, sizeof line, "id %lu %s '%s' at %d,%d %dx%d style %08lX", static_cast<unsigned long>(c.id),
             className.c_str(), c.text.c_str(), c.x, c.y, c.cx, c.cy, static_cast<unsigned long>(c.style));
    return line;
}

layer::DialogTemplate Compiled(int id)
{
    layer::ResetHeadless(640, 480);
    layer::DialogTemplate parsed;
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(id), RT_DIALOG);
    EXPECT_NE(nullptr, found) << "no dialog " << id;
    if (!found)
        return parsed;
    const void *bytes = LockResource(LoadResource(nullptr, found));
    EXPECT_TRUE(layer::ParseDialogTemplate(static_cast<const uint8_t *>(bytes), SizeofResource(nullptr, found), &parsed));
    return parsed;
}

std::vector<std::string> Controls(const layer::DialogTemplate &dialog)
{
    std::vector<std::string> lines;
    for (const layer::DialogItemTemplate &item : dialog.items) {
        std::string text = item.textOrdinal >= 0 ? "#" + std::to_string(item.textOrdinal) : item.text;
        lines.push_back(Describe({item.id, item.className, text, item.x, item.y, item.cx, item.cy, item.style}));
    }
    return lines;
}

std::vector<std::string> Expected(const std::vector<Control> &controls)
{
    std::vector<std::string> lines;
    for (Control c : controls) {
        c.style |= WS_CHILD | WS_VISIBLE;
        lines.push_back(Describe(c));
    }
    return lines;
}

constexpr DWORD DialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
constexpr DWORD Label = SS_LEFT | WS_GROUP;
constexpr DWORD Slider = WS_BORDER | WS_TABSTOP | TBS_HORZ | TBS_BOTH | TBS_NOTICKS | TBS_ENABLESELRANGE;
constexpr DWORD NumberBox = WS_BORDER | ES_RIGHT | ES_MULTILINE | ES_AUTOHSCROLL;

TEST(DialogTemplates, ConfigurationDialog)
{
    layer::DialogTemplate dialog = Compiled(IDD_CONFIG);
    EXPECT_EQ(DialogStyle, dialog.style);
    EXPECT_EQ(0u, dialog.exStyle);
    EXPECT_EQ("Dialog", dialog.title);
    EXPECT_EQ(8, dialog.pointSize);
    EXPECT_EQ("MS Sans Serif", dialog.faceName);
    EXPECT_EQ((std::vector<short>{0, 0, 291, 219}), (std::vector<short>{dialog.x, dialog.y, dialog.cx, dialog.cy}));
    EXPECT_EQ("", dialog.menu);
    EXPECT_EQ("", dialog.windowClass);

    EXPECT_EQ(Expected({
                  {IDOK, "BUTTON", "OK", 12, 183, 69, 17, BS_DEFPUSHBUTTON | WS_TABSTOP},
                  {IDCANCEL, "BUTTON", "Cancel", 100, 183, 81, 17, BS_PUSHBUTTON | WS_TABSTOP},
                  {1017, "BUTTON", "&About...", 195, 183, 77, 17, BS_PUSHBUTTON | WS_TABSTOP},
                  {1057, "BUTTON", "&Defaults", 45, 150, 67, 17, BS_PUSHBUTTON | WS_TABSTOP},
                  {1055, "EDIT", "", 43, 118, 20, 15, NumberBox},
                  {1044, "msctls_trackbar32", "Slider1", 68, 119, 105, 18, Slider},
                  {1054, "EDIT", "", 43, 94, 20, 15, NumberBox | WS_TABSTOP},
                  {1045, "msctls_trackbar32", "Slider1", 68, 94, 105, 18, Slider},
                  {1053, "EDIT", "", 43, 68, 20, 15, NumberBox},
                  {1043, "msctls_trackbar32", "Slider1", 68, 66, 105, 18, Slider},
                  {1058, "BUTTON", "Bomb backdrop", 176, 44, 89, 12, BS_AUTOCHECKBOX | WS_TABSTOP},
                  {1038, "BUTTON", "&Bombs Only", 176, 22, 72, 16, BS_AUTOCHECKBOX | WS_TABSTOP},
                  {0xFFFF, "STATIC", "Screen Delay", 182, 122, 63, 10, Label},
                  {0xFFFF, "STATIC", "Bomb Speed", 182, 98, 60, 10, Label},
                  {0xFFFF, "STATIC", "Max Bomb Count", 182, 70, 76, 10, Label},
                  {0xFFFF, "STATIC", "#124", 16, 22, 85, 39, SS_BITMAP},
                  {0xFFFF, "BUTTON", " Display Options ", 7, 7, 277, 169, BS_GROUPBOX},
              }),
              Controls(dialog));
}

TEST(DialogTemplates, AboutDialog)
{
    layer::DialogTemplate dialog = Compiled(IDD_ABOUT);
    EXPECT_EQ(DialogStyle, dialog.style);
    EXPECT_EQ("About Vantrel Screen Saver", dialog.title);
    EXPECT_EQ(8, dialog.pointSize);
    EXPECT_EQ("System", dialog.faceName);
    EXPECT_EQ((std::vector<short>{0, 0, 180, 189}), (std::vector<short>{dialog.x, dialog.y, dialog.cx, dialog.cy}));

    // The credit lines are ours; only their places and styles are fixed.
    std::vector<std::string> texts;
    for (const layer::DialogItemTemplate &item : dialog.items)
        texts.push_back(item.text);
    ASSERT_EQ(11u, texts.size());
    for (size_t i : {1u, 3u, 6u, 7u, 8u})
        EXPECT_FALSE(texts[i].empty()) << "control " << i + 1 << " says nothing";

    EXPECT_EQ(Expected({
                  {3, "BUTTON", "OK", 63, 165, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP},
                  {0xFFFF, "STATIC", texts[1], 16, 17, 149, 8, SS_CENTER | WS_GROUP},
                  {0xFFFF, "STATIC", "Version 1.1", 70, 28, 39, 8, Label},
                  {0xFFFF, "STATIC", texts[3], 58, 147, 64, 8, Label},
                  {0xFFFF, "BUTTON", " Vantrel Screen Saver ", 4, 6, 172, 177, BS_GROUPBOX},
                  {0xFFFF, "STATIC", "Artwork:", 35, 95, 29, 8, Label},
                  {0xFFFF, "STATIC", texts[6], 59, 106, 61, 8, Label},
                  {0xFFFF, "STATIC", texts[7], 63, 117, 53, 8, Label},
                  {0xFFFF, "STATIC", texts[8], 68, 128, 44, 8, Label},
                  {0xFFFF, "STATIC", "#125", 58, 45, 64, 40, SS_BITMAP},
                  {0xFFFF, "STATIC", "Code:", 39, 136, 22, 8, Label},
              }),
              Controls(dialog));
}

}  // namespace
