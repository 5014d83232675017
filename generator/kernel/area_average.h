// The area filter's sums over a group of footprints (area_regimes.h): for each lane the
// cells it covers (area_cells.h) where they fit the window, else its integral along slices
// (area_slices.h), and its weight; for a footprint of no area on the picture, the cell at
// its centre. Each texel's sums are taken in the same order on
// every instruction set. Included inside a kernel instance's namespace
// (kernel_instance.inl).
#pragma once

#include <cstddef>
#include <cstdint>

#include "area_cells.h"
#include "area_footprint.h"
#include "area_regimes.h"
#include "area_slices.h"
#include "diamond_kernel.h"
#include "lanes.h"
#include "map_edges.h"
#include "map_terms.h"

template <class L, class Terms>
void footprintSums(const DiamondSetup& s, const Footprint<L>& f, typename L::I on, const Terms& terms,
                   typename L::D (&total)[kMaxTerms], typename L::D& weight)
{
    using D = typename L::D;
    using I = typename L::I;
    for (int k = 0; k < kMaxTerms; ++k)
        total[k] = L::setD(0.0);
    weight = L::setD(0.0);
    // The cells under the corners' box.
    const auto low = [](D a, D b) { return a < b ? a : b; };
    const auto high = [](D a, D b) { return a > b ? a : b; };
    const D zero = L::setD(0.0);
    const auto floorOf = [](D value) { return L::floorToInt(L::toF(value)); };
    const I baseX = floorOf(f.x00 + low(low(zero, f.dx[0]), low(f.dx[1], f.dx[2])));
    const I baseY = floorOf(f.y00 + low(low(zero, f.dy[0]), low(f.dy[1], f.dy[2])));
    const D lowX = low(low(zero, f.dx[0]), low(f.dx[1], f.dx[2])), highX = high(high(zero, f.dx[0]), high(f.dx[1], f.dx[2]));
    const D lowY = low(low(zero, f.dy[0]), low(f.dy[1], f.dy[2])), highY = high(high(zero, f.dy[0]), high(f.dy[1], f.dy[2]));
    const I spanX = floorOf(f.x00 + highX) - baseX;
    const I spanY = floorOf(f.y00 + highY) - baseY;
    const I flat = (L::toF(highX - lowX) < L::setF(kFlatFootprint)) | (L::toF(highY - lowY) < L::setF(kFlatFootprint));
    const I span = spanX > spanY ? spanX : spanY;
    const I small = span < L::setI(kCellWindow);
    // (Masks are negated by comparison: one lane's are bools, 0 or 1.)
    const I solid = flat == L::setI(0), large = small == L::setI(0);
    const I cells = on & small & solid, sliced = on & large & solid;
    if (L::countTrue(cells) != 0) {
        std::int32_t widest = 0;  // the cells lanes' largest span picks the window
        for (unsigned j = 0; j < L::kCount; ++j)
            widest = L::lane(cells, j) != 0 ? most<std::int32_t>(widest, L::lane(span, j)) : widest;
        const auto cover = [&](auto window) {
            window.baseX = baseX;
            window.baseY = baseY;
            window.spanX = spanX;
            window.spanY = spanY;
            coverCells<L>(f, window);
            sumByCells<L>(s, window, cells, terms, total, weight);
        };
        static_assert(kCellWindow == 8, "windows of 2, 3, 4, 6 and 8 cells");
        if (widest < 2)
            cover(CellWindow<L, 2>{});
        else if (widest < 3)
            cover(CellWindow<L, 3>{});
        else if (widest < 4)
            cover(CellWindow<L, 4>{});
        else if (widest < 6)
            cover(CellWindow<L, 6>{});
        else
            cover(CellWindow<L, 8>{});
    }
    if (L::countTrue(sliced) != 0) {
        D sliceTotal[kMaxTerms] = {}, sliceWeight = zero;
        sumBySlices<L>(s, f, sliced, terms, sliceTotal, sliceWeight);
        const auto mine = L::toD(sliced) != zero;
        for (int k = 0; k < kMaxTerms; ++k)
            total[k] = mine ? sliceTotal[k] : total[k];
        weight = mine ? sliceWeight : weight;
    }
    for (unsigned j = 0; j < L::kCount; ++j) {
        if (L::lane(on, j) == 0 || L::lane(flat, j) == 0)
            continue;
        const double x = L::lane(f.x00, j) + 0.5 * L::lane(f.dx[2], j), y = L::lane(f.y00, j) + 0.5 * L::lane(f.dy[2], j);
        const double period = s.map.period;
        const double column = wrapOnce(__builtin_floor(x) - period * __builtin_floor(__builtin_floor(x) / period), period);
        const double row = clampRow(__builtin_floor(y), static_cast<double>(s.map.lastRow));
        double sums[kMaxTerms] = {};
        terms.add(s.map.base + static_cast<std::size_t>(row) * s.map.rowBytes,
                  column >= 0 && column < period ? static_cast<std::uint32_t>(column) : 0, 1.0, sums);
        for (int k = 0; k < terms.count(); ++k)
            L::setLane(total[k], j, sums[k]);
        L::setLane(weight, j, 1.0);
    }
}
