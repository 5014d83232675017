// The area filter: which way each texel's footprint is summed, and why. The thresholds that
// choose are here, by name.
//
// A texel is the average of the map over its footprint: the square of one texel's side
// around its sample point in the diamond's (u, v), carried onto the sphere by the diamond's
// two triangle planes (area_footprint.h). The map is a field of cells, each pixel filling
// the cell that nearest reads it in, so that the area and nearest filters place every pixel
// alike; the average is the sphere's (area_slices.h).
//
// | texel                                        | how its footprint is summed              | file            |
// |----------------------------------------------|------------------------------------------|-----------------|
// | flat on the picture (kFlatFootprint)         | the cell at its centre                   | area_average.h  |
// | the pole texel and the pole edges' texels    | the footprints of every diamond that     | area_pole.h     |
// | (r = 0 or c = 0)                             | holds the texel, together: all of them   |                 |
// |                                              | then give it the same colour             |                 |
// | within kNearPole of the pole (|c| + |r| <= 3) | samples mapped exactly, each reading its | area_pole.h     |
// |                                              | cell: there the corners' blend is no     |                 |
// |                                              | guide to the footprint's shape           |                 |
// | within kCellWindow × kCellWindow cells (a    | the exact area of each cell it covers    | area_cells.h    |
// | texel of up to a few pixels)                 | (a font rasteriser's way)                |                 |
// | any other                                    | exactly along horizontal slices, at the  | area_slices.h   |
// |                                              | Gauss pair of each piece of a band of    |                 |
// |                                              | map rows between the footprint's corners:|                 |
// |                                              | its cost grows with its height           |                 |
//
// Included inside a kernel instance's namespace (kernel_instance.inl).
#pragma once

#include <cstdint>

// Texels within this many steps (c + r) of the pole are sampled exactly.
constexpr std::uint32_t kNearPole = 3;
// Footprints whose corners lie within a window of this many cells a side take the cells.
constexpr int kCellWindow = 8;
// Footprints narrower or lower on the picture than this many pixels (a map one pixel wide or
// high makes them so) are a line, not an area: they read the cell at their centre.
constexpr float kFlatFootprint = 1e-3f;

constexpr bool isNearPole(std::int32_t r, std::int32_t c)
{
    return static_cast<std::uint32_t>(r < 0 ? -r : r) + static_cast<std::uint32_t>(c < 0 ? -c : c) <= kNearPole;
}
// Texels computed one at a time (area_pole.h): the pole, the pole edges (which neighbours
// share) and the texels near the pole, border texels round it among them.
constexpr bool isPoleTexel(std::int32_t r, std::int32_t c, std::int32_t n)
{
    return (r == 0 && c >= 0 && c < n) || (c == 0 && r >= 0 && r < n) || isNearPole(r, c);
}
