// Arbitrary bytes as a dialog template: the parser must stay inside them and
// give back nothing larger than they could hold; a template it accepts is
// then made into a dialog from the program's resources, which must end and
// leave no GDI object behind.
#include <layer_hooks.h>
#include <windows.h>

#include <cstdint>
#include <vector>

#include "platform/user/dialogs/template.h"
#include "tests/unit/res_builder.h"

namespace {

INT_PTR CALLBACK EndAtOnce(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) PostMessageA(dialog, WM_APP, 0, 0);
    if (message == WM_APP) EndDialog(dialog, 1);
    return message == WM_INITDIALOG;
}

// Small enough to make: every window of the layer keeps its pixels, so a
// valid template of a huge font or size asks for as much memory as it says.
bool Modest(const layer::DialogTemplate &t) {
    if ((t.style & DS_SETFONT) && t.pointSize > 16 && t.pointSize != 0x7FFF) return false;
    if (t.items.size() > 32 || t.cx < 0 || t.cx > 300 || t.cy < 0 || t.cy > 300) return false;
    for (const layer::DialogItemTemplate &item : t.items)
        if (item.cx < 0 || item.cx > 300 || item.cy < 0 || item.cy > 300) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool started = false;
    if (!started) {
        layer::ResetHeadless(640, 480);
        started = true;
    }
    layer::DialogTemplate parsed;
    if (!layer::ParseDialogTemplate(data, size, &parsed))
        return 0;
    // Every item takes at least its fixed header and three WORDs; every
    // character of a string two bytes and an ordinal four (its longest
    // name, "SCROLLBAR", is nine characters): nothing parsed outgrows the input.
    if (parsed.items.size() > size / 24)
        __builtin_trap();
    size_t text = parsed.title.size() + parsed.menu.size() + parsed.windowClass.size() + parsed.faceName.size();
    for (const layer::DialogItemTemplate &item : parsed.items) {
        text += item.className.size() + item.text.size();
        if (item.creationData.size() > size)
            __builtin_trap();
    }
    if (text > 3 * size)
        __builtin_trap();
    if (!Modest(parsed))
        return 0;

    std::vector<uint8_t> res = resbuild::NewResFile();
    resbuild::AddRecord(res, resbuild::Ord(5), resbuild::Ord(77), std::vector<uint8_t>(data, data + size));
    layer::UseResources(res);
    const int before = layer::LiveGdiObjects();
    // A dialog that has nothing to do is ended, so none can wait for ever.
    layer::SetIdleHook([] {
        if (HWND open = layer::ActiveDialog())
            EndDialog(open, 2);
    });
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(77), nullptr, EndAtOnce, 0);
    layer::SetIdleHook(nullptr);
    if (layer::ActiveDialog() || layer::LiveGdiObjects() != before)
        __builtin_trap();
    return 0;
}
