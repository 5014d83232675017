// Every input that once broke something under the fuzzers (fuzz/regressions/), and the
// starter corpus, through the fuzzers' own checks: none may fail a check, crash, or raise
// the peak memory by more than a quarter of a gigabyte.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_checks.h"

namespace {

namespace fs = std::filesystem;

long peakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void replay(const char* target, const char* (*check)(const std::uint8_t*, std::size_t))
{
    int inputs = 0;
    for (const char* folder : {"regressions", "corpus"}) {
        const fs::path directory = fs::path(ORBILUNE_FUZZ_DIR) / folder / target;
        if (!fs::is_directory(directory))
            continue;
        for (const auto& entry : fs::directory_iterator(directory)) {
            std::ifstream file(entry.path(), std::ios::binary);
            const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                                  std::istreambuf_iterator<char>());
            const long before = peakKilobytes();
            const char* problem = check(bytes.data(), bytes.size());
            EXPECT_EQ(problem, nullptr) << entry.path() << ": " << problem;
            EXPECT_LT(peakKilobytes() - before, 256 * 1024) << entry.path() << ": peak memory";
            ++inputs;
        }
    }
    EXPECT_GT(inputs, 0) << "no inputs for " << target;
}

TEST(FuzzRegressions, Pictures) { replay("picture", fuzz_checks::checkPictureFile); }

TEST(FuzzRegressions, PngFiles) { replay("png_reader", fuzz_checks::checkPngFile); }

TEST(FuzzRegressions, CommandLines) { replay("command_line", fuzz_checks::checkCommandLine); }

}  // namespace
