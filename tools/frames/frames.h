// The frame renderer: runs the real saver on the headless desktop with a
// virtual clock and hands every painted frame to its caller, and the image
// writers that turn those frames into files.
#ifndef VANTREL_TOOLS_FRAMES_H
#define VANTREL_TOOLS_FRAMES_H

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace frames {

struct Options {
    int width = 0;
    int height = 0;
    long frames = 0;
    DWORD seed = 1;
    bool preview = false;
    std::string outDir;
    std::string gifPath;
    // Canonical setting name and the 32 bits stored for it.
    std::vector<std::pair<std::string, DWORD>> settings;
};

// Reads the command line (without the program name). On a bad argument it
// returns false and says why in `error`.
bool ParseArguments(const std::vector<std::string> &arguments, Options *options, std::string *error);
extern const char UsageText[];

// Called once per painted frame, numbered from 1, while the saver window
// still exists; `saverWindow` is the window whose pixels make the frame.
using FrameCallback = std::function<void(long frame, HWND saverWindow)>;

// Resets the headless desktop, writes the settings into a registry held in
// memory, and runs the saver (full screen or inside a hosting window) for
// `options.frames` paints. Returns the saver's exit value.
int RunSaver(const Options &options, const FrameCallback &onFrame);

// A 24-bit bottom-up BMP of 0x00RRGGBB pixels given top row first.
bool WriteBmp(const std::string &path, const uint32_t *pixels, int width, int height);

// An animated GIF89a written one frame at a time: each frame only carries
// the rectangle that changed, with unchanged pixels transparent where the
// colours allow it, so a mostly still animation stays small.
class GifWriter {
public:
    GifWriter() = default;
    GifWriter(const GifWriter &) = delete;
    GifWriter &operator=(const GifWriter &) = delete;
    ~GifWriter();

    bool Open(const std::string &path, int width, int height, int delayHundredths);
    bool AddFrame(const uint32_t *pixels);
    bool Close();

private:
    void EncodeImage(int left, int top, int width, int height, const std::vector<uint8_t> &indices,
                     const std::vector<uint32_t> &table, int transparentIndex);
    void Put(const void *bytes, size_t count);

    std::FILE *file_ = nullptr;
    bool failed_ = false;
    int width_ = 0;
    int height_ = 0;
    int delay_ = 0;
    long framesWritten_ = 0;
    // The frame before, to find what changed. Where the fixed palette was
    // used a decoder shows an approximation of it, which is left in place.
    std::vector<uint32_t> previous_;
};

}  // namespace frames

#endif
