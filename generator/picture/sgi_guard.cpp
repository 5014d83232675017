// SGI files checked before OpenImageIO 2.4's reader sees them (format_guards.h).
#include <cstdint>
#include <cstdio>
#include <vector>

#include "format_guards.h"
#include "image_object.h"

namespace format_guards {

// OpenImageIO 2.4's SGI reader trusts the file: it sizes its tables of rows by the header's
// height times its channels (65535 × 65535 of them, zero-filled, at a header's word), each
// row's buffer by the length the table gives it, and it aborts the whole program on a run
// that overfills a row. So the header, the tables and every run are checked first: at most
// four channels of one or two bytes, tables and rows inside the file, runs inside their rows.
int checkSgi(const char* path)
{
    const File file = openFile(path);
    if (!file || std::fseek(file.get(), 0, SEEK_END) != 0)
        return imaging_status::kUnknownImageFormat;
    const long fileSize = std::ftell(file.get());
    unsigned char header[512];
    if (fileSize < 512 || std::fseek(file.get(), 0, SEEK_SET) != 0 ||
        std::fread(header, 1, sizeof header, file.get()) != sizeof header)
        return imaging_status::kUnknownImageFormat;
    const auto bigEndian16 = [](const unsigned char* b) { return static_cast<std::uint32_t>(b[0] << 8 | b[1]); };
    const bool runs = header[2] == 1;
    const std::uint32_t sampleBytes = header[3];
    const std::uint32_t dimension = bigEndian16(header + 4);
    const std::uint32_t width = bigEndian16(header + 6);
    const std::uint32_t tableRows = bigEndian16(header + 8);
    const std::uint32_t tableChannels = bigEndian16(header + 10);
    // The rows and channels the reader reads, from the dimension; its tables are laid out
    // by the header's height and channels, whatever the dimension.
    const std::uint32_t height = dimension == 1 ? 1 : tableRows;
    const std::uint32_t channels = dimension == 3 ? tableChannels : 1;
    if (header[2] > 1 || (sampleBytes != 1 && sampleBytes != 2) || dimension < 1 || dimension > 3 ||
        width == 0 || height == 0 || channels == 0 || channels > 4)
        return imaging_status::kUnknownImageFormat;
    if (!runs)
        return imaging_status::kOk;  // rows of a known size, read as such
    const std::size_t entries = static_cast<std::size_t>(tableRows) * tableChannels;
    if (static_cast<std::size_t>(height) * channels > entries ||
        static_cast<std::uint64_t>(fileSize) < 512 + 8 * static_cast<std::uint64_t>(entries))
        return imaging_status::kUnknownImageFormat;
    std::vector<unsigned char> tables(8 * entries);
    if (std::fread(tables.data(), 1, tables.size(), file.get()) != tables.size())
        return imaging_status::kUnknownImageFormat;
    const auto bigEndian32 = [](const unsigned char* b) {
        return std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3];
    };
    std::vector<unsigned char> row;
    for (std::uint32_t channel = 0; channel < channels; ++channel) {
        for (std::uint32_t y = 0; y < height; ++y) {
            const std::size_t entry = y + static_cast<std::size_t>(channel) * height;
            const std::uint64_t start = bigEndian32(&tables[4 * entry]);
            const std::uint64_t length = bigEndian32(&tables[4 * (entries + entry)]);
            if (start + length > static_cast<std::uint64_t>(fileSize))
                return imaging_status::kUnknownImageFormat;
            row.resize(length);
            if (std::fseek(file.get(), static_cast<long>(start), SEEK_SET) != 0 ||
                std::fread(row.data(), 1, length, file.get()) != length)
                return imaging_status::kUnknownImageFormat;
            // A count of up to 127; with the high bit, that many samples follow, without it
            // one sample to repeat; a count of 0 ends the row.
            std::uint64_t left = width;
            for (std::size_t at = 0; at + sampleBytes <= length;) {
                const std::uint32_t count = row[at + sampleBytes - 1] & 0x7Fu;
                const bool literal = (row[at + sampleBytes - 1] & 0x80u) != 0;
                at += sampleBytes;
                if (count == 0)
                    break;
                const std::uint64_t samples = literal ? count : 1;
                if (count > left || at + samples * sampleBytes > length)
                    return imaging_status::kUnknownImageFormat;
                left -= count;
                at += samples * sampleBytes;
            }
        }
    }
    return imaging_status::kOk;
}

}  // namespace format_guards
