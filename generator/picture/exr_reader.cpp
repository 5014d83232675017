// The OpenEXR reader for a map's own samples where the platform has no OpenEXR decoder: on
// Windows GDI+ has none and no OpenEXR library is packaged for MinGW-w64, while the Linux
// build reads the format through OpenImageIO. Portable C++17 over the inflater (inflater.h).
//
// What it reads: one part of scanlines (no tiles, deep data or multiple parts), uncompressed,
// RLE, ZIPS (blocks of one line) or ZIP (blocks of 16), whose channels are half or 32-bit
// floats named Y; Y and A; R, G and B; or R, G, B and A, every one sampled at every pixel:
// every file the texture writers make (exr_encoder.cpp). The data window is the picture, its
// lines in either order. The samples become floats, half ones exactly, in the order Y, A or
// R, G, B, A whatever the file's own. Anything else is refused, as is a block whose data does
// not hold exactly its lines, or lies outside the file; the pixels and the buffers are
// counted in the memory check before anything is allocated.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "decoded_picture.h"
#include "half_float.h"
#include "image_object.h"
#include "inflater.h"
#include "picture_file.h"

namespace {

constexpr std::uint32_t kMagic = 20000630;
enum Compression : unsigned { kNone = 0, kRle = 1, kZips = 2, kZip = 3 };
enum PixelType : std::uint32_t { kHalf = 1, kFloat = 2 };

std::uint32_t little32(const unsigned char* bytes)
{
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

std::int32_t littleSigned32(const unsigned char* bytes)
{
    const std::uint32_t value = little32(bytes);
    std::int32_t result;
    std::memcpy(&result, &value, 4);
    return result;
}

struct Channel {
    std::string name;
    std::uint32_t type = 0;
    unsigned slot = 0;  // which of the picture's channels it is
};

class ExrDecoder {
public:
    explicit ExrDecoder(const PictureFileRanges& file) : file_(file) {}

    int decode(DecodedPicture& picture)
    {
        const int header = readHeader();
        if (header != imaging_status::kOk)
            return header;
        picture.fileLayout = {SampleType::F32, static_cast<unsigned>(channels_.size())};
        picture.layout = picture.fileLayout;
        lineBytes_ = 0;
        for (const Channel& channel : channels_)
            lineBytes_ += columns_ * (channel.type == kHalf ? 2 : 4);
        linesPerBlock_ = compression_ == kZip ? 16 : 1;
        const std::uint64_t blocks = (rows_ + linesPerBlock_ - 1) / linesPerBlock_;
        // The offsets, a block's data as stored and as lines, and the predictor's copy.
        const std::uint64_t blockBytes = lineBytes_ * linesPerBlock_;
        if (!pictureFits(picture, columns_, rows_, 8 * blocks + 3 * blockBytes))
            return imaging_status::kValueOverflow;
        std::vector<unsigned char> table(static_cast<std::size_t>(8 * blocks));
        if (!file_.read(at_, table.data(), table.size()))
            return imaging_status::kUnknownImageFormat;
        const int allocated = allocatePicture(picture, columns_, rows_);
        if (allocated != imaging_status::kOk)
            return allocated;
        stored_.resize(static_cast<std::size_t>(blockBytes));
        lines_.resize(static_cast<std::size_t>(blockBytes));
        scratch_.resize(static_cast<std::size_t>(blockBytes));
        if (compression_ == kZip || compression_ == kZips) {
            inflater_.reset(new (std::nothrow) Inflater);
            if (!inflater_ || !inflater_->ok())
                return imaging_status::kOutOfMemory;
        }
        for (std::uint64_t block = 0; block < blocks; ++block) {
            std::uint64_t offset = 0;
            for (unsigned i = 0; i < 8; ++i)
                offset |= std::uint64_t{table[8 * block + i]} << (8 * i);
            if (!readBlock(block, offset, picture))
                return imaging_status::kUnknownImageFormat;
        }
        return imaging_status::kOk;
    }

private:
    // A string ended by a zero byte at at_, of at most `longest` bytes; at_ moves past it.
    bool readName(std::string& name, std::size_t longest)
    {
        char bytes[256];
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(longest + 1, file_.bytes() - at_));
        if (at_ >= file_.bytes() || !file_.read(at_, bytes, count))
            return false;
        const void* end = std::memchr(bytes, 0, count);
        if (end == nullptr)
            return false;
        name.assign(bytes, static_cast<std::size_t>(static_cast<const char*>(end) - bytes));
        at_ += name.size() + 1;
        return true;
    }

    int readHeader()
    {
        unsigned char start[8];
        if (!file_.read(0, start, sizeof start) || little32(start) != kMagic)
            return kNotMine;
        const std::uint32_t version = little32(start + 4);
        // Version 2; of the flags only long names (tiles, deep data and parts are not read).
        if ((version & 0xFF) != 2 || (version & ~0x4FFu) != 0)
            return imaging_status::kUnknownImageFormat;
        const std::size_t longest = (version & 0x400u) != 0 ? 255 : 31;
        at_ = 8;
        bool haveChannels = false, haveCompression = false, haveWindow = false;
        for (;;) {
            std::string name, type;
            if (!readName(name, longest))
                return imaging_status::kUnknownImageFormat;
            if (name.empty())
                break;  // the header's end
            unsigned char sizeBytes[4];
            if (!readName(type, longest) || !file_.read(at_, sizeBytes, 4))
                return imaging_status::kUnknownImageFormat;
            const std::uint32_t size = little32(sizeBytes);
            at_ += 4;
            if (size > INT32_MAX || !file_.holds(at_, size))
                return imaging_status::kUnknownImageFormat;
            if (name == "channels" && type == "chlist") {
                if (!readChannels(size))
                    return imaging_status::kUnknownImageFormat;
                haveChannels = true;
            } else if (name == "compression" && type == "compression" && size == 1) {
                unsigned char value;
                if (!file_.read(at_, &value, 1) || value > kZip)
                    return imaging_status::kUnknownImageFormat;  // PIZ, PXR24, B44, DWA...
                compression_ = value;
                haveCompression = true;
            } else if (name == "dataWindow" && type == "box2i" && size == 16) {
                unsigned char box[16];
                if (!file_.read(at_, box, sizeof box))
                    return imaging_status::kUnknownImageFormat;
                const std::int64_t xMin = littleSigned32(box), yMin = littleSigned32(box + 4);
                const std::int64_t xMax = littleSigned32(box + 8), yMax = littleSigned32(box + 12);
                if (xMax < xMin || yMax < yMin || xMax - xMin >= kMaxPictureSide || yMax - yMin >= kMaxPictureSide)
                    return imaging_status::kUnknownImageFormat;
                firstLine_ = yMin;
                columns_ = static_cast<std::uint64_t>(xMax - xMin + 1);
                rows_ = static_cast<std::uint64_t>(yMax - yMin + 1);
                haveWindow = true;
            }
            at_ += size;
        }
        return haveChannels && haveCompression && haveWindow ? imaging_status::kOk : imaging_status::kUnknownImageFormat;
    }

    // The channel list: each name, its pixel type, a byte of linearity, three reserved and the
    // two sampling rates; a zero byte ends it.
    bool readChannels(std::uint32_t size)
    {
        std::vector<unsigned char> list(size);
        if (size == 0 || !file_.read(at_, list.data(), size) || list.back() != 0)
            return false;
        channels_.clear();
        std::size_t at = 0;
        for (;;) {
            if (at == size)
                return false;  // no zero byte after the last channel
            if (list[at] == 0)
                break;
            const void* end = std::memchr(list.data() + at, 0, size - at);
            const std::size_t length = static_cast<const unsigned char*>(end) - (list.data() + at);
            if (at + length + 1 + 16 > size || channels_.size() == 4)
                return false;
            Channel channel;
            channel.name.assign(reinterpret_cast<const char*>(list.data() + at), length);
            const unsigned char* fields = list.data() + at + length + 1;
            channel.type = little32(fields);
            if ((channel.type != kHalf && channel.type != kFloat) || little32(fields + 8) != 1 ||
                little32(fields + 12) != 1)
                return false;
            channels_.push_back(channel);
            at += length + 1 + 16;
        }
        // The channels the picture holds, and where each goes.
        static const char* const kSets[4][4] = {{"Y"}, {"Y", "A"}, {"R", "G", "B"}, {"R", "G", "B", "A"}};
        if (channels_.empty())
            return false;
        const auto* set = kSets[channels_.size() - 1];
        for (Channel& channel : channels_) {
            const auto* found = std::find_if(set, set + channels_.size(),
                                             [&](const char* name) { return channel.name == name; });
            if (found == set + channels_.size())
                return false;
            channel.slot = static_cast<unsigned>(found - set);
        }
        for (std::size_t i = 0; i < channels_.size(); ++i)
            for (std::size_t j = i + 1; j < channels_.size(); ++j)
                if (channels_[i].slot == channels_[j].slot)
                    return false;
        return true;
    }

    bool readBlock(std::uint64_t block, std::uint64_t offset, DecodedPicture& picture)
    {
        unsigned char head[8];
        if (!file_.read(offset, head, sizeof head))
            return false;
        const std::int64_t first = firstLine_ + static_cast<std::int64_t>(block * linesPerBlock_);
        const std::uint64_t lines = std::min<std::uint64_t>(linesPerBlock_, rows_ - block * linesPerBlock_);
        const std::uint64_t raw = lines * lineBytes_;
        const std::uint32_t size = little32(head + 4);
        if (littleSigned32(head) != first || size > raw || !file_.read(offset + 8, stored_.data(), size))
            return false;
        const unsigned char* data = stored_.data();
        if (size < raw) {  // compressed; a block that would not get smaller is stored as it is
            if (compression_ == kNone || !(compression_ == kRle ? unpackRuns(size, raw) : inflate(size, raw)))
                return false;
            undoPrediction(static_cast<std::size_t>(raw));
            data = lines_.data();
        }
        for (std::uint64_t line = 0; line < lines; ++line) {
            const unsigned char* from = data + line * lineBytes_;
            const auto row = static_cast<std::size_t>(block * linesPerBlock_ + line);
            for (const Channel& channel : channels_) {
                auto* out = pixelAt(picture, 0, row) + 4 * channel.slot;
                const std::size_t step = 4 * channels_.size();
                for (std::uint64_t x = 0; x < columns_; ++x, out += step) {
                    float value;
                    if (channel.type == kHalf) {
                        value = halfToFloat(static_cast<std::uint16_t>(from[0] | from[1] << 8));
                        from += 2;
                    } else {
                        const std::uint32_t bits = little32(from);
                        std::memcpy(&value, &bits, 4);
                        from += 4;
                    }
                    std::memcpy(out, &value, 4);
                }
            }
        }
        return true;
    }

    // ZIP and ZIPS: a zlib stream that holds exactly the block's bytes.
    bool inflate(std::uint32_t size, std::uint64_t raw)
    {
        Inflater& inflater = *inflater_;
        inflater.reset();
        inflater.nextIn = stored_.data();
        inflater.availIn = size;
        inflater.nextOut = scratch_.data();
        inflater.availOut = static_cast<std::uint32_t>(raw);
        Inflater::Result result = inflater.run();
        // The stream must end there: asked for one byte more, it gives none.
        unsigned char more;
        while (result == Inflater::Result::kMore && inflater.availOut == 0) {
            inflater.nextOut = &more;
            inflater.availOut = 1;
            const std::uint32_t before = inflater.availIn;
            result = inflater.run();
            if (inflater.availOut == 0 || (result == Inflater::Result::kMore && inflater.availIn == before))
                return false;
        }
        return result == Inflater::Result::kEnd && inflater.availOut == 0;
    }

    // RLE: a negative count byte, then that many bytes as they are; otherwise one byte
    // repeated count + 1 times.
    bool unpackRuns(std::uint32_t size, std::uint64_t raw)
    {
        std::size_t in = 0, out = 0;
        while (in < size) {
            const auto count = static_cast<std::int8_t>(stored_[in++]);
            if (count < 0) {
                const auto run = static_cast<std::size_t>(-count);
                if (run > size - in || run > raw - out)
                    return false;
                std::memcpy(scratch_.data() + out, stored_.data() + in, run);
                in += run;
                out += run;
            } else {
                const auto run = static_cast<std::size_t>(count) + 1;
                if (in == size || run > raw - out)
                    return false;
                std::memset(scratch_.data() + out, stored_[in++], run);
                out += run;
            }
        }
        return out == raw;
    }

    // Each byte was stored as its difference from the one before (plus 128), the even-numbered
    // bytes first, then the odd: undone from scratch_ into lines_.
    void undoPrediction(std::size_t bytes)
    {
        unsigned char* t = scratch_.data();
        for (std::size_t i = 1; i < bytes; ++i)
            t[i] = static_cast<unsigned char>(t[i - 1] + t[i] - 128);
        const std::size_t evens = (bytes + 1) / 2;
        for (std::size_t i = 0; i < evens; ++i)
            lines_[2 * i] = t[i];
        for (std::size_t i = 0; evens + i < bytes; ++i)
            lines_[2 * i + 1] = t[evens + i];
    }

    const PictureFileRanges& file_;
    std::uint64_t at_ = 0;  // where the header is read
    std::vector<Channel> channels_;
    unsigned compression_ = kNone;
    std::int64_t firstLine_ = 0;
    std::uint64_t columns_ = 0, rows_ = 0;
    std::uint64_t lineBytes_ = 0;
    std::uint64_t linesPerBlock_ = 1;
    std::vector<unsigned char> stored_;   // a block as the file holds it
    std::vector<unsigned char> scratch_;  // its bytes uncompressed, still predicted
    std::vector<unsigned char> lines_;    // its lines
    std::unique_ptr<Inflater> inflater_;
};

}  // namespace

int readExrDirect(const char* path, DecodedPicture& picture)
{
    const PictureFile file = openPictureFile(path);
    std::uint64_t bytes = 0;
    if (!file || !pictureFileBytes(file.get(), bytes))
        return kNotMine;
    const PictureFileRanges ranges(file.get(), bytes);
    try {
        auto decoder = std::make_unique<ExrDecoder>(ranges);
        return finishDirectRead(decoder->decode(picture), picture);
    } catch (const std::bad_alloc&) {
        return finishDirectRead(imaging_status::kValueOverflow, picture);
    }
}
