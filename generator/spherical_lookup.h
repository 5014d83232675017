// Spherical lookup and sampling: a point of the icosahedron becomes a longitude and a
// latitude, and those become a colour of the equirectangular source picture.
//
// Frame: y is the polar axis (+y north); longitude = atan2(z, x), from +x towards +z;
// latitude = atan(y / sqrt(x² + z²)). On the picture, longitude +π is the left edge and
// grows towards the left, latitude +π/2 is the top edge. The map's edges: map_edges.h.
#pragma once

#include <cstdint>

#include "samples.h"
#include "texture_filter.h"

class ImageObject;

// A colour as 0x00BBGGRR: red in bits 0-7, green 8-15, blue 16-23.
using Texel = std::uint32_t;

// Scale constants, each the float nearest to its exact value. Both scales lie a little
// under their exact value, which keeps the extreme angles strictly inside the map.
constexpr float kInvPi = 0.318309886183790671538f;      // 1/π
constexpr float kTwoOverPi = 0.636619772367581343076f;  // 2/π
constexpr float kHalfPi = 1.57079632679489661923f;      // π/2

// Where angles land on a W × H picture: px = hw − (hw·k1)·longitude and
// py = hh − (hh·k2)·latitude, with hw = ⌊W/2⌋ and hh = ⌊H/2⌋.
struct PictureScales {
    double halfWidth;    // hw
    double columnScale;  // hw·k1
    double halfHeight;   // hh
    double rowScale;     // hh·k2
};

static constexpr PictureScales pictureScales(std::uint32_t width, std::uint32_t height)
{
    const auto halfWidth = static_cast<double>(width >> 1);
    const auto halfHeight = static_cast<double>(height >> 1);
    return {halfWidth, halfWidth * static_cast<double>(kInvPi), halfHeight,
            halfHeight * static_cast<double>(kTwoOverPi)};
}

// Picture coordinates of an angle pair, in double precision, as every sampler forms them
// (the kernels' vector form does the same operations). Static: each kernel keeps its copy.
static inline double pictureColumn(const PictureScales& scales, float longitude)
{
    return scales.halfWidth - scales.columnScale * static_cast<double>(longitude);
}
static inline double pictureRow(const PictureScales& scales, float latitude)
{
    return scales.halfHeight - scales.rowScale * static_cast<double>(latitude);
}

// The loaded picture as the samplers see it; `scales` follow from its size (sourceImageOf).
struct SourceImage {
    ImageObject* image;
    std::uint32_t width;
    std::uint32_t height;
    TextureFilter filter;
    PictureScales scales;
};

inline SourceImage sourceImageOf(ImageObject* image, std::uint32_t width, std::uint32_t height,
                                 TextureFilter filter)
{
    return {image, width, height, filter, pictureScales(width, height)};
}

// What the textures hold beyond the design's 24-bit colour, and how filters treat the
// samples (the default: 8-bit RGB, as stored).
struct TextureSamples {
    SampleLayout output;         // the texture's texels
    bool words = true;           // 8-bit RGB picture words in, blue-green-red texels out
    bool linear = false;         // colour averaged in linear light
    bool nodata = false;         // samples equal to nodataValue take no part in averages
    double nodataValue = 0;
};

// What the rasteriser and the samplers read of the run going on: the face's rows and
// columns, the source and what the textures hold. Empty (no source) between runs.
struct RunState {
    std::uint32_t rows;
    std::uint32_t columns;
    SourceImage source;
    TextureSamples samples;
};
extern RunState runState;

// Publishes a run's state while it lives and empties it again when it goes, whichever way
// the run ends, so that nothing of one run reaches the next.
class PublishedRun {
public:
    PublishedRun(std::uint32_t faceSize, const SourceImage& source, const TextureSamples& samples = {})
    {
        runState = {faceSize, faceSize, source, samples};
    }
    ~PublishedRun() { runState = RunState{}; }
    // A mip level of the run: its texels a side.
    void setFaceSize(std::uint32_t faceSize) const { runState.rows = runState.columns = faceSize; }
    PublishedRun(const PublishedRun&) = delete;
    PublishedRun& operator=(const PublishedRun&) = delete;
};

// The direction of (x, y, z) as longitude in [-π, π] and latitude in [-π/2, π/2], radians.
void directionToAngles(float x, float y, float z, float& longitude, float& latitude);

// The source pixel under the angles, or black when the read fails.
void sampleNearest(float longitude, float latitude, Texel& texel);
// The four pixels around the angles blended by their fractions, the map's edges as
// map_edges.h says; each channel truncated. A failed read counts as black at its corner.
void sampleBilinear(float longitude, float latitude, Texel& texel);

// ARGB (0xAARRGGBB) to Texel (0x00BBGGRR); alpha dropped.
constexpr Texel texelFromArgb(std::uint32_t argb)
{
    return ((argb >> 16) & 0xFFu) | (argb & 0xFF00u) | ((argb & 0xFFu) << 16);
}
