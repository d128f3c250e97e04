// Pre-faulting memory on POSIX systems: transparent huge pages where offered, then one write per page.
#include "platform/Memory.h"

#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

void PrefaultMemory(void *data, std::size_t size, const std::atomic<bool> &cancel)
{
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t alignedBegin = (begin + page - 1) & ~(page - 1);
    const std::uintptr_t alignedEnd = (begin + size) & ~(page - 1);
#ifdef MADV_HUGEPAGE
    // Large pages make the faults below a few hundred instead of tens of thousands. A system
    // without them (or with them switched off) refuses, and small pages do the job.
    if (alignedEnd > alignedBegin)
        madvise(reinterpret_cast<void *>(alignedBegin), alignedEnd - alignedBegin, MADV_HUGEPAGE);
#endif
    // One fault at a time rather than MADV_POPULATE_WRITE: that holds the address-space lock for
    // the whole range, and every mmap of the UI thread would wait behind it.
    constexpr std::size_t kStep = std::size_t(4) << 20;
    auto *bytes = static_cast<volatile unsigned char *>(data);
    for (std::size_t done = 0; done < size; done += kStep) {
        if (cancel.load(std::memory_order_relaxed))
            return;
        const std::size_t end = size - done < kStep ? size : done + kStep;
        for (std::size_t i = done; i < end; i += page)
            bytes[i] = 0;
    }
    if (size > 0)
        bytes[size - 1] = 0;
}
