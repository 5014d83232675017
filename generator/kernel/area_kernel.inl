// The area filter, part of diamond_kernel.inl (inside its namespace, after the point and
// angle passes it uses).
//
// A texel is the average of the bilinearly interpolated map over its footprint: the
// square of one texel's side around its sample point in the diamond's (u, v), carried
// onto the sphere by the diamond's two triangle planes (extended past its edges). The
// footprints' corners, at ((c ± ½) / N, (r ± ½) / N), are mapped exactly; inside a
// footprint the way to the picture is the bilinear blend of its four corners, sampled on a
// grid of Ku × Kv points that grows with the footprint's size in pixels. Next to the pole,
// where that blend is poor, every sample is mapped exactly. A texel on a pole edge takes
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

template <class L>
typename L::I samplesPerSide(typename L::D pixels, std::int32_t most)
{
    const typename L::I count = L::truncate(pixels * L::setD(kSamplesPerPixel) + L::setD(kSampleSlack));
    return count > L::setI(most) ? L::setI(most) : count;
}

// Sums of the bilinear map's colours over samples, lane by lane. A row of at most
// kMaxSamplesPerSide samples is summed in float, exact enough for 8-bit channels; the rows
// in double.
template <class L>
struct FootprintSums {
    using D = typename L::D;
    using F = typename L::F;
    using I = typename L::I;
    D total[3]{};
    F row[3]{};

    // The sample at (x, y) where `on`: x wraps round the map (period 2·hw), y stops at the
    // first and the last rows. Positions are floats: a thousandth of a pixel on the widest
    // maps, nothing next to a footprint's size.
    void add(const DiamondSetup& s, F x, F y, I on)
    {
        const F zero = L::setF(0.0f), period = L::setF(static_cast<float>(2 * s.scales.halfWidth));
        const F lastRow = L::setF(static_cast<float>(s.height - 1));
        x = x < zero ? x + period : x;
        x = x >= period ? x - period : x;
        // Lanes left out may hold anything: every comparison below also sends a NaN to 0.
        x = (x >= zero) & (x < period) ? x : zero;
        y = y > zero ? y : zero;
        y = y < lastRow ? y : lastRow;
        const I ix = L::truncate(x), y0 = L::truncate(y);  // both at least 0: the floors
        const I y1 = y0 < L::setI(static_cast<std::int32_t>(s.height) - 1) ? y0 + L::setI(1) : y0;
        I c00, c10, c01, c11;
        L::loadPairs(s.pixels, L::index(y0, ix, s.stride), c00, c10);
        L::loadPairs(s.pixels, L::index(y1, ix, s.stride), c01, c11);
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

// Adds to `sums` the ku × kv samples of a footprint whose corners, relative to (x00, y00),
// are d01 (next along u), d10 (next along v) and d11; each sample of (a, b) goes to
// x00 + b·dx10 + a·(dx01 + b·(dx11 − dx10 − dx01)), and y alike. Lanes with ku = 0 add none.
template <class L>
void addBlendedFootprint(const DiamondSetup& s, typename L::D x00, typename L::D y00, const typename L::D (&dx)[3],
                         const typename L::D (&dy)[3], typename L::I ku, typename L::I kv, FootprintSums<L>& sums)
{
    using D = typename L::D;
    const auto atLeastOne = [](typename L::I k) { return L::toD(k > L::setI(1) ? k : L::setI(1)); };
    const D stepU = L::setD(1.0) / atLeastOne(ku), stepV = L::setD(1.0) / atLeastOne(kv);
    const D twistX = dx[2] - dx[1] - dx[0], twistY = dy[2] - dy[1] - dy[0];
    std::int32_t rows = 0, columns = 0;
    for (unsigned j = 0; j < L::kCount; ++j) {
        rows = std::max<std::int32_t>(rows, L::lane(kv, j));
        columns = std::max<std::int32_t>(columns, L::lane(ku, j));
    }
    for (std::int32_t row = 0; row < rows; ++row) {
        const D b = (L::setD(row) + L::setD(0.5)) * stepV;
        const D slopeX = (dx[0] + b * twistX) * stepU, slopeY = (dy[0] + b * twistY) * stepU;
        typename L::F x = L::toF(x00 + b * dx[1] + L::setD(0.5) * slopeX);
        typename L::F y = L::toF(y00 + b * dy[1] + L::setD(0.5) * slopeY);
        const typename L::F stepX = L::toF(slopeX), stepY = L::toF(slopeY);
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
    const auto length = [](D a, D b) { return L::sqrt(a * a + b * b); };
    const auto larger = [](D a, D b) { return a > b ? a : b; };
    ku = samplesPerSide<L>(larger(length(dx[0], dy[0]), length(dx[2] - dx[1], dy[2] - dy[1])), most);
    kv = samplesPerSide<L>(larger(length(dx[1], dy[1]), length(dx[2] - dx[0], dy[2] - dy[0])), most);
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
    typename L::I ku, kv;
    sampleCounts<L>(dx, dy, kMaxSamplesPerSide, ku, kv);
    ku = blended ? ku : L::setI(0);
    kv = blended ? kv : L::setI(0);
    FootprintSums<L> sums;
    addBlendedFootprint<L>(s, x00, y00, dx, dy, ku, kv, sums);
    D count = L::toD(ku) * L::toD(kv);
    count = count > L::setD(0.0) ? count : L::setD(1.0);  // lanes left out: no division by 0
    const auto rounded = [&](D sum) { return L::truncate(sum / count + L::setD(0.5)); };
    const typename L::I words = rounded(sums.total[0]) | rounded(sums.total[1]) << 8 | rounded(sums.total[2]) << 16;
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
    const bool nearPole = c + r <= 3;
    std::int32_t ku, kv;
    sampleCounts<OneLane>(dx, dy, nearPole ? kMaxExactSamplesPerSide : kMaxSamplesPerSide, ku, kv);
    FootprintSums<OneLane> sums;
    if (nearPole) {  // the blend of the corners is no guide here: every sample exactly
        for (std::int32_t row = 0; row < kv; ++row) {
            for (std::int32_t column = 0; column < ku; ++column) {
                double x = 0, y = 0;
                pictureAt(s, planes, (c - 0.5 + (column + 0.5) / ku) * s.inverseColumns,
                          (r - 0.5 + (row + 0.5) / kv) * s.inverseRows, x, y);
                sums.add(s, static_cast<float>(x), static_cast<float>(y), 1);
            }
            sums.endRow();
        }
    } else {
        addBlendedFootprint<OneLane>(s, x00, y00, dx, dy, ku, kv, sums);
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
