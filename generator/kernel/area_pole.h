// The area filter's texels at the pole and along the pole edges, one at a time
// (area_regimes.h). A texel on a pole edge takes in the footprint of the same texel in the
// diamond beside it, and the pole texel those of every diamond round the pole, so that all
// of them give it the same colour; near the pole, where the corners' blend is no guide to a
// footprint's shape, its samples are mapped exactly, each reading the cell it falls in.
// Included inside a kernel instance's namespace (kernel_instance.inl).
#pragma once

#include <cstdint>

#include "area_average.h"
#include "area_footprint.h"
#include "area_regimes.h"
#include "diamond_kernel.h"
#include "geometry.h"
#include "lanes.h"
#include "map_edges.h"
#include "map_terms.h"
#include "point_passes.h"
#include "spherical_lookup.h"

// Samples per side of a footprint next to the pole: twice a pixel and a couple more, up to
// kMostPoleSamples (these footprints span the map's width; there are a dozen of them).
constexpr double kPoleSamplesPerPixel = 2.0;
constexpr std::int32_t kMostPoleSamples = 64;

// Where (u, v) of the diamond `planes` falls on the picture.
void pictureAt(const DiamondSetup& s, const DiamondPlanes& planes, double u, double v, double& x, double& y)
{
    const Vector3 q = diamondPoint(planes, u, v);
    float longitude = 0.0f, latitude = 0.0f;
    directionToAngles(q.x, q.y, q.z, longitude, latitude);
    x = pictureColumn(s.scales, longitude);
    y = pictureRow(s.scales, latitude);
}

// The cell under picture point (x, y).
template <class Terms>
void addCell(const DiamondSetup& s, const Terms& terms, double x, double y, double (&sums)[kMaxTerms])
{
    const double period = s.map.period;
    const double column = wrapOnce(__builtin_floor(x), period);
    const double row = clampRow(__builtin_floor(y), static_cast<double>(s.map.lastRow));
    terms.add(s.map.base + static_cast<std::size_t>(row) * s.map.rowBytes,
              column >= 0 && column < period ? static_cast<std::uint32_t>(column) : 0, 1.0, sums);
}

// Texel (r, c)'s footprint in the diamond of `planes`: its terms, normalised by its weight,
// added to `sums`. Depends on nothing but its arguments, so every diamond that takes in this
// footprint adds the same values.
template <class Wide, class Terms>
void addFootprint(const DiamondSetup& s, const Terms& terms, const DiamondPlanes& planes, std::int32_t r,
                  std::int32_t c, double (&sums)[kMaxTerms])
{
    double x00, y00, corner[3][2];
    pictureAt(s, planes, (c - 0.5) * s.inverseColumns, (r - 0.5) * s.inverseRows, x00, y00);
    for (int k = 0; k < 3; ++k)
        pictureAt(s, planes, (c + 0.5 - (k == 1)) * s.inverseColumns, (r - 0.5 + (k != 0)) * s.inverseRows,
                  corner[k][0], corner[k][1]);
    const Footprint<OneLane> f{x00,
                               y00,
                               {towards<OneLane>(s, corner[0][0], x00), towards<OneLane>(s, corner[1][0], x00),
                                towards<OneLane>(s, corner[2][0], x00)},
                               {corner[0][1] - y00, corner[1][1] - y00, corner[2][1] - y00}};
    double footprint[kMaxTerms] = {}, weight = 0;
    if (!isNearPole(r, c)) {
        footprintSums<OneLane>(s, f, 1, terms, footprint, weight);
    } else {
        // Samples per side from the longer of each pair of opposite sides, in pixels.
        const auto side = [](double dx, double dy) { return __builtin_sqrt(dx * dx + dy * dy); };
        const auto count = [](double pixels) {
            return static_cast<std::int32_t>(clampTo(pixels * kPoleSamplesPerPixel + 2.0, 2.0, double{kMostPoleSamples}));
        };
        const std::int32_t ku = count(most(side(f.dx[0], f.dy[0]), side(f.dx[2] - f.dx[1], f.dy[2] - f.dy[1])));
        const std::int32_t kv = count(most(side(f.dx[1], f.dy[1]), side(f.dx[2] - f.dx[0], f.dy[2] - f.dy[0])));
        // The samples' points a block at a time, their angles with Wide lanes (the same
        // floats as directionToAngles gives), then each sample's cell, in order.
        Block block;
        std::uint32_t filled = 0;
        const auto sampleBlock = [&] {
            blockAngles<Wide>(block, filled);
            for (std::uint32_t i = 0; i < filled; ++i)
                addCell(s, terms, pictureColumn(s.scales, block.longitude[i]), pictureRow(s.scales, block.latitude[i]),
                        footprint);
            filled = 0;
        };
        for (std::int32_t row = 0; row < kv; ++row) {
            for (std::int32_t column = 0; column < ku; ++column) {
                const Vector3 q = diamondPoint(planes, (c - 0.5 + (column + 0.5) / ku) * s.inverseColumns,
                                               (r - 0.5 + (row + 0.5) / kv) * s.inverseRows);
                block.x[filled] = q.x;
                block.y[filled] = q.y;
                block.z[filled] = q.z;
                if (++filled == kBlock)
                    sampleBlock();
            }
        }
        sampleBlock();
        weight = static_cast<double>(ku) * kv;
    }
    for (int k = 0; k < terms.count(); ++k)
        sums[k] += footprint[k] / weight;
}

// Texel (r, c) near the pole or on a pole edge (isPoleTexel).
template <class Wide, class Terms>
void poleTexel(const DiamondSetup& s, const Terms& terms, std::int32_t r, std::int32_t c, unsigned char* out)
{
    // The diamond's own texels on its pole edges are shared; border texels beyond them are
    // this diamond's footprints alone.
    const auto n = static_cast<std::int32_t>(s.columns);
    const bool inside = r >= 0 && c >= 0 && r < n && c < n;
    double sums[kMaxTerms] = {};
    int footprints = 1;
    if (inside && r == 0 && c == 0 && s.aroundPoleCount > 0) {
        for (int k = 0; k < s.aroundPoleCount; ++k)
            addFootprint<Wide>(s, terms, s.aroundPole[k], 0, 0, sums);
        footprints = s.aroundPoleCount;
    } else if (inside && r == 0 && s.besideCount[0] != 0) {  // the top row's diamond first
        addFootprint<Wide>(s, terms, s.planes, 0, c, sums);
        addFootprint<Wide>(s, terms, s.besideTopRow, c, 0, sums);
        footprints = 2;
    } else if (inside && c == 0 && s.besideCount[1] != 0) {
        addFootprint<Wide>(s, terms, s.besideLeftColumn, 0, r, sums);
        addFootprint<Wide>(s, terms, s.planes, r, 0, sums);
        footprints = 2;
    } else {
        addFootprint<Wide>(s, terms, s.planes, r, c, sums);
    }
    terms.store(sums, footprints, out);
}
