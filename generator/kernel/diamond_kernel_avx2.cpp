// The bulk renderer's inner loop, four texels at a time with AVX2 (chosen only where the
// processor has it).
#define KERNEL_NAMESPACE kernel_avx2
#define KERNEL_LANES VectorLanes<4>
#include "kernel_instance.inl"
