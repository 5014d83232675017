// The diamond table, its corners and the way back from a direction to a diamond.
#include "icosa_diamonds.h"

#include <algorithm>
#include <array>

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
            diamondCorner(record, farCornerPoint(isSouthernDiamond(index)))};
}

Vector3 diamondPointAt(int index, double u, double v) { return diamondPoint(diamondPlanes(diamondCorners(index)), u, v); }

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
    const DiamondPlanes planes = diamondPlanes(diamondCorners(diamond));
    const TrianglePlane& t = far ? planes.far : planes.pole;
    const Double3 corner = toDouble(t.corner), e1 = toDouble(t.e1), e2 = toDouble(t.e2);
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

DiamondPoint locateInDiamond(int index, double x, double y, double z)
{
    const Double3 d{x, y, z};
    for (const bool far : {false, true}) {
        const Face face = faceOf(index, far);
        const double along = dot(face.normal, d);
        if (along == 0.0)
            continue;
        const Double3 p = scaled(d, face.offset / along);
        const Double3 fromCorner{p.x - face.corner.x, p.y - face.corner.y, p.z - face.corner.z};
        const double a = dot(fromCorner, face.dualA), b = dot(fromCorner, face.dualB);
        // Each triangle's plane holds the points of its own side of the diagonal u + v = 1.
        if (!far && a + b <= 1.0)
            return {index, a, b};
        if (far)
            return {index, 1 - a, 1 - b};
    }
    return {index, 0.0, 0.0};
}
