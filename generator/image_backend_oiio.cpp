// The image object's backend on OpenImageIO, for every platform but Windows.
//
// Whatever OpenImageIO decodes is accepted and converted the way GDI+ would hand it out:
// grey pictures expanded to three equal channels, palettes expanded (by the readers),
// 16-bit and float channels scaled to 8 bits, CMYK converted to RGB, alpha ignored and
// never multiplied into the colours. The whole picture is decoded once, straight into
// the image object's pixel words, with no second copy.
#include <OpenImageIO/imageio.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <unistd.h>

#include "image_object.h"

struct NativeImage {
    std::unique_ptr<std::uint32_t[]> pixels;
    std::uint32_t columns = 0;
    std::uint32_t rows = 0;
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

std::unique_ptr<std::uint32_t[]> allocatePixels(std::uint64_t count)
{
    return std::unique_ptr<std::uint32_t[]>(new (std::nothrow) std::uint32_t[count]);
}

int decode(OIIO::ImageInput& input, NativeImage& image)
{
    const OIIO::ImageSpec& spec = input.spec();
    if (spec.width <= 0 || spec.height <= 0 || spec.depth != 1 || spec.nchannels <= 0)
        return imaging_status::kUnknownImageFormat;
    const auto columns = static_cast<std::uint64_t>(spec.width);
    const auto rows = static_cast<std::uint64_t>(spec.height);
    const std::uint64_t count = columns * rows;
    if (columns > INT32_MAX || rows > INT32_MAX || count * 4 > physicalMemoryBytes())
        return imaging_status::kValueOverflow;

    image.pixels = allocatePixels(count);
    if (!image.pixels)
        return imaging_status::kValueOverflow;
    image.columns = static_cast<std::uint32_t>(columns);
    image.rows = static_cast<std::uint32_t>(rows);

    // Colour pictures land as R, G, B in bytes 0-2 of each word; grey ones in byte 0 and
    // are spread below.
    const bool grey = spec.nchannels < 3;
    const int channels = grey ? 1 : 3;
    const OIIO::stride_t pixelStride = 4;
    const OIIO::stride_t rowStride = static_cast<OIIO::stride_t>(columns) * 4;
    std::memset(image.pixels.get(), 0, count * 4);
    if (!input.read_image(0, 0, 0, channels, OIIO::TypeDesc::UINT8, image.pixels.get(),
                          pixelStride, rowStride) ||
        input.has_error()) {
        image.pixels.reset();
        return imaging_status::kUnknownImageFormat;
    }
    if (grey) {
        std::uint32_t* pixel = image.pixels.get();
        for (std::uint64_t i = 0; i < count; ++i)
            pixel[i] = (pixel[i] & 0xFFu) * 0x010101u;
    }
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
    const std::uint64_t count = static_cast<std::uint64_t>(source.columns) * source.rows;
    if (!image)
        return imaging_status::kOutOfMemory;
    image->pixels = allocatePixels(count);
    if (!image->pixels)
        return imaging_status::kOutOfMemory;
    std::memcpy(image->pixels.get(), source.pixels.get(), count * 4);
    image->columns = source.columns;
    image->rows = source.rows;
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

}  // namespace image_backend
