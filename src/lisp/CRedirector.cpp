// Runs the user's Lisp as a child process: the I/O thread, the write queue and output hand-over.
#include "lisp/CRedirector.h"

#include "platform/Process.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <cstdio>
#include <deque>
#include <system_error>

namespace {

// Output waiting for the sink beyond this stops the reading until the sink has taken it.
constexpr size_t kMaxPendingOutput = 4u << 20;

// How long StopLisp waits for the I/O thread, which ends at once unless a delivery on it blocks.
constexpr auto kThreadStopWait = std::chrono::milliseconds(2000);

// How long the destructor gives an I/O thread that StopLisp had to leave running.
constexpr auto kDestroyWait = std::chrono::milliseconds(3000);

// How often a session looks for ended orphans to reap (any ended child of the program that no one
// else waits for, however short its life).
constexpr auto kOrphanReapInterval = std::chrono::milliseconds(200);

constexpr const char kChildEnded[] = "\r\n<ERROR>: Child process ended\r\n";
constexpr const char kReadError[] = "Read stdout pipe error\r\n";

} // namespace

struct CRedirector::Session
{
    platform::CChildProcess process;

    std::mutex mutex;                 // guards the write queue and inputOpen
    std::deque<std::string> writes;   // whole texts in the order they were written
    size_t writeOffset = 0;           // bytes of writes.front() already in the pipe
    bool inputOpen = true;            // false once the child ended or its input closed

    std::atomic<bool> stop{false};
    std::atomic<bool> childEnded{false};
    std::atomic<bool> throttled{false};

    std::mutex doneMutex;
    std::condition_variable doneCondition;
    bool done = false;                // the I/O thread touches nothing of the redirector any more
    std::thread::id threadId;

    bool WaitDone(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(doneMutex);
        return doneCondition.wait_for(lock, timeout, [&] { return done; });
    }
};

CRedirector::CRedirector(Sink sink, PendingHandler onPending)
    : m_sink(std::move(sink)), m_onPending(std::move(onPending))
{
}

CRedirector::~CRedirector()
{
    StopLisp();
    // An I/O thread left running by StopLisp may still return from a delivery into this object.
    std::vector<std::shared_ptr<Session>> abandoned;
    {
        std::lock_guard lock(m_sessionMutex);
        abandoned.swap(m_abandoned);
    }
    for (const auto &session : abandoned)
        if (session->threadId != std::this_thread::get_id())
            session->WaitDone(kDestroyWait);
}

void CRedirector::OutputPending()
{
    if (m_onPending)
        m_onPending();
    else
        DrainOutput();
}

bool CRedirector::IsLispRunning() const
{
    std::lock_guard lock(m_sessionMutex);
    return m_pSession && !m_pSession->childEnded.load();
}

bool CRedirector::StartLisp()
{
    StopLisp();

    auto session = std::make_shared<Session>();
    unsigned long error = 0;
    if (!session->process.Start(m_strCommandLine, error,
                                m_bTerminal ? platform::Streams::Terminal : platform::Streams::Pipes)) {
        char text[64];
        std::snprintf(text, sizeof text, "Redirect console error: %lx\r\n", error);
        QueueMessage(text, nullptr);
        return false;
    }
    try {
        std::lock_guard lock(m_sessionMutex);
        m_pSession = session;
        m_ioThread = std::thread(&CRedirector::ReaderThread, this, session);
        session->threadId = m_ioThread.get_id();
        // Forget left-behind threads that have finished meanwhile.
        std::erase_if(m_abandoned, [](const std::shared_ptr<Session> &s) {
            std::lock_guard doneLock(s->doneMutex);
            return s->done;
        });
    } catch (const std::system_error &e) {
        {
            std::lock_guard lock(m_sessionMutex);
            m_pSession.reset();
        }
        session->process.KillProcessTree();
        char text[64];
        std::snprintf(text, sizeof text, "Redirect console error: %x\r\n",
                      static_cast<unsigned>(e.code().value()));
        QueueMessage(text, nullptr);
        return false;
    }
    return true;
}

void CRedirector::StopLisp()
{
    std::shared_ptr<Session> session;
    std::thread thread;
    {
        std::lock_guard lock(m_sessionMutex);
        session = std::move(m_pSession);
        thread = std::move(m_ioThread);
    }
    if (!session) {
        if (thread.joinable())
            thread.detach();
        return;
    }
    session->stop = true;
    session->process.Wake();

    bool joined = false;
    if (thread.joinable()) {
        // From a delivery on the I/O thread itself it cannot wait for itself: the thread sees
        // the stop as soon as the delivery returns and ends without touching the session again.
        // Elsewhere it waits a bounded time: a delivery that does not return is left behind. The
        // thread keeps its own reference to the session, so no descriptor it may still use is
        // closed under it.
        if (thread.get_id() != std::this_thread::get_id() && session->WaitDone(kThreadStopWait)) {
            thread.join();
            joined = true;
        } else {
            thread.detach();
            std::lock_guard lock(m_sessionMutex);
            m_abandoned.push_back(session);
        }
    }
    if (joined)
        session->process.CloseInput();   // the child sees the end of its input
    session->process.KillProcessTree();

    {
        std::lock_guard lock(m_outputMutex);
        if (m_pThrottled == session)
            m_pThrottled.reset();
    }
    // The last reference closes the pipes: here, or when an abandoned I/O thread ends.
}

bool CRedirector::WriteToLisp(const std::string &text)
{
    std::shared_ptr<Session> session;
    {
        std::lock_guard lock(m_sessionMutex);
        session = m_pSession;
    }
    if (!session)
        return false;
    std::string framed = m_bFrameCommands ? "[cmd]\n" + text + "[/cmd]\n" : text;
    bool wake = false;
    {
        std::lock_guard lock(session->mutex);
        if (!session->inputOpen)
            return false;
        if (framed.empty())
            return true;
        wake = session->writes.empty();
        session->writes.push_back(std::move(framed));
    }
    if (wake)
        session->process.Wake();
    return true;
}

bool CRedirector::InterruptLisp()
{
    std::shared_ptr<Session> session;
    {
        std::lock_guard lock(m_sessionMutex);
        session = m_pSession;
    }
    return session && !session->childEnded && session->process.Interrupt();
}

size_t CRedirector::DrainOutput()
{
    if (m_deliveringThread.load() == std::this_thread::get_id())
        return 0;   // from inside AppendOutput: the outer delivery keeps the order
    std::lock_guard deliver(m_deliverMutex);
    std::shared_ptr<Session> throttled;
    {
        std::lock_guard lock(m_outputMutex);
        m_strDelivering.swap(m_strPending);
        m_bNotified = false;
        throttled = std::move(m_pThrottled);
        if (throttled)
            throttled->throttled = false;
    }
    if (throttled)
        throttled->process.Wake();
    const size_t length = m_strDelivering.size();
    if (length > 0) {
        m_deliveringThread = std::this_thread::get_id();
        m_sink(m_strDelivering.data(), length);
        m_deliveringThread = std::thread::id();
    }
    m_strDelivering.clear();
    if (m_strDelivering.capacity() > 2 * kMaxPendingOutput)
        m_strDelivering.shrink_to_fit();   // a burst is over; do not keep its memory
    return length;
}

void CRedirector::QueueOutput(const char *data, size_t length, const std::shared_ptr<Session> &session)
{
    bool notify = false;
    {
        std::lock_guard lock(m_outputMutex);
        m_strPending.append(data, length);
        if (session && m_strPending.size() >= kMaxPendingOutput) {
            session->throttled = true;
            m_pThrottled = session;
        }
        if (!m_bNotified) {
            m_bNotified = true;
            notify = true;
        }
    }
    if (notify)
        OutputPending();
}

void CRedirector::QueueMessage(const char *text, const std::shared_ptr<Session> &session)
{
    QueueOutput(text, std::strlen(text), session);
}

void CRedirector::WritePending(Session &session)
{
    std::lock_guard lock(session.mutex);
    while (!session.writes.empty()) {
        const std::string &front = session.writes.front();
        size_t written = 0;
        unsigned long error = 0;
        const platform::IoStatus status = session.process.Write(
            front.data() + session.writeOffset, front.size() - session.writeOffset, written, error);
        if (status == platform::IoStatus::Ok) {
            session.writeOffset += written;
            if (session.writeOffset < front.size())
                return;   // the pipe is full; the rest when it takes more
            session.writes.pop_front();
            session.writeOffset = 0;
        } else if (status == platform::IoStatus::WouldBlock) {
            return;
        } else {
            // The child closed its input: what it will never read is dropped, and so are later
            // writes, which fail.
            session.inputOpen = false;
            session.writes.clear();
            session.writeOffset = 0;
            return;
        }
    }
}

void CRedirector::ReaderThread(const std::shared_ptr<Session> &sessionRef)
{
    std::shared_ptr<Session> session = sessionRef;   // the thread's own reference
    Session &s = *session;
    std::unique_ptr<char[]> buffer;   // grows to the largest read; never zero-filled
    size_t capacity = 0;
    bool outputOpen = true;
    auto lastReap = std::chrono::steady_clock::now();

    // Reads whatever the pipe holds and hands it on, once or (untilEmpty) until the pipe is
    // empty. Paused: the consumer is behind or a stop is asked for, more may wait in the pipe.
    enum class Read { Empty, Paused, Finished };
    auto readOutput = [&](bool untilEmpty) {
        for (;;) {
            // Exactly what the pipe holds; with nothing reported, a small read still tells the
            // end of the output from an empty pipe.
            const size_t want = std::max<size_t>(s.process.OutputAvailable(), 4096);
            if (want > capacity) {
                buffer = std::make_unique_for_overwrite<char[]>(want);
                capacity = want;
            }
            size_t count = 0;
            unsigned long error = 0;
            const platform::IoStatus status = s.process.ReadOutput(buffer.get(), want, count, error);
            if (status == platform::IoStatus::Ok) {
                QueueOutput(buffer.get(), count, session);
                if (!untilEmpty)
                    return Read::Empty;
                if (s.stop || s.throttled)
                    return Read::Paused;
                continue;
            }
            if (status == platform::IoStatus::WouldBlock)
                return Read::Empty;
            QueueMessage(status == platform::IoStatus::Closed ? kChildEnded : kReadError, session);
            return Read::Finished;
        }
    };
    // The child has ended: what it left in the pipe is read to the end, or until the pipe is
    // empty while a descendant keeps it open (its later output is not read any more). A consumer
    // that is behind pauses this; it goes on when the consumer has taken what waits.
    auto finalDrain = [&] {
        if (readOutput(true) != Read::Paused)
            outputOpen = false;
    };

    while (!s.stop) {
        bool wantInput;
        {
            std::lock_guard lock(s.mutex);
            wantInput = s.inputOpen && !s.writes.empty();
        }
        const bool wantOutput = outputOpen && !s.throttled && !s.childEnded;
        const platform::WaitResult r =
            s.process.Wait(static_cast<int>(m_dwPollTimeout), wantOutput, wantInput);
        if (s.stop)
            break;
        if (r.outputReady && wantOutput)
            outputOpen = readOutput(false) != Read::Finished;
        if (s.stop)
            break;
        if (r.inputReady && wantInput)
            WritePending(s);
        if (r.childExited && !s.childEnded) {
            if (outputOpen)
                finalDrain();
            {
                std::lock_guard lock(s.mutex);
                s.inputOpen = false;
                s.writes.clear();
            }
            s.process.ReapChild();
            s.childEnded = true;
        } else if (s.childEnded && outputOpen && !s.throttled) {
            finalDrain();
        }
        // The thread stays after the child ended: the orphans it left are reaped as they end.
        const auto now = std::chrono::steady_clock::now();
        if (now - lastReap >= kOrphanReapInterval) {
            s.process.ReapOrphans();
            lastReap = now;
        }
    }
    {
        std::lock_guard lock(s.doneMutex);
        s.done = true;
    }
    s.doneCondition.notify_all();
}
