// The bulk renderer's inner loop, eight texels at a time with AVX-512 (chosen only where
// the processor has it).
#include "lanes.h"

#define KERNEL_NAMESPACE kernel_avx512
using KernelLanes = VectorLanes<8>;
#include "diamond_kernel.inl"
