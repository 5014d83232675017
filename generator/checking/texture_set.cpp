// Loading the ten textures and reading them by direction.
#include "texture_set.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "error_report.h"
#include "texture_job.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The bytes of one pixel, in the file's order (blue, green, red, and alpha for 32 bits).
bool readPixel(std::FILE* file, int bytes, std::uint8_t (&bgr)[4])
{
    return std::fread(bgr, 1, static_cast<std::size_t>(bytes), file) == static_cast<std::size_t>(bytes);
}

const std::uint8_t* texel(const TextureSet& set, int k, std::uint32_t r, std::uint32_t c)
{
    return &set.texels[k][3 * (static_cast<std::size_t>(r) * set.faceSize + c)];
}

// The sample on a far edge at `edge`, between the texel at `inside` (in diamond k) and the
// one across the edge: the texel of whichever diamond holds the point mirrored through the
// edge point, nearest to it.
void edgeSample(const TextureSet& set, int k, double edgeU, double edgeV, double insideU, double insideV,
                std::uint8_t* out)
{
    const std::uint32_t n = set.faceSize;
    const Vector3 edge = diamondPointAt(k, edgeU, edgeV), inside = diamondPointAt(k, insideU, insideV);
    const DiamondPoint across = locateDirection(2.0 * edge.x - inside.x, 2.0 * edge.y - inside.y,
                                                2.0 * edge.z - inside.z);
    const auto nearest = [n](double t) { return std::min(static_cast<std::uint32_t>(std::lround(t * n)), n - 1); };
    const std::uint8_t* own = texel(set, k, nearest(insideV), nearest(insideU));
    const std::uint8_t* other = texel(set, across.diamond, nearest(across.v), nearest(across.u));
    for (int channel = 0; channel < 3; ++channel)
        out[channel] = static_cast<std::uint8_t>((own[channel] + other[channel] + 1) / 2);
}

// Sample (r, c) of diamond k's grid, r and c from 0 to N.
const std::uint8_t* gridSample(const TextureSet& set, int k, std::uint32_t r, std::uint32_t c)
{
    if (c == set.faceSize)
        return &set.farColumn[k][3 * r];
    if (r == set.faceSize)
        return &set.farRow[k][3 * c];
    return texel(set, k, r, c);
}

}  // namespace

bool readTgaFile(const char* path, RgbPicture& picture)
{
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    std::uint8_t header[kTgaHeaderSize];
    if (!file || std::fread(header, 1, sizeof header, file.get()) != sizeof header)
        return false;
    const int idLength = header[0], type = header[2], bits = header[16];
    const std::uint32_t width = header[12] | header[13] << 8, height = header[14] | header[15] << 8;
    const bool topDown = (header[17] & kTgaTopDown) != 0, rightToLeft = (header[17] & kTgaRightToLeft) != 0;
    if (header[1] != 0 || (type != 2 && type != 10) || (bits != 24 && bits != 32) || width == 0 || height == 0 ||
        std::fseek(file.get(), idLength, SEEK_CUR) != 0)
        return false;
    const int bytes = bits / 8;
    picture.width = width;
    picture.height = height;
    picture.rgb.assign(static_cast<std::size_t>(width) * height * 3, 0);
    std::size_t done = 0;
    const std::size_t total = static_cast<std::size_t>(width) * height;
    std::uint8_t pixel[4] = {};
    while (done < total) {
        std::size_t count = 1;
        bool repeat = false;
        if (type == 10) {  // run-length packets: a count, then one pixel to repeat or raw pixels
            const int packet = std::fgetc(file.get());
            if (packet == EOF)
                return false;
            count = (packet & 0x7F) + 1u;
            repeat = (packet & 0x80) != 0;
        }
        if (count > total - done)
            return false;
        for (std::size_t i = 0; i < count; ++i, ++done) {
            if ((i == 0 || !repeat) && !readPixel(file.get(), bytes, pixel))
                return false;
            const std::size_t row = done / width, column = done % width;
            const std::size_t y = topDown ? row : height - 1 - row, x = rightToLeft ? width - 1 - column : column;
            std::uint8_t* out = &picture.rgb[3 * (y * width + x)];
            out[0] = pixel[2];
            out[1] = pixel[1];
            out[2] = pixel[0];
        }
    }
    return true;
}

int loadTextureSet(const char* folder, TextureSet& set)
{
    for (int k = 0; k < kDiamondCount; ++k) {
        const std::string path = std::string(folder) + "/" + textureFileName(k);
        if (std::unique_ptr<std::FILE, FileCloser>(std::fopen(path.c_str(), "rb")) == nullptr) {
            reportError(nullptr, messages::kTexturesMissing);
            return 0;
        }
        RgbPicture picture;
        if (!readTgaFile(path.c_str(), picture) || picture.width != picture.height ||
            (k > 0 && picture.width != set.faceSize)) {
            reportError(nullptr, messages::kTexturesUnreadable);
            return 0;
        }
        set.faceSize = picture.width;
        set.texels[k] = std::move(picture.rgb);
    }
    const std::uint32_t n = set.faceSize;
    const double step = 1.0 / n;
    for (int k = 0; k < kDiamondCount; ++k) {
        set.farColumn[k].resize(3 * (n + 1));
        set.farRow[k].resize(3 * n);
        for (std::uint32_t r = 0; r <= n; ++r)
            edgeSample(set, k, 1.0, r * step, (n - 1) * step, std::min(r, n - 1) * step, &set.farColumn[k][3 * r]);
        for (std::uint32_t c = 0; c < n; ++c)
            edgeSample(set, k, c * step, 1.0, c * step, (n - 1) * step, &set.farRow[k][3 * c]);
    }
    return 1;
}

void readTextureSet(const TextureSet& set, double x, double y, double z, TextureRead read, std::uint8_t (&rgb)[3])
{
    const DiamondPoint at = locateDirection(x, y, z);
    const std::uint32_t n = set.faceSize;
    const double column = at.u * n, row = at.v * n;  // in [0, N]
    if (read == TextureRead::Nearest) {
        const std::uint8_t* sample = gridSample(set, at.diamond, static_cast<std::uint32_t>(std::lround(row)),
                                                static_cast<std::uint32_t>(std::lround(column)));
        std::copy(sample, sample + 3, rgb);
        return;
    }
    const std::uint32_t c0 = std::min(static_cast<std::uint32_t>(column), n - 1);
    const std::uint32_t r0 = std::min(static_cast<std::uint32_t>(row), n - 1);
    const double fx = column - c0, fy = row - r0;
    const std::uint8_t* s00 = gridSample(set, at.diamond, r0, c0);
    const std::uint8_t* s10 = gridSample(set, at.diamond, r0, c0 + 1);
    const std::uint8_t* s01 = gridSample(set, at.diamond, r0 + 1, c0);
    const std::uint8_t* s11 = gridSample(set, at.diamond, r0 + 1, c0 + 1);
    for (int channel = 0; channel < 3; ++channel) {
        const double value = (1 - fy) * ((1 - fx) * s00[channel] + fx * s10[channel]) +
                             fy * ((1 - fx) * s01[channel] + fx * s11[channel]);
        rgb[channel] = static_cast<std::uint8_t>(value + 0.5);
    }
}
