// The TIFF reader for a map's own samples (keepSamples), on every platform. GDI+ reads
// 16-bit and float TIFF as 8 bits (Wine's reads float TIFF not at all), so the Windows build
// needs a reader of its own, and no TIFF library is packaged for MinGW-w64: the format is
// read here, portable C++17 over the inflater (inflater.h) alone. It gives the samples that
// libtiff gives under OpenImageIO, and the Linux build reads kept TIFF samples through it
// too, so that both builds read the same: it is faster (ISA-L's inflate beneath) and spares
// loading OpenImageIO.
//
// What it reads: the first page of a baseline TIFF or a BigTIFF, either byte order, in
// strips or tiles, chunky or planar; uncompressed, LZW, deflate or PackBits; the horizontal
// predictor (2), and the floating-point one (3) for floats; grey or RGB with any extra
// samples, palettes (looked up into 8-bit RGB, each entry divided by 257) and grey of 1, 2
// or 4 bits (scaled to 8 as libpng scales them). It keeps what the Linux build keeps: grey
// (fewer than three channels) or the first three channels as RGB, and alpha (as stored)
// where OpenImageIO finds it (chooseChannels); samples of 8 and 16 bits (signed 16-bit
// too) and 32-bit floats as they are, 16- and 64-bit floats and other integers as floats of
// their values. What it leaves to the platform's decoder (kNotMine): other compressions
// (JPEG, CCITT...), colour spaces (CMYK, YCbCr, Lab...), MinIsWhite, the reversed bit
// order, bit depths of 10, 12 or 24.
//
// It decodes as libtiff does, and refuses what libtiff refuses: a strip or tile whose data
// ends before its rows (a strip is decoded a row at a time, so PackBits runs end at the end
// of a row, as in libtiff's scanline reads), data past the file's end, a directory or array
// outside the file, different bit depths per channel. Sides over a million pixels, and a tile
// of more pixels than its picture and over 16 MiB, are refused before anything is allocated;
// the pixels, the offsets and every buffer are counted in the memory check first.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "decoded_picture.h"
#include "half_float.h"
#include "image_object.h"
#include "inflater.h"
#include "picture_file.h"
#include "picture_rows.h"

namespace {

// a × b, or the largest value where the product would not fit.
std::uint64_t saturatingProduct(std::uint64_t a, std::uint64_t b)
{
    return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}

constexpr std::size_t kPieceBytes = std::size_t{1} << 18;  // file data read at a time
constexpr std::uint64_t kLargestOddTileBytes = std::uint64_t{16} << 20;
// More channels than any map holds; those past grey or RGB and alpha are dropped anyway.
constexpr std::uint64_t kMostChannels = 64;

enum Tag : std::uint16_t {
    kWidth = 256,
    kHeight = 257,
    kBitsPerSample = 258,
    kCompression = 259,
    kPhotometric = 262,
    kFillOrder = 266,
    kStripOffsets = 273,
    kSamplesPerPixel = 277,
    kRowsPerStrip = 278,
    kStripByteCounts = 279,
    kPlanarConfig = 284,
    kPredictor = 317,
    kColourMap = 320,
    kTileWidth = 322,
    kTileLength = 323,
    kTileOffsets = 324,
    kTileByteCounts = 325,
    kExtraSamples = 338,
    kSampleFormat = 339,
    kImageDepth = 32997,
};

enum Compression { kNone = 1, kLzw = 5, kDeflate = 8, kAdobeDeflate = 32946, kPackBits = 32773 };
enum Photometric { kMinIsBlack = 1, kRgb = 2, kPalette = 3 };

// A sample as the file stores it.
enum class Stored { Bits, U8, I8, U16, I16, U32, I32, F16, F32, F64 };

bool hostIsLittleEndian()
{
    const std::uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

// ---- The directory --------------------------------------------------------------------------

struct Entry {
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint64_t count = 0;
    unsigned char value[8] = {};  // the value itself where it fits, else its offset
};

class Directory {
public:
    Directory(const PictureFileRanges& file, bool little, bool big) : file_(file), little_(little), big_(big) {}

    std::uint64_t number(const unsigned char* bytes, unsigned size) const
    {
        std::uint64_t value = 0;
        for (unsigned i = 0; i < size; ++i)
            value |= std::uint64_t{bytes[little_ ? i : size - 1 - i]} << (8 * i);
        return value;
    }

    // Reads the directory at `offset`. False where it does not lie in the file or makes no
    // sense.
    bool read(std::uint64_t offset)
    {
        const unsigned countBytes = big_ ? 8 : 2, entryBytes = big_ ? 20 : 12;
        unsigned char head[8];
        if (!file_.read(offset, head, countBytes))
            return false;
        const std::uint64_t count = number(head, countBytes);
        // libtiff's limit on a BigTIFF's directory; a classic one holds 65535 at most.
        if (count == 0 || (big_ && count > 4096))
            return false;
        std::vector<unsigned char> bytes(static_cast<std::size_t>(count) * entryBytes);
        if (!file_.read(offset + countBytes, bytes.data(), bytes.size()))
            return false;
        for (std::size_t i = 0; i < count; ++i) {
            const unsigned char* at = bytes.data() + i * entryBytes;
            Entry entry;
            entry.tag = static_cast<std::uint16_t>(number(at, 2));
            entry.type = static_cast<std::uint16_t>(number(at + 2, 2));
            entry.count = number(at + 4, big_ ? 8 : 4);
            std::memcpy(entry.value, at + (big_ ? 12 : 8), big_ ? 8 : 4);
            entries_.push_back(entry);
        }
        return true;
    }

    const Entry* find(std::uint16_t tag) const
    {
        for (const Entry& entry : entries_)
            if (entry.tag == tag)
                return &entry;
        return nullptr;
    }

    // The first `wanted` values of an integer field (BYTE, SHORT, LONG, LONG8 or an offset),
    // or false where it is of another type, holds fewer, or lies outside the file.
    bool values(const Entry& entry, std::uint64_t wanted, std::vector<std::uint64_t>& out) const
    {
        unsigned size;
        switch (entry.type) {
        case 1:  // BYTE
            size = 1;
            break;
        case 3:  // SHORT
            size = 2;
            break;
        case 4:   // LONG
        case 13:  // IFD
            size = 4;
            break;
        case 16:  // LONG8
        case 18:  // IFD8
            size = 8;
            break;
        default:
            return false;
        }
        if (entry.count < wanted || wanted > file_.bytes() / size + 1)
            return false;
        std::vector<unsigned char> bytes;
        const unsigned char* from = entry.value;
        if (entry.count > (big_ ? 8u : 4u) / size) {  // not held in the entry itself
            bytes.resize(static_cast<std::size_t>(wanted * size));
            if (!file_.read(number(entry.value, big_ ? 8 : 4), bytes.data(), bytes.size()))
                return false;
            from = bytes.data();
        }
        out.resize(static_cast<std::size_t>(wanted));
        for (std::size_t i = 0; i < out.size(); ++i)
            out[i] = number(from + i * size, size);
        return true;
    }

    // A field of one value for every channel, all the same (as libtiff demands), or
    // `fallback` where the field is missing. False where it is unreadable or they differ.
    bool perChannel(std::uint16_t tag, std::uint64_t channels, std::uint64_t fallback, std::uint64_t& value) const
    {
        const Entry* entry = find(tag);
        if (entry == nullptr) {
            value = fallback;
            return true;
        }
        std::vector<std::uint64_t> all;
        if (!values(*entry, std::min(entry->count, channels), all) || all.empty())
            return false;
        value = all[0];
        return std::all_of(all.begin(), all.end(), [&](std::uint64_t v) { return v == value; });
    }

    // A field of one value, or `fallback` where it is missing.
    bool single(std::uint16_t tag, std::uint64_t fallback, std::uint64_t& value) const
    {
        const Entry* entry = find(tag);
        if (entry == nullptr) {
            value = fallback;
            return true;
        }
        std::vector<std::uint64_t> one;
        if (!values(*entry, 1, one))
            return false;
        value = one[0];
        return true;
    }

private:
    const PictureFileRanges& file_;
    bool little_;
    bool big_;
    std::vector<Entry> entries_;
};

// ---- The data of one strip or tile, and its decoders ----------------------------------------

// A strip's or tile's bytes, read from the file a piece at a time.
class ChunkInput {
public:
    explicit ChunkInput(const PictureFileRanges& file) : file_(file), buffer_(kPieceBytes) {}

    void start(std::uint64_t offset, std::uint64_t bytes)
    {
        offset_ = offset;
        left_ = bytes;
        at_ = end_ = 0;
        failed_ = false;
    }
    // Bytes held and not yet taken; refills when none are (false at the data's end).
    bool available()
    {
        if (at_ < end_)
            return true;
        if (left_ == 0)
            return false;
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(left_, buffer_.size()));
        if (!file_.read(offset_, buffer_.data(), piece)) {
            failed_ = true;
            return false;
        }
        offset_ += piece;
        left_ -= piece;
        at_ = 0;
        end_ = piece;
        return true;
    }
    std::uint8_t take() { return buffer_[at_++]; }
    const std::uint8_t* data() const { return buffer_.data() + at_; }
    std::size_t held() const { return end_ - at_; }
    void consume(std::size_t bytes) { at_ += bytes; }
    // Bytes of the chunk still to be taken, held or not.
    std::uint64_t remaining() const { return left_ + (end_ - at_); }

private:
    const PictureFileRanges& file_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t offset_ = 0;
    std::uint64_t left_ = 0;
    std::size_t at_ = 0;
    std::size_t end_ = 0;
    bool failed_ = false;
};

class ChunkDecoder {
public:
    explicit ChunkDecoder(const PictureFileRanges& file) : input_(file) {}
    virtual ~ChunkDecoder() = default;
    // Starts on one strip's or tile's data, `bytes` at `offset` (within the file).
    virtual void start(std::uint64_t offset, std::uint64_t bytes) { input_.start(offset, bytes); }
    // The next `count` bytes of decoded data; false where the data ends first or is broken.
    virtual bool next(std::uint8_t* out, std::size_t count) = 0;

protected:
    ChunkInput input_;
};

class RawDecoder final : public ChunkDecoder {
public:
    using ChunkDecoder::ChunkDecoder;
    bool next(std::uint8_t* out, std::size_t count) override
    {
        while (count > 0) {
            if (!input_.available())
                return false;
            const std::size_t piece = std::min(count, input_.held());
            std::memcpy(out, input_.data(), piece);
            input_.consume(piece);
            out += piece;
            count -= piece;
        }
        return true;
    }
};

// PackBits, as libtiff decodes it: a run that reaches past the bytes asked for is cut there
// (a literal run's remaining bytes are then read as the next header), and data that ends
// within a run ends the decoding.
class PackBitsDecoder final : public ChunkDecoder {
public:
    using ChunkDecoder::ChunkDecoder;
    bool next(std::uint8_t* out, std::size_t count) override
    {
        while (count > 0 && input_.available()) {
            const auto header = static_cast<std::int8_t>(input_.take());
            if (header == -128)
                continue;
            if (header < 0) {
                const std::size_t run = std::min<std::size_t>(count, static_cast<std::size_t>(1 - header));
                if (!input_.available())
                    break;  // no byte to repeat
                std::memset(out, input_.take(), run);
                out += run;
                count -= run;
            } else {
                const std::size_t run = std::min<std::size_t>(count, static_cast<std::size_t>(header) + 1);
                if (input_.remaining() < run)
                    break;
                for (std::size_t copied = 0; copied < run;) {
                    if (!input_.available())
                        return false;
                    const std::size_t piece = std::min(run - copied, input_.held());
                    std::memcpy(out + copied, input_.data(), piece);
                    input_.consume(piece);
                    copied += piece;
                }
                out += run;
                count -= run;
            }
        }
        return count == 0;
    }
};

// LZW as TIFF codes it: codes of 9 to 12 bits, most significant bit first, 256 clearing the
// table and 257 ending the data, the code width growing one code early. A code's string is
// written from its end, down the chain of its prefixes; one that does not fit the bytes
// asked for is finished by the next call.
class LzwDecoder final : public ChunkDecoder {
public:
    using ChunkDecoder::ChunkDecoder;

    void start(std::uint64_t offset, std::uint64_t bytes) override
    {
        ChunkDecoder::start(offset, bytes);
        for (unsigned code = 0; code < 256; ++code)
            table_[code] = {0, 1, static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(code)};
        state_ = State{};
        pendingAt_ = pendingEnd_ = 0;
        ended_ = false;
    }

    bool next(std::uint8_t* out, std::size_t count) override
    {
        const std::size_t fromPending = std::min(count, pendingEnd_ - pendingAt_);
        std::memcpy(out, pending_.data() + pendingAt_, fromPending);
        pendingAt_ += fromPending;
        // The state in locals for the loop: the bytes written could be anything the object
        // holds, as far as the compiler knows.
        State state = state_;
        const bool whole = decode(state, out + fromPending, count - fromPending);
        state_ = state;
        return whole;
    }

private:
    static constexpr unsigned kClear = 256, kEnd = 257, kFirst = 258, kNoCode = 0xFFFF, kCodes = 4096;

    struct Code {
        std::uint16_t prefix;
        std::uint16_t length;
        std::uint8_t last;   // the string's last byte
        std::uint8_t first;  // and its first
    };

    struct State {
        std::uint64_t bits = 0;
        unsigned bitCount = 0, width = 9, next = kFirst, previous = kNoCode;
    };

    // The next code into `code`; false where the data ends first. The bits come six bytes at
    // a time while the data held has them.
    bool nextCode(State& state, const std::uint8_t*& in, const std::uint8_t*& end, unsigned& code)
    {
        if (state.bitCount < state.width) {
            if (end - in >= 6) {
                for (int i = 0; i < 6; ++i)
                    state.bits = state.bits << 8 | *in++;
                state.bitCount += 48;
            } else {
                while (state.bitCount < state.width) {
                    if (in == end) {
                        input_.consume(static_cast<std::size_t>(in - input_.data()));
                        if (!input_.available())
                            return false;  // the data ends without its end code
                        in = input_.data();
                        end = in + input_.held();
                    }
                    state.bits = state.bits << 8 | *in++;
                    state.bitCount += 8;
                }
            }
        }
        state.bitCount -= state.width;
        code = static_cast<unsigned>(state.bits >> state.bitCount) & ((1u << state.width) - 1);
        return true;
    }

    bool decode(State& state, std::uint8_t* out, std::size_t count)
    {
        if (ended_)
            return count == 0;
        const std::uint8_t* in = input_.data();
        const std::uint8_t* end = in + input_.held();
        Code* const table = table_.data();
        bool whole = true;
        while (count > 0) {
            unsigned code;
            if (!nextCode(state, in, end, code)) {
                whole = false;
                break;
            }
            if (code == kEnd) {
                ended_ = true;
                whole = false;  // the data ends before the bytes asked for
                break;
            }
            if (code == kClear) {
                state.next = kFirst;
                state.width = 9;
                state.previous = kNoCode;
                continue;
            }
            if (state.previous == kNoCode) {
                // The first code of the data or after a clear: a byte.
                if (code > 255) {
                    whole = false;
                    break;
                }
                *out++ = static_cast<std::uint8_t>(code);
                --count;
                state.previous = code;
                continue;
            }
            if (code > state.next) {
                whole = false;  // a code not yet defined
                break;
            }
            if (state.next < kCodes) {
                // The previous string and the first byte of this one (of the previous one when
                // this is the code being defined).
                const Code before = table[state.previous];
                const std::uint8_t first = code == state.next ? before.first : table[code].first;
                table[state.next] = {static_cast<std::uint16_t>(state.previous),
                                      static_cast<std::uint16_t>(before.length + 1), first, before.first};
                ++state.next;
                if (state.next >= (1u << state.width) - 1 && state.width < 12)
                    ++state.width;
            }
            state.previous = code;
            const Code& string = table[code];
            const std::size_t length = string.length;
            if (length <= 2 && length <= count) {  // most strings: without a loop
                out[length - 1] = string.last;
                out[0] = length == 1 ? string.last : table[string.prefix].last;
                out += length;
                count -= length;
                continue;
            }
            std::uint8_t* to = length <= count ? out : pending_.data();
            unsigned at = code;
            for (std::size_t i = length; i-- > 0;) {
                const Code& entry = table[at];
                to[i] = entry.last;
                at = entry.prefix;
            }
            if (to == out) {
                out += length;
                count -= length;
                continue;
            }
            std::memcpy(out, pending_.data(), count);
            pendingAt_ = count;
            pendingEnd_ = length;
            count = 0;
        }
        input_.consume(static_cast<std::size_t>(in - input_.data()));
        return whole;
    }

    std::array<Code, kCodes> table_{};
    State state_;
    std::array<std::uint8_t, kCodes> pending_{};  // the rest of the last string
    std::size_t pendingAt_ = 0;
    std::size_t pendingEnd_ = 0;
    bool ended_ = false;
};

// Deflate in zlib's wrapper. Data beyond the bytes asked for is never needed: a strip that
// holds more than its rows is read as libtiff reads it.
class DeflateDecoder final : public ChunkDecoder {
public:
    using ChunkDecoder::ChunkDecoder;

    bool ready() const { return inflater_.ok(); }

    void start(std::uint64_t offset, std::uint64_t bytes) override
    {
        ChunkDecoder::start(offset, bytes);
        inflater_.reset();
    }

    bool next(std::uint8_t* out, std::size_t count) override
    {
        while (count > 0) {
            // The inflater may hold output of input it has taken already, so it is asked
            // again before it is given more.
            if (inflater_.availIn == 0 && input_.available()) {
                const std::size_t piece = input_.held();
                inflater_.nextIn = input_.data();
                inflater_.availIn = static_cast<std::uint32_t>(piece);
                input_.consume(piece);
            }
            const auto room = static_cast<std::uint32_t>(std::min<std::size_t>(count, UINT32_MAX));
            const std::uint32_t inBefore = inflater_.availIn;
            inflater_.nextOut = out;
            inflater_.availOut = room;
            const Inflater::Result result = inflater_.run();
            const std::size_t written = room - inflater_.availOut;
            out += written;
            count -= written;
            if (result == Inflater::Result::kError || (result == Inflater::Result::kEnd && count > 0))
                return false;  // broken, or ended before the bytes asked for
            if (count > 0 && written == 0 && inflater_.availIn == inBefore &&
                (inflater_.availIn > 0 || !input_.available()))
                return false;  // the data ends before the bytes asked for
        }
        return true;
    }

private:
    Inflater inflater_;
};

// ---- Samples --------------------------------------------------------------------------------

std::size_t storedBytes(Stored stored)
{
    switch (stored) {
    case Stored::Bits:
    case Stored::U8:
    case Stored::I8:
        return 1;
    case Stored::U16:
    case Stored::I16:
    case Stored::F16:
        return 2;
    case Stored::U32:
    case Stored::I32:
    case Stored::F32:
        return 4;
    default:
        return 8;
    }
}

template <typename T>
T load(const std::uint8_t* at)
{
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// Sample `i` of a row of stored samples in the machine's order, as a float.
float sampleAsFloat(Stored stored, const std::uint8_t* row, std::size_t i)
{
    switch (stored) {
    case Stored::I8:
        return static_cast<float>(load<std::int8_t>(row + i));
    case Stored::U32:
        return static_cast<float>(load<std::uint32_t>(row + 4 * i));
    case Stored::I32:
        return static_cast<float>(load<std::int32_t>(row + 4 * i));
    case Stored::F16:
        return halfToFloat(load<std::uint16_t>(row + 2 * i));
    case Stored::F32:
        return load<float>(row + 4 * i);
    default:
        return static_cast<float>(load<double>(row + 8 * i));
    }
}

// ---- The picture ----------------------------------------------------------------------------

class TiffDecoder {
public:
    TiffDecoder(const PictureFileRanges& file, bool little, bool big)
        : file_(file), directory_(file, little, big), little_(little)
    {
    }

    int decode(std::uint64_t directoryOffset, DecodedPicture& picture)
    {
        const int planned = plan(directoryOffset, picture, false);
        if (planned != imaging_status::kOk)
            return planned;
        const int allocated = allocatePicture(picture, columns_, rows_);
        if (allocated != imaging_status::kOk)
            return allocated;
        return tiled_ ? readTiles(picture) : readStrips(picture);
    }

    // The directory, what the picture is made of and how its data lies, checked; `byRows`:
    // for rows handed out in bands (readStripRow, readTileRow), the memory check counting the
    // decoder's buffers and a row of tiles instead of the whole picture.
    int plan(std::uint64_t directoryOffset, DecodedPicture& picture, bool byRows)
    {
        if (directoryOffset < 8 || !directory_.read(directoryOffset))
            return imaging_status::kUnknownImageFormat;
        const int kind = readKind(picture);
        if (kind != imaging_status::kOk)
            return kind;
        byRows_ = byRows;
        return planChunks(picture);
    }

    std::uint64_t columns() const { return columns_; }
    std::uint64_t rows() const { return rows_; }
    bool tiled() const { return tiled_; }
    std::uint64_t tileRows() const { return chunkRows_; }
    std::uint64_t readerBytes() const { return readerBytes_; }

    // The decoders and rows that reading strips takes.
    int startStrips()
    {
        const std::size_t planes = planar_ ? channels_ : 1;
        decoders_.resize(planes);
        for (auto& decoder : decoders_)
            if (!(decoder = makeDecoder()))
                return imaging_status::kOutOfMemory;
        row_.resize(planeRowBytes_ + 8);
        units_.resize(columns_ * channels_ * unitBytes());
        return imaging_status::kOk;
    }

    // Row y of a picture in strips, the rows before it read, as pixels at `out`.
    int readStripRow(std::uint64_t y, unsigned char* out)
    {
        const std::size_t planes = planar_ ? channels_ : 1;
        const std::uint64_t strip = y / chunkRows_;
        const std::uint8_t* samples = nullptr;
        for (std::size_t plane = 0; plane < planes; ++plane) {
            const std::size_t chunk = static_cast<std::size_t>(plane * chunksPerPlane_ + strip);
            if (y % chunkRows_ == 0)
                decoders_[plane]->start(offsets_[chunk], counts_[chunk]);
            if (!decoders_[plane]->next(row_.data(), static_cast<std::size_t>(planeRowBytes_)))
                return imaging_status::kUnknownImageFormat;
            samples = unpackRow(row_.data(), static_cast<std::size_t>(columns_), plane, units_.data());
        }
        storePixels(samples, static_cast<std::size_t>(columns_), out);
        return imaging_status::kOk;
    }

    // The decoder and the tile that reading tiles takes.
    int startTiles()
    {
        const std::size_t planes = planar_ ? channels_ : 1;
        tileDecoder_ = makeDecoder();
        tile_.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(planeRowBytes_ * chunkRows_) * planes + 8]);
        units_.resize(static_cast<std::size_t>(chunkColumns_ * channels_ * unitBytes()));
        if (!tileDecoder_ || !tile_)
            return imaging_status::kOutOfMemory;
        return imaging_status::kOk;
    }

    // The row of tiles `tileRow` (the rows of its tiles that lie in the picture), tile after
    // tile, as pixels at `out`, rows `rowBytes` apart.
    int readTileRow(std::uint64_t tileRow, unsigned char* out, std::size_t rowBytes)
    {
        const std::size_t planes = planar_ ? channels_ : 1;
        const auto planeTileBytes = static_cast<std::size_t>(planeRowBytes_ * chunkRows_);
        const std::uint64_t across = (columns_ + chunkColumns_ - 1) / chunkColumns_;
        const std::size_t bytes = pixelBytes({outputType(), kept_});
        for (std::uint64_t index = tileRow * across; index < (tileRow + 1) * across; ++index) {
            for (std::size_t plane = 0; plane < planes; ++plane) {
                const std::size_t chunk = static_cast<std::size_t>(plane * chunksPerPlane_ + index);
                tileDecoder_->start(offsets_[chunk], counts_[chunk]);
                if (!tileDecoder_->next(tile_.get() + plane * planeTileBytes, planeTileBytes))
                    return imaging_status::kUnknownImageFormat;
            }
            const std::uint64_t left = index % across * chunkColumns_, top = tileRow * chunkRows_;
            const auto visible = static_cast<std::size_t>(std::min(chunkColumns_, columns_ - left));
            for (std::uint64_t y = 0; y < chunkRows_ && top + y < rows_; ++y) {
                const std::uint8_t* samples = nullptr;
                for (std::size_t plane = 0; plane < planes; ++plane)
                    samples = unpackRow(tile_.get() + plane * planeTileBytes + y * planeRowBytes_,
                                        static_cast<std::size_t>(chunkColumns_), plane, units_.data());
                storePixels(samples, visible, out + y * rowBytes + static_cast<std::size_t>(left) * bytes);
            }
        }
        return imaging_status::kOk;
    }

private:
    // What the picture is made of, and whether it is read here. kNotMine leaves it to the
    // platform's decoder.
    int readKind(DecodedPicture& picture)
    {
        std::uint64_t value;
        const auto scalar = [&](std::uint16_t tag, std::uint64_t fallback) {
            return directory_.single(tag, fallback, value) ? value : UINT64_MAX;
        };
        columns_ = scalar(kWidth, 0);
        rows_ = scalar(kHeight, 0);
        channels_ = scalar(kSamplesPerPixel, 1);
        compression_ = scalar(kCompression, kNone);
        planar_ = scalar(kPlanarConfig, 1) == 2 && channels_ > 1;
        predictor_ = scalar(kPredictor, 1);
        const std::uint64_t fillOrder = scalar(kFillOrder, 1);
        const std::uint64_t depth = scalar(kImageDepth, 1);
        if (columns_ == 0 || rows_ == 0 || columns_ > kMaxPictureSide || rows_ > kMaxPictureSide ||
            channels_ == 0 || channels_ == UINT64_MAX || compression_ == UINT64_MAX || predictor_ == UINT64_MAX ||
            fillOrder == UINT64_MAX || depth != 1)
            return imaging_status::kUnknownImageFormat;
        std::uint64_t bits = 0, format = 0;
        if (!directory_.perChannel(kBitsPerSample, channels_, 1, bits) ||
            !directory_.perChannel(kSampleFormat, channels_, 1, format))
            return imaging_status::kUnknownImageFormat;
        const std::uint64_t photometric = scalar(kPhotometric, channels_ >= 3 ? kRgb : kMinIsBlack);
        bits_ = static_cast<unsigned>(std::min<std::uint64_t>(bits, 255));

        // Left to the platform's decoder.
        const bool compressionKnown = compression_ == kNone || compression_ == kLzw || compression_ == kDeflate ||
                                      compression_ == kAdobeDeflate || compression_ == kPackBits;
        const bool coloursKnown = photometric == kMinIsBlack || photometric == kRgb ||
                                  (photometric == kPalette && channels_ == 1);
        if (!compressionKnown || !coloursKnown || fillOrder != 1 || channels_ > kMostChannels)
            return kNotMine;
        palette_ = photometric == kPalette;
        if (!chooseStored(format))
            return kNotMine;
        if (predictor_ != 1 && !(predictor_ == 2 && stored_ != Stored::Bits) &&
            !(predictor_ == 3 && (stored_ == Stored::F16 || stored_ == Stored::F32 || stored_ == Stored::F64)))
            return imaging_status::kUnknownImageFormat;  // libtiff refuses these
        if (palette_ && !readPalette())
            return imaging_status::kUnknownImageFormat;
        if (!chooseChannels(photometric))
            return imaging_status::kUnknownImageFormat;
        picture.fileLayout = {outputType(), kept_};
        picture.layout = picture.fileLayout;
        return imaging_status::kOk;
    }

    // The channels kept, as the Linux build keeps them from OpenImageIO: grey (fewer than
    // three channels) or the first three as RGB, and alpha where OpenImageIO takes the channel
    // after those for alpha. It does so for the first extra sample (past one channel of grey
    // or a palette's index, past three otherwise) that ExtraSamples calls alpha, associated or
    // not; without that tag, for the fourth channel of four or more.
    bool chooseChannels(std::uint64_t photometric)
    {
        if (palette_) {
            kept_ = 3;
            return true;
        }
        std::int64_t alpha = channels_ >= 4 ? 3 : -1;
        if (const Entry* extras = directory_.find(kExtraSamples)) {
            std::vector<std::uint64_t> meanings;
            if (extras->count > channels_ || !directory_.values(*extras, extras->count, meanings))
                return false;
            const std::uint64_t colours = photometric == kMinIsBlack ? 1 : 3;
            for (std::uint64_t i = 0, c = colours; i < meanings.size() && c < channels_; ++i, ++c) {
                if (meanings[i] == 1 || meanings[i] == 2)
                    alpha = static_cast<std::int64_t>(c);
                else if (alpha == static_cast<std::int64_t>(c))
                    alpha = -1;
            }
        }
        const unsigned colours = channels_ < 3 ? 1 : 3;
        kept_ = colours + (channels_ > colours && alpha == colours ? 1 : 0);
        return true;
    }

    bool chooseStored(std::uint64_t format)
    {
        const bool bits = bits_ == 1 || bits_ == 2 || bits_ == 4;
        if (bits && format == 1 && (palette_ || channels_ == 1))
            stored_ = Stored::Bits;
        else if (palette_ && bits_ == 8 && format == 1)
            stored_ = Stored::U8;
        else if (palette_)
            return false;
        else if (format == 1 && (bits_ == 8 || bits_ == 16 || bits_ == 32))
            stored_ = bits_ == 8 ? Stored::U8 : bits_ == 16 ? Stored::U16 : Stored::U32;
        else if (format == 2 && (bits_ == 8 || bits_ == 16 || bits_ == 32))
            stored_ = bits_ == 8 ? Stored::I8 : bits_ == 16 ? Stored::I16 : Stored::I32;
        else if (format == 3 && (bits_ == 16 || bits_ == 32 || bits_ == 64))
            stored_ = bits_ == 16 ? Stored::F16 : bits_ == 32 ? Stored::F32 : Stored::F64;
        else
            return false;
        return true;
    }

    SampleType outputType() const
    {
        switch (stored_) {
        case Stored::Bits:
        case Stored::U8:
            return SampleType::U8;
        case Stored::U16:
            return SampleType::U16;
        case Stored::I16:
            return SampleType::I16;
        default:
            return SampleType::F32;
        }
    }

    bool readPalette()
    {
        const Entry* entry = directory_.find(kColourMap);
        const std::uint64_t entries = std::uint64_t{1} << bits_;
        std::vector<std::uint64_t> map;
        if (entry == nullptr || entry->count != 3 * entries || !directory_.values(*entry, 3 * entries, map))
            return false;
        for (std::uint64_t i = 0; i < entries; ++i)
            palette_words_[i] = 0xFF000000u | pictureWord(static_cast<std::uint32_t>(map[i] / 257),
                                                          static_cast<std::uint32_t>(map[entries + i] / 257),
                                                          static_cast<std::uint32_t>(map[2 * entries + i] / 257));
        return true;
    }

    // The strips or tiles, their offsets and byte counts, and the memory check of everything
    // the reading holds.
    int planChunks(DecodedPicture& picture)
    {
        tiled_ = directory_.find(kTileWidth) != nullptr || directory_.find(kTileOffsets) != nullptr;
        std::uint64_t chunkColumns = columns_, chunkRows = 0;
        if (tiled_) {
            if (!directory_.single(kTileWidth, 0, chunkColumns) || !directory_.single(kTileLength, 0, chunkRows) ||
                chunkColumns == 0 || chunkRows == 0 || chunkColumns > UINT32_MAX || chunkRows > UINT32_MAX)
                return imaging_status::kUnknownImageFormat;
        } else if (!directory_.single(kRowsPerStrip, UINT32_MAX, chunkRows) || chunkRows == 0) {
            return imaging_status::kUnknownImageFormat;
        }
        chunkRows = std::min(chunkRows, tiled_ ? chunkRows : rows_);
        chunkColumns_ = chunkColumns;
        chunkRows_ = chunkRows;
        const std::uint64_t planes = planar_ ? channels_ : 1;
        const std::uint64_t samplesPerPixel = planar_ ? 1 : channels_;
        planeRowBytes_ = (chunkColumns * samplesPerPixel * storedBits() + 7) / 8;
        const std::uint64_t across = tiled_ ? (columns_ + chunkColumns - 1) / chunkColumns : 1;
        const std::uint64_t down = (rows_ + chunkRows - 1) / chunkRows;
        chunksPerPlane_ = across * down;
        const std::uint64_t chunks = chunksPerPlane_ * planes;

        // Reading any pixel of a tile reads the whole tile: one of more pixels than the
        // picture, and of over 16 MiB, is no real file's.
        const std::uint64_t tileBytes = tiled_ ? saturatingProduct(planeRowBytes_ * planes, chunkRows) : 0;
        if (tiled_ && chunkColumns * chunkRows > columns_ * rows_ && tileBytes > kLargestOddTileBytes)
            return imaging_status::kUnknownImageFormat;
        // A file holds at least a byte for every strip or tile offset it declares.
        if (chunks > file_.bytes())
            return imaging_status::kUnknownImageFormat;
        // The offsets and byte counts, a row of samples; for each plane a piece of file data,
        // a decoded row and the floating-point predictor's copy of it; a tile.
        const std::uint64_t unitRowBytes = chunkColumns * channels_ * unitBytes();
        const std::uint64_t buffers = 16 * chunks + unitRowBytes +
                                      planes * (kPieceBytes + 2 * planeRowBytes_ + 8);
        std::uint64_t readerBytes = tileBytes > UINT64_MAX - buffers ? UINT64_MAX : tileBytes + buffers;
        // Rows handed out in bands hold a row of tiles of pixels instead of the picture.
        const std::uint64_t tileRowBytes =
            byRows_ && tiled_ ? saturatingProduct(saturatingProduct(columns_, std::min(chunkRows, rows_)),
                                                  pixelBytes(picture.layout))
                              : 0;
        readerBytes = tileRowBytes > UINT64_MAX - readerBytes ? UINT64_MAX : readerBytes + tileRowBytes;
        readerBytes_ = readerBytes;
        if (!(byRows_ ? pictureFits(picture, 0, 0, readerBytes) : pictureFits(picture, columns_, rows_, readerBytes)))
            return imaging_status::kValueOverflow;

        const Entry* offsets = directory_.find(tiled_ ? kTileOffsets : kStripOffsets);
        const Entry* counts = directory_.find(tiled_ ? kTileByteCounts : kStripByteCounts);
        if (offsets == nullptr || !directory_.values(*offsets, chunks, offsets_))
            return imaging_status::kUnknownImageFormat;
        const std::uint64_t wholeStrip = planeRowBytes_ * chunkRows;
        if (counts != nullptr && !directory_.values(*counts, chunks, counts_))
            return imaging_status::kUnknownImageFormat;
        // libtiff takes the missing byte counts of one uncompressed strip a plane, or the
        // implausible one of a single strip, for the bytes their rows need.
        const bool estimated =
            !tiled_ && compression_ == kNone &&
            (counts == nullptr ? chunks == planes
                               : chunks == 1 && ((counts_[0] == 0 && offsets_[0] != 0) ||
                                                 !file_.holds(offsets_[0], counts_[0]) || counts_[0] < wholeStrip));
        if (counts == nullptr && !estimated)
            return imaging_status::kUnknownImageFormat;
        if (estimated)
            counts_.assign(static_cast<std::size_t>(chunks), wholeStrip);
        for (std::size_t i = 0; i < offsets_.size(); ++i)
            if (counts_[i] == 0 || !file_.holds(offsets_[i], counts_[i]))
                return imaging_status::kUnknownImageFormat;  // data outside the file
        return imaging_status::kOk;
    }

    std::uint64_t storedBits() const { return stored_ == Stored::Bits ? bits_ : 8 * storedBytes(stored_); }
    // Bytes a sample takes once unpacked: one for samples of fewer than 8 bits.
    std::size_t unitBytes() const { return stored_ == Stored::Bits ? 1 : storedBytes(stored_); }

    std::unique_ptr<ChunkDecoder> makeDecoder() const
    {
        switch (compression_) {
        case kLzw:
            return std::unique_ptr<ChunkDecoder>(new (std::nothrow) LzwDecoder(file_));
        case kDeflate:
        case kAdobeDeflate: {
            std::unique_ptr<DeflateDecoder> decoder(new (std::nothrow) DeflateDecoder(file_));
            if (decoder && !decoder->ready())
                decoder.reset();
            return decoder;
        }
        case kPackBits:
            return std::unique_ptr<ChunkDecoder>(new (std::nothrow) PackBitsDecoder(file_));
        default:
            return std::unique_ptr<ChunkDecoder>(new (std::nothrow) RawDecoder(file_));
        }
    }

    // One decoded row of one plane (or of every channel, chunky) made into samples: the
    // predictor undone, each in the machine's byte order, samples of fewer than 8 bits one a
    // byte. Returns where every channel of the `pixels` pixels now is, in order: the row
    // itself (chunky), or `units`, where a plane's samples are placed among the others'.
    const std::uint8_t* unpackRow(std::uint8_t* row, std::size_t pixels, std::size_t plane, std::uint8_t* units) const
    {
        const std::size_t stride = planar_ ? 1 : channels_;
        const std::size_t count = pixels * stride;
        const std::size_t bytes = unitBytes();
        if (stored_ == Stored::Bits) {
            for (std::size_t i = 0; i < count; ++i) {
                const std::size_t bit = i * bits_;
                units[i] = static_cast<std::uint8_t>(row[bit / 8] >> (8 - bits_ - bit % 8) & ((1u << bits_) - 1));
            }
            return units;
        }
        if (predictor_ == 3) {
            undoFloatPredictor(row, count, stride, bytes);
        } else {
            if (bytes > 1 && little_ != hostIsLittleEndian())
                for (std::size_t i = 0; i < count; ++i)
                    std::reverse(row + i * bytes, row + (i + 1) * bytes);
            if (predictor_ == 2)
                undoHorizontalPredictor(row, count, stride, bytes);
        }
        if (!planar_)
            return row;
        for (std::size_t i = 0; i < pixels; ++i)
            std::memcpy(units + (i * channels_ + plane) * bytes, row + i * bytes, bytes);
        return units;
    }

    // Each sample plus the one `stride` before it, in the sample's width.
    static void undoHorizontalPredictor(std::uint8_t* row, std::size_t count, std::size_t stride, std::size_t bytes)
    {
        const auto add = [&](auto zero) {
            using T = decltype(zero);
            for (std::size_t i = stride; i < count; ++i) {
                const T sum = static_cast<T>(load<T>(row + i * bytes) + load<T>(row + (i - stride) * bytes));
                std::memcpy(row + i * bytes, &sum, bytes);
            }
        };
        switch (bytes) {
        case 1:
            add(std::uint8_t{});
            break;
        case 2:
            add(std::uint16_t{});
            break;
        case 4:
            add(std::uint32_t{});
            break;
        default:
            add(std::uint64_t{});
            break;
        }
    }

    // The floating-point predictor: the row's bytes accumulated `stride` apart, then each
    // sample gathered from the row's byte planes (most significant first) into the machine's
    // order.
    void undoFloatPredictor(std::uint8_t* row, std::size_t count, std::size_t stride, std::size_t bytes) const
    {
        const std::size_t total = count * bytes;
        for (std::size_t i = stride; i < total; ++i)
            row[i] = static_cast<std::uint8_t>(row[i] + row[i - stride]);
        planes_.assign(row, row + total);
        const bool little = hostIsLittleEndian();
        for (std::size_t i = 0; i < count; ++i)
            for (std::size_t b = 0; b < bytes; ++b)
                row[i * bytes + b] = planes_[(little ? bytes - 1 - b : b) * count + i];
    }

    // Stores `pixels` pixels of samples in `units` as the picture's pixels at `out`.
    void storePixels(const std::uint8_t* units, std::size_t pixels, unsigned char* out) const
    {
        if (palette_) {
            auto* words = reinterpret_cast<std::uint32_t*>(out);
            for (std::size_t i = 0; i < pixels; ++i)
                words[i] = palette_words_[units[i]];
            return;
        }
        const std::size_t samples = pixels * channels_;
        if (outputType() == SampleType::U8 && kept_ >= 3) {
            auto* words = reinterpret_cast<std::uint32_t*>(out);
            for (std::size_t i = 0; i < pixels; ++i) {
                const std::uint8_t* pixel = units + i * channels_;
                words[i] = pictureWord(pixel[0], pixel[1], pixel[2]) |
                           (kept_ == 4 ? std::uint32_t{pixel[3]} << 24 : 0xFF000000u);
            }
            return;
        }
        if (stored_ == Stored::Bits) {
            const unsigned most = (1u << bits_) - 1;
            for (std::size_t i = 0; i < samples; ++i)
                out[i] = static_cast<unsigned char>(units[i] * 255u / most);
            return;
        }
        const std::size_t bytes = sampleBytes(outputType());
        const bool converted = outputType() == SampleType::F32 && stored_ != Stored::F32;
        if (kept_ == channels_ && !converted) {
            std::memcpy(out, units, samples * bytes);
            return;
        }
        // The channels kept are the first of each pixel's.
        for (std::size_t i = 0; i < pixels; ++i)
            for (std::size_t c = 0; c < kept_; ++c) {
                const std::size_t from = i * channels_ + c;
                unsigned char* to = out + (i * kept_ + c) * bytes;
                if (converted) {
                    const float value = sampleAsFloat(stored_, units, from);
                    std::memcpy(to, &value, 4);
                } else {
                    std::memcpy(to, units + from * bytes, bytes);
                }
            }
    }

    int readStrips(DecodedPicture& picture)
    {
        int status = startStrips();
        for (std::uint64_t y = 0; y < rows_ && status == imaging_status::kOk; ++y)
            status = readStripRow(y, pixelAt(picture, 0, static_cast<std::size_t>(y)));
        return status;
    }

    int readTiles(DecodedPicture& picture)
    {
        int status = startTiles();
        const std::size_t rowBytes = picture.stride * pixelBytes(picture.layout);
        for (std::uint64_t tileRow = 0; tileRow * chunkRows_ < rows_ && status == imaging_status::kOk; ++tileRow)
            status = readTileRow(tileRow, pixelAt(picture, 0, static_cast<std::size_t>(tileRow * chunkRows_)), rowBytes);
        return status;
    }

    const PictureFileRanges& file_;
    Directory directory_;
    bool little_;
    std::uint64_t columns_ = 0, rows_ = 0, channels_ = 0;
    unsigned kept_ = 0;  // the channels the picture keeps: the first of each pixel's
    std::uint64_t compression_ = kNone, predictor_ = 1;
    bool planar_ = false;
    bool palette_ = false;
    unsigned bits_ = 0;
    Stored stored_ = Stored::U8;
    std::array<std::uint32_t, 256> palette_words_{};
    bool tiled_ = false;
    std::uint64_t chunkColumns_ = 0, chunkRows_ = 0;  // a tile's size, or a strip's rows
    std::uint64_t planeRowBytes_ = 0;                 // a strip's or tile's row of one plane
    std::uint64_t chunksPerPlane_ = 0;
    std::vector<std::uint64_t> offsets_;
    std::vector<std::uint64_t> counts_;
    mutable std::vector<std::uint8_t> planes_;  // the floating-point predictor's scratch
    bool byRows_ = false;                       // rows handed out in bands (plan)
    std::uint64_t readerBytes_ = 0;             // what reading holds beside the picture
    // Reading strips: a decoder a plane, a row of one plane as stored, a row of samples.
    std::vector<std::unique_ptr<ChunkDecoder>> decoders_;
    std::vector<std::uint8_t> row_;
    std::vector<std::uint8_t> units_;
    // Reading tiles: one decoder, a tile of every plane.
    std::unique_ptr<ChunkDecoder> tileDecoder_;
    std::unique_ptr<std::uint8_t[]> tile_;
};

// A TIFF file opened: its byte order, classic or BigTIFF, and its first directory.
struct TiffFile {
    PictureFile file;
    std::unique_ptr<PictureFileRanges> ranges;
    bool little = false, big = false;
    std::uint64_t first = 0;

    // kOk, kNotMine for a file that is not a TIFF, or a failure.
    int open(const char* path)
    {
        file = openPictureFile(path);
        unsigned char header[16];
        std::uint64_t bytes = 0;
        if (!file || !pictureFileBytes(file.get(), bytes) || bytes < 8 || std::fread(header, 1, 8, file.get()) != 8)
            return kNotMine;
        little = std::memcmp(header, "II", 2) == 0;
        if (!little && std::memcmp(header, "MM", 2) != 0)
            return kNotMine;
        ranges = std::make_unique<PictureFileRanges>(file.get(), bytes);
        Directory numbers(*ranges, little, false);
        const std::uint64_t version = numbers.number(header + 2, 2);
        if (version != 42 && version != 43)
            return kNotMine;
        big = version == 43;
        first = numbers.number(header + 4, 4);
        if (big) {
            // BigTIFF: the offsets' size (8), a reserved zero, then the first directory's offset.
            if (!ranges->read(8, header + 8, 8) || numbers.number(header + 4, 2) != 8 ||
                numbers.number(header + 6, 2) != 0)
                return imaging_status::kUnknownImageFormat;
            first = numbers.number(header + 8, 8);
        }
        return imaging_status::kOk;
    }
};

// A TIFF's rows for a map read in bands: a strip's a row at a time, as the whole decoding
// reads them; tiles a row of tiles at a time, into a band of pixels handed out from there.
class TiffRows final : public PictureRows {
public:
    int open(const char* path, const DecodedPicture& settings)
    {
        const int opened = tiff_.open(path);
        if (opened != imaging_status::kOk)
            return opened;
        DecodedPicture picture;
        picture.keepSamples = settings.keepSamples;
        picture.memoryLimit = settings.memoryLimit;
        decoder_ = std::make_unique<TiffDecoder>(*tiff_.ranges, tiff_.little, tiff_.big);
        int status = decoder_->plan(tiff_.first, picture, true);
        if (status != imaging_status::kOk)
            return status;
        columns = static_cast<std::uint32_t>(decoder_->columns());
        rows = static_cast<std::uint32_t>(decoder_->rows());
        layout = picture.layout;
        fileLayout = picture.fileLayout;
        readerBytes = decoder_->readerBytes();
        if (!decoder_->tiled())
            return decoder_->startStrips();
        bandRowBytes_ = std::size_t{columns} * pixelBytes(layout);
        band_.reset(new (std::nothrow) unsigned char[bandRowBytes_ * std::min<std::uint64_t>(decoder_->tileRows(), rows)]);
        status = decoder_->startTiles();
        return status == imaging_status::kOk && !band_ ? imaging_status::kOutOfMemory : status;
    }

    int readRows(std::uint32_t count, unsigned char* into, std::size_t stride) override
    {
        try {
            const std::size_t rowBytes = std::size_t{columns} * pixelBytes(layout);
            const std::uint64_t tileRows = decoder_->tileRows();
            for (std::uint32_t i = 0; i < count; ++i, ++next_) {
                unsigned char* out = into + i * stride;
                if (!decoder_->tiled()) {
                    const int status = decoder_->readStripRow(next_, out);
                    if (status != imaging_status::kOk)
                        return status;
                    continue;
                }
                if (next_ % tileRows == 0) {
                    const int status = decoder_->readTileRow(next_ / tileRows, band_.get(), bandRowBytes_);
                    if (status != imaging_status::kOk)
                        return status;
                }
                std::memcpy(out, band_.get() + next_ % tileRows * bandRowBytes_, rowBytes);
            }
            return imaging_status::kOk;
        } catch (const std::bad_alloc&) {
            return imaging_status::kValueOverflow;
        }
    }

private:
    TiffFile tiff_;
    std::unique_ptr<TiffDecoder> decoder_;
    std::unique_ptr<unsigned char[]> band_;  // a row of tiles' pixels
    std::size_t bandRowBytes_ = 0;
    std::uint64_t next_ = 0;
};

}  // namespace

int readTiffDirect(const char* path, DecodedPicture& picture)
{
    TiffFile tiff;
    const int opened = tiff.open(path);
    if (opened != imaging_status::kOk)
        return opened == kNotMine ? kNotMine : finishDirectRead(opened, picture);
    try {
        auto decoder = std::make_unique<TiffDecoder>(*tiff.ranges, tiff.little, tiff.big);
        return finishDirectRead(decoder->decode(tiff.first, picture), picture);
    } catch (const std::bad_alloc&) {
        return finishDirectRead(imaging_status::kValueOverflow, picture);
    }
}

int openTiffRows(const char* path, const DecodedPicture& settings, std::unique_ptr<PictureRows>& rows)
{
    try {
        auto tiff = std::make_unique<TiffRows>();
        const int status = tiff->open(path, settings);
        if (status == imaging_status::kOk)
            rows = std::move(tiff);
        return status;
    } catch (const std::bad_alloc&) {
        return imaging_status::kValueOverflow;
    }
}
