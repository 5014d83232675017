// Loading the ten textures and reading them by direction.
#include "texture_set.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "container_reader.h"
#include "decoded_picture.h"
#include "error_report.h"
#include "image_object.h"
#include "texture_job.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Sample `channel` of texel (r, c) of diamond k, in its type's units.
double sampleValue(const TextureSet& set, int k, std::uint32_t r, std::uint32_t c, unsigned channel)
{
    const SampleLayout layout = set.layout;
    const unsigned char* at =
        set.texels[k].data() + ((static_cast<std::size_t>(r) * set.faceSize + c) * layout.channels + channel) *
                                   sampleBytes(layout.type);
    switch (layout.type) {
    case SampleType::U8:
        return at[0];
    case SampleType::U16: {
        std::uint16_t value;
        std::memcpy(&value, at, 2);
        return value;
    }
    case SampleType::I16: {
        std::int16_t value;
        std::memcpy(&value, at, 2);
        return value;
    }
    default: {
        float value;
        std::memcpy(&value, at, 4);
        return value;
    }
    }
}

// Sample (r, c) of diamond k's grid, r and c from 0 to N: a texel, or on the far edges the
// samples made of both diamonds.
double gridValue(const TextureSet& set, int k, std::uint32_t r, std::uint32_t c, unsigned channel)
{
    if (c == set.faceSize)
        return set.farColumn[k][set.layout.channels * r + channel];
    if (r == set.faceSize)
        return set.farRow[k][set.layout.channels * c + channel];
    return sampleValue(set, k, r, c, channel);
}

// The sample on a far edge at `edge`, between the texel at `inside` (in diamond k) and the
// one across the edge: the texel of whichever diamond holds the point mirrored through the
// edge point, nearest to it.
void edgeSample(const TextureSet& set, int k, double edgeU, double edgeV, double insideU, double insideV,
                float* out)
{
    const std::uint32_t n = set.faceSize;
    const Vector3 edge = diamondPointAt(k, edgeU, edgeV), inside = diamondPointAt(k, insideU, insideV);
    const DiamondPoint across = locateDirection(2.0 * edge.x - inside.x, 2.0 * edge.y - inside.y,
                                                2.0 * edge.z - inside.z);
    const auto nearest = [n](double t) { return std::min(static_cast<std::uint32_t>(std::lround(t * n)), n - 1); };
    for (unsigned channel = 0; channel < set.layout.channels; ++channel)
        out[channel] = static_cast<float>(
            (sampleValue(set, k, nearest(insideV), nearest(insideU), channel) +
             sampleValue(set, across.diamond, nearest(across.v), nearest(across.u), channel)) /
            2);
}

// One texture through the picture loader, its samples kept, packed into `texels`.
bool loadPicture(const std::string& path, std::uint32_t& side, SampleLayout& layout, std::vector<unsigned char>& texels)
{
    std::uintptr_t token = 0;
    const bool started = startImaging(token) == imaging_status::kOk;
    ImageObject* image = started ? ImageObject::createBitmapFromFile(path.c_str(), true) : nullptr;
    bool read = image != nullptr && image->takeLastStatus() == imaging_status::kOk;
    std::uint32_t width = 0, height = 0;
    if (read) {
        image->width(width);
        image->height(height);
        layout = image->layout();
        read = width == height && width > 0;
    }
    if (read) {
        side = width;
        const std::size_t bytes = sampleBytes(layout.type), pixel = pixelBytes(layout);
        texels.resize(static_cast<std::size_t>(width) * height * layout.channels * bytes);
        const auto* words = reinterpret_cast<const unsigned char*>(image->pixels());
        static constexpr unsigned char kWordOrder[4] = {2, 1, 0, 3};  // blue, green, red, alpha
        const bool pictureWords = layout.type == SampleType::U8 && layout.channels >= 3;
        for (std::size_t row = 0; row < height; ++row) {
            for (std::size_t column = 0; column < width; ++column) {
                const unsigned char* in = words + (row * image->stride() + column) * pixel;
                unsigned char* out = &texels[((row * width + column) * layout.channels) * bytes];
                if (pictureWords)
                    for (unsigned channel = 0; channel < layout.channels; ++channel)
                        out[channel] = in[kWordOrder[channel]];
                else
                    std::memcpy(out, in, layout.channels * bytes);
            }
        }
    }
    if (image != nullptr)
        image->destroy(true);
    if (started)
        stopImaging(token);
    return read;
}

bool fileExists(const std::string& path)
{
    return std::unique_ptr<std::FILE, FileCloser>(std::fopen(path.c_str(), "rb")) != nullptr;
}

}  // namespace

bool readTgaFile(const char* path, SamplePicture& picture)
{
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    std::uint8_t header[kTgaHeaderSize];
    if (!file || std::fread(header, 1, sizeof header, file.get()) != sizeof header)
        return false;
    const int idLength = header[0], type = header[2], bits = header[16];
    const std::uint32_t width = header[12] | header[13] << 8, height = header[14] | header[15] << 8;
    const bool topDown = (header[17] & kTgaTopDown) != 0, rightToLeft = (header[17] & kTgaRightToLeft) != 0;
    const bool grey = type == 3 || type == 11;
    if (header[1] != 0 || (type != 2 && type != 3 && type != 10 && type != 11) ||
        (grey ? bits != 8 : bits != 24 && bits != 32) || width == 0 || height == 0 ||
        std::fseek(file.get(), idLength, SEEK_CUR) != 0)
        return false;
    const int bytes = bits / 8;
    picture.width = width;
    picture.height = height;
    picture.layout = {SampleType::U8, static_cast<unsigned>(grey ? 1 : bytes)};
    picture.samples.assign(static_cast<std::size_t>(width) * height * bytes, 0);
    std::size_t done = 0;
    const std::size_t total = static_cast<std::size_t>(width) * height;
    std::uint8_t pixel[4] = {};
    while (done < total) {
        std::size_t count = 1;
        bool repeat = false;
        if (type >= 10) {  // run-length packets: a count, then one pixel to repeat or raw pixels
            const int packet = std::fgetc(file.get());
            if (packet == EOF)
                return false;
            count = (packet & 0x7F) + 1u;
            repeat = (packet & 0x80) != 0;
        }
        if (count > total - done)
            return false;
        for (std::size_t i = 0; i < count; ++i, ++done) {
            if ((i == 0 || !repeat) &&
                std::fread(pixel, 1, static_cast<std::size_t>(bytes), file.get()) != static_cast<std::size_t>(bytes))
                return false;
            const std::size_t row = done / width, column = done % width;
            const std::size_t y = topDown ? row : height - 1 - row, x = rightToLeft ? width - 1 - column : column;
            std::uint8_t* out = &picture.samples[bytes * (y * width + x)];
            if (grey) {
                out[0] = pixel[0];
                continue;
            }
            out[0] = pixel[2];  // blue, green, red[, alpha] to red, green, blue[, alpha]
            out[1] = pixel[1];
            out[2] = pixel[0];
            if (bytes == 4)
                out[3] = pixel[3];
        }
    }
    return true;
}

int loadTextureSet(const char* folder, TextureSet& set)
{
    const auto pathOf = [folder](int k, TextureFormat format) { return std::string(folder) + "/" + textureFileName(k, format); };
    bool found = false;
    for (const TextureFormatName& format : kTextureFormats)
        if (!found && fileExists(pathOf(0, format.format))) {
            set.format = format.format;
            found = true;
        }
    for (int k = 0; found && k < kDiamondCount; ++k)
        found = fileExists(pathOf(k, set.format));
    if (!found) {
        reportError(nullptr, messages::kTexturesMissing);
        return 0;
    }
    for (int k = 0; k < kDiamondCount; ++k) {
        const std::string path = pathOf(k, set.format);
        std::uint32_t side = 0;
        SampleLayout layout;
        std::vector<unsigned char> texels;
        bool read = false;
        if (set.format == TextureFormat::Tga || holdsMipChain(set.format)) {
            SamplePicture picture;
            read = (set.format == TextureFormat::Tga ? readTgaFile(path.c_str(), picture)
                                                     : readTextureContainerFile(path.c_str(), picture)) &&
                   picture.width == picture.height;
            side = picture.width;
            layout = picture.layout;
            texels = std::move(picture.samples);
        } else {
            read = loadPicture(path, side, layout, texels);
        }
        if (!read || (k > 0 && (side != set.faceSize || layout != set.layout))) {
            reportError(nullptr, messages::kTexturesUnreadable);
            return 0;
        }
        set.faceSize = side;
        set.layout = layout;
        set.texels[k] = std::move(texels);
    }
    // Textures with border rings are N + 2K a side, N a power of two: the diamond is the
    // inner N × N, and the rings (which continue it onto its neighbours) are left aside.
    std::uint32_t inner = 1;
    while (inner * 2 <= set.faceSize)
        inner *= 2;
    const std::uint32_t border = (set.faceSize - inner) / 2;
    if (border != 0 && set.faceSize == inner + 2 * border) {
        const std::size_t texel = texelBytes(set.layout);
        for (std::vector<unsigned char>& texels : set.texels) {
            for (std::uint32_t r = 0; r < inner; ++r)
                std::memmove(&texels[std::size_t{r} * inner * texel],
                             &texels[((std::size_t{r} + border) * set.faceSize + border) * texel], inner * texel);
            texels.resize(std::size_t{inner} * inner * texel);
        }
        set.faceSize = inner;
    }
    const std::uint32_t n = set.faceSize;
    const unsigned channels = set.layout.channels;
    const double step = 1.0 / n;
    set.low = set.high = static_cast<float>(sampleValue(set, 0, 0, 0, 0));
    for (int k = 0; k < kDiamondCount; ++k) {
        for (std::uint32_t r = 0; r < n; ++r)
            for (std::uint32_t c = 0; c < n; ++c) {
                const auto value = static_cast<float>(sampleValue(set, k, r, c, 0));
                set.low = std::min(set.low, value);
                set.high = std::max(set.high, value);
            }
        set.farColumn[k].resize(std::size_t{channels} * (n + 1));
        set.farRow[k].resize(std::size_t{channels} * n);
        for (std::uint32_t r = 0; r <= n; ++r)
            edgeSample(set, k, 1.0, r * step, (n - 1) * step, std::min(r, n - 1) * step, &set.farColumn[k][channels * r]);
        for (std::uint32_t c = 0; c < n; ++c)
            edgeSample(set, k, c * step, 1.0, c * step, (n - 1) * step, &set.farRow[k][channels * c]);
    }
    return 1;
}

void readTextureSet(const TextureSet& set, double x, double y, double z, TextureRead read, double (&values)[4])
{
    const DiamondPoint at = locateDirection(x, y, z);
    const std::uint32_t n = set.faceSize;
    const double column = at.u * n, row = at.v * n;  // in [0, N]
    const unsigned channels = set.layout.channels;
    if (read == TextureRead::Nearest) {
        const auto r = static_cast<std::uint32_t>(std::lround(row)), c = static_cast<std::uint32_t>(std::lround(column));
        for (unsigned channel = 0; channel < channels; ++channel)
            values[channel] = gridValue(set, at.diamond, r, c, channel);
        return;
    }
    const std::uint32_t c0 = std::min(static_cast<std::uint32_t>(column), n - 1);
    const std::uint32_t r0 = std::min(static_cast<std::uint32_t>(row), n - 1);
    const double fx = column - c0, fy = row - r0;
    for (unsigned channel = 0; channel < channels; ++channel) {
        const auto at00 = gridValue(set, at.diamond, r0, c0, channel), at10 = gridValue(set, at.diamond, r0, c0 + 1, channel);
        const auto at01 = gridValue(set, at.diamond, r0 + 1, c0, channel), at11 = gridValue(set, at.diamond, r0 + 1, c0 + 1, channel);
        values[channel] = (1 - fy) * ((1 - fx) * at00 + fx * at10) + fy * ((1 - fx) * at01 + fx * at11);
    }
}
