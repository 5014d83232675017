#include "test_support.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "error_report.h"
#include "plain_rasteriser.h"
#include "texture_encoder.h"
#include "texture_job.h"

namespace testing_support {

namespace fs = std::filesystem;

Picture noisePicture(std::uint32_t width, std::uint32_t height, std::uint32_t salt)
{
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.rgb.resize(static_cast<std::size_t>(width) * height);
    std::uint32_t state = 0x9E3779B9u * salt + 12345u;
    for (std::uint32_t& pixel : picture.rgb) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        pixel = state & 0xFFFFFFu;
    }
    return picture;
}

namespace {
void put16(std::vector<unsigned char>& out, std::uint32_t value)
{
    out.push_back(static_cast<unsigned char>(value));
    out.push_back(static_cast<unsigned char>(value >> 8));
}
void put32(std::vector<unsigned char>& out, std::uint32_t value)
{
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}
}  // namespace

std::vector<unsigned char> encodeBmp(const Picture& picture)
{
    const std::uint32_t rowBytes = (picture.width * 3 + 3) & ~3u;
    const std::uint32_t dataBytes = rowBytes * picture.height;
    std::vector<unsigned char> out;
    out.push_back('B');
    out.push_back('M');
    put32(out, 54 + dataBytes);
    put32(out, 0);
    put32(out, 54);
    put32(out, 40);
    put32(out, picture.width);
    put32(out, picture.height);
    put16(out, 1);
    put16(out, 24);
    put32(out, 0);
    put32(out, dataBytes);
    put32(out, 2835);
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    for (std::uint32_t row = picture.height; row-- > 0;) {
        const std::size_t start = out.size();
        for (std::uint32_t column = 0; column < picture.width; ++column) {
            const std::uint32_t rgb = picture.rgb[static_cast<std::size_t>(row) * picture.width + column];
            out.push_back(static_cast<unsigned char>(rgb));        // blue
            out.push_back(static_cast<unsigned char>(rgb >> 8));   // green
            out.push_back(static_cast<unsigned char>(rgb >> 16));  // red
        }
        out.resize(start + rowBytes, 0);
    }
    return out;
}

ScratchDir::ScratchDir()
{
    static std::atomic<int> counter{0};
    const fs::path base = fs::temp_directory_path();
    for (;;) {
        const fs::path candidate =
            base / ("orbilune-test-" + std::to_string(std::rand()) + "-" + std::to_string(counter++));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = candidate.string();
            return;
        }
    }
}

ScratchDir::~ScratchDir()
{
    std::error_code error;
    fs::remove_all(path_, error);
}

std::string ScratchDir::file(const std::string& name) const { return (fs::path(path_) / name).string(); }

std::string ScratchDir::write(const std::string& name, const std::vector<unsigned char>& bytes) const
{
    const std::string target = file(name);
    std::ofstream out(target, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return target;
}

std::string ScratchDir::writeBmp(const std::string& name, const Picture& picture) const
{
    return write(name, encodeBmp(picture));
}

namespace {
std::vector<std::string> capturedMessages;
ErrorReporter previousReporter = nullptr;
void captureError(void*, const char* message) { capturedMessages.emplace_back(message); }
}  // namespace

CapturedErrors::CapturedErrors()
{
    capturedMessages.clear();
    previousReporter = setErrorReporter(captureError);
}

CapturedErrors::~CapturedErrors() { setErrorReporter(previousReporter); }

const std::vector<std::string>& CapturedErrors::messages() const { return capturedMessages; }

namespace {
SinkCalls* activeCalls = nullptr;
int recordingSink(const char* name, const unsigned char* bytes, std::size_t count)
{
    activeCalls->names.emplace_back(name);
    activeCalls->images.emplace_back(bytes, bytes + count);
    return activeCalls->refuseCall == static_cast<int>(activeCalls->names.size()) ? 0 : 1;
}
}  // namespace

int runIntoMemory(const std::string& imagePath, int faceSize, TextureFilter filter, SinkCalls& calls,
                  const TextureOutput& output, const std::function<void(TextureJob&)>& adjust)
{
    static TextureJob job;
    job = TextureJob{};
    std::snprintf(job.imagePath, sizeof job.imagePath, "%s", imagePath.c_str());
    job.faceSize = faceSize;
    job.filter = filter;
    job.output = output;
    job.sink = recordingSink;
    if (adjust)
        adjust(job);
    activeCalls = &calls;
    const int result = runTextureJob(job);
    activeCalls = nullptr;
    return result;
}

LoadedSource::LoadedSource(const std::string& imagePath, std::uint32_t faceSize, TextureFilter filter)
    : imagingStarted_(startImaging(imagingToken_) == imaging_status::kOk)
{
    image_ = ImageObject::createBitmapFromFile(imagePath.c_str());
    if (image_ != nullptr && image_->takeLastStatus() != imaging_status::kOk) {
        image_->destroy(true);
        image_ = nullptr;
    }
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (image_ != nullptr) {
        image_->width(width);
        image_->height(height);
    }
    run_.emplace(faceSize, sourceImageOf(image_, width, height, filter));
}

LoadedSource::~LoadedSource()
{
    run_.reset();
    if (image_ != nullptr)
        image_->destroy(true);
    if (imagingStarted_)
        stopImaging(imagingToken_);
}

std::string writeSampleMap(const ScratchDir& dir, const std::string& name, const SampleMap& map)
{
    const std::size_t bytes = sampleBytes(map.layout.type);
    std::vector<unsigned char> samples(map.values.size() * bytes);
    for (std::size_t i = 0; i < map.values.size(); ++i) {
        const double value = map.values[i];
        switch (map.layout.type) {
        case SampleType::U8:
            samples[i] = static_cast<unsigned char>(value);
            break;
        case SampleType::U16: {
            const auto sample = static_cast<std::uint16_t>(value);
            std::memcpy(&samples[2 * i], &sample, 2);
            break;
        }
        case SampleType::I16: {
            const auto sample = static_cast<std::int16_t>(value);
            std::memcpy(&samples[2 * i], &sample, 2);
            break;
        }
        default: {
            const auto sample = static_cast<float>(value);
            std::memcpy(&samples[4 * i], &sample, 4);
            break;
        }
        }
    }
    const bool png = map.layout.type == SampleType::U8 || map.layout.type == SampleType::U16;
    std::vector<unsigned char> file;
    const SampleImage image{map.width, map.height, map.layout, samples.data(),
                            static_cast<std::size_t>(map.width) * texelBytes(map.layout)};
    encodeTexture(png ? TextureFormat::Png : TextureFormat::Tiff, image, false, file);
    return dir.write(name + (png ? ".png" : ".tif"), file);
}

SampleMap decodeTexture(const ScratchDir& dir, const std::vector<unsigned char>& file, const std::string& name)
{
    SampleMap map;
    std::uintptr_t token = 0;
    const bool started = startImaging(token) == imaging_status::kOk;
    ImageObject* image = ImageObject::createBitmapFromFile(dir.write(name, file).c_str(), true);
    if (image != nullptr && image->takeLastStatus() == imaging_status::kOk) {
        image->width(map.width);
        image->height(map.height);
        map.layout = image->layout();
        const std::size_t pixel = map.layout.type == SampleType::U8 && map.layout.channels >= 3
                                      ? 4
                                      : sampleBytes(map.layout.type) * map.layout.channels;
        const auto* bytes = reinterpret_cast<const unsigned char*>(image->pixels());
        static constexpr unsigned kWordOrder[4] = {2, 1, 0, 3};  // picture words: blue, green, red, alpha
        for (std::uint32_t row = 0; row < map.height; ++row)
            for (std::uint32_t column = 0; column < map.width; ++column)
                for (unsigned c = 0; c < map.layout.channels; ++c) {
                    const unsigned char* at = bytes + (row * image->stride() + column) * pixel;
                    double value = 0;
                    if (map.layout.type == SampleType::U8) {
                        value = at[map.layout.channels >= 3 ? kWordOrder[c] : c];
                    } else if (map.layout.type == SampleType::U16) {
                        std::uint16_t sample;
                        std::memcpy(&sample, at + 2 * c, 2);
                        value = sample;
                    } else if (map.layout.type == SampleType::I16) {
                        std::int16_t sample;
                        std::memcpy(&sample, at + 2 * c, 2);
                        value = sample;
                    } else {
                        float sample;
                        std::memcpy(&sample, at + 4 * c, 4);
                        value = sample;
                    }
                    map.values.push_back(value);
                }
    }
    if (image != nullptr)
        image->destroy(true);
    if (started)
        stopImaging(token);
    return map;
}

Vector3 texelPoint(int index, std::uint32_t n, std::uint32_t r, std::uint32_t c)
{
    return diamondTexelPoint(diamondCorners(index), n, n, r, c);
}

int diamondBesideTopRow(int index, std::uint32_t n)
{
    for (int other = 0; other < kDiamondCount; ++other) {
        bool along = other != index;
        for (std::uint32_t c = 0; along && c < n; ++c) {
            const Vector3 a = texelPoint(index, n, 0, c), b = texelPoint(other, n, c, 0);
            along = a.x == b.x && a.y == b.y && a.z == b.z;
        }
        if (along)
            return other;
    }
    return -1;
}

std::uint64_t fnv1a(const std::vector<unsigned char>& bytes, std::uint64_t hash)
{
    for (unsigned char byte : bytes)
        hash = (hash ^ byte) * 1099511628211ull;
    return hash;
}

}  // namespace testing_support
