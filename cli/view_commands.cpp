// The command line's other jobs, the pictures that check a conversion:
//   orbilune-cli to-map TEXDIR OUT [--width W] [--filter nearest|bilinear]
//   orbilune-cli net TEXDIR OUT [--graticule]
//   orbilune-cli globe TEXDIR OUT [--size S] [--center LON,LAT]...
//   orbilune-cli pattern OUT [--width W]
// Each parses its arguments, makes its picture with the generator and writes it; messages,
// exit statuses and progress as for the conversion.
#include "view_commands.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "error_report.h"
#include "system.h"
#include "texture_job.h"
#include "texture_views.h"

namespace {

constexpr const char* kTextureDirHelp = "The folder that holds new1 .. new10 (.tga, .png, .tif, .exr, .dds or .ktx2)";

// The texture folder must exist before anything is read from it.
bool textureFolderExists(const std::string& folder)
{
    if (cli_system::lookFor(folder, true) == cli_system::Found::Yes)
        return true;
    reportError(nullptr, messages::kDirectoryMissing);
    return false;
}

int written(const RgbPicture& picture, const std::string& path)
{
    if (!writePictureFile(path.c_str(), picture))
        return 1;
    std::fprintf(stderr, "wrote %s (%u x %u)\n", path.c_str(), picture.width, picture.height);
    return 0;
}

int written(const SamplePicture& picture, const std::string& path)
{
    if (!writeSamplePicture(path.c_str(), picture))
        return 1;
    std::fprintf(stderr, "wrote %s (%u x %u)\n", path.c_str(), picture.width, picture.height);
    return 0;
}

// "LON,LAT" in degrees, longitude east and latitude north.
bool parseCentre(const std::string& text, GeoPoint& centre)
{
    std::istringstream in(text);
    char comma = 0;
    std::string rest;
    return static_cast<bool>(in >> centre.longitude >> comma >> centre.latitude) && comma == ',' && !(in >> rest) &&
           centre.longitude >= -360 && centre.longitude <= 360 && centre.latitude >= -90 && centre.latitude <= 90;
}

int toMap(CLI::App& app, int argc, const char* const* argv)
{
    std::string folder, out;
    std::uint32_t width = 0;
    TextureRead read = TextureRead::Bilinear;
    app.add_option("TEXDIR", folder, kTextureDirHelp)->required();
    app.add_option("OUT", out, "The map to write, of the textures' depth and channels; its extension names the "
                               "format (png, tif, exr, tga; jpg and others for 8-bit RGB)")
        ->required();
    app.add_option("--width", width, "Width of the map in pixels, its height half that (default: about as "
                                     "detailed as the textures)")
        ->check(CLI::Range(2u, 32766u));
    app.add_option("--filter", read, "How the textures are read: bilinear (default) or nearest")
        ->transform(CLI::CheckedTransformer(
            std::map<std::string, TextureRead>{{"nearest", TextureRead::Nearest}, {"bilinear", TextureRead::Bilinear}},
            CLI::ignore_case));
    CLI11_PARSE(app, argc, argv);
    SamplePicture map;
    if (!textureFolderExists(folder) || !renderMapFromTextures(folder.c_str(), width, read, map))
        return 1;
    return written(map, out);
}

int net(CLI::App& app, int argc, const char* const* argv)
{
    std::string folder, out;
    ViewStyle style;
    app.add_option("TEXDIR", folder, kTextureDirHelp)->required();
    app.add_option("OUT", out, "The picture to write (png, tif, tga, jpg...)")->required();
    app.add_flag("--graticule", style.graticule, "Draw lines every 10 degrees (equator and prime meridian in colour)");
    app.add_flag("--shade", style.shade,
                 "Shade the net as relief lit from the north-west, taking its red channel as heights (the "
                 "grey of height textures)");
    CLI11_PARSE(app, argc, argv);
    RgbPicture picture;
    if (!textureFolderExists(folder) || !renderNetOfTextures(folder.c_str(), style, picture))
        return 1;
    return written(picture, out);
}

int globe(CLI::App& app, int argc, const char* const* argv)
{
    std::string folder, out;
    std::uint32_t size = 512;
    std::vector<std::string> centres;
    app.add_option("TEXDIR", folder, kTextureDirHelp)->required();
    app.add_option("OUT", out, "The picture to write (png, tif, tga, jpg...)")->required();
    app.add_option("--size", size, "Side of each view in pixels (default 512)")->check(CLI::Range(16u, 16384u));
    app.add_option("--center", centres, "LON,LAT in degrees (east and north positive) at the centre of a view; "
                                        "repeat for a row of views (default 0,0)")
        ->allow_extra_args(false);
    CLI11_PARSE(app, argc, argv);
    std::vector<GeoPoint> points;
    for (const std::string& text : centres) {
        GeoPoint point{};
        if (!parseCentre(text, point)) {
            std::fprintf(stderr, "--center: '%s' is not LON,LAT in degrees\nRun with --help for more information.\n",
                         text.c_str());
            return static_cast<int>(CLI::ExitCodes::ValidationError);
        }
        points.push_back(point);
    }
    if (points.empty())
        points.push_back({0, 0});
    RgbPicture picture;
    if (!textureFolderExists(folder) || !renderGlobesOfTextures(folder.c_str(), size, points, picture))
        return 1;
    return written(picture, out);
}

int pattern(CLI::App& app, int argc, const char* const* argv)
{
    std::string out;
    std::uint32_t width = 2048;
    app.add_option("OUT", out, "The map to write (png, tif, tga, jpg...)")->required();
    app.add_option("--width", width, "Width of the map in pixels, its height half that (default 2048)")
        ->check(CLI::Range(64u, 32766u));
    CLI11_PARSE(app, argc, argv);
    RgbPicture picture;
    renderTestPattern(width, picture);
    if (picture.rgb.empty())
        return 1;
    return written(picture, out);
}

}  // namespace

int runViewCommand(int argc, const char* const* argv)
{
    if (argc < 2)
        return kNotAViewCommand;
    const std::map<std::string, std::pair<const char*, int (*)(CLI::App&, int, const char* const*)>> commands = {
        {"to-map", {"Turns the ten textures in TEXDIR back into an equirectangular map.", toMap}},
        {"net", {"Draws the ten textures in TEXDIR as the unfolded icosahedron.", net}},
        {"globe", {"Draws the textured sphere in TEXDIR as seen from far away (orthographic).", globe}},
        {"pattern", {"Writes a test map that makes any mistake in orientation, seams or poles obvious.", pattern}},
    };
    const auto found = commands.find(argv[1]);
    if (found == commands.end())
        return kNotAViewCommand;
    CLI::App app{found->second.first, std::string("orbilune-cli ") + argv[1]};
    return found->second.second(app, argc - 1, argv + 1);
}
