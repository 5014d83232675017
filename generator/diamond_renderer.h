// Controls of the bulk renderer behind renderDiamond: how many threads render the rows of
// a diamond and which instruction set the inner loop uses. The output never depends on
// either; they exist for benchmarks and for the tests that hold every variant to the
// one-texel-at-a-time rasteriser.
#pragma once

enum class KernelIsa { Scalar, Avx2, Avx512 };

// The best instruction set this processor and build support.
KernelIsa bestKernelIsa();
// Uses `isa` from now on; false (and no change) when it is not supported here.
bool selectKernelIsa(KernelIsa isa);
KernelIsa selectedKernelIsa();
const char* kernelIsaName(KernelIsa isa);

// 0 (the default) renders on every core.
void setRenderThreads(unsigned threads);
