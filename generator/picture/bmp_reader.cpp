// The BMP reader: Windows and OS/2 headers (12, 16, 40, 52, 56, 64, 108 and 124 bytes),
// palettes of 1, 4 and 8 bits, RLE8 and RLE4, 16 and 32 bits through their channel masks
// (the defaults 5-5-5 and 8-8-8 where the file gives none) and 24 bits; bottom-up and
// top-down rows. Colours come out as GDI+ gives them: a mask's field scaled to 8 bits by
// repeating its bits (5 bits abcde become abcdeabc), a field wider than 8 bits cut to its
// high 8, alpha ignored, indices past the palette black.
//
// Asked to keep the file's samples, it gives 8-bit RGB words, opaque, or RGBA where the file
// has an alpha mask (16 or 32 bits through masks, with a V3, V4 or V5 header or
// BI_ALPHABITFIELDS), its field scaled to 8 bits as the colours' are. A BMP is never grey:
// a palette of greys is still a palette, looked up into RGB.
//
// Hostile files are refused before their pixels cost anything: sides over a million pixels,
// uncompressed data shorter than its rows, and RLE data too short to set every pixel (one
// run of two bytes sets at most 255): a file of a few bytes cannot make the reader fill
// gigabytes of pixels that its runs skip.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "decoded_picture.h"
#include "image_object.h"

namespace {

enum Compression : std::uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3, kAlphaBitfields = 6 };

std::uint32_t littleEndian16(const unsigned char* bytes) { return bytes[0] | std::uint32_t{bytes[1]} << 8; }

std::uint32_t littleEndian32(const unsigned char* bytes)
{
    return littleEndian16(bytes) | littleEndian16(bytes + 2) << 16;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// One channel's mask: where its field lies and how a field's value becomes 8 bits.
class Channel {
public:
    // False for a mask whose bits are not one run.
    bool set(std::uint32_t mask)
    {
        mask_ = mask;
        shift_ = 0;
        bits_ = 0;
        if (mask == 0)
            return true;  // a channel that is always 0
        while ((mask >> shift_ & 1) == 0)
            ++shift_;
        const std::uint32_t field = mask >> shift_;
        if ((field & (field + 1)) != 0)
            return false;
        while (bits_ < 32 && (field >> bits_ & 1) != 0)
            ++bits_;
        if (bits_ > 8) {  // keep the high 8 bits
            shift_ += bits_ - 8;
            bits_ = 8;
        }
        // Values of up to 8 bits, repeated to fill 8 bits.
        for (std::uint32_t value = 0; value < (1u << bits_); ++value) {
            std::uint32_t repeated = 0;
            unsigned filled = 0;
            for (; filled < 8; filled += bits_)
                repeated = repeated << bits_ | value;
            expand_[value] = static_cast<std::uint8_t>(repeated >> (filled - 8));
        }
        return true;
    }
    std::uint32_t of(std::uint32_t pixel) const
    {
        return mask_ == 0 ? 0 : expand_[(pixel & mask_) >> shift_ & ((1u << bits_) - 1)];
    }

private:
    std::uint32_t mask_ = 0;
    unsigned shift_ = 0;
    unsigned bits_ = 0;
    std::array<std::uint8_t, 256> expand_{};
};

class BmpDecoder {
public:
    explicit BmpDecoder(std::FILE* file) : file_(file) {}

    int decode(DecodedPicture& picture)
    {
        unsigned char header[14 + 124] = {};
        if (!readExactly(header, 18) || header[0] != 'B' || header[1] != 'M')
            return imaging_status::kUnknownImageFormat;
        const std::uint32_t dataOffset = littleEndian32(header + 10);
        const std::uint32_t headerSize = littleEndian32(header + 14);
        std::int64_t width = 0;
        std::int64_t height = 0;
        std::uint32_t compression = kRgb;
        std::uint32_t coloursUsed = 0;
        std::size_t paletteEntryBytes = 4;
        const unsigned char* info = header + 14;
        switch (headerSize) {
        case 12:  // OS/2 1.x and Windows 2: 16-bit sides, palette entries of 3 bytes
            if (!readExactly(header + 18, 8))
                return imaging_status::kUnknownImageFormat;
            width = littleEndian16(info + 4);
            height = littleEndian16(info + 6);
            bitCount_ = littleEndian16(info + 10);
            paletteEntryBytes = 3;
            break;
        case 16: case 40: case 52: case 56: case 64: case 108: case 124:
            if (!readExactly(header + 18, headerSize - 4))
                return imaging_status::kUnknownImageFormat;
            width = static_cast<std::int32_t>(littleEndian32(info + 4));
            height = static_cast<std::int32_t>(littleEndian32(info + 8));
            bitCount_ = littleEndian16(info + 14);
            if (headerSize > 16) {
                compression = littleEndian32(info + 16);
                coloursUsed = littleEndian32(info + 32);
            }
            break;
        default:
            return imaging_status::kUnknownImageFormat;
        }
        // OS/2 2.x numbers its compressions otherwise: 3 and 4 are Huffman and RLE24 there.
        const bool os2 = headerSize == 16 || headerSize == 64;
        const bool hasMasks = compression == kBitfields || compression == kAlphaBitfields;
        const bool topDown = height < 0;
        height = topDown ? -height : height;
        if (width <= 0 || height == 0 || width > kMaxPictureSide || height > kMaxPictureSide)
            return imaging_status::kUnknownImageFormat;
        switch (bitCount_) {
        case 1: case 4: case 8: case 24:
            if (!(compression == kRgb || (compression == kRle8 && bitCount_ == 8) ||
                  (compression == kRle4 && bitCount_ == 4)))
                return imaging_status::kUnknownImageFormat;
            break;
        case 16: case 32:
            if (compression != kRgb && (!hasMasks || os2))
                return imaging_status::kUnknownImageFormat;
            break;
        default:
            return imaging_status::kUnknownImageFormat;
        }
        const bool runLength = compression == kRle8 || compression == kRle4;
        if (runLength && topDown)
            return imaging_status::kUnknownImageFormat;  // runs are bottom-up only
        std::size_t tableAt = 14 + headerSize;

        // The channel masks: after a 40-byte header, in a larger one, or the defaults.
        std::uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
        if (bitCount_ == 32) {
            masks[0] = 0xFF0000;
            masks[1] = 0xFF00;
            masks[2] = 0xFF;
        }
        if (hasMasks) {
            if (headerSize == 40) {
                const std::size_t maskBytes = compression == kAlphaBitfields ? 16 : 12;
                if (!readExactly(header + 54, maskBytes))
                    return imaging_status::kUnknownImageFormat;
                tableAt += maskBytes;
            } else if (headerSize < 52) {
                return imaging_status::kUnknownImageFormat;
            }
            for (int i = 0; i < 3; ++i)
                masks[i] = littleEndian32(header + 54 + 4 * i);
        }
        for (int i = 0; i < 3; ++i)
            if (!channels_[i].set(masks[i]))
                return imaging_status::kUnknownImageFormat;
        // The alpha mask follows the colours' in a header of 56 bytes or more, and after a
        // 40-byte header with BI_ALPHABITFIELDS; with BI_RGB it is ignored, as the colours'.
        const bool alphaMask = hasMasks && (headerSize >= 56 || compression == kAlphaBitfields);
        // (A mask whose bits are not one run is taken for none: alpha refuses no file.)
        const std::uint32_t alphaBits = alphaMask ? littleEndian32(header + 66) : 0;
        const bool alpha = alphaBits != 0 && alpha_.set(alphaBits);
        picture.fileLayout = {SampleType::U8, alpha ? 4u : 3u};
        if (picture.keepSamples) {
            picture.layout = picture.fileLayout;
            hasAlpha_ = alpha;
            opaque_ = 0xFF000000u;
            palette_.fill(opaque_);
        }

        // The palette, between the header and the pixels.
        if (bitCount_ <= 8) {
            // As many entries as the header says, or the bit depth indexes, but no more than
            // fit before the pixels (OS/2 files often hold fewer than the depth indexes).
            const std::uint32_t most = 1u << bitCount_;
            std::uint32_t entries = coloursUsed == 0 || coloursUsed > most ? most : coloursUsed;
            if (dataOffset >= tableAt)
                entries = std::min<std::uint32_t>(
                    entries, static_cast<std::uint32_t>((dataOffset - tableAt) / paletteEntryBytes));
            std::vector<unsigned char> table(entries * paletteEntryBytes);
            if (!readExactly(table.data(), table.size()))
                return imaging_status::kUnknownImageFormat;
            for (std::uint32_t i = 0; i < entries; ++i) {
                const unsigned char* entry = table.data() + i * paletteEntryBytes;
                palette_[i] = pictureWord(entry[2], entry[1], entry[0]) | opaque_;
            }
            tableAt += table.size();
        }
        if (dataOffset < tableAt || std::fseek(file_, 0, SEEK_END) != 0)
            return imaging_status::kUnknownImageFormat;
        const long fileSize = std::ftell(file_);
        if (fileSize < 0 || static_cast<std::uint64_t>(fileSize) < dataOffset ||
            std::fseek(file_, static_cast<long>(dataOffset), SEEK_SET) != 0)
            return imaging_status::kUnknownImageFormat;
        const std::uint64_t dataBytes = static_cast<std::uint64_t>(fileSize) - dataOffset;
        const auto columns = static_cast<std::uint64_t>(width);
        const auto rows = static_cast<std::uint64_t>(height);
        const std::uint64_t rowBytes = (columns * bitCount_ + 7) / 8;
        const std::uint64_t paddedRowBytes = (rowBytes + 3) / 4 * 4;
        // Every row there (the last one's padding may be missing); every pixel in reach of
        // the runs.
        if (runLength ? dataBytes * 128 < columns * rows : dataBytes < paddedRowBytes * (rows - 1) + rowBytes)
            return imaging_status::kUnknownImageFormat;

        const int status = allocatePicture(picture, columns, rows);
        if (status != imaging_status::kOk)
            return status;
        if (runLength)
            return readRuns(picture, compression == kRle4) ? imaging_status::kOk
                                                            : imaging_status::kUnknownImageFormat;
        std::vector<unsigned char> row(paddedRowBytes);
        for (std::uint64_t i = 0; i < rows; ++i) {
            const std::size_t wanted = i + 1 < rows ? paddedRowBytes : rowBytes;
            if (!readExactly(row.data(), wanted))
                return imaging_status::kUnknownImageFormat;
            const std::uint64_t y = topDown ? i : rows - 1 - i;
            convertRow(row.data(), picture.columns, picture.pixels.get() + y * picture.stride);
        }
        return imaging_status::kOk;
    }

private:
    bool readExactly(void* buffer, std::size_t bytes)
    {
        return std::fread(buffer, 1, bytes, file_) == bytes;
    }

    void convertRow(const unsigned char* row, std::uint32_t columns, std::uint32_t* out) const
    {
        switch (bitCount_) {
        case 1:
        case 4:
        case 8: {
            const unsigned perByte = 8 / bitCount_;
            const unsigned mask = (1u << bitCount_) - 1;
            for (std::uint32_t x = 0; x < columns; ++x) {
                const unsigned shift = 8 - bitCount_ * (x % perByte + 1);
                out[x] = palette_[row[x / perByte] >> shift & mask];
            }
            break;
        }
        case 16:
            for (std::uint32_t x = 0; x < columns; ++x)
                out[x] = masked(littleEndian16(row + 2 * x));
            break;
        case 24:
            for (std::uint32_t x = 0; x < columns; ++x)
                out[x] = pictureWord(row[3 * x + 2], row[3 * x + 1], row[3 * x]) | opaque_;
            break;
        default:
            for (std::uint32_t x = 0; x < columns; ++x)
                out[x] = masked(littleEndian32(row + 4 * x));
            break;
        }
    }

    std::uint32_t masked(std::uint32_t pixel) const
    {
        return pictureWord(channels_[0].of(pixel), channels_[1].of(pixel), channels_[2].of(pixel)) |
               (hasAlpha_ ? alpha_.of(pixel) << 24 : opaque_);
    }

    // RLE8 and RLE4, from the bottom row up. Pixels the runs skip (by the ends of lines and
    // of the picture, and by moves) are black. Data that ends before the last row is
    // refused; runs past a row's end are cut there.
    bool readRuns(DecodedPicture& picture, bool fourBits)
    {
        std::fill_n(picture.pixels.get(), picture.stride * picture.rows, opaque_);
        const std::uint64_t columns = picture.columns;
        const std::uint64_t rows = picture.rows;
        std::uint64_t x = 0;
        std::uint64_t y = 0;
        const auto put = [&](unsigned index) {
            if (x < columns)
                picture.pixels[(rows - 1 - y) * picture.stride + x] = palette_[index];
            ++x;
        };
        unsigned char pair[2];
        unsigned char literal[256];
        while (y < rows) {
            if (!readExactly(pair, 2))
                return false;
            if (pair[0] > 0) {  // a run of one index (RLE4: two, in turn)
                for (unsigned i = 0; i < pair[0]; ++i)
                    put(fourBits ? (i % 2 == 0 ? pair[1] >> 4 : pair[1] & 15u) : pair[1]);
            } else if (pair[1] == 0) {  // end of line
                x = 0;
                ++y;
            } else if (pair[1] == 1) {  // end of the picture
                return true;
            } else if (pair[1] == 2) {  // a move right and up
                unsigned char move[2];
                if (!readExactly(move, 2))
                    return false;
                x += move[0];
                y += move[1];
            } else {  // pair[1] indices as they are, padded to a whole 16-bit word
                const unsigned count = pair[1];
                const unsigned bytes = fourBits ? (count + 1) / 2 : count;
                if (!readExactly(literal, (bytes + 1) / 2 * 2))
                    return false;
                for (unsigned i = 0; i < count; ++i)
                    put(fourBits ? (i % 2 == 0 ? literal[i / 2] >> 4 : literal[i / 2] & 15u) : literal[i]);
            }
        }
        return true;
    }

    std::FILE* file_;
    unsigned bitCount_ = 0;
    Channel channels_[3];
    Channel alpha_;
    bool hasAlpha_ = false;        // the file's alpha kept, in each word's top byte
    std::uint32_t opaque_ = 0;     // the top byte of an opaque word: 0xFF when keeping samples
    std::array<std::uint32_t, 256> palette_{};  // indices past the palette read black
};

}  // namespace

int readBmpDirect(const char* path, DecodedPicture& picture)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file)
        return kNotMine;
    unsigned char signature[2];
    if (std::fread(signature, 1, sizeof signature, file.get()) != sizeof signature || signature[0] != 'B' ||
        signature[1] != 'M')
        return kNotMine;
    std::rewind(file.get());
    auto decoder = std::make_unique<BmpDecoder>(file.get());
    return finishDirectRead(decoder->decode(picture), picture);
}
