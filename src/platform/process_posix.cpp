// POSIX process layer: spawning with redirected pipes, one poll for all events, ending a process tree.
#include "platform/Process.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// The environment variable that marks every process of one Lisp session, so that descendants
// which were orphaned (and so became children of this process) can still be told apart from
// unrelated children, such as programs started detached by other parts of the application.
constexpr const char kSessionVariable[] = "TALVEX_LISP_SESSION";

int PidfdOpen(pid_t pid)
{
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

int PidfdSignal(int pidfd, int sig)
{
#ifdef SYS_pidfd_send_signal
    return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0));
#else
    (void)pidfd;
    (void)sig;
    errno = ENOSYS;
    return -1;
#endif
}

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

bool IsExecutableFile(const std::string &path)
{
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)
        && ::access(path.c_str(), X_OK) == 0;
}

std::string MakeAbsolute(const std::string &path)
{
    if (path.empty() || path[0] == '/')
        return path;
    char buffer[4096];
    if (!::getcwd(buffer, sizeof buffer))
        return path;
    std::string result(buffer);
    if (result.back() != '/')
        result += '/';
    return result + path;
}

std::string FindOnPath(const std::string &name)
{
    const char *path = std::getenv("PATH");
    std::string list = (path && *path) ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        const size_t end = list.find(':', start);
        std::string dir = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (dir.empty())
            dir = ".";
        const std::string candidate = dir + "/" + name;
        if (IsExecutableFile(candidate))
            return MakeAbsolute(candidate);
        if (end == std::string::npos)
            return {};
        start = end + 1;
    }
}

// The file that a program part names: a path when it has a slash, else a name on the search path.
std::string ResolveProgram(const std::string &program)
{
    if (program.empty())
        return {};
    if (program.find('/') != std::string::npos)
        return IsExecutableFile(program) ? MakeAbsolute(program) : std::string();
    return FindOnPath(program);
}

// ---- /proc snapshots -----------------------------------------------------------------------

struct ProcEntry
{
    pid_t pid = 0;
    pid_t ppid = 0;
    char state = '?';
    unsigned long long start = 0;   // start time since boot, clock ticks: tells a reused pid apart
};

bool ReadFileInto(const char *path, char *buffer, size_t size, size_t &length)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    length = 0;
    while (length < size) {
        const ssize_t n = ::read(fd, buffer + length, size - length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        length += static_cast<size_t>(n);
    }
    ::close(fd);
    return true;
}

bool ReadStat(pid_t pid, ProcEntry &entry)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    char buffer[1024];
    size_t length = 0;
    if (!ReadFileInto(path, buffer, sizeof buffer - 1, length) || length == 0)
        return false;
    buffer[length] = '\0';
    // The command name is in parentheses and may itself hold spaces and parentheses.
    char *close = std::strrchr(buffer, ')');
    if (!close || close[1] != ' ')
        return false;
    char *fields = close + 2;   // field 3 (state) onwards
    entry.pid = pid;
    entry.state = fields[0];
    int index = 3;
    char *cursor = fields;
    while (*cursor && index < 22) {
        char *space = std::strchr(cursor, ' ');
        if (!space)
            return false;
        cursor = space + 1;
        ++index;
        if (index == 4)
            entry.ppid = static_cast<pid_t>(std::strtol(cursor, nullptr, 10));
    }
    if (index != 22)
        return false;
    entry.start = std::strtoull(cursor, nullptr, 10);
    return true;
}

std::vector<ProcEntry> TakeSnapshot()
{
    std::vector<ProcEntry> entries;
    DIR *dir = ::opendir("/proc");
    if (!dir)
        return entries;
    while (dirent *item = ::readdir(dir)) {
        const char *name = item->d_name;
        if (name[0] < '1' || name[0] > '9')
            continue;
        ProcEntry entry;
        if (ReadStat(static_cast<pid_t>(std::strtol(name, nullptr, 10)), entry))
            entries.push_back(entry);
    }
    ::closedir(dir);
    return entries;
}

bool HasEnvironmentEntry(pid_t pid, const std::string &entry)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/environ", static_cast<int>(pid));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::string data;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        data.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    size_t pos = 0;
    while (pos < data.size()) {
        const size_t end = data.find('\0', pos);
        const size_t len = (end == std::string::npos ? data.size() : end) - pos;
        if (len == entry.size() && data.compare(pos, len, entry) == 0)
            return true;
        if (end == std::string::npos)
            break;
        pos = end + 1;
    }
    return false;
}

bool IsStoppedOrGone(char state)
{
    return state == 'T' || state == 't' || state == 'Z' || state == 'X' || state == 'x';
}

// Sends a signal to the process the entry describes, and to no other: the process is first pinned
// by a pidfd, then checked to be the same process (start time) before the signal goes through it.
void SignalEntry(const ProcEntry &entry, int sig)
{
    const int pidfd = PidfdOpen(entry.pid);
    ProcEntry now;
    if (ReadStat(entry.pid, now) && now.start == entry.start) {
        if (pidfd >= 0)
            PidfdSignal(pidfd, sig);
        else
            ::kill(entry.pid, sig);
    }
    if (pidfd >= 0)
        ::close(pidfd);
}

void SleepMicroseconds(long us)
{
    timespec ts{0, us * 1000};
    ::nanosleep(&ts, nullptr);
}

void BecomeSubreaper()
{
    static std::once_flag once;
    std::call_once(once, [] { ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0); });
}

std::atomic<unsigned> g_sessionCounter{0};

} // namespace

// ---- command line ---------------------------------------------------------------------------

bool SplitArguments(const std::string &text, std::vector<std::string> &words)
{
    words.clear();
    std::string word;
    bool inWord = false;
    bool complete = true;
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '\\') {
            if (i + 1 < n) {
                if (text[i + 1] != '\n')
                    word += text[i + 1];
                ++i;
            } else {
                word += c;
            }
        } else if (c == '\'') {
            const size_t end = text.find('\'', i + 1);
            if (end == std::string::npos) {
                word.append(text, i + 1, std::string::npos);
                complete = false;
                i = n;
            } else {
                word.append(text, i + 1, end - i - 1);
                i = end;
            }
        } else if (c == '"') {
            size_t j = i + 1;
            for (; j < n && text[j] != '"'; ++j) {
                if (text[j] == '\\' && j + 1 < n
                    && std::strchr("\"\\$`\n", text[j + 1]) != nullptr) {
                    if (text[j + 1] != '\n')
                        word += text[j + 1];
                    ++j;
                } else {
                    word += text[j];
                }
            }
            if (j >= n)
                complete = false;
            i = j;
        } else {
            word += c;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    return complete;
}

CommandLineParts SplitCommandLine(const std::string &commandLine)
{
    CommandLineParts parts;
    size_t begin = commandLine.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return parts;
    if (commandLine[begin] == '"') {
        const size_t end = commandLine.find('"', begin + 1);
        parts.program = commandLine.substr(begin + 1, end == std::string::npos ? std::string::npos
                                                                                : end - begin - 1);
        if (end != std::string::npos)
            parts.arguments = commandLine.substr(end + 1);
        parts.executable = ResolveProgram(parts.program);
    } else {
        size_t pos = begin;
        for (;;) {
            const size_t space = commandLine.find(' ', pos);
            const std::string candidate = commandLine.substr(
                begin, space == std::string::npos ? std::string::npos : space - begin);
            std::string file = ResolveProgram(candidate);
            if (!file.empty()) {
                parts.program = candidate;
                parts.executable = std::move(file);
                if (space != std::string::npos)
                    parts.arguments = commandLine.substr(space + 1);
                break;
            }
            if (space == std::string::npos) {
                const size_t first = commandLine.find(' ', begin);
                parts.program = commandLine.substr(
                    begin, first == std::string::npos ? std::string::npos : first - begin);
                break;
            }
            pos = space + 1;
        }
    }
    const size_t slash = parts.program.rfind('/');
    if (slash != std::string::npos)
        parts.folder = slash == 0 ? std::string("/") : parts.program.substr(0, slash);
    return parts;
}

// ---- the child ------------------------------------------------------------------------------

struct CChildProcess::Impl
{
    pid_t pid = -1;
    int pidfd = -1;
    int inputFd = -1;    // the program's end of the child's standard input (non-blocking)
    int outputFd = -1;   // the program's end of the child's standard output and error
    int wakeFd = -1;     // eventfd that Wake() signals
    bool exited = false;
    bool reaped = false;
    std::string marker;                               // "TALVEX_LISP_SESSION=<pid>.<n>"
    std::map<pid_t, unsigned long long> adopted;      // orphans of this session, pid -> start time

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

    // Every process of this session in the snapshot: descendants of the child, and of orphans that
    // carry the session's mark and now are children of this process.
    std::vector<ProcEntry> CollectTree(const std::vector<ProcEntry> &snapshot, bool readMarks)
    {
        const pid_t self = ::getpid();
        std::multimap<pid_t, size_t> children;
        for (size_t i = 0; i < snapshot.size(); ++i)
            children.emplace(snapshot[i].ppid, i);
        std::vector<size_t> roots;
        for (size_t i = 0; i < snapshot.size(); ++i) {
            const ProcEntry &e = snapshot[i];
            if (e.pid == pid && e.ppid == self) {
                roots.push_back(i);
            } else if (e.ppid == self) {
                auto known = adopted.find(e.pid);
                if (known != adopted.end() && known->second == e.start)
                    roots.push_back(i);
                else if (readMarks && e.state != 'Z' && HasEnvironmentEntry(e.pid, marker)) {
                    adopted[e.pid] = e.start;
                    roots.push_back(i);
                }
            }
        }
        // Depth-first, children before their parent: the order in which the tree is ended.
        std::vector<ProcEntry> order;
        std::vector<std::pair<size_t, bool>> stack;
        for (auto it = roots.rbegin(); it != roots.rend(); ++it)
            stack.emplace_back(*it, false);
        std::vector<bool> seen(snapshot.size(), false);
        while (!stack.empty()) {
            auto [index, expanded] = stack.back();
            stack.pop_back();
            if (expanded) {
                order.push_back(snapshot[index]);
                continue;
            }
            if (seen[index])
                continue;
            seen[index] = true;
            stack.emplace_back(index, true);
            auto range = children.equal_range(snapshot[index].pid);
            for (auto it = range.first; it != range.second; ++it)
                if (!seen[it->second])
                    stack.emplace_back(it->second, false);
        }
        return order;
    }
};

CChildProcess::CChildProcess() : m_pImpl(std::make_unique<Impl>()) {}

CChildProcess::~CChildProcess()
{
    CloseFd(m_pImpl->inputFd);
    CloseFd(m_pImpl->outputFd);
    CloseFd(m_pImpl->wakeFd);
    CloseFd(m_pImpl->pidfd);
}

bool CChildProcess::IsStarted() const { return m_pImpl->pid > 0; }

long CChildProcess::ProcessId() const { return m_pImpl->pid; }

bool CChildProcess::Start(const std::string &commandLine, unsigned long &errorCode)
{
    Impl &d = *m_pImpl;
    errorCode = 0;
    if (d.pid > 0) {
        errorCode = EBUSY;
        return false;
    }
    BecomeSubreaper();

    const CommandLineParts parts = SplitCommandLine(commandLine);
    if (parts.executable.empty()) {
        errorCode = ENOENT;
        return false;
    }
    std::vector<std::string> words;
    SplitArguments(parts.arguments, words);

    int output[2] = {-1, -1};
    int input[2] = {-1, -1};
    auto fail = [&](int code) {
        errorCode = static_cast<unsigned long>(code);
        CloseFd(output[0]);
        CloseFd(output[1]);
        CloseFd(input[0]);
        CloseFd(input[1]);
        CloseFd(d.wakeFd);
        return false;
    };
    if (::pipe2(output, O_CLOEXEC) != 0)
        return fail(errno);
    if (::pipe2(input, O_CLOEXEC) != 0)
        return fail(errno);
    for (int *fd : {&output[0], &output[1], &input[0], &input[1]})
        if (!LiftFd(*fd))
            return fail(errno);
    if (::fcntl(output[0], F_SETFL, O_NONBLOCK) != 0 || ::fcntl(input[1], F_SETFL, O_NONBLOCK) != 0)
        return fail(errno);
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

    d.marker = std::string(kSessionVariable) + "=" + std::to_string(::getpid()) + "."
        + std::to_string(++g_sessionCounter);
    std::vector<char *> envp;
    const size_t prefixLength = sizeof kSessionVariable;   // name plus '='
    for (char **e = environ; e && *e; ++e)
        if (std::strncmp(*e, d.marker.c_str(), prefixLength) != 0)
            envp.push_back(*e);
    envp.push_back(d.marker.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_adddup2(&actions, output[1], 2);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Descriptors that other parts of the program opened without close-on-exec stay here too.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
    // The program may ignore or block signals (SIGPIPE in particular); the Lisp starts clean.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    // The program's own current directory becomes the program's folder; the child inherits it.
    // A folder that cannot be entered leaves the current directory as it was.
    if (!parts.folder.empty() && ::chdir(parts.folder.c_str()) != 0) {
        // deliberately ignored
    }

    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, parts.executable.c_str(), &actions, &attr, argv.data(),
                                 envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0)
        return fail(rc);

    CloseFd(input[0]);
    CloseFd(output[1]);
    d.pid = pid;
    d.pidfd = PidfdOpen(pid);   // -1 on kernels without pidfds: exit is then checked by waitid
    d.inputFd = input[1];
    d.outputFd = output[0];
    d.exited = false;
    d.reaped = false;
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
    if (d.pidfd < 0 && d.CheckExited()) {
        result.childExited = true;
        timeoutMs = 0;
    }
    const int rc = ::poll(fds, n, timeoutMs);
    if (rc > 0) {
        if (wakeIndex >= 0 && (fds[wakeIndex].revents & POLLIN)) {
            eventfd_t value;
            ::eventfd_read(d.wakeFd, &value);
            result.woken = true;
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

IoStatus CChildProcess::ReadAvailable(std::string &out, unsigned long &errorCode)
{
    Impl &d = *m_pImpl;
    if (d.outputFd < 0)
        return IoStatus::Closed;
    int available = 0;
    if (::ioctl(d.outputFd, FIONREAD, &available) != 0)
        available = 0;
    // With nothing reported a small read still tells the end of the stream from an empty pipe.
    const size_t want = available > 0 ? static_cast<size_t>(available) : 512;
    const size_t old = out.size();
    out.resize(old + want);
    ssize_t n;
    do {
        n = ::read(d.outputFd, out.data() + old, want);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        out.resize(old + static_cast<size_t>(n));
        return IoStatus::Ok;
    }
    out.resize(old);
    if (n == 0)
        return IoStatus::Closed;
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return IoStatus::WouldBlock;
    errorCode = static_cast<unsigned long>(errno);
    return IoStatus::Error;
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
    if (error == EPIPE)
        return IoStatus::Closed;
    errorCode = static_cast<unsigned long>(error);
    return IoStatus::Error;
}

void CChildProcess::CloseInput() { CloseFd(m_pImpl->inputFd); }

bool CChildProcess::HasExited() { return m_pImpl->CheckExited(); }

void CChildProcess::ReapOrphans()
{
    Impl &d = *m_pImpl;
    if (d.pid <= 0)
        return;
    const pid_t self = ::getpid();
    for (const ProcEntry &e : TakeSnapshot())
        if (e.ppid == self && e.pid != d.pid && e.state != 'Z' && !d.adopted.count(e.pid)
            && HasEnvironmentEntry(e.pid, d.marker))
            d.adopted[e.pid] = e.start;
    for (auto it = d.adopted.begin(); it != d.adopted.end();) {
        ProcEntry e;
        if (!ReadStat(it->first, e) || e.start != it->second) {
            it = d.adopted.erase(it);
        } else if (e.state == 'Z' && e.ppid == self) {
            int status = 0;
            ::waitpid(it->first, &status, WNOHANG);
            it = d.adopted.erase(it);
        } else {
            ++it;
        }
    }
}

void CChildProcess::Terminate()
{
    Impl &d = *m_pImpl;
    if (d.pid <= 0 || d.reaped)
        return;
    const pid_t self = ::getpid();

    // Freeze the tree first: a stopped process cannot start new ones, so the snapshot that finds
    // every member stopped is complete. Processes that appear meanwhile are found on the next round.
    std::map<pid_t, unsigned long long> members;
    std::vector<ProcEntry> order;
    const auto freezeDeadline = Clock::now() + std::chrono::milliseconds(500);
    for (bool first = true;; first = false) {
        order = d.CollectTree(TakeSnapshot(), true);
        bool grew = false, allStopped = true;
        for (const ProcEntry &e : order) {
            auto [it, added] = members.emplace(e.pid, e.start);
            if (added || it->second != e.start) {
                it->second = e.start;
                grew = true;
                if (e.pid == d.pid && d.pidfd >= 0)
                    PidfdSignal(d.pidfd, SIGSTOP);
                else
                    SignalEntry(e, SIGSTOP);
            } else if (!IsStoppedOrGone(e.state)) {
                allStopped = false;
            }
        }
        if (order.empty() && first)
            break;   // the child is gone from /proc, or /proc cannot be read
        if ((!grew && allStopped) || Clock::now() > freezeDeadline)
            break;
        if (!grew)
            SleepMicroseconds(200);
    }

    // Leaves first, each before its parent.
    for (const ProcEntry &e : order) {
        if (e.pid == d.pid && d.pidfd >= 0)
            PidfdSignal(d.pidfd, SIGKILL);
        else
            SignalEntry(e, SIGKILL);
    }
    if (members.find(d.pid) == members.end()) {
        // Not in the snapshot (no /proc): the child itself is still ours to end.
        if (d.pidfd >= 0)
            PidfdSignal(d.pidfd, SIGKILL);
        else
            ::kill(d.pid, SIGKILL);
        members.emplace(d.pid, 0);
    }

    // Reap: the child, and every member that is or becomes a child of this process once its own
    // parent has died.
    const auto reapDeadline = Clock::now() + std::chrono::milliseconds(1500);
    while (!members.empty()) {
        for (auto it = members.begin(); it != members.end();) {
            int status = 0;
            if (it->first == d.pid) {
                if (::waitpid(d.pid, &status, WNOHANG) != 0) {
                    d.reaped = true;
                    it = members.erase(it);
                } else {
                    ++it;
                }
                continue;
            }
            ProcEntry e;
            if (!ReadStat(it->first, e) || e.start != it->second) {
                it = members.erase(it);
            } else if (e.ppid == self && ::waitpid(it->first, &status, WNOHANG) == it->first) {
                d.adopted.erase(it->first);
                it = members.erase(it);
            } else {
                ++it;
            }
        }
        if (members.empty() || Clock::now() > reapDeadline)
            break;
        SleepMicroseconds(300);
    }
    d.exited = true;
}

} // namespace platform
