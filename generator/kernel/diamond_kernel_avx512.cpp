// The bulk renderer's inner loop, eight texels at a time with AVX-512 (chosen only where
// the processor has it).
#define KERNEL_NAMESPACE kernel_avx512
#define KERNEL_LANES VectorLanes<8>
#include "kernel_instance.inl"
