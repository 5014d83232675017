// KTX2: the identifier, the header (the Vulkan format, the sides, the number of levels, no
// supercompression), the index of the sections and of the levels, a basic data format
// descriptor, one key/value pair (KTXwriter), then the levels from the smallest up, each
// its rows (or rows of 4 × 4 blocks) tightly packed and started on a multiple of its texel
// block's size and 4.
//
// The formats are those three.js's KTX2Loader uploads as they are, without a transcoder, so
// that every KTX2 file written here opens in the viewer:
//   8-bit grey, grey and alpha  R8_UNORM, R8G8_UNORM (alpha in green): linear data, such
//                               as heights and masks
//   8-bit RGB, RGBA             R8G8B8A8_SRGB (RGB with opaque alpha: there is no RGB8
//                               format three.js takes): colour is sRGB-encoded
//   16-bit RGB, RGBA            R16G16B16A16_UNORM (RGB with opaque alpha); 16-bit grey is
//                               refused, three.js takes no R16 or R16G16 format
//   float                       R32_SFLOAT, R32G32_SFLOAT, R32G32B32A32_SFLOAT; half floats
//                               R16_SFLOAT, R16G16_SFLOAT, R16G16B16A16_SFLOAT; RGB with alpha 1
//   BC1, BC3                    BC1_RGB_SRGB_BLOCK, BC3_SRGB_BLOCK (colour, sRGB-encoded)
//   BC4, BC5                    BC4_UNORM_BLOCK, BC5_UNORM_BLOCK (data)
// The descriptor is what Khronos's dfdutils makes of each format: BT.709 primaries, the sRGB
// transfer function for the _SRGB formats (their alpha sample marked linear) and the linear
// one for the rest, straight alpha, one sample a channel or, for blocks, one a 64-bit half.
#include <algorithm>
#include <limits>

#include "encoder_parts.h"

namespace output {

namespace {

constexpr unsigned char kIdentifier[12] = {0xAB, 'K', 'T', 'X', ' ', '2', '0', 0xBB, '\r', '\n', 0x1A, '\n'};
constexpr char kWriter[] = "Orbilune";

constexpr std::uint32_t kModelRgbsda = 1, kModelBc1a = 128, kModelBc3 = 130, kModelBc4 = 131, kModelBc5 = 132;
constexpr std::uint32_t kPrimariesBt709 = 1, kTransferLinear = 1, kTransferSrgb = 2;
constexpr std::uint32_t kChannelAlpha = 15;
constexpr std::uint32_t kQualifierLinear = 0x10, kQualifierSigned = 0x40, kQualifierFloat = 0x80;
constexpr std::uint32_t kFloatOne = 0x3F800000, kFloatMinusOne = 0xBF800000;

// Vulkan's numbers of the formats written.
enum VkFormat : std::uint32_t {
    kR8Unorm = 9,
    kR8G8Unorm = 16,
    kR8G8B8A8Srgb = 43,
    kR16G16B16A16Unorm = 91,
    kR16Sfloat = 76,
    kR16G16Sfloat = 83,
    kR16G16B16A16Sfloat = 97,
    kR32Sfloat = 100,
    kR32G32Sfloat = 103,
    kR32G32B32A32Sfloat = 109,
    kBc1RgbSrgb = 132,
    kBc3Srgb = 138,
    kBc4Unorm = 139,
    kBc5Unorm = 141,
};

struct Sample {
    std::uint32_t bitOffset, bitLength, channel, lower, upper;
};

void putDescriptor(Bytes& file, std::uint32_t model, std::uint32_t transfer, std::uint32_t blockSide,
                   std::uint32_t blockBytes, const Sample* samples, std::size_t count)
{
    const auto blockSize = static_cast<std::uint32_t>(24 + 16 * count);
    put32le(file, 4 + blockSize);  // dfdTotalSize
    put32le(file, 0);              // Khronos, basic descriptor
    put32le(file, 2 | blockSize << 16);  // version 1.3, the block's size
    put32le(file, model | kPrimariesBt709 << 8 | transfer << 16);  // straight alpha
    put32le(file, (blockSide - 1) | (blockSide - 1) << 8);
    put32le(file, blockBytes);  // plane 0; planes 1 to 7 empty
    put32le(file, 0);
    for (const Sample* sample = samples; sample != samples + count; ++sample) {
        put32le(file, sample->bitOffset | (sample->bitLength - 1) << 16 | sample->channel << 24);
        put32le(file, 0);  // sample position
        put32le(file, sample->lower);
        put32le(file, sample->upper);
    }
}

}  // namespace

bool encodeKtx2(const SampleImage* levels, std::size_t count, const ChainEncoding& encoding, Bytes& file)
{
    const SampleLayout layout = levels[0].layout;
    const unsigned channels = layout.channels;
    const TextureCompression compression = encoding.compression;
    const bool compressed = compression != TextureCompression::None;
    TexelStorage storage{channels == 3 ? 4u : channels, encoding.half, false};
    std::uint32_t vkFormat = 0, model = kModelRgbsda, transfer = kTransferLinear, typeSize = 1;
    Sample samples[4] = {};
    std::size_t sampleCount = 1;
    if (compressed) {
        static constexpr std::uint32_t kFormats[] = {0, kBc1RgbSrgb, kBc3Srgb, kBc4Unorm, kBc5Unorm};
        static constexpr std::uint32_t kModels[] = {0, kModelBc1a, kModelBc3, kModelBc4, kModelBc5};
        const auto which = static_cast<std::size_t>(compression);
        vkFormat = kFormats[which];
        model = kModels[which];
        transfer = compression == TextureCompression::Bc1 || compression == TextureCompression::Bc3 ? kTransferSrgb
                                                                                                    : kTransferLinear;
        // BC3: alpha in the first 64 bits, colour in the next; BC5: red, then green.
        samples[0] = {0, 64, 0, 0, 0xFFFFFFFF};
        if (compression == TextureCompression::Bc3) {
            samples[0].channel = kChannelAlpha | kQualifierLinear;
            samples[1] = {64, 64, 0, 0, 0xFFFFFFFF};
            sampleCount = 2;
        } else if (compression == TextureCompression::Bc5) {
            samples[1] = {64, 64, 1, 0, 0xFFFFFFFF};
            sampleCount = 2;
        }
    } else {
        const bool floats = layout.type == SampleType::F32;
        const auto size = static_cast<std::uint32_t>(sampleBytes(layout.type));
        const std::uint32_t bits = floats && encoding.half ? 16 : 8 * size;
        typeSize = bits / 8;
        switch (layout.type) {
        case SampleType::U8:
            vkFormat = channels == 1 ? kR8Unorm : channels == 2 ? kR8G8Unorm : kR8G8B8A8Srgb;
            transfer = channels >= 3 ? kTransferSrgb : kTransferLinear;
            break;
        case SampleType::U16:
            if (channels < 3)
                return false;
            vkFormat = kR16G16B16A16Unorm;
            break;
        case SampleType::F32: {
            static constexpr std::uint32_t kFloats[5] = {0, kR32Sfloat, kR32G32Sfloat, kR32G32B32A32Sfloat,
                                                         kR32G32B32A32Sfloat};
            static constexpr std::uint32_t kHalves[5] = {0, kR16Sfloat, kR16G16Sfloat, kR16G16B16A16Sfloat,
                                                         kR16G16B16A16Sfloat};
            vkFormat = (encoding.half ? kHalves : kFloats)[channels];
            break;
        }
        case SampleType::I16:
            return false;
        }
        for (std::uint32_t c = 0; c < storage.channels; ++c) {
            Sample sample{c * bits, bits, c == 3 ? kChannelAlpha : c, 0, bits == 32 ? 0xFFFFFFFF : (1u << bits) - 1};
            if (floats) {
                sample.channel |= kQualifierFloat | kQualifierSigned;
                sample.lower = kFloatMinusOne;
                sample.upper = kFloatOne;
            } else if (transfer == kTransferSrgb && c == 3) {
                sample.channel |= kQualifierLinear;  // alpha is never sRGB-encoded
            }
            samples[c] = sample;
        }
        sampleCount = storage.channels;
    }
    const std::size_t texelBlock = compressed ? blockBytes(compression) : storedTexelBytes(layout, storage);
    const std::size_t alignment = std::max<std::size_t>(4, texelBlock);  // their least common multiple
    std::vector<std::uint64_t> levelBytes(count);
    std::uint64_t total = 0;
    for (std::size_t k = 0; k < count; ++k) {
        levelBytes[k] = compressed ? blockLevelBytes(levels[k].width, levels[k].height, compression)
                                   : std::uint64_t{texelBlock} * levels[k].width * levels[k].height;
        total += levelBytes[k] + alignment;
    }
    if (total > std::numeric_limits<std::size_t>::max() / 2)
        return false;

    file.clear();
    putBytes(file, kIdentifier, sizeof kIdentifier);
    for (const std::uint32_t value : {vkFormat, typeSize, levels[0].width, levels[0].height, 0u /* depth */,
                                      0u /* not an array */, 1u /* faces */, static_cast<std::uint32_t>(count),
                                      0u /* no supercompression */})
        put32le(file, value);
    const std::size_t index = file.size();
    file.resize(index + 32 + 24 * count, 0);  // the index and the level index, filled below

    const std::size_t descriptor = file.size();
    putDescriptor(file, model, transfer, compressed ? 4 : 1, static_cast<std::uint32_t>(texelBlock), samples,
                  sampleCount);
    const std::size_t keys = file.size();
    put32le(file, sizeof "KTXwriter" + sizeof kWriter);
    putBytes(file, "KTXwriter", sizeof "KTXwriter");
    putBytes(file, kWriter, sizeof kWriter);
    file.resize((file.size() + 3) / 4 * 4, 0);
    store32le(file.data() + index, static_cast<std::uint32_t>(descriptor));
    store32le(file.data() + index + 4, static_cast<std::uint32_t>(keys - descriptor));
    store32le(file.data() + index + 8, static_cast<std::uint32_t>(keys));
    store32le(file.data() + index + 12, static_cast<std::uint32_t>(file.size() - keys));
    // No supercompression global data: offset and length 0.

    file.reserve(file.size() + static_cast<std::size_t>(total));
    for (std::size_t k = count; k-- > 0;) {
        file.resize((file.size() + alignment - 1) / alignment * alignment, 0);
        const std::size_t at = file.size();
        file.resize(at + static_cast<std::size_t>(levelBytes[k]));
        if (compressed)
            compressBlocks(levels[k], compression, encoding.threads, file.data() + at);
        else
            storeTexels(levels[k], storage, encoding.threads, file.data() + at);
        unsigned char* entry = file.data() + index + 32 + 24 * k;
        store64le(entry, at);
        store64le(entry + 8, levelBytes[k]);
        store64le(entry + 16, levelBytes[k]);
    }
    return true;
}

}  // namespace output
