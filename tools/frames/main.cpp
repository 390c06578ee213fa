// vantrel-frames: renders the saver's frames to BMP files (and optionally an
// animated GIF) without a screen, for previews, documentation and tests.
#include <layer_hooks.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "frames.h"

namespace {

// Like mkdir -p.
bool MakeDirectories(const std::string &path)
{
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/')
            continue;
        std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
    }
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(frames::UsageText, stdout);
            return 0;
        }
    frames::Options options;
    std::string error;
    if (!frames::ParseArguments(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
        std::fprintf(stderr, "vantrel-frames: %s\n%s", error.c_str(), frames::UsageText);
        return 2;
    }
    if (!MakeDirectories(options.outDir)) {
        std::fprintf(stderr, "vantrel-frames: cannot make the directory %s: %s\n", options.outDir.c_str(),
                     std::strerror(errno));
        return 1;
    }

    frames::GifWriter gif;
    bool gifWanted = !options.gifPath.empty();
    bool failed = false;
    int frameWidth = 0, frameHeight = 0;
    int result = frames::RunSaver(options, [&](long frame, HWND saver) {
        if (failed)
            return;
        int width = 0, height = 0;
        std::vector<uint32_t> pixels = layer::WindowPixels(saver, &width, &height);
        if (frame == 1) {
            frameWidth = width;
            frameHeight = height;
            if (gifWanted && !gif.Open(options.gifPath, width, height, 7)) {
                std::fprintf(stderr, "vantrel-frames: cannot write %s\n", options.gifPath.c_str());
                failed = true;
                return;
            }
        }
        if (width != frameWidth || height != frameHeight || pixels.size() != size_t(width) * height) {
            std::fprintf(stderr, "vantrel-frames: frame %ld has no pixels of the expected size\n", frame);
            failed = true;
            return;
        }
        char name[32];
        std::snprintf(name, sizeof name, "/frame-%05ld.bmp", frame);
        std::string path = options.outDir + name;
        if (!frames::WriteBmp(path, pixels.data(), width, height)) {
            std::fprintf(stderr, "vantrel-frames: cannot write %s\n", path.c_str());
            failed = true;
            return;
        }
        if (gifWanted && !gif.AddFrame(pixels.data())) {
            std::fprintf(stderr, "vantrel-frames: cannot write %s\n", options.gifPath.c_str());
            failed = true;
        }
    });
    if (failed)
        return 1;
    if (frameWidth == 0) {
        std::fprintf(stderr, "vantrel-frames: the saver painted nothing (it returned %d)\n", result);
        return 1;
    }
    if (gifWanted && !gif.Close()) {
        std::fprintf(stderr, "vantrel-frames: cannot write %s\n", options.gifPath.c_str());
        return 1;
    }
    return 0;
}
