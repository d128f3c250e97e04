// Pre-faulted blocks for buffer growth, and the program's operator new that hands them out.
#include "editor/CBufferReserve.h"

#include "platform/Memory.h"

#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TALVEX_SANITIZED_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define TALVEX_SANITIZED_ALLOCATOR 1
#endif
#endif

namespace {

// Below this an allocation is never served from a reserve, so the common path of operator new
// is one comparison.
constexpr std::size_t kMinLend = std::size_t(1) << 20;

constinit thread_local CBufferReserve *t_lending = nullptr;

} // namespace

CBufferReserve::~CBufferReserve()
{
    Release();
}

bool CBufferReserve::CanLend()
{
#ifdef TALVEX_SANITIZED_ALLOCATOR
    return false;
#else
    return true;
#endif
}

void CBufferReserve::Prepare(std::size_t size, int count)
{
    if (!CanLend() || size < kMinLend || count <= 0)
        return;
    {
        std::lock_guard lock(m_mutex);
        if (m_size == size && m_count == count)
            return;
    }
    Release();
    std::lock_guard lock(m_mutex);
    m_size = size;
    m_count = count;
    m_cancel.store(false);
    m_worker = std::thread([this, size, count] { Work(size, count); });
}

void CBufferReserve::Work(std::size_t size, int count)
{
    for (int i = 0; i < count; ++i) {
        void *block = std::malloc(size);
        if (!block)
            return; // no memory to spare: the growth takes fresh memory as it would anyway
        PrefaultMemory(block, size, m_cancel);
        std::lock_guard lock(m_mutex);
        if (m_cancel.load()) {
            std::free(block);
            return;
        }
        m_ready.push_back(block);
    }
}

bool CBufferReserve::IsPreparing() const
{
    std::lock_guard lock(m_mutex);
    return m_count > 0 && static_cast<int>(m_ready.size()) < m_count;
}

std::size_t CBufferReserve::PreparedSize() const
{
    std::lock_guard lock(m_mutex);
    return m_size;
}

int CBufferReserve::ReadyCount() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_ready.size());
}

void CBufferReserve::StopWorker()
{
    m_cancel.store(true);
    if (m_worker.joinable())
        m_worker.join();
}

void CBufferReserve::Release()
{
    StopWorker();
    std::lock_guard lock(m_mutex);
    for (void *block : m_ready)
        std::free(block);
    m_ready.clear();
    m_size = 0;
    m_count = 0;
}

void *CBufferReserve::Take(std::size_t size) noexcept
{
    std::lock_guard lock(m_mutex);
    if (m_ready.empty() || size > m_size || size <= m_size - m_size / 4)
        return nullptr;
    void *block = m_ready.back();
    m_ready.pop_back();
    --m_count;
    return block;
}

CBufferReserve::Lend::Lend(CBufferReserve &reserve)
    : m_previous(t_lending)
{
    t_lending = &reserve;
}

CBufferReserve::Lend::~Lend()
{
    t_lending = m_previous;
}

void *CBufferReserve::TakeLent(std::size_t size) noexcept
{
    if (size < kMinLend || !t_lending)
        return nullptr;
    return t_lending->Take(size);
}

#ifndef TALVEX_SANITIZED_ALLOCATOR
// The program's global allocation functions: std::malloc and std::free as the standard library's
// own, plus the reserve's lent blocks. The array, nothrow and sized forms of the library call
// these. Sanitizer builds keep the sanitizer's own, which check new against delete.
void *operator new(std::size_t size)
{
    if (void *block = CBufferReserve::TakeLent(size))
        return block;
    for (;;) {
        if (void *block = std::malloc(size == 0 ? 1 : size))
            return block;
        std::new_handler handler = std::get_new_handler();
        if (!handler)
            throw std::bad_alloc();
        handler();
    }
}

void operator delete(void *block) noexcept
{
    std::free(block);
}

void operator delete(void *block, std::size_t) noexcept
{
    std::free(block);
}
#endif
