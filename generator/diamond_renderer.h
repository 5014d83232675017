// The rasteriser: renders one diamond into the N × N texel block of a texture, for the face
// size and source that runState publishes. Its rows go in bands to every core, each band
// through the inner loop built for the best instruction set the processor has (kernel/);
// the output never depends on the threads or the instruction set, which exist for the
// benchmarks and for the tests that hold every variant to the plain rasteriser
// (plain_rasteriser.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "icosa_diamonds.h"
#include "samples.h"

// A rectangle of a diamond's texel grid at the run's face size N: `rows` rows of `columns`
// texels from (firstRow, firstColumn), texel (r, c) standing for (u, v) = (c / N, r / N).
// Beyond the diamond's N × N (negative, or N and on) the grid goes on over its triangles'
// planes onto the sphere: border rings, and the tiles of a level.
struct TexelRegion {
    std::int32_t firstRow = 0, firstColumn = 0;
    std::uint32_t rows = 0, columns = 0;
};

// The diamond's N × N texels with `border` rings round them.
constexpr TexelRegion diamondRegion(std::uint32_t n, std::uint32_t border = 0)
{
    const auto k = static_cast<std::int32_t>(border);
    return {-k, -k, n + 2 * border, n + 2 * border};
}

// Renders `record` into `texels` (rows × columns texels of the run's layout, and nothing
// outside them). `southern` is set for records 6 to 10, whose far corner is point 3
// instead of point 5.
void renderDiamondRecord(const Diamond& record, unsigned char* texels, int southern);
// The same for `region` of the record's grid (region.rows × region.columns texels).
void renderDiamondRegion(const Diamond& record, int southern, const TexelRegion& region, unsigned char* texels);

// Renders the diamond with pole p0, top-row end p1, left-column end p2 and far corner p3:
// its N × N texels, or `region` of its grid.
void renderDiamond(Vector3 p0, Vector3 p1, Vector3 p2, Vector3 p3, unsigned char* texels);
void renderDiamond(Vector3 p0, Vector3 p1, Vector3 p2, Vector3 p3, const TexelRegion& region, unsigned char* texels);

// A map's rows held in memory, maybe in part: row r's pixels (of `layout`, pixelBytes each,
// each row followed by its wrap pixel) at base + r × rowBytes for the rows held (base
// placed as if it held them all), `residentRow` among them.
struct MapRowsInMemory {
    const unsigned char* base = nullptr;
    std::size_t rowBytes = 0;
    SampleLayout layout;
    std::uint32_t residentRow = 0;
};

// A diamond set up once at the run's face size and source, for rendering many regions of it
// on any threads, each on the thread that asks.
struct DiamondSetup;
class PreparedDiamond {
public:
    PreparedDiamond(const Diamond& record, int southern);
    ~PreparedDiamond();
    PreparedDiamond(const PreparedDiamond&) = delete;
    PreparedDiamond& operator=(const PreparedDiamond&) = delete;

    // Reads the map's pixels from `rows` from now on, in place of the run's whole picture.
    void readRowsFrom(const MapRowsInMemory& rows);
    // Renders `region` into `texels`, rows `rowBytes` apart. Returns the reads that failed.
    std::uint64_t render(const TexelRegion& region, unsigned char* texels, std::size_t rowBytes) const;

private:
    std::unique_ptr<DiamondSetup> setup_;
    std::uint64_t (*renderRows_)(const DiamondSetup&, std::uint32_t, std::uint32_t, unsigned char*) = nullptr;
};

enum class KernelIsa { Scalar, Avx2, Avx512 };

// The best instruction set this processor and build support.
KernelIsa bestKernelIsa();
// Uses `isa` from now on; false (and no change) when it is not supported here.
bool selectKernelIsa(KernelIsa isa);
KernelIsa selectedKernelIsa();
const char* kernelIsaName(KernelIsa isa);

// 0 (the default) renders on every core.
void setRenderThreads(unsigned threads);
