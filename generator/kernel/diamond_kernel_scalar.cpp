// The bulk renderer's inner loop, built for scalar (any processor).
#define KERNEL_NAMESPACE kernel_scalar

#include "diamond_kernel.inl"
