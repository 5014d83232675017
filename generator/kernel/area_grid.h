// The area filter's grid regime (area_regimes.h), for footprints whose pixels' floors span
// one or two columns and rows, as when a texel is about a pixel or smaller: the samples only
// add up the weight each of the size × size pixels from (baseX, baseY) takes, and the pixels
// are read once at the end. A footprint gets the same weights, bit for bit, whichever size
// its group takes. Included inside a kernel instance's namespace (kernel_instance.inl).
#pragma once

#include <cstdint>

#include "area_footprint.h"
#include "diamond_kernel.h"
#include "lanes.h"
#include "map_edges.h"

template <class L, int size>  // 3 or 4
struct GridSums {
    using D = typename L::D;
    using F = typename L::F;
    using I = typename L::I;
    I baseX, baseY;  // the footprint's lowest pixel column and row, unwrapped
    F weight[size][size]{};

    // A sample's weights on the grid's columns (or rows), from its cell `at` and fraction.
    static void spread(I at, F fraction, F (&weights)[4])
    {
        const F zero = L::setF(0.0f), rest = L::setF(1.0f) - fraction;
        const auto first = at == L::setI(0), second = at == L::setI(1);
        if constexpr (size == 3) {
            weights[0] = first ? rest : zero;
            weights[1] = first ? fraction : rest;
            weights[2] = first ? zero : fraction;
            return;
        }
        const auto third = at == L::setI(2);
        weights[0] = first ? rest : zero;
        weights[1] = first ? fraction : (second ? rest : zero);
        weights[2] = second ? fraction : (third ? rest : zero);
        weights[3] = third ? fraction : zero;
    }

    void add(const DiamondSetup&, F x, F y, I on)
    {
        const F rx = x - L::toF(baseX), ry = y - L::toF(baseY);  // in [0, size − 1)
        const I ix = L::truncate(rx), iy = L::truncate(ry);
        F wx[4], wy[4];
        spread(ix, rx - L::toF(ix), wx);
        spread(iy, on ? ry - L::toF(iy) : L::setF(0.0f), wy);
        for (int r = 0; r < size; ++r) {
            const F rowWeight = on ? wy[r] : L::setF(0.0f);
            for (int c = 0; c < size; ++c)
                weight[r][c] += rowWeight * wx[c];
        }
    }

    void endRow() {}

    // The weighted sums of the grid's pixels' channels, the map's edges as map_edges.h says
    // (the columns' period 2·hw).
    void totals(const DiamondSetup& s, D (&total)[3]) const
    {
        // The grid's first column brought round into the map, the others a step on each.
        const auto period = static_cast<std::int32_t>(2 * s.scales.halfWidth);
        I columns[4];
        columns[0] = period > 0 ? baseX - L::setI(period) * L::floorToInt(L::toF(L::toD(baseX) / L::setD(period))) : L::setI(0);
        for (int c = 1; c < size; ++c)
            columns[c] = wrapOnce(columns[c - 1] + L::setI(period > 1 ? 1 : 0), L::setI(period));
        const I lastRow = L::setI(static_cast<std::int32_t>(s.height) - 1);
        F sum[3]{};
        for (int r = 0; r < size; ++r) {
            const I row = clampRow(baseY + L::setI(r), lastRow);
            for (int c = 0; c < size; ++c) {
                const I word = L::loadPixels(s.pixels, L::index(row, columns[c], s.stride));
                for (int channel = 0; channel < 3; ++channel)
                    sum[channel] += weight[r][c] * L::toF(L::byteOf(word, channel));
            }
        }
        for (int channel = 0; channel < 3; ++channel)
            total[channel] = L::toD(sum[channel]);
    }
};

// The grid regime over the lanes `lanes`: totals and weight (the number of samples).
template <class L, int size>
void sumByGrid(const DiamondSetup& s, const Footprint<L>& f, typename L::I lanes, typename L::D (&totals)[3],
               typename L::D& weight)
{
    GridSums<L, size> grid{f.baseX, f.baseY};
    addBlendedFootprint<L>(s, f, lanes ? f.ku : L::setI(0), lanes ? f.kv : L::setI(0), grid);
    grid.totals(s, totals);
    weight = L::toD(f.ku) * L::toD(f.kv);
}
