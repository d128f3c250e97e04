// A named pipe for tests of code that must never wait on one.
#pragma once

#include <QFile>
#include <QString>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// Creates a FIFO at path. Should the code under test block in open() on it anyway, the guard
// opens the writing end after the given time and closes it again, so the blocked reader sees an
// empty file and the test fails instead of hanging. Removes the FIFO when it goes.
class FifoGuard
{
public:
    explicit FifoGuard(const QString &path, std::chrono::milliseconds patience = std::chrono::seconds(10))
        : m_path(QFile::encodeName(path))
    {
        ::unlink(m_path.constData());
        m_bCreated = ::mkfifo(m_path.constData(), 0600) == 0;
        if (m_bCreated)
            m_watchdog = std::thread([this, patience] { Watch(patience); });
    }
    ~FifoGuard()
    {
        m_stop = true;
        if (m_watchdog.joinable())
            m_watchdog.join();
        ::unlink(m_path.constData());
    }
    FifoGuard(const FifoGuard &) = delete;
    FifoGuard &operator=(const FifoGuard &) = delete;

    bool Created() const { return m_bCreated; }
    // True when a reader had to be let go: something opened the FIFO and waited.
    bool HadToRelease() const { return m_released; }

private:
    void Watch(std::chrono::milliseconds patience)
    {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (!m_stop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (std::chrono::steady_clock::now() < deadline)
                continue;
            // Succeeds only while a reader holds the FIFO open, which a blocked open() does.
            const int fd = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                m_released = true;
                ::close(fd);
            }
        }
    }

    QByteArray m_path;
    bool m_bCreated = false;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_released{false};
    std::thread m_watchdog;
};
