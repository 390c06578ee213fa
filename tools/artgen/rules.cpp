#include "rules.h"

#include <algorithm>
#include <set>

#include "bitmap.h"
#include "catalogue.h"
#include "pictures.h"

namespace artgen {

namespace {

bool IsBlack(const Rgb8& c) { return c.r == 0 && c.g == 0 && c.b == 0; }
bool IsWhite(const Rgb8& c) { return c.r == 255 && c.g == 255 && c.b == 255; }

size_t DistinctIndices(const IndexedImage& im) {
    std::set<uint8_t> used(im.pixels.begin(), im.pixels.end());
    return used.size();
}

void CheckSpriteTable(const ColorTable& t, std::vector<std::string>& errors) {
    for (int i = 0; i < 10; ++i)
        if (!IsBlack(t[i])) errors.push_back("bomb.bmp: table entry " + std::to_string(i) + " is not black");
    for (int i = 10; i < 20; ++i)
        if (!(t[i].g > t[i].r && t[i].g > t[i].b)) errors.push_back("bomb.bmp: table entry " + std::to_string(i) + " is not green");
    if (!(t[kBombIndex] == Rgb8{0, 195, 95})) errors.push_back("bomb.bmp: the bomb's colour (entry 17) is not RGB(0, 195, 95)");
    for (int i = 20; i < 255; ++i) {
        if (t[i].r != t[i].g || t[i].g != t[i].b) errors.push_back("bomb.bmp: table entry " + std::to_string(i) + " is not grey");
        if (i > 20 && t[i].r < t[i - 1].r) errors.push_back("bomb.bmp: the grey ramp falls at entry " + std::to_string(i));
    }
    if (!IsWhite(t[255])) errors.push_back("bomb.bmp: table entry 255 is not white");
    for (int i = 0; i < 255; ++i)
        if (IsWhite(t[i])) errors.push_back("bomb.bmp: entry " + std::to_string(i) + " is white; only 255 may be");
}

void CheckSprite(const IndexedImage& im, std::vector<std::string>& errors) {
    CheckSpriteTable(im.table, errors);
    int count = 0, minX = im.width, maxX = -1, minY = im.height, maxY = -1;
    for (int y = 0; y < im.height; ++y)
        for (int x = 0; x < im.width; ++x) {
            uint8_t p = im.At(x, y);
            if (p == 0) continue;
            if (p != kBombIndex) {
                errors.push_back("bomb.bmp: a bomb pixel is not index 17");
                return;
            }
            if (y % 2) {
                errors.push_back("bomb.bmp: the bomb is drawn on an odd row");
                return;
            }
            ++count;
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
    if (count < 200) {
        errors.push_back("bomb.bmp: the bomb is missing or too small");
        return;
    }
    // Its long axis runs from the lower left to the upper right, and the
    // fins make the upper right the heavier end.
    int upperRight = 0, lowerLeft = 0, alongDiagonal = 0;
    const int cx2 = minX + maxX, cy2 = minY + maxY;  // twice the box centre
    for (int y = 0; y < im.height; ++y)
        for (int x = 0; x < im.width; ++x) {
            if (!im.At(x, y)) continue;
            int side = (2 * x - cx2) - (2 * y - cy2);
            if (side > 0) ++upperRight;
            if (side < 0) ++lowerLeft;
            int off = (2 * x - cx2) + (2 * y - cy2);  // distance across the diagonal
            if (off > -im.width / 2 && off < im.width / 2) ++alongDiagonal;
        }
    if (upperRight <= lowerLeft) errors.push_back("bomb.bmp: the finned end is not at the upper right");
    if (alongDiagonal * 10 < count * 8) errors.push_back("bomb.bmp: the bomb does not lie along the diagonal");
}

void CheckMask(const IndexedImage& mask, const IndexedImage* sprite, std::vector<std::string>& errors) {
    const ColorTable& t = mask.table;
    if (!IsBlack(t[0]) || !IsWhite(t[255])) errors.push_back("bomb_mask.bmp: entry 0 must be black and 255 white");
    for (int i = 1; i < 255; ++i)
        if (IsWhite(t[i]))
            errors.push_back("bomb_mask.bmp: entry " + std::to_string(i) + " is white; colour matching would move 255 there");
    if (!sprite) return;
    // Black elsewhere is harmless only if 0 is the first black of the sprite's
    // table, where colour matching takes the lowest index.
    if (!IsBlack(sprite->table[0])) errors.push_back("bomb.bmp: entry 0 must be black");
    if (sprite->width != mask.width || sprite->height != mask.height) {
        errors.push_back("bomb_mask.bmp: not the sprite's size");
        return;
    }
    for (size_t i = 0; i < mask.pixels.size(); ++i)
        if (mask.pixels[i] != (sprite->pixels[i] ? 0 : 255)) {
            errors.push_back("bomb_mask.bmp: not the sprite's complement at pixel " + std::to_string(i));
            return;
        }
}

void CheckBackdrop(const IndexedImage& im, const IndexedImage* sprite, std::vector<std::string>& errors) {
    if (!sprite) return;
    std::set<int> levels;
    for (uint8_t p : std::set<uint8_t>(im.pixels.begin(), im.pixels.end())) {
        const Rgb8& c = im.table[p];
        if (std::find(sprite->table.begin(), sprite->table.end(), c) == sprite->table.end()) {
            errors.push_back("backdrop.bmp: colour of index " + std::to_string(p) + " is not in the sprite's table");
            return;
        }
        if (c.r != c.g || c.g != c.b || c.r > kBackdropMaxGrey) {
            errors.push_back("backdrop.bmp: index " + std::to_string(p) + " is not a dark grey");
            return;
        }
        levels.insert(c.r);
    }
    if (levels.size() < 24) errors.push_back("backdrop.bmp: too few shades; it looks flat");
}

bool CheckIco(const std::vector<uint8_t>& f, std::string& error) {
    auto get16 = [&](size_t at) { return static_cast<uint32_t>(f[at] | (f[at + 1] << 8)); };
    auto get32 = [&](size_t at) { return get16(at) | (get16(at + 2) << 16); };
    if (f.size() < 6 || get16(0) != 0 || get16(2) != 1 || get16(4) != 2 || f.size() < 6 + 32) {
        error = "not an icon file with two images";
        return false;
    }
    std::set<int> sizes;
    for (int i = 0; i < 2; ++i) {
        size_t e = 6 + 16 * static_cast<size_t>(i);
        int size = f[e];
        uint32_t bytes = get32(e + 8), offset = get32(e + 12);
        if (f[e + 1] != size || get16(e + 6) != 8 || offset > f.size() || f.size() - offset < bytes || bytes < 40) {
            error = "icon directory entry " + std::to_string(i) + " is inconsistent";
            return false;
        }
        int xorStride = (size + 3) & ~3, andStride = ((size + 31) / 32) * 4;
        if (get32(offset) != 40 || get32(offset + 4) != static_cast<uint32_t>(size) ||
            get32(offset + 8) != static_cast<uint32_t>(size * 2) || get16(offset + 14) != 8 ||
            bytes != 40u + 1024u + static_cast<uint32_t>((xorStride + andStride) * size)) {
            error = "icon image " + std::to_string(i) + " has a bad header";
            return false;
        }
        sizes.insert(size);
    }
    if (sizes != std::set<int>{16, 32}) {
        error = "the icon must hold a 16 x 16 and a 32 x 32 image";
        return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> CheckArt(const FileSet& files) {
    std::vector<std::string> errors;
    std::map<Role, IndexedImage> byRole;
    for (const CatalogueEntry& e : kBitmaps) {
        std::string name = e.file;
        auto it = files.find(name);
        if (it == files.end()) {
            errors.push_back(name + ": missing");
            continue;
        }
        ParsedBmp bmp;
        std::string why;
        if (!ParseBmp(it->second, bmp, why)) {
            errors.push_back(name + ": " + why);
            continue;
        }
        const IndexedImage& im = bmp.image;
        if (im.width != e.width || im.height != e.height)
            errors.push_back(name + ": is " + std::to_string(im.width) + " x " + std::to_string(im.height) + ", not " +
                             std::to_string(e.width) + " x " + std::to_string(e.height));
        if (bmp.colorsUsed != e.colorsUsed)
            errors.push_back(name + ": header gives " + std::to_string(bmp.colorsUsed) + " colours, not " +
                             std::to_string(e.colorsUsed));
        if (bmp.reservedBytes.size() != 256 ||
            std::any_of(bmp.reservedBytes.begin(), bmp.reservedBytes.end(), [](uint8_t b) { return b != 0; }))
            errors.push_back(name + ": the colour table needs 256 entries with reserved bytes 0");
        if (e.role == Role::Slideshow && DistinctIndices(im) <= 100)
            errors.push_back(name + ": uses too few colours for a picture");
        if (e.role == Role::Dialog && DistinctIndices(im) <= 32) errors.push_back(name + ": uses too few colours for a picture");
        if (e.role != Role::Slideshow && e.role != Role::Dialog) byRole[e.role] = im;
    }
    const IndexedImage* sprite = byRole.count(Role::Sprite) ? &byRole[Role::Sprite] : nullptr;
    if (sprite) CheckSprite(*sprite, errors);
    if (byRole.count(Role::Mask)) CheckMask(byRole[Role::Mask], sprite, errors);
    if (byRole.count(Role::Backdrop)) CheckBackdrop(byRole[Role::Backdrop], sprite, errors);

    auto ico = files.find(kIconFile);
    std::string why;
    if (ico == files.end()) errors.push_back(std::string(kIconFile) + ": missing");
    else if (!CheckIco(ico->second, why)) errors.push_back(std::string(kIconFile) + ": " + why);

    auto sheet = files.find(kSheetFile);
    static const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (sheet == files.end()) errors.push_back(std::string(kSheetFile) + ": missing");
    else if (sheet->second.size() < 8 || !std::equal(kPngSignature, kPngSignature + 8, sheet->second.begin()))
        errors.push_back(std::string(kSheetFile) + ": not a PNG file");
    else if (sheet->second.size() > kSheetLimit)
        errors.push_back(std::string(kSheetFile) + ": larger than 2 MB");
    return errors;
}

}  // namespace artgen
