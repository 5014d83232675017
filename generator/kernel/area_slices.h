// The area filter's slices regime (area_regimes.h), for the widest footprints, by the
// poles: slices along the map's rows, each integrated exactly, so that the cost grows with a
// footprint's height only. Included inside a kernel instance's namespace
// (kernel_instance.inl).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "area_footprint.h"
#include "diamond_kernel.h"
#include "lanes.h"
#include "map_edges.h"

// Each channel's sum over pixels [left, right) of `row` for the lanes in `on`, where
// `turns` counts the times the run goes round the map from `left` to `right` (both
// columns of the row).
template <class L>
void runSums(const DiamondSetup& s, typename L::I row, typename L::I left, typename L::I right, typename L::I turns,
             typename L::I on, typename L::I (&sums)[3])
{
    std::int32_t sum[3][L::kCount] = {};
    for (unsigned j = 0; j < L::kCount; ++j) {
        if (L::lane(on, j) == 0)
            continue;
        const std::uint32_t* pixels = s.pixels + static_cast<std::size_t>(L::lane(row, j)) * s.stride;
        auto column = static_cast<std::uint32_t>(L::lane(left, j));
        const std::int64_t count = L::lane(right, j) - std::int64_t{column} + std::int64_t{L::lane(turns, j)} * s.width;
        for (std::int64_t k = 0; k < count; ++k) {
            const std::uint32_t word = pixels[column];
            column = column + 1 == s.width ? 0 : column + 1;
            sum[0][j] += static_cast<std::int32_t>(word & 0xFF);
            sum[1][j] += static_cast<std::int32_t>((word >> 8) & 0xFF);
            sum[2][j] += static_cast<std::int32_t>((word >> 16) & 0xFF);
        }
    }
    for (int channel = 0; channel < 3; ++channel)
        std::memcpy(&sums[channel], sum[channel], sizeof sums[channel]);
}

// The slices regime over the lanes `on`: into `total` the bilinear map's integrals along
// horizontal slices through each footprint, and into `width` (the weight) the slices'
// lengths, both weighted by the height each slice stands for; total / width is the
// average. Along a slice the integral is exact: the
// whole pixels' sum, and the two ends by formula. Down the footprint the map is linear
// between two rows, so each band between rows takes two slices, at its Gauss pair. Lanes
// not in `on` add nothing.
template <class L>
void sumBySlices(const DiamondSetup& s, const Footprint<L>& f, typename L::I on, typename L::D (&total)[3],
                 typename L::D& width)
{
    using F = typename L::F;
    using I = typename L::I;
    const F zero = L::setF(0.0f);
    // The corners in order round the edge, and each edge's run in x per unit of y
    // (0 on level edges, which no slice crosses).
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
    const I mapWidth = L::setI(static_cast<std::int32_t>(s.width));
    const I lastRow = L::setI(static_cast<std::int32_t>(s.height) - 1);
    // A column brought into the map (map_edges.h), and the turns that took (any number
    // either way).
    const auto wrap = [&](I& column, I& turns) {
        turns = L::floorToInt(L::toF(column) / L::toF(mapWidth));
        column = column - turns * mapWidth;
        const I under = column < L::setI(0), over = column >= mapWidth;
        column = wrapOnce(column, mapWidth);
        turns = under ? turns - L::setI(1) : (over ? turns + L::setI(1) : turns);
    };
    // ∫ from the left of pixel `column` to `fraction` into it, less half the pixel: the
    // formula for a slice's ends.
    const auto end = [](I left, I right, F fraction, int channel) {
        const F p0 = L::toF(L::byteOf(left, channel)), p1 = L::toF(L::byteOf(right, channel));
        return p0 * (L::setF(0.5f) + fraction) + L::setF(0.5f) * fraction * fraction * (p1 - p0);
    };
    for (std::int32_t slice = 0; slice < 2 * mostBands; ++slice) {
        const I band = firstBand + L::setI(slice / 2);
        const F bandTop = L::toF(band) - fractionY, bandBottom = bandTop + L::setF(1.0f);
        const F pieceTop = top > bandTop ? top : bandTop, pieceBottom = bottom < bandBottom ? bottom : bandBottom;
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
        const I live = on & (L::setI(slice / 2) < bands) & (left <= right);

        I row = baseY + band;
        F t = y - bandTop;
        t = ((row < L::setI(0)) | (row >= lastRow)) ? zero : t;  // rows stop at the first and the last
        row = clampRow(row, lastRow);
        const I nextRow = rowBelow(row, lastRow);

        const F leftX = fractionX + (live ? left : zero), rightX = fractionX + (live ? right : zero);
        const I wholeLeft = L::floorToInt(leftX), wholeRight = L::floorToInt(rightX);
        const F leftFraction = leftX - L::toF(wholeLeft), rightFraction = rightX - L::toF(wholeRight);
        I leftColumn = baseX + wholeLeft, rightColumn = baseX + wholeRight, leftTurns, rightTurns;
        wrap(leftColumn, leftTurns);
        wrap(rightColumn, rightTurns);
        const I turns = rightTurns - leftTurns;

        F sliceSum[3] = {zero, zero, zero};
        for (int k = 0; k < 2; ++k) {
            const I at = live ? (k == 0 ? row : nextRow) : L::setI(0);
            const F weight = k == 0 ? L::setF(1.0f) - t : t;
            I whole[3], leftPixel, leftNext, rightPixel, rightNext;
            runSums<L>(s, at, live ? leftColumn : L::setI(0), live ? rightColumn : L::setI(0),
                        live ? turns : L::setI(0), live, whole);
            L::loadPairs(s.pixels, L::index(at, live ? leftColumn : L::setI(0), s.stride), leftPixel, leftNext);
            L::loadPairs(s.pixels, L::index(at, live ? rightColumn : L::setI(0), s.stride), rightPixel, rightNext);
            for (int channel = 0; channel < 3; ++channel)
                sliceSum[channel] += weight * (L::toF(whole[channel]) +
                                               end(rightPixel, rightNext, rightFraction, channel) -
                                               end(leftPixel, leftNext, leftFraction, channel));
        }
        for (int channel = 0; channel < 3; ++channel)
            total[channel] += L::toD(live ? share * sliceSum[channel] : zero);
        width += L::toD(live ? share * (right - left) : zero);
    }
}
