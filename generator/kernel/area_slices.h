// The area filter's slices (area_regimes.h). The map is a field of cells: pixel (k, j) fills
// picture columns [k, k + 1) and rows [j, j + 1), the cell nearest reads it in, so that area
// and nearest place every pixel alike. A footprint's integral is taken along horizontal
// slices: along a slice exactly (the whole pixels summed, the two ends by their fractions);
// down the footprint at the Gauss pair of every band between two map rows, where a slice's
// integral is linear in its height but for a kink or two. Each slice is weighted by its
// height and by the cosine of its latitude: the picture stretches the sphere by 1 / cos
// towards the poles, and the average is the sphere's, as the footprint's square on the
// diamond sees it. Included inside a kernel instance's namespace (kernel_instance.inl).
#pragma once

#include <cstddef>
#include <cstdint>

#include "area_footprint.h"
#include "diamond_kernel.h"
#include "lanes.h"
#include "map_edges.h"
#include "map_terms.h"

// cos(x) for |x| up to a little past π/2, within 1e-10: its Taylor series to x¹⁴.
template <class L>
typename L::D cosine(typename L::D x)
{
    using D = typename L::D;
    const D z = x * x;
    D sum = L::setD(-1.0 / 87178291200.0);  // −1/14!
    const double coefficients[] = {1.0 / 479001600.0, -1.0 / 3628800.0, 1.0 / 40320.0, -1.0 / 720.0,
                                   1.0 / 24.0,        -0.5,             1.0};
    for (const double c : coefficients)
        sum = sum * z + L::setD(c);
    return sum;
}

// The sphere's weight of a slice at picture row y: cos(latitude), nothing past a pole.
template <class L>
typename L::D sphereWeight(const DiamondSetup& s, typename L::D y)
{
    using D = typename L::D;
    if (s.scales.rowScale == 0)  // a map one row high: no latitude to speak of
        return L::setD(1.0);
    const D weight = cosine<L>((L::setD(s.scales.halfHeight) - y) / L::setD(s.scales.rowScale));
    return weight > L::setD(0.0) ? weight : L::setD(0.0);
}

// A column of the cells brought into the map: one period at most either way by a step,
// farther by the remainder.
inline std::uint32_t cellColumn(std::int64_t column, std::uint32_t period)
{
    if (column < -static_cast<std::int64_t>(period) || column >= 2 * static_cast<std::int64_t>(period)) {
        column %= period;
        column = column < 0 ? column + period : column;
    }
    return static_cast<std::uint32_t>(wrapOnce<std::int64_t>(column, period));
}

// Adds scale × the integral of row `row` of the cells from picture column wholeLeft +
// fractionLeft to wholeRight + fractionRight (not before it; any number of periods apart):
// the whole cells from wholeLeft on, less the part of the first before the start, and the
// part of the last before the end.
template <class Terms>
void addSliceIntegral(const Terms& terms, const MapView& map, std::int32_t row, std::int64_t wholeLeft,
                      double fractionLeft, std::int64_t wholeRight, double fractionRight, double scale,
                      double (&sums)[kMaxTerms])
{
    const std::int64_t period = map.period;
    const std::uint32_t first = wholeLeft >= 0 && wholeLeft < period ? static_cast<std::uint32_t>(wholeLeft)
                                                                     : cellColumn(wholeLeft, map.period);
    const std::int64_t count = wholeRight - wholeLeft;
    const unsigned char* pixels = map.base + static_cast<std::size_t>(row) * map.rowBytes;
    if (count < period - first) {  // no turn round the map on the way: one stretch
        terms.addStretch(pixels, first, static_cast<std::uint32_t>(count), fractionLeft, fractionRight, scale, sums);
        return;
    }
    terms.addRun(pixels, first, count, scale, sums);
    terms.add(pixels, cellColumn(wholeRight, map.period), scale * fractionRight, sums);
    terms.add(pixels, first, -scale * fractionLeft, sums);
}

// The slices regime over the lanes `on`: into `total` each footprint's weighted integral of
// the terms, into `weight` the weighted area it covers; total / weight is its average.
template <class L, class Terms>
void sumBySlices(const DiamondSetup& s, const Footprint<L>& f, typename L::I on, const Terms& terms,
                 typename L::D (&total)[kMaxTerms], typename L::D& weight)
{
    using D = typename L::D;
    using F = typename L::F;
    using I = typename L::I;
    const F zero = L::setF(0.0f);
    // The corners in order round the edge, and each edge's run in x per unit of y (0 on
    // level edges, which no slice crosses).
    const F cornerX[4] = {zero, L::toF(f.dx[0]), L::toF(f.dx[2]), L::toF(f.dx[1])};
    const F cornerY[4] = {zero, L::toF(f.dy[0]), L::toF(f.dy[2]), L::toF(f.dy[1])};
    F run[4], top = zero, bottom = zero;
    for (int e = 0; e < 4; ++e) {
        const F rise = cornerY[(e + 1) % 4] - cornerY[e];
        run[e] = rise != zero ? (cornerX[(e + 1) % 4] - cornerX[e]) / rise : zero;
        top = cornerY[e] < top ? cornerY[e] : top;
        bottom = cornerY[e] > bottom ? cornerY[e] : bottom;
    }
    // Whole pixels apart from the fractions, so that floats keep the fractions exact.
    const I baseX = L::truncate(f.x00), baseY = L::truncate(f.y00);
    const F fractionX = L::toF(f.x00 - L::toD(baseX)), fractionY = L::toF(f.y00 - L::toD(baseY));
    // The footprint meets the bands between map rows firstBand to firstBand + bands − 1.
    const I firstBand = L::floorToInt(fractionY + top);
    const I bands = on ? L::floorToInt(fractionY + bottom) - firstBand + L::setI(1) : L::setI(0);
    std::int32_t mostBands = 0;
    for (unsigned j = 0; j < L::kCount; ++j)
        mostBands = most<std::int32_t>(mostBands, L::lane(bands, j));
    const I lastRow = L::setI(static_cast<std::int32_t>(s.map.lastRow));
    for (std::int32_t bandIndex = 0; bandIndex < mostBands; ++bandIndex) {
        const I band = firstBand + L::setI(bandIndex);
        const F bandTop = L::toF(band) - fractionY, bandBottom = bandTop + L::setF(1.0f);
        const F pieceTop = top > bandTop ? top : bandTop, pieceBottom = bottom < bandBottom ? bottom : bandBottom;
        for (int slice = 0; slice < 2; ++slice) {
        const F place = L::setF(static_cast<float>(slice % 2 == 0 ? kGaussPairPlace : 1 - kGaussPairPlace));
        const F y = pieceTop + place * (pieceBottom - pieceTop), share = pieceBottom - pieceTop;
        F left = L::setF(3e38f), right = L::setF(-3e38f);
        for (int e = 0; e < 4; ++e) {
            const F y0 = cornerY[e], y1 = cornerY[(e + 1) % 4];
            const F x = cornerX[e] + (y - y0) * run[e];
            const I crosses = ((y - y0) * (y - y1) <= zero) & (y0 != y1);
            left = (crosses & (x < left)) ? x : left;
            right = (crosses & (x > right)) ? x : right;
        }
        const I live = on & (L::setI(bandIndex) < bands) & (left <= right) & (share > zero);
        const I row = clampRow(baseY + band, lastRow);
        const D scale = L::toD(live ? share : zero) *
                        sphereWeight<L>(s, L::toD(baseY) + L::toD(fractionY) + L::toD(y));
        weight += scale * L::toD(live ? right - left : zero);
        if (L::bits(live) == 0)
            continue;
        // Along the slice, lane by lane: the cells' integral between its ends.
        const F leftX = fractionX + left, rightX = fractionX + right;
        const I leftCells = L::floorToInt(leftX), rightCells = L::floorToInt(rightX);
        const F leftFraction = leftX - L::toF(leftCells), rightFraction = rightX - L::toF(rightCells);
        double sums[L::kCount][kMaxTerms] = {};
        for (unsigned j = 0; j < L::kCount; ++j) {
            if (L::lane(live, j) == 0)
                continue;
            const std::int64_t origin = L::lane(baseX, j);
            addSliceIntegral(terms, s.map, L::lane(row, j), origin + L::lane(leftCells, j), L::lane(leftFraction, j),
                             origin + L::lane(rightCells, j), L::lane(rightFraction, j), L::lane(scale, j), sums[j]);
        }
        for (int k = 0; k < terms.count(); ++k) {
            D column{};
            for (unsigned j = 0; j < L::kCount; ++j)
                L::setLane(column, j, sums[j][k]);
            total[k] += column;
        }
        }
    }
}
