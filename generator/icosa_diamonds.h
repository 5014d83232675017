// The ten diamonds of the icosahedron: the table, their corners, and the way back from a
// direction to the diamond and the (u, v) it meets.
//
// Each diamond is two triangles sharing an edge. In its texture the pole is the top-left
// texel, the top row runs towards point 1, the left column towards point 2 and the far
// corner is the bottom right. Texel (r, c) samples (u, v) = (c / N, r / N), the texel's
// top-left corner, so texel (0, 0) is the pole itself.
#pragma once

#include "geometry.h"

// Six points (x, y, z each): 0 pole, 1 and 2 the shared edge, then the far triangle.
// Northern records store the far triangle as (point 2, point 1, far corner), southern
// records as (far corner, point 2, point 1).
struct Diamond {
    double points[6][3];
};

constexpr int kDiamondCount = 10;
// The five diamonds around the north pole, then the five around the south pole.
extern const Diamond kIcosaDiamonds[kDiamondCount];

// Records 6 to 10 (indices 5 to 9) lie round the south pole.
constexpr bool isSouthernDiamond(int index) { return index >= kDiamondCount / 2; }

// Which point of a record is its far corner: 5 in the northern records, 3 in the southern.
constexpr int farCornerPoint(bool southern) { return southern ? 3 : 5; }

// Point `point` (0 to 5) of a record, rounded to float.
Vector3 diamondCorner(const Diamond& record, int point);

// The corners record `index` (0-9) is rendered with.
DiamondCorners diamondCorners(int index);

// The point of diamond `index` at any (u, v) (diamondPoint on its planes).
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

// Where a direction meets the planes of diamond `index`, as its (u, v), which lie outside
// [0, 1] for a direction beyond the diamond's edges: the place of a border texel.
DiamondPoint locateInDiamond(int index, double x, double y, double z);
