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
    pid_t pgrp = 0;
    char state = '?';
    unsigned long long start = 0;   // start time since boot, clock ticks: tells a reused pid apart
};

// The session's processes are the direct child, its descendants, and every process that this
// program adopted: it is a child subreaper, so descendants orphaned by a Lisp become its own
// children. A child of this program that it did not start itself came from a Lisp session,
// unless it carries the program's own mark in its environment (everything the program starts by
// other routes inherits it, the Lisps never do), sits in the program's own process group, or
// carries the mark of another Lisp session that still runs.
class CProcessTree
{
public:
    // Makes this program the child subreaper of everything it starts and puts its own mark into
    // its environment. Once per program; best called before other threads start.
    static void Prepare();
    // Starts a small process that waits for this program to end, however it ends, and then ends
    // every process still carrying one of its sessions' marks: the descendants of a Lisp that a
    // killed program could not end itself. Once per program, while it has a single thread (the
    // process is a copy of the program that runs without an exec).
    static void GuardSessions();
    // The environment entry ("NAME=value") that marks processes this program started itself.
    static const std::string &OwnMark();
    // The name part of the session marks given to the Lisps' environments.
    static const char *SessionVariable();

    CProcessTree() = default;
    ~CProcessTree();
    CProcessTree(const CProcessTree &) = delete;
    CProcessTree &operator=(const CProcessTree &) = delete;

    // A new direct child, with its pidfd (not owned; -1 without pidfds) and its session mark.
    void Reset(pid_t child, int pidfd, std::string marker);

    // Every process of the session now, children before their parent.
    std::vector<ProcEntry> Collect();

    // Freezes the whole tree, ends it leaves first and reaps every member that is or becomes a
    // child of this program. Bounded to a few seconds.
    void KillAndReap();

    // Reaps the direct child once it has ended. True when it is reaped (now or before).
    bool ReapChild();

    // Reaps every ended child of this program that no one else waits for: adopted orphans of any
    // Lisp session, and of any other part of the program. Cheap enough for a few times a second.
    static void ReapOrphans();

private:
    bool IsSessionRoot(const ProcEntry &entry);
    void Signal(const ProcEntry &entry, int sig);
    void Forget();

    pid_t m_child = -1;
    int m_pidfd = -1;                                  // not owned
    bool m_bChildReaped = false;
    std::string m_strMarker;                           // "NAME=value" as in the environment
    std::map<pid_t, unsigned long long> m_adopted;     // verdicts for children of this program:
    std::map<pid_t, unsigned long long> m_foreign;     // pid -> start time
};

int PidfdOpen(pid_t pid);
int PidfdSignal(int pidfd, int sig);

} // namespace platform
