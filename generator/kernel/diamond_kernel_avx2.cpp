// The bulk renderer's inner loop, four texels at a time with AVX2 (chosen only where the
// processor has it).
#include "lanes.h"

// glibc's vector math library. Its results differ from the scalar calls by a few units in
// the last place of a double at most; the kernel rounds them to float and takes the
// scalar call wherever that difference could change the float.
extern "C" {
__m256d _ZGVdN4vv_atan2(__m256d y, __m256d x);
__m256d _ZGVdN4v_atan(__m256d x);
}

namespace {
struct KernelLanes : VectorLanes<4> {
    static D atan2(D y, D x) { return reinterpret_cast<D>(_ZGVdN4vv_atan2(reinterpret_cast<__m256d>(y), reinterpret_cast<__m256d>(x))); }
    static D atan(D x) { return reinterpret_cast<D>(_ZGVdN4v_atan(reinterpret_cast<__m256d>(x))); }
    static D sqrt(D x) { return reinterpret_cast<D>(_mm256_sqrt_pd(reinterpret_cast<__m256d>(x))); }
};
}  // namespace

#define KERNEL_NAMESPACE kernel_avx2
#include "diamond_kernel.inl"
