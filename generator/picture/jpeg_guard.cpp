// JPEG files checked before libjpeg, inside OpenImageIO, sees them (format_guards.h).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "format_guards.h"
#include "image_object.h"

namespace format_guards {

namespace {

// libjpeg decodes a progressive JPEG, or one whose first scan holds fewer components than
// the frame, into a buffer of every coefficient of the picture (two bytes a sample, rounded
// up to whole blocks) before the first row comes out, and it touches the coefficients of a
// whole component in every scan, whatever data the scan has. So a header of a few bytes
// declaring a large frame, over scans that hold nothing, fills gigabytes before the data is
// found wanting, and a file of tens of thousands of tiny scans takes minutes. The markers
// are read first, sequentially and cheaply, and such files are refused before libjpeg
// starts:
// - more than kMaxJpegScans scans (encoders write about ten);
// - a file that ends without its EOI marker (libjpeg's warning would refuse it at the end);
// - when the coefficients are held: a component whose DC coefficients no scan starts,
//   scans that visit over kMaxJpegVisits times the picture's blocks, or (above
//   kSmallCoefficientBytes) a scan that starts the DC coefficients with less than one bit
//   of data a block, which no Huffman-coded JPEG has (each block's DC difference takes a
//   code of at least one bit).
// The coefficients are counted with the pixels in the memory check, before libjpeg, which
// allocates them as it opens the file, is called.
constexpr int kMaxJpegScans = 500;
constexpr std::uint64_t kMaxJpegVisits = 64;
constexpr std::uint64_t kSmallCoefficientBytes = std::uint64_t{16} << 20;

// A file read a byte at a time through a buffer of its own.
class ByteReader {
public:
    explicit ByteReader(std::FILE* file) : file_(file) {}
    // The next byte, or -1 at the end of the file.
    int next()
    {
        if (at_ == end_ && !refill())
            return -1;
        return buffer_[at_++];
    }
    // Skips entropy-coded data up to the next marker, counting the bytes skipped; returns
    // the marker's code (the byte after 0xFF), or -1 at the end of the file.
    int skipToMarker(std::uint64_t& skipped)
    {
        for (;;) {
            if (at_ == end_ && !refill())
                return -1;
            const auto* found = static_cast<const unsigned char*>(std::memchr(buffer_ + at_, 0xFF, end_ - at_));
            if (found == nullptr) {
                skipped += end_ - at_;
                at_ = end_;
                continue;
            }
            const auto foundAt = static_cast<std::size_t>(found - buffer_);
            skipped += foundAt - at_;
            at_ = foundAt + 1;
            int code = next();
            while (code == 0xFF)  // fill bytes before a marker
                code = next();
            // A stuffed zero byte or a restart marker belongs to the data.
            if (code == 0x00 || (code >= 0xD0 && code <= 0xD7)) {
                skipped += 2;
                continue;
            }
            return code;
        }
    }
    bool skip(std::size_t bytes)
    {
        for (; bytes > 0; --bytes)
            if (next() < 0)
                return false;
        return true;
    }

private:
    bool refill()
    {
        at_ = 0;
        end_ = std::fread(buffer_, 1, sizeof buffer_, file_);
        return end_ > 0;
    }

    std::FILE* file_;
    unsigned char buffer_[1 << 16];
    std::size_t at_ = 0;
    std::size_t end_ = 0;
};

struct JpegComponent {
    int id = 0;
    std::uint64_t h = 1, v = 1;
    std::uint64_t widthInBlocks = 0, heightInBlocks = 0;
    bool dcStarted = false;  // by a scan of its first DC bits
};

std::uint64_t divideRoundingUp(std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; }

}  // namespace

// Reads the markers of the JPEG file at `path`. Returns kOk with the frame's size and the
// bytes libjpeg will hold beside the pixels in `readerBytes`, or the status it is refused
// with.
int checkJpegMarkers(const char* path, std::uint64_t& width, std::uint64_t& height, std::uint64_t& readerBytes)
{
    readerBytes = 0;
    width = 0;
    height = 0;
    const File file = openFile(path);
    if (!file)
        return imaging_status::kUnknownImageFormat;
    auto reader = std::make_unique<ByteReader>(file.get());
    if (reader->next() != 0xFF || reader->next() != 0xD8)
        return imaging_status::kUnknownImageFormat;
    std::vector<JpegComponent> components;
    std::uint64_t maxH = 1, maxV = 1, totalBlocks = 0;
    bool progressive = false;
    bool wholeBuffer = false;
    int scans = 0;
    std::uint64_t visits = 0;
    // Which scans start the DC coefficients, their blocks and their data: judged once the
    // size of the coefficient buffer is known.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> dcScans;
    int code = reader->next() == 0xFF ? reader->next() : -1;
    for (;;) {
        while (code == 0xFF)
            code = reader->next();
        if (code < 0)
            return imaging_status::kUnknownImageFormat;  // the end of the file before EOI
        if (code == 0xD9)
            break;
        if (code == 0x01 || (code >= 0xD0 && code <= 0xD7)) {  // markers without a segment
            code = reader->next() == 0xFF ? reader->next() : -1;
            continue;
        }
        const int high = reader->next();
        const int low = reader->next();
        if (low < 0 || (high << 8 | low) < 2)
            return imaging_status::kUnknownImageFormat;
        std::size_t length = static_cast<std::size_t>(high << 8 | low) - 2;
        const bool frame = code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
        if (frame) {
            if (!components.empty() || length < 6)
                return imaging_status::kUnknownImageFormat;  // a second frame
            unsigned char header[6];
            for (unsigned char& byte : header) {
                const int value = reader->next();
                if (value < 0)
                    return imaging_status::kUnknownImageFormat;
                byte = static_cast<unsigned char>(value);
            }
            progressive = code == 0xC2 || code == 0xC6 || code == 0xCA || code == 0xCE;
            height = std::uint64_t{header[1]} << 8 | header[2];
            width = std::uint64_t{header[3]} << 8 | header[4];
            const int count = header[5];
            if (count == 0 || length != 6 + 3 * static_cast<std::size_t>(count))
                return imaging_status::kUnknownImageFormat;
            for (int i = 0; i < count; ++i) {
                JpegComponent component;
                component.id = reader->next();
                const int sampling = reader->next();
                if (reader->next() < 0 || sampling < 0)
                    return imaging_status::kUnknownImageFormat;
                component.h = std::max(1, sampling >> 4);
                component.v = std::max(1, sampling & 15);
                maxH = std::max(maxH, component.h);
                maxV = std::max(maxV, component.v);
                components.push_back(component);
            }
            for (JpegComponent& component : components) {
                component.widthInBlocks = divideRoundingUp(width * component.h, maxH * 8);
                component.heightInBlocks = divideRoundingUp(height * component.v, maxV * 8);
                totalBlocks += component.widthInBlocks * component.heightInBlocks;
            }
            code = reader->next() == 0xFF ? reader->next() : -1;
            continue;
        }
        if (code != 0xDA) {  // any other segment is skipped
            if (!reader->skip(length))
                return imaging_status::kUnknownImageFormat;
            code = reader->next() == 0xFF ? reader->next() : -1;
            continue;
        }
        // A scan: its header, then its entropy-coded data up to the next marker.
        if (components.empty() || ++scans > kMaxJpegScans || length < 1)
            return imaging_status::kUnknownImageFormat;
        const int count = reader->next();
        if (count <= 0 || length != 4 + 2 * static_cast<std::size_t>(count))
            return imaging_status::kUnknownImageFormat;
        std::uint64_t blocks = 0;
        std::uint64_t mcuBlocks = 0;
        std::vector<JpegComponent*> scanned;
        for (int i = 0; i < count; ++i) {
            const int id = reader->next();
            reader->next();
            const auto found = std::find_if(components.begin(), components.end(),
                                            [id](const JpegComponent& c) { return c.id == id; });
            if (found == components.end())
                return imaging_status::kUnknownImageFormat;
            blocks = found->widthInBlocks * found->heightInBlocks;  // a scan of one component
            mcuBlocks += found->h * found->v;
            scanned.push_back(&*found);
        }
        if (count > 1)  // interleaved: whole MCUs, padding blocks included
            blocks = divideRoundingUp(width, maxH * 8) * divideRoundingUp(height, maxV * 8) * mcuBlocks;
        const int spectralStart = reader->next();
        reader->next();  // the spectral end
        const int approximation = reader->next();
        if (approximation < 0)
            return imaging_status::kUnknownImageFormat;
        if (spectralStart == 0 && (approximation >> 4) == 0)
            for (JpegComponent* component : scanned)
                component->dcStarted = true;
        if (scans == 1)
            wholeBuffer = progressive || static_cast<std::size_t>(count) < components.size();
        visits += blocks;
        std::uint64_t data = 0;
        code = reader->skipToMarker(data);
        if (spectralStart == 0 && (approximation >> 4) == 0)
            dcScans.emplace_back(blocks, data);
    }
    if (components.empty() || scans == 0)
        return imaging_status::kUnknownImageFormat;
    if (!wholeBuffer)
        return imaging_status::kOk;
    for (const JpegComponent& component : components) {
        readerBytes += (divideRoundingUp(component.widthInBlocks, component.h) * component.h) *
                       (divideRoundingUp(component.heightInBlocks, component.v) * component.v) * 128;
        if (!component.dcStarted)
            return imaging_status::kUnknownImageFormat;  // coefficients refined that never began
    }
    if (visits > kMaxJpegVisits * totalBlocks)
        return imaging_status::kUnknownImageFormat;
    if (readerBytes > kSmallCoefficientBytes)
        for (const auto& [blocks, data] : dcScans)
            if (data * 8 < blocks)
                return imaging_status::kUnknownImageFormat;
    return imaging_status::kOk;
}

}  // namespace format_guards
