// Runs the user's Lisp as a child process: the I/O thread, the write queue and output hand-over.
#include "lisp/CRedirector.h"

#include "platform/Process.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <deque>
#include <system_error>
#include <utility>

namespace {

// Output waiting for the consumer beyond this stops the reading until the consumer has taken it.
constexpr size_t kMaxPendingOutput = 4u << 20;

// How often a session looks for ended orphans to reap (any ended child of the program that no one
// else waits for, however short its life).
constexpr auto kOrphanReapInterval = std::chrono::milliseconds(200);

// A Lisp that prints fast writes many small pieces, and reading each as it comes costs a wake-up
// on both sides (about 500 bytes a wake-up for SBCL). Once the output read with no gap longer than
// kBurstGap passes kBurstBytes, a read of less than kBurstSmallRead leaves the output in the pipe
// for kBurstPauseMs before the next: the pipe holds a megabyte, so the Lisp runs on and the next
// read takes what came meanwhile. Short answers never pass the bound and are read at once; a
// terminal holds a few kilobytes only, and is never left waiting.
constexpr size_t kBurstBytes = 256u << 10;
constexpr size_t kBurstSmallRead = 64u << 10;
constexpr auto kBurstGap = std::chrono::milliseconds(5);
constexpr int kBurstPauseMs = 1;

constexpr const char kChildEnded[] = "\r\n<ERROR>: Child process ended\r\n";
constexpr const char kReadError[] = "Read stdout pipe error\r\n";

} // namespace

struct CRedirector::Session
{
    platform::CChildProcess process;

    std::mutex mutex;                 // guards the write queue and inputOpen
    std::deque<std::string> writes;   // whole texts in the order they were written
    size_t writeOffset = 0;           // bytes of writes.front() already in the pipe
    size_t queued = 0;                // bytes of writes not yet in the pipe
    bool inputOpen = true;            // false once the child ended or its input closed

    std::atomic<bool> stop{false};
    std::atomic<bool> childEnded{false};
    std::atomic<bool> throttled{false};
};

CRedirector::CRedirector(OutputReady onOutput) : m_onOutput(std::move(onOutput))
{
}

CRedirector::~CRedirector()
{
    StopLisp();
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
        m_ioThread = std::thread(&CRedirector::ReaderThread, this, std::ref(*session));
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
    if (!session)
        return;
    session->stop = true;
    session->process.Wake();
    // The I/O thread blocks on nothing but its poll, which the wake ends.
    if (thread.joinable())
        thread.join();
    session->process.CloseInput();   // the child sees the end of its input
    session->process.KillProcessTree();
    std::lock_guard lock(m_outputMutex);
    if (m_pThrottled == session.get())
        m_pThrottled = nullptr;
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
        if (!session->inputOpen || session->queued > kMaxQueuedInput)
            return false;
        if (framed.empty())
            return true;
        wake = session->writes.empty();
        session->queued += framed.size();
        session->writes.push_back(std::move(framed));
    }
    if (wake)
        session->process.Wake();
    return true;
}

bool CRedirector::IsInputFull() const
{
    std::shared_ptr<Session> session;
    {
        std::lock_guard lock(m_sessionMutex);
        session = m_pSession;
    }
    if (!session)
        return false;
    std::lock_guard lock(session->mutex);
    return session->inputOpen && session->queued > kMaxQueuedInput;
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

bool CRedirector::TakeOutput(std::string &into, size_t max)
{
    Session *throttled = nullptr;
    bool more;
    {
        std::lock_guard lock(m_outputMutex);
        const size_t count = std::min(max, m_strPending.size() - m_nTaken);
        into.append(m_strPending, m_nTaken, count);
        m_nTaken += count;
        more = m_nTaken < m_strPending.size();
        if (!more) {
            m_strPending.clear();   // keeps its memory for the next burst
            m_nTaken = 0;
            if (m_strPending.capacity() > 2 * kMaxPendingOutput)
                m_strPending.shrink_to_fit();   // a burst is over; do not keep its memory
            m_bNotified = false;
        } else if (m_nTaken >= kMaxPendingOutput / 2) {
            m_strPending.erase(0, m_nTaken);   // what was taken goes; the rest moves once
            m_nTaken = 0;
        }
        if (m_pThrottled && m_strPending.size() - m_nTaken < kMaxPendingOutput) {
            throttled = std::exchange(m_pThrottled, nullptr);
            throttled->throttled = false;
            // Woken under the lock: StopLisp clears m_pThrottled under it before the session goes.
            throttled->process.Wake();
        }
    }
    return more;
}

void CRedirector::QueueOutput(const char *data, size_t length, Session *session)
{
    bool notify = false;
    {
        std::lock_guard lock(m_outputMutex);
        m_strPending.append(data, length);
        if (session && m_strPending.size() - m_nTaken >= kMaxPendingOutput) {
            session->throttled = true;
            m_pThrottled = session;
        }
        if (!m_bNotified) {
            m_bNotified = true;
            notify = true;
        }
    }
    if (notify && m_onOutput)
        m_onOutput();
}

void CRedirector::QueueMessage(const char *text, Session *session)
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
            session.queued -= written;
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
            session.queued = 0;
            return;
        }
    }
}

void CRedirector::ReaderThread(Session &s)
{
    std::unique_ptr<char[]> buffer;   // grows to the largest read; never zero-filled
    size_t capacity = 0;
    size_t lastRead = 0;              // bytes of the last read
    bool outputOpen = true;
    auto lastReap = std::chrono::steady_clock::now();
    size_t burst = 0;                 // bytes read with no gap longer than kBurstGap
    auto lastOutput = lastReap;
    bool pause = false;               // the next wait leaves the output in the pipe

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
                lastRead = count;
                QueueOutput(buffer.get(), count, &s);
                if (!untilEmpty)
                    return Read::Empty;
                if (s.stop || s.throttled)
                    return Read::Paused;
                continue;
            }
            if (status == platform::IoStatus::WouldBlock)
                return Read::Empty;
            QueueMessage(status == platform::IoStatus::Closed ? kChildEnded : kReadError, &s);
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
        const bool wantOutput = outputOpen && !s.throttled && !s.childEnded && !pause;
        const platform::WaitResult r =
            s.process.Wait(pause ? kBurstPauseMs : static_cast<int>(m_dwPollTimeout), wantOutput, wantInput);
        pause = false;
        if (s.stop)
            break;
        if (r.outputReady && wantOutput) {
            lastRead = 0;
            outputOpen = readOutput(false) != Read::Finished;
            const auto now = std::chrono::steady_clock::now();
            burst = (now - lastOutput <= kBurstGap ? burst : 0) + lastRead;
            lastOutput = now;
            pause = outputOpen && !m_bTerminal && burst >= kBurstBytes && lastRead < kBurstSmallRead;
        }
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
                s.queued = 0;
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
}
