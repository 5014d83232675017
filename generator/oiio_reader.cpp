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
#include <memory>
#include <new>

#include "decoded_picture.h"
#include "image_object.h"

namespace {

int decode(OIIO::ImageInput& input, DecodedPicture& picture)
{
    const OIIO::ImageSpec& spec = input.spec();
    if (spec.width <= 0 || spec.height <= 0 || spec.depth != 1 || spec.nchannels <= 0)
        return imaging_status::kUnknownImageFormat;
    const int status = allocatePicture(picture, static_cast<std::uint64_t>(spec.width),
                                       static_cast<std::uint64_t>(spec.height));
    if (status != imaging_status::kOk)
        return status;

    // Colour pictures land as R, G, B in bytes 0-2 of each word; grey ones in byte 0 and
    // are spread below. The fourth byte is never read. Bands of about 256 KiB of decoded
    // data keep the reader's scratch in the cache.
    const bool grey = spec.nchannels < 3;
    const int channels = grey ? 1 : 3;
    const std::uint64_t columns = picture.columns;
    const std::uint64_t rows = picture.rows;
    const std::size_t stride = picture.stride;
    const std::uint64_t bandRows = std::max<std::uint64_t>(1, (256u << 10) / (columns * 3));
    for (std::uint64_t row = 0; row < rows; row += bandRows) {
        const std::uint64_t end = std::min(rows, row + bandRows);
        if (!input.read_scanlines(0, 0, spec.y + static_cast<int>(row), spec.y + static_cast<int>(end), 0,
                                  0, channels, OIIO::TypeDesc::UINT8, picture.pixels.get() + row * stride,
                                  4, static_cast<OIIO::stride_t>(stride) * 4) ||
            input.has_error())
            return imaging_status::kUnknownImageFormat;
    }
    if (grey) {
        for (std::uint64_t row = 0; row < rows; ++row) {
            std::uint32_t* pixel = picture.pixels.get() + row * stride;
            for (std::uint64_t column = 0; column < columns; ++column)
                pixel[column] = (pixel[column] & 0xFFu) * 0x010101u;
        }
    }
    image_backend::fillWrapWords(picture.pixels.get(), picture.columns, picture.rows, stride);
    return imaging_status::kOk;
}

int decodeFile(const char* path, DecodedPicture& picture)
{
    try {
        OIIO::ImageSpec config;
        config.attribute("oiio:UnassociatedAlpha", 1);  // colours as stored, never premultiplied
        auto input = OIIO::ImageInput::open(path, &config);
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
