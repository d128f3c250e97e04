// Windows end requests: the console's control events, posted to the event loop.
#include "platform/EndSignals.h"

#include <QCoreApplication>
#include <QObject>

#include <atomic>
#include <csignal>

#include <windows.h>

namespace platform {

namespace {

// How long a close, logoff or shutdown event holds the system back (it ends the program once the
// handler returns), so that the event loop can end the run first.
constexpr DWORD kEndWaitMs = 5000;

std::atomic<bool> g_requested{false};
std::function<void(int)> *g_pOnEnd = nullptr;
QObject *g_pReceiver = nullptr;

int SignalOf(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
        return SIGINT;
    case CTRL_BREAK_EVENT:
        return SIGBREAK;
    default:
        return SIGTERM;
    }
}

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI OnConsoleEvent(DWORD event)
{
    if (!g_pReceiver || g_requested.exchange(true))
        return FALSE;   // the system's own handling: the program ends now
    const int sig = SignalOf(event);
    std::function<void(int)> *onEnd = g_pOnEnd;
    QMetaObject::invokeMethod(g_pReceiver, [onEnd, sig] { (*onEnd)(sig); }, Qt::QueuedConnection);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        Sleep(kEndWaitMs);
    return TRUE;
}

} // namespace

struct CEndSignals::Impl
{
    std::function<void(int)> onEnd;
    QObject receiver;
    bool installed = false;
};

CEndSignals::CEndSignals(std::function<void(int)> onEnd) : m_pImpl(std::make_unique<Impl>())
{
    m_pImpl->onEnd = std::move(onEnd);
    g_pOnEnd = &m_pImpl->onEnd;
    g_pReceiver = &m_pImpl->receiver;
    g_requested = false;
    m_pImpl->installed = SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
}

CEndSignals::~CEndSignals()
{
    if (m_pImpl->installed)
        SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    g_pReceiver = nullptr;
    g_pOnEnd = nullptr;
}

bool CEndSignals::IsWatching() const { return m_pImpl->installed; }

} // namespace platform
