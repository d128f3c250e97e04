// Making the system back a block of memory with real pages before it is needed.
#pragma once

#include <atomic>
#include <cstddef>

// Writes to every page of [data, data + size) so that later use of the block takes no page
// faults. Asks for large pages first where the system offers them on request. Stops early when
// cancel becomes true (checked between steps of a few megabytes). Call it off the UI thread: for
// tens of megabytes it takes a noticeable fraction of a second.
void PrefaultMemory(void *data, std::size_t size, const std::atomic<bool> &cancel);

// The system's part of it: the size of a page, and the request for large pages (which a system
// may refuse; small pages then do the job).
std::size_t MemoryPageSize();
void AdviseLargePages(void *data, std::size_t size);
