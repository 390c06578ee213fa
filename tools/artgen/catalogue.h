// What the generator makes: file names, resource identifiers and the shape
// each picture must have.
#ifndef ARTGEN_CATALOGUE_H
#define ARTGEN_CATALOGUE_H

#include <cstdint>

namespace artgen {

enum class Role { Slideshow, Sprite, Backdrop, Mask, Dialog };

struct CatalogueEntry {
    int id;
    const char* file;
    const char* label;
    int width, height;
    Role role;
    uint32_t colorsUsed;  // as the header states it; 0 means all 256
};

inline constexpr CatalogueEntry kBitmaps[] = {
    {117, "title.bmp", "TITLE", 640, 480, Role::Slideshow, 256},
    {119, "battlefield.bmp", "BATTLEFIELD", 640, 480, Role::Slideshow, 256},
    {120, "searchlights.bmp", "SEARCHLIGHTS", 640, 480, Role::Slideshow, 256},
    {138, "fortress.bmp", "FORTRESS", 640, 480, Role::Slideshow, 0},
    {118, "bomb.bmp", "BOMB", 65, 65, Role::Sprite, 256},
    {128, "backdrop.bmp", "BACKDROP", 640, 480, Role::Backdrop, 256},
    {130, "bomb_mask.bmp", "MASK", 65, 65, Role::Mask, 256},
    {124, "config_banner.bmp", "SETUP", 128, 64, Role::Dialog, 256},
    {125, "about.bmp", "ABOUT", 128, 80, Role::Dialog, 256},
};

inline constexpr int kIconId = 139;
inline constexpr const char* kIconFile = "bomb.ico";
inline constexpr const char* kSheetFile = "contact-sheet.png";
// The sheet is for people; it must stay small enough to commit and mail.
inline constexpr size_t kSheetLimit = 2u * 1024 * 1024;

}  // namespace artgen

#endif
