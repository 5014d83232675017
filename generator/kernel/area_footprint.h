// The area filter's footprints as the picture sees them, and their samples. A footprint's
// corners, at ((c ± ½) / N, (r ± ½) / N) of its diamond, are mapped to the picture exactly;
// inside it the way to the picture is the bilinear blend of its four corners, sampled on a
// grid of ku × kv points that grows with the footprint's size in pixels. Every regime but the
// slices sums such samples (area_regimes.h). Included inside a kernel instance's namespace
// (kernel_instance.inl).
#pragma once

#include <cstdint>

#include "area_regimes.h"
#include "diamond_kernel.h"
#include "lanes.h"

// Samples per side of a footprint whose side spans `pixels`: 1.2 a pixel and a couple more,
// which keeps the average within about 1.5 levels (RMS) of the exact one on maps of
// one-pixel detail, from footprints of a fraction of a pixel to footprints of many.
constexpr double kSamplesPerPixel = 1.2;
constexpr double kSampleSlack = 2.6;
constexpr std::int32_t kMaxSamplesPerSide = 256;
constexpr std::int32_t kMaxExactSamplesPerSide = 64;
constexpr double kGaussPairPlace = 0.21132486540518713;  // ½ − ½/√3

// A group of footprints on the picture: the corner (c − ½, r − ½) at (x00, y00), the others
// relative to it: d[0] next along u, d[1] next along v, d[2] the opposite corner. Then the
// box round the corners (relative), the pixels whose floors it spans, and the samples a
// side takes.
template <class L>
struct Footprint {
    using D = typename L::D;
    using I = typename L::I;
    D x00, y00, dx[3], dy[3];
    D lowX, highX, lowY, highY;
    I baseX, baseY;  // the lowest pixel column and row under the box, unwrapped
    I spanX, spanY;  // how many more columns and rows its floors reach
    I ku, kv;
};

template <class L>
typename L::I samplesPerSide(typename L::D pixels, std::int32_t most)
{
    typename L::I count = L::truncate(pixels * L::setD(kSamplesPerPixel) + L::setD(kSampleSlack));
    count = L::toF(pixels) < L::setF(static_cast<float>(kGaussPairBelow)) ? L::setI(2) : count;
    return count > L::setI(most) ? L::setI(most) : count;
}

// The first of `count` samples along a footprint's side, and the step to the next, as
// fractions of the side: the midpoints of `count` equal parts, or for two samples the
// Gauss–Legendre pair.
template <class L>
void samplePlaces(typename L::I count, typename L::D& first, typename L::D& step)
{
    using D = typename L::D;
    const auto pair = L::toD(count) == L::setD(2.0);
    const D parts = L::toD(count > L::setI(1) ? count : L::setI(1));
    step = pair ? L::setD(1.0 - 2 * kGaussPairPlace) : L::setD(1.0) / parts;
    first = pair ? L::setD(kGaussPairPlace) : L::setD(0.5) * step;
}

// Samples per side from the corner offsets: the longer of each pair of opposite sides.
template <class L>
void sampleCounts(const typename L::D (&dx)[3], const typename L::D (&dy)[3], std::int32_t most, typename L::I& ku,
                  typename L::I& kv)
{
    using D = typename L::D;
    const auto square = [](D a, D b) { return a * a + b * b; };
    const auto longer = [](D a, D b) { return L::sqrt(a > b ? a : b); };  // one root per pair
    ku = samplesPerSide<L>(longer(square(dx[0], dy[0]), square(dx[2] - dx[1], dy[2] - dy[1])), most);
    kv = samplesPerSide<L>(longer(square(dx[1], dy[1]), square(dx[2] - dx[0], dy[2] - dy[0])), most);
}

// Corner x relative to x00, the shorter way round the map.
template <class L>
typename L::D towards(const DiamondSetup& s, typename L::D x, typename L::D x00)
{
    using D = typename L::D;
    const D half = L::setD(s.scales.halfWidth), dx = x - x00;
    return dx > half ? dx - (half + half) : (dx < -half ? dx + (half + half) : dx);
}

// The footprints with their corners at (x00, y00) and, relative to it, (dx, dy), measured.
template <class L>
Footprint<L> measureFootprints(typename L::D x00, typename L::D y00, const typename L::D (&dx)[3],
                               const typename L::D (&dy)[3])
{
    using D = typename L::D;
    Footprint<L> f{x00, y00, {dx[0], dx[1], dx[2]}, {dy[0], dy[1], dy[2]}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}};
    sampleCounts<L>(dx, dy, kMaxSamplesPerSide, f.ku, f.kv);
    const auto low = [](D a, D b) { return a < b ? a : b; };
    const auto high = [](D a, D b) { return a > b ? a : b; };
    const D zero = L::setD(0.0);
    f.lowX = low(low(zero, dx[0]), low(dx[1], dx[2]));
    f.highX = high(high(zero, dx[0]), high(dx[1], dx[2]));
    f.lowY = low(low(zero, dy[0]), low(dy[1], dy[2]));
    f.highY = high(high(zero, dy[0]), high(dy[1], dy[2]));
    const auto floorOf = [](D value) { return L::floorToInt(L::toF(value)); };
    f.baseX = floorOf(x00 + f.lowX);
    f.baseY = floorOf(y00 + f.lowY);
    f.spanX = floorOf(x00 + f.highX) - f.baseX;
    f.spanY = floorOf(y00 + f.highY) - f.baseY;
    return f;
}

// Adds to `sums` the ku × kv samples of each footprint; each sample of (a, b) goes to
// x00 + b·dx10 + a·(dx01 + b·(dx11 − dx10 − dx01)), and y alike. Lanes with ku = 0 add none.
template <class L, class Sums>
void addBlendedFootprint(const DiamondSetup& s, const Footprint<L>& f, typename L::I ku, typename L::I kv,
                         Sums& sums)
{
    using D = typename L::D;
    D firstU, stepU, firstV, stepV;
    samplePlaces<L>(ku, firstU, stepU);
    samplePlaces<L>(kv, firstV, stepV);
    const D twistX = f.dx[2] - f.dx[1] - f.dx[0], twistY = f.dy[2] - f.dy[1] - f.dy[0];
    std::int32_t rows = 0, columns = 0;
    for (unsigned j = 0; j < L::kCount; ++j) {
        rows = most<std::int32_t>(rows, L::lane(kv, j));
        columns = most<std::int32_t>(columns, L::lane(ku, j));
    }
    for (std::int32_t row = 0; row < rows; ++row) {
        const D b = firstV + L::setD(row) * stepV;
        const D slopeX = f.dx[0] + b * twistX, slopeY = f.dy[0] + b * twistY;
        typename L::F x = L::toF(f.x00 + b * f.dx[1] + firstU * slopeX);
        typename L::F y = L::toF(f.y00 + b * f.dy[1] + firstU * slopeY);
        const typename L::F stepX = L::toF(slopeX * stepU), stepY = L::toF(slopeY * stepU);
        const auto rowOn = L::setI(row) < kv;
        for (std::int32_t column = 0; column < columns; ++column, x += stepX, y += stepY)
            sums.add(s, x, y, rowOn & (L::setI(column) < ku));
        sums.endRow();
    }
}
