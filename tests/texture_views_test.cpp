// The checking pictures against what they must show: globes north up and east right at
// every centre (the poles and the date line too), a map back from the textures that equals
// the original, a net without seams between its rhombi, and pictures written as read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"
#include "texture_set.h"
#include "texture_views.h"

namespace {

using testing_support::Picture;
using testing_support::ScratchDir;

// A map whose pixels name their own place: red and blue the cosine and the sine of the
// longitude, green the latitude (0 at the north pole, 250 at the south pole).
Picture placeMap(std::uint32_t width)
{
    Picture picture = testing_support::noisePicture(width, width / 2);
    for (std::uint32_t row = 0; row < picture.height; ++row)
        for (std::uint32_t column = 0; column < width; ++column) {
            const double longitude = (column + 0.5) * 6.283185307179586 / width - 3.141592653589793;
            picture.at(column, row) = static_cast<std::uint32_t>(128 + 120 * std::cos(longitude)) << 16 |
                                      (250 * row / picture.height) << 8 |
                                      static_cast<std::uint32_t>(128 + 120 * std::sin(longitude));
        }
    return picture;
}

double longitudeAt(const std::uint8_t* rgb) { return std::atan2(rgb[2] - 128.0, rgb[0] - 128.0) * 180 / 3.141592653589793; }

// The ten textures of `map` in a folder of `dir`.
std::string texturesOf(const ScratchDir& dir, const Picture& map, int faceSize, TextureFilter filter, const std::string& folder)
{
    testing_support::SinkCalls calls;
    EXPECT_EQ(testing_support::runIntoMemory(dir.writeBmp(folder + ".bmp", map), faceSize, filter, calls), 1);
    std::filesystem::create_directory(dir.file(folder));
    for (std::size_t i = 0; i < calls.names.size(); ++i)
        dir.write(folder + "/" + calls.names[i], calls.images[i]);
    return dir.file(folder);
}

double psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    double squares = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        squares += (a[i] - b[i]) * (a[i] - b[i]);
    return 10 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / std::max(squares, 1e-9));
}

TEST(Globe, ShowsTheCentreNorthUpAndEastRight)
{
    ScratchDir dir;
    const std::string textures = texturesOf(dir, placeMap(720), 128, TextureFilter::Bilinear, "place");
    const struct {
        GeoPoint centre;
        double belowLongitude;  // the longitude straight below the centre, at a pole
    } cases[] = {
        {{0, 0}, 0}, {{90, 20}, 0}, {{-135, -40}, 0}, {{180, 0}, 0}, {{-180, 10}, 0},
        {{30, 90}, 30},      // the centre's meridian runs down from the north pole
        {{-60, -90}, -60 + 180},  // and up from the south pole, so the opposite one runs down
    };
    for (const auto& c : cases) {
        RgbPicture globe;
        ASSERT_EQ(renderGlobesOfTextures(textures.c_str(), 65, {c.centre}, globe), 1);
        const auto at = [&](std::uint32_t column, std::uint32_t row, int channel) {
            return globe.rgb[3 * (row * globe.width + column) + channel];
        };
        const auto longitudeOf = [&](std::uint32_t column, std::uint32_t row) {
            return longitudeAt(&globe.rgb[3 * (row * globe.width + column)]);
        };
        const auto latitudeOf = [](int green) { return 90 - green * 180.0 / 250; };
        const auto sameLongitude = [](double a, double b) { return std::fabs(std::remainder(a - b, 360.0)) < 4; };
        const std::string what = std::to_string(c.centre.longitude) + "," + std::to_string(c.centre.latitude);
        EXPECT_NEAR(latitudeOf(at(32, 32, 1)), c.centre.latitude, 2) << what;
        if (std::fabs(c.centre.latitude) < 80) {
            EXPECT_TRUE(sameLongitude(longitudeOf(32, 32), c.centre.longitude)) << what;
            EXPECT_GT(latitudeOf(at(32, 20, 1)), latitudeOf(at(32, 44, 1))) << what << ": north up";
            const double east = std::remainder(longitudeOf(44, 32) - longitudeOf(32, 32), 360.0);
            EXPECT_TRUE(east > 10 && east < 40) << what << ": east right, " << east;
        } else {
            EXPECT_TRUE(sameLongitude(longitudeOf(32, 50), c.belowLongitude)) << what;
        }
        EXPECT_EQ(at(0, 0, 0) | at(0, 0, 1) | at(64, 64, 2), 0) << what << ": black round the disc";
        EXPECT_NE(at(32, 0, 0) + at(32, 0, 1) + at(32, 0, 2), 0) << what << ": the disc reaches the top edge";
    }
}

TEST(MapFromTextures, GivesBackASmoothMap)
{
    // Colours that change smoothly everywhere on the sphere, the poles and the date line
    // included, through textures and back.
    Picture smooth = testing_support::noisePicture(512, 256);
    for (std::uint32_t row = 0; row < smooth.height; ++row)
        for (std::uint32_t column = 0; column < smooth.width; ++column) {
            const double longitude = column * 6.283185307179586 / smooth.width, latitude = row * 3.14159 / smooth.height;
            const auto wave = [](double value) { return static_cast<std::uint32_t>(127.5 + 100 * value); };
            smooth.at(column, row) = wave(std::sin(latitude) * std::cos(longitude)) << 16 |
                                     wave(std::cos(latitude)) << 8 | wave(std::sin(latitude) * std::sin(longitude));
        }
    ScratchDir dir;
    const std::string textures = texturesOf(dir, smooth, 256, TextureFilter::Bilinear, "smooth");
    RgbPicture map;
    ASSERT_EQ(renderMapFromTextures(textures.c_str(), smooth.width, TextureRead::Bilinear, map), 1);
    ASSERT_EQ(map.width, smooth.width);
    ASSERT_EQ(map.height, smooth.height);
    std::vector<std::uint8_t> original;
    for (const std::uint32_t rgb : smooth.rgb)
        original.insert(original.end(), {static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
                                         static_cast<std::uint8_t>(rgb)});
    EXPECT_GE(psnr(original, map.rgb), 40.0);

    // The same picture through TGA and back, bit for bit.
    const std::string tga = dir.file("back.tga");
    ASSERT_EQ(writePictureFile(tga.c_str(), map), 1);
    RgbPicture read;
    ASSERT_TRUE(readTgaFile(tga.c_str(), read));
    EXPECT_TRUE(read.width == map.width && read.height == map.height && read.rgb == map.rgb);
}

TEST(Net, RhombiMeetWithoutSeams)
{
    ScratchDir dir;
    const std::string textures = texturesOf(dir, placeMap(512), 128, TextureFilter::Bilinear, "place");
    RgbPicture net;
    ASSERT_EQ(renderNetOfTextures(textures.c_str(), false, net), 1);
    // Across the middle of the net every rhombus meets the next one: along a row there,
    // neighbouring pixels differ little, and none is background.
    const std::uint32_t row = net.height / 2;
    const double margin = 128 / 8.0;
    int jumps = 0;
    for (std::uint32_t column = static_cast<std::uint32_t>(margin + 128 * 0.25) + 1;
         column + 1 < static_cast<std::uint32_t>(margin + 128 * 5.25); ++column) {
        const std::uint8_t* a = &net.rgb[3 * (row * net.width + column)];
        EXPECT_FALSE(a[0] == 32 && a[1] == 32 && a[2] == 32) << "background at column " << column;
        jumps += std::abs(a[0] - a[3]) > 3 || std::abs(a[1] - a[4]) > 3 || std::abs(a[2] - a[5]) > 3;
    }
    EXPECT_EQ(jumps, 0);
}

}  // namespace
