// The rasteriser one texel at a time.
#include "plain_rasteriser.h"

#include "spherical_lookup.h"

Vector3 diamondTexelPoint(const DiamondCorners& corners, std::uint32_t rows, std::uint32_t columns,
                          std::int32_t r, std::int32_t c)
{
    const auto v = static_cast<float>(r * (1.0 / rows));
    const auto u = static_cast<float>(c * (1.0 / columns));
    const DiamondPlanes planes = diamondPlanes(corners);
    if (static_cast<std::int64_t>(c) <= static_cast<std::int64_t>(columns) - r)
        return trianglePoint(planes.pole, u, v);
    // 1 − u and 1 − v are formed in float, which is exact for power-of-two sizes.
    return trianglePoint(planes.far, 1.0f - u, 1.0f - v);
}

void renderDiamondPlain(const DiamondCorners& corners, unsigned char* texels)
{
    renderDiamondPlain(corners, TexelRegion{0, 0, runState.rows, runState.columns}, texels);
}

void renderDiamondPlain(const DiamondCorners& corners, const TexelRegion& region, unsigned char* texels)
{
    const std::uint32_t rows = runState.rows;
    const std::uint32_t columns = runState.columns;
    const bool bilinear = runState.source.filter == TextureFilter::Bilinear;
    for (std::uint32_t i = 0; i < region.rows; ++i) {
        for (std::uint32_t j = 0; j < region.columns; ++j) {
            const Vector3 q = diamondTexelPoint(corners, rows, columns, region.firstRow + static_cast<std::int32_t>(i),
                                                region.firstColumn + static_cast<std::int32_t>(j));
            float longitude = 0.0f;
            float latitude = 0.0f;
            directionToAngles(q.x, q.y, q.z, longitude, latitude);
            Texel texel = 0;
            if (bilinear)
                sampleBilinear(longitude, latitude, texel);
            else
                sampleNearest(longitude, latitude, texel);
            *texels++ = static_cast<unsigned char>((texel >> 16) & 255);
            *texels++ = static_cast<unsigned char>((texel >> 8) & 255);
            *texels++ = static_cast<unsigned char>(texel & 255);
        }
    }
}
