// The image object's backend on OpenImageIO, for every platform but Windows.
//
// Whatever OpenImageIO decodes is accepted and converted the way GDI+ would hand it out:
// grey pictures expanded to three equal channels, palettes expanded (by the readers),
// 16-bit and float channels scaled to 8 bits, CMYK converted to RGB, alpha ignored and
// never multiplied into the colours. The whole picture is decoded once, straight into
// the image object's pixel words, with no second copy.
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <unistd.h>

#include "image_object.h"
#include "large_buffer.h"

struct NativeImage {
    LargeBuffer<std::uint32_t> pixels;
    std::uint32_t columns = 0;
    std::uint32_t rows = 0;
    std::size_t stride = 0;
};

namespace {

// The decoded picture must fit in the machine's memory; a header that declares more is
// refused before anything large is allocated.
std::uint64_t physicalMemoryBytes()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0)
        return std::uint64_t{1} << 34;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

int decode(OIIO::ImageInput& input, NativeImage& image)
{
    const OIIO::ImageSpec& spec = input.spec();
    if (spec.width <= 0 || spec.height <= 0 || spec.depth != 1 || spec.nchannels <= 0)
        return imaging_status::kUnknownImageFormat;
    const auto columns = static_cast<std::uint64_t>(spec.width);
    const auto rows = static_cast<std::uint64_t>(spec.height);
    if (columns > INT32_MAX || rows > INT32_MAX)
        return imaging_status::kValueOverflow;
    const std::size_t stride = image_backend::paddedRowStride(static_cast<std::uint32_t>(columns));
    const std::uint64_t count = stride * rows;
    if (count * 4 > physicalMemoryBytes())
        return imaging_status::kValueOverflow;

    image.pixels = makeLargeBuffer<std::uint32_t>(count);
    if (!image.pixels)
        return imaging_status::kValueOverflow;
    image.columns = static_cast<std::uint32_t>(columns);
    image.rows = static_cast<std::uint32_t>(rows);
    image.stride = stride;

    // Colour pictures land as R, G, B in bytes 0-2 of each word; grey ones in byte 0 and
    // are spread below. The fourth byte is never read.
    const bool grey = spec.nchannels < 3;
    const int channels = grey ? 1 : 3;
    // Read in bands of about 256 KiB of decoded data: the reader's scratch stays in the
    // cache, and the picture is never held twice.
    const OIIO::stride_t pixelStride = 4;
    const OIIO::stride_t rowStride = static_cast<OIIO::stride_t>(stride) * 4;
    const std::uint64_t bandRows = std::max<std::uint64_t>(1, (256u << 10) / (columns * 3));
    for (std::uint64_t row = 0; row < rows; row += bandRows) {
        const std::uint64_t end = std::min(rows, row + bandRows);
        if (!input.read_scanlines(0, 0, spec.y + static_cast<int>(row), spec.y + static_cast<int>(end), 0,
                                  0, channels, OIIO::TypeDesc::UINT8, image.pixels.get() + row * stride,
                                  pixelStride, rowStride) ||
            input.has_error()) {
            image.pixels.reset();
            return imaging_status::kUnknownImageFormat;
        }
    }
    if (grey) {
        for (std::uint64_t row = 0; row < rows; ++row) {
            std::uint32_t* pixel = image.pixels.get() + row * stride;
            for (std::uint64_t column = 0; column < columns; ++column)
                pixel[column] = (pixel[column] & 0xFFu) * 0x010101u;
        }
    }
    image_backend::fillWrapWords(image.pixels.get(), image.columns, image.rows, stride);
    return imaging_status::kOk;
}

}  // namespace

int startImaging(std::uintptr_t& token)
{
    token = 1;
    return imaging_status::kOk;
}

void stopImaging(std::uintptr_t) {}

namespace image_backend {

void* allocateObject(std::size_t bytes) { return std::malloc(bytes); }

void freeObject(void* memory) { std::free(memory); }

int load(const char* path, NativeImage*& image)
{
    image = nullptr;
    try {
        OIIO::ImageSpec config;
        config.attribute("oiio:UnassociatedAlpha", 1);  // colours as stored, never premultiplied
        auto input = OIIO::ImageInput::open(path, &config);
        if (!input) {
            (void)OIIO::geterror();  // clear the library's pending message
            return imaging_status::kUnknownImageFormat;
        }
        auto decoded = std::make_unique<NativeImage>();
        const int status = decode(*input, *decoded);
        input->close();
        (void)OIIO::geterror();
        if (status != imaging_status::kOk)
            return status;
        image = decoded.release();
        return imaging_status::kOk;
    } catch (const std::bad_alloc&) {
        return imaging_status::kValueOverflow;
    } catch (...) {
        return imaging_status::kUnknownImageFormat;
    }
}

int clone(const NativeImage& source, NativeImage*& copy)
{
    copy = nullptr;
    auto image = std::unique_ptr<NativeImage>(new (std::nothrow) NativeImage);
    const std::uint64_t count = static_cast<std::uint64_t>(source.stride) * source.rows;
    if (!image)
        return imaging_status::kOutOfMemory;
    image->pixels = makeLargeBuffer<std::uint32_t>(count);
    if (!image->pixels)
        return imaging_status::kOutOfMemory;
    std::memcpy(image->pixels.get(), source.pixels.get(), count * 4);
    image->columns = source.columns;
    image->rows = source.rows;
    image->stride = source.stride;
    copy = image.release();
    return imaging_status::kOk;
}

void dispose(NativeImage* image) { delete image; }

int size(const NativeImage& image, std::uint32_t& columns, std::uint32_t& rows)
{
    columns = image.columns;
    rows = image.rows;
    return imaging_status::kOk;
}

const std::uint32_t* pixels(const NativeImage& image) { return image.pixels.get(); }

std::size_t rowStride(const NativeImage& image) { return image.stride; }

}  // namespace image_backend
