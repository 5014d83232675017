// Texels of any layout from the values a filter resolves: the map's samples read as numbers,
// and numbers stored as a texture's samples (samples.h), with the map's channels spread over
// the texture's (grey to red, green and blue; opaque alpha where the map has none) and its
// sample type turned into the texture's. Included inside a kernel instance's namespace
// (kernel_instance.inl).
#pragma once

#include <cstdint>
#include <cstring>

#include "diamond_kernel.h"
#include "samples.h"

// Sample `channel` of the pixel at `pixel`, as a number in its type's own units. 8-bit pixels
// of three and four channels are picture words: blue, green, red, alpha in memory.
template <SampleType T>
double readSample(const unsigned char* pixel, unsigned channels, unsigned channel)
{
    if constexpr (T == SampleType::U8) {
        static constexpr unsigned char kWordOrder[4] = {2, 1, 0, 3};
        return pixel[channels >= 3 ? kWordOrder[channel] : channel];
    } else if constexpr (T == SampleType::U16) {
        std::uint16_t value;
        std::memcpy(&value, pixel + 2 * channel, 2);
        return value;
    } else if constexpr (T == SampleType::I16) {
        std::int16_t value;
        std::memcpy(&value, pixel + 2 * channel, 2);
        return value;
    } else {
        float value;
        std::memcpy(&value, pixel + 4 * channel, 4);
        return value;
    }
}

// The largest value of a type, which opaque alpha takes; floats run to 1.
constexpr double sampleMaximum(SampleType type)
{
    return type == SampleType::U8 ? 255.0 : type == SampleType::U16 ? 65535.0 : type == SampleType::I16 ? 32767.0 : 1.0;
}

// A value in `from`'s units in `to`'s: integers scale by their maxima (8 to 16 bits is × 257,
// exact), integers and floats meet at 0..1 (colour) — but signed heights keep their units.
constexpr double unitsFactor(SampleType from, SampleType to)
{
    if (from == to || from == SampleType::I16 || to == SampleType::I16)
        return 1.0;
    return sampleMaximum(to) / sampleMaximum(from);
}

// Stores `value` (already in the texture's units) as one sample of type `type`, rounded as
// asked and held to the type's range.
inline void storeSample(double value, SampleType type, Rounding rounding, unsigned char* out)
{
    if (type == SampleType::F32) {
        const auto sample = static_cast<float>(value);
        std::memcpy(out, &sample, 4);
        return;
    }
    const double low = type == SampleType::I16 ? -32768.0 : 0.0;
    const double high = sampleMaximum(type);
    value = value < low ? low : (value > high ? high : value);  // NaN stays NaN: low below
    if (!(value >= low))
        value = low;
    if (rounding == Rounding::Nearest)
        value = __builtin_floor(value + 0.5);
    const auto integer = static_cast<std::int32_t>(value);  // truncated
    if (type == SampleType::U8) {
        out[0] = static_cast<unsigned char>(integer);
    } else if (type == SampleType::U16) {
        const auto sample = static_cast<std::uint16_t>(integer);
        std::memcpy(out, &sample, 2);
    } else {
        const auto sample = static_cast<std::int16_t>(integer);
        std::memcpy(out, &sample, 2);
    }
}

// One texel from the working channels' values (`working`: the map's layout as the filters
// see it), in the working type's units.
inline void storeTexel(const double* values, SampleLayout working, const TexelRules& rules, Rounding rounding,
                       unsigned char* out)
{
    const SampleLayout output = rules.output;
    const double factor = unitsFactor(working.type, output.type);
    const std::size_t bytes = sampleBytes(output.type);
    const unsigned colours = colourChannels(working.channels);
    const unsigned outColours = colourChannels(output.channels);
    for (unsigned c = 0; c < outColours; ++c) {
        const double value = values[colours == 1 ? 0 : (c < colours ? c : colours - 1)];
        storeSample(value * factor, output.type, rounding, out + c * bytes);
    }
    if (hasAlpha(output.channels)) {
        const double alpha = hasAlpha(working.channels) ? values[colours] * factor : sampleMaximum(output.type);
        storeSample(alpha, output.type, rounding, out + outColours * bytes);
    }
}
