// A map read in bands of rows, top to bottom, as its decoder gives them: the way a map
// larger than memory is read once, and a map in tiles (a mosaic) is read as the one map the
// tiles form. The rows are the pixels the image object would hold (image_object.h,
// decoded_picture.h): the design's 8-bit RGB words, or with `keepSamples` the file's own
// samples, then narrowed to `working` (reshapePicture's arithmetic), byte for byte what a
// whole decoding of the same file gives, row by row.
//
// What is read in bands (picture_rows.h): on Linux PNG (not interlaced) by our reader, TIFF
// whose samples are kept by the portable reader, and whatever OpenImageIO decodes (JPEG, TIFF
// as words, OpenEXR, ...) in the bands of its whole decoding; on Windows a map's own samples
// of PNG and TIFF, by the portable readers. The rest is decoded whole: a file by the caller,
// a mosaic's tile here, when its row of tiles is reached. The reading holds what the decoders
// hold (readerBytes), never the map; the pictures of a mosaic's whole tiles are counted in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "samples.h"

class MapRows {
public:
    virtual ~MapRows() = default;

    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }
    // What the file (every tile alike) holds, and what the rows are delivered as.
    SampleLayout fileLayout() const { return fileLayout_; }
    SampleLayout layout() const { return layout_; }
    // Bytes a decoder holds beside the rows it hands out (its own buffers, a strip or a
    // tile row of a mosaic), for the memory budget.
    std::uint64_t readerBytes() const { return readerBytes_; }

    // Narrows every row from now on to `working` (reshapePicture's arithmetic); false if
    // the rows cannot be made of it.
    virtual bool narrowTo(SampleLayout working) = 0;

    // The next `count` rows, in order from the top, into `into`, `stride` bytes apart, each
    // of width() pixels of layout() (pixelBytes) followed by its wrap pixel (a copy of its
    // first). Returns an imaging status (image_object.h): kOk, or the failure, after which
    // nothing more is read. Rows past the last are a failure (kInvalidParameter). A failure
    // is found at the row where the whole decoding finds it (a cut file, broken data), or at
    // the row after a chunk of PNG image data whose CRC is wrong; the rows of a call that
    // fails are not the map's.
    virtual int readRows(std::uint32_t count, unsigned char* into, std::size_t stride) = 0;

protected:
    std::uint32_t width_ = 0, height_ = 0;
    SampleLayout fileLayout_, layout_;
    std::uint64_t readerBytes_ = 0;
};

// Opens a map for reading in bands: one file, or the `columns` × `rows` files of a mosaic
// given row by row from the north-west, which must agree in size, channels and depth (and
// every tile's header is read, so that they are checked before a row is read). Returns null
// with `status` kOk for one file whose decoder cannot give rows in order: the caller decodes
// it whole. Otherwise null with the failure in `status` where it cannot: a file that cannot
// be read (with the status of its whole decoding), or readers' buffers larger than memory
// (kValueOverflow); and for a mosaic also `message`, naming the tile that cannot be read,
// or saying how the tiles differ ("The mosaic's tiles differ: B1.png is 21600 x 21600 RGB,
// A1.png 21600 x 21600 grey.", kInvalidParameter), or that the files are not columns × rows
// or the map's sides over kMaxPictureSide (kInvalidParameter). The imaging library must be
// started (image_object.h): a mosaic's tiles may be decoded whole.
struct MapRowsRequest {
    std::vector<std::string> paths;  // one, or columns × rows
    std::uint32_t columns = 1, rows = 1;
    bool keepSamples = false;
};
std::unique_ptr<MapRows> openMapRows(const MapRowsRequest& request, int& status, std::string& message);
