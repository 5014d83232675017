// The ten diamonds of the icosahedron and the rasteriser that turns one diamond into the
// N × N texel block of a texture.
//
// Each diamond is two triangles sharing an edge. In its texture the pole is the top-left
// texel, the top row runs towards point 1, the left column towards point 2 and the far
// corner is the bottom right. Texel (r, c) samples (u, v) = (c / N, r / N), the texel's
// top-left corner, so texel (0, 0) is the pole itself.
#pragma once

#include <cstdint>

#include "texture_job.h"

// A corner or an edge vector.
struct Vector3 {
    float x;
    float y;
    float z;
};

// a − b, each component rounded to float: the edge vectors of the diamonds.
constexpr Vector3 difference(Vector3 a, Vector3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

// Six points (x, y, z each): 0 pole, 1 and 2 the shared edge, then the far triangle.
// Northern records store the far triangle as (point 2, point 1, far corner), southern
// records as (far corner, point 2, point 1).
struct Diamond {
    double points[6][3];
};

constexpr int kDiamondCount = kTextureCount;
// The five diamonds around the north pole, then the five around the south pole.
extern const Diamond kIcosaDiamonds[kDiamondCount];

// Point `point` (0 to 5) of a record, rounded to float.
Vector3 diamondCorner(const Diamond& record, int point);

// The corners record `index` (0-9) is rendered with: pole, end of the top row, end of the
// left column, far corner.
struct DiamondCorners {
    Vector3 p0, p1, p2, p3;
};
DiamondCorners diamondCorners(int index);

// The point of diamond `index` at any (u, v), on the plane of the triangle it falls in
// (extended past the diamond's edges), in double and rounded to float: the rasteriser's
// mapping for points between its texels.
Vector3 diamondPointAt(int index, double u, double v);

// The inverse of the rasteriser's mapping: the diamond that a direction from the centre
// meets, and where, as (u, v) in that diamond's own parameters, each in [0, 1]. Texel
// (r, c) of an N × N texture samples (u, v) = (c / N, r / N), so (u·N, v·N) places the
// direction in the texel grid. A direction on an edge shared by two diamonds may be given
// to either.
struct DiamondPoint {
    int diamond;  // 0-9, in table order
    double u, v;
};
DiamondPoint locateDirection(double x, double y, double z);

// Renders `record` into `texels` (rows × columns × 3 bytes, blue-green-red).
// `southern` is set for records 6 to 10, whose far corner is point 3 instead of point 5.
void renderDiamondRecord(const Diamond& record, unsigned char* texels, int southern);

// Renders the diamond with pole p0, top-row end p1, left-column end p2 and far corner p3.
void renderDiamond(Vector3 p0, Vector3 p1, Vector3 p2, Vector3 p3, unsigned char* texels);

// The point of the diamond that texel (r, c) of a rows × columns face stands for.
Vector3 diamondTexelPoint(Vector3 p0, Vector3 p1, Vector3 p2, Vector3 p3, std::uint32_t rows,
                          std::uint32_t columns, std::uint32_t r, std::uint32_t c);

// The rasteriser one texel at a time through the per-texel operations, exactly as the
// fast path must behave; tests hold the fast path to it.
void renderDiamondPlain(Vector3 p0, Vector3 p1, Vector3 p2, Vector3 p3, unsigned char* texels);
