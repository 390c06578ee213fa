// Turning a painted canvas into 8-bit indexed pictures.
#ifndef ARTGEN_QUANTIZE_H
#define ARTGEN_QUANTIZE_H

#include "bitmap.h"
#include "raster.h"

namespace artgen {

// A 256-colour table made for the canvas (variance-driven median cut,
// refined by k-means), then the canvas mapped onto it with serpentine
// Floyd-Steinberg diffusion so that skies and glows do not band.
IndexedImage Quantize(const Canvas& canvas);

// Maps the canvas onto a fixed table with the same diffusion, choosing
// among the given entries only.
IndexedImage MapToTable(const Canvas& canvas, const ColorTable& table, const std::vector<int>& allowed);

Rgb8 ToRgb8(Color c);

}  // namespace artgen

#endif
