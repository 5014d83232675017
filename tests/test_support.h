// Helpers shared by the generator tests: tiny pictures written as BMP files (which every
// image backend decodes), a scratch folder, a captured error report and an in-memory sink.
#pragma once

#include <cstdint>
#include <optional>
#include <functional>
#include <string>
#include <vector>

#include "icosa_diamonds.h"
#include "image_object.h"
#include "spherical_lookup.h"
#include "texture_job.h"

namespace testing_support {

// A picture as 0x00RRGGBB words, row-major from the top-left corner.
struct Picture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint32_t> rgb;

    std::uint32_t& at(std::uint32_t column, std::uint32_t row) { return rgb[row * width + column]; }
};

// A deterministic picture of asymmetric noise, different in every channel.
Picture noisePicture(std::uint32_t width, std::uint32_t height, std::uint32_t salt = 1);

// An uncompressed 24-bit bottom-up BMP of the picture.
std::vector<unsigned char> encodeBmp(const Picture& picture);

// A fresh folder below the system's temporary folder, removed with the object.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const;
    std::string write(const std::string& name, const std::vector<unsigned char>& bytes) const;
    std::string writeBmp(const std::string& name, const Picture& picture) const;

private:
    std::string path_;
};

// Captures reportError's messages while it lives.
class CapturedErrors {
public:
    CapturedErrors();
    ~CapturedErrors();
    const std::vector<std::string>& messages() const;
};

// The ten images one run handed to its sink, by call.
struct SinkCalls {
    std::vector<std::string> names;
    std::vector<std::vector<unsigned char>> images;
    int refuseCall = 0;  // 1-based call that returns 0; 0 accepts all
};

// Runs a job on `imagePath` with a sink that records into `calls`, `adjust` given the job
// last (a mosaic, a memory budget); returns the job's result.
int runIntoMemory(const std::string& imagePath, int faceSize, TextureFilter filter, SinkCalls& calls,
                  const TextureOutput& output = {}, const std::function<void(TextureJob&)>& adjust = {});

// A map of any samples: `width` × `height` pixels of `layout`, values in the samples' own
// units, channels in order, rows top to bottom.
struct SampleMap {
    std::uint32_t width = 0, height = 0;
    SampleLayout layout;
    std::vector<double> values;

    double& at(std::uint32_t column, std::uint32_t row, unsigned channel)
    {
        return values[(static_cast<std::size_t>(row) * width + column) * layout.channels + channel];
    }
};

// The map as a file the generator reads (PNG for 8- and 16-bit samples, TIFF for the others).
std::string writeSampleMap(const ScratchDir& dir, const std::string& name, const SampleMap& map);

// One texture file's texels read back, through the picture loader (samples kept).
SampleMap decodeTexture(const ScratchDir& dir, const std::vector<unsigned char>& file, const std::string& name);

// Starts the imaging library and loads `imagePath` into the run state as runTextureJob
// would, for tests of the rasteriser and the samplers; unloads and stops on destruction.
class LoadedSource {
public:
    LoadedSource(const std::string& imagePath, std::uint32_t faceSize, TextureFilter filter);
    ~LoadedSource();
    LoadedSource(const LoadedSource&) = delete;
    LoadedSource& operator=(const LoadedSource&) = delete;
    bool ok() const { return image_ != nullptr; }

private:
    std::uintptr_t imagingToken_ = 0;
    bool imagingStarted_ = false;
    ImageObject* image_ = nullptr;
    std::optional<PublishedRun> run_;
};

// The texel (r, c) of diamond `index` at face size n: its point, as the rasteriser makes it.
Vector3 texelPoint(int index, std::uint32_t n, std::uint32_t r, std::uint32_t c);

// The diamond whose left column runs along the top row of diamond `index`, texel for texel
// and bit for bit at face size n, found by comparing their points; -1 if none does.
int diamondBesideTopRow(int index, std::uint32_t n);

std::uint64_t fnv1a(const std::vector<unsigned char>& bytes, std::uint64_t hash = 1469598103934665603ull);

}  // namespace testing_support
