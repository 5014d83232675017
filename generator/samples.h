// Samples: what a map's pixels and a texture's texels are made of, from the decoders through
// the kernels to the writers. Includes nothing of the project.
//
// Channels are 1 (grey), 2 (grey, alpha), 3 (red, green, blue) or 4 (red, green, blue,
// alpha); alpha is always last and always straight (never multiplied into the colour).
// Integer samples run from 0 (or −32768) to their type's maximum; float samples are as
// stored (colour maps from 0 to 1, heights in their own units).
#pragma once

#include <cstddef>
#include <cstdint>

enum class SampleType : std::uint8_t {
    U8,   // 0..255
    U16,  // 0..65535
    I16,  // −32768..32767: signed heights
    F32,  // 32-bit float
};

// The functions are static: a kernel built for one instruction set keeps its own copy.
static constexpr std::size_t sampleBytes(SampleType type)
{
    return type == SampleType::U8 ? 1 : type == SampleType::F32 ? 4 : 2;
}

static constexpr bool hasAlpha(unsigned channels) { return channels == 2 || channels == 4; }
static constexpr unsigned colourChannels(unsigned channels) { return hasAlpha(channels) ? channels - 1 : channels; }

struct SampleLayout {
    SampleType type = SampleType::U8;
    unsigned channels = 3;
};

static constexpr std::size_t texelBytes(SampleLayout layout) { return sampleBytes(layout.type) * layout.channels; }

constexpr bool operator==(SampleLayout a, SampleLayout b) { return a.type == b.type && a.channels == b.channels; }
constexpr bool operator!=(SampleLayout a, SampleLayout b) { return !(a == b); }

// A picture of samples in memory, rows top to bottom `rowBytes` apart, each texel's
// channels in the order above, each sample in the machine's byte order.
struct SampleImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    SampleLayout layout;
    const void* data = nullptr;
    std::size_t rowBytes = 0;
};
