// The diamond table and the rasteriser's geometry: known points of record 1, the split
// between the two triangles, edges shared between neighbours, and the bytes it touches.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <iterator>
#include <random>
#include <vector>

#include "diamond_renderer.h"
#include "test_support.h"
#include "texture_job.h"

namespace {

using testing_support::diamondBesideTopRow;
using testing_support::LoadedSource;
using testing_support::ScratchDir;
using testing_support::texelPoint;

double degrees(float radians) { return radians * 180.0 / 3.14159265358979323846; }

struct PointCase {
    const char* what;
    std::uint32_t r, c;
    double x, y, z;
};

TEST(DiamondRecord1, KnownPointsAtN512)
{
    const PointCase cases[] = {
        {"the pole", 0, 0, 0.0, 100.0, 0.0},
        {"midpoint of NP-U0 (top row)", 0, 256, 44.7214, 72.3607, 0.0},
        {"midpoint of NP-U72 (left column)", 256, 0, 13.8196, 72.3607, 42.5326},
        {"diagonal: midpoint of U0-U72", 256, 256, 58.5410, 44.7214, 42.5326},
        {"last texel, near the far corner", 511, 511, 72.3067, -44.3720, 52.5339},
    };
    for (const PointCase& c : cases) {
        const Vector3 q = texelPoint(0, 512, c.r, c.c);
        EXPECT_NEAR(q.x, c.x, 1e-3) << c.what;
        EXPECT_NEAR(q.y, c.y, 1e-3) << c.what;
        EXPECT_NEAR(q.z, c.z, 1e-3) << c.what;
    }
    const Vector3 diagonal = texelPoint(0, 512, 256, 256);
    float longitude = 0.0f;
    float latitude = 0.0f;
    directionToAngles(diagonal.x, diagonal.y, diagonal.z, longitude, latitude);
    EXPECT_NEAR(degrees(longitude), 36.0, 1e-3);
    EXPECT_NEAR(degrees(latitude), 31.7175, 1e-3);
}

TEST(DiamondTable, EveryTextureStartsAtItsPoleExactly)
{
    for (int k = 0; k < kDiamondCount; ++k) {
        const Vector3 q = texelPoint(k, 512, 0, 0);
        EXPECT_EQ(q.x, 0.0f) << "record " << k + 1;
        EXPECT_EQ(q.y, k < 5 ? 100.0f : -100.0f) << "record " << k + 1;
        EXPECT_EQ(q.z, 0.0f) << "record " << k + 1;
    }
}

TEST(DiamondRecord1, BottomRowSplitsAfterColumn1)
{
    // Row 511 of 512: c + r <= 512 is the pole triangle. Its point there is the pole plus
    // most of the P0->P2 edge; in the far triangle it is the far corner plus most of P3->P2.
    const DiamondCorners d = diamondCorners(0);
    const Vector3 p0 = d.p0, p1 = d.p1, p2 = d.p2, p3 = d.p3;
    const auto pole = [&](double u, double v) {
        return p0.y + u * (p1.y - p0.y) + v * (p2.y - p0.y);
    };
    const auto far = [&](double u, double v) {
        return p3.y + (1 - u) * (p2.y - p3.y) + (1 - v) * (p1.y - p3.y);
    };
    const double v = 511.0 / 512;
    for (std::uint32_t c = 0; c < 4; ++c) {
        const double u = c / 512.0;
        const double expected = c <= 1 ? pole(u, v) : far(u, v);
        EXPECT_NEAR(texelPoint(0, 512, 511, c).y, expected, 1e-4) << "column " << c;
    }
    // The two formulas differ off the diagonal, so a wrong split would show.
    EXPECT_GT(std::fabs(pole(2 / 512.0, v) - far(2 / 512.0, v)), 0.01);
}

TEST(DiamondTable, NeighboursShareTheirPoleEdgesBitForBit)
{
    // Every top row runs along another diamond's left column, and every left column is such
    // a row: the ten pole edges, each held by two diamonds.
    for (const std::uint32_t n : {2u, 7u, 512u}) {
        int leftColumnsTaken[kDiamondCount] = {};
        for (int k = 0; k < kDiamondCount; ++k) {
            const int beside = diamondBesideTopRow(k, n);
            ASSERT_GE(beside, 0) << "record " << k + 1 << " n " << n;
            EXPECT_EQ(isSouthernDiamond(beside), isSouthernDiamond(k)) << "record " << k + 1;
            ++leftColumnsTaken[beside];
        }
        for (int k = 0; k < kDiamondCount; ++k)
            EXPECT_EQ(leftColumnsTaken[k], 1) << "record " << k + 1 << " n " << n;
    }
}

TEST(DiamondTable, PointsAreTheVerticesOfOneIcosahedronLaidOutAsDiamonds)
{
    // Every point is one of twelve vertices, each about 100 from the centre with five
    // neighbours at one edge's length; each record is its pole, the edge its two triangles
    // share 72 degrees round the pole, and the far corner across that edge, stored in the
    // order of its half of the table.
    std::vector<std::array<double, 3>> vertices;
    for (const Diamond& record : kIcosaDiamonds)
        for (const auto& point : record.points)
            if (std::find(vertices.begin(), vertices.end(), std::array<double, 3>{point[0], point[1], point[2]}) ==
                vertices.end())
                vertices.push_back({point[0], point[1], point[2]});
    ASSERT_EQ(vertices.size(), 12u);
    const auto distance = [](const std::array<double, 3>& a, const std::array<double, 3>& b) {
        return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
    };
    const double edge = distance(vertices[0], vertices[1]);
    for (const auto& vertex : vertices) {
        EXPECT_NEAR(distance(vertex, {0, 0, 0}), 100.0, 1e-4);
        const auto neighbours = std::count_if(vertices.begin(), vertices.end(),
                                              [&](const auto& other) { return std::fabs(distance(vertex, other) - edge) < 1e-2; });
        EXPECT_EQ(neighbours, 5);
    }
    const auto same = [](const double* a, const double* b) { return std::memcmp(a, b, 3 * sizeof(double)) == 0; };
    for (int k = 0; k < kDiamondCount; ++k) {
        const auto& p = kIcosaDiamonds[k].points;
        const bool southern = isSouthernDiamond(k);
        EXPECT_EQ(p[0][1], southern ? -100.0 : 100.0) << "record " << k + 1 << ": the pole first";
        const double turn = std::atan2(p[2][2], p[2][0]) - std::atan2(p[1][2], p[1][0]);
        EXPECT_NEAR(std::remainder(turn * 180 / 3.141592653589793, 360.0), southern ? -72.0 : 72.0, 1e-3)
            << "record " << k + 1;
        const int far = farCornerPoint(southern);
        const int shared[2] = {southern ? 4 : 3, southern ? 5 : 4};  // points 2 and 1 again
        EXPECT_TRUE(same(p[shared[0]], p[2]) && same(p[shared[1]], p[1])) << "record " << k + 1;
        EXPECT_LT(p[far][1] * p[0][1], 0.0) << "record " << k + 1 << ": the far corner on the other ring";
        const std::array<double, 3> farCorner{p[far][0], p[far][1], p[far][2]};
        EXPECT_NEAR(distance(farCorner, {p[1][0], p[1][1], p[1][2]}), edge, 1e-2) << "record " << k + 1;
        EXPECT_NEAR(distance(farCorner, {p[2][0], p[2][1], p[2][2]}), edge, 1e-2) << "record " << k + 1;
    }
}

TEST(LocateDirection, EveryDirectionLandsInOneDiamondAndOnItsTexel)
{
    // A ray from the centre leaves the solid through exactly one triangle; the lookup must
    // name its diamond, and the texel there must sample a point within a texel's step.
    constexpr std::uint32_t n = 256;
    std::mt19937 random(7);
    std::normal_distribution<double> gaussian;
    for (int i = 0; i < 20000; ++i) {
        const double x = gaussian(random), y = gaussian(random), z = gaussian(random);
        int containing = -1, count = 0;
        for (int k = 0; k < kDiamondCount; ++k) {
            const DiamondCorners d = diamondCorners(k);
            for (const bool far : {false, true}) {
                // Solve t·(x, y, z) = corner + a·e1 + b·e2 by Cramer's rule.
                const Vector3 o = far ? d.p3 : d.p0;
                const Vector3 e1 = far ? difference(d.p2, d.p3) : difference(d.p1, d.p0);
                const Vector3 e2 = far ? difference(d.p1, d.p3) : difference(d.p2, d.p0);
                const auto det = [](double a1, double a2, double a3, double b1, double b2, double b3,
                                    double c1, double c2, double c3) {
                    return a1 * (b2 * c3 - b3 * c2) - b1 * (a2 * c3 - a3 * c2) + c1 * (a2 * b3 - a3 * b2);
                };
                const double all = det(e1.x, e1.y, e1.z, e2.x, e2.y, e2.z, -x, -y, -z);
                const double a = det(-o.x, -o.y, -o.z, e2.x, e2.y, e2.z, -x, -y, -z) / all;
                const double b = det(e1.x, e1.y, e1.z, -o.x, -o.y, -o.z, -x, -y, -z) / all;
                const double t = det(e1.x, e1.y, e1.z, e2.x, e2.y, e2.z, -o.x, -o.y, -o.z) / all;
                if (t > 0 && a >= 0 && b >= 0 && a + b <= 1) {
                    containing = k;
                    ++count;
                }
            }
        }
        ASSERT_EQ(count, 1) << "direction " << x << ", " << y << ", " << z;
        const DiamondPoint found = locateDirection(x, y, z);
        ASSERT_EQ(found.diamond, containing) << "direction " << x << ", " << y << ", " << z;

        const auto r = std::min(static_cast<std::uint32_t>(found.v * n), n - 1);
        const auto c = std::min(static_cast<std::uint32_t>(found.u * n), n - 1);
        const Vector3 q = texelPoint(found.diamond, n, r, c);
        const DiamondPoint back = locateDirection(q.x, q.y, q.z);
        if (back.diamond == found.diamond) {
            EXPECT_LE(std::fabs(back.u * n - found.u * n), 1.0);
            EXPECT_LE(std::fabs(back.v * n - found.v * n), 1.0);
        } else {  // a texel on a pole edge, which the neighbour holds too
            EXPECT_TRUE(r == 0 || c == 0) << "texel " << r << ", " << c << " of record " << found.diamond + 1;
        }
    }
}

TEST(LocateDirection, EveryTexelsPointMapsBackToThatTexel)
{
    for (const std::uint32_t n : {1u, 7u, 64u}) {
        for (int k = 0; k < kDiamondCount; ++k) {
            for (std::uint32_t r = 0; r < n; ++r) {
                for (std::uint32_t c = 0; c < n; ++c) {
                    const Vector3 q = texelPoint(k, n, r, c);
                    const DiamondPoint back = locateDirection(q.x, q.y, q.z);
                    const auto row = static_cast<std::uint32_t>(std::lround(back.v * n));
                    const auto column = static_cast<std::uint32_t>(std::lround(back.u * n));
                    if (back.diamond == k) {
                        EXPECT_EQ(row, r) << "n " << n << " record " << k + 1 << " texel " << r << ", " << c;
                        EXPECT_EQ(column, c) << "n " << n << " record " << k + 1 << " texel " << r << ", " << c;
                        continue;
                    }
                    // The poles and the pole edges are shared: there the neighbour has the
                    // same point at its own texel.
                    const Vector3 there = texelPoint(back.diamond, n, row, column);
                    EXPECT_TRUE(r == 0 || c == 0) << "n " << n << " record " << k + 1 << " texel " << r << ", " << c;
                    EXPECT_EQ(std::memcmp(&there, &q, sizeof q), 0)
                        << "n " << n << " record " << k + 1 << " texel " << r << ", " << c;
                }
            }
        }
    }
}

// Renders record `index` at face size n into a buffer with guard bytes on both sides.
std::vector<unsigned char> renderGuarded(int index, std::uint32_t n, std::size_t guard = 64)
{
    runState.rows = runState.columns = n;
    std::vector<unsigned char> buffer(guard + 3u * n * n + guard, 0xA5);
    renderDiamondRecord(kIcosaDiamonds[index], buffer.data() + guard, isSouthernDiamond(index) ? 1 : 0);
    return buffer;
}

TEST(RenderDiamond, WritesExactlyItsBlockAndRepeatsItself)
{
    ScratchDir dir;
    LoadedSource source(dir.writeBmp("map.bmp", testing_support::noisePicture(61, 31)), 64, TextureFilter::Nearest);
    ASSERT_TRUE(source.ok());
    for (const std::uint32_t n : {0u, 1u, 3u, 64u}) {
        const std::vector<unsigned char> first = renderGuarded(5, n);
        for (std::size_t i = 0; i < 64; ++i) {
            ASSERT_EQ(first[i], 0xA5) << "before the block, n = " << n;
            ASSERT_EQ(first[first.size() - 1 - i], 0xA5) << "after the block, n = " << n;
        }
        EXPECT_EQ(renderGuarded(5, n), first) << "n = " << n;
    }
    // Zero columns with rows left: nothing is written either.
    runState.rows = 8;
    runState.columns = 0;
    unsigned char untouched[4] = {1, 2, 3, 4};
    renderDiamondRecord(kIcosaDiamonds[0], untouched, 0);
    EXPECT_EQ(untouched[0], 1);
    EXPECT_EQ(untouched[3], 4);
}

TEST(RenderDiamond, NeighboursShareTheirEdgeColours)
{
    ScratchDir dir;
    LoadedSource source(dir.writeBmp("map.bmp", testing_support::noisePicture(97, 45)), 128, TextureFilter::Bilinear);
    ASSERT_TRUE(source.ok());
    const std::uint32_t n = 128;
    std::vector<std::vector<unsigned char>> textures;
    for (int k = 0; k < kDiamondCount; ++k)
        textures.push_back(renderGuarded(k, n, 0));
    for (int k = 0; k < kDiamondCount; ++k) {
        const int neighbour = diamondBesideTopRow(k, n);
        for (std::uint32_t c = 0; c < n; ++c)
            for (int byte = 0; byte < 3; ++byte)
                ASSERT_EQ(textures[k][3 * c + byte], textures[neighbour][3 * c * n + byte])
                    << "record " << k + 1 << " column " << c;
    }
}

}  // namespace
