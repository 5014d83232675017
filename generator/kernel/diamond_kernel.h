// The bulk renderer's inner loop, compiled once per instruction set (diamond_kernel.inl)
// and chosen at run time. Each kernel renders a band of rows of one diamond and gives,
// byte for byte, what the one-texel-at-a-time rasteriser gives.
#pragma once

#include <cstddef>
#include <cstdint>

#include "icosa_diamonds.h"
#include "spherical_lookup.h"

// A diamond's two triangles as planes: the pole triangle is p0 + u·toP1 + v·toP2, the far
// one p3 + (1 − u)·farToP2 + (1 − v)·farToP1.
struct DiamondPlanes {
    Vector3 p0, p3;                 // pole and far corner
    Vector3 toP1, toP2;             // pole triangle edges: p1 - p0, p2 - p0
    Vector3 farToP2, farToP1;       // far triangle edges: p2 - p3, p1 - p3
};

inline DiamondPlanes diamondPlanes(const DiamondCorners& c)
{
    return {c.p0, c.p3, difference(c.p1, c.p0), difference(c.p2, c.p0), difference(c.p2, c.p3),
            difference(c.p1, c.p3)};
}

// Everything a kernel needs, set up once per diamond.
struct DiamondSetup {
    DiamondPlanes planes;
    // The diamonds that share this one's pole edges and its pole: a footprint on a shared
    // edge takes in both diamonds' squares, so that both give it the same colour. The
    // diamond whose left column is our top row, the one whose top row is our left column,
    // and every diamond round our pole in table order; a missing one has count 0.
    DiamondPlanes besideTopRow, besideLeftColumn, aroundPole[5];
    int besideCount[2], aroundPoleCount;
    std::uint32_t rows, columns;
    double inverseRows, inverseColumns;  // 1 / rows, 1 / columns
    const std::uint32_t* pixels;    // picture words, `stride` words per row; null if none
    std::size_t stride;
    std::uint32_t width, height;
    PictureScales scales;           // the run's, shared with the per-texel samplers
    enum class Filter { Nearest, Bilinear, Area } filter;
};

// Renders rows [rowBegin, rowEnd) into `out` (the first byte of row rowBegin).
// Returns the number of pixel reads that failed (they count as black).
using RenderRowsFn = std::uint64_t (*)(const DiamondSetup& setup, std::uint32_t rowBegin,
                                       std::uint32_t rowEnd, unsigned char* out);

namespace kernel_scalar {
std::uint64_t renderRows(const DiamondSetup&, std::uint32_t, std::uint32_t, unsigned char*);
}
namespace kernel_avx2 {
std::uint64_t renderRows(const DiamondSetup&, std::uint32_t, std::uint32_t, unsigned char*);
}
namespace kernel_avx512 {
std::uint64_t renderRows(const DiamondSetup&, std::uint32_t, std::uint32_t, unsigned char*);
}
