// The canvas of frame pictures (canvas_check.h).
#include "canvas_check.h"

#include <algorithm>

#include "image_object.h"

bool canvasHeld(std::uint64_t width, std::uint64_t height, std::uint64_t left, std::uint64_t top,
                std::uint64_t frameWidth, std::uint64_t frameHeight, std::uint64_t fileBytes)
{
    // Sides are at most 24 bits (WebP) or 16 bits (GIF): no product here can wrap.
    const std::uint64_t coveredWidth = left < width ? std::min(frameWidth, width - left) : 0;
    const std::uint64_t coveredHeight = top < height ? std::min(frameHeight, height - top) : 0;
    const std::uint64_t uncovered = width * height - coveredWidth * coveredHeight;
    return uncovered / 128 <= fileBytes;
}

int checkGifCanvas(std::FILE* file, std::uint64_t fileBytes, std::uint64_t& width, std::uint64_t& height)
{
    unsigned char header[13];
    if (std::fread(header, 1, sizeof header, file) != sizeof header)
        return imaging_status::kUnknownImageFormat;
    const auto little16 = [](const unsigned char* bytes) { return std::uint64_t{bytes[0]} | std::uint64_t{bytes[1]} << 8; };
    width = little16(header + 6);
    height = little16(header + 8);
    // The global colour table, then extensions (a label and sub-blocks) up to the first image.
    if ((header[10] & 0x80) != 0 && std::fseek(file, 3L << ((header[10] & 7) + 1), SEEK_CUR) != 0)
        return imaging_status::kUnknownImageFormat;
    for (;;) {
        const int introducer = std::fgetc(file);
        if (introducer == 0x2C)
            break;
        if (introducer != 0x21 || std::fgetc(file) == EOF)
            return imaging_status::kUnknownImageFormat;  // the trailer, the end or garbage: no image
        for (int size = std::fgetc(file); size != 0; size = std::fgetc(file))
            if (size == EOF || std::fseek(file, size, SEEK_CUR) != 0)
                return imaging_status::kUnknownImageFormat;
    }
    unsigned char place[8];
    if (std::fread(place, 1, sizeof place, file) != sizeof place)
        return imaging_status::kUnknownImageFormat;
    return canvasHeld(width, height, little16(place), little16(place + 2), little16(place + 4), little16(place + 6),
                      fileBytes)
               ? imaging_status::kOk
               : imaging_status::kUnknownImageFormat;
}
