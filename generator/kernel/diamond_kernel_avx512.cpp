// The bulk renderer's inner loop, built for avx512 (chosen only where the processor has it).
#define KERNEL_NAMESPACE kernel_avx512
#define KERNEL_AVX512
#include "diamond_kernel.inl"
