// Brings the recovery journals' new records to the disk off the UI thread, within a bound.
#pragma once

#include "platform/JournalFile.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

// The UI thread writes each record into the kernel itself; this thread then flushes the file to
// the disk at most kDelayMs later, so a power cut loses at most that much typing. Files marked
// while a flush runs are flushed again after it.
class CRecoverySyncer
{
public:
    static constexpr int kDelayMs = 100;
    using ErrorHandler = std::function<void(const QString &)>; // called on the sync thread

    explicit CRecoverySyncer(ErrorHandler onError);
    ~CRecoverySyncer(); // what is marked is flushed before the thread ends

    void MarkDirty(const std::shared_ptr<platform::CJournalFile> &file);
    // Flushes everything marked so far on the calling thread, before it returns.
    void SyncNow();

private:
    void Run();
    void SyncMarked(std::unique_lock<std::mutex> &lock);

    ErrorHandler m_onError;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::set<std::shared_ptr<platform::CJournalFile>> m_dirty;
    bool m_bStop = false;
    std::thread m_thread;
};
