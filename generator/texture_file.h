// The texture files: their names, their layout, and writing one. Part of the public
// interface.
//
// Layout: an uncompressed true-colour TGA image, an 18-byte header (type 2, 24 bits,
// top-left origin, width and height N, no ID, no colour map, no footer), then N rows top to
// bottom of N texels left to right, 3 bytes each: blue, green, red.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr int kTextureCount = 10;  // one per diamond of the icosahedron

// The file name of texture `index` (0 to 9): "new1.tga" .. "new10.tga".
std::string textureFileName(int index);

constexpr std::size_t kTgaHeaderSize = 18;
// Bits 4 and 5 of the header's last byte: the picture's origin.
constexpr unsigned kTgaRightToLeft = 0x10;
constexpr unsigned kTgaTopDown = 0x20;

// Writes the 18-byte header of a width × height picture of 24-bit texels, top-left origin.
void writeTgaHeader(unsigned char* header, std::uint32_t width, std::uint32_t height);

// 18 + 3 × N × N.
constexpr std::size_t textureImageSize(std::uint32_t faceSize)
{
    return kTgaHeaderSize + 3u * static_cast<std::size_t>(faceSize) * faceSize;
}

enum class TextureFileResult { Written, CouldntCreate, CouldntWrite };

// Creates or truncates `path` and writes the bytes. A short write, or a close that fails
// (the last buffered bytes could not be stored), is CouldntWrite; the partial file stays.
TextureFileResult storeTextureFile(const char* path, const unsigned char* bytes, int byteCount);

// The message a front end shows for a failed store ("Couldnt create file", "Couldnt write
// to file"); null for Written.
const char* textureFileMessage(TextureFileResult result);
