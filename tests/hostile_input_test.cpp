// Pictures that want more memory than the machine has are refused for it, by every reader,
// before their pixels are allocated.
#include <gtest/gtest.h>

#include <isa-l/crc.h>

#include <cstring>
#include <string>
#include <vector>

#include "decoded_picture.h"
#include "test_support.h"
#include "texture_job.h"

namespace {

using testing_support::CapturedErrors;
using testing_support::runIntoMemory;
using testing_support::ScratchDir;
using testing_support::SinkCalls;

void putBigEndian(std::vector<unsigned char>& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(value >> shift));
}

// A PNG of 8-bit RGB that declares its size and ends before any image data.
std::vector<unsigned char> pngHeaderOnly(std::uint32_t width, std::uint32_t height)
{
    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    putBigEndian(png, 13);
    const std::size_t typeAt = png.size();
    png.insert(png.end(), {'I', 'H', 'D', 'R'});
    putBigEndian(png, width);
    putBigEndian(png, height);
    png.insert(png.end(), {8, 2, 0, 0, 0});
    putBigEndian(png, crc32_gzip_refl(0, png.data() + typeAt, png.size() - typeAt));
    return png;
}

// Stands for a machine of `bytes` of memory while it lives.
class MemoryLimit {
public:
    explicit MemoryLimit(std::uint64_t bytes) { pictureMemory.limitBytes = bytes; }
    ~MemoryLimit() { pictureMemory.limitBytes = 0; }
};

TEST(PictureMemory, APictureLargerThanMemoryIsRefusedForItsSize)
{
    ScratchDir dir;
    // 300 × 200 pixels in padded rows of 304 words: 243,200 bytes. OpenImageIO's reader
    // (of the PPM) also holds a band of the file's own pixels, here all 200 rows of 300 × 3
    // bytes.
    const std::string bmp = dir.writeBmp("map.bmp", testing_support::noisePicture(300, 200));
    std::vector<unsigned char> ppm = {'P', '6', ' ', '3', '0', '0', ' ', '2', '0', '0', ' ', '2', '5', '5', '\n'};
    ppm.resize(ppm.size() + 300 * 200 * 3, 0x5A);
    const std::string pnm = dir.write("map.ppm", ppm);
    const std::string png = dir.write("map.png", pngHeaderOnly(300, 200));
    // Kept at their own depth (for TIFF textures of the map's own samples), the pixels take
    // what their samples take: rows of 301 pixels of three 16-bit samples, one of 11 lines of
    // 64 bytes of grey signed 16-bit samples, 301 pixels of three floats.
    std::vector<unsigned char> ppm16 = {'P', '6', ' ', '3', '0', '0', ' ', '2', '0', '0', ' ',
                                        '6', '5', '5', '3', '5', '\n'};
    ppm16.resize(ppm16.size() + 300 * 200 * 6, 0xA5);
    std::string fitsHeader;
    for (const char* card : {"SIMPLE  =                    T", "BITPIX  =                   16",
                             "NAXIS   =                    2", "NAXIS1  =                  300",
                             "NAXIS2  =                  200", "END"})
        fitsHeader += std::string(card).append(80 - std::strlen(card), ' ');
    std::vector<unsigned char> fits(fitsHeader.begin(), fitsHeader.end());
    fits.resize(2880 + 300 * 200 * 2, ' ');
    std::vector<unsigned char> pfm = {'P', 'F', ' ', '3', '0', '0', ' ', '2', '0', '0', ' ', '-', '1', '\n'};
    pfm.resize(pfm.size() + 300 * 200 * 12, 0);
    TextureOutput ownSamples;
    ownSamples.format = TextureFormat::Tiff;
    ownSamples.channels = TextureChannels::Auto;
    ownSamples.depth = TextureDepth::Auto;
    const std::string wide = dir.write("wide.ppm", ppm16), signedMap = dir.write("heights.fits", fits),
                      floats = dir.write("floats.pfm", pfm);
    const struct {
        const char* what;
        std::string path;
        std::uint64_t limit;
        const char* message;  // null: ten textures
        bool keep = false;    // TIFF textures of the map's own samples
    } rows[] = {
        {"OpenImageIO's reader, one byte short", pnm, 243200 + 180000 - 1, messages::kImageTooLarge},
        {"OpenImageIO's reader, exactly enough", pnm, 243200 + 180000, nullptr},
        {"Orbilune's BMP reader, one byte short", bmp, 243199, messages::kImageTooLarge},
        {"Orbilune's BMP reader, exactly enough", bmp, 243200, nullptr},
        {"Orbilune's PNG reader, one byte short", png, 243199, messages::kImageTooLarge},
        // Enough memory, so the missing data is what refuses it.
        {"Orbilune's PNG reader, exactly enough", png, 243200, messages::kCouldntOpenImage},
        // Kept samples; the Netpbm reader of 16-bit samples also holds a row of the file.
        {"16-bit Netpbm kept, one byte short", wide, 301 * 200 * 6 + 1800 - 1, messages::kImageTooLarge, true},
        {"16-bit Netpbm kept, exactly enough", wide, 301 * 200 * 6 + 1800, nullptr, true},
        {"Orbilune's FITS reader kept, one byte short", signedMap, 11 * 64 * 200 - 1, messages::kImageTooLarge, true},
        {"Orbilune's FITS reader kept, exactly enough", signedMap, 11 * 64 * 200, nullptr, true},
        {"OpenImageIO's reader kept, one byte short", floats, 301 * 200 * 12 + 200 * 300 * 12 - 1,
         messages::kImageTooLarge, true},
        {"OpenImageIO's reader kept, exactly enough", floats, 301 * 200 * 12 + 200 * 300 * 12, nullptr, true},
    };
    for (const auto& row : rows) {
        MemoryLimit limit(row.limit);
        CapturedErrors errors;
        SinkCalls calls;
        const int result =
            runIntoMemory(row.path, 8, TextureFilter::Nearest, calls, row.keep ? ownSamples : TextureOutput{});
        if (row.message == nullptr) {
            EXPECT_EQ(result, 1) << row.what;
            EXPECT_EQ(calls.names.size(), 10u) << row.what;
            EXPECT_TRUE(errors.messages().empty()) << row.what;
        } else {
            EXPECT_EQ(result, 0) << row.what;
            EXPECT_TRUE(calls.names.empty()) << row.what;
            EXPECT_EQ(errors.messages(), std::vector<std::string>{row.message}) << row.what;
        }
    }
}

}  // namespace
