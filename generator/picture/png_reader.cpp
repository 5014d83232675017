// The PNG reader, for every PNG: all colour types and bit depths, palettes, Adam7
// interlacing. The chunks are read here, the image data inflated (inflater.h: ISA-L on
// Linux, two to three times as fast as zlib, and inflating is most of the work of reading a
// PNG; zlib on Windows) and unfiltered row by row straight into the picture's words. It
// checks what libpng checks and refuses what libpng refuses: a bad CRC in a critical
// chunk, a chunk name that is not four letters, an unknown critical chunk, image data
// interrupted by another chunk or ending early, a palette picture without a palette, sides
// over a million pixels. Ancillary chunks are skipped unread, so a chunk that declares two
// gigabytes costs a seek. The pixels come
// out as libpng expands them: grey repeated in the three channels, samples of fewer than 8
// bits scaled to 8 (v × 255 / (2^depth − 1)), palette indices looked up (indices past the
// palette read black), 16-bit samples cut to their high byte (as GDI+ does), alpha and
// transparency ignored. Asked to keep the file's samples, it keeps their channels and their
// 8 or 16 bits, alpha straight, and a palette's transparency (tRNS) as alpha; grey samples
// of fewer than 8 bits are scaled to 8 as above. (The transparent colour that tRNS may name
// in a grey or RGB picture is not read.)
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "decoded_picture.h"
#include "image_object.h"
#include "inflater.h"
#include "picture_file.h"
#include "picture_rows.h"

namespace {

constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kInputBytes = std::size_t{1} << 18;
constexpr std::size_t kBandBytes = std::size_t{1} << 18;

enum ColourType { kGrey = 0, kRgb = 2, kPalette = 3, kGreyAlpha = 4, kRgba = 6 };

// Palette entries as picture words; keeping the file's samples, alpha in the top byte (0xFF
// where tRNS says nothing).
using Palette = std::array<std::uint32_t, 256>;
// Turns one unfiltered row of `columns` pixels into the picture's pixels at `out`.
using ConvertRow = void (*)(const std::uint8_t* row, std::uint32_t columns, const Palette& palette,
                            unsigned char* out);

std::uint32_t bigEndian32(const unsigned char* bytes)
{
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

bool chunkIs(const unsigned char* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

bool isLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

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
// first row of a pass); kPixelBytes is the distance to the byte on the left, a whole pixel
// (one byte for pixels of less than a byte). Returns false for an unknown filter type.
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
        for (std::size_t i = 0; i < kPixelBytes && i < bytes; ++i)
            row[i] = static_cast<std::uint8_t>(row[i] + (previous[i] >> 1));
        for (std::size_t i = kPixelBytes; i < bytes; ++i)
            row[i] = static_cast<std::uint8_t>(row[i] + ((row[i - kPixelBytes] + previous[i]) >> 1));
        return true;
    case 4:
        for (std::size_t i = 0; i < kPixelBytes && i < bytes; ++i)
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
    case 4:
        return unfilter<4>(filter, row, previous, bytes);
    case 6:
        return unfilter<6>(filter, row, previous, bytes);
    default:
        return unfilter<8>(filter, row, previous, bytes);
    }
}

// Pixels of whole bytes: the first byte of each sample is its high byte, which is all that
// is kept of a 16-bit sample; alpha is never read.
template <std::size_t kPixelBytes, std::size_t kSampleBytes, bool kColour>
void convertBytes(const std::uint8_t* row, std::uint32_t columns, const Palette&, unsigned char* out)
{
    auto* words = reinterpret_cast<std::uint32_t*>(out);
    for (std::uint32_t x = 0; x < columns; ++x) {
        const std::uint8_t* pixel = row + kPixelBytes * x;
        words[x] = kColour ? pictureWord(pixel[0], pixel[kSampleBytes], pixel[2 * kSampleBytes])
                           : pixel[0] * 0x010101u;
    }
}

void convertPalette8(const std::uint8_t* row, std::uint32_t columns, const Palette& palette, unsigned char* out)
{
    auto* words = reinterpret_cast<std::uint32_t*>(out);
    for (std::uint32_t x = 0; x < columns; ++x)
        words[x] = palette[row[x]];
}

// The file's own samples: 8-bit RGB and RGBA as picture words, alpha in the top byte; the
// others as they come, 16-bit ones from the file's big-endian order to the machine's.
template <unsigned kChannels, unsigned kSampleBytes>
void keepSamples(const std::uint8_t* row, std::uint32_t columns, const Palette&, unsigned char* out)
{
    if constexpr (kSampleBytes == 1 && kChannels >= 3) {
        auto* words = reinterpret_cast<std::uint32_t*>(out);
        for (std::uint32_t x = 0; x < columns; ++x) {
            const std::uint8_t* pixel = row + kChannels * x;
            words[x] = pictureWord(pixel[0], pixel[1], pixel[2]) |
                       (kChannels == 4 ? std::uint32_t{pixel[3]} << 24 : 0xFF000000u);
        }
    } else if constexpr (kSampleBytes == 1) {
        std::memcpy(out, row, std::size_t{columns} * kChannels);
    } else {
        for (std::size_t i = 0; i < std::size_t{columns} * kChannels; ++i) {
            const auto sample = static_cast<std::uint16_t>(row[2 * i] << 8 | row[2 * i + 1]);
            std::memcpy(out + 2 * i, &sample, 2);
        }
    }
}

// Pixels of 1, 2 or 4 bits, packed from the high bits of each byte down: words, or with
// kGreyBytes grey samples of one byte.
template <unsigned kDepth, bool kIndexed, bool kGreyBytes = false>
void convertPacked(const std::uint8_t* row, std::uint32_t columns, const Palette& palette, unsigned char* out)
{
    constexpr unsigned kMask = (1u << kDepth) - 1;
    constexpr unsigned kPerByte = 8 / kDepth;
    auto* words = reinterpret_cast<std::uint32_t*>(out);
    for (std::uint32_t x = 0; x < columns; ++x) {
        const unsigned shift = 8 - kDepth * (x % kPerByte + 1);
        const unsigned value = row[x / kPerByte] >> shift & kMask;
        if constexpr (kGreyBytes)
            out[x] = static_cast<unsigned char>(value * (255 / kMask));
        else
            words[x] = kIndexed ? palette[value] : value * (255 / kMask) * 0x010101u;
    }
}

// The rows of one pass of the image data: the whole picture, or one of Adam7's seven.
struct Pass {
    std::uint32_t firstColumn, firstRow, columnStep, rowStep;
    std::uint32_t columns = 0, rows = 0;
    std::size_t rowBytes = 0;  // unfiltered, without the filter byte
};

constexpr Pass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                            {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

class PngDecoder {
public:
    explicit PngDecoder(std::FILE* file) : file_(file) {}

    // The whole picture, every row stored where it belongs in `picture`'s pixels.
    int decode(DecodedPicture& picture)
    {
        int status = readHeader(picture);
        if (status == imaging_status::kOk)
            status = allocatePicture(picture, columns_, rows_);
        if (status != imaging_status::kOk)
            return status;
        if (!startImageData())
            return imaging_status::kOutOfMemory;
        storeInto(reinterpret_cast<unsigned char*>(picture.pixels.get()), picture.stride * pixelBytes(picture.layout), 0,
                  rows_);
        return readChunks();
    }

    // The header, checked: sides, colour type, depth, interlacing; the picture's layouts,
    // which a palette's transparency may yet change (see prepareRows).
    int readHeader(DecodedPicture& picture)
    {
        unsigned char header[8];
        if (!readChunkHeader(header) || !chunkIs(header + 4, "IHDR") || bigEndian32(header) != 13)
            return imaging_status::kUnknownImageFormat;
        unsigned char ihdr[13];
        if (!readChunkData(header + 4, ihdr, sizeof ihdr))
            return imaging_status::kUnknownImageFormat;
        columns_ = bigEndian32(ihdr);
        rows_ = bigEndian32(ihdr + 4);
        depth_ = ihdr[8];
        colour_ = ihdr[9];
        keep_ = picture.keepSamples;
        picture_ = &picture;
        // libpng's limits: they also bound the rows of scratch below, which a header of a
        // few bytes could otherwise make gigabytes long.
        if (columns_ == 0 || rows_ == 0 || columns_ > kMaxPictureSide || rows_ > kMaxPictureSide ||
            ihdr[10] != 0 || ihdr[11] != 0 || ihdr[12] > 1 || !chooseLayout(picture))
            return imaging_status::kUnknownImageFormat;
        planPasses(columns_, rows_, ihdr[12] == 1);
        return imaging_status::kOk;
    }

    bool interlaced() const { return interlaced_; }
    std::uint32_t columns() const { return columns_; }
    std::uint32_t rows() const { return rows_; }

    // Bytes of the buffers below (startImageData): a piece of file data, the band of inflated
    // rows, the row above and the zeros, an interlaced pass's row; and the inflater's state
    // (ISA-L's takes 85 KiB, zlib's and its window under 48).
    std::uint64_t bufferBytes() const
    {
        static constexpr std::uint64_t kInflaterBytes = 96 << 10;
        const std::uint64_t widest = widestRow();
        return kInputBytes + bandRows(widest) * (widest + 1) + 2 * widest +
               (interlaced_ ? std::uint64_t{columns_} * pixelBytes(picture_->layout) : 0) + kInflaterBytes;
    }

    bool startImageData()
    {
        const std::size_t widest = widestRow();
        band_.resize(bandRows(widest) * (widest + 1));
        carried_.assign(widest, 0);
        zeros_.assign(widest, 0);
        above_ = zeros_.data();
        if (interlaced_)
            passPixels_.resize(std::size_t{columns_} * pixelBytes(picture_->layout));
        input_.resize(kInputBytes);
        if (!inflater_.ok())
            return false;
        inflater_.reset();
        makeRoom();
        return true;
    }

    // Where rows go: row y (from `first` on, below `limit`) at `out` + (y - first) × `rowBytes`,
    // as pixels of the picture's layout. An interlaced picture's rows go there pass by pass,
    // all of them (limit: the last row).
    void storeInto(unsigned char* out, std::size_t rowBytes, std::uint32_t first, std::uint32_t limit)
    {
        out_ = out;
        outRowBytes_ = rowBytes;
        outFirst_ = first;
        rowLimit_ = limit;
    }

    // Reads the chunks before the image data (the palette and its transparency, which settle
    // the layouts) and the first IDAT chunk's header, storing no row.
    int prepareRows()
    {
        storeInto(nullptr, 0, 0, 0);
        return readChunks();
    }

    // Reads on until the rows below the limit are stored, or the last (with the rest of its
    // chunk, for the CRC). kOk, or the failure, after which nothing more is read.
    int readChunks()
    {
        if (failed_ != imaging_status::kOk)
            return failed_;
        failed_ = readChunksOn();
        return failed_;
    }

private:
    // The bit depths each colour type allows, and how its rows are filtered and converted.
    bool chooseLayout(DecodedPicture& picture)
    {
        if (!chooseWords())
            return false;
        const SampleType type = depth_ == 16 ? SampleType::U16 : SampleType::U8;
        const unsigned channels = colour_ == kPalette ? 3 : bitsPerPixel_ / static_cast<unsigned>(depth_);
        picture.fileLayout = {type, channels};
        if (!keep_)
            return true;
        // A palette's entries are words already, with their alpha when tRNS gives one (the
        // layout then gains it, the same bytes a pixel).
        picture.layout = picture.fileLayout;
        palette_.fill(0xFF000000u);  // indices past the palette read opaque black, as libpng gives them
        switch (colour_) {
        case kGrey:
            convert_ = depth_ == 1   ? convertPacked<1, false, true>
                       : depth_ == 2 ? convertPacked<2, false, true>
                       : depth_ == 4 ? convertPacked<4, false, true>
                       : depth_ == 8 ? keepSamples<1, 1>
                                     : keepSamples<1, 2>;
            break;
        case kGreyAlpha:
            convert_ = depth_ == 8 ? keepSamples<2, 1> : keepSamples<2, 2>;
            break;
        case kRgb:
            convert_ = depth_ == 8 ? keepSamples<3, 1> : keepSamples<3, 2>;
            break;
        case kRgba:
            convert_ = depth_ == 8 ? keepSamples<4, 1> : keepSamples<4, 2>;
            break;
        default:
            break;
        }
        return true;
    }

    bool chooseWords()
    {
        unsigned channels = 0;
        switch (colour_) {
        case kGrey:
            channels = 1;
            convert_ = depth_ == 1   ? convertPacked<1, false>
                       : depth_ == 2 ? convertPacked<2, false>
                       : depth_ == 4 ? convertPacked<4, false>
                       : depth_ == 8 ? convertBytes<1, 1, false>
                                     : convertBytes<2, 2, false>;
            break;
        case kPalette:
            channels = 1;
            convert_ = depth_ == 1   ? convertPacked<1, true>
                       : depth_ == 2 ? convertPacked<2, true>
                       : depth_ == 4 ? convertPacked<4, true>
                                     : convertPalette8;
            if (depth_ == 16)
                return false;
            break;
        case kGreyAlpha:
            channels = 2;
            convert_ = depth_ == 8 ? convertBytes<2, 1, false> : convertBytes<4, 2, false>;
            break;
        case kRgb:
            channels = 3;
            convert_ = depth_ == 8 ? convertBytes<3, 1, true> : convertBytes<6, 2, true>;
            break;
        case kRgba:
            channels = 4;
            convert_ = depth_ == 8 ? convertBytes<4, 1, true> : convertBytes<8, 2, true>;
            break;
        default:
            return false;
        }
        const bool packed = depth_ == 1 || depth_ == 2 || depth_ == 4;
        if (!(depth_ == 8 || depth_ == 16 || (packed && channels == 1)))
            return false;
        bitsPerPixel_ = channels * static_cast<unsigned>(depth_);
        pixelBytes_ = std::max(1u, bitsPerPixel_ / 8);
        return true;
    }

    void planPasses(std::uint32_t columns, std::uint32_t rows, bool interlaced)
    {
        interlaced_ = interlaced;
        const std::size_t passCount = interlaced ? 7 : 1;
        for (std::size_t i = 0; i < passCount; ++i) {
            Pass pass = interlaced ? kAdam7[i] : Pass{0, 0, 1, 1};
            if (columns <= pass.firstColumn || rows <= pass.firstRow)
                continue;  // an empty pass has no rows, not even filter bytes
            pass.columns = (columns - pass.firstColumn + pass.columnStep - 1) / pass.columnStep;
            pass.rows = (rows - pass.firstRow + pass.rowStep - 1) / pass.rowStep;
            pass.rowBytes = (static_cast<std::size_t>(pass.columns) * bitsPerPixel_ + 7) / 8;
            imageDataBytes_ += static_cast<std::uint64_t>(pass.rowBytes + 1) * pass.rows;
            passes_.push_back(pass);
        }
    }

    bool readExactly(void* buffer, std::size_t bytes)
    {
        return std::fread(buffer, 1, bytes, file_) == bytes;
    }

    bool readChunkHeader(unsigned char (&header)[8])
    {
        if (!readExactly(header, sizeof header))
            return false;
        return bigEndian32(header) <= INT32_MAX && isLetter(header[4]) && isLetter(header[5]) &&
               isLetter(header[6]) && isLetter(header[7]);
    }

    // Reads a chunk's data and checks its CRC.
    bool readChunkData(const unsigned char* type, unsigned char* data, std::size_t bytes)
    {
        unsigned char crc[4];
        if (!readExactly(data, bytes) || !readExactly(crc, sizeof crc))
            return false;
        const std::uint32_t computed = crc32Update(crc32Update(0, type, 4), data, bytes);
        return computed == bigEndian32(crc);
    }

    // Reads a chunk's data, whatever its length, only to check its CRC.
    bool checkChunkCrc(const unsigned char* type, std::uint32_t length)
    {
        std::uint32_t crc = crc32Update(0, type, 4);
        for (std::uint32_t remaining = length; remaining > 0;) {
            const std::size_t piece = std::min<std::size_t>(remaining, input_.size());
            if (!readExactly(input_.data(), piece))
                return false;
            crc = crc32Update(crc, input_.data(), piece);
            remaining -= static_cast<std::uint32_t>(piece);
        }
        unsigned char stored[4];
        return readExactly(stored, sizeof stored) && bigEndian32(stored) == crc;
    }

    bool skipChunkData(std::uint32_t length)
    {
        return skipInPictureFile(file_, std::uint64_t{length} + 4);
    }

    std::size_t widestRow() const
    {
        std::size_t widest = 0;
        for (const Pass& pass : passes_)
            widest = std::max(widest, pass.rowBytes);
        return widest;
    }

    static std::size_t bandRows(std::size_t widest) { return std::max<std::size_t>(1, kBandBytes / (widest + 1)); }

    // Rows go to the picture, or to the caller of the rows, row by row: whether the rows
    // asked for are stored (and more remain to be read).
    bool rowsStored() const { return !done() && !interlaced_ && rowInPass_ >= rowLimit_; }

    // The chunks from where the last call stopped: inflating a piece of image data, reading
    // an IDAT chunk, or between chunks.
    int readChunksOn()
    {
        for (;;) {
            if (inflating_) {
                const Step step = inflate();
                if (step == Step::kError)
                    return imaging_status::kUnknownImageFormat;
                if (step == Step::kRowsStored)
                    return imaging_status::kOk;
                inflating_ = false;  // the piece is used up, or the last row stored
            }
            if (inImageDataChunk_) {
                if (chunkLeft_ > 0) {
                    const std::size_t piece = std::min<std::size_t>(chunkLeft_, input_.size());
                    if (!readExactly(input_.data(), piece))
                        return imaging_status::kUnknownImageFormat;
                    chunkCrc_ = crc32Update(chunkCrc_, input_.data(), piece);
                    chunkLeft_ -= static_cast<std::uint32_t>(piece);
                    if (!done()) {  // what follows the last row is read for the CRC only
                        inflater_.nextIn = input_.data();
                        inflater_.availIn = static_cast<std::uint32_t>(piece);
                        inflating_ = true;
                        ranOnPiece_ = false;
                    }
                    continue;
                }
                unsigned char stored[4];
                if (!readExactly(stored, sizeof stored) || bigEndian32(stored) != chunkCrc_)
                    return imaging_status::kUnknownImageFormat;
                inImageDataChunk_ = false;
                if (done())
                    return imaging_status::kOk;
                continue;
            }
            unsigned char header[8];
            if (!readChunkHeader(header))
                return imaging_status::kUnknownImageFormat;  // cut short before the last row
            const std::uint32_t length = bigEndian32(header);
            const unsigned char* type = header + 4;
            if (chunkIs(type, "IDAT")) {
                if (colour_ == kPalette && !seenPalette_)
                    return imaging_status::kUnknownImageFormat;
                inImageData_ = true;
                inImageDataChunk_ = true;
                chunkLeft_ = length;
                chunkCrc_ = crc32Update(0, type, 4);
                if (out_ == nullptr)
                    return imaging_status::kOk;  // prepared: the image data begins
            } else if (inImageData_) {
                return imaging_status::kUnknownImageFormat;  // image data interrupted or ended early
            } else if (chunkIs(type, "PLTE")) {
                if (seenPalette_)
                    return imaging_status::kUnknownImageFormat;
                seenPalette_ = true;
                // libpng ignores a palette in a grey picture, and one of a wrong length
                // where it is only a suggestion (in an RGB picture), but refuses an empty
                // one and, being a critical chunk, any with a wrong CRC.
                const bool wrongLength = length % 3 != 0 || length > 768;
                if (colour_ == kGrey || colour_ == kGreyAlpha || wrongLength) {
                    if ((colour_ == kPalette && wrongLength) || !checkChunkCrc(type, length))
                        return imaging_status::kUnknownImageFormat;
                    continue;
                }
                unsigned char entries[768];
                if (length == 0 || !readChunkData(type, entries, length))
                    return imaging_status::kUnknownImageFormat;
                // Entries past those the bit depth can index are dropped, as libpng does.
                if (colour_ == kPalette) {
                    const std::uint32_t count = std::min<std::uint32_t>(length / 3, 1u << depth_);
                    for (std::uint32_t i = 0; i < count; ++i)
                        palette_[i] = (keep_ ? 0xFF000000u : 0u) | pictureWord(entries[3 * i], entries[3 * i + 1], entries[3 * i + 2]);
                }
            } else if (colour_ == kPalette && seenPalette_ && chunkIs(type, "tRNS") && length <= 256) {
                // The palette's transparency: alpha for the entries it names (kept with the
                // file's samples; otherwise the file is only known to hold alpha). A tRNS whose
                // CRC is wrong is passed over, as libpng passes over a damaged ancillary chunk.
                unsigned char alphas[256];
                if (readChunkData(type, alphas, length)) {
                    picture_->fileLayout.channels = 4;
                    if (keep_) {
                        for (std::uint32_t i = 0; i < length; ++i)
                            palette_[i] = (palette_[i] & 0xFFFFFFu) | std::uint32_t{alphas[i]} << 24;
                        picture_->layout.channels = 4;
                    }
                }
            } else if (chunkIs(type, "IEND") || (type[0] & 0x20) == 0) {
                // The end before any image data, a second header or a critical chunk
                // nobody knows.
                return imaging_status::kUnknownImageFormat;
            } else if (!skipChunkData(length)) {
                return imaging_status::kUnknownImageFormat;  // an ancillary chunk, skipped unread
            }
        }
    }

    bool done() const { return pass_ == passes_.size(); }

    enum class Step { kMoreInput, kLastRow, kRowsStored, kError };

    // Inflates the piece of image data held, unfiltering and storing every row it completes,
    // until the piece is used up, the last row or the rows asked for are stored (the rest
    // stays in the band and the inflater for the next call), or the data is broken. Each
    // piece is inflated at least once, and the inflater asked again while the band is full
    // (it may hold bits still).
    Step inflate()
    {
        for (;;) {
            if (ranOnPiece_) {
                if (!storeRows())
                    return Step::kError;
                if (done())
                    return Step::kLastRow;
                if (rowsStored())
                    return Step::kRowsStored;
                if (inflater_.availOut == 0) {
                    if (produced_ == imageDataBytes_)
                        return Step::kError;
                    makeRoom();
                } else if (lastResult_ == Inflater::Result::kEnd) {
                    return Step::kError;  // the stream ended before the last row
                } else if (inflater_.availIn == 0) {
                    return Step::kMoreInput;  // the next piece, or the next IDAT chunk, goes on
                } else if (!progressed_) {
                    return Step::kError;
                }
            }
            const std::uint8_t* outBefore = inflater_.nextOut;
            const std::uint32_t inBefore = inflater_.availIn;
            lastResult_ = inflater_.run();
            if (lastResult_ == Inflater::Result::kError)
                return Step::kError;
            produced_ += static_cast<std::uint64_t>(inflater_.nextOut - outBefore);
            progressed_ = inflater_.nextOut != outBefore || inflater_.availIn != inBefore;
            ranOnPiece_ = true;
        }
    }

    // Unfilters and stores every whole row that the band holds beyond those done, up to the
    // rows asked for.
    bool storeRows()
    {
        const std::size_t filled = static_cast<std::size_t>(inflater_.nextOut - band_.data());
        while (!done() && !rowsStored()) {
            const Pass& pass = passes_[pass_];
            if (filled - consumed_ < pass.rowBytes + 1)
                return true;
            std::uint8_t* row = band_.data() + consumed_;
            if (!unfilterRow(pixelBytes_, row[0], row + 1, above_, pass.rowBytes))
                return false;
            const std::size_t y = pass.firstRow + static_cast<std::size_t>(rowInPass_) * pass.rowStep;
            unsigned char* out = out_ + (y - outFirst_) * outRowBytes_;
            if (!interlaced_) {
                convert_(row + 1, pass.columns, palette_, out);
            } else {
                convert_(row + 1, pass.columns, palette_, passPixels_.data());
                const std::size_t bytes = pixelBytes(picture_->layout);
                for (std::uint32_t i = 0; i < pass.columns; ++i)
                    std::memcpy(out + (pass.firstColumn + static_cast<std::size_t>(i) * pass.columnStep) * bytes,
                                passPixels_.data() + i * bytes, bytes);
            }
            above_ = row + 1;
            consumed_ += pass.rowBytes + 1;
            if (++rowInPass_ == pass.rows) {
                ++pass_;
                rowInPass_ = 0;
                above_ = zeros_.data();  // each pass starts afresh
            }
        }
        return true;
    }

    // Frees the band for more output: the row above the next one, which the filters need,
    // is carried out of the band, and the part of a row not yet complete moves to its start.
    void makeRoom()
    {
        if (above_ != zeros_.data() && above_ != carried_.data()) {
            std::memcpy(carried_.data(), above_, passes_[pass_].rowBytes);
            above_ = carried_.data();
        }
        const std::size_t filled =
            inflater_.nextOut != nullptr ? static_cast<std::size_t>(inflater_.nextOut - band_.data()) : 0;
        const std::size_t partial = filled - consumed_;
        std::memmove(band_.data(), band_.data() + consumed_, partial);
        consumed_ = 0;
        inflater_.nextOut = band_.data() + partial;
        // Never more than the image data holds: the inflater stops at the last row, as
        // libpng's does, whatever follows it in the stream.
        inflater_.availOut = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(band_.size() - partial, imageDataBytes_ - produced_));
    }

    std::FILE* file_;
    DecodedPicture* picture_ = nullptr;  // its layouts; its pixels are the rows' only when whole
    std::uint32_t columns_ = 0, rows_ = 0;
    int colour_ = 0;
    int depth_ = 0;
    unsigned bitsPerPixel_ = 0;
    std::size_t pixelBytes_ = 0;
    ConvertRow convert_ = nullptr;
    Palette palette_{};  // indices past the palette read black
    bool interlaced_ = false;
    std::vector<Pass> passes_;  // those with rows
    std::uint64_t imageDataBytes_ = 0;  // of every pass, with the filter bytes
    std::uint64_t produced_ = 0;        // of those, inflated so far
    std::size_t pass_ = 0;
    std::uint32_t rowInPass_ = 0;
    std::vector<std::uint8_t> input_;
    std::vector<std::uint8_t> band_;     // inflated rows, each with its filter byte
    std::size_t consumed_ = 0;           // bytes of the band already stored
    std::vector<std::uint8_t> carried_;  // the row above, when it had to leave the band
    std::vector<std::uint8_t> zeros_;    // the row above the first of a pass
    const std::uint8_t* above_ = nullptr;
    std::vector<unsigned char> passPixels_;  // one row of an interlaced pass, converted
    bool keep_ = false;                      // the file's own samples, not words
    Inflater inflater_;
    // Where the reading stands between calls.
    bool seenPalette_ = false;
    bool inImageData_ = false;       // the first IDAT chunk has begun
    bool inImageDataChunk_ = false;  // inside an IDAT chunk's data
    std::uint32_t chunkLeft_ = 0;    // of its data, still to be read
    std::uint32_t chunkCrc_ = 0;     // of its type and data so far
    bool inflating_ = false;         // a piece of it is held
    bool ranOnPiece_ = false;        // and the inflater has run on it
    Inflater::Result lastResult_ = Inflater::Result::kMore;
    bool progressed_ = false;        // that run read or wrote something
    int failed_ = imaging_status::kOk;
    // Where the rows go (storeInto).
    unsigned char* out_ = nullptr;
    std::size_t outRowBytes_ = 0;
    std::size_t outFirst_ = 0;
    std::uint32_t rowLimit_ = 0;
};

}  // namespace

int readPngDirect(const char* path, DecodedPicture& picture)
{
    const PictureFile file = openPictureFile(path);
    if (!file)
        return kNotMine;  // let the general reader say what is wrong
    unsigned char signature[8];
    if (std::fread(signature, 1, sizeof signature, file.get()) != sizeof signature ||
        std::memcmp(signature, kSignature, sizeof signature) != 0)
        return kNotMine;
    auto decoder = std::make_unique<PngDecoder>(file.get());
    return finishDirectRead(decoder->decode(picture), picture);
}

namespace {

// A PNG's rows for a map read in bands: the decoder above, stopped when the rows asked for
// are stored and taken on from there. An interlaced PNG is read whole: its first row is done
// only with its sixth pass, when half its pixels are read.
class PngRows final : public PictureRows {
public:
    int open(const char* path, const DecodedPicture& settings)
    {
        file_ = openPictureFile(path);
        unsigned char signature[8];
        if (!file_ || std::fread(signature, 1, sizeof signature, file_.get()) != sizeof signature ||
            std::memcmp(signature, kSignature, sizeof signature) != 0)
            return kNotMine;
        picture_.keepSamples = settings.keepSamples;
        picture_.memoryLimit = settings.memoryLimit;
        decoder_ = std::make_unique<PngDecoder>(file_.get());
        const int status = decoder_->readHeader(picture_);
        if (status != imaging_status::kOk)
            return status;
        if (decoder_->interlaced())
            return kReadWhole;
        readerBytes = decoder_->bufferBytes();
        if (!pictureFits(picture_, 0, 0, readerBytes))
            return imaging_status::kValueOverflow;
        if (!decoder_->startImageData())
            return imaging_status::kOutOfMemory;
        const int prepared = decoder_->prepareRows();
        columns = decoder_->columns();
        rows = decoder_->rows();
        layout = picture_.layout;
        fileLayout = picture_.fileLayout;
        return prepared;
    }

    int readRows(std::uint32_t count, unsigned char* into, std::size_t stride) override
    {
        decoder_->storeInto(into, stride, next_, next_ + count);
        const int status = decoder_->readChunks();
        next_ += count;
        return status;
    }

private:
    PictureFile file_;
    DecodedPicture picture_;  // the settings and the layouts, never pixels
    std::unique_ptr<PngDecoder> decoder_;
    std::uint32_t next_ = 0;
};

}  // namespace

int openPngRows(const char* path, const DecodedPicture& settings, std::unique_ptr<PictureRows>& rows)
{
    auto png = std::make_unique<PngRows>();
    const int status = png->open(path, settings);
    if (status == imaging_status::kOk)
        rows = std::move(png);
    return status;
}
