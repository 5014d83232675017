// Reading the GPU's containers back for the checking tools: one level of a DDS or KTX2
// texture as samples, block-compressed levels (BC1 to BC5) decoded. It reads every file the
// texture writers make (generator/output/dds_encoder.cpp, ktx2_encoder.cpp) and the nearest
// kin that other tools write: DX10 headers of the same formats, BC4U and BC5U, 8-bit masks in
// any byte order, the _UNORM and _SRGB variants.
#pragma once

#include <cstddef>
#include <cstdint>

#include "texture_views.h"  // SamplePicture

// Level `level` (0: the largest) of the DDS or KTX2 file in `bytes`, as samples: 8-bit, 16-bit
// or float (half floats made float), the file's channels (a BC1 texture RGB, BC3 RGBA, BC4
// grey, BC5 two channels). False if the file is not one this reader takes, is cut short, or
// has no such level.
bool readTextureContainer(const unsigned char* bytes, std::size_t size, unsigned level, SamplePicture& picture);

// Level 0 of the file at `path`.
bool readTextureContainerFile(const char* path, SamplePicture& picture);

// One 4 × 4 block decoded into 16 texels, row by row: BC1 and BC3's colour block (red,
// green, blue, alpha each; `threeColours` lets BC1's blocks whose first colour is not the
// greater one have three colours and transparent black, as BC1 alone does), and the 8-bit
// channel block of BC3's alpha and BC4 and BC5.
void decodeColourBlock(const unsigned char* block, bool threeColours, unsigned char (&texels)[16][4]);
void decodeChannelBlock(const unsigned char* block, unsigned char (&texels)[16]);
