// orbilune-cli: the command-line front end. Reads top to bottom as the pipeline:
// parse the arguments, check the inputs, run the job with a sink that writes the files
// and shows progress, exit with an honest status.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

#include "diamond_renderer.h"
#include "error_report.h"
#include "texture_file.h"
#include "texture_job.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kFileMissing = "The file specified does not exist";
constexpr const char* kDirectoryMissing = "The directory specified does not exist";
constexpr const char* kImagePathTooLong = "The image path is too long.";

// What the sink needs beyond the job block: it is a plain function pointer.
struct CliState {
    std::string outputDir;
    int texturesWritten = 0;
    bool drawBar = false;
    bool barOpen = false;  // the bar's line awaits its end
};
CliState cli;

void showProgress(const char* fileName)
{
    const int done = cli.texturesWritten;
    if (cli.drawBar) {
        char bar[kDiamondCount + 1];
        for (int i = 0; i < kDiamondCount; ++i)
            bar[i] = i < done ? '#' : '.';
        bar[kDiamondCount] = '\0';
        std::fprintf(stderr, "\r[%s] %2d/%d %-9s", bar, done, kDiamondCount, fileName);
        cli.barOpen = done != kDiamondCount;
        if (!cli.barOpen)
            std::fputc('\n', stderr);
    } else {
        std::fprintf(stderr, "wrote %s (%d/%d)\n", fileName, done, kDiamondCount);
    }
    std::fflush(stderr);
}

int writeToOutputDir(const char* fileName, const unsigned char* bytes, int byteCount)
{
    const std::string path = (fs::path(cli.outputDir) / fileName).string();
    const TextureFileResult result = storeTextureFile(path.c_str(), bytes, byteCount);
    if (result != TextureFileResult::Written) {
        reportError(nullptr, result == TextureFileResult::CouldntCreate
                                 ? messages::kCouldntCreateFile
                                 : messages::kCouldntWriteFile);
        return 0;
    }
    ++cli.texturesWritten;
    showProgress(fileName);
    return 1;
}

// Errors start on a line of their own below the bar.
void reportBelowTheBar(void* owner, const char* message)
{
    if (cli.barOpen) {
        std::fputc('\n', stderr);
        cli.barOpen = false;
    }
    reportErrorToStderr(owner, message);
}

bool isFile(const std::string& path)
{
    std::error_code error;
    return !path.empty() && fs::exists(path, error);
}

bool isDirectory(const std::string& path)
{
    std::error_code error;
    return !path.empty() && fs::is_directory(path, error);
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"Turns an equirectangular (longitude/latitude) world map into the ten diamond "
                 "textures of an icosahedral sphere, new1.tga to new10.tga."};
    app.set_version_flag("--version", "orbilune-cli 1.0");
    int faceSize = 512;
    bool bilinear = false;
    unsigned threads = 0;
    std::string imagePath;
    std::string outputDir;
    app.add_option("--size", faceSize, "Side of every texture in texels")
        ->check(CLI::IsMember({64, 128, 256, 512, 1024, 2048, 4096, 8192}))
        ->default_val(512);
    app.add_flag("--bilinear", bilinear, "Filter bilinearly (default: nearest source pixel)");
    app.add_option("--threads", threads, "Threads that render (default 0: every core)");
    app.add_option("IMAGE", imagePath, "The source map, any format OpenImageIO reads")->required();
    app.add_option("OUTDIR", outputDir, "The folder that receives new1.tga .. new10.tga")
        ->required();
    CLI11_PARSE(app, argc, argv);

    setErrorReporter(reportBelowTheBar);
    if (!isFile(imagePath)) {
        reportError(nullptr, kFileMissing);
        return 1;
    }
    if (!isDirectory(outputDir)) {
        reportError(nullptr, kDirectoryMissing);
        return 1;
    }

    static TextureJob job{};
    if (imagePath.size() >= sizeof job.imagePath) {
        reportError(nullptr, kImagePathTooLong);
        return 1;
    }
    std::memcpy(job.imagePath, imagePath.c_str(), imagePath.size() + 1);
    if (outputDir.size() < sizeof job.outputDir)
        std::memcpy(job.outputDir, outputDir.c_str(), outputDir.size() + 1);
    job.owner = nullptr;
    job.bilinear = bilinear ? 1 : 0;
    job.faceSize = faceSize;
    job.sink = writeToOutputDir;
    cli.outputDir = outputDir;
    cli.drawBar = isatty(STDERR_FILENO) != 0;
    setRenderThreads(threads);

    if (cli.drawBar) {  // reading a large map takes a while: show the bar from the start
        std::fprintf(stderr, "[..........]  0/%d reading", kDiamondCount);
        std::fflush(stderr);
        cli.barOpen = true;
    }
    return runTextureJob(job) == 1 ? 0 : 1;
}
