// runTextureJob: load the picture, publish the run state, render the ten diamonds into
// one reused TGA buffer and hand each to the sink.
#include "texture_job.h"

#include <memory>
#include <string>

#include "diamond_renderer.h"
#include "error_report.h"
#include "icosa_diamonds.h"
#include "image_object.h"
#include "large_buffer.h"
#include "spherical_lookup.h"

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
    ImagingSession imaging;
    if (!imaging.started()) {
        reportError(job.owner, messages::kImagingStartFailed);
        return 0;
    }

    char path[kImagePathCapacity + 1] = {};
    for (int i = 0; i < kImagePathCapacity && job.imagePath[i] != '\0'; ++i)
        path[i] = job.imagePath[i];
    ImageHandle image(ImageObject::createBitmapFromFile(path));
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
    const PublishedRun run(faceSize, sourceImageOf(image.get(), width, height, job.filter));
    setRenderThreads(job.threads);

    const std::size_t imageSize = textureImageSize(faceSize);
    LargeBuffer<unsigned char> buffer = makeLargeBuffer<unsigned char>(imageSize);
    if (!buffer) {
        reportError(job.owner, messages::kNoMemoryForTexture);
        return 0;
    }
    writeTgaHeader(buffer.get(), faceSize, faceSize);

    for (int k = 0; k < kDiamondCount; ++k) {
        renderDiamondRecord(kIcosaDiamonds[k], buffer.get() + kTgaHeaderSize, isSouthernDiamond(k) ? 1 : 0);
        if (job.sink(textureFileName(k).c_str(), buffer.get(), static_cast<int>(imageSize)) == 0)
            return 0;
    }
    return 1;
}
