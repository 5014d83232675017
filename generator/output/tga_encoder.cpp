// TGA: the header of texture_file.h, then the rows top to bottom, uncompressed: grey, or
// blue, green, red (and alpha) for colour.
#include "texture_file.h"

#include "encoder_parts.h"

namespace output {

bool encodeTga(const SampleImage& image, Bytes& file)
{
    const unsigned channels = image.layout.channels;
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * channels;
    file.resize(kTgaHeaderSize + rowBytes * image.height);
    writeTgaHeader(file.data(), image.width, image.height, channels);
    unsigned char* to = file.data() + kTgaHeaderSize;
    for (std::uint32_t row = 0; row < image.height; ++row, to += rowBytes) {
        const unsigned char* from = rowOf(image, row);
        if (channels == 1) {
            std::memcpy(to, from, rowBytes);
            continue;
        }
        for (std::size_t at = 0; at < rowBytes; at += channels) {
            to[at] = from[at + 2];
            to[at + 1] = from[at + 1];
            to[at + 2] = from[at];
            if (channels == 4)
                to[at + 3] = from[at + 3];
        }
    }
    return true;
}

}  // namespace output
