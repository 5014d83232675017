// The image object's backend on GDI+, for Windows, through the library's flat API.
//
// GDI+ decodes the file. Its pixels are then read once, in bulk, as 32-bit ARGB
// (GdipBitmapLockBits straight into the object's own words) and turned into 0x00BBGGRR:
// the same values GdipBitmapGetPixel would give one at a time, without a call per sample.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <objidl.h>  // IStream, which the GDI+ headers use and WIN32_LEAN_AND_MEAN leaves out

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

// Microsoft's GDI+ headers call min and max unqualified; NOMINMAX removed the macros.
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "image_object.h"

namespace gdip = Gdiplus::DllExports;

struct NativeImage {
    Gdiplus::GpBitmap* bitmap = nullptr;
    std::unique_ptr<std::uint32_t[]> pixels;
    std::uint32_t columns = 0;
    std::uint32_t rows = 0;
    std::size_t stride = 0;

    explicit NativeImage(Gdiplus::GpBitmap* decoded) : bitmap(decoded) {}
    ~NativeImage()
    {
        if (bitmap != nullptr)
            gdip::GdipDisposeImage(bitmap);
    }
    NativeImage(const NativeImage&) = delete;
    NativeImage& operator=(const NativeImage&) = delete;
};

namespace {

// The decoded picture must fit in the machine's memory; a size that declares more is
// refused before our copy of the pixels is allocated.
std::uint64_t physicalMemoryBytes()
{
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status) || status.ullTotalPhys == 0)
        return std::uint64_t{1} << 34;
    return status.ullTotalPhys;
}

std::unique_ptr<std::uint32_t[]> allocatePixels(std::uint64_t count)
{
    return std::unique_ptr<std::uint32_t[]>(
        new (std::nothrow) std::uint32_t[static_cast<std::size_t>(count)]);
}

// The path arrives in the system code page (what the ANSI file dialogs hand out), so it
// is converted from that code page, never byte by byte: a byte above 0x7F is not the
// UTF-16 unit of the same value in most code pages.
bool widePath(const char* path, std::wstring& wide)
{
    const int units = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (units <= 0)
        return false;
    wide.assign(static_cast<std::size_t>(units), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, &wide[0], units) != units)
        return false;
    wide.resize(static_cast<std::size_t>(units) - 1);  // drop the terminator
    return true;
}

// 0xAARRGGBB to 0x00BBGGRR; alpha is ignored, never multiplied into the colours.
inline std::uint32_t wordFromArgb(std::uint32_t argb)
{
    return ((argb >> 16) & 0xFFu) | (argb & 0xFF00u) | ((argb & 0xFFu) << 16);
}

int readPixels(NativeImage& image)
{
    UINT columns = 0;
    UINT rows = 0;
    Gdiplus::GpStatus status = gdip::GdipGetImageWidth(image.bitmap, &columns);
    if (status == Gdiplus::Ok)
        status = gdip::GdipGetImageHeight(image.bitmap, &rows);
    if (status != Gdiplus::Ok)
        return status;
    if (columns == 0 || rows == 0)
        return imaging_status::kUnknownImageFormat;
    // The lock's stride is an INT of bytes.
    if (columns > INT32_MAX / 8 || rows > INT32_MAX)
        return imaging_status::kValueOverflow;
    const std::size_t stride = image_backend::paddedRowStride(columns);
    const std::uint64_t count = static_cast<std::uint64_t>(stride) * rows;
    if (count * 4 > physicalMemoryBytes())
        return imaging_status::kValueOverflow;

    image.pixels = allocatePixels(count);
    if (!image.pixels)
        return imaging_status::kValueOverflow;

    Gdiplus::BitmapData locked = {};
    locked.Width = columns;
    locked.Height = rows;
    locked.Stride = static_cast<INT>(stride * 4);
    locked.PixelFormat = PixelFormat32bppARGB;
    locked.Scan0 = image.pixels.get();
    const Gdiplus::GpRect whole(0, 0, static_cast<INT>(columns), static_cast<INT>(rows));
    status = gdip::GdipBitmapLockBits(image.bitmap, &whole,
                                      Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf,
                                      PixelFormat32bppARGB, &locked);
    if (status != Gdiplus::Ok) {
        image.pixels.reset();
        return status;
    }
    gdip::GdipBitmapUnlockBits(image.bitmap, &locked);

    for (std::uint64_t row = 0; row < rows; ++row) {
        std::uint32_t* word = image.pixels.get() + row * stride;
        for (std::uint32_t column = 0; column < columns; ++column)
            word[column] = wordFromArgb(word[column]);
    }
    image_backend::fillWrapWords(image.pixels.get(), columns, rows, stride);
    image.columns = columns;
    image.rows = rows;
    image.stride = stride;
    return imaging_status::kOk;
}

}  // namespace

int startImaging(std::uintptr_t& token)
{
    Gdiplus::GdiplusStartupInput input;
    input.GdiplusVersion = 1;
    input.DebugEventCallback = nullptr;
    input.SuppressBackgroundThread = FALSE;
    input.SuppressExternalCodecs = FALSE;
    ULONG_PTR started = 0;
    const Gdiplus::Status status = Gdiplus::GdiplusStartup(&started, &input, nullptr);
    token = started;
    return status;
}

void stopImaging(std::uintptr_t token) { Gdiplus::GdiplusShutdown(static_cast<ULONG_PTR>(token)); }

namespace image_backend {

void* allocateObject(std::size_t bytes) { return gdip::GdipAlloc(bytes); }

void freeObject(void* memory) { gdip::GdipFree(memory); }

int load(const char* path, NativeImage*& image)
{
    image = nullptr;
    std::wstring wide;
    if (!widePath(path, wide))
        return imaging_status::kInvalidParameter;
    Gdiplus::GpBitmap* bitmap = nullptr;
    const Gdiplus::GpStatus status = gdip::GdipCreateBitmapFromFile(wide.c_str(), &bitmap);
    if (status != Gdiplus::Ok)
        return status;
    std::unique_ptr<NativeImage> decoded(new (std::nothrow) NativeImage(bitmap));
    if (!decoded) {
        gdip::GdipDisposeImage(bitmap);
        return imaging_status::kOutOfMemory;
    }
    const int read = readPixels(*decoded);
    if (read != imaging_status::kOk)
        return read;
    image = decoded.release();
    return imaging_status::kOk;
}

int clone(const NativeImage& source, NativeImage*& copy)
{
    copy = nullptr;
    Gdiplus::GpImage* cloned = nullptr;
    const Gdiplus::GpStatus status = gdip::GdipCloneImage(source.bitmap, &cloned);
    if (status != Gdiplus::Ok)
        return status;
    // The clone of a bitmap is a bitmap.
    std::unique_ptr<NativeImage> image(
        new (std::nothrow) NativeImage(static_cast<Gdiplus::GpBitmap*>(cloned)));
    if (!image) {
        gdip::GdipDisposeImage(cloned);
        return imaging_status::kOutOfMemory;
    }
    const std::uint64_t count = static_cast<std::uint64_t>(source.stride) * source.rows;
    image->pixels = allocatePixels(count);
    if (!image->pixels)
        return imaging_status::kOutOfMemory;
    std::memcpy(image->pixels.get(), source.pixels.get(), static_cast<std::size_t>(count) * 4);
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
