// libFuzzer's entry for fuzz_checks::checkPictureFile: a problem it names is a finding.
#include <cstdio>
#include <cstdlib>

#include "fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (const char* problem = fuzz_checks::checkPictureFile(data, size)) {
        std::fprintf(stderr, "finding: %s\n", problem);
        std::abort();
    }
    return 0;
}
