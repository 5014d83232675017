// The area filter's terms for maps of 8-bit RGB picture words taken as they are (no alpha,
// no-data or linear light): their blue, green and red bytes summed, in integers along runs,
// and the texel their rounded averages. SampleTerms (map_terms.h) serves every other layout.
// Included inside a kernel instance's namespace (kernel_instance.inl).
#pragma once

#include <cstddef>
#include <cstdint>

#include "diamond_kernel.h"
#include "lanes.h"
#include "samples.h"
#include "texel_store.h"

#if defined(__GNUC__) && defined(__AVX2__)
// sumWordBytes' bulk: eight words at a time, each channel's bytes masked out and summed in
// fours by SAD against zero into 64-bit lanes. Returns the words it summed.
inline std::size_t sumWordBytesWide(const std::uint32_t* words, std::size_t count, std::uint64_t (&sums)[3])
{
    const __m256i zero = _mm256_setzero_si256();
    __m256i total[3] = {zero, zero, zero};
    const __m256i masks[3] = {_mm256_set1_epi32(0xFF), _mm256_set1_epi32(0xFF00), _mm256_set1_epi32(0xFF0000)};
    std::size_t k = 0;
    for (; k + 8 <= count; k += 8) {
        const __m256i eight = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + k));
        for (int c = 0; c < 3; ++c)
            total[c] = _mm256_add_epi64(total[c], _mm256_sad_epu8(_mm256_and_si256(eight, masks[c]), zero));
    }
    for (int c = 0; c < 3; ++c) {
        std::uint64_t lane[4];
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(lane), total[c]);
        sums[c] += lane[0] + lane[1] + lane[2] + lane[3];
    }
    return k;
}
#endif

// The sums of bytes 0, 1 and 2 (blue, green, red) of `count` picture words, added to `sums`.
// The area filter's slices sum runs of a few to a few thousand words.
inline void sumWordBytes(const std::uint32_t* words, std::size_t count, std::uint64_t (&sums)[3])
{
    std::size_t k = 0;
#if defined(__GNUC__) && defined(__AVX2__)
    if (count >= 16)  // shorter runs go faster without
        k = sumWordBytesWide(words, count, sums);
#endif
    // Blue and red in the two halves of one sum, green in another: up to 256 words a pass.
    while (k < count) {
        const std::size_t end = least<std::size_t>(count, k + 256);
        std::uint32_t blueRed = 0, green = 0;
        for (; k < end; ++k) {
            blueRed += words[k] & 0x00FF00FFu;
            green += (words[k] >> 8) & 0xFFu;
        }
        sums[0] += blueRed & 0xFFFFu;
        sums[1] += green;
        sums[2] += blueRed >> 16;
    }
}

// Terms per pixel at most: three colour channels, alpha, and whether the pixel counts.
constexpr int kMaxTerms = 5;

struct WordTerms {
    const MapView& map;
    const TexelRules& rules;
    static constexpr bool kWords = true;
    static constexpr bool kLanes = false;

    static constexpr int count() { return 3; }

    const unsigned char* pixel(const unsigned char* row, std::uint32_t column) const
    {
        return row + column * map.pixelBytes;
    }
    // `weight` times pixel `column` of `row`.
    void add(const unsigned char* row, std::uint32_t column, double weight, double (&sums)[kMaxTerms]) const
    {
        const unsigned char* at = pixel(row, column);
        for (int k = 0; k < 3; ++k)
            sums[k] += weight * at[k];
    }
    // `weight` times each of the `count` pixels from `column` on, round the map's period as
    // often as it takes.
    void addRun(const unsigned char* row, std::uint32_t column, std::int64_t count, double weight,
                double (&sums)[kMaxTerms]) const
    {
        // In stretches up to the period's end.
        std::uint64_t total[3] = {};
        while (count > 0) {
            const std::int64_t stretch = least<std::int64_t>(count, std::int64_t{map.period} - column);
            sumWordBytes(reinterpret_cast<const std::uint32_t*>(row) + column, static_cast<std::size_t>(stretch), total);
            count -= stretch;
            column = 0;
        }
        for (int k = 0; k < 3; ++k)
            sums[k] += weight * static_cast<double>(total[k]);
    }
    // `weight` times: the pixels `first` to `first + count` (within the row) in full, less
    // the first one's `fractionFirst`, plus the last one's `fractionLast`.
    void addStretch(const unsigned char* row, std::uint32_t first, std::uint32_t count, double fractionFirst,
                    double fractionLast, double weight, double (&sums)[kMaxTerms]) const
    {
        const auto* words = reinterpret_cast<const std::uint32_t*>(row) + first;
        std::uint64_t sum[3] = {};
        sumWordBytes(words, count, sum);
        const std::uint32_t head = words[0], tail = words[count];
        for (int c = 0; c < 3; ++c)
            sums[c] += weight * (static_cast<double>(sum[c]) - fractionFirst * ((head >> (8 * c)) & 0xFF) +
                                 fractionLast * ((tail >> (8 * c)) & 0xFF));
    }

    // The texel: blue, green and red averages, rounded; in the words' order for the design's
    // texture, else as any other texel (the same averages, whatever the file).
    void store(const double (&sums)[kMaxTerms], double weight, unsigned char* out) const
    {
        weight = weight > 0 ? weight : 1;  // a footprint of no weight: black
        if (rules.words) {
            for (int k = 0; k < 3; ++k)
                out[k] = static_cast<unsigned char>(static_cast<std::int32_t>(sums[k] / weight + 0.5));
            return;
        }
        const double values[4] = {sums[2] / weight, sums[1] / weight, sums[0] / weight, 0.0};
        storeTexel(values, map.layout, rules, Rounding::Nearest, out);
    }
};
