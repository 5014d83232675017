// The bulk renderer's inner loop, one texel at a time (any processor).
#include "lanes.h"

#define KERNEL_NAMESPACE kernel_scalar
using KernelLanes = OneLane;
#include "diamond_kernel.inl"
