// A picture decoded by one of the image backends (the readers behind the Linux backend, or
// GDI+), in the image object's layout: pictureWord words, rows `stride` words apart, each
// row followed by its wrap word (see image_object.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "large_buffer.h"
#include "samples.h"

struct DecodedPicture {
    LargeBuffer<std::uint32_t> pixels;
    std::uint32_t columns = 0;
    std::uint32_t rows = 0;
    std::size_t stride = 0;
    std::uint64_t memoryLimit = 0;  // bytes the pixels may take; 0: the machine's memory
    // What the file holds (its samples' type and channels), whatever the pixels were made
    // of: the job warns of what its output drops. 8-bit RGB unless a reader says otherwise.
    SampleLayout fileLayout;
};

// No real map is a million pixels wide or high (libpng's limit, which every reader keeps):
// a side over this is refused as unreadable before a reader fills a row of it.
constexpr std::uint32_t kMaxPictureSide = 1000000;

// The picture must fit in the machine's memory (or the picture's memoryLimit): a header
// that declares more is refused, with kValueOverflow, before anything large is allocated;
// sides of no pixels or over kMaxPictureSide with kUnknownImageFormat. Otherwise allocates
// the pixels.
int allocatePicture(DecodedPicture& picture, std::uint64_t columns, std::uint64_t rows);

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

// Every PNG file is read by our own reader, without OpenImageIO's start-up. Returns kOk, a
// failure status, or kNotMine for a file that is not a PNG.
constexpr int kNotMine = -1;
int readPngDirect(const char* path, DecodedPicture& picture);

// A direct reader's last step: on success each row's wrap word written, on failure the
// pixels freed. Returns `status`.
int finishDirectRead(int status, DecodedPicture& picture);

// Every BMP file, likewise, by our own reader (bmp_reader.cpp).
int readBmpDirect(const char* path, DecodedPicture& picture);

// Every FITS file, likewise, by our own reader (fits_reader.cpp).
int readFitsDirect(const char* path, DecodedPicture& picture);

// Everything OpenImageIO reads, through a module loaded on first use.
int readWithOpenImageIO(const char* path, DecodedPicture& picture);
