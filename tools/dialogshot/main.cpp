// vantrel-dialogshot: a picture of one of the program's dialogs as the
// native layer draws it, taken on the headless desktop once the dialog has
// shown itself and has nothing left to do, written as a 24-bit BMP.
//
//   vantrel-dialogshot --dialog config|about|message --out FILE.bmp [--frame]
//
// The dialogs are the program's own (the templates in saver.rc and their
// procedures) with the settings at their defaults; "message" is a sample
// message box. On a desktop the window manager draws the frame and title
// bar; --frame draws a classic one round the picture so that it reads as a
// window on its own.
#include <layer_hooks.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "frames.h"
#include "host/host.h"
#include "settings/settings.h"

namespace {

const char Usage[] = "usage: vantrel-dialogshot --dialog config|about|message --out FILE.bmp [--frame]\n";

struct Picture {
    std::vector<uint32_t> pixels;
    int width = 0;
    int height = 0;
    std::string title;
};

// Runs the dialog and takes its picture the first time its loop is idle.
bool Capture(const std::string &which, Picture *picture)
{
    layer::ResetHeadless(800, 600);
    layer::SetMessageBoxesInteractive(true);
    HostState = HostStateRecord{};
    HostState.instance = GetModuleHandleA(nullptr);
    bool taken = false;
    layer::SetIdleHook([&] {
        HWND dialog = layer::ActiveDialog();
        if (!dialog)
            return;
        if (!taken) {
            picture->pixels = layer::ComposedPixels(dialog, &picture->width, &picture->height);
            char title[256] = "";
            GetWindowTextA(dialog, title, sizeof title);
            picture->title = title;
            taken = true;
        }
        EndDialog(dialog, 0);
    });
    if (which == "config")
        ShowConfigDialog(nullptr);
    else if (which == "about")
        DialogBoxParamA(HostState.instance, MAKEINTRESOURCEA(AboutDialogId), nullptr, AboutDialogProc, 0);
    else
        MessageBoxA(nullptr, "The settings could not be saved.\nDo you want to try again before closing?",
                    "Vantrel Screen Saver", MB_YESNOCANCEL | MB_ICONQUESTION);
    layer::SetIdleHook(nullptr);
    return taken && picture->width > 0;
}

// Fills a rectangle of a 32-bit top-down picture.
void Fill(std::vector<uint32_t> &out, int width, int left, int top, int right, int bottom, uint32_t colour)
{
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
            out[size_t(y) * width + x] = colour;
}

// A raised two-pixel edge, lit from the top left.
void Raised(std::vector<uint32_t> &out, int width, int left, int top, int right, int bottom)
{
    const uint32_t light = 0xC0C0C0, white = 0xFFFFFF, grey = 0x808080, black = 0x000000;
    Fill(out, width, left, top, right, top + 1, light);
    Fill(out, width, left, top, left + 1, bottom, light);
    Fill(out, width, left + 1, top + 1, right - 1, top + 2, white);
    Fill(out, width, left + 1, top + 1, left + 2, bottom - 1, white);
    Fill(out, width, left, bottom - 1, right, bottom, black);
    Fill(out, width, right - 1, top, right, bottom, black);
    Fill(out, width, left + 1, bottom - 2, right - 1, bottom - 1, grey);
    Fill(out, width, right - 2, top + 1, right - 1, bottom - 1, grey);
}

// A classic frame and title bar round the client picture; the title is
// drawn with the layer's own bold face on a DIB section.
Picture Framed(const Picture &client)
{
    const int border = 3, caption = 18;
    Picture out;
    out.width = client.width + 2 * border;
    out.height = client.height + 2 * border + caption + 1;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = out.width;
    info.bmiHeader.biHeight = -out.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previousBitmap = SelectObject(dc, bitmap);
    RECT all = {0, 0, out.width, out.height};
    FillRect(dc, &all, GetSysColorBrush(COLOR_BTNFACE));
    RECT bar = {border, border, out.width - border, border + caption};
    FillRect(dc, &bar, GetSysColorBrush(COLOR_ACTIVECAPTION));
    HFONT font = CreateFontA(-11, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "MS Sans Serif");
    HGDIOBJ previousFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_CAPTIONTEXT));
    RECT text = {bar.left + 3, bar.top, bar.right - 20, bar.bottom};
    DrawTextA(dc, client.title.c_str(), -1, &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, previousFont);
    DeleteObject(font);
    GdiFlush();
    out.pixels.assign(static_cast<uint32_t *>(bits), static_cast<uint32_t *>(bits) + size_t(out.width) * out.height);
    SelectObject(dc, previousBitmap);
    DeleteDC(dc);
    DeleteObject(bitmap);
    for (uint32_t &p : out.pixels)
        p &= 0x00FFFFFF;

    Raised(out.pixels, out.width, 0, 0, out.width, out.height);
    // The close box: a small raised button with a cross.
    int right = bar.right - 2, top = bar.top + 2;
    Fill(out.pixels, out.width, right - 16, top, right, top + 14, 0xC0C0C0);
    Raised(out.pixels, out.width, right - 16, top, right, top + 14);
    for (int i = 0; i < 6; ++i)
        for (int w = 0; w < 2; ++w) {
            out.pixels[size_t(top + 4 + i) * out.width + right - 12 + i + w] = 0;
            out.pixels[size_t(top + 4 + i) * out.width + right - 5 - i + w - 1] = 0;
        }
    int x0 = border, y0 = border + caption + 1;
    for (int y = 0; y < client.height; ++y)
        std::memcpy(&out.pixels[size_t(y0 + y) * out.width + x0], &client.pixels[size_t(y) * client.width],
                    size_t(client.width) * sizeof(uint32_t));
    return out;
}

}  // namespace

int main(int argc, char **argv)
{
    std::string which, outPath;
    bool frame = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--dialog" && i + 1 < argc)
            which = argv[++i];
        else if (arg == "--out" && i + 1 < argc)
            outPath = argv[++i];
        else if (arg == "--frame")
            frame = true;
        else if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "vantrel-dialogshot: unknown argument '%s'\n%s", arg.c_str(), Usage);
            return 2;
        }
    }
    if ((which != "config" && which != "about" && which != "message") || outPath.empty()) {
        std::fputs(Usage, stderr);
        return 2;
    }
    Picture picture;
    if (!Capture(which, &picture)) {
        std::fprintf(stderr, "vantrel-dialogshot: the %s dialog did not show itself\n", which.c_str());
        return 1;
    }
    if (frame)
        picture = Framed(picture);
    if (!frames::WriteBmp(outPath, picture.pixels.data(), picture.width, picture.height)) {
        std::fprintf(stderr, "vantrel-dialogshot: cannot write %s\n", outPath.c_str());
        return 1;
    }
    return 0;
}
