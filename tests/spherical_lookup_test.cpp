// Angles at the axes and the seam, and the two samplers at the edges of the map.
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>
#include <random>

#include "test_support.h"
#include "vector_math.h"
#include "texture_job.h"

namespace {

using testing_support::LoadedSource;
using testing_support::Picture;
using testing_support::ScratchDir;

// atan2(+0, -1) in float: the expected longitude of the seam.
constexpr float kPi = 3.1415927f;

struct AngleCase {
    const char* what;
    float x, y, z;
    float longitude, latitude;
};

TEST(DirectionToAngles, AxesSeamAndPolesGiveExactFloats)
{
    const AngleCase cases[] = {
        {"centre", 0.0f, 0.0f, 0.0f, 0.0f, 0.0f},
        {"north pole", 0.0f, 7.0f, 0.0f, 0.0f, kHalfPi},
        {"south pole", 0.0f, -7.0f, 0.0f, 0.0f, -kHalfPi},
        {"negative zeros on the axis", -0.0f, 7.0f, -0.0f, 0.0f, kHalfPi},
        {"+x", 1.0f, 0.0f, 0.0f, 0.0f, 0.0f},
        {"+z", 0.0f, 0.0f, 1.0f, kHalfPi, 0.0f},
        {"-z", 0.0f, 0.0f, -1.0f, -kHalfPi, 0.0f},
        {"-x with +0 z is +pi", -1.0f, 0.0f, 0.0f, kPi, 0.0f},
        {"-x with -0 z is -pi", -1.0f, 0.0f, -0.0f, -kPi, 0.0f},
        {"45 degrees up", 1.0f, 1.0f, 0.0f, 0.0f, 0.7853982f},
        {"length plays no part", 100.0f, 100.0f, 0.0f, 0.0f, 0.7853982f},
    };
    for (const AngleCase& c : cases) {
        float longitude = 99.0f;
        float latitude = 99.0f;
        directionToAngles(c.x, c.y, c.z, longitude, latitude);
        EXPECT_EQ(longitude, c.longitude) << c.what;
        EXPECT_EQ(latitude, c.latitude) << c.what;
        EXPECT_EQ(std::signbit(longitude), std::signbit(c.longitude)) << c.what;
    }
}

// A picture whose pixels name their own position: red = column & 255, green = column >> 8,
// blue = row.
Picture positionPicture(std::uint32_t width, std::uint32_t height)
{
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.rgb.resize(static_cast<std::size_t>(width) * height);
    for (std::uint32_t row = 0; row < height; ++row)
        for (std::uint32_t column = 0; column < width; ++column)
            picture.at(column, row) = ((column & 0xFFu) << 16) | ((column >> 8) << 8) | row;
    return picture;
}

std::uint32_t columnOf(Texel texel) { return (texel & 0xFFu) | (((texel >> 8) & 0xFFu) << 8); }
std::uint32_t rowOf(Texel texel) { return (texel >> 16) & 0xFFu; }

struct NearestCase {
    const char* what;
    std::uint32_t width, height;
    float longitude, latitude;
    std::uint32_t column, row;
};

TEST(SampleNearest, ReadsTheTruncatedPixelAtTheMapEdges)
{
    const NearestCase cases[] = {
        {"centre", 4096, 4, 0.0f, 0.0f, 2048, 2},
        {"+pi is the left edge", 4096, 4, kPi, 0.0f, 0, 2},
        {"-pi is the last column", 4096, 4, -kPi, 0.0f, 4095, 2},
        {"+z axis", 4096, 4, kHalfPi, 0.0f, 1024, 2},
        {"-z axis stays short of 3072", 4096, 4, -kHalfPi, 0.0f, 3071, 2},
        {"odd width never reads its last column", 4097, 4, -kPi, 0.0f, 4095, 2},
        {"north pole is the top row", 4096, 4, 0.0f, kHalfPi, 2048, 0},
        {"south pole is the bottom row", 4096, 4, 0.0f, -kHalfPi, 2048, 3},
        {"odd height never reads its last row", 6, 5, 0.0f, -kHalfPi, 3, 3},
        {"1 x 1", 1, 1, -kPi, -kHalfPi, 0, 0},
    };
    ScratchDir dir;
    for (const NearestCase& c : cases) {
        const std::string path = dir.writeBmp("map.bmp", positionPicture(c.width, c.height));
        LoadedSource source(path, 64, TextureFilter::Nearest);
        ASSERT_TRUE(source.ok()) << c.what;
        Texel texel = 0xFFFFFFFF;
        sampleNearest(c.longitude, c.latitude, texel);
        EXPECT_EQ(columnOf(texel), c.column) << c.what;
        EXPECT_EQ(rowOf(texel), c.row) << c.what;
    }
}

// Angles whose bilinear picture coordinates in an 8 × 4 map are exactly px and py; the
// map's centre is (4, 2), so small offsets from it survive the rounding to float.
float longitudeFor(double px)
{
    const auto longitude = static_cast<float>((4.0 - px) / (4.0 * kInvPi));
    EXPECT_EQ(static_cast<float>(pictureColumn(pictureScales(8, 4), longitude)), static_cast<float>(px));
    return longitude;
}
float latitudeFor(double py)
{
    const auto latitude = static_cast<float>((2.0 - py) / (2.0 * kTwoOverPi));
    EXPECT_EQ(static_cast<float>(pictureRow(pictureScales(8, 4), latitude)), static_cast<float>(py));
    return latitude;
}

struct BilinearCase {
    const char* what;
    std::uint32_t c00, c10, c01, c11;  // 0x00RRGGBB at (4,2), (5,2), (4,3), (5,3)
    double px, py;
    Texel expected;                     // 0x00BBGGRR
};

TEST(SampleBilinear, WeighsTheFourCornersAndTruncates)
{
    const BilinearCase cases[] = {
        {"weights", 0x000000, 0x000000, 0x000000, 0xC80000, 4.25, 2.5, 25},
        {"truncation, never rounding", 0x0A0000, 0x0B0000, 0, 0, 4.5, 2.0, 10},
        {"channels stay apart", 0x102030, 0x102030, 0x102030, 0x102030, 4.75, 2.25, 0x302010},
        {"on a pixel only that pixel counts", 0x123456, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 4.0, 2.0,
         0x563412},
    };
    ScratchDir dir;
    for (const BilinearCase& c : cases) {
        Picture picture = testing_support::noisePicture(8, 4);
        picture.at(4, 2) = c.c00;
        picture.at(5, 2) = c.c10;
        picture.at(4, 3) = c.c01;
        picture.at(5, 3) = c.c11;
        LoadedSource source(dir.writeBmp("map.bmp", picture), 64, TextureFilter::Bilinear);
        ASSERT_TRUE(source.ok());
        Texel texel = 0;
        sampleBilinear(longitudeFor(c.px), latitudeFor(c.py), texel);
        EXPECT_EQ(texel, c.expected) << c.what;
    }
}

TEST(SampleBilinear, WrapsColumnsAndStopsAtTheLastRow)
{
    ScratchDir dir;
    Picture picture = testing_support::noisePicture(8, 4, 7);
    const std::string path = dir.writeBmp("map.bmp", picture);
    LoadedSource source(path, 64, TextureFilter::Bilinear);
    ASSERT_TRUE(source.ok());
    const auto texelOf = [&](std::uint32_t column, std::uint32_t row) {
        const std::uint32_t rgb = picture.at(column, row);
        return ((rgb >> 16) & 0xFFu) | (rgb & 0xFF00u) | ((rgb & 0xFFu) << 16);
    };

    // -pi with an even width: px is exactly 8, which wraps to column 0 with fx = 0.
    Texel texel = 0;
    sampleBilinear(-kPi, 0.0f, texel);
    EXPECT_EQ(texel, texelOf(0, 2));

    // Rows do not wrap: the south pole with an even height (py exactly 4) is the bottom
    // row, and so is everything between the bottom row and the pole.
    sampleBilinear(0.0f, -kHalfPi, texel);
    EXPECT_EQ(texel, texelOf(4, 3));
    sampleBilinear(0.0f, latitudeFor(3.5), texel);
    EXPECT_EQ(texel, texelOf(4, 3));

    // Halfway between the last column and column 0.
    picture.at(7, 2) = 0x000000;
    picture.at(0, 2) = 0x640000;  // red 100
    LoadedSource edge(dir.writeBmp("edge.bmp", picture), 64, TextureFilter::Bilinear);
    sampleBilinear(longitudeFor(7.5), 0.0f, texel);
    EXPECT_EQ(texel & 0xFFu, 50u);

    // A 1 x 1 picture reads its one pixel four times.
    Picture single;
    single.width = single.height = 1;
    single.rgb = {0xABCDEF};
    LoadedSource one(dir.writeBmp("one.bmp", single), 64, TextureFilter::Bilinear);
    sampleBilinear(1.0f, -0.5f, texel);
    EXPECT_EQ(texel, 0xEFCDABu);
}

TEST(Samplers, FailedReadsGiveBlackWithoutStopping)
{
    ScratchDir dir;
    Picture picture;
    picture.width = 2;
    picture.height = 2;
    picture.rgb = {0xC8C8C8, 0xC8C8C8, 0xC8C8C8, 0xC8C8C8};
    LoadedSource source(dir.writeBmp("grey.bmp", picture), 64, TextureFilter::Nearest);
    ASSERT_TRUE(source.ok());

    // An angle no point gives lands outside the picture: the whole texel is black.
    Texel texel = 1;
    sampleNearest(10.0f, 0.0f, texel);
    EXPECT_EQ(texel, 0u);

    // A picture that claims to be wider than it is: only the corner that falls outside
    // reads black, the others still count: px = 1.5 in a "4 wide" picture of 2 columns
    // blends column 1 with the missing column 2.
    runState.source = sourceImageOf(runState.source.image, 4, 2, TextureFilter::Nearest);
    sampleBilinear(static_cast<float>((2.0 - 1.5) / (2.0 * kInvPi)), 0.0f, texel);
    EXPECT_EQ(texel & 0xFFu, 100u);  // (1 - 0.5) · 200 + 0.5 · black

    // No size at all: neither sampler divides by zero or loops.
    runState.source = sourceImageOf(runState.source.image, 0, 0, TextureFilter::Nearest);
    sampleNearest(0.0f, 0.0f, texel);
    EXPECT_EQ(texel, 0u);
    sampleBilinear(0.0f, 0.0f, texel);
    EXPECT_EQ(texel, 0u);
}

}  // namespace

namespace {

// The vector kernels' own atan2, run on plain doubles (the same operations as on every
// lane), against long double: within its bound of 5e-15, relatively, everywhere.
TEST(VectorAtan2, StaysWithinItsBound)
{
    std::vector<std::pair<double, double>> points = {
        {0, 1}, {1, 0}, {0, -1}, {-1, 0}, {1, 1}, {-1, -1}, {1e-300, 1}, {1, 1e-300}, {3, 1e-12},
        {0.41421356237309503, 1}, {0.41421356237309509, 1}, {1, 0.41421356237309503}, {-2.5, 7},
        {1e300, -1e-300}, {44.721401, 58.541}, {-100, 0.5},
    };
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> scale(-30, 30);
    std::uniform_real_distribution<double> unit(-1, 1);
    for (int i = 0; i < 2000000; ++i)
        points.emplace_back(unit(random) * std::exp2(scale(random)), unit(random) * std::exp2(scale(random)));
    double worst = 0;
    for (const auto& [y, x] : points) {
        const long double exact = std::atan2(static_cast<long double>(y), static_cast<long double>(x));
        const double got = arcTangent2(y, x);
        const double error = exact == 0 ? std::fabs(got) : static_cast<double>(std::fabs((got - exact) / exact));
        worst = std::max(worst, error);
        ASSERT_LE(error, 5e-15) << "atan2(" << y << ", " << x << ")";
    }
    std::printf("largest relative error %.3g\n", worst);
}

}  // namespace
