// The image object's backend on GDI+, for Windows, through the library's flat API.
//
// GDI+ decodes the file. Its pixels are then read once, in bulk, as 32-bit ARGB
// (GdipBitmapLockBits straight into the object's own words, whose layout is GDI+'s own):
// the same values GdipBitmapGetPixel would give one at a time, without a call per sample.
// GDI+'s own bitmap is released as soon as they are copied, so a run holds one decoded copy
// of the map, as on every other platform.
//
// Asked to keep the map's own samples, GDI+ would give 8 bits a channel at most (it reads
// 16-bit PNG and TIFF as 8 bits, float TIFF and OpenEXR not at all): PNG, TIFF and OpenEXR
// files then go through our own portable readers (png_reader.cpp, tiff_reader.cpp,
// exr_reader.cpp), which give the Linux build's samples, and GDI+ reads the rest as 8-bit
// RGB, or RGBA where the picture has alpha (32-bit ARGB is straight alpha, as stored). The
// design's words are GDI+'s alone, as they always were.
#include "gdiplus_api.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "canvas_check.h"
#include "decoded_picture.h"
#include "image_object.h"
#include "utf8.h"

namespace {

// The bytes of GDI+'s own decoded bitmap, in its pixel format and rows of whole 32-bit
// words: it is held beside our copy while the bits are locked.
std::uint64_t gdiplusBitmapBytes(Gdiplus::GpBitmap* bitmap, std::uint64_t columns, std::uint64_t rows)
{
    Gdiplus::PixelFormat format = PixelFormat32bppARGB;
    if (gdip::GdipGetImagePixelFormat(bitmap, &format) != Gdiplus::Ok)
        format = PixelFormat32bppARGB;
    const std::uint64_t bits = std::max<std::uint64_t>(Gdiplus::GetPixelFormatSize(format), 1);
    return (columns * bits + 31) / 32 * 4 * rows;
}

// What the file holds, as GDI+'s pixel format says: 16 bits a channel in its 48- and
// 64-bit formats and its 16-bit grey, alpha in the formats that have it and in palettes
// that do; 8-bit RGB otherwise.
SampleLayout fileLayoutOf(Gdiplus::GpBitmap* bitmap)
{
    Gdiplus::PixelFormat format = PixelFormat32bppRGB;
    if (gdip::GdipGetImagePixelFormat(bitmap, &format) != Gdiplus::Ok)
        return {};
    switch (format) {
    case PixelFormat16bppGrayScale:
        return {SampleType::U16, 1};
    case PixelFormat48bppRGB:
        return {SampleType::U16, 3};
    case PixelFormat64bppARGB:
    case PixelFormat64bppPARGB:
        return {SampleType::U16, 4};
    default:
        break;
    }
    bool alpha = Gdiplus::IsAlphaPixelFormat(format);
    INT paletteBytes = 0;
    if (Gdiplus::IsIndexedPixelFormat(format) &&
        gdip::GdipGetImagePaletteSize(bitmap, &paletteBytes) == Gdiplus::Ok &&
        paletteBytes >= static_cast<INT>(sizeof(Gdiplus::ColorPalette))) {
        std::unique_ptr<unsigned char[]> bytes(new (std::nothrow) unsigned char[paletteBytes]);
        auto* palette = reinterpret_cast<Gdiplus::ColorPalette*>(bytes.get());
        if (bytes && gdip::GdipGetImagePalette(bitmap, palette, paletteBytes) == Gdiplus::Ok)
            alpha = (palette->Flags & Gdiplus::PaletteFlagsHasAlpha) != 0;
    }
    return {SampleType::U8, alpha ? 4u : 3u};
}

// The size GDI+ reports is checked against memory, as every backend checks the size a
// header declares, before anything is allocated or locked: GDI+ may decode the bits only
// when they are locked. Keeping the samples, the words keep their alpha where the file has
// it (GDI+'s 32-bit ARGB is the picture words' layout, alpha in the top byte).
int readPixels(Gdiplus::GpBitmap* bitmap, NativeImage& image)
{
    UINT columns = 0;
    UINT rows = 0;
    Gdiplus::GpStatus status = gdip::GdipGetImageWidth(bitmap, &columns);
    if (status == Gdiplus::Ok)
        status = gdip::GdipGetImageHeight(bitmap, &rows);
    if (status != Gdiplus::Ok)
        return status;
    if (columns == 0 || rows == 0)
        return imaging_status::kUnknownImageFormat;
    // The lock's stride is an INT of bytes.
    if (image_backend::paddedRowStride(columns) > INT32_MAX / 4)
        return imaging_status::kValueOverflow;
    image.fileLayout = fileLayoutOf(bitmap);
    if (image.keepSamples)
        image.layout = {SampleType::U8, hasAlpha(image.fileLayout.channels) ? 4u : 3u};
    if (!pictureFits(image, columns, rows, gdiplusBitmapBytes(bitmap, columns, rows)))
        return imaging_status::kValueOverflow;
    const int allocated = allocatePicture(image, columns, rows);
    if (allocated != imaging_status::kOk)
        return allocated;

    Gdiplus::BitmapData locked = {};
    locked.Width = columns;
    locked.Height = rows;
    locked.Stride = static_cast<INT>(image.stride * 4);
    locked.PixelFormat = PixelFormat32bppARGB;
    locked.Scan0 = image.pixels.get();
    const Gdiplus::GpRect whole(0, 0, static_cast<INT>(columns), static_cast<INT>(rows));
    status = gdip::GdipBitmapLockBits(bitmap, &whole,
                                      Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf,
                                      PixelFormat32bppARGB, &locked);
    if (status != Gdiplus::Ok)
        return status;
    gdip::GdipBitmapUnlockBits(bitmap, &locked);  // alpha in the top byte, read only when kept
    image_backend::fillWrapWords(image.pixels.get(), columns, rows, image.stride);
    return imaging_status::kOk;
}

// A GIF's logical screen must be held by its first image (canvas_check.h) before GDI+,
// which lays out the whole screen, opens it.
int checkCanvas(const wchar_t* path)
{
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(_wfopen(path, L"rb"), std::fclose);
    char signature[4];
    if (!file || std::fread(signature, 1, sizeof signature, file.get()) != sizeof signature ||
        std::memcmp(signature, "GIF8", 4) != 0 || _fseeki64(file.get(), 0, SEEK_END) != 0)
        return imaging_status::kOk;  // not a GIF: GDI+ decides
    const long long fileBytes = _ftelli64(file.get());
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    if (fileBytes < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0)
        return imaging_status::kUnknownImageFormat;
    return checkGifCanvas(file.get(), static_cast<std::uint64_t>(fileBytes), width, height);
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

int load(const char* path, bool keepSamples, NativeImage*& image)
{
    image = nullptr;
    // The path is UTF-8, as every path inside the program; GDI+ opens UTF-16.
    const std::wstring wide = utf8ToWide(path);
    if (wide.empty())
        return imaging_status::kInvalidParameter;
    std::unique_ptr<NativeImage> decoded(new (std::nothrow) NativeImage);
    if (!decoded)
        return imaging_status::kOutOfMemory;
    decoded->memoryLimit = pictureMemory.limitBytes;
    decoded->keepSamples = keepSamples;
    if (keepSamples) {
        int status = readPngDirect(path, *decoded);
        if (status == kNotMine)
            status = readTiffDirect(path, *decoded);
        if (status == kNotMine)
            status = readExrDirect(path, *decoded);
        if (status != kNotMine) {
            if (status == imaging_status::kOk)
                image = decoded.release();
            return status;
        }
        decoded->layout = SampleLayout{};
        decoded->fileLayout = SampleLayout{};
    }
    const int canvas = checkCanvas(wide.c_str());
    if (canvas != imaging_status::kOk)
        return canvas;
    Gdiplus::GpBitmap* opened = nullptr;
    const Gdiplus::GpStatus status = gdip::GdipCreateBitmapFromFile(wide.c_str(), &opened);
    if (status != Gdiplus::Ok)
        return status;
    const GdiplusBitmap bitmap(opened);
    const int read = readPixels(bitmap.get(), *decoded);
    if (read != imaging_status::kOk)
        return read;
    image = decoded.release();
    return imaging_status::kOk;
}

}  // namespace image_backend
