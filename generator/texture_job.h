// Texture generation, as the front ends see it: one run loads an equirectangular map and
// hands the ten diamond textures new1.tga .. new10.tga, each a complete uncompressed 24-bit
// TGA image, to a FileSink, in order, on the calling thread. Failures reach the user
// through the error report below. This is the generator's whole public interface.
//
// Output format: an 18-byte header (type 2, 24 bits, top-left origin, width = height = N),
// then N rows top to bottom of N texels left to right, 3 bytes each: blue, green, red.
// Paths are narrow strings: UTF-8 on every platform.
#pragma once

#include <cstddef>
#include <cstdint>

// Receives one finished image: the bare file name (such as "new3.tga"), the whole TGA
// image and its size. Returns 0 to stop the run, anything else to go on.
using FileSink = int (*)(const char* fileName, const unsigned char* bytes, int byteCount);

constexpr int kImagePathCapacity = 1024;
// MAX_PATH (260) UTF-16 units, the longest folder Windows writes into, take up to three
// bytes each in UTF-8.
constexpr int kOutputDirCapacity = 3 * 260;
constexpr int kTextureCount = 10;        // one per diamond of the icosahedron

// The parameter block of one run, filled by a front end.
struct TextureJob {
    void* owner;                           // owner window of the messages (HWND), or null
    int bilinear;                          // non-zero: sampleBilinear, else sampleNearest
    char imagePath[kImagePathCapacity];    // the source picture
    int faceSize;                          // N: the side of every texture, in texels
    FileSink sink;                         // receives each finished image
    char outputDir[kOutputDirCapacity];    // for the sink; the job never reads it
    // Beyond the dialog's choices; zero keeps the dialog's behaviour.
    unsigned threads;                      // threads that render; 0: every core
    int area;                              // non-zero: each texel averages the map over its
                                           // footprint (in place of either sampler)
};

// Runs one job. Returns 1 when all ten images went through the sink, 0 on any failure
// (reported through reportError) or when the sink returned 0.
int runTextureJob(TextureJob& job);

constexpr std::size_t kTgaHeaderSize = 18;

// Writes the 18-byte TGA header of an N × N texture.
void writeTgaHeader(unsigned char* header, std::uint32_t faceSize);

// 18 + 3 × N × N.
constexpr std::size_t textureImageSize(std::uint32_t faceSize)
{
    return kTgaHeaderSize + 3u * static_cast<std::size_t>(faceSize) * faceSize;
}

// The face sizes the generator accepts; the largest keeps a whole image's size in an int.
constexpr int kMaxFaceSize = 16384;
constexpr bool isSupportedFaceSize(int faceSize)
{
    return faceSize >= 1 && faceSize <= kMaxFaceSize;
}

// The error report: the one way a failure reaches the user. The default is a warning
// message box with the caption "Error" on Windows, `error: <message>` on stderr elsewhere;
// a front end or a test may install its own reporter.
using ErrorReporter = void (*)(void* owner, const char* message);

// `owner` is the window that owns the message box (an HWND on Windows), or null.
void reportError(void* owner, const char* message);

// Installs `reporter` (null restores the platform's default) and returns the previous one.
ErrorReporter setErrorReporter(ErrorReporter reporter);

// The reporter that writes `error: <message>` to standard error, on every platform.
void reportErrorToStderr(void* owner, const char* message);

// Writing one finished texture to a file, for the front ends' sinks.
enum class TextureFileResult { Written, CouldntCreate, CouldntWrite };

// Creates or truncates `path` and writes the bytes. A short write, or a close that fails
// (the last buffered bytes could not be stored), is CouldntWrite; the partial file stays.
TextureFileResult storeTextureFile(const char* path, const unsigned char* bytes, int byteCount);

#if defined(_WIN32)
#include <string>

// Paths are UTF-8 inside the program; Windows' file, shell and GDI+ calls take UTF-16.
// Text that is not valid in its encoding converts to an empty string: never a near miss,
// which could name another file.
std::wstring utf8ToWide(const std::string& utf8);
std::string wideToUtf8(const std::wstring& wide);
#endif

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
constexpr const char* kBadFaceSize = "The texture size must be from 1 to 16384 texels.";
constexpr const char* kCouldntCreateFile = "Couldnt create file";
constexpr const char* kCouldntWriteFile = "Couldnt write to file";
// A front end checks the picture and the folder before it starts a run.
constexpr const char* kFileMissing = "The file specified does not exist";
constexpr const char* kDirectoryMissing = "The directory specified does not exist";
}  // namespace messages
