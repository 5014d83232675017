// The area filter's taps regime (area_regimes.h): a footprint's samples of the bilinear map,
// summed one by one. Also the sums that the exact regime next to the pole adds its samples
// to. Included inside a kernel instance's namespace (kernel_instance.inl).
#pragma once

#include <cstdint>

#include "area_footprint.h"
#include "diamond_kernel.h"
#include "lanes.h"
#include "map_edges.h"

// Sums of the bilinear map's colours over samples, lane by lane. A row of at most
// kMaxSamplesPerSide samples is summed in float, exact enough for 8-bit channels; the rows
// in double.
template <class L, bool kInside = false>  // kInside: every sample a pixel clear of the map's edges
struct FootprintSums {
    using D = typename L::D;
    using F = typename L::F;
    using I = typename L::I;
    D total[3]{};
    F row[3]{};
    F homeX{}, homeY{};  // with kInside, where the lanes not sampling read: their box's corner

    // The sample at (x, y) where `on`: the map's edges as map_edges.h says, the columns'
    // period 2·hw. Positions are floats: a thousandth of a pixel on the widest maps,
    // nothing next to a footprint's size.
    void add(const DiamondSetup& s, F x, F y, I on)
    {
        const F zero = L::setF(0.0f);
        if constexpr (kInside) {  // lanes past their last sample would stray from the box
            x = on ? x : homeX;
            y = on ? y : homeY;
        } else {
            const F period = L::setF(static_cast<float>(2 * s.scales.halfWidth));
            x = wrapOnce(x, period);
            // Lanes left out may hold anything: every comparison here also sends a NaN to 0.
            x = ((x >= zero) & (x < period)) ? x : zero;
            y = clampRow(y, L::setF(static_cast<float>(s.height - 1)));
        }
        const I ix = L::truncate(x), y0 = L::truncate(y);  // both at least 0: the floors
        const typename L::Index at = L::index(y0, ix, s.stride);
        I c00, c10, c01, c11;
        L::loadPairs(s.pixels, at, c00, c10);
        if constexpr (kInside)
            L::loadPairs(s.pixels, at + static_cast<std::uint32_t>(s.stride), c01, c11);
        else
            L::loadPairs(s.pixels, L::index(rowBelow(y0, L::setI(static_cast<std::int32_t>(s.height) - 1)), ix, s.stride),
                         c01, c11);
        const F fx = x - L::toF(ix);
        const F fy = on ? y - L::toF(y0) : zero;
        const F gx = L::setF(1.0f) - fx;
        const F gy = on ? L::setF(1.0f) - fy : zero;
        const F w00 = gx * gy, w10 = fx * gy, w01 = gx * fy, w11 = fx * fy;
        for (int channel = 0; channel < 3; ++channel) {
            const auto value = [&](I word) { return L::toF(L::byteOf(word, channel)); };
            row[channel] += (w00 * value(c00) + w10 * value(c10)) + (w01 * value(c01) + w11 * value(c11));
        }
    }

    void endRow()
    {
        for (int channel = 0; channel < 3; ++channel) {
            total[channel] += L::toD(row[channel]);
            row[channel] = F{};
        }
    }
};

// The taps regime over the lanes `lanes`: totals and weight (the number of samples).
template <class L>
void sumByTaps(const DiamondSetup& s, const Footprint<L>& f, typename L::I lanes, typename L::D (&totals)[3],
               typename L::D& weight)
{
    using D = typename L::D;
    const auto add = [&](auto sums) {
        addBlendedFootprint<L>(s, f, lanes ? f.ku : L::setI(0), lanes ? f.kv : L::setI(0), sums);
        for (int channel = 0; channel < 3; ++channel)
            totals[channel] = sums.total[channel];
    };
    // Every lane's box a pixel clear of the map's edges: no sample wraps or stops.
    const D one = L::setD(1.0);
    const auto inside = (f.x00 + f.lowX >= one) & (f.x00 + f.highX <= L::setD(2 * s.scales.halfWidth - 2)) &
                        (f.y00 + f.lowY >= one) & (f.y00 + f.highY <= L::setD(s.height - 2.0));
    if (L::bits(inside) == (1u << L::kCount) - 1) {
        FootprintSums<L, true> sums;
        sums.homeX = L::toF(f.x00);
        sums.homeY = L::toF(f.y00);
        add(sums);
    } else {
        add(FootprintSums<L>{});
    }
    weight = L::toD(f.ku) * L::toD(f.kv);
}
