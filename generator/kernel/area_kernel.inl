// The area filter, part of diamond_kernel.inl (inside its namespace, after the point and
// angle passes it uses).
//
// A texel is the average of the bilinearly interpolated map over its footprint: the
// square of one texel's side around its sample point in the diamond's (u, v), carried
// onto the sphere by the diamond's two triangle planes (extended past its edges). The
// footprints' corners, at ((c ± ½) / N, (r ± ½) / N), are mapped exactly; inside a
// footprint the way to the picture is the bilinear blend of its four corners, sampled on a
// grid of Ku × Kv points that grows with the footprint's size in pixels. Three ways to sum
// the samples, chosen per footprint: for one of a pixel or two, the weight each pixel of a
// small grid takes, the pixels read once at the end; for larger ones, sample by sample;
// for the widest (by the poles), slices along the map's rows, each integrated exactly, at
// the Gauss pair of every band between two map rows. Next to the pole, where the blend of
// the corners is poor, every sample is mapped exactly. A texel on a pole edge takes
// in the footprint of the same texel in the diamond beside it, and the pole texel those of
// every diamond round the pole, so that all of them give it the same colour. Each texel's
// sums are taken in the same order on every instruction set.

// Picture coordinates of the footprint corners along one line of corners.
struct CornerRow {
    double x[kBlock + 1], y[kBlock + 1];
};

// Samples per side of a footprint whose side spans `pixels`: 1.2 a pixel and a couple more,
// which keeps the average within about 1.5 levels (RMS) of the exact one on maps of
// one-pixel detail, from footprints of a fraction of a pixel to footprints of many.
constexpr double kSamplesPerPixel = 1.2;
constexpr double kSampleSlack = 2.6;
constexpr std::int32_t kMaxSamplesPerSide = 256;
constexpr std::int32_t kMaxExactSamplesPerSide = 64;

// Footprints wider than this many pixels are cut into slices along the map's rows, whose
// number grows with their height only.
constexpr float kSlicesWiderThan = 16.0f;
// Sides shorter than this many pixels take two samples at the Gauss pair instead of three.
constexpr double kGaussPairBelow = 0.7;
constexpr double kGaussPairPlace = 0.21132486540518713;  // ½ − ½/√3

template <class L>
typename L::I samplesPerSide(typename L::D pixels, std::int32_t most)
{
    typename L::I count = L::truncate(pixels * L::setD(kSamplesPerPixel) + L::setD(kSampleSlack));
    count = L::toF(pixels) < L::setF(static_cast<float>(kGaussPairBelow)) ? L::setI(2) : count;
    return count > L::setI(most) ? L::setI(most) : count;
}

// The first of `count` samples along a footprint's side, and the step to the next, as
// fractions of the side: the midpoints of `count` equal parts, or for two samples the
// Gauss–Legendre pair, which is exact on the bilinear map while no pixel line crosses the
// footprint.
template <class L>
void samplePlaces(typename L::I count, typename L::D& first, typename L::D& step)
{
    using D = typename L::D;
    const auto pair = L::toD(count) == L::setD(2.0);
    const D parts = L::toD(count > L::setI(1) ? count : L::setI(1));
    step = pair ? L::setD(1.0 - 2 * kGaussPairPlace) : L::setD(1.0) / parts;
    first = pair ? L::setD(kGaussPairPlace) : L::setD(0.5) * step;
}

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

    // The sample at (x, y) where `on`: x wraps round the map (period 2·hw), y stops at the
    // first and the last rows. Positions are floats: a thousandth of a pixel on the widest
    // maps, nothing next to a footprint's size.
    void add(const DiamondSetup& s, F x, F y, I on)
    {
        const F zero = L::setF(0.0f);
        if constexpr (kInside) {  // lanes past their last sample would stray from the box
            x = on ? x : homeX;
            y = on ? y : homeY;
        } else {
            const F period = L::setF(static_cast<float>(2 * s.scales.halfWidth));
            const F lastRow = L::setF(static_cast<float>(s.height - 1));
            x = x < zero ? x + period : x;
            x = x >= period ? x - period : x;
            // Lanes left out may hold anything: every comparison below also sends a NaN to 0.
            x = ((x >= zero) & (x < period)) ? x : zero;
            y = y > zero ? y : zero;
            y = y < lastRow ? y : lastRow;
        }
        const I ix = L::truncate(x), y0 = L::truncate(y);  // both at least 0: the floors
        const typename L::Index at = L::index(y0, ix, s.stride);
        I c00, c10, c01, c11;
        L::loadPairs(s.pixels, at, c00, c10);
        if constexpr (kInside) {
            L::loadPairs(s.pixels, at + static_cast<std::uint32_t>(s.stride), c01, c11);
        } else {
            const I y1 = y0 < L::setI(static_cast<std::int32_t>(s.height) - 1) ? y0 + L::setI(1) : y0;
            L::loadPairs(s.pixels, L::index(y1, ix, s.stride), c01, c11);
        }
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

// The same sums for a footprint whose pixels' floors span one or two columns and rows
// (as when a texel is about a pixel or smaller): the samples only add up the weight each of
// the `size` × `size` pixels from (baseX, baseY) takes, and the pixels are read once at
// the end. A footprint gets the same weights, bit for bit, whichever size its group takes.
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

    // The weighted sums of the grid's pixels' channels: rows stop at the first and the last,
    // columns wrap round the map (period 2·hw).
    void totals(const DiamondSetup& s, D (&total)[3]) const
    {
        // The grid's first column brought round into the map, the others a step on each.
        const auto period = static_cast<std::int32_t>(2 * s.scales.halfWidth);
        I columns[4];
        columns[0] = period > 0 ? baseX - L::setI(period) * L::floorToInt(L::toF(L::toD(baseX) / L::setD(period))) : L::setI(0);
        for (int c = 1; c < size; ++c) {
            columns[c] = columns[c - 1] + L::setI(period > 1 ? 1 : 0);
            columns[c] = columns[c] >= L::setI(period) ? columns[c] - L::setI(period) : columns[c];
        }
        F sum[3]{};
        for (int r = 0; r < size; ++r) {
            I row = baseY + L::setI(r);
            row = row < L::setI(0) ? L::setI(0) : row;
            row = row > L::setI(static_cast<std::int32_t>(s.height) - 1) ? L::setI(static_cast<std::int32_t>(s.height) - 1) : row;
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

// Adds to `sums` the ku × kv samples of a footprint whose corners, relative to (x00, y00),
// are d01 (next along u), d10 (next along v) and d11; each sample of (a, b) goes to
// x00 + b·dx10 + a·(dx01 + b·(dx11 − dx10 − dx01)), and y alike. Lanes with ku = 0 add none.
template <class L, class Sums>
void addBlendedFootprint(const DiamondSetup& s, typename L::D x00, typename L::D y00, const typename L::D (&dx)[3],
                         const typename L::D (&dy)[3], typename L::I ku, typename L::I kv, Sums& sums)
{
    using D = typename L::D;
    D firstU, stepU, firstV, stepV;
    samplePlaces<L>(ku, firstU, stepU);
    samplePlaces<L>(kv, firstV, stepV);
    const D twistX = dx[2] - dx[1] - dx[0], twistY = dy[2] - dy[1] - dy[0];
    std::int32_t rows = 0, columns = 0;
    for (unsigned j = 0; j < L::kCount; ++j) {
        rows = std::max<std::int32_t>(rows, L::lane(kv, j));
        columns = std::max<std::int32_t>(columns, L::lane(ku, j));
    }
    for (std::int32_t row = 0; row < rows; ++row) {
        const D b = firstV + L::setD(row) * stepV;
        const D slopeX = dx[0] + b * twistX, slopeY = dy[0] + b * twistY;
        typename L::F x = L::toF(x00 + b * dx[1] + firstU * slopeX);
        typename L::F y = L::toF(y00 + b * dy[1] + firstU * slopeY);
        const typename L::F stepX = L::toF(slopeX * stepU), stepY = L::toF(slopeY * stepU);
        const auto rowOn = L::setI(row) < kv;
        for (std::int32_t column = 0; column < columns; ++column, x += stepX, y += stepY)
            sums.add(s, x, y, rowOn & (L::setI(column) < ku));
        sums.endRow();
    }
}

// Corner x relative to x00, the shorter way round the map.
template <class L>
typename L::D towards(const DiamondSetup& s, typename L::D x, typename L::D x00)
{
    using D = typename L::D;
    const D half = L::setD(s.scales.halfWidth), dx = x - x00;
    return dx > half ? dx - (half + half) : (dx < -half ? dx + (half + half) : dx);
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

// Adds to `total` and `width` the bilinear map's integrals along horizontal slices through
// the footprint whose corners are (x00, y00) and, relative to it, d01 (next along u), d11
// and d10 (next along v), and the slices' lengths, both weighted by the height each slice
// stands for; total / width is the average. Along a slice the integral is exact: the
// whole pixels' sum, and the two ends by formula. Down the footprint the map is linear
// between two rows, so each band between rows takes two slices, at its Gauss pair. Lanes
// not in `on` add nothing.
template <class L>
void addSlicedFootprint(const DiamondSetup& s, typename L::D x00, typename L::D y00, const typename L::D (&dx)[3],
                        const typename L::D (&dy)[3], typename L::I on, typename L::D (&total)[3],
                        typename L::D& width)
{
    using F = typename L::F;
    using I = typename L::I;
    const F zero = L::setF(0.0f);
    // The corners in order round the edge, and each edge's run in x per unit of y
    // (0 on level edges, which no slice crosses).
    const F cornerX[4] = {zero, L::toF(dx[0]), L::toF(dx[2]), L::toF(dx[1])};
    const F cornerY[4] = {zero, L::toF(dy[0]), L::toF(dy[2]), L::toF(dy[1])};
    F run[4], top = zero, bottom = zero;
    for (int e = 0; e < 4; ++e) {
        const F rise = cornerY[(e + 1) % 4] - cornerY[e];
        run[e] = rise != zero ? (cornerX[(e + 1) % 4] - cornerX[e]) / rise : zero;
        top = cornerY[e] < top ? cornerY[e] : top;
        bottom = cornerY[e] > bottom ? cornerY[e] : bottom;
    }
    // Whole pixels apart from the fractions, so that floats keep the fractions exact.
    const I baseX = L::truncate(x00), baseY = L::truncate(y00);
    const F fractionX = L::toF(x00 - L::toD(baseX)), fractionY = L::toF(y00 - L::toD(baseY));
    // The footprint meets the bands between map rows firstBand to firstBand + bands − 1.
    const I firstBand = L::floorToInt(fractionY + top);
    const I bands = on ? L::floorToInt(fractionY + bottom) - firstBand + L::setI(1) : L::setI(0);
    std::int32_t mostBands = 0;
    for (unsigned j = 0; j < L::kCount; ++j)
        mostBands = std::max<std::int32_t>(mostBands, L::lane(bands, j));
    const I mapWidth = L::setI(static_cast<std::int32_t>(s.width));
    const I lastRow = L::setI(static_cast<std::int32_t>(s.height) - 1);
    // A column brought into the map, and the turns that took (any number either way).
    const auto wrap = [&](I& column, I& turns) {
        turns = L::floorToInt(L::toF(column) / L::toF(mapWidth));
        column = column - turns * mapWidth;
        const I under = column < L::setI(0), over = column >= mapWidth;
        column = under ? column + mapWidth : (over ? column - mapWidth : column);
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
        row = row < L::setI(0) ? L::setI(0) : (row > lastRow ? lastRow : row);
        const I nextRow = row < lastRow ? row + L::setI(1) : row;

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

// The average colour over each lane's footprint in `on`, whose corners are (x00, y00) and,
// relative to it, d01 (next along u), d10 (next along v) and d11. Footprints whose pixels'
// floors span at most two columns and rows go through a grid of 3 × 3 pixels, or 4 × 4
// where one of the group's needs it; footprints wider than kSlicesWiderThan pixels are cut
// into slices; the others sample one by one.
template <class L>
void footprintAverages(const DiamondSetup& s, typename L::D x00, typename L::D y00, const typename L::D (&dx)[3],
                       const typename L::D (&dy)[3], typename L::I on, typename L::D (&average)[3])
{
    using D = typename L::D;
    using I = typename L::I;
    I ku, kv;
    sampleCounts<L>(dx, dy, kMaxSamplesPerSide, ku, kv);
    const auto least = [](D a, D b) { return a < b ? a : b; };
    const auto most = [](D a, D b) { return a > b ? a : b; };
    const auto floorOf = [](D value) { return L::floorToInt(L::toF(value)); };
    const D zero = L::setD(0.0);
    const D lowX = least(least(zero, dx[0]), least(dx[1], dx[2])), highX = most(most(zero, dx[0]), most(dx[1], dx[2]));
    const D lowY = least(least(zero, dy[0]), least(dy[1], dy[2])), highY = most(most(zero, dy[0]), most(dy[1], dy[2]));
    const I baseX = floorOf(x00 + lowX), baseY = floorOf(y00 + lowY);
    const I spanX = floorOf(x00 + highX) - baseX, spanY = floorOf(y00 + highY) - baseY;
    const I small = (spanX <= L::setI(2)) & (spanY <= L::setI(2));
    const I sliceable = (L::toF(highX - lowX) > L::setF(kSlicesWiderThan)) & (L::toF(highY - lowY) > L::setF(1e-3f));
    const I gridded = on & small, sliced = on & ~small & sliceable, tapped = on & ~small & ~sliceable;
    const I gridKu = gridded ? ku : L::setI(0), gridKv = gridded ? kv : L::setI(0);
    D total[3] = {};
    D count = L::toD(ku) * L::toD(kv);
    if (L::countTrue(gridded & ((spanX > L::setI(1)) | (spanY > L::setI(1)))) != 0) {
        GridSums<L, 4> grid{baseX, baseY};
        addBlendedFootprint<L>(s, x00, y00, dx, dy, gridKu, gridKv, grid);
        grid.totals(s, total);
    } else if (L::countTrue(gridded) != 0) {
        GridSums<L, 3> grid{baseX, baseY};
        addBlendedFootprint<L>(s, x00, y00, dx, dy, gridKu, gridKv, grid);
        grid.totals(s, total);
    }
    if (L::countTrue(sliced) != 0) {
        D sums[3] = {}, width = zero;
        addSlicedFootprint<L>(s, x00, y00, dx, dy, sliced, sums, width);
        const auto useSlices = L::toD(sliced) != zero;
        for (int channel = 0; channel < 3; ++channel)
            total[channel] = useSlices ? sums[channel] : total[channel];
        count = useSlices ? width : count;
    }
    if (L::countTrue(tapped) != 0) {
        const auto useTaps = L::toD(tapped) != zero;
        const auto addTaps = [&](auto sums) {
            addBlendedFootprint<L>(s, x00, y00, dx, dy, tapped ? ku : L::setI(0), tapped ? kv : L::setI(0), sums);
            for (int channel = 0; channel < 3; ++channel)
                total[channel] = useTaps ? sums.total[channel] : total[channel];
        };
        // Every lane's box a pixel clear of the map's edges: no sample wraps or stops.
        const D one = L::setD(1.0);
        const auto inside = (x00 + lowX >= one) & (x00 + highX <= L::setD(2 * s.scales.halfWidth - 2)) &
                            (y00 + lowY >= one) & (y00 + highY <= L::setD(s.height - 2.0));
        if (L::bits(inside) == (1u << L::kCount) - 1) {
            FootprintSums<L, true> sums;
            sums.homeX = L::toF(x00);
            sums.homeY = L::toF(y00);
            addTaps(sums);
        } else {
            addTaps(FootprintSums<L>{});
        }
    }
    count = count > zero ? count : L::setD(1.0);  // lanes left out: no division by 0
    for (int channel = 0; channel < 3; ++channel)
        average[channel] = total[channel] / count;
}

// The texels [i, i + L::kCount) of the block's row, from the corner rows above (top) and
// below (bottom) it; lanes not in `blended` are left to exactTexel.
template <class L>
void blendedTexels(const DiamondSetup& s, const CornerRow& top, const CornerRow& bottom, std::uint32_t i,
                   typename L::I blended, unsigned char* out)
{
    using D = typename L::D;
    const auto load = [](const double* at) {
        D value;
        std::memcpy(&value, at, sizeof value);
        return value;
    };
    const D x00 = load(top.x + i), y00 = load(top.y + i);
    const D dx[3] = {towards<L>(s, load(top.x + i + 1), x00), towards<L>(s, load(bottom.x + i), x00),
                     towards<L>(s, load(bottom.x + i + 1), x00)};
    const D dy[3] = {load(top.y + i + 1) - y00, load(bottom.y + i) - y00, load(bottom.y + i + 1) - y00};
    D average[3];
    footprintAverages<L>(s, x00, y00, dx, dy, blended, average);
    const auto rounded = [](D value) { return L::truncate(value + L::setD(0.5)); };
    const typename L::I words = rounded(average[0]) | rounded(average[1]) << 8 | rounded(average[2]) << 16;
    for (unsigned j = 0; j < L::kCount; ++j)
        if (L::lane(blended, j) != 0)
            OneLane::storeTexels(out + 3 * j, L::lane(words, j));
}

// Where (u, v) of the diamond `planes` falls on the picture.
void pictureAt(const DiamondSetup& s, const DiamondPlanes& planes, double u, double v, double& x, double& y)
{
    const bool far = u + v > 1;
    const Vector3 o = far ? planes.p3 : planes.p0;
    const Vector3 e1 = far ? planes.farToP2 : planes.toP1, e2 = far ? planes.farToP1 : planes.toP2;
    const double a = far ? 1 - u : u, b = far ? 1 - v : v;
    float longitude = 0.0f, latitude = 0.0f;
    directionToAngles(static_cast<float>(o.x + a * e1.x + b * e2.x), static_cast<float>(o.y + a * e1.y + b * e2.y),
                      static_cast<float>(o.z + a * e1.z + b * e2.z), longitude, latitude);
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
    if (c + r > 3) {
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

// Texel (r, c) next to the pole or on a pole edge.
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

// Corners (2c − 1, 2r − 1) / 2N for c in [c0, c1]: the pole triangle's plane where
// c + r <= N + 1, the far one's beyond.
void cornerRow(const DiamondSetup& s, std::uint32_t r, std::uint32_t c0, std::uint32_t c1, Block& block,
               CornerRow& corners)
{
    const auto v = static_cast<float>((2.0 * r - 1) * (0.5 * s.inverseRows));
    const std::int64_t lastPole = static_cast<std::int64_t>(s.columns) + 1 - r;
    const auto split = static_cast<std::uint32_t>(std::clamp<std::int64_t>(lastPole + 1, c0, c1 + 1));
    planePoints(s, s.planes.p0, s.planes.toP1, s.planes.toP2, v, false, c0, split, block, 0, true);
    planePoints(s, s.planes.p3, s.planes.farToP2, s.planes.farToP1, 1.0f - v, true, split, c1 + 1, block,
                split - c0, true);
    blockAngles(block, c1 + 1 - c0);
    for (std::uint32_t i = 0; i <= c1 - c0; ++i) {
        corners.x[i] = pictureColumn(s.scales, block.longitude[i]);
        corners.y[i] = pictureRow(s.scales, block.latitude[i]);
    }
}

// Rows [rowBegin, rowEnd) with the area filter; blended footprints go Wide lanes at a time.
template <class Wide>
void renderAreaBand(const DiamondSetup& s, std::uint32_t rowBegin, std::uint32_t rowEnd, unsigned char* out)
{
    Block block;
    CornerRow lines[2];
    const std::size_t rowBytes = static_cast<std::size_t>(s.columns) * 3;
    for (std::uint32_t c0 = 0; c0 < s.columns; c0 += kBlock) {
        const std::uint32_t c1 = std::min(c0 + kBlock, s.columns);
        cornerRow(s, rowBegin, c0, c1, block, lines[rowBegin % 2]);
        for (std::uint32_t r = rowBegin; r < rowEnd; ++r) {
            const CornerRow& top = lines[r % 2];
            cornerRow(s, r + 1, c0, c1, block, lines[(r + 1) % 2]);
            const CornerRow& bottom = lines[(r + 1) % 2];
            unsigned char* texels = out + (r - rowBegin) * rowBytes + std::size_t{c0} * 3;
            const auto exact = [&](std::uint32_t c) { return r == 0 || c == 0 || c + r <= 3; };
            eachGroup<Wide>(c1 - c0, [&](auto lanes, std::uint32_t i) {
                using L = decltype(lanes);
                typename L::I blended = L::setI(0);
                if constexpr (L::kCount == 1) {
                    blended = exact(c0 + i) ? 0 : 1;
                } else {
                    for (unsigned j = 0; j < L::kCount; ++j)
                        blended[j] = exact(c0 + i + j) ? 0 : -1;
                }
                blendedTexels<L>(s, top, bottom, i, blended, texels + 3 * i);
            });
            for (std::uint32_t c = c0; c < c1; ++c)
                if (exact(c))
                    exactTexel(s, r, c, texels + 3 * (c - c0));
        }
    }
}

void renderAreaBand(const DiamondSetup& s, std::uint32_t rowBegin, std::uint32_t rowEnd, unsigned char* out)
{
    if (static_cast<std::uint64_t>(s.stride) * s.height <= UINT32_MAX)
        renderAreaBand<KernelLanes>(s, rowBegin, rowEnd, out);
    else
        renderAreaBand<OneLane>(s, rowBegin, rowEnd, out);
}
