// The diamond table and the one-texel-at-a-time rasteriser.
#include "icosa_diamonds.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "spherical_lookup.h"

namespace {

// The twelve vertices, radius 100, y the polar axis. These are data, not computed: the
// rings sit at y = ±44.721401 rather than the exact ±100/√5, and the output depends on
// every digit.
#define NP {0.0, 100.0, 0.0}
#define U0 {89.442703, 44.721401, 0.0}
#define U72 {27.639299, 44.721401, 85.065102}
#define U144 {-72.360703, 44.721401, 52.573101}
#define U216 {-72.360703, 44.721401, -52.573101}
#define U288 {27.639299, 44.721401, -85.065102}
#define L36 {72.360703, -44.721401, 52.573101}
#define L108 {-27.639299, -44.721401, 85.065102}
#define L180 {-89.442703, -44.721401, 0.0}
#define L252 {-27.639299, -44.721401, -85.065102}
#define L324 {72.360703, -44.721401, -52.573101}
#define SP {0.0, -100.0, 0.0}

}  // namespace

const Diamond kIcosaDiamonds[kDiamondCount] = {
    // Northern: pole, shared edge, then (point 2, point 1, far corner).
    {{NP, U0, U72, U72, U0, L36}},
    {{NP, U72, U144, U144, U72, L108}},
    {{NP, U144, U216, U216, U144, L180}},
    {{NP, U216, U288, U288, U216, L252}},
    {{NP, U288, U0, U0, U288, L324}},
    // Southern: pole, shared edge, then (far corner, point 2, point 1).
    {{SP, L108, L36, U72, L36, L108}},
    {{SP, L180, L108, U144, L108, L180}},
    {{SP, L252, L180, U216, L180, L252}},
    {{SP, L324, L252, U288, L252, L324}},
    {{SP, L36, L324, U0, L324, L36}},
};

#undef NP
#undef U0
#undef U72
#undef U144
#undef U216
#undef U288
#undef L36
#undef L108
#undef L180
#undef L252
#undef L324
#undef SP

Vector3 diamondCorner(const Diamond& record, int point)
{
    const double(&p)[3] = record.points[point];
    return {static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2])};
}

DiamondCorners diamondCorners(int index)
{
    const Diamond& record = kIcosaDiamonds[index];
    return {diamondCorner(record, 0), diamondCorner(record, 1), diamondCorner(record, 2),
            diamondCorner(record, index >= 5 ? 3 : 5)};
}

Vector3 diamondPointAt(int index, double u, double v)
{
    const DiamondCorners d = diamondCorners(index);
    const bool far = u + v > 1;
    const Vector3 o = far ? d.p3 : d.p0;
    const Vector3 e1 = far ? difference(d.p2, d.p3) : difference(d.p1, d.p0);
    const Vector3 e2 = far ? difference(d.p1, d.p3) : difference(d.p2, d.p0);
    const double a = far ? 1 - u : u, b = far ? 1 - v : v;
    return {static_cast<float>(o.x + a * e1.x + b * e2.x), static_cast<float>(o.y + a * e1.y + b * e2.y),
            static_cast<float>(o.z + a * e1.z + b * e2.z)};
}

namespace {

struct Double3 {
    double x, y, z;
};
Double3 toDouble(Vector3 v) { return {v.x, v.y, v.z}; }
double dot(Double3 a, Double3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Double3 cross(Double3 a, Double3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
Double3 scaled(Double3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }

// One of the twenty triangles, as the rasteriser lays it out: a point of its plane is
// corner + a·e1 + b·e2. The ray t·d meets the plane at t = offset / (normal·d), and a, b
// are the point's dot products with the dual vectors of e1 and e2.
struct Face {
    int diamond;
    bool far;  // (a, b) = (1 − u, 1 − v)
    Double3 corner, normal, dualA, dualB;
    double offset;
};

Face faceOf(int diamond, bool far)
{
    const DiamondCorners c = diamondCorners(diamond);
    const Double3 corner = toDouble(far ? c.p3 : c.p0);
    const Double3 e1 = toDouble(far ? difference(c.p2, c.p3) : difference(c.p1, c.p0));
    const Double3 e2 = toDouble(far ? difference(c.p1, c.p3) : difference(c.p2, c.p0));
    const Double3 normal = cross(e1, e2);
    const double area = dot(normal, normal);
    return {diamond, far, corner, normal, scaled(cross(e2, normal), 1 / area),
            scaled(cross(normal, e1), 1 / area), dot(normal, corner)};
}

}  // namespace

DiamondPoint locateDirection(double x, double y, double z)
{
    static const auto faces = [] {
        std::array<Face, 2 * kDiamondCount> all{};
        for (int k = 0; k < kDiamondCount; ++k) {
            all[2 * k] = faceOf(k, false);
            all[2 * k + 1] = faceOf(k, true);
        }
        return all;
    }();
    // The icosahedron is convex around the centre: the face a ray leaves through is the
    // plane it meets first, the one of the largest normal·d / offset.
    const Double3 d{x, y, z};
    const Face* hit = &faces[0];
    double nearest = -1.0;
    for (const Face& face : faces) {
        const double reach = dot(face.normal, d) / face.offset;
        if (reach > nearest) {
            nearest = reach;
            hit = &face;
        }
    }
    if (!(nearest > 0.0))
        return {0, 0.0, 0.0};  // no direction at all
    const Double3 p = scaled(d, 1 / nearest);
    const Double3 fromCorner{p.x - hit->corner.x, p.y - hit->corner.y, p.z - hit->corner.z};
    const double a = std::clamp(dot(fromCorner, hit->dualA), 0.0, 1.0);
    const double b = std::clamp(dot(fromCorner, hit->dualB), 0.0, 1.0);
    return hit->far ? DiamondPoint{hit->diamond, 1 - a, 1 - b} : DiamondPoint{hit->diamond, a, b};
}

void renderDiamondRecord(const Diamond& record, unsigned char* texels, int southern)
{
    const int farCorner = southern != 0 ? 3 : 5;
    renderDiamond(diamondCorner(record, 0), diamondCorner(record, 1), diamondCorner(record, 2),
                  diamondCorner(record, farCorner), texels);
}

Vector3 diamondTexelPoint(Vector3 p0, Vector3 p1, Vector3 p2, Vector3 p3, std::uint32_t rows,
                          std::uint32_t columns, std::uint32_t r, std::uint32_t c)
{
    const auto v = static_cast<float>(r * (1.0 / rows));
    const auto u = static_cast<float>(c * (1.0 / columns));
    if (static_cast<std::int64_t>(c) <= static_cast<std::int64_t>(columns) - r) {
        // Pole triangle: P0 + u·(P1 − P0) + v·(P2 − P0).
        const Vector3 toP1 = difference(p1, p0);
        const Vector3 toP2 = difference(p2, p0);
        return {static_cast<float>(double{p0.x} + double{u} * toP1.x + double{v} * toP2.x),
                static_cast<float>(double{p0.y} + double{u} * toP1.y + double{v} * toP2.y),
                static_cast<float>(double{p0.z} + double{u} * toP1.z + double{v} * toP2.z)};
    }
    // Far triangle: P3 + (1 − u)·(P2 − P3) + (1 − v)·(P1 − P3); 1 − u and 1 − v are formed
    // in float, which is exact for power-of-two sizes.
    const Vector3 farToP2 = difference(p2, p3);
    const Vector3 farToP1 = difference(p1, p3);
    const double du = 1.0f - u;
    const double dv = 1.0f - v;
    return {static_cast<float>(double{p3.x} + du * farToP2.x + dv * farToP1.x),
            static_cast<float>(double{p3.y} + du * farToP2.y + dv * farToP1.y),
            static_cast<float>(double{p3.z} + du * farToP2.z + dv * farToP1.z)};
}

void renderDiamondPlain(Vector3 p0, Vector3 p1, Vector3 p2, Vector3 p3, unsigned char* texels)
{
    const std::uint32_t rows = runState.rows;
    const std::uint32_t columns = runState.columns;
    const bool bilinear = runState.source.bilinear != 0;
    for (std::uint32_t r = 0; r < rows; ++r) {
        for (std::uint32_t c = 0; c < columns; ++c) {
            const Vector3 q = diamondTexelPoint(p0, p1, p2, p3, rows, columns, r, c);
            float longitude = 0.0f;
            float latitude = 0.0f;
            directionToAngles(q.x, q.y, q.z, longitude, latitude);
            Texel texel = 0;
            if (bilinear)
                sampleBilinear(longitude, latitude, texel);
            else
                sampleNearest(longitude, latitude, texel);
            *texels++ = static_cast<unsigned char>((texel >> 16) & 255);
            *texels++ = static_cast<unsigned char>((texel >> 8) & 255);
            *texels++ = static_cast<unsigned char>(texel & 255);
        }
    }
}
