// Texture generation, as the front ends see it: one run loads an equirectangular map and
// hands the ten diamond textures new1.tga .. new10.tga, each a complete TGA image
// (texture_file.h), to a FileSink, in order, on the calling thread. Failures reach the user
// through the error report (error_report.h). This header, texture_filter.h and
// texture_file.h are the generator's public interface.
//
// Paths are narrow strings: UTF-8 on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "texture_file.h"
#include "texture_filter.h"

// Receives one finished image: the bare file name (such as "new3.tga"), the whole file and
// its size. Returns 0 to stop the run, anything else to go on. (A size, not an int: a
// texture of float samples at the largest size passes 2 GiB.)
using FileSink = int (*)(const char* fileName, const unsigned char* bytes, std::size_t byteCount);

// Told how far a run has got, in texels rendered of all it will render (from 0 of the total
// at the start, to the total), on the calling thread.
using ProgressSink = void (*)(std::uint64_t texelsDone, std::uint64_t texelsTotal);

// Asked before a tile is made whether its file (as the FileSink would be given it) is there
// already, complete: nonzero skips it, so that a run started again goes on where it stopped.
using DoneQuery = int (*)(const char* fileName);

constexpr int kImagePathCapacity = 1024;
// MAX_PATH (260) UTF-16 units, the longest folder Windows writes into, take up to three
// bytes each in UTF-8.
constexpr int kOutputDirCapacity = 3 * 260;

// What each texture holds beyond the dialog's choice, which is the first of each:
// 8-bit RGB in TGA, the map's colour as stored. `Auto` takes the map's own channels or
// depth; a combination a format cannot hold is refused (outputRefusal, before the map is
// read; or after, for what `Auto` leaves open).
enum class TextureChannels { Rgb, Rgba, Grey, Auto };
enum class TextureDepth {
    Eight,
    Sixteen,        // 16-bit unsigned; half floats in OpenEXR
    SignedSixteen,  // signed heights, such as GEBCO's
    Float,
    Auto,
};
struct TextureOutput {
    TextureFormat format = TextureFormat::Tga;
    TextureChannels channels = TextureChannels::Rgb;
    TextureDepth depth = TextureDepth::Eight;
    bool linear = false;       // colour averaged in linear light (sRGB decoded, then encoded)
    bool nodata = false;       // samples equal to nodataValue take no part in averages
    double nodataValue = 0;
    TextureCompression compression = TextureCompression::None;  // DDS and KTX2 alone
    unsigned border = 0;       // rings of texels round each texture, continuing it onto the sphere
    bool mips = false;         // every mip level from N down to 1, each rendered from the map
    // Level-of-detail tiles of this many texels a side (a power of two up to N; 0: whole
    // textures): each diamond a quadtree, level 0 one tile of the diamond at face size T,
    // each next level twice the texels a side, up to N (textureTileName, tileIndex).
    std::uint32_t tileSize = 0;
};

// The names the command line takes.
struct TextureChannelsName {
    const char* name;
    TextureChannels channels;
};
inline constexpr TextureChannelsName kTextureChannelsNames[] = {
    {"rgb", TextureChannels::Rgb}, {"rgba", TextureChannels::Rgba}, {"grey", TextureChannels::Grey},
    {"gray", TextureChannels::Grey}, {"auto", TextureChannels::Auto}};
struct TextureDepthName {
    const char* name;
    TextureDepth depth;
};
inline constexpr TextureDepthName kTextureDepthNames[] = {
    {"8", TextureDepth::Eight}, {"16", TextureDepth::Sixteen}, {"int16", TextureDepth::SignedSixteen},
    {"float", TextureDepth::Float}, {"auto", TextureDepth::Auto}};

// Null, or the message that refuses `output` whatever the map: a format that cannot hold
// the channels and depth asked for, or options that contradict each other. Choices left to
// the map (Auto) are checked once it is read.
const char* outputRefusal(const TextureOutput& output, TextureFilter filter);

// The parameter block of one run, filled by a front end.
struct TextureJob {
    void* owner;                           // owner window of the messages (HWND), or null
    TextureFilter filter;                  // how each texel samples the map
    char imagePath[kImagePathCapacity];    // the source picture
    int faceSize;                          // N: the side of every texture, in texels
    FileSink sink;                         // receives each finished image
    char outputDir[kOutputDirCapacity];    // for the sink; the job never reads it
    unsigned threads;                      // threads that render; 0: every core
    TextureOutput output;                  // what the textures hold; the dialog's by default
    ProgressSink progress;                 // null: none
    std::uint32_t onlyDiamonds;            // bit k renders diamond k (new<k+1>); 0: all ten
    DoneQuery done;                        // null: every file is made
    // A map in tiles: its files row by row from the north-west, mosaicColumns a row, read as
    // the one map they form in place of imagePath; empty: imagePath alone.
    std::vector<std::string> mosaic;
    std::uint32_t mosaicColumns;
    std::uint64_t memoryBudget;            // bytes the run may hold; 0: kDefaultMemoryShare of the machine's
};

// The part of the machine's memory a run may hold unless told otherwise.
constexpr double kDefaultMemoryShare = 0.75;

// The files a run with `output` at face size `faceSize` hands to its sink, for the diamonds
// of `onlyDiamonds` (as TextureJob's: 0 for all ten).
std::size_t textureFileCount(const TextureOutput& output, int faceSize, std::uint32_t onlyDiamonds = 0);

// The name of tile (row, column) of level `level` of diamond `index` (0 to 9):
// "new1/0/0_0.png", folders by diamond and level.
std::string textureTileName(int index, int level, std::uint32_t row, std::uint32_t column, TextureFormat format);

// The tiles' index, written beside the folders: the layout, the sizes and the format.
constexpr const char* kTileIndexName = "tiles.json";

// Runs one job. Returns 1 when all ten images went through the sink, 0 on any failure
// (reported through reportError) or when the sink returned 0.
int runTextureJob(TextureJob& job);

// The face sizes the generator accepts; the largest keeps a whole image's size in an int.
constexpr int kMaxFaceSize = 16384;
constexpr bool isSupportedFaceSize(int faceSize)
{
    return faceSize >= 1 && faceSize <= kMaxFaceSize;
}

// Every message the generator and the front ends show.
namespace messages {
constexpr const char* kImagingStartFailed =
    "Failed to start GDI+, if you're running a version of Windows earlier then Windows 2000 "
    "you need to update your system.";
constexpr const char* kCouldntOpenImage = "Couldnt open image file.";
constexpr const char* kImageTooLarge =
    "The image is too large: there is not enough memory to load it.";
constexpr const char* kNoMemoryForImage = "Not enough memory to load the image.";
constexpr const char* kNoMemoryForTexture = "Not enough memory for the texture buffer.";
constexpr const char* kCouldntEncodeTexture = "Couldnt make the texture file: its format cannot hold these texels.";
constexpr const char* kBadFaceSize = "The texture size must be from 1 to 16384 texels.";
constexpr const char* kTilesLargerThanTextures = "The tiles must not be larger than the textures: --tiles at most --size.";
// Followed by the MiB the run needs.
constexpr const char* kMemoryBudgetTooSmall = "The memory budget is too small for this run: it needs at least";
constexpr const char* kCouldntCreateFile = "Couldnt create file";
constexpr const char* kCouldntWriteFile = "Couldnt write to file";
// A front end checks the picture and the folder before it starts a run.
constexpr const char* kFileMissing = "The file specified does not exist";
constexpr const char* kDirectoryMissing = "The directory specified does not exist";
}  // namespace messages
