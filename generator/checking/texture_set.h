// The ten textures of a folder, read back by direction: the inverse of the rasteriser.
// Texel (r, c) of diamond k holds the map's colour at (u, v) = (c / N, r / N) of the
// diamond (its top-left corner); a read in between blends the texels around it, and one
// past the last row or column reads samples on the far edges made from both diamonds that
// meet there, so reads run across every edge and the poles without a seam.
#pragma once

#include <cstdint>
#include <vector>

#include "icosa_diamonds.h"
#include "texture_views.h"

struct TextureSet {
    std::uint32_t faceSize = 0;
    std::vector<std::uint8_t> texels[kDiamondCount];  // N × N × 3: red, green, blue
    // The samples at u = 1 (rows 0 to N) and at v = 1 (columns 0 to N − 1), each the mean of
    // the texels next to the edge on both sides.
    std::vector<std::uint8_t> farColumn[kDiamondCount];
    std::vector<std::uint8_t> farRow[kDiamondCount];
};

// Loads new1.tga .. new10.tga from `folder` (uncompressed or run-length TGA, 24 or 32 bits,
// either origin). Reports a failure and returns 0.
int loadTextureSet(const char* folder, TextureSet& set);

// The colour the textures hold in the direction (x, y, z), which need not be of unit length.
void readTextureSet(const TextureSet& set, double x, double y, double z, TextureRead read, std::uint8_t (&rgb)[3]);

// Reads one TGA picture as RGB; false if it is not one this reader takes.
bool readTgaFile(const char* path, RgbPicture& picture);
