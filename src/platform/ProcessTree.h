// The process tree of one Lisp session on POSIX systems: finding, freezing, ending and reaping it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

namespace platform {

// One process as /proc shows it.
struct ProcEntry
{
    pid_t pid = 0;
    pid_t ppid = 0;
    char state = '?';
    unsigned long long start = 0;   // start time since boot, clock ticks: tells a reused pid apart
};

// The session's processes are the direct child, its descendants, and descendants that were
// orphaned: this program is a child subreaper, so those become its own children, and they are
// told apart from unrelated children by the session mark in their environment.
class CProcessTree
{
public:
    // Makes this program the child subreaper of everything it starts (once per program).
    static void BecomeSubreaper();

    void Reset(pid_t child, int pidfd, std::string marker);

    // Every process of the session now, children before their parent.
    std::vector<ProcEntry> Collect(bool readMarks);

    // Freezes the whole tree, ends it leaves first and reaps every member that is or becomes a
    // child of this program. True when the direct child was reaped. Bounded to about 2 s.
    bool KillAndReap();

    // Reaps orphans of the session that have ended.
    void ReapOrphans();

private:
    bool IsSessionRoot(const ProcEntry &entry, bool readMarks);
    void Signal(const ProcEntry &entry, int sig);

    pid_t m_child = -1;
    int m_pidfd = -1;                                  // not owned
    std::string m_strMarker;                           // "NAME=value" as in the environment
    std::map<pid_t, unsigned long long> m_adopted;     // the session's orphans: pid -> start time
    std::map<pid_t, unsigned long long> m_foreign;     // children known not to be the session's
};

// Reads /proc/<pid>/stat; false when the process is gone.
bool ReadProcEntry(pid_t pid, ProcEntry &entry);

int PidfdOpen(pid_t pid);
int PidfdSignal(int pidfd, int sig);

} // namespace platform
