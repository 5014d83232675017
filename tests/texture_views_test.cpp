// The checking pictures against what they must show: globes north up and east right at
// every centre (the poles and the date line too), a map back from the textures that equals
// the original, a net without seams between its rhombi, and pictures written as read.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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
std::string texturesOf(const ScratchDir& dir, const Picture& map, int faceSize, TextureFilter filter, const std::string& folder,
                       const TextureOutput& output = {})
{
    testing_support::SinkCalls calls;
    EXPECT_EQ(testing_support::runIntoMemory(dir.writeBmp(folder + ".bmp", map), faceSize, filter, calls, output), 1);
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
    SamplePicture map;
    ASSERT_EQ(renderMapFromTextures(textures.c_str(), smooth.width, TextureRead::Bilinear, map), 1);
    ASSERT_EQ(map.width, smooth.width);
    ASSERT_EQ(map.height, smooth.height);
    std::vector<std::uint8_t> original;
    for (const std::uint32_t rgb : smooth.rgb)
        original.insert(original.end(), {static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
                                         static_cast<std::uint8_t>(rgb)});
    EXPECT_GE(psnr(original, map.samples), 40.0);

    // Textures with border rings give the same map: the rings are left aside.
    TextureOutput ringed;
    ringed.border = 3;
    SamplePicture ringedMap;
    ASSERT_EQ(renderMapFromTextures(texturesOf(dir, smooth, 256, TextureFilter::Bilinear, "ringed", ringed).c_str(),
                                    smooth.width, TextureRead::Bilinear, ringedMap),
              1);
    EXPECT_TRUE(ringedMap.samples == map.samples);

    // The same picture through TGA and back, bit for bit.
    const std::string tga = dir.file("back.tga");
    ASSERT_EQ(writeSamplePicture(tga.c_str(), map), 1);
    SamplePicture read;
    ASSERT_TRUE(readTgaFile(tga.c_str(), read));
    EXPECT_TRUE(read.width == map.width && read.height == map.height && read.samples == map.samples);
}

TEST(Net, RhombiMeetWithoutSeams)
{
    ScratchDir dir;
    const std::string textures = texturesOf(dir, placeMap(512), 128, TextureFilter::Bilinear, "place");
    RgbPicture net;
    ASSERT_EQ(renderNetOfTextures(textures.c_str(), ViewStyle{}, net), 1);
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

// Layers that line up: a bright blob, placed off the pixel grid, as nearest and area put
// it in the textures, and as the map they give back at other widths. Area reads the map
// the way nearest does (each pixel the cell nearest reads it in), so the two agree within a
// hundredth of a pixel; bilinear, which puts a pixel's value at the cell's corner, half a
// pixel away.
Picture blobMap(std::uint32_t width, double column, double row, double sigma)
{
    Picture picture = testing_support::noisePicture(width, width / 2);
    for (std::uint32_t r = 0; r < picture.height; ++r)
        for (std::uint32_t c = 0; c < width; ++c) {
            // The pixel's value is the blob's at its centre.
            const double distance = std::hypot(c + 0.5 - column, r + 0.5 - row);
            const auto level = static_cast<std::uint32_t>(20 + 220 * std::exp(-distance * distance / (2 * sigma * sigma)));
            picture.at(c, r) = level * 0x010101u;
        }
    return picture;
}

// The blob's centroid above its background, in pixels (or texels) of a picture of 3 bytes
// a pixel.
std::array<double, 2> centroid(const std::uint8_t* rgb, std::size_t width, std::size_t height, std::size_t stride = 3)
{
    double sum = 0, x = 0, y = 0;
    for (std::size_t r = 0; r < height; ++r)
        for (std::size_t c = 0; c < width; ++c) {
            const double weight = std::max(0.0, rgb[stride * (r * width + c)] - 40.0);
            sum += weight;
            x += weight * (static_cast<double>(c) + 0.5);
            y += weight * (static_cast<double>(r) + 0.5);
        }
    return {x / sum, y / sum};
}

TEST(Layers, NearestAndAreaLineUpAndTheMapComesBackInPlace)
{
    ScratchDir dir;
    // The blob at 30.3° E, 20.7° N of a 512 × 256 map, well inside one diamond.
    const double column = 256 + 30.3 * 256 / 180, row = 128 - 20.7 * 128 / 90;
    const Picture map = blobMap(512, column, row, 4);
    const std::uint32_t n = 128;
    std::array<double, 2> at[3];
    const TextureFilter filters[3] = {TextureFilter::Nearest, TextureFilter::Area, TextureFilter::Bilinear};
    // The blob's diamond: the texture that holds most of it.
    const auto brightness = [](const std::vector<unsigned char>& texture) {
        double sum = 0;
        for (std::size_t i = kTgaHeaderSize; i < texture.size(); i += 3)
            sum += std::max(0, texture[i] - 40);
        return sum;
    };
    for (int f = 0; f < 3; ++f) {
        testing_support::SinkCalls calls;
        ASSERT_EQ(testing_support::runIntoMemory(dir.writeBmp("blob.bmp", map), n, filters[f], calls), 1);
        const auto brightest = std::max_element(calls.images.begin(), calls.images.end(),
                                                [&](const auto& a, const auto& b) { return brightness(a) < brightness(b); });
        at[f] = centroid(brightest->data() + kTgaHeaderSize, n, n);
    }
    // A texel there is about a 63.4° edge's N-th part of the map's 360° in 512 pixels.
    const double pixelsPerTexel = 63.43 / n * 512 / 360;
    const double areaShift = std::hypot(at[1][0] - at[0][0], at[1][1] - at[0][1]) * pixelsPerTexel;
    const double bilinearShift = std::hypot(at[2][0] - at[0][0], at[2][1] - at[0][1]) * pixelsPerTexel;
    EXPECT_LT(areaShift, 0.02) << "area against nearest, in map pixels";
    EXPECT_GT(bilinearShift, 0.3) << "bilinear against nearest, in map pixels";

    // Back to a map at other widths: the blob where it was, within a hundredth of a pixel
    // of the map made (blobs of 4 pixels at 512 wide, wider at other widths).
    const std::string textures = texturesOf(dir, blobMap(512, column, row, 8), 256, TextureFilter::Area, "blob");
    for (const std::uint32_t width : {512u, 360u, 1000u}) {
        SamplePicture back;
        ASSERT_EQ(renderMapFromTextures(textures.c_str(), width, TextureRead::Bilinear, back), 1);
        const double scale = width / 512.0;
        const std::array<double, 2> found = centroid(back.samples.data(), back.width, back.height);
        EXPECT_NEAR(found[0], column * scale, 0.02 * std::max(1.0, scale)) << "width " << width;
        EXPECT_NEAR(found[1], row * scale, 0.02 * std::max(1.0, scale)) << "width " << width;
    }
}

}  // namespace
