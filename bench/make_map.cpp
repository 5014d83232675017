// Writes a synthetic equirectangular test map of any size as PNG, a row at a time, so that
// maps far larger than memory can be made for the scale benchmark: smooth colour bands in
// longitude and latitude with a little noise, 8-bit RGB, fast compression.
// Usage: orbilune-make-map OUT.png WIDTH HEIGHT
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s OUT.png WIDTH HEIGHT\n", argv[0]);
        return 2;
    }
    const auto width = static_cast<png_uint_32>(std::strtoul(argv[2], nullptr, 10));
    const auto height = static_cast<png_uint_32>(std::strtoul(argv[3], nullptr, 10));
    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr || width == 0 || height == 0) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_compression_level(png, 1);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<png_byte> row(static_cast<std::size_t>(width) * 3);
    std::uint32_t state = 1;
    for (png_uint_32 y = 0; y < height; ++y) {
        const double v = static_cast<double>(y) / height;
        for (png_uint_32 x = 0; x < width; ++x) {
            const double u = static_cast<double>(x) / width;
            state = state * 1664525u + 1013904223u;
            const int noise = static_cast<int>(state >> 28) - 8;
            const double r = 127 + 100 * std::sin(6.2831853 * 3 * u) * std::cos(6.2831853 * v);
            const double g = 255 * v;
            const double b = 127 + 120 * std::cos(6.2831853 * 5 * (u + v));
            const double channels[3] = {r, g, b};
            for (int c = 0; c < 3; ++c)
                row[3 * x + c] = static_cast<png_byte>(std::min(255.0, std::max(0.0, channels[c] + noise)));
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 ? 0 : 1;
}
