// The geometry that the rasteriser, its kernels and the checking tools share: points and
// edge vectors in float, a diamond's corners, its two triangles as planes, and the one
// formula for the point of a diamond at (u, v). Includes nothing of the project.
//
// The functions are static: a kernel built for one instruction set keeps its own copy of
// what it calls, which no other object can stand in for at link time.
#pragma once

// A corner or an edge vector.
struct Vector3 {
    float x;
    float y;
    float z;
};

// a − b, each component rounded to float: the edge vectors of the diamonds.
static constexpr Vector3 difference(Vector3 a, Vector3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

// The corners a diamond is rendered with: the pole, the ends of its top row and of its
// left column, and the far corner.
struct DiamondCorners {
    Vector3 p0, p1, p2, p3;
};

// One triangle as a plane: its points are corner + a·e1 + b·e2.
struct TrianglePlane {
    Vector3 corner, e1, e2;
};

// A diamond's two triangles. (u, v) in the unit square maps onto the pole triangle
// (p0; p1 − p0, p2 − p0) with (a, b) = (u, v) where u + v <= 1, and onto the far triangle
// (p3; p2 − p3, p1 − p3) with (a, b) = (1 − u, 1 − v) beyond: both give u·p1 + v·p2 on the
// diagonal they share.
struct DiamondPlanes {
    TrianglePlane pole, far;
};

static constexpr DiamondPlanes diamondPlanes(const DiamondCorners& c)
{
    return {{c.p0, difference(c.p1, c.p0), difference(c.p2, c.p0)},
            {c.p3, difference(c.p2, c.p3), difference(c.p1, c.p3)}};
}

// corner + a·e1 + b·e2, each component in double (separate multiplies and adds, left to
// right) and rounded to float. Every point of a diamond is made this way; the kernels'
// vector form (RowPlane) does the same operations in the same order.
static inline Vector3 trianglePoint(const TrianglePlane& t, double a, double b)
{
    return {static_cast<float>(t.corner.x + a * t.e1.x + b * t.e2.x),
            static_cast<float>(t.corner.y + a * t.e1.y + b * t.e2.y),
            static_cast<float>(t.corner.z + a * t.e1.z + b * t.e2.z)};
}

// The point of the diamond at any (u, v), on the plane of the triangle it falls in
// (extended past the diamond's edges).
static inline Vector3 diamondPoint(const DiamondPlanes& d, double u, double v)
{
    return u + v > 1 ? trianglePoint(d.far, 1 - u, 1 - v) : trianglePoint(d.pole, u, v);
}
