// ICO files checked before OpenImageIO 2.4's reader sees them (format_guards.h).
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "decoded_picture.h"
#include "format_guards.h"
#include "image_object.h"

namespace format_guards {

namespace {

std::uint32_t little16(const unsigned char* bytes) { return bytes[0] | std::uint32_t{bytes[1]} << 8; }
std::uint32_t little32(const unsigned char* bytes) { return little16(bytes) | little16(bytes + 2) << 16; }
std::uint32_t big32(const unsigned char* bytes)
{
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 | bytes[3];
}

// A PNG inside an icon, from its signature's end up to its first image data: a header that
// libpng takes, then chunks of sound CRCs, no critical chunk it does not know, a palette
// where the colour type needs one.
bool pngHeadSound(std::FILE* file, std::uint64_t end)
{
    bool header = false, palette = false;
    unsigned colourType = 0;
    for (;;) {
        unsigned char head[8];
        if (std::fread(head, 1, sizeof head, file) != sizeof head)
            return false;
        const std::uint32_t length = big32(head);
        const long at = std::ftell(file);
        if (length > 0x7FFFFFFFu || at < 0 || static_cast<std::uint64_t>(at) + length + 4 > end)
            return false;
        const bool isHeader = std::memcmp(head + 4, "IHDR", 4) == 0;
        const bool isPalette = std::memcmp(head + 4, "PLTE", 4) == 0;
        const bool isData = std::memcmp(head + 4, "IDAT", 4) == 0;
        if (header == isHeader)
            return false;  // the header first, and once
        if (isData)
            return colourType != 3 || palette;
        if ((head[4] & 0x20) == 0 && !isHeader && !isPalette)
            return false;  // a critical chunk libpng would refuse
        std::vector<unsigned char> data(length + 4);
        if (std::fread(data.data(), 1, data.size(), file) != data.size())
            return false;
        uLong crc = crc32(0, head + 4, 4);
        crc = crc32(crc, data.data(), length);
        if (crc != big32(data.data() + length))
            return false;
        if (isHeader) {
            const std::uint32_t width = big32(data.data()), height = big32(data.data() + 4);
            const unsigned depth = data[8];
            colourType = data[9];
            const bool depthFits = (colourType == 0 && (depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16)) ||
                                   (colourType == 3 && (depth == 1 || depth == 2 || depth == 4 || depth == 8)) ||
                                   ((colourType == 2 || colourType == 4 || colourType == 6) && (depth == 8 || depth == 16));
            if (length != 13 || width == 0 || height == 0 || width > kMaxPictureSide || height > kMaxPictureSide ||
                !depthFits || data[10] != 0 || data[11] != 0 || data[12] > 1)
                return false;
            header = true;
        } else if (isPalette) {
            if (palette || length == 0 || length % 3 != 0 || length > 768 || colourType == 0 || colourType == 4)
                return false;
            palette = true;
        }
    }
}

}  // namespace

// OpenImageIO 2.4's ICO reader reads the first icon of the directory. Of a PNG icon it takes
// the channel count from libpng and divides by it: a PNG libpng cannot open gives none, and
// the division ends the program; so its chunks up to the image data are checked as libpng
// reads them. Of a bitmap icon it lays out the size the directory gives, reads as many
// palette entries as the directory's count says whatever the pixel size (indices past them
// read past its table), and writes each row's transparency mask in whole bytes, past the
// picture's end where the width is not a multiple of 8. So a bitmap icon is read only when
// its header is the plain 40-byte one, agrees with the directory, holds a palette of every
// index its pixel size can give, and a mask (below 32 bits a pixel) lies on whole bytes.
int checkIco(const char* path)
{
    const File file = openFile(path);
    unsigned char directory[22];
    if (!file || std::fread(directory, 1, sizeof directory, file.get()) != sizeof directory ||
        std::fseek(file.get(), 0, SEEK_END) != 0)
        return imaging_status::kUnknownImageFormat;
    const long fileBytes = std::ftell(file.get());
    const std::uint32_t width = directory[6] == 0 ? 256 : directory[6];
    const std::uint32_t height = directory[7] == 0 ? 256 : directory[7];
    const std::uint32_t colours = directory[8];
    const std::uint32_t offset = little32(directory + 18);
    if (little16(directory) != 0 || little16(directory + 2) != 1 || little16(directory + 4) == 0 || fileBytes < 0 ||
        offset >= static_cast<std::uint64_t>(fileBytes) || std::fseek(file.get(), static_cast<long>(offset), SEEK_SET) != 0)
        return imaging_status::kUnknownImageFormat;
    unsigned char header[40];
    if (std::fread(header, 1, 8, file.get()) != 8)
        return imaging_status::kUnknownImageFormat;
    if (std::memcmp(header, "\x89PNG\r\n\x1A\n", 8) == 0)
        return pngHeadSound(file.get(), static_cast<std::uint64_t>(fileBytes)) ? imaging_status::kOk
                                                                              : imaging_status::kUnknownImageFormat;
    if (std::fread(header + 8, 1, sizeof header - 8, file.get()) != sizeof header - 8)
        return imaging_status::kUnknownImageFormat;
    // The palette the reader reads (the directory's count, 0 for 256) must be the one the
    // bitmap holds (its own count, 0 for every index) and hold every index.
    const std::uint32_t bits = little16(header + 14);
    const std::uint32_t held = little32(header + 32);
    const bool paletteWhole = bits > 8 || (bits == 1 && colours == 2 && (held == 0 || held == 2)) ||
                              (bits == 4 && colours == 16 && (held == 0 || held == 16)) ||
                              (bits == 8 && colours == 0 && (held == 0 || held == 256));
    if (little32(header) != 40 || little32(header + 4) != width || little32(header + 8) != 2 * height ||
        (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) || !paletteWhole ||
        (bits != 32 && width % 8 != 0))
        return imaging_status::kUnknownImageFormat;
    return imaging_status::kOk;
}

}  // namespace format_guards
