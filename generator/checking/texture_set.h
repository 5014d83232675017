// The ten textures of a folder, read back by direction: the inverse of the rasteriser.
// Texel (r, c) of diamond k holds the map's value at (u, v) = (c / N, r / N) of the diamond
// (its top-left corner); a read in between blends the texels around it, and one past the
// last row or column reads samples on the far edges made from both diamonds that meet
// there, so reads run across every edge and the poles without a seam.
//
// The textures may be of any format, depth and channels the generator writes (all ten
// alike); values come back in their samples' own units (samples.h).
#pragma once

#include <cstdint>
#include <vector>

#include "icosa_diamonds.h"
#include "samples.h"
#include "texture_file.h"
#include "texture_views.h"

struct TextureSet {
    std::uint32_t faceSize = 0;
    TextureFormat format = TextureFormat::Tga;  // the files': new1<ext> .. new10<ext>
    SampleLayout layout;                        // what each texel holds
    // N × N texels of `layout.channels` samples each, packed in their own type, in order.
    std::vector<unsigned char> texels[kDiamondCount];
    // The samples at u = 1 (rows 0 to N) and at v = 1 (columns 0 to N − 1), each the mean of
    // the texels next to the edge on both sides.
    std::vector<float> farColumn[kDiamondCount];
    std::vector<float> farRow[kDiamondCount];
    float low = 0, high = 0;  // the first channel's least and greatest value
};

// Loads new1 .. new10 from `folder`, in the first format of kTextureFormats whose new1
// is there (TGA: uncompressed or run-length, grey, 24 or 32 bits, either origin; PNG, TIFF,
// OpenEXR as the picture loader keeps them; DDS and KTX2 their first level, through the
// container reader). Reports a failure and returns 0: messages::kTexturesMissing when the
// ten files of no one format (.tga .png .tif .exr .dds .ktx2) are there.
int loadTextureSet(const char* folder, TextureSet& set);

// The values the textures hold in the direction (x, y, z), which need not be of unit
// length: the nearest sample, or the blend of the four around it.
void readTextureSet(const TextureSet& set, double x, double y, double z, TextureRead read, double (&values)[4]);

// Reads one TGA picture, of 8-bit grey, RGB or RGBA; false if it is not one this reader
// takes.
bool readTgaFile(const char* path, SamplePicture& picture);
