#include "decoded_picture.h"

#include <unistd.h>

#include "image_object.h"

namespace {

std::uint64_t physicalMemoryBytes()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0)
        return std::uint64_t{1} << 34;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

}  // namespace

bool pictureFits(const DecodedPicture& picture, std::uint64_t columns, std::uint64_t rows,
                 std::uint64_t readerBytes)
{
    if (columns >= INT32_MAX || rows >= INT32_MAX)
        return false;
    const std::size_t stride = image_backend::paddedRowStride(static_cast<std::uint32_t>(columns));
    const std::uint64_t limit = picture.memoryLimit != 0 ? picture.memoryLimit : physicalMemoryBytes();
    return stride * rows * 4 + readerBytes <= limit;
}

int allocatePicture(DecodedPicture& picture, std::uint64_t columns, std::uint64_t rows)
{
    if (columns == 0 || rows == 0)
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
