// Requests from outside to end the program (a signal, a logout), handed to the event loop.
#pragma once

#include <functional>
#include <memory>

namespace platform {

// While the object exists, SIGTERM, SIGHUP and SIGINT no longer end the program at once (Windows:
// the console's Ctrl+C, Ctrl+Break, close, logoff and shutdown events): each is handed to onEnd
// with its signal number, on the thread that made the object, through its event loop. The signal
// handler itself only writes one byte to a pipe. A signal that the program was started with
// ignored (nohup) stays ignored. A second request while the first is being handled ends the
// program at once, as the system would have. One object per program, made on the UI thread.
class CEndSignals
{
public:
    explicit CEndSignals(std::function<void(int)> onEnd);
    // The system's handling again.
    ~CEndSignals();
    CEndSignals(const CEndSignals &) = delete;
    CEndSignals &operator=(const CEndSignals &) = delete;

    // False when the system refused to deliver the requests (they then end the program at once).
    bool IsWatching() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

} // namespace platform
