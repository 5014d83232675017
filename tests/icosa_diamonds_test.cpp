// The diamond table and the rasteriser's geometry: known points of record 1, the split
// between the two triangles, edges shared between neighbours, and the bytes it touches.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "test_support.h"
#include "texture_job.h"

namespace {

using testing_support::LoadedSource;
using testing_support::ScratchDir;


// Texel (r, c) of record `index` (0-based) at face size n, as renderDiamondRecord sets it up.
Vector3 texelPoint(int index, std::uint32_t n, std::uint32_t r, std::uint32_t c)
{
    const Diamond& d = kIcosaDiamonds[index];
    return diamondTexelPoint(diamondCorner(d, 0), diamondCorner(d, 1), diamondCorner(d, 2), diamondCorner(d, index >= 5 ? 3 : 5),
                             n, n, r, c);
}

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
    const Diamond& d = kIcosaDiamonds[0];
    const Vector3 p0 = diamondCorner(d, 0), p1 = diamondCorner(d, 1), p2 = diamondCorner(d, 2), p3 = diamondCorner(d, 5);
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
    // Northern: the top row of record k runs along the left column of record k - 1;
    // southern: the top row of record k along the left column of record k + 1.
    for (int k = 0; k < kDiamondCount; ++k) {
        const int neighbour = k < 5 ? (k + 4) % 5 : 5 + (k - 5 + 1) % 5;
        for (std::uint32_t c = 0; c < 512; c += 7) {
            const Vector3 a = texelPoint(k, 512, 0, c);
            const Vector3 b = texelPoint(neighbour, 512, c, 0);
            EXPECT_EQ(a.x, b.x) << "record " << k + 1 << " column " << c;
            EXPECT_EQ(a.y, b.y) << "record " << k + 1 << " column " << c;
            EXPECT_EQ(a.z, b.z) << "record " << k + 1 << " column " << c;
        }
    }
}

TEST(DiamondTable, EveryPointIsOneOfTheTwelveVertices)
{
    const double ring = 44.721401;
    for (const Diamond& d : kIcosaDiamonds) {
        for (const auto& p : d.points) {
            const bool pole = p[0] == 0.0 && p[2] == 0.0 && std::fabs(p[1]) == 100.0;
            EXPECT_TRUE(pole || std::fabs(p[1]) == ring);
            EXPECT_FALSE(std::signbit(p[0]) && p[0] == 0.0);  // every zero is +0
            EXPECT_FALSE(std::signbit(p[2]) && p[2] == 0.0);
        }
    }
}

// Renders record `index` at face size n into a buffer with guard bytes on both sides.
std::vector<unsigned char> renderGuarded(int index, std::uint32_t n, std::size_t guard = 64)
{
    runState.rows = runState.columns = n;
    std::vector<unsigned char> buffer(guard + 3u * n * n + guard, 0xA5);
    renderDiamondRecord(kIcosaDiamonds[index], buffer.data() + guard, index >= 5 ? 1 : 0);
    return buffer;
}

TEST(RenderDiamond, WritesExactlyItsBlockAndRepeatsItself)
{
    ScratchDir dir;
    LoadedSource source(dir.writeBmp("map.bmp", testing_support::noisePicture(61, 31)), 64, false);
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
    LoadedSource source(dir.writeBmp("map.bmp", testing_support::noisePicture(97, 45)), 128, true);
    ASSERT_TRUE(source.ok());
    const std::uint32_t n = 128;
    std::vector<std::vector<unsigned char>> textures;
    for (int k = 0; k < kDiamondCount; ++k)
        textures.push_back(renderGuarded(k, n, 0));
    for (int k = 0; k < kDiamondCount; ++k) {
        const int neighbour = k < 5 ? (k + 4) % 5 : 5 + (k - 5 + 1) % 5;
        for (std::uint32_t c = 0; c < n; ++c)
            for (int byte = 0; byte < 3; ++byte)
                ASSERT_EQ(textures[k][3 * c + byte], textures[neighbour][3 * c * n + byte])
                    << "record " << k + 1 << " column " << c;
    }
}

}  // namespace
