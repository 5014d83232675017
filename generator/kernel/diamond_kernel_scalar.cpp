// The bulk renderer's inner loop, one texel at a time (any processor).
#define KERNEL_NAMESPACE kernel_scalar
#define KERNEL_LANES OneLane
#include "kernel_instance.inl"
