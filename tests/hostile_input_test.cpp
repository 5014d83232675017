// Pictures that want more memory than the machine has are refused for it, by every reader,
// before their pixels are allocated. Maps read in bands of rows (map_rows.h) hold only their
// readers' buffers, give the whole decoding's rows byte for byte, one file or the tiles of a
// mosaic, and refuse what the whole decoding refuses.
#include <gtest/gtest.h>

#include <OpenImageIO/imageio.h>
#include <isa-l/crc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "decoded_picture.h"
#include "image_object.h"
#include "map_rows.h"
#include "test_support.h"
#include "texture_encoder.h"
#include "texture_job.h"

namespace {

using testing_support::CapturedErrors;
using testing_support::runIntoMemory;
using testing_support::ScratchDir;
using testing_support::SinkCalls;

void putBigEndian(std::vector<unsigned char>& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(value >> shift));
}

// A PNG of 8-bit RGB that declares its size and ends before any image data.
std::vector<unsigned char> pngHeaderOnly(std::uint32_t width, std::uint32_t height)
{
    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    putBigEndian(png, 13);
    const std::size_t typeAt = png.size();
    png.insert(png.end(), {'I', 'H', 'D', 'R'});
    putBigEndian(png, width);
    putBigEndian(png, height);
    png.insert(png.end(), {8, 2, 0, 0, 0});
    putBigEndian(png, crc32_gzip_refl(0, png.data() + typeAt, png.size() - typeAt));
    return png;
}

// Stands for a machine of `bytes` of memory while it lives.
class MemoryLimit {
public:
    explicit MemoryLimit(std::uint64_t bytes) { pictureMemory.limitBytes = bytes; }
    ~MemoryLimit() { pictureMemory.limitBytes = 0; }
};

TEST(PictureMemory, APictureLargerThanMemoryIsRefusedForItsSize)
{
    ScratchDir dir;
    // 300 × 200 pixels in padded rows of 304 words: 243,200 bytes. OpenImageIO's reader
    // (of the PPM) also holds a band of the file's own pixels, here all 200 rows of 300 × 3
    // bytes.
    const std::string bmp = dir.writeBmp("map.bmp", testing_support::noisePicture(300, 200));
    std::vector<unsigned char> ppm = {'P', '6', ' ', '3', '0', '0', ' ', '2', '0', '0', ' ', '2', '5', '5', '\n'};
    ppm.resize(ppm.size() + 300 * 200 * 3, 0x5A);
    const std::string pnm = dir.write("map.ppm", ppm);
    const std::string png = dir.write("map.png", pngHeaderOnly(300, 200));
    // Kept at their own depth (for TIFF textures of the map's own samples), the pixels take
    // what their samples take: rows of 301 pixels of three 16-bit samples, one of 11 lines of
    // 64 bytes of grey signed 16-bit samples, 301 pixels of three floats.
    std::vector<unsigned char> ppm16 = {'P', '6', ' ', '3', '0', '0', ' ', '2', '0', '0', ' ',
                                        '6', '5', '5', '3', '5', '\n'};
    ppm16.resize(ppm16.size() + 300 * 200 * 6, 0xA5);
    std::string fitsHeader;
    for (const char* card : {"SIMPLE  =                    T", "BITPIX  =                   16",
                             "NAXIS   =                    2", "NAXIS1  =                  300",
                             "NAXIS2  =                  200", "END"})
        fitsHeader += std::string(card).append(80 - std::strlen(card), ' ');
    std::vector<unsigned char> fits(fitsHeader.begin(), fitsHeader.end());
    fits.resize(2880 + 300 * 200 * 2, ' ');
    std::vector<unsigned char> pfm = {'P', 'F', ' ', '3', '0', '0', ' ', '2', '0', '0', ' ', '-', '1', '\n'};
    pfm.resize(pfm.size() + 300 * 200 * 12, 0);
    TextureOutput ownSamples;
    ownSamples.format = TextureFormat::Tiff;
    ownSamples.channels = TextureChannels::Auto;
    ownSamples.depth = TextureDepth::Auto;
    const std::string wide = dir.write("wide.ppm", ppm16), signedMap = dir.write("heights.fits", fits),
                      floats = dir.write("floats.pfm", pfm);
    const struct {
        const char* what;
        std::string path;
        std::uint64_t limit;
        const char* message;  // null: ten textures
        bool keep = false;    // TIFF textures of the map's own samples
    } rows[] = {
        {"OpenImageIO's reader, one byte short", pnm, 243200 + 180000 - 1, messages::kImageTooLarge},
        {"OpenImageIO's reader, exactly enough", pnm, 243200 + 180000, nullptr},
        {"Orbilune's BMP reader, one byte short", bmp, 243199, messages::kImageTooLarge},
        {"Orbilune's BMP reader, exactly enough", bmp, 243200, nullptr},
        {"Orbilune's PNG reader, one byte short", png, 243199, messages::kImageTooLarge},
        // Enough memory, so the missing data is what refuses it.
        {"Orbilune's PNG reader, exactly enough", png, 243200, messages::kCouldntOpenImage},
        // Kept samples; the Netpbm reader of 16-bit samples also holds a row of the file.
        {"16-bit Netpbm kept, one byte short", wide, 301 * 200 * 6 + 1800 - 1, messages::kImageTooLarge, true},
        {"16-bit Netpbm kept, exactly enough", wide, 301 * 200 * 6 + 1800, nullptr, true},
        {"Orbilune's FITS reader kept, one byte short", signedMap, 11 * 64 * 200 - 1, messages::kImageTooLarge, true},
        {"Orbilune's FITS reader kept, exactly enough", signedMap, 11 * 64 * 200, nullptr, true},
        {"OpenImageIO's reader kept, one byte short", floats, 301 * 200 * 12 + 200 * 300 * 12 - 1,
         messages::kImageTooLarge, true},
        {"OpenImageIO's reader kept, exactly enough", floats, 301 * 200 * 12 + 200 * 300 * 12, nullptr, true},
    };
    for (const auto& row : rows) {
        MemoryLimit limit(row.limit);
        CapturedErrors errors;
        SinkCalls calls;
        const int result =
            runIntoMemory(row.path, 8, TextureFilter::Nearest, calls, row.keep ? ownSamples : TextureOutput{});
        if (row.message == nullptr) {
            EXPECT_EQ(result, 1) << row.what;
            EXPECT_EQ(calls.names.size(), 10u) << row.what;
            EXPECT_TRUE(errors.messages().empty()) << row.what;
        } else {
            EXPECT_EQ(result, 0) << row.what;
            EXPECT_TRUE(calls.names.empty()) << row.what;
            EXPECT_EQ(errors.messages(), std::vector<std::string>{row.message}) << row.what;
        }
    }
}

// ---- Maps read in bands of rows ---------------------------------------------------------------

using Bytes = std::vector<unsigned char>;

// The imaging library, started while it lives (a mosaic's tiles may be decoded whole).
struct Imaging {
    Imaging() { started = startImaging(token) == imaging_status::kOk; }
    ~Imaging() { stopImaging(token); }
    std::uintptr_t token = 0;
    bool started = false;
};

// Rows as a map hands them out: each of width + 1 pixels (the wrap pixel last), packed.
struct MapBytes {
    int status = imaging_status::kOk;  // the opening's, or the first failing read's
    bool opened = false;               // false with kOk: to be read whole
    std::string message;
    std::uint32_t width = 0, height = 0, rowsRead = 0;
    SampleLayout layout, fileLayout;
    std::uint64_t readerBytes = 0;
    Bytes rows;
};

// The map read in bands, a few rows a call (1, 3, 2, 17, ... in turn, so that the calls end
// anywhere in the readers' own bands and buffers), narrowed to `working` where given.
MapBytes streamedRows(const MapRowsRequest& request, std::optional<SampleLayout> working = {})
{
    MapBytes map;
    const std::unique_ptr<MapRows> rows = openMapRows(request, map.status, map.message);
    if (!rows)
        return map;
    map.opened = true;
    if (working && !rows->narrowTo(*working)) {
        map.status = imaging_status::kInvalidParameter;
        return map;
    }
    map.width = rows->width();
    map.height = rows->height();
    map.layout = rows->layout();
    map.fileLayout = rows->fileLayout();
    map.readerBytes = rows->readerBytes();
    const std::size_t rowBytes = (std::size_t{map.width} + 1) * pixelBytes(map.layout);
    map.rows.assign(rowBytes * map.height, 0xA5);
    static constexpr std::uint32_t kPerCall[] = {1, 3, 2, 17, 1, 64, 5, 255};
    for (std::size_t call = 0; map.rowsRead < map.height; ++call) {
        const std::uint32_t count = std::min(kPerCall[call % 8], map.height - map.rowsRead);
        map.status = rows->readRows(count, map.rows.data() + map.rowsRead * rowBytes, rowBytes);
        if (map.status != imaging_status::kOk)
            break;
        map.rowsRead += count;
    }
    return map;
}

MapBytes streamedRows(const std::string& path, bool keep, std::optional<SampleLayout> working = {})
{
    return streamedRows(MapRowsRequest{{path}, 1, 1, keep}, working);
}

// The rows of the whole decoding (ImageObject), reshaped to `working` where given.
MapBytes wholeRows(const std::string& path, bool keep, std::optional<SampleLayout> working = {})
{
    MapBytes map;
    ImageObject* image = ImageObject::createBitmapFromFile(path.c_str(), keep);
    map.status = image != nullptr ? image->takeLastStatus() : imaging_status::kOutOfMemory;
    if (map.status == imaging_status::kOk && working && !image->reshape(*working))
        map.status = imaging_status::kOutOfMemory;
    if (map.status == imaging_status::kOk) {
        map.opened = true;
        image->width(map.width);
        image->height(map.height);
        map.layout = image->layout();
        map.fileLayout = image->fileLayout();
        const std::size_t rowBytes = (std::size_t{map.width} + 1) * pixelBytes(map.layout);
        const auto* pixels = reinterpret_cast<const unsigned char*>(image->pixels());
        for (std::uint32_t row = 0; row < map.height; ++row) {
            const unsigned char* from = pixels + row * image->stride() * pixelBytes(map.layout);
            map.rows.insert(map.rows.end(), from, from + rowBytes);
        }
        map.rowsRead = map.height;
    }
    if (image != nullptr)
        image->destroy(true);
    return map;
}

// The first row at which two maps' rows differ, or their rows' count.
std::uint32_t firstRowApart(const MapBytes& a, const MapBytes& b)
{
    const std::size_t rowBytes = (std::size_t{a.width} + 1) * pixelBytes(a.layout);
    std::uint32_t row = 0;
    while (row < a.rowsRead && row < b.rowsRead &&
           std::memcmp(a.rows.data() + row * rowBytes, b.rows.data() + row * rowBytes, rowBytes) == 0)
        ++row;
    return row;
}

enum class Expect { kStreamed, kReadWhole, kRefused };

// The file read in bands gives the whole decoding's rows, kept or not, narrowed to `working`
// or not; or its opening says to read it whole; or, where the whole decoding refuses it, the
// bands fail too, before the last row. Returns what happened.
Expect expectRowsOfTheWholeDecoding(const std::string& path, bool keep, std::optional<SampleLayout> working = {})
{
    const MapBytes whole = wholeRows(path, keep, working);
    const MapBytes streamed = streamedRows(path, keep, working);
    if (streamed.status == imaging_status::kOk && !streamed.opened)
        return Expect::kReadWhole;
    if (whole.status != imaging_status::kOk) {
        EXPECT_NE(streamed.status, imaging_status::kOk) << "the whole decoding refuses it, status " << whole.status;
        return Expect::kRefused;
    }
    EXPECT_EQ(streamed.status, imaging_status::kOk);
    EXPECT_EQ(streamed.width, whole.width);
    EXPECT_EQ(streamed.height, whole.height);
    EXPECT_EQ(streamed.layout, whole.layout);
    EXPECT_EQ(streamed.fileLayout, whole.fileLayout);
    EXPECT_EQ(streamed.rowsRead, whole.height);
    if (streamed.layout == whole.layout && streamed.width == whole.width) {
        EXPECT_EQ(firstRowApart(streamed, whole), whole.height) << "the first row that differs";
    }
    return streamed.status == imaging_status::kOk ? Expect::kStreamed : Expect::kRefused;
}

// Samples of `layout` for a picture of `width` × `height`, channels in order, as a writer
// takes them: smooth ramps of every slope and noise, the high and low bytes of 16-bit
// samples unlike, floats of either sign.
Bytes sampleBytesOf(std::uint32_t width, std::uint32_t height, SampleLayout layout, std::uint32_t salt = 0)
{
    Bytes out;
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            for (std::uint32_t c = 0; c < layout.channels; ++c) {
                const std::uint32_t v = (x * (311 + 97 * c) + y * (523 - 61 * c) + salt * 7919) % 65536 ^
                                        ((x * 7919 + y * 104729 + c * 1299709) % 1021);
                const auto put = [&out](const auto value) {
                    const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
                    out.insert(out.end(), bytes, bytes + sizeof value);
                };
                switch (layout.type) {
                case SampleType::U8:
                    out.push_back(static_cast<unsigned char>(v >> 8));
                    break;
                case SampleType::U16:
                    put(static_cast<std::uint16_t>(v));
                    break;
                case SampleType::I16:
                    put(static_cast<std::int16_t>(static_cast<std::int32_t>(v) - 32768));
                    break;
                default:
                    put((static_cast<float>(v) - 20000) / 1000);
                    break;
                }
            }
    return out;
}

OIIO::TypeDesc typeDescOf(SampleType type)
{
    switch (type) {
    case SampleType::U8:
        return OIIO::TypeDesc::UINT8;
    case SampleType::U16:
        return OIIO::TypeDesc::UINT16;
    case SampleType::I16:
        return OIIO::TypeDesc::INT16;
    default:
        return OIIO::TypeDesc::FLOAT;
    }
}

// How a test picture is written by OpenImageIO: tiles of `tile` pixels a side (0: scanlines
// or strips of `rowsPerStrip`), planes, a compression.
struct Written {
    int tile = 0;
    bool planar = false;
    const char* compression = "none";
    int rowsPerStrip = 0;
};

std::string writeWithOpenImageIO(const std::string& path, std::uint32_t width, std::uint32_t height,
                                 SampleLayout layout, const Bytes& samples, const Written& how = {})
{
    OIIO::ImageSpec spec(static_cast<int>(width), static_cast<int>(height), static_cast<int>(layout.channels),
                         typeDescOf(layout.type));
    if (hasAlpha(layout.channels))
        spec.alpha_channel = static_cast<int>(layout.channels) - 1;
    spec.tile_width = spec.tile_height = how.tile;
    spec.attribute("compression", how.compression);
    if (how.planar)
        spec.attribute("planarconfig", "separate");
    if (how.rowsPerStrip != 0)
        spec.attribute("tiff:RowsPerStrip", how.rowsPerStrip);
    spec.attribute("oiio:UnassociatedAlpha", 1);
    auto out = OIIO::ImageOutput::create(path);
    EXPECT_TRUE(out && out->open(path, spec)) << path;
    if (out) {
        EXPECT_TRUE(out->write_image(typeDescOf(layout.type), samples.data())) << path << ": " << out->geterror();
        out->close();
    }
    return path;
}

// A picture in 8-bit RGB words as a PNG of our own writing.
std::string writePng(const ScratchDir& dir, const std::string& name, std::uint32_t width, std::uint32_t height,
                     SampleLayout layout, const Bytes& samples)
{
    Bytes file;
    const SampleImage image{width, height, layout, samples.data(), std::size_t{width} * texelBytes(layout)};
    EXPECT_TRUE(encodeTexture(TextureFormat::Png, image, false, file));
    return dir.write(name, file);
}

std::string readerPicture(const std::string& name) { return std::string(ORBILUNE_READER_PICTURES) + "/" + name; }

// None, and the narrowings of rows of `layout` a job asks for: the design's words, grey, 8-bit
// colour or grey with the alpha, grey of the samples' own type.
std::vector<std::optional<SampleLayout>> narrowingsOf(SampleLayout layout)
{
    std::vector<std::optional<SampleLayout>> all = {std::nullopt};
    for (const SampleLayout working : {SampleLayout{SampleType::U8, 3}, SampleLayout{SampleType::U8, 1},
                                       SampleLayout{SampleType::U8, colourChannels(layout.channels) == 1 ? 2u : 4u},
                                       SampleLayout{layout.type, 1}})
        if (working != layout && reshapes(layout, working) &&
            std::find(all.begin(), all.end(), std::optional<SampleLayout>(working)) == all.end())
            all.push_back(working);
    return all;
}

TEST(MapRows, ReadInBandsAsTheWholeDecodingReadsThem)
{
    Imaging imaging;
    ASSERT_TRUE(imaging.started);
    ScratchDir dir;
    // Pictures of several of every reader's bands and buffers: odd sides, strips and tiles that
    // end short of the picture, a band of rows of 256 KiB that ends inside a row of tiles.
    const std::uint32_t w = 301, h = 203;
    const SampleLayout rgb8{SampleType::U8, 3}, rgb16{SampleType::U16, 3}, rgba16{SampleType::U16, 4},
        grey16{SampleType::U16, 1}, int16{SampleType::I16, 1}, floatRgb{SampleType::F32, 3},
        ga8{SampleType::U8, 2}, rgba8{SampleType::U8, 4};
    const auto tiff = [&](const std::string& name, SampleLayout layout, const Written& how) {
        return writeWithOpenImageIO(dir.file(name), w, h, layout, sampleBytesOf(w, h, layout), how);
    };
    const auto wide = [&](const std::string& name, SampleLayout layout) {
        // 4000 pixels a row: a band of OpenImageIO's whole decoding is about 21 rows.
        return writeWithOpenImageIO(dir.file(name), 4000, 70, layout, sampleBytesOf(4000, 70, layout), {});
    };
    const struct {
        std::string path;
        Expect expected;  // kept or not, narrowed or not
    } rows[] = {
        // PNG: our reader (every layout of it, interlaced ones read whole, in
        // png_reader_test.cpp).
        {writePng(dir, "rgb16.png", w, h, rgb16, sampleBytesOf(w, h, rgb16)), Expect::kStreamed},
        {writePng(dir, "ga8.png", w, h, ga8, sampleBytesOf(w, h, ga8)), Expect::kStreamed},
        // TIFF: strips of some rows, tiles in rows and columns that end short, planes; through
        // the portable reader (kept) and OpenImageIO (words).
        {tiff("strips.tif", rgb16, {0, false, "lzw", 16}), Expect::kStreamed},
        {tiff("tiles.tif", rgba16, {32, false, "zip", 0}), Expect::kStreamed},
        {tiff("tiles-planes.tif", rgb16, {48, true, "zip", 0}), Expect::kStreamed},
        {tiff("strips-planes.tif", rgba8, {0, true, "packbits", 7}), Expect::kStreamed},
        {tiff("grey16.tif", grey16, {0, false, "zip", 0}), Expect::kStreamed},
        {tiff("int16-tiles.tif", int16, {16, false, "lzw", 0}), Expect::kStreamed},
        {tiff("float-tiles.tif", floatRgb, {64, false, "zip", 0}), Expect::kStreamed},
        {wide("wide.tif", rgb8), Expect::kStreamed},
        // OpenImageIO's other formats: JPEG, OpenEXR in scanlines and tiles, Targa, Netpbm.
        {tiff("picture.jpg", rgb8, {}), Expect::kStreamed},
        {wide("wide.jpg", rgb8), Expect::kStreamed},
        {tiff("scanlines.exr", floatRgb, {0, false, "zip", 0}), Expect::kStreamed},
        {tiff("tiles.exr", floatRgb, {32, false, "piz", 0}), Expect::kStreamed},
        {tiff("picture.tga", rgba8, {0, false, "rle", 0}), Expect::kStreamed},
        {tiff("picture.ppm", rgb8, {}), Expect::kStreamed},
        // Read whole: BMP and FITS by our readers, WebP by its own library.
        {dir.writeBmp("picture.bmp", testing_support::noisePicture(w, h)), Expect::kReadWhole},
        {tiff("picture.fits", grey16, {}), Expect::kReadWhole},
        {tiff("picture.webp", rgb8, {}), Expect::kReadWhole},
    };
    struct File {
        std::string path;
        Expect words, kept;
    };
    std::vector<File> files;
    for (const auto& row : rows)
        files.push_back({row.path, row.expected, row.expected});
    // The portable readers' pictures: TIFF of every kind the Windows build reads (and CMYK,
    // which it leaves to GDI+), OpenEXR; a strip two bytes short and a broken channel list,
    // refused; 16-bit planes in PackBits, which libtiff refuses (as OpenImageIO's words).
    for (const char* name : {"cmyk.tif", "double-deflate.tif", "float-deflate-tiles.tif", "float-lzw-big-endian.tif",
                             "float-rgb-lzw.tif", "grey4.tif", "grey8-lzw-tiles.tif", "half-lzw.tif",
                             "int16-deflate.tif", "palette8-lzw.tif", "rgb16-lzw-big-endian.tif", "rgb16-strips.tif",
                             "rgb4-unknown-extra.tif", "rgb5-extras.tif", "rgb8-deflate.tif",
                             "ga8-packbits-big-endian.tif", "rgba16-deflate-tiles-bigtiff.tif", "uint32.tif",
                             "rgba-half-none.exr", "grey-float-rle.exr", "ga-half-zips-decreasing.exr",
                             "rgb-float-zip.exr"})
        files.push_back({readerPicture(name), Expect::kStreamed, Expect::kStreamed});
    for (const char* name : {"rgb16-strip-short.tif", "channels-unended.exr"})
        files.push_back({readerPicture(name), Expect::kRefused, Expect::kRefused});
    files.push_back({readerPicture("rgba16-packbits-planes.tif"), Expect::kRefused, Expect::kStreamed});
    for (const auto& row : files)
        for (const bool keep : {false, true}) {
            const MapBytes whole = wholeRows(row.path, keep);
            for (const auto& working : narrowingsOf(whole.layout)) {
                SCOPED_TRACE(row.path + (keep ? ", kept" : ", words") +
                             (working ? ", narrowed to " + std::to_string(static_cast<int>(working->type)) + "/" +
                                            std::to_string(working->channels)
                                      : std::string()));
                EXPECT_EQ(expectRowsOfTheWholeDecoding(row.path, keep, working), keep ? row.kept : row.words);
            }
        }
}

// `samples` of a picture of `width` pixels a row, of `layout`, the `columns` × `rows` pixels
// from (left, top).
Bytes cutOut(const Bytes& samples, std::uint32_t width, SampleLayout layout, std::uint32_t left, std::uint32_t top,
             std::uint32_t columns, std::uint32_t rows)
{
    const std::size_t bytes = texelBytes(layout);
    Bytes piece;
    for (std::uint32_t y = top; y < top + rows; ++y) {
        const auto from = samples.begin() + static_cast<std::ptrdiff_t>((std::size_t{y} * width + left) * bytes);
        piece.insert(piece.end(), from, from + static_cast<std::ptrdiff_t>(columns * bytes));
    }
    return piece;
}

// 8-bit RGB samples as a picture of 0xRRGGBB words, for the BMP writer.
testing_support::Picture pictureOf(const Bytes& rgb, std::uint32_t width, std::uint32_t height)
{
    testing_support::Picture picture;
    picture.width = width;
    picture.height = height;
    for (std::size_t i = 0; i < rgb.size(); i += 3)
        picture.rgb.push_back(pictureWord(rgb[i], rgb[i + 1], rgb[i + 2]));
    return picture;
}

// A piece of a picture written as `format`: PNG (our reader), TIFF in tiles (the portable
// reader's, or OpenImageIO's as words), BMP (read whole), Targa (OpenImageIO's).
std::string writePiece(const ScratchDir& dir, const std::string& name, const std::string& format, std::uint32_t width,
                       std::uint32_t height, SampleLayout layout, const Bytes& samples)
{
    if (format == "png")
        return writePng(dir, name + ".png", width, height, layout, samples);
    if (format == "bmp")
        return dir.writeBmp(name + ".bmp", pictureOf(samples, width, height));
    return writeWithOpenImageIO(dir.file(name + "." + format), width, height, layout, samples,
                                {format == "tif" ? 32 : 0, false, format == "tif" ? "zip" : "rle", 0});
}

TEST(MapRows, AMosaicIsThePictureItsTilesWereCutFrom)
{
    Imaging imaging;
    ASSERT_TRUE(imaging.started);
    ScratchDir dir;
    const struct {
        SampleLayout layout;
        std::uint32_t columns, rows;
        std::vector<std::string> formats;  // of the tiles in turn, row by row
    } rows[] = {
        {{SampleType::U8, 3}, 1, 1, {"tif"}},
        {{SampleType::U8, 3}, 2, 2, {"png", "tif", "bmp", "tga"}},
        {{SampleType::U8, 3}, 4, 2, {"tif", "png", "tga", "bmp", "bmp", "png", "tif", "png"}},
        {{SampleType::U16, 3}, 4, 2, {"png", "tif"}},
        {{SampleType::U8, 4}, 2, 2, {"tga", "png", "tif", "png"}},
        {{SampleType::U16, 1}, 2, 2, {"tif", "png"}},
    };
    for (const auto& row : rows) {
        // Tiles of odd sides, several bands of every reader, under a band of PNG's.
        const std::uint32_t tileWidth = 97, tileHeight = 61;
        const std::uint32_t width = tileWidth * row.columns, height = tileHeight * row.rows;
        const Bytes samples = sampleBytesOf(width, height, row.layout, row.columns);
        const std::string picture = writePng(dir, "whole.png", width, height, row.layout, samples);
        MapRowsRequest request{{}, row.columns, row.rows, false};
        for (std::uint32_t y = 0; y < row.rows; ++y)
            for (std::uint32_t x = 0; x < row.columns; ++x) {
                const std::size_t index = std::size_t{y} * row.columns + x;
                request.paths.push_back(writePiece(
                    dir, "tile" + std::to_string(index), row.formats[index % row.formats.size()], tileWidth,
                    tileHeight, row.layout,
                    cutOut(samples, width, row.layout, x * tileWidth, y * tileHeight, tileWidth, tileHeight)));
            }
        for (const bool keep : {false, true}) {
            request.keepSamples = keep;
            for (const std::optional<SampleLayout>& working : narrowingsOf(wholeRows(picture, keep).layout)) {
                SCOPED_TRACE(std::to_string(row.columns) + " x " + std::to_string(row.rows) + " tiles of " +
                             std::to_string(texelBytes(row.layout)) + "-byte pixels" + (keep ? ", kept" : "") +
                             (working ? ", narrowed" : ""));
                const MapBytes whole = wholeRows(picture, keep, working);
                const MapBytes mosaic = streamedRows(request, working);
                ASSERT_EQ(mosaic.status, imaging_status::kOk) << mosaic.message;
                EXPECT_TRUE(mosaic.message.empty()) << mosaic.message;
                EXPECT_EQ(mosaic.width, width);
                EXPECT_EQ(mosaic.height, height);
                EXPECT_EQ(mosaic.layout, whole.layout);
                EXPECT_EQ(mosaic.fileLayout, whole.fileLayout);
                EXPECT_EQ(firstRowApart(mosaic, whole), height) << "the first row that differs";
            }
        }
    }
}

TEST(MapRows, TilesThatDifferAreRefusedSayingHow)
{
    Imaging imaging;
    ASSERT_TRUE(imaging.started);
    ScratchDir dir;
    const auto piece = [&](const std::string& name, std::uint32_t width, std::uint32_t height, SampleLayout layout) {
        return writePng(dir, name, width, height, layout, sampleBytesOf(width, height, layout));
    };
    const SampleLayout rgb{SampleType::U8, 3};
    const std::string a1 = piece("A1.png", 40, 30, rgb), a2 = piece("A2.png", 40, 30, rgb),
                      b1 = piece("B1.png", 40, 30, rgb), grey = piece("grey.png", 40, 30, {SampleType::U8, 1}),
                      wide = piece("wide.png", 41, 30, rgb), deep = piece("deep.png", 40, 30, {SampleType::U16, 3}),
                      alpha = piece("alpha.png", 40, 30, {SampleType::U8, 4}),
                      shallow = piece("shallow.tif", 40, 29, rgb),
                      heights = writeWithOpenImageIO(dir.file("heights.tif"), 40, 30, {SampleType::I16, 1},
                                                     sampleBytesOf(40, 30, {SampleType::I16, 1}));
    const std::string missing = dir.file("missing.png");
    const struct {
        std::vector<std::string> paths;
        std::uint32_t columns, rows;
        bool keep;
        int status;
        std::string message;
    } rows[] = {
        {{a1, b1, grey, a2}, 2, 2, false, imaging_status::kInvalidParameter,
         "The mosaic's tiles differ: " + grey + " is 40 x 30 grey, " + a1 + " 40 x 30 RGB."},
        {{a1, wide}, 2, 1, false, imaging_status::kInvalidParameter,
         "The mosaic's tiles differ: " + wide + " is 41 x 30 RGB, " + a1 + " 40 x 30 RGB."},
        {{a1, shallow}, 1, 2, false, imaging_status::kInvalidParameter,
         "The mosaic's tiles differ: " + shallow + " is 40 x 29 RGB, " + a1 + " 40 x 30 RGB."},
        {{deep, a1}, 2, 1, true, imaging_status::kInvalidParameter,
         "The mosaic's tiles differ: " + a1 + " is 40 x 30 RGB, " + deep + " 40 x 30 16-bit RGB."},
        // The design's words are alike whatever the depth, but the file's depth is the map's.
        {{a1, deep}, 2, 1, false, imaging_status::kInvalidParameter,
         "The mosaic's tiles differ: " + deep + " is 40 x 30 16-bit RGB, " + a1 + " 40 x 30 RGB."},
        {{a1, a2, b1, alpha}, 4, 1, false, imaging_status::kInvalidParameter,
         "The mosaic's tiles differ: " + alpha + " is 40 x 30 RGBA, " + a1 + " 40 x 30 RGB."},
        {{grey, heights}, 2, 1, true, imaging_status::kInvalidParameter,
         "The mosaic's tiles differ: " + heights + " is 40 x 30 signed 16-bit grey, " + grey + " 40 x 30 grey."},
        {{a1, a2, b1}, 2, 2, false, imaging_status::kInvalidParameter,
         "A mosaic of 2 x 2 tiles takes 4 files, not 3."},
        {{a1, a2}, 0, 2, false, imaging_status::kInvalidParameter, "A mosaic of 0 x 2 tiles takes 0 files, not 2."},
        {{a1, missing, b1, a2}, 2, 2, false, imaging_status::kUnknownImageFormat,
         "The mosaic's tile " + missing + " cannot be read."},
        // One file is no mosaic: its failure is its own.
        {{missing}, 1, 1, false, imaging_status::kUnknownImageFormat, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.message);
        int status = imaging_status::kOk;
        std::string message = "left from before";
        EXPECT_FALSE(openMapRows({row.paths, row.columns, row.rows, row.keep}, status, message));
        EXPECT_EQ(status, row.status);
        EXPECT_EQ(message, row.message);
    }
}

// A row at a time, as far as the map goes: a read fails before the last row is handed out,
// with the status of the whole decoding's refusal, and none succeeds or writes after it. The
// rows before, of a file cut short, are the intact file's. Returns the rows read.
std::uint32_t expectFailsAtItsFault(const MapRowsRequest& request, const MapBytes& intact, int refusal, bool cut)
{
    int status = imaging_status::kOk;
    std::string message;
    const std::unique_ptr<MapRows> rows = openMapRows(request, status, message);
    if (!rows) {
        EXPECT_EQ(status, refusal) << "at the opening";
        return 0;
    }
    const std::size_t rowBytes = (std::size_t{rows->width()} + 1) * pixelBytes(rows->layout());
    EXPECT_EQ(rows->width(), intact.width);
    EXPECT_EQ(rows->height(), intact.height);
    Bytes row(rowBytes);
    std::uint32_t read = 0;
    while (read < rows->height() && (status = rows->readRows(1, row.data(), rowBytes)) == imaging_status::kOk) {
        EXPECT_TRUE(!cut || std::equal(row.begin(), row.end(),
                                       intact.rows.begin() + static_cast<std::ptrdiff_t>(read * rowBytes)))
            << "row " << read;
        ++read;
    }
    EXPECT_EQ(status, refusal) << "after " << read << " rows";
    EXPECT_LT(read, rows->height());
    const Bytes untouched(rowBytes, 0x5A);
    row = untouched;
    EXPECT_NE(rows->readRows(1, row.data(), rowBytes), imaging_status::kOk);
    EXPECT_TRUE(row == untouched) << "written after the failure";
    return read;
}

Bytes readBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST(MapRows, ACutOrBrokenFileFailsAtItsFaultHandingOutOnlyRowsDecoded)
{
    Imaging imaging;
    ASSERT_TRUE(imaging.started);
    ScratchDir dir;
    const std::uint32_t w = 300, h = 200;
    const SampleLayout rgb8{SampleType::U8, 3}, rgb16{SampleType::U16, 3};
    const auto tiff = [&](const std::string& name, SampleLayout layout, const Written& how) {
        return writeWithOpenImageIO(dir.file(name), w, h, layout, sampleBytesOf(w, h, layout), how);
    };
    // OpenImageIO's bands take about 256 KiB of rows: at 4000 pixels a row, a few rows each.
    const auto wide = [&](const std::string& name, SampleLayout layout, const Written& how) {
        return writeWithOpenImageIO(dir.file(name), 4000, h, layout, sampleBytesOf(4000, h, layout), how);
    };
    // A PNG of several pieces of the reader's file data, in one IDAT chunk: the rows of the
    // pieces before the cut are handed out. Cut TIFF, whose strips and tiles then lie past
    // its end, is refused at its opening, as the whole decoding refuses it before decoding.
    const std::string png = writePng(dir, "picture.png", 2 * w, 2 * h, rgb16, sampleBytesOf(2 * w, 2 * h, rgb16));
    const struct {
        std::string path;
        bool keep;
        double cutAt;  // of the file's bytes; 0: 64 bytes of its data overwritten instead
        bool rowsFirst;  // rows are handed out before the fault
    } rows[] = {
        {png, true, 0.6, true},
        {png, false, 0.6, true},
        {png, true, 0, true},
        {tiff("strips.tif", rgb16, {0, false, "zip", 16}), true, 0.6, false},
        {tiff("strips.tif", rgb16, {0, false, "zip", 16}), true, 0, true},
        {tiff("strips.tif", rgb16, {0, false, "zip", 16}), false, 0.6, false},
        {tiff("tiles.tif", rgb16, {32, false, "zip", 0}), true, 0.6, false},
        {tiff("tiles.tif", rgb16, {32, false, "zip", 0}), true, 0, true},
        {tiff("planes.tif", rgb16, {0, true, "lzw", 8}), true, 0.9, false},
        {wide("picture.exr", {SampleType::F32, 3}, {0, false, "zip", 0}), true, 0, true},
        {wide("picture.jpg", rgb8, {}), false, 0, false},  // its markers are checked at the opening
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path + (row.keep ? ", kept" : "") + (row.cutAt != 0 ? ", cut" : ", overwritten"));
        const MapBytes intact = wholeRows(row.path, row.keep);
        ASSERT_EQ(intact.status, imaging_status::kOk);
        Bytes bytes = readBytes(row.path);
        if (row.cutAt != 0)
            bytes.resize(static_cast<std::size_t>(static_cast<double>(bytes.size()) * row.cutAt));
        else
            std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2), 64, 0xFF);
        const std::string broken = dir.write("broken" + row.path.substr(row.path.rfind('.')), bytes);
        const int refusal = wholeRows(broken, row.keep).status;
        ASSERT_NE(refusal, imaging_status::kOk);
        const std::uint32_t read = expectFailsAtItsFault({{broken}, 1, 1, row.keep}, intact, refusal, row.cutAt != 0);
        EXPECT_EQ(read > 0, row.rowsFirst) << read << " rows before the fault";
    }
    // A mosaic whose second row of tiles holds a cut one: its first row of tiles is read, then
    // the cut tile fails.
    const Bytes samples = sampleBytesOf(2 * w, 2 * h, rgb8);
    const std::string whole = writePng(dir, "whole.png", 2 * w, 2 * h, rgb8, samples);
    MapRowsRequest request{{}, 2, 2, false};
    for (std::uint32_t i = 0; i < 4; ++i)
        request.paths.push_back(writePng(dir, "tile" + std::to_string(i) + ".png", w, h, rgb8,
                                         cutOut(samples, 2 * w, rgb8, i % 2 * w, i / 2 * h, w, h)));
    Bytes cut = readBytes(request.paths[3]);
    cut.resize(cut.size() / 2);
    dir.write("tile3.png", cut);
    EXPECT_EQ(expectFailsAtItsFault(request, wholeRows(whole, false), imaging_status::kUnknownImageFormat, true), h);
}

TEST(MapRows, OnlyTheReadersBuffersAreHeldToTheMemory)
{
    Imaging imaging;
    ASSERT_TRUE(imaging.started);
    ScratchDir dir;
    // 2000 × 1000 pixels: 8 MB of words, 12 MB of 16-bit RGB, in the whole decoding.
    const std::uint32_t w = 2000, h = 1000;
    const SampleLayout rgb8{SampleType::U8, 3}, rgb16{SampleType::U16, 3};
    const std::string png = writePng(dir, "picture.png", w, h, rgb16, sampleBytesOf(w, h, rgb16));
    const std::string tiles = writeWithOpenImageIO(dir.file("tiles.tif"), w, h, rgb16, sampleBytesOf(w, h, rgb16),
                                                   {32, false, "zip", 0});
    const std::string jpeg = writeWithOpenImageIO(dir.file("picture.jpg"), w, h, rgb8, sampleBytesOf(w, h, rgb8));
    const std::string left = writePng(dir, "left.png", w / 2, h, rgb8, sampleBytesOf(w / 2, h, rgb8));
    const std::string right = dir.writeBmp("right.bmp", testing_support::noisePicture(w / 2, h));
    const struct {
        const char* what;
        MapRowsRequest request;
        std::uint64_t most;  // readerBytes may be no more
    } rows[] = {
        // The reader's band and file data, the rows above and the inflater's state.
        {"PNG", {{png}, 1, 1, false}, 800 << 10},
        {"PNG kept", {{png}, 1, 1, true}, 800 << 10},
        // A row of 32 rows of tiles, a tile and the file data.
        {"TIFF tiles kept", {{tiles}, 1, 1, true}, 800 << 10},
        // OpenImageIO's bands of about 256 KiB of rows, in the file's layout and as ours.
        {"TIFF tiles as words", {{tiles}, 1, 1, false}, 2 << 20},
        {"JPEG", {{jpeg}, 1, 1, false}, 2 << 20},
        // Two PNG readers; a PNG reader and a BMP decoded whole, 4 MB.
        {"a mosaic of two PNG", {{left, left}, 2, 1, false}, 2 * (800 << 10)},
        {"a mosaic of a PNG and a BMP", {{left, right}, 2, 1, false}, (800 << 10) + (4200 << 10)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        int status = imaging_status::kOk;
        std::string message;
        std::uint64_t bytes = 0;
        {
            const std::unique_ptr<MapRows> unlimited = openMapRows(row.request, status, message);
            ASSERT_TRUE(unlimited);
            bytes = unlimited->readerBytes();
        }
        EXPECT_GT(bytes, std::uint64_t{w} * 3);
        EXPECT_LE(bytes, row.most);
        {
            // A machine with less than the readers hold: refused before a row is read.
            MemoryLimit limit(bytes - 1);
            EXPECT_FALSE(openMapRows(row.request, status, message));
            EXPECT_EQ(status, imaging_status::kValueOverflow);
        }
        // With as much as they hold, every row is read, though the map would not fit.
        MemoryLimit limit(bytes);
        const MapBytes map = streamedRows(row.request);
        EXPECT_EQ(map.status, imaging_status::kOk);
        EXPECT_EQ(map.rowsRead, h);
        EXPECT_EQ(map.readerBytes, bytes);
        if (row.request.paths.size() == 1) {
            EXPECT_EQ(wholeRows(row.request.paths[0], row.request.keepSamples).status, imaging_status::kValueOverflow)
                << "the whole decoding under the same memory";
        }
    }
}

// The files, and the files below the folders, of a list separated by ':'.
std::vector<std::string> filesOf(const char* list)
{
    std::vector<std::string> files;
    std::string all = list;
    for (std::size_t at = 0; at <= all.size();) {
        const std::size_t end = std::min(all.find(':', at), all.size());
        const std::filesystem::path entry = all.substr(at, end - at);
        if (std::filesystem::is_directory(entry)) {
            for (const auto& file : std::filesystem::recursive_directory_iterator(entry))
                if (file.is_regular_file())
                    files.push_back(file.path().string());
        } else if (!entry.empty()) {
            files.push_back(entry.string());
        }
        at = end + 1;
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The pictures of the command line's tables (tests/bad_input_test.sh names them in
// ORBILUNE_MAP_ROWS_PICTURES): one picture in many layouts and formats, samples of every
// depth and alpha, pictures turned by their metadata. Each read in bands gives the whole
// decoding's rows, kept or not, narrowed or not, or is read whole.
TEST(MapRows, ReadsThePicturesOfTheCommandLinesTablesAsTheWholeDecoding)
{
    const char* list = std::getenv("ORBILUNE_MAP_ROWS_PICTURES");
    if (list == nullptr)
        GTEST_SKIP() << "run by tests/bad_input_test.sh, which makes the pictures";
    Imaging imaging;
    ASSERT_TRUE(imaging.started);
    int counts[3] = {};
    for (const std::string& path : filesOf(list))
        for (const bool keep : {false, true}) {
            const MapBytes whole = wholeRows(path, keep);
            for (const auto& working : narrowingsOf(whole.layout)) {
                SCOPED_TRACE(path + (keep ? ", kept" : ", words") + (working ? ", narrowed" : ""));
                ++counts[static_cast<int>(expectRowsOfTheWholeDecoding(path, keep, working))];
            }
        }
    std::printf("%d read in bands, %d read whole, %d refused alike\n", counts[0], counts[1], counts[2]);
    EXPECT_GT(counts[0], counts[1] + counts[2]);
}

// The map named in ORBILUNE_MAP_ROWS_MEASURED read in bands of 4 rows, for the memory its
// reading takes (tests/bad_input_test.sh measures it): its rows as words when
// ORBILUNE_MAP_ROWS_READ is "all", none when it is "none" (the map only opened), and nothing
// at all, not even opened, when it is "nothing". Prints the rows read and the readers' bytes.
TEST(MapRows, ReadsTheMapTheCommandLinesTableMeasures)
{
    const char* path = std::getenv("ORBILUNE_MAP_ROWS_MEASURED");
    const char* read = std::getenv("ORBILUNE_MAP_ROWS_READ");
    if (path == nullptr || read == nullptr)
        GTEST_SKIP() << "run by tests/bad_input_test.sh, which makes the map";
    const std::string what = read;
    if (what == "nothing")
        return;
    int status = imaging_status::kOk;
    std::string message;
    const std::unique_ptr<MapRows> rows = openMapRows({{path}, 1, 1, false}, status, message);
    ASSERT_TRUE(rows) << status;
    const std::size_t rowBytes = (std::size_t{rows->width()} + 1) * pixelBytes(rows->layout());
    std::uint32_t done = 0;
    std::uint64_t sum = 0;
    Bytes band(4 * rowBytes);
    for (; what == "all" && done < rows->height(); done += std::min(4u, rows->height() - done)) {
        ASSERT_EQ(rows->readRows(std::min(4u, rows->height() - done), band.data(), rowBytes), imaging_status::kOk);
        sum += band[(done * 7919u) % band.size()];
    }
    std::printf("rows %u readerBytes %llu sample %llu\n", done, static_cast<unsigned long long>(rows->readerBytes()),
                static_cast<unsigned long long>(sum));
}

// The portable readers' pictures read in bands as their own samples, and a mosaic of four of
// them: the FNV-1a hashes of their rows (with the wrap pixels), recorded, so that a reader
// whose rows change shows here.
TEST(MapRows, ThePortableReadersGiveTheRowsTheWindowsBuildGives)
{
    Imaging imaging;
    ASSERT_TRUE(imaging.started);
    const struct {
        std::vector<const char*> names;  // below tests/windows/data
        std::uint64_t hash;
    } rows[] = {
        {{"picture-3x2-16bit.png"}, 0x7ad174d6b5b6f940ull},
        {{"readers/rgb16-strips.tif"}, 0x70bc62ee0a223892ull},
        {{"readers/rgb16-lzw-big-endian.tif"}, 0x70bc62ee0a223892ull},
        {{"readers/rgba16-deflate-tiles-bigtiff.tif"}, 0x6d39019d365e3434ull},
        {{"readers/rgba16-packbits-planes.tif"}, 0x6d39019d365e3434ull},
        {{"readers/rgb5-extras.tif"}, 0x70bc62ee0a223892ull},
        {{"readers/grey8-lzw-tiles.tif"}, 0x2e316edf1a3615f8ull},
        {{"readers/rgb8-deflate.tif"}, 0x63c290d1a74f3e22ull},
        {{"readers/ga8-packbits-big-endian.tif"}, 0xf7250d3bf8bb78f5ull},
        {{"readers/int16-deflate.tif"}, 0xaf52578def408e36ull},
        {{"readers/float-rgb-lzw.tif"}, 0x3dd6ca0eed4d8fccull},
        {{"readers/float-deflate-tiles.tif"}, 0x2be694721cc164fdull},
        {{"readers/double-deflate.tif"}, 0x2be694721cc164fdull},
        {{"readers/uint32.tif"}, 0x8b2ffdfc4a0c3543ull},
        {{"readers/half-lzw.tif"}, 0x2d2ae2cc309dd949ull},
        {{"readers/palette8-lzw.tif"}, 0x18d5547af3030ab9ull},
        {{"readers/grey4.tif"}, 0x5487909f71367b00ull},
        {{"readers/rgb16-strips.tif", "readers/rgb16-lzw-big-endian.tif", "readers/rgb4-unknown-extra.tif",
          "readers/rgb5-extras.tif"},
         0x6daa0b0d93c57a2full},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.names.back());
        MapRowsRequest request{{}, row.names.size() == 4 ? 2u : 1u, row.names.size() == 4 ? 2u : 1u, true};
        for (const char* name : row.names)
            request.paths.push_back(std::string(ORBILUNE_READER_PICTURES) + "/../" + name);
        const MapBytes map = streamedRows(request);
        ASSERT_EQ(map.status, imaging_status::kOk) << map.message;
        ASSERT_EQ(map.rowsRead, map.height);
        std::printf("%s %016llx\n", row.names.back(), static_cast<unsigned long long>(testing_support::fnv1a(map.rows)));
        EXPECT_EQ(testing_support::fnv1a(map.rows), row.hash);
    }
}

}  // namespace
