// Page size and transparent huge pages on POSIX systems.
#include "platform/Memory.h"

#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

std::size_t MemoryPageSize()
{
    return static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

void AdviseLargePages([[maybe_unused]] void *data, [[maybe_unused]] std::size_t size)
{
#ifdef MADV_HUGEPAGE
    // Large pages make a block's faults a few hundred instead of tens of thousands.
    const auto page = static_cast<std::uintptr_t>(MemoryPageSize());
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t alignedBegin = (begin + page - 1) & ~(page - 1);
    const std::uintptr_t alignedEnd = (begin + size) & ~(page - 1);
    if (alignedEnd > alignedBegin)
        madvise(reinterpret_cast<void *>(alignedBegin), alignedEnd - alignedBegin, MADV_HUGEPAGE);
#endif
}
