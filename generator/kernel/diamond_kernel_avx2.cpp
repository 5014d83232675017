// The bulk renderer's inner loop, four texels at a time with AVX2 (chosen only where the
// processor has it).
#include "lanes.h"

#define KERNEL_NAMESPACE kernel_avx2
using KernelLanes = VectorLanes<4>;
#include "diamond_kernel.inl"
