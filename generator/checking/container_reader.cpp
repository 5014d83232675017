// DDS and KTX2 read back: the header tells how the texels are stored (a table of the
// formats taken), the level's bytes are found and checked to be all there, and the texels
// are copied out as samples or, for blocks, decoded.
#include "container_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {

enum class Blocks { None, Bc1, Bc3, Bc4, Bc5 };

// How a format stores its texels.
struct Storage {
    SampleType type = SampleType::U8;  // of the samples read (half floats: F32)
    unsigned stored = 0;               // samples a texel in the file
    unsigned channels = 0;             // samples a texel read: the first `channels` stored
    bool half = false;                 // 16-bit floats
    bool blueFirst = false;            // 8-bit colour stored blue, green, red
    Blocks blocks = Blocks::None;
    unsigned order[4] = {0, 1, 2, 3};  // which stored sample each channel is (8-bit masks)
};

std::uint32_t le32(const unsigned char* at)
{
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}
std::uint64_t le64(const unsigned char* at) { return le32(at) | std::uint64_t{le32(at + 4)} << 32; }

float halfToFloat(std::uint32_t half)
{
    const std::uint32_t sign = (half & 0x8000) << 16, exponent = (half >> 10) & 31, mantissa = half & 0x3FF;
    std::uint32_t bits;
    if (exponent == 31) {
        bits = sign | 0x7F800000 | mantissa << 13;
    } else if (exponent != 0) {
        bits = sign | (exponent + 112) << 23 | mantissa << 13;
    } else if (mantissa == 0) {
        bits = sign;
    } else {  // subnormal: normalise the mantissa
        std::uint32_t shift = 0, m = mantissa;
        while ((m & 0x400) == 0) {
            m <<= 1;
            ++shift;
        }
        bits = sign | (113 - shift) << 23 | (m & 0x3FF) << 13;
    }
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}

Storage plain(SampleType type, unsigned stored, unsigned channels, bool half = false)
{
    Storage storage;
    storage.type = type;
    storage.stored = stored;
    storage.channels = channels;
    storage.half = half;
    return storage;
}

Storage blocks(Blocks kind)
{
    static constexpr unsigned kChannels[] = {0, 3, 4, 1, 2};
    Storage storage = plain(SampleType::U8, 0, kChannels[static_cast<int>(kind)]);
    storage.blocks = kind;
    return storage;
}

std::size_t blockBytes(Blocks kind) { return kind == Blocks::Bc1 || kind == Blocks::Bc4 ? 8 : 16; }

// Bytes of a level of width × height texels.
std::uint64_t levelBytes(const Storage& storage, std::uint64_t width, std::uint64_t height)
{
    if (storage.blocks != Blocks::None)
        return (width + 3) / 4 * ((height + 3) / 4) * blockBytes(storage.blocks);
    return width * height * storage.stored * (storage.half ? 2 : sampleBytes(storage.type));
}

// DXGI's formats (the DX10 header) and Vulkan's (KTX2) that this reader takes.
bool dxgiStorage(std::uint32_t format, Storage& storage)
{
    switch (format) {
    case 2: storage = plain(SampleType::F32, 4, 4); return true;   // R32G32B32A32_FLOAT
    case 6: storage = plain(SampleType::F32, 3, 3); return true;   // R32G32B32_FLOAT
    case 10: storage = plain(SampleType::F32, 4, 4, true); return true;  // R16G16B16A16_FLOAT
    case 11: storage = plain(SampleType::U16, 4, 4); return true;  // R16G16B16A16_UNORM
    case 16: storage = plain(SampleType::F32, 2, 2); return true;  // R32G32_FLOAT
    case 28: case 29: storage = plain(SampleType::U8, 4, 4); return true;  // R8G8B8A8_UNORM(_SRGB)
    case 34: storage = plain(SampleType::F32, 2, 2, true); return true;  // R16G16_FLOAT
    case 35: storage = plain(SampleType::U16, 2, 2); return true;  // R16G16_UNORM
    case 41: storage = plain(SampleType::F32, 1, 1); return true;  // R32_FLOAT
    case 49: storage = plain(SampleType::U8, 2, 2); return true;   // R8G8_UNORM
    case 54: storage = plain(SampleType::F32, 1, 1, true); return true;  // R16_FLOAT
    case 56: storage = plain(SampleType::U16, 1, 1); return true;  // R16_UNORM
    case 61: storage = plain(SampleType::U8, 1, 1); return true;   // R8_UNORM
    case 71: case 72: storage = blocks(Blocks::Bc1); return true;
    case 77: case 78: storage = blocks(Blocks::Bc3); return true;
    case 80: storage = blocks(Blocks::Bc4); return true;
    case 83: storage = blocks(Blocks::Bc5); return true;
    case 87: case 91:  // B8G8R8A8_UNORM(_SRGB)
        storage = plain(SampleType::U8, 4, 4);
        storage.blueFirst = true;
        return true;
    default: return false;
    }
}

bool vulkanStorage(std::uint32_t format, Storage& storage)
{
    switch (format) {
    case 9: case 15: storage = plain(SampleType::U8, 1, 1); return true;    // R8_UNORM, R8_SRGB
    case 16: case 22: storage = plain(SampleType::U8, 2, 2); return true;   // R8G8_UNORM, _SRGB
    case 23: case 29: storage = plain(SampleType::U8, 3, 3); return true;   // R8G8B8_UNORM, _SRGB
    case 37: case 43: storage = plain(SampleType::U8, 4, 4); return true;   // R8G8B8A8_UNORM, _SRGB
    case 70: storage = plain(SampleType::U16, 1, 1); return true;  // R16_UNORM
    case 77: storage = plain(SampleType::U16, 2, 2); return true;  // R16G16_UNORM
    case 91: storage = plain(SampleType::U16, 4, 4); return true;  // R16G16B16A16_UNORM
    case 76: storage = plain(SampleType::F32, 1, 1, true); return true;  // R16_SFLOAT
    case 83: storage = plain(SampleType::F32, 2, 2, true); return true;  // R16G16_SFLOAT
    case 97: storage = plain(SampleType::F32, 4, 4, true); return true;  // R16G16B16A16_SFLOAT
    case 100: storage = plain(SampleType::F32, 1, 1); return true;  // R32_SFLOAT
    case 103: storage = plain(SampleType::F32, 2, 2); return true;  // R32G32_SFLOAT
    case 106: storage = plain(SampleType::F32, 3, 3); return true;  // R32G32B32_SFLOAT
    case 109: storage = plain(SampleType::F32, 4, 4); return true;  // R32G32B32A32_SFLOAT
    case 131: case 132: storage = blocks(Blocks::Bc1); return true;  // BC1_RGB
    case 133: case 134: storage = blocks(Blocks::Bc1); storage.channels = 4; return true;  // BC1_RGBA
    case 137: case 138: storage = blocks(Blocks::Bc3); return true;
    case 139: storage = blocks(Blocks::Bc4); return true;
    case 141: storage = blocks(Blocks::Bc5); return true;
    default: return false;
    }
}

constexpr std::uint32_t code(const char (&name)[5])
{
    return static_cast<std::uint32_t>(name[0]) | static_cast<std::uint32_t>(name[1]) << 8 |
           static_cast<std::uint32_t>(name[2]) << 16 | static_cast<std::uint32_t>(name[3]) << 24;
}

// The legacy pixel format: a four-character code or D3DFMT number, or masks.
bool ddsStorage(const unsigned char* format, Storage& storage)
{
    const std::uint32_t flags = le32(format + 4), fourCc = le32(format + 8), bits = le32(format + 12);
    const std::uint32_t masks[4] = {le32(format + 16), le32(format + 20), le32(format + 24), le32(format + 28)};
    constexpr std::uint32_t kAlphaPixels = 0x1, kFourCc = 0x4, kRgb = 0x40, kLuminance = 0x20000;
    if ((flags & kFourCc) != 0) {
        switch (fourCc) {
        case code("DXT1"): storage = blocks(Blocks::Bc1); return true;
        case code("DXT5"): storage = blocks(Blocks::Bc3); return true;
        case code("ATI1"): case code("BC4U"): storage = blocks(Blocks::Bc4); return true;
        case code("ATI2"): case code("BC5U"): storage = blocks(Blocks::Bc5); return true;
        case 36: storage = plain(SampleType::U16, 4, 4); return true;  // A16B16G16R16
        case 111: storage = plain(SampleType::F32, 1, 1, true); return true;
        case 112: storage = plain(SampleType::F32, 2, 2, true); return true;
        case 113: storage = plain(SampleType::F32, 4, 4, true); return true;
        case 114: storage = plain(SampleType::F32, 1, 1); return true;
        case 115: storage = plain(SampleType::F32, 2, 2); return true;
        case 116: storage = plain(SampleType::F32, 4, 4); return true;
        default: return false;
        }
    }
    if ((flags & kLuminance) != 0) {
        const bool alpha = (flags & kAlphaPixels) != 0;
        if (bits == 8 && masks[0] == 0xFF && !alpha)
            storage = plain(SampleType::U8, 1, 1);
        else if (bits == 16 && masks[0] == 0xFF && alpha && masks[3] == 0xFF00)
            storage = plain(SampleType::U8, 2, 2);
        else if (bits == 16 && masks[0] == 0xFFFF && !alpha)
            storage = plain(SampleType::U16, 1, 1);
        else
            return false;
        return true;
    }
    if ((flags & kRgb) == 0 || (bits != 24 && bits != 32))
        return false;
    // 8-bit channels in any byte order: each mask a whole byte.
    const unsigned channels = (flags & kAlphaPixels) != 0 && bits == 32 ? 4 : 3;
    storage = plain(SampleType::U8, bits / 8, channels);
    for (unsigned c = 0; c < channels; ++c) {
        unsigned at = 0;
        while (at < bits / 8 && masks[c] != 0xFFu << (8 * at))
            ++at;
        if (at == bits / 8)
            return false;
        storage.order[c] = at;
    }
    return true;
}

// The level's samples from its bytes, which the caller has checked are all there.
void readLevel(const unsigned char* from, const Storage& storage, std::uint32_t width, std::uint32_t height,
               SamplePicture& picture)
{
    const unsigned channels = storage.channels;
    picture.width = width;
    picture.height = height;
    picture.layout = {storage.type, channels};
    picture.samples.assign(std::size_t{width} * height * texelBytes(picture.layout), 0);
    unsigned char* to = picture.samples.data();
    if (storage.blocks != Blocks::None) {
        const std::uint32_t across = (width + 3) / 4, down = (height + 3) / 4;
        const std::size_t bytes = blockBytes(storage.blocks);
        for (std::uint32_t by = 0; by < down; ++by)
            for (std::uint32_t bx = 0; bx < across; ++bx, from += bytes) {
                unsigned char colour[16][4] = {}, first[16] = {}, second[16] = {};
                switch (storage.blocks) {
                case Blocks::Bc1:
                    decodeColourBlock(from, true, colour);
                    break;
                case Blocks::Bc3:
                    decodeChannelBlock(from, first);
                    decodeColourBlock(from + 8, false, colour);
                    for (int i = 0; i < 16; ++i)
                        colour[i][3] = first[i];
                    break;
                case Blocks::Bc4:
                    decodeChannelBlock(from, first);
                    break;
                default:
                    decodeChannelBlock(from, first);
                    decodeChannelBlock(from + 8, second);
                    break;
                }
                for (std::uint32_t i = 0; i < 16; ++i) {
                    const std::uint32_t x = bx * 4 + i % 4, y = by * 4 + i / 4;
                    if (x >= width || y >= height)
                        continue;
                    unsigned char* texel = to + (std::size_t{y} * width + x) * channels;
                    if (storage.blocks == Blocks::Bc4 || storage.blocks == Blocks::Bc5) {
                        texel[0] = first[i];
                        if (channels == 2)
                            texel[1] = second[i];
                    } else {
                        std::memcpy(texel, colour[i], channels);
                    }
                }
            }
        return;
    }
    const std::size_t size = storage.half ? 2 : sampleBytes(storage.type);
    const std::size_t texels = std::size_t{width} * height;
    for (std::size_t i = 0; i < texels; ++i, from += storage.stored * size) {
        for (unsigned c = 0; c < channels; ++c) {
            unsigned source = storage.order[c];
            if (storage.blueFirst && c < 3)
                source = 2 - c;
            const unsigned char* sample = from + source * size;
            if (storage.half) {
                const float value = halfToFloat(sample[0] | static_cast<std::uint32_t>(sample[1]) << 8);
                std::memcpy(to, &value, 4);
                to += 4;
            } else if (size == 1) {
                *to++ = *sample;
            } else if (size == 2) {
                const auto value = static_cast<std::uint16_t>(sample[0] | sample[1] << 8);
                std::memcpy(to, &value, 2);
                to += 2;
            } else {
                const std::uint32_t value = le32(sample);
                std::memcpy(to, &value, 4);
                to += 4;
            }
        }
    }
}

// Sides this reader takes: up to 2^20 texels, so that a level's bytes, counted in 64 bits,
// never wrap round (and must then be in the file before any memory is taken for them).
constexpr std::uint32_t kLargestSide = 1u << 20;

bool readDds(const unsigned char* bytes, std::size_t size, unsigned level, SamplePicture& picture)
{
    if (size < 128 || le32(bytes + 4) != 124 || le32(bytes + 76) != 32)
        return false;
    const std::uint32_t flags = le32(bytes + 8), height = le32(bytes + 12), width = le32(bytes + 16);
    const std::uint32_t levels = (flags & 0x20000) != 0 ? std::max(1u, le32(bytes + 28)) : 1u;
    Storage storage;
    std::size_t offset = 128;
    if (le32(bytes + 84) == code("DX10") && (le32(bytes + 80) & 0x4) != 0) {
        if (size < 148 || !dxgiStorage(le32(bytes + 128), storage) || le32(bytes + 132) != 3 ||
            le32(bytes + 140) > 1)  // a 2D texture, not an array
            return false;
        offset = 148;
    } else if (!ddsStorage(bytes + 76, storage)) {
        return false;
    }
    if (width == 0 || height == 0 || width > kLargestSide || height > kLargestSide || level >= levels ||
        level >= 32)
        return false;
    for (unsigned k = 0; k < level; ++k) {
        const std::uint64_t skip = levelBytes(storage, std::max(1u, width >> k), std::max(1u, height >> k));
        if (skip > size - offset)
            return false;
        offset += static_cast<std::size_t>(skip);
    }
    const std::uint32_t w = std::max(1u, width >> level), h = std::max(1u, height >> level);
    if (levelBytes(storage, w, h) > size - offset)
        return false;
    readLevel(bytes + offset, storage, w, h, picture);
    return true;
}

bool readKtx2(const unsigned char* bytes, std::size_t size, unsigned level, SamplePicture& picture)
{
    static constexpr unsigned char kIdentifier[12] = {0xAB, 'K', 'T', 'X', ' ', '2', '0', 0xBB, '\r', '\n', 0x1A, '\n'};
    if (size < 80 || std::memcmp(bytes, kIdentifier, 12) != 0)
        return false;
    Storage storage;
    const std::uint32_t width = le32(bytes + 20), height = le32(bytes + 24);
    const std::uint32_t levels = std::max(1u, le32(bytes + 40));
    if (!vulkanStorage(le32(bytes + 12), storage) || le32(bytes + 28) != 0 || le32(bytes + 32) > 1 ||
        le32(bytes + 36) != 1 || le32(bytes + 44) != 0)  // 2D, one face, no supercompression
        return false;
    if (width == 0 || height == 0 || width > kLargestSide || height > kLargestSide || level >= levels ||
        level >= 32 || 80 + 24 * std::uint64_t{level + 1} > size)
        return false;
    const unsigned char* entry = bytes + 80 + 24 * std::size_t{level};
    const std::uint64_t offset = le64(entry), length = le64(entry + 8);
    const std::uint32_t w = std::max(1u, width >> level), h = std::max(1u, height >> level);
    if (offset > size || length > size - offset || levelBytes(storage, w, h) > length)
        return false;
    readLevel(bytes + offset, storage, w, h, picture);
    return true;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

void decodeColourBlock(const unsigned char* block, bool threeColours, unsigned char (&texels)[16][4])
{
    const unsigned first = block[0] | block[1] << 8u, second = block[2] | block[3] << 8u;
    unsigned palette[4][4] = {};
    for (int k = 0; k < 2; ++k) {
        const unsigned colour = k == 0 ? first : second;
        const unsigned r = colour >> 11, g = (colour >> 5) & 63, b = colour & 31;
        palette[k][0] = r << 3 | r >> 2;
        palette[k][1] = g << 2 | g >> 4;
        palette[k][2] = b << 3 | b >> 2;
        palette[k][3] = 255;
    }
    const bool four = !threeColours || first > second;
    for (int c = 0; c < 3; ++c) {
        if (four) {
            palette[2][c] = (2 * palette[0][c] + palette[1][c] + 1) / 3;
            palette[3][c] = (palette[0][c] + 2 * palette[1][c] + 1) / 3;
        } else {
            palette[2][c] = (palette[0][c] + palette[1][c]) / 2;
            palette[3][c] = 0;
        }
    }
    palette[2][3] = 255;
    palette[3][3] = four ? 255 : 0;
    const std::uint32_t indices = le32(block + 4);
    for (int i = 0; i < 16; ++i)
        for (int c = 0; c < 4; ++c)
            texels[i][c] = static_cast<unsigned char>(palette[(indices >> (2 * i)) & 3][c]);
}

void decodeChannelBlock(const unsigned char* block, unsigned char (&texels)[16])
{
    const unsigned first = block[0], second = block[1];
    unsigned values[8] = {first, second};
    if (first > second) {
        for (unsigned i = 2; i < 8; ++i)
            values[i] = ((8 - i) * first + (i - 1) * second + 3) / 7;
    } else {
        for (unsigned i = 2; i < 6; ++i)
            values[i] = ((6 - i) * first + (i - 1) * second + 2) / 5;
        values[6] = 0;
        values[7] = 255;
    }
    std::uint64_t indices = 0;
    for (int k = 0; k < 6; ++k)
        indices |= std::uint64_t{block[2 + k]} << (8 * k);
    for (int i = 0; i < 16; ++i)
        texels[i] = static_cast<unsigned char>(values[(indices >> (3 * i)) & 7]);
}

bool readTextureContainer(const unsigned char* bytes, std::size_t size, unsigned level, SamplePicture& picture)
{
    if (size >= 4 && std::memcmp(bytes, "DDS ", 4) == 0)
        return readDds(bytes, size, level, picture);
    return readKtx2(bytes, size, level, picture);
}

bool readTextureContainerFile(const char* path, SamplePicture& picture)
{
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file)
        return false;
    std::vector<unsigned char> bytes;
    unsigned char chunk[1 << 16];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0;)
        bytes.insert(bytes.end(), chunk, chunk + got);
    return std::ferror(file.get()) == 0 && readTextureContainer(bytes.data(), bytes.size(), 0, picture);
}
