#include "command_line.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "error_report.h"
#include "system.h"
#include "texture_job.h"

namespace {

using cli_system::Found;
using cli_system::lookFor;

constexpr const char* kImagePathTooLong = "The image path is too long.";
constexpr const char* kBadDiamondList = "--diamonds takes numbers from 1 to 10, such as 1,3,6-10.";
constexpr const char* kOutputPathTooLong = "The output folder path is too long.";
constexpr const char* kBadMosaic = "--mosaic takes the grid's columns and rows, such as 4x2.";
constexpr const char* kOneImage = "Give one IMAGE, or with --mosaic the grid's files (or one file listing them).";

// Has `option` take the names of a table of entries (name, value), case aside; its help
// shows them as NAME|NAME|..., an alias (a later name of the same value) left out.
template <class Value, class Entry, std::size_t kCount>
CLI::Option* takeNames(CLI::Option* option, const Entry (&table)[kCount], Value Entry::*value)
{
    std::map<std::string, Value> names;
    std::vector<Value> shownValues;
    std::string shown;
    for (const auto& entry : table) {
        names.emplace(entry.name, entry.*value);
        if (std::find(shownValues.begin(), shownValues.end(), entry.*value) != shownValues.end())
            continue;
        shownValues.push_back(entry.*value);
        shown += (shown.empty() ? "" : "|") + std::string(entry.name);
    }
    // The name made the value's number, which CLI11 then reads into the enumeration.
    const auto toNumber = [names, shown](std::string& name) -> std::string {
        for (const auto& [known, number] : names) {
            if (CLI::detail::to_lower(known) == CLI::detail::to_lower(name)) {
                name = std::to_string(static_cast<int>(number));
                return {};
            }
        }
        return "'" + name + "' is not one of " + shown;
    };
    return option->transform(CLI::Validator(toNumber, ""))->type_name(shown);
}

// The longest texture name the sink appends to the folder, after a separator: the last
// texture's, at the smallest mip level where levels have files of their own, or its last
// tile and that tile's name while it is written.
std::size_t longestTextureName(const TextureOutput& output, int faceSize)
{
    if (output.tileSize != 0 && output.tileSize <= static_cast<std::uint32_t>(faceSize)) {
        int level = 0;
        while ((output.tileSize << (level + 1)) <= static_cast<std::uint32_t>(faceSize))
            ++level;
        const std::uint32_t last = (1u << level) - 1;
        return textureTileName(kTextureCount - 1, level, last, last, output.format).size() +
               std::strlen(kPartialSuffix);
    }
    int levels = 0;
    while (output.mips && !holdsMipChain(output.format) && (faceSize >> (levels + 1)) >= 1)
        ++levels;
    return textureFileName(kTextureCount - 1, output.format, levels).size();
}

// "1,3,6-10" as bits 0, 2 and 5 to 9; false for anything else.
bool readDiamondList(const std::string& list, std::uint32_t& bits)
{
    bits = 0;
    std::size_t at = 0;
    const auto number = [&](int& value) {
        std::size_t digits = 0;
        value = 0;
        while (at < list.size() && list[at] >= '0' && list[at] <= '9' && digits < 3) {
            value = 10 * value + (list[at++] - '0');
            ++digits;
        }
        return digits > 0 && value >= 1 && value <= kTextureCount;
    };
    for (;;) {
        int first = 0, last = 0;
        if (!number(first))
            return false;
        last = first;
        if (at < list.size() && list[at] == '-') {
            ++at;
            if (!number(last) || last < first)
                return false;
        }
        for (int k = first; k <= last; ++k)
            bits |= 1u << (k - 1);
        if (at == list.size())
            return true;
        if (list[at++] != ',')
            return false;
    }
}

// "4x2" as 4 columns and 2 rows; false for anything else.
bool readGrid(const std::string& grid, std::uint32_t& columns, std::uint32_t& rows)
{
    unsigned long c = 0, r = 0;
    char x = 0, extra = 0;
    if (std::sscanf(grid.c_str(), "%4lu%c%4lu%c", &c, &x, &r, &extra) != 3 || (x != 'x' && x != 'X') || c == 0 ||
        r == 0 || grid.find_first_not_of("0123456789xX") != std::string::npos)
        return false;
    columns = static_cast<std::uint32_t>(c);
    rows = static_cast<std::uint32_t>(r);
    return true;
}

// A mosaic's files: the `columns` × `rows` given, or those a list file gives one a line
// (blank lines aside), a name not absolute taken from the list's folder. Null, or the error.
const char* mosaicFiles(const std::vector<std::string>& given, std::uint32_t columns, std::uint32_t rows,
                        std::vector<std::string>& files, std::string& error)
{
    files = given;
    if (given.size() == 1 && std::uint64_t{columns} * rows != 1) {
        std::ifstream list(given[0]);
        if (!list) {
            error = std::string(messages::kFileMissing) + ": " + given[0];
            return error.c_str();
        }
        const std::size_t slash = given[0].find_last_of(cli_system::kPathSeparators);
        const std::string folder = slash == std::string::npos ? "" : given[0].substr(0, slash + 1);
        files.clear();
        std::string line;
        while (std::getline(list, line) && files.size() <= std::size_t{columns} * rows) {
            while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
                line.pop_back();
            if (line.empty())
                continue;
            files.push_back(cli_system::isAbsolutePath(line) ? line : folder + line);
        }
    }
    if (files.size() != std::size_t{columns} * rows) {
        error = "--mosaic " + std::to_string(columns) + "x" + std::to_string(rows) + " takes " +
                std::to_string(std::uint64_t{columns} * rows) + " files (or one file listing them), " +
                (given.size() == 1 ? given[0] + " lists " + std::to_string(files.size()) + " lines"
                                   : "not " + std::to_string(files.size())) +
                ".";
        return error.c_str();
    }
    for (const std::string& file : files)
        if (lookFor(file, false) != Found::Yes) {
            error = std::string(messages::kFileMissing) + ": " + file;
            return error.c_str();
        }
    return nullptr;
}

}  // namespace

int readCommandLine(int argc, const char* const* argv, CommandLine& line)
{
    CLI::App app{"Turns an equirectangular (longitude/latitude) world map into the ten diamond "
                 "textures of an icosahedral sphere, new1.tga to new10.tga."};
    app.footer("To check the result: orbilune-cli to-map|net|globe TEXDIR OUT (the textures back into a "
               "map, unfolded, or on a globe) and orbilune-cli pattern OUT (a test map); each takes --help.");
    app.set_version_flag("--version", "orbilune-cli 1.0");
    // CLI11 2.1 reports a value it cannot read as a number by that value alone, so an empty
    // one makes an empty message, which passes for success (and the size for 0): such a
    // value is refused here, before the list of sizes is consulted.
    app.add_option("--size", line.faceSize, "Side of every texture in texels")
        ->check(CLI::Validator(
            [](std::string& value) {
                int number = 0;
                return CLI::detail::lexical_cast(value, number) ? std::string()
                                                                : "'" + value + "' is not a number";
            },
            ""))
        ->check(CLI::IsMember({64, 128, 256, 512, 1024, 2048, 4096, 8192, 16384}))
        ->default_val(512);
    CLI::Option* filter = takeNames(
        app.add_option("--filter", line.filter,
                       "How each texel is sampled: nearest (the source pixel under it, the default), "
                       "bilinear (a blend of the four around it), area (the average of the map over "
                       "the texel's footprint, free of aliasing) or mode (the most common value under "
                       "the footprint, for class maps and masks)"),
        kTextureFilterNames, &TextureFilterName::filter);
    CLI::Option* bilinear = app.add_flag("--bilinear", "Short for --filter bilinear")->excludes(filter);
    app.add_option("--threads", line.threads, "Threads that render (default 0: every core)");
    TextureOutput& output = line.output;
    takeNames(app.add_option("--format", output.format,
                             "The textures' file format: tga (the default), png, tiff, exr, or for the GPU dds or "
                             "ktx2 (a diamond's mip levels in one file); the files are new1.<ext> .. new10.<ext> "
                             "(.tga .png .tif .exr .dds .ktx2)"),
              kTextureFormats, &TextureFormatName::format);
    takeNames(app.add_option("--channels", output.channels,
                             "What each texel holds: rgb (the default), rgba, grey, or auto (the map's own)"),
              kTextureChannelsNames, &TextureChannelsName::channels);
    takeNames(app.add_option("--depth", output.depth,
                             "Each sample's type: 8 (the default), 16, int16 (signed heights), float, or auto "
                             "(the map's own); 16 is half floats in OpenEXR"),
              kTextureDepthNames, &TextureDepthName::depth);
    CLI::Option* nodata = app.add_option("--nodata", output.nodataValue,
                                         "A value that marks no data (nan for NaN): pixels whose colour samples "
                                         "all equal it take no part in the bilinear and area averages or in "
                                         "mode's vote, and a texel with nothing else gets it");
    takeNames(app.add_option("--compress", output.compression,
                             "Block compression of DDS and KTX2 textures: none (the default), bc1 (colour), "
                             "bc3 (colour and alpha), bc4 (one channel: heights, masks), bc5 (two channels), "
                             "bc7 (colour and alpha, finer)"),
              kTextureCompressions, &TextureCompressionName::compression);
    app.add_option("--border", output.border,
                   "Rings of texels round each texture that continue it onto the sphere, so that a GPU's "
                   "bilinear filter (clamp to edge) shows no seam: textures of N + 2K texels a side "
                   "(default 0)")
        ->check(CLI::Range(0u, 64u));
    app.add_flag("--mips", output.mips,
                 "Every mip level from N down to 1, each rendered from the map (area unless --filter says "
                 "otherwise): inside a DDS or KTX2 file, or new1_mip1.<ext> .. beside the others");
    app.add_option("--tiles", output.tileSize,
                   "Level-of-detail tiles of T texels a side (a power of two up to --size) instead of whole "
                   "textures: each diamond a quadtree, new<k>/<level>/<row>_<column>.<ext>, level 0 one tile, "
                   "each next level twice the texels, up to --size (area unless --filter says otherwise), and "
                   "an index, tiles.json; a run started again skips the tiles already made")
        ->check(CLI::Range(1u, 16384u));
    std::string diamonds;
    app.add_option("--diamonds", diamonds,
                   "Only these textures, by number from 1 to 10 (such as 1,3,6-10), to share a planet among "
                   "machines");
    app.add_flag("--linear", output.linear,
                 "Average colour in linear light (sRGB decoded, then encoded again): for colour maps, "
                 "not heights or masks");
    std::string grid;
    app.add_option("--mosaic", grid,
                   "The map comes in tiles, COLSxROWS of them (such as 4x2): give the grid's files in place of "
                   "IMAGE, row by row from the north-west, or one text file listing them, one a line; they "
                   "must agree in size, channels and depth, and convert as the one map they form");
    app.add_option("--memory", line.memoryMiB,
                   "The most memory the run may hold, in MiB (default: three quarters of the machine's); a "
                   "map is read in bands, so its size is not bounded by it")
        ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{1} << 40));
    std::vector<std::string> images;
    app.add_option("IMAGE", images,
                   std::string("The source map, any format ") + cli_system::kPictureDecoder + " reads")
        ->required();
    // IMAGE takes every name given, then hands the last to OUTDIR (CLI11 fills a list first).
    app.add_option("OUTDIR", line.outputDir, "The folder that receives new1.tga .. new10.tga");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error);
    }
    if (images.size() < 2) {
        std::fprintf(stderr, "OUTDIR is required\nRun with --help for more information.\n");
        return static_cast<int>(CLI::ExitCodes::RequiredError);
    }
    line.outputDir = images.back();
    images.pop_back();
    if (*bilinear)
        line.filter = TextureFilter::Bilinear;
    else if ((output.mips || output.tileSize != 0) && filter->count() == 0)
        line.filter = TextureFilter::Area;  // nearest would alias the smaller levels
    if (!diamonds.empty() && !readDiamondList(diamonds, line.onlyDiamonds)) {
        reportError(nullptr, kBadDiamondList);
        return 1;
    }
    output.nodata = nodata->count() > 0;
    if (!grid.empty()) {
        std::uint32_t rows = 0;
        std::string error;
        if (!readGrid(grid, line.mosaicColumns, rows)) {
            reportError(nullptr, kBadMosaic);
            return 1;
        }
        if (const char* refusal = mosaicFiles(images, line.mosaicColumns, rows, line.mosaic, error)) {
            reportError(nullptr, refusal);
            return 1;
        }
    } else if (images.size() != 1) {
        reportError(nullptr, kOneImage);
        return 1;
    } else {
        line.imagePath = images[0];
    }
    // What the textures are to hold is checked before anything is read.
    if (const char* refusal = outputRefusal(output, line.filter)) {
        reportError(nullptr, refusal);
        return 1;
    }

    // The job holds the image path in a fixed block: a longer one is refused, never cut
    // short into the name of another file.
    const Found image = !line.mosaic.empty() ? Found::Yes
                        : line.imagePath.size() >= static_cast<std::size_t>(kImagePathCapacity)
                            ? Found::NameTooLong
                            : lookFor(line.imagePath, false);
    if (image != Found::Yes) {
        reportError(nullptr, image == Found::NameTooLong ? kImagePathTooLong : messages::kFileMissing);
        return 1;
    }
    // Every texture's path, joined, must fit what the system opens: a folder too long for
    // that is refused before anything is written, never written elsewhere.
    const std::size_t joined = cli_system::pathLength(line.outputDir) + 1 + longestTextureName(output, line.faceSize);
    const Found folder = joined >= cli_system::pathCapacity() ? Found::NameTooLong : lookFor(line.outputDir, true);
    if (folder != Found::Yes) {
        reportError(nullptr, folder == Found::NameTooLong ? kOutputPathTooLong : messages::kDirectoryMissing);
        return 1;
    }
    return kRunTheJob;
}
