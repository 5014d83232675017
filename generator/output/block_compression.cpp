// A level's texels as the GPU's containers store them: uncompressed, tightly packed rows
// (RGB made RGBA where the container has no RGB, floats made half), or compressed in 4 × 4
// blocks by stb_dxt (Debian's libstb-dev; a plain header, built for Windows alike, where it
// makes the same bytes: its few float steps are plain SSE2 arithmetic on both).
//
// BC1 and BC3 take stb_dxt's high-quality mode, two refinements of the endpoints instead of
// one: on the sample map's 2048² textures it gives 0.1 dB more (44.6 against 44.5 dB) in
// about the same time, far below the time of rendering them (see compressBlocks).
// A block that runs past the level's right or bottom edge repeats the last column and row,
// so that the texels outside, which no reader shows, do not pull the endpoints away.
//
// The rows of blocks are shared out among the threads one at a time; each block depends on
// its own 16 texels alone, so the bytes are the same for any number of threads.
#include <algorithm>

#include "encoder_parts.h"

// The header's own code is left unwarned: the build includes it as a system header.
#define STB_DXT_STATIC
#define STB_DXT_IMPLEMENTATION
#include <stb_dxt.h>

namespace output {

std::size_t storedTexelBytes(SampleLayout layout, const TexelStorage& storage)
{
    return storage.channels * (storage.half ? 2 : sampleBytes(layout.type));
}

void storeTexels(const SampleImage& image, const TexelStorage& storage, unsigned threads, unsigned char* to)
{
    const SampleLayout layout = image.layout;
    const std::size_t size = sampleBytes(layout.type), stored = storedTexelBytes(layout, storage);
    const std::size_t rowBytes = stored * image.width;
    // The sample that stands for an alpha the image does not have: opaque.
    unsigned char opaque[4] = {};
    switch (layout.type) {
    case SampleType::U8:
        opaque[0] = 0xFF;
        break;
    case SampleType::U16:
    case SampleType::I16:
        store16le(opaque, 0xFFFF);
        break;
    case SampleType::F32:
        if (storage.half)
            store16le(opaque, 0x3C00);
        else
            store32le(opaque, 0x3F800000);
        break;
    }
    const bool swap = storage.blueFirst && layout.channels >= 3;
    shareWork(image.height, threads, [&](std::size_t row, unsigned) {
        const unsigned char* from = rowOf(image, static_cast<std::uint32_t>(row));
        unsigned char* out = to + row * rowBytes;
        for (std::uint32_t x = 0; x < image.width; ++x, from += size * layout.channels) {
            for (unsigned c = 0; c < storage.channels; ++c) {
                const unsigned source = swap && c < 3 ? 2 - c : c;
                if (source >= layout.channels) {
                    std::memcpy(out, opaque, storage.half ? 2 : size);
                } else if (storage.half) {
                    store16le(out, floatToHalf(loadFloat(from + 4 * source)));
                } else if (size == 1) {
                    *out = from[source];
                } else if (size == 2) {
                    store16le(out, load16(from + 2 * source));
                } else {
                    store32le(out, load32(from + 4 * source));
                }
                out += storage.half ? 2 : size;
            }
        }
    });
}

std::size_t blockBytes(TextureCompression compression)
{
    return compression == TextureCompression::Bc1 || compression == TextureCompression::Bc4 ? 8 : 16;
}

std::uint64_t blockLevelBytes(std::uint32_t width, std::uint32_t height, TextureCompression compression)
{
    return ((std::uint64_t{width} + 3) / 4) * ((std::uint64_t{height} + 3) / 4) * blockBytes(compression);
}

// Measured on the sample map's ten 2048² textures (assets/earth-2048x1024.jpg, area filter):
// BC1 keeps 44.6 dB PSNR against the uncompressed textures and takes 0.36 s on one thread,
// where rendering the textures takes 0.9 to 1.2 s on two cores (a run with --compress bc1
// takes 0.25 s longer than one without).
void compressBlocks(const SampleImage& image, TextureCompression compression, unsigned threads, unsigned char* to)
{
    const std::uint32_t across = (image.width + 3) / 4, down = (image.height + 3) / 4;
    const std::size_t bytes = blockBytes(compression), channels = image.layout.channels;
    const std::size_t rowBytes = bytes * across;
    shareWork(down, threads, [&](std::size_t blockRow, unsigned) {
        unsigned char* out = to + blockRow * rowBytes;
        unsigned char texels[16 * 4];
        for (std::uint32_t bx = 0; bx < across; ++bx, out += bytes) {
            // The block's texels, its channels as stb_dxt takes them: RGBA (opaque for BC1),
            // red alone (BC4), red and green (BC5).
            const std::size_t stride = compression == TextureCompression::Bc1 ? 4 : channels;
            for (std::uint32_t j = 0; j < 4; ++j) {
                const auto y = std::min(static_cast<std::uint32_t>(blockRow) * 4 + j, image.height - 1);
                const unsigned char* row = rowOf(image, y);
                for (std::uint32_t i = 0; i < 4; ++i) {
                    const std::uint32_t x = std::min(bx * 4 + i, image.width - 1);
                    unsigned char* texel = texels + (j * 4 + i) * stride;
                    std::memcpy(texel, row + x * channels, channels);
                    if (compression == TextureCompression::Bc1)
                        texel[3] = 0xFF;
                }
            }
            switch (compression) {
            case TextureCompression::Bc1:
                stb_compress_dxt_block(out, texels, 0, STB_DXT_HIGHQUAL);
                break;
            case TextureCompression::Bc3:
                stb_compress_dxt_block(out, texels, 1, STB_DXT_HIGHQUAL);
                break;
            case TextureCompression::Bc4:
                stb_compress_bc4_block(out, texels);
                break;
            default:
                stb_compress_bc5_block(out, texels);
                break;
            }
        }
    });
}

}  // namespace output
