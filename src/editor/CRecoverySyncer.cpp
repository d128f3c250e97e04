// Brings the recovery journals' new records to the disk off the UI thread, within a bound.
#include "editor/CRecoverySyncer.h"

#include <chrono>

CRecoverySyncer::CRecoverySyncer(ErrorHandler onError) : m_onError(std::move(onError)), m_thread([this] { Run(); })
{
}

CRecoverySyncer::~CRecoverySyncer()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void CRecoverySyncer::MarkDirty(const std::shared_ptr<platform::CJournalFile> &file)
{
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        first = m_dirty.empty();
        m_dirty.insert(file);
    }
    if (first)
        m_wake.notify_one();
}

void CRecoverySyncer::SyncNow()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    SyncMarked(lock);
}

void CRecoverySyncer::SyncMarked(std::unique_lock<std::mutex> &lock)
{
    auto files = std::move(m_dirty);
    m_dirty.clear();
    lock.unlock();
    for (const auto &file : files) {
        QString error;
        if (!file->Sync(error) && m_onError)
            m_onError(error);
    }
    files.clear(); // a journal closed in the meantime is closed here, off the UI thread
    lock.lock();
}

void CRecoverySyncer::Run()
{
    using Clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lock(m_mutex);
    auto lastSync = Clock::now() - std::chrono::milliseconds(kDelayMs);
    for (;;) {
        m_wake.wait(lock, [this] { return m_bStop || !m_dirty.empty(); });
        if (m_bStop && m_dirty.empty())
            return;
        // Records come in bursts while the user types: one flush covers all of a burst's
        // records, and the next waits until kDelayMs after this one began, never longer.
        const auto due = lastSync + std::chrono::milliseconds(kDelayMs);
        if (!m_bStop && Clock::now() < due) {
            m_wake.wait_until(lock, due, [this] { return m_bStop; });
        }
        lastSync = Clock::now();
        SyncMarked(lock);
    }
}
