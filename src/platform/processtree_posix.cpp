// POSIX process trees from /proc: the session's processes found, frozen, ended leaves first, reaped.
#include "platform/ProcessTree.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// Marks every process of one Lisp session, so that its orphans can be told from those of another
// session that still runs.
constexpr const char kSessionVariable[] = "TALVEX_LISP_SESSION";
// Marks the program itself; whatever it starts by other routes than a Lisp session inherits it.
constexpr const char kOwnVariable[] = "TALVEX_PARENT";

// The direct children of the running Lisp sessions (pid -> session mark), so that no session
// takes another's child for an orphan, and no reaper takes a child its session waits for.
std::mutex g_registryMutex;
std::map<pid_t, std::string> g_liveChildren;

bool IsLiveChild(pid_t pid)
{
    std::lock_guard lock(g_registryMutex);
    return g_liveChildren.count(pid) != 0;
}

bool IsLiveSessionMark(const std::string &mark)
{
    std::lock_guard lock(g_registryMutex);
    for (const auto &[pid, marker] : g_liveChildren)
        if (marker == mark)
            return true;
    return false;
}

// The whole content of a /proc file, however long; false when it cannot be opened.
bool ReadWholeFile(const char *path, std::string &data)
{
    data.clear();
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
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
    return true;
}

bool ReadStat(pid_t pid, ProcEntry &entry)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    std::string data;
    if (!ReadWholeFile(path, data) || data.empty())
        return false;
    // The command name is in parentheses and may itself hold spaces and parentheses.
    const size_t close = data.rfind(')');
    if (close == std::string::npos || close + 2 >= data.size() || data[close + 1] != ' ')
        return false;
    const char *cursor = data.c_str() + close + 2;   // field 3 (state) onwards
    entry.pid = pid;
    entry.state = cursor[0];
    for (int index = 3; index < 22; ++index) {
        const char *space = std::strchr(cursor, ' ');
        if (!space)
            return false;
        cursor = space + 1;
        if (index + 1 == 4)
            entry.ppid = static_cast<pid_t>(std::strtol(cursor, nullptr, 10));
        else if (index + 1 == 5)
            entry.pgrp = static_cast<pid_t>(std::strtol(cursor, nullptr, 10));
    }
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

// The children of a process from the kernel's per-thread lists, each list read whole; false when
// the kernel keeps no such lists.
bool ReadChildren(pid_t pid, std::vector<pid_t> &children)
{
    children.clear();
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/task", static_cast<int>(pid));
    DIR *dir = ::opendir(path);
    if (!dir)
        return pid != ::getpid();   // a process that is gone has no children
    bool found = true;
    std::string data;
    while (dirent *item = ::readdir(dir)) {
        if (item->d_name[0] < '1' || item->d_name[0] > '9')
            continue;
        char file[320];
        std::snprintf(file, sizeof file, "/proc/%d/task/%s/children", static_cast<int>(pid),
                      item->d_name);
        if (!ReadWholeFile(file, data)) {
            if (errno == ENOENT && pid == ::getpid())
                found = false;   // no child lists in this kernel
            continue;
        }
        const char *cursor = data.c_str();
        for (;;) {
            char *end = nullptr;
            const long value = std::strtol(cursor, &end, 10);
            if (end == cursor)
                break;
            children.push_back(static_cast<pid_t>(value));
            cursor = end;
        }
    }
    ::closedir(dir);
    return found;
}

// The direct children of this program with their /proc entries.
std::vector<ProcEntry> OwnChildren(bool &haveLists)
{
    std::vector<ProcEntry> result;
    const pid_t self = ::getpid();
    std::vector<pid_t> pids;
    haveLists = ReadChildren(self, pids);
    if (haveLists) {
        for (pid_t p : pids) {
            ProcEntry e;
            if (ReadStat(p, e) && e.ppid == self)
                result.push_back(e);
        }
    } else {
        for (const ProcEntry &e : TakeSnapshot())
            if (e.ppid == self)
                result.push_back(e);
    }
    return result;
}

// What a process's birth environment says of its origin.
enum class Origin { Lisp, Own, OtherSession };

Origin ReadOrigin(pid_t pid, const std::string &ownSession)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/environ", static_cast<int>(pid));
    std::string data;
    if (!ReadWholeFile(path, data))
        return Origin::Lisp;   // unreadable (another user's program, say): not one of ours
    const std::string &own = CProcessTree::OwnMark();
    const size_t sessionPrefix = sizeof kSessionVariable;   // name plus '='
    size_t pos = 0;
    while (pos < data.size()) {
        size_t end = data.find('\0', pos);
        if (end == std::string::npos)
            end = data.size();
        const std::string_view item(data.data() + pos, end - pos);
        if (item == own)
            return Origin::Own;
        if (item.size() > sessionPrefix && item.compare(0, sessionPrefix - 1, kSessionVariable) == 0
            && item[sessionPrefix - 1] == '=' && item != ownSession) {
            if (IsLiveSessionMark(std::string(item)))
                return Origin::OtherSession;
        }
        pos = end + 1;
    }
    return Origin::Lisp;
}

bool IsStoppedOrGone(char state)
{
    return state == 'T' || state == 't' || state == 'Z' || state == 'X' || state == 'x';
}

bool IsGone(char state)
{
    return state == 'Z' || state == 'X' || state == 'x';
}

// Reaps one ended child of this program, pinned by a pidfd and checked by its start time, so that
// nothing else is reaped should the pid have been reaped and reused meanwhile.
bool ReapExact(const ProcEntry &entry)
{
    const int pidfd = PidfdOpen(entry.pid);
    ProcEntry now;
    bool reaped = false;
    if (ReadStat(entry.pid, now) && now.start == entry.start && now.ppid == ::getpid()) {
        siginfo_t info{};
        if (pidfd >= 0 && ::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd), &info,
                                   WEXITED | WNOHANG) == 0) {
            reaped = info.si_pid != 0;
        } else if (pidfd < 0 || errno == EINVAL) {
            int status = 0;
            reaped = ::waitpid(entry.pid, &status, WNOHANG) == entry.pid;
        }
    }
    if (pidfd >= 0)
        ::close(pidfd);
    return reaped;
}

void SleepMicroseconds(long us)
{
    timespec ts{0, us * 1000};
    ::nanosleep(&ts, nullptr);
}

// Whether a process's birth environment holds an entry that starts with prefix.
bool HasEntryWithPrefix(pid_t pid, const std::string &prefix)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/environ", static_cast<int>(pid));
    std::string data;
    if (!ReadWholeFile(path, data))
        return false;
    for (size_t pos = 0; pos < data.size();) {
        size_t end = data.find('\0', pos);
        if (end == std::string::npos)
            end = data.size();
        if (data.compare(pos, prefix.size(), prefix) == 0)
            return true;
        pos = end + 1;
    }
    return false;
}

// Sends sig to the process entry names: pinned by a pidfd first, then checked by its start time to
// be the same process, so that no reused id is hit. False when it is no longer that process.
bool SignalSameProcess(const ProcEntry &entry, int sig)
{
    const int pidfd = PidfdOpen(entry.pid);
    ProcEntry now;
    const bool same = ReadStat(entry.pid, now) && now.start == entry.start;
    if (same) {
        if (pidfd >= 0)
            PidfdSignal(pidfd, sig);
        else
            ::kill(entry.pid, sig);
    }
    if (pidfd >= 0)
        ::close(pidfd);
    return same;
}

// Ends every process that carries a session mark of the program whose marks start with prefix,
// round after round until none is found, for at most a few seconds.
void EndMarkedProcesses(const std::string &prefix)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(3000);
    for (bool found = true; found && Clock::now() < deadline;) {
        found = false;
        for (const ProcEntry &e : TakeSnapshot()) {
            if (IsGone(e.state) || e.pid == ::getpid() || !HasEntryWithPrefix(e.pid, prefix))
                continue;
            if (SignalSameProcess(e, SIGKILL))
                found = true;
        }
        if (found)
            SleepMicroseconds(20000);
    }
}

} // namespace

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

const std::string &CProcessTree::OwnMark()
{
    static const std::string mark = std::string(kOwnVariable) + "=" + std::to_string(::getpid());
    return mark;
}

const char *CProcessTree::SessionVariable() { return kSessionVariable; }

void CProcessTree::Prepare()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
        const std::string &mark = OwnMark();
        ::setenv(kOwnVariable, mark.c_str() + sizeof kOwnVariable, 1);
    });
}

void CProcessTree::GuardSessions()
{
    static std::once_flag once;
    std::call_once(once, [] {
        int link[2];
        if (::pipe2(link, O_CLOEXEC) != 0)
            return;
        const pid_t program = ::getpid();
        const pid_t guard = ::fork();
        if (guard != 0) {
            // The program keeps the writing end open until it ends, however it ends.
            ::close(link[0]);
            if (guard < 0)
                ::close(link[1]);
            return;
        }
        ::close(link[1]);
        // In the program's process group (so that no Lisp session takes it for one of its own),
        // deaf to what asks the program to end, holding no terminal and no folder.
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE})
            ::signal(sig, SIG_IGN);
        const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        for (int fd = 0; fd <= 2 && null >= 0; ++fd)
            ::dup2(null, fd);
        [[maybe_unused]] const int rc = ::chdir("/");
        char byte;
        while (::read(link[0], &byte, 1) < 0 && errno == EINTR) {
        }
        EndMarkedProcesses(std::string(kSessionVariable) + "=" + std::to_string(program) + ".");
        ::_exit(0);
    });
}

CProcessTree::~CProcessTree() { Forget(); }

void CProcessTree::Forget()
{
    if (m_child > 0) {
        std::lock_guard lock(g_registryMutex);
        auto it = g_liveChildren.find(m_child);
        if (it != g_liveChildren.end() && it->second == m_strMarker)
            g_liveChildren.erase(it);
    }
}

void CProcessTree::Reset(pid_t child, int pidfd, std::string marker)
{
    Forget();
    m_child = child;
    m_pidfd = pidfd;
    m_bChildReaped = false;
    m_strMarker = std::move(marker);
    m_adopted.clear();
    m_foreign.clear();
    std::lock_guard lock(g_registryMutex);
    g_liveChildren[child] = m_strMarker;
}

// The direct child goes through its pidfd; any other process is first pinned by a pidfd of its
// own and checked to be the same process (start time), so no signal reaches a reused pid.
void CProcessTree::Signal(const ProcEntry &entry, int sig)
{
    if (entry.pid == m_child) {
        if (m_bChildReaped)
            return;
        if (m_pidfd >= 0)
            PidfdSignal(m_pidfd, sig);
        else
            ::kill(m_child, sig);
        return;
    }
    SignalSameProcess(entry, sig);
}

// Whether a child of this program belongs to the session: the direct child, or an adopted
// process that this program did not start itself and no other running session claims.
bool CProcessTree::IsSessionRoot(const ProcEntry &e)
{
    if (e.pid == m_child)
        return !m_bChildReaped;
    if (IsLiveChild(e.pid) || e.pgrp == ::getpgrp() || IsGone(e.state))
        return false;
    auto known = m_adopted.find(e.pid);
    if (known != m_adopted.end() && known->second == e.start)
        return true;
    auto foreign = m_foreign.find(e.pid);
    if (foreign != m_foreign.end() && foreign->second == e.start)
        return false;
    if (ReadOrigin(e.pid, m_strMarker) == Origin::Lisp) {
        m_adopted[e.pid] = e.start;
        return true;
    }
    m_foreign[e.pid] = e.start;   // a process's birth environment does not change
    return false;
}

// Every process of this session, children before their parent (the order in which the tree is
// ended): the descendants of the child, and of the processes the program adopted.
std::vector<ProcEntry> CProcessTree::Collect()
{
    std::vector<ProcEntry> order;
    bool haveLists = false;
    std::vector<ProcEntry> roots;
    for (const ProcEntry &e : OwnChildren(haveLists))
        if (IsSessionRoot(e))
            roots.push_back(e);

    if (haveLists) {
        // Walk down from the roots through the kernel's per-thread child lists.
        std::vector<std::pair<ProcEntry, bool>> stack;
        for (const ProcEntry &e : roots)
            stack.emplace_back(e, false);
        std::map<pid_t, bool> seen;
        std::vector<pid_t> children;
        while (!stack.empty()) {
            auto [entry, expanded] = stack.back();
            stack.pop_back();
            if (expanded) {
                order.push_back(entry);
                continue;
            }
            if (!seen.emplace(entry.pid, true).second)
                continue;
            stack.emplace_back(entry, true);
            ReadChildren(entry.pid, children);
            for (pid_t c : children) {
                ProcEntry e;
                if (ReadStat(c, e))
                    stack.emplace_back(e, false);
            }
        }
        return order;
    }

    // Without child lists: one pass over all of /proc.
    const std::vector<ProcEntry> snapshot = TakeSnapshot();
    std::multimap<pid_t, size_t> children;
    for (size_t i = 0; i < snapshot.size(); ++i)
        children.emplace(snapshot[i].ppid, i);
    std::vector<std::pair<size_t, bool>> stack;
    for (const ProcEntry &root : roots)
        for (size_t i = 0; i < snapshot.size(); ++i)
            if (snapshot[i].pid == root.pid)
                stack.emplace_back(i, false);
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

bool CProcessTree::ReapChild()
{
    if (m_child <= 0 || m_bChildReaped)
        return m_bChildReaped;
    int status = 0;
    if (::waitpid(m_child, &status, WNOHANG) != m_child)
        return false;
    m_bChildReaped = true;
    Forget();
    return true;
}

void CProcessTree::ReapOrphans()
{
    const pid_t group = ::getpgrp();
    bool haveLists = false;
    for (const ProcEntry &e : OwnChildren(haveLists)) {
        // A session's direct child is reaped by its session, and the program's own children
        // (its process group) by whoever started them.
        if (IsGone(e.state) && e.pgrp != group && !IsLiveChild(e.pid))
            ReapExact(e);
    }
}

void CProcessTree::KillAndReap()
{
    if (m_child <= 0)
        return;
    const pid_t self = ::getpid();

    // Freeze the tree first: a stopped process cannot start new ones, so the snapshot that finds
    // every member stopped is complete. Processes that appear meanwhile are found on the next round.
    std::map<pid_t, ProcEntry> members;
    std::vector<ProcEntry> order;
    const auto freezeDeadline = Clock::now() + std::chrono::milliseconds(1000);
    for (;;) {
        order = Collect();
        bool grew = false, allStopped = true;
        for (const ProcEntry &e : order) {
            auto [it, added] = members.emplace(e.pid, e);
            if (added || it->second.start != e.start) {
                it->second = e;
                grew = true;
                Signal(e, SIGSTOP);
            } else if (!IsStoppedOrGone(e.state)) {
                allStopped = false;
            }
        }
        if ((!grew && allStopped) || Clock::now() > freezeDeadline)
            break;
        if (!grew)
            SleepMicroseconds(200);
    }

    // Leaves first, each before its parent; then whatever was frozen but left the lists meanwhile
    // (a kill reaches a stopped process, which would otherwise stay stopped for good).
    for (const ProcEntry &e : order)
        Signal(e, SIGKILL);
    for (const auto &[pid, e] : members)
        if (std::none_of(order.begin(), order.end(), [&](const ProcEntry &o) { return o.pid == pid; }))
            Signal(e, SIGKILL);
    if (!m_bChildReaped && members.find(m_child) == members.end()) {
        // Not in the snapshot (no /proc): the child itself is still ours to end.
        ProcEntry child;
        child.pid = m_child;
        Signal(child, SIGKILL);
        members.emplace(m_child, child);
    }

    // Reap: the child, and every member that is or becomes a child of this program once its own
    // parent has died.
    const auto reapDeadline = Clock::now() + std::chrono::milliseconds(3000);
    while (!members.empty()) {
        for (auto it = members.begin(); it != members.end();) {
            if (it->first == m_child) {
                if (ReapChild() || m_bChildReaped)
                    it = members.erase(it);
                else
                    ++it;
                continue;
            }
            ProcEntry e;
            if (!ReadStat(it->first, e) || e.start != it->second.start) {
                m_adopted.erase(it->first);
                it = members.erase(it);
            } else if (e.ppid == self && IsGone(e.state) && ReapExact(e)) {
                m_adopted.erase(it->first);
                it = members.erase(it);
            } else {
                ++it;
            }
        }
        if (members.empty() || Clock::now() > reapDeadline)
            break;
        SleepMicroseconds(300);
    }
}

} // namespace platform
