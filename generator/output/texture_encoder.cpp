// What each format holds, the checks made before an image is encoded, and the choice of
// encoder.
//
// The containers are written here by hand over zlib rather than through libpng, libtiff and
// OpenEXR: the Windows build and the Linux build must write byte-identical files, and the
// one compression library that Debian packages for MinGW-w64 is zlib, the same version as
// the system's (1.2.13). Written over it alone, every byte is ours or zlib's on both.
#include "texture_encoder.h"

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
    "Only OpenEXR holds half floats: use --format exr, or --format tiff for 32-bit floats.";
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
constexpr const char* kContainersToCome = "DDS and KTX2 files cannot be written yet.";

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
    if (half && format != TextureFormat::Exr)
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
        return kContainersToCome;
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
    return false;  // the containers' encoders are still to come
}
