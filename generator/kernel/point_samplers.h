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
        const I pixel = L::loadPixels(s.pixels, L::index(inside ? row : L::setI(0), inside ? column : L::setI(0), s.stride));
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

// Rows [rowBegin, rowEnd) of the diamond, each texel at (u, v) = (c / N, r / N): the points
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
    const std::size_t rowBytes = static_cast<std::size_t>(s.columns) * texelSize;
    for (std::uint32_t c0 = 0; c0 < s.columns; c0 += kBlock) {
        const std::uint32_t c1 = least(c0 + kBlock, s.columns);
        for (std::uint32_t r = rowBegin; r < rowEnd; ++r) {
            const auto v = static_cast<float>(r * s.inverseRows);  // r / N
            // Columns c <= columns - r belong to the pole triangle, the rest to the far one.
            rowPoints<Wide>(s, v, static_cast<std::int64_t>(s.columns) - r, c0, c1, block);
            blockAngles<Wide>(block, c1 - c0);
            blockSamples<Reads>(s, block, c1 - c0, out + (r - rowBegin) * rowBytes + std::size_t{c0} * texelSize,
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
        for (unsigned j = 0; j < L::kCount; ++j) {
            const double gx = 1.0 - L::lane(fx, j), gy = 1.0 - L::lane(fy, j);
            const double wx = L::lane(fx, j), wy = L::lane(fy, j);
            const auto rowAt = [&](std::int32_t row) {
                return s.map.base + static_cast<std::size_t>(row) * s.map.rowBytes;
            };
            const auto column = static_cast<std::uint32_t>(L::lane(x0, j));
            const unsigned char* top = rowAt(L::lane(y0, j));
            const unsigned char* below = rowAt(L::lane(y1, j));
            double values[4] = {};
            if (plain) {
                // The pixel after x0 is the next one, or the row's wrap pixel at its end.
                for (unsigned c = 0; c < channels; ++c) {
                    const auto at = [&](const unsigned char* row, std::uint32_t k) {
                        return readSample<T>(row + (column + k) * s.map.pixelBytes, channels, c);
                    };
                    values[c] = gy * (gx * at(top, 0) + wx * at(top, 1)) + wy * (gx * at(below, 0) + wx * at(below, 1));
                }
            } else {
                double sums[kMaxTerms] = {};
                terms.add(top, column, gy * gx, sums);
                terms.add(top, column + 1, gy * wx, sums);
                terms.add(below, column, wy * gx, sums);
                terms.add(below, column + 1, wy * wx, sums);
                terms.resolve(sums, 1.0, values);
            }
            storeTexel(values, s.map.layout, s.rules, rounding, out + texelSize * j);
        }
    }
};
