// A shared or exclusive lock through flock on POSIX systems.
#include "platform/FileLock.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace platform {

CFileLock::~CFileLock()
{
    if (m_fd >= 0)
        ::close(m_fd);   // closing the only descriptor of the open file releases its lock
}

bool CFileLock::Lock(const std::string &path, Mode mode, int timeoutMs)
{
    if (m_fd >= 0)
        return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const int operation = (mode == Mode::Shared ? LOCK_SH : LOCK_EX) | LOCK_NB;
    // Polled rather than blocking, so that an instance stuck with the lock costs a bounded wait.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (::flock(fd, operation) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    m_fd = fd;
    return true;
}

} // namespace platform
