// Times the phases of one run apart: decoding the map into memory, generating the ten
// diamonds (no files), and the same generation with the plain one-texel-at-a-time
// rasteriser on one thread, the straightforward implementation the fast path is
// measured against.
// With --plain --threads 1 --write DIR it is a whole straightforward run: decode, render
// one texel at a time on one thread, write the ten files.
// Usage: orbilune-generation-bench MAP FACE_SIZE nearest|bilinear|area [--plain] [--threads N]
//        [--write DIR]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "diamond_renderer.h"
#include "icosa_diamonds.h"
#include "image_object.h"
#include "plain_rasteriser.h"
#include "spherical_lookup.h"
#include "texture_job.h"

namespace {

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}


}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s MAP FACE_SIZE nearest|bilinear|area [--plain] [--threads N]\n", argv[0]);
        return 2;
    }
    const auto faceSize = static_cast<std::uint32_t>(std::atoi(argv[2]));
    TextureFilter filter = TextureFilter::Nearest;
    bool known = false;
    for (const TextureFilterName& name : kTextureFilterNames)
        if (std::strcmp(argv[3], name.name) == 0) {
            filter = name.filter;
            known = true;
        }
    if (!known) {
        std::fprintf(stderr, "unknown filter %s\n", argv[3]);
        return 2;
    }
    bool plain = false;
    int repeats = 1;
    const char* writeDir = nullptr;
    for (int i = 4; i < argc; ++i) {
        if (std::strcmp(argv[i], "--plain") == 0)
            plain = true;
        else if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc)
            repeats = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--write") == 0 && i + 1 < argc)
            writeDir = argv[++i];
        else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc)
            setRenderThreads(static_cast<unsigned>(std::atoi(argv[++i])));
    }

    auto start = std::chrono::steady_clock::now();
    ImageObject* image = ImageObject::createBitmapFromFile(argv[1]);
    if (image == nullptr || image->takeLastStatus() != imaging_status::kOk) {
        std::fprintf(stderr, "cannot decode %s\n", argv[1]);
        return 1;
    }
    const double decodeSeconds = secondsSince(start);
    std::uint32_t width = 0, height = 0;
    image->width(width);
    image->height(height);
    const PublishedRun run(faceSize, sourceImageOf(image, width, height, filter));

    std::vector<unsigned char> tga(textureImageSize(faceSize));
    writeTgaHeader(tga.data(), faceSize, faceSize);
    unsigned char* texels = tga.data() + kTgaHeaderSize;
    double generateSeconds = 1e300;
    std::uint64_t checksum = 0;
    for (int repeat = 0; repeat < repeats; ++repeat) {
    double seconds = 0;
    for (int k = 0; k < kDiamondCount; ++k) {
        start = std::chrono::steady_clock::now();
        if (plain)
            renderDiamondPlain(diamondCorners(k), texels);
        else
            renderDiamondRecord(kIcosaDiamonds[k], texels, isSouthernDiamond(k) ? 1 : 0);
        seconds += secondsSince(start);
        checksum += tga[tga.size() / 2];
        if (writeDir != nullptr) {
            const std::string path = std::string(writeDir) + "/" + textureFileName(k);
            if (storeTextureFile(path.c_str(), tga.data(), tga.size()) !=
                TextureFileResult::Written) {
                std::fprintf(stderr, "cannot write %s\n", path.c_str());
                return 1;
            }
        }
    }
    generateSeconds = std::min(generateSeconds, seconds);
    }
    const double texels10 = 10.0 * faceSize * faceSize;
    std::printf("decode_s=%.3f generate_s=%.3f generate_mtexels_per_s=%.1f kernel=%s checksum=%llu\n",
                decodeSeconds, generateSeconds, texels10 / generateSeconds / 1e6,
                plain ? "plain" : kernelIsaName(selectedKernelIsa()),
                static_cast<unsigned long long>(checksum));
    image->destroy(true);
    return 0;
}
