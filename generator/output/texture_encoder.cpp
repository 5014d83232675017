// What each format holds, the checks made before an image is encoded, and the choice of
// encoder.
//
// The containers are written here by hand over zlib rather than through libpng, libtiff and
// OpenEXR: the Windows build and the Linux build must write byte-identical files, and the
// one compression library that Debian packages for MinGW-w64 is zlib, the same version as
// the system's (1.2.13). Written over it alone, every byte is ours or zlib's on both.
#include "texture_encoder.h"

#include <algorithm>
#include <limits>

#include "encoder_parts.h"

namespace {

// The messages name the formats that would hold the samples, as --format spells them.
constexpr const char* kBadChannels = "A texture has 1 to 4 channels.";
constexpr const char* kHalfFrom8 =
    "Half floats are made from float samples alone: write 8-bit samples with --format tga, png "
    "or tiff.";
constexpr const char* kHalfFrom8GreyAlpha =
    "Half floats are made from float samples alone: write 8-bit grey and alpha with --format png "
    "or tiff.";
constexpr const char* kHalfFrom16 =
    "Half floats are made from float samples alone: write 16-bit samples with --format png or "
    "tiff.";
constexpr const char* kHalfFromSigned =
    "Half floats are made from float samples alone: write signed 16-bit samples with --format "
    "tiff.";
constexpr const char* kHalfInExrAlone =
    "Only OpenEXR, DDS and KTX2 hold half floats: use --format exr, dds or ktx2, or --format tiff for "
    "32-bit floats.";
constexpr const char* kTgaGreyAlpha =
    "TGA holds 8-bit grey, RGB and RGBA, not grey with alpha: use --format png or tiff.";
constexpr const char* kTga16 =
    "TGA holds 8-bit grey, RGB and RGBA: use --format png or tiff for 16-bit samples.";
constexpr const char* kTgaSigned =
    "TGA holds 8-bit grey, RGB and RGBA: use --format tiff for signed 16-bit samples.";
constexpr const char* kTgaFloat =
    "TGA holds 8-bit grey, RGB and RGBA: use --format tiff or exr for float samples.";
constexpr const char* kPngSigned =
    "PNG holds 8- and 16-bit unsigned samples: use --format tiff for signed 16-bit samples.";
constexpr const char* kPngFloat =
    "PNG holds 8- and 16-bit samples: use --format tiff or exr for float samples.";
constexpr const char* kExr8 =
    "OpenEXR holds half and float samples: use --format png, tiff or tga for 8-bit samples.";
constexpr const char* kExr8GreyAlpha =
    "OpenEXR holds half and float samples: use --format png or tiff for 8-bit samples.";
constexpr const char* kExr16 =
    "OpenEXR holds half and float samples: use --format png or tiff for 16-bit samples.";
constexpr const char* kExrSigned =
    "OpenEXR holds half and float samples: use --format tiff for signed 16-bit samples.";

constexpr const char* kCompressionInContainers =
    "Block compression is for the GPU's containers: use --format dds or ktx2 with --compress.";
constexpr const char* kContainerSigned =
    "DDS and KTX2 hold no signed 16-bit samples: use --format tiff, or --depth float for DDS or KTX2.";
constexpr const char* kKtx2Grey16 =
    "KTX2 holds 16-bit samples as RGB or RGBA alone (three.js reads no 16-bit grey): use --format dds, "
    "png or tiff.";
// Blocks hold 8-bit samples, and each compression its own channels.
constexpr const char* kBlocksOf8 =
    "Block compression takes 8-bit samples: use --depth 8, or --compress none for these samples.";
constexpr const char* kBlocksOfHalf =
    "Block compression takes 8-bit samples, not half floats: use --compress none, or --depth 8.";
constexpr const char* kBlocksFor[5] = {
    nullptr,
    "Grey is compressed as BC4: use --compress bc4 (bc1 is for RGB, bc3 for RGBA, bc5 for grey and alpha).",
    "Grey and alpha are compressed as BC5: use --compress bc5 (bc4 is for grey, bc1 for RGB, bc3 for RGBA).",
    "RGB is compressed as BC1: use --compress bc1 (bc3 is for RGBA, bc4 for grey, bc5 for grey and alpha).",
    "RGBA is compressed as BC3: use --compress bc3 (bc1 is for RGB, bc4 for grey, bc5 for grey and alpha).",
};
constexpr const char* kNoBc7 =
    "BC7 cannot be written: use --compress bc1 for RGB or bc3 for RGBA (bc4 for grey, bc5 for grey and "
    "alpha).";

// The channels each block compression takes (none: 0).
constexpr unsigned kBlockChannels[] = {0, 3, 4, 1, 2, 0};

// What DDS and KTX2 hold: every 8-bit and float layout (as half floats too), 16-bit grey
// (DDS alone) and colour, and block-compressed 8-bit samples. The containers' encoders say
// how each is stored.
const char* containerRefusal(TextureFormat format, SampleLayout layout, bool half, TextureCompression compression)
{
    if (layout.type == SampleType::I16)
        return kContainerSigned;
    if (format == TextureFormat::Ktx2 && layout.type == SampleType::U16 && layout.channels < 3)
        return kKtx2Grey16;
    if (compression == TextureCompression::None)
        return nullptr;
    if (half)
        return kBlocksOfHalf;
    if (layout.type != SampleType::U8)
        return kBlocksOf8;
    if (compression == TextureCompression::Bc7)
        return kNoBc7;
    return kBlockChannels[static_cast<int>(compression)] == layout.channels ? nullptr : kBlocksFor[layout.channels];
}

}  // namespace

const char* formatRefusal(TextureFormat format, SampleLayout layout, bool half, TextureCompression compression)
{
    if (compression != TextureCompression::None && !holdsMipChain(format))
        return kCompressionInContainers;
    if (layout.channels < 1 || layout.channels > 4)
        return kBadChannels;
    const SampleType type = layout.type;
    if (half && type != SampleType::F32)
        return type == SampleType::U8    ? (layout.channels == 2 ? kHalfFrom8GreyAlpha : kHalfFrom8)
               : type == SampleType::U16 ? kHalfFrom16
                                         : kHalfFromSigned;
    if (half && format != TextureFormat::Exr && !holdsMipChain(format))
        return kHalfInExrAlone;
    switch (format) {
    case TextureFormat::Tga:
        switch (type) {
        case SampleType::U8:
            return layout.channels == 2 ? kTgaGreyAlpha : nullptr;
        case SampleType::U16:
            return kTga16;
        case SampleType::I16:
            return kTgaSigned;
        case SampleType::F32:
            return kTgaFloat;
        }
        break;
    case TextureFormat::Png:
        return type == SampleType::I16 ? kPngSigned : type == SampleType::F32 ? kPngFloat : nullptr;
    case TextureFormat::Tiff:
        return nullptr;
    case TextureFormat::Exr:
        switch (type) {
        case SampleType::U8:
            return layout.channels == 2 ? kExr8GreyAlpha : kExr8;
        case SampleType::U16:
            return kExr16;
        case SampleType::I16:
            return kExrSigned;
        case SampleType::F32:
            return nullptr;
        }
        break;
    case TextureFormat::Dds:
    case TextureFormat::Ktx2:
        return containerRefusal(format, layout, half, compression);
    }
    return kBadChannels;  // no such format
}

bool encodeTexture(TextureFormat format, const SampleImage& image, bool half, std::vector<unsigned char>& file,
                   unsigned threads)
{
    file.clear();
    if (formatRefusal(format, image.layout, half) != nullptr || image.data == nullptr || image.width == 0 ||
        image.height == 0)
        return false;
    // Rows must hold their texels, and every format here counts its sides in signed 32 bits
    // at most (TGA in 16).
    if (image.rowBytes / texelBytes(image.layout) < image.width)
        return false;
    const std::uint32_t largest = format == TextureFormat::Tga ? 0xFFFF : std::numeric_limits<std::int32_t>::max();
    if (image.width > largest || image.height > largest)
        return false;
    switch (format) {
    case TextureFormat::Tga:
        return output::encodeTga(image, file);
    case TextureFormat::Png:
        return output::encodePng(image, file);
    case TextureFormat::Tiff:
        return output::encodeTiff(image, threads, file);
    case TextureFormat::Exr:
        return output::encodeExr(image, half, threads, file);
    case TextureFormat::Dds:
    case TextureFormat::Ktx2:
        return encodeTextureChain(format, &image, 1, ChainEncoding{half, TextureCompression::None, threads}, file);
    }
    return false;
}

bool encodeTextureChain(TextureFormat format, const SampleImage* levels, std::size_t count,
                        const ChainEncoding& encoding, std::vector<unsigned char>& file)
{
    file.clear();
    if (count == 0 || !holdsMipChain(format) ||
        formatRefusal(format, levels[0].layout, encoding.half, encoding.compression) != nullptr)
        return false;
    // Every level of one layout, each half the one before as the containers' readers count
    // them (rounded down, at least 1), and none after the level of 1 × 1; sides in 31 bits.
    const SampleImage& base = levels[0];
    if (base.width > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()) ||
        base.height > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
        return false;
    for (std::size_t k = 0; k < count; ++k) {
        const SampleImage& level = levels[k];
        const std::uint32_t width = std::max(1u, base.width >> std::min<std::size_t>(k, 31));
        const std::uint32_t height = std::max(1u, base.height >> std::min<std::size_t>(k, 31));
        const bool past = k > 0 && levels[k - 1].width == 1 && levels[k - 1].height == 1;
        if (level.layout != base.layout || level.data == nullptr || level.width != width || level.height != height ||
            width == 0 || height == 0 || past || level.rowBytes / texelBytes(level.layout) < level.width)
            return false;
    }
    return format == TextureFormat::Dds ? output::encodeDds(levels, count, encoding, file)
                                        : output::encodeKtx2(levels, count, encoding, file);
}
