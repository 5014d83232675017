// How each texel samples the map: one choice, from the command line and the dialog down to
// the kernels. Part of the public interface.
#pragma once

enum class TextureFilter {
    Nearest,   // the map pixel under the texel's sample point (the dialog's default)
    Bilinear,  // the four pixels around it, blended (the dialog's "Bilinear filtering")
    Area,      // the average of the map over the texel's footprint
    Mode,      // the most common value under the footprint (class maps, masks)
};

// The filters' names, as the command line and the benchmark take them.
struct TextureFilterName {
    const char* name;
    TextureFilter filter;
};
inline constexpr TextureFilterName kTextureFilterNames[] = {
    {"nearest", TextureFilter::Nearest},
    {"bilinear", TextureFilter::Bilinear},
    {"area", TextureFilter::Area},
    {"mode", TextureFilter::Mode},
};

constexpr const char* textureFilterName(TextureFilter filter)
{
    return kTextureFilterNames[static_cast<int>(filter)].name;
}
