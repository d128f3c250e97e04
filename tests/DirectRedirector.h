// A redirector whose output is collected on the I/O thread, with a wait for a piece of it.
#pragma once

#include "lisp/CRedirector.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

// Output goes straight to the sink on the I/O thread (no pending handler).
class DirectRedirector
{
public:
    CRedirector *operator->() { return &m_lisp; }

    std::string Text()
    {
        std::lock_guard lock(m_mutex);
        return m_text;
    }
    bool WaitFor(const std::string &needle, int ms = 10000)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(ms),
                                  [&] { return m_text.find(needle) != std::string::npos; });
    }
    std::function<void()> m_onAppend;   // runs inside the sink, on the delivering thread

private:
    void Append(const char *data, size_t length)
    {
        {
            std::lock_guard lock(m_mutex);
            m_text.append(data, length);
        }
        m_changed.notify_all();
        if (m_onAppend)
            m_onAppend();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_text;
    CRedirector m_lisp{[this](const char *data, size_t length) { Append(data, length); }};
};
