// The rasteriser: renders one diamond into the N × N texel block of a texture, for the face
// size and source that runState publishes. Its rows go in bands to every core, each band
// through the inner loop built for the best instruction set the processor has (kernel/);
// the output never depends on the threads or the instruction set, which exist for the
// benchmarks and for the tests that hold every variant to the plain rasteriser
// (plain_rasteriser.h).
#pragma once

#include "icosa_diamonds.h"

// Renders `record` into `texels` (rows × columns × 3 bytes, blue-green-red, and nothing
// outside them). `southern` is set for records 6 to 10, whose far corner is point 3
// instead of point 5.
void renderDiamondRecord(const Diamond& record, unsigned char* texels, int southern);

// Renders the diamond with pole p0, top-row end p1, left-column end p2 and far corner p3.
void renderDiamond(Vector3 p0, Vector3 p1, Vector3 p2, Vector3 p3, unsigned char* texels);

enum class KernelIsa { Scalar, Avx2, Avx512 };

// The best instruction set this processor and build support.
KernelIsa bestKernelIsa();
// Uses `isa` from now on; false (and no change) when it is not supported here.
bool selectKernelIsa(KernelIsa isa);
KernelIsa selectedKernelIsa();
const char* kernelIsaName(KernelIsa isa);

// 0 (the default) renders on every core.
void setRenderThreads(unsigned threads);
