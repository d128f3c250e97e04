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

#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

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

// The children of a process from the kernel's per-thread lists; false when the kernel has none.
bool ReadChildren(pid_t pid, std::vector<pid_t> &children)
{
    children.clear();
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/task", static_cast<int>(pid));
    DIR *dir = ::opendir(path);
    if (!dir)
        return pid != ::getpid();   // a process that is gone has no children
    bool found = true;
    while (dirent *item = ::readdir(dir)) {
        if (item->d_name[0] < '1' || item->d_name[0] > '9')
            continue;
        char file[320];
        std::snprintf(file, sizeof file, "/proc/%d/task/%s/children", static_cast<int>(pid),
                      item->d_name);
        char buffer[4096];
        size_t length = 0;
        if (!ReadFileInto(file, buffer, sizeof buffer - 1, length)) {
            if (errno == ENOENT && pid == ::getpid())
                found = false;   // no child lists in this kernel
            continue;
        }
        buffer[length] = '\0';
        char *cursor = buffer;
        while (*cursor) {
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


void SleepMicroseconds(long us)
{
    timespec ts{0, us * 1000};
    ::nanosleep(&ts, nullptr);
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

bool ReadProcEntry(pid_t pid, ProcEntry &entry) { return ReadStat(pid, entry); }

void CProcessTree::BecomeSubreaper()
{
    static std::once_flag once;
    std::call_once(once, [] { ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0); });
}

void CProcessTree::Reset(pid_t child, int pidfd, std::string marker)
{
    m_child = child;
    m_pidfd = pidfd;
    m_strMarker = std::move(marker);
    m_adopted.clear();
    m_foreign.clear();
}

// The direct child goes through its pidfd; any other process is first pinned by a pidfd of its
// own and checked to be the same process (start time), so no signal reaches a reused pid.
void CProcessTree::Signal(const ProcEntry &entry, int sig)
{
    if (entry.pid == m_child && m_pidfd >= 0) {
        PidfdSignal(m_pidfd, sig);
        return;
    }
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

// Whether a child of this process belongs to the session: the child itself, or an orphan of the
// session (known, or carrying the session's mark in its environment).
bool CProcessTree::IsSessionRoot(const ProcEntry &e, bool readMarks)
{
    if (e.pid == m_child)
        return true;
    auto known = m_adopted.find(e.pid);
    if (known != m_adopted.end() && known->second == e.start)
        return true;
    auto foreign = m_foreign.find(e.pid);
    if (foreign != m_foreign.end() && foreign->second == e.start)
        return false;
    if (!readMarks || e.state == 'Z')
        return false;
    if (HasEnvironmentEntry(e.pid, m_strMarker)) {
        m_adopted[e.pid] = e.start;
        return true;
    }
    m_foreign[e.pid] = e.start;   // a process's birth environment does not change
    return false;
}

// Every process of this session, children before their parent (the order in which the tree is
// ended): the descendants of the child, and of the session's orphans.
std::vector<ProcEntry> CProcessTree::Collect(bool readMarks)
{
    const pid_t self = ::getpid();
    std::vector<ProcEntry> order;
    std::vector<pid_t> own;
    if (ReadChildren(self, own)) {
        // Walk down from the roots through the kernel's per-thread child lists.
        std::vector<std::pair<ProcEntry, bool>> stack;
        for (pid_t p : own) {
            ProcEntry e;
            if (ReadStat(p, e) && IsSessionRoot(e, readMarks))
                stack.emplace_back(e, false);
        }
        std::vector<pid_t> seen;
        while (!stack.empty()) {
            auto [entry, expanded] = stack.back();
            stack.pop_back();
            if (expanded) {
                order.push_back(entry);
                continue;
            }
            if (std::find(seen.begin(), seen.end(), entry.pid) != seen.end())
                continue;
            seen.push_back(entry.pid);
            stack.emplace_back(entry, true);
            std::vector<pid_t> children;
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
    for (size_t i = snapshot.size(); i-- > 0;)
        if (snapshot[i].ppid == self && IsSessionRoot(snapshot[i], readMarks))
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

void CProcessTree::ReapOrphans()
{
    if (m_child <= 0)
        return;
    const pid_t self = ::getpid();
    Collect(true);   // records the session's orphans among this process's children
    for (auto it = m_adopted.begin(); it != m_adopted.end();) {
        ProcEntry e;
        if (!ReadStat(it->first, e) || e.start != it->second) {
            it = m_adopted.erase(it);
        } else if (e.state == 'Z' && e.ppid == self) {
            int status = 0;
            ::waitpid(it->first, &status, WNOHANG);
            it = m_adopted.erase(it);
        } else {
            ++it;
        }
    }
}

bool CProcessTree::KillAndReap()
{
    if (m_child <= 0)
        return false;
    bool reaped = false;
    const pid_t self = ::getpid();

    // Freeze the tree first: a stopped process cannot start new ones, so the snapshot that finds
    // every member stopped is complete. Processes that appear meanwhile are found on the next round.
    std::map<pid_t, unsigned long long> members;
    std::vector<ProcEntry> order;
    const auto freezeDeadline = Clock::now() + std::chrono::milliseconds(500);
    for (bool first = true;; first = false) {
        order = Collect(true);
        bool grew = false, allStopped = true;
        for (const ProcEntry &e : order) {
            auto [it, added] = members.emplace(e.pid, e.start);
            if (added || it->second != e.start) {
                it->second = e.start;
                grew = true;
                Signal(e, SIGSTOP);
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
        Signal(e, SIGKILL);
    }
    if (members.find(m_child) == members.end()) {
        // Not in the snapshot (no /proc): the child itself is still ours to end.
        if (m_pidfd >= 0)
            PidfdSignal(m_pidfd, SIGKILL);
        else
            ::kill(m_child, SIGKILL);
        members.emplace(m_child, 0);
    }

    // Reap: the child, and every member that is or becomes a child of this process once its own
    // parent has died.
    const auto reapDeadline = Clock::now() + std::chrono::milliseconds(1500);
    while (!members.empty()) {
        for (auto it = members.begin(); it != members.end();) {
            int status = 0;
            if (it->first == m_child) {
                if (::waitpid(m_child, &status, WNOHANG) != 0) {
                    reaped = true;
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
    return reaped;
}

} // namespace platform
