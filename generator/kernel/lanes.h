// Lanes: the few operations the renderer's inner loop needs on a group of texels, for one
// lane (plain scalars: the scalar kernel and every vector kernel's tail) and for vectors of
// 4 or 8 lanes (GCC/Clang vector extensions, compiled per instruction set). Arithmetic,
// comparisons and `mask ? a : b` are the language's own operators on both, so the kernel
// is written once over any of them:
//   D: doubles, F: floats, I: 32-bit integers; comparisons of D give a DMask, of F or I an
//   IMask (all ones or zero per lane; a bool for one lane).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

struct OneLane {
    static constexpr unsigned kCount = 1;
    using D = double;
    using F = float;
    using I = std::int32_t;

    static D setD(double value) { return value; }
    static I setI(std::int32_t value) { return value; }
    static I columns(std::uint32_t first) { return static_cast<I>(first); }
    static D toD(F value) { return value; }
    static D toD(I value) { return value; }
    static F toF(D value) { return static_cast<F>(value); }
    static I truncate(D value) { return static_cast<I>(value); }
    static I floorToInt(F value) { return static_cast<I>(std::floor(value)); }
    static unsigned countTrue(int mask) { return mask != 0 ? 1 : 0; }
    static F loadF(const float* at) { return *at; }
    static void storeF(float* at, F value) { *at = value; }

    // A pixel's place in the picture's words; every lane's pixel, and with it its right
    // neighbour (the next word).
    using Index = std::size_t;
    static Index index(I row, I column, std::size_t stride)
    {
        return static_cast<std::size_t>(row) * stride + static_cast<std::uint32_t>(column);
    }
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
struct VectorTypes;
template <>
struct VectorTypes<4> {
    typedef double D __attribute__((vector_size(32)));
    typedef float F __attribute__((vector_size(16)));
    typedef std::int32_t I __attribute__((vector_size(16)));
    typedef std::int64_t DMask __attribute__((vector_size(32)));
    typedef std::uint32_t Index __attribute__((vector_size(16)));
    static void store(std::uint32_t* at, Index value) { _mm_storeu_si128(reinterpret_cast<__m128i*>(at), reinterpret_cast<__m128i>(value)); }
    // The low and the high words of four 64-bit values.
    static void splitPairs(const std::uint64_t* pairs, I& low, I& high)
    {
        const __m256i both = _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pairs)),
                                                         _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7));
        low = reinterpret_cast<I>(_mm256_castsi256_si128(both));
        high = reinterpret_cast<I>(_mm256_extracti128_si256(both, 1));
    }
    static unsigned bits(DMask mask) { return static_cast<unsigned>(_mm256_movemask_pd(reinterpret_cast<__m256d>(mask))); }
    static unsigned bits(I mask) { return static_cast<unsigned>(_mm_movemask_ps(reinterpret_cast<__m128>(mask))); }
    static D toD(F value) { return reinterpret_cast<D>(_mm256_cvtps_pd(reinterpret_cast<__m128>(value))); }
    static D toD(I value) { return reinterpret_cast<D>(_mm256_cvtepi32_pd(reinterpret_cast<__m128i>(value))); }
    static F toF(D value) { return reinterpret_cast<F>(_mm256_cvtpd_ps(reinterpret_cast<__m256d>(value))); }
    static I truncate(D value) { return reinterpret_cast<I>(_mm256_cvttpd_epi32(reinterpret_cast<__m256d>(value))); }
    static D setD(double value) { return reinterpret_cast<D>(_mm256_set1_pd(value)); }
    static I setI(std::int32_t value) { return reinterpret_cast<I>(_mm_set1_epi32(value)); }
    static constexpr I kIota = {0, 1, 2, 3};
};
#if defined(__AVX512F__)
template <>
struct VectorTypes<8> {
    typedef double D __attribute__((vector_size(64)));
    typedef float F __attribute__((vector_size(32)));
    typedef std::int32_t I __attribute__((vector_size(32)));
    typedef std::int64_t DMask __attribute__((vector_size(64)));
    typedef std::uint32_t Index __attribute__((vector_size(32)));
    static void store(std::uint32_t* at, Index value) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), reinterpret_cast<__m256i>(value)); }
    static void splitPairs(const std::uint64_t* pairs, I& low, I& high)
    {
        const __m512i both = _mm512_loadu_si512(pairs);
        low = reinterpret_cast<I>(_mm512_cvtepi64_epi32(both));
        high = reinterpret_cast<I>(_mm512_cvtepi64_epi32(_mm512_srli_epi64(both, 32)));
    }
    static unsigned bits(DMask mask) { return _mm512_movepi64_mask(reinterpret_cast<__m512i>(mask)); }
    static unsigned bits(I mask) { return static_cast<unsigned>(_mm256_movemask_ps(reinterpret_cast<__m256>(mask))); }
    static D toD(F value) { return reinterpret_cast<D>(_mm512_cvtps_pd(reinterpret_cast<__m256>(value))); }
    static D toD(I value) { return reinterpret_cast<D>(_mm512_cvtepi32_pd(reinterpret_cast<__m256i>(value))); }
    static F toF(D value) { return reinterpret_cast<F>(_mm512_cvtpd_ps(reinterpret_cast<__m512d>(value))); }
    static I truncate(D value) { return reinterpret_cast<I>(_mm512_cvttpd_epi32(reinterpret_cast<__m512d>(value))); }
    static D setD(double value) { return reinterpret_cast<D>(_mm512_set1_pd(value)); }
    static I setI(std::int32_t value) { return reinterpret_cast<I>(_mm256_set1_epi32(value)); }
    static constexpr I kIota = {0, 1, 2, 3, 4, 5, 6, 7};
};
#endif

template <unsigned kLanes>
struct VectorLanes : VectorTypes<kLanes> {
    static constexpr unsigned kCount = kLanes;
    using Types = VectorTypes<kLanes>;
    using D = typename Types::D;
    using F = typename Types::F;
    using I = typename Types::I;

    using Types::setD;  // every lane `value`, signed zeros kept
    using Types::setI;
    static I columns(std::uint32_t first) { return setI(static_cast<std::int32_t>(first)) + Types::kIota; }
    // Conversions round to nearest (to float) or truncate (to integers), as the scalar casts.
    // GCC's own conversions of vector types split 256-bit work in halves, so these are
    // spelled with the instructions.
    using Types::toD;
    using Types::toF;
    using Types::truncate;
    // Truncation, one down where it went up: exact for the picture's coordinates.
    static I floorToInt(F value)
    {
        const I truncated = __builtin_convertvector(value, I);
        return truncated + (__builtin_convertvector(truncated, F) > value);
    }
    template <class Mask>
    static unsigned countTrue(Mask mask) { return static_cast<unsigned>(__builtin_popcount(Types::bits(mask))); }
    static F loadF(const float* at)
    {
        F value;
        std::memcpy(&value, at, sizeof value);
        return value;
    }
    static void storeF(float* at, F value) { std::memcpy(at, &value, sizeof value); }

    // Indices are 32-bit words here: the renderer takes these lanes only for pictures of
    // fewer than 2^32 words. Loads are plain, lane by lane, through small arrays: gather
    // instructions, and building a vector lane by lane, are both slower on several
    // processors.
    using Index = typename Types::Index;
    static Index index(I row, I column, std::size_t stride)
    {
        return reinterpret_cast<Index>(row) * static_cast<std::uint32_t>(stride) + reinterpret_cast<Index>(column);
    }
    static I loadPixels(const std::uint32_t* pixels, Index at)
    {
        std::uint32_t offset[kCount], value[kCount];
        Types::store(offset, at);
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
        Types::store(offset, at);
        for (unsigned j = 0; j < kCount; ++j)
            std::memcpy(&pair[j], pixels + offset[j], sizeof pair[j]);
        Types::splitPairs(pair, left, right);
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
