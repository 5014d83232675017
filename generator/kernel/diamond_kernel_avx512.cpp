// The bulk renderer's inner loop, eight texels at a time with AVX-512 (chosen only where the
// processor has it).
#include "lanes.h"

// glibc's vector math library; see diamond_kernel_avx2.cpp.
extern "C" {
__m512d _ZGVeN8vv_atan2(__m512d y, __m512d x);
__m512d _ZGVeN8v_atan(__m512d x);
}

namespace {
struct KernelLanes : VectorLanes<8> {
    static D atan2(D y, D x) { return reinterpret_cast<D>(_ZGVeN8vv_atan2(reinterpret_cast<__m512d>(y), reinterpret_cast<__m512d>(x))); }
    static D atan(D x) { return reinterpret_cast<D>(_ZGVeN8v_atan(reinterpret_cast<__m512d>(x))); }
    static D sqrt(D x) { return reinterpret_cast<D>(_mm512_sqrt_pd(reinterpret_cast<__m512d>(x))); }
};
}  // namespace

#define KERNEL_NAMESPACE kernel_avx512
#include "diamond_kernel.inl"
