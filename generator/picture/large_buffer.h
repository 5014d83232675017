// Memory for the two big buffers of a run, the decoded picture and the texture image:
// aligned for huge pages where the platform offers them, which spares the page faults and
// the TLB misses of hundreds of megabytes touched in scattered order. Null when the memory
// cannot be had.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

void* allocateLarge(std::size_t bytes);
void freeLarge(void* memory);

// The machine's physical memory in bytes, which bounds what a decoded picture may take;
// 16 GiB when the system does not say.
std::uint64_t physicalMemoryBytes();

struct LargeBufferDeleter {
    void operator()(void* memory) const { freeLarge(memory); }
};
template <typename T>
using LargeBuffer = std::unique_ptr<T[], LargeBufferDeleter>;

template <typename T>
LargeBuffer<T> makeLargeBuffer(std::size_t count)
{
    return LargeBuffer<T>(static_cast<T*>(allocateLarge(count * sizeof(T))));
}
