// Pre-faulted blocks for buffer growth, lent to allocations on one thread at a time.
#include "lisp/CBufferReserve.h"

#include "platform/Memory.h"

#include <cstdlib>
#include <new>

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
