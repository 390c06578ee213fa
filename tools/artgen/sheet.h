// One PNG with every picture, labelled, for people to look at.
#ifndef ARTGEN_SHEET_H
#define ARTGEN_SHEET_H

#include <map>
#include <vector>

#include "bitmap.h"

namespace artgen {

std::vector<uint8_t> ContactSheet(const std::map<int, IndexedImage>& bitmaps, const std::vector<IconImage>& icons);

}  // namespace artgen

#endif
