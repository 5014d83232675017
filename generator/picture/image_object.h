// The image object: a decoded source picture behind the imaging library of the platform
// (GDI+ on Windows, OpenImageIO elsewhere; the build picks one image_backend_*.cpp).
//
// Conventions, fixed here once:
// - Statuses are the imaging library's status codes: 0 is Ok, anything else a failure.
// - The decoded pixels are held in memory, row-major from the top-left corner. By default
//   one 32-bit word per pixel laid out as the imaging library's ARGB, 0x??RRGGBB
//   (pictureWord), whose top byte is never read: in memory its bytes are blue, green, red,
//   the order of a texture's texels. Asked to keep the file's samples, the pixels are those
//   (decoded_picture.h). Rows are `stride` pixels apart (paddedRowStride), and the pixel
//   after a row's last repeats its first, so a pixel and its right neighbour, wrapping round
//   at the map's edge, are one read.
// - readPixel hands a pixel of the default words back as ARGB, 0xAARRGGBB, alpha always
//   0xFF.
#pragma once

#include <cstddef>
#include <cstdint>

#include "samples.h"

namespace imaging_status {
// The subset of the imaging library's status codes that this program produces itself.
constexpr int kOk = 0;
constexpr int kGenericError = 1;
constexpr int kInvalidParameter = 2;
constexpr int kOutOfMemory = 3;
constexpr int kValueOverflow = 11;
constexpr int kUnknownImageFormat = 13;
}  // namespace imaging_status

// The picture as one backend decoded it. Owned by the backend's handle.
struct NativeImage;

// One start-up of the imaging library; stop it with the token it gave.
int startImaging(std::uintptr_t& token);
void stopImaging(std::uintptr_t token);

class ImageObject {
public:
    // Allocates a bitmap object and decodes `path` (narrow, in the platform's encoding:
    // the system code page on Windows, UTF-8 elsewhere), as the design's 8-bit RGB words or,
    // with `keepSamples`, the file's own samples. Returns null only when the object's own
    // memory cannot be had; otherwise the load's status is its last status.
    static ImageObject* createBitmapFromFile(const char* path, bool keepSamples = false);

    // Disposes of the native image and, when `freeMemory` is set, of the object itself.
    virtual void destroy(bool freeMemory);
    // A copy of the image as an object of the base class, or null without memory.
    virtual ImageObject* clone();

    // Returns the last status and resets it to Ok.
    int takeLastStatus();
    int width(std::uint32_t& value);
    int height(std::uint32_t& value);

    // One pixel as ARGB. Outside the picture, or of samples kept, the read fails with a
    // status and reads nothing.
    int readPixel(std::int32_t column, std::int32_t row, std::uint32_t& argb);

    // The decoded pixels (`stride` pixels per row, of `layout`) for the bulk samplers; null
    // when no picture is loaded. The default words: pictureWord layout.
    const std::uint32_t* pixels() const { return pixels_; }
    std::size_t stride() const { return stride_; }
    SampleLayout layout() const { return layout_; }
    // Makes the pixels of `target`'s samples (reshapePicture); false without the memory.
    bool reshape(SampleLayout target);
    // Records the status of a failure observed by a bulk reader.
    void noteFailure(int status) { lastStatus_ = status; }
    // What the picture's file holds (samples.h).
    SampleLayout fileLayout() const { return fileLayout_; }

protected:
    ImageObject() = default;
    ~ImageObject() = default;
    void adopt(NativeImage* native);
    int sizeQuery(std::uint32_t size, std::uint32_t& value);

    NativeImage* native_ = nullptr;
    int lastStatus_ = imaging_status::kOk;
    const std::uint32_t* pixels_ = nullptr;
    std::uint32_t columns_ = 0;
    std::uint32_t rows_ = 0;
    std::size_t stride_ = 0;
    SampleLayout layout_;
    SampleLayout fileLayout_;
};

class BitmapObject final : public ImageObject {
public:
    void destroy(bool freeMemory) override;
    ImageObject* clone() override;

private:
    friend class ImageObject;
    BitmapObject() = default;
};

inline int ImageObject::readPixel(std::int32_t column, std::int32_t row, std::uint32_t& argb)
{
    if (pixels_ == nullptr || static_cast<std::uint32_t>(column) >= columns_ ||
        static_cast<std::uint32_t>(row) >= rows_ || layout_ != SampleLayout{SampleType::U8, 3}) {
        lastStatus_ = imaging_status::kInvalidParameter;
        return lastStatus_;
    }
    argb = 0xFF000000u | pixels_[static_cast<std::size_t>(row) * stride_ + static_cast<std::uint32_t>(column)];
    return imaging_status::kOk;
}

// A decoded pixel's word from its channels.
constexpr std::uint32_t pictureWord(std::uint32_t red, std::uint32_t green, std::uint32_t blue)
{
    return red << 16 | green << 8 | blue;
}

// What every backend provides to the portable object above.
namespace image_backend {
void* allocateObject(std::size_t bytes);
void freeObject(void* memory);
// Decodes the file into a new native image, as words or keeping its samples; on failure
// returns the status and no image.
int load(const char* path, bool keepSamples, NativeImage*& image);
int clone(const NativeImage& source, NativeImage*& copy);
void dispose(NativeImage* image);
int size(const NativeImage& image, std::uint32_t& columns, std::uint32_t& rows);
const std::uint32_t* pixels(const NativeImage& image);
// Words from one row to the next, at least the width.
std::size_t rowStride(const NativeImage& image);

// The row stride, in pixels, for `columns` pixels of `pixelBytes` each (a word: 4): room
// for the wrap pixel and, for pixels that divide 64, an odd number of 64-byte lines, which
// spreads successive rows over the cache's sets (rows of a power-of-two width would all fall
// into a few, and the samplers walk down the rows).
constexpr std::size_t paddedRowStride(std::uint32_t columns, std::size_t pixelBytes = 4)
{
    if (64 % pixelBytes != 0)
        return static_cast<std::size_t>(columns) + 1;
    const std::size_t perLine = 64 / pixelBytes;
    const std::size_t lines = (static_cast<std::size_t>(columns) + 1 + perLine - 1) / perLine;
    return perLine * (lines % 2 == 0 ? lines + 1 : lines);
}

// Writes each row's wrap word: a copy of its first pixel after its last.
inline void fillWrapWords(std::uint32_t* pixels, std::uint32_t columns, std::uint32_t rows,
                          std::size_t stride)
{
    for (std::size_t row = 0; row < rows; ++row)
        pixels[row * stride + columns] = pixels[row * stride];
}
}  // namespace image_backend
