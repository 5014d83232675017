// runTextureJob: load the picture, publish the run state, render the ten diamonds into
// one reused TGA buffer and hand each to the sink.
#include "texture_job.h"

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

    // The design's textures are rendered straight into their TGA file; others into texels
    // of their own layout, which the writer makes into a file.
    const std::size_t rowBytes = std::size_t{faceSize} * texelBytes(plan.output);
    const std::size_t header = plan.words ? kTgaHeaderSize : 0;
    const std::size_t imageSize = header + rowBytes * faceSize;
    LargeBuffer<unsigned char> buffer = makeLargeBuffer<unsigned char>(imageSize);
    if (!buffer) {
        reportError(job.owner, messages::kNoMemoryForTexture);
        return 0;
    }
    if (plan.words)
        writeTgaHeader(buffer.get(), faceSize, faceSize);
    unsigned char* texels = buffer.get() + header;
    std::vector<unsigned char> file;

    for (int k = 0; k < kDiamondCount; ++k) {
        renderDiamondRecord(kIcosaDiamonds[k], texels, isSouthernDiamond(k) ? 1 : 0);
        const std::string name = textureFileName(k, job.output.format);
        if (plan.words && job.output.format == TextureFormat::Tga) {
            if (job.sink(name.c_str(), buffer.get(), imageSize) == 0)
                return 0;
            continue;
        }
        if (plan.words)  // blue, green, red to the writer's red, green, blue
            for (std::size_t i = 0; i < rowBytes * faceSize; i += 3)
                std::swap(texels[i], texels[i + 2]);
        const SampleImage texture{faceSize, faceSize, plan.output, texels, rowBytes};
        try {
            file.clear();
            if (!encodeTexture(job.output.format, texture, plan.half, file, job.threads)) {
                reportError(job.owner, messages::kCouldntEncodeTexture);
                return 0;
            }
        } catch (const std::bad_alloc&) {
            reportError(job.owner, messages::kNoMemoryForTexture);
            return 0;
        }
        if (job.sink(name.c_str(), file.data(), file.size()) == 0)
            return 0;
    }
    return 1;
}
