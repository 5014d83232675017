// The command line's arguments, parsed and checked without running anything: main runs
// the job, and a fuzzer drives this part alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "texture_filter.h"
#include "texture_job.h"

struct CommandLine {
    int faceSize = 512;
    TextureFilter filter = TextureFilter::Nearest;
    unsigned threads = 0;  // 0: every core
    TextureOutput output;  // what the textures hold: 24-bit TGA by default
    std::string imagePath;
    std::vector<std::string> mosaic;  // a map in tiles, row by row from the north-west; or empty
    std::uint32_t mosaicColumns = 0;
    std::uint64_t memoryMiB = 0;      // 0: the job's default share of the machine's memory
    std::string outputDir;
    std::uint32_t onlyDiamonds = 0;  // bit k: new<k+1>; 0: all ten
};

// A tile is written under its name and this, then renamed: a tile of its own name is whole.
constexpr const char* kPartialSuffix = ".part";

// readCommandLine's answer when the job should run.
constexpr int kRunTheJob = -1;

// Parses argv into `line`, then checks that the picture (or a mosaic's) and the output folder exist and
// that their paths fit the job and the system. Returns kRunTheJob, or the exit status after
// --help, --version or an error (reported through reportError, or by CLI11 for the syntax).
int readCommandLine(int argc, const char* const* argv, CommandLine& line);
