// The direct PNG reader must give exactly what OpenImageIO gives for every PNG it takes,
// and leave the others to OpenImageIO.
#include <gtest/gtest.h>

#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

#include "decoded_picture.h"
#include "image_object.h"
#include "test_support.h"

namespace {

using testing_support::ScratchDir;

struct PngLayout {
    const char* what;
    std::uint32_t width, height;
    int colourType;
    int bitDepth;
    bool interlaced;
    bool transparency;  // a tRNS chunk (palette pictures)
    bool readDirectly;  // the direct reader takes it (else it is left to OpenImageIO)
    int filters = PNG_ALL_FILTERS;  // what the writer may choose from, row by row
};

// Writes a PNG of deterministic noise in the given layout.
void writePng(const std::string& path, const PngLayout& layout)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, layout.width, layout.height, layout.bitDepth, layout.colourType,
                 layout.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (layout.colourType == PNG_COLOR_TYPE_PALETTE) {
        png_color palette[16];
        png_byte alpha[16];
        for (int i = 0; i < 16; ++i) {
            palette[i] = {static_cast<png_byte>(i * 16), static_cast<png_byte>(255 - i * 9),
                          static_cast<png_byte>(i * i)};
            alpha[i] = static_cast<png_byte>(i * 17);
        }
        png_set_PLTE(png, info, palette, 16);
        if (layout.transparency)
            png_set_tRNS(png, info, alpha, 16, nullptr);
    }
    png_set_filter(png, 0, layout.filters);
    png_write_info(png, info);
    png_set_packing(png);
    png_set_swap(png);  // 16-bit samples are given little-endian below
    const int channels = png_get_channels(png, info);
    const std::size_t sampleBytes = layout.bitDepth == 16 ? 2 : 1;
    const std::size_t rowBytes = layout.width * channels * sampleBytes;
    std::vector<png_byte> image(rowBytes * layout.height);
    std::uint32_t state = 2463534242u;
    for (png_byte& byte : image) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<png_byte>(state);
        if (layout.colourType == PNG_COLOR_TYPE_PALETTE || layout.bitDepth < 8)
            byte = static_cast<png_byte>(byte % (layout.bitDepth < 8 ? (1 << layout.bitDepth) : 16));
    }
    std::vector<png_bytep> rows(layout.height);
    for (std::uint32_t row = 0; row < layout.height; ++row)
        rows[row] = image.data() + row * rowBytes;
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

std::vector<std::uint32_t> visiblePixels(const DecodedPicture& picture)
{
    std::vector<std::uint32_t> words;
    for (std::uint32_t row = 0; row < picture.rows; ++row)
        for (std::uint32_t column = 0; column <= picture.columns; ++column)  // with the wrap word
            words.push_back(picture.pixels[row * picture.stride + column] & 0xFFFFFFu);
    return words;
}

TEST(PngReader, AgreesWithOpenImageIOOrLeavesThePictureToIt)
{
    const PngLayout layouts[] = {
        {"RGB", 7, 3, PNG_COLOR_TYPE_RGB, 8, false, false, true},
        {"RGBA: alpha ignored", 5, 4, PNG_COLOR_TYPE_RGB_ALPHA, 8, false, false, true},
        {"grey", 6, 5, PNG_COLOR_TYPE_GRAY, 8, false, false, true},
        {"grey with alpha", 3, 2, PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, false, true},
        {"palette", 9, 2, PNG_COLOR_TYPE_PALETTE, 8, false, false, true},
        {"palette with transparency", 4, 4, PNG_COLOR_TYPE_PALETTE, 8, false, true, true},
        {"1 x 1", 1, 1, PNG_COLOR_TYPE_RGB, 8, false, false, true},
        {"16-bit", 5, 3, PNG_COLOR_TYPE_RGB, 16, false, false, false},
        {"interlaced", 11, 9, PNG_COLOR_TYPE_RGB, 8, true, false, false},
        {"2-bit grey", 8, 2, PNG_COLOR_TYPE_GRAY, 2, false, false, false},
        {"4-bit palette", 5, 5, PNG_COLOR_TYPE_PALETTE, 4, false, false, false},
    };
    // Each filter on its own, for every pixel size.
    std::vector<PngLayout> cases(std::begin(layouts), std::end(layouts));
    const int colours[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                           PNG_COLOR_TYPE_RGB_ALPHA};
    for (const int filter : {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH})
        for (const int colour : colours)
            cases.push_back({"one filter", 13, 6, colour, 8, false, false, true, filter});
    ScratchDir dir;
    for (const PngLayout& layout : cases) {
        const std::string path = dir.file("picture.png");
        writePng(path, layout);
        DecodedPicture direct;
        DecodedPicture general;
        const int directStatus = readPngDirect(path.c_str(), direct);
        ASSERT_EQ(readWithOpenImageIO(path.c_str(), general), imaging_status::kOk) << layout.what;
        if (!layout.readDirectly) {
            EXPECT_EQ(directStatus, kNotMine) << layout.what;
            continue;
        }
        ASSERT_EQ(directStatus, imaging_status::kOk) << layout.what;
        EXPECT_EQ(direct.columns, layout.width) << layout.what;
        EXPECT_EQ(direct.rows, layout.height) << layout.what;
        EXPECT_EQ(visiblePixels(direct), visiblePixels(general)) << layout.what;
    }
}

TEST(PngReader, RefusesWhatIsCutShortOrCorrupt)
{
    ScratchDir dir;
    const std::string path = dir.file("whole.png");
    writePng(path, {"RGB", 64, 64, PNG_COLOR_TYPE_RGB, 8, false, false, true});
    std::vector<unsigned char> bytes;
    {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        int c;
        while ((c = std::fgetc(file)) != EOF)
            bytes.push_back(static_cast<unsigned char>(c));
        std::fclose(file);
    }
    std::vector<unsigned char> corrupt = bytes;
    corrupt[bytes.size() / 2] ^= 0x55;  // inside the image data: the CRC no longer matches
    const struct {
        const char* what;
        std::vector<unsigned char> bytes;
        int status;
    } cases[] = {
        {"cut inside the data", {bytes.begin(), bytes.begin() + bytes.size() / 2}, imaging_status::kUnknownImageFormat},
        {"cut inside the header", {bytes.begin(), bytes.begin() + 20}, imaging_status::kUnknownImageFormat},
        {"corrupt data", corrupt, imaging_status::kUnknownImageFormat},
        {"signature only", {bytes.begin(), bytes.begin() + 8}, imaging_status::kUnknownImageFormat},
        {"not a PNG", {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}, kNotMine},
    };
    for (const auto& c : cases) {
        DecodedPicture picture;
        EXPECT_EQ(readPngDirect(dir.write("bad.png", c.bytes).c_str(), picture), c.status) << c.what;
        EXPECT_FALSE(picture.pixels) << c.what;
    }
}

}  // namespace
