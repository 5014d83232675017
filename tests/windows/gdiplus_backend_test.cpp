// The GDI+ image backend as the generator sees it: the pixels it hands back, the paths it
// opens (UTF-8, in a program whose code page is the system's) and the files it refuses.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "decoded_picture.h"
#include "image_object.h"
#include "error_report.h"
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

std::vector<std::string> reported;
void recordError(void*, const char* message) { reported.emplace_back(message); }

int sinkNothing(const char*, const unsigned char*, int) { return 1; }

// A job of face size 8 on the picture at `path` that writes nothing; its messages land in
// `reported`.
int runJobOn(const std::string& path)
{
    static TextureJob job;
    job = TextureJob{};
    std::snprintf(job.imagePath, sizeof job.imagePath, "%s", path.c_str());
    job.faceSize = 8;
    job.sink = sinkNothing;
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
    // Our copy: 2 padded rows of 16 words, 128 bytes; GDI+'s 24-bit bitmap: 2 rows of 12.
    const struct {
        std::uint64_t limit;
        const char* message;  // null: ten textures
    } rows[] = {
        {151, messages::kImageTooLarge},
        {152, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.limit);
        pictureMemory.limitBytes = row.limit;
        const int result = runJobOn(file.narrowPath);
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

}  // namespace
