// Ending a Lisp's process tree on Windows: a snapshot walk, leaves first, then the job.
#include "platform/JobTree.h"

#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace platform {

namespace {

// The exit code of every process ended here.
constexpr UINT kKilledExitCode = 0xFFFFFFFE;

// How long KillAll waits for the ended processes to be gone.
constexpr auto kGoneWait = std::chrono::milliseconds(3000);

struct SnapshotEntry
{
    DWORD id;
    DWORD parentId;
};

std::vector<SnapshotEntry> TakeSnapshot()
{
    std::vector<SnapshotEntry> entries;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return entries;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        entries.push_back({entry.th32ProcessID, entry.th32ParentProcessID});
    CloseHandle(snapshot);
    return entries;
}

ULONGLONG CreationTime(HANDLE process)
{
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    return (ULONGLONG(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// A snapshot names parents by id only, and the id of a parent that has ended can be given to an
// unrelated process. A process counts as a child only when it was created after its parent.
class TreeWalk
{
public:
    explicit TreeWalk(std::vector<SnapshotEntry> entries) : m_entries(std::move(entries)) {}
    ~TreeWalk()
    {
        for (HANDLE h : m_ended)
            CloseHandle(h);
    }

    // Ends the descendants of parentId, each before its own parent.
    void EndDescendants(DWORD parentId, ULONGLONG parentCreated, int depth)
    {
        if (depth > 64)
            return;   // a cycle of reused ids; nothing real is that deep
        for (const SnapshotEntry &e : m_entries) {
            if (e.parentId != parentId || e.id == parentId || e.id == 0)
                continue;
            const HANDLE child = OpenProcess(
                PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, e.id);
            if (!child)
                continue;   // gone already, or not ours to end
            const ULONGLONG created = CreationTime(child);
            if (created == 0 || created < parentCreated) {
                CloseHandle(child);
                continue;
            }
            EndDescendants(e.id, created, depth + 1);
            TerminateProcess(child, kKilledExitCode);
            m_ended.push_back(child);
        }
    }

    const std::vector<HANDLE> &Ended() const { return m_ended; }

private:
    std::vector<SnapshotEntry> m_entries;
    std::vector<HANDLE> m_ended;
};

} // namespace

CJobTree::~CJobTree()
{
    Close();
}

void CJobTree::Close()
{
    if (m_hJob)
        CloseHandle(m_hJob);
    m_hJob = nullptr;
    m_bAdopted = false;
}

bool CJobTree::Create()
{
    m_hJob = CreateJobObjectA(nullptr, nullptr);
    if (!m_hJob)
        return false;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(m_hJob, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(m_hJob);
        m_hJob = nullptr;
        return false;
    }
    return true;
}

bool CJobTree::Adopt(HANDLE process)
{
    m_bAdopted = m_hJob && AssignProcessToJobObject(m_hJob, process);
    return m_bAdopted;
}

void CJobTree::KillAll(HANDLE root, DWORD rootId)
{
    // Descendants end before their parents, in the order the snapshot lists them; whatever is
    // started after the snapshot, or cannot be connected to the root any more, ends with the job.
    TreeWalk walk(TakeSnapshot());
    walk.EndDescendants(rootId, CreationTime(root), 0);
    TerminateProcess(root, kKilledExitCode);
    if (m_bAdopted)
        TerminateJobObject(m_hJob, kKilledExitCode);

    const auto deadline = std::chrono::steady_clock::now() + kGoneWait;
    auto remainingMs = [&] {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        return static_cast<DWORD>(std::max<long long>(0, left.count()));
    };
    WaitForSingleObject(root, remainingMs());
    for (HANDLE h : walk.Ended())
        WaitForSingleObject(h, remainingMs());
    if (!m_bAdopted)
        return;
    // Processes the snapshot could not reach end with the job; the job knows when none is left.
    for (;;) {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
        if (!QueryInformationJobObject(m_hJob, JobObjectBasicAccountingInformation, &info,
                                       sizeof info, nullptr)
            || info.ActiveProcesses == 0 || remainingMs() == 0)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace platform
