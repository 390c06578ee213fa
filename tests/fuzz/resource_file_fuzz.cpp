// Arbitrary bytes as the program's compiled resources: every lookup, lock
// and size must stay inside them, and bitmaps either load or are refused.
#include <layer_hooks.h>
#include <windows.h>

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool started = false;
    if (!started) {
        layer::ResetHeadless(64, 48);
        started = true;
    }
    layer::UseResources(std::vector<uint8_t>(data, data + size));
    const int before = layer::LiveGdiObjects();

    const LPCSTR types[] = {RT_BITMAP, RT_ICON, RT_GROUP_ICON, RT_DIALOG, RT_VERSION, "PNG", "#2"};
    const LPCSTR names[] = {MAKEINTRESOURCEA(1),   MAKEINTRESOURCEA(117), MAKEINTRESOURCEA(118),
                            MAKEINTRESOURCEA(139), MAKEINTRESOURCEA(2003), "CONFIG", "#118", "A"};
    volatile uint32_t sum = 0;
    for (LPCSTR type : types) {
        for (LPCSTR name : names) {
            HRSRC info = FindResourceA(nullptr, name, type);
            if (!info) continue;
            const uint8_t *bytes = static_cast<const uint8_t *>(LockResource(LoadResource(nullptr, info)));
            DWORD length = SizeofResource(nullptr, info);
            if (!bytes) __builtin_trap();
            // Touch every byte: the sanitizer catches a range outside the input.
            for (DWORD i = 0; i < length; ++i) sum = sum + bytes[i];
        }
    }
    HDC memory = CreateCompatibleDC(nullptr);
    for (int id : {1, 117, 118, 119, 130, 2003}) {
        HBITMAP bitmap = (HBITMAP)LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0,
                                             LR_CREATEDIBSECTION);
        if (!bitmap) continue;
        BITMAP bm = {};
        if (GetObjectA(bitmap, sizeof bm, &bm) != sizeof bm || bm.bmBitsPixel != 8 || !bm.bmBits) __builtin_trap();
        const uint8_t *bits = static_cast<const uint8_t *>(bm.bmBits);
        size_t total = (size_t)bm.bmWidthBytes * (size_t)bm.bmHeight;
        sum = sum + bits[0] + bits[total - 1];
        HGDIOBJ old = SelectObject(memory, bitmap);
        RGBQUAD table[256];
        if (GetDIBColorTable(memory, 0, 256, table) != 256) __builtin_trap();
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    if (layer::LiveGdiObjects() != before) __builtin_trap();  // nothing made may outlive its use
    return 0;
}
