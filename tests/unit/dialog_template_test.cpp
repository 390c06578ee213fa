// Dialog templates read back field by field, in both forms, and damaged
// ones refused without reading past their end.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/kernel/code_page.h"
#include "platform/user/dialogs/template.h"
#include "res_builder.h"

namespace {

using resbuild::DialogBytes;
using resbuild::Named;
using resbuild::Ord;
using resbuild::Str;

// The bytes in a buffer of exactly their size, so that the sanitizer sees
// any read past the end.
bool Parse(const std::vector<uint8_t> &bytes, layer::DialogTemplate *out) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() ? bytes.size() : 1]);
    if (!bytes.empty()) std::memcpy(exact.get(), bytes.data(), bytes.size());
    return layer::ParseDialogTemplate(exact.get(), bytes.size(), out);
}

DialogBytes Sample(bool extended) {
    DialogBytes d(WS_POPUP | WS_CAPTION | DS_MODALFRAME, 291, 219, "Settings", extended);
    d.At(-3, 12).ExStyle(WS_EX_TOPMOST).Font(8, "MS Sans Serif");
    d.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 12, 183, 69, 17, IDOK, resbuild::ButtonAtom(), Str("OK"));
    d.Item(WS_BORDER | ES_RIGHT, 43, 118, 20, 15, 1055, resbuild::EditAtom(), Str(""), {}, WS_EX_CLIENTEDGE);
    d.Item(TBS_NOTICKS, 68, 119, 105, 18, 1044, Str(TRACKBAR_CLASSA), Str("Slider1"), {1, 2, 3, 4, 5});
    d.Item(SS_BITMAP, 16, 22, 85, 39, 0xFFFF, resbuild::StaticAtom(), Ord(124));
    return d;
}

TEST(DialogTemplate, ClassicFormFieldByField) {
    layer::DialogTemplate t;
    ASSERT_TRUE(Parse(Sample(false).Bytes(), &t));
    EXPECT_FALSE(t.extended);
    EXPECT_EQ((DWORD)(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT), t.style);
    EXPECT_EQ((DWORD)WS_EX_TOPMOST, t.exStyle);
    EXPECT_EQ((std::vector<short>{-3, 12, 291, 219}), (std::vector<short>{t.x, t.y, t.cx, t.cy}));
    EXPECT_EQ("", t.menu);
    EXPECT_EQ("", t.windowClass);
    EXPECT_EQ("Settings", t.title);
    EXPECT_EQ(8, t.pointSize);
    EXPECT_EQ("MS Sans Serif", t.faceName);
    ASSERT_EQ(4u, t.items.size());

    EXPECT_EQ("BUTTON", t.items[0].className);
    EXPECT_EQ("OK", t.items[0].text);
    EXPECT_EQ(-1, t.items[0].textOrdinal);
    EXPECT_EQ((DWORD)IDOK, t.items[0].id);
    EXPECT_EQ((DWORD)(BS_DEFPUSHBUTTON | WS_TABSTOP), t.items[0].style);
    EXPECT_EQ((std::vector<short>{12, 183, 69, 17}),
              (std::vector<short>{t.items[0].x, t.items[0].y, t.items[0].cx, t.items[0].cy}));

    EXPECT_EQ("EDIT", t.items[1].className);
    EXPECT_EQ("", t.items[1].text);
    EXPECT_EQ((DWORD)WS_EX_CLIENTEDGE, t.items[1].exStyle);

    EXPECT_EQ(TRACKBAR_CLASSA, t.items[2].className);
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 4, 5}), t.items[2].creationData);

    EXPECT_EQ("STATIC", t.items[3].className);
    EXPECT_EQ("", t.items[3].text);
    EXPECT_EQ(124, t.items[3].textOrdinal);
    EXPECT_EQ(0xFFFFu, t.items[3].id) << "the classic form's identifier is a WORD";
}

TEST(DialogTemplate, ExtendedFormReadsItsOwnFieldOrder) {
    DialogBytes d = Sample(true);
    d.HelpId(77).Item(WS_VISIBLE, 1, 2, 3, 4, 0xFFFFFFFF, resbuild::StaticAtom(), Str("help"), {}, 0, 99);
    layer::DialogTemplate t;
    ASSERT_TRUE(Parse(d.Bytes(), &t));
    EXPECT_TRUE(t.extended);
    EXPECT_EQ((DWORD)(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT), t.style);
    EXPECT_EQ((DWORD)WS_EX_TOPMOST, t.exStyle);
    EXPECT_EQ("MS Sans Serif", t.faceName) << "weight, italic and character set come before the face";
    ASSERT_EQ(5u, t.items.size());
    EXPECT_EQ((DWORD)WS_EX_CLIENTEDGE, t.items[1].exStyle);
    EXPECT_EQ((DWORD)(WS_BORDER | ES_RIGHT), t.items[1].style);
    EXPECT_EQ(0xFFFFFFFFu, t.items[4].id) << "the extended form's identifier is a DWORD";
    EXPECT_EQ(99u, t.items[4].helpId);
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 4, 5}), t.items[2].creationData);
}

TEST(DialogTemplate, MenusClassesAndAtomsByNameOrOrdinal) {
    DialogBytes d(WS_POPUP, 10, 10, "");
    d.Menu(Ord(5)).Class(Named("MyDialog"));
    for (uint16_t atom : {0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x00, 0x05, 0x86, 0x1234})
        d.Item(0, 0, 0, 1, 1, atom, Ord(atom), Str(""));
    layer::DialogTemplate t;
    ASSERT_TRUE(Parse(d.Bytes(), &t));
    EXPECT_EQ("#5", t.menu);
    EXPECT_EQ("MyDialog", t.windowClass);
    std::vector<std::string> classes;
    for (const auto &item : t.items) classes.push_back(item.className);
    // 0..5 stand for 0x80..0x85, as the system reads them; others stay numbers.
    EXPECT_EQ((std::vector<std::string>{"BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR", "COMBOBOX", "BUTTON",
                                        "COMBOBOX", "#134", "#4660"}),
              classes);

    DialogBytes byName(WS_POPUP, 10, 10, "");
    byName.Menu(Named("MAINMENU")).Class(Ord(32770));
    ASSERT_TRUE(Parse(byName.Bytes(), &t));
    EXPECT_EQ("MAINMENU", t.menu);
    EXPECT_EQ("#32770", t.windowClass);
}

TEST(DialogTemplate, EveryTruncationIsRefusedAndNothingIsReadPastTheEnd) {
    for (bool extended : {false, true}) {
        std::vector<uint8_t> whole = Sample(extended).Bytes();
        layer::DialogTemplate t;
        ASSERT_TRUE(Parse(whole, &t));
        for (size_t n = 0; n < whole.size(); ++n) {
            std::vector<uint8_t> cut(whole.begin(), whole.begin() + (long)n);
            EXPECT_FALSE(Parse(cut, &t)) << (extended ? "extended" : "classic") << " cut to " << n;
        }
    }
    layer::DialogTemplate t;
    EXPECT_FALSE(layer::ParseDialogTemplate(nullptr, 100, &t));
}

TEST(DialogTemplate, ItemsStartOnDwordBoundariesOfTheTemplate) {
    // Titles and captions of odd and even lengths put each item after zero
    // or two bytes of padding, whose content is not looked at.
    for (const char *title : {"", "A", "AB", "ABC"}) {
        for (uint8_t fill : {0x00, 0xEE}) {
            DialogBytes d(WS_POPUP, 10, 10, title);
            d.Padding(fill);
            d.Item(SS_LEFT, 1, 2, 3, 4, 9, resbuild::StaticAtom(), Str("x"));
            d.Item(SS_LEFT, 5, 6, 7, 8, 10, resbuild::StaticAtom(), Str("yz"));
            d.Item(SS_LEFT, 9, 10, 11, 12, 11, resbuild::StaticAtom(), Str("odd"));
            layer::DialogTemplate t;
            ASSERT_TRUE(Parse(d.Bytes(), &t)) << "'" << title << "' padded with " << (int)fill;
            ASSERT_EQ(3u, t.items.size());
            EXPECT_EQ(title, t.title);
            EXPECT_EQ("yz", t.items[1].text);
            EXPECT_EQ(11u, t.items[2].id);
            EXPECT_EQ(12, t.items[2].cy);
            EXPECT_EQ("odd", t.items[2].text);
        }
    }
}

TEST(DialogTemplate, DamagedCountsAndStringsAreRefused) {
    // A count far beyond the bytes fails at once rather than reserving room.
    DialogBytes many(WS_POPUP, 10, 10, "t");
    many.Item(0, 0, 0, 1, 1, 1, resbuild::StaticAtom(), Str("only"));
    many.Count(0xFFFF);
    layer::DialogTemplate t;
    EXPECT_FALSE(Parse(many.Bytes(), &t));

    // A caption that never ends.
    std::vector<uint8_t> bytes = DialogBytes(WS_POPUP, 10, 10, "abc").Bytes();
    bytes.resize(bytes.size() - 2);
    EXPECT_FALSE(Parse(bytes, &t));

    // Creation data longer than what is left.
    DialogBytes data(WS_POPUP, 10, 10, "");
    data.Item(0, 0, 0, 1, 1, 1, resbuild::StaticAtom(), Str(""), std::vector<uint8_t>(8, 7));
    bytes = data.Bytes();
    bytes.resize(bytes.size() - 1);
    EXPECT_FALSE(Parse(bytes, &t));
}

TEST(DialogTemplate, FontsAndText) {
    // 0x7FFF asks for the message box font: no face follows it.
    DialogBytes message(WS_POPUP, 10, 10, "m");
    message.Font(0x7FFF, "");
    message.Item(0, 0, 0, 1, 1, 1, resbuild::StaticAtom(), Str("after"));
    layer::DialogTemplate t;
    ASSERT_TRUE(Parse(message.Bytes(), &t));
    EXPECT_EQ(0x7FFF, t.pointSize);
    EXPECT_EQ("", t.faceName);
    ASSERT_EQ(1u, t.items.size());
    EXPECT_EQ("after", t.items[0].text);

    // Without DS_SETFONT there is no font block at all.
    DialogBytes plain(WS_POPUP, 10, 10, "p");
    ASSERT_TRUE(Parse(plain.Bytes(), &t));
    EXPECT_EQ(0, t.pointSize);
    EXPECT_EQ("", t.faceName);

    // Text is UTF-16 in the template and Windows-1252 for the ANSI functions.
    EXPECT_EQ(std::string("caf\xE9 \x80 ?"), layer::AnsiFromUtf16(u"caf\u00E9 \u20AC \u4E2D"));
}

}  // namespace
