// WebP through libwebp. OpenImageIO 2.4 multiplies a WebP picture's colours by its alpha,
// where every other reader keeps the colours as stored, and lays out an animation's whole
// canvas whatever the file holds. Here the colours come as stored (the alpha is decoded
// into each word's top byte, which is never read) and an animation's first frame is drawn
// on a black canvas, held to the canvas rule (canvas_check.h).
//
// The words libwebp decodes are the picture words of 8-bit RGBA: asked to keep the file's
// samples, a picture with alpha keeps it in each word's top byte, one without is opaque
// there (libwebp decodes it so), and an animation's canvas outside its first frame is
// transparent black (opaque where the file has no alpha).
#include <sys/stat.h>
#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "canvas_check.h"
#include "decoded_picture.h"
#include "image_object.h"
#include "module_readers.h"

namespace {

// Decodes the still picture or frame in `data`, of columns × rows, into the picture's words
// from (left, top): libwebp's BGRA is our word, 0xAARRGGBB, in memory order.
bool decodeInto(const std::uint8_t* data, std::size_t bytes, DecodedPicture& picture, std::uint64_t left,
                std::uint64_t top, std::uint64_t columns, std::uint64_t rows)
{
    std::uint32_t* first = picture.pixels.get() + top * picture.stride + left;
    const std::size_t strideBytes = picture.stride * 4;
    return WebPDecodeBGRAInto(data, bytes, reinterpret_cast<std::uint8_t*>(first),
                              (rows - 1) * strideBytes + columns * 4, static_cast<int>(strideBytes)) != nullptr;
}

}  // namespace

int readWebp(const char* path, DecodedPicture& picture)
{
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "rb"), std::fclose);
    struct stat status {};
    unsigned char riff[12];
    if (!file || fstat(fileno(file.get()), &status) != 0 || std::fread(riff, 1, sizeof riff, file.get()) != sizeof riff)
        return imaging_status::kUnknownImageFormat;
    // The RIFF header gives the file's length: what follows it is not read (libwebp needs the
    // whole file in memory), what falls short of it is a file cut short.
    const auto fileBytes = static_cast<std::uint64_t>(status.st_size);
    const std::uint64_t bytes = 8 + (std::uint64_t{riff[4]} | std::uint64_t{riff[5]} << 8 |
                                     std::uint64_t{riff[6]} << 16 | std::uint64_t{riff[7]} << 24);
    if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WEBP", 4) != 0 || bytes > fileBytes ||
        bytes < sizeof riff)
        return imaging_status::kUnknownImageFormat;
    if (!pictureFits(picture, 1, 1, bytes))
        return imaging_status::kValueOverflow;
    std::unique_ptr<std::uint8_t[]> data(new (std::nothrow) std::uint8_t[bytes]);
    if (!data)
        return imaging_status::kOutOfMemory;
    std::memcpy(data.get(), riff, sizeof riff);
    if (std::fread(data.get() + sizeof riff, 1, bytes - sizeof riff, file.get()) != bytes - sizeof riff)
        return imaging_status::kUnknownImageFormat;

    WebPBitstreamFeatures features;
    if (WebPGetFeatures(data.get(), bytes, &features) != VP8_STATUS_OK || features.width <= 0 ||
        features.height <= 0)
        return imaging_status::kUnknownImageFormat;
    picture.fileLayout = {SampleType::U8, features.has_alpha ? 4u : 3u};
    if (picture.keepSamples)
        picture.layout = picture.fileLayout;
    // Beside the pixels and the file, libwebp holds a lossless picture's (or frame's) whole
    // ARGB: counted for every picture.
    if (!features.has_animation) {
        const auto columns = static_cast<std::uint64_t>(features.width);
        const auto rows = static_cast<std::uint64_t>(features.height);
        if (!pictureFits(picture, columns, rows, bytes + 4 * columns * rows))
            return imaging_status::kValueOverflow;
        const int allocated = allocatePicture(picture, columns, rows);
        if (allocated != imaging_status::kOk)
            return allocated;
        if (!decodeInto(data.get(), bytes, picture, 0, 0, columns, rows))
            return imaging_status::kUnknownImageFormat;
        fillWrapPixels(picture);
        return imaging_status::kOk;
    }

    const WebPData whole = {data.get(), bytes};
    const std::unique_ptr<WebPDemuxer, void (*)(WebPDemuxer*)> demuxer(WebPDemux(&whole), WebPDemuxDelete);
    WebPIterator frame;
    if (!demuxer || !WebPDemuxGetFrame(demuxer.get(), 1, &frame))
        return imaging_status::kUnknownImageFormat;
    const std::unique_ptr<WebPIterator, void (*)(WebPIterator*)> release(&frame, WebPDemuxReleaseIterator);
    const std::uint64_t columns = WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_WIDTH);
    const std::uint64_t rows = WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_HEIGHT);
    const auto left = static_cast<std::uint64_t>(frame.x_offset), top = static_cast<std::uint64_t>(frame.y_offset);
    const auto frameColumns = static_cast<std::uint64_t>(frame.width);
    const auto frameRows = static_cast<std::uint64_t>(frame.height);
    if (frame.x_offset < 0 || frame.y_offset < 0 || left + frameColumns > columns || top + frameRows > rows ||
        !frame.complete)
        return imaging_status::kUnknownImageFormat;
    if (!canvasHeld(columns, rows, left, top, frameColumns, frameRows, fileBytes))
        return imaging_status::kUnknownImageFormat;
    if (!pictureFits(picture, columns, rows, bytes + 4 * frameColumns * frameRows))
        return imaging_status::kValueOverflow;
    const int allocated = allocatePicture(picture, columns, rows);
    if (allocated != imaging_status::kOk)
        return allocated;
    const std::uint32_t background = picture.keepSamples && !features.has_alpha ? 0xFF000000u : 0u;
    for (std::uint64_t row = 0; row < rows; ++row)
        std::fill_n(picture.pixels.get() + row * picture.stride, columns, background);
    if (!decodeInto(frame.fragment.bytes, frame.fragment.size, picture, left, top, frameColumns, frameRows))
        return imaging_status::kUnknownImageFormat;
    fillWrapPixels(picture);
    return imaging_status::kOk;
}
