// The process tree of one Lisp session on Windows: a job that holds it, and ending it leaves first.
#pragma once

#include <windows.h>

namespace platform {

// Every process the Lisp starts is created inside the job, so a descendant whose parent has
// already gone (and which a snapshot of parent ids can no longer connect to the Lisp) still ends
// with it. The job is created with kill-on-close: if this program ends without stopping the Lisp,
// the system ends the whole tree when the job's last handle closes.
class CJobTree
{
public:
    CJobTree() = default;
    ~CJobTree();   // closes the job: what is left of the tree ends with it
    CJobTree(const CJobTree &) = delete;
    CJobTree &operator=(const CJobTree &) = delete;

    // Creates the job; false when the system refuses one (the tree is then ended from snapshots
    // alone).
    bool Create();
    // Closes the job, ending what is in it.
    void Close();

    // Puts a process created suspended into the job before it runs. False when it cannot be
    // (an older system that does not nest jobs inside the one this program runs in).
    bool Adopt(HANDLE process);

    // Ends the process and its descendants found in a snapshot, leaves first, then everything
    // still in the job; waits a bounded time for all of them to be gone.
    void KillAll(HANDLE root, DWORD rootId);

private:
    HANDLE m_hJob = nullptr;
    bool m_bAdopted = false;
};

} // namespace platform
