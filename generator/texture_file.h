// The texture files: their names, their layout, and writing one. Part of the public
// interface.
//
// The design's layout: an uncompressed true-colour TGA image, an 18-byte header (type 2, 24 bits,
// top-left origin, width and height N, no ID, no colour map, no footer), then N rows top to
// bottom of N texels left to right, 3 bytes each: blue, green, red.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr int kTextureCount = 10;  // one per diamond of the icosahedron

// The formats a texture is written in: the design's TGA, and PNG, TIFF and OpenEXR for the
// depths and channels TGA does not hold, and the GPU's containers, DDS and KTX2, which hold a
// texture with its mip levels in one file (generator/output/texture_encoder.h).
enum class TextureFormat { Tga, Png, Tiff, Exr, Dds, Ktx2 };

struct TextureFormatName {
    TextureFormat format;
    const char* name;       // as the command line spells it: "tga", "png", "tiff", "exr"
    const char* extension;  // of the files new1<extension> .. new10<extension>
};

// Every format, in the order above.
inline constexpr TextureFormatName kTextureFormats[] = {
    {TextureFormat::Tga, "tga", ".tga"},
    {TextureFormat::Png, "png", ".png"},
    {TextureFormat::Tiff, "tiff", ".tif"},
    {TextureFormat::Exr, "exr", ".exr"},
    {TextureFormat::Dds, "dds", ".dds"},
    {TextureFormat::Ktx2, "ktx2", ".ktx2"},
};

// Whether a format holds a whole mip chain in one file.
constexpr bool holdsMipChain(TextureFormat format)
{
    return format == TextureFormat::Dds || format == TextureFormat::Ktx2;
}

// Block compression of the GPU's containers: none, or BC1 (colour), BC3 (colour and alpha),
// BC4 (one channel: heights, masks), BC5 (two channels: normal maps), BC7 (colour and alpha).
enum class TextureCompression { None, Bc1, Bc3, Bc4, Bc5, Bc7 };
struct TextureCompressionName {
    TextureCompression compression;
    const char* name;  // as the command line spells it
};
inline constexpr TextureCompressionName kTextureCompressions[] = {
    {TextureCompression::None, "none"}, {TextureCompression::Bc1, "bc1"}, {TextureCompression::Bc3, "bc3"},
    {TextureCompression::Bc4, "bc4"},   {TextureCompression::Bc5, "bc5"}, {TextureCompression::Bc7, "bc7"},
};

constexpr const TextureFormatName& textureFormatName(TextureFormat format)
{
    return kTextureFormats[static_cast<int>(format)];
}

// The file name of texture `index` (0 to 9): "new1.tga" .. "new10.tga", or with the
// format's own extension; mip level `level` of it (1 and on, in a format that holds one
// level a file) "new1_mip1.png".
std::string textureFileName(int index, TextureFormat format = TextureFormat::Tga, int level = 0);

constexpr std::size_t kTgaHeaderSize = 18;
// Bits 4 and 5 of the header's last byte: the picture's origin.
constexpr unsigned kTgaRightToLeft = 0x10;
constexpr unsigned kTgaTopDown = 0x20;

// Writes the 18-byte header of an uncompressed width × height picture (sides up to 65535),
// top-left origin, no ID, no colour map: of 24-bit texels (blue, green, red), the textures'
// layout, or by `channels` of 8-bit grey (1) or 32-bit texels (4: blue, green, red, alpha).
// Inline, so that the texture writers (generator/output/) share it without linking the
// generator.
inline void writeTgaHeader(unsigned char* header, std::uint32_t width, std::uint32_t height, unsigned channels = 3)
{
    const unsigned char bytes[kTgaHeaderSize] = {
        0,                                                  // no image ID
        0,                                                  // no colour map
        static_cast<unsigned char>(channels == 1 ? 3 : 2),  // uncompressed grey, or true-colour
        0, 0,                                               // colour map first entry
        0, 0,                                               // colour map length
        0,                                                  // colour map entry size
        0, 0,                                               // x origin
        0, 0,                                               // y origin
        static_cast<unsigned char>(width & 0xFF), static_cast<unsigned char>(width >> 8),
        static_cast<unsigned char>(height & 0xFF), static_cast<unsigned char>(height >> 8),
        static_cast<unsigned char>(8 * channels),  // bits per pixel
        // Top-left origin; the alpha bits of each texel (none, or 8).
        static_cast<unsigned char>(kTgaTopDown | (channels == 4 ? 8 : 0)),
    };
    for (std::size_t i = 0; i < kTgaHeaderSize; ++i)
        header[i] = bytes[i];
}

// 18 + 3 × N × N.
constexpr std::size_t textureImageSize(std::uint32_t faceSize)
{
    return kTgaHeaderSize + 3u * static_cast<std::size_t>(faceSize) * faceSize;
}

enum class TextureFileResult { Written, CouldntCreate, CouldntWrite };

// Creates or truncates `path` and writes the bytes. A short write, or a close that fails
// (the last buffered bytes could not be stored), is CouldntWrite; the partial file stays.
TextureFileResult storeTextureFile(const char* path, const unsigned char* bytes, std::size_t byteCount);

// The message a front end shows for a failed store ("Couldnt create file", "Couldnt write
// to file"); null for Written.
const char* textureFileMessage(TextureFileResult result);
