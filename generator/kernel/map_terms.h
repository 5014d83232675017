// What the area and mode filters add up of the map's pixels, and how a footprint's sums
// become a texel. A footprint's average is Σ weight·terms / Σ weight over the pixels it
// covers. Two kinds of terms:
// - WordTerms (word_terms.h), for maps of 8-bit RGB picture words taken as they are;
// - SampleTerms<T>, every other layout: each colour channel (in linear light with --linear)
//   times the pixel's alpha, the alpha, and whether the pixel counts at all (no-data samples
//   do not). Colour is then the alpha-weighted average, so that transparent pixels lend no
//   colour to their neighbours (no dark fringe round a cloud), and alpha the plain average.
// Included inside a kernel instance's namespace (kernel_instance.inl).
#pragma once

#include <cstdint>
#include <cstring>

#include "diamond_kernel.h"
#include "samples.h"
#include "texel_store.h"
#include "word_terms.h"

// What a run of samples is summed in: integers exactly, floats in double.
template <SampleType T>
struct SampleSum {
    using Type = std::int64_t;
};
template <>
struct SampleSum<SampleType::F32> {
    using Type = double;
};

template <SampleType T>
struct SampleTerms {
    static constexpr bool kWords = false;
    static constexpr bool kLanes = true;  // addLanes: every lane's pixel at once
    const MapView& map;
    const TexelRules& rules;
    unsigned colours = colourChannels(map.layout.channels);
    bool alpha = hasAlpha(map.layout.channels);
    double alphaScale = 1.0 / sampleMaximum(T);  // alpha from its units to 0..1
    // Colour from its units to the 0..1 the sRGB curve runs over (floats are there already).
    double linearScale = 1.0 / sampleMaximum(T);

    int count() const { return static_cast<int>(colours) + (alpha ? 1 : 0) + (rules.nodata ? 1 : 0); }

    const unsigned char* pixel(const unsigned char* row, std::uint32_t column) const
    {
        return row + column * map.pixelBytes;
    }

    // A colour sample as it is averaged: as stored, or in linear light (0 to 1). The sRGB
    // curve runs over 0..1: 8- and 16-bit samples are brought there by their type's range
    // (the table, by value, does both), floats are taken as they are, held to 0..1. resolve()
    // encodes the average again and scales it back. (The planner refuses signed samples with
    // linear light: heights are no colour.)
    double colour(double value) const
    {
        if (!rules.linear)
            return value;
        if constexpr (T == SampleType::U8 || T == SampleType::U16) {
            return rules.toLinear[static_cast<std::uint32_t>(value)];
        } else {
            value *= linearScale;
            return srgbToLinear(value < 0 ? 0.0 : (value > 1 ? 1.0 : value));  // NaN stays NaN
        }
    }

    static double srgbToLinear(double value)
    {
        return value <= 0.04045 ? value / 12.92 : __builtin_pow((value + 0.055) / 1.055, 2.4);
    }
    static double linearToSrgb(double value)
    {
        return value <= 0.0031308 ? value * 12.92 : 1.055 * __builtin_pow(value, 1 / 2.4) - 0.055;
    }

    // Whether a pixel with these colour samples counts: not when every one is the no-data
    // value (a NaN no-data value matching NaN samples).
    bool counts(const double* values) const
    {
        if (!rules.nodata)
            return true;
        for (unsigned c = 0; c < colours; ++c)
            if (!(values[c] == rules.nodataValue || (values[c] != values[c] && rules.nodataValue != rules.nodataValue)))
                return true;
        return false;
    }

    void add(const unsigned char* row, std::uint32_t column, double weight, double (&sums)[kMaxTerms]) const
    {
        const unsigned char* at = pixel(row, column);
        double values[4];
        for (unsigned c = 0; c < colours; ++c)
            values[c] = readSample<T>(at, map.layout.channels, c);
        if (!counts(values))
            return;
        const double opacity = alpha ? readSample<T>(at, map.layout.channels, colours) * alphaScale : 1.0;
        const double share = weight * opacity;
        for (unsigned c = 0; c < colours; ++c)
            sums[c] += share * colour(values[c]);
        int next = static_cast<int>(colours);
        if (alpha)
            sums[next++] += share;
        if (rules.nodata)
            sums[next] += weight;
    }

    // Sample `channel` of each lane's pixel.
    template <class L>
    typename L::D gather(const unsigned char* const (&at)[L::kCount], unsigned channel) const
    {
        double value[L::kCount];
        for (unsigned j = 0; j < L::kCount; ++j)
            value[j] = readSample<T>(at[j], map.layout.channels, channel);
        typename L::D lanes;
        std::memcpy(&lanes, value, sizeof lanes);
        return lanes;
    }

    // add() for every lane at once, lane j's pixel at at[j] with lane j's weight: the same
    // operations, so the same sums. A lane of no weight adds nothing (its pixel is still read).
    template <class L>
    void addLanes(const unsigned char* const (&at)[L::kCount], typename L::D weight,
                  typename L::D (&sums)[kMaxTerms]) const
    {
        using D = typename L::D;
        const D zero = L::setD(0.0);
        D values[3] = {zero, zero, zero};
        for (unsigned c = 0; c < colours; ++c)
            values[c] = gather<L>(at, c);
        auto live = weight != zero;
        if (rules.nodata) {
            const D nodata = L::setD(rules.nodataValue);
            const bool nanMarks = rules.nodataValue != rules.nodataValue;
            auto any = nanMarks ? values[0] == values[0] : values[0] != nodata;
            for (unsigned c = 1; c < colours; ++c)
                any = any | (nanMarks ? values[c] == values[c] : values[c] != nodata);
            live = live & any;
        }
        const D counted = live ? weight : zero;
        const D share = alpha ? counted * (gather<L>(at, colours) * L::setD(alphaScale)) : counted;
        for (unsigned c = 0; c < colours; ++c) {
            D value = values[c];
            if (rules.linear) {
                double lane[L::kCount];
                std::memcpy(lane, &value, sizeof lane);
                for (double& v : lane)
                    v = colour(v);
                std::memcpy(&value, lane, sizeof lane);
            }
            sums[c] += live ? share * value : zero;
        }
        int next = static_cast<int>(colours);
        if (alpha)
            sums[next++] += share;
        if (rules.nodata)
            sums[next] += counted;
    }

    // Σ over `count` pixels from `first` on of add()'s terms at weight 1, without no-data or
    // linear light: the samples summed as they are (integers exactly), the channels
    // known to the loop.
    template <unsigned kChannels>
    void sumPlain(const unsigned char* row, std::uint32_t first, std::uint32_t pixels, double (&whole)[kMaxTerms]) const
    {
        constexpr unsigned kColours = colourChannels(kChannels);
        constexpr bool kAlpha = hasAlpha(kChannels);
        using Sum = typename SampleSum<T>::Type;
        Sum colourSum[3] = {}, opacitySum = 0;
        const unsigned char* at = row + std::size_t{first} * map.pixelBytes;
        for (std::uint32_t k = 0; k < pixels; ++k, at += map.pixelBytes) {
            const auto opacity = kAlpha ? static_cast<Sum>(readSample<T>(at, kChannels, kColours)) : Sum{1};
            for (unsigned c = 0; c < kColours; ++c)
                colourSum[c] += opacity * static_cast<Sum>(readSample<T>(at, kChannels, c));
            opacitySum += opacity;
        }
        const double scale = kAlpha ? alphaScale : 1.0;
        for (unsigned c = 0; c < kColours; ++c)
            whole[c] = static_cast<double>(colourSum[c]) * scale;
        if (kAlpha)
            whole[kColours] = static_cast<double>(opacitySum) * scale;
    }

    // `weight` times the pixels [first, first + count) of `row`.
    void addWhole(const unsigned char* row, std::uint32_t first, std::uint32_t pixels, double weight,
                  double (&sums)[kMaxTerms]) const
    {
        if (rules.nodata || rules.linear) {
            for (std::uint32_t k = 0; k < pixels; ++k)
                add(row, first + k, weight, sums);
            return;
        }
        double whole[kMaxTerms] = {};
        switch (map.layout.channels) {
        case 1: sumPlain<1>(row, first, pixels, whole); break;
        case 2: sumPlain<2>(row, first, pixels, whole); break;
        case 3: sumPlain<3>(row, first, pixels, whole); break;
        default: sumPlain<4>(row, first, pixels, whole); break;
        }
        for (int k = 0; k < count(); ++k)
            sums[k] += weight * whole[k];
    }

    void addRun(const unsigned char* row, std::uint32_t column, std::int64_t count, double weight,
                double (&sums)[kMaxTerms]) const
    {
        while (count > 0) {  // in stretches up to the period's end
            const std::int64_t stretch = least<std::int64_t>(count, std::int64_t{map.period} - column);
            addWhole(row, column, static_cast<std::uint32_t>(stretch), weight, sums);
            count -= stretch;
            column = 0;
        }
    }

    void addStretch(const unsigned char* row, std::uint32_t first, std::uint32_t count, double fractionFirst,
                    double fractionLast, double weight, double (&sums)[kMaxTerms]) const
    {
        addWhole(row, first, count, weight, sums);
        add(row, first + count, weight * fractionLast, sums);
        add(row, first, -weight * fractionFirst, sums);
    }

    // The working channels' values: colour the alpha-weighted average, alpha the plain one,
    // both over the pixels that count; no-data where none does.
    void resolve(const double (&sums)[kMaxTerms], double weight, double (&values)[4]) const
    {
        // Shares below a millionth of the footprint are the rounding of areas that cancel
        // (a cell just outside it), not pixels that count.
        const double least = 1e-6 * weight;
        const double counted = rules.nodata ? sums[count() - 1] : weight;
        if (!(counted > least)) {
            for (unsigned c = 0; c < colours; ++c)
                values[c] = rules.nodata ? rules.nodataValue : 0.0;
            if (alpha)
                values[colours] = 0.0;
            return;
        }
        const double opacity = alpha ? sums[colours] : counted;
        for (unsigned c = 0; c < colours; ++c) {
            double value = opacity > least ? sums[c] / opacity : 0.0;
            if (rules.linear)
                value = linearToSrgb(value) / linearScale;
            values[c] = value;
        }
        if (alpha)
            values[colours] = sums[colours] / counted / alphaScale;
    }

    void store(const double (&sums)[kMaxTerms], double weight, unsigned char* out) const
    {
        double values[4];
        resolve(sums, weight, values);
        storeTexel(values, map.layout, rules, Rounding::Nearest, out);  // floats are never rounded
    }
};
