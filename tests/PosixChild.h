// For POSIX test children: writing a whole buffer, and an echo that reports SIGINT instead of ending.
#pragma once

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <string>

#include <poll.h>
#include <unistd.h>

namespace posixchild {

inline volatile sig_atomic_t g_interrupts = 0;

// Writes all of data to fd, through interruptions; false on an error.
inline bool WriteAll(int fd, const char *data, size_t length)
{
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// Writes greeting, then copies the input to the output until its end; every SIGINT adds the line
// "interrupted <n>\n". write(text) writes all of a text to standard output.
template <typename Write>
int SigintEcho(const std::string &greeting, Write write)
{
    struct sigaction action {};
    action.sa_handler = [](int) { g_interrupts = g_interrupts + 1; };
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    // SIGINT is taken only while waiting for input, so none is missed between a check and a wait.
    sigset_t blocked, waiting;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    ::sigprocmask(SIG_BLOCK, &blocked, &waiting);
    sigdelset(&waiting, SIGINT);
    write(greeting);
    int reported = 0;
    char buffer[4096];
    for (;;) {
        pollfd input{0, POLLIN, 0};
        const int ready = ::ppoll(&input, 1, nullptr, &waiting);
        while (reported < g_interrupts)
            write("interrupted " + std::to_string(++reported) + "\n");
        if (ready <= 0)
            continue;
        ssize_t n;
        do {
            n = ::read(0, buffer, sizeof buffer);
        } while (n < 0 && errno == EINTR);
        if (n <= 0)
            return 0;
        write(std::string(buffer, static_cast<size_t>(n)));
    }
}

} // namespace posixchild
