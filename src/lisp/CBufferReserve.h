// Memory made ready in the background for the next growth of a Scintilla control's buffers.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

// Builds whose allocator belongs to a sanitizer keep it: no block is ever lent there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TALVEX_SANITIZED_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define TALVEX_SANITIZED_ALLOCATOR 1
#endif
#endif

// A Scintilla document keeps its text and its styles in two contiguous buffers. When they grow,
// both are copied into fresh blocks, and on a large document the page faults of the fresh
// memory cost far more than the copy (a third of a second at 50 MB on a virtual machine). The
// reserve prepares such blocks ahead of time on a worker thread, writing to every page, and lends
// them to the growth: while a Lend object lives, the program's operator new serves allocations
// of the prepared size on that thread from the reserve.
//
// Blocks come from std::malloc, so whoever ends up owning one frees it the ordinary way.
class CBufferReserve
{
public:
    CBufferReserve() = default;
    ~CBufferReserve();
    CBufferReserve(const CBufferReserve &) = delete;
    CBufferReserve &operator=(const CBufferReserve &) = delete;

    // Starts preparing count blocks of size bytes each, unless exactly that is already prepared
    // or being prepared; anything else held is given back first. Does nothing where the program's
    // allocator cannot lend (see CanLend).
    void Prepare(std::size_t size, int count);
    // Blocks asked for by the last Prepare and not all ready yet.
    bool IsPreparing() const;
    // Size of the blocks of the last Prepare (0 after Release).
    std::size_t PreparedSize() const;
    // Ready blocks not lent out.
    int ReadyCount() const;
    // Stops a preparation and frees every block not lent out.
    void Release();

    // While it lives, allocations on this thread of at most the prepared size (and more than
    // three quarters of it) take the reserve's ready blocks.
    class Lend
    {
    public:
        explicit Lend(CBufferReserve &reserve);
        ~Lend();
        Lend(const Lend &) = delete;
        Lend &operator=(const Lend &) = delete;

    private:
        CBufferReserve *m_previous;
    };

    // For the program's operator new: a block lent on this thread for size bytes, or nullptr.
    static void *TakeLent(std::size_t size) noexcept;
    // False in builds whose allocator belongs to a sanitizer: there the reserve stays empty.
    static bool CanLend();

private:
    void *Take(std::size_t size) noexcept;
    void Work(std::size_t size, int count);
    void StopWorker();

    mutable std::mutex m_mutex;
    std::vector<void *> m_ready; // blocks of m_size bytes, pages written
    std::size_t m_size = 0;
    int m_count = 0;             // blocks asked for by the last Prepare and not yet lent
    std::atomic<bool> m_cancel{false};
    std::thread m_worker;
};
