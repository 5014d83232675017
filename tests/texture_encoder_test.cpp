// The texture writers: what each format holds and how it says no; every layout written and
// read back sample for sample by another reader (libpng, OpenImageIO, on Linux); and the
// files' hashes, the same on every platform, so that the Windows build's bytes are held to
// the Linux build's. Then the portable readers of PNG, TIFF and OpenEXR that keep a map's
// own samples (the Windows build's, where GDI+ cannot): every layout the writers write read
// back, and pictures of every kind that libtiff, ImageMagick and OpenImageIO write read as
// the Linux build reads them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "decoded_picture.h"
#include "half_float.h"
#include "image_object.h"
#include "test_support.h"
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

// Every case that a format takes: its layouts (as half floats too, for OpenEXR), tiny and
// larger.
struct Case {
    TextureFormat format;
    SampleLayout layout;
    bool half;
    std::uint32_t width, height;
};

std::vector<Case> casesOf(TextureFormat format, bool half)
{
    const struct {
        std::uint32_t width, height;
    } sizes[] = {{5, 3}, {613, 451}};
    std::vector<Case> cases;
    for (const auto& size : sizes)
        for (SampleType type : kTypes)
            for (unsigned channels = 1; channels <= 4; ++channels)
                if (formatRefusal(format, {type, channels}, half) == nullptr)
                    cases.push_back({format, {type, channels}, half, size.width, size.height});
    return cases;
}

std::string describe(const Case& c)
{
    static const char* const kTypeNames[] = {"U8", "U16", "I16", "F32"};
    return std::string(textureFormatName(c.format).name) + " " + kTypeNames[static_cast<int>(c.layout.type)] + " × " +
           std::to_string(c.layout.channels) + (c.half ? " half " : " ") + std::to_string(c.width) + "×" +
           std::to_string(c.height);
}

Bytes encode(const Case& c, const TestImage& image, unsigned threads = 1)
{
    Bytes file;
    EXPECT_TRUE(encodeTexture(c.format, image.image, c.half, file, threads)) << describe(c);
    return file;
}

TEST(TextureFormats, HoldWhatTheySayAndNameWhatWouldWork)
{
    // By format and sample type: which channel counts (1 to 4) it holds, '-' for none.
    const struct {
        TextureFormat format;
        bool half;
        const char* holds[4];  // U8, U16, I16, F32
    } table[] = {
        {TextureFormat::Tga, false, {"1-34", "----", "----", "----"}},
        {TextureFormat::Png, false, {"1234", "1234", "----", "----"}},
        {TextureFormat::Tiff, false, {"1234", "1234", "1234", "1234"}},
        {TextureFormat::Exr, false, {"----", "----", "----", "1234"}},
        {TextureFormat::Exr, true, {"----", "----", "----", "1234"}},
        {TextureFormat::Tga, true, {"----", "----", "----", "----"}},
        {TextureFormat::Png, true, {"----", "----", "----", "----"}},
        {TextureFormat::Tiff, true, {"----", "----", "----", "----"}},
    };
    for (const auto& row : table)
        for (int t = 0; t < 4; ++t)
            for (unsigned channels = 0; channels <= 5; ++channels) {
                const SampleLayout layout{kTypes[t], channels};
                const char* refusal = formatRefusal(row.format, layout, row.half);
                const bool holds = channels >= 1 && channels <= 4 && row.holds[t][channels - 1] != '-';
                const std::string what = describe({row.format, layout, row.half, 0, 0});
                EXPECT_EQ(refusal == nullptr, holds) << what;
                if (refusal == nullptr || channels < 1 || channels > 4)
                    continue;
                // Every format the message names after "--format" holds the layout (without
                // half, unless it is OpenEXR), and it names at least one.
                const std::string message = refusal;
                int named = 0;
                for (const TextureFormatName& other : kTextureFormats) {
                    const std::size_t at = message.find(std::string(" ") + other.name);
                    if (at == std::string::npos || message.find("--format") > at)
                        continue;
                    ++named;
                    const bool half = row.half && other.format == TextureFormat::Exr;
                    EXPECT_EQ(formatRefusal(other.format, layout, half), nullptr) << what << ": " << message;
                }
                EXPECT_GE(named, 1) << what << ": " << message;
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
    } golden[] = {
        {TextureFormat::Tga, false, 2341178064997534456ull},
        {TextureFormat::Png, false, 5526341617993128292ull},
        {TextureFormat::Tiff, false, 4826723219693085645ull},
        {TextureFormat::Exr, false, 8688126617008024316ull},
        {TextureFormat::Exr, true, 7043667444416629309ull},
    };
    for (const auto& row : golden) {
        for (const unsigned threads : {1u, 3u}) {
            std::uint64_t hash = 1469598103934665603ull;
            std::string each;
            for (const Case& c : casesOf(row.format, row.half)) {
                const Bytes file = encode(c, makeImage(c.layout, c.width, c.height), threads);
                hash = testing_support::fnv1a(file, hash);
                each += describe(c) + ": " + std::to_string(testing_support::fnv1a(file)) + "\n";
            }
            EXPECT_EQ(hash, row.hash) << textureFormatName(row.format).name << (row.half ? " half" : "") << ", "
                                      << threads << " threads\n" << each;
        }
    }
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
        // Five channels, ExtraSamples unspecified then alpha: OpenImageIO's alpha is the fifth,
        // so the fourth and fifth are dropped.
        {"rgb5-extras.tif", {SampleType::U16, 3}, Stored::U16},
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
    // A colour space it leaves to the platform's decoder.
    DecodedPicture cmyk;
    EXPECT_EQ(readKeepingSamples(TextureFormat::Tiff, readerPicture("cmyk.tif"), cmyk), kNotMine);
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
    if (hasAlpha(c.layout.channels) && c.format != TextureFormat::Exr) {  // the file says straight alpha
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
                const TestImage image = makeImage(c.layout, c.width, c.height);
                const Bytes file = encode(c, image);
                const Samples read = c.format == TextureFormat::Png
                                         ? readPng(file, c)
                                         : readWithOpenImageIO(dir.write(std::string("t") + format.extension, file), c);
                EXPECT_TRUE(read == expectedSamples(c, image)) << describe(c);
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
