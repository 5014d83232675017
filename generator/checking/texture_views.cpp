// The checking pictures: the map, the net and the globes of ten textures, and the test map.
#include "texture_views.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "image_object.h"
#include "picture_writer.h"
#include "texture_encoder.h"
#include "pixel_font.h"
#include "error_report.h"
#include "texture_job.h"
#include "texture_set.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegree = kPi / 180;

struct Direction {
    double x, y, z;
};

// Geographic longitude and latitude, in radians, to a direction of the sphere frame: the
// generator's longitude atan2(z, x) grows to the west, so it is the negative of ours.
Direction directionOf(double longitude, double latitude)
{
    return {std::cos(latitude) * std::cos(longitude), std::sin(latitude), -std::cos(latitude) * std::sin(longitude)};
}

// Geographic longitude and latitude of a direction, in degrees.
void degreesOf(const Vector3& q, double& longitude, double& latitude)
{
    longitude = -std::atan2(static_cast<double>(q.z), static_cast<double>(q.x)) / kDegree;
    latitude = std::atan2(static_cast<double>(q.y), std::hypot(static_cast<double>(q.x), static_cast<double>(q.z))) / kDegree;
}

// Runs fill(row) for every row, the rows shared among the cores.
template <class Fill>
void forEachRow(std::uint32_t rows, Fill fill)
{
    const unsigned threads = std::max(1u, std::min(std::thread::hardware_concurrency(), rows / 16 + 1));
    std::vector<std::thread> helpers;
    const auto work = [&](unsigned first) {
        for (std::uint32_t row = first; row < rows; row += threads)
            fill(row);
    };
    for (unsigned t = 1; t < threads; ++t)
        helpers.emplace_back(work, t);
    work(0);
    for (std::thread& helper : helpers)
        helper.join();
}

bool allocate(RgbPicture& picture, std::uint64_t width, std::uint64_t height)
{
    // Kept to what a TGA header and the file writer hold.
    if (width == 0 || height == 0 || width > 32767 || height > 16384) {
        reportError(nullptr, messages::kPictureTooLarge);
        return false;
    }
    try {
        picture.rgb.assign(width * height * 3, 0);
    } catch (const std::bad_alloc&) {
        reportError(nullptr, messages::kPictureTooLarge);
        return false;
    }
    picture.width = static_cast<std::uint32_t>(width);
    picture.height = static_cast<std::uint32_t>(height);
    return true;
}

bool allocateSamples(SamplePicture& picture, std::uint64_t width, std::uint64_t height, std::size_t texelBytes)
{
    try {
        picture.samples.assign(width * height * texelBytes, 0);
    } catch (const std::bad_alloc&) {
        reportError(nullptr, messages::kPictureTooLarge);
        return false;
    }
    return true;
}

// A value stored as one sample of `type`, held to the type's range.
void storeValue(double value, SampleType type, std::uint8_t* out)
{
    switch (type) {
    case SampleType::U8:
        out[0] = static_cast<std::uint8_t>(std::clamp(value, 0.0, 255.0));
        return;
    case SampleType::U16: {
        const auto sample = static_cast<std::uint16_t>(std::clamp(value, 0.0, 65535.0));
        std::memcpy(out, &sample, 2);
        return;
    }
    case SampleType::I16: {
        const auto sample = static_cast<std::int16_t>(std::clamp(value, -32768.0, 32767.0));
        std::memcpy(out, &sample, 2);
        return;
    }
    default: {
        const auto sample = static_cast<float>(value);
        std::memcpy(out, &sample, 4);
        return;
    }
    }
}

std::uint8_t* pixel(RgbPicture& picture, std::uint32_t column, std::uint32_t row)
{
    return &picture.rgb[3 * (static_cast<std::size_t>(row) * picture.width + column)];
}

// The graticule line nearest a point, and how much of the pixel it covers: lines every
// 10°, about 1.5 pixels wide with soft edges, where a step of one pixel moves the point by
// `degreesPerPixelX` of longitude and `degreesPerPixelY` of latitude.
enum class Line { Parallel, Meridian, Equator, PrimeMeridian };

struct LineCover {
    Line line;
    double cover;  // 0: none
};

LineCover graticuleAt(double longitude, double latitude, double degreesPerPixelX, double degreesPerPixelY)
{
    const auto cover = [](double value, double degreesPerPixel) {
        const double pixels = std::fabs(value - 10 * std::round(value / 10)) / degreesPerPixel;
        return std::clamp(1.25 - pixels, 0.0, 1.0);
    };
    // Meridians crowd together near the poles: every 30° past 70°, none past 85°.
    const double poleward = std::fabs(latitude);
    const bool meridians = poleward < 70 || (poleward < 85 && std::fmod(std::fabs(longitude) + 15, 30) < 15);
    const double meridian = meridians ? cover(longitude, degreesPerPixelX) : 0;
    const double parallel = cover(latitude, degreesPerPixelY);
    if (meridian >= parallel)
        return {std::fabs(longitude) < 5 ? Line::PrimeMeridian : Line::Meridian, meridian};
    return {std::fabs(latitude) < 5 ? Line::Equator : Line::Parallel, parallel};
}

void paintLine(std::uint8_t* out, LineCover at)
{
    static const std::uint8_t colours[4][3] = {{255, 255, 255}, {255, 255, 255}, {255, 40, 40}, {40, 255, 40}};
    const std::uint8_t* colour = colours[static_cast<int>(at.line)];
    const double cover = 0.8 * at.cover;
    for (int channel = 0; channel < 3; ++channel)
        out[channel] = static_cast<std::uint8_t>(std::lround((1 - cover) * out[channel] + cover * colour[channel]));
}

// Where the net puts diamond k: its pole and the ends of its top row and left column, in
// units of a triangle's side (x east) and height (y down). The upper ring runs along y = 1,
// the lower along y = 2, each vertex at x = (its longitude + 180°) / 72°, the north poles
// above and the south poles below. A northern diamond's top row runs east to west, a
// southern one's west to east; the diamond that crosses the date line sits at the east end.
struct NetPlace {
    double x[3], y[3];  // pole, top row's end, left column's end
};

NetPlace netPlace(int k)
{
    double longitude = 0, latitude = 0;
    degreesOf(diamondCorners(k).p2, longitude, latitude);
    const bool north = k < kDiamondCount / 2;
    double x2 = (longitude + 180) / 72, x1 = north ? x2 + 1 : x2 - 1;
    if (x1 < 0) {
        x1 += 5;
        x2 += 5;
    }
    const double ring = north ? 1 : 2;
    return {{(x1 + x2) / 2, x1, x2}, {north ? 0.0 : 3.0, ring, ring}};
}

// How the net and the globes show the textures' values as 8-bit colour: colour as it is
// (wider types brought to 8 bits), grey of more than 8 bits spread from the textures' least
// to their greatest value (heights), alpha over a checkerboard of two greys.
struct Display {
    SampleLayout layout;
    float low, high;

    void show(const double (&values)[4], bool lightSquare, std::uint8_t* out) const
    {
        const unsigned colours = colourChannels(layout.channels);
        const bool spread = colours == 1 && layout.type != SampleType::U8;
        const auto eightBits = [&](double value) {
            if (spread)
                value = high > low ? (value - low) / (high - low) * 255 : 128;
            else if (layout.type == SampleType::U16)
                value /= 257;
            else if (layout.type == SampleType::F32 || layout.type == SampleType::I16)
                value *= layout.type == SampleType::F32 ? 255 : 255.0 / 32767;
            return std::clamp(value, 0.0, 255.0);
        };
        double rgb[3];
        for (int channel = 0; channel < 3; ++channel)
            rgb[channel] = eightBits(values[colours == 1 ? 0 : channel]);
        if (hasAlpha(layout.channels)) {
            const double maximum = layout.type == SampleType::U8 ? 255 : layout.type == SampleType::U16 ? 65535
                                   : layout.type == SampleType::I16                                  ? 32767
                                                                                                      : 1;
            const double alpha = std::clamp(values[colours] / maximum, 0.0, 1.0);
            const double square = lightSquare ? 204 : 153;
            for (double& channel : rgb)
                channel = alpha * channel + (1 - alpha) * square;
        }
        for (int channel = 0; channel < 3; ++channel)
            out[channel] = static_cast<std::uint8_t>(std::lround(rgb[channel]));
    }
};

constexpr std::uint32_t kCheckerSquare = 8;  // pixels a side of the checkerboard's squares

bool lightSquareAt(std::uint32_t column, std::uint32_t row)
{
    return (column / kCheckerSquare + row / kCheckerSquare) % 2 == 0;
}

// Relief shading of a picture's grey: each pixel lit from the north-west by the slope of
// its grey towards its neighbours (those not `background`), with a touch of ambient light.
void shadeRelief(RgbPicture& picture, std::uint8_t background)
{
    const RgbPicture grey = picture;
    const auto at = [&](std::int64_t column, std::int64_t row, std::uint32_t fallbackColumn, std::uint32_t fallbackRow) {
        const bool inside = column >= 0 && row >= 0 && column < grey.width && row < grey.height;
        const std::uint8_t* value = &grey.rgb[3 * (static_cast<std::size_t>(inside ? row : fallbackRow) * grey.width +
                                                    (inside ? column : fallbackColumn))];
        const std::uint8_t* fallback = &grey.rgb[3 * (static_cast<std::size_t>(fallbackRow) * grey.width + fallbackColumn)];
        return value[0] == background && value[1] == background ? fallback[0] : value[0];
    };
    for (std::uint32_t row = 0; row < grey.height; ++row)
        for (std::uint32_t column = 0; column < grey.width; ++column) {
            std::uint8_t* out = &picture.rgb[3 * (static_cast<std::size_t>(row) * grey.width + column)];
            if (out[0] == background && out[1] == background && out[2] == background)
                continue;
            const double east = at(column + 1, row, column, row) - at(static_cast<std::int64_t>(column) - 1, row, column, row);
            const double south = at(column, row + 1, column, row) - at(column, static_cast<std::int64_t>(row) - 1, column, row);
            // The surface's normal (−∂x, −∂y, 1) against light from the north-west, above.
            const double slope = 16.0 / 255;  // relief exaggerated: a level a pixel is a slope of 1/16
            const double nx = -east * slope, ny = -south * slope, length = std::sqrt(nx * nx + ny * ny + 1);
            const double light = std::clamp((-0.5 * nx - 0.5 * ny + 0.7071) / length, 0.0, 1.0);
            for (int channel = 0; channel < 3; ++channel)
                out[channel] = static_cast<std::uint8_t>(std::lround(out[channel] * (0.25 + 0.75 * light)));
        }
}

}  // namespace

int renderMapFromTextures(const char* textureDir, std::uint32_t width, TextureRead read, SamplePicture& map)
{
    TextureSet set;
    if (!loadTextureSet(textureDir, set))
        return 0;
    if (width == 0)  // a texel's worth of longitude a pixel: N texels along an edge of 63.4°
        width = 2 * static_cast<std::uint32_t>(std::lround(set.faceSize * kPi / std::atan(2.0)));
    width += width % 2;
    const std::uint64_t height = width / 2;
    const std::size_t texelBytes = ::texelBytes(set.layout);
    if (width > 32767 || !allocateSamples(map, width, height, texelBytes))
        return 0;
    map.width = width;
    map.height = static_cast<std::uint32_t>(height);
    map.layout = set.layout;
    const double halfWidth = width / 2, halfHeight = width / 4;
    const bool rounded = set.layout.type != SampleType::F32 && read == TextureRead::Bilinear;
    forEachRow(map.height, [&](std::uint32_t row) {
        // Pixel (column, row) stands for the place at its centre, column 0 from 180° W and
        // row 0 from the north pole.
        const double latitude = kPi / 2 * (1 - (row + 0.5) / halfHeight);
        for (std::uint32_t column = 0; column < map.width; ++column) {
            const Direction d = directionOf(kPi * ((column + 0.5) / halfWidth - 1), latitude);
            double values[4];
            readTextureSet(set, d.x, d.y, d.z, read, values);
            std::uint8_t* out = &map.samples[(static_cast<std::size_t>(row) * map.width + column) * texelBytes];
            for (unsigned channel = 0; channel < set.layout.channels; ++channel)
                storeValue(rounded ? std::floor(values[channel] + 0.5) : values[channel], set.layout.type,
                           out + channel * sampleBytes(set.layout.type));
        }
    });
    return 1;
}

int renderNetOfTextures(const char* textureDir, const ViewStyle& style, RgbPicture& net)
{
    TextureSet set;
    if (!loadTextureSet(textureDir, set))
        return 0;
    const Display display{set.layout, set.low, set.high};
    const bool graticule = style.graticule;
    // A triangle's side of about one pixel a texel, kept to a picture a screen can show.
    const double side = std::clamp<double>(set.faceSize, 128, 1024), height = side * std::sqrt(3.0) / 2;
    const double margin = side / 8;
    if (!allocate(net, static_cast<std::uint64_t>(5.5 * side + 2 * margin), static_cast<std::uint64_t>(3 * height + 2 * margin)))
        return 0;
    std::fill(net.rgb.begin(), net.rgb.end(), 32);
    NetPlace places[kDiamondCount];
    for (int k = 0; k < kDiamondCount; ++k)
        places[k] = netPlace(k);
    forEachRow(net.height, [&](std::uint32_t row) {
        const double y = (row + 0.5 - margin) / height;
        for (std::uint32_t column = 0; column < net.width; ++column) {
            const double x = (column + 0.5 - margin) / side;
            for (int k = 0; k < kDiamondCount; ++k) {
                // (u, v) from x = x0 + u·(x1 − x0) + v·(x2 − x0) and y alike.
                const NetPlace& p = places[k];
                const double ax = p.x[1] - p.x[0], ay = p.y[1] - p.y[0], bx = p.x[2] - p.x[0], by = p.y[2] - p.y[0];
                const double det = ax * by - ay * bx, dx = x - p.x[0], dy = y - p.y[0];
                const double u = (dx * by - dy * bx) / det, v = (ax * dy - ay * dx) / det;
                if (u < 0 || v < 0 || u >= 1 || v >= 1)
                    continue;
                std::uint8_t* out = pixel(net, column, row);
                const Vector3 q = diamondPointAt(k, u, v);
                double values[4];
                readTextureSet(set, q.x, q.y, q.z, TextureRead::Bilinear, values);
                display.show(values, lightSquareAt(column, row), out);
                if (graticule) {
                    // Degrees a pixel, from the points one pixel right and one pixel down.
                    double longitude = 0, latitude = 0, step[2] = {};
                    degreesOf(q, longitude, latitude);
                    double stepLatitude = 0;
                    for (int axis = 0; axis < 2; ++axis) {
                        const double pixel = det * (axis == 0 ? side : height);
                        const double du = (axis == 0 ? by : -bx) / pixel, dv = (axis == 0 ? -ay : ax) / pixel;
                        double nextLongitude = 0, nextLatitude = 0;
                        degreesOf(diamondPointAt(k, u + du, v + dv), nextLongitude, nextLatitude);
                        const double turn = std::fabs(nextLongitude - longitude);
                        step[axis] = std::min(turn, 360 - turn);
                        stepLatitude = std::hypot(stepLatitude, nextLatitude - latitude);
                    }
                    paintLine(out, graticuleAt(longitude, latitude, std::max(std::hypot(step[0], step[1]), 1e-9),
                                               std::max(stepLatitude, 1e-9)));
                }
                break;
            }
        }
    });
    if (style.shade)
        shadeRelief(net, 32);
    const int scale = side >= 512 ? 3 : side >= 256 ? 2 : 1;
    const std::uint8_t white[3] = {255, 255, 255};
    for (int k = 0; k < kDiamondCount; ++k) {
        const NetPlace& p = places[k];
        const std::string name = textureFileName(k, set.format);
        const double cx = margin + side * (p.x[1] + p.x[2]) / 2, cy = margin + height * (p.y[1] + p.y[2]) / 2;
        drawText(net, static_cast<std::int64_t>(cx) - textWidth(name, scale) / 2,
                 static_cast<std::int64_t>(cy) - textHeight(scale) / 2, name, scale, white);
    }
    return 1;
}

int renderGlobesOfTextures(const char* textureDir, std::uint32_t size, const std::vector<GeoPoint>& centres,
                           RgbPicture& globes)
{
    TextureSet set;
    if (!loadTextureSet(textureDir, set) || !allocate(globes, std::uint64_t{size} * centres.size(), size))
        return 0;
    const Display display{set.layout, set.low, set.high};
    const double half = size / 2.0;
    forEachRow(size, [&](std::uint32_t row) {
        const double y = (half - (row + 0.5)) / half;
        for (std::size_t view = 0; view < centres.size(); ++view) {
            const double centreLongitude = centres[view].longitude * kDegree, centreLatitude = centres[view].latitude * kDegree;
            for (std::uint32_t column = 0; column < size; ++column) {
                const double x = (column + 0.5 - half) / half, rho = std::hypot(x, y);
                if (rho > 1)
                    continue;
                // The inverse of the orthographic projection centred at the view's centre.
                const double c = std::asin(rho), sinC = std::sin(c), cosC = std::cos(c);
                const double latitude = rho == 0 ? centreLatitude
                                                 : std::asin(cosC * std::sin(centreLatitude) +
                                                             y * sinC * std::cos(centreLatitude) / rho);
                const double longitude = centreLongitude + std::atan2(x * sinC, rho * cosC * std::cos(centreLatitude) -
                                                                                    y * sinC * std::sin(centreLatitude));
                const Direction d = directionOf(longitude, latitude);
                double values[4];
                readTextureSet(set, d.x, d.y, d.z, TextureRead::Bilinear, values);
                display.show(values, lightSquareAt(column, row),
                             pixel(globes, static_cast<std::uint32_t>(view * size + column), row));
            }
        }
    });
    return 1;
}

void renderTestPattern(std::uint32_t width, RgbPicture& pattern)
{
    width = std::max<std::uint32_t>(width + width % 2, 64);
    if (!allocate(pattern, width, width / 2))
        return;
    const double halfWidth = width / 2.0, halfHeight = width / 4.0;
    const double degreesPerPixel = 180.0 / halfWidth;
    forEachRow(pattern.height, [&](std::uint32_t row) {
        // Each pixel shows the place at its centre, as every filter but bilinear reads it.
        const double latitude = 90 * (1 - (row + 0.5) / halfHeight);
        for (std::uint32_t column = 0; column < pattern.width; ++column) {
            const double longitude = 180 * ((column + 0.5) / halfWidth - 1);
            const Direction d = directionOf(longitude * kDegree, latitude * kDegree);
            std::uint8_t* out = pixel(pattern, column, row);
            // Colour from the direction: red grows towards 0° E, green towards the north
            // pole, blue towards 90° E, so that a flip or a turn changes the colours.
            out[0] = static_cast<std::uint8_t>(40 + 100 * (d.x + 1));
            out[1] = static_cast<std::uint8_t>(40 + 100 * (d.y + 1));
            out[2] = static_cast<std::uint8_t>(40 + 100 * (1 - d.z));
            // Caps round the poles (white to the north, black to the south, in a checker
            // of 15° so that they turn visibly) and a band along the date line.
            const bool checker = static_cast<int>(std::floor((longitude + 180) / 15)) % 2 == 0;
            if (latitude > 85)
                std::fill(out, out + 3, checker ? 255 : 200);
            else if (latitude < -85)
                std::fill(out, out + 3, checker ? 0 : 60);
            else if (std::fabs(std::fabs(longitude) - 180) < 2 && static_cast<int>(std::floor(latitude / 5)) % 2 == 0)
                out[0] = 255, out[1] = 0, out[2] = 255;
            paintLine(out, graticuleAt(longitude, latitude, degreesPerPixel, degreesPerPixel));
        }
    });
    // The degrees at the lines: longitudes along the equator and two more parallels,
    // latitudes along the prime meridian and every 90° east and west.
    const int scale = std::max(1, static_cast<int>(width / 1024));
    const std::uint8_t ink[3] = {255, 255, 160};
    const auto at = [&](double longitude, double latitude, const std::string& text) {
        const auto x = static_cast<std::int64_t>(halfWidth * (longitude / 180 + 1)) + 2 * scale;
        const auto y = static_cast<std::int64_t>(halfHeight * (1 - latitude / 90)) + 2 * scale;
        drawText(pattern, x, y, text, scale, ink);
    };
    for (int longitude = -180; longitude < 180; longitude += 30) {
        const std::string text = longitude == 0 ? "0" : std::to_string(std::abs(longitude)) + (longitude < 0 ? "W" : "E");
        for (const int latitude : {0, 50, -50})
            at(longitude, latitude, text);
    }
    for (int latitude = -80; latitude <= 80; latitude += 10) {
        const std::string text = latitude == 0 ? "0" : std::to_string(std::abs(latitude)) + (latitude < 0 ? "S" : "N");
        for (const int longitude : {-135, -45, 45, 135})
            at(longitude, latitude, text);
    }
    at(-5, 88, "N");
    at(-5, -86, "S");
}

namespace {

std::string extensionOf(const char* path)
{
    const std::string name = path;
    const std::size_t dot = name.rfind('.');
    std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

// The textures' own writers write what the extension names, when it names one of theirs.
bool formatOfExtension(const std::string& extension, TextureFormat& format)
{
    for (const TextureFormatName& name : kTextureFormats)
        if ("." + extension == name.extension || extension == name.name) {
            format = name.format;
            return true;
        }
    return false;
}

// Refuses a picture whose samples the file name's format cannot hold, naming what they are
// and the picture formats that hold them (TIFF holds every layout).
void refuseLayout(SampleLayout layout)
{
    static constexpr const char* kTypes[] = {"8-bit", "16-bit", "signed 16-bit", "float"};
    static constexpr const char* kChannels[] = {"grey", "grey and alpha", "RGB", "RGBA"};
    std::vector<std::string> holding;
    for (const TextureFormatName& name : kTextureFormats)
        if (!holdsMipChain(name.format) && formatRefusal(name.format, layout, false) == nullptr)
            holding.emplace_back(name.extension);
    std::string message = std::string(messages::kPictureFormatCannotHold) + " " +
                          kTypes[static_cast<int>(layout.type)] + " " + kChannels[(layout.channels - 1) & 3] +
                          ": name the file ";
    for (std::size_t k = 0; k < holding.size(); ++k)
        message += (k == 0 ? "" : k + 1 == holding.size() ? " or " : ", ") + holding[k];
    reportError(nullptr, (message + ".").c_str());
}

int storeFile(const char* path, const std::vector<unsigned char>& bytes)
{
    const TextureFileResult result = storeTextureFile(path, bytes.data(), bytes.size());
    if (result != TextureFileResult::Written)
        reportError(nullptr, textureFileMessage(result));
    return result == TextureFileResult::Written ? 1 : 0;
}

}  // namespace

int writeSamplePicture(const char* path, const SamplePicture& picture)
{
    TextureFormat format = TextureFormat::Tga;
    if (!formatOfExtension(extensionOf(path), format)) {
        if (picture.layout != SampleLayout{SampleType::U8, 3}) {
            refuseLayout(picture.layout);  // the platform's encoders take 8-bit RGB alone
            return 0;
        }
        RgbPicture rgb{picture.width, picture.height, picture.samples};
        return writePictureFile(path, rgb);
    }
    // The format is the file name's, not --format's: the refusal names extensions.
    if (formatRefusal(format, picture.layout, false) != nullptr) {
        refuseLayout(picture.layout);
        return 0;
    }
    std::vector<unsigned char> file;
    const SampleImage image{picture.width, picture.height, picture.layout, picture.samples.data(),
                            static_cast<std::size_t>(picture.width) * texelBytes(picture.layout)};
    if (!encodeTexture(format, image, false, file)) {
        reportError(nullptr, messages::kPictureTooLarge);
        return 0;
    }
    return storeFile(path, file);
}

int writePictureFile(const char* path, const RgbPicture& picture)
{
    TextureFormat format = TextureFormat::Tga;
    if (formatOfExtension(extensionOf(path), format)) {
        // OpenEXR holds floats alone.
        if (formatRefusal(format, {SampleType::U8, 3}, false) != nullptr) {
            refuseLayout({SampleType::U8, 3});
            return 0;
        }
        std::vector<unsigned char> file;
        const SampleImage image{picture.width, picture.height, {SampleType::U8, 3}, picture.rgb.data(),
                                std::size_t{picture.width} * 3};
        if (!encodeTexture(format, image, false, file)) {
            reportError(nullptr, messages::kPictureTooLarge);
            return 0;
        }
        return storeFile(path, file);
    }
    const int status = encodePictureFile(path, picture.rgb.data(), picture.width, picture.height);
    if (status != imaging_status::kOk)
        reportError(nullptr, status == imaging_status::kUnknownImageFormat ? messages::kUnknownPictureFormat
                                                                          : messages::kCouldntWriteFile);
    return status == imaging_status::kOk ? 1 : 0;
}
