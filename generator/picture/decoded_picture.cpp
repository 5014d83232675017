// The memory check and the allocation of a decoded picture, for every backend.
#include "decoded_picture.h"

#include "image_object.h"

bool pictureFits(const DecodedPicture& picture, std::uint64_t columns, std::uint64_t rows,
                 std::uint64_t readerBytes)
{
    if (columns >= INT32_MAX || rows >= INT32_MAX)
        return false;
    const std::size_t stride = image_backend::paddedRowStride(static_cast<std::uint32_t>(columns));
    const std::uint64_t limit = picture.memoryLimit != 0 ? picture.memoryLimit : physicalMemoryBytes();
    // Both sides are under 2^31, so the pixels' bytes fit in 64 bits; a reader's, which may
    // be anything, are compared without a sum that could wrap.
    const std::uint64_t pixelBytes = stride * rows * 4;
    return readerBytes <= limit && pixelBytes <= limit - readerBytes;
}

int allocatePicture(DecodedPicture& picture, std::uint64_t columns, std::uint64_t rows)
{
    if (columns == 0 || rows == 0 || columns > kMaxPictureSide || rows > kMaxPictureSide)
        return imaging_status::kUnknownImageFormat;
    if (!pictureFits(picture, columns, rows))
        return imaging_status::kValueOverflow;
    const std::size_t stride = image_backend::paddedRowStride(static_cast<std::uint32_t>(columns));
    picture.pixels = makeLargeBuffer<std::uint32_t>(stride * rows);
    if (!picture.pixels)
        return imaging_status::kValueOverflow;
    picture.columns = static_cast<std::uint32_t>(columns);
    picture.rows = static_cast<std::uint32_t>(rows);
    picture.stride = stride;
    return imaging_status::kOk;
}

int finishDirectRead(int status, DecodedPicture& picture)
{
    if (status != imaging_status::kOk)
        picture.pixels.reset();
    else
        image_backend::fillWrapWords(picture.pixels.get(), picture.columns, picture.rows, picture.stride);
    return status;
}
