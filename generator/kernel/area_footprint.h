// The area filter's footprints as the picture sees them. A footprint's corners, at
// ((c ± ½) / N, (r ± ½) / N) of its diamond, are mapped to the picture exactly; between them
// its edges are straight (the bilinear blend of the corners). Included inside a kernel
// instance's namespace (kernel_instance.inl).
#pragma once

#include <cstdint>

#include "diamond_kernel.h"
#include "lanes.h"

constexpr double kGaussPairPlace = 0.21132486540518713;  // ½ − ½/√3

// A group of footprints on the picture: the corner (c − ½, r − ½) at (x00, y00), the others
// relative to it: d[0] next along u, d[1] next along v, d[2] the opposite corner.
template <class L>
struct Footprint {
    typename L::D x00, y00, dx[3], dy[3];
};

// Corner x relative to x00, the shorter way round the map.
template <class L>
typename L::D towards(const DiamondSetup& s, typename L::D x, typename L::D x00)
{
    using D = typename L::D;
    const D half = L::setD(s.scales.halfWidth), dx = x - x00;
    return dx > half ? dx - (half + half) : (dx < -half ? dx + (half + half) : dx);
}
