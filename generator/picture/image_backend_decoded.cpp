// The backend operations that need no platform: every backend decodes the whole picture
// into memory once (a NativeImage is a DecodedPicture), and the image object reads, sizes,
// copies and frees it from there.
#include <cstring>
#include <memory>
#include <new>

#include "decoded_picture.h"
#include "image_object.h"

PictureMemory pictureMemory;

namespace image_backend {

int clone(const NativeImage& source, NativeImage*& copy)
{
    copy = nullptr;
    std::unique_ptr<NativeImage> image(new (std::nothrow) NativeImage);
    if (!image)
        return imaging_status::kOutOfMemory;
    image->memoryLimit = source.memoryLimit;
    image->layout = source.layout;
    image->keepSamples = source.keepSamples;
    image->fileLayout = source.fileLayout;
    if (allocatePicture(*image, source.columns, source.rows) != imaging_status::kOk)
        return imaging_status::kOutOfMemory;
    std::memcpy(image->pixels.get(), source.pixels.get(), source.stride * source.rows * pixelBytes(source.layout));
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
