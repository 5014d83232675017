// The general reader on OpenImageIO, built as a module of its own and loaded on first use:
// OpenImageIO brings in some two hundred libraries, whose loading would otherwise cost
// every run a third of a second and a hundred megabytes.
//
// Whatever OpenImageIO decodes is accepted and converted the way GDI+ would hand it out:
// grey pictures expanded to three equal channels, palettes expanded (by the readers),
// 16-bit and float channels scaled to 8 bits, CMYK converted to RGB, alpha ignored and
// never multiplied into the colours. The picture is decoded once, in bands, straight into
// its final words.
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "decoded_picture.h"
#include "image_object.h"

namespace {

// a × b, or the largest value where the product would not fit.
std::uint64_t saturatingProduct(std::uint64_t a, std::uint64_t b)
{
    return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}

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

int decode(OIIO::ImageInput& input, DecodedPicture& picture)
{
    // The first picture's dimensions, tiling and formats (its metadata is not needed).
    const OIIO::ImageSpec layout = input.spec_dimensions(0, 0);
    if (layout.format == OIIO::TypeDesc::UNKNOWN || layout.width <= 0 || layout.height <= 0 ||
        layout.depth != 1 || layout.nchannels <= 0)
        return imaging_status::kUnknownImageFormat;
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
    const bool tiled = layout.tile_width > 0 && layout.tile_height > 0;
    const bool ownScratch = !tiled && layout.channelformats.empty();
    const auto columns = static_cast<std::uint64_t>(layout.width);
    const auto rows = static_cast<std::uint64_t>(layout.height);
    const std::uint64_t bandRows = rowsPerBand(layout, columns);
    const std::uint64_t filePixelBytes = layout.pixel_bytes(true);
    std::unique_ptr<unsigned char[]> scratch;
    if (ownScratch) {
        const std::uint64_t scratchBytes =
            saturatingProduct(saturatingProduct(columns, std::min(rows, bandRows)), filePixelBytes);
        if (!pictureFits(picture, columns, rows, scratchBytes))
            return imaging_status::kValueOverflow;
        scratch.reset(new (std::nothrow) unsigned char[scratchBytes]);
        if (!scratch)
            return imaging_status::kOutOfMemory;
    }
    if (tiled) {
        const auto tileColumns = static_cast<std::uint64_t>(layout.tile_width);
        const auto tileRows = static_cast<std::uint64_t>(layout.tile_height);
        const std::uint64_t tileBytes =
            saturatingProduct(tileColumns * tileRows, layout.pixel_bytes(true));
        if (tileColumns * tileRows > columns * rows && tileBytes > kLargestOddTileBytes)
            return imaging_status::kUnknownImageFormat;
        const std::uint64_t bandBytes = saturatingProduct(
            saturatingProduct((columns + tileColumns - 1) / tileColumns * tileColumns, bandRows),
            layout.pixel_bytes(true));
        if (!pictureFits(picture, columns, rows, saturatingProduct(bandBytes, 2)))
            return imaging_status::kValueOverflow;
    }
    const int status = allocatePicture(picture, columns, rows);
    if (status != imaging_status::kOk)
        return status;

    // Colour pictures land as R, G, B in bytes 0-2 of each word, grey ones in byte 0; both
    // are turned into picture words below. The fourth byte is never read.
    const bool grey = layout.nchannels < 3;
    const int channels = grey ? 1 : 3;
    const std::size_t stride = picture.stride;
    for (std::uint64_t row = 0; row < rows; row += bandRows) {
        const std::uint64_t end = std::min(rows, row + bandRows);
        const int top = layout.y + static_cast<int>(row);
        const int bottom = layout.y + static_cast<int>(end);
        void* band = picture.pixels.get() + row * stride;
        const auto rowBytes = static_cast<OIIO::stride_t>(stride) * 4;
        bool read;
        if (tiled) {
            read = input.read_tiles(0, 0, layout.x, layout.x + layout.width, top, bottom, layout.z,
                                    layout.z + 1, 0, channels, OIIO::TypeDesc::UINT8, band, 4, rowBytes);
        } else if (ownScratch) {
            // The first `channels` channels of each pixel, converted as read_scanlines would.
            const auto fileRowBytes = static_cast<OIIO::stride_t>(columns * filePixelBytes);
            read = input.read_native_scanlines(0, 0, top, bottom, layout.z, scratch.get()) &&
                   OIIO::convert_image(channels, layout.width, bottom - top, 1, scratch.get(), layout.format,
                                       static_cast<OIIO::stride_t>(filePixelBytes), fileRowBytes,
                                       OIIO::AutoStride, band, OIIO::TypeDesc::UINT8, 4, rowBytes,
                                       OIIO::AutoStride);
        } else {
            read = input.read_scanlines(0, 0, top, bottom, 0, 0, channels, OIIO::TypeDesc::UINT8, band, 4,
                                        rowBytes);
        }
        if (!read || input.has_error())
            return imaging_status::kUnknownImageFormat;
    }
    for (std::uint64_t row = 0; row < rows; ++row) {
        std::uint32_t* pixel = picture.pixels.get() + row * stride;
        for (std::uint64_t column = 0; column < columns; ++column) {
            const std::uint32_t red = pixel[column] & 0xFFu;
            pixel[column] = grey ? pictureWord(red, red, red)
                                 : pictureWord(red, pixel[column] >> 8 & 0xFFu, pixel[column] >> 16 & 0xFFu);
        }
    }
    image_backend::fillWrapWords(picture.pixels.get(), picture.columns, picture.rows, stride);
    return imaging_status::kOk;
}

// The reader that the file's first bytes name, or null. Left to itself OpenImageIO tries
// every reader it has (movies, camera raw, medical and volume formats among them) on a file
// that the reader of its extension refuses: slow, and a wide door for a hostile file. So the
// common picture formats are known by their signatures and anything else goes to the reader
// of its extension alone.
constexpr std::size_t kHeadBytes = 12;

const char* formatBySignature(const char* path, unsigned char (&head)[kHeadBytes])
{
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return nullptr;
    const std::size_t length = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    const struct {
        const char* format;
        std::size_t offset;
        const char* bytes;
        std::size_t count;
    } signatures[] = {
        {"png", 0, "\x89PNG\r\n\x1A\n", 8},
        {"jpeg", 0, "\xFF\xD8\xFF", 3},
        {"bmp", 0, "BM", 2},
        {"tiff", 0, "II*\0", 4},
        {"tiff", 0, "MM\0*", 4},
        {"tiff", 0, "II+\0", 4},  // BigTIFF
        {"tiff", 0, "MM\0+", 4},
        {"gif", 0, "GIF8", 4},
        {"openexr", 0, "v/1\x01", 4},
        {"webp", 8, "WEBP", 4},
        {"hdr", 0, "#?", 2},
    };
    for (const auto& signature : signatures)
        if (length >= signature.offset + signature.count &&
            std::memcmp(head + signature.offset, signature.bytes, signature.count) == 0)
            return signature.format;
    return nullptr;
}

std::unique_ptr<OIIO::ImageInput> openInput(const char* path, const char* format,
                                            const OIIO::ImageSpec& config)
{
    static const bool onlyNamedReaders = OIIO::attribute("try_all_readers", 0);  // once
    (void)onlyNamedReaders;
    if (format == nullptr)
        return OIIO::ImageInput::open(path, &config);
    auto input = OIIO::ImageInput::create(format, false, &config);
    OIIO::ImageSpec layout;
    if (input && !input->open(path, layout, config))
        input.reset();
    return input;
}

int decodeFile(const char* path, DecodedPicture& picture)
{
    try {
        OIIO::ImageSpec config;
        config.attribute("oiio:UnassociatedAlpha", 1);  // colours as stored, never premultiplied
        unsigned char head[kHeadBytes] = {};
        const char* format = formatBySignature(path, head);
        // OpenImageIO's GIF reader lays out the whole logical screen, four bytes a pixel, as
        // it opens the file: a header of 37 bytes had it fill a gigabyte before it found the
        // data missing. That memory is counted with the picture's, before the opening.
        if (format != nullptr && std::strcmp(format, "gif") == 0) {
            const std::uint64_t width = head[6] | head[7] << 8;
            const std::uint64_t height = head[8] | head[9] << 8;
            if (!pictureFits(picture, width, height, 4 * width * height))
                return imaging_status::kValueOverflow;
        }
        auto input = openInput(path, format, config);
        if (!input) {
            (void)OIIO::geterror();  // clear the library's pending message
            return imaging_status::kUnknownImageFormat;
        }
        const int status = decode(*input, picture);
        input->close();
        (void)OIIO::geterror();
        return status;
    } catch (const std::bad_alloc&) {
        return imaging_status::kValueOverflow;
    } catch (...) {
        return imaging_status::kUnknownImageFormat;
    }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int orbiluneDecodeWithOpenImageIO(
    const char* path, DecodedPicture* picture)
{
    const int status = decodeFile(path, *picture);
    if (status != imaging_status::kOk)
        picture->pixels.reset();
    return status;
}
