// A redirector whose output the test collects by the console's own pull, with a wait for a piece of it.
#pragma once

#include "lisp/CRedirector.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

// The I/O thread only says that output waits; Text() and WaitFor() take it on the calling thread.
class CollectingRedirector
{
public:
    CRedirector *operator->() { return &m_lisp; }

    std::string Text()
    {
        std::lock_guard lock(m_mutex);
        TakeAll();
        return m_text;
    }
    bool WaitFor(const std::string &needle, int ms = 10000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        std::unique_lock lock(m_mutex);
        for (;;) {
            TakeAll();
            if (m_text.find(needle) != std::string::npos)
                return true;
            if (!m_ready.wait_until(lock, deadline, [&] { return m_bReady; }))
                return false;
        }
    }
private:
    void TakeAll()
    {
        m_bReady = false;
        while (m_lisp.TakeOutput(m_text))
            ;
    }
    void Ready()
    {
        {
            std::lock_guard lock(m_mutex);
            m_bReady = true;
        }
        m_ready.notify_all();
    }

    std::mutex m_mutex;            // one taker at a time, and m_bReady
    std::condition_variable m_ready;
    bool m_bReady = false;
    std::string m_text;
    CRedirector m_lisp{[this] { Ready(); }};
};
