// The area filter's driver: a band of rows, line of corners after line of corners, each
// texel's footprint summed (area_average.h) Wide lanes at a time, or one at a time at the
// pole and along the pole edges (area_pole.h), and stored by its terms (map_terms.h). Which
// footprint is summed which way, and why: area_regimes.h. Included inside a kernel
// instance's namespace (kernel_instance.inl).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "area_average.h"
#include "area_pole.h"
#include "area_regimes.h"
#include "diamond_kernel.h"
#include "lanes.h"
#include "map_terms.h"
#include "point_passes.h"

// Picture coordinates of the footprint corners along one line of corners.
struct CornerRow {
    double x[kBlock + 1], y[kBlock + 1];
};

// The texels [i, i + L::kCount) of the block's row, from the corner rows above (top) and
// below (bottom) it; lanes not in `blended` are left to poleTexel.
template <class L, class Terms>
void blendedTexels(const DiamondSetup& s, const Terms& terms, const CornerRow& top, const CornerRow& bottom,
                   std::uint32_t i, typename L::I blended, unsigned char* out)
{
    using D = typename L::D;
    const auto load = [](const double* at) {
        D value;
        std::memcpy(&value, at, sizeof value);
        return value;
    };
    const D x00 = load(top.x + i), y00 = load(top.y + i);
    const Footprint<L> f{x00,
                         y00,
                         {towards<L>(s, load(top.x + i + 1), x00), towards<L>(s, load(bottom.x + i), x00),
                          towards<L>(s, load(bottom.x + i + 1), x00)},
                         {load(top.y + i + 1) - y00, load(bottom.y + i) - y00, load(bottom.y + i + 1) - y00}};
    D total[kMaxTerms], weight;
    footprintSums<L>(s, f, blended, terms, total, weight);
    const std::size_t texelSize = texelBytes(s.rules.output);
    for (unsigned j = 0; j < L::kCount; ++j) {
        if (L::lane(blended, j) == 0)
            continue;
        double sums[kMaxTerms];
        for (int k = 0; k < kMaxTerms; ++k)
            sums[k] = L::lane(total[k], j);
        terms.store(sums, L::lane(weight, j), out + texelSize * j);
    }
}

// Corners (2c − 1, 2r − 1) / 2N for c in [c0, c1]: the pole triangle's plane where
// c + r <= N + 1, the far one's beyond.
template <class Wide>
void cornerRow(const DiamondSetup& s, std::int32_t r, std::int32_t c0, std::int32_t c1, Block& block,
               CornerRow& corners)
{
    const auto v = static_cast<float>((2.0 * r - 1) * (0.5 * s.inverseRows));
    rowPoints<Wide>(s, v, std::int64_t{s.columns} + 1 - r, c0, c1 + 1, block, true);
    const auto count = static_cast<std::uint32_t>(c1 - c0);
    blockAngles<Wide>(block, count + 1);
    for (std::uint32_t i = 0; i <= count; ++i) {
        corners.x[i] = pictureColumn(s.scales, block.longitude[i]);
        corners.y[i] = pictureRow(s.scales, block.latitude[i]);
    }
}

// Rows [rowBegin, rowEnd) with the area filter: the corners with Wide lanes, the
// footprints with Reads (Wide, or one lane where a vector of the map's offsets would not do).
template <class Wide, class Reads, class Terms>
void renderAreaBand(const DiamondSetup& s, const Terms& terms, std::uint32_t rowBegin, std::uint32_t rowEnd,
                    unsigned char* out)
{
    Block block;
    CornerRow lines[2];
    const std::size_t texelSize = texelBytes(s.rules.output);
    const std::size_t rowBytes = s.outRowBytes;
    const auto n = static_cast<std::int32_t>(s.columns);
    for (std::uint32_t j0 = 0; j0 < s.regionColumns; j0 += kBlock) {
        const std::uint32_t count = least(kBlock, s.regionColumns - j0);
        const std::int32_t c0 = s.firstColumn + static_cast<std::int32_t>(j0);
        const std::int32_t c1 = c0 + static_cast<std::int32_t>(count);
        cornerRow<Wide>(s, s.firstRow + static_cast<std::int32_t>(rowBegin), c0, c1, block, lines[rowBegin % 2]);
        for (std::uint32_t i = rowBegin; i < rowEnd; ++i) {
            const std::int32_t r = s.firstRow + static_cast<std::int32_t>(i);
            const CornerRow& top = lines[i % 2];
            cornerRow<Wide>(s, r + 1, c0, c1, block, lines[(i + 1) % 2]);
            const CornerRow& bottom = lines[(i + 1) % 2];
            unsigned char* texels = out + (i - rowBegin) * rowBytes + std::size_t{j0} * texelSize;
            const auto exact = [&](std::int32_t c) { return isPoleTexel(r, c, n); };
            eachGroup<Reads>(count, [&](auto lanes, std::uint32_t k) {
                using L = decltype(lanes);
                typename L::I blended = L::setI(0);
                for (unsigned j = 0; j < L::kCount; ++j)
                    L::setLane(blended, j, exact(c0 + static_cast<std::int32_t>(k + j)) ? 0 : -1);
                blendedTexels<L>(s, terms, top, bottom, k, blended, texels + texelSize * k);
            });
            for (std::int32_t c = c0; c < c1; ++c)
                if (exact(c))
                    poleTexel<Wide>(s, terms, r, c, texels + texelSize * static_cast<std::size_t>(c - c0));
        }
    }
}
