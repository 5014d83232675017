// DDS files checked before OpenImageIO 2.4's reader sees them (format_guards.h).
#include <cstdint>

#include "format_guards.h"
#include "image_object.h"

namespace format_guards {

// OpenImageIO 2.4's DDS reader spreads each channel's field over 8 bits by repeating it in
// steps of the field's width, which for an empty mask is a step of nothing: it never ends.
// An uncompressed DDS is refused unless every channel its flags name has a mask.
int checkDds(const char* path)
{
    const File file = openFile(path);
    unsigned char header[128];
    if (!file || std::fread(header, 1, sizeof header, file.get()) != sizeof header)
        return imaging_status::kUnknownImageFormat;
    const auto littleEndian32 = [&header](std::size_t at) {
        return std::uint32_t{header[at]} | std::uint32_t{header[at + 1]} << 8 |
               std::uint32_t{header[at + 2]} << 16 | std::uint32_t{header[at + 3]} << 24;
    };
    constexpr std::uint32_t kAlphaPixels = 0x1, kAlpha = 0x2, kFourCc = 0x4, kRgb = 0x40, kLuminance = 0x20000;
    const std::uint32_t flags = littleEndian32(80);
    if ((flags & kFourCc) != 0)
        return imaging_status::kOk;  // compressed blocks, no masks
    const std::uint32_t red = littleEndian32(92), green = littleEndian32(96), blue = littleEndian32(100),
                        alpha = littleEndian32(104);
    if (((flags & kRgb) != 0 && (red == 0 || green == 0 || blue == 0)) ||
        ((flags & kLuminance) != 0 && red == 0) || ((flags & (kAlpha | kAlphaPixels)) != 0 && alpha == 0))
        return imaging_status::kUnknownImageFormat;
    return imaging_status::kOk;
}

}  // namespace format_guards
