// The bulk renderer's inner loop, written once over the Lanes interface (lanes.h). Each
// diamond_kernel_<isa>.cpp defines KERNEL_NAMESPACE and KernelLanes, its widest lanes,
// then includes this file; groups of texels go through KernelLanes and the rest of a span
// through OneLane.
//
// Per texel: its point on the diamond, the point's angles, where they fall on the picture,
// the sample, three bytes stored. Every value is formed with the same operations in the
// same order as the per-texel functions (spherical_lookup.cpp, icosa_diamonds.cpp), so the
// bytes are identical; the build keeps the compiler from fusing multiply-adds.
#include <algorithm>
#include <cstring>

#include "diamond_kernel.h"
#include "lanes.h"

namespace KERNEL_NAMESPACE {
namespace {

template <class L>
struct Point {
    typename L::F x, y, z;
};

template <class L>
struct Angles {
    typename L::F longitude, latitude;
};

// A row's stretch of one of the diamond's two triangles, as a plane: a point is
// corner + a·e1 + b·e2, with (a, b) = (u, v) on the pole triangle and (1 − u, 1 − v) on
// the far one, 1 − u and 1 − v formed in float. b·e2 is the same along the row; the terms
// are held in every lane of L.
template <class L>
struct RowPlane {
    typename L::D corner[3], e1[3], rowPart[3];  // rowPart: b·e2
    bool far;

    RowPlane(Vector3 c, Vector3 edge1, Vector3 edge2, float b, bool farTriangle)
        : corner{L::setD(c.x), L::setD(c.y), L::setD(c.z)}, e1{L::setD(edge1.x), L::setD(edge1.y), L::setD(edge1.z)},
          rowPart{L::setD(double{b} * edge2.x), L::setD(double{b} * edge2.y), L::setD(double{b} * edge2.z)},
          far(farTriangle)
    {
    }

    // corner + a·e1 + b·e2, each component in double (separate multiplies and adds, left to
    // right) and rounded to float.
    Point<L> pointAt(typename L::F u) const
    {
        const typename L::D a = L::toD(far ? L::toF(L::setD(1.0)) - u : u);
        return {L::toF(corner[0] + a * e1[0] + rowPart[0]), L::toF(corner[1] + a * e1[1] + rowPart[1]),
                L::toF(corner[2] + a * e1[2] + rowPart[2])};
    }
};

// longitude = atan2(z, x) and latitude = atan(y / √(x² + z²)), rounded to float.
template <class L>
Angles<L> anglesOf(const Point<L>& q)
{
    Angles<L> angles;
    if constexpr (L::kCount == 1) {
        directionToAngles(q.x, q.y, q.z, angles.longitude, angles.latitude);
    } else {
        const typename L::D x = L::toD(q.x), y = L::toD(q.y), z = L::toD(q.z);
        // atan(y / h) as atan2(y, h): one division fewer, and within the margin below.
        const typename L::D longitude = L::atan2(z, x);
        const typename L::D latitude = L::atan2(y, L::sqrt(x * x + z * z));
        angles = {L::toF(longitude), L::toF(latitude)};
        // Lanes on an axis, where the signs of zeros decide, and lanes that the vector
        // library's few ulps could round to another float, take the scalar call.
        const auto unsure = [](typename L::D value) {
            const typename L::D margin = value * L::setD(0x1p-40);  // sign makes no odds
            return L::bits(L::toF(value - margin) != L::toF(value + margin));
        };
        unsigned redo = L::bits((x == L::setD(0.0)) | (z == L::setD(0.0))) | unsure(longitude) | unsure(latitude);
        for (; redo != 0; redo &= redo - 1) {
            const auto j = static_cast<unsigned>(__builtin_ctz(redo));
            float laneLongitude = 0.0f, laneLatitude = 0.0f;  // vector lanes take no references
            directionToAngles(q.x[j], q.y[j], q.z[j], laneLongitude, laneLatitude);
            angles.longitude[j] = laneLongitude;
            angles.latitude[j] = laneLatitude;
        }
    }
    return angles;
}

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

// Bilinear: the four pixels around the coordinates, rounded to float; columns wrap round
// the map, rows stop at the last; each channel blended in double and truncated. The
// floored coordinates lie in [0, size], so one step wraps or clamps them.
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
        const I width = L::setI(static_cast<std::int32_t>(s.width));
        const I height = L::setI(static_cast<std::int32_t>(s.height));
        I x0 = ix >= width ? ix - width : ix;
        x0 = x0 < L::setI(0) ? x0 + width : x0;
        const I lastRow = height - L::setI(1);
        I y0 = iy > lastRow ? lastRow : iy;
        y0 = y0 < L::setI(0) ? L::setI(0) : y0;
        const I y1 = y0 < lastRow ? y0 + L::setI(1) : lastRow;
        I c00, c10, c01, c11;  // (x0 + 1) mod W is the next word: the row's wrap word at its end
        L::loadPairs(s.pixels, L::index(y0, x0, s.stride), c00, c10);
        L::loadPairs(s.pixels, L::index(y1, x0, s.stride), c01, c11);
        L::storeTexels(out, blend<L, 0>(c00, c10, c01, c11, fx, fy) |
                                (blend<L, 8>(c00, c10, c01, c11, fx, fy) << 8) |
                                (blend<L, 16>(c00, c10, c01, c11, fx, fy) << 16));
    }
};

// Calls step(lanes, i) for i = 0, kCount, 2·kCount, ... below n with the lanes Wide, then
// with one lane for the rest.
template <class Wide, class Step>
inline void eachGroup(std::uint32_t n, Step step)
{
    std::uint32_t i = 0;
    for (; i + Wide::kCount <= n; i += Wide::kCount)
        step(Wide{}, i);
    for (; i < n; ++i)
        step(OneLane{}, i);
}

// One block of a row, pass by pass: the texels' points, their angles, their samples. The
// passes keep each loop small, and let the picture reads of many texels overlap in the
// memory system.
constexpr std::uint32_t kBlock = 256;
struct Block {
    float x[kBlock + 1], y[kBlock + 1], z[kBlock + 1];  // one more for the area filter's corners
    float longitude[kBlock + 1], latitude[kBlock + 1];
};

// The points of columns [c0, c1), all on the triangle of corner, e1 and e2, into the
// block from `at` on: the texels' own points at u = c / N, or with `corners` the corners
// of their footprints at u = (c − ½) / N.
void planePoints(const DiamondSetup& s, Vector3 corner, Vector3 e1, Vector3 e2, float b, bool far,
                 std::uint32_t c0, std::uint32_t c1, Block& block, std::uint32_t at, bool corners = false)
{
    const RowPlane<KernelLanes> wide(corner, e1, e2, b, far);
    const RowPlane<OneLane> narrow(corner, e1, e2, b, far);
    eachGroup<KernelLanes>(c1 - c0, [&](auto lanes, std::uint32_t i) {
        using L = decltype(lanes);
        const auto c = L::columns(c0 + i);
        const typename L::F u = corners ? L::toF(L::toD(c + c - L::setI(1)) * L::setD(0.5 * s.inverseColumns))
                                        : L::toF(L::toD(c) * L::setD(s.inverseColumns));
        Point<L> q;
        if constexpr (L::kCount == 1)
            q = narrow.pointAt(u);
        else
            q = wide.pointAt(u);
        L::storeF(block.x + at + i, q.x);
        L::storeF(block.y + at + i, q.y);
        L::storeF(block.z + at + i, q.z);
    });
}

void blockAngles(Block& block, std::uint32_t n)
{
    eachGroup<KernelLanes>(n, [&](auto lanes, std::uint32_t i) {
        using L = decltype(lanes);
        const Angles<L> angles = anglesOf<L>({L::loadF(block.x + i), L::loadF(block.y + i), L::loadF(block.z + i)});
        L::storeF(block.longitude + i, angles.longitude);
        L::storeF(block.latitude + i, angles.latitude);
    });
}

// Where the angles fall on the picture (pictureColumn, pictureRow), and the samples there.
template <class Wide, class Sampler>
void blockSamples(const DiamondSetup& s, const Block& block, std::uint32_t n, unsigned char* out, Sampler& sampler)
{
    const PictureScales& scales = s.scales;
    eachGroup<Wide>(n, [&](auto lanes, std::uint32_t i) {
        using L = decltype(lanes);
        const auto px = L::setD(scales.halfWidth) - L::setD(scales.columnScale) * L::toD(L::loadF(block.longitude + i));
        const auto py = L::setD(scales.halfHeight) - L::setD(scales.rowScale) * L::toD(L::loadF(block.latitude + i));
        sampler.template store<L>(px, py, out + 3 * i);
    });
}

// Rows [rowBegin, rowEnd) of the diamond; the samplers read the picture with Wide lanes.
template <class Wide, class Sampler>
void renderBand(const DiamondSetup& s, std::uint32_t rowBegin, std::uint32_t rowEnd, unsigned char* out,
                Sampler& sampler)
{
    // Column blocks outside, rows inside: the rows of a band then sample neighbouring
    // source pixels one after the other, which keeps them in the nearer caches.
    Block block;
    const std::size_t rowBytes = static_cast<std::size_t>(s.columns) * 3;
    for (std::uint32_t c0 = 0; c0 < s.columns; c0 += kBlock) {
        const std::uint32_t c1 = std::min(c0 + kBlock, s.columns);
        for (std::uint32_t r = rowBegin; r < rowEnd; ++r) {
            const auto v = static_cast<float>(r * s.inverseRows);  // r / N
            // Columns c <= columns - r belong to the pole triangle, the rest to the far one.
            const std::int64_t lastPole = static_cast<std::int64_t>(s.columns) - r;
            const auto split = static_cast<std::uint32_t>(std::clamp<std::int64_t>(lastPole + 1, c0, c1));
            planePoints(s, s.planes.p0, s.planes.toP1, s.planes.toP2, v, false, c0, split, block, 0);
            planePoints(s, s.planes.p3, s.planes.farToP2, s.planes.farToP1, 1.0f - v, true, split, c1, block, split - c0);
            blockAngles(block, c1 - c0);
            blockSamples<Wide>(s, block, c1 - c0, out + (r - rowBegin) * rowBytes + std::size_t{c0} * 3, sampler);
        }
    }
}

template <class Sampler>
void renderBand(const DiamondSetup& s, std::uint32_t rowBegin, std::uint32_t rowEnd, unsigned char* out,
                Sampler& sampler)
{
    // Vector lanes index the picture's words in 32 bits.
    if (static_cast<std::uint64_t>(s.stride) * s.height <= UINT32_MAX)
        renderBand<KernelLanes>(s, rowBegin, rowEnd, out, sampler);
    else
        renderBand<OneLane>(s, rowBegin, rowEnd, out, sampler);
}

#include "area_kernel.inl"

}  // namespace

std::uint64_t renderRows(const DiamondSetup& s, std::uint32_t rowBegin, std::uint32_t rowEnd,
                         unsigned char* out)
{
    if (s.pixels == nullptr || s.width == 0 || s.height == 0) {  // every read would fail
        const std::size_t texels = static_cast<std::size_t>(rowEnd - rowBegin) * s.columns;
        std::memset(out, 0, texels * 3);
        return texels * (s.filter == DiamondSetup::Filter::Nearest ? 1 : 4);
    }
    if (s.filter == DiamondSetup::Filter::Area) {
        renderAreaBand(s, rowBegin, rowEnd, out);
        return 0;
    }
    if (s.filter == DiamondSetup::Filter::Bilinear) {
        BilinearSampler sampler{s};
        renderBand(s, rowBegin, rowEnd, out, sampler);
        return 0;
    }
    NearestSampler sampler{s};
    renderBand(s, rowBegin, rowEnd, out, sampler);
    return sampler.failures;
}

}  // namespace KERNEL_NAMESPACE
