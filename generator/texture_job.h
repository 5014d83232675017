// Texture generation: one run loads an equirectangular map and hands the ten diamond
// textures new1.tga .. new10.tga, each a complete uncompressed 24-bit TGA image, to a
// FileSink, in order, on the calling thread.
//
// Output format: an 18-byte header (type 2, 24 bits, top-left origin, width = height = N),
// then N rows top to bottom of N texels left to right, 3 bytes each: blue, green, red.
#pragma once

#include <cstddef>
#include <cstdint>

#include "icosa_diamonds.h"
#include "image_object.h"
#include "spherical_lookup.h"

// Receives one finished image: the bare file name (such as "new3.tga"), the whole TGA
// image and its size. Returns 0 to stop the run, anything else to go on.
using FileSink = int (*)(const char* fileName, const unsigned char* bytes, int byteCount);

constexpr int kImagePathCapacity = 1024;
constexpr int kOutputDirCapacity = 260;  // MAX_PATH

// The parameter block of one run, filled by a front end.
struct TextureJob {
    void* owner;                           // owner window of the messages (HWND), or null
    int bilinear;                          // non-zero: sampleBilinear, else sampleNearest
    char imagePath[kImagePathCapacity];    // the source picture
    int faceSize;                          // N: the side of every texture, in texels
    FileSink sink;                         // receives each finished image
    char outputDir[kOutputDirCapacity];    // for the sink; the job never reads it
};

// Runs one job. Returns 1 when all ten images went through the sink, 0 on any failure
// (reported through reportError) or when the sink returned 0.
int runTextureJob(TextureJob& job);

constexpr std::size_t kTgaHeaderSize = 18;

// 18 + 3 × N × N.
constexpr std::size_t textureImageSize(std::uint32_t faceSize)
{
    return kTgaHeaderSize + 3u * static_cast<std::size_t>(faceSize) * faceSize;
}

// Writes the 18-byte TGA header of an N × N texture.
void writeTgaHeader(unsigned char* header, std::uint32_t faceSize);

// The face sizes the generator accepts; the largest keeps a whole image's size in an int.
constexpr int kMaxFaceSize = 16384;
constexpr bool isSupportedFaceSize(int faceSize)
{
    return faceSize >= 1 && faceSize <= kMaxFaceSize;
}

// The system's messages.
namespace messages {
constexpr const char* kImagingStartFailed =
    "Failed to start GDI+, if you're running a version of Windows earlier then Windows 2000 "
    "you need to update your system.";
constexpr const char* kCouldntOpenImage = "Couldnt open image file.";
constexpr const char* kImageTooLarge =
    "The image is too large: there is not enough memory to load it.";
constexpr const char* kNoMemoryForImage = "Not enough memory to load the image.";
constexpr const char* kNoMemoryForTexture = "Not enough memory for the texture buffer.";
constexpr const char* kBadFaceSize = "The texture size must be from 1 to 16384 texels.";
}  // namespace messages
