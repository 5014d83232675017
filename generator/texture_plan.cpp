// Planning a run's textures: the output's layout from the choices and the map, what the map
// is read as, the refusals and the warnings.
#include "texture_plan.h"

#include <cstdlib>

#include "texture_encoder.h"

namespace {

unsigned channelsFor(TextureChannels channels, unsigned map)
{
    switch (channels) {
    case TextureChannels::Rgba:
        return 4;
    case TextureChannels::Grey:
        return 1;
    case TextureChannels::Auto:
        return map;
    default:
        return 3;
    }
}

// The texels' type, and whether OpenEXR keeps them as half floats.
SampleType typeFor(TextureDepth depth, TextureFormat format, SampleType map, bool& half)
{
    const bool exr = format == TextureFormat::Exr;
    half = false;
    switch (depth) {
    case TextureDepth::Sixteen:
        half = exr;
        return exr ? SampleType::F32 : SampleType::U16;
    case TextureDepth::SignedSixteen:
        return SampleType::I16;
    case TextureDepth::Float:
        return SampleType::F32;
    case TextureDepth::Auto:
        // OpenEXR holds floats alone: 8-bit samples lose nothing as half floats.
        half = exr && map == SampleType::U8;
        return exr ? SampleType::F32 : map;
    default:
        return SampleType::U8;
    }
}

const char* typeName(SampleType type)
{
    switch (type) {
    case SampleType::U16:
        return "16-bit";
    case SampleType::I16:
        return "signed 16-bit";
    case SampleType::F32:
        return "float";
    default:
        return "8-bit";
    }
}

}  // namespace

const char* outputRefusal(const TextureOutput& output, TextureFilter)
{
    if (output.tileSize != 0 && (output.tileSize & (output.tileSize - 1)) != 0)
        return "The tile size must be a power of two.";
    if (output.border != 0 && output.mips && holdsMipChain(output.format))
        return "DDS and KTX2 levels each halve the whole side, border and all, which leaves no level its own rings: "
               "leave out --border with --mips, or write each level as a file of its own (--format tga, png, tiff "
               "or exr) with both.";
    // Block-compressed textures are created in whole blocks of 4 × 4 texels.
    if (output.compression != TextureCompression::None &&
        (output.border % 2 != 0 || (output.tileSize != 0 && output.tileSize < 4)))
        return "Block compression takes sides that are multiples of 4 texels: give an even --border, and --tiles "
               "of 4 or more, with --compress.";
    if (output.tileSize != 0 && output.mips)
        return "Tiles are levels of detail already, each rendered from the map: leave out --mips with --tiles.";
    // Linear light decodes sRGB colour; signed samples are heights.
    if (output.linear && output.depth == TextureDepth::SignedSixteen)
        return "--linear averages sRGB colour in linear light, and signed 16-bit samples are heights: leave out "
               "--linear with --depth int16.";
    // Every layout the choices leave open must be refused for the choices to be: the map
    // may yet make the others.
    const char* refusal = nullptr;
    bool someHeld = false;
    for (const unsigned map : {1u, 2u, 3u, 4u}) {
        for (const SampleType type : {SampleType::U8, SampleType::U16, SampleType::I16, SampleType::F32}) {
            bool half = false;
            const SampleLayout layout{typeFor(output.depth, output.format, type, half),
                                      channelsFor(output.channels, map)};
            const char* reason = formatRefusal(output.format, layout, half, output.compression);
            if (reason == nullptr)
                someHeld = true;
            else if (refusal == nullptr)
                refusal = reason;
        }
    }
    return someHeld ? nullptr : refusal;
}

const char* planTextures(const TextureOutput& output, TextureFilter filter, SampleLayout map, std::uint32_t width,
                         std::uint32_t height, TexturePlan& plan)
{
    plan = TexturePlan{};
    plan.output.channels = channelsFor(output.channels, map.channels);
    plan.output.type = typeFor(output.depth, output.format, map.type, plan.half);
    if (output.linear && map.type == SampleType::I16)
        return "The map holds signed 16-bit samples, heights rather than sRGB colour: leave out --linear.";
    if (map.type == SampleType::I16 && plan.output.type == SampleType::U16)
        return "The map holds signed 16-bit samples (heights below zero among them): use --depth int16 or float "
               "to keep them.";
    if (map.type == SampleType::U16 && plan.output.type == SampleType::I16)
        return "The map holds 16-bit samples that signed 16-bit ones cannot all hold: use --depth 16, or --depth "
               "float, which scales them to 0..1.";
    if (const char* refusal = formatRefusal(output.format, plan.output, plan.half, output.compression))
        return refusal;

    const bool greyMap = colourChannels(map.channels) == 1, greyTexels = colourChannels(plan.output.channels) == 1;
    const bool alpha = hasAlpha(map.channels) && hasAlpha(plan.output.channels);
    plan.working.type = plan.output.type == SampleType::U8 ? SampleType::U8 : map.type;
    plan.working.channels = (greyMap || greyTexels ? 1u : 3u) + (alpha ? 1u : 0u);
    plan.words = plan.output == kWordLayout && !output.linear && !output.nodata && filter != TextureFilter::Mode;
    if (plan.words)
        plan.working = kWordLayout;

    // What the design's output drops, said once, with the options that keep it.
    const bool designChannels = output.channels == TextureChannels::Rgb;
    const bool designDepth = output.depth == TextureDepth::Eight;
    if (designChannels && hasAlpha(map.channels))
        plan.warnings.emplace_back("the map's alpha is dropped: --channels rgba or auto keeps it "
                                   "(with --format tga, png, tiff, exr, dds or ktx2)");
    if (designChannels && greyMap)
        plan.warnings.emplace_back("the grey map is written as RGB, three times the bytes: --channels grey or "
                                   "auto keeps one channel");
    if (designDepth && map.type != SampleType::U8)
        plan.warnings.emplace_back(std::string("the map's ") + typeName(map.type) +
                                   (map.type == SampleType::F32 ? " samples are scaled to 8 bits"
                                                                : " samples are cut to 8 bits") +
                                   ": --depth auto keeps them, with --format " +
                                   (map.type == SampleType::U16 ? "png, tiff or exr" : "tiff or exr"));
    // An equirectangular map is twice as wide as it is high (to a pixel, or a hundredth);
    // another is stretched to cover the sphere from pole to pole.
    const long long offTwoToOne = std::llabs(static_cast<long long>(width) - 2ll * height);
    if (offTwoToOne > 1 && offTwoToOne * 100 > static_cast<long long>(width))
        plan.warnings.emplace_back("the map is " + std::to_string(width) + " x " + std::to_string(height) +
                                   ", not twice as wide as high: it is stretched to cover the sphere from pole "
                                   "to pole");
    return nullptr;
}
