// runTextureJob: load the picture, publish the run state, render the ten diamonds (and
// their mip levels, with their borders) into one reused buffer and hand each file to the
// sink.
#include "texture_job.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "diamond_renderer.h"
#include "error_report.h"
#include "icosa_diamonds.h"
#include "image_object.h"
#include "large_buffer.h"
#include "spherical_lookup.h"
#include "texture_encoder.h"
#include "texture_plan.h"

static_assert(kTextureCount == kDiamondCount, "one texture per diamond");

namespace {

// Owns the image object for one run and gives it back through its destroy operation.
struct ImageObjectDeleter {
    void operator()(ImageObject* image) const { image->destroy(true); }
};
using ImageHandle = std::unique_ptr<ImageObject, ImageObjectDeleter>;

// One start-up of the imaging library, stopped when the run ends whichever way.
class ImagingSession {
public:
    ImagingSession() : started_(startImaging(token_) == imaging_status::kOk) {}
    ~ImagingSession()
    {
        if (started_)
            stopImaging(token_);
    }
    ImagingSession(const ImagingSession&) = delete;
    ImagingSession& operator=(const ImagingSession&) = delete;
    bool started() const { return started_; }

private:
    std::uintptr_t token_ = 0;
    bool started_;
};

const char* loadFailureMessage(int status)
{
    return status == imaging_status::kValueOverflow ? messages::kImageTooLarge
                                                    : messages::kCouldntOpenImage;
}

}  // namespace

std::size_t textureFileCount(const TextureOutput& output, int faceSize)
{
    std::size_t levels = 1;
    while (output.mips && !holdsMipChain(output.format) && (faceSize >> levels) >= 1)
        ++levels;
    return kTextureCount * levels;
}

int runTextureJob(TextureJob& job)
{
    if (!isSupportedFaceSize(job.faceSize)) {
        reportError(job.owner, messages::kBadFaceSize);
        return 0;
    }
    if (const char* refusal = outputRefusal(job.output, job.filter)) {
        reportError(job.owner, refusal);
        return 0;
    }
    ImagingSession imaging;
    if (!imaging.started()) {
        reportError(job.owner, messages::kImagingStartFailed);
        return 0;
    }

    char path[kImagePathCapacity + 1] = {};
    for (int i = 0; i < kImagePathCapacity && job.imagePath[i] != '\0'; ++i)
        path[i] = job.imagePath[i];
    // The design's output reads every map as 8-bit RGB words; any other keeps the file's
    // samples, to be narrowed to what the textures need once the map's are known.
    const TextureOutput& output = job.output;
    const bool designOutput = output.channels == TextureChannels::Rgb && output.depth == TextureDepth::Eight &&
                              !output.linear && !output.nodata && job.filter != TextureFilter::Mode;
    ImageHandle image(ImageObject::createBitmapFromFile(path, !designOutput));
    if (!image) {
        reportError(job.owner, messages::kNoMemoryForImage);
        return 0;
    }
    const int loadStatus = image->takeLastStatus();
    if (loadStatus != imaging_status::kOk) {
        reportError(job.owner, loadFailureMessage(loadStatus));
        return 0;
    }

    const auto faceSize = static_cast<std::uint32_t>(job.faceSize);
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    image->width(width);
    image->height(height);
    TexturePlan plan;
    const SampleLayout map = designOutput ? image->fileLayout() : image->layout();
    if (const char* refusal = planTextures(output, job.filter, map, width, height, plan)) {
        reportError(job.owner, refusal);
        return 0;
    }
    for (const std::string& warning : plan.warnings)
        reportWarning(warning.c_str());
    if (image->layout() != plan.working && !image->reshape(plan.working)) {
        reportError(job.owner, messages::kNoMemoryForImage);
        return 0;
    }
    TextureSamples samples;
    samples.output = plan.output;
    samples.words = plan.words;
    samples.linear = output.linear;
    samples.nodata = output.nodata;
    samples.nodataValue = output.nodataValue;
    const PublishedRun run(faceSize, sourceImageOf(image.get(), width, height, job.filter), samples);
    setRenderThreads(job.threads);

    // Every mip level from N down to 1 with --mips, each with the border rings; a container
    // holds a diamond's levels in one file, other formats take a file a level.
    std::vector<std::uint32_t> levelSizes{faceSize};
    while (output.mips && levelSizes.back() > 1)
        levelSizes.push_back(levelSizes.back() / 2);
    const bool chain = holdsMipChain(output.format);
    const std::size_t texelSize = texelBytes(plan.output);
    const auto levelBytes = [&](std::uint32_t size) {
        const std::size_t side = std::size_t{size} + 2 * output.border;
        return side * side * texelSize;
    };
    std::uint64_t totalTexels = 0;
    std::size_t chainBytes = 0;
    for (const std::uint32_t size : levelSizes) {
        totalTexels += kTextureCount * (levelBytes(size) / texelSize);
        chainBytes += levelBytes(size);
    }

    // The design's textures are rendered straight into their TGA file; others into texels
    // of their own layout, which the writer makes into a file.
    const std::size_t header = plan.words && output.format == TextureFormat::Tga ? kTgaHeaderSize : 0;
    LargeBuffer<unsigned char> buffer = makeLargeBuffer<unsigned char>(header + (chain ? chainBytes : levelBytes(faceSize)));
    if (!buffer) {
        reportError(job.owner, messages::kNoMemoryForTexture);
        return 0;
    }
    std::vector<unsigned char> file;
    const auto encodeFailed = [&] {
        reportError(job.owner, messages::kCouldntEncodeTexture);
        return 0;
    };
    std::uint64_t texelsDone = 0;
    if (job.progress != nullptr)
        job.progress(0, totalTexels);

    for (int k = 0; k < kDiamondCount; ++k) {
        std::vector<SampleImage> levels;
        std::size_t at = header;
        for (std::size_t level = 0; level < levelSizes.size(); ++level) {
            const std::uint32_t size = levelSizes[level];
            const TexelRegion region = diamondRegion(size, output.border);
            unsigned char* texels = buffer.get() + at;
            run.setFaceSize(size);
            // In pieces of rows, each texel the same whichever piece holds it, for the progress.
            constexpr std::uint32_t kPieceRows = 256;
            for (std::uint32_t row = 0; row < region.rows; row += kPieceRows) {
                const TexelRegion piece{region.firstRow + static_cast<std::int32_t>(row), region.firstColumn,
                                        std::min(kPieceRows, region.rows - row), region.columns};
                renderDiamondRegion(kIcosaDiamonds[k], isSouthernDiamond(k) ? 1 : 0, piece,
                                    texels + std::size_t{row} * region.columns * texelSize);
                texelsDone += std::uint64_t{piece.rows} * piece.columns;
                if (job.progress != nullptr)
                    job.progress(texelsDone, totalTexels);
            }
            const std::size_t bytes = levelBytes(size);
            if (plan.words && header != 0) {
                writeTgaHeader(buffer.get(), region.columns, region.rows);
                if (job.sink(textureFileName(k, output.format, static_cast<int>(level)).c_str(), buffer.get(),
                             header + bytes) == 0)
                    return 0;
                continue;
            }
            if (plan.words)  // blue, green, red to the writer's red, green, blue
                for (std::size_t i = 0; i < bytes; i += 3)
                    std::swap(texels[i], texels[i + 2]);
            levels.push_back(SampleImage{region.columns, region.rows, plan.output, texels, region.columns * texelSize});
            if (chain) {
                at += bytes;
                continue;
            }
            try {
                if (!encodeTexture(output.format, levels.back(), plan.half, file, job.threads))
                    return encodeFailed();
            } catch (const std::bad_alloc&) {
                reportError(job.owner, messages::kNoMemoryForTexture);
                return 0;
            }
            if (job.sink(textureFileName(k, output.format, static_cast<int>(level)).c_str(), file.data(), file.size()) == 0)
                return 0;
        }
        if (!chain)
            continue;
        try {
            const ChainEncoding encoding{plan.half, output.compression, job.threads};
            if (!encodeTextureChain(output.format, levels.data(), levels.size(), encoding, file))
                return encodeFailed();
        } catch (const std::bad_alloc&) {
            reportError(job.owner, messages::kNoMemoryForTexture);
            return 0;
        }
        if (job.sink(textureFileName(k, output.format).c_str(), file.data(), file.size()) == 0)
            return 0;
    }
    return 1;
}
