// The direct PNG reader, for PNG files of 8 bits per channel that are not interlaced: the
// chunks are read here, the image data inflated by ISA-L (two to three times as fast as
// zlib, and inflating is most of the work of reading a PNG) and unfiltered row by row
// straight into the picture's words. It gives exactly what libpng, behind OpenImageIO,
// gives for these files: the same checks of the critical chunks' CRCs, alpha and
// transparency ignored, a missing IEND forgiven once every row is there. Every other PNG
// is left to OpenImageIO.
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "decoded_picture.h"
#include "image_object.h"

namespace {

constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kInputBytes = std::size_t{1} << 18;
constexpr std::size_t kBandBytes = std::size_t{1} << 18;
constexpr std::uint32_t kMaxSide = 1000000;

enum ColourType { kGrey = 0, kRgb = 2, kPalette = 3, kGreyAlpha = 4, kRgba = 6 };

std::uint32_t bigEndian32(const unsigned char* bytes)
{
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

bool chunkIs(const unsigned char* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::uint8_t paeth(int a, int b, int c)
{
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc)
        return static_cast<std::uint8_t>(a);
    return static_cast<std::uint8_t>(pb <= pc ? b : c);
}

// Undoes the row's filter in place. `previous` is the unfiltered row above (zeros for the
// first row). Returns false for an unknown filter type.
template <std::size_t kPixelBytes>
bool unfilter(std::uint8_t filter, std::uint8_t* row, const std::uint8_t* previous, std::size_t bytes)
{
    switch (filter) {
    case 0:
        return true;
    case 1:
        for (std::size_t i = kPixelBytes; i < bytes; ++i)
            row[i] = static_cast<std::uint8_t>(row[i] + row[i - kPixelBytes]);
        return true;
    case 2:
        for (std::size_t i = 0; i < bytes; ++i)
            row[i] = static_cast<std::uint8_t>(row[i] + previous[i]);
        return true;
    case 3:
        for (std::size_t i = 0; i < kPixelBytes; ++i)
            row[i] = static_cast<std::uint8_t>(row[i] + (previous[i] >> 1));
        for (std::size_t i = kPixelBytes; i < bytes; ++i)
            row[i] = static_cast<std::uint8_t>(row[i] + ((row[i - kPixelBytes] + previous[i]) >> 1));
        return true;
    case 4:
        for (std::size_t i = 0; i < kPixelBytes; ++i)
            row[i] = static_cast<std::uint8_t>(row[i] + previous[i]);  // a = c = 0: Paeth gives b
        for (std::size_t i = kPixelBytes; i < bytes; ++i)
            row[i] = static_cast<std::uint8_t>(
                row[i] + paeth(row[i - kPixelBytes], previous[i], previous[i - kPixelBytes]));
        return true;
    default:
        return false;
    }
}

bool unfilterRow(std::size_t pixelBytes, std::uint8_t filter, std::uint8_t* row,
                 const std::uint8_t* previous, std::size_t bytes)
{
    switch (pixelBytes) {
    case 1:
        return unfilter<1>(filter, row, previous, bytes);
    case 2:
        return unfilter<2>(filter, row, previous, bytes);
    case 3:
        return unfilter<3>(filter, row, previous, bytes);
    default:
        return unfilter<4>(filter, row, previous, bytes);
    }
}

// One unfiltered row to picture words.
void convertRow(int colour, const std::uint8_t* row, std::uint32_t columns,
                const std::array<std::uint32_t, 256>& palette, std::uint32_t* out)
{
    switch (colour) {
    case kGrey:
        for (std::uint32_t x = 0; x < columns; ++x)
            out[x] = row[x] * 0x010101u;
        break;
    case kGreyAlpha:
        for (std::uint32_t x = 0; x < columns; ++x)
            out[x] = row[2 * x] * 0x010101u;
        break;
    case kPalette:
        for (std::uint32_t x = 0; x < columns; ++x)
            out[x] = palette[row[x]];
        break;
    case kRgb:
        for (std::uint32_t x = 0; x < columns; ++x)
            out[x] = pictureWord(row[3 * x], row[3 * x + 1], row[3 * x + 2]);
        break;
    default:  // RGBA
        for (std::uint32_t x = 0; x < columns; ++x)
            out[x] = pictureWord(row[4 * x], row[4 * x + 1], row[4 * x + 2]);
        break;
    }
}

class PngDecoder {
public:
    explicit PngDecoder(std::FILE* file) : file_(file) {}

    int decode(DecodedPicture& picture)
    {
        unsigned char header[8];
        if (!readChunkHeader(header) || !chunkIs(header + 4, "IHDR") || bigEndian32(header) != 13)
            return imaging_status::kUnknownImageFormat;
        unsigned char ihdr[13];
        if (!readChunkData(header + 4, ihdr, sizeof ihdr))
            return imaging_status::kUnknownImageFormat;
        const std::uint32_t columns = bigEndian32(ihdr);
        const std::uint32_t rows = bigEndian32(ihdr + 4);
        const int depth = ihdr[8];
        colour_ = ihdr[9];
        // libpng's limits, which OpenImageIO keeps: they also bound the rows of scratch
        // below, which a header of a few bytes could otherwise make gigabytes long.
        if (columns == 0 || rows == 0 || columns > kMaxSide || rows > kMaxSide || ihdr[10] != 0 ||
            ihdr[11] != 0 || ihdr[12] > 1)
            return imaging_status::kUnknownImageFormat;
        if (depth != 8 || ihdr[12] != 0)
            return kNotMine;
        switch (colour_) {
        case kGrey:
        case kPalette:
            pixelBytes_ = 1;
            break;
        case kGreyAlpha:
            pixelBytes_ = 2;
            break;
        case kRgb:
            pixelBytes_ = 3;
            break;
        case kRgba:
            pixelBytes_ = 4;
            break;
        default:
            return imaging_status::kUnknownImageFormat;
        }
        const int status = allocatePicture(picture, columns, rows);
        if (status != imaging_status::kOk)
            return status;
        return readChunks(picture);
    }

private:
    bool readExactly(void* buffer, std::size_t bytes)
    {
        return std::fread(buffer, 1, bytes, file_) == bytes;
    }

    bool readChunkHeader(unsigned char (&header)[8])
    {
        if (!readExactly(header, sizeof header))
            return false;
        return bigEndian32(header) <= INT32_MAX;
    }

    // Reads a chunk's data and checks its CRC.
    bool readChunkData(const unsigned char* type, unsigned char* data, std::size_t bytes)
    {
        unsigned char crc[4];
        if (!readExactly(data, bytes) || !readExactly(crc, sizeof crc))
            return false;
        const std::uint32_t computed = crc32_gzip_refl(crc32_gzip_refl(0, type, 4), data, bytes);
        return computed == bigEndian32(crc);
    }

    int readChunks(DecodedPicture& picture)
    {
        const std::size_t rowBytes = static_cast<std::size_t>(picture.columns) * pixelBytes_;
        const std::size_t filteredBytes = rowBytes + 1;
        bandRows_ = std::min<std::size_t>(std::max<std::size_t>(1, kBandBytes / filteredBytes), picture.rows);
        band_.resize(bandRows_ * filteredBytes);
        previous_.assign(rowBytes, 0);
        input_.resize(kInputBytes);
        isal_inflate_init(&inflater_);
        inflater_.crc_flag = ISAL_ZLIB;
        startBand();

        bool seenPalette = false;
        for (;;) {
            unsigned char header[8];
            if (!readChunkHeader(header))
                return imaging_status::kUnknownImageFormat;  // cut short before the last row
            const std::uint32_t length = bigEndian32(header);
            const unsigned char* type = header + 4;
            if (chunkIs(type, "IDAT")) {
                if (colour_ == kPalette && !seenPalette)
                    return imaging_status::kUnknownImageFormat;
                const int status = readImageData(type, length, picture);
                if (status != imaging_status::kOk || rowsDone_ == picture.rows)
                    return status;
            } else if (chunkIs(type, "PLTE")) {
                if (length % 3 != 0 || length > 768 || seenPalette)
                    return imaging_status::kUnknownImageFormat;
                unsigned char entries[768];
                if (!readChunkData(type, entries, length))
                    return imaging_status::kUnknownImageFormat;
                for (std::uint32_t i = 0; i < length / 3; ++i)
                    palette_[i] = pictureWord(entries[3 * i], entries[3 * i + 1], entries[3 * i + 2]);
                seenPalette = true;
            } else if (chunkIs(type, "IEND") || (type[0] & 0x20) == 0) {
                // The end before the last row, or a critical chunk nobody knows.
                return imaging_status::kUnknownImageFormat;
            } else if (std::fseek(file_, static_cast<long>(length) + 4, SEEK_CUR) != 0) {
                return imaging_status::kUnknownImageFormat;  // an ancillary chunk, skipped
            }
        }
    }

    // Inflates one IDAT chunk, unfiltering and storing every row it completes.
    int readImageData(const unsigned char* type, std::uint32_t length, DecodedPicture& picture)
    {
        std::uint32_t crc = crc32_gzip_refl(0, type, 4);
        std::uint32_t remaining = length;
        while (remaining > 0) {
            const std::size_t piece = std::min<std::size_t>(remaining, input_.size());
            if (!readExactly(input_.data(), piece))
                return imaging_status::kUnknownImageFormat;
            crc = crc32_gzip_refl(crc, input_.data(), piece);
            remaining -= static_cast<std::uint32_t>(piece);
            if (rowsDone_ == picture.rows)
                continue;  // data past the last row is read for the CRC only
            inflater_.next_in = input_.data();
            inflater_.avail_in = static_cast<std::uint32_t>(piece);
            while (inflater_.avail_in > 0 && rowsDone_ < picture.rows) {
                if (isal_inflate(&inflater_) != ISAL_DECOMP_OK)
                    return imaging_status::kUnknownImageFormat;
                if (inflater_.avail_out == 0) {
                    if (!finishBand(picture))
                        return imaging_status::kUnknownImageFormat;
                } else if (inflater_.block_state == ISAL_BLOCK_FINISH) {
                    return imaging_status::kUnknownImageFormat;  // the stream ended early
                }
            }
        }
        unsigned char stored[4];
        if (!readExactly(stored, sizeof stored) || bigEndian32(stored) != crc)
            return imaging_status::kUnknownImageFormat;
        return imaging_status::kOk;
    }

    void startBand()
    {
        inflater_.next_out = band_.data();
        inflater_.avail_out = static_cast<std::uint32_t>(band_.size());
    }

    // Unfilters and stores the rows of a full band; the last band of a picture may hold
    // fewer rows, and the band is then sized to them.
    bool finishBand(DecodedPicture& picture)
    {
        const std::size_t rowBytes = previous_.size();
        const std::size_t filteredBytes = rowBytes + 1;
        const std::size_t rowsInBand = band_.size() / filteredBytes;
        const std::uint8_t* above = previous_.data();
        for (std::size_t i = 0; i < rowsInBand; ++i) {
            std::uint8_t* row = band_.data() + i * filteredBytes;
            if (!unfilterRow(pixelBytes_, row[0], row + 1, above, rowBytes))
                return false;
            convertRow(colour_, row + 1, picture.columns, palette_,
                       picture.pixels.get() + rowsDone_ * picture.stride);
            above = row + 1;
            ++rowsDone_;
        }
        std::memcpy(previous_.data(), above, rowBytes);
        const std::size_t left = picture.rows - rowsDone_;
        if (left > 0 && left < bandRows_)
            band_.resize(left * filteredBytes);
        if (left > 0)
            startBand();
        return true;
    }

    std::FILE* file_;
    int colour_ = 0;
    std::size_t pixelBytes_ = 0;
    std::array<std::uint32_t, 256> palette_{};  // indices past the palette read black
    std::vector<std::uint8_t> input_;
    std::vector<std::uint8_t> band_;
    std::vector<std::uint8_t> previous_;
    std::size_t bandRows_ = 0;
    std::size_t rowsDone_ = 0;
    inflate_state inflater_{};
};

}  // namespace

int readPngDirect(const char* path, DecodedPicture& picture)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file)
        return kNotMine;  // let the general reader say what is wrong
    unsigned char signature[8];
    if (std::fread(signature, 1, sizeof signature, file.get()) != sizeof signature ||
        std::memcmp(signature, kSignature, sizeof signature) != 0)
        return kNotMine;
    auto decoder = std::make_unique<PngDecoder>(file.get());
    const int status = decoder->decode(picture);
    if (status != imaging_status::kOk)
        picture.pixels.reset();
    else
        image_backend::fillWrapWords(picture.pixels.get(), picture.columns, picture.rows, picture.stride);
    return status;
}
