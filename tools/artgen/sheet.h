// PNG output: the contact sheet, one PNG with every picture, labelled, for
// people to look at, and the icon for desktops that take PNG icons.
#ifndef ARTGEN_SHEET_H
#define ARTGEN_SHEET_H

#include <map>
#include <vector>

#include "bitmap.h"

namespace artgen {

// Rows top-down, 3 (RGB) or 4 (RGBA) bytes a pixel.
std::vector<uint8_t> WritePng(int width, int height, int channels, const std::vector<uint8_t>& pixels);
// Transparent pixels get alpha 0, all others 255.
std::vector<uint8_t> IconPng(const IconImage& icon);

std::vector<uint8_t> ContactSheet(const std::map<int, IndexedImage>& bitmaps, const std::vector<IconImage>& icons);

}  // namespace artgen

#endif
