// The texture job end to end: the images it hands out, their header and size, the sink's
// power to stop it, refused pictures, repeated runs and one golden run.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "diamond_renderer.h"
#include "icosa_diamonds.h"
#include "test_support.h"
#include "texture_job.h"

namespace {

using testing_support::CapturedErrors;
using testing_support::runIntoMemory;
using testing_support::SampleMap;
using testing_support::ScratchDir;
using testing_support::SinkCalls;

TEST(TgaHeader, BytesForN1024)
{
    unsigned char header[kTgaHeaderSize];
    writeTgaHeader(header, 1024, 1024);
    const unsigned char expected[kTgaHeaderSize] = {0, 0, 2, 0, 0, 0, 0, 0, 0,
                                                    0, 0, 0, 0, 4, 0, 4, 0x18, 0x20};
    EXPECT_EQ(std::vector<unsigned char>(header, header + kTgaHeaderSize),
              std::vector<unsigned char>(expected, expected + kTgaHeaderSize));
}

TEST(TextureJob, HandsOutTenWholeImagesInOrderForEveryDialogSize)
{
    ScratchDir dir;
    const std::string map = dir.writeBmp("map.bmp", testing_support::noisePicture(33, 17));
    const struct {
        int faceSize;
        int bytes;
    } sizes[] = {{512, 786450}, {1024, 3145746}, {2048, 12582930}};
    for (const auto& size : sizes) {
        SinkCalls calls;
        ASSERT_EQ(runIntoMemory(map, size.faceSize, TextureFilter::Nearest, calls), 1);
        ASSERT_EQ(calls.names.size(), 10u);
        for (int k = 0; k < 10; ++k) {
            EXPECT_EQ(calls.names[k], "new" + std::to_string(k + 1) + ".tga");
            ASSERT_EQ(static_cast<int>(calls.images[k].size()), size.bytes);
            unsigned char header[kTgaHeaderSize];
            writeTgaHeader(header, static_cast<std::uint32_t>(size.faceSize), static_cast<std::uint32_t>(size.faceSize));
            EXPECT_TRUE(std::equal(header, header + kTgaHeaderSize, calls.images[k].begin()));
        }
    }
}

TEST(TextureJob, ASinkThatRefusesStopsTheRun)
{
    ScratchDir dir;
    const std::string map = dir.writeBmp("map.bmp", testing_support::noisePicture(9, 4));
    SinkCalls calls;
    calls.refuseCall = 3;
    EXPECT_EQ(runIntoMemory(map, 64, TextureFilter::Bilinear, calls), 0);
    EXPECT_EQ(calls.names, (std::vector<std::string>{"new1.tga", "new2.tga", "new3.tga"}));
}

TEST(TextureJob, RefusesWhatIsNotAPicture)
{
    ScratchDir dir;
    const std::vector<unsigned char> bmp = testing_support::encodeBmp(testing_support::noisePicture(40, 20));
    const struct {
        const char* what;
        std::string path;
        const char* message;
    } cases[] = {
        {"text named .png", dir.write("notes.png", {'h', 'e', 'l', 'l', 'o', '\n'}),
         messages::kCouldntOpenImage},
        {"empty file", dir.write("empty.bmp", {}), messages::kCouldntOpenImage},
        {"truncated picture", dir.write("cut.bmp", {bmp.begin(), bmp.begin() + 100}),
         messages::kCouldntOpenImage},
        {"missing file", dir.file("missing.jpg"), messages::kCouldntOpenImage},
        {"a folder", dir.path(), messages::kCouldntOpenImage},
    };
    for (const auto& c : cases) {
        CapturedErrors errors;
        SinkCalls calls;
        EXPECT_EQ(runIntoMemory(c.path, 64, TextureFilter::Nearest, calls), 0) << c.what;
        EXPECT_TRUE(calls.names.empty()) << c.what;
        EXPECT_EQ(errors.messages(), std::vector<std::string>{c.message}) << c.what;
    }
}

TEST(TextureJob, RefusesAFaceSizeItCannotMake)
{
    ScratchDir dir;
    const std::string map = dir.writeBmp("map.bmp", testing_support::noisePicture(4, 2));
    for (const int faceSize : {0, -512, kMaxFaceSize + 1}) {
        CapturedErrors errors;
        SinkCalls calls;
        EXPECT_EQ(runIntoMemory(map, faceSize, TextureFilter::Nearest, calls), 0);
        EXPECT_TRUE(calls.names.empty());
        EXPECT_EQ(errors.messages(), std::vector<std::string>{messages::kBadFaceSize});
    }
}

// With --mips every level is the run at that level's size (with the same border), never a
// texture shrunk: the files of one run against separate runs, level by level. Tiles are
// the regions of those runs' textures, rings and all.
TEST(TextureJob, MipLevelsAndTilesAreTheRunsAtTheirSizes)
{
    ScratchDir dir;
    const std::string map = dir.writeBmp("map.bmp", testing_support::noisePicture(67, 35));
    const struct {
        TextureFilter filter;
        TextureFormat format;
        unsigned border;
    } rows[] = {
        {TextureFilter::Area, TextureFormat::Tga, 1},
        {TextureFilter::Bilinear, TextureFormat::Png, 0},
        {TextureFilter::Nearest, TextureFormat::Tiff, 2},
    };
    for (const auto& row : rows) {
        TextureOutput output;
        output.format = row.format;
        output.border = row.border;
        output.mips = true;
        SinkCalls chain;
        ASSERT_EQ(runIntoMemory(map, 16, row.filter, chain, output), 1);
        ASSERT_EQ(chain.names.size(), 10u * 5);  // 16, 8, 4, 2 and 1 texels a side
        output.mips = false;
        for (int level = 0; level < 5; ++level) {
            SinkCalls single;
            ASSERT_EQ(runIntoMemory(map, 16 >> level, row.filter, single, output), 1);
            for (int k = 0; k < 10; ++k) {
                EXPECT_EQ(chain.names[5 * k + level], textureFileName(k, row.format, level));
                EXPECT_TRUE(chain.images[5 * k + level] == single.images[k])
                    << "filter " << static_cast<int>(row.filter) << " level " << level << " " << chain.names[5 * k + level];
            }
        }
    }

    constexpr std::uint32_t kTile = 8, kBorder = 2;
    TextureOutput tiled;
    tiled.tileSize = kTile;
    tiled.border = kBorder;
    SinkCalls tiles;
    ASSERT_EQ(runIntoMemory(map, 32, TextureFilter::Area, tiles, tiled), 1);
    ASSERT_EQ(tiles.names.size(), 10u * (1 + 4 + 16) + 1);
    EXPECT_EQ(tiles.names.back(), kTileIndexName);
    std::size_t call = 0;
    for (int level = 0; level < 3; ++level) {
        const std::uint32_t size = kTile << level, side = size + 2 * kBorder;
        TextureOutput whole;
        whole.border = kBorder;
        SinkCalls textures;
        ASSERT_EQ(runIntoMemory(map, static_cast<int>(size), TextureFilter::Area, textures, whole), 1);
        for (int k = 0; k < 10; ++k)
            for (std::uint32_t row = 0; row < size / kTile; ++row)
                for (std::uint32_t column = 0; column < size / kTile; ++column, ++call) {
                    ASSERT_EQ(tiles.names[call], textureTileName(k, level, row, column, TextureFormat::Tga));
                    const std::vector<unsigned char>& tile = tiles.images[call];
                    ASSERT_EQ(tile.size(), kTgaHeaderSize + 3 * (kTile + 2 * kBorder) * (kTile + 2 * kBorder));
                    bool same = true;
                    for (std::uint32_t r = 0; r < kTile + 2 * kBorder; ++r) {
                        const auto from = textures.images[k].begin() + kTgaHeaderSize +
                                          3 * ((row * kTile + r) * side + column * kTile);
                        same = same && std::equal(from, from + 3 * (kTile + 2 * kBorder),
                                                  tile.begin() + kTgaHeaderSize + 3 * r * (kTile + 2 * kBorder));
                    }
                    EXPECT_TRUE(same) << tiles.names[call];
                }
    }

    // Tiles in a container are block-compressed as asked: a DDS of BC1 blocks, 8 bytes a 4 × 4.
    TextureOutput compressed;
    compressed.tileSize = 16;
    compressed.format = TextureFormat::Dds;
    compressed.compression = TextureCompression::Bc1;
    SinkCalls blocks;
    ASSERT_EQ(runIntoMemory(map, 32, TextureFilter::Area, blocks, compressed), 1);
    for (std::size_t i = 0; i + 1 < blocks.names.size(); ++i)
        EXPECT_EQ(blocks.images[i].size(), 128u + 4 * 4 * 8) << blocks.names[i];
}

// Border rings make the diamonds' edges seamless under a GPU's bilinear filter (clamp to
// edge, texel centres at (u·N + K, v·N + K)): at each diamond's four edges the two textures
// that meet there, read at the same directions, differ on average by no more than
// neighbouring texels beside the edge do. Without a border the far edges are not stored in
// either texture and show a step.
TEST(TextureJob, BorderRingsCloseTheSeamsForAGpuFilter)
{
    ScratchDir dir;
    testing_support::Picture map = testing_support::noisePicture(512, 256, 3);
    for (std::uint32_t row = 0; row < map.height; ++row)
        for (std::uint32_t column = 0; column < map.width; ++column) {
            const double x = column * 6.283185307179586 / map.width, y = row * 3.141592653589793 / map.height;
            const auto wave = [](double value) { return static_cast<std::uint32_t>(128 + 100 * value); };
            map.at(column, row) = wave(std::sin(3 * x) * std::sin(y)) << 16 | wave(std::cos(2 * x + 5 * y)) << 8 |
                                  wave(std::sin(7 * y + x));
        }
    const std::string path = dir.writeBmp("waves.bmp", map);
    constexpr std::uint32_t kN = 64;
    for (const TextureFilter filter : {TextureFilter::Bilinear, TextureFilter::Area}) {
        for (const unsigned border : {0u, 1u}) {
            TextureOutput output;
            output.border = border;
            SinkCalls calls;
            ASSERT_EQ(runIntoMemory(path, kN, filter, calls, output), 1);
            const std::uint32_t side = kN + 2 * border;
            const auto texel = [&](int k, std::int64_t row, std::int64_t column, int channel) {
                row = std::clamp<std::int64_t>(row, 0, side - 1);
                column = std::clamp<std::int64_t>(column, 0, side - 1);
                return calls.images[k][kTgaHeaderSize + 3 * (row * side + column) + channel];
            };
            const auto gpuRead = [&](int k, double u, double v, int channel) {
                const double x = u * kN + border, y = v * kN + border;
                const double x0 = std::floor(x), y0 = std::floor(y), fx = x - x0, fy = y - y0;
                const auto c = static_cast<std::int64_t>(x0), r = static_cast<std::int64_t>(y0);
                return (1 - fy) * ((1 - fx) * texel(k, r, c, channel) + fx * texel(k, r, c + 1, channel)) +
                       fy * ((1 - fx) * texel(k, r + 1, c, channel) + fx * texel(k, r + 1, c + 1, channel));
            };
            int stepped = 0;
            for (int k = 0; k < kDiamondCount; ++k) {
                // Each edge: where it lies in (u, v), and the way out of the diamond.
                const struct {
                    double u0, v0, du, dv, outU, outV;
                } edges[] = {{0, 0, 1, 0, 0, -1}, {0, 0, 0, 1, -1, 0}, {1, 0, 0, 1, 1, 0}, {0, 1, 1, 0, 0, 1}};
                for (const auto& edge : edges) {
                    double across = 0, beside = 0;
                    for (std::uint32_t i = 0; i < kN; ++i) {
                        const double t = (i + 0.5) / kN;
                        const double u = edge.u0 + t * edge.du, v = edge.v0 + t * edge.dv;
                        const Vector3 on = diamondPointAt(k, u, v);
                        const Vector3 out = diamondPointAt(k, u + 0.01 * edge.outU, v + 0.01 * edge.outV);
                        const int other = locateDirection(out.x, out.y, out.z).diamond;
                        const DiamondPoint there = locateInDiamond(other, on.x, on.y, on.z);
                        for (int channel = 0; channel < 3; ++channel) {
                            across += std::abs(gpuRead(k, u, v, channel) - gpuRead(other, there.u, there.v, channel));
                            // Neighbouring texels beside the edge, one step inwards.
                            const double inU = u - edge.outU / kN, inV = v - edge.outV / kN;
                            beside += std::abs(gpuRead(k, inU, inV, channel) - gpuRead(k, inU - edge.outU / kN,
                                                                                          inV - edge.outV / kN, channel));
                        }
                    }
                    stepped += across > beside;
                    if (border != 0) {
                        EXPECT_LE(across, beside) << "filter " << static_cast<int>(filter) << " record " << k + 1
                                                  << " edge (" << edge.u0 << ", " << edge.v0 << ")";
                    }
                }
            }
            if (border == 0) {
                EXPECT_GT(stepped, 0) << "filter " << static_cast<int>(filter) << ": no seam without a border?";
            }
        }
    }
}

// A map read in bands gives the bytes of the map decoded whole (a BMP is), with the smallest
// window of rows the least budget the run takes leaves it, and so does a mosaic of its
// pieces; a budget below that is refused before anything is written.
TEST(TextureJob, MapsReadInBandsAndMosaicsGiveTheWholeMapsBytes)
{
    ScratchDir dir;
    constexpr std::uint32_t kWidth = 384, kHeight = 192, kColumns = 3, kRows = 2;
    const testing_support::Picture picture = testing_support::noisePicture(kWidth, kHeight, 7);
    const std::string whole = dir.writeBmp("map.bmp", picture);
    // The same pixels as PNG (read in bands), whole and cut into a grid.
    const auto png = [&](const std::string& name, std::uint32_t left, std::uint32_t top, std::uint32_t width,
                         std::uint32_t height) {
        SampleMap map{width, height, {SampleType::U8, 3}, {}};
        for (std::uint32_t y = top; y < top + height; ++y)
            for (std::uint32_t x = left; x < left + width; ++x)
                for (int shift : {16, 8, 0})
                    map.values.push_back(picture.rgb[y * kWidth + x] >> shift & 0xFF);
        return testing_support::writeSampleMap(dir, name, map);
    };
    const std::string banded = png("map.png", 0, 0, kWidth, kHeight);
    std::vector<std::string> tiles;
    for (std::uint32_t row = 0; row < kRows; ++row)
        for (std::uint32_t column = 0; column < kColumns; ++column)
            tiles.push_back(png("tile" + std::to_string(tiles.size()) + ".png", column * kWidth / kColumns,
                                row * kHeight / kRows, kWidth / kColumns, kHeight / kRows));

    const struct {
        TextureFilter filter;
        int faceSize;
        unsigned border;
        std::uint32_t tileSize;
        TextureChannels channels;
    } rows[] = {
        {TextureFilter::Nearest, 64, 0, 0, TextureChannels::Rgb},
        {TextureFilter::Bilinear, 128, 1, 0, TextureChannels::Rgb},
        {TextureFilter::Area, 64, 2, 0, TextureChannels::Rgb},
        {TextureFilter::Mode, 64, 0, 0, TextureChannels::Auto},
        {TextureFilter::Area, 128, 1, 32, TextureChannels::Rgb},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "filter " << static_cast<int>(row.filter) << " N " << row.faceSize);
        TextureOutput output;
        output.border = row.border;
        output.tileSize = row.tileSize;
        output.channels = row.channels;
        SinkCalls expected;
        ASSERT_EQ(runIntoMemory(whole, row.faceSize, row.filter, expected, output), 1);
        // Each read in bands with the least budget it takes, to the KiB.
        for (const bool isMosaic : {false, true}) {
            const auto run = [&](SinkCalls& calls, std::uint64_t budget) {
                return runIntoMemory(isMosaic ? "" : banded, row.faceSize, row.filter, calls, output,
                                     [&](TextureJob& job) {
                                         job.memoryBudget = budget;
                                         job.mosaic = isMosaic ? tiles : std::vector<std::string>{};
                                         job.mosaicColumns = kColumns;
                                     });
            };
            std::uint64_t refused = 0, taken = std::uint64_t{1} << 30;
            while (taken - refused > 1024) {
                const std::uint64_t budget = (refused + taken) / 2;
                SinkCalls calls;
                CapturedErrors errors;
                const int result = run(calls, budget);
                (result == 1 ? taken : refused) = budget;
                if (result != 1) {
                    ASSERT_TRUE(calls.names.empty());
                    ASSERT_EQ(errors.messages().size(), 1u);
                    EXPECT_EQ(errors.messages()[0].rfind(messages::kMemoryBudgetTooSmall, 0), 0u)
                        << errors.messages()[0];
                }
            }
            SinkCalls least;
            ASSERT_EQ(run(least, taken), 1) << "mosaic " << isMosaic;
            // Tiles go out as they finish: compared by name.
            const auto byName = [](const SinkCalls& calls) {
                std::map<std::string, std::vector<unsigned char>> files;
                for (std::size_t i = 0; i < calls.names.size(); ++i)
                    files[calls.names[i]] = calls.images[i];
                return files;
            };
            EXPECT_EQ(least.names.size(), expected.names.size());
            EXPECT_TRUE(byName(least) == byName(expected)) << "mosaic " << isMosaic;
        }
    }
}

TEST(TextureJob, ASecondRunGivesTheSameImages)
{
    ScratchDir dir;
    const std::string map = dir.writeBmp("map.bmp", testing_support::noisePicture(21, 13));
    SinkCalls first;
    SinkCalls second;
    ASSERT_EQ(runIntoMemory(map, 64, TextureFilter::Bilinear, first), 1);
    ASSERT_EQ(runIntoMemory(map, 64, TextureFilter::Bilinear, second), 1);
    EXPECT_TRUE(first.images == second.images);
}

// The golden run: a fixed 61 × 31 map through the whole job at N = 64. The nearest and
// bilinear hashes were checked against a separate implementation of the arithmetic; the
// area filter's pins its bytes, which every build must give. Any change in the
// geometry, the angles, the samplers or the file layout changes these hashes. To accept a
// deliberate change, run with ORBILUNE_UPDATE_GOLDEN=1 and paste the printed values.
TEST(TextureJob, GoldenRun)
{
    // The 512 × 256 map at N = 16 gives the area filter footprints from a few pixels wide to
    // the width of the map, by the poles.
    const struct {
        TextureFilter filter;
        std::uint32_t mapWidth, mapHeight;
        int n;
        std::uint64_t hash;
    } golden[] = {
        {TextureFilter::Nearest, 61, 31, 64, 0x0a7d4eb4d900192full},
        {TextureFilter::Bilinear, 61, 31, 64, 0x6a4797108d97acbaull},
        {TextureFilter::Area, 61, 31, 64, 0x8ff652549f2ab526ull},
        {TextureFilter::Area, 512, 256, 16, 0xd1a4c25931e5736bull},
    };
    ScratchDir dir;
    const bool update = std::getenv("ORBILUNE_UPDATE_GOLDEN") != nullptr;
    for (const auto& g : golden) {
        SinkCalls calls;
        const std::string map =
            dir.writeBmp("golden.bmp", testing_support::noisePicture(g.mapWidth, g.mapHeight, 2026));
        ASSERT_EQ(runIntoMemory(map, g.n, g.filter, calls), 1);
        std::uint64_t hash = 1469598103934665603ull;
        for (const auto& image : calls.images)
            hash = testing_support::fnv1a(image, hash);
        if (update)
            std::printf("        {%d, %u, %u, %d, 0x%016llxull},\n", static_cast<int>(g.filter), g.mapWidth, g.mapHeight, g.n,
                        static_cast<unsigned long long>(hash));
        else
            EXPECT_EQ(hash, g.hash) << "filter " << static_cast<int>(g.filter) << " N=" << g.n;
    }
}

// Data maps: what the textures hold of maps that are not 8-bit colour photographs, and what
// each filter does with them. Each row makes a map, runs a job and looks at all ten
// textures (PNG, read back with their samples).
SampleMap makeMap(std::uint32_t width, std::uint32_t height, SampleLayout layout,
                  const std::function<void(std::uint32_t, std::uint32_t, double*)>& pixel)
{
    SampleMap map{width, height, layout, std::vector<double>(std::size_t{width} * height * layout.channels)};
    for (std::uint32_t row = 0; row < height; ++row)
        for (std::uint32_t column = 0; column < width; ++column)
            pixel(column, row, &map.at(column, row, 0));
    return map;
}

std::uint32_t noise(std::uint32_t column, std::uint32_t row)
{
    std::uint32_t state = column * 0x9E3779B9u ^ (row + 1) * 0x85EBCA6Bu;
    state ^= state >> 15;
    state *= 0x2C1B3C6Du;
    return state ^ (state >> 12);
}

TEST(DataMaps, EachFilterKeepsWhatTheMapMeans)
{
    const auto textures = [](const ScratchDir& dir, const std::string& map, int n, TextureFilter filter,
                             const TextureOutput& output) {
        SinkCalls calls;
        EXPECT_EQ(runIntoMemory(map, n, filter, calls, output), 1);
        std::vector<SampleMap> decoded;
        for (std::size_t k = 0; k < calls.images.size(); ++k)
            decoded.push_back(testing_support::decodeTexture(dir, calls.images[k], "texture.png"));
        return decoded;
    };
    TextureOutput png;
    png.format = TextureFormat::Png;
    png.channels = TextureChannels::Auto;
    png.depth = TextureDepth::Auto;
    ScratchDir dir;

    // Nearest copies 16-bit heights exactly, and mode a class map's values: no texel holds a
    // value the map does not (area would blend the classes into new ones).
    const SampleMap heights = makeMap(97, 49, {SampleType::U16, 1}, [](std::uint32_t c, std::uint32_t r, double* v) {
        v[0] = noise(c, r) & 0xFFFF;
    });
    const SampleMap classes = makeMap(96, 48, {SampleType::U8, 1}, [](std::uint32_t c, std::uint32_t r, double* v) {
        v[0] = std::array<int, 3>{10, 140, 250}[(c / 3 + r / 5) % 3];
    });
    const struct {
        const char* what;
        const SampleMap& map;
        TextureFilter filter;
        bool onlyMapValues;
    } copies[] = {
        {"16-bit heights, nearest", heights, TextureFilter::Nearest, true},
        {"classes, mode", classes, TextureFilter::Mode, true},
        {"classes, area", classes, TextureFilter::Area, false},
    };
    for (const auto& row : copies) {
        const std::string map = testing_support::writeSampleMap(dir, "copies", row.map);
        std::set<double> values(row.map.values.begin(), row.map.values.end());
        bool onlyMapValues = true;
        for (const SampleMap& texture : textures(dir, map, 32, row.filter, png)) {
            ASSERT_EQ(texture.layout, row.map.layout) << row.what;
            for (const double value : texture.values)
                onlyMapValues = onlyMapValues && values.count(value) != 0;
        }
        EXPECT_EQ(onlyMapValues, row.onlyMapValues) << row.what;
    }

    // No-data samples take no part in averages: heights from 1000 up, and 0 for no data in
    // blocks; every texel is either no data or a height.
    const SampleMap holes = makeMap(96, 48, {SampleType::U16, 1}, [](std::uint32_t c, std::uint32_t r, double* v) {
        v[0] = (c / 4 + r / 4) % 3 == 0 ? 0 : 1000 + noise(c, r) % 3000;
    });
    const std::string holesMap = testing_support::writeSampleMap(dir, "holes", holes);
    for (const bool nodata : {true, false}) {
        for (const TextureFilter filter : {TextureFilter::Bilinear, TextureFilter::Area}) {
            TextureOutput output = png;
            output.nodata = nodata;
            output.nodataValue = 0;
            std::size_t blended = 0;
            for (const SampleMap& texture : textures(dir, holesMap, 32, filter, output))
                for (const double value : texture.values)
                    blended += value > 0 && value < 1000;
            EXPECT_EQ(blended == 0, nodata) << "filter " << static_cast<int>(filter) << " no data " << nodata;
        }
    }

    // Alpha: a white cloud on nothing, whose transparent pixels are black. Colour is
    // averaged by alpha: no dark fringe round the cloud, however little of it a texel holds.
    const SampleMap cloud = makeMap(128, 64, {SampleType::U8, 4}, [](std::uint32_t c, std::uint32_t r, double* v) {
        const bool inside = std::hypot(c - 64.0, r - 32.0) < 20;
        v[0] = v[1] = v[2] = inside ? 255 : 0;
        v[3] = inside ? 255 : 0;
    });
    const std::string cloudMap = testing_support::writeSampleMap(dir, "cloud", cloud);
    for (const TextureFilter filter : {TextureFilter::Bilinear, TextureFilter::Area}) {
        double darkest = 255, partial = 0;
        for (const SampleMap& texture : textures(dir, cloudMap, 64, filter, png))
            for (std::size_t i = 0; i < texture.values.size(); i += 4)
                if (texture.values[i + 3] > 0) {
                    darkest = std::min(darkest, texture.values[i]);
                    partial += texture.values[i + 3] < 255;
                }
        EXPECT_GT(partial, 0) << "filter " << static_cast<int>(filter) << ": the cloud's edge";
        EXPECT_GE(darkest, 254) << "filter " << static_cast<int>(filter);
    }

    // Linear light: one-pixel black and white columns average to the middle of the light,
    // 0.735 of white in sRGB (188 of 255), not the middle of the numbers, whatever the
    // samples' type: 8 and 16 bits by their range, floats as 0 to 1 (beyond it held there for
    // the curve). Signed samples are heights, not colour: refused.
    const struct {
        SampleType type;
        double black, white;
        bool linear;
        double middle;  // the texels' median, of white; 0: refused
    } stripeRows[] = {
        {SampleType::U8, 0, 255, false, 0.5},     {SampleType::U8, 0, 255, true, 0.7354},
        {SampleType::U16, 0, 65535, true, 0.7354}, {SampleType::F32, 0, 1, true, 0.7354},
        {SampleType::F32, -1, 4, true, 0.7354},   {SampleType::I16, 0, 32767, true, 0},
    };
    for (const auto& row : stripeRows) {
        const SampleMap stripes = makeMap(512, 256, {row.type, 1}, [&](std::uint32_t c, std::uint32_t, double* v) {
            v[0] = c % 2 == 0 ? row.black : row.white;
        });
        const std::string stripesMap = testing_support::writeSampleMap(dir, "stripes", stripes);
        TextureOutput output = png;
        output.linear = row.linear;
        if (row.middle == 0) {  // a run that --linear alone refuses: signed TIFF textures
            output.format = TextureFormat::Tiff;
            SinkCalls calls;
            CapturedErrors errors;
            EXPECT_EQ(runIntoMemory(stripesMap, 16, TextureFilter::Area, calls, output), 0);
            EXPECT_TRUE(calls.names.empty());
            const std::vector<std::string>& said = errors.messages();
            EXPECT_TRUE(said.size() == 1 && said[0].rfind("The map holds signed 16-bit samples, heights rather", 0) == 0)
                << (said.empty() ? "nothing said" : said[0]);
            continue;
        }
        const double top = row.type == SampleType::U8 ? 255 : 65535;  // floats written at 16 bits
        output.depth = row.type == SampleType::U8 ? TextureDepth::Auto : TextureDepth::Sixteen;
        std::vector<double> all;
        for (const SampleMap& texture : textures(dir, stripesMap, 16, TextureFilter::Area, output))
            all.insert(all.end(), texture.values.begin(), texture.values.end());
        std::nth_element(all.begin(), all.begin() + all.size() / 2, all.end());
        EXPECT_NEAR(all[all.size() / 2], row.middle * top, top / 255)
            << "type " << static_cast<int>(row.type) << ", " << row.black << " and " << row.white << ", linear "
            << row.linear;
    }

    // The vector kernels take every lane's pixel at once: each instruction set and thread
    // count must give the scalar kernel's bytes on one thread, for every layout, with alpha,
    // no-data and linear light, footprints from under a pixel (cells) to many (slices).
    const struct {
        SampleLayout layout;
        bool nodata, linear;
    } layouts[] = {
        {{SampleType::U16, 1}, false, false}, {{SampleType::U8, 2}, false, false},
        {{SampleType::U8, 4}, false, false},  {{SampleType::U16, 3}, false, false},
        {{SampleType::U16, 4}, true, false},  {{SampleType::U8, 3}, false, true},
    };
    std::vector<KernelIsa> isas;
    for (const KernelIsa isa : {KernelIsa::Scalar, KernelIsa::Avx2, KernelIsa::Avx512})
        if (selectKernelIsa(isa))
            isas.push_back(isa);
    for (const auto& row : layouts) {
        const SampleMap map = makeMap(640, 320, row.layout, [&](std::uint32_t c, std::uint32_t r, double* v) {
            const double top = row.layout.type == SampleType::U8 ? 255 : 65535;
            for (unsigned k = 0; k < row.layout.channels; ++k)
                v[k] = noise(c + 1000 * k, r) % static_cast<std::uint32_t>(top + 1);
            if (hasAlpha(row.layout.channels) && (c / 16 + r / 8) % 4 == 0)
                v[row.layout.channels - 1] = 0;
            if (row.nodata && (c / 8 + r / 16) % 3 == 0)
                std::fill(v, v + colourChannels(row.layout.channels), 0.0);
        });
        const std::string path = testing_support::writeSampleMap(dir, "lanes", map);
        TextureOutput output = png;
        output.nodata = row.nodata;
        output.linear = row.linear;
        for (const TextureFilter filter : {TextureFilter::Bilinear, TextureFilter::Area, TextureFilter::Mode}) {
            for (const int n : {16, 64}) {
                std::vector<std::vector<unsigned char>> expected;
                for (const KernelIsa isa : isas) {
                    for (const unsigned threads : {isa == KernelIsa::Scalar ? 1u : 0u}) {
                        selectKernelIsa(isa);
                        setRenderThreads(threads);
                        SinkCalls calls;
                        ASSERT_EQ(runIntoMemory(path, n, filter, calls, output), 1);
                        if (expected.empty())
                            expected = calls.images;
                        EXPECT_TRUE(calls.images == expected)
                            << row.layout.channels << " channels, type " << static_cast<int>(row.layout.type) << ", filter "
                            << static_cast<int>(filter) << ", N=" << n << ", " << kernelIsaName(isa) << ", threads "
                            << threads;
                    }
                }
            }
        }
    }
    selectKernelIsa(bestKernelIsa());
    setRenderThreads(0);
}

}  // namespace
