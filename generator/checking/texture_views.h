// Checking a conversion: the ten textures of a folder seen as the map they hold, as the
// unfolded icosahedron, as a globe; and a test map that makes a mistake obvious. Part of
// the generator's public interface, beside texture_job.h; failures are reported through
// reportError and the functions return 0 (1 on success).
//
// Longitudes and latitudes here are geographic, in degrees: east and north positive, the
// map's centre column at longitude 0, its left edge at 180° W, its top row at 90° N.
#pragma once

#include <cstdint>
#include <vector>

#include "samples.h"

// A picture in memory: rows top to bottom, 3 bytes a pixel: red, green, blue.
struct RgbPicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> rgb;
};

// A picture of any samples (samples.h) in memory: rows top to bottom, each pixel's
// channels in order, each sample in the machine's byte order.
struct SamplePicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    SampleLayout layout;
    std::vector<std::uint8_t> samples;
};

// How the textures are read between their texels.
enum class TextureRead { Nearest, Bilinear };

// The textures of `textureDir` back into an equirectangular map `width` × `width`/2 (0:
// about as detailed as the textures), of the textures' own depth and channels. Each pixel
// is the textures' value at its centre: the map a filter reads the way nearest reads it
// comes back without a shift, at any width.
int renderMapFromTextures(const char* textureDir, std::uint32_t width, TextureRead read, SamplePicture& map);

// How the net and the globes show textures that are not 8-bit colour: grey samples of more
// than 8 bits (heights) spread from their least to their greatest value, alpha over a
// checkerboard; with `shade` (the net alone), the picture lit from the north-west as relief
// whose heights are its red channel (a grey texture's grey).
struct ViewStyle {
    bool graticule = false;  // lines every 10° (the equator and the prime meridian in colour)
    bool shade = false;
};

// The unfolded icosahedron: the ten diamonds as rhombi, the northern five along the top and
// the southern five below, half a diamond to the east, each labelled with its file name.
int renderNetOfTextures(const char* textureDir, const ViewStyle& style, RgbPicture& net);

struct GeoPoint {
    double longitude;  // degrees east
    double latitude;   // degrees north
};

// Orthographic views of the textured sphere seen from far away, north up and east to the
// right, one `size` × `size` view per centre in a row, on black: each disc touches the
// edges of its square. With a pole as the centre, the centre's meridian runs straight down
// from the north pole (up from the south pole).
int renderGlobesOfTextures(const char* textureDir, std::uint32_t size, const std::vector<GeoPoint>& centres,
                           RgbPicture& globes);

// A test map `width` × `width`/2: colours that follow the direction (a flip or a rotation
// shows), a graticule every 10° with the degrees written at the lines, the equator and the
// prime meridian marked, both poles and the date line marked apart.
void renderTestPattern(std::uint32_t width, RgbPicture& pattern);

// Writes the picture in the format of the file name's extension (the textures' own writers
// for .tga .png .tif .dds .ktx2; JPEG, BMP and the others the platform's encoders write).
// OpenEXR, which holds floats alone, is refused.
int writePictureFile(const char* path, const RgbPicture& picture);

// Writes samples of any layout: as the textures are written (TGA, PNG, TIFF, OpenEXR, DDS,
// KTX2: .tga .png .tif .tiff .exr .dds .ktx2), or for 8-bit RGB as writePictureFile does. A
// format that cannot hold the samples is refused, naming the extensions that would.
int writeSamplePicture(const char* path, const SamplePicture& picture);

namespace messages {
constexpr const char* kTexturesMissing =
    "The folder does not hold the ten textures new1 to new10 (.tga, .png, .tif, .exr, .dds or .ktx2).";
constexpr const char* kTexturesUnreadable =
    "Couldnt read the textures: they must be ten square pictures of one size and one layout.";
constexpr const char* kUnknownPictureFormat = "The picture format is not known from the file name.";
constexpr const char* kPictureTooLarge = "The picture is too large: there is not enough memory to make it.";
// Followed by what the picture holds and the extensions whose formats hold it, such as
// "16-bit grey: name the file .png or .tif.".
constexpr const char* kPictureFormatCannotHold = "The file name's format cannot hold the picture's";
}  // namespace messages
