// The bulk renderer's inner loop, built for avx2 (chosen only where the processor has it).
#define KERNEL_NAMESPACE kernel_avx2
#define KERNEL_AVX2
#include "diamond_kernel.inl"
