// orbilune-cli: the command-line front end. Reads top to bottom as the pipeline:
// parse the arguments, check the inputs, run the job with a sink that writes the files
// and shows progress, exit with an honest status.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "command_line.h"
#include "error_report.h"
#include "system.h"
#include "texture_job.h"
#include "view_commands.h"

namespace {

// What the sinks need beyond the job block: they are plain function pointers.
struct CliState {
    std::string outputDir;
    int filesWritten = 0;
    int filesTotal = kTextureCount;
    std::string lastFile;
    bool drawBar = false;
    bool barOpen = false;  // the bar's line awaits its end
    // The rendering's pace: texels done and total, since the first texel.
    std::uint64_t texelsDone = 0, texelsTotal = 0;
    std::chrono::steady_clock::time_point started, lastDrawn;
};
CliState cli;

// "1:05" or "1:02:05".
std::string clockTime(double seconds)
{
    const auto whole = static_cast<long long>(seconds + 0.5);
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

// The bar on a terminal: the share of texels rendered, the rate, the time left and the last
// file written, redrawn in place.
void drawBar(const char* state)
{
    constexpr int kWidth = 20;
    const auto done = static_cast<double>(cli.texelsDone), total = static_cast<double>(cli.texelsTotal);
    const double share = total == 0 ? 0.0 : done / total;
    char bar[kWidth + 1];
    for (int i = 0; i < kWidth; ++i)
        bar[i] = i < static_cast<int>(share * kWidth) ? '#' : '.';
    bar[kWidth] = '\0';
    std::string pace;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - cli.started).count();
    if (cli.texelsDone > 0 && seconds > 0.2) {
        const double rate = done / seconds;
        char text[64];
        std::snprintf(text, sizeof text, "  %.1f Mtexel/s  %s left", rate / 1e6,
                      clockTime((total - done) / rate).c_str());
        pace = text;
    }
    std::fprintf(stderr, "\r[%s] %3d%%%s  %d/%d %-14s", bar, static_cast<int>(share * 100), pace.c_str(),
                 cli.filesWritten, cli.filesTotal, state);
    std::fflush(stderr);
    cli.barOpen = true;
    cli.lastDrawn = std::chrono::steady_clock::now();
}

void closeBar()
{
    if (cli.barOpen) {
        std::fputc('\n', stderr);
        cli.barOpen = false;
    }
}

void showProgress(std::uint64_t texelsDone, std::uint64_t texelsTotal)
{
    if (texelsDone == 0)
        cli.started = std::chrono::steady_clock::now();
    cli.texelsDone = texelsDone;
    cli.texelsTotal = texelsTotal;
    // A few redraws a second are enough to watch.
    if (cli.drawBar && std::chrono::steady_clock::now() - cli.lastDrawn > std::chrono::milliseconds(100))
        drawBar(cli.lastFile.c_str());
}

// Tiles go into folders of their own, each written under a passing name and renamed when
// whole, so that a run stopped and started again finds only whole tiles.
int writeToOutputDir(const char* fileName, const unsigned char* bytes, std::size_t byteCount)
{
    const std::string path = cli_system::joinPath(cli.outputDir, fileName);
    const bool tile = std::strchr(fileName, '/') != nullptr;
    TextureFileResult result = TextureFileResult::CouldntCreate;
    if (!tile) {
        result = storeTextureFile(path.c_str(), bytes, byteCount);
    } else if (cli_system::makeFoldersFor(cli.outputDir, fileName)) {
        const std::string partial = path + kPartialSuffix;
        result = storeTextureFile(partial.c_str(), bytes, byteCount);
        if (result == TextureFileResult::Written && !cli_system::replaceFile(partial, path))
            result = TextureFileResult::CouldntWrite;
    }
    if (result != TextureFileResult::Written) {
        reportError(nullptr, textureFileMessage(result));
        return 0;
    }
    ++cli.filesWritten;
    cli.lastFile = fileName;
    if (cli.drawBar) {
        drawBar(fileName);
        if (cli.filesWritten == cli.filesTotal)
            closeBar();
    } else {
        std::fprintf(stderr, "wrote %s (%d/%d)\n", fileName, cli.filesWritten, cli.filesTotal);
        std::fflush(stderr);
    }
    return 1;
}

// A tile already made by an earlier run.
int alreadyWritten(const char* fileName)
{
    if (cli_system::lookFor(cli_system::joinPath(cli.outputDir, fileName), false) != cli_system::Found::Yes)
        return 0;
    ++cli.filesWritten;  // counted as done
    return 1;
}

// Errors and warnings start on a line of their own below the bar.
void reportBelowTheBar(void* owner, const char* message)
{
    closeBar();
    reportErrorToStderr(owner, message);
}
void warnBelowTheBar(void*, const char* message)
{
    closeBar();
    std::fprintf(stderr, "warning: %s\n", message);
    std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv)
{
    setErrorReporter(reportBelowTheBar);
    setWarningReporter(warnBelowTheBar);
    const int viewStatus = runViewCommand(argc, argv);
    if (viewStatus != kNotAViewCommand)
        return viewStatus;
    CommandLine line;
    const cli_system::Arguments arguments(argc, argv);
    const int status = readCommandLine(arguments.count(), arguments.values(), line);
    if (status != kRunTheJob)
        return status;

    static TextureJob job{};  // readCommandLine has checked that the image path fits
    std::memcpy(job.imagePath, line.imagePath.c_str(), line.imagePath.size() + 1);
    job.owner = nullptr;
    job.filter = line.filter;
    job.output = line.output;
    job.faceSize = line.faceSize;
    job.sink = writeToOutputDir;
    job.progress = showProgress;
    job.onlyDiamonds = line.onlyDiamonds;
    job.done = job.output.tileSize != 0 ? alreadyWritten : nullptr;
    job.threads = line.threads;
    job.mosaic = line.mosaic;
    job.mosaicColumns = line.mosaicColumns;
    job.memoryBudget = line.memoryMiB << 20;
    cli.outputDir = line.outputDir;
    cli.filesTotal = static_cast<int>(textureFileCount(job.output, job.faceSize, job.onlyDiamonds)) +
                     (job.output.tileSize != 0 ? 1 : 0);  // and the index
    cli.drawBar = cli_system::stderrIsTerminal();

    if (cli.drawBar)  // reading a large map takes a while: show the bar from the start
        drawBar("reading");
    return runTextureJob(job) == 1 ? 0 : 1;
}
