#include "fuzz_checks.h"

#include <sys/mman.h>
#include <unistd.h>

#include <isa-l/crc.h>
#include <png.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "command_line.h"
#include "decoded_picture.h"
#include "diamond_renderer.h"
#include "error_report.h"
#include "icosa_diamonds.h"
#include "image_object.h"
#include "spherical_lookup.h"
#include "texture_job.h"

namespace fuzz_checks {

namespace {

constexpr int kFaceSize = 4;

// The input as a file: an anonymous one in memory, named through /proc so that the
// readers open it by path as they open the user's picture.
class MemoryFile {
public:
    explicit MemoryFile(const char* name) : fd_(memfd_create(name, 0))
    {
        std::snprintf(path_, sizeof path_, "/proc/self/fd/%d", fd_);
    }
    ~MemoryFile() { close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    const char* hold(const std::uint8_t* data, std::size_t size)
    {
        if (fd_ < 0 || ftruncate(fd_, 0) != 0)
            return nullptr;
        for (std::size_t done = 0; done < size;) {
            const ssize_t written = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            if (written <= 0)
                return nullptr;
            done += static_cast<std::size_t>(written);
        }
        return path_;
    }

private:
    int fd_;
    char path_[64];
};

// One check's surroundings: a small machine, one render thread, errors counted.
struct Surroundings {
    static std::vector<std::string>& errors()
    {
        static std::vector<std::string> messages;
        return messages;
    }
    static void record(void*, const char* message) { errors().emplace_back(message); }

    Surroundings() : previous(setErrorReporter(record))
    {
        errors().clear();
        pictureMemory.limitBytes = kPictureMemoryBytes;
        setRenderThreads(1);
    }
    ~Surroundings()
    {
        setErrorReporter(previous);
        pictureMemory.limitBytes = 0;
        setRenderThreads(0);
    }
    ErrorReporter previous;
};

// The invariants of a loaded picture that the samplers rely on.
const char* checkLoadedPicture(ImageObject& image)
{
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (image.width(width) != imaging_status::kOk || image.height(height) != imaging_status::kOk ||
        width == 0 || height == 0)
        return "a loaded picture has no size";
    const std::uint32_t* pixels = image.pixels();
    if (pixels == nullptr || image.stride() <= width)
        return "a loaded picture has no room for its wrap words";
    for (std::size_t row = 0; row < height; ++row)
        if (pixels[row * image.stride() + width] != pixels[row * image.stride()])
            return "a row's wrap word is not its first pixel";
    std::uint32_t argb = 0;
    if (image.readPixel(static_cast<std::int32_t>(width), 0, argb) == imaging_status::kOk ||
        image.readPixel(0, static_cast<std::int32_t>(height), argb) == imaging_status::kOk ||
        image.readPixel(-1, -1, argb) == imaging_status::kOk)
        return "a read outside the picture succeeded";
    if (image.readPixel(static_cast<std::int32_t>(width - 1), static_cast<std::int32_t>(height - 1),
                        argb) != imaging_status::kOk)
        return "the last pixel cannot be read";
    return nullptr;
}

struct SinkCalls {
    int count = 0;
    bool wrongImage = false;
    bool pictureChecked = false;
    const char* pictureProblem = nullptr;
};

// A picture the job read in bands, decoded whole: the whole decoding takes it too (or finds
// it too large) and holds it soundly.
const char* checkWholeDecoding(const char* path)
{
    std::uintptr_t token = 0;
    if (startImaging(token) != imaging_status::kOk)
        return nullptr;
    ImageObject* image = ImageObject::createBitmapFromFile(path);
    const int status = image != nullptr ? image->takeLastStatus() : imaging_status::kOutOfMemory;
    const char* problem = status == imaging_status::kValueOverflow || status == imaging_status::kOutOfMemory ? nullptr
                          : status != imaging_status::kOk ? "a picture read in bands is refused when decoded whole"
                                                          : checkLoadedPicture(*image);
    if (image != nullptr)
        image->destroy(true);
    stopImaging(token);
    return problem;
}
SinkCalls sinkCalls;

// Checks each texture's name and size and, while the picture is loaded, the picture.
int checkingSink(const char* fileName, const unsigned char* bytes, std::size_t byteCount)
{
    if (textureFileName(sinkCalls.count++) != fileName ||
        byteCount != textureImageSize(kFaceSize) || bytes[2] != 2)
        sinkCalls.wrongImage = true;
    if (sinkCalls.count == 1 && runState.source.image != nullptr) {  // else read in bands
        sinkCalls.pictureChecked = true;
        sinkCalls.pictureProblem = checkLoadedPicture(*runState.source.image);
    }
    return 1;
}

std::uint32_t bigEndian32(const std::uint8_t* bytes)
{
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

}  // namespace

const char* checkPictureFile(const std::uint8_t* data, std::size_t size)
{
    static MemoryFile file("orbilune-picture");
    const char* path = file.hold(data, size);
    if (path == nullptr)
        return nullptr;  // no memory file here: nothing was tried
    Surroundings surroundings;

    static TextureJob job;
    job = TextureJob{};
    std::snprintf(job.imagePath, sizeof job.imagePath, "%s", path);
    job.faceSize = kFaceSize;
    job.filter = size % 2 == 0 ? TextureFilter::Bilinear : TextureFilter::Nearest;
    job.sink = checkingSink;
    sinkCalls = SinkCalls{};
    const int result = runTextureJob(job);
    const std::vector<std::string>& errors = Surroundings::errors();
    if (result == 1) {
        if (sinkCalls.count != kDiamondCount || sinkCalls.wrongImage)
            return "a run that succeeded did not hand out ten whole textures";
        if (!errors.empty())
            return "a run that succeeded reported an error";
        return sinkCalls.pictureChecked ? sinkCalls.pictureProblem : checkWholeDecoding(path);
    }
    if (result != 0)
        return "the job returned neither 1 nor 0";
    if (sinkCalls.count != 0)
        return "a refused picture still gave textures";
    if (errors.size() != 1 || (errors[0] != messages::kCouldntOpenImage &&
                               errors[0] != messages::kImageTooLarge &&
                               errors[0] != messages::kNoMemoryForImage))
        return "a refused picture was not reported with one load message";
    return nullptr;
}

namespace {

struct MemoryReader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at;
};

void readFromMemory(png_structp png, png_bytep out, std::size_t bytes)
{
    auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (bytes > reader->size - reader->at)
        png_error(png, "read past the end");
    std::memcpy(out, reader->data + reader->at, bytes);
    reader->at += bytes;
}

void ignoreWarning(png_structp, png_const_charp) {}

[[noreturn]] void quietError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

}  // namespace

bool decodeWithLibpng(const std::uint8_t* data, std::size_t size, std::uint32_t& columns,
                      std::uint32_t& rows, std::vector<std::uint32_t>& words)
{
    MemoryReader reader{data, size, 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, quietError, ignoreWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    // Everything that lives across the jump is made before it.
    std::vector<png_byte> image;
    std::vector<png_bytep> rowPointers;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &reader, readFromMemory);
    png_read_info(png, info);
    png_set_palette_to_rgb(png);
    png_set_expand_gray_1_2_4_to_8(png);
    png_set_strip_16(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    columns = png_get_image_width(png, info);
    rows = png_get_image_height(png, info);
    const std::size_t channels = png_get_channels(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    image.resize(rowBytes * rows);
    rowPointers.resize(rows);
    for (std::size_t row = 0; row < rows; ++row)
        rowPointers[row] = image.data() + row * rowBytes;
    png_read_image(png, rowPointers.data());
    png_destroy_read_struct(&png, &info, nullptr);

    words.resize(static_cast<std::size_t>(columns) * rows);
    for (std::size_t i = 0; i < words.size(); ++i) {
        const png_byte* pixel = image.data() + (i / columns) * rowBytes + (i % columns) * channels;
        words[i] = channels >= 3 ? pictureWord(pixel[0], pixel[1], pixel[2]) : pixel[0] * 0x010101u;
    }
    return true;
}

const char* checkPngFile(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> png(data, data + size);
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::uint64_t length = bigEndian32(&png[at]);
        if (at + 12 + length > png.size())
            break;
        const std::uint32_t crc = crc32_gzip_refl(0, &png[at + 4], 4 + length);
        for (int i = 0; i < 4; ++i)
            png[at + 8 + length + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
        at += 12 + length;
    }
    static MemoryFile file("orbilune-png");
    const char* path = file.hold(png.data(), png.size());
    if (path == nullptr)
        return nullptr;

    DecodedPicture picture;
    picture.memoryLimit = kPictureMemoryBytes;
    const int status = readPngDirect(path, picture);
    if (status != imaging_status::kOk)
        return picture.pixels ? "a refused PNG kept its pixels" : nullptr;
    if (!picture.pixels || picture.columns == 0 || picture.rows == 0 || picture.stride <= picture.columns)
        return "a PNG that was read has no pixels or no room for its wrap words";
    for (std::size_t row = 0; row < picture.rows; ++row) {
        const std::uint32_t* pixels = picture.pixels.get() + row * picture.stride;
        if (pixels[picture.columns] != pixels[0])
            return "a row's wrap word is not its first pixel";
        for (std::uint32_t column = 0; column < picture.columns; ++column)
            if (pixels[column] >> 24 != 0)
                return "a pixel has bits above blue";
    }
    std::uint32_t columns = 0;
    std::uint32_t rows = 0;
    std::vector<std::uint32_t> expected;
    if (!decodeWithLibpng(png.data(), png.size(), columns, rows, expected))
        return nullptr;  // libpng refuses what Orbilune's reader takes: nothing to compare
    if (columns != picture.columns || rows != picture.rows)
        return "libpng reads the PNG with other dimensions";
    for (std::size_t row = 0; row < rows; ++row)
        if (std::memcmp(picture.pixels.get() + row * picture.stride, expected.data() + row * columns,
                        columns * sizeof(std::uint32_t)) != 0)
            return "libpng reads the PNG with other pixels";
    return nullptr;
}

const char* checkCommandLine(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> arguments{"orbilune-cli"};
    std::string current;
    for (std::size_t i = 0; i < size && arguments.size() < 16; ++i) {
        if (data[i] == 0) {
            arguments.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (!current.empty() && arguments.size() < 16)
        arguments.push_back(current);
    std::vector<const char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(argument.c_str());
    argv.push_back(nullptr);

    Surroundings surroundings;
    CommandLine line;
    const int status = readCommandLine(static_cast<int>(arguments.size()), argv.data(), line);
    if (status != kRunTheJob)
        return status >= 0 ? nullptr : "a negative exit status";
    namespace fs = std::filesystem;
    std::error_code error;
    if (line.imagePath.empty() || line.imagePath.size() >= static_cast<std::size_t>(kImagePathCapacity) ||
        !fs::exists(line.imagePath, error))
        return "a job would run on an image path that is missing or does not fit";
    if (!fs::is_directory(line.outputDir, error))
        return "a job would run into a folder that is not there";
    switch (line.faceSize) {
    case 64: case 128: case 256: case 512: case 1024: case 2048: case 4096: case 8192:
        break;
    default:
        return "a job would run with a size that is not offered";
    }
    if (!Surroundings::errors().empty())
        return "a job would run after an error";
    return nullptr;
}

}  // namespace fuzz_checks
