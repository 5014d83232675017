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

// Points of columns [c0, c1), all in the pole triangle: P0 + u·(P1 − P0) + v·(P2 − P0).
void polePoints(const DiamondSetup& s, double inverseColumns, float v, std::uint32_t c0,
                std::uint32_t c1, float* qx, float* qy, float* qz)
{
    const double dv = v;
    for (std::uint32_t c = c0; c < c1; ++c) {
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
    const double dv = 1.0f - v;  // exact in float
    for (std::uint32_t c = c0; c < c1; ++c) {
        const double du = 1.0f - static_cast<float>(c * inverseColumns);
        qx[c - c0] = static_cast<float>(double{s.p3.x} + du * s.farToP2.x + dv * s.farToP1.x);
        qy[c - c0] = static_cast<float>(double{s.p3.y} + du * s.farToP2.y + dv * s.farToP1.y);
        qz[c - c0] = static_cast<float>(double{s.p3.z} + du * s.farToP2.z + dv * s.farToP1.z);
    }
}

#if defined(KERNEL_AVX512)
constexpr std::uint32_t kLanes = 8;

// A lane is unsure when moving its double result by far more than the vector library's
// error could change its rounding to float.
inline __mmask8 unsureRounding(__m512d value)
{
    const __m512d margin = _mm512_mul_pd(_mm512_abs_pd(value), _mm512_set1_pd(0x1p-40));
    const __m256 low = _mm512_cvtpd_ps(_mm512_sub_pd(value, margin));
    const __m256 high = _mm512_cvtpd_ps(_mm512_add_pd(value, margin));
    return static_cast<__mmask8>(_mm256_movemask_ps(_mm256_cmp_ps(low, high, _CMP_NEQ_UQ)));
}

// Returns the lanes that need the scalar call.
inline unsigned vectorAngles(const float* qx, const float* qy, const float* qz, float* longitude,
                             float* latitude)
{
    const __m512d x = _mm512_cvtps_pd(_mm256_loadu_ps(qx));
    const __m512d y = _mm512_cvtps_pd(_mm256_loadu_ps(qy));
    const __m512d z = _mm512_cvtps_pd(_mm256_loadu_ps(qz));
    const __m512d lon = _ZGVeN8vv_atan2(z, x);
    const __m512d h = _mm512_sqrt_pd(_mm512_add_pd(_mm512_mul_pd(x, x), _mm512_mul_pd(z, z)));
    const __m512d lat = _ZGVeN8v_atan(_mm512_div_pd(y, h));
    _mm256_storeu_ps(longitude, _mm512_cvtpd_ps(lon));
    _mm256_storeu_ps(latitude, _mm512_cvtpd_ps(lat));
    // On an axis (x or z zero) the signs of zeros decide: leave those to the scalar call.
    const __mmask8 onAxis = static_cast<__mmask8>(
        _mm512_cmp_pd_mask(x, _mm512_setzero_pd(), _CMP_EQ_OQ) |
        _mm512_cmp_pd_mask(z, _mm512_setzero_pd(), _CMP_EQ_OQ));
    return static_cast<unsigned>(onAxis | unsureRounding(lon) | unsureRounding(lat));
}
#elif defined(KERNEL_AVX2)
constexpr std::uint32_t kLanes = 4;

inline int unsureRounding(__m256d value)
{
    const __m256d absolute = _mm256_andnot_pd(_mm256_set1_pd(-0.0), value);
    const __m256d margin = _mm256_mul_pd(absolute, _mm256_set1_pd(0x1p-40));
    const __m128 low = _mm256_cvtpd_ps(_mm256_sub_pd(value, margin));
    const __m128 high = _mm256_cvtpd_ps(_mm256_add_pd(value, margin));
    return _mm_movemask_ps(_mm_cmpneq_ps(low, high));
}

inline unsigned vectorAngles(const float* qx, const float* qy, const float* qz, float* longitude,
                             float* latitude)
{
    const __m256d x = _mm256_cvtps_pd(_mm_loadu_ps(qx));
    const __m256d y = _mm256_cvtps_pd(_mm_loadu_ps(qy));
    const __m256d z = _mm256_cvtps_pd(_mm_loadu_ps(qz));
    const __m256d lon = _ZGVdN4vv_atan2(z, x);
    const __m256d h = _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(x, x), _mm256_mul_pd(z, z)));
    const __m256d lat = _ZGVdN4v_atan(_mm256_div_pd(y, h));
    _mm_storeu_ps(longitude, _mm256_cvtpd_ps(lon));
    _mm_storeu_ps(latitude, _mm256_cvtpd_ps(lat));
    const __m256d zero = _mm256_setzero_pd();
    const int onAxis = _mm256_movemask_pd(_mm256_or_pd(_mm256_cmp_pd(x, zero, _CMP_EQ_OQ),
                                                       _mm256_cmp_pd(z, zero, _CMP_EQ_OQ)));
    return static_cast<unsigned>(onAxis | unsureRounding(lon) | unsureRounding(lat));
}
#endif

void angles(Block& b, std::uint32_t n)
{
    std::uint32_t i = 0;
#if defined(KERNEL_AVX2) || defined(KERNEL_AVX512)
    for (; i + kLanes <= n; i += kLanes) {
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

inline void storeTexel(unsigned char* out, std::uint32_t texel)
{
    out[0] = static_cast<unsigned char>(texel >> 16);  // blue
    out[1] = static_cast<unsigned char>(texel >> 8);   // green
    out[2] = static_cast<unsigned char>(texel);        // red
}

std::uint64_t sampleNearestBlock(const DiamondSetup& s, const Block& b, std::uint32_t n,
                                 unsigned char* out)
{
    const double halfWidth = static_cast<double>(s.width >> 1);
    const double halfHeight = static_cast<double>(s.height >> 1);
    const double columnScale = halfWidth * static_cast<double>(kInvPi);
    const double rowScale = halfHeight * static_cast<double>(kTwoOverPi);
    std::uint64_t failures = 0;
    for (std::uint32_t i = 0; i < n; ++i, out += 3) {
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
    for (std::uint32_t i = 0; i < n; ++i, out += 3) {
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
    for (std::uint32_t r = rowBegin; r < rowEnd; ++r) {
        const auto v = static_cast<float>(r * inverseRows);
        // Columns c <= columns - r belong to the pole triangle, the rest to the far one.
        const std::int64_t lastPole = static_cast<std::int64_t>(s.columns) - r;
        const auto poleEnd = static_cast<std::uint32_t>(
            std::clamp<std::int64_t>(lastPole + 1, 0, static_cast<std::int64_t>(s.columns)));
        for (std::uint32_t c0 = 0; c0 < s.columns; c0 += kBlock) {
            const std::uint32_t c1 = std::min(c0 + kBlock, s.columns);
            const std::uint32_t split = std::clamp(poleEnd, c0, c1);
            polePoints(s, inverseColumns, v, c0, split, block.x, block.y, block.z);
            farPoints(s, inverseColumns, v, split, c1, block.x + (split - c0),
                      block.y + (split - c0), block.z + (split - c0));
            const std::uint32_t n = c1 - c0;
            angles(block, n);
            if (s.bilinear)
                sampleBilinearBlock(s, block, n, out);
            else
                failures += sampleNearestBlock(s, block, n, out);
            out += static_cast<std::size_t>(n) * 3;
        }
    }
    return failures;
}

}  // namespace KERNEL_NAMESPACE
