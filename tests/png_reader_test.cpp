// Orbilune's PNG reader stands in for libpng: it must give libpng's pixels for every
// layout, across the seams of its own buffers, and refuse exactly what libpng refuses; read
// in bands of rows (map_rows.h), the same rows, narrowed as the whole picture is, and the
// same refusals.
#include <gtest/gtest.h>

#include <isa-l/crc.h>
#include <png.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "decoded_picture.h"
#include "fuzz_checks.h"
#include "image_object.h"
#include "map_rows.h"
#include "test_support.h"

namespace {

using testing_support::ScratchDir;
using Bytes = std::vector<unsigned char>;

struct PngLayout {
    const char* what;
    std::uint32_t width, height;
    int colourType;
    int bitDepth;
    bool interlaced = false;
    int filters = PNG_ALL_FILTERS;  // what the writer may choose from, row by row
    std::size_t idatBytes = 8192;   // the largest IDAT chunk
    bool keepSamples = false;       // read as the file's own samples, not words
};

void appendToVector(png_structp png, png_bytep data, std::size_t bytes)
{
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + bytes);
}

// A PNG of deterministic noise in the given layout; palette pictures with transparency.
Bytes encodePng(const PngLayout& layout)
{
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, appendToVector, nullptr);
    png_set_compression_level(png, 1);
    png_set_compression_buffer_size(png, layout.idatBytes);
    png_set_IHDR(png, info, layout.width, layout.height, layout.bitDepth, layout.colourType,
                 layout.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (layout.colourType == PNG_COLOR_TYPE_PALETTE) {
        png_color palette[256];
        png_byte alpha[256];
        for (int i = 0; i < 256; ++i) {
            palette[i] = {static_cast<png_byte>(i * 16), static_cast<png_byte>(255 - i * 9),
                          static_cast<png_byte>(i * i)};
            alpha[i] = static_cast<png_byte>(i * 17);
        }
        // Fewer entries than the depth can index, so that some indices read past them.
        const int entries = std::max(1, (1 << layout.bitDepth) - 3);
        png_set_check_for_invalid_index(png, -1);  // written on purpose
        png_set_PLTE(png, info, palette, entries);
        png_set_tRNS(png, info, alpha, entries, nullptr);
    }
    png_set_filter(png, 0, layout.filters);
    png_write_info(png, info);
    const int channels = png_get_channels(png, info);
    const std::size_t rowBytes = (static_cast<std::size_t>(layout.width) * channels * layout.bitDepth + 7) / 8;
    std::vector<png_byte> image(rowBytes * layout.height);
    std::uint32_t state = 2463534242u;
    for (png_byte& byte : image) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<png_byte>(state);
    }
    std::vector<png_bytep> rows(layout.height);
    for (std::uint32_t row = 0; row < layout.height; ++row)
        rows[row] = image.data() + row * rowBytes;
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// libpng's own samples of a PNG in memory, as the decoded picture keeps them: 8 or 16 bits,
// grey of fewer bits scaled to 8, palettes looked up with their transparency as alpha; pixels
// of 8-bit RGB(A) as picture words, opaque without alpha, others as samples in machine order.
void decodeKeptWithLibpng(const Bytes& bytes, std::uint32_t& columns, std::uint32_t& rows, SampleLayout& layout,
                          std::vector<unsigned char>& pixels)
{
    // Only files that libpng has read already come here: no error to jump from.
    struct Input {
        const Bytes& bytes;
        std::size_t at;
    } input{bytes, 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_read_fn(png, &input, [](png_structp reader, png_bytep data, std::size_t size) {
        auto* from = static_cast<Input*>(png_get_io_ptr(reader));
        size = std::min(size, from->bytes.size() - from->at);
        std::memcpy(data, from->bytes.data() + from->at, size);
        from->at += size;
    });
    png_read_info(png, info);
    if (png_get_color_type(png, info) == PNG_COLOR_TYPE_PALETTE)
        png_set_tRNS_to_alpha(png);
    png_set_palette_to_rgb(png);
    png_set_expand_gray_1_2_4_to_8(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    columns = png_get_image_width(png, info);
    rows = png_get_image_height(png, info);
    const unsigned channels = png_get_channels(png, info);
    const bool wide = png_get_bit_depth(png, info) == 16;
    layout = {wide ? SampleType::U16 : SampleType::U8, channels};
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    std::vector<png_byte> image(rowBytes * rows);
    std::vector<png_bytep> rowPointers(rows);
    for (std::uint32_t row = 0; row < rows; ++row)
        rowPointers[row] = image.data() + row * rowBytes;
    png_read_image(png, rowPointers.data());
    png_destroy_read_struct(&png, &info, nullptr);

    const std::size_t bytesPerPixel = pixelBytes(layout);
    pixels.assign(std::size_t{columns} * rows * bytesPerPixel, 0);
    for (std::size_t i = 0; i < std::size_t{columns} * rows; ++i) {
        const png_byte* in = image.data() + (i / columns) * rowBytes + (i % columns) * channels * (wide ? 2 : 1);
        unsigned char* out = pixels.data() + i * bytesPerPixel;
        if (!wide && channels >= 3) {
            const std::uint32_t word = pictureWord(in[0], in[1], in[2]) | (channels == 4 ? in[3] : 0xFFu) << 24;
            std::memcpy(out, &word, 4);
        } else if (!wide) {
            std::memcpy(out, in, channels);
        } else {
            for (unsigned c = 0; c < channels; ++c) {
                const auto sample = static_cast<std::uint16_t>(in[2 * c] << 8 | in[2 * c + 1]);
                std::memcpy(out + 2 * c, &sample, 2);
            }
        }
    }
}

// Reads the PNG at `path` in bands of rows, a few rows a call (1, 3, 2, 17, ... in turn, so
// that calls end anywhere in the reader's band and chunks), narrowed to `working` where it
// is not the whole decoding's layout. Returns the rows, each with its wrap pixel, packed;
// `status` is the opening's or the first failing read's, `rowsRead` those read before.
Bytes readInBands(const std::string& path, bool keepSamples, SampleLayout working, int& status,
                  std::uint32_t& rowsRead, bool& opened)
{
    std::string message;
    const std::unique_ptr<MapRows> rows = openMapRows({{path}, 1, 1, keepSamples}, status, message);
    rowsRead = 0;
    opened = rows != nullptr;
    if (!rows)
        return {};
    EXPECT_TRUE(message.empty());
    EXPECT_TRUE(rows->layout() == working || rows->narrowTo(working));
    const std::size_t rowBytes = (std::size_t{rows->width()} + 1) * pixelBytes(rows->layout());
    Bytes bytes(rowBytes * rows->height(), 0xA5);
    static constexpr std::uint32_t kPerCall[] = {1, 3, 2, 17, 1, 64, 5, 255};
    for (std::size_t call = 0; rowsRead < rows->height(); ++call) {
        const std::uint32_t count = std::min(kPerCall[call % 8], rows->height() - rowsRead);
        status = rows->readRows(count, bytes.data() + rowsRead * rowBytes, rowBytes);
        if (status != imaging_status::kOk)
            break;
        rowsRead += count;
    }
    return bytes;
}

// The whole decoding's rows (with their wrap pixels), packed.
Bytes rowsOf(DecodedPicture& picture)
{
    Bytes bytes;
    for (std::uint32_t row = 0; row < picture.rows; ++row)
        bytes.insert(bytes.end(), pixelAt(picture, 0, row), pixelAt(picture, picture.columns + 1, row));
    return bytes;
}

// The file read in bands: an interlaced one is read whole; every other gives the rows of the
// whole decoding, as they are and narrowed as reshapePicture narrows the whole picture.
void expectSameInBands(const std::string& path, const Bytes& bytes, DecodedPicture& picture, const std::string& what)
{
    const bool interlaced = bytes.size() > 28 && bytes[28] == 1;
    for (const SampleLayout working : {picture.layout, SampleLayout{SampleType::U8, 3}, SampleLayout{SampleType::U8, 1}}) {
        if (working != picture.layout && (!picture.keepSamples || !reshapes(picture.layout, working)))
            continue;
        DecodedPicture whole;
        whole.keepSamples = picture.keepSamples;
        ASSERT_EQ(readPngDirect(path.c_str(), whole), imaging_status::kOk) << what;
        ASSERT_TRUE(reshapePicture(whole, working)) << what;
        int status = imaging_status::kOk;
        std::uint32_t rowsRead = 0;
        bool opened = false;
        const Bytes rows = readInBands(path, picture.keepSamples, working, status, rowsRead, opened);
        EXPECT_EQ(status, imaging_status::kOk) << what;
        EXPECT_EQ(opened, !interlaced) << what << ": read whole only when interlaced";
        if (opened) {
            EXPECT_TRUE(rows == rowsOf(whole)) << what << ", in bands as " << static_cast<int>(working.type) << "/"
                                               << working.channels;
        }
    }
}

// Reads the file with both readers: they must agree on whether it is readable and, where it
// is, on every pixel (and each row's wrap word is its first pixel). Kept samples are held to
// libpng's own samples of the file, and the file's layout to libpng's. Read in bands, it
// gives the same rows, or fails where it is unreadable.
void expectSameAsLibpng(const ScratchDir& dir, const Bytes& bytes, const std::string& what, bool readable,
                        bool keepSamples = false)
{
    std::uint32_t columns = 0;
    std::uint32_t rows = 0;
    std::vector<std::uint32_t> expected;
    const bool libpngReads = fuzz_checks::decodeWithLibpng(bytes.data(), bytes.size(), columns, rows, expected);
    EXPECT_EQ(libpngReads, readable) << what << ": libpng's verdict";
    DecodedPicture picture;
    picture.keepSamples = keepSamples;
    const std::string path = dir.write("picture.png", bytes);
    const int status = readPngDirect(path.c_str(), picture);
    if (!readable) {
        EXPECT_EQ(status, imaging_status::kUnknownImageFormat) << what;
        EXPECT_FALSE(picture.pixels) << what;
        int bandStatus = imaging_status::kOk;
        std::uint32_t rowsRead = 0;
        bool opened = false;
        readInBands(path, keepSamples, SampleLayout{}, bandStatus, rowsRead, opened);
        EXPECT_EQ(bandStatus, imaging_status::kUnknownImageFormat) << what << ", in bands";
        return;
    }
    ASSERT_EQ(status, imaging_status::kOk) << what;
    expectSameInBands(path, bytes, picture, what);
    if (!libpngReads)
        return;
    ASSERT_EQ(picture.columns, columns) << what;
    ASSERT_EQ(picture.rows, rows) << what;
    if (keepSamples) {
        SampleLayout layout;
        std::vector<unsigned char> samples;
        decodeKeptWithLibpng(bytes, columns, rows, layout, samples);
        ASSERT_EQ(picture.layout, layout) << what;
        EXPECT_EQ(picture.fileLayout, layout) << what;
        const std::size_t bytesPerPixel = pixelBytes(layout);
        std::size_t wrongSamples = 0;
        for (std::uint32_t row = 0; row < rows; ++row)
            for (std::uint32_t column = 0; column <= columns; ++column) {
                const std::size_t at = (std::size_t{row} * columns + column % columns) * bytesPerPixel;
                wrongSamples += std::memcmp(pixelAt(picture, column, row), samples.data() + at, bytesPerPixel) != 0;
            }
        EXPECT_EQ(wrongSamples, 0u) << what;
        return;
    }
    std::size_t wrong = 0;
    std::size_t firstWrong = 0;
    for (std::uint32_t row = 0; row < rows; ++row) {
        const std::uint32_t* got = picture.pixels.get() + row * picture.stride;
        for (std::uint32_t column = 0; column <= columns; ++column) {
            const std::uint32_t want = expected[row * columns + column % columns];
            if (got[column] != want && wrong++ == 0)
                firstWrong = row * (columns + 1) + column;
        }
    }
    EXPECT_EQ(wrong, 0u) << what << ": first at row " << firstWrong / (columns + 1) << ", column "
                         << firstWrong % (columns + 1);
}

std::string describe(const PngLayout& layout)
{
    return std::string(layout.what) + " (colour type " + std::to_string(layout.colourType) + ", " +
           std::to_string(layout.bitDepth) + " bits, " + std::to_string(layout.width) + " x " +
           std::to_string(layout.height) + (layout.interlaced ? ", interlaced" : "") + ", filters " +
           std::to_string(layout.filters) + (layout.keepSamples ? ", samples kept" : "") + ")";
}

constexpr struct {
    int colourType;
    int bitDepth;
} kEveryFormat[] = {
    {PNG_COLOR_TYPE_GRAY, 1},      {PNG_COLOR_TYPE_GRAY, 2},       {PNG_COLOR_TYPE_GRAY, 4},
    {PNG_COLOR_TYPE_GRAY, 8},      {PNG_COLOR_TYPE_GRAY, 16},      {PNG_COLOR_TYPE_RGB, 8},
    {PNG_COLOR_TYPE_RGB, 16},      {PNG_COLOR_TYPE_PALETTE, 1},    {PNG_COLOR_TYPE_PALETTE, 2},
    {PNG_COLOR_TYPE_PALETTE, 4},   {PNG_COLOR_TYPE_PALETTE, 8},    {PNG_COLOR_TYPE_GRAY_ALPHA, 8},
    {PNG_COLOR_TYPE_GRAY_ALPHA, 16}, {PNG_COLOR_TYPE_RGB_ALPHA, 8}, {PNG_COLOR_TYPE_RGB_ALPHA, 16},
};

TEST(PngReader, ReadsEveryLayoutAsLibpngDoes)
{
    std::vector<PngLayout> cases = {
        {"1 x 1", 1, 1, PNG_COLOR_TYPE_RGB, 8},
        {"1 x 1 interlaced: six passes are empty", 1, 1, PNG_COLOR_TYPE_RGB, 8, true},
        {"one column interlaced", 1, 9, PNG_COLOR_TYPE_GRAY, 1, true},
        {"one row interlaced", 11, 1, PNG_COLOR_TYPE_PALETTE, 2, true},
    };
    // Each filter on its own, for every distance to the byte on the left (1, 2, 3, 4, 6 and
    // 8 bytes, and pixels of less than a byte), at an odd width.
    const int pixelSizes[][2] = {{PNG_COLOR_TYPE_GRAY, 8}, {PNG_COLOR_TYPE_GRAY_ALPHA, 8},
                                 {PNG_COLOR_TYPE_RGB, 8},  {PNG_COLOR_TYPE_RGB_ALPHA, 8},
                                 {PNG_COLOR_TYPE_RGB, 16}, {PNG_COLOR_TYPE_RGB_ALPHA, 16},
                                 {PNG_COLOR_TYPE_GRAY, 4}};
    for (const int filter : {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH})
        for (const auto& size : pixelSizes)
            cases.push_back({"one filter", 13, 6, size[0], size[1], false, filter});
    // Every colour type and depth, plain and interlaced, in pictures of several of the
    // reader's 256 KiB bands, filtered so that the first row of each band needs the row
    // above it, which ended the band before. The image data comes in chunks of 4 KiB, which
    // the reader inflates a little at a time, or of 1 MiB, of which one piece fills a band.
    const int carryFilters[] = {PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH};
    int next = 0;
    for (const auto& format : kEveryFormat) {
        const bool smallChunksFirst = (&format - kEveryFormat) % 2 == 0;
        for (const bool interlaced : {false, true}) {
            const std::uint32_t width = 333;
            const std::size_t rowBytes = (width * static_cast<std::size_t>(format.bitDepth) *
                                              (format.colourType == PNG_COLOR_TYPE_RGB_ALPHA   ? 4
                                               : format.colourType == PNG_COLOR_TYPE_RGB       ? 3
                                               : format.colourType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                                                                : 1) +
                                          7) / 8;
            const auto height = static_cast<std::uint32_t>(3 * (std::size_t{1} << 18) / (rowBytes + 1) + 3);
            cases.push_back({"several bands", width, height, format.colourType, format.bitDepth, interlaced,
                             carryFilters[next++ % 3],
                             interlaced == smallChunksFirst ? std::size_t{1} << 20 : 4096});
        }
    }
    // The file's own samples, of every colour type and depth (16-bit ones, alpha, a palette's
    // transparency as alpha), plain and interlaced.
    for (const auto& format : kEveryFormat)
        for (const bool interlaced : {false, true})
            cases.push_back({"samples kept", 37, 11, format.colourType, format.bitDepth, interlaced, PNG_ALL_FILTERS,
                             8192, true});
    ScratchDir dir;
    for (const PngLayout& layout : cases)
        expectSameAsLibpng(dir, encodePng(layout), describe(layout), true, layout.keepSamples);
}

// A PNG file as its chunks, to be edited and put together again.
struct Chunk {
    std::string type;
    Bytes data;
    bool badCrc = false;
    std::int64_t declaredLength = -1;  // a length to declare other than the data's
};

std::vector<Chunk> chunksOf(const Bytes& png)
{
    std::vector<Chunk> chunks;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::size_t length = std::size_t{png[at]} << 24 | std::size_t{png[at + 1]} << 16 |
                                   std::size_t{png[at + 2]} << 8 | png[at + 3];
        chunks.push_back({std::string(png.begin() + at + 4, png.begin() + at + 8),
                          Bytes(png.begin() + at + 8, png.begin() + at + 8 + length)});
        at += 12 + length;
    }
    return chunks;
}

void putBigEndian(Bytes& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(value >> shift));
}

Bytes assemble(const std::vector<Chunk>& chunks)
{
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (const Chunk& chunk : chunks) {
        putBigEndian(png, static_cast<std::uint32_t>(chunk.declaredLength >= 0 ? chunk.declaredLength
                                                                               : static_cast<std::int64_t>(chunk.data.size())));
        const std::size_t typeAt = png.size();
        png.insert(png.end(), chunk.type.begin(), chunk.type.end());
        png.insert(png.end(), chunk.data.begin(), chunk.data.end());
        putBigEndian(png, crc32_gzip_refl(0, png.data() + typeAt, png.size() - typeAt) ^ (chunk.badCrc ? 1 : 0));
    }
    return png;
}

std::size_t indexOf(const std::vector<Chunk>& chunks, const char* type)
{
    for (std::size_t i = 0; i < chunks.size(); ++i)
        if (chunks[i].type == type)
            return i;
    return chunks.size();
}

TEST(PngReader, RefusesWhatLibpngRefusesAndNothingElse)
{
    // Bases: RGB in several IDAT chunks, a 4-bit palette picture with transparency, grey.
    const std::vector<Chunk> rgb = chunksOf(encodePng({"RGB", 64, 64, PNG_COLOR_TYPE_RGB, 8, false, PNG_ALL_FILTERS, 1024}));
    const std::vector<Chunk> palette = chunksOf(encodePng({"palette", 30, 20, PNG_COLOR_TYPE_PALETTE, 4}));
    const std::vector<Chunk> grey = chunksOf(encodePng({"grey", 30, 20, PNG_COLOR_TYPE_GRAY, 8}));
    ASSERT_GE(indexOf(rgb, "IEND") - indexOf(rgb, "IDAT"), 3u) << "the RGB base needs several IDAT chunks";
    const Chunk text{"tEXt", {'a', 0, 'b'}};
    using Edit = std::function<void(std::vector<Chunk>&)>;
    const auto ihdrByte = [](std::size_t at, unsigned char value) -> Edit {
        return [=](std::vector<Chunk>& c) { c[0].data[at] = value; };
    };
    const auto ihdrSide = [](std::uint32_t width) -> Edit {
        return [=](std::vector<Chunk>& c) {
            Bytes side;
            putBigEndian(side, width);
            std::copy(side.begin(), side.end(), c[0].data.begin());
        };
    };
    const struct {
        const char* what;
        const std::vector<Chunk>& base;
        Edit edit;
        bool readable;
    } rows[] = {
        {"as written", rgb, [](std::vector<Chunk>&) {}, true},
        {"as written, palette", palette, [](std::vector<Chunk>&) {}, true},
        // The image data.
        {"an ancillary chunk between IDAT chunks", rgb,
         [&](std::vector<Chunk>& c) { c.insert(c.begin() + indexOf(c, "IDAT") + 1, text); }, false},
        {"IEND between IDAT chunks", rgb,
         [](std::vector<Chunk>& c) { c.insert(c.begin() + indexOf(c, "IDAT") + 1, Chunk{"IEND", {}}); }, false},
        {"the last IDAT chunk missing", rgb, [](std::vector<Chunk>& c) { c.erase(c.end() - 2); }, false},
        {"an IDAT chunk's CRC wrong", rgb, [](std::vector<Chunk>& c) { c[indexOf(c, "IDAT") + 1].badCrc = true; }, false},
        {"image data corrupt (CRC made right)", rgb, [](std::vector<Chunk>& c) { c[indexOf(c, "IDAT")].data[40] ^= 0x55; }, false},
        {"empty IDAT chunks around the data", rgb,
         [](std::vector<Chunk>& c) {
             c.insert(c.begin() + indexOf(c, "IDAT"), Chunk{"IDAT", {}});
             c.insert(c.begin() + indexOf(c, "IEND"), Chunk{"IDAT", {}});
         }, true},
        {"no IEND", rgb, [](std::vector<Chunk>& c) { c.pop_back(); }, true},
        // The palette.
        {"a palette picture without PLTE", palette, [](std::vector<Chunk>& c) { c.erase(c.begin() + indexOf(c, "PLTE")); }, false},
        {"an empty PLTE", palette, [](std::vector<Chunk>& c) { c[indexOf(c, "PLTE")].data.clear(); }, false},
        {"a PLTE of a length not a multiple of 3", palette, [](std::vector<Chunk>& c) { c[indexOf(c, "PLTE")].data.pop_back(); }, false},
        {"a PLTE's CRC wrong", palette, [](std::vector<Chunk>& c) { c[indexOf(c, "PLTE")].badCrc = true; }, false},
        {"two PLTE chunks", palette,
         [](std::vector<Chunk>& c) { c.insert(c.begin() + indexOf(c, "PLTE"), c[indexOf(c, "PLTE")]); }, false},
        {"PLTE after the image data", palette,
         [](std::vector<Chunk>& c) {
             const Chunk plte = c[indexOf(c, "PLTE")];
             c.erase(c.begin() + indexOf(c, "PLTE"));
             c.insert(c.begin() + indexOf(c, "IEND"), plte);
         }, false},
        {"a suggested PLTE in an RGB picture", rgb, [](std::vector<Chunk>& c) { c.insert(c.begin() + 1, Chunk{"PLTE", {1, 2, 3}}); }, true},
        {"a suggested PLTE of a wrong length", rgb, [](std::vector<Chunk>& c) { c.insert(c.begin() + 1, Chunk{"PLTE", {1, 2}}); }, true},
        {"a suggested PLTE, its CRC wrong", rgb,
         [](std::vector<Chunk>& c) { c.insert(c.begin() + 1, Chunk{"PLTE", {1, 2, 3}, true}); }, false},
        {"an empty PLTE in an RGB picture", rgb, [](std::vector<Chunk>& c) { c.insert(c.begin() + 1, Chunk{"PLTE", {}}); }, false},
        {"a PLTE in a grey picture", grey, [](std::vector<Chunk>& c) { c.insert(c.begin() + 1, Chunk{"PLTE", {1, 2}}); }, true},
        {"a PLTE in a grey picture, its CRC wrong", grey,
         [](std::vector<Chunk>& c) { c.insert(c.begin() + 1, Chunk{"PLTE", {1, 2}, true}); }, false},
        // Other chunks.
        {"an ancillary chunk's CRC wrong", rgb,
         [&](std::vector<Chunk>& c) {
             c.insert(c.begin() + 1, text);
             c[1].badCrc = true;
         }, true},
        {"an unknown critical chunk", rgb, [](std::vector<Chunk>& c) { c.insert(c.begin() + 1, Chunk{"ZZZZ", {}}); }, false},
        {"a chunk name with a digit", rgb, [](std::vector<Chunk>& c) { c.insert(c.begin() + 1, Chunk{"tE5t", {}}); }, false},
        {"an ancillary chunk declaring 2^31 - 1 bytes", rgb,
         [](std::vector<Chunk>& c) {
             c.insert(c.begin() + 1, Chunk{"zzzz", Bytes(4), false, INT32_MAX});
             c.resize(2);  // and the file ends inside it
         }, false},
        {"a second IHDR", rgb, [](std::vector<Chunk>& c) { c.insert(c.begin() + 1, c[0]); }, false},
        {"tEXt before IHDR", rgb, [&](std::vector<Chunk>& c) { c.insert(c.begin(), text); }, false},
        // The header.
        {"IHDR's CRC wrong", rgb, [](std::vector<Chunk>& c) { c[0].badCrc = true; }, false},
        {"RGB of 4 bits", rgb, ihdrByte(8, 4), false},
        {"palette of 16 bits", palette, ihdrByte(8, 16), false},
        {"colour type 5", rgb, ihdrByte(9, 5), false},
        {"compression method 1", rgb, ihdrByte(10, 1), false},
        {"filter method 1", rgb, ihdrByte(11, 1), false},
        {"interlace method 2", rgb, ihdrByte(12, 2), false},
        {"width 0", rgb, ihdrSide(0), false},
        {"width over a million", rgb, ihdrSide(1000001), false},
    };
    ScratchDir dir;
    for (const auto& row : rows) {
        std::vector<Chunk> chunks = row.base;
        row.edit(chunks);
        expectSameAsLibpng(dir, assemble(chunks), row.what, row.readable);
    }

    // Cut anywhere: refused, whatever the cut. Read in bands a row at a time, the rows before
    // the cut come as the whole file's, then a read fails (the last row's, where the cut
    // takes only the last chunk's CRC), and nothing is read after it.
    const Bytes whole = assemble(rgb);
    DecodedPicture intact;
    ASSERT_EQ(readPngDirect(dir.write("whole.png", whole).c_str(), intact), imaging_status::kOk);
    const Bytes intactRows = rowsOf(intact);
    const std::size_t rowBytes = (std::size_t{intact.columns} + 1) * 4;
    for (const std::size_t length : {std::size_t{0}, std::size_t{8}, std::size_t{20}, whole.size() / 2,
                                     whole.size() - 13}) {
        DecodedPicture picture;
        const std::string path = dir.write("cut.png", Bytes(whole.begin(), whole.begin() + length));
        const int status = readPngDirect(path.c_str(), picture);
        EXPECT_EQ(status, length < 8 ? kNotMine : imaging_status::kUnknownImageFormat) << "cut at " << length;
        EXPECT_FALSE(picture.pixels) << "cut at " << length;

        int bandStatus = imaging_status::kOk;
        std::string message;
        const std::unique_ptr<MapRows> bands = openMapRows({{path}, 1, 1, false}, bandStatus, message);
        if (!bands) {
            EXPECT_EQ(bandStatus, imaging_status::kUnknownImageFormat) << "cut at " << length;
            continue;
        }
        Bytes row(rowBytes);
        std::uint32_t read = 0;
        while ((bandStatus = bands->readRows(1, row.data(), rowBytes)) == imaging_status::kOk && read < 64)
            EXPECT_TRUE(std::equal(row.begin(), row.end(), intactRows.begin() + read++ * rowBytes))
                << "cut at " << length << ", row " << read - 1;
        EXPECT_EQ(bandStatus, imaging_status::kUnknownImageFormat) << "cut at " << length;
        EXPECT_LT(read, 64u) << "cut at " << length;
        if (length == whole.size() - 13) {
            EXPECT_EQ(read, 63u) << "the last row waits for its chunk's CRC";
        }
        const Bytes untouched(rowBytes, 0x5A);
        row = untouched;
        EXPECT_EQ(bands->readRows(1, row.data(), rowBytes), bandStatus) << "cut at " << length;
        EXPECT_TRUE(row == untouched) << "cut at " << length << ": read after its failure";
    }
}

}  // namespace
