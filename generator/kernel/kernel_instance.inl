// One instance of the bulk renderer's inner loop. Each diamond_kernel_<isa>.cpp defines
// KERNEL_NAMESPACE and KERNEL_LANES (its widest lanes, lanes.h), then includes this file.
//
// Everything the instance compiles lives inside KERNEL_NAMESPACE, in an anonymous namespace.
// The instances are built for different instruction sets: a function that two of them
// defined alike (an inline function of a shared header, or a standard template, which an
// unoptimised build does not inline) would be one weak symbol, of which the linker keeps
// any one copy, and the AVX-512 copy could then run on a processor without AVX-512. So:
// - the kernel's files are included inside the namespace below; the standard and shared
//   headers they include are included here first, outside it, which makes their own
//   inclusions inside empty;
// - the formulas they share with the per-texel code are static functions (geometry.h,
//   map_edges.h, spherical_lookup.h), of which every object keeps its own copy;
// - they call no standard template (lanes.h has their own least, most and clampTo).
// tests/kernel_symbols_test.sh holds the instances to this in an unoptimised build.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#if defined(__GNUC__) && (defined(__AVX2__) || defined(__AVX512F__))
#include <immintrin.h>
#endif

#include "diamond_kernel.h"
#include "geometry.h"
#include "map_edges.h"
#include "samples.h"
#include "spherical_lookup.h"
#include "texture_filter.h"

namespace KERNEL_NAMESPACE {
namespace {

#include "lanes.h"
#include "point_passes.h"
#include "point_samplers.h"
#include "area_kernel.h"
#include "mode_terms.h"

// Vector lanes index the picture's words in 32 bits: a larger picture is read one lane at
// a time (its points and angles still go wide).
bool fitsVectorIndices(const DiamondSetup& s) { return static_cast<std::uint64_t>(s.stride) * s.height <= UINT32_MAX; }

// The 8-bit RGB words of the default output.
std::uint64_t renderWords(const DiamondSetup& s, std::uint32_t rowBegin, std::uint32_t rowEnd, unsigned char* out)
{
    using Wide = KERNEL_LANES;
    const bool wide = fitsVectorIndices(s);
    switch (s.filter) {
    case TextureFilter::Area: {
        const WordTerms terms{s.map, s.rules};
        renderAreaBand<Wide, Wide>(s, terms, rowBegin, rowEnd, out);
        return 0;
    }
    case TextureFilter::Bilinear: {
        BilinearSampler sampler{s};
        if (wide)
            renderBand<Wide, Wide>(s, rowBegin, rowEnd, out, sampler);
        else
            renderBand<Wide, OneLane>(s, rowBegin, rowEnd, out, sampler);
        return 0;
    }
    default: {
        NearestSampler sampler{s};
        if (wide)
            renderBand<Wide, Wide>(s, rowBegin, rowEnd, out, sampler);
        else
            renderBand<Wide, OneLane>(s, rowBegin, rowEnd, out, sampler);
        return sampler.failures;
    }
    }
}

// Every other layout, its samples of type T (mode one footprint at a time: its votes).
template <SampleType T>
std::uint64_t renderSamples(const DiamondSetup& s, std::uint32_t rowBegin, std::uint32_t rowEnd, unsigned char* out)
{
    using Wide = KERNEL_LANES;
    switch (s.filter) {
    case TextureFilter::Area:
        // 8-bit RGB taken as it is: the same sums as the design's texture, whatever the file.
        if (T == SampleType::U8 && s.map.layout.channels == 3 && !s.rules.linear && !s.rules.nodata) {
            const WordTerms terms{s.map, s.rules};
            renderAreaBand<Wide, Wide>(s, terms, rowBegin, rowEnd, out);
        } else {
            const SampleTerms<T> terms{s.map, s.rules};
            renderAreaBand<Wide, Wide>(s, terms, rowBegin, rowEnd, out);
        }
        return 0;
    case TextureFilter::Mode: {
        const ModeTerms<T> terms(s.map, s.rules);
        renderAreaBand<Wide, OneLane>(s, terms, rowBegin, rowEnd, out);
        return 0;
    }
    case TextureFilter::Bilinear: {
        SampleBilinearSampler<T> sampler{s};
        renderBand<Wide, Wide>(s, rowBegin, rowEnd, out, sampler);
        return 0;
    }
    default: {
        SampleNearestSampler<T> sampler{s};
        renderBand<Wide, Wide>(s, rowBegin, rowEnd, out, sampler);
        return sampler.failures;
    }
    }
}

}  // namespace

std::uint64_t renderRows(const DiamondSetup& s, std::uint32_t rowBegin, std::uint32_t rowEnd, unsigned char* out)
{
    if (s.map.base == nullptr || s.width == 0 || s.height == 0) {  // every read would fail
        const std::size_t rowBytes = s.regionColumns * texelBytes(s.rules.output);
        for (std::uint32_t row = rowBegin; row < rowEnd; ++row)
            std::memset(out + (row - rowBegin) * s.outRowBytes, 0, rowBytes);
        const std::size_t texels = static_cast<std::size_t>(rowEnd - rowBegin) * s.regionColumns;
        return texels * (s.filter == TextureFilter::Nearest ? 1 : 4);
    }
    if (s.rules.words)
        return renderWords(s, rowBegin, rowEnd, out);
    switch (s.map.layout.type) {
    case SampleType::U8:
        return renderSamples<SampleType::U8>(s, rowBegin, rowEnd, out);
    case SampleType::U16:
        return renderSamples<SampleType::U16>(s, rowBegin, rowEnd, out);
    case SampleType::I16:
        return renderSamples<SampleType::I16>(s, rowBegin, rowEnd, out);
    default:
        return renderSamples<SampleType::F32>(s, rowBegin, rowEnd, out);
    }
}

}  // namespace KERNEL_NAMESPACE
