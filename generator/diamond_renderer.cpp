// renderDiamond: the diamond's rows rendered in bands on every core, each band by the
// inner loop built for the best instruction set the processor has.
#include "diamond_renderer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include "diamond_kernel.h"
#include "decoded_picture.h"
#include "image_object.h"
#include "spherical_lookup.h"

namespace {

// Vector kernels are built for x86-64 with GCC or Clang; the build says whether they exist.
#if defined(ORBILUNE_VECTOR_KERNELS)
constexpr bool kVectorKernelsBuilt = true;
#else
constexpr bool kVectorKernelsBuilt = false;
#endif

bool processorSupports(KernelIsa isa)
{
    switch (isa) {
    case KernelIsa::Scalar:
        return true;
#if defined(ORBILUNE_VECTOR_KERNELS)
    case KernelIsa::Avx2:
        return __builtin_cpu_supports("avx2") != 0;
    case KernelIsa::Avx512:
        return __builtin_cpu_supports("avx512f") != 0;
#endif
    default:
        return false;
    }
}

RenderRowsFn kernelFor(KernelIsa isa)
{
    switch (isa) {
#if defined(ORBILUNE_VECTOR_KERNELS)
    case KernelIsa::Avx2:
        return kernel_avx2::renderRows;
    case KernelIsa::Avx512:
        return kernel_avx512::renderRows;
#endif
    default:
        return kernel_scalar::renderRows;
    }
}

struct RendererSettings {
    KernelIsa isa = bestKernelIsa();
    unsigned threads = 0;
};

RendererSettings& settings()
{
    static RendererSettings instance;
    return instance;
}

bool same(Vector3 a, Vector3 b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The table's diamonds that share the pole edges and the pole of the diamond `own`.
void findNeighbours(const DiamondCorners& own, DiamondSetup& setup)
{
    for (int k = 0; k < kDiamondCount; ++k) {
        const DiamondCorners other = diamondCorners(k);
        if (!same(other.p0, own.p0))
            continue;
        if (same(other.p2, own.p1)) {
            setup.besideTopRow = diamondPlanes(other);
            setup.besideCount[0] = 1;
        }
        if (same(other.p1, own.p2)) {
            setup.besideLeftColumn = diamondPlanes(other);
            setup.besideCount[1] = 1;
        }
        if (setup.aroundPoleCount < 5)
            setup.aroundPole[setup.aroundPoleCount++] = diamondPlanes(other);
    }
}

// Samples to linear light by value, for the 8- and 16-bit types (built once, on first use).
const float* linearTable(SampleType type)
{
    const auto build = [](std::uint32_t count) {
        std::vector<float> table(count);
        for (std::uint32_t value = 0; value < count; ++value) {
            const double stored = value / static_cast<double>(count - 1);
            table[value] = static_cast<float>(stored <= 0.04045 ? stored / 12.92 : std::pow((stored + 0.055) / 1.055, 2.4));
        }
        return table;
    };
    static const std::vector<float> eightBits = build(256);
    static const std::vector<float> sixteenBits = build(65536);
    return type == SampleType::U8 ? eightBits.data() : type == SampleType::U16 ? sixteenBits.data() : nullptr;
}

// The map's samples as the kernels read them, and how they become texels.
void describeSamples(const SourceImage& source, const TextureSamples& samples, DiamondSetup& setup)
{
    MapView& map = setup.map;
    if (source.image != nullptr) {
        map.layout = source.image->layout();
        map.base = reinterpret_cast<const unsigned char*>(source.image->pixels());
        map.pixelBytes = pixelBytes(map.layout);
        map.rowBytes = source.image->stride() * map.pixelBytes;
    }
    map.period = std::max(1u, source.width / 2 * 2);
    map.lastRow = std::max(1u, source.height / 2 * 2) - 1;
    TexelRules& rules = setup.rules;
    rules.output = samples.output;
    rules.linear = samples.linear;
    rules.nodata = samples.nodata;
    rules.nodataValue = samples.nodataValue;
    rules.toLinear = samples.linear ? linearTable(map.layout.type) : nullptr;
    rules.words = samples.words;
}

unsigned threadCountFor(std::uint32_t rows)
{
    unsigned threads = settings().threads;
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    return std::max(1u, std::min<unsigned>(threads, rows / 8 + 1));
}

}  // namespace

KernelIsa bestKernelIsa()
{
    if (kVectorKernelsBuilt && processorSupports(KernelIsa::Avx512))
        return KernelIsa::Avx512;
    if (kVectorKernelsBuilt && processorSupports(KernelIsa::Avx2))
        return KernelIsa::Avx2;
    return KernelIsa::Scalar;
}

bool selectKernelIsa(KernelIsa isa)
{
    if (!processorSupports(isa))
        return false;
    settings().isa = isa;
    return true;
}

KernelIsa selectedKernelIsa() { return settings().isa; }

const char* kernelIsaName(KernelIsa isa)
{
    switch (isa) {
    case KernelIsa::Avx2:
        return "avx2";
    case KernelIsa::Avx512:
        return "avx512";
    default:
        return "scalar";
    }
}

void setRenderThreads(unsigned threads) { settings().threads = threads; }

void renderDiamondRecord(const Diamond& record, unsigned char* texels, int southern)
{
    renderDiamondRegion(record, southern, TexelRegion{0, 0, runState.rows, runState.columns}, texels);
}

void renderDiamondRegion(const Diamond& record, int southern, const TexelRegion& region, unsigned char* texels)
{
    renderDiamond(diamondCorner(record, 0), diamondCorner(record, 1), diamondCorner(record, 2),
                  diamondCorner(record, farCornerPoint(southern != 0)), region, texels);
}

void renderDiamond(Vector3 p0, Vector3 p1, Vector3 p2, Vector3 p3, unsigned char* texels)
{
    renderDiamond(p0, p1, p2, p3, TexelRegion{0, 0, runState.rows, runState.columns}, texels);
}

namespace {

// The diamond with corners p0..p3 at the run's face size and source.
void setUpDiamond(const DiamondCorners& corners, DiamondSetup& setup)
{
    const SourceImage& source = runState.source;
    setup = DiamondSetup{};
    setup.planes = diamondPlanes(corners);
    findNeighbours(corners, setup);
    setup.rows = runState.rows;
    setup.columns = runState.columns;
    setup.inverseRows = 1.0 / setup.rows;
    setup.inverseColumns = 1.0 / setup.columns;
    setup.pixels = source.image != nullptr ? source.image->pixels() : nullptr;
    setup.stride = source.image != nullptr ? source.image->stride() : 0;
    setup.width = source.width;
    setup.height = source.height;
    setup.scales = source.scales;
    setup.filter = source.filter;
    describeSamples(source, runState.samples, setup);
}

void placeRegion(const TexelRegion& region, std::size_t rowBytes, DiamondSetup& setup)
{
    setup.firstRow = region.firstRow;
    setup.firstColumn = region.firstColumn;
    setup.regionRows = region.rows;
    setup.regionColumns = region.columns;
    setup.outRowBytes = rowBytes;
}

}  // namespace

PreparedDiamond::PreparedDiamond(const Diamond& record, int southern) : setup_(std::make_unique<DiamondSetup>())
{
    setUpDiamond({diamondCorner(record, 0), diamondCorner(record, 1), diamondCorner(record, 2),
                  diamondCorner(record, farCornerPoint(southern != 0))},
                 *setup_);
    renderRows_ = kernelFor(settings().isa);
}

PreparedDiamond::~PreparedDiamond() = default;

void PreparedDiamond::readRowsFrom(const MapRowsInMemory& rows)
{
    MapView& map = setup_->map;
    map.base = rows.base;
    map.rowBytes = rows.rowBytes;
    map.layout = rows.layout;
    map.pixelBytes = pixelBytes(rows.layout);
    map.residentRow = static_cast<std::int32_t>(rows.residentRow);
    setup_->pixels = reinterpret_cast<const std::uint32_t*>(rows.base);
    setup_->stride = rows.rowBytes / sizeof(std::uint32_t);
    setup_->rules.toLinear = setup_->rules.linear ? linearTable(rows.layout.type) : nullptr;
}

std::uint64_t PreparedDiamond::render(const TexelRegion& region, unsigned char* texels, std::size_t rowBytes) const
{
    if (setup_->rows == 0 || setup_->columns == 0 || region.rows == 0 || region.columns == 0)
        return 0;
    DiamondSetup setup = *setup_;
    placeRegion(region, rowBytes, setup);
    return renderRows_(setup, 0, region.rows, texels);
}

void renderDiamond(Vector3 p0, Vector3 p1, Vector3 p2, Vector3 p3, const TexelRegion& region, unsigned char* texels)
{
    const SourceImage& source = runState.source;
    DiamondSetup setup;
    setUpDiamond({p0, p1, p2, p3}, setup);
    placeRegion(region, std::size_t{region.columns} * texelBytes(setup.rules.output), setup);
    if (setup.rows == 0 || setup.columns == 0 || region.rows == 0 || region.columns == 0)
        return;

    const RenderRowsFn renderRows = kernelFor(settings().isa);
    const std::size_t rowBytes = setup.outRowBytes;
    constexpr std::uint32_t kBandRows = 16;
    std::atomic<std::uint32_t> nextRow{0};
    std::atomic<std::uint64_t> failures{0};
    const auto work = [&] {
        std::uint64_t failed = 0;
        for (;;) {
            const std::uint32_t begin = nextRow.fetch_add(kBandRows);
            if (begin >= region.rows)
                break;
            const std::uint32_t end = std::min(begin + kBandRows, region.rows);
            failed += renderRows(setup, begin, end, texels + begin * rowBytes);
        }
        failures += failed;
    };

    std::vector<std::thread> helpers;
    const unsigned threads = threadCountFor(region.rows);
    for (unsigned i = 1; i < threads; ++i) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // fewer threads, same bytes
        }
    }
    work();
    for (std::thread& helper : helpers)
        helper.join();
    if (failures.load() != 0 && source.image != nullptr)
        source.image->noteFailure(imaging_status::kInvalidParameter);
}
