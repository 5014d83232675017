// DDS: the magic "DDS ", the 124-byte header with its pixel format, then every level from
// the largest down, each its rows (or rows of 4 × 4 blocks) tightly packed.
//
// The pixel format is the legacy one wherever a legacy one exists, as more readers take it:
// OpenImageIO 2.4 reads the legacy forms of 8-bit colour, grey and BC1 to BC5 and refuses
// every DX10 header but BC4's and BC5's, and three.js's DDSLoader reads 24- and 32-bit
// colour, DXT1 and DXT5 alone. So:
//   8-bit grey          L8 (luminance mask 0xFF)
//   8-bit grey, alpha   A8L8 (luminance 0x00FF, alpha 0xFF00)
//   8-bit RGB           24-bit RGB masks, blue first in memory (R8G8B8)
//   8-bit RGBA          32-bit masks, blue first (A8R8G8B8)
//   16-bit grey         L16 (luminance mask 0xFFFF; OpenImageIO reads it cut to 8 bits)
//   16-bit grey, alpha  DX10 R16G16_UNORM, grey in red and alpha in green: the legacy G16R16
//                       masks would do, but OpenImageIO 2.4 never returns from such a file
//   16-bit RGB(A)       D3DFMT_A16B16G16R16 (36), RGB with opaque alpha
//   float               D3DFMT_R32F, G32R32F, A32B32G32R32F (114 to 116); half floats
//                       R16F, G16R16F, A16B16G16R16F (111 to 113); RGB with alpha 1
//   BC1 BC3 BC4 BC5     DXT1, DXT5, ATI1, ATI2
// The legacy header names no colour space: 8-bit colour is sRGB-encoded, as the textures
// are everywhere else. Readers find each level's size by halving the one before (rounded
// down, at least 1), as encodeTextureChain has checked.
#include <algorithm>
#include <limits>

#include "encoder_parts.h"

namespace output {

namespace {

constexpr std::uint32_t kCaps = 0x1, kHeight = 0x2, kWidth = 0x4, kPitch = 0x8, kPixelFormat = 0x1000,
                        kMipMapCount = 0x20000, kLinearSize = 0x80000;
constexpr std::uint32_t kAlphaPixels = 0x1, kFourCc = 0x4, kRgb = 0x40, kLuminance = 0x20000;
constexpr std::uint32_t kComplex = 0x8, kTexture = 0x1000, kMipMap = 0x400000;
constexpr std::uint32_t kDxgiR16G16Unorm = 35, kTexture2d = 3;

constexpr std::uint32_t fourCc(const char (&code)[5])
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3])) << 24;
}

// The header's pixel format: flags, four-character code, bits a texel, the four masks.
struct PixelFormat {
    std::uint32_t flags, fourCc, bits, red, green, blue, alpha;
};

}  // namespace

bool encodeDds(const SampleImage* levels, std::size_t count, const ChainEncoding& encoding, Bytes& file)
{
    const SampleLayout layout = levels[0].layout;
    const unsigned channels = layout.channels;
    const TextureCompression compression = encoding.compression;
    const bool compressed = compression != TextureCompression::None;
    TexelStorage storage{channels, encoding.half, false};
    PixelFormat format{};
    bool dx10 = false;
    switch (compression) {
    case TextureCompression::Bc1:
        format = {kFourCc, fourCc("DXT1"), 0, 0, 0, 0, 0};
        break;
    case TextureCompression::Bc3:
        format = {kFourCc, fourCc("DXT5"), 0, 0, 0, 0, 0};
        break;
    case TextureCompression::Bc4:
        format = {kFourCc, fourCc("ATI1"), 0, 0, 0, 0, 0};
        break;
    case TextureCompression::Bc5:
        format = {kFourCc, fourCc("ATI2"), 0, 0, 0, 0, 0};
        break;
    default:
        break;
    }
    if (!compressed) {
        switch (layout.type) {
        case SampleType::U8: {
            static constexpr PixelFormat kFormats[5] = {
                {},
                {kLuminance, 0, 8, 0xFF, 0, 0, 0},
                {kLuminance | kAlphaPixels, 0, 16, 0xFF, 0, 0, 0xFF00},
                {kRgb, 0, 24, 0xFF0000, 0xFF00, 0xFF, 0},
                {kRgb | kAlphaPixels, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000},
            };
            format = kFormats[channels];
            storage.blueFirst = true;
            break;
        }
        case SampleType::U16:
            if (channels == 1) {
                format = {kLuminance, 0, 16, 0xFFFF, 0, 0, 0};
            } else if (channels == 2) {
                format = {kFourCc, fourCc("DX10"), 0, 0, 0, 0, 0};
                dx10 = true;
            } else {
                format = {kFourCc, 36, 0, 0, 0, 0, 0};
                storage.channels = 4;
            }
            break;
        case SampleType::F32: {
            static constexpr std::uint32_t kCodes[5] = {0, 114, 115, 116, 116};
            format = {kFourCc, kCodes[channels] - (encoding.half ? 3 : 0), 0, 0, 0, 0, 0};
            storage.channels = channels == 3 ? 4 : channels;
            break;
        }
        case SampleType::I16:
            return false;
        }
    }

    const std::size_t texelSize = storedTexelBytes(layout, storage);
    std::uint64_t total = 0;
    for (std::size_t k = 0; k < count; ++k)
        total += compressed ? blockLevelBytes(levels[k].width, levels[k].height, compression)
                            : std::uint64_t{texelSize} * levels[k].width * levels[k].height;
    const std::size_t headerBytes = 4 + 124 + (dx10 ? 20 : 0);
    if (total > std::numeric_limits<std::size_t>::max() - headerBytes)
        return false;

    file.clear();
    file.reserve(headerBytes + static_cast<std::size_t>(total));
    putBytes(file, "DDS ", 4);
    put32le(file, 124);
    put32le(file, kCaps | kHeight | kWidth | kPixelFormat | kMipMapCount | (compressed ? kLinearSize : kPitch));
    put32le(file, levels[0].height);
    put32le(file, levels[0].width);
    // The pitch of the largest level's rows, or the size of its blocks.
    const std::uint64_t pitchOrSize = compressed ? blockLevelBytes(levels[0].width, levels[0].height, compression)
                                                 : std::uint64_t{texelSize} * levels[0].width;
    put32le(file, static_cast<std::uint32_t>(std::min<std::uint64_t>(pitchOrSize, 0xFFFFFFFF)));
    put32le(file, 0);  // depth
    put32le(file, static_cast<std::uint32_t>(count));
    file.resize(file.size() + 11 * 4, 0);  // reserved
    put32le(file, 32);
    for (const std::uint32_t value : {format.flags, format.fourCc, format.bits, format.red, format.green, format.blue,
                                      format.alpha})
        put32le(file, value);
    put32le(file, kTexture | (count > 1 ? kComplex | kMipMap : 0));
    file.resize(file.size() + 4 * 4, 0);  // caps 2 to 4, reserved
    if (dx10) {
        put32le(file, kDxgiR16G16Unorm);
        put32le(file, kTexture2d);
        put32le(file, 0);  // no flags: not a cube map
        put32le(file, 1);  // one texture, not an array
        put32le(file, 0);  // the alpha mode unknown: alpha is the green channel here
    }
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t at = file.size();
        if (compressed) {
            file.resize(at + static_cast<std::size_t>(blockLevelBytes(levels[k].width, levels[k].height, compression)));
            compressBlocks(levels[k], compression, encoding.threads, file.data() + at);
        } else {
            file.resize(at + texelSize * levels[k].width * levels[k].height);
            storeTexels(levels[k], storage, encoding.threads, file.data() + at);
        }
    }
    return true;
}

}  // namespace output
