// The process layer: one child process with redirected standard streams, and ending its whole tree.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// What a wait on a child's streams found. Several may be true at once.
struct WaitResult
{
    bool outputReady = false;   // output can be read: data, end of stream, or an error to report
    bool inputReady = false;    // the child's input pipe takes more bytes (only when asked for)
    bool childExited = false;   // the direct child has ended (it is not reaped by the wait)
};

// Outcome of a read or write on one of the child's pipes.
enum class IoStatus
{
    Ok,          // bytes moved (possibly fewer than asked, for writes)
    WouldBlock,  // nothing to read now / the pipe takes nothing now
    Closed,      // the other side is gone: end of output, or the child's input is closed
    Error        // anything else; the error code says what
};

// How a child's standard streams reach the program. Some Lisps are interactive (prompt, answer at
// once, survive an error) only on a terminal: Terminal gives them a pseudo-terminal where the
// system has one (POSIX); elsewhere it means Pipes. The terminal carries bytes as pipes would (no
// echo, no line-length limit, no line-end conversion); the escape sequences and bells a terminal
// program writes for a screen are taken out of its output; the child's environment says
// TERM=dumb, and readline is told to take tabs and 8-bit bytes as text.
enum class Streams
{
    Pipes,
    Terminal
};

// A child process whose standard input is one pipe and whose standard output and standard error
// share a second pipe (or all three one pseudo-terminal), so both arrive in the order the child
// wrote them. The program's ends are never inherited by any child. On POSIX systems the child
// leads a session of its own, and so a process group, which Interrupt() addresses: with pipes it
// has no controlling terminal (opening /dev/tty fails at once), on a terminal the pseudo-terminal
// is its controlling one. Windows: a new process group. The child dies with the program, however
// the program ends: on POSIX systems it gets SIGKILL when the thread that started it ends (so
// start it from a thread that lives as long as the program, the UI thread); on Windows the tree
// runs in a kill-on-close job. Members are used by one thread at a time, except Wake(),
// Interrupt() and KillProcessTree(), which any thread may call while the object exists.
class CChildProcess
{
public:
    CChildProcess();
    // Closes every descriptor still open. Ends no process (KillProcessTree does), except on
    // Windows, where the tree runs in a kill-on-close job: what is left of it ends with the object.
    ~CChildProcess();
    CChildProcess(const CChildProcess &) = delete;
    CChildProcess &operator=(const CChildProcess &) = delete;

    // Starts the program that the command line names (see SplitCommandLine) with the rest of the
    // line as its arguments. POSIX: the child starts in this program's current folder (the home
    // folder when that is the root), and this program's own current folder never changes.
    // Windows: the folder the program part names becomes the current folder of this program, and
    // the child inherits it. On failure returns false with the system error code (2 when the line
    // names no executable file) and leaves nothing behind.
    bool Start(const std::string &commandLine, unsigned long &errorCode, Streams streams = Streams::Pipes);

    // Waits at most timeoutMs for output, child exit, Wake(), and, when wantInput, for room in the
    // child's input pipe. wantOutput false leaves output unread (the consumer is behind).
    WaitResult Wait(int timeoutMs, bool wantOutput, bool wantInput);

    // Makes a current or the next Wait() return at once. Any thread.
    void Wake();

    // How many bytes the output pipe holds now (0 when empty or unknown).
    size_t OutputAvailable();

    // Reads at most size bytes of output into data without blocking; count says how many.
    IoStatus ReadOutput(char *data, size_t size, size_t &count, unsigned long &errorCode);

    // Writes as much of data as the input pipe takes now, without blocking.
    IoStatus Write(const char *data, size_t length, size_t &written, unsigned long &errorCode);

    // Closes the program's end of the child's input: the child sees the end of its input. Only
    // when no other thread may be using the descriptor.
    void CloseInput();

    // The interrupt key of a console: SIGINT to the child's process group (CTRL_BREAK_EVENT to its
    // process group on Windows, or CTRL_C_EVENT where the system cannot raise that). False when
    // the child has ended or never started.
    bool Interrupt();

    // Reaps the direct child once it has ended, so that no zombie waits for a restart. True when
    // it is reaped (now or earlier). Signals never reach another process that got its id later.
    // Windows has no zombies: true once the child has ended; its id stays reserved while the
    // object lives.
    bool ReapChild();

    // Reaps descendants that were orphaned, became children of this process and have ended since.
    // Cheap enough to call a few times a second. Nothing to do on Windows, where no process is
    // adopted and an ended one leaves nothing behind.
    void ReapOrphans();

    // Ends the child and every process descended from it, also descendants that were orphaned or
    // started a new session, leaves first; reaps every one of them that is or becomes a child of
    // this process. Returns within a few seconds at most. Safe to call more than once, and while
    // another thread waits, reads or writes: no descriptor is closed here.
    void KillProcessTree();

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

// Makes sure that the processes the Lisps started end with the program, also when it is killed:
// POSIX systems keep a small process that ends what is left once the program has ended (only
// processes that kept the session mark in their environment can be found). Windows needs nothing:
// each tree runs in a kill-on-close job. Once, at the start of main, before any thread starts.
void GuardLispSessions();

// The command line read as the system's process creation reads it: a leading quoted part is the
// program; otherwise the shortest space-separated prefix that names an executable file (or, without
// a folder, a program found on the search path). The rest is split into arguments like a shell
// splits words, without any expansion.
struct CommandLineParts
{
    std::string program;                 // the program part as written
    std::string executable;              // the file that runs (absolute path); empty = none found
    std::string arguments;               // the rest of the line, unsplit
    std::string folder;                  // the folder the program part names; empty = none
};
CommandLineParts SplitCommandLine(const std::string &commandLine);

// Splits text into words like a shell (spaces and tabs separate, quotes and backslashes group and
// escape) without expanding anything.
bool SplitArguments(const std::string &text, std::vector<std::string> &words);

} // namespace platform
