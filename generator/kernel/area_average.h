// The area filter's average over a group of footprints: each lane's footprint classified
// (area_regimes.h), summed by its regime, and its totals divided by its weight. Each
// texel's sums are taken in the same order on every instruction set. Included inside a
// kernel instance's namespace (kernel_instance.inl).
#pragma once

#include "area_footprint.h"
#include "area_grid.h"
#include "area_regimes.h"
#include "area_slices.h"
#include "area_taps.h"
#include "diamond_kernel.h"
#include "lanes.h"

// The average colour over each lane's footprint in `on`, whose corners are (x00, y00) and,
// relative to it, d01 (next along u), d10 (next along v) and d11.
template <class L>
void footprintAverages(const DiamondSetup& s, typename L::D x00, typename L::D y00, const typename L::D (&dx)[3],
                       const typename L::D (&dy)[3], typename L::I on, typename L::D (&average)[3])
{
    using D = typename L::D;
    using I = typename L::I;
    const Footprint<L> f = measureFootprints<L>(x00, y00, dx, dy);
    const Regimes<L> regimes = classifyFootprints<L>(f.spanX, f.spanY, f.highX - f.lowX, f.highY - f.lowY, on);
    D total[3] = {}, weight = L::toD(f.ku) * L::toD(f.kv);
    // Each regime sums the whole group; its lanes take its totals and weight.
    const auto take = [&](I lanes, const D (&totals)[3], D regimeWeight) {
        const auto mine = L::toD(lanes) != L::setD(0.0);
        for (int channel = 0; channel < 3; ++channel)
            total[channel] = mine ? totals[channel] : total[channel];
        weight = mine ? regimeWeight : weight;
    };
    D totals[3], regimeWeight;
    if (L::countTrue(regimes.grid) != 0) {
        if (regimes.gridOfFour)
            sumByGrid<L, 4>(s, f, regimes.grid, totals, regimeWeight);
        else
            sumByGrid<L, 3>(s, f, regimes.grid, totals, regimeWeight);
        take(regimes.grid, totals, regimeWeight);
    }
    if (L::countTrue(regimes.slices) != 0) {
        for (int channel = 0; channel < 3; ++channel)
            totals[channel] = L::setD(0.0);
        regimeWeight = L::setD(0.0);
        sumBySlices<L>(s, f, regimes.slices, totals, regimeWeight);
        take(regimes.slices, totals, regimeWeight);
    }
    if (L::countTrue(regimes.taps) != 0) {
        sumByTaps<L>(s, f, regimes.taps, totals, regimeWeight);
        take(regimes.taps, totals, regimeWeight);
    }
    weight = weight > L::setD(0.0) ? weight : L::setD(1.0);  // lanes left out: no division by 0
    for (int channel = 0; channel < 3; ++channel)
        average[channel] = total[channel] / weight;
}
