// A map read in bands of rows (map_rows.h): one file, or the tiles of a mosaic side by side,
// each tile's rows from its reader (picture_rows.h) or, where a tile's rows cannot be had in
// order, from its whole decoding, made when its row of tiles is reached. A row is put
// together from the tiles of its row of tiles, narrowed (reshapeRow) and given its wrap pixel.
#include "map_rows.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "decoded_picture.h"
#include "image_object.h"
#include "picture_rows.h"

namespace {

struct WholeDeleter {
    void operator()(NativeImage* image) const { image_backend::dispose(image); }
};

// One file of the map, and its rows while its row of tiles is read.
struct Tile {
    std::string path;
    bool readWhole = false;  // its rows come from its whole decoding
    std::unique_ptr<PictureRows> rows;
    std::unique_ptr<NativeImage, WholeDeleter> whole;
    std::uint32_t next = 0;  // of the whole decoding's rows, the next to hand out
};

// "21600 x 21600 RGB", "16-bit grey", "float RGBA".
std::string describe(std::uint32_t width, std::uint32_t height, SampleLayout layout)
{
    static const char* const kChannels[] = {"", "grey", "grey and alpha", "RGB", "RGBA"};
    static const char* const kTypes[] = {"", "16-bit ", "signed 16-bit ", "float "};
    return std::to_string(width) + " x " + std::to_string(height) + " " + kTypes[static_cast<int>(layout.type)] +
           kChannels[std::min(layout.channels, 4u)];
}

// The bytes a whole decoding holds.
std::uint64_t wholeBytes(const NativeImage& image)
{
    return static_cast<std::uint64_t>(image.stride) * image.rows * pixelBytes(image.layout);
}

class TiledRows final : public MapRows {
public:
    // Opens every tile, to check them against each other and the memory before a row is
    // read; keeps the first row of tiles open. Null `rows` with kOk: one file to be read whole.
    int open(const MapRowsRequest& request, std::string& message)
    {
        gridColumns_ = request.columns;
        gridRows_ = request.rows;
        settings_.keepSamples = request.keepSamples;
        settings_.memoryLimit = pictureMemory.limitBytes;
        const bool mosaic = request.paths.size() > 1;
        std::vector<std::uint64_t> bandBytes(gridRows_, 0);
        for (std::size_t i = 0; i < request.paths.size(); ++i) {
            Tile tile;
            tile.path = request.paths[i];
            std::uint32_t width = 0, height = 0;
            SampleLayout layout, fileLayout;
            std::uint64_t bytes = 0;
            int status = openPictureRows(tile.path.c_str(), settings_, tile.rows);
            if (status == imaging_status::kOk) {
                width = tile.rows->columns;
                height = tile.rows->rows;
                layout = tile.rows->layout;
                fileLayout = tile.rows->fileLayout;
                bytes = tile.rows->readerBytes;
                if (i >= gridColumns_)
                    tile.rows.reset();  // opened again when its row of tiles is reached
            } else if (status == kReadWhole) {
                if (!mosaic)
                    return imaging_status::kOk;
                // Its size and layouts are known only from its decoding, made again when its
                // row of tiles is reached.
                tile.readWhole = true;
                status = decodeWhole(tile);
                if (status == imaging_status::kOk) {
                    width = tile.whole->columns;
                    height = tile.whole->rows;
                    layout = tile.whole->layout;
                    fileLayout = tile.whole->fileLayout;
                    bytes = wholeBytes(*tile.whole);
                    tile.whole.reset();
                }
            }
            if (status != imaging_status::kOk) {
                if (mosaic)
                    message = "The mosaic's tile " + tile.path + " cannot be read.";
                return status;
            }
            if (i == 0) {
                tileWidth_ = width;
                tileHeight_ = height;
                source_ = layout_ = layout;
                fileLayout_ = fileLayout;
            } else if (width != tileWidth_ || height != tileHeight_ || fileLayout != fileLayout_ || layout != source_) {
                const bool byFile = fileLayout != fileLayout_ || layout == source_;
                message = "The mosaic's tiles differ: " + tile.path + " is " +
                          describe(width, height, byFile ? fileLayout : layout) + ", " + tiles_[0].path + " " +
                          describe(tileWidth_, tileHeight_, byFile ? fileLayout_ : source_) + ".";
                return imaging_status::kInvalidParameter;
            }
            const std::uint32_t band = static_cast<std::uint32_t>(i / gridColumns_);
            bandBytes[band] = bytes > UINT64_MAX - bandBytes[band] ? UINT64_MAX : bandBytes[band] + bytes;
            tiles_.push_back(std::move(tile));
        }
        const std::uint64_t width = std::uint64_t{tileWidth_} * gridColumns_;
        const std::uint64_t height = std::uint64_t{tileHeight_} * gridRows_;
        if (width > kMaxPictureSide || height > kMaxPictureSide) {
            message = "The mosaic is " + std::to_string(width) + " x " + std::to_string(height) +
                      " pixels: no side of a map may pass " + std::to_string(kMaxPictureSide) + ".";
            return imaging_status::kInvalidParameter;
        }
        width_ = static_cast<std::uint32_t>(width);
        height_ = static_cast<std::uint32_t>(height);
        tilesBytes_ = *std::max_element(bandBytes.begin(), bandBytes.end());
        readerBytes_ = tilesBytes_;
        if (!pictureFits(settings_, 0, 0, readerBytes_))
            return imaging_status::kValueOverflow;
        band_ = 0;
        return startBand(0);
    }

    bool narrowTo(SampleLayout working) override
    {
        if (!reshapes(source_, working))
            return false;
        layout_ = working;
        scratch_.clear();
        scratchRows_ = 0;
        if (working != source_) {
            // Rows put together from the tiles before they are narrowed, about 256 KiB of them.
            const std::size_t rowBytes = std::size_t{width_} * pixelBytes(source_);
            scratchRows_ = static_cast<std::uint32_t>(std::max<std::size_t>(1, (std::size_t{256} << 10) / rowBytes));
            try {
                scratch_.resize(scratchRows_ * rowBytes);
            } catch (const std::bad_alloc&) {
                layout_ = source_;
                scratchRows_ = 0;
                return false;
            }
        }
        readerBytes_ = tilesBytes_ + scratch_.size();
        return true;
    }

    int readRows(std::uint32_t count, unsigned char* into, std::size_t stride) override
    {
        if (failed_ == imaging_status::kOk && count > height_ - next_)
            failed_ = imaging_status::kInvalidParameter;
        const std::size_t sourceBytes = pixelBytes(source_), outBytes = pixelBytes(layout_);
        while (failed_ == imaging_status::kOk && count > 0) {
            const std::uint32_t band = next_ / tileHeight_;
            if (band != band_)
                failed_ = startBand(band);
            if (failed_ != imaging_status::kOk)
                break;
            // As many rows as the row of tiles, and the narrowing's scratch, hold.
            std::uint32_t rows = std::min(count, (band + 1) * tileHeight_ - next_);
            const bool narrowed = layout_ != source_;
            if (narrowed)
                rows = std::min(rows, scratchRows_);
            unsigned char* target = narrowed ? scratch_.data() : into;
            const std::size_t targetStride = narrowed ? std::size_t{width_} * sourceBytes : stride;
            for (std::uint32_t column = 0; column < gridColumns_ && failed_ == imaging_status::kOk; ++column)
                failed_ = readTileRows(tiles_[std::size_t{band} * gridColumns_ + column], rows,
                                       target + std::size_t{column} * tileWidth_ * sourceBytes, targetStride);
            if (failed_ != imaging_status::kOk)
                break;
            for (std::uint32_t row = 0; row < rows; ++row) {
                unsigned char* out = into + std::size_t{row} * stride;
                if (narrowed)
                    reshapeRow(scratch_.data() + row * targetStride, source_, out, layout_, width_);
                std::memcpy(out + std::size_t{width_} * outBytes, out, outBytes);
            }
            into += std::size_t{rows} * stride;
            count -= rows;
            next_ += rows;
        }
        return failed_;
    }

private:
    int decodeWhole(Tile& tile) const
    {
        NativeImage* image = nullptr;
        const int status = image_backend::load(tile.path.c_str(), settings_.keepSamples, image);
        tile.whole.reset(image);
        tile.next = 0;
        return status;
    }

    // Closes the tiles of the row of tiles before and opens those of row `band`, which must
    // be as they were when the map was opened.
    int startBand(std::uint32_t band)
    {
        if (band_ != band)
            for (std::uint32_t column = 0; column < gridColumns_; ++column) {
                Tile& tile = tiles_[std::size_t{band_} * gridColumns_ + column];
                tile.rows.reset();
                tile.whole.reset();
            }
        band_ = band;
        for (std::uint32_t column = 0; column < gridColumns_; ++column) {
            Tile& tile = tiles_[std::size_t{band} * gridColumns_ + column];
            if (tile.rows || tile.whole)
                continue;
            bool same = false;
            if (tile.readWhole) {
                const int status = decodeWhole(tile);
                if (status != imaging_status::kOk)
                    return status;
                same = tile.whole->columns == tileWidth_ && tile.whole->rows == tileHeight_ &&
                       tile.whole->layout == source_;
            } else {
                const int status = openPictureRows(tile.path.c_str(), settings_, tile.rows);
                if (status != imaging_status::kOk)
                    return status == kReadWhole ? imaging_status::kUnknownImageFormat : status;
                same = tile.rows->columns == tileWidth_ && tile.rows->rows == tileHeight_ &&
                       tile.rows->layout == source_;
            }
            if (!same)
                return imaging_status::kUnknownImageFormat;  // the file changed since
        }
        return imaging_status::kOk;
    }

    int readTileRows(Tile& tile, std::uint32_t count, unsigned char* into, std::size_t stride)
    {
        if (tile.rows)
            return tile.rows->readRows(count, into, stride);
        const std::size_t rowBytes = std::size_t{tileWidth_} * pixelBytes(source_);
        for (std::uint32_t row = 0; row < count; ++row, ++tile.next)
            std::memcpy(into + row * stride, pixelAt(*tile.whole, 0, tile.next), rowBytes);
        return imaging_status::kOk;
    }

    DecodedPicture settings_;  // keepSamples and the memory limit, never pixels
    std::vector<Tile> tiles_;  // row by row from the north-west
    std::uint32_t gridColumns_ = 1, gridRows_ = 1;
    std::uint32_t tileWidth_ = 0, tileHeight_ = 0;
    SampleLayout source_;  // what the tiles' rows hold
    std::uint64_t tilesBytes_ = 0;  // the most a row of tiles holds
    std::uint32_t band_ = 0;        // the row of tiles open
    std::uint32_t next_ = 0;        // the map's next row
    std::vector<unsigned char> scratch_;  // rows of the tiles' pixels, to be narrowed
    std::uint32_t scratchRows_ = 0;
    int failed_ = imaging_status::kOk;
};

}  // namespace

std::unique_ptr<MapRows> openMapRows(const MapRowsRequest& request, int& status, std::string& message)
{
    message.clear();
    if (request.columns == 0 || request.rows == 0 ||
        request.paths.size() != std::uint64_t{request.columns} * request.rows) {
        status = imaging_status::kInvalidParameter;
        message = "A mosaic of " + std::to_string(request.columns) + " x " + std::to_string(request.rows) +
                  " tiles takes " + std::to_string(std::uint64_t{request.columns} * request.rows) + " files, not " +
                  std::to_string(request.paths.size()) + ".";
        return nullptr;
    }
    try {
        auto rows = std::make_unique<TiledRows>();
        status = rows->open(request, message);
        if (status != imaging_status::kOk || rows->width() == 0)
            return nullptr;  // refused, or one file to be read whole
        return rows;
    } catch (const std::bad_alloc&) {
        status = imaging_status::kOutOfMemory;
        return nullptr;
    }
}
