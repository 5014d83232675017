// Writes the benchmark's synthetic equirectangular test map, of any size, as PNG, a row at a
// time, so that maps far larger than memory can be made too. Smooth colour bands in longitude
// and latitude (red three waves across the map, fading towards the poles; green rising from
// north to south; blue five diagonal waves), each channel with noise of its own (nearly
// normal, standard deviation 12 in 8-bit steps) so that the PNG compresses and decodes like a
// real photograph rather than a flat drawing. zlib level 3, libpng's own choice of row
// filters. The same seed gives the same file.
//
// The same map in four layouts, for the data-map rows of the benchmark:
//   rgb8    8-bit RGB (the default, and the map of every other table);
//   grey16  16-bit grey: the Rec. 709 luma of the colours, with noise of its own, in 16-bit
//           steps (so that the low bytes are as busy as a real 16-bit map's);
//   rgba8   8-bit RGB as rgb8, and alpha: two waves across the map and three down, from fully
//           transparent to opaque, with noise;
//   rgb16   16-bit RGB: the colours of rgb8 in 16-bit steps, with noise.
// Usage: orbilune-make-map OUT.png WIDTH HEIGHT [rgb8|grey16|rgba8|rgb16]
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979323846;

// xorshift64*: fast, and with no short cycles in its low bits, unlike a plain LCG.
struct Random {
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    std::uint32_t next()
    {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return static_cast<std::uint32_t>((state * 0x2545F4914F6CDD1Du) >> 32);
    }
    // The sum of four uniform bytes (Irwin-Hall), centred and scaled to a standard
    // deviation of 12: close enough to normal noise, at one draw a sample.
    float noise()
    {
        const std::uint32_t r = next();
        const int sum = static_cast<int>((r & 0xFF) + ((r >> 8) & 0xFF) + ((r >> 16) & 0xFF) + (r >> 24));
        constexpr float scale = 12.0f / 147.80f;  // 147.80 = sqrt(4 * (256^2 - 1) / 12)
        return static_cast<float>(sum - 510) * scale;
    }
};

png_byte toByte(float value)
{
    return static_cast<png_byte>(std::min(255.0f, std::max(0.0f, value)));
}

// A value of the 8-bit scale (0 to 255) as a 16-bit sample, big-endian as PNG stores it.
void put16(float value, png_byte* out)
{
    const auto sample = static_cast<unsigned>(std::min(65535.0f, std::max(0.0f, value * 257.0f)));
    out[0] = static_cast<png_byte>(sample >> 8);
    out[1] = static_cast<png_byte>(sample & 0xFF);
}

enum class Layout { Rgb8, Grey16, Rgba8, Rgb16 };

struct LayoutName {
    const char* name;
    Layout layout;
    int colourType;
    int bitDepth;
    unsigned bytesPerPixel;
};
constexpr LayoutName kLayouts[] = {
    {"rgb8", Layout::Rgb8, PNG_COLOR_TYPE_RGB, 8, 3},
    {"grey16", Layout::Grey16, PNG_COLOR_TYPE_GRAY, 16, 2},
    {"rgba8", Layout::Rgba8, PNG_COLOR_TYPE_RGB_ALPHA, 8, 4},
    {"rgb16", Layout::Rgb16, PNG_COLOR_TYPE_RGB, 16, 6},
};

// libpng's errors (a full disk, say) end the program: nothing here is worth unwinding.
[[noreturn]] void pngError(png_structp, png_const_charp message)
{
    std::fprintf(stderr, "cannot write the map: %s\n", message);
    std::exit(1);
}

}  // namespace

int main(int argc, char** argv)
{
    const LayoutName* layout = &kLayouts[0];
    if (argc == 5) {
        layout = nullptr;
        for (const LayoutName& known : kLayouts)
            if (std::strcmp(argv[4], known.name) == 0)
                layout = &known;
    }
    if ((argc != 4 && argc != 5) || layout == nullptr) {
        std::fprintf(stderr, "usage: %s OUT.png WIDTH HEIGHT [rgb8|grey16|rgba8|rgb16]\n", argv[0]);
        return 2;
    }
    const unsigned long width = std::strtoul(argv[2], nullptr, 10);
    const unsigned long height = std::strtoul(argv[3], nullptr, 10);
    if (width == 0 || height == 0 || width > PNG_USER_WIDTH_MAX || height > PNG_USER_HEIGHT_MAX) {
        std::fprintf(stderr, "%s: width and height must be from 1 to %d\n", argv[0], PNG_USER_WIDTH_MAX);
        return 2;
    }
    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, nullptr);
    png_infop info = png_create_info_struct(png);
    if (png == nullptr || info == nullptr) {
        std::fprintf(stderr, "cannot write %s: out of memory\n", argv[1]);
        return 1;
    }
    png_init_io(png, file);
    png_set_compression_level(png, 3);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), layout->bitDepth,
                 layout->colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);

    // Longitude u and latitude v run from 0 at the first column or row to 1 at the last.
    // What depends on u alone is tabled once; the blue waves, cos(10 pi (u + v)), split into
    // a column's and a row's sines and cosines.
    std::vector<float> redWave(width), blueCos(width), blueSin(width), alphaWave(width);
    for (unsigned long x = 0; x < width; ++x) {
        const double u = width > 1 ? static_cast<double>(x) / static_cast<double>(width - 1) : 0.0;
        redWave[x] = static_cast<float>(100 * std::sin(2 * pi * 3 * u));
        blueCos[x] = static_cast<float>(120 * std::cos(2 * pi * 5 * u));
        blueSin[x] = static_cast<float>(120 * std::sin(2 * pi * 5 * u));
        alphaWave[x] = static_cast<float>(std::sin(2 * pi * 2 * u));
    }
    std::vector<png_byte> row(width * layout->bytesPerPixel);
    Random random;
    for (unsigned long y = 0; y < height; ++y) {
        const double v = height > 1 ? static_cast<double>(y) / static_cast<double>(height - 1) : 0.0;
        const auto redFade = static_cast<float>(std::cos(2 * pi * v));
        const auto green = static_cast<float>(255 * v);
        const auto cosV = static_cast<float>(std::cos(2 * pi * 5 * v));
        const auto sinV = static_cast<float>(std::sin(2 * pi * 5 * v));
        const auto alphaFade = static_cast<float>(std::cos(2 * pi * 3 * v));
        for (unsigned long x = 0; x < width; ++x) {
            const float red = 127 + redWave[x] * redFade;
            const float blue = 127 + blueCos[x] * cosV - blueSin[x] * sinV;
            png_byte* out = &row[layout->bytesPerPixel * x];
            switch (layout->layout) {
            case Layout::Rgb8:
            case Layout::Rgba8:
                out[0] = toByte(red + random.noise());
                out[1] = toByte(green + random.noise());
                out[2] = toByte(blue + random.noise());
                if (layout->layout == Layout::Rgba8)  // past both ends of 0..255: whole areas clear or opaque
                    out[3] = toByte(127 + 180 * alphaWave[x] * alphaFade + random.noise());
                break;
            case Layout::Grey16:
                put16(0.2126f * red + 0.7152f * green + 0.0722f * blue + random.noise(), out);
                break;
            case Layout::Rgb16:
                put16(red + random.noise(), out);
                put16(green + random.noise(), out + 2);
                put16(blue + random.noise(), out + 4);
                break;
            }
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 ? 0 : 1;
}
