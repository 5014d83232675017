// Lanes: the few operations the renderer's inner loop needs on a group of texels, for one
// lane (plain scalars: the scalar kernel and every vector kernel's tail) and for vectors of
// 4 or 8 lanes (GCC/Clang vector extensions, compiled per instruction set). Arithmetic,
// comparisons and `mask ? a : b` are the language's own operators on both, so the kernel
// is written once over either:
//   D: doubles, F: floats, I: 32-bit integers; comparisons of D give a DMask, of F or I an
//   I-sized mask (all ones or zero per lane; a bool for one lane). Conversions to float
//   round to nearest and to integers truncate, as the scalar casts do.
// Included inside each kernel instance's namespace (kernel_instance.inl).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "vector_math.h"

struct OneLane {
    static constexpr unsigned kCount = 1;
    using D = double;
    using F = float;
    using I = std::int32_t;
    using Index = std::size_t;  // a pixel's place in the picture's words

    static D setD(double value) { return value; }
    static I setI(std::int32_t value) { return value; }
    static I columns(std::int32_t first) { return first; }
    static D toD(F value) { return value; }
    static D toD(I value) { return value; }
    static F toF(D value) { return static_cast<F>(value); }
    static F toF(I value) { return static_cast<F>(value); }
    static I truncate(D value) { return static_cast<I>(value); }
    static I truncate(F value) { return static_cast<I>(value); }
    static F setF(float value) { return value; }
    // Byte k (0 to 3) of each lane's word.
    static I byteOf(I word, int k) { return (word >> (8 * k)) & 0xFF; }
    static I floorToInt(F value) { return static_cast<I>(__builtin_floorf(value)); }
    static D sqrt(D value) { return __builtin_sqrt(value); }
    static unsigned countTrue(int mask) { return mask != 0 ? 1 : 0; }
    static unsigned bits(bool mask) { return mask ? 1 : 0; }
    static F loadF(const float* at) { return *at; }
    static void storeF(float* at, F value) { *at = value; }
    template <class T>
    static T lane(T value, unsigned)
    {
        return value;
    }
    template <class T, class S>
    static void setLane(T& value, unsigned, S scalar)
    {
        value = static_cast<T>(scalar);
    }

    static Index index(I row, I column, std::size_t stride)
    {
        return static_cast<std::size_t>(row) * stride + static_cast<std::uint32_t>(column);
    }
    // Every lane's pixel, and with it its right neighbour (the next word).
    static I loadPixels(const std::uint32_t* pixels, Index at) { return static_cast<I>(pixels[at]); }
    static void loadPairs(const std::uint32_t* pixels, Index at, I& left, I& right)
    {
        left = static_cast<I>(pixels[at]);
        right = static_cast<I>(pixels[at + 1]);
    }
    // The low three bytes of each lane's word, lane after lane.
    static void storeTexels(unsigned char* out, I words)
    {
        const auto word = static_cast<std::uint32_t>(words);
        out[0] = static_cast<unsigned char>(word);
        out[1] = static_cast<unsigned char>(word >> 8);
        out[2] = static_cast<unsigned char>(word >> 16);
    }
};

#if defined(__GNUC__) && (defined(__AVX2__) || defined(__AVX512F__))
#include <immintrin.h>

template <unsigned kLanes>
struct VectorTypes {
    typedef double D __attribute__((vector_size(8 * kLanes)));
    typedef float F __attribute__((vector_size(4 * kLanes)));
    typedef std::int32_t I __attribute__((vector_size(4 * kLanes)));
    typedef std::uint32_t Index __attribute__((vector_size(4 * kLanes)));
    typedef std::int64_t DMask __attribute__((vector_size(8 * kLanes)));
};

// The same bits as another vector type.
template <class To, class From>
inline To as(From value)
{
    return reinterpret_cast<To>(value);
}

// The instructions that differ with the width, as overloads. GCC's own widening
// conversions of vector types split the work in halves, so these are spelt out; storing
// indices through an instruction keeps GCC from reading them back lane by lane.
using V4 = VectorTypes<4>;
inline V4::D squareRoot(V4::D v) { return as<V4::D>(_mm256_sqrt_pd(as<__m256d>(v))); }
inline V4::D widen(V4::F v) { return as<V4::D>(_mm256_cvtps_pd(as<__m128>(v))); }
inline V4::D widen(V4::I v) { return as<V4::D>(_mm256_cvtepi32_pd(as<__m128i>(v))); }
inline unsigned maskBits(V4::DMask m) { return static_cast<unsigned>(_mm256_movemask_pd(as<__m256d>(m))); }
inline unsigned maskBits(V4::I m) { return static_cast<unsigned>(_mm_movemask_ps(as<__m128>(m))); }
inline void storeWords(std::uint32_t* at, V4::Index v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(at), as<__m128i>(v)); }
// Byte k of every word, in the word's low byte; the others zero (a shuffle index of -1).
inline V4::I bytes(V4::I words, int k)
{
    const auto pick = [k](int word) { return static_cast<char>(4 * word + k); };
    return as<V4::I>(_mm_shuffle_epi8(as<__m128i>(words), _mm_setr_epi8(pick(0), -1, -1, -1, pick(1), -1, -1, -1,
                                                                          pick(2), -1, -1, -1, pick(3), -1, -1, -1)));
}
// The low and the high words of four 64-bit values.
inline void splitPairs(const std::uint64_t* pairs, V4::I& low, V4::I& high)
{
    const __m256i both = _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pairs)),
                                                     _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7));
    low = as<V4::I>(_mm256_castsi256_si128(both));
    high = as<V4::I>(_mm256_extracti128_si256(both, 1));
}
#if defined(__AVX512F__)
using V8 = VectorTypes<8>;
inline void splitPairs(const std::uint64_t* pairs, V8::I& low, V8::I& high)
{
    const __m512i both = _mm512_loadu_si512(pairs);
    low = as<V8::I>(_mm512_cvtepi64_epi32(both));
    high = as<V8::I>(_mm512_cvtepi64_epi32(_mm512_srli_epi64(both, 32)));
}
inline void storeWords(std::uint32_t* at, V8::Index v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), as<__m256i>(v)); }
inline V8::I bytes(V8::I words, int k)
{
    const auto pick = [k](int word) { return static_cast<char>(4 * word + k); };
    const __m256i order = _mm256_setr_epi8(pick(0), -1, -1, -1, pick(1), -1, -1, -1, pick(2), -1, -1, -1, pick(3), -1,
                                           -1, -1, pick(0), -1, -1, -1, pick(1), -1, -1, -1, pick(2), -1, -1, -1,
                                           pick(3), -1, -1, -1);
    return as<V8::I>(_mm256_shuffle_epi8(as<__m256i>(words), order));
}
inline unsigned maskBits(V8::I m) { return static_cast<unsigned>(_mm256_movemask_ps(as<__m256>(m))); }
inline unsigned maskBits(V8::DMask m) { return _mm512_movepi64_mask(as<__m512i>(m)); }
inline V8::D widen(V8::I v) { return as<V8::D>(_mm512_cvtepi32_pd(as<__m256i>(v))); }
inline V8::D widen(V8::F v) { return as<V8::D>(_mm512_cvtps_pd(as<__m256>(v))); }
inline V8::D squareRoot(V8::D v) { return as<V8::D>(_mm512_sqrt_pd(as<__m512d>(v))); }
#endif

// kLanes lanes.
template <unsigned kLanes>
struct VectorLanes : VectorTypes<kLanes> {
    static constexpr unsigned kCount = kLanes;
    using Types = VectorTypes<kLanes>;
    using D = typename Types::D;
    using F = typename Types::F;
    using I = typename Types::I;
    using Index = typename Types::Index;

    static D setD(double value) { return value - D{}; }  // x − 0 is x, signed zeros kept
    static I setI(std::int32_t value) { return value - I{}; }
    static I columns(std::int32_t first)
    {
        I column{};
        for (unsigned j = 0; j < kCount; ++j)
            column[j] = static_cast<std::int32_t>(j);
        return setI(first) + column;
    }
    static D toD(F value) { return widen(value); }
    static D toD(I value) { return widen(value); }
    static F toF(D value) { return __builtin_convertvector(value, F); }
    static F toF(I value) { return __builtin_convertvector(value, F); }
    static I truncate(D value) { return __builtin_convertvector(value, I); }
    static I truncate(F value) { return __builtin_convertvector(value, I); }
    static F setF(float value) { return value - F{}; }
    static I byteOf(I word, int k) { return bytes(word, k); }
    static D sqrt(D value) { return squareRoot(value); }
    static D atan2(D y, D x) { return arcTangent2(y, x); }
    // Truncation, one down where it went up: exact for the picture's coordinates.
    static I floorToInt(F value)
    {
        const I truncated = __builtin_convertvector(value, I);
        return truncated + (__builtin_convertvector(truncated, F) > value);
    }
    template <class Mask>
    static unsigned bits(Mask mask) { return maskBits(mask); }
    template <class Mask>
    static unsigned countTrue(Mask mask) { return static_cast<unsigned>(__builtin_popcount(maskBits(mask))); }
    static F loadF(const float* at)
    {
        F value;
        std::memcpy(&value, at, sizeof value);
        return value;
    }
    static void storeF(float* at, F value) { std::memcpy(at, &value, sizeof value); }
    template <class V>
    static auto lane(V value, unsigned j)
    {
        return value[j];
    }
    template <class V, class S>
    static void setLane(V& value, unsigned j, S scalar)
    {
        value[j] = scalar;
    }

    // Indices are 32-bit words here: the renderer takes these lanes only for pictures of
    // fewer than 2^32 words. Loads are plain, lane by lane, through small arrays: gather
    // instructions, and building a vector lane by lane, are both slower on several
    // processors.
    static Index index(I row, I column, std::size_t stride)
    {
        return as<Index>(row) * static_cast<std::uint32_t>(stride) + as<Index>(column);
    }
    static I loadPixels(const std::uint32_t* pixels, Index at)
    {
        std::uint32_t offset[kCount], value[kCount];
        storeWords(offset, at);
        for (unsigned j = 0; j < kCount; ++j)
            value[j] = pixels[offset[j]];
        I result;
        std::memcpy(&result, value, sizeof result);
        return result;
    }
    static void loadPairs(const std::uint32_t* pixels, Index at, I& left, I& right)
    {
        std::uint32_t offset[kCount];
        std::uint64_t pair[kCount];
        storeWords(offset, at);
        for (unsigned j = 0; j < kCount; ++j)
            std::memcpy(&pair[j], pixels + offset[j], sizeof pair[j]);
        splitPairs(pair, left, right);
    }
    // Each 4-byte store overlaps the next texel, so the last lane stores 3 bytes.
    static void storeTexels(unsigned char* out, I words)
    {
        std::uint32_t word[kCount];
        std::memcpy(word, &words, sizeof word);
        for (unsigned j = 0; j + 1 < kCount; ++j)
            std::memcpy(out + 3 * j, &word[j], 4);
        std::memcpy(out + 3 * (kCount - 1), &word[kCount - 1], 3);
    }
};
#endif

// The kernels' own minimum, maximum and clamp, as std::min, std::max and std::clamp decide
// (a kernel calls no standard template: kernel_instance.inl).
template <class T>
T least(T a, T b)
{
    return b < a ? b : a;
}
template <class T>
T most(T a, T b)
{
    return a < b ? b : a;
}
template <class T>
T clampTo(T value, T low, T high)
{
    return value < low ? low : (high < value ? high : value);
}
