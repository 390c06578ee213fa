// artgen: draws every picture of the saver and writes them as the saver
// stores them, after checking the rules the saver relies on.
//
//   artgen --out DIR     write all pictures, the icon and the contact sheet
//   artgen --check DIR   check the files in DIR against the same rules
//   artgen --icons DIR   the icon as PNGs in a desktop icon theme's layout,
//                        DIR/<n>x<n>/apps/vantrel-saver.png
//
// Exit code 0 when all is well, 1 when a rule is broken (nothing written),
// 2 on a usage or file error.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "bitmap.h"
#include "catalogue.h"
#include "pictures.h"
#include "rules.h"
#include "sheet.h"

namespace fs = std::filesystem;
using namespace artgen;

namespace {

FileSet Generate() {
    std::map<int, IndexedImage> images;
    images[117] = TitlePicture();
    images[119] = BattlefieldPicture();
    images[120] = SearchlightPicture();
    images[138] = FortressPicture();
    images[118] = BombSprite();
    images[130] = BombMask(images[118]);
    images[128] = Backdrop();
    images[124] = ConfigBanner();
    images[125] = AboutPicture();
    std::vector<IconImage> icons = BombIcons();

    FileSet files;
    for (const CatalogueEntry& e : kBitmaps) files[e.file] = WriteBmp(images.at(e.id), e.colorsUsed);
    files[kIconFile] = WriteIco(icons);
    files[kSheetFile] = ContactSheet(images, icons);
    return files;
}

bool Report(const std::vector<std::string>& errors) {
    for (const std::string& e : errors) std::fprintf(stderr, "artgen: %s\n", e.c_str());
    return errors.empty();
}

// Names in `files` may hold folders, which are made as needed.
int WriteFiles(const fs::path& dir, const FileSet& files) {
    std::error_code ec;
    for (const auto& [name, bytes] : files) {
        fs::path target = dir / name, temp = dir / (name + ".tmp");
        fs::create_directories(target.parent_path(), ec);
        // Write beside the target and rename, so a reader never sees half a file.
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out || (fs::rename(temp, target, ec), ec)) {
            std::fprintf(stderr, "artgen: cannot write %s\n", target.c_str());
            fs::remove(temp, ec);
            return 2;
        }
    }
    return 0;
}

int Write(const fs::path& dir) {
    FileSet files = Generate();
    if (!Report(CheckArt(files))) {
        std::fprintf(stderr, "artgen: nothing written\n");
        return 1;
    }
    return WriteFiles(dir, files);
}

// The sizes desktops look for in the hicolor theme; 16 and 32 are the
// pictures the .ico carries.
int WriteIcons(const fs::path& dir) {
    FileSet files;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        std::string side = std::to_string(size);
        files[side + "x" + side + "/apps/vantrel-saver.png"] = IconPng(BombIcon(size));
    }
    return WriteFiles(dir, files);
}

int Check(const fs::path& dir) {
    FileSet files;
    std::vector<std::string> names;
    for (const CatalogueEntry& e : kBitmaps) names.push_back(e.file);
    names.push_back(kIconFile);
    names.push_back(kSheetFile);
    for (const std::string& name : names) {
        std::ifstream in(dir / name, std::ios::binary);
        if (in) files[name].assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (!Report(CheckArt(files))) return 1;
    std::printf("artgen: %zu files in %s keep every rule\n", files.size(), dir.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--out") return Write(argv[2]);
    if (argc == 3 && std::string(argv[1]) == "--check") return Check(argv[2]);
    if (argc == 3 && std::string(argv[1]) == "--icons") return WriteIcons(argv[2]);
    std::fprintf(stderr, "usage: artgen --out DIR | --check DIR | --icons DIR\n");
    return 2;
}
