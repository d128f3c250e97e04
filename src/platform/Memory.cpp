// Pre-faulting memory: one write per page, in steps that can be cancelled.
#include "platform/Memory.h"

void PrefaultMemory(void *data, std::size_t size, const std::atomic<bool> &cancel)
{
    AdviseLargePages(data, size);
    // One fault at a time rather than one call that populates the whole range: such a call holds
    // the address-space lock throughout, and every allocation of the UI thread would wait.
    const std::size_t page = MemoryPageSize();
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
