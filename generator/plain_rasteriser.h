// The rasteriser one texel at a time through the per-texel operations (directionToAngles,
// sampleNearest, sampleBilinear): the plain definition of the point filters' output, which
// the tests hold the bulk renderer to and the benchmark measures it against.
#pragma once

#include <cstdint>

#include "geometry.h"

// The point of the diamond that texel (r, c) of a rows × columns face stands for: (u, v) =
// (c / columns, r / rows) in float, on the pole triangle where c <= columns − r.
Vector3 diamondTexelPoint(const DiamondCorners& corners, std::uint32_t rows, std::uint32_t columns,
                          std::uint32_t r, std::uint32_t c);

// renderDiamond's output for the point filters, one texel after another on this thread.
void renderDiamondPlain(const DiamondCorners& corners, unsigned char* texels);
