// Large buffers on Linux: 2 MiB aligned and marked for transparent huge pages.
#include "large_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

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

std::uint64_t physicalMemoryBytes()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0)
        return std::uint64_t{1} << 34;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}
