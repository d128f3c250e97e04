// Runs the user's Lisp as a child process: writes to its input, keeps its output until it is taken.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// One Lisp process with its input and output. All process I/O runs on one I/O thread of its own:
// writes are queued (whole and in order) and written as the child's input pipe takes them, so no
// caller ever blocks on a full pipe; output that is read waits in one bounded buffer, and the
// consumer is told once when output starts waiting. The consumer takes it with TakeOutput on its
// own thread, in pieces of the size it chooses. The I/O thread stops reading while more than a few
// megabytes wait, so a Lisp that never stops printing cannot exhaust memory.
//
// After the child ends, the I/O thread stays to reap the orphans it left, until StopLisp.
//
// Messages of the redirector itself go through the same buffer, so the consumer sees them in order
// with the child's output:
//   "Redirect console error: %x\r\n"        the process could not be started (system error code)
//   "\r\n<ERROR>: Child process ended\r\n"  the child ended and its output pipe closed
//   "Read stdout pipe error\r\n"            reading the output failed otherwise
class CRedirector
{
public:
    // Told when output starts waiting after the last TakeOutput that took all of it: on the I/O
    // thread, or on the caller's thread for a start error. It must not block and must not call
    // back into the redirector; an owner with a thread of its own posts a take there.
    using OutputReady = std::function<void()>;

    explicit CRedirector(OutputReady onOutput);
    ~CRedirector();                    // stops the Lisp and waits for the I/O thread
    CRedirector(const CRedirector &) = delete;
    CRedirector &operator=(const CRedirector &) = delete;

    // Runs m_strCommandLine; stops a running process first. False (and the error line in the
    // output) when the process cannot be started.
    bool StartLisp();

    // Ends the I/O thread and the child with every process it started. Safe when nothing runs,
    // and more than once. Returns in a few milliseconds normally, never after more than 5 s.
    void StopLisp();

    // Queues the text for the child's input, framed as "[cmd]\n" + text + "[/cmd]\n" when
    // m_bFrameCommands is set; never blocks. False and nothing written when no child runs (never
    // started, stopped, ended, or its input closed), or when the input is full (below).
    bool WriteToLisp(const std::string &text);
    // True while more than kMaxQueuedInput bytes of writes wait for a child that does not read:
    // what waits stays queued, in order, and new writes are refused until it reads.
    bool IsInputFull() const;
    static constexpr size_t kMaxQueuedInput = size_t(64) << 20;

    // Sends the console's interrupt to the Lisp's process group. False when no child runs.
    bool InterruptLisp();

    // True from a successful StartLisp until the child ends or StopLisp runs.
    bool IsLispRunning() const;

    // Moves at most max bytes of the waiting output, oldest first, to the end of into. True when
    // more is still waiting: no OutputReady comes for that, the caller takes it in its own time.
    // One consumer thread at a time.
    bool TakeOutput(std::string &into, size_t max = SIZE_MAX);

    std::string m_strCommandLine;
    bool m_bFrameCommands = false;
    bool m_bTerminal = false;          // the Lisp's streams are a pseudo-terminal (where there is one)
    unsigned m_dwPollTimeout = 100;    // milliseconds between two checks of an idle child

private:
    struct Session;

    void ReaderThread(Session &session);
    void WritePending(Session &session);
    // Adds bytes to the waiting output and tells the consumer when output starts waiting. A full
    // buffer throttles the session's reading.
    void QueueOutput(const char *data, size_t length, Session *session);
    void QueueMessage(const char *text, Session *session);

    const OutputReady m_onOutput;

    std::shared_ptr<Session> m_pSession;     // the running (or ended) child; null when idle
    std::thread m_ioThread;
    mutable std::mutex m_sessionMutex;       // guards m_pSession against WriteToLisp on other threads

    // Output waiting for the consumer: m_strPending from m_nTaken on.
    std::mutex m_outputMutex;
    std::string m_strPending;
    size_t m_nTaken = 0;
    bool m_bNotified = false;                // the consumer was told and has not taken all since
    Session *m_pThrottled = nullptr;         // session whose I/O thread waits for the consumer
};
