// The area filter's texels at the pole and along the pole edges, one at a time
// (area_regimes.h). A texel on a pole edge takes in the footprint of the same texel in the
// diamond beside it, and the pole texel those of every diamond round the pole, so that all
// of them give it the same colour; near the pole, where the blend of a footprint's corners
// is no guide, every sample is mapped exactly. Included inside a kernel instance's namespace
// (kernel_instance.inl).
#pragma once

#include <cstdint>

#include "area_average.h"
#include "area_footprint.h"
#include "area_regimes.h"
#include "area_taps.h"
#include "diamond_kernel.h"
#include "geometry.h"
#include "lanes.h"
#include "spherical_lookup.h"

// Where (u, v) of the diamond `planes` falls on the picture.
void pictureAt(const DiamondSetup& s, const DiamondPlanes& planes, double u, double v, double& x, double& y)
{
    const Vector3 q = diamondPoint(planes, u, v);
    float longitude = 0.0f, latitude = 0.0f;
    directionToAngles(q.x, q.y, q.z, longitude, latitude);
    x = pictureColumn(s.scales, longitude);
    y = pictureRow(s.scales, latitude);
}

// The average colour over texel (r, c)'s footprint in the diamond of `planes`, added to
// `average`. Depends on nothing but its arguments, so every diamond that takes in this
// footprint adds the same values.
void addFootprintAverage(const DiamondSetup& s, const DiamondPlanes& planes, std::uint32_t r, std::uint32_t c,
                         double (&average)[3])
{
    double x00, y00, corner[3][2];
    pictureAt(s, planes, (c - 0.5) * s.inverseColumns, (r - 0.5) * s.inverseRows, x00, y00);
    for (int k = 0; k < 3; ++k)
        pictureAt(s, planes, (c + 0.5 - (k == 1)) * s.inverseColumns, (r - 0.5 + (k != 0)) * s.inverseRows,
                  corner[k][0], corner[k][1]);
    const double dx[3] = {towards<OneLane>(s, corner[0][0], x00), towards<OneLane>(s, corner[1][0], x00),
                          towards<OneLane>(s, corner[2][0], x00)};
    const double dy[3] = {corner[0][1] - y00, corner[1][1] - y00, corner[2][1] - y00};
    if (!isNearPole(r, c)) {
        double footprint[3];
        footprintAverages<OneLane>(s, x00, y00, dx, dy, 1, footprint);
        for (int channel = 0; channel < 3; ++channel)
            average[channel] += footprint[channel];
        return;
    }
    // Next to the pole the blend of the corners is no guide: every sample exactly.
    std::int32_t ku, kv;
    sampleCounts<OneLane>(dx, dy, kMaxExactSamplesPerSide, ku, kv);
    double firstU, stepU, firstV, stepV;
    samplePlaces<OneLane>(ku, firstU, stepU);
    samplePlaces<OneLane>(kv, firstV, stepV);
    FootprintSums<OneLane> sums;
    for (std::int32_t row = 0; row < kv; ++row) {
        for (std::int32_t column = 0; column < ku; ++column) {
            double x = 0, y = 0;
            pictureAt(s, planes, (c - 0.5 + firstU + column * stepU) * s.inverseColumns,
                      (r - 0.5 + firstV + row * stepV) * s.inverseRows, x, y);
            sums.add(s, static_cast<float>(x), static_cast<float>(y), 1);
        }
        sums.endRow();
    }
    for (int channel = 0; channel < 3; ++channel)
        average[channel] += sums.total[channel] / (static_cast<double>(ku) * kv);
}

// Texel (r, c) near the pole or on a pole edge (isPoleTexel).
void exactTexel(const DiamondSetup& s, std::uint32_t r, std::uint32_t c, unsigned char* out)
{
    double average[3] = {};
    int footprints = 1;
    if (r == 0 && c == 0 && s.aroundPoleCount > 0) {
        for (int k = 0; k < s.aroundPoleCount; ++k)
            addFootprintAverage(s, s.aroundPole[k], 0, 0, average);
        footprints = s.aroundPoleCount;
    } else if (r == 0 && s.besideCount[0] != 0) {  // the top row's diamond first
        addFootprintAverage(s, s.planes, 0, c, average);
        addFootprintAverage(s, s.besideTopRow, c, 0, average);
        footprints = 2;
    } else if (c == 0 && s.besideCount[1] != 0) {
        addFootprintAverage(s, s.besideLeftColumn, 0, r, average);
        addFootprintAverage(s, s.planes, r, 0, average);
        footprints = 2;
    } else {
        addFootprintAverage(s, s.planes, r, c, average);
    }
    std::uint32_t word = 0;
    for (int channel = 0; channel < 3; ++channel)
        word |= static_cast<std::uint32_t>(average[channel] / footprints + 0.5) << (8 * channel);
    OneLane::storeTexels(out, static_cast<std::int32_t>(word));
}
