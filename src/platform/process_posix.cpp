// POSIX process layer: starting a Lisp that dies with the program, one poll for all events, non-blocking I/O.
#include "platform/Process.h"
#include "platform/ProcessTree.h"
#include "platform/PseudoTerminal.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#if __has_include(<linux/close_range.h>)
#include <linux/close_range.h>
#endif

extern char **environ;

namespace platform {

namespace {

constexpr int kOutputPipeSize = 1 << 20;

void CloseFd(int &fd)
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// Moves a new descriptor above the standard ones, so that dup2 onto 0, 1, 2 in the child never
// meets a descriptor that already has that number.
bool LiftFd(int &fd)
{
    if (fd > 2)
        return true;
    const int lifted = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (lifted < 0)
        return false;
    ::close(fd);
    fd = lifted;
    return true;
}

std::atomic<unsigned> g_sessionCounter{0};

// Where a Lisp starts: the folder this program was started from (it never changes its own), or
// the home folder when that is the root, as it is for programs started from a desktop menu.
std::string StartFolder()
{
    char buffer[4096];
    const char *cwd = ::getcwd(buffer, sizeof buffer);
    if (cwd && std::strcmp(cwd, "/") != 0)
        return cwd;
    const char *home = std::getenv("HOME");
    return home && *home ? home : "/";
}

bool HasName(const char *entry, const char *name)
{
    const size_t length = std::strcspn(name, "=");
    return std::strncmp(entry, name, length) == 0 && entry[length] == '=';
}

// Whether an environment entry is one of the marks that tell whose process is whose; a Lisp gets
// its own session mark and never the program's.
bool IsMarkEntry(const char *entry)
{
    return HasName(entry, CProcessTree::SessionVariable()) || HasName(entry, CProcessTree::OwnMark().c_str());
}

// The descriptor number a terminal Lisp finds its line-editor settings under.
constexpr int kSettingsFd = 3;

// Everything the child needs between its start and its exec, prepared beforehand: until the exec
// it shares the program's memory, and only async-signal-safe calls are allowed.
struct ChildSetup
{
    const char *executable = nullptr;
    char *const *argv = nullptr;
    char *const *envp = nullptr;
    const char *folder = nullptr;
    const char *terminalPath = nullptr;   // the pseudo-terminal to open; null: pipes
    int input = -1;                       // pipes: the child's ends
    int output = -1;
    int settingsFd = -1;                  // terminal: the line-editor settings, or -1
    int firstToClose = 3;
    int openMax = 1024;                   // for systems without close_range
    pid_t parent = -1;
    int *error = nullptr;                 // where a failed start leaves errno (shared memory)
};

[[noreturn]] void ChildFailed(const ChildSetup &setup)
{
    *setup.error = errno ? errno : ECHILD;
    ::_exit(127);
}

// Descriptors from first on are closed by the exec.
void CloseAtExec(int first, int openMax)
{
#if defined(SYS_close_range) && defined(CLOSE_RANGE_CLOEXEC)
    if (::syscall(SYS_close_range, static_cast<unsigned>(first), ~0u, CLOSE_RANGE_CLOEXEC) == 0)
        return;
#endif
    for (int fd = first; fd < openMax; ++fd) {
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0 && !(flags & FD_CLOEXEC))
            ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
}

// The child's side of the start, up to the exec; it must never return. It leads a session of its own: with pipes it has
// no controlling terminal at all, so a Lisp that opens /dev/tty gets ENXIO at once instead of
// being stopped by the terminal Talvex was started from; on a terminal, the pseudo-terminal
// becomes its controlling one as it opens it. It dies with the program however the program ends:
// the kernel sends SIGKILL when the starting thread ends, and a program that ended before the
// request was made is seen in the parent's changed id.
[[noreturn]] void RunChild(const ChildSetup &setup)
{
    if (::setsid() < 0)
        ChildFailed(setup);
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0) != 0)
        ChildFailed(setup);
    if (::getppid() != setup.parent)
        ::_exit(127);
    if (setup.terminalPath) {
        const int fd = ::open(setup.terminalPath, O_RDWR);
        if (fd < 0)
            ChildFailed(setup);
        for (int target = 0; target <= 2; ++target)
            if (fd != target && ::dup2(fd, target) < 0)
                ChildFailed(setup);
        if (fd > 2)
            ::close(fd);
        if (setup.settingsFd >= 0 && ::dup2(setup.settingsFd, kSettingsFd) < 0)
            ChildFailed(setup);
    } else if (::dup2(setup.input, 0) < 0 || ::dup2(setup.output, 1) < 0 || ::dup2(setup.output, 2) < 0) {
        ChildFailed(setup);
    }
    if (::chdir(setup.folder) != 0)
        ChildFailed(setup);
    CloseAtExec(setup.firstToClose, setup.openMax);
    // The program may ignore or block signals (SIGPIPE in particular), and catches those that
    // end it: the Lisp starts clean.
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    for (int sig = 1; sig < NSIG; ++sig)
        if (sig != SIGKILL && sig != SIGSTOP)
            ::sigaction(sig, &standard, nullptr);   // the C library's own signals refuse: fine
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(setup.executable, setup.argv, setup.envp);
    ChildFailed(setup);
}

// The child shares this program's memory until its exec (and this thread waits until then): no
// page table is copied, so a start costs the same however large the program has grown. The
// child touches nothing but its own stack and the prepared setup.
__attribute__((noinline)) pid_t ForkShared(const ChildSetup &setup)
{
    const pid_t pid = ::vfork();
    if (pid == 0)
        RunChild(setup);
    return pid;
}

// Starts the child; its id, or -1 with the error code. Signals stay blocked around the start, so
// that none of the program's handlers runs in the child before it has reset them. When this
// thread goes on, the child has either run the program or ended with its error noted.
pid_t SpawnChild(ChildSetup &setup, unsigned long &errorCode)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        setup.openMax = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 65536));
    int childError = 0;
    setup.error = &childError;

    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = ForkShared(setup);
    const int forkError = pid < 0 ? errno : 0;   // the child's calls may have changed errno
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (pid < 0) {
        errorCode = static_cast<unsigned long>(forkError);
        return -1;
    }
    if (childError == 0)
        return pid;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    errorCode = static_cast<unsigned long>(childError);
    return -1;
}

} // namespace

struct CChildProcess::Impl
{
    pid_t pid = -1;
    int pidfd = -1;
    int inputFd = -1;    // the program's end of the child's standard input (non-blocking)
    int outputFd = -1;   // the program's end of the child's standard output and error
    int wakeFd = -1;     // eventfd that Wake() signals
    std::atomic<bool> exited{false};
    bool terminal = false;  // input and output are one pseudo-terminal
    CTerminalOutputFilter filter;
    std::mutex treeMutex;   // the tree and the reaping of the child against Interrupt()
    std::string marker;     // "TALVEX_LISP_SESSION=<pid>.<n>"
    CProcessTree tree;

    bool CheckExited()
    {
        if (exited || pid <= 0)
            return exited;
        if (pidfd >= 0) {
            pollfd p{pidfd, POLLIN, 0};
            if (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN))
                exited = true;
        } else {
            siginfo_t info{};
            if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0
                && info.si_pid == pid)
                exited = true;
        }
        return exited;
    }
};

void GuardLispSessions() { CProcessTree::GuardSessions(); }

CChildProcess::CChildProcess() : m_pImpl(std::make_unique<Impl>()) {}

CChildProcess::~CChildProcess()
{
    CloseFd(m_pImpl->inputFd);
    CloseFd(m_pImpl->outputFd);
    CloseFd(m_pImpl->wakeFd);
    CloseFd(m_pImpl->pidfd);
}

bool CChildProcess::Start(const std::string &commandLine, unsigned long &errorCode, Streams streams)
{
    Impl &d = *m_pImpl;
    errorCode = 0;
    if (d.pid > 0) {
        errorCode = EBUSY;
        return false;
    }
    CProcessTree::Prepare();

    const CommandLineParts parts = SplitCommandLine(commandLine);
    if (parts.executable.empty()) {
        errorCode = ENOENT;
        return false;
    }
    std::vector<std::string> words;
    SplitArguments(parts.arguments, words);

    const bool terminal = streams == Streams::Terminal;
    int output[2] = {-1, -1};
    int input[2] = {-1, -1};
    PseudoTerminal pty;
    auto fail = [&](int code) {
        errorCode = static_cast<unsigned long>(code);
        for (int *fd : {&output[0], &output[1], &input[0], &input[1], &pty.master, &pty.slave, &d.wakeFd})
            CloseFd(*fd);
        return false;
    };
    if (terminal) {
        int error = 0;
        if (!OpenPseudoTerminal(pty, error))
            return fail(error);
        // The program's two ends are one descriptor each way, so that closing the input leaves
        // the output readable, as with pipes.
        output[0] = pty.master;
        pty.master = -1;
        input[1] = ::fcntl(output[0], F_DUPFD_CLOEXEC, 3);
        if (input[1] < 0)
            return fail(errno);
    } else {
        if (::pipe2(output, O_CLOEXEC) != 0)
            return fail(errno);
        if (::pipe2(input, O_CLOEXEC) != 0)
            return fail(errno);
        for (int *fd : {&output[0], &output[1], &input[0], &input[1]})
            if (!LiftFd(*fd))
                return fail(errno);
        if (::fcntl(output[0], F_SETFL, O_NONBLOCK) != 0 || ::fcntl(input[1], F_SETFL, O_NONBLOCK) != 0)
            return fail(errno);
#ifdef F_SETPIPE_SZ
        // A larger output pipe lets a fast-printing Lisp run ahead of the reader with fewer
        // wake-ups and larger reads. Best effort: the system's limit may be lower.
        ::fcntl(output[0], F_SETPIPE_SZ, kOutputPipeSize);
#endif
    }
    d.wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (d.wakeFd < 0)
        return fail(errno);

    // Arguments and environment, built before anything changes in this process.
    std::vector<char *> argv;
    std::string program = parts.program;
    argv.push_back(program.data());
    for (std::string &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    d.marker = std::string(CProcessTree::SessionVariable()) + "=" + std::to_string(::getpid())
        + "." + std::to_string(++g_sessionCounter);
    const int settingsFd = terminal ? LineEditorSettings() : -1;
    // A terminal that draws nothing: programs that ask what it can do get no escape sequences.
    std::string termEntry = "TERM=dumb";
    std::string settingsEntry = "INPUTRC=/dev/fd/" + std::to_string(kSettingsFd);
    std::vector<char *> envp;
    for (char **e = environ; e && *e; ++e)
        if (!IsMarkEntry(*e) && !(terminal && (HasName(*e, "TERM") || HasName(*e, "INPUTRC"))))
            envp.push_back(*e);
    envp.push_back(d.marker.data());
    if (terminal) {
        envp.push_back(termEntry.data());
        if (settingsFd >= 0)
            envp.push_back(settingsEntry.data());
    }
    envp.push_back(nullptr);

    ChildSetup setup;
    setup.executable = parts.executable.c_str();
    setup.argv = argv.data();
    setup.envp = envp.data();
    const std::string folder = StartFolder();
    setup.folder = folder.c_str();
    setup.parent = ::getpid();
    if (terminal) {
        setup.terminalPath = pty.slavePath.c_str();
        setup.settingsFd = settingsFd;
        setup.firstToClose = settingsFd >= 0 ? kSettingsFd + 1 : 3;
    } else {
        setup.input = input[0];
        setup.output = output[1];
    }
    const pid_t pid = SpawnChild(setup, errorCode);
    if (pid < 0)
        return fail(static_cast<int>(errorCode));

    // The child holds its own ends now; without these copies the output ends when the child's do.
    CloseFd(input[0]);
    CloseFd(output[1]);
    CloseFd(pty.slave);
    d.pid = pid;
    d.pidfd = PidfdOpen(pid);   // -1 on kernels without pidfds: exit is then checked by waitid
    d.inputFd = input[1];
    d.outputFd = output[0];
    d.terminal = terminal;
    d.filter = CTerminalOutputFilter();
    d.exited = false;
    std::lock_guard lock(d.treeMutex);
    d.tree.Reset(pid, d.pidfd, d.marker);
    return true;
}

WaitResult CChildProcess::Wait(int timeoutMs, bool wantOutput, bool wantInput)
{
    Impl &d = *m_pImpl;
    WaitResult result;
    pollfd fds[4];
    nfds_t n = 0;
    int wakeIndex = -1, outIndex = -1, inIndex = -1, exitIndex = -1;
    if (d.wakeFd >= 0) {
        wakeIndex = static_cast<int>(n);
        fds[n++] = {d.wakeFd, POLLIN, 0};
    }
    if (wantOutput && d.outputFd >= 0) {
        outIndex = static_cast<int>(n);
        fds[n++] = {d.outputFd, POLLIN, 0};
    }
    if (wantInput && d.inputFd >= 0) {
        inIndex = static_cast<int>(n);
        fds[n++] = {d.inputFd, POLLOUT, 0};
    }
    if (d.pidfd >= 0 && !d.exited) {
        exitIndex = static_cast<int>(n);
        fds[n++] = {d.pidfd, POLLIN, 0};
    }
    if (d.pidfd < 0 && !d.exited && d.CheckExited()) {
        result.childExited = true;
        timeoutMs = 0;
    }
    const int rc = ::poll(fds, n, timeoutMs);
    if (rc > 0) {
        if (wakeIndex >= 0 && (fds[wakeIndex].revents & POLLIN)) {
            eventfd_t value;
            ::eventfd_read(d.wakeFd, &value);
        }
        if (outIndex >= 0 && fds[outIndex].revents != 0)
            result.outputReady = true;
        if (inIndex >= 0 && fds[inIndex].revents != 0)
            result.inputReady = true;
        if (exitIndex >= 0 && (fds[exitIndex].revents & POLLIN)) {
            d.exited = true;
            result.childExited = true;
        }
    }
    if (d.pidfd < 0 && d.CheckExited())
        result.childExited = true;
    if (d.exited)
        result.childExited = true;
    return result;
}

void CChildProcess::Wake()
{
    if (m_pImpl->wakeFd >= 0)
        ::eventfd_write(m_pImpl->wakeFd, 1);
}

size_t CChildProcess::OutputAvailable()
{
    int available = 0;
    if (m_pImpl->outputFd < 0 || ::ioctl(m_pImpl->outputFd, FIONREAD, &available) != 0)
        return 0;
    return available > 0 ? static_cast<size_t>(available) : 0;
}

IoStatus CChildProcess::ReadOutput(char *data, size_t size, size_t &count, unsigned long &errorCode)
{
    Impl &d = *m_pImpl;
    count = 0;
    if (d.outputFd < 0)
        return IoStatus::Closed;
    for (;;) {
        ssize_t n;
        do {
            n = ::read(d.outputFd, data, size);
        } while (n < 0 && errno == EINTR);
        if (n > 0) {
            count = static_cast<size_t>(n);
            if (!d.terminal)
                return IoStatus::Ok;
            count = d.filter.Filter(data, count);
            if (count > 0)
                return IoStatus::Ok;
            continue;   // only escape sequences: look for text behind them
        }
        if (n == 0)
            return IoStatus::Closed;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return IoStatus::WouldBlock;
        // A terminal's master reports the end of the last program that had it open as an error.
        if (d.terminal && errno == EIO)
            return IoStatus::Closed;
        errorCode = static_cast<unsigned long>(errno);
        return IoStatus::Error;
    }
}

IoStatus CChildProcess::Write(const char *data, size_t length, size_t &written,
                              unsigned long &errorCode)
{
    Impl &d = *m_pImpl;
    written = 0;
    if (d.inputFd < 0)
        return IoStatus::Closed;
    if (length == 0)
        return IoStatus::Ok;
    // A write to a pipe whose reader is gone raises SIGPIPE, which would end the whole program:
    // block it for this thread around the write and discard the one the write raised.
    sigset_t pipeSet, previous, pending;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSet, &previous);
    sigemptyset(&pending);
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
    ssize_t n;
    do {
        n = ::write(d.inputFd, data, length);
    } while (n < 0 && errno == EINTR);
    const int error = errno;
    if (n < 0 && error == EPIPE && !wasPending) {
        const timespec zero{0, 0};
        ::sigtimedwait(&pipeSet, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (n >= 0) {
        written = static_cast<size_t>(n);
        return n > 0 ? IoStatus::Ok : IoStatus::WouldBlock;
    }
    if (error == EAGAIN || error == EWOULDBLOCK)
        return IoStatus::WouldBlock;
    if (error == EPIPE || (d.terminal && error == EIO))
        return IoStatus::Closed;
    errorCode = static_cast<unsigned long>(error);
    return IoStatus::Error;
}

void CChildProcess::CloseInput() { CloseFd(m_pImpl->inputFd); }

bool CChildProcess::Interrupt()
{
    Impl &d = *m_pImpl;
    // Under the lock the child is not reaped, so its id still names its process group.
    std::lock_guard lock(d.treeMutex);
    if (d.pid <= 0 || d.tree.ReapChild())
        return false;
    return ::killpg(d.pid, SIGINT) == 0;
}

bool CChildProcess::ReapChild()
{
    Impl &d = *m_pImpl;
    std::lock_guard lock(d.treeMutex);
    if (d.pid <= 0 || !d.tree.ReapChild())
        return false;
    d.exited = true;
    return true;
}

void CChildProcess::ReapOrphans()
{
    CProcessTree::ReapOrphans();
}

void CChildProcess::KillProcessTree()
{
    Impl &d = *m_pImpl;
    if (d.pid <= 0)
        return;
    {
        std::lock_guard lock(d.treeMutex);
        d.tree.KillAndReap();
        d.exited = true;
    }
    CProcessTree::ReapOrphans();
}

} // namespace platform
