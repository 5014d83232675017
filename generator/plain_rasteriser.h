// The rasteriser one texel at a time through the per-texel operations (directionToAngles,
// sampleNearest, sampleBilinear): the plain definition of the point filters' output, which
// the tests hold the bulk renderer to and the benchmark measures it against.
#pragma once

#include <cstdint>

#include "diamond_renderer.h"
#include "geometry.h"

// The point of the diamond that texel (r, c) of a rows × columns face stands for: (u, v) =
// (c / columns, r / rows) in float, on the pole triangle where c <= columns − r (beyond the
// face, on the planes' continuations).
Vector3 diamondTexelPoint(const DiamondCorners& corners, std::uint32_t rows, std::uint32_t columns,
                          std::int32_t r, std::int32_t c);

// renderDiamond's output for the point filters, one texel after another on this thread: the
// face's texels, or `region` of its grid.
void renderDiamondPlain(const DiamondCorners& corners, unsigned char* texels);
void renderDiamondPlain(const DiamondCorners& corners, const TexelRegion& region, unsigned char* texels);
