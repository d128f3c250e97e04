// Windows process layer: overlapped pipes, one wait for all events, the tree held by a job.
//
// The program's ends of both pipes are overlapped named-pipe handles; the child's ends are plain
// synchronous handles, as an anonymous pipe would give it. Overlapped I/O lets the one I/O thread
// do what poll() does on POSIX: a read is always in flight, so output wakes the thread the moment
// it arrives, and a write is handed to the system and finishes while the thread goes on, so no
// call ever blocks on a full pipe. Anonymous pipes can do neither.
#include "platform/JobTree.h"
#include "platform/Process.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>

namespace platform {

namespace {

constexpr DWORD kOutputPipeSize = 1u << 20;
constexpr DWORD kInputPipeSize = 64u << 10;
constexpr DWORD kReadChunk = 64u << 10;    // what the read in flight takes at most
constexpr DWORD kWriteChunk = 64u << 10;   // what one write in flight carries at most

// After the child ended, how long a read still in flight may take to see the pipe's end. Windows
// closes a process's handles before it reports its end; wine reports the two separately, and on
// a busy machine the pipe's end can follow a good while later. Wake() cuts the wait short.
constexpr DWORD kEndOfOutputWait = 2000;

// Child ends are made inheritable only inside this lock, so that two starts never hand each
// other's pipe ends to their children.
std::mutex g_startMutex;
// Attaching to a child's console is a change of the whole program's state.
std::mutex g_consoleMutex;
std::atomic<unsigned> g_pipeCounter{0};

void CloseHandleOnce(HANDLE &h)
{
    if (h && h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    h = nullptr;
}

bool IsPipeEnd(DWORD error)
{
    return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA || error == ERROR_PIPE_NOT_CONNECTED;
}

// One pipe: the program's end overlapped, the child's end synchronous and not inheritable (yet).
// The name is unique and hard to guess, and only the first instance may be created under it, so
// no other process can stand in for either end.
bool CreatePipePair(bool childWrites, DWORD size, HANDLE &programEnd, HANDLE &childEnd, DWORD &error)
{
    static const unsigned long long salt = std::random_device{}();
    char name[96];
    std::snprintf(name, sizeof name, "\\\\.\\pipe\\talvex-%lu-%u-%llx",
                  static_cast<unsigned long>(GetCurrentProcessId()), ++g_pipeCounter, salt);
    const DWORD direction = childWrites ? PIPE_ACCESS_INBOUND : PIPE_ACCESS_OUTBOUND;
    programEnd = CreateNamedPipeA(name, direction | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                  PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                  1, childWrites ? 0 : size, childWrites ? size : 0, 0, nullptr);
    if (programEnd == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        programEnd = nullptr;
        return false;
    }
    // The attribute rights let the child ask about and set up its end, as it may with an
    // anonymous pipe.
    const DWORD access = childWrites ? GENERIC_WRITE | FILE_READ_ATTRIBUTES
                                     : GENERIC_READ | FILE_WRITE_ATTRIBUTES;
    childEnd = CreateFileA(name, access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (childEnd == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        childEnd = nullptr;
        CloseHandleOnce(programEnd);
        return false;
    }
    return true;
}

// An overlapped operation with its own event and buffer. The OVERLAPPED and the buffer must stay
// where they are until the operation has completed.
struct Overlapped
{
    OVERLAPPED ov{};
    std::unique_ptr<char[]> buffer;
    bool pending = false;

    bool Create(DWORD bufferSize)
    {
        ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        buffer = std::make_unique_for_overwrite<char[]>(bufferSize);
        return ov.hEvent != nullptr;
    }
    void Reset()
    {
        const HANDLE event = ov.hEvent;
        ov = OVERLAPPED{};
        ov.hEvent = event;
    }
    bool Completed() const { return !pending || HasOverlappedIoCompleted(&ov); }
    // Cancels an operation in flight and waits until the system is done with the buffer.
    void Cancel(HANDLE file)
    {
        if (!pending)
            return;
        CancelIoEx(file, &ov);
        DWORD n = 0;
        GetOverlappedResult(file, &ov, &n, TRUE);
        pending = false;
    }
    // Only when no operation is in flight.
    void Close()
    {
        if (ov.hEvent)
            CloseHandle(ov.hEvent);
        ov = OVERLAPPED{};
        buffer.reset();
    }
    ~Overlapped() { Close(); }
};

// Raises the console's interrupt for the group led by processId, on the console this program is
// attached to: Ctrl+Break, which a process in a new group always receives. Where the system cannot
// raise it (wine implements only Ctrl+C), Ctrl+C to the same group, which reaches the processes of
// the group that take Ctrl+C (a process in a new group must ask for it).
bool RaiseInterrupt(DWORD processId)
{
    return GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, processId)
        || GenerateConsoleCtrlEvent(CTRL_C_EVENT, processId);
}

// The console's interrupt reaches only processes attached to the console it is raised on. This
// program (a GUI program) has no console, and the child was given one of its own, so the program
// joins the child's console for the moment it takes. Joining may replace the standard handles;
// they are put back as they were.
bool SendBreak(DWORD processId)
{
    std::lock_guard lock(g_consoleMutex);
    const DWORD streams[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE saved[3];
    for (int i = 0; i < 3; ++i)
        saved[i] = GetStdHandle(streams[i]);
    auto restore = [&] {
        for (int i = 0; i < 3; ++i)
            SetStdHandle(streams[i], saved[i]);
    };
    if (AttachConsole(processId)) {
        const bool sent = RaiseInterrupt(processId);
        FreeConsole();
        restore();
        return sent;
    }
    if (GetLastError() != ERROR_ACCESS_DENIED)
        return false;
    // A program with a console of its own (a console build, a test): if the child shares it,
    // the interrupt goes straight there; otherwise the program changes consoles and comes back
    // to its own through another process attached to it.
    DWORD ids[64];
    const DWORD count = GetConsoleProcessList(ids, 64);
    DWORD peer = 0;
    for (DWORD i = 0; i < std::min<DWORD>(count, 64); ++i) {
        if (ids[i] == processId)
            return RaiseInterrupt(processId);
        if (ids[i] != GetCurrentProcessId())
            peer = ids[i];
    }
    FreeConsole();
    bool sent = false;
    if (AttachConsole(processId)) {
        sent = RaiseInterrupt(processId);
        FreeConsole();
    }
    if (peer)
        AttachConsole(peer);
    restore();
    return sent;
}

} // namespace

struct CChildProcess::Impl
{
    HANDLE process = nullptr;
    DWORD processId = 0;
    HANDLE input = nullptr;    // the program's end of the child's standard input
    HANDLE output = nullptr;   // the program's end of the child's standard output and error
    HANDLE wake = nullptr;     // auto-reset event that Wake() sets
    CJobTree job;
    std::mutex treeMutex;      // KillProcessTree against itself
    std::atomic<bool> exited{false};
    bool exitReported = false;   // a Wait has returned childExited since the child ended
    bool settled = false;        // after the end, the output was waited for in vain once

    Overlapped read;
    DWORD readCount = 0;       // bytes of read.buffer that hold output
    DWORD readOffset = 0;      // of which this many were handed out
    bool outputEnded = false;  // the pipe broke: every writer is gone
    DWORD readError = 0;       // a read failed otherwise

    Overlapped write;
    bool inputBroken = false;  // the child's end is gone

    bool CheckExited()
    {
        if (!exited && process && WaitForSingleObject(process, 0) == WAIT_OBJECT_0)
            exited = true;
        return exited;
    }

    // Takes the result of a read that has completed.
    void FinishRead()
    {
        if (!read.pending || !HasOverlappedIoCompleted(&read.ov))
            return;
        read.pending = false;
        DWORD n = 0;
        if (GetOverlappedResult(output, &read.ov, &n, FALSE)) {
            readCount = n;
            readOffset = 0;
            return;
        }
        const DWORD error = GetLastError();
        if (IsPipeEnd(error))
            outputEnded = true;
        else if (error != ERROR_OPERATION_ABORTED)
            readError = error;
    }

    // Keeps one read in flight while the output is open and nothing read waits to be taken.
    void StartRead()
    {
        FinishRead();
        if (read.pending || !output || outputEnded || readError || readOffset < readCount)
            return;
        read.Reset();
        readCount = readOffset = 0;
        if (ReadFile(output, read.buffer.get(), kReadChunk, nullptr, &read.ov)) {
            read.pending = true;   // completed at once; FinishRead takes the count
            return;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_IO_PENDING)
            read.pending = true;
        else if (IsPipeEnd(error))
            outputEnded = true;
        else
            readError = error;
    }

    bool OutputReady()
    {
        StartRead();
        FinishRead();
        return readOffset < readCount || outputEnded || readError;
    }

    // Once the child has ended, the read in flight holds its last output or meets the pipe's
    // end, unless a descendant holds the pipe open: waits for that, so that what is counted or
    // read then is all the child wrote.
    // Waits once: a pipe still open after that stays open.
    void SettleAfterExit()
    {
        if (!read.pending || settled || !CheckExited())
            return;
        const HANDLE events[2] = {read.ov.hEvent, wake};
        const DWORD woken = WaitForMultipleObjects(2, events, FALSE, kEndOfOutputWait);
        if (woken == WAIT_OBJECT_0 + 1)
            SetEvent(wake);   // still due for the next Wait
        else if (woken == WAIT_TIMEOUT)
            settled = true;
        FinishRead();
    }

    // Output still in the pipe beyond what the read in flight took.
    DWORD PipeAvailable()
    {
        DWORD available = 0;
        if (!output || !PeekNamedPipe(output, nullptr, 0, nullptr, &available, nullptr))
            return 0;
        return available;
    }
};

CChildProcess::CChildProcess() : m_pImpl(std::make_unique<Impl>()) {}

CChildProcess::~CChildProcess()
{
    Impl &d = *m_pImpl;
    d.read.Cancel(d.output);
    d.write.Cancel(d.input);
    CloseHandleOnce(d.input);
    CloseHandleOnce(d.output);
    CloseHandleOnce(d.wake);
    CloseHandleOnce(d.process);
    // The job closes with Impl: whatever is left of the tree ends with it.
}

bool CChildProcess::Start(const std::string &commandLine, unsigned long &errorCode, Streams streams)
{
    (void)streams;   // no pseudo-terminal here: the Lisp gets pipes
    Impl &d = *m_pImpl;
    errorCode = 0;
    if (d.process) {
        errorCode = ERROR_BUSY;
        return false;
    }
    if (commandLine.find_first_not_of(" \t") == std::string::npos) {
        errorCode = ERROR_FILE_NOT_FOUND;
        return false;
    }
    // The folder of the program becomes this program's current folder, and the child's.
    const CommandLineParts parts = SplitCommandLine(commandLine);
    if (!parts.folder.empty())
        SetCurrentDirectoryA(parts.folder.c_str());

    HANDLE childIn = nullptr, childOut = nullptr, childErr = nullptr;
    DWORD error = 0;
    auto fail = [&](DWORD code) {
        errorCode = code;
        CloseHandleOnce(childIn);
        CloseHandleOnce(childOut);
        CloseHandleOnce(childErr);
        CloseHandleOnce(d.input);
        CloseHandleOnce(d.output);
        CloseHandleOnce(d.wake);
        d.read.Close();
        d.write.Close();
        d.job.Close();
        return false;
    };
    if (!CreatePipePair(true, kOutputPipeSize, d.output, childOut, error))
        return fail(error);
    if (!DuplicateHandle(GetCurrentProcess(), childOut, GetCurrentProcess(), &childErr, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return fail(GetLastError());
    if (!CreatePipePair(false, kInputPipeSize, d.input, childIn, error))
        return fail(error);
    d.wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!d.wake || !d.read.Create(kReadChunk) || !d.write.Create(kWriteChunk))
        return fail(GetLastError());
    const bool haveJob = d.job.Create();

    // Exactly the three standard handles go to the child, whatever else of this program is
    // inheritable at the moment.
    HANDLE inherited[3] = {childIn, childOut, childErr};
    SIZE_T listSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    auto listMemory = std::make_unique<char[]>(listSize);
    auto *attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listMemory.get());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &listSize))
        return fail(GetLastError());
    if (!UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                   sizeof inherited, nullptr, nullptr)) {
        error = GetLastError();
        DeleteProcThreadAttributeList(attributes);
        return fail(error);
    }
    STARTUPINFOEXA startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = childIn;
    startup.StartupInfo.hStdOutput = childOut;
    startup.StartupInfo.hStdError = childErr;
    startup.lpAttributeList = attributes;

    // The command line goes to the system as written: it finds the program the way a user of
    // this system expects, unquoted spaces and batch files included.
    std::string writable = commandLine;
    PROCESS_INFORMATION info{};
    BOOL created;
    {
        std::lock_guard lock(g_startMutex);
        for (HANDLE h : inherited)
            SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        created = CreateProcessA(nullptr, writable.data(), nullptr, nullptr, TRUE,
                                 CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED
                                     | EXTENDED_STARTUPINFO_PRESENT,
                                 nullptr, nullptr, &startup.StartupInfo, &info);
        error = GetLastError();
        for (HANDLE h : inherited)
            SetHandleInformation(h, HANDLE_FLAG_INHERIT, 0);
    }
    DeleteProcThreadAttributeList(attributes);
    if (!created)
        return fail(error);
    CloseHandleOnce(childIn);
    CloseHandleOnce(childOut);
    CloseHandleOnce(childErr);

    // Into the job before it runs, so that nothing it starts is outside.
    if (haveJob)
        d.job.Adopt(info.hProcess);
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    d.process = info.hProcess;
    d.processId = info.dwProcessId;
    d.exited = false;
    d.exitReported = false;
    d.settled = false;
    d.StartRead();
    return true;
}

WaitResult CChildProcess::Wait(int timeoutMs, bool wantOutput, bool wantInput)
{
    Impl &d = *m_pImpl;
    WaitResult result;
    HANDLE handles[4];
    DWORD n = 0;
    bool ready = false;
    if (d.wake)
        handles[n++] = d.wake;
    if (wantOutput && d.output) {
        if (d.OutputReady())
            ready = true;
        else
            handles[n++] = d.read.ov.hEvent;
    }
    if (wantInput && d.input) {
        if (d.write.Completed())
            ready = true;
        else
            handles[n++] = d.write.ov.hEvent;
    }
    // The end of the child wakes one wait; later waits only report it.
    if (d.process && !d.CheckExited())
        handles[n++] = d.process;
    else if (d.process && !d.exitReported)
        ready = true;
    const DWORD timeout = ready ? 0 : (timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    if (n > 0)
        WaitForMultipleObjects(n, handles, FALSE, timeout);
    else if (timeout > 0)
        Sleep(timeout);
    result.outputReady = wantOutput && d.output && d.OutputReady();
    result.inputReady = wantInput && d.input && d.write.Completed();
    result.childExited = d.CheckExited();
    d.exitReported = result.childExited;
    return result;
}

void CChildProcess::Wake()
{
    if (m_pImpl->wake)
        SetEvent(m_pImpl->wake);
}

size_t CChildProcess::OutputAvailable()
{
    Impl &d = *m_pImpl;
    d.StartRead();
    d.SettleAfterExit();
    return (d.readCount - d.readOffset) + d.PipeAvailable();
}

IoStatus CChildProcess::ReadOutput(char *data, size_t size, size_t &count, unsigned long &errorCode)
{
    Impl &d = *m_pImpl;
    count = 0;
    if (!d.output)
        return IoStatus::Closed;
    d.StartRead();
    d.SettleAfterExit();
    if (d.readOffset < d.readCount) {
        const DWORD take = static_cast<DWORD>(std::min<size_t>(size, d.readCount - d.readOffset));
        std::memcpy(data, d.read.buffer.get() + d.readOffset, take);
        d.readOffset += take;
        count = take;
        // What is in the pipe besides: read exactly that much, which completes at once.
        const DWORD more = static_cast<DWORD>(std::min<size_t>(d.PipeAvailable(), size - count));
        if (d.readOffset == d.readCount && more > 0) {
            d.read.Reset();
            DWORD n = 0;
            if (ReadFile(d.output, data + count, more, nullptr, &d.read.ov)
                || GetLastError() == ERROR_IO_PENDING) {
                if (GetOverlappedResult(d.output, &d.read.ov, &n, TRUE))
                    count += n;
            }
        }
        d.StartRead();
        return IoStatus::Ok;
    }
    if (d.readError) {
        errorCode = d.readError;
        return IoStatus::Error;
    }
    if (d.outputEnded)
        return IoStatus::Closed;
    return IoStatus::WouldBlock;
}

IoStatus CChildProcess::Write(const char *data, size_t length, size_t &written, unsigned long &errorCode)
{
    Impl &d = *m_pImpl;
    written = 0;
    if (!d.input || d.inputBroken)
        return IoStatus::Closed;
    if (d.write.pending) {
        if (!HasOverlappedIoCompleted(&d.write.ov))
            return IoStatus::WouldBlock;
        d.write.pending = false;
        DWORD n = 0;
        if (!GetOverlappedResult(d.input, &d.write.ov, &n, FALSE)) {
            const DWORD error = GetLastError();
            if (IsPipeEnd(error)) {
                d.inputBroken = true;
                return IoStatus::Closed;
            }
            errorCode = error;
            return IoStatus::Error;
        }
    }
    if (length == 0)
        return IoStatus::Ok;
    // The bytes move into a buffer of this layer and the system takes them from there as the
    // pipe has room; until then further writes wait.
    const DWORD take = static_cast<DWORD>(std::min<size_t>(length, kWriteChunk));
    std::memcpy(d.write.buffer.get(), data, take);
    d.write.Reset();
    if (!WriteFile(d.input, d.write.buffer.get(), take, nullptr, &d.write.ov)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            if (IsPipeEnd(error)) {
                d.inputBroken = true;
                return IoStatus::Closed;
            }
            errorCode = error;
            return IoStatus::Error;
        }
    }
    d.write.pending = true;
    written = take;
    return IoStatus::Ok;
}

void CChildProcess::CloseInput()
{
    Impl &d = *m_pImpl;
    d.write.Cancel(d.input);
    CloseHandleOnce(d.input);
}

bool CChildProcess::Interrupt()
{
    Impl &d = *m_pImpl;
    // The handle held keeps the id from going to another process while this one runs.
    if (!d.process || d.CheckExited())
        return false;
    return SendBreak(d.processId);
}

bool CChildProcess::ReapChild()
{
    // Nothing waits to be reaped here: the ended child's id stays reserved while the handle is
    // held (so the interrupt can never reach another process), and the handle goes with the object.
    return m_pImpl->CheckExited();
}

void CChildProcess::ReapOrphans()
{
    // An ended process leaves nothing behind once the last handle to it is closed, and this
    // program holds none to the Lisp's descendants.
}

void CChildProcess::KillProcessTree()
{
    Impl &d = *m_pImpl;
    if (!d.process)
        return;
    std::lock_guard lock(d.treeMutex);
    d.job.KillAll(d.process, d.processId);
    d.CheckExited();
}

// Each tree runs in a job that ends with its last handle, which the system closes however the
// program ends.
void GuardLispSessions() {}

} // namespace platform
