// The pictures of the saver, each drawn from fixed seeds.
#ifndef ARTGEN_PICTURES_H
#define ARTGEN_PICTURES_H

#include "bitmap.h"

#include <vector>

namespace artgen {

// The slideshow, 640 x 480, each with a table of its own.
IndexedImage TitlePicture();
IndexedImage BattlefieldPicture();
IndexedImage SearchlightPicture();
IndexedImage FortressPicture();

// The bomb phase. The sprite's table is the palette of the whole phase.
ColorTable SpriteTable();
ColorTable MaskTable();
inline constexpr int kSpriteSize = 65;
inline constexpr uint8_t kBombIndex = 17;
inline constexpr int kBackdropMaxGrey = 71;
IndexedImage BombSprite();
IndexedImage BombMask(const IndexedImage& sprite);
IndexedImage Backdrop();

// The dialogs' pictures.
IndexedImage ConfigBanner();  // 128 x 64
IndexedImage AboutPicture();  // 128 x 80

// The icon drawn at any size; the .ico holds 16 x 16 and 32 x 32.
IconImage BombIcon(int size);
std::vector<IconImage> BombIcons();

}  // namespace artgen

#endif
