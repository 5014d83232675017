// One picture file's rows, handed out top to bottom as its decoder makes them: the pixels the
// whole decoding (decoded_picture.h) would hold, row by row, without the wrap pixel.
// map_rows.cpp puts them together into a map's rows, narrowed, one file or a mosaic of them.
//
// The readers that give rows (png_reader.cpp, tiff_reader.cpp, and on Linux oiio_reader.cpp
// in the OpenImageIO module) make them with the code of their whole decoding, and keep its
// checks: what the whole decoding refuses, the rows refuse too, at their opening or at the
// row where the whole decoding would find the fault. Only their own buffers (readerBytes)
// are held to the memory the picture may take, not the picture, which is never held whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "decoded_picture.h"

class PictureRows {
public:
    virtual ~PictureRows() = default;

    std::uint32_t columns = 0, rows = 0;
    SampleLayout layout;      // what the rows hold: the design's words unless kept
    SampleLayout fileLayout;  // what the file holds, as the whole decoding says
    std::uint64_t readerBytes = 0;  // what the decoder holds while it gives rows

    // The next `count` rows (the caller never asks past the last) into `into`, `stride` bytes
    // apart, each `columns` pixels of pixelBytes(layout). Returns kOk, or the failure; a row
    // is written only once it is decoded whole, and after a failure the reader is not asked
    // again.
    virtual int readRows(std::uint32_t count, unsigned char* into, std::size_t stride) = 0;
};

// A reader's answer that the file is of its format but its rows cannot be had in order (an
// interlaced PNG, whose last rows come with its last pass; a picture its decoder turns over;
// a format read through a library of its own): the file is decoded whole.
constexpr int kReadWhole = -2;

// The settings of a reading, as a whole decoding takes them from its picture: `keepSamples`
// and `memoryLimit` (0: the machine's memory), which bounds readerBytes.
//
// Each returns kOk with `rows`, kNotMine for a file of another format (or, TIFF, of a kind
// left to the platform's decoder), kReadWhole, or the status the whole decoding refuses the
// file with (kValueOverflow where the reader's own buffers are larger than the memory).

// Every PNG that is not interlaced (png_reader.cpp).
int openPngRows(const char* path, const DecodedPicture& settings, std::unique_ptr<PictureRows>& rows);
// TIFF's samples kept, by the portable reader (tiff_reader.cpp): strips a row at a time,
// tiles a row of tiles at a time.
int openTiffRows(const char* path, const DecodedPicture& settings, std::unique_ptr<PictureRows>& rows);

// The platform's choice of reader for `path`, in the order of its whole decoding
// (map_rows_posix.cpp, map_rows_win32.cpp).
int openPictureRows(const char* path, const DecodedPicture& settings, std::unique_ptr<PictureRows>& rows);
