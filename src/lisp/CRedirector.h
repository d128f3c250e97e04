// Runs the user's Lisp as a child process: writes to its input, hands its output to a sink.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// One Lisp process with its input and output. All process I/O runs on one I/O thread of its own:
// writes are queued (whole and in order) and written as the child's input pipe takes them, so no
// caller ever blocks on a full pipe; output that is read waits in one buffer until DrainOutput
// hands all of it to AppendOutput as one chunk. The I/O thread stops reading while more than a
// few megabytes wait, so a Lisp that never stops printing cannot exhaust memory.
//
// After the child ends, the I/O thread stays to reap the orphans it left, until StopLisp.
//
// Messages of the redirector itself go through the same buffer, so the sink sees them in order
// with the child's output:
//   "Redirect console error: %x\r\n"        the process could not be started (system error code)
//   "\r\n<ERROR>: Child process ended\r\n"  the child ended and its output pipe closed
//   "Read stdout pipe error\r\n"            reading the output failed otherwise
class CRedirector
{
public:
    // Receives output bytes: the child's output and the redirector's own messages, in order.
    using Sink = std::function<void(const char *data, size_t length)>;
    // Told when output starts waiting: on the I/O thread, or on the caller's thread for a start
    // error. It must not block; an owner with a thread of its own posts DrainOutput() there.
    using PendingHandler = std::function<void()>;

    // Without a pending handler, output is handed to the sink right away on the I/O thread.
    explicit CRedirector(Sink sink, PendingHandler onPending = {});
    ~CRedirector();                    // stops the Lisp and waits for the I/O thread
    CRedirector(const CRedirector &) = delete;
    CRedirector &operator=(const CRedirector &) = delete;

    // Runs m_strCommandLine; stops a running process first. False (and the error line in the
    // sink) when the process cannot be started.
    bool StartLisp();

    // Ends the I/O thread and the child with every process it started. Safe when nothing runs,
    // more than once, and from any thread, also from inside the sink. Returns in a few
    // milliseconds normally. A delivery still running on the I/O thread is waited for at most
    // 2 s and then left behind (the child is ended all the same). Never takes more than 5 s.
    void StopLisp();

    // Queues the text for the child's input, framed as "[cmd]\n" + text + "[/cmd]\n" when
    // m_bFrameCommands is set; never blocks. False and nothing written when no child runs (never
    // started, stopped, ended, or its input closed).
    bool WriteToLisp(const std::string &text);

    // Sends the console's interrupt to the Lisp's process group. False when no child runs.
    bool InterruptLisp();

    // True from a successful StartLisp until the child ends or StopLisp runs.
    bool IsLispRunning() const;

    // Hands everything waiting to the sink as one chunk; returns the byte count. Any thread;
    // calls are serialised, so chunks arrive in order. A call from inside the sink returns 0.
    size_t DrainOutput();

    std::string m_strCommandLine;
    bool m_bFrameCommands = false;
    bool m_bTerminal = false;          // the Lisp's streams are a pseudo-terminal (where there is one)
    unsigned m_dwPollTimeout = 100;    // milliseconds between two checks of an idle child

private:
    struct Session;

    void ReaderThread(const std::shared_ptr<Session> &session);
    void WritePending(Session &session);
    // Adds bytes to the waiting output and tells the consumer when output starts waiting. A full
    // buffer throttles the session's reading.
    void QueueOutput(const char *data, size_t length, const std::shared_ptr<Session> &session);
    void QueueMessage(const char *text, const std::shared_ptr<Session> &session);
    void OutputPending();

    const Sink m_sink;
    const PendingHandler m_onPending;

    std::shared_ptr<Session> m_pSession;     // the running (or ended) child; null when idle
    std::thread m_ioThread;
    // Sessions whose I/O thread StopLisp could not wait for (a delivery on it was still running);
    // the destructor gives them time to finish before the object goes.
    std::vector<std::shared_ptr<Session>> m_abandoned;
    mutable std::mutex m_sessionMutex;       // guards m_pSession against WriteToLisp on other threads

    // Output waiting for the sink.
    std::mutex m_outputMutex;
    std::string m_strPending;
    bool m_bNotified = false;                // the handler was told, DrainOutput has not run since
    std::shared_ptr<Session> m_pThrottled;   // session whose I/O thread waits for the sink

    std::mutex m_deliverMutex;               // one delivery at a time, in order
    std::string m_strDelivering;             // the chunk being delivered; swaps with m_strPending
                                             // so both keep their capacity
    std::atomic<std::thread::id> m_deliveringThread{};
};
