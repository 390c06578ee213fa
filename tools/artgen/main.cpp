// artgen: draws every picture of the saver and writes them as the saver
// stores them, after checking the rules the saver relies on.
//
//   artgen --out DIR     write all pictures, the icon and the contact sheet
//   artgen --check DIR   check the files in DIR against the same rules
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

int Write(const fs::path& dir) {
    FileSet files = Generate();
    if (!Report(CheckArt(files))) {
        std::fprintf(stderr, "artgen: nothing written\n");
        return 1;
    }
    std::error_code ec;
    fs::create_directories(dir, ec);
    for (const auto& [name, bytes] : files) {
        // Write beside the target and rename, so a reader never sees half a file.
        fs::path target = dir / name, temp = dir / (name + ".tmp");
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
    std::fprintf(stderr, "usage: artgen --out DIR | --check DIR\n");
    return 2;
}
