// The area filter's small footprints (area_regimes.h), in a window of up to kCellWindow
// cells a side (the smallest that holds a group's footprints): the
// exact area of each cell of a window that the footprint's quadrilateral covers, found the
// way a font rasteriser covers pixels. Each edge, band of rows by band and column by column,
// adds to the cell it crosses the area between itself and the cell's right side, and all of
// each cell further right; edges going down add, edges going up take away, and what is left
// in a cell is the part of it inside the footprint. Then the footprint's sum is each cell's
// terms times its area. Included inside a kernel instance's namespace (kernel_instance.inl).
#pragma once

#include <cstddef>
#include <cstdint>

#include "area_footprint.h"
#include "area_regimes.h"
#include "diamond_kernel.h"
#include "lanes.h"
#include "map_edges.h"
#include "map_terms.h"

// The cells under a window: its corner (baseX, baseY), columns wrapping round the map and
// rows stopping at the first and the last.
template <class L, int kSide>
struct CellWindow {
    typename L::I baseX, baseY;
    typename L::I spanX, spanY;        // each lane's last column and row in the window
    typename L::F area[kSide][kSide];  // [row][column], in cells
};

// The footprint's covered area of every cell of the window at (baseX, baseY), which must
// hold it. A lane's areas depend on its footprint alone, not on the window its group takes:
// its last column reaches out for ever whatever lies beyond, and its cells beyond its span
// are nought.
template <class L, int kSide>
void coverCells(const Footprint<L>& f, CellWindow<L, kSide>& window)
{
    using F = typename L::F;
    const F zero = L::setF(0.0f), one = L::setF(1.0f);
    const F originX = L::toF(f.x00 - L::toD(window.baseX)), originY = L::toF(f.y00 - L::toD(window.baseY));
    // The corners in order round the edge, relative to the window.
    const F x[4] = {originX, originX + L::toF(f.dx[0]), originX + L::toF(f.dx[2]), originX + L::toF(f.dx[1])};
    const F y[4] = {originY, originY + L::toF(f.dy[0]), originY + L::toF(f.dy[2]), originY + L::toF(f.dy[1])};
    // What each edge drops through a cell, which every cell further right then has whole:
    // added up once per row at the end.
    F drops[kSide][kSide];
    for (int r = 0; r < kSide; ++r)
        for (int k = 0; k < kSide; ++k)
            window.area[r][k] = drops[r][k] = zero;
    // The window's first and last columns reach out for ever, so that a corner a rounding
    // outside still has its cell.
    const F farAway = L::setF(1e30f);
    for (int e = 0; e < 4; ++e) {
        const F xa = x[e], ya = y[e], xb = x[(e + 1) % 4], yb = y[(e + 1) % 4];
        const F rise = yb - ya, run = xb - xa;
        const typename L::I level = rise == zero, upright = run == zero;
        const F perRise = level ? zero : one / rise, perRun = upright ? zero : one / run;
        // The part of the edge in each column k, as t from a (0) to b (1): all of it or none
        // for an upright edge.
        F columnLow[kSide], columnHigh[kSide];
        for (int k = 0; k < kSide; ++k) {
            const F left = k == 0 ? -farAway : L::setF(static_cast<float>(k));
            const F right = L::setI(k) >= window.spanX ? farAway : L::setF(static_cast<float>(k + 1));
            const F from = (left - xa) * perRun, to = (right - xa) * perRun;
            const typename L::I inside = (xa >= left) & (xa < right);
            columnLow[k] = upright ? (inside ? zero : one) : (from < to ? from : to);
            columnHigh[k] = upright ? (inside ? one : zero) : (from < to ? to : from);
        }
        const typename L::I sloped = level == L::setI(0);
        for (int r = 0; r < kSide; ++r) {
            // The part of the edge in band r.
            const F enter = (L::setF(static_cast<float>(r)) - ya) * perRise;
            const F leave = (L::setF(static_cast<float>(r + 1)) - ya) * perRise;
            F low = enter < leave ? enter : leave, high = enter < leave ? leave : enter;
            low = low > zero ? low : zero;
            high = high < one ? high : one;
            for (int k = 0; k < kSide; ++k) {
                // The part in both.
                const F partLow = columnLow[k] > low ? columnLow[k] : low;
                const F partHigh = columnHigh[k] < high ? columnHigh[k] : high;
                const typename L::I crosses = (partHigh > partLow) & sloped;
                const F drop = crosses ? (partHigh - partLow) * rise : zero;
                const F middle = xa + L::setF(0.5f) * (partLow + partHigh) * run;
                window.area[r][k] += drop * (L::setF(static_cast<float>(k + 1)) - middle);
                drops[r][k] += drop;
            }
        }
    }
    for (int r = 0; r < kSide; ++r) {
        F whole = zero;
        for (int k = 0; k < kSide; ++k) {
            window.area[r][k] += whole;
            whole += drops[r][k];
        }
    }
    for (int r = 0; r < kSide; ++r)
        for (int k = 0; k < kSide; ++k)
            window.area[r][k] = (L::setI(k) > window.spanX) | (L::setI(r) > window.spanY) ? zero : window.area[r][k];
    // Round the edge the other way (the way of x to y, on a picture whose rows run down),
    // every area comes out negative.
    const F turn = (x[2] - x[0]) * (y[3] - y[1]) - (x[3] - x[1]) * (y[2] - y[0]);
    if (L::bits(turn > zero) != 0)
        for (auto& row : window.area)
            for (F& cell : row)
                cell = turn > zero ? zero - cell : cell;
}

// The small footprints' regime over the lanes `on`: the cells' terms times the areas the
// footprints cover, and those areas. (Within a few pixels the sphere's weight is the same.)
template <class L, int kSide, class Terms>
void sumByCells(const DiamondSetup& s, const CellWindow<L, kSide>& window, typename L::I on,
                const Terms& terms, typename L::D (&total)[kMaxTerms], typename L::D& weight)
{
    using I = typename L::I;
    using F = typename L::F;
    const I period = L::setI(static_cast<std::int32_t>(s.map.period));
    const I lastRow = L::setI(static_cast<std::int32_t>(s.map.lastRow));
    I columns[kSide];
    // The first column brought round into the map (any number of periods), the others a
    // step on each.
    columns[0] = window.baseX - period * L::floorToInt(L::toF(L::toD(window.baseX) / L::toD(period)));
    columns[0] = wrapOnce(columns[0], period);
    for (int k = 1; k < kSide; ++k)
        columns[k] = wrapOnce(columns[k - 1] + L::setI(1), period);
    F area = L::setF(0.0f);
    for (const auto& row : window.area)
        for (const F& cell : row)
            area += cell;
    weight = L::toD(area);
    if constexpr (Terms::kWords) {
        F sum[3] = {};
        for (int r = 0; r < kSide; ++r) {
            const I row = clampRow(window.baseY + L::setI(r), lastRow);
            for (int k = 0; k < kSide; ++k) {
                const I word = L::loadPixels(
                    s.pixels, L::index(on ? row : L::setI(s.map.residentRow), on ? columns[k] : L::setI(0), s.stride));
                for (int channel = 0; channel < 3; ++channel)
                    sum[channel] += window.area[r][k] * L::toF(L::byteOf(word, channel));
            }
        }
        for (int channel = 0; channel < 3; ++channel)
            total[channel] = L::toD(sum[channel]);
    } else if constexpr (Terms::kLanes) {
        using D = typename L::D;
        D sums[kMaxTerms];
        for (D& sum : sums)
            sum = L::setD(0.0);
        const F zero = L::setF(0.0f);
        const unsigned char* at[L::kCount];
        const unsigned char* resident = s.map.base + static_cast<std::size_t>(s.map.residentRow) * s.map.rowBytes;
        for (int r = 0; r < kSide; ++r) {
            const I row = clampRow(window.baseY + L::setI(r), lastRow);
            for (int k = 0; k < kSide; ++k) {
                const F covered = on ? window.area[r][k] : zero;
                const unsigned live = L::bits(covered != zero);
                if (live == 0)
                    continue;
                for (unsigned j = 0; j < L::kCount; ++j)
                    at[j] = (live >> j & 1) == 0 ? resident
                                                 : s.map.base + static_cast<std::size_t>(L::lane(row, j)) * s.map.rowBytes +
                                                       static_cast<std::size_t>(L::lane(columns[k], j)) * s.map.pixelBytes;
                terms.template addLanes<L>(at, L::toD(covered), sums);
            }
        }
        for (int k = 0; k < kMaxTerms; ++k)
            total[k] = sums[k];
    } else {
        for (unsigned j = 0; j < L::kCount; ++j) {
            double sums[kMaxTerms] = {};
            if (L::lane(on, j) != 0) {
                for (int r = 0; r < kSide; ++r) {
                    const std::int32_t row = L::lane(clampRow(window.baseY + L::setI(r), lastRow), j);
                    const unsigned char* pixels = s.map.base + static_cast<std::size_t>(row) * s.map.rowBytes;
                    for (int k = 0; k < kSide; ++k) {
                        const float covered = L::lane(window.area[r][k], j);
                        if (covered != 0.0f)
                            terms.add(pixels, static_cast<std::uint32_t>(L::lane(columns[k], j)), covered, sums);
                    }
                }
            }
            for (int k = 0; k < terms.count(); ++k)
                L::setLane(total[k], j, sums[k]);
        }
    }
}
