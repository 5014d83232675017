// The point filters' last pass: where each texel's angles fall on the picture
// (pictureColumn, pictureRow) and the nearest or bilinear sample there, as sampleNearest
// and sampleBilinear give it; and the loop over a band of rows that runs the passes.
// Included inside a kernel instance's namespace (kernel_instance.inl).
#pragma once

#include <cstddef>
#include <cstdint>

#include "diamond_kernel.h"
#include "lanes.h"
#include "map_edges.h"
#include "map_terms.h"
#include "point_passes.h"
#include "samples.h"
#include "texel_store.h"

// Nearest: the pixel under the truncated coordinates; outside the picture, black.
struct NearestSampler {
    const DiamondSetup& s;
    std::uint64_t failures = 0;

    template <class L>
    void store(typename L::D px, typename L::D py, unsigned char* out)
    {
        using I = typename L::I;
        const I column = L::truncate(px), row = L::truncate(py);
        const auto inside = (column >= L::setI(0)) & (column < L::setI(static_cast<std::int32_t>(s.width))) &
                            (row >= L::setI(0)) & (row < L::setI(static_cast<std::int32_t>(s.height)));
        failures += L::kCount - L::countTrue(inside);
        const I pixel = L::loadPixels(
            s.pixels, L::index(inside ? row : L::setI(s.map.residentRow), inside ? column : L::setI(0), s.stride));
        L::storeTexels(out, inside ? pixel : L::setI(0));
    }
};

// Bilinear: the four pixels around the coordinates, rounded to float, the map's edges as
// map_edges.h says; each channel blended in double and truncated. The floored coordinates
// lie in [0, size], so one step wraps or stops them.
struct BilinearSampler {
    const DiamondSetup& s;

    template <class L, int kShift>
    static typename L::I blend(typename L::I c00, typename L::I c10, typename L::I c01, typename L::I c11,
                               typename L::D fx, typename L::D fy)
    {
        const auto channel = [](typename L::I word) { return L::toD((word >> kShift) & L::setI(0xFF)); };
        const typename L::D gx = L::setD(1.0) - fx, gy = L::setD(1.0) - fy;
        return L::truncate(gy * (gx * channel(c00) + fx * channel(c10)) +
                           fy * (gx * channel(c01) + fx * channel(c11)));
    }

    template <class L>
    void store(typename L::D pxWide, typename L::D pyWide, unsigned char* out)
    {
        using I = typename L::I;
        const typename L::F px = L::toF(pxWide), py = L::toF(pyWide);
        const I ix = L::floorToInt(px), iy = L::floorToInt(py);
        const typename L::D fx = L::toD(px) - L::toD(ix), fy = L::toD(py) - L::toD(iy);
        const I x0 = wrapOnce(ix, L::setI(static_cast<std::int32_t>(s.width)));
        const I lastRow = L::setI(static_cast<std::int32_t>(s.height) - 1);
        const I y0 = clampRow(iy, lastRow), y1 = rowBelow(y0, lastRow);
        I c00, c10, c01, c11;  // (x0 + 1) mod W is the next word: the row's wrap word at its end
        L::loadPairs(s.pixels, L::index(y0, x0, s.stride), c00, c10);
        L::loadPairs(s.pixels, L::index(y1, x0, s.stride), c01, c11);
        L::storeTexels(out, blend<L, 0>(c00, c10, c01, c11, fx, fy) |
                                (blend<L, 8>(c00, c10, c01, c11, fx, fy) << 8) |
                                (blend<L, 16>(c00, c10, c01, c11, fx, fy) << 16));
    }
};

// Where the angles fall on the picture (pictureColumn, pictureRow), and the samples there.
template <class Wide, class Sampler>
void blockSamples(const DiamondSetup& s, const Block& block, std::uint32_t n, unsigned char* out, Sampler& sampler)
{
    const PictureScales& scales = s.scales;
    const std::size_t texelSize = texelBytes(s.rules.output);
    eachGroup<Wide>(n, [&](auto lanes, std::uint32_t i) {
        using L = decltype(lanes);
        const auto px = L::setD(scales.halfWidth) - L::setD(scales.columnScale) * L::toD(L::loadF(block.longitude + i));
        const auto py = L::setD(scales.halfHeight) - L::setD(scales.rowScale) * L::toD(L::loadF(block.latitude + i));
        sampler.template store<L>(px, py, out + texelSize * i);
    });
}

// Rows [rowBegin, rowEnd) of the region, each texel at (u, v) = (c / N, r / N): the points
// and the angles with Wide lanes, the samples with Reads (Wide, or one lane where the
// picture's words do not fit the vector lanes' 32-bit indices).
template <class Wide, class Reads, class Sampler>
void renderBand(const DiamondSetup& s, std::uint32_t rowBegin, std::uint32_t rowEnd, unsigned char* out,
                Sampler& sampler)
{
    // Column blocks outside, rows inside: the rows of a band then sample neighbouring
    // source pixels one after the other, which keeps them in the nearer caches.
    Block block;
    const std::size_t texelSize = texelBytes(s.rules.output);
    const std::size_t rowBytes = s.outRowBytes;
    for (std::uint32_t j0 = 0; j0 < s.regionColumns; j0 += kBlock) {
        const std::uint32_t j1 = least(j0 + kBlock, s.regionColumns);
        const std::int32_t c0 = s.firstColumn + static_cast<std::int32_t>(j0);
        for (std::uint32_t i = rowBegin; i < rowEnd; ++i) {
            const std::int32_t r = s.firstRow + static_cast<std::int32_t>(i);
            const auto v = static_cast<float>(r * s.inverseRows);  // r / N
            // Columns c <= N - r belong to the pole triangle, the rest to the far one.
            rowPoints<Wide>(s, v, std::int64_t{s.columns} - r, c0, c0 + static_cast<std::int32_t>(j1 - j0), block);
            blockAngles<Wide>(block, j1 - j0);
            blockSamples<Reads>(s, block, j1 - j0, out + (i - rowBegin) * rowBytes + std::size_t{j0} * texelSize,
                                sampler);
        }
    }
}

// Nearest for every other layout: the pixel's samples copied, converted to the texture's
// type only where it differs (8 to 16 bits × 257; integers to float scaled to 0..1).
template <SampleType T>
struct SampleNearestSampler {
    const DiamondSetup& s;
    std::uint64_t failures = 0;

    template <class L>
    void store(typename L::D px, typename L::D py, unsigned char* out)
    {
        using I = typename L::I;
        const I column = L::truncate(px), row = L::truncate(py);
        const auto inside = (column >= L::setI(0)) & (column < L::setI(static_cast<std::int32_t>(s.width))) &
                            (row >= L::setI(0)) & (row < L::setI(static_cast<std::int32_t>(s.height)));
        const std::size_t texelSize = texelBytes(s.rules.output);
        const unsigned channels = s.map.layout.channels;
        for (unsigned j = 0; j < L::kCount; ++j) {
            double values[4] = {};
            if (L::lane(inside, j) != 0) {
                const unsigned char* pixel = s.map.base + static_cast<std::size_t>(L::lane(row, j)) * s.map.rowBytes +
                                             static_cast<std::size_t>(L::lane(column, j)) * s.map.pixelBytes;
                for (unsigned c = 0; c < channels; ++c)
                    values[c] = readSample<T>(pixel, channels, c);
            } else {
                ++failures;
            }
            storeTexel(values, s.map.layout, s.rules, Rounding::Nearest, out + texelSize * j);
        }
    }
};

// Bilinear for every other layout: the four pixels around the coordinates as the 8-bit
// blend finds them. Without alpha, no-data or linear light each channel is blended by the
// same arithmetic; otherwise colour is weighted by alpha and by the pixels that count, in
// linear light if asked. 8-bit texels are truncated as the 8-bit blend's are, others
// rounded to nearest, floats kept as they come.
template <SampleType T>
struct SampleBilinearSampler {
    const DiamondSetup& s;
    const SampleTerms<T> terms{s.map, s.rules};

    template <class L>
    void store(typename L::D pxWide, typename L::D pyWide, unsigned char* out)
    {
        using I = typename L::I;
        const typename L::F px = L::toF(pxWide), py = L::toF(pyWide);
        const I ix = L::floorToInt(px), iy = L::floorToInt(py);
        const typename L::D fx = L::toD(px) - L::toD(ix), fy = L::toD(py) - L::toD(iy);
        const I x0 = wrapOnce(ix, L::setI(static_cast<std::int32_t>(s.width)));
        const I lastRow = L::setI(static_cast<std::int32_t>(s.height) - 1);
        const I y0 = clampRow(iy, lastRow), y1 = rowBelow(y0, lastRow);
        const std::size_t texelSize = texelBytes(s.rules.output);
        const Rounding rounding = s.rules.output.type == SampleType::U8 ? Rounding::Truncate : Rounding::Nearest;
        const unsigned channels = s.map.layout.channels;
        const bool plain = !s.rules.linear && !s.rules.nodata && !hasAlpha(channels);
        using D = typename L::D;
        const D one = L::setD(1.0);
        const D gx = one - fx, gy = one - fy;
        // Each lane's four pixels; the pixel after x0 is the next one, or the row's wrap
        // pixel at its end.
        const unsigned char* corner[4][L::kCount];
        for (unsigned j = 0; j < L::kCount; ++j) {
            const std::size_t column = static_cast<std::size_t>(L::lane(x0, j)) * s.map.pixelBytes;
            const unsigned char* top = s.map.base + static_cast<std::size_t>(L::lane(y0, j)) * s.map.rowBytes + column;
            const unsigned char* below = s.map.base + static_cast<std::size_t>(L::lane(y1, j)) * s.map.rowBytes + column;
            corner[0][j] = top;
            corner[1][j] = top + s.map.pixelBytes;
            corner[2][j] = below;
            corner[3][j] = below + s.map.pixelBytes;
        }
        D values[4];
        if (plain) {
            for (unsigned c = 0; c < channels; ++c) {
                const D a = terms.template gather<L>(corner[0], c), b = terms.template gather<L>(corner[1], c);
                const D d = terms.template gather<L>(corner[2], c), e = terms.template gather<L>(corner[3], c);
                values[c] = gy * (gx * a + fx * b) + fy * (gx * d + fx * e);
            }
        } else {
            D sums[kMaxTerms];
            for (D& sum : sums)
                sum = L::setD(0.0);
            terms.template addLanes<L>(corner[0], gy * gx, sums);
            terms.template addLanes<L>(corner[1], gy * fx, sums);
            terms.template addLanes<L>(corner[2], fy * gx, sums);
            terms.template addLanes<L>(corner[3], fy * fx, sums);
            for (unsigned j = 0; j < L::kCount; ++j) {
                double laneSums[kMaxTerms], resolved[4];
                for (int k = 0; k < kMaxTerms; ++k)
                    laneSums[k] = L::lane(sums[k], j);
                terms.resolve(laneSums, 1.0, resolved);
                for (unsigned c = 0; c < channels; ++c)
                    L::setLane(values[c], j, resolved[c]);
            }
        }
        for (unsigned j = 0; j < L::kCount; ++j) {
            double texel[4] = {};
            for (unsigned c = 0; c < channels; ++c)
                texel[c] = L::lane(values[c], j);
            storeTexel(texel, s.map.layout, s.rules, rounding, out + texelSize * j);
        }
    }
};
