// The texture job end to end: the images it hands out, their header and size, the sink's
// power to stop it, refused pictures, repeated runs and one golden run.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_support.h"
#include "texture_job.h"

namespace {

using testing_support::CapturedErrors;
using testing_support::runIntoMemory;
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

}  // namespace
