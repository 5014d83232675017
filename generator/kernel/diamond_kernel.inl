// The bulk renderer's inner loop. Included by diamond_kernel_scalar.cpp,
// diamond_kernel_avx2.cpp and diamond_kernel_avx512.cpp, each of which defines
// KERNEL_NAMESPACE and is compiled for its own instruction set.
//
// A row is processed in blocks: the points of the block (split where the row crosses from
// the pole triangle into the far triangle, so no texel branches on it), then their angles,
// then the samples and the byte stores. Every value is formed with the same operations in
// the same order as the per-texel functions, so the bytes are identical; the build keeps
// the compiler from fusing multiply-adds.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "diamond_kernel.h"
#include "spherical_lookup.h"

#if defined(KERNEL_AVX2) || defined(KERNEL_AVX512)
#define KERNEL_VECTOR 1
#include <immintrin.h>

// glibc's vector math library. Its results differ from the scalar calls by a few units in
// the last place of a double at most; the callers below round to float and fall back to
// the scalar call wherever that difference could change the float.
extern "C" {
__m256d _ZGVdN4vv_atan2(__m256d y, __m256d x);
__m256d _ZGVdN4v_atan(__m256d x);
#if defined(KERNEL_AVX512)
__m512d _ZGVeN8vv_atan2(__m512d y, __m512d x);
__m512d _ZGVeN8v_atan(__m512d x);
#endif
}
#endif

namespace KERNEL_NAMESPACE {
namespace {

constexpr std::uint32_t kBlock = 256;

struct Block {
    float x[kBlock], y[kBlock], z[kBlock];
    float longitude[kBlock], latitude[kBlock];
};

#if defined(KERNEL_AVX512)
// Eight lanes: doubles in a zmm register, floats and int32 in a ymm register.
struct Lanes {
    static constexpr std::uint32_t kCount = 8;
    using D = __m512d;
    using F = __m256;
    using I = __m256i;
    static F loadF(const float* p) { return _mm256_loadu_ps(p); }
    static void storeF(float* p, F v) { _mm256_storeu_ps(p, v); }
    static D toD(F v) { return _mm512_cvtps_pd(v); }
    static F toF(D v) { return _mm512_cvtpd_ps(v); }
    static D setD(double x) { return _mm512_set1_pd(x); }
    static F setF(float x) { return _mm256_set1_ps(x); }
    static F subF(F a, F b) { return _mm256_sub_ps(a, b); }
    static D add(D a, D b) { return _mm512_add_pd(a, b); }
    static D sub(D a, D b) { return _mm512_sub_pd(a, b); }
    static D mul(D a, D b) { return _mm512_mul_pd(a, b); }
    static D div(D a, D b) { return _mm512_div_pd(a, b); }
    static D sqrt(D a) { return _mm512_sqrt_pd(a); }
    static D abs(D a) { return _mm512_abs_pd(a); }
    static D atan2(D y, D x) { return _ZGVeN8vv_atan2(y, x); }
    static D atan(D x) { return _ZGVeN8v_atan(x); }
    static unsigned zeroMask(D a)
    {
        return _mm512_cmp_pd_mask(a, _mm512_setzero_pd(), _CMP_EQ_OQ);
    }
    static unsigned notEqualMask(F a, F b)
    {
        return static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(a, b, _CMP_NEQ_UQ)));
    }
    static I setI(std::int32_t x) { return _mm256_set1_epi32(x); }
    static I iota() { return _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7); }
    static D iToD(I v) { return _mm512_cvtepi32_pd(v); }
    static I truncate(D v) { return _mm512_cvttpd_epi32(v); }
    static I floorF(F v) { return _mm256_cvttps_epi32(_mm256_floor_ps(v)); }
    static I addI(I a, I b) { return _mm256_add_epi32(a, b); }
    static I subI(I a, I b) { return _mm256_sub_epi32(a, b); }
    static I mulI(I a, I b) { return _mm256_mullo_epi32(a, b); }
    static I andI(I a, I b) { return _mm256_and_si256(a, b); }
    static I andNotI(I a, I b) { return _mm256_andnot_si256(a, b); }
    static I orI(I a, I b) { return _mm256_or_si256(a, b); }
    static I greater(I a, I b) { return _mm256_cmpgt_epi32(a, b); }
    static I equal(I a, I b) { return _mm256_cmpeq_epi32(a, b); }
    template <int kShift> static I shiftLeft(I a) { return _mm256_slli_epi32(a, kShift); }
    template <int kShift> static I shiftRight(I a) { return _mm256_srli_epi32(a, kShift); }
    static unsigned maskBits(I mask)
    {
        return static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(mask)));
    }
    static void storeI(std::uint32_t* p, I v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
    static I loadI(const std::uint32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    // The low and the high words of kCount 64-bit values.
    static void splitPairs(const std::uint64_t* p, I& low, I& high)
    {
        const __m512i pairs = _mm512_loadu_si512(p);
        low = _mm512_cvtepi64_epi32(pairs);
        high = _mm512_cvtepi64_epi32(_mm512_srli_epi64(pairs, 32));
    }
};
#elif defined(KERNEL_AVX2)
// Four lanes: doubles in a ymm register, floats and int32 in an xmm register.
struct Lanes {
    static constexpr std::uint32_t kCount = 4;
    using D = __m256d;
    using F = __m128;
    using I = __m128i;
    static F loadF(const float* p) { return _mm_loadu_ps(p); }
    static void storeF(float* p, F v) { _mm_storeu_ps(p, v); }
    static D toD(F v) { return _mm256_cvtps_pd(v); }
    static F toF(D v) { return _mm256_cvtpd_ps(v); }
    static D setD(double x) { return _mm256_set1_pd(x); }
    static F setF(float x) { return _mm_set1_ps(x); }
    static F subF(F a, F b) { return _mm_sub_ps(a, b); }
    static D add(D a, D b) { return _mm256_add_pd(a, b); }
    static D sub(D a, D b) { return _mm256_sub_pd(a, b); }
    static D mul(D a, D b) { return _mm256_mul_pd(a, b); }
    static D div(D a, D b) { return _mm256_div_pd(a, b); }
    static D sqrt(D a) { return _mm256_sqrt_pd(a); }
    static D abs(D a) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), a); }
    static D atan2(D y, D x) { return _ZGVdN4vv_atan2(y, x); }
    static D atan(D x) { return _ZGVdN4v_atan(x); }
    static unsigned zeroMask(D a)
    {
        return static_cast<unsigned>(
            _mm256_movemask_pd(_mm256_cmp_pd(a, _mm256_setzero_pd(), _CMP_EQ_OQ)));
    }
    static unsigned notEqualMask(F a, F b)
    {
        return static_cast<unsigned>(_mm_movemask_ps(_mm_cmpneq_ps(a, b)));
    }
    static I setI(std::int32_t x) { return _mm_set1_epi32(x); }
    static I iota() { return _mm_setr_epi32(0, 1, 2, 3); }
    static D iToD(I v) { return _mm256_cvtepi32_pd(v); }
    static I truncate(D v) { return _mm256_cvttpd_epi32(v); }
    static I floorF(F v) { return _mm_cvttps_epi32(_mm_floor_ps(v)); }
    static I addI(I a, I b) { return _mm_add_epi32(a, b); }
    static I subI(I a, I b) { return _mm_sub_epi32(a, b); }
    static I mulI(I a, I b) { return _mm_mullo_epi32(a, b); }
    static I andI(I a, I b) { return _mm_and_si128(a, b); }
    static I andNotI(I a, I b) { return _mm_andnot_si128(a, b); }
    static I orI(I a, I b) { return _mm_or_si128(a, b); }
    static I greater(I a, I b) { return _mm_cmpgt_epi32(a, b); }
    static I equal(I a, I b) { return _mm_cmpeq_epi32(a, b); }
    template <int kShift> static I shiftLeft(I a) { return _mm_slli_epi32(a, kShift); }
    template <int kShift> static I shiftRight(I a) { return _mm_srli_epi32(a, kShift); }
    static unsigned maskBits(I mask)
    {
        return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(mask)));
    }
    static void storeI(std::uint32_t* p, I v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
    static I loadI(const std::uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void splitPairs(const std::uint64_t* p, I& low, I& high)
    {
        const __m256i pairs = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i split = _mm256_permutevar8x32_epi32(pairs, _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7));
        low = _mm256_castsi256_si128(split);
        high = _mm256_extracti128_si256(split, 1);
    }
};
#endif

#if defined(KERNEL_VECTOR)
using D = Lanes::D;
using F = Lanes::F;
using I = Lanes::I;

// A lane is unsure when moving its double result by far more than the vector library's
// error (a few units in the last place) could change its rounding to float.
inline unsigned unsureRounding(D value)
{
    const D margin = Lanes::mul(Lanes::abs(value), Lanes::setD(0x1p-40));
    return Lanes::notEqualMask(Lanes::toF(Lanes::sub(value, margin)),
                               Lanes::toF(Lanes::add(value, margin)));
}

// The angles of kCount points; returns the lanes that need the scalar call.
inline unsigned vectorAngles(const float* qx, const float* qy, const float* qz, float* longitude,
                             float* latitude)
{
    const D x = Lanes::toD(Lanes::loadF(qx));
    const D y = Lanes::toD(Lanes::loadF(qy));
    const D z = Lanes::toD(Lanes::loadF(qz));
    const D lon = Lanes::atan2(z, x);
    const D h = Lanes::sqrt(Lanes::add(Lanes::mul(x, x), Lanes::mul(z, z)));
    const D lat = Lanes::atan(Lanes::div(y, h));
    Lanes::storeF(longitude, Lanes::toF(lon));
    Lanes::storeF(latitude, Lanes::toF(lat));
    // On an axis (x or z zero) the signs of zeros decide: leave those to the scalar call.
    const unsigned onAxis = Lanes::zeroMask(x) | Lanes::zeroMask(z);
    return onAxis | unsureRounding(lon) | unsureRounding(lat);
}

// Picture reads for every lane are plain loads: gather instructions are slower than
// separate loads on several processors, and the indices are known to be inside.
inline I loadLanes(const std::uint32_t* base, I index)
{
    std::uint32_t at[Lanes::kCount];
    std::uint32_t value[Lanes::kCount];
    Lanes::storeI(at, index);
    for (std::uint32_t j = 0; j < Lanes::kCount; ++j)
        value[j] = base[at[j]];
    return Lanes::loadI(value);
}

// The pixel at each index and its right neighbour (the wrap word at a row's end).
inline void loadPairs(const std::uint32_t* base, I index, I& left, I& right)
{
    std::uint32_t at[Lanes::kCount];
    std::uint64_t pair[Lanes::kCount];
    Lanes::storeI(at, index);
    for (std::uint32_t j = 0; j < Lanes::kCount; ++j)
        std::memcpy(&pair[j], base + at[j], sizeof pair[j]);
    Lanes::splitPairs(pair, left, right);
}
#endif

void angles(Block& b, std::uint32_t n)
{
    std::uint32_t i = 0;
#if defined(KERNEL_VECTOR)
    for (; i + Lanes::kCount <= n; i += Lanes::kCount) {
        unsigned unsure = vectorAngles(b.x + i, b.y + i, b.z + i, b.longitude + i, b.latitude + i);
        while (unsure != 0) {
            const unsigned lane = static_cast<unsigned>(__builtin_ctz(unsure));
            unsure &= unsure - 1;
            directionToAngles(b.x[i + lane], b.y[i + lane], b.z[i + lane], b.longitude[i + lane],
                              b.latitude[i + lane]);
        }
    }
#endif
    for (; i < n; ++i)
        directionToAngles(b.x[i], b.y[i], b.z[i], b.longitude[i], b.latitude[i]);
}

// Points of columns [c0, c1), all in the pole triangle: P0 + u·(P1 − P0) + v·(P2 − P0).
void polePoints(const DiamondSetup& s, double inverseColumns, float v, std::uint32_t c0,
                std::uint32_t c1, float* qx, float* qy, float* qz)
{
    const double dv = v;
    std::uint32_t c = c0;
#if defined(KERNEL_VECTOR)
    const D inverse = Lanes::setD(inverseColumns), rowPart = Lanes::setD(dv);
    const D p0x = Lanes::setD(s.p0.x), p0y = Lanes::setD(s.p0.y), p0z = Lanes::setD(s.p0.z);
    const D e1x = Lanes::setD(s.toP1.x), e1y = Lanes::setD(s.toP1.y), e1z = Lanes::setD(s.toP1.z);
    const D e2x = Lanes::setD(s.toP2.x), e2y = Lanes::setD(s.toP2.y), e2z = Lanes::setD(s.toP2.z);
    for (; c + Lanes::kCount <= c1; c += Lanes::kCount) {
        const I column = Lanes::addI(Lanes::setI(static_cast<std::int32_t>(c)), Lanes::iota());
        const D u = Lanes::toD(Lanes::toF(Lanes::mul(Lanes::iToD(column), inverse)));
        const std::uint32_t at = c - c0;
        Lanes::storeF(qx + at, Lanes::toF(Lanes::add(Lanes::add(p0x, Lanes::mul(u, e1x)), Lanes::mul(rowPart, e2x))));
        Lanes::storeF(qy + at, Lanes::toF(Lanes::add(Lanes::add(p0y, Lanes::mul(u, e1y)), Lanes::mul(rowPart, e2y))));
        Lanes::storeF(qz + at, Lanes::toF(Lanes::add(Lanes::add(p0z, Lanes::mul(u, e1z)), Lanes::mul(rowPart, e2z))));
    }
#endif
    for (; c < c1; ++c) {
        const double u = static_cast<float>(c * inverseColumns);
        qx[c - c0] = static_cast<float>(double{s.p0.x} + u * s.toP1.x + dv * s.toP2.x);
        qy[c - c0] = static_cast<float>(double{s.p0.y} + u * s.toP1.y + dv * s.toP2.y);
        qz[c - c0] = static_cast<float>(double{s.p0.z} + u * s.toP1.z + dv * s.toP2.z);
    }
}

// Points of columns [c0, c1), all in the far triangle: P3 + (1−u)·(P2 − P3) + (1−v)·(P1 − P3).
void farPoints(const DiamondSetup& s, double inverseColumns, float v, std::uint32_t c0,
               std::uint32_t c1, float* qx, float* qy, float* qz)
{
    const double dv = 1.0f - v;  // in float, as the plain rasteriser: exact for powers of two
    std::uint32_t c = c0;
#if defined(KERNEL_VECTOR)
    const D inverse = Lanes::setD(inverseColumns), rowPart = Lanes::setD(dv);
    const F one = Lanes::setF(1.0f);
    const D p3x = Lanes::setD(s.p3.x), p3y = Lanes::setD(s.p3.y), p3z = Lanes::setD(s.p3.z);
    const D f2x = Lanes::setD(s.farToP2.x), f2y = Lanes::setD(s.farToP2.y), f2z = Lanes::setD(s.farToP2.z);
    const D f1x = Lanes::setD(s.farToP1.x), f1y = Lanes::setD(s.farToP1.y), f1z = Lanes::setD(s.farToP1.z);
    for (; c + Lanes::kCount <= c1; c += Lanes::kCount) {
        const I column = Lanes::addI(Lanes::setI(static_cast<std::int32_t>(c)), Lanes::iota());
        const F u = Lanes::toF(Lanes::mul(Lanes::iToD(column), inverse));
        const D du = Lanes::toD(Lanes::subF(one, u));  // in float: exact for powers of two
        const std::uint32_t at = c - c0;
        Lanes::storeF(qx + at, Lanes::toF(Lanes::add(Lanes::add(p3x, Lanes::mul(du, f2x)), Lanes::mul(rowPart, f1x))));
        Lanes::storeF(qy + at, Lanes::toF(Lanes::add(Lanes::add(p3y, Lanes::mul(du, f2y)), Lanes::mul(rowPart, f1y))));
        Lanes::storeF(qz + at, Lanes::toF(Lanes::add(Lanes::add(p3z, Lanes::mul(du, f2z)), Lanes::mul(rowPart, f1z))));
    }
#endif
    for (; c < c1; ++c) {
        const double du = 1.0f - static_cast<float>(c * inverseColumns);
        qx[c - c0] = static_cast<float>(double{s.p3.x} + du * s.farToP2.x + dv * s.farToP1.x);
        qy[c - c0] = static_cast<float>(double{s.p3.y} + du * s.farToP2.y + dv * s.farToP1.y);
        qz[c - c0] = static_cast<float>(double{s.p3.z} + du * s.farToP2.z + dv * s.farToP1.z);
    }
}

inline void storeTexel(unsigned char* out, std::uint32_t texel)
{
    out[0] = static_cast<unsigned char>(texel >> 16);  // blue
    out[1] = static_cast<unsigned char>(texel >> 8);   // green
    out[2] = static_cast<unsigned char>(texel);        // red
}

#if defined(KERNEL_VECTOR)
// Stores kCount words, each holding blue, green, red in its low three bytes, as 3-byte
// texels. Each 4-byte store overlaps the next texel, so the last is stored as 3 bytes.
inline void storeTexels(unsigned char* out, I words)
{
    std::uint32_t word[Lanes::kCount];
    Lanes::storeI(word, words);
    for (std::uint32_t j = 0; j + 1 < Lanes::kCount; ++j)
        std::memcpy(out + 3 * j, &word[j], 4);
    std::memcpy(out + 3 * (Lanes::kCount - 1), &word[Lanes::kCount - 1], 3);
}

// 0x00BBGGRR pixel words to words whose bytes are blue, green, red.
inline I blueGreenRed(I pixel)
{
    const I low = Lanes::setI(0xFF);
    return Lanes::orI(Lanes::orI(Lanes::andI(Lanes::template shiftRight<16>(pixel), low),
                                 Lanes::andI(pixel, Lanes::setI(0xFF00))),
                      Lanes::template shiftLeft<16>(Lanes::andI(pixel, low)));
}
#endif

std::uint64_t sampleNearestBlock(const DiamondSetup& s, const Block& b, std::uint32_t n,
                                 unsigned char* out)
{
    const double halfWidth = static_cast<double>(s.width >> 1);
    const double halfHeight = static_cast<double>(s.height >> 1);
    const double columnScale = halfWidth * static_cast<double>(kInvPi);
    const double rowScale = halfHeight * static_cast<double>(kTwoOverPi);
    std::uint64_t failures = 0;
    std::uint32_t i = 0;
#if defined(KERNEL_VECTOR)
    if (s.indexable32) {
        const D hw = Lanes::setD(halfWidth), hh = Lanes::setD(halfHeight);
        const D cs = Lanes::setD(columnScale), rs = Lanes::setD(rowScale);
        const I width = Lanes::setI(static_cast<std::int32_t>(s.width));
        const I height = Lanes::setI(static_cast<std::int32_t>(s.height));
        const I stride = Lanes::setI(static_cast<std::int32_t>(s.stride));
        const I minusOne = Lanes::setI(-1);
        for (; i + Lanes::kCount <= n; i += Lanes::kCount) {
            const I column = Lanes::truncate(Lanes::sub(hw, Lanes::mul(cs, Lanes::toD(Lanes::loadF(b.longitude + i)))));
            const I row = Lanes::truncate(Lanes::sub(hh, Lanes::mul(rs, Lanes::toD(Lanes::loadF(b.latitude + i)))));
            const I inside = Lanes::andI(
                Lanes::andI(Lanes::greater(column, minusOne), Lanes::greater(width, column)),
                Lanes::andI(Lanes::greater(row, minusOne), Lanes::greater(height, row)));
            // Lanes outside read pixel 0 and are then blacked out.
            const I index = Lanes::andI(inside, Lanes::addI(Lanes::mulI(row, stride), column));
            const I pixel = Lanes::andI(inside, loadLanes(s.pixels, index));
            failures += Lanes::kCount - static_cast<std::uint32_t>(__builtin_popcount(Lanes::maskBits(inside)));
            storeTexels(out + 3 * i, blueGreenRed(pixel));
        }
    }
#endif
    for (out += 3 * i; i < n; ++i, out += 3) {
        const auto column = static_cast<std::int32_t>(halfWidth - columnScale * b.longitude[i]);
        const auto row = static_cast<std::int32_t>(halfHeight - rowScale * b.latitude[i]);
        std::uint32_t texel = 0;
        if (static_cast<std::uint32_t>(column) < s.width && static_cast<std::uint32_t>(row) < s.height)
            texel = s.pixels[static_cast<std::size_t>(row) * s.stride + static_cast<std::uint32_t>(column)];
        else
            ++failures;
        storeTexel(out, texel);
    }
    return failures;
}

#if defined(KERNEL_VECTOR)
// One channel of four corner vectors, blended exactly as the scalar code does.
template <int kShift>
inline I blendChannel(I c00, I c10, I c01, I c11, D fx, D fy, D gx, D gy)
{
    const I low = Lanes::setI(0xFF);
    const D v00 = Lanes::iToD(Lanes::andI(Lanes::template shiftRight<kShift>(c00), low));
    const D v10 = Lanes::iToD(Lanes::andI(Lanes::template shiftRight<kShift>(c10), low));
    const D v01 = Lanes::iToD(Lanes::andI(Lanes::template shiftRight<kShift>(c01), low));
    const D v11 = Lanes::iToD(Lanes::andI(Lanes::template shiftRight<kShift>(c11), low));
    const D top = Lanes::add(Lanes::mul(gx, v00), Lanes::mul(fx, v10));
    const D bottom = Lanes::add(Lanes::mul(gx, v01), Lanes::mul(fx, v11));
    return Lanes::truncate(Lanes::add(Lanes::mul(gy, top), Lanes::mul(fy, bottom)));
}
#endif

// Bilinear sampling needs a picture of at least 1 × 1; angles from directionToAngles keep
// the floored coordinates within [0, size], so one subtraction wraps them.
void sampleBilinearBlock(const DiamondSetup& s, const Block& b, std::uint32_t n, unsigned char* out)
{
    const double halfWidth = static_cast<double>(s.width >> 1);
    const double halfHeight = static_cast<double>(s.height >> 1);
    const double columnScale = halfWidth * static_cast<double>(kInvPi);
    const double rowScale = halfHeight * static_cast<double>(kTwoOverPi);
    const auto width = static_cast<std::int32_t>(s.width);
    const auto height = static_cast<std::int32_t>(s.height);
    std::uint32_t i = 0;
#if defined(KERNEL_VECTOR)
    if (s.indexable32) {
        const D hw = Lanes::setD(halfWidth), hh = Lanes::setD(halfHeight);
        const D cs = Lanes::setD(columnScale), rs = Lanes::setD(rowScale);
        const D one = Lanes::setD(1.0);
        const I widthV = Lanes::setI(width), heightV = Lanes::setI(height);
        const I lastColumn = Lanes::setI(width - 1), lastRow = Lanes::setI(height - 1);
        const I stride = Lanes::setI(static_cast<std::int32_t>(s.stride));
        const I zero = Lanes::setI(0), oneI = Lanes::setI(1);
        for (; i + Lanes::kCount <= n; i += Lanes::kCount) {
            const F px = Lanes::toF(Lanes::sub(hw, Lanes::mul(cs, Lanes::toD(Lanes::loadF(b.longitude + i)))));
            const F py = Lanes::toF(Lanes::sub(hh, Lanes::mul(rs, Lanes::toD(Lanes::loadF(b.latitude + i)))));
            const I ix = Lanes::floorF(px);
            const I iy = Lanes::floorF(py);
            const D fx = Lanes::sub(Lanes::toD(px), Lanes::iToD(ix));
            const D fy = Lanes::sub(Lanes::toD(py), Lanes::iToD(iy));
            I x0 = Lanes::subI(ix, Lanes::andI(Lanes::greater(ix, lastColumn), widthV));
            I y0 = Lanes::subI(iy, Lanes::andI(Lanes::greater(iy, lastRow), heightV));
            x0 = Lanes::addI(x0, Lanes::andI(Lanes::greater(zero, x0), widthV));
            y0 = Lanes::addI(y0, Lanes::andI(Lanes::greater(zero, y0), heightV));
            I y1 = Lanes::addI(y0, oneI);
            y1 = Lanes::andNotI(Lanes::equal(y1, heightV), y1);
            // (x0 + 1) mod W is the next word: the wrap word at the end of the row.
            I c00, c10, c01, c11;
            loadPairs(s.pixels, Lanes::addI(Lanes::mulI(y0, stride), x0), c00, c10);
            loadPairs(s.pixels, Lanes::addI(Lanes::mulI(y1, stride), x0), c01, c11);
            const D gx = Lanes::sub(one, fx);
            const D gy = Lanes::sub(one, fy);
            const I red = blendChannel<0>(c00, c10, c01, c11, fx, fy, gx, gy);
            const I green = blendChannel<8>(c00, c10, c01, c11, fx, fy, gx, gy);
            const I blue = blendChannel<16>(c00, c10, c01, c11, fx, fy, gx, gy);
            storeTexels(out + 3 * i, Lanes::orI(Lanes::orI(blue, Lanes::template shiftLeft<8>(green)),
                                                Lanes::template shiftLeft<16>(red)));
        }
    }
#endif
    for (out += 3 * i; i < n; ++i, out += 3) {
        const auto px = static_cast<float>(halfWidth - columnScale * b.longitude[i]);
        const auto py = static_cast<float>(halfHeight - rowScale * b.latitude[i]);
        const auto ix = static_cast<std::int32_t>(std::floor(px));
        const auto iy = static_cast<std::int32_t>(std::floor(py));
        const double fx = static_cast<double>(px) - ix;
        const double fy = static_cast<double>(py) - iy;
        std::int32_t x0 = ix >= width ? ix - width : ix;
        std::int32_t y0 = iy >= height ? iy - height : iy;
        x0 += x0 < 0 ? width : 0;
        y0 += y0 < 0 ? height : 0;
        const std::int32_t x1 = x0 + 1 == width ? 0 : x0 + 1;
        const std::int32_t y1 = y0 + 1 == height ? 0 : y0 + 1;
        const std::uint32_t* row0 = s.pixels + static_cast<std::size_t>(y0) * s.stride;
        const std::uint32_t* row1 = s.pixels + static_cast<std::size_t>(y1) * s.stride;
        const std::uint32_t c00 = row0[x0], c10 = row0[x1], c01 = row1[x0], c11 = row1[x1];
        const double gx = 1.0 - fx;
        const double gy = 1.0 - fy;
        std::uint32_t texel = 0;
        for (int shift = 0; shift <= 16; shift += 8) {
            const double v = gy * (gx * ((c00 >> shift) & 0xFFu) + fx * ((c10 >> shift) & 0xFFu)) +
                             fy * (gx * ((c01 >> shift) & 0xFFu) + fx * ((c11 >> shift) & 0xFFu));
            texel |= static_cast<std::uint32_t>(v) << shift;
        }
        storeTexel(out, texel);
    }
}

}  // namespace

std::uint64_t renderRows(const DiamondSetup& s, std::uint32_t rowBegin, std::uint32_t rowEnd,
                         unsigned char* out)
{
    if (s.pixels == nullptr || s.width == 0 || s.height == 0) {  // every read would fail
        const std::size_t texels = static_cast<std::size_t>(rowEnd - rowBegin) * s.columns;
        std::memset(out, 0, texels * 3);
        return texels * (s.bilinear ? 4 : 1);
    }
    const double inverseRows = 1.0 / s.rows;
    const double inverseColumns = 1.0 / s.columns;
    std::uint64_t failures = 0;
    Block block;
    // Column blocks outside, rows inside: the rows of a band then sample neighbouring
    // source pixels one after the other, which keeps them in the nearer caches.
    const std::size_t rowBytes = static_cast<std::size_t>(s.columns) * 3;
    for (std::uint32_t c0 = 0; c0 < s.columns; c0 += kBlock) {
        const std::uint32_t c1 = std::min(c0 + kBlock, s.columns);
        const std::uint32_t n = c1 - c0;
        for (std::uint32_t r = rowBegin; r < rowEnd; ++r) {
            const auto v = static_cast<float>(r * inverseRows);
            // Columns c <= columns - r belong to the pole triangle, the rest to the far one.
            const std::int64_t lastPole = static_cast<std::int64_t>(s.columns) - r;
            const auto poleEnd = static_cast<std::uint32_t>(
                std::clamp<std::int64_t>(lastPole + 1, 0, static_cast<std::int64_t>(s.columns)));
            const std::uint32_t split = std::clamp(poleEnd, c0, c1);
            polePoints(s, inverseColumns, v, c0, split, block.x, block.y, block.z);
            farPoints(s, inverseColumns, v, split, c1, block.x + (split - c0),
                      block.y + (split - c0), block.z + (split - c0));
            angles(block, n);
            unsigned char* texels = out + (r - rowBegin) * rowBytes + static_cast<std::size_t>(c0) * 3;
            if (s.bilinear)
                sampleBilinearBlock(s, block, n, texels);
            else
                failures += sampleNearestBlock(s, block, n, texels);
        }
    }
    return failures;
}

}  // namespace KERNEL_NAMESPACE
