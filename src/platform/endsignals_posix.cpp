// POSIX end requests: a self-pipe written by the signal handler and read in the event loop.
#include "platform/EndSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kEndSignals[] = {SIGTERM, SIGHUP, SIGINT};

int g_writeFd = -1;
volatile sig_atomic_t g_requested = 0;

// Async-signal-safe only: a write, a reset and a raise.
void OnEndSignal(int sig)
{
    const int savedErrno = errno;
    if (g_requested) {
        // The orderly end is under way or stuck: end now, as if nothing had caught the signal.
        // The signal is blocked during its handler, so it is delivered once the handler returns.
        ::signal(sig, SIG_DFL);
        ::raise(sig);
    } else {
        g_requested = 1;
        const unsigned char byte = static_cast<unsigned char>(sig);
        [[maybe_unused]] const ssize_t n = ::write(g_writeFd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

struct CEndSignals::Impl
{
    std::function<void(int)> onEnd;
    int fds[2] = {-1, -1};
    std::optional<QSocketNotifier> notifier;
    struct sigaction previous[sizeof kEndSignals / sizeof kEndSignals[0]] {};
    bool installed[sizeof kEndSignals / sizeof kEndSignals[0]] = {};

    void Read()
    {
        unsigned char byte = 0;
        ssize_t n;
        do {
            n = ::read(fds[0], &byte, 1);
        } while (n < 0 && errno == EINTR);
        if (n == 1 && onEnd)
            onEnd(byte);
    }
};

CEndSignals::CEndSignals(std::function<void(int)> onEnd) : m_pImpl(std::make_unique<Impl>())
{
    Impl &d = *m_pImpl;
    d.onEnd = std::move(onEnd);
    if (::pipe2(d.fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    g_writeFd = d.fds[1];
    g_requested = 0;
    d.notifier.emplace(d.fds[0], QSocketNotifier::Read);
    QObject::connect(&*d.notifier, &QSocketNotifier::activated, &*d.notifier, [&d] { d.Read(); });
    for (size_t i = 0; i < std::size(kEndSignals); ++i) {
        struct sigaction current {};
        if (::sigaction(kEndSignals[i], nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = OnEndSignal;
        sigemptyset(&action.sa_mask);
        for (int sig : kEndSignals)
            sigaddset(&action.sa_mask, sig);   // one handler at a time
        action.sa_flags = SA_RESTART;
        d.installed[i] = ::sigaction(kEndSignals[i], &action, &d.previous[i]) == 0;
    }
}

CEndSignals::~CEndSignals()
{
    Impl &d = *m_pImpl;
    for (size_t i = 0; i < std::size(kEndSignals); ++i)
        if (d.installed[i])
            ::sigaction(kEndSignals[i], &d.previous[i], nullptr);
    d.notifier.reset();
    g_writeFd = -1;
    for (int fd : d.fds)
        if (fd >= 0)
            ::close(fd);
}

bool CEndSignals::IsWatching() const
{
    for (bool installed : m_pImpl->installed)
        if (installed)
            return true;
    return false;
}

} // namespace platform
