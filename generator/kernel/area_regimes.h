// The area filter's regimes: which way each texel's footprint is summed, and why. Every
// threshold that chooses is here, by name; the regimes themselves live in a file each and
// share one shape: a regime adds up the map over a group's footprints into totals (one per
// channel) and a weight, whose quotient is the average.
//
// A texel is the average of the bilinearly interpolated map over its footprint: the square of
// one texel's side around its sample point in the diamond's (u, v), carried onto the sphere
// by the diamond's two triangle planes (area_footprint.h).
//
// | footprint                                    | regime                                   | file            |
// |----------------------------------------------|------------------------------------------|-----------------|
// | the pole texel and the pole edges' texels    | the footprints of every diamond that     | area_pole.h     |
// | (r = 0 or c = 0)                             | holds the texel, averaged: all of them   |                 |
// |                                              | then give it the same colour             |                 |
// | within kNearPole of the pole (c + r <= 3)    | every sample mapped exactly: there the   | area_pole.h     |
// |                                              | blend of the corners is no guide         |                 |
// | its pixels' floors span at most kGridSpan    | the weight each pixel of a 3 × 3 grid    | area_grid.h     |
// | columns and rows (a texel of a pixel or two) | takes (4 × 4 in a group where one spans  |                 |
// |                                              | two), each pixel read once at the end    |                 |
// | wider than kSlicesWiderThan pixels (by the   | slices along the map's rows, each        | area_slices.h   |
// | poles) and of some height                    | integrated exactly: the cost grows with  |                 |
// |                                              | the footprint's height only              |                 |
// | any other                                    | taps: samples of the blend, one by one   | area_taps.h     |
//
// Samples along a side (grid, taps, exact): kSamplesPerPixel a pixel and kSampleSlack more
// (area_footprint.h), except that a side shorter than kGaussPairBelow pixels takes two, at
// the Gauss pair, which is exact on the bilinear map while no pixel line crosses it.
// Included inside a kernel instance's namespace (kernel_instance.inl).
#pragma once

#include <cstdint>

#include "lanes.h"

// Texels within this many steps (c + r) of the pole are sampled exactly.
constexpr std::uint32_t kNearPole = 3;
// Footprints whose pixels' floors span at most this many columns and rows take the grid;
// a span of more than kSmallGridSpan needs the 4 × 4 one.
constexpr std::int32_t kGridSpan = 2;
constexpr std::int32_t kSmallGridSpan = 1;
// Footprints wider than this many pixels, and taller than kSlicesTallerThan, are sliced.
constexpr float kSlicesWiderThan = 16.0f;
constexpr float kSlicesTallerThan = 1e-3f;
// Sides shorter than this many pixels take the Gauss pair.
constexpr double kGaussPairBelow = 0.7;

// Texels computed one at a time (area_pole.h): the pole, the pole edges (which neighbours
// share) and the texels near the pole.
constexpr bool isNearPole(std::uint32_t r, std::uint32_t c) { return c + r <= kNearPole; }
constexpr bool isPoleTexel(std::uint32_t r, std::uint32_t c) { return r == 0 || c == 0 || isNearPole(r, c); }

// The lanes of a group of footprints, by regime; lanes outside `on` in none.
template <class L>
struct Regimes {
    typename L::I grid, slices, taps;
    bool gridOfFour;  // some grid lane spans two pixels: the whole group takes the 4 × 4 grid
};

// From each footprint's span of pixel floors (spanX, spanY) and its extent in pixels.
template <class L>
Regimes<L> classifyFootprints(typename L::I spanX, typename L::I spanY, typename L::D width,
                              typename L::D height, typename L::I on)
{
    using I = typename L::I;
    const I small = (spanX <= L::setI(kGridSpan)) & (spanY <= L::setI(kGridSpan));
    const I sliceable = (L::toF(width) > L::setF(kSlicesWiderThan)) & (L::toF(height) > L::setF(kSlicesTallerThan));
    const I grid = on & small;
    const bool gridOfFour =
        L::countTrue(grid & ((spanX > L::setI(kSmallGridSpan)) | (spanY > L::setI(kSmallGridSpan)))) != 0;
    return {grid, on & ~small & sliceable, on & ~small & ~sliceable, gridOfFour};
}
