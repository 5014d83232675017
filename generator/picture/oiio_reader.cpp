// The general reader on OpenImageIO, built as a module of its own and loaded on first use:
// OpenImageIO brings in some two hundred libraries, whose loading would otherwise cost
// every run a third of a second and a hundred megabytes.
//
// Whatever OpenImageIO decodes is accepted and converted the way GDI+ would hand it out:
// grey pictures expanded to three equal channels, palettes expanded (by the readers),
// 16-bit channels cut to their high byte and float channels scaled to 8 bits, CMYK
// converted to RGB, alpha ignored and never multiplied into the colours. The picture is
// decoded once, in bands, straight into its final words.
//
// Asked to keep the file's samples, it keeps their type (8 or 16-bit unsigned, signed
// 16-bit; half, float and double as float, and other integers, such as 32-bit heights, as
// floats of the same values) and their channels: grey or RGB (the colours OpenImageIO gives,
// CMYK made RGB by its readers), and alpha where OpenImageIO says the channel after them is
// alpha; channels past those are dropped. GIF's transparency is not alpha here.
//
// The module's other files: picture_format.cpp knows the file's format by its content (or,
// for the formats without a signature, its name); where a reader of OpenImageIO 2.4 would
// let a hostile file crash, hang or fill gigabytes, the file is checked first by that
// format's guard (format_guards.h: jpeg_guard.cpp, sgi_guard.cpp, dds_guard.cpp,
// softimage_guard.cpp, ico_guard.cpp, dpx_guard.cpp) or read through the format's own
// library instead (module_readers.h: webp_reader.cpp, heif_reader.cpp).
#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "canvas_check.h"
#include "decoded_picture.h"
#include "format_guards.h"
#include "image_object.h"
#include "module_readers.h"
#include "picture_format.h"
#include "picture_rows.h"

namespace {

// a × b, or the largest value where the product would not fit; a + b likewise.
std::uint64_t saturatingProduct(std::uint64_t a, std::uint64_t b)
{
    return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

// The most a tile of more pixels than its picture may take (see decode).
constexpr std::uint64_t kLargestOddTileBytes = std::uint64_t{16} << 20;

// The rows a band holds: about 256 KiB of decoded data, which keeps the reader's scratch in
// the cache; a tiled picture's bands are whole rows of tiles.
std::uint64_t rowsPerBand(const OIIO::ImageSpec& layout, std::uint64_t columns)
{
    const std::uint64_t rows = std::max<std::uint64_t>(1, (256u << 10) / (columns * 3));
    if (layout.tile_width <= 0 || layout.tile_height <= 0)
        return rows;
    const auto tileRows = static_cast<std::uint64_t>(layout.tile_height);
    return std::max<std::uint64_t>(1, rows / tileRows) * tileRows;
}

// Turns a band of 16-bit samples, `samplesPerPixel` to a pixel, into bytes 0 to
// channels − 1 of the band's words: the first `channels` samples of each pixel, each cut to
// its high byte, as GDI+ does (and Orbilune's PNG reader), where OpenImageIO's conversion
// would round v × 255 / 65535.
void keepHighBytes(const std::uint16_t* samples, std::size_t samplesPerPixel, int channels,
                   std::uint64_t columns, std::uint64_t rows, std::uint32_t* band, std::size_t stride)
{
    for (std::uint64_t row = 0; row < rows; ++row) {
        const std::uint16_t* in = samples + row * columns * samplesPerPixel;
        auto* out = reinterpret_cast<unsigned char*>(band + row * stride);
        for (std::uint64_t column = 0; column < columns; ++column)
            for (int channel = 0; channel < channels; ++channel)
                out[4 * column + channel] = static_cast<unsigned char>(in[column * samplesPerPixel + channel] >> 8);
    }
}

// The samples a picture of `layout`, of `format`, keeps (see the top of this file).
SampleLayout keptLayout(const OIIO::ImageSpec& layout, const std::string& format)
{
    const int colours = layout.nchannels < 3 ? 1 : 3;
    const bool alpha = layout.nchannels > colours && layout.alpha_channel == colours && format != "gif";
    SampleType type = SampleType::F32;
    switch (layout.format.basetype) {
    case OIIO::TypeDesc::UINT8:
        type = SampleType::U8;
        break;
    case OIIO::TypeDesc::UINT16:
        type = SampleType::U16;
        break;
    case OIIO::TypeDesc::INT16:
        type = SampleType::I16;
        break;
    default:
        break;
    }
    return {type, static_cast<unsigned>(colours) + (alpha ? 1u : 0u)};
}

OIIO::TypeDesc typeOf(SampleType type)
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

// Whether OpenImageIO's conversion from `from` to `to` keeps every value: the same type, or
// floating point made float. Between integer types, or from integers to float, it scales
// to the target's range instead.
bool convertsExactly(OIIO::TypeDesc from, SampleType to)
{
    if (to == SampleType::F32)
        return from.basetype == OIIO::TypeDesc::HALF || from.basetype == OIIO::TypeDesc::FLOAT ||
               from.basetype == OIIO::TypeDesc::DOUBLE;
    return from.basetype == typeOf(to).basetype;
}

// Turns a band of integer samples of `type`, `samplesPerPixel` to a pixel, into float
// pixels of `channels` samples, `pixelBytes` and `rowBytes` apart: the same values.
void integersAsFloats(const unsigned char* samples, OIIO::TypeDesc type, std::size_t samplesPerPixel, int channels,
                      std::uint64_t columns, std::uint64_t rows, unsigned char* band, std::size_t pixelBytes,
                      std::size_t rowBytes)
{
    const std::size_t sampleBytes = type.size();
    const auto valueAt = [type](const unsigned char* bytes) -> double {
        switch (type.basetype) {
        case OIIO::TypeDesc::INT8:
            return static_cast<double>(static_cast<signed char>(bytes[0]));
        case OIIO::TypeDesc::UINT32: {
            std::uint32_t value;
            std::memcpy(&value, bytes, sizeof value);
            return value;
        }
        case OIIO::TypeDesc::INT32: {
            std::int32_t value;
            std::memcpy(&value, bytes, sizeof value);
            return value;
        }
        case OIIO::TypeDesc::UINT64: {
            std::uint64_t value;
            std::memcpy(&value, bytes, sizeof value);
            return static_cast<double>(value);
        }
        case OIIO::TypeDesc::INT64: {
            std::int64_t value;
            std::memcpy(&value, bytes, sizeof value);
            return static_cast<double>(value);
        }
        default:
            return 0;
        }
    };
    for (std::uint64_t row = 0; row < rows; ++row) {
        const unsigned char* in = samples + row * columns * samplesPerPixel * sampleBytes;
        unsigned char* out = band + row * rowBytes;
        for (std::uint64_t column = 0; column < columns; ++column)
            for (int channel = 0; channel < channels; ++channel) {
                const auto value = static_cast<float>(valueAt(in + (column * samplesPerPixel + channel) * sampleBytes));
                std::memcpy(out + column * pixelBytes + 4 * channel, &value, 4);
            }
    }
}

// OpenImageIO's readers of these formats decode the whole picture into a buffer of their
// own at the first read (the others read a band, a strip or a row at a time), so that
// buffer is counted with the pixels.
bool readsWholePicture(const std::string& format)
{
    static const char* const formats[] = {"cineon", "dds", "ico", "iff", "jpeg2000", "psd",
                                          "rla", "sgi", "softimage", "targa", "zfile"};
    return std::find(std::begin(formats), std::end(formats), format) != std::end(formats);
}

// Of these formats no real file holds fewer than one byte for 128 pixels (a run of 128
// pixels in two bytes is as far as their run-length codings go; DDS blocks take at least
// half a byte a pixel), yet their readers fill or allocate what the header declares before
// finding the data wanting, or take the missing data for black: a header of a few bytes
// is refused instead.
double leastBytesPerPixel(const std::string& format)
{
    if (format == "dds")
        return 0.5;
    static const char* const formats[] = {"cineon", "dpx", "hdr", "ico", "iff", "pnm", "psd",
                                          "rla", "sgi", "softimage", "targa", "zfile"};
    return std::find(std::begin(formats), std::end(formats), format) != std::end(formats) ? 1.0 / 128 : 0;
}

// Every picture is used as its file stores it, whatever orientation its metadata asks for,
// as GDI+ loads it. OpenImageIO 2.4 reads TIFF pictures of some kinds (YCbCr, CIE L*a*b*,
// LogLuv, JPEG of other than three channels) through libtiff's RGBA interface, which turns
// the picture by its Orientation tag as far as flips go (a transposing orientation counts as
// the flip it contains): those flips are undone here. A picture so turned is not read in
// bands of rows: its first rows may be its last.
struct TiffFlips {
    bool mirrored = false, upsideDown = false;
};

TiffFlips tiffFlips(OIIO::ImageInput& input)
{
    if (std::strcmp(input.format_name(), "tiff") != 0)
        return {};
    const OIIO::ImageSpec spec = input.spec(0, 0);
    const int photometric = spec.get_int_attribute("tiff:PhotometricInterpretation", 2);
    const int compression = spec.get_int_attribute("tiff:Compression", 1);
    const bool jpeg = compression == 6 || compression == 7;
    const bool rgbaInterface = (jpeg && spec.nchannels != 3) || photometric == 6 || photometric == 8 ||
                               photometric == 9 || photometric == 10 || photometric == 32844 ||
                               photometric == 32845;
    const int orientation = spec.get_int_attribute("Orientation", 1);
    if (!rgbaInterface || orientation < 2 || orientation > 8)
        return {};
    return {orientation == 2 || orientation == 3 || orientation == 6 || orientation == 7,
            orientation == 3 || orientation == 4 || orientation == 7 || orientation == 8};
}

void undoTiffOrientation(OIIO::ImageInput& input, DecodedPicture& picture)
{
    const auto [mirrored, upsideDown] = tiffFlips(input);
    const std::size_t bytes = pixelBytes(picture.layout);
    if (mirrored)
        for (std::uint32_t row = 0; row < picture.rows; ++row)
            for (std::uint32_t left = 0, right = picture.columns - 1; left < right; ++left, --right)
                std::swap_ranges(pixelAt(picture, left, row), pixelAt(picture, left, row) + bytes,
                                 pixelAt(picture, right, row));
    if (upsideDown)
        for (std::uint32_t top = 0, bottom = picture.rows - 1; top < bottom; ++top, --bottom)
            std::swap_ranges(pixelAt(picture, 0, top), pixelAt(picture, picture.columns, top),
                             pixelAt(picture, 0, bottom));
}

// The first picture of an input read in bands, into the pixels of the whole picture (decode)
// or a band of rows at a time (the rows of a map read in bands, PictureRows).
class BandReader {
public:
    // The picture of `input`, a file of `fileBytes`, checked and planned. `readerBytes` is
    // what the decoder holds beside the pixels whatever this reader does (libjpeg's
    // coefficients, a GIF's canvas). `byRows`: the memory check counts a band of rows of our
    // own instead of the picture's pixels.
    int plan(OIIO::ImageInput& input, DecodedPicture& picture, std::uint64_t readerBytes, std::uint64_t fileBytes,
             bool byRows)
    {
        input_ = &input;
        // The first picture's dimensions, tiling and formats (its metadata is not needed).
        layout_ = input.spec_dimensions(0, 0);
        const OIIO::ImageSpec& layout = layout_;
        if (layout.format == OIIO::TypeDesc::UNKNOWN || layout.width <= 0 || layout.height <= 0 ||
            layout.depth != 1 || layout.nchannels <= 0 || static_cast<std::uint64_t>(layout.width) > kMaxPictureSide ||
            static_cast<std::uint64_t>(layout.height) > kMaxPictureSide)
            return imaging_status::kUnknownImageFormat;
        format_ = input.format_name();
        const std::string& format = format_;
        const double pixelCount = static_cast<double>(layout.width) * static_cast<double>(layout.height);
        if (pixelCount * leastBytesPerPixel(format) > static_cast<double>(fileBytes))
            return imaging_status::kUnknownImageFormat;
        if (readsWholePicture(format))
            readerBytes = saturatingAdd(readerBytes, saturatingProduct(static_cast<std::uint64_t>(layout.width) *
                                                                           static_cast<std::uint64_t>(layout.height),
                                                                       layout.pixel_bytes(true)));
        // A tiled picture is read a band of whole tiles at a time (read_scanlines on a tiled
        // file divides by zero in OpenImageIO 2.4). The reader fills up to twice that band in
        // the file's own pixel format (its scratch and the band it converts from) beside our
        // pixels: it is counted with them before anything is allocated. Reading any pixel reads
        // its whole tile, so a tile of more pixels than the picture, and of over 16 MiB, is
        // refused as unreadable: a few bytes of header would otherwise cost gigabytes. Writers
        // use tiles of a few hundred pixels a side.
        //
        // A scanline picture whose channels share one format is read a band at a time in the
        // file's own layout into a scratch band of ours, counted in the same check, and
        // converted from there: OpenImageIO's read_scanlines would allocate 256 rows or 64 MB
        // of scratch whatever the band, and a few bytes of header declaring a row of millions
        // of pixels would make that a gigabyte.
        //
        // 16-bit channels are read as such (into a band of their own where OpenImageIO does the
        // reading) and cut to their high byte here.
        //
        // Kept samples are converted by OpenImageIO where its conversion keeps their values (the
        // same type, or floating point made float), else read in the file's own type (into a
        // band of their own, likewise) and made floats here.
        tiled_ = layout.tile_width > 0 && layout.tile_height > 0;
        ownScratch_ = !tiled_ && layout.channelformats.empty();
        kept_ = keptLayout(layout, format);
        picture.fileLayout = kept_;
        keep_ = picture.keepSamples;
        if (keep_)
            picture.layout = kept_;
        wide_ = !keep_ && layout.format.basetype == OIIO::TypeDesc::UINT16;
        asFloats_ = keep_ && layout.channelformats.empty() && !convertsExactly(layout.format, kept_.type);
        columns_ = static_cast<std::uint64_t>(layout.width);
        rows_ = static_cast<std::uint64_t>(layout.height);
        const std::uint64_t columns = columns_, rows = rows_;
        bandRows_ = rowsPerBand(layout, columns);
        filePixelBytes_ = layout.pixel_bytes(true);
        // Colour pictures land as R, G, B in bytes 0-2 of each word, grey ones in byte 0; both
        // are turned into picture words below. The fourth byte is never read. Kept samples land
        // as they are, 8-bit RGB and RGBA turned into picture words below.
        grey_ = layout.nchannels < 3;
        channels_ = keep_ ? static_cast<int>(kept_.channels) : grey_ ? 1 : 3;
        // The bytes of a sample that OpenImageIO reads into a band of ours, to be converted here.
        bandSampleBytes_ = wide_ ? 2 : asFloats_ ? layout.format.size() : 0;
        std::uint64_t scratchBytes = 0;
        if (ownScratch_) {
            scratchBytes = saturatingProduct(saturatingProduct(columns, std::min(rows, bandRows_)), filePixelBytes_);
        } else if (tiled_) {
            const auto tileColumns = static_cast<std::uint64_t>(layout.tile_width);
            const auto tileRows = static_cast<std::uint64_t>(layout.tile_height);
            const std::uint64_t tileBytes = saturatingProduct(tileColumns * tileRows, filePixelBytes_);
            if (tileColumns * tileRows > columns * rows && tileBytes > kLargestOddTileBytes)
                return imaging_status::kUnknownImageFormat;
            const std::uint64_t bandBytes = saturatingProduct(
                saturatingProduct((columns + tileColumns - 1) / tileColumns * tileColumns, bandRows_), filePixelBytes_);
            scratchBytes = saturatingProduct(bandBytes, 2);
        } else {  // read_scanlines' own scratch, up to 256 rows, and the rows it converts from
            scratchBytes = saturatingProduct(saturatingProduct(columns, std::min<std::uint64_t>(rows, 256)),
                                             2 * filePixelBytes_);
        }
        ownBandRows_ = bandSampleBytes_ != 0 && !ownScratch_ ? std::min(rows, bandRows_) : 0;
        scratchBytes = saturatingAdd(scratchBytes, saturatingProduct(columns * ownBandRows_, bandSampleBytes_ * channels_));
        pixelSize_ = pixelBytes(picture.layout);
        // Rows handed out in bands: a band of our pixels.
        const std::uint64_t rowsBand = byRows ? saturatingProduct(saturatingProduct(columns, std::min(rows, bandRows_)),
                                                                  pixelSize_)
                                              : 0;
        readerBytes_ = saturatingAdd(saturatingAdd(scratchBytes, readerBytes), rowsBand);
        if (!(byRows ? pictureFits(picture, 0, 0, readerBytes_) : pictureFits(picture, columns, rows, readerBytes_)))
            return imaging_status::kValueOverflow;
        if (ownScratch_) {
            scratch_.reset(new (std::nothrow) unsigned char[scratchBytes]);
            if (!scratch_)
                return imaging_status::kOutOfMemory;
        }
        if (ownBandRows_ > 0) {
            ownBand_.reset(new (std::nothrow) unsigned char[columns * ownBandRows_ * bandSampleBytes_ * channels_]);
            if (!ownBand_)
                return imaging_status::kOutOfMemory;
        }
        return imaging_status::kOk;
    }

    std::uint64_t columns() const { return columns_; }
    std::uint64_t rows() const { return rows_; }
    std::uint64_t bandRows() const { return bandRows_; }
    std::uint64_t readerBytes() const { return readerBytes_; }

    // The band of rows from `row` (a multiple of bandRows) into `band`, rows `rowBytes`
    // apart, as the picture's pixels.
    int readBand(std::uint64_t row, unsigned char* band, std::size_t rowBytes)
    {
        OIIO::ImageInput& input = *input_;
        const OIIO::ImageSpec& layout = layout_;
        const std::uint64_t columns = columns_;
        const int channels = channels_;
        // OpenImageIO 2.4's TIFF reader, given a range of whole strips, reads them itself (a
        // deflate strip through its own zlib calls) and forgets a strip that failed: a strip
        // cut short left its rows black and the read reported success. A row at a time it goes
        // through libtiff, which reports a strip that ends early and reads a strip that holds
        // more than its rows as libtiff's own tools do.
        const int rowsPerRead = format_ == "tiff" ? 1 : static_cast<int>(bandRows_);
        const std::size_t pixelSize = pixelSize_;
        const auto rowStride = static_cast<OIIO::stride_t>(rowBytes);
        const OIIO::TypeDesc pixelType = keep_ ? typeOf(kept_.type) : OIIO::TypeDesc::UINT8;
        const std::uint64_t end = std::min(rows_, row + bandRows_);
        const int top = layout.y + static_cast<int>(row);
        const int bottom = layout.y + static_cast<int>(end);
        // Where OpenImageIO converts, the band it fills: our pixels, or the band of ours.
        void* target = ownBand_ ? static_cast<void*>(ownBand_.get()) : static_cast<void*>(band);
        const OIIO::TypeDesc targetType = wide_ ? OIIO::TypeDesc::UINT16 : asFloats_ ? layout.format : pixelType;
        const auto targetPixel = static_cast<OIIO::stride_t>(ownBand_ ? bandSampleBytes_ * channels : pixelSize);
        const auto targetRow = ownBand_ ? static_cast<OIIO::stride_t>(columns) * targetPixel : rowStride;
        bool read;
        if (tiled_) {
            read = input.read_tiles(0, 0, layout.x, layout.x + layout.width, top, bottom, layout.z,
                                    layout.z + 1, 0, channels, targetType, target, targetPixel, targetRow);
        } else if (ownScratch_) {
            // The first `channels` channels of each pixel, converted as read_scanlines would.
            const auto fileRowBytes = static_cast<OIIO::stride_t>(columns * filePixelBytes_);
            read = true;
            for (int y = top; read && y < bottom; y += rowsPerRead)
                read = input.read_native_scanlines(0, 0, y, std::min(bottom, y + rowsPerRead), layout.z,
                                                   scratch_.get() + (y - top) * fileRowBytes);
            if (read && wide_)
                keepHighBytes(reinterpret_cast<const std::uint16_t*>(scratch_.get()),
                              static_cast<std::size_t>(layout.nchannels), channels, columns, end - row,
                              reinterpret_cast<std::uint32_t*>(band), rowBytes / 4);
            else if (read && asFloats_)
                integersAsFloats(scratch_.get(), layout.format, static_cast<std::size_t>(layout.nchannels), channels,
                                 columns, end - row, band, pixelSize, rowBytes);
            else if (read)
                read = OIIO::convert_image(channels, layout.width, bottom - top, 1, scratch_.get(), layout.format,
                                           static_cast<OIIO::stride_t>(filePixelBytes_), fileRowBytes,
                                           OIIO::AutoStride, band, pixelType,
                                           static_cast<OIIO::stride_t>(pixelSize), rowStride, OIIO::AutoStride);
        } else {
            read = true;
            for (int y = top; read && y < bottom; y += rowsPerRead)
                read = input.read_scanlines(0, 0, y, std::min(bottom, y + rowsPerRead), 0, 0, channels, targetType,
                                            static_cast<char*>(target) + (y - top) * targetRow, targetPixel,
                                            targetRow);
        }
        if (read && wide_ && !ownScratch_)
            keepHighBytes(reinterpret_cast<const std::uint16_t*>(ownBand_.get()), static_cast<std::size_t>(channels),
                          channels, columns, end - row, reinterpret_cast<std::uint32_t*>(band), rowBytes / 4);
        if (read && asFloats_ && !ownScratch_)
            integersAsFloats(ownBand_.get(), layout.format, static_cast<std::size_t>(channels), channels, columns,
                             end - row, band, pixelSize, rowBytes);
        if (!read || input.has_error())
            return imaging_status::kUnknownImageFormat;
        if (!keep_) {
            for (std::uint64_t y = 0; y < end - row; ++y) {
                auto* pixel = reinterpret_cast<std::uint32_t*>(band + y * rowBytes);
                for (std::uint64_t column = 0; column < columns; ++column) {
                    const std::uint32_t red = pixel[column] & 0xFFu;
                    pixel[column] = grey_ ? pictureWord(red, red, red)
                                          : pictureWord(red, pixel[column] >> 8 & 0xFFu, pixel[column] >> 16 & 0xFFu);
                }
            }
        } else if (kept_.type == SampleType::U8 && kept_.channels >= 3) {
            // R, G, B (and A) in bytes 0-3 made picture words, opaque without alpha.
            for (std::uint64_t y = 0; y < end - row; ++y) {
                auto* pixel = reinterpret_cast<std::uint32_t*>(band + y * rowBytes);
                for (std::uint64_t column = 0; column < columns; ++column) {
                    const std::uint32_t rgba = pixel[column];
                    pixel[column] = pictureWord(rgba & 0xFFu, rgba >> 8 & 0xFFu, rgba >> 16 & 0xFFu) |
                                    (kept_.channels == 4 ? rgba & 0xFF000000u : 0xFF000000u);
                }
            }
        }
        return imaging_status::kOk;
    }

private:
    OIIO::ImageInput* input_ = nullptr;
    OIIO::ImageSpec layout_;
    std::string format_;
    bool tiled_ = false, ownScratch_ = false, keep_ = false, wide_ = false, asFloats_ = false, grey_ = false;
    SampleLayout kept_;
    std::uint64_t columns_ = 0, rows_ = 0, bandRows_ = 0, filePixelBytes_ = 0, bandSampleBytes_ = 0, ownBandRows_ = 0;
    int channels_ = 0;
    std::size_t pixelSize_ = 0;
    std::uint64_t readerBytes_ = 0;
    std::unique_ptr<unsigned char[]> scratch_;
    std::unique_ptr<unsigned char[]> ownBand_;
};

// Decodes the first picture of `input`, a file of `fileBytes`, band after band into the
// picture's pixels. `readerBytes`: as BandReader::plan.
int decode(OIIO::ImageInput& input, DecodedPicture& picture, std::uint64_t readerBytes, std::uint64_t fileBytes)
{
    BandReader reader;
    int status = reader.plan(input, picture, readerBytes, fileBytes, false);
    if (status == imaging_status::kOk)
        status = allocatePicture(picture, reader.columns(), reader.rows());
    if (status != imaging_status::kOk)
        return status;
    const std::size_t rowBytes = picture.stride * pixelBytes(picture.layout);
    for (std::uint64_t row = 0; row < reader.rows(); row += reader.bandRows()) {
        status = reader.readBand(row, pixelAt(picture, 0, static_cast<std::size_t>(row)), rowBytes);
        if (status != imaging_status::kOk)
            return status;
    }
    undoTiffOrientation(input, picture);
    fillWrapPixels(picture);
    return imaging_status::kOk;
}

// What a binary Netpbm file's header says of its first picture.
struct NetpbmHeader {
    int kind = 0;  // '4', '5', '6', 'F' or 'f'
    std::uint64_t width = 0, height = 0;
    std::uint64_t largest = 0;  // the largest sample (not of a bitmap or floats)
    std::uint64_t headerBytes = 0;
    std::uint64_t bytes = 0;  // the picture's, header included
};

// Reads the header of a binary Netpbm file; false for ASCII samples or a header that does
// not hold up.
bool readNetpbmHeader(const char* path, NetpbmHeader& header)
{
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "rb"), std::fclose);
    if (!file || std::fgetc(file.get()) != 'P')
        return false;
    const int kind = std::fgetc(file.get());
    const bool bitmap = kind == '4', floats = kind == 'F' || kind == 'f';
    if (kind != '4' && kind != '5' && kind != '6' && !floats)
        return false;
    // The header's numbers (width, height, then the largest sample or the scale), each after
    // white space and comments, then one white space.
    std::uint64_t numbers[3] = {0, 0, 0};
    const int count = bitmap ? 2 : 3;
    int c = std::fgetc(file.get());
    for (int i = 0; i < count; ++i) {
        while (c == '#' || std::isspace(c)) {
            if (c == '#')
                while (c != '\n' && c != EOF)
                    c = std::fgetc(file.get());
            c = std::fgetc(file.get());
        }
        if (floats && i == 2) {  // the scale, a signed real
            while (c != EOF && !std::isspace(c))
                c = std::fgetc(file.get());
            break;
        }
        if (!std::isdigit(c))
            return false;
        for (; std::isdigit(c) && numbers[i] < (std::uint64_t{1} << 32); c = std::fgetc(file.get()))
            numbers[i] = numbers[i] * 10 + static_cast<std::uint64_t>(c - '0');
    }
    const long headerBytes = std::ftell(file.get());
    if (c == EOF || !std::isspace(c) || headerBytes < 0)
        return false;
    header.kind = kind;
    header.width = numbers[0];
    header.height = numbers[1];
    header.largest = floats ? 0 : numbers[2];
    header.headerBytes = static_cast<std::uint64_t>(headerBytes);
    const std::uint64_t sample = floats ? 4 : numbers[2] > 255 ? 2 : 1;
    const std::uint64_t rowBytes = bitmap ? (header.width + 7) / 8
                                          : header.width * sample * (kind == '6' || kind == 'F' ? 3 : 1);
    header.bytes = header.headerBytes + rowBytes * header.height;
    return true;
}

// Binary grey and RGB Netpbm of 16-bit samples, kept: OpenImageIO 2.4's reader scales each
// sample to 16 bits (v × 65535 / the largest) in 32-bit integers, which overflow for samples
// over 32768 and give v − 1 there. Read here instead: the whole picture must be in the file,
// each big-endian sample scaled to 16 bits as that reader means to.
int readSixteenBitNetpbm(const char* path, const NetpbmHeader& header, std::uint64_t fileBytes,
                         DecodedPicture& picture)
{
    const unsigned channels = header.kind == '6' ? 3 : 1;
    picture.fileLayout = picture.layout = {SampleType::U16, channels};
    if (header.largest > 65535 || header.bytes > fileBytes || header.width == 0 || header.height == 0 ||
        header.width > kMaxPictureSide || header.height > kMaxPictureSide)
        return imaging_status::kUnknownImageFormat;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "rb"), std::fclose);
    const std::uint64_t rowBytes = header.width * channels * 2;
    if (!file || !pictureFits(picture, header.width, header.height, rowBytes))
        return file ? imaging_status::kValueOverflow : imaging_status::kUnknownImageFormat;
    const int status = allocatePicture(picture, header.width, header.height);
    if (status != imaging_status::kOk)
        return status;
    std::vector<unsigned char> row(rowBytes);
    if (std::fseek(file.get(), static_cast<long>(header.headerBytes), SEEK_SET) != 0)
        return imaging_status::kUnknownImageFormat;
    for (std::uint32_t y = 0; y < picture.rows; ++y) {
        if (std::fread(row.data(), 1, row.size(), file.get()) != row.size())
            return imaging_status::kUnknownImageFormat;
        unsigned char* out = pixelAt(picture, 0, y);
        for (std::size_t i = 0; i < row.size() / 2; ++i) {
            const std::uint64_t stored = std::min<std::uint64_t>(row[2 * i] << 8 | row[2 * i + 1], header.largest);
            const auto sample = static_cast<std::uint16_t>(stored * 65535 / header.largest);
            std::memcpy(out + 2 * i, &sample, 2);
        }
    }
    fillWrapPixels(picture);
    return imaging_status::kOk;
}

// A file that looks no longer than `bytes`: OpenImageIO 2.4's Netpbm reader reads the whole
// file into memory, so a picture of a few bytes followed by a gigabyte of anything would
// cost a gigabyte. It is shown only the first picture's bytes.
class CappedFile final : public OIIO::Filesystem::IOFile {
public:
    CappedFile(const char* path, std::uint64_t bytes) : IOFile(path, Mode::Read), bytes_(bytes) {}
    size_t size() const override { return static_cast<size_t>(std::min<std::uint64_t>(IOFile::size(), bytes_)); }

private:
    std::uint64_t bytes_;
};

// OpenImageIO's reader of `format`, opened on the file (through `proxy` where there is one),
// or null.
std::unique_ptr<OIIO::ImageInput> openInput(const char* path, const char* format, OIIO::ImageSpec config,
                                            OIIO::Filesystem::IOProxy* proxy)
{
    static const bool onlyNamedReaders = OIIO::attribute("try_all_readers", 0);  // once
    (void)onlyNamedReaders;
    if (proxy != nullptr)
        config.attribute("oiio:ioproxy", OIIO::TypeDesc::PTR, &proxy);
    auto input = OIIO::ImageInput::create(format, false, &config);
    OIIO::ImageSpec layout;
    if (input && !input->open(path, layout, config))
        input.reset();
    return input;
}

// A file opened for reading: OpenImageIO's reader on its first picture, with what it holds
// beside the pixels; or, for the formats read through their own libraries, that reading.
struct OpenedPicture {
    std::unique_ptr<CappedFile> capped;  // the Netpbm file the reader is shown, if any
    std::unique_ptr<OIIO::ImageInput> input;
    std::uint64_t readerBytes = 0;
    std::uint64_t fileBytes = 0;
    std::function<int(DecodedPicture&)> readWhole;

    ~OpenedPicture()
    {
        if (input)
            input->close();
        (void)OIIO::geterror();  // clear the library's pending message
    }
};

// Knows the file's format, checks it as that format's reader needs and opens it. `byRows`:
// the memory checks count what the readers hold beside the pixels, not the pixels (the rows
// of a map read in bands). Returns kOk with `opened` set, or the status the file is refused
// with.
int openPicture(const char* path, DecodedPicture& picture, OpenedPicture& opened, bool byRows)
{
    const auto fits = [&](std::uint64_t width, std::uint64_t height, std::uint64_t readerBytes) {
        return byRows ? pictureFits(picture, 0, 0, readerBytes) : pictureFits(picture, width, height, readerBytes);
    };
    unsigned char head[kHeadBytes] = {};
    const char* format = pictureFormat(path, head);
    if (format == nullptr)
        return imaging_status::kUnknownImageFormat;
    const auto is = [format](const char* name) { return std::strcmp(format, name) == 0; };
    // Formats read through their own libraries, and FITS, which Orbilune reads before any
    // of this (OpenImageIO 2.4 hands FITS rows out one place off).
    const std::string named = path;
    if (is("webp")) {
        opened.readWhole = [named](DecodedPicture& whole) { return readWebp(named.c_str(), whole); };
        return imaging_status::kOk;
    }
    if (is("heif")) {
        opened.readWhole = [named](DecodedPicture& whole) { return readHeif(named.c_str(), whole); };
        return imaging_status::kOk;
    }
    if (is("fits"))
        return imaging_status::kUnknownImageFormat;
    struct stat file {};
    const std::uint64_t fileBytes = stat(path, &file) == 0 ? static_cast<std::uint64_t>(file.st_size) : 0;
    opened.fileBytes = fileBytes;
    // OpenImageIO's GIF reader lays out the whole logical screen, four bytes a pixel, as
    // it opens the file: a header of 37 bytes had it fill a gigabyte before it found the
    // data missing. That memory is counted with the picture's, before the opening, and
    // the screen must be held by the first image (canvas_check.h).
    std::uint64_t readerBytes = 0;
    if (is("gif")) {
        const std::unique_ptr<std::FILE, int (*)(std::FILE*)> gif(std::fopen(path, "rb"), std::fclose);
        std::uint64_t width = 0;
        std::uint64_t height = 0;
        const int status = gif ? checkGifCanvas(gif.get(), fileBytes, width, height)
                               : imaging_status::kUnknownImageFormat;
        if (status != imaging_status::kOk)
            return status;
        readerBytes = 4 * width * height;
        if (!fits(width, height, readerBytes))
            return imaging_status::kValueOverflow;
    }
    // Formats whose readers OpenImageIO lets a hostile file hang or crash.
    const struct {
        const char* format;
        int (*check)(const char*);
    } checks[] = {{"sgi", format_guards::checkSgi},
                  {"dds", format_guards::checkDds},
                  {"softimage", format_guards::checkSoftimage},
                  {"ico", format_guards::checkIco},
                  {"dpx", format_guards::checkDpx},
                  {"cineon", format_guards::checkCineon}};
    for (const auto& check : checks) {
        const int status = is(check.format) ? check.check(path) : imaging_status::kOk;
        if (status != imaging_status::kOk)
            return status;
    }
    if (is("jpeg")) {
        std::uint64_t width = 0;
        std::uint64_t height = 0;
        const int status = format_guards::checkJpegMarkers(path, width, height, readerBytes);
        if (status != imaging_status::kOk)
            return status;
        if (!fits(width, height, readerBytes))
            return imaging_status::kValueOverflow;
    }
    opened.readerBytes = readerBytes;
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);  // colours as stored, never premultiplied
    NetpbmHeader netpbm;
    if (is("pnm") && readNetpbmHeader(path, netpbm)) {
        if (picture.keepSamples && (netpbm.kind == '5' || netpbm.kind == '6') && netpbm.largest > 255) {
            opened.readWhole = [named, netpbm, fileBytes](DecodedPicture& whole) {
                return readSixteenBitNetpbm(named.c_str(), netpbm, fileBytes, whole);
            };
            return imaging_status::kOk;
        }
        opened.capped = std::make_unique<CappedFile>(path, netpbm.bytes);
    }
    opened.input = openInput(path, format, config, opened.capped.get());
    return opened.input ? imaging_status::kOk : imaging_status::kUnknownImageFormat;
}

int decodeFile(const char* path, DecodedPicture& picture)
{
    try {
        OpenedPicture opened;
        const int status = openPicture(path, picture, opened, false);
        if (status != imaging_status::kOk)
            return status;
        if (opened.readWhole)
            return opened.readWhole(picture);
        return decode(*opened.input, picture, opened.readerBytes, opened.fileBytes);
    } catch (const std::bad_alloc&) {
        return imaging_status::kValueOverflow;
    } catch (...) {
        return imaging_status::kUnknownImageFormat;
    }
}

// A picture's rows for a map read in bands: the bands of the whole decoding, each read into
// a band of ours and handed out from there.
class OpenImageIORows final : public PictureRows {
public:
    int open(const char* path, const DecodedPicture& settings)
    {
        DecodedPicture picture;
        picture.keepSamples = settings.keepSamples;
        picture.memoryLimit = settings.memoryLimit;
        int status = openPicture(path, picture, opened_, true);
        if (status != imaging_status::kOk)
            return status;
        const TiffFlips flips = opened_.input ? tiffFlips(*opened_.input) : TiffFlips{};
        if (opened_.readWhole || flips.mirrored || flips.upsideDown)
            return kReadWhole;
        status = reader_.plan(*opened_.input, picture, opened_.readerBytes, opened_.fileBytes, true);
        if (status != imaging_status::kOk)
            return status;
        // OpenImageIO keeps an input's errors by thread, and the rows are read on another: an
        // error of the opening (a JPEG whose header is damaged) is seen here, where the whole
        // decoding sees it at its first band.
        if (opened_.input->has_error())
            return imaging_status::kUnknownImageFormat;
        columns = static_cast<std::uint32_t>(reader_.columns());
        rows = static_cast<std::uint32_t>(reader_.rows());
        layout = picture.layout;
        fileLayout = picture.fileLayout;
        readerBytes = reader_.readerBytes();
        bandRowBytes_ = std::size_t{columns} * pixelBytes(layout);
        band_.reset(new (std::nothrow) unsigned char[bandRowBytes_ * std::min(reader_.bandRows(), reader_.rows())]);
        return band_ ? imaging_status::kOk : imaging_status::kOutOfMemory;
    }

    int readRows(std::uint32_t count, unsigned char* into, std::size_t stride) override
    {
        try {
            const std::uint64_t bandRows = reader_.bandRows();
            for (std::uint32_t i = 0; i < count; ++i, ++next_) {
                if (next_ % bandRows == 0) {
                    const int status = reader_.readBand(next_, band_.get(), bandRowBytes_);
                    if (status != imaging_status::kOk)
                        return status;
                }
                std::memcpy(into + i * stride, band_.get() + next_ % bandRows * bandRowBytes_, bandRowBytes_);
            }
            return imaging_status::kOk;
        } catch (const std::bad_alloc&) {
            return imaging_status::kValueOverflow;
        } catch (...) {
            return imaging_status::kUnknownImageFormat;
        }
    }

private:
    OpenedPicture opened_;
    BandReader reader_;
    std::unique_ptr<unsigned char[]> band_;
    std::size_t bandRowBytes_ = 0;
    std::uint64_t next_ = 0;
};

}  // namespace

// The rows of the picture at `path` (picture_rows.h), read with `settings`' keepSamples and
// memoryLimit: kOk with `rows` (to be deleted by the caller), kReadWhole, or the status the
// whole decoding refuses the file with.
extern "C" __attribute__((visibility("default"))) int orbiluneOpenRowsWithOpenImageIO(
    const char* path, const DecodedPicture* settings, PictureRows** rows)
{
    *rows = nullptr;
    try {
        auto opened = std::make_unique<OpenImageIORows>();
        const int status = opened->open(path, *settings);
        if (status == imaging_status::kOk)
            *rows = opened.release();
        return status;
    } catch (const std::bad_alloc&) {
        return imaging_status::kValueOverflow;
    } catch (...) {
        return imaging_status::kUnknownImageFormat;
    }
}

extern "C" __attribute__((visibility("default"))) int orbiluneDecodeWithOpenImageIO(
    const char* path, DecodedPicture* picture)
{
    const int status = decodeFile(path, *picture);
    if (status != imaging_status::kOk)
        picture->pixels.reset();
    return status;
}
