// Spherical lookup and the two samplers, one call per texel. All intermediate arithmetic
// is double precision; only the angles and the bilinear picture coordinates are rounded
// to float. The bulk renderer in diamond_kernel.inl reproduces these bit for bit.
#include "spherical_lookup.h"

#include <cmath>

#include "image_object.h"
#include "map_edges.h"

RunState runState;

void directionToAngles(float x, float y, float z, float& longitude, float& latitude)
{
    if (x == 0.0f && z == 0.0f) {  // on the polar axis (-0 counts as 0)
        longitude = 0.0f;
        latitude = y == 0.0f ? 0.0f : (y > 0.0f ? kHalfPi : -kHalfPi);
        return;
    }
    const double dx = x;
    const double dz = z;
    longitude = static_cast<float>(std::atan2(dz, dx));
    const double h = std::sqrt(dx * dx + dz * dz);  // > 0: float squares cannot underflow
    latitude = static_cast<float>(std::atan(static_cast<double>(y) / h));
}

namespace {

std::uint32_t readOrBlack(ImageObject& image, std::int32_t column, std::int32_t row)
{
    std::uint32_t argb = 0;
    return image.readPixel(column, row, argb) == imaging_status::kOk ? argb : 0xFF000000u;
}

}  // namespace

void sampleNearest(float longitude, float latitude, Texel& texel)
{
    const SourceImage& source = runState.source;
    if (source.width == 0 || source.height == 0) {  // no size: nothing to read
        source.image->noteFailure(imaging_status::kInvalidParameter);
        texel = 0;
        return;
    }
    const double px = pictureColumn(source.scales, longitude);
    const double py = pictureRow(source.scales, latitude);
    // Truncation toward zero; for every angle directionToAngles gives, both stay inside.
    const auto column = static_cast<std::int32_t>(px);
    const auto row = static_cast<std::int32_t>(py);
    std::uint32_t argb = 0;
    texel = source.image->readPixel(column, row, argb) == imaging_status::kOk
                ? texelFromArgb(argb)
                : 0u;
}

void sampleBilinear(float longitude, float latitude, Texel& texel)
{
    const SourceImage& source = runState.source;
    if (source.width == 0 || source.height == 0) {  // no size: every read would fail
        source.image->noteFailure(imaging_status::kInvalidParameter);
        texel = 0;
        return;
    }
    const float px = static_cast<float>(pictureColumn(source.scales, longitude));
    const float py = static_cast<float>(pictureRow(source.scales, latitude));
    const auto ix = static_cast<std::int32_t>(std::floor(px));
    const auto iy = static_cast<std::int32_t>(std::floor(py));
    const double fx = static_cast<double>(px) - ix;  // [0, 1)
    const double fy = static_cast<double>(py) - iy;

    // Any column wraps round the map (the remainder first, then one period at most).
    const auto width = static_cast<std::int64_t>(source.width);
    const auto x0 = static_cast<std::int32_t>(wrapOnce<std::int64_t>(ix % width, width));
    const auto x1 = static_cast<std::int32_t>(wrapOnce<std::int64_t>(x0 + 1, width));
    const auto lastRow = static_cast<std::int32_t>(source.height - 1);
    const std::int32_t y0 = clampRow(iy, lastRow);
    const std::int32_t y1 = rowBelow(y0, lastRow);

    ImageObject& image = *source.image;
    const std::uint32_t c00 = readOrBlack(image, x0, y0);
    const std::uint32_t c10 = readOrBlack(image, x1, y0);
    const std::uint32_t c11 = readOrBlack(image, x1, y1);
    const std::uint32_t c01 = readOrBlack(image, x0, y1);

    Texel result = 0;
    for (int shift = 0; shift <= 16; shift += 8) {  // blue, green, red of ARGB
        const double v00 = (c00 >> shift) & 0xFFu;
        const double v10 = (c10 >> shift) & 0xFFu;
        const double v01 = (c01 >> shift) & 0xFFu;
        const double v11 = (c11 >> shift) & 0xFFu;
        const double v = (1.0 - fy) * ((1.0 - fx) * v00 + fx * v10) +
                         fy * ((1.0 - fx) * v01 + fx * v11);
        const auto channel = static_cast<std::uint32_t>(v);  // truncated, never rounded
        result |= channel << (16 - shift);  // ARGB blue (shift 0) goes to Texel bits 16-23
    }
    texel = result;
}
