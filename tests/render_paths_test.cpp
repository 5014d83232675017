// The bulk renderer against the one-texel-at-a-time rasteriser: for every instruction set
// this processor has, both samplers, odd and even maps and several face sizes, the bytes
// must be identical; the area filter must give the same bytes on every instruction set and
// thread count, and the average of the map over each footprint.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "diamond_renderer.h"
#include "plain_rasteriser.h"
#include "test_support.h"
#include "texture_job.h"

namespace {

using testing_support::LoadedSource;
using testing_support::ScratchDir;


std::vector<unsigned char> render(int index, std::uint32_t n, bool plain, const TexelRegion& region)
{
    const DiamondCorners d = diamondCorners(index);
    std::vector<unsigned char> texels(3u * region.rows * region.columns);
    runState.rows = runState.columns = n;
    if (plain)
        renderDiamondPlain(d, region, texels.data());
    else
        renderDiamond(d.p0, d.p1, d.p2, d.p3, region, texels.data());
    return texels;
}

// The diamond's own texels out of a region that holds them with `border` rings round them.
std::vector<unsigned char> inner(const std::vector<unsigned char>& texels, std::uint32_t n, std::uint32_t border)
{
    std::vector<unsigned char> own;
    const std::size_t side = n + 2 * border;
    for (std::size_t r = border; r < border + n; ++r)
        own.insert(own.end(), texels.begin() + 3 * (r * side + border), texels.begin() + 3 * (r * side + border + n));
    return own;
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
    int areaStep;     // the same for the area filter (slower on one thread), 0: none
    std::uint32_t border = 0;  // rings round each diamond, whose inner texels must be the plain ones
};

TEST(RenderPaths, BulkRendererMatchesThePlainRasteriserByteForByte)
{
    const MapCase maps[] = {
        {1, 1, {64}, 1, 1},
        {2, 1, {64}, 1, 1},
        {1, 2, {64}, 1, 1},
        {3, 2, {67}, 1, 1},
        {6, 5, {64, 100}, 1, 1},
        {37, 19, {64, 255}, 1, 3},
        {37, 19, {64}, 1, 1, 3},
        {640, 321, {512}, 1, 5},
        {640, 321, {256}, 3, 3, 1},
        {1025, 512, {1024}, 3, 0},
        {4096, 2048, {2048}, 9, 0},
    };
    ScratchDir dir;
    for (const MapCase& map : maps) {
        const std::string path = dir.writeBmp(
            "map.bmp", testing_support::noisePicture(map.width, map.height, map.width * 31 + map.height));
        for (const TextureFilter filter : {TextureFilter::Nearest, TextureFilter::Bilinear, TextureFilter::Area}) {
            for (const std::uint32_t n : map.faceSizes) {
                LoadedSource source(path, n, filter);
                ASSERT_TRUE(source.ok());
                const int step = filter == TextureFilter::Area ? map.areaStep : map.diamondStep;
                for (int k = 0; step != 0 && k < kDiamondCount; k += step) {
                    // The area filter has no one-texel-at-a-time form: the scalar kernel on
                    // one thread stands for it.
                    selectKernelIsa(KernelIsa::Scalar);
                    setRenderThreads(1);
                    const TexelRegion region = diamondRegion(n, map.border);
                    const std::vector<unsigned char> expected = render(k, n, filter != TextureFilter::Area, region);
                    if (map.border != 0) {
                        EXPECT_TRUE(inner(expected, n, map.border) == render(k, n, false, diamondRegion(n)))
                            << map.width << "x" << map.height << " N=" << n << " filter " << static_cast<int>(filter)
                            << " record " << k + 1 << ": the border changed the diamond's own texels";
                    }
                    for (const KernelIsa isa : supportedIsas()) {
                        ASSERT_TRUE(selectKernelIsa(isa));
                        for (const unsigned threads : {1u, 0u}) {
                            setRenderThreads(threads);
                            EXPECT_TRUE(render(k, n, false, region) == expected)
                                << map.width << "x" << map.height << " N=" << n << " filter " << static_cast<int>(filter)
                                << " record " << k + 1 << " " << kernelIsaName(isa) << " threads " << threads;
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

namespace {

using testing_support::Picture;

// The footprint average by brute force: 32 × 32 samples over the square of one texel around
// (c / N, r / N), mapped through the diamond's planes in double, each reading the map as
// cells: pixel (k, j) fills picture columns [k, k + 1) and rows [j, j + 1), as nearest reads
// it (columns wrap at 2·⌊W/2⌋, rows stop at 2·⌊H/2⌋).
std::uint32_t referenceTexel(const Picture& map, int k, std::uint32_t n, std::int32_t r, std::int32_t c)
{
    constexpr int kSamples = 32;
    const DiamondCorners d = diamondCorners(k);
    const auto along = [](Vector3 from, Vector3 to, double t) {
        return std::array<double, 3>{(to.x - double{from.x}) * t, (to.y - double{from.y}) * t,
                                     (to.z - double{from.z}) * t};
    };
    const std::uint32_t columns = std::max(1u, map.width / 2 * 2), rows = std::max(1u, map.height / 2 * 2);
    double sum[3] = {};
    for (int j = 0; j < kSamples; ++j) {
        for (int i = 0; i < kSamples; ++i) {
            const double u = (c - 0.5 + (i + 0.5) / kSamples) / n, v = (r - 0.5 + (j + 0.5) / kSamples) / n;
            const bool far = u + v > 1;
            const Vector3 o = far ? d.p3 : d.p0;
            const auto a = far ? along(d.p3, d.p2, 1 - u) : along(d.p0, d.p1, u);
            const auto b = far ? along(d.p3, d.p1, 1 - v) : along(d.p0, d.p2, v);
            const double x = o.x + a[0] + b[0], y = o.y + a[1] + b[1], z = o.z + a[2] + b[2];
            const double longitude = std::atan2(z, x), latitude = std::atan(y / std::hypot(x, z));
            const double px = (map.width / 2) * (1 - longitude / 3.141592653589793);
            const double py = (map.height / 2) * (1 - latitude / 1.5707963267948966);
            const auto column = static_cast<std::uint32_t>(std::fmod(std::floor(px) + columns, columns));
            const auto row = static_cast<std::uint32_t>(std::clamp(std::floor(py), 0.0, rows - 1.0));
            for (int channel = 0; channel < 3; ++channel)
                sum[channel] += (map.rgb[row * map.width + column] >> (16 - 8 * channel)) & 0xFF;
        }
    }
    std::uint32_t rgb = 0;
    for (int channel = 0; channel < 3; ++channel)
        rgb |= static_cast<std::uint32_t>(sum[channel] / (kSamples * kSamples) + 0.5) << (16 - 8 * channel);
    return rgb;
}

Picture detailPicture(const char* kind, std::uint32_t width, std::uint32_t height)
{
    Picture picture = testing_support::noisePicture(width, height, 5);
    for (std::uint32_t row = 0; row < height; ++row) {
        for (std::uint32_t column = 0; column < width; ++column) {
            const bool on = std::string(kind) == "checkerboard" ? (column + row) % 2 == 1
                                                                : column % 7 == 0 || row % 5 == 0;
            if (std::string(kind) != "noise")
                picture.at(column, row) = on ? 0xFFFF40u : 0x0000C0u;
        }
    }
    return picture;
}

TEST(AreaFilter, AveragesTheMapOverEachFootprint)
{
    // One-pixel detail where a texel covers about 3, 1.5 and 0.7 pixels (as N = 512, 1024
    // and 2048 from an 8192 × 4096 map), a flat map, and the edges the diamonds share; with
    // border rings, whose texels are footprints carried past the diamond's edges.
    const struct {
        const char* map;
        std::uint32_t n;
    } cases[] = {
        {"noise", 32}, {"checkerboard", 32}, {"lines", 64}, {"checkerboard", 128}, {"noise", 128},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        const Picture map = detailPicture(c.map, 512, 256);
        LoadedSource source(dir.writeBmp("detail.bmp", map), c.n, TextureFilter::Area);
        ASSERT_TRUE(source.ok());
        constexpr std::int32_t kBorder = 2;
        const auto n = static_cast<std::int32_t>(c.n), side = n + 2 * kBorder;
        std::vector<std::vector<unsigned char>> textures;
        for (int k = 0; k < kDiamondCount; ++k) {
            const std::vector<unsigned char> bordered = render(k, c.n, false, diamondRegion(c.n, kBorder));
            textures.push_back(inner(bordered, c.n, kBorder));
            double squares[2] = {}, count[2] = {};  // inside, border
            const auto compare = [&](std::int32_t r, std::int32_t col) {
                const bool border = r < 0 || col < 0 || r >= n || col >= n;
                const std::uint32_t expected = referenceTexel(map, k, c.n, r, col);
                const unsigned char* texel = &bordered[3 * ((r + kBorder) * side + col + kBorder)];
                for (int channel = 0; channel < 3; ++channel) {  // texels are blue, green, red
                    const int difference = texel[channel] - static_cast<int>((expected >> (8 * channel)) & 0xFF);
                    squares[border] += difference * difference;
                    ++count[border];
                }
            };
            // The pole edges' texels take in the footprints of both diamonds that hold them
            // (checked below): the texels inside each diamond against the reference, and
            // every border texel.
            for (std::int32_t r = 1 + k % 3; r < n; r += 3)
                for (std::int32_t col = 1 + k % 2; col < n; col += 2)
                    compare(r, col);
            for (std::int32_t r = -kBorder; r < n + kBorder; ++r)
                for (std::int32_t col = -kBorder; col < n + kBorder; ++col)
                    if (r < 0 || col < 0 || r >= n || col >= n)
                        compare(r, col);
            for (const int part : {0, 1}) {
                const double psnr = 10 * std::log10(255.0 * 255.0 * count[part] / std::max(squares[part], 1e-9));
                EXPECT_GE(psnr, 40.0) << c.map << " N=" << c.n << " record " << k + 1 << (part ? " border" : "");
            }
        }
        for (int k = 0; k < kDiamondCount; ++k) {
            const int neighbour = testing_support::diamondBesideTopRow(k, c.n);
            for (std::uint32_t i = 0; i < c.n; ++i)
                for (int byte = 0; byte < 3; ++byte)
                    ASSERT_EQ(textures[k][3 * i + byte], textures[neighbour][3 * i * c.n + byte])
                        << c.map << " N=" << c.n << " record " << k + 1 << " edge texel " << i;
        }
    }

    Picture flat = testing_support::noisePicture(61, 31);
    std::fill(flat.rgb.begin(), flat.rgb.end(), 0x3A7F05u);
    LoadedSource source(dir.writeBmp("flat.bmp", flat), 37, TextureFilter::Area);
    for (int k = 0; k < kDiamondCount; ++k) {
        const std::vector<unsigned char> texels = render(k, 37, false, diamondRegion(37));
        for (std::size_t i = 0; i < texels.size(); i += 3)
            ASSERT_TRUE(texels[i] == 0x05 && texels[i + 1] == 0x7F && texels[i + 2] == 0x3A)
                << "record " << k + 1 << " texel " << i / 3;
    }
}

}  // namespace
