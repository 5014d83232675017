// Large buffers on Linux: 2 MiB aligned and marked for transparent huge pages.
#include "large_buffer.h"

#include <cstdlib>
#include <sys/mman.h>

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}

void* allocateLarge(std::size_t bytes)
{
    if (bytes == 0)
        bytes = 1;
    const std::size_t alignment = bytes >= kHugePage ? kHugePage : alignof(std::max_align_t);
    void* memory = nullptr;
    if (posix_memalign(&memory, alignment, bytes) != 0)
        return nullptr;
#if defined(MADV_HUGEPAGE)
    if (bytes >= kHugePage)
        madvise(memory, bytes & ~(kHugePage - 1), MADV_HUGEPAGE);  // a hint; failure is harmless
#endif
    return memory;
}

void freeLarge(void* memory) { std::free(memory); }
