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

// Renders a run's textures (or tiles) and hands each file to the sink, in order: the design's
// TGA straight from the texel buffer, every other format through its writer.
class TextureWriter {
public:
    TextureWriter(const TextureJob& job, const TexturePlan& plan)
        : job_(job), output_(job.output), plan_(plan), texelSize_(texelBytes(plan.output)),
          header_(plan.words && job.output.format == TextureFormat::Tga ? kTgaHeaderSize : 0)
    {
    }

    // Whole textures: every diamond at N, and with --mips each level down to 1, each with
    // the border rings; a container holds a diamond's levels in one file, other formats
    // take a file a level.
    int writeTextures(const PublishedRun& run)
    {
        const auto faceSize = static_cast<std::uint32_t>(job_.faceSize);
        std::vector<std::uint32_t> levelSizes{faceSize};
        while (output_.mips && levelSizes.back() > 1)
            levelSizes.push_back(levelSizes.back() / 2);
        const bool chain = holdsMipChain(output_.format);
        std::size_t chainBytes = 0;
        for (const std::uint32_t size : levelSizes) {
            const TexelRegion region = diamondRegion(size, output_.border);
            totalTexels_ += diamondCount() * region.rows * std::uint64_t{region.columns};
            chainBytes += regionBytes(region);
        }
        if (!allocate(chain ? chainBytes : regionBytes(diamondRegion(faceSize, output_.border))))
            return 0;
        start();
        for (int k = 0; k < kDiamondCount; ++k) {
            if (!rendersDiamond(k))
                continue;
            std::vector<SampleImage> levels;
            std::size_t at = header_;
            for (std::size_t level = 0; level < levelSizes.size(); ++level) {
                const TexelRegion region = diamondRegion(levelSizes[level], output_.border);
                unsigned char* texels = buffer_.get() + at;
                render(run, k, levelSizes[level], region, texels);
                levels.push_back(SampleImage{region.columns, region.rows, plan_.output, texels,
                                             region.columns * texelSize_});
                if (chain) {
                    at += regionBytes(region);
                    continue;
                }
                if (!deliver(textureFileName(k, output_.format, static_cast<int>(level)), levels.back()))
                    return 0;
            }
            if (chain && !deliverChain(textureFileName(k, output_.format), levels))
                return 0;
        }
        return 1;
    }

    // Level-of-detail tiles: level l of diamond k at face size T·2^l, cut into 2^l × 2^l
    // tiles of T texels a side (with the border rings round each), each the same texels as
    // that region of the whole texture; tiles already made (DoneQuery) are passed over; the
    // index last.
    int writeTiles(const PublishedRun& run)
    {
        const std::uint32_t tile = output_.tileSize, faceSize = static_cast<std::uint32_t>(job_.faceSize);
        const auto k0 = static_cast<std::int32_t>(output_.border);
        const TexelRegion shape{-k0, -k0, tile + 2 * output_.border, tile + 2 * output_.border};
        struct Tile {
            int diamond;
            std::uint32_t faceSize;
            TexelRegion region;
            std::string name;
        };
        std::vector<Tile> tiles;
        int level = 0;
        for (std::uint32_t size = tile; size <= faceSize; size *= 2, ++level)
            for (int k = 0; k < kDiamondCount; ++k)
                for (std::uint32_t row = 0; rendersDiamond(k) && row < size / tile; ++row)
                    for (std::uint32_t column = 0; column < size / tile; ++column) {
                        std::string name = textureTileName(k, level, row, column, output_.format);
                        if (job_.done != nullptr && job_.done(name.c_str()) != 0)
                            continue;
                        TexelRegion region = shape;
                        region.firstRow += static_cast<std::int32_t>(row * tile);
                        region.firstColumn += static_cast<std::int32_t>(column * tile);
                        totalTexels_ += region.rows * std::uint64_t{region.columns};
                        tiles.push_back({k, size, region, std::move(name)});
                    }
        if (!allocate(regionBytes(shape)))
            return 0;
        start();
        for (const Tile& t : tiles) {
            unsigned char* texels = buffer_.get() + header_;
            render(run, t.diamond, t.faceSize, t.region, texels);
            if (!deliver(t.name, SampleImage{t.region.columns, t.region.rows, plan_.output, texels,
                                             t.region.columns * texelSize_}))
                return 0;
        }
        const std::string index = tileIndex();
        return job_.sink(kTileIndexName, reinterpret_cast<const unsigned char*>(index.data()), index.size()) != 0 ? 1
                                                                                                                 : 0;
    }

private:
    bool rendersDiamond(int k) const { return job_.onlyDiamonds == 0 || (job_.onlyDiamonds >> k & 1) != 0; }
    std::uint64_t diamondCount() const
    {
        std::uint64_t count = 0;
        for (int k = 0; k < kDiamondCount; ++k)
            count += rendersDiamond(k) ? 1 : 0;
        return count;
    }
    std::size_t regionBytes(const TexelRegion& region) const
    {
        return std::size_t{region.rows} * region.columns * texelSize_;
    }

    bool allocate(std::size_t bytes)
    {
        buffer_ = makeLargeBuffer<unsigned char>(header_ + bytes);
        if (!buffer_)
            reportError(job_.owner, messages::kNoMemoryForTexture);
        return static_cast<bool>(buffer_);
    }
    void start()
    {
        if (job_.progress != nullptr)
            job_.progress(0, totalTexels_);
    }

    // `region` of diamond k at face size `size`, in pieces of rows (each texel the same
    // whichever piece holds it) for the progress.
    void render(const PublishedRun& run, int k, std::uint32_t size, const TexelRegion& region, unsigned char* texels)
    {
        run.setFaceSize(size);
        constexpr std::uint32_t kPieceRows = 256;
        for (std::uint32_t row = 0; row < region.rows; row += kPieceRows) {
            const TexelRegion piece{region.firstRow + static_cast<std::int32_t>(row), region.firstColumn,
                                    std::min(kPieceRows, region.rows - row), region.columns};
            renderDiamondRegion(kIcosaDiamonds[k], isSouthernDiamond(k) ? 1 : 0, piece,
                                texels + std::size_t{row} * region.columns * texelSize_);
            texelsDone_ += std::uint64_t{piece.rows} * piece.columns;
            if (job_.progress != nullptr)
                job_.progress(texelsDone_, totalTexels_);
        }
        if (plan_.words && header_ == 0)  // blue, green, red to the writer's red, green, blue
            for (std::size_t i = 0; i < regionBytes(region); i += 3)
                std::swap(texels[i], texels[i + 2]);
    }

    // One file of `image`: the design's TGA as it lies in the buffer, after its header.
    bool deliver(const std::string& name, const SampleImage& image)
    {
        if (header_ != 0) {
            writeTgaHeader(buffer_.get(), image.width, image.height);
            return job_.sink(name.c_str(), buffer_.get(), header_ + regionBytes({0, 0, image.height, image.width})) != 0;
        }
        return encoded([&] { return encodeTexture(output_.format, image, plan_.half, file_, job_.threads); }) &&
               job_.sink(name.c_str(), file_.data(), file_.size()) != 0;
    }
    bool deliverChain(const std::string& name, const std::vector<SampleImage>& levels)
    {
        const ChainEncoding encoding{plan_.half, output_.compression, job_.threads};
        return encoded([&] { return encodeTextureChain(output_.format, levels.data(), levels.size(), encoding, file_); }) &&
               job_.sink(name.c_str(), file_.data(), file_.size()) != 0;
    }
    template <class Encode>
    bool encoded(Encode encode)
    {
        try {
            if (encode())
                return true;
            reportError(job_.owner, messages::kCouldntEncodeTexture);
        } catch (const std::bad_alloc&) {
            reportError(job_.owner, messages::kNoMemoryForTexture);
        }
        return false;
    }

    // tiles.json: enough for a viewer or an engine to find every tile and place its texels.
    std::string tileIndex() const
    {
        const std::uint32_t tile = output_.tileSize;
        std::string levels, diamonds;
        for (std::uint32_t size = tile; size <= static_cast<std::uint32_t>(job_.faceSize); size *= 2)
            levels += (levels.empty() ? "" : ", ") + std::string("{\"faceSize\": ") + std::to_string(size) +
                      ", \"tilesPerSide\": " + std::to_string(size / tile) + "}";
        for (int k = 0; k < kDiamondCount; ++k)
            if (rendersDiamond(k))
                diamonds += (diamonds.empty() ? "" : ", ") + std::to_string(k + 1);
        static const char* const kTypes[] = {"uint8", "uint16", "int16", "float32"};
        return std::string("{\n") +
               "  \"layout\": \"icosahedron diamonds, each a quadtree of tiles\",\n"
               "  \"path\": \"new{diamond}/{level}/{row}_{column}" + textureFormatName(output_.format).extension + "\",\n" +
               "  \"format\": \"" + textureFormatName(output_.format).name + "\",\n" +
               "  \"tileSize\": " + std::to_string(tile) + ",\n" +
               "  \"border\": " + std::to_string(output_.border) + ",\n" +
               "  \"tileTexels\": " + std::to_string(tile + 2 * output_.border) + ",\n" +
               "  \"faceSize\": " + std::to_string(job_.faceSize) + ",\n" +
               "  \"filter\": \"" + textureFilterName(job_.filter) + "\",\n" +
               "  \"channels\": " + std::to_string(plan_.output.channels) + ",\n" +
               "  \"sampleType\": \"" + (plan_.half ? "float16" : kTypes[static_cast<int>(plan_.output.type)]) + "\",\n" +
               "  \"diamonds\": [" + diamonds + "],\n" +
               "  \"levels\": [" + levels + "],\n" +
               "  \"texels\": \"texel (r, c) of a level of face size S stands for (u, v) = (c / S, r / S) of its "
               "diamond; tile (row, column) holds the texels from (row * tileSize - border, column * tileSize - border), "
               "tileTexels a side\"\n"
               "}\n";
    }

    const TextureJob& job_;
    const TextureOutput& output_;
    const TexturePlan& plan_;
    const std::size_t texelSize_;
    const std::size_t header_;  // the TGA header before the texels, for the design's files
    LargeBuffer<unsigned char> buffer_;
    std::vector<unsigned char> file_;
    std::uint64_t texelsDone_ = 0, totalTexels_ = 0;
};

}  // namespace

std::size_t textureFileCount(const TextureOutput& output, int faceSize, std::uint32_t onlyDiamonds)
{
    std::size_t diamonds = 0;
    for (int k = 0; k < kDiamondCount; ++k)
        diamonds += onlyDiamonds == 0 || (onlyDiamonds >> k & 1) != 0 ? 1 : 0;
    std::size_t files = 0;  // a diamond's
    if (output.tileSize != 0) {
        for (std::size_t side = 1; output.tileSize * side <= static_cast<std::size_t>(faceSize); side *= 2)
            files += side * side;
    } else {
        files = 1;  // and a file a mip level, out of a container
        while (output.mips && !holdsMipChain(output.format) && (faceSize >> files) >= 1)
            ++files;
    }
    return diamonds * files;
}

std::string textureTileName(int index, int level, std::uint32_t row, std::uint32_t column, TextureFormat format)
{
    return "new" + std::to_string(index + 1) + "/" + std::to_string(level) + "/" + std::to_string(row) + "_" +
           std::to_string(column) + textureFormatName(format).extension;
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
    if (job.output.tileSize > static_cast<std::uint32_t>(job.faceSize)) {
        reportError(job.owner, messages::kTilesLargerThanTextures);
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

    TextureWriter writer(job, plan);
    return output.tileSize != 0 ? writer.writeTiles(run) : writer.writeTextures(run);
}
