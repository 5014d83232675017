// The bulk renderer against the one-texel-at-a-time rasteriser: for every instruction set
// this processor has, both filters, odd and even maps and several face sizes, the bytes
// must be identical.
#include <gtest/gtest.h>

#include <vector>

#include "diamond_renderer.h"
#include "test_support.h"
#include "texture_job.h"

namespace {

using testing_support::LoadedSource;
using testing_support::ScratchDir;


std::vector<unsigned char> render(int index, std::uint32_t n, bool plain)
{
    const Diamond& d = kIcosaDiamonds[index];
    const Vector3 p3 = diamondCorner(d, index >= 5 ? 3 : 5);
    std::vector<unsigned char> texels(3u * n * n);
    runState.rows = runState.columns = n;
    if (plain)
        renderDiamondPlain(diamondCorner(d, 0), diamondCorner(d, 1), diamondCorner(d, 2), p3, texels.data());
    else
        renderDiamond(diamondCorner(d, 0), diamondCorner(d, 1), diamondCorner(d, 2), p3, texels.data());
    return texels;
}

std::vector<KernelIsa> supportedIsas()
{
    std::vector<KernelIsa> isas;
    const KernelIsa original = selectedKernelIsa();
    for (const KernelIsa isa : {KernelIsa::Scalar, KernelIsa::Avx2, KernelIsa::Avx512})
        if (selectKernelIsa(isa))
            isas.push_back(isa);
    selectKernelIsa(original);
    return isas;
}

struct MapCase {
    std::uint32_t width, height;
    std::vector<std::uint32_t> faceSizes;
    int diamondStep;  // render every diamondStep-th record to keep big sizes quick
};

TEST(RenderPaths, BulkRendererMatchesThePlainRasteriserByteForByte)
{
    const MapCase maps[] = {
        {1, 1, {64}, 1},
        {2, 1, {64}, 1},
        {1, 2, {64}, 1},
        {3, 2, {67}, 1},
        {6, 5, {64, 100}, 1},
        {37, 19, {64, 255}, 1},
        {640, 321, {512}, 1},
        {1025, 512, {1024}, 3},
        {4096, 2048, {2048}, 9},
    };
    ScratchDir dir;
    for (const MapCase& map : maps) {
        const std::string path = dir.writeBmp(
            "map.bmp", testing_support::noisePicture(map.width, map.height, map.width * 31 + map.height));
        for (const bool bilinear : {false, true}) {
            for (const std::uint32_t n : map.faceSizes) {
                LoadedSource source(path, n, bilinear);
                ASSERT_TRUE(source.ok());
                for (int k = 0; k < kDiamondCount; k += map.diamondStep) {
                    const std::vector<unsigned char> expected = render(k, n, true);
                    for (const KernelIsa isa : supportedIsas()) {
                        ASSERT_TRUE(selectKernelIsa(isa));
                        for (const unsigned threads : {1u, 0u}) {
                            setRenderThreads(threads);
                            EXPECT_TRUE(render(k, n, false) == expected)
                                << map.width << "x" << map.height << " N=" << n
                                << (bilinear ? " bilinear" : " nearest") << " record " << k + 1
                                << " " << kernelIsaName(isa) << " threads " << threads;
                        }
                    }
                }
            }
        }
    }
    selectKernelIsa(bestKernelIsa());
    setRenderThreads(0);
}

}  // namespace
