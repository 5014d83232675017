// The first passes of every filter, over one block of a row at a time: each texel's point on
// the diamond, then the point's angles. Every value is formed with the same operations in
// the same order as the per-texel functions (geometry.h, spherical_lookup.cpp), so the
// bytes are identical; the build keeps the compiler from fusing multiply-adds. Included
// inside a kernel instance's namespace (kernel_instance.inl).
#pragma once

#include <cstdint>

#include "diamond_kernel.h"
#include "lanes.h"
#include "spherical_lookup.h"

template <class L>
struct Point {
    typename L::F x, y, z;
};

template <class L>
struct Angles {
    typename L::F longitude, latitude;
};

// A row's stretch of one of the diamond's two triangles: trianglePoint (geometry.h) in
// lanes, with (a, b) = (u, v) on the pole triangle and (1 − u, 1 − v), formed in float, on
// the far one. b·e2 is the same along the row; the terms are held in every lane of L.
template <class L>
struct RowPlane {
    typename L::D corner[3], e1[3], rowPart[3];  // rowPart: b·e2
    bool far;

    RowPlane(const TrianglePlane& t, float b, bool farTriangle)
        : corner{L::setD(t.corner.x), L::setD(t.corner.y), L::setD(t.corner.z)},
          e1{L::setD(t.e1.x), L::setD(t.e1.y), L::setD(t.e1.z)},
          rowPart{L::setD(double{b} * t.e2.x), L::setD(double{b} * t.e2.y), L::setD(double{b} * t.e2.z)},
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

// The points of columns [c0, c1) of one triangle's plane at row fraction b (v, or 1 − v on
// the far triangle), into the block from `at` on: the texels' own points at u = c / N, or
// with `corners` the corners of their footprints at u = (c − ½) / N.
template <class Wide>
void planePoints(const DiamondSetup& s, const TrianglePlane& plane, float b, bool far, std::int32_t c0,
                 std::int32_t c1, Block& block, std::uint32_t at, bool corners = false)
{
    const RowPlane<Wide> wide(plane, b, far);
    const RowPlane<OneLane> narrow(plane, b, far);
    eachGroup<Wide>(static_cast<std::uint32_t>(c1 - c0), [&](auto lanes, std::uint32_t i) {
        using L = decltype(lanes);
        const auto c = L::columns(c0 + static_cast<std::int32_t>(i));
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

// Row r's points of columns [c0, c1), or with `corners` the footprints' corners of that
// line: the pole triangle's plane up to the column `lastPole`, the far one's beyond.
template <class Wide>
void rowPoints(const DiamondSetup& s, float v, std::int64_t lastPole, std::int32_t c0, std::int32_t c1,
               Block& block, bool corners = false)
{
    const auto split = static_cast<std::int32_t>(clampTo<std::int64_t>(lastPole + 1, c0, c1));
    planePoints<Wide>(s, s.planes.pole, v, false, c0, split, block, 0, corners);
    planePoints<Wide>(s, s.planes.far, 1.0f - v, true, split, c1, block, static_cast<std::uint32_t>(split - c0),
                      corners);
}

template <class Wide>
void blockAngles(Block& block, std::uint32_t n)
{
    eachGroup<Wide>(n, [&](auto lanes, std::uint32_t i) {
        using L = decltype(lanes);
        const Angles<L> angles = anglesOf<L>({L::loadF(block.x + i), L::loadF(block.y + i), L::loadF(block.z + i)});
        L::storeF(block.longitude + i, angles.longitude);
        L::storeF(block.latitude + i, angles.latitude);
    });
}
