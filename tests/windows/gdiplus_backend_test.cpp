// The GDI+ image backend as the generator sees it: the pixels it hands back, the paths it
// opens (UTF-8, in a program whose code page is the system's) and the files it refuses; and
// a map's own samples, from the portable readers for PNG, TIFF and OpenEXR and from GDI+ for
// the rest.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "decoded_picture.h"
#include "image_object.h"
#include "error_report.h"
#include "texture_encoder.h"
#include "texture_job.h"
#include "utf8.h"

namespace {

// 3 × 2, every pixel different and no channel symmetric, so a flip or a red/blue swap shows.
constexpr std::uint32_t kPicture[2][3] = {
    {0x102030, 0x405060, 0x708090},  // top row, 0xRRGGBB
    {0xA0B0C0, 0xD0E0F0, 0x0A1B2C},
};

std::vector<unsigned char> pictureAsBmp()
{
    std::vector<unsigned char> out = {'B', 'M'};
    auto put32 = [&out](std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<unsigned char>(value >> (8 * i)));
    };
    const std::uint32_t rowBytes = 12;  // 9 bytes of pixels, padded to 4
    put32(54 + 2 * rowBytes);
    put32(0);
    put32(54);
    put32(40);
    put32(3);
    put32(2);
    put32(1 | (24u << 16));  // planes, bits per pixel
    put32(0);
    put32(2 * rowBytes);
    put32(2835);
    put32(2835);
    put32(0);
    put32(0);
    for (int row = 1; row >= 0; --row) {  // bottom-up
        for (std::uint32_t rgb : kPicture[row]) {
            out.push_back(static_cast<unsigned char>(rgb));
            out.push_back(static_cast<unsigned char>(rgb >> 8));
            out.push_back(static_cast<unsigned char>(rgb >> 16));
        }
        out.insert(out.end(), 3, 0);
    }
    return out;
}

// A temporary file written with a wide name; `narrowPath` is its path in UTF-8.
struct TempFile {
    TempFile(const std::wstring& name, const std::vector<unsigned char>& bytes)
    {
        wchar_t folder[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, folder);
        path = std::wstring(folder) + name;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
        narrowPath = wideToUtf8(path);
    }
    ~TempFile() { DeleteFileW(path.c_str()); }
    std::wstring path;
    std::string narrowPath;
};

struct ImagingRun {
    ImagingRun() { started = startImaging(token) == imaging_status::kOk; }
    ~ImagingRun()
    {
        if (started)
            stopImaging(token);
    }
    std::uintptr_t token = 0;
    bool started = false;
};

void expectThePicture(const std::string& path)
{
    ImagingRun imaging;
    ASSERT_TRUE(imaging.started);
    ImageObject* image = ImageObject::createBitmapFromFile(path.c_str());
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->takeLastStatus(), imaging_status::kOk);
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    image->width(width);
    image->height(height);
    EXPECT_EQ(width, 3u);
    EXPECT_EQ(height, 2u);
    for (std::int32_t row = 0; row < 2; ++row)
        for (std::int32_t column = 0; column < 3; ++column) {
            std::uint32_t argb = 0;
            EXPECT_EQ(image->readPixel(column, row, argb), imaging_status::kOk);
            EXPECT_EQ(argb, 0xFF000000u | kPicture[row][column]) << column << "," << row;
        }
    // Outside the picture a read fails, with its status kept, and reads nothing.
    const std::int32_t outside[][2] = {{3, 0}, {0, 2}, {-1, 0}, {0, -1}};
    for (const auto& at : outside) {
        std::uint32_t argb = 0x12345678u;
        EXPECT_NE(image->readPixel(at[0], at[1], argb), imaging_status::kOk);
        EXPECT_EQ(argb, 0x12345678u);
        EXPECT_NE(image->takeLastStatus(), imaging_status::kOk);
    }
    ImageObject* copy = image->clone();
    ASSERT_NE(copy, nullptr);
    std::uint32_t argb = 0;
    EXPECT_EQ(copy->readPixel(2, 1, argb), imaging_status::kOk);
    EXPECT_EQ(argb, 0xFF000000u | kPicture[1][2]);
    copy->destroy(true);
    image->destroy(true);
}

TEST(GdiplusBackend, ReadsArgbPixelsFromTheTopLeft)
{
    const TempFile file(L"orbilune-gdiplus-3x2.bmp", pictureAsBmp());
    expectThePicture(file.narrowPath);
}

TEST(GdiplusBackend, OpensUtf8PathsOfAnyLetters)
{
    const wchar_t* names[] = {
        // "é" is the same byte in Latin-1 and code page 1252; "œ" and "€" are not.
        L"orbilune-\u00e9t\u00e9-\u0153uvre-\u20ac.bmp",
        L"orbilune-\u03a7\u03ac\u03c1\u03c4\u03b7\u03c2.bmp",                    // Greek
        L"orbilune-\u041a\u0430\u0440\u0442\u0430 \u043c\u0438\u0440\u0430.bmp",  // Cyrillic
        L"orbilune-\u5730\u56fe.bmp",                                              // Chinese
        L"orbilune-\u5730\u56fe \u03a7\u03ac\u03c1\u03c4\u03b7\u03c2 \u041a\u0430\u0440\u0442\u0430 \u00e9\u20ac.bmp",
    };
    for (const wchar_t* name : names) {
        const TempFile file(name, pictureAsBmp());
        SCOPED_TRACE(file.narrowPath);
        expectThePicture(file.narrowPath);
    }
}

// A 16-bit PNG of the same picture, every channel's low byte 0xFF: GDI+ keeps the high byte
// (0x10FF gives 0x10, where rounding would give 0x11), as the other platforms' readers do,
// so both builds make the same textures of it.
TEST(GdiplusBackend, KeepsTheHighByteOfSixteenBitChannels)
{
    const char* data = std::getenv("ORBILUNE_TEST_DATA");
    ASSERT_NE(data, nullptr) << "ORBILUNE_TEST_DATA names the folder of the test pictures";
    std::string path = std::string(data) + "/picture-3x2-16bit.png";
    if (path[0] == '/')  // a Unix path, which Wine maps to Z:
        path = "Z:" + path;
    expectThePicture(path);
}

// The picture as a texture writer writes it: samples of `type` (16-bit ones 257 × the 8-bit
// value, floats the value / 255), three channels.
std::vector<unsigned char> encodedPicture(TextureFormat format, SampleType type, bool half)
{
    const SampleLayout layout{type, 3};
    std::vector<unsigned char> texels;
    for (const auto& row : kPicture)
        for (std::uint32_t rgb : row)
            for (int shift : {16, 8, 0}) {
                const std::uint32_t value = rgb >> shift & 0xFF;
                const std::uint16_t wide = static_cast<std::uint16_t>(value * 257);
                const float real = static_cast<float>(value) / 255;
                const auto* bytes = type == SampleType::U16 ? reinterpret_cast<const unsigned char*>(&wide)
                                                            : reinterpret_cast<const unsigned char*>(&real);
                texels.insert(texels.end(), bytes, bytes + sampleBytes(type));
            }
    const SampleImage image{3, 2, layout, texels.data(), 3 * texelBytes(layout)};
    std::vector<unsigned char> file;
    EXPECT_TRUE(encodeTexture(format, image, half, file));
    return file;
}

// An icon of the picture with alpha, 32 bits a pixel (bottom-up, then the AND mask's rows of
// 4 bytes): alpha 0x80 but in the last pixel, 0x00.
std::vector<unsigned char> pictureAsIcon()
{
    std::vector<unsigned char> out = {0, 0, 1, 0, 1, 0, 3, 2, 0, 0, 1, 0, 32, 0};  // one 3 × 2 icon
    auto put32 = [&out](std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<unsigned char>(value >> (8 * i)));
    };
    put32(40 + 24 + 8);  // its bytes, and where they start
    put32(22);
    put32(40);
    put32(3);
    put32(2 * 2);  // the pixels' and the mask's rows
    put32(1 | (32u << 16));
    for (int i = 0; i < 6; ++i)
        put32(0);
    for (int row = 1; row >= 0; --row)
        for (int column = 0; column < 3; ++column)
            put32(kPicture[row][column] | (row == 1 && column == 2 ? 0u : 0x80000000u));
    out.insert(out.end(), 8, 0);
    return out;
}

std::vector<std::string> reported;
void recordError(void*, const char* message) { reported.emplace_back(message); }

int sinkNothing(const char*, const unsigned char*, std::size_t) { return 1; }

// A job of face size 8 on the picture at `path` that writes nothing, the design's textures or
// `output`'s; its messages land in `reported`.
int runJobOn(const std::string& path, const TextureOutput& output = {})
{
    static TextureJob job;
    job = TextureJob{};
    std::snprintf(job.imagePath, sizeof job.imagePath, "%s", path.c_str());
    job.faceSize = 8;
    job.sink = sinkNothing;
    job.output = output;
    reported.clear();
    const ErrorReporter previous = setErrorReporter(recordError);
    const int result = runTextureJob(job);
    setErrorReporter(previous);
    return result;
}

TEST(GdiplusBackend, WhatItCannotDecodeIsCouldntOpenImageFile)
{
    const std::vector<unsigned char> whole = pictureAsBmp();
    const struct {
        const wchar_t* name;
        std::vector<unsigned char> bytes;
    } rows[] = {
        {L"orbilune-text.png", {'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g', '\n'}},
        {L"orbilune-empty.bmp", {}},
        {L"orbilune-cut.bmp", std::vector<unsigned char>(whole.begin(), whole.begin() + 20)},
    };
    for (const auto& row : rows) {
        const TempFile file(row.name, row.bytes);
        SCOPED_TRACE(file.narrowPath);
        EXPECT_EQ(runJobOn(file.narrowPath), 0);
        ASSERT_EQ(reported.size(), 1u);
        EXPECT_EQ(reported[0], messages::kCouldntOpenImage);
    }
}

// The size GDI+ reports is held to the same memory check as a header's on Linux, counting
// GDI+'s own bitmap beside our copy, before either is allocated or locked.
TEST(GdiplusBackend, APictureLargerThanMemoryIsRefusedForItsSize)
{
    const TempFile file(L"orbilune-gdiplus-memory.bmp", pictureAsBmp());
    // The picture as 16-bit TIFF and half OpenEXR, read by the portable readers when the
    // samples are kept: 2 rows of 4 pixels of 6 or 12 bytes; the TIFF reader's offsets (16
    // bytes), a row of samples (18) and for its one plane a piece of file data (256 KiB), a
    // decoded row and the predictor's copy (2 × 18) and 8 bytes; the OpenEXR reader's offset
    // (8 bytes for its one block) and a block of 16 lines of 3 × 3 halves three times (as
    // stored, inflated, and as lines).
    const TempFile tiff(L"orbilune-kept-memory.tif", encodedPicture(TextureFormat::Tiff, SampleType::U16, false));
    const TempFile exr(L"orbilune-kept-memory.exr", encodedPicture(TextureFormat::Exr, SampleType::F32, true));
    TextureOutput own;
    own.format = TextureFormat::Tiff;
    own.channels = TextureChannels::Auto;
    own.depth = TextureDepth::Auto;
    // Our copy: 2 padded rows of 16 words, 128 bytes; GDI+'s 24-bit bitmap: 2 rows of 12.
    const struct {
        const std::string* path;
        bool keep;
        std::uint64_t limit;
        const char* message;  // null: ten textures
    } rows[] = {
        {&file.narrowPath, false, 151, messages::kImageTooLarge},
        {&file.narrowPath, false, 152, nullptr},
        {&tiff.narrowPath, true, 48 + 16 + 18 + 262144 + 2 * 18 + 8 - 1, messages::kImageTooLarge},
        {&tiff.narrowPath, true, 48 + 16 + 18 + 262144 + 2 * 18 + 8, nullptr},
        {&exr.narrowPath, true, 96 + 8 + 3 * 16 * 18 - 1, messages::kImageTooLarge},
        {&exr.narrowPath, true, 96 + 8 + 3 * 16 * 18, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(*row.path + " " + std::to_string(row.limit));
        pictureMemory.limitBytes = row.limit;
        const int result = runJobOn(*row.path, row.keep ? own : TextureOutput{});
        pictureMemory.limitBytes = 0;
        if (row.message == nullptr) {
            EXPECT_EQ(result, 1);
            EXPECT_TRUE(reported.empty());
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(reported, std::vector<std::string>{row.message});
        }
    }
}

// Kept samples: PNG, TIFF and OpenEXR files through the portable readers, to the samples the
// Linux build reads (held in the generator's tests); other files through GDI+, as 8-bit
// words with the alpha as stored where the file has alpha (never multiplied into the
// colours). What the file holds is what GDI+'s pixel format says, kept or not.
TEST(GdiplusBackend, KeptSamplesComeFromThePortableReadersOrFromGdiplus)
{
    const char* data = std::getenv("ORBILUNE_TEST_DATA");
    ASSERT_NE(data, nullptr) << "ORBILUNE_TEST_DATA names the folder of the test pictures";
    std::string png16 = std::string(data) + "/picture-3x2-16bit.png";
    if (png16[0] == '/')  // a Unix path, which Wine maps to Z:
        png16 = "Z:" + png16;
    const TempFile bmp(L"orbilune-kept.bmp", pictureAsBmp());
    const TempFile alpha(L"orbilune-kept-alpha.ico", pictureAsIcon());
    const TempFile tiff(L"orbilune-kept.tif", encodedPicture(TextureFormat::Tiff, SampleType::F32, false));
    const TempFile exr(L"orbilune-kept.exr", encodedPicture(TextureFormat::Exr, SampleType::F32, true));
    const struct {
        std::string path;
        bool keep;
        SampleLayout layout, fileLayout;
        std::vector<unsigned char> last;  // the bottom-right pixel's bytes
    } rows[] = {
        // The 16-bit PNG kept: 0x0AFF, 0x1BFF, 0x2CFF.
        {png16, true, {SampleType::U16, 3}, {SampleType::U16, 3}, {0xFF, 0x0A, 0xFF, 0x1B, 0xFF, 0x2C}},
        {tiff.narrowPath, true, {SampleType::F32, 3}, {SampleType::F32, 3}, {}},
        {exr.narrowPath, true, {SampleType::F32, 3}, {SampleType::F32, 3}, {}},
        {bmp.narrowPath, true, {SampleType::U8, 3}, {SampleType::U8, 3}, {0x2C, 0x1B, 0x0A, 0xFF}},
        {bmp.narrowPath, false, {SampleType::U8, 3}, {SampleType::U8, 3}, {0x2C, 0x1B, 0x0A}},
        {alpha.narrowPath, true, {SampleType::U8, 4}, {SampleType::U8, 4}, {0x2C, 0x1B, 0x0A, 0x00}},
        {alpha.narrowPath, false, {SampleType::U8, 3}, {SampleType::U8, 4}, {0x2C, 0x1B, 0x0A}},
    };
    ImagingRun imaging;
    ASSERT_TRUE(imaging.started);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path + (row.keep ? " kept" : ""));
        ImageObject* image = ImageObject::createBitmapFromFile(row.path.c_str(), row.keep);
        ASSERT_NE(image, nullptr);
        ASSERT_EQ(image->takeLastStatus(), imaging_status::kOk);
        EXPECT_EQ(image->layout(), row.layout);
        EXPECT_EQ(image->fileLayout(), row.fileLayout);
        const auto* last = reinterpret_cast<const unsigned char*>(image->pixels()) +
                           (image->stride() + 2) * pixelBytes(image->layout());
        for (std::size_t i = 0; i < row.last.size(); ++i)
            EXPECT_EQ(last[i], row.last[i]) << "byte " << i;
        if (row.layout.type == SampleType::F32) {  // the float the writer was given, or its half
            float blue;
            std::memcpy(&blue, last + 8, 4);
            EXPECT_NEAR(blue, 0x2C / 255.0f, row.path.back() == 'r' ? 1e-3f : 0.0f);
        }
        image->destroy(true);
    }
}

}  // namespace
