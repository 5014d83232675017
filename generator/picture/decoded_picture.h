// A picture decoded by one of the image backends (the readers behind the Linux backend, or
// GDI+), in the image object's layout (see image_object.h): rows `stride` pixels apart,
// each followed by its wrap pixel.
//
// Two ways a reader is asked to lay it out (`keepSamples`):
// - the design's, by default: 8-bit RGB picture words, whatever the file holds (grey
//   repeated in the three channels, palettes looked up, alpha dropped, 16-bit samples cut to
//   their high byte as GDI+ does, floats scaled to 8 bits);
// - the file's own samples (samples.h): its channels (1 grey, 2 grey and alpha, 3 RGB, 4
//   RGBA) and its type (8- or 16-bit, signed 16-bit, float). Palettes are looked up into RGB
//   or RGBA, samples of fewer than 8 bits scaled to 8 as libpng scales them, other integer
//   types and doubles made float, CMYK made RGB. Alpha stays straight, as stored.
//   8-bit RGB and RGBA pixels are picture words (blue, green, red, alpha in memory), as the
//   design's are; the others hold their channels in order, each sample in the machine's
//   byte order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "large_buffer.h"
#include "samples.h"

struct DecodedPicture {
    LargeBuffer<std::uint32_t> pixels;  // rows of pixelBytes(layout) a pixel, word-aligned
    std::uint32_t columns = 0;
    std::uint32_t rows = 0;
    std::size_t stride = 0;         // pixels from one row to the next
    SampleLayout layout;            // what the pixels hold: the design's words unless kept
    bool keepSamples = false;       // asked for the file's own samples
    std::uint64_t memoryLimit = 0;  // bytes the pixels may take; 0: the machine's memory
    // What the file holds (its samples' type and channels), whatever the pixels were made
    // of: the job warns of what its output drops. 8-bit RGB unless a reader says otherwise.
    SampleLayout fileLayout;
};

// No real map is a million pixels wide or high (libpng's limit, which every reader keeps):
// a side over this is refused as unreadable before a reader fills a row of it.
constexpr std::uint32_t kMaxPictureSide = 1000000;

// Bytes a pixel of `layout` takes: a word for 8-bit RGB and RGBA, else its samples.
constexpr std::size_t pixelBytes(SampleLayout layout)
{
    return layout.type == SampleType::U8 && layout.channels >= 3 ? 4 : texelBytes(layout);
}

// The picture must fit in the machine's memory (or the picture's memoryLimit): a header
// that declares more is refused, with kValueOverflow, before anything large is allocated;
// sides of no pixels or over kMaxPictureSide with kUnknownImageFormat. Otherwise allocates
// the pixels of the picture's `layout` (which the reader sets first, when it keeps samples).
int allocatePicture(DecodedPicture& picture, std::uint64_t columns, std::uint64_t rows);

// Pixel (column, row)'s first byte.
inline unsigned char* pixelAt(DecodedPicture& picture, std::size_t column, std::size_t row)
{
    return reinterpret_cast<unsigned char*>(picture.pixels.get()) +
           (row * picture.stride + column) * pixelBytes(picture.layout);
}

// Writes each row's wrap pixel: a copy of its first pixel after its last.
void fillWrapPixels(DecodedPicture& picture);

// The picture's pixels made of `target`'s samples: an 8-bit type where the pixels' are
// wider (16-bit samples keep their high byte, as the design's words do; signed ones their
// positive range; floats 0 to 1), grey where they are colour (Rec. 709 luma), without the
// alpha where `target` has none. False, and the picture as it was, without the memory.
bool reshapePicture(DecodedPicture& picture, SampleLayout target);

// reshapePicture's arithmetic for one row: `columns` pixels of `from` at `in` made of
// `target`'s samples at `out` (the rows of a map read in bands are made alike).
void reshapeRow(const unsigned char* in, SampleLayout from, unsigned char* out, SampleLayout target,
                std::uint32_t columns);

// Whether that arithmetic makes every sample of `target` from pixels of `from`: the same
// type or 8 bits, and alpha only from alpha.
constexpr bool reshapes(SampleLayout from, SampleLayout target)
{
    return (target.type == from.type || target.type == SampleType::U8) &&
           (hasAlpha(from.channels) || !hasAlpha(target.channels));
}

// Whether columns × rows pixels, and `readerBytes` that a reader holds beside them, fit in
// the memory the picture may take.
bool pictureFits(const DecodedPicture& picture, std::uint64_t columns, std::uint64_t rows,
                 std::uint64_t readerBytes = 0);

// The memory limit the backend gives every picture it decodes. A test or a fuzzer lowers it
// to stand for a smaller machine; the readers in the OpenImageIO module see it through the
// picture.
struct PictureMemory {
    std::uint64_t limitBytes = 0;  // 0: the machine's physical memory
};
extern PictureMemory pictureMemory;

// The image object's native image: whatever the platform's decoder, the decoded picture.
struct NativeImage : DecodedPicture {};

// The Linux backend's readers.

// Only a regular file that holds something is a picture (image_backend_posix.cpp): a FIFO,
// a device, a socket or a file of the kernel's that says it is empty never reaches a reader.
bool isPictureFile(const char* path);

// Every PNG file is read by our own reader, without OpenImageIO's start-up (on Windows, when
// its samples are kept). Returns kOk, a failure status, or kNotMine for a file that is not a
// PNG.
constexpr int kNotMine = -1;
int readPngDirect(const char* path, DecodedPicture& picture);

// Portable readers of a map's own samples (keepSamples). TIFF (tiff_reader.cpp) on every
// platform, so that both builds read the same samples; OpenEXR (exr_reader.cpp) on Windows,
// where GDI+ reads neither as more than 8 bits. kNotMine for a file of another format, or a
// TIFF of a kind left to the platform's decoder.
int readTiffDirect(const char* path, DecodedPicture& picture);
int readExrDirect(const char* path, DecodedPicture& picture);

// A direct reader's last step: on success each row's wrap word written, on failure the
// pixels freed. Returns `status`.
int finishDirectRead(int status, DecodedPicture& picture);

// Every BMP file, likewise, by our own reader (bmp_reader.cpp).
int readBmpDirect(const char* path, DecodedPicture& picture);

// Every FITS file, likewise, by our own reader (fits_reader.cpp).
int readFitsDirect(const char* path, DecodedPicture& picture);

// Everything OpenImageIO reads, through a module loaded on first use.
int readWithOpenImageIO(const char* path, DecodedPicture& picture);
