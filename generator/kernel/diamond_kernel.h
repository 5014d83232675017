// The bulk renderer's inner loop, compiled once per instruction set (kernel_instance.inl)
// and chosen at run time. Each kernel renders a band of rows of one diamond and gives, byte
// for byte, what the plain rasteriser gives (the area filter: the same bytes on every
// instruction set).
#pragma once

#include <cstddef>
#include <cstdint>

#include "geometry.h"
#include "samples.h"
#include "spherical_lookup.h"
#include "texture_filter.h"

// The map's samples as every filter but the 8-bit point filters reads them: pixel (row,
// column) at base + row·rowBytes + column·pixelBytes, each row followed by its wrap pixel.
// 8-bit RGB and RGBA pixels are picture words (blue, green, red, alpha in memory).
struct MapView {
    const unsigned char* base = nullptr;
    std::size_t rowBytes = 0;
    std::size_t pixelBytes = 0;
    SampleLayout layout;
    // The cells the area and mode filters see: pixel k covers picture columns [k, k + 1),
    // as nearest reads it, for k below 2·hw (columns wrap there), and rows likewise up to
    // 2·hh (rows stop there); at least one of each.
    std::uint32_t period = 1;
    std::uint32_t lastRow = 0;
    // A row whose pixels are there to read: lanes that take no part read it. (A map read in
    // bands holds some of its rows only, `base` placed as if it held them all.)
    std::int32_t residentRow = 0;
};

// How the resolved samples become a texture's texels.
enum class Rounding { Truncate, Nearest, None };
struct TexelRules {
    SampleLayout output;        // the texture's texels (rows of texelBytes(output) each)
    bool words = true;          // 8-bit RGB words in, blue-green-red texels out (the default)
    bool linear = false;        // colour channels averaged in linear light
    bool nodata = false;        // samples whose colour channels all equal nodataValue take no part
    double nodataValue = 0;
    const float* toLinear = nullptr;  // 8- and 16-bit samples to linear light, by value
};

// Everything a kernel needs, set up once per diamond.
struct DiamondSetup {
    DiamondPlanes planes;
    // The diamonds that share this one's pole edges and its pole: a footprint on a shared
    // edge takes in both diamonds' squares, so that both give it the same colour. The
    // diamond whose left column is our top row, the one whose top row is our left column,
    // and every diamond round our pole in table order; a missing one has count 0.
    DiamondPlanes besideTopRow, besideLeftColumn, aroundPole[5];
    int besideCount[2], aroundPoleCount;
    std::uint32_t rows, columns;         // the diamond's texels a side: N
    double inverseRows, inverseColumns;  // 1 / rows, 1 / columns
    // The texels rendered: `regionRows` rows of `regionColumns` from (firstRow, firstColumn)
    // of the diamond's grid, texel (r, c) standing for (u, v) = (c / N, r / N). The diamond
    // alone is (0, 0) and N × N; border rings reach past its edges (negative, or N and on),
    // onto the sphere by its two triangles' planes; a tile is a part of either.
    std::int32_t firstRow, firstColumn;
    std::uint32_t regionRows, regionColumns;
    std::size_t outRowBytes;  // from one row of texels out to the next
    const std::uint32_t* pixels;    // picture words, `stride` words per row; null if none
    std::size_t stride;
    std::uint32_t width, height;
    PictureScales scales;           // the run's, shared with the per-texel samplers
    TextureFilter filter;
    MapView map;
    TexelRules rules;
};

// Renders the region's rows [rowBegin, rowEnd) into `out` (the first byte of row rowBegin,
// rows of regionColumns texels).
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
