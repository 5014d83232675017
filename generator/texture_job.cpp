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
#include "decoded_picture.h"
#include "render_sweep.h"
#include "image_object.h"
#include "large_buffer.h"
#include "map_rows.h"
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

// What the program holds beside the map's rows and the textures, for the memory budget.
constexpr std::uint64_t kProgramBytes = std::uint64_t{64} << 20;
// Rows a window of map rows holds beyond twice the fewest it needs.
constexpr std::uint64_t kWindowSlackRows = 512;

const char* loadFailureMessage(int status)
{
    return status == imaging_status::kValueOverflow ? messages::kImageTooLarge
                                                    : messages::kCouldntOpenImage;
}

// Renders a run's textures (or tiles) in one sweep of the map and hands each file to the
// sink: the design's TGA straight from the texel buffer, every other format through its
// writer.
class TextureWriter {
public:
    TextureWriter(const TextureJob& job, const TexturePlan& plan)
        : job_(job), output_(job.output), plan_(plan), texelSize_(texelBytes(plan.output)),
          header_(plan.words && job.output.format == TextureFormat::Tga ? kTgaHeaderSize : 0)
    {
        if (output_.tileSize != 0)
            planTiles();
        else
            planTextures();
    }

    // Whole textures go out in order, and none before the whole map is read (a map that
    // fails part way leaves no texture behind); tiles go as they finish.
    bool tiled() const { return output_.tileSize != 0; }
    SweepSettings settings() const
    {
        SweepSettings settings;
        settings.texelBytes = texelSize_;
        settings.headerBytes = header_;
        settings.threads = job_.threads;
        settings.holdUntilRead = !tiled();
        if (job_.progress != nullptr) {
            const ProgressSink progress = job_.progress;
            const std::uint64_t before = progressBefore_, total = progressTotal_;
            settings.progress = [progress, before, total](std::uint64_t done, std::uint64_t pieces) {
                progress(before + done, total != 0 ? total : pieces);
            };
        }
        return settings;
    }
    const std::vector<SweepPiece>& pieces() const { return pieces_; }
    std::uint64_t texels() const
    {
        std::uint64_t texels = 0;
        for (const SweepPiece& piece : pieces_)
            texels += std::uint64_t{piece.region.rows} * piece.region.columns;
        return texels;
    }
    // One pass of several: the progress shown counts `before` texels done of `total`.
    void showProgressAs(std::uint64_t before, std::uint64_t total)
    {
        progressBefore_ = before;
        progressTotal_ = total;
    }

    // The bytes the run holds beside the map's rows: the pieces' buffers, and for a file
    // format other than the design's a file's (a container's whole chain) and its encoding.
    std::uint64_t heldBytes(const std::vector<SweepBlock>& orderedBlocks, bool streamed) const
    {
        // The sweep's list of blocks, with a count and a pointer a piece beside.
        std::uint64_t bytes = sweepTexelBytes(pieces_, orderedBlocks, settings(), streamed) +
                              orderedBlocks.size() * sizeof(SweepBlock) + pieces_.size() * 64;
        if (header_ == 0 && !pieces_.empty()) {
            const bool chain = holdsMipChain(output_.format);
            std::uint64_t file = 0;  // a file's texels: a piece's, or a diamond's chain
            for (const SweepPiece& piece : pieces_) {
                if (!chain)
                    file = std::max<std::uint64_t>(file, bytesOf(piece.region));
                else if (piece.diamond == pieces_[0].diamond)
                    file += bytesOf(piece.region);
            }
            bytes += 2 * file;
        }
        return bytes;
    }

    int write(const SweepSource& source) { return tiled() ? writeTiles(source) : writeTextures(source); }

private:
    void planTextures()
    {
        const auto faceSize = static_cast<std::uint32_t>(job_.faceSize);
        levelSizes_.push_back(faceSize);
        while (output_.mips && levelSizes_.back() > 1)
            levelSizes_.push_back(levelSizes_.back() / 2);
        for (int k = 0; k < kDiamondCount; ++k)
            for (std::size_t level = 0; rendersDiamond(k) && level < levelSizes_.size(); ++level) {
                pieces_.push_back({k, levelSizes_[level], diamondRegion(levelSizes_[level], output_.border)});
                levelOf_.push_back(static_cast<int>(level));
            }
    }
    // Level-of-detail tiles: level l of diamond k at face size T·2^l, cut into 2^l × 2^l
    // tiles of T texels a side (with the border rings round each), each the same texels as
    // that region of the whole texture; tiles already made (DoneQuery) are passed over.
    void planTiles()
    {
        const std::uint32_t tile = output_.tileSize, faceSize = static_cast<std::uint32_t>(job_.faceSize);
        const auto k0 = static_cast<std::int32_t>(output_.border);
        int level = 0;
        for (std::uint32_t size = tile; size <= faceSize; size *= 2, ++level)
            for (int k = 0; k < kDiamondCount; ++k)
                for (std::uint32_t row = 0; rendersDiamond(k) && row < size / tile; ++row)
                    for (std::uint32_t column = 0; column < size / tile; ++column) {
                        std::string name = textureTileName(k, level, row, column, output_.format);
                        if (job_.done != nullptr && job_.done(name.c_str()) != 0)
                            continue;
                        pieces_.push_back({k, size,
                                           TexelRegion{static_cast<std::int32_t>(row * tile) - k0,
                                                       static_cast<std::int32_t>(column * tile) - k0,
                                                       tile + 2 * output_.border, tile + 2 * output_.border}});
                        levelOf_.push_back(level);
                        names_.push_back(std::move(name));
                    }
    }

    // Whole textures: every diamond at N, and with --mips each level down to 1, each with
    // the border rings; a container holds a diamond's levels in one file, other formats
    // take a file a level.
    int writeTextures(const SweepSource& source)
    {
        const std::vector<SweepPiece>& pieces = pieces_;
        const bool chain = holdsMipChain(output_.format);
        std::vector<unsigned char> chainTexels;  // a diamond's levels, for its container
        std::vector<SampleImage> levels;
        return sweep(source, true, [&](std::size_t p, unsigned char* buffer) {
            const SweepPiece& piece = pieces[p];
            const SampleImage image = imageOf(piece, buffer + header_);
            if (!chain)
                return deliver(textureFileName(piece.diamond, output_.format, levelOf_[p]), image, buffer);
            if (levelOf_[p] == 0) {
                chainTexels.clear();
                levels.clear();
            }
            unsigned char* texels = buffer + header_;
            if (plan_.words)
                swapRedAndBlue(texels, bytesOf(piece.region));
            const std::size_t at = chainTexels.size();
            chainTexels.insert(chainTexels.end(), texels, texels + bytesOf(piece.region));
            levels.push_back(image);
            levels.back().data = reinterpret_cast<const void*>(at);  // placed once every level is in
            if (static_cast<std::size_t>(levelOf_[p]) + 1 < levelSizes_.size())
                return true;
            for (SampleImage& level : levels)
                level.data = chainTexels.data() + reinterpret_cast<std::uintptr_t>(level.data);
            const ChainEncoding encoding{plan_.half, output_.compression, job_.threads};
            return encoded([&] {
                return encodeTextureChain(output_.format, levels.data(), levels.size(), encoding, file_);
            }) && job_.sink(textureFileName(piece.diamond, output_.format).c_str(), file_.data(), file_.size()) != 0;
        });
    }

    // The tiles, handed out as they finish, and the index last.
    int writeTiles(const SweepSource& source)
    {
        const int made = sweep(source, false, [&](std::size_t p, unsigned char* buffer) {
            return deliver(names_[p], imageOf(pieces_[p], buffer + header_), buffer);
        });
        if (made == 0)
            return 0;
        const std::string index = tileIndex();
        return job_.sink(kTileIndexName, reinterpret_cast<const unsigned char*>(index.data()), index.size()) != 0 ? 1
                                                                                                                 : 0;
    }

    bool rendersDiamond(int k) const { return job_.onlyDiamonds == 0 || (job_.onlyDiamonds >> k & 1) != 0; }
    std::size_t bytesOf(const TexelRegion& region) const { return std::size_t{region.rows} * region.columns * texelSize_; }
    SampleImage imageOf(const SweepPiece& piece, unsigned char* texels) const
    {
        return SampleImage{piece.region.columns, piece.region.rows, plan_.output, texels,
                           piece.region.columns * texelSize_};
    }

    // Renders the pieces, handing each to `deliver`; 1 when all went through, else 0 with
    // the failure reported.
    template <class Deliver>
    int sweep(const SweepSource& source, bool inOrder, Deliver deliver)
    {
        int status = 0;
        try {
            status = runSweep(pieces_, source, settings(), inOrder,
                              [&](std::size_t p, unsigned char* buffer) { return deliver(p, buffer); });
        } catch (const std::bad_alloc&) {
            reportError(job_.owner, messages::kNoMemoryForTexture);
            return 0;
        }
        if (status > 0)
            reportError(job_.owner, status == imaging_status::kOutOfMemory ? messages::kNoMemoryForTexture
                                                                            : loadFailureMessage(status));
        return status == 0 ? 1 : 0;
    }

    // One file of `image`: the design's TGA as it lies in `buffer`, after its header.
    bool deliver(const std::string& name, const SampleImage& image, unsigned char* buffer)
    {
        if (header_ != 0) {
            writeTgaHeader(buffer, image.width, image.height);
            return job_.sink(name.c_str(), buffer, header_ + bytesOf({0, 0, image.height, image.width})) != 0;
        }
        if (plan_.words)
            swapRedAndBlue(buffer + header_, bytesOf({0, 0, image.height, image.width}));
        // A container's one level goes through the chain's encoder, which compresses blocks.
        return encoded([&] {
                   return holdsMipChain(output_.format)
                              ? encodeTextureChain(output_.format, &image, 1,
                                                   ChainEncoding{plan_.half, output_.compression, job_.threads}, file_)
                              : encodeTexture(output_.format, image, plan_.half, file_, job_.threads);
               }) &&
               job_.sink(name.c_str(), file_.data(), file_.size()) != 0;
    }
    // The design's blue, green, red texels to the writers' red, green, blue.
    static void swapRedAndBlue(unsigned char* texels, std::size_t bytes)
    {
        for (std::size_t i = 0; i < bytes; i += 3)
            std::swap(texels[i], texels[i + 2]);
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

    const char* compressionName() const
    {
        for (const TextureCompressionName& entry : kTextureCompressions)
            if (entry.compression == output_.compression)
                return entry.name;
        return "none";
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
               "  \"compression\": \"" + compressionName() + "\",\n" +
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
    std::vector<SweepPiece> pieces_;
    std::vector<int> levelOf_;               // each piece's mip or tile level
    std::vector<std::uint32_t> levelSizes_;  // whole textures' levels
    std::vector<std::string> names_;         // tiles' files
    std::vector<unsigned char> file_;
    std::uint64_t progressBefore_ = 0, progressTotal_ = 0;
};

// What one pass over the map read in bands holds for the diamonds of `diamonds` (a mask, as
// TextureJob's onlyDiamonds): the pieces' buffers and files, and the fewest rows of its window.
struct PassNeeds {
    std::uint64_t held = 0;
    std::uint32_t fewestRows = 0;
    std::uint64_t bytes(std::uint64_t rowBytes, std::uint64_t readerBytes) const
    {
        return held + readerBytes + rowBytes * fewestRows;
    }
};
PassNeeds passNeeds(const TextureJob& job, const TexturePlan& plan, std::uint32_t diamonds, std::uint32_t height)
{
    TextureJob part = job;
    part.onlyDiamonds = diamonds;
    const TextureWriter writer(part, plan);
    std::vector<SweepBlock> blocks = sweepBlocks(writer.pieces(), height);
    orderDownTheMap(blocks);
    return {writer.heldBytes(blocks, true), std::min(height, sweepWindowRows(blocks))};
}

// Whole textures too large to hold at once beside the window go in several passes over the
// map, each for as many diamonds, in order, as fit the budget. Empty if one diamond does not.
std::vector<std::uint32_t> planPasses(const TextureJob& job, const TexturePlan& plan, std::uint32_t height,
                                      std::uint64_t rowBytes, std::uint64_t readerBytes, std::uint64_t budget)
{
    std::vector<std::uint32_t> passes;
    std::uint32_t pass = 0;
    for (int k = 0; k < kDiamondCount; ++k) {
        if (job.onlyDiamonds != 0 && (job.onlyDiamonds >> k & 1) == 0)
            continue;
        if (pass != 0 && passNeeds(job, plan, pass | 1u << k, height).bytes(rowBytes, readerBytes) <= budget) {
            pass |= 1u << k;
            continue;
        }
        if (pass != 0)
            passes.push_back(pass);
        pass = 1u << k;
        if (passNeeds(job, plan, pass, height).bytes(rowBytes, readerBytes) > budget)
            return {};
    }
    passes.push_back(pass);
    return passes;
}

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

    // The design's output reads every map as 8-bit RGB words; any other keeps the file's
    // samples, to be narrowed to what the textures need once the map's are known.
    const TextureOutput& output = job.output;
    const bool designOutput = output.channels == TextureChannels::Rgb && output.depth == TextureDepth::Eight &&
                              !output.linear && !output.nodata && job.filter != TextureFilter::Mode;
    const std::uint64_t machine = pictureMemory.limitBytes != 0 ? pictureMemory.limitBytes : physicalMemoryBytes();
    // A budget given holds the program itself (code, libraries, threads' stacks, the
    // allocator's own) beside the map and the textures; the default leaves it the rest.
    const std::uint64_t budget =
        job.memoryBudget != 0 ? job.memoryBudget - std::min(job.memoryBudget, kProgramBytes)
                              : static_cast<std::uint64_t>(static_cast<double>(machine) * kDefaultMemoryShare);

    // The map read in bands where its reader gives rows in order (a mosaic always is), so
    // that decoding overlaps rendering and only a window of rows is held; else decoded whole.
    MapRowsRequest request;
    request.keepSamples = !designOutput;
    if (job.mosaic.empty()) {
        std::string path;
        for (int i = 0; i < kImagePathCapacity && job.imagePath[i] != '\0'; ++i)
            path += job.imagePath[i];
        request.paths.push_back(path);
    } else {
        request.paths = job.mosaic;
        request.columns = std::max(job.mosaicColumns, 1u);
        request.rows = static_cast<std::uint32_t>(job.mosaic.size() / request.columns);
    }
    int readerStatus = imaging_status::kOk;
    std::string readerMessage;
    std::unique_ptr<MapRows> reader = openMapRows(request, readerStatus, readerMessage);
    if (!reader && !job.mosaic.empty()) {
        reportError(job.owner, readerMessage.empty() ? loadFailureMessage(readerStatus) : readerMessage.c_str());
        return 0;
    }
    ImageHandle image;
    const auto decodeWhole = [&] {
        image.reset(ImageObject::createBitmapFromFile(request.paths[0].c_str(), !designOutput));
        if (!image) {
            reportError(job.owner, messages::kNoMemoryForImage);
            return false;
        }
        const int loadStatus = image->takeLastStatus();
        if (loadStatus != imaging_status::kOk) {
            reportError(job.owner, loadFailureMessage(loadStatus));
            return false;
        }
        return true;
    };
    if (!reader && !decodeWhole())
        return 0;

    const auto faceSize = static_cast<std::uint32_t>(job.faceSize);
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    SampleLayout map;
    if (reader) {
        width = reader->width();
        height = reader->height();
        map = designOutput ? reader->fileLayout() : reader->layout();
    } else {
        image->width(width);
        image->height(height);
        map = designOutput ? image->fileLayout() : image->layout();
    }
    TexturePlan plan;
    if (const char* refusal = planTextures(output, job.filter, map, width, height, plan)) {
        reportError(job.owner, refusal);
        return 0;
    }
    for (const std::string& warning : plan.warnings)
        reportWarning(warning.c_str());
    TextureSamples samples;
    samples.output = plan.output;
    samples.words = plan.words;
    samples.linear = output.linear;
    samples.nodata = output.nodata;
    samples.nodataValue = output.nodataValue;
    const PublishedRun run(faceSize, sourceImageOf(nullptr, width, height, job.filter), samples);
    setRenderThreads(job.threads);
    TextureWriter writer(job, plan);

    SweepSource source;
    source.height = height;
    std::vector<std::uint32_t> passes;  // read in bands: the diamonds of each pass over the map
    PassNeeds onePass;                  // and what one pass for them all holds
    if (reader) {
        // Read in bands, a pass holds its pieces open down the map and a window of rows;
        // decoded whole, the map and a piece at a time. The first that fits the budget, and
        // past that, whole textures in several passes over the map.
        const std::size_t pixel = pixelBytes(plan.working);
        const std::uint64_t rowBytes = image_backend::paddedRowStride(width, pixel) * pixel;
        std::vector<SweepBlock> blocks = sweepBlocks(writer.pieces(), height);
        const std::uint64_t wholeBytes = rowBytes * height + writer.heldBytes(blocks, false);
        orderDownTheMap(blocks);
        const std::uint64_t held = writer.heldBytes(blocks, true) + reader->readerBytes();
        const std::uint32_t fewestRows = std::min(height, sweepWindowRows(blocks));
        const std::uint64_t streamedBytes = held + rowBytes * fewestRows;
        onePass = {held - reader->readerBytes(), fewestRows};
        if (streamedBytes <= budget)
            passes.push_back(job.onlyDiamonds);
        else if (wholeBytes > budget || !job.mosaic.empty())
            passes = writer.tiled() ? passes : planPasses(job, plan, height, rowBytes, reader->readerBytes(), budget);
        if (passes.empty() && (wholeBytes > budget || !job.mosaic.empty())) {
            // The least of: one pass, the map decoded whole, a pass a diamond.
            std::uint64_t needed = job.mosaic.empty() ? std::min(streamedBytes, wholeBytes) : streamedBytes;
            if (!writer.tiled()) {
                std::uint64_t passEach = 0;
                for (int k = 0; k < kDiamondCount; ++k)
                    if (job.onlyDiamonds == 0 || (job.onlyDiamonds >> k & 1) != 0)
                        passEach = std::max(passEach, passNeeds(job, plan, 1u << k, height)
                                                          .bytes(rowBytes, reader->readerBytes()));
                needed = std::min(needed, passEach);
            }
            // Past the machine's memory the design's message; past a budget given, the memory needed.
            const std::string message = std::string(messages::kMemoryBudgetTooSmall) + " " +
                                        std::to_string((needed + kProgramBytes + (1u << 20) - 1) >> 20) + " MiB (--memory).";
            reportError(job.owner, job.memoryBudget == 0 ? messages::kImageTooLarge : message.c_str());
            return 0;
        }
        if (passes.empty()) {  // every piece open at once costs more than the map
            reader.reset();
            if (!decodeWhole())
                return 0;
        }
    }
    if (passes.empty()) {
        if (image->layout() != plan.working && !image->reshape(plan.working)) {
            reportError(job.owner, messages::kNoMemoryForImage);
            return 0;
        }
        source.whole = {reinterpret_cast<const unsigned char*>(image->pixels()),
                        image->stride() * pixelBytes(plan.working), plan.working, 0};
        return writer.write(source);
    }

    std::uint64_t texelsBefore = 0;
    for (std::size_t p = 0; p < passes.size(); ++p) {
        if (p > 0) {  // each pass reads the map again
            reader = openMapRows(request, readerStatus, readerMessage);
            if (!reader) {
                reportError(job.owner, readerMessage.empty() ? loadFailureMessage(readerStatus) : readerMessage.c_str());
                return 0;
            }
        }
        if (reader->layout() != plan.working && !reader->narrowTo(plan.working)) {
            reportError(job.owner, messages::kNoMemoryForImage);
            return 0;
        }
        TextureJob part = job;
        part.onlyDiamonds = passes[p];
        TextureWriter partWriter(part, plan);
        if (passes.size() > 1)
            partWriter.showProgressAs(texelsBefore, writer.texels());
        texelsBefore += partWriter.texels();
        // More rows than the fewest let the reader run ahead of the renderers and slide the
        // window less often.
        const std::size_t pixel = pixelBytes(plan.working);
        const std::uint64_t rowBytes = image_backend::paddedRowStride(width, pixel) * pixel;
        const PassNeeds needs = passes.size() == 1 ? onePass : passNeeds(job, plan, passes[p], height);
        const std::uint64_t budgetRows =
            (budget - std::min(budget, needs.held + reader->readerBytes())) / std::max<std::uint64_t>(rowBytes, 1);
        source.reader = reader.get();
        source.windowRows = static_cast<std::uint32_t>(std::min<std::uint64_t>(
            {height, std::max<std::uint64_t>(budgetRows, needs.fewestRows), std::uint64_t{needs.fewestRows} * 2 + kWindowSlackRows}));
        if (partWriter.write(source) != 1)
            return 0;
    }
    return 1;
}
