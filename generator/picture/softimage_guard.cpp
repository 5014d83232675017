// Softimage PIC files checked before OpenImageIO 2.4's reader sees them (format_guards.h).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "format_guards.h"
#include "image_object.h"

namespace format_guards {

// OpenImageIO 2.4's Softimage reader writes a channel where its name puts it (alpha fourth)
// whatever the picture's channel count, and a run as long as its count says, past the row's
// end if need be; a row it cannot read closes the file under the next read, which crashes;
// in a pure run-length packet it takes every pixel of more than one byte for missing; and
// it reads uncompressed packets as black. So the file is walked first, packet by packet
// and row by row as that reader walks it, and refused unless its packets are run-length
// coded, their channels the first ones (red, green, blue, alpha) named once each at one
// depth, and every row of every packet ends at the row's end inside the file.
int checkSoftimage(const char* path)
{
    const File file = openFile(path);
    unsigned char header[104];
    if (!file || std::fread(header, 1, sizeof header, file.get()) != sizeof header)
        return imaging_status::kUnknownImageFormat;
    const std::uint32_t width = header[92] << 8 | header[93];
    const std::uint32_t height = header[94] << 8 | header[95];
    enum Coding { kUncompressed, kPureRuns, kMixedRuns };
    struct Packet {
        std::uint32_t pixelBytes;
        int coding;
    };
    std::vector<Packet> packets;
    unsigned named = 0;  // channel bits: red 0x80, green 0x40, blue 0x20, alpha 0x10
    unsigned bits = 0;
    unsigned char packet[4];  // chained, bits a sample, coding, channels
    do {
        if (packets.size() == 4 || std::fread(packet, 1, sizeof packet, file.get()) != sizeof packet)
            return imaging_status::kUnknownImageFormat;
        const unsigned channels = packet[3] & 0xF0u;
        const int coding = packet[2] & 3;
        if (channels == 0 || (channels & named) != 0 || (packet[1] != 8 && packet[1] != 16) ||
            (bits != 0 && packet[1] != bits) || (coding != kPureRuns && coding != kMixedRuns))
            return imaging_status::kUnknownImageFormat;
        named |= channels;
        bits = packet[1];
        packets.push_back({static_cast<std::uint32_t>(__builtin_popcount(channels)) * bits / 8, coding});
    } while (packet[0] != 0);
    if ((named != 0x80 && named != 0xC0 && named != 0xE0 && named != 0xF0) || width == 0 || height == 0)
        return imaging_status::kUnknownImageFormat;
    const auto skip = [&](std::uint64_t bytes) {
        return std::fseek(file.get(), static_cast<long>(bytes), SEEK_CUR) == 0;
    };
    const auto next = [&]() { return std::fgetc(file.get()); };  // EOF at the end
    for (std::uint32_t y = 0; y < height; ++y) {
        for (const Packet& p : packets) {
            if (p.coding == kPureRuns && p.pixelBytes != 1)
                return imaging_status::kUnknownImageFormat;
            for (std::uint32_t done = 0; done < width;) {
                const int count = next();
                std::uint32_t pixels = 0;
                std::uint64_t bytes = p.pixelBytes;
                if (count == EOF) {
                    return imaging_status::kUnknownImageFormat;
                } else if (p.coding == kPureRuns) {
                    pixels = static_cast<std::uint32_t>(count);
                } else if (count < 128) {  // count + 1 pixels as they are, cut at the row's end
                    pixels = std::min<std::uint32_t>(count + 1, width - done);
                    bytes = std::uint64_t{pixels} * p.pixelBytes;
                } else if (count == 128) {  // a run whose length follows in 16 bits
                    const int high = next(), low = next();
                    if (high == EOF || low == EOF)
                        return imaging_status::kUnknownImageFormat;
                    pixels = static_cast<std::uint32_t>(high << 8 | low);
                } else {
                    pixels = static_cast<std::uint32_t>(count - 127);
                }
                if (pixels == 0 || pixels > width - done || !skip(bytes))
                    return imaging_status::kUnknownImageFormat;
                done += pixels;
            }
        }
    }
    // fseek goes past the end without complaint: the last pixel must be in the file.
    const long end = std::ftell(file.get());
    if (end < 0 || std::fseek(file.get(), 0, SEEK_END) != 0 || std::ftell(file.get()) < end)
        return imaging_status::kUnknownImageFormat;
    return imaging_status::kOk;
}

}  // namespace format_guards
