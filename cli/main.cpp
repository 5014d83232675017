// orbilune-cli: the command-line front end. Reads top to bottom as the pipeline:
// parse the arguments, check the inputs, run the job with a sink that writes the files
// and shows progress, exit with an honest status.
#include <cstdio>
#include <cstring>
#include <string>

#include "command_line.h"
#include "error_report.h"
#include "system.h"
#include "texture_job.h"
#include "view_commands.h"

namespace {

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
        char bar[kTextureCount + 1];
        for (int i = 0; i < kTextureCount; ++i)
            bar[i] = i < done ? '#' : '.';
        bar[kTextureCount] = '\0';
        std::fprintf(stderr, "\r[%s] %2d/%d %-9s", bar, done, kTextureCount, fileName);
        cli.barOpen = done != kTextureCount;
        if (!cli.barOpen)
            std::fputc('\n', stderr);
    } else {
        std::fprintf(stderr, "wrote %s (%d/%d)\n", fileName, done, kTextureCount);
    }
    std::fflush(stderr);
}

int writeToOutputDir(const char* fileName, const unsigned char* bytes, std::size_t byteCount)
{
    const std::string path = cli_system::joinPath(cli.outputDir, fileName);
    const TextureFileResult result = storeTextureFile(path.c_str(), bytes, byteCount);
    if (result != TextureFileResult::Written) {
        reportError(nullptr, textureFileMessage(result));
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

}  // namespace

int main(int argc, char** argv)
{
    setErrorReporter(reportBelowTheBar);
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
    job.threads = line.threads;
    cli.outputDir = line.outputDir;
    cli.drawBar = cli_system::stderrIsTerminal();

    if (cli.drawBar) {  // reading a large map takes a while: show the bar from the start
        std::fprintf(stderr, "[..........]  0/%d reading", kTextureCount);
        std::fflush(stderr);
        cli.barOpen = true;
    }
    return runTextureJob(job) == 1 ? 0 : 1;
}
