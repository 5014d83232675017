// OpenEXR: one part of scanlines, half or 32-bit float channels sorted by name (Y; A, Y;
// B, G, R; A, B, G, R), ZIP compression in blocks of 16 lines, increasing y.
//
// The file: the magic number and version 2 (a single scanline part), the header's
// attributes (name, type, size, value) ended by a zero byte, the offset table (where each
// block starts), then the blocks, each its first line, its size and its data. A block's data
// is its lines one after another, each line its channels in the file's order, each
// channel's samples left to right, little-endian. ZIP regroups those bytes (even-numbered
// ones first, then the odd), replaces each by its difference from the one before (plus
// 128), and deflates them in zlib's wrapper; a block that would not get smaller is stored as
// it is, which the reader knows by its size.
//
// zlib at level 1 with its default strategy: on float heights made from the sample map's
// textures it keeps 21 % of the bytes at about 170 MB/s (level 4: 20 % at 80 MB/s; level
// 6: 19 % at 55 MB/s), where the run-length strategy of the PNG and TIFF writers keeps 64 %:
// after ZIP's regrouping of even and odd bytes a float's bytes repeat two apart, not one.
// Half floats come to 6 % either way. Compressed, a texture is written at about the speed
// of the PNG and TIFF writers, so blocks are never left uncompressed for speed.
#include <zlib.h>

#include <algorithm>

#include "encoder_parts.h"

std::uint16_t floatToHalf(float value)
{
    const std::uint32_t bits = output::load32(reinterpret_cast<const unsigned char*>(&value));
    const auto sign = static_cast<std::uint16_t>((bits >> 16) & 0x8000);
    const std::uint32_t magnitude = bits & 0x7FFFFFFF;
    const std::uint32_t exponent = magnitude >> 23, mantissa = magnitude & 0x7FFFFF;
    if (exponent == 0xFF) {  // infinity, or NaN: its leading mantissa bits, never all zero
        const std::uint32_t top = mantissa >> 13;
        return static_cast<std::uint16_t>(sign | 0x7C00 | top | (mantissa != 0 && top == 0 ? 1 : 0));
    }
    if (magnitude >= 0x47800000)  // 65536 and beyond: rounds to infinity
        return static_cast<std::uint16_t>(sign | 0x7C00);
    if (magnitude < 0x33000000)  // below 2^-25, half the smallest subnormal: rounds to zero
        return sign;
    std::uint32_t half, rest;
    std::uint32_t halfway;
    if (exponent >= 113) {  // normal: rebias the exponent, keep 10 of 23 mantissa bits
        half = ((exponent - 112) << 10) | (mantissa >> 13);
        rest = mantissa & 0x1FFF;
        halfway = 0x1000;
    } else {  // subnormal: the whole significand, shifted down to units of 2^-24
        const std::uint32_t shift = 126 - exponent;  // 14 to 24
        const std::uint32_t significand = mantissa | 0x800000;
        half = significand >> shift;
        rest = significand & ((1u << shift) - 1);
        halfway = 1u << (shift - 1);
    }
    // To nearest, ties to even; a carry out of the mantissa steps the exponent up, to
    // infinity from 65520 on.
    if (rest > halfway || (rest == halfway && (half & 1) != 0))
        ++half;
    return static_cast<std::uint16_t>(sign | half);
}

namespace output {

namespace {

constexpr std::uint32_t kLinesPerBlock = 16;
constexpr unsigned char kZipCompression = 3;
constexpr std::uint32_t kHalf = 1, kFloat = 2;

void putAttribute(Bytes& file, const char* name, const char* type, const Bytes& value)
{
    putBytes(file, name, std::strlen(name) + 1);
    putBytes(file, type, std::strlen(type) + 1);
    put32le(file, static_cast<std::uint32_t>(value.size()));
    putBytes(file, value.data(), value.size());
}

Bytes box(std::uint32_t width, std::uint32_t height)
{
    Bytes value;
    put32le(value, 0);
    put32le(value, 0);
    put32le(value, width - 1);
    put32le(value, height - 1);
    return value;
}

Bytes floats(std::initializer_list<float> values)
{
    Bytes value;
    for (float f : values)
        put32le(value, load32(reinterpret_cast<const unsigned char*>(&f)));
    return value;
}

// ZIP's regrouping and differences, from `raw` into `out`.
void zipPredict(const unsigned char* raw, std::size_t bytes, unsigned char* out)
{
    const std::size_t evens = (bytes + 1) / 2;
    for (std::size_t i = 0; i < evens; ++i)
        out[i] = raw[2 * i];
    for (std::size_t i = 0; i + evens < bytes; ++i)
        out[evens + i] = raw[2 * i + 1];
    for (std::size_t i = bytes; i-- > 1;)
        out[i] = static_cast<unsigned char>(out[i] - out[i - 1] + 128);
}

}  // namespace

bool encodeExr(const SampleImage& image, bool half, unsigned threads, Bytes& file)
{
    const unsigned channels = image.layout.channels;
    // The file's channels by name, and which of the image's channels each one is.
    static constexpr const char* kNames[5][4] = {
        {}, {"Y"}, {"A", "Y"}, {"B", "G", "R"}, {"A", "B", "G", "R"}};
    static constexpr unsigned kSources[5][4] = {{}, {0}, {1, 0}, {2, 1, 0}, {3, 2, 1, 0}};
    const std::size_t sampleSize = half ? 2 : 4;
    const std::size_t lineBytes = sampleSize * channels * image.width;

    file.clear();
    put32le(file, 20000630);  // the magic number
    put32le(file, 2);         // version 2, one part of scanlines, short names
    Bytes list;
    for (unsigned c = 0; c < channels; ++c) {
        putBytes(list, kNames[channels][c], std::strlen(kNames[channels][c]) + 1);
        put32le(list, half ? kHalf : kFloat);
        put32le(list, 0);  // perceptually linear (no), three reserved bytes
        put32le(list, 1);  // x sampling
        put32le(list, 1);  // y sampling
    }
    list.push_back(0);
    putAttribute(file, "channels", "chlist", list);
    putAttribute(file, "compression", "compression", {kZipCompression});
    putAttribute(file, "dataWindow", "box2i", box(image.width, image.height));
    putAttribute(file, "displayWindow", "box2i", box(image.width, image.height));
    putAttribute(file, "lineOrder", "lineOrder", {0});  // increasing y
    putAttribute(file, "pixelAspectRatio", "float", floats({1.0f}));
    putAttribute(file, "screenWindowCenter", "v2f", floats({0.0f, 0.0f}));
    putAttribute(file, "screenWindowWidth", "float", floats({1.0f}));
    file.push_back(0);  // end of the header

    const std::uint32_t blocks = (image.height + kLinesPerBlock - 1) / kLinesPerBlock;
    const std::size_t table = file.size();
    file.resize(table + 8 * std::size_t{blocks});

    // Each block's data: its samples compressed, or as they are where that is no smaller.
    std::vector<Bytes> pieces;
    const bool made = makePieces(blocks, 1, Z_DEFAULT_STRATEGY, threads, [&](std::size_t block, Deflater& deflater,
                                                                             Bytes& piece) {
        const std::uint32_t first = static_cast<std::uint32_t>(block) * kLinesPerBlock;
        const std::uint32_t lines = std::min(kLinesPerBlock, image.height - first);
        const std::size_t bytes = lines * lineBytes;
        Bytes raw(bytes), predicted(bytes);
        unsigned char* to = raw.data();
        for (std::uint32_t line = first; line < first + lines; ++line) {
            const unsigned char* from = rowOf(image, line);
            for (unsigned c = 0; c < channels; ++c) {
                const unsigned char* sample = from + 4 * kSources[channels][c];
                for (std::uint32_t x = 0; x < image.width; ++x, sample += 4 * channels) {
                    if (half)
                        store16le(to, floatToHalf(loadFloat(sample)));
                    else
                        store32le(to, load32(sample));
                    to += sampleSize;
                }
            }
        }
        zipPredict(raw.data(), bytes, predicted.data());
        deflater.finish(predicted.data(), bytes, piece);
        if (piece.size() >= bytes)
            piece.swap(raw);
    }, pieces);
    if (!made)
        return false;
    for (std::uint32_t block = 0; block < blocks; ++block) {
        store64le(file.data() + table + 8 * std::size_t{block}, file.size());
        put32le(file, block * kLinesPerBlock);
        put32le(file, static_cast<std::uint32_t>(pieces[block].size()));
        putBytes(file, pieces[block].data(), pieces[block].size());
        Bytes().swap(pieces[block]);
    }
    return true;
}

}  // namespace output
