// The memory check and the allocation of a decoded picture, for every backend.
#include "decoded_picture.h"

#include <cstring>
#include <utility>

#include "image_object.h"

namespace {

// The words a picture of `layout` takes, `stride` pixels a row.
std::uint64_t storageWords(SampleLayout layout, std::uint64_t stride, std::uint64_t rows)
{
    return (stride * rows * pixelBytes(layout) + 3) / 4;
}

}  // namespace

bool pictureFits(const DecodedPicture& picture, std::uint64_t columns, std::uint64_t rows,
                 std::uint64_t readerBytes)
{
    if (columns >= INT32_MAX || rows >= INT32_MAX)
        return false;
    const std::size_t stride = image_backend::paddedRowStride(static_cast<std::uint32_t>(columns), pixelBytes(picture.layout));
    const std::uint64_t limit = picture.memoryLimit != 0 ? picture.memoryLimit : physicalMemoryBytes();
    // Both sides are under 2^31, so the pixels' bytes fit in 64 bits; a reader's, which may
    // be anything, are compared without a sum that could wrap.
    const std::uint64_t pixelBytes = storageWords(picture.layout, stride, rows) * 4;
    return readerBytes <= limit && pixelBytes <= limit - readerBytes;
}

int allocatePicture(DecodedPicture& picture, std::uint64_t columns, std::uint64_t rows)
{
    if (columns == 0 || rows == 0 || columns > kMaxPictureSide || rows > kMaxPictureSide)
        return imaging_status::kUnknownImageFormat;
    if (!pictureFits(picture, columns, rows))
        return imaging_status::kValueOverflow;
    const std::size_t stride = image_backend::paddedRowStride(static_cast<std::uint32_t>(columns), pixelBytes(picture.layout));
    picture.pixels = makeLargeBuffer<std::uint32_t>(storageWords(picture.layout, stride, rows));
    if (!picture.pixels)
        return imaging_status::kValueOverflow;
    picture.columns = static_cast<std::uint32_t>(columns);
    picture.rows = static_cast<std::uint32_t>(rows);
    picture.stride = stride;
    return imaging_status::kOk;
}

void fillWrapPixels(DecodedPicture& picture)
{
    const std::size_t bytes = pixelBytes(picture.layout);
    for (std::size_t row = 0; row < picture.rows; ++row)
        std::memcpy(pixelAt(picture, picture.columns, row), pixelAt(picture, 0, row), bytes);
}

int finishDirectRead(int status, DecodedPicture& picture)
{
    if (status != imaging_status::kOk)
        picture.pixels.reset();
    else
        fillWrapPixels(picture);
    return status;
}

namespace {

// Sample `channel` of a pixel of `layout` as a number in its type's units, and stored.
double sampleOf(const unsigned char* pixel, SampleLayout layout, unsigned channel)
{
    switch (layout.type) {
    case SampleType::U8: {
        static constexpr unsigned char kWordOrder[4] = {2, 1, 0, 3};  // blue, green, red, alpha
        return pixel[layout.channels >= 3 ? kWordOrder[channel] : channel];
    }
    case SampleType::U16: {
        std::uint16_t value;
        std::memcpy(&value, pixel + 2 * channel, 2);
        return value;
    }
    case SampleType::I16: {
        std::int16_t value;
        std::memcpy(&value, pixel + 2 * channel, 2);
        return value;
    }
    default: {
        float value;
        std::memcpy(&value, pixel + 4 * channel, 4);
        return value;
    }
    }
}

void storeSampleOf(double value, unsigned char* pixel, SampleLayout layout, unsigned channel)
{
    switch (layout.type) {
    case SampleType::U8: {
        static constexpr unsigned char kWordOrder[4] = {2, 1, 0, 3};
        pixel[layout.channels >= 3 ? kWordOrder[channel] : channel] = static_cast<unsigned char>(value);
        return;
    }
    case SampleType::U16: {
        const auto sample = static_cast<std::uint16_t>(value);
        std::memcpy(pixel + 2 * channel, &sample, 2);
        return;
    }
    case SampleType::I16: {
        const auto sample = static_cast<std::int16_t>(value);
        std::memcpy(pixel + 2 * channel, &sample, 2);
        return;
    }
    default: {
        const auto sample = static_cast<float>(value);
        std::memcpy(pixel + 4 * channel, &sample, 4);
        return;
    }
    }
}

// A sample of `from` as an 8-bit one, the way the design's words are made.
double eightBitsOf(double value, SampleType from)
{
    switch (from) {
    case SampleType::U16:
        return static_cast<double>(static_cast<std::uint32_t>(value) >> 8);  // the high byte
    case SampleType::I16:
        return value <= 0 ? 0.0 : static_cast<double>(static_cast<std::uint32_t>(value) >> 7);
    case SampleType::F32:
        return value >= 1 ? 255.0 : value > 0 ? static_cast<double>(static_cast<std::uint32_t>(value * 255 + 0.5)) : 0.0;
    default:
        return value;
    }
}

}  // namespace

void reshapeRow(const unsigned char* in, SampleLayout from, unsigned char* out, SampleLayout target,
                std::uint32_t columns)
{
    const unsigned fromColours = colourChannels(from.channels), toColours = colourChannels(target.channels);
    const bool alpha = hasAlpha(from.channels) && hasAlpha(target.channels);
    const std::size_t inBytes = pixelBytes(from), outBytes = pixelBytes(target);
    for (std::uint32_t column = 0; column < columns; ++column, in += inBytes, out += outBytes) {
        double values[4] = {};
        for (unsigned c = 0; c < from.channels; ++c)
            values[c] = sampleOf(in, from, c);
        if (target.type != from.type)  // reshaping only narrows: to 8 bits
            for (double& value : values)
                value = eightBitsOf(value, from.type);
        const double alphaValue = alpha ? values[fromColours] : 0.0;
        if (fromColours == 3 && toColours == 1) {
            const double luma = 0.2126 * values[0] + 0.7152 * values[1] + 0.0722 * values[2];
            values[0] = target.type == SampleType::F32 ? luma : static_cast<double>(static_cast<std::int64_t>(luma + 0.5));
        }
        for (unsigned c = 0; c < toColours; ++c)
            storeSampleOf(values[fromColours == 1 ? 0 : c], out, target, c);
        if (alpha)
            storeSampleOf(alphaValue, out, target, toColours);
        else if (outBytes == 4 && target.channels == 3)
            out[3] = 0xFF;  // a word's top byte, never read: opaque, as a kept RGB word's
    }
}

bool reshapePicture(DecodedPicture& picture, SampleLayout target)
{
    const SampleLayout from = picture.layout;
    if (from == target)
        return true;
    DecodedPicture reshaped;
    reshaped.layout = target;
    reshaped.memoryLimit = picture.memoryLimit;
    reshaped.keepSamples = picture.keepSamples;
    reshaped.fileLayout = picture.fileLayout;
    if (allocatePicture(reshaped, picture.columns, picture.rows) != imaging_status::kOk)
        return false;
    for (std::uint32_t row = 0; row < picture.rows; ++row)
        reshapeRow(pixelAt(picture, 0, row), from, pixelAt(reshaped, 0, row), target, picture.columns);
    fillWrapPixels(reshaped);
    picture.pixels = std::move(reshaped.pixels);
    picture.layout = target;
    picture.stride = reshaped.stride;
    return true;
}
