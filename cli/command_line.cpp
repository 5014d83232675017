#include "command_line.h"

#include <algorithm>
#include <map>
#include <string>

#include <CLI/CLI.hpp>

#include "error_report.h"
#include "system.h"
#include "texture_job.h"

namespace {

using cli_system::Found;
using cli_system::lookFor;

constexpr const char* kImagePathTooLong = "The image path is too long.";
constexpr const char* kOutputPathTooLong = "The output folder path is too long.";

// The longest texture name the sink appends to the folder, after a separator.
std::size_t longestTextureName()
{
    std::size_t longest = 0;
    for (int k = 0; k < kTextureCount; ++k)
        longest = std::max(longest, textureFileName(k).size());
    return longest;
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
        ->check(CLI::IsMember({64, 128, 256, 512, 1024, 2048, 4096, 8192}))
        ->default_val(512);
    std::map<std::string, TextureFilter> filterNames;
    for (const TextureFilterName& name : kTextureFilterNames)
        filterNames.emplace(name.name, name.filter);
    CLI::Option* filter =
        app.add_option("--filter", line.filter,
                       "How each texel is sampled: nearest (the source pixel under it, the default), "
                       "bilinear (a blend of the four around it) or area (the average of the map over "
                       "the texel's footprint, free of aliasing)")
            ->transform(CLI::CheckedTransformer(filterNames, CLI::ignore_case));
    CLI::Option* bilinear = app.add_flag("--bilinear", "Short for --filter bilinear")->excludes(filter);
    app.add_option("--threads", line.threads, "Threads that render (default 0: every core)");
    app.add_option("IMAGE", line.imagePath,
                   std::string("The source map, any format ") + cli_system::kPictureDecoder + " reads")
        ->required();
    app.add_option("OUTDIR", line.outputDir, "The folder that receives new1.tga .. new10.tga")
        ->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error);
    }
    if (*bilinear)
        line.filter = TextureFilter::Bilinear;

    // The job holds the image path in a fixed block: a longer one is refused, never cut
    // short into the name of another file.
    const Found image = line.imagePath.size() >= static_cast<std::size_t>(kImagePathCapacity)
                            ? Found::NameTooLong
                            : lookFor(line.imagePath, false);
    if (image != Found::Yes) {
        reportError(nullptr, image == Found::NameTooLong ? kImagePathTooLong : messages::kFileMissing);
        return 1;
    }
    // Every texture's path, joined, must fit what the system opens: a folder too long for
    // that is refused before anything is written, never written elsewhere.
    const std::size_t joined = cli_system::pathLength(line.outputDir) + 1 + longestTextureName();
    const Found folder = joined >= cli_system::pathCapacity() ? Found::NameTooLong : lookFor(line.outputDir, true);
    if (folder != Found::Yes) {
        reportError(nullptr, folder == Found::NameTooLong ? kOutputPathTooLong : messages::kDirectoryMissing);
        return 1;
    }
    return kRunTheJob;
}
