// The texture writers: one finished texture, a picture of samples in memory, made into the
// whole bytes of a TGA, PNG, TIFF or OpenEXR file, or a texture with its mip levels in a
// DDS or KTX2 file. Portable C++17, the same bytes on every platform (only zlib and
// stb_dxt beneath, the same versions everywhere).
//
// What each format holds (formatRefusal says it to the user):
//   TGA   8-bit grey, RGB and RGBA (not grey with alpha)
//   PNG   8- and 16-bit unsigned samples, 1 to 4 channels
//   TIFF  8- and 16-bit unsigned, signed 16-bit and 32-bit float samples, 1 to 4 channels
//   EXR   half or 32-bit float, made from float samples, 1 to 4 channels (Y, Y A, R G B,
//         R G B A)
//   DDS   8-bit and float (or half float) samples, 1 to 4 channels; 16-bit samples, 1 to 4
//         channels (RGB as RGBA); block-compressed 8-bit samples: BC1 RGB, BC3 RGBA, BC4
//         grey, BC5 grey and alpha (dds_encoder.cpp tells each header)
//   KTX2  as DDS, but 16-bit samples as RGB or RGBA alone; RGB is stored as RGBA with opaque
//         alpha (ktx2_encoder.cpp tells each Vulkan format)
// BC7 is not written (no encoder for it is at hand), nor signed 16-bit samples in DDS or
// KTX2.
#pragma once

#include <cstdint>
#include <vector>

#include "samples.h"
#include "texture_file.h"  // TextureFormat

// Null when `format` holds textures of `layout` (as half floats, when `half`: OpenEXR, DDS
// and KTX2, from float samples), block-compressed as asked (DDS and KTX2 alone); otherwise
// the message that tells the user why not and which formats would. Called before anything
// is read, so that no run is started that cannot be written.
const char* formatRefusal(TextureFormat format, SampleLayout layout, bool half,
                          TextureCompression compression = TextureCompression::None);

// Makes the whole file of `image` in `file` (replacing what it held). False only for what
// no file can be made of: a layout the format refuses, no samples, rows shorter than a
// row of texels, or sides beyond the format's (65535 texels for TGA). TIFF and OpenEXR
// files are compressed piece by piece on up to `threads` threads (0: one a core), to the
// same bytes.
bool encodeTexture(TextureFormat format, const SampleImage& image, bool half, std::vector<unsigned char>& file,
                   unsigned threads = 1);

// How a container's levels are stored.
struct ChainEncoding {
    bool half = false;  // float samples stored as half floats
    TextureCompression compression = TextureCompression::None;
    unsigned threads = 1;  // threads that compress (0: one a core); the bytes never depend on it
};

// Makes the whole file of a texture with its mip levels in a container that holds a chain
// (holdsMipChain: DDS, KTX2): levels[0] the largest, each next one half its side (rounded
// down, at least 1) plus the same border, `count` of them (1: the texture alone). False for
// what no file can be made of, as encodeTexture.
bool encodeTextureChain(TextureFormat format, const SampleImage* levels, std::size_t count,
                        const ChainEncoding& encoding, std::vector<unsigned char>& file);

// The 16-bit half float nearest `value` (ties to the even one), infinity beyond the largest
// half (65504), subnormal halves below 2^-14, NaN kept a NaN; the sign is kept, zeros too.
std::uint16_t floatToHalf(float value);
