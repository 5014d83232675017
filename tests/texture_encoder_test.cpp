// The texture writers: what each format holds and how it says no; every layout written and
// read back sample for sample by another reader (libpng, OpenImageIO, on Linux); and the
// files' hashes, the same on every platform, so that the Windows build's bytes are held to
// the Linux build's. Then the portable readers of PNG, TIFF and OpenEXR that keep a map's
// own samples (the Windows build's, where GDI+ cannot): every layout the writers write read
// back, and pictures of every kind that libtiff, ImageMagick and OpenImageIO write read as
// the Linux build reads them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "container_reader.h"
#include "decoded_picture.h"
#include "half_float.h"
#include "image_object.h"
#include "inflater.h"
#include "test_support.h"
#include "texture_views.h"
#include "texture_encoder.h"

#if !defined(_WIN32)
// Imath's own conversion of halves to floats rather than its table, which lives in its
// library.
#define IMATH_HALF_NO_LOOKUP_TABLE
#include <Imath/half.h>
#include <OpenImageIO/imageio.h>
#include <png.h>
#endif

namespace {

using Bytes = std::vector<unsigned char>;

constexpr SampleType kTypes[] = {SampleType::U8, SampleType::U16, SampleType::I16, SampleType::F32};

// Floats that take every path of the conversion to half: zeros, ties to even at 1 and at
// the subnormals, the largest half and what rounds past it, the subnormals, infinities, NaN.
const float kFloats[] = {0.0f, -0.0f, 1.0f, -2.5f, 0.1f, 1.0f / 3, 1.00048828125f, 1.00146484375f,
                         65504.0f, 65519.99f, 65520.0f, -1e10f, 6.1e-5f, 5.9604645e-8f, 2.9802322e-8f,
                         3.0e-8f, 8.940697e-8f, 1e-30f, std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()};

// A test picture: tiny ones have a distinct sample in every channel of every texel and rows
// padded with bytes that must not be read; larger ones mix smooth runs and noise, so that
// zlib meets both, and cross the writers' blocks, strips and chunks.
struct TestImage {
    SampleImage image;
    Bytes bytes;
};

TestImage makeImage(SampleLayout layout, std::uint32_t width, std::uint32_t height)
{
    TestImage made;
    const std::size_t size = sampleBytes(layout.type);
    const std::size_t rowBytes = width * texelBytes(layout) + 3;
    made.bytes.assign(rowBytes * height, 0xEE);
    std::uint32_t state = 2463534242u;
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            for (unsigned c = 0; c < layout.channels; ++c) {
                state ^= state << 13;
                state ^= state >> 17;
                state ^= state << 5;
                const std::uint32_t k = (y * width + x) * 4 + c;  // distinct below 16384 texels
                const bool tiny = width * height <= 64;
                const std::uint32_t smooth = (x + 2 * y + 40 * c) % 256, noisy = y % 8 < 5 ? state : 0;
                unsigned char* at = &made.bytes[y * rowBytes + (x * layout.channels + c) * size];
                std::uint16_t u16 = static_cast<std::uint16_t>(tiny ? k * 1091 + 7 : smooth * 257 + noisy);
                float f = tiny ? kFloats[k % std::size(kFloats)] * static_cast<float>(1 + k / std::size(kFloats))
                               : static_cast<float>(smooth) * 0.37f - 11 + static_cast<float>(noisy % 1000) / 7;
                switch (layout.type) {
                case SampleType::U8:
                    *at = static_cast<unsigned char>(tiny ? k * 4 + 3 : smooth + noisy % 4);
                    break;
                case SampleType::U16:
                    std::memcpy(at, &u16, 2);
                    break;
                case SampleType::I16:
                    u16 = static_cast<std::uint16_t>(u16 - 32001);
                    std::memcpy(at, &u16, 2);
                    break;
                case SampleType::F32:
                    std::memcpy(at, &f, 4);
                    break;
                }
            }
    made.image = {width, height, layout, made.bytes.data(), rowBytes};
    return made;
}

// Every case that a format takes: its layouts (as half floats too, for OpenEXR, DDS and
// KTX2; block-compressed in DDS and KTX2), tiny and larger.
struct Case {
    TextureFormat format;
    SampleLayout layout;
    bool half;
    std::uint32_t width, height;
    TextureCompression compression = TextureCompression::None;
};

std::vector<Case> casesOf(TextureFormat format, bool half, TextureCompression compression = TextureCompression::None)
{
    const struct {
        std::uint32_t width, height;
    } sizes[] = {{5, 3}, {613, 451}};
    std::vector<Case> cases;
    for (const auto& size : sizes)
        for (SampleType type : kTypes)
            for (unsigned channels = 1; channels <= 4; ++channels)
                if (formatRefusal(format, {type, channels}, half, compression) == nullptr)
                    cases.push_back({format, {type, channels}, half, size.width, size.height, compression});
    return cases;
}

std::string describe(const Case& c)
{
    static const char* const kTypeNames[] = {"U8", "U16", "I16", "F32"};
    return std::string(textureFormatName(c.format).name) + " " + kTypeNames[static_cast<int>(c.layout.type)] + " × " +
           std::to_string(c.layout.channels) + (c.half ? " half " : " ") + std::to_string(c.width) + "×" +
           std::to_string(c.height) + " " + kTextureCompressions[static_cast<int>(c.compression)].name;
}

Bytes encode(const Case& c, const TestImage& image, unsigned threads = 1)
{
    Bytes file;
    EXPECT_TRUE(encodeTexture(c.format, image.image, c.half, file, threads)) << describe(c);
    return file;
}

// A case's whole mip chain, from its size down to 1 × 1, each level a test picture of its own.
struct Chain {
    std::vector<TestImage> pictures;
    std::vector<SampleImage> levels;
};

Chain makeChain(const Case& c)
{
    Chain chain;
    for (std::uint32_t w = c.width, h = c.height;; w = std::max(1u, w / 2), h = std::max(1u, h / 2)) {
        chain.pictures.push_back(makeImage(c.layout, w, h));
        if (w == 1 && h == 1)
            break;
    }
    for (const TestImage& picture : chain.pictures)
        chain.levels.push_back(picture.image);
    return chain;
}

Bytes encodeChain(const Case& c, const Chain& chain, unsigned threads = 1)
{
    Bytes file;
    EXPECT_TRUE(encodeTextureChain(c.format, chain.levels.data(), chain.levels.size(),
                                   ChainEncoding{c.half, c.compression, threads}, file))
        << describe(c);
    return file;
}

TEST(TextureFormats, HoldWhatTheySayAndNameWhatWouldWork)
{
    // By format and sample type: which channel counts (1 to 4) it holds, '-' for none.
    const struct {
        TextureFormat format;
        bool half;
        const char* holds[4];  // U8, U16, I16, F32
        TextureCompression compression = TextureCompression::None;
    } table[] = {
        {TextureFormat::Tga, false, {"1-34", "----", "----", "----"}},
        {TextureFormat::Png, false, {"1234", "1234", "----", "----"}},
        {TextureFormat::Tiff, false, {"1234", "1234", "1234", "1234"}},
        {TextureFormat::Exr, false, {"----", "----", "----", "1234"}},
        {TextureFormat::Exr, true, {"----", "----", "----", "1234"}},
        {TextureFormat::Tga, true, {"----", "----", "----", "----"}},
        {TextureFormat::Png, true, {"----", "----", "----", "----"}},
        {TextureFormat::Tiff, true, {"----", "----", "----", "----"}},
        {TextureFormat::Dds, false, {"1234", "1234", "----", "1234"}},
        {TextureFormat::Dds, true, {"----", "----", "----", "1234"}},
        {TextureFormat::Ktx2, false, {"1234", "--34", "----", "1234"}},  // three.js reads no R16, RG16
        {TextureFormat::Ktx2, true, {"----", "----", "----", "1234"}},
        {TextureFormat::Dds, false, {"--3-", "----", "----", "----"}, TextureCompression::Bc1},
        {TextureFormat::Dds, false, {"---4", "----", "----", "----"}, TextureCompression::Bc3},
        {TextureFormat::Dds, false, {"1---", "----", "----", "----"}, TextureCompression::Bc4},
        {TextureFormat::Dds, false, {"-2--", "----", "----", "----"}, TextureCompression::Bc5},
        {TextureFormat::Dds, false, {"----", "----", "----", "----"}, TextureCompression::Bc7},
        {TextureFormat::Dds, true, {"----", "----", "----", "----"}, TextureCompression::Bc1},
        {TextureFormat::Ktx2, false, {"--3-", "----", "----", "----"}, TextureCompression::Bc1},
        {TextureFormat::Ktx2, false, {"---4", "----", "----", "----"}, TextureCompression::Bc3},
        {TextureFormat::Ktx2, false, {"1---", "----", "----", "----"}, TextureCompression::Bc4},
        {TextureFormat::Ktx2, false, {"-2--", "----", "----", "----"}, TextureCompression::Bc5},
        {TextureFormat::Ktx2, false, {"----", "----", "----", "----"}, TextureCompression::Bc7},
        {TextureFormat::Png, false, {"----", "----", "----", "----"}, TextureCompression::Bc1},
        {TextureFormat::Tga, false, {"----", "----", "----", "----"}, TextureCompression::Bc4},
    };
    // Whether `message` names `word` after `option` (as a word of its own).
    const auto names = [](const std::string& message, const char* option, const char* word) {
        const std::size_t from = message.find(option);
        for (std::size_t at = message.find(word, from); from != std::string::npos && at != std::string::npos;
             at = message.find(word, at + 1)) {
            const std::size_t end = at + std::strlen(word);
            const bool starts = message[at - 1] == ' ' || message[at - 1] == '(';
            if (starts && (end == message.size() || !std::isalnum(static_cast<unsigned char>(message[end]))))
                return true;
        }
        return false;
    };
    for (const auto& row : table)
        for (int t = 0; t < 4; ++t)
            for (unsigned channels = 0; channels <= 5; ++channels) {
                const SampleLayout layout{kTypes[t], channels};
                const char* refusal = formatRefusal(row.format, layout, row.half, row.compression);
                const bool holds = channels >= 1 && channels <= 4 && row.holds[t][channels - 1] != '-';
                const std::string what = describe({row.format, layout, row.half, 0, 0, row.compression});
                EXPECT_EQ(refusal == nullptr, holds) << what;
                if (refusal == nullptr || channels < 1 || channels > 4)
                    continue;
                const std::string message = refusal;
                if (row.compression != TextureCompression::None && !holdsMipChain(row.format)) {
                    EXPECT_TRUE(names(message, "--format", "dds") && names(message, "--format", "ktx2")) << message;
                    continue;
                }
                // Every format the message names after "--format" holds the layout (without
                // half, unless it holds half floats), and of the block compressions it names
                // after "--compress" one at least does; it names one of either at least.
                int named = 0;
                for (const TextureFormatName& other : kTextureFormats) {
                    if (!names(message, "--format", other.name))
                        continue;
                    ++named;
                    const bool half = row.half && (other.format == TextureFormat::Exr || holdsMipChain(other.format));
                    EXPECT_EQ(formatRefusal(other.format, layout, half), nullptr) << what << ": " << message;
                }
                int compressionsNamed = 0, compressionsHolding = 0;
                for (const TextureCompressionName& other : kTextureCompressions)
                    if (names(message, "--compress", other.name)) {
                        ++compressionsNamed;
                        compressionsHolding += formatRefusal(row.format, layout, row.half, other.compression) == nullptr;
                    }
                if (compressionsNamed > 0) {
                    EXPECT_GE(compressionsHolding, 1) << what << ": " << message;
                }
                EXPECT_GE(named + compressionsNamed, 1) << what << ": " << message;
            }
    EXPECT_STREQ(textureFormatName(TextureFormat::Tiff).extension, ".tif");
    EXPECT_STREQ(textureFormatName(TextureFormat::Exr).name, "exr");
}

TEST(TextureEncoder, TgaOfRgbIsTheTexturesLayoutAndImpossibleInputIsRefused)
{
    const TestImage image = makeImage({SampleType::U8, 3}, 5, 3);
    // Today's textures: the header of type 2, 24 bits, top-left origin, then blue, green, red.
    Bytes expected = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 3, 0, 0x18, 0x20};
    for (std::uint32_t y = 0; y < 3; ++y)
        for (std::uint32_t x = 0; x < 5; ++x)
            for (int c : {2, 1, 0})
                expected.push_back(image.bytes[y * image.image.rowBytes + 3 * x + c]);
    Bytes file;
    ASSERT_TRUE(encodeTexture(TextureFormat::Tga, image.image, false, file));
    EXPECT_EQ(file, expected);

    SampleImage wide = image.image;
    wide.width = 70000;
    wide.rowBytes = 3 * 70000;
    EXPECT_FALSE(encodeTexture(TextureFormat::Tga, wide, false, file));
    SampleImage shortRows = image.image;
    shortRows.rowBytes = 14;
    EXPECT_FALSE(encodeTexture(TextureFormat::Png, shortRows, false, file));
    EXPECT_FALSE(encodeTexture(TextureFormat::Exr, image.image, false, file));
    EXPECT_TRUE(file.empty());
}

// The hashes of every case of a format, chained in the order of casesOf: the same on every
// platform and for any number of threads, as the bytes must be. On a change each case's own
// hash is printed.
TEST(TextureEncoder, FilesAreTheSameBytesOnEveryPlatform)
{
    const struct {
        TextureFormat format;
        bool half;
        std::uint64_t hash;
        TextureCompression compression = TextureCompression::None;
    } golden[] = {
        {TextureFormat::Tga, false, 2341178064997534456ull},
        {TextureFormat::Png, false, 5526341617993128292ull},
        {TextureFormat::Tiff, false, 4826723219693085645ull},
        {TextureFormat::Exr, false, 8688126617008024316ull},
        {TextureFormat::Exr, true, 7043667444416629309ull},
        // DDS and KTX2 of whole mip chains, uncompressed and in blocks.
        {TextureFormat::Dds, false, 17384886982109369708ull},
        {TextureFormat::Dds, true, 68475631209719691ull},
        {TextureFormat::Ktx2, false, 17822485700928128989ull},
        {TextureFormat::Ktx2, true, 11425643627025745534ull},
        {TextureFormat::Dds, false, 8649418327415243682ull, TextureCompression::Bc1},
        {TextureFormat::Dds, false, 13447468679261708248ull, TextureCompression::Bc3},
        {TextureFormat::Dds, false, 11126351727570716375ull, TextureCompression::Bc4},
        {TextureFormat::Dds, false, 4659316046348061349ull, TextureCompression::Bc5},
        {TextureFormat::Ktx2, false, 16056814207611894825ull, TextureCompression::Bc1},
        {TextureFormat::Ktx2, false, 3134675228840248579ull, TextureCompression::Bc3},
        {TextureFormat::Ktx2, false, 11226534643254901180ull, TextureCompression::Bc4},
        {TextureFormat::Ktx2, false, 7188275992366876962ull, TextureCompression::Bc5},
    };
    for (const auto& row : golden) {
        for (const unsigned threads : {1u, 3u}) {
            std::uint64_t hash = 1469598103934665603ull;
            std::string each;
            for (const Case& c : casesOf(row.format, row.half, row.compression)) {
                const Bytes file = holdsMipChain(c.format) ? encodeChain(c, makeChain(c), threads)
                                                           : encode(c, makeImage(c.layout, c.width, c.height), threads);
                hash = testing_support::fnv1a(file, hash);
                each += describe(c) + ": " + std::to_string(testing_support::fnv1a(file)) + "\n";
            }
            EXPECT_EQ(hash, row.hash) << textureFormatName(row.format).name << (row.half ? " half " : " ")
                                      << kTextureCompressions[static_cast<int>(row.compression)].name << ", "
                                      << threads << " threads\n" << each;
        }
    }
}

// What a container's reader gives back for a level of a case: the level's samples, RGB made
// RGBA with opaque alpha where the container stores it so (KTX2 always, DDS beyond 8 bits),
// floats through half floats for half.
SampleLayout readBackLayout(const Case& c)
{
    const bool padded = c.layout.channels == 3 && (c.format == TextureFormat::Ktx2 || c.layout.type != SampleType::U8);
    return {c.layout.type, padded ? 4u : c.layout.channels};
}

Bytes readBackSamples(const Case& c, const SampleImage& level)
{
    const std::size_t size = sampleBytes(c.layout.type);
    const unsigned channels = readBackLayout(c).channels;
    Bytes samples;
    for (std::uint32_t y = 0; y < level.height; ++y)
        for (std::uint32_t x = 0; x < level.width; ++x)
            for (unsigned ch = 0; ch < channels; ++ch) {
                const unsigned char* at = static_cast<const unsigned char*>(level.data) + y * level.rowBytes +
                                          (x * c.layout.channels + ch) * size;
                unsigned char sample[4];
                if (ch >= c.layout.channels) {  // opaque
                    const float one = 1.0f;
                    const std::uint16_t most = 0xFFFF;
                    std::memcpy(sample, size == 4 ? static_cast<const void*>(&one) : &most, size);
                    sample[0] = size == 1 ? 0xFF : sample[0];
                } else if (c.half) {
                    float f;
                    std::memcpy(&f, at, 4);
                    f = halfToFloat(floatToHalf(f));
                    std::memcpy(sample, &f, 4);
                } else {
                    std::memcpy(sample, at, size);
                }
                samples.insert(samples.end(), sample, sample + size);
            }
    return samples;
}

TEST(TextureContainers, EveryLevelOfEveryLayoutReadsBack)
{
    for (const TextureFormat format : {TextureFormat::Dds, TextureFormat::Ktx2})
        for (const bool half : {false, true})
            for (const Case& c : casesOf(format, half)) {
                const Chain chain = makeChain(c);
                const Bytes file = encodeChain(c, chain);
                for (unsigned k = 0; k < chain.levels.size(); ++k) {
                    SamplePicture level;
                    ASSERT_TRUE(readTextureContainer(file.data(), file.size(), k, level)) << describe(c) << " level " << k;
                    EXPECT_EQ(level.layout, readBackLayout(c)) << describe(c);
                    EXPECT_EQ(level.width, chain.levels[k].width) << describe(c) << " level " << k;
                    EXPECT_EQ(level.height, chain.levels[k].height) << describe(c) << " level " << k;
                    EXPECT_TRUE(level.samples == readBackSamples(c, chain.levels[k])) << describe(c) << " level " << k;
                }
                SamplePicture none;
                EXPECT_FALSE(readTextureContainer(file.data(), file.size(), static_cast<unsigned>(chain.levels.size()), none))
                    << describe(c);
                // Cut short, the level stored last (DDS's smallest, KTX2's largest) is refused;
                // so are sides that would make a level's bytes wrap round.
                const unsigned last = format == TextureFormat::Dds ? static_cast<unsigned>(chain.levels.size() - 1) : 0;
                EXPECT_FALSE(readTextureContainer(file.data(), file.size() - 1, last, none)) << describe(c);
                Bytes huge = file;
                for (const std::size_t side : format == TextureFormat::Dds ? std::vector<std::size_t>{12, 16}
                                                                           : std::vector<std::size_t>{20, 24})
                    for (int b = 0; b < 4; ++b)
                        huge[side + static_cast<std::size_t>(b)] = b == 3 ? 0x40 : 0;  // 2^30
                EXPECT_FALSE(readTextureContainer(huge.data(), huge.size(), 0, none)) << describe(c);
            }
}

// The headers, field by field, for every layout and compression: DDS's pixel format (legacy
// where there is one, DX10 for 16-bit grey and alpha), KTX2's Vulkan format and its data
// format descriptor; then the sizes and places of the levels.
TEST(TextureContainers, HeadersSayWhatTheyHold)
{
    constexpr std::uint32_t kDx10 = 0x30315844, kDxt1 = 0x31545844, kDxt5 = 0x35545844, kAti1 = 0x31495441,
                            kAti2 = 0x32495441;
    const struct {
        SampleLayout layout;
        bool half;
        TextureCompression compression;
        // DDS: the pixel format's flags, code, bits and masks; the DXGI format of a DX10 header.
        std::uint32_t flags, fourCc, bits, masks[4], dxgi;
        // KTX2: the Vulkan format, typeSize, colour model, transfer function, bytes a texel
        // block, samples (channel and qualifiers of each).
        std::uint32_t vkFormat, typeSize, model, transfer, blockBytes;
        std::vector<std::uint32_t> channels;
    } rows[] = {
        {{SampleType::U8, 1}, false, TextureCompression::None, 0x20000, 0, 8, {0xFF, 0, 0, 0}, 0, 9, 1, 1, 1, 1, {0}},
        {{SampleType::U8, 2}, false, TextureCompression::None, 0x20001, 0, 16, {0xFF, 0, 0, 0xFF00}, 0, 16, 1, 1, 1, 2, {0, 1}},
        {{SampleType::U8, 3}, false, TextureCompression::None, 0x40, 0, 24, {0xFF0000, 0xFF00, 0xFF, 0}, 0, 43, 1, 1, 2, 4,
         {0, 1, 2, 0x1F}},
        {{SampleType::U8, 4}, false, TextureCompression::None, 0x41, 0, 32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, 0, 43, 1,
         1, 2, 4, {0, 1, 2, 0x1F}},
        {{SampleType::U16, 1}, false, TextureCompression::None, 0x20000, 0, 16, {0xFFFF, 0, 0, 0}, 0, 0, 0, 0, 0, 0, {}},
        {{SampleType::U16, 2}, false, TextureCompression::None, 0x4, kDx10, 0, {}, 35, 0, 0, 0, 0, 0, {}},
        {{SampleType::U16, 3}, false, TextureCompression::None, 0x4, 36, 0, {}, 0, 91, 2, 1, 1, 8, {0, 1, 2, 15}},
        {{SampleType::U16, 4}, false, TextureCompression::None, 0x4, 36, 0, {}, 0, 91, 2, 1, 1, 8, {0, 1, 2, 15}},
        {{SampleType::F32, 1}, false, TextureCompression::None, 0x4, 114, 0, {}, 0, 100, 4, 1, 1, 4, {0xC0}},
        {{SampleType::F32, 2}, false, TextureCompression::None, 0x4, 115, 0, {}, 0, 103, 4, 1, 1, 8, {0xC0, 0xC1}},
        {{SampleType::F32, 3}, false, TextureCompression::None, 0x4, 116, 0, {}, 0, 109, 4, 1, 1, 16,
         {0xC0, 0xC1, 0xC2, 0xCF}},
        {{SampleType::F32, 4}, false, TextureCompression::None, 0x4, 116, 0, {}, 0, 109, 4, 1, 1, 16,
         {0xC0, 0xC1, 0xC2, 0xCF}},
        {{SampleType::F32, 1}, true, TextureCompression::None, 0x4, 111, 0, {}, 0, 76, 2, 1, 1, 2, {0xC0}},
        {{SampleType::F32, 2}, true, TextureCompression::None, 0x4, 112, 0, {}, 0, 83, 2, 1, 1, 4, {0xC0, 0xC1}},
        {{SampleType::F32, 3}, true, TextureCompression::None, 0x4, 113, 0, {}, 0, 97, 2, 1, 1, 8, {0xC0, 0xC1, 0xC2, 0xCF}},
        {{SampleType::F32, 4}, true, TextureCompression::None, 0x4, 113, 0, {}, 0, 97, 2, 1, 1, 8, {0xC0, 0xC1, 0xC2, 0xCF}},
        {{SampleType::U8, 3}, false, TextureCompression::Bc1, 0x4, kDxt1, 0, {}, 0, 132, 1, 128, 2, 8, {0}},
        {{SampleType::U8, 4}, false, TextureCompression::Bc3, 0x4, kDxt5, 0, {}, 0, 138, 1, 130, 2, 16, {0x1F, 0}},
        {{SampleType::U8, 1}, false, TextureCompression::Bc4, 0x4, kAti1, 0, {}, 0, 139, 1, 131, 1, 8, {0}},
        {{SampleType::U8, 2}, false, TextureCompression::Bc5, 0x4, kAti2, 0, {}, 0, 141, 1, 132, 1, 16, {0, 1}},
    };
    const auto u32 = [](const Bytes& file, std::size_t at) {
        return static_cast<std::uint32_t>(file[at] | file[at + 1] << 8 | file[at + 2] << 16) |
               static_cast<std::uint32_t>(file[at + 3]) << 24;
    };
    const auto u64 = [&u32](const Bytes& file, std::size_t at) { return u32(file, at) | std::uint64_t{u32(file, at + 4)} << 32; };
    for (const auto& row : rows) {
        const bool blocks = row.compression != TextureCompression::None;
        // The bytes of a level: whole blocks, or texels as the container stores them.
        const auto levelBytes = [&](std::uint32_t w, std::uint32_t h, TextureFormat format) -> std::uint64_t {
            if (blocks)
                return (w + 3) / 4 * std::uint64_t{(h + 3) / 4} * row.blockBytes;
            if (format == TextureFormat::Ktx2)
                return std::uint64_t{w} * h * row.blockBytes;
            const unsigned stored = row.layout.channels == 3 && row.layout.type != SampleType::U8 ? 4 : row.layout.channels;
            return std::uint64_t{w} * h * stored * (row.half ? 2 : sampleBytes(row.layout.type));
        };
        const Case dds{TextureFormat::Dds, row.layout, row.half, 13, 6, row.compression};
        SCOPED_TRACE(describe(dds));
        const Chain chain = makeChain(dds);  // 13 × 6, 6 × 3, 3 × 1, 1 × 1
        const Bytes file = encodeChain(dds, chain);
        ASSERT_GT(file.size(), 148u);
        EXPECT_EQ(u32(file, 0), 0x20534444u);  // "DDS "
        EXPECT_EQ(u32(file, 4), 124u);
        EXPECT_EQ(u32(file, 8), 0x21007u | (blocks ? 0x80000u : 0x8u));
        EXPECT_EQ(u32(file, 12), 6u);
        EXPECT_EQ(u32(file, 16), 13u);
        EXPECT_EQ(u32(file, 20), blocks ? levelBytes(13, 6, TextureFormat::Dds) : levelBytes(13, 1, TextureFormat::Dds));
        EXPECT_EQ(u32(file, 28), 4u);
        EXPECT_EQ(u32(file, 80), row.flags);
        EXPECT_EQ(u32(file, 84), row.fourCc);
        EXPECT_EQ(u32(file, 88), row.bits);
        for (int m = 0; m < 4; ++m)
            EXPECT_EQ(u32(file, 92 + 4 * m), row.masks[m]) << "mask " << m;
        EXPECT_EQ(u32(file, 108), 0x401008u);  // a texture with mip levels
        std::uint64_t data = 0;
        for (const SampleImage& level : chain.levels)
            data += levelBytes(level.width, level.height, TextureFormat::Dds);
        EXPECT_EQ(file.size(), (row.dxgi != 0 ? 148 : 128) + data);
        if (row.dxgi != 0) {
            EXPECT_EQ(u32(file, 128), row.dxgi);
        }

        if (row.vkFormat == 0) {  // KTX2 holds no 16-bit grey
            EXPECT_NE(formatRefusal(TextureFormat::Ktx2, row.layout, row.half, row.compression), nullptr);
            continue;
        }
        const Case ktx2{TextureFormat::Ktx2, row.layout, row.half, 13, 6, row.compression};
        const Bytes k = encodeChain(ktx2, chain);
        ASSERT_GT(k.size(), 200u);
        EXPECT_EQ(Bytes(k.begin(), k.begin() + 12),
                  (Bytes{0xAB, 'K', 'T', 'X', ' ', '2', '0', 0xBB, '\r', '\n', 0x1A, '\n'}));
        const std::uint32_t header[9] = {row.vkFormat, row.typeSize, 13, 6, 0, 0, 1, 4, 0};
        for (int f = 0; f < 9; ++f)
            EXPECT_EQ(u32(k, 12 + 4 * f), header[f]) << "header field " << f;
        // The descriptor right after the level index, its samples as the format defines them.
        const std::size_t dfd = u32(k, 48), samples = row.channels.size();
        EXPECT_EQ(dfd, 80u + 24 * 4);
        EXPECT_EQ(u32(k, 52), 28 + 16 * samples);
        EXPECT_EQ(u32(k, dfd), 28 + 16 * samples);
        EXPECT_EQ(u32(k, dfd + 4), 0u);
        EXPECT_EQ(u32(k, dfd + 8), 2 | (24 + 16 * samples) << 16);
        EXPECT_EQ(u32(k, dfd + 12), row.model | 1 << 8 | row.transfer << 16);
        EXPECT_EQ(u32(k, dfd + 16), blocks ? 0x0303u : 0u);
        EXPECT_EQ(u32(k, dfd + 20), row.blockBytes);
        for (std::size_t s = 0; s < samples; ++s) {
            const std::uint32_t word = u32(k, dfd + 28 + 16 * s);
            EXPECT_EQ(word >> 24, row.channels[s]) << "sample " << s;
            const std::uint32_t bits = blocks ? 64 : row.blockBytes * 8 / static_cast<std::uint32_t>(samples);
            EXPECT_EQ(word & 0xFFFFFF, s * bits | (bits - 1) << 16) << "sample " << s;
            const bool floats = (row.channels[s] & 0x80) != 0;
            EXPECT_EQ(u32(k, dfd + 36 + 16 * s), floats ? 0xBF800000u : 0u) << "sample " << s;
            EXPECT_EQ(u32(k, dfd + 40 + 16 * s), floats ? 0x3F800000u : bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1)
                << "sample " << s;
        }
        // KTXwriter, then the levels from the smallest up, each on its block's size and 4.
        const std::size_t keys = u32(k, 56);
        EXPECT_EQ(keys, dfd + 28 + 16 * samples);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&k[keys + 4])), "KTXwriter");
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&k[keys + 14])), "Orbilune");
        EXPECT_EQ(u64(k, 64), 0u);
        EXPECT_EQ(u64(k, 72), 0u);
        std::uint64_t next = k.size();
        for (std::size_t level = 0; level < 4; ++level) {
            const std::uint64_t offset = u64(k, 80 + 24 * level), length = u64(k, 88 + 24 * level);
            EXPECT_EQ(length, levelBytes(chain.levels[level].width, chain.levels[level].height, TextureFormat::Ktx2));
            EXPECT_EQ(u64(k, 96 + 24 * level), length);
            EXPECT_EQ(offset % std::max<std::uint32_t>(4, row.blockBytes), 0u) << "level " << level;
            EXPECT_LE(offset + length, next) << "level " << level;
            EXPECT_GT(offset + length + std::max<std::uint32_t>(4, row.blockBytes), next) << "level " << level;
            next = offset;
        }
        EXPECT_GE(next, keys + u32(k, 60));
    }
}

// A chain whose levels are not the container's halving, or that mixes layouts, goes on past
// 1 × 1, or lacks its samples, is refused; the whole chain from 12 × 12 is taken.
TEST(TextureContainers, ChainsOtherThanTheContainersHalvingAreRefused)
{
    const Case c{TextureFormat::Ktx2, {SampleType::U8, 4}, false, 12, 12};
    const TestImage eight = makeImage(c.layout, 8, 8), grey = makeImage({SampleType::U8, 1}, 6, 6);
    const struct {
        const char* what;
        std::function<void(std::vector<SampleImage>&)> change;
        bool taken;
    } rows[] = {
        {"the chain as it is", [](std::vector<SampleImage>&) {}, true},
        {"the largest level alone", [](std::vector<SampleImage>& levels) { levels.resize(1); }, true},
        {"no level", [](std::vector<SampleImage>& levels) { levels.clear(); }, false},
        // 8 + 2 rings of border round 12 - 4: each level's border kept, as the containers do not.
        {"a border kept on every level", [&eight](std::vector<SampleImage>& levels) { levels[1] = eight.image; }, false},
        {"a level of another layout", [&grey](std::vector<SampleImage>& levels) { levels[1] = grey.image; }, false},
        {"a level wider than half", [](std::vector<SampleImage>& levels) { levels[2].width += 1; }, false},
        {"a level past 1 × 1", [](std::vector<SampleImage>& levels) { levels.push_back(levels.back()); }, false},
        {"a level without samples", [](std::vector<SampleImage>& levels) { levels[3].data = nullptr; }, false},
        {"rows shorter than a level's texels", [](std::vector<SampleImage>& levels) { levels[1].rowBytes = 8; }, false},
    };
    const Chain chain = makeChain(c);  // 12, 6, 3, 1
    for (const auto& row : rows)
        for (const TextureFormat format : {TextureFormat::Dds, TextureFormat::Ktx2}) {
            std::vector<SampleImage> levels = chain.levels;
            row.change(levels);
            Bytes file{1, 2, 3};
            EXPECT_EQ(encodeTextureChain(format, levels.data(), levels.size(), ChainEncoding{}, file), row.taken)
                << textureFormatName(format).name << ": " << row.what;
            EXPECT_EQ(file.empty(), !row.taken) << row.what;
        }
}

// A smooth picture of `layout` whose every channel differs.
TestImage smoothImage(SampleLayout layout, std::uint32_t width, std::uint32_t height)
{
    TestImage made;
    made.bytes.resize(std::size_t{width} * height * layout.channels);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            for (unsigned c = 0; c < layout.channels; ++c)
                made.bytes[(y * width + x) * layout.channels + c] = static_cast<unsigned char>(
                    127.5 + 110 * std::sin(x / (17.0 + 5 * c) + c) * std::cos(y / (23.0 - 3 * c) - c));
    made.image = {width, height, layout, made.bytes.data(), std::size_t{width} * layout.channels};
    return made;
}

double psnrOf(const Bytes& a, const Bytes& b)
{
    double squares = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        squares += (a[i] - b[i]) * (a[i] - b[i]);
    return 10 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / std::max(squares, 1e-9));
}

// Each block compression keeps a smooth picture of sides that are no multiple of 4 close to
// the original, at every level, and DDS and KTX2 hold the same blocks.
TEST(TextureContainers, BlocksKeepASmoothPictureAtEveryLevel)
{
    const struct {
        TextureCompression compression;
        unsigned channels;
        double psnr;  // at least, in dB
    } rows[] = {
        {TextureCompression::Bc1, 3, 35}, {TextureCompression::Bc3, 4, 35},
        {TextureCompression::Bc4, 1, 45}, {TextureCompression::Bc5, 2, 45},
    };
    for (const auto& row : rows) {
        const SampleLayout layout{SampleType::U8, row.channels};
        std::vector<TestImage> pictures;
        for (std::uint32_t w = 301, h = 203;; w = std::max(1u, w / 2), h = std::max(1u, h / 2)) {
            pictures.push_back(smoothImage(layout, w, h));
            if (w == 1 && h == 1)
                break;
        }
        std::vector<SampleImage> levels;
        for (const TestImage& picture : pictures)
            levels.push_back(picture.image);
        Bytes dds, ktx2;
        ASSERT_TRUE(encodeTextureChain(TextureFormat::Dds, levels.data(), levels.size(),
                                       ChainEncoding{false, row.compression, 2}, dds));
        ASSERT_TRUE(encodeTextureChain(TextureFormat::Ktx2, levels.data(), levels.size(),
                                       ChainEncoding{false, row.compression, 2}, ktx2));
        const char* name = kTextureCompressions[static_cast<int>(row.compression)].name;
        SamplePicture level;
        for (unsigned k = 0; k < levels.size(); ++k) {
            ASSERT_TRUE(readTextureContainer(dds.data(), dds.size(), k, level)) << name << " level " << k;
            ASSERT_EQ(level.layout, layout);
            const double psnr = psnrOf(level.samples, pictures[k].bytes);
            if (levels[k].width >= 8) {  // the smallest are too few texels to measure
                EXPECT_GE(psnr, row.psnr) << name << " level " << k;
            }
            SamplePicture same;
            ASSERT_TRUE(readTextureContainer(ktx2.data(), ktx2.size(), k, same)) << name << " level " << k;
            EXPECT_TRUE(same.samples == level.samples) << name << " level " << k;
        }
        // The blocks of the largest level end each file: DDS's last, KTX2's.
        const std::size_t bytes = ((301 + 3) / 4) * ((203 + 3) / 4) * (row.channels % 2 == 1 ? 8u : 16u);
        std::size_t ddsAt = dds.size();
        for (std::size_t k = levels.size(); k-- > 1;)
            ddsAt -= ((levels[k].width + 3) / 4) * ((levels[k].height + 3) / 4) * (row.channels % 2 == 1 ? 8u : 16u);
        EXPECT_TRUE(std::equal(dds.begin() + static_cast<std::ptrdiff_t>(ddsAt - bytes), dds.begin() + static_cast<std::ptrdiff_t>(ddsAt),
                               ktx2.end() - static_cast<std::ptrdiff_t>(bytes)))
            << name;
    }
}

// The decoders' palettes: BC1's four colours and its three with transparent black, BC3's
// colour block always of four, the eight and the six values (with 0 and 255) of a channel
// block, and the order of the indices, texel 0 in the lowest bits.
TEST(TextureContainers, BlockDecodersFollowTheBlockLayouts)
{
    // 565 colours: red (0xF800) and blue (0x001F); indices 0, 1, 2, 3 in the first row.
    const unsigned char fourColours[8] = {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0, 0, 0};
    const unsigned char threeColours[8] = {0x1F, 0x00, 0x00, 0xF8, 0xE4, 0, 0, 0};
    unsigned char texels[16][4];
    decodeColourBlock(fourColours, true, texels);
    const unsigned char expectedFour[4][4] = {{255, 0, 0, 255}, {0, 0, 255, 255}, {170, 0, 85, 255}, {85, 0, 170, 255}};
    // Indices 0b11100100 for the first four texels: 0, 1, 2, 3.
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(std::memcmp(texels[i], expectedFour[i], 4), 0) << "four colours, texel " << i;
    EXPECT_EQ(std::memcmp(texels[4], expectedFour[0], 4), 0);
    decodeColourBlock(threeColours, true, texels);
    const unsigned char expectedThree[4][4] = {{0, 0, 255, 255}, {255, 0, 0, 255}, {127, 0, 127, 255}, {0, 0, 0, 0}};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(std::memcmp(texels[i], expectedThree[i], 4), 0) << "three colours, texel " << i;
    decodeColourBlock(threeColours, false, texels);  // BC3's colour: four colours whatever the order
    EXPECT_EQ(texels[3][3], 255);
    EXPECT_EQ(texels[3][2], 85);

    // Indices 0 to 7 in the first eight texels: 0b111'110'101'100'011'010'001'000.
    const unsigned char eight[8] = {210, 70, 0x88, 0xC6, 0xFA, 0, 0, 0};
    const unsigned char six[8] = {70, 210, 0x88, 0xC6, 0xFA, 0, 0, 0};
    unsigned char values[16];
    decodeChannelBlock(eight, values);
    const unsigned char expectedEight[8] = {210, 70, 190, 170, 150, 130, 110, 90};
    const unsigned char expectedSix[8] = {70, 210, 98, 126, 154, 182, 0, 255};
    EXPECT_EQ(std::memcmp(values, expectedEight, 8), 0);
    EXPECT_EQ(values[8], 210);
    decodeChannelBlock(six, values);
    EXPECT_EQ(std::memcmp(values, expectedSix, 8), 0);
}

// A decoded picture's samples, densely, in its channels' order (8-bit RGB and RGBA pixels
// are picture words: blue, green, red and alpha in memory).
Bytes samplesOf(DecodedPicture& picture)
{
    Bytes samples;
    const bool words = picture.layout.type == SampleType::U8 && picture.layout.channels >= 3;
    for (std::uint32_t y = 0; y < picture.rows; ++y)
        for (std::uint32_t x = 0; x < picture.columns; ++x) {
            const unsigned char* pixel = pixelAt(picture, x, y);
            if (!words)
                samples.insert(samples.end(), pixel, pixel + texelBytes(picture.layout));
            else
                samples.insert(samples.end(), {pixel[2], pixel[1], pixel[0]});
            if (words && picture.layout.channels == 4)
                samples.push_back(pixel[3]);
        }
    return samples;
}

int readKeepingSamples(TextureFormat format, const std::string& path, DecodedPicture& picture)
{
    picture.keepSamples = true;
    switch (format) {
    case TextureFormat::Png:
        return readPngDirect(path.c_str(), picture);
    case TextureFormat::Tiff:
        return readTiffDirect(path.c_str(), picture);
    default:
        return readExrDirect(path.c_str(), picture);
    }
}

TEST(PortableReaders, ReadEveryLayoutTheWritersWriteBack)
{
    testing_support::ScratchDir dir;
    for (const TextureFormat format : {TextureFormat::Png, TextureFormat::Tiff, TextureFormat::Exr})
        for (bool half : {false, true})
            for (const Case& c : casesOf(format, half)) {
                const TestImage image = makeImage(c.layout, c.width, c.height);
                const std::string path = dir.write(std::string("t") + textureFormatName(format).extension, encode(c, image));
                DecodedPicture picture;
                ASSERT_EQ(readKeepingSamples(format, path, picture), imaging_status::kOk) << describe(c);
                EXPECT_EQ(picture.layout, c.layout) << describe(c);
                EXPECT_EQ(picture.fileLayout, c.layout) << describe(c);
                Bytes expected;
                for (std::uint32_t y = 0; y < c.height; ++y) {
                    const unsigned char* row = image.bytes.data() + y * image.image.rowBytes;
                    expected.insert(expected.end(), row, row + c.width * texelBytes(c.layout));
                }
                if (half)  // the floats the half floats stand for
                    for (std::size_t i = 0; i < expected.size(); i += 4) {
                        float f;
                        std::memcpy(&f, &expected[i], 4);
                        f = halfToFloat(floatToHalf(f));
                        std::memcpy(&expected[i], &f, 4);
                    }
                EXPECT_TRUE(samplesOf(picture) == expected) << describe(c);
            }
}

// A PNG whose first image data chunk ends just where the reader's band of rows (256 KiB)
// fills: the inflater, asked once more with no input and no room, has nothing to give (zlib
// says so with Z_BUF_ERROR, which is no error), and the next chunk goes on. The zlib stream is
// of stored blocks, so that each byte of rows lands where it is put.
TEST(PortableReaders, ReadPngImageDataThatEndsWhereTheBandFills)
{
    const std::uint32_t width = 1023, height = 512;  // rows of 1024 bytes with the filter byte
    Bytes rows, pixels;
    for (std::uint32_t y = 0; y < height; ++y) {
        rows.push_back(0);
        for (std::uint32_t x = 0; x < width; ++x) {
            rows.push_back(static_cast<unsigned char>(x * 7 + y * 13));
            pixels.push_back(rows.back());
        }
    }
    Bytes stream = {0x78, 0x01};
    for (std::size_t at = 0; at < rows.size(); at += 65535) {
        const auto length = static_cast<std::uint16_t>(std::min<std::size_t>(65535, rows.size() - at));
        stream.push_back(at + length == rows.size() ? 1 : 0);
        for (const std::uint16_t half : {length, static_cast<std::uint16_t>(~length)})
            stream.insert(stream.end(), {static_cast<unsigned char>(half), static_cast<unsigned char>(half >> 8)});
        stream.insert(stream.end(), rows.begin() + static_cast<std::ptrdiff_t>(at),
                      rows.begin() + static_cast<std::ptrdiff_t>(at + length));
    }
    std::uint32_t a = 1, b = 0;
    for (unsigned char byte : rows) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    const std::uint32_t adler = b << 16 | a;
    const auto putBig = [](Bytes& out, std::uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<unsigned char>(value >> shift));
    };
    putBig(stream, adler);
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const auto chunk = [&](const char* type, const unsigned char* data, std::size_t length) {
        putBig(png, static_cast<std::uint32_t>(length));
        const std::size_t typeAt = png.size();
        png.insert(png.end(), type, type + 4);
        png.insert(png.end(), data, data + length);
        putBig(png, crc32Update(0, png.data() + typeAt, 4 + length));
    };
    Bytes header;
    putBig(header, width);
    putBig(header, height);
    header.insert(header.end(), {8, 0, 0, 0, 0});  // 8-bit grey
    chunk("IHDR", header.data(), header.size());
    // The 262144th byte of rows comes out past the zlib header and five block headers.
    const std::size_t split = 2 + 5 * 5 + 262144;
    chunk("IDAT", stream.data(), split);
    chunk("IDAT", stream.data() + split, stream.size() - split);
    chunk("IEND", nullptr, 0);
    testing_support::ScratchDir dir;
    DecodedPicture picture;
    ASSERT_EQ(readKeepingSamples(TextureFormat::Png, dir.write("band.png", png), picture), imaging_status::kOk);
    EXPECT_TRUE(samplesOf(picture) == pixels);
}

// The pictures of tests/windows/data/readers, 13 × 7: TIFF written by libtiff's tiffcp (and
// ImageMagick, for 16-bit planes) from plain strips, OpenEXR by OpenImageIO, all of one
// picture whose samples are sixteen(x, y, channel) made into each type.
std::uint32_t sixteen(std::uint32_t x, std::uint32_t y, std::uint32_t c)
{
    return (x * 5003 + y * 1471 * (c + 1) + c * 20011 + x * y * 37 % 256) % 65536;
}

enum class Stored { U8, U16, I16, U32, F32, Half, Palette, Grey4 };

std::string readerPicture(const char* name)
{
    std::string path = std::string(ORBILUNE_READER_PICTURES) + "/" + name;
#if defined(_WIN32)
    if (path[0] == '/')  // a Unix path, which Wine maps to Z:
        path = "Z:" + path;
#endif
    return path;
}

Bytes readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The samples the Linux build reads from a picture whose samples are stored as `stored`:
// 32-bit integers as floats of their values, half floats as floats, a palette's entries
// (entry i of channel k is (771 i + 4369 k) mod 65536) divided by 257, 4 bits scaled to 8.
Bytes expectedSamples(Stored stored, unsigned channels)
{
    Bytes samples;
    const auto put = [&samples](const auto value) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
        samples.insert(samples.end(), bytes, bytes + sizeof value);
    };
    for (std::uint32_t y = 0; y < 7; ++y)
        for (std::uint32_t x = 0; x < 13; ++x)
            for (std::uint32_t c = 0; c < channels; ++c) {
                const std::uint32_t v = sixteen(x, y, c);
                switch (stored) {
                case Stored::U8:
                    samples.push_back(static_cast<unsigned char>(v >> 8));
                    break;
                case Stored::U16:
                    put(static_cast<std::uint16_t>(v));
                    break;
                case Stored::I16:
                    put(static_cast<std::int16_t>(static_cast<std::int32_t>(v) - 32768));
                    break;
                case Stored::U32:
                    put(static_cast<float>(v * 65537));
                    break;
                case Stored::F32:
                    put((static_cast<float>(v) - 32768) / 256);
                    break;
                case Stored::Half:
                    put(static_cast<float>(v >> 6) / 64 - 8);
                    break;
                case Stored::Palette:
                    samples.push_back(static_cast<unsigned char>(((sixteen(x, y, 0) >> 8) * 771 + 4369 * c) % 65536 / 257));
                    break;
                case Stored::Grey4:
                    samples.push_back(static_cast<unsigned char>((v >> 12) * 17));
                    break;
                }
            }
    return samples;
}

TEST(PortableReaders, ReadTiffAndOpenExrOfEveryKindAsTheLinuxBuildDoes)
{
    const struct {
        const char* name;
        SampleLayout layout;
        Stored stored;
    } rows[] = {
        {"rgb16-strips.tif", {SampleType::U16, 3}, Stored::U16},
        {"rgb16-lzw-big-endian.tif", {SampleType::U16, 3}, Stored::U16},  // LZW, horizontal predictor
        {"rgba16-deflate-tiles-bigtiff.tif", {SampleType::U16, 4}, Stored::U16},
        {"rgba16-packbits-planes.tif", {SampleType::U16, 4}, Stored::U16},
        // Five channels, ExtraSamples of no stated meaning then alpha: OpenImageIO's alpha is the fifth,
        // so the fourth and fifth are dropped.
        {"rgb5-extras.tif", {SampleType::U16, 3}, Stored::U16},
        // Four channels, the fourth of no stated meaning: no alpha.
        {"rgb4-unknown-extra.tif", {SampleType::U16, 3}, Stored::U16},
        {"grey8-lzw-tiles.tif", {SampleType::U8, 1}, Stored::U8},
        {"rgb8-deflate.tif", {SampleType::U8, 3}, Stored::U8},
        {"ga8-packbits-big-endian.tif", {SampleType::U8, 2}, Stored::U8},
        {"int16-deflate.tif", {SampleType::I16, 1}, Stored::I16},
        {"float-rgb-lzw.tif", {SampleType::F32, 3}, Stored::F32},  // the floating-point predictor
        {"float-deflate-tiles.tif", {SampleType::F32, 1}, Stored::F32},
        {"float-lzw-big-endian.tif", {SampleType::F32, 1}, Stored::F32},
        {"double-deflate.tif", {SampleType::F32, 1}, Stored::F32},
        {"uint32.tif", {SampleType::F32, 1}, Stored::U32},
        {"half-lzw.tif", {SampleType::F32, 1}, Stored::Half},
        {"palette8-lzw.tif", {SampleType::U8, 3}, Stored::Palette},
        {"grey4.tif", {SampleType::U8, 1}, Stored::Grey4},
        {"rgba-half-none.exr", {SampleType::F32, 4}, Stored::Half},
        {"grey-float-rle.exr", {SampleType::F32, 1}, Stored::F32},
        {"ga-half-zips-decreasing.exr", {SampleType::F32, 2}, Stored::Half},  // data window at (3, −2)
        {"rgb-float-zip.exr", {SampleType::F32, 3}, Stored::F32},
    };
    testing_support::ScratchDir dir;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = readerPicture(row.name);
        const TextureFormat format = path.back() == 'r' ? TextureFormat::Exr : TextureFormat::Tiff;
        DecodedPicture picture;
        ASSERT_EQ(readKeepingSamples(format, path, picture), imaging_status::kOk);
        EXPECT_EQ(picture.layout, row.layout);
        EXPECT_EQ(picture.fileLayout, row.layout);
        EXPECT_EQ(picture.columns, 13u);
        EXPECT_EQ(picture.rows, 7u);
        EXPECT_TRUE(samplesOf(picture) == expectedSamples(row.stored, row.layout.channels));
        // Cut short anywhere in its data or directory, it is refused, never read past its end.
        const Bytes whole = readFile(path);
        for (const std::size_t length : {whole.size() / 2, whole.size() * 3 / 4}) {
            DecodedPicture cut;
            EXPECT_EQ(readKeepingSamples(format, dir.write("cut", Bytes(whole.begin(), whole.begin() + length)), cut),
                      imaging_status::kUnknownImageFormat)
                << length << " bytes";
            EXPECT_FALSE(cut.pixels);
        }
    }
    // A strip whose bytes stop short of its rows (two bytes short of the second of three
    // uncompressed strips) is refused, as libtiff refuses it a row at a time, and so is a
    // channel list whose last channel runs to its end without the zero byte that ends it; a
    // colour space the TIFF reader does not read is left to the platform's decoder.
    const struct {
        const char* name;
        TextureFormat format;
        int status;
    } others[] = {
        {"rgb16-strip-short.tif", TextureFormat::Tiff, imaging_status::kUnknownImageFormat},
        {"channels-unended.exr", TextureFormat::Exr, imaging_status::kUnknownImageFormat},
        {"cmyk.tif", TextureFormat::Tiff, kNotMine},
    };
    for (const auto& other : others) {
        DecodedPicture picture;
        EXPECT_EQ(readKeepingSamples(other.format, readerPicture(other.name), picture), other.status) << other.name;
        EXPECT_FALSE(picture.pixels) << other.name;
    }
}

// The checking tools read a set of ten DDS or KTX2 textures as they read the same set in
// TGA: the map back from them is the TGA set's, exactly when uncompressed, close in BC1.
TEST(TextureContainers, CheckingToolsReadASetOfThem)
{
    const struct {
        TextureFormat format;
        TextureCompression compression;
        double psnr;  // of the map against the TGA set's map, at least (dB; 99: the same)
    } rows[] = {
        {TextureFormat::Dds, TextureCompression::None, 99},
        {TextureFormat::Ktx2, TextureCompression::None, 99},
        {TextureFormat::Dds, TextureCompression::Bc1, 38},
        {TextureFormat::Ktx2, TextureCompression::Bc1, 38},
    };
    testing_support::ScratchDir dir;
    for (const char* folder : {"tga", "ddsnone", "ktx2none", "ddsbc1", "ktx2bc1"})
        std::filesystem::create_directory(dir.file(folder));
    std::vector<TestImage> textures;
    for (int k = 0; k < kTextureCount; ++k) {
        textures.push_back(smoothImage({SampleType::U8, 3}, 64, 64));
        for (std::size_t i = 0; i < textures[k].bytes.size(); ++i)
            textures[k].bytes[i] = static_cast<unsigned char>(textures[k].bytes[i] / 2 + 12 * k);
        Bytes file;
        ASSERT_TRUE(encodeTexture(TextureFormat::Tga, textures[k].image, false, file));
        dir.write("tga/" + textureFileName(k), file);
    }
    SamplePicture reference;
    ASSERT_EQ(renderMapFromTextures(dir.file("tga").c_str(), 256, TextureRead::Bilinear, reference), 1);
    for (const auto& row : rows) {
        const std::string folder = std::string(textureFormatName(row.format).name) +
                                   kTextureCompressions[static_cast<int>(row.compression)].name;
        for (int k = 0; k < kTextureCount; ++k) {
            const Case c{row.format, {SampleType::U8, 3}, false, 64, 64, row.compression};
            Chain chain = makeChain(c);
            chain.levels[0] = textures[k].image;
            dir.write(folder + "/" + textureFileName(k, row.format), encodeChain(c, chain));
        }
        SamplePicture map;
        ASSERT_EQ(renderMapFromTextures(dir.file(folder).c_str(), 256, TextureRead::Bilinear, map), 1) << folder;
        ASSERT_EQ(map.width, reference.width);
        Bytes rgb;  // KTX2's RGBA read as it is: its alpha opaque
        for (std::size_t i = 0; i < map.samples.size(); i += map.layout.channels) {
            rgb.insert(rgb.end(), &map.samples[i], &map.samples[i] + 3);
            if (map.layout.channels == 4) {
                EXPECT_EQ(map.samples[i + 3], 255) << folder;
            }
        }
        EXPECT_GE(std::min(psnrOf(rgb, reference.samples), 99.0), row.psnr) << folder;
    }
    // A set with a texture cut short is refused, not read past its end.
    const Bytes whole = readFile(dir.file("ktx2none/new3.ktx2"));
    dir.write("ktx2none/new3.ktx2", Bytes(whole.begin(), whole.end() - 100));
    testing_support::CapturedErrors errors;
    SamplePicture map;
    EXPECT_EQ(renderMapFromTextures(dir.file("ktx2none").c_str(), 256, TextureRead::Bilinear, map), 0);
    EXPECT_EQ(errors.messages().size(), 1u);
}

#if !defined(_WIN32)

// The samples a reader returns, in the image's channel order and the machine's byte order.
using Samples = Bytes;

// What the reader must return: the image's samples, densely, with floats made half for a
// half file (by Imath, as an independent conversion) and 16-bit PNG samples big-endian.
Samples expectedSamples(const Case& c, const TestImage& image)
{
    Samples samples;
    const std::size_t size = sampleBytes(c.layout.type);
    for (std::uint32_t y = 0; y < c.height; ++y) {
        const unsigned char* row = image.bytes.data() + y * image.image.rowBytes;
        for (std::size_t i = 0; i < c.width * c.layout.channels; ++i) {
            const unsigned char* at = row + i * size;
            if (c.half) {
                float f;
                std::memcpy(&f, at, 4);
                const std::uint16_t bits = Imath::half(f).bits();
                samples.insert(samples.end(), reinterpret_cast<const unsigned char*>(&bits),
                               reinterpret_cast<const unsigned char*>(&bits) + 2);
            } else if (c.format == TextureFormat::Png && size == 2) {
                samples.insert(samples.end(), {at[1], at[0]});
            } else {
                samples.insert(samples.end(), at, at + size);
            }
        }
    }
    return samples;
}

void readPngData(png_structp png, png_bytep data, std::size_t bytes)
{
    auto* file = static_cast<std::pair<const Bytes*, std::size_t>*>(png_get_io_ptr(png));
    if (file->second + bytes > file->first->size())
        png_error(png, "read past the end");
    std::memcpy(data, file->first->data() + file->second, bytes);
    file->second += bytes;
}

// libpng's rows, as the file holds them (no transformations); empty if it refuses the file.
Samples readPng(const Bytes& file, const Case& c)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::pair<const Bytes*, std::size_t> source{&file, 0};
    Samples samples;
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_set_read_fn(png, &source, readPngData);
        png_read_info(png, info);
        static const int kColourTypes[] = {0, PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                                           PNG_COLOR_TYPE_RGB_ALPHA};
        EXPECT_EQ(png_get_color_type(png, info), kColourTypes[c.layout.channels]);
        EXPECT_EQ(png_get_bit_depth(png, info), 8 * sampleBytes(c.layout.type));
        EXPECT_EQ(png_get_interlace_type(png, info), PNG_INTERLACE_NONE);
        const std::size_t rowBytes = png_get_rowbytes(png, info);
        samples.resize(rowBytes * png_get_image_height(png, info));
        std::vector<png_bytep> rows(png_get_image_height(png, info));
        for (std::size_t y = 0; y < rows.size(); ++y)
            rows[y] = samples.data() + y * rowBytes;
        png_read_image(png, rows.data());
        png_read_end(png, nullptr);
    } else {
        samples.clear();
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return samples;
}

// OpenImageIO's samples in the file's own type, its channels put in the image's order by
// name (Y; Y A; R G B; R G B A); alpha read as stored, not multiplied in.
Samples readWithOpenImageIO(const std::string& path, const Case& c)
{
    using namespace OIIO;
    ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto input = ImageInput::open(path, &config);
    if (!input) {
        ADD_FAILURE() << geterror();
        return {};
    }
    const ImageSpec& spec = input->spec();
    static const TypeDesc kFileTypes[] = {TypeDesc::UINT8, TypeDesc::UINT16, TypeDesc::INT16, TypeDesc::FLOAT};
    const TypeDesc type = c.half ? TypeDesc::HALF : kFileTypes[static_cast<int>(c.layout.type)];
    EXPECT_EQ(spec.format, type);
    EXPECT_EQ(spec.width, static_cast<int>(c.width));
    EXPECT_EQ(spec.height, static_cast<int>(c.height));
    EXPECT_EQ(spec.nchannels, static_cast<int>(c.layout.channels));
    if (spec.nchannels != static_cast<int>(c.layout.channels))
        return {};
    // The file says straight alpha (DDS's legacy header says nothing of it).
    if (hasAlpha(c.layout.channels) && c.format != TextureFormat::Exr && c.format != TextureFormat::Dds) {
        EXPECT_EQ(spec.alpha_channel, spec.nchannels - 1);
        EXPECT_EQ(spec.get_int_attribute("oiio:UnassociatedAlpha"), 1);
    }
    Samples dense(spec.image_bytes(true));
    EXPECT_TRUE(input->read_image(0, 0, 0, spec.nchannels, type, dense.data())) << input->geterror();
    static const char* const kNames[5][4] = {{}, {"Y"}, {"Y", "A"}, {"R", "G", "B"}, {"R", "G", "B", "A"}};
    const std::size_t size = type.size(), texels = dense.size() / size / c.layout.channels;
    Samples samples(dense.size());
    for (unsigned channel = 0; channel < c.layout.channels; ++channel) {
        const auto& names = spec.channelnames;
        const char* expected = c.layout.channels > 2 || c.format == TextureFormat::Exr ? kNames[c.layout.channels][channel]
                                                                                       : nullptr;
        std::size_t from = channel;
        if (expected != nullptr) {
            from = std::find(names.begin(), names.end(), expected) - names.begin();
            if (from == names.size()) {
                ADD_FAILURE() << "no channel " << expected;
                return {};
            }
        }
        for (std::size_t i = 0; i < texels; ++i)
            std::memcpy(&samples[(i * c.layout.channels + channel) * size], &dense[(i * c.layout.channels + from) * size], size);
    }
    return samples;
}

TEST(TextureEncoder, AnotherReaderReadsEveryLayoutBackExactly)
{
    testing_support::ScratchDir dir;
    for (const TextureFormatName& format : kTextureFormats)
        for (bool half : {false, true})
            for (const Case& c : casesOf(format.format, half)) {
                // OpenImageIO 2.4 reads no KTX2, and of DDS 8-bit samples alone (L16 cut to 8
                // bits); TextureContainers reads those back.
                if (c.format == TextureFormat::Ktx2 || (c.format == TextureFormat::Dds && c.layout.type != SampleType::U8))
                    continue;
                const TestImage image = makeImage(c.layout, c.width, c.height);
                const Bytes file = encode(c, image);
                const Samples read = c.format == TextureFormat::Png
                                         ? readPng(file, c)
                                         : readWithOpenImageIO(dir.write(std::string("t") + format.extension, file), c);
                EXPECT_TRUE(read == expectedSamples(c, image)) << describe(c);
            }
}

// OpenImageIO decodes our DDS blocks as our reader does, give or take the rounding of the
// interpolated colours and values, at every level.
TEST(TextureContainers, OpenImageIOReadsTheBlocksAsOurReader)
{
    testing_support::ScratchDir dir;
    for (const TextureCompression compression :
         {TextureCompression::Bc1, TextureCompression::Bc3, TextureCompression::Bc4, TextureCompression::Bc5})
        for (const Case& c : casesOf(TextureFormat::Dds, false, compression)) {
            const Chain chain = makeChain(c);
            const Bytes file = encodeChain(c, chain);
            const std::string path = dir.write("blocks.dds", file);
            auto input = OIIO::ImageInput::open(path);
            ASSERT_TRUE(input) << describe(c) << ": " << OIIO::geterror();
            for (unsigned k = 0; k < chain.levels.size(); ++k) {
                SamplePicture ours;
                ASSERT_TRUE(readTextureContainer(file.data(), file.size(), k, ours));
                ASSERT_TRUE(input->seek_subimage(0, static_cast<int>(k))) << describe(c) << " level " << k;
                const OIIO::ImageSpec& spec = input->spec();
                ASSERT_EQ(spec.width, static_cast<int>(ours.width));
                ASSERT_EQ(spec.height, static_cast<int>(ours.height));
                Bytes theirs(spec.image_bytes(true));
                ASSERT_TRUE(input->read_image(0, static_cast<int>(k), 0, spec.nchannels, OIIO::TypeDesc::UINT8, theirs.data()));
                const unsigned channels = c.layout.channels;  // OpenImageIO gives BC1 an alpha channel too
                int worst = 0;
                for (std::size_t i = 0; i < std::size_t{ours.width} * ours.height; ++i)
                    for (unsigned ch = 0; ch < channels; ++ch)
                        worst = std::max(worst, std::abs(ours.samples[i * channels + ch] - theirs[i * spec.nchannels + ch]));
                EXPECT_LE(worst, 1) << describe(c) << " level " << k;
            }
        }
}

TEST(TextureEncoder, HalfFloatsAreImathsForEveryStepOfTheFloats)
{
    // About every 4096th float, a prime step apart so that the mantissa bits that decide the
    // rounding take every value, at every exponent; then each of the test floats.
    for (std::uint64_t bits = 0; bits < (1ull << 32); bits += 4093) {
        float f;
        const auto word = static_cast<std::uint32_t>(bits);
        std::memcpy(&f, &word, 4);
        ASSERT_EQ(floatToHalf(f), Imath::half(f).bits()) << std::hex << word;
    }
    for (float f : kFloats)
        EXPECT_EQ(floatToHalf(f), Imath::half(f).bits()) << f;
    // And back: every half is the float Imath makes of it.
    for (std::uint32_t bits = 0; bits < 65536; ++bits) {
        Imath::half half;
        half.setBits(static_cast<std::uint16_t>(bits));
        const float mine = halfToFloat(static_cast<std::uint16_t>(bits)), imaths = half;
        ASSERT_EQ(std::memcmp(&mine, &imaths, 4), 0) << std::hex << bits;
    }
}

#endif

}  // namespace
