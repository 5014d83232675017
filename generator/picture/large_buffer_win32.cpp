// Large buffers on Windows: whole pages straight from the system.
#include <windows.h>

#include "large_buffer.h"

void* allocateLarge(std::size_t bytes)
{
    return VirtualAlloc(nullptr, bytes == 0 ? 1 : bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void freeLarge(void* memory)
{
    if (memory != nullptr)
        VirtualFree(memory, 0, MEM_RELEASE);
}

std::uint64_t physicalMemoryBytes()
{
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status) || status.ullTotalPhys == 0)
        return std::uint64_t{1} << 34;
    return status.ullTotalPhys;
}
