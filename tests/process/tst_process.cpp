// The process layer and the redirector held to one contract on every system: real child processes.
#include "../CollectingRedirector.h"
#include "../FloodPattern.h"
#include "Check.h"
#include "lisp/CRedirector.h"
#include "platform/Process.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <tlhelp32.h>
#include <winternl.h>
#else
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "../PosixChild.h"
#endif

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using platform::CChildProcess;
using platform::IoStatus;

namespace {

const std::string kEnded = "\r\n<ERROR>: Child process ended\r\n";

// How long a stop of the Lisp, which ends its whole tree, may take (wine ends processes slowly).
#ifdef _WIN32
constexpr long long kStopMs = 5000;
#else
constexpr long long kStopMs = 1000;
#endif

#ifdef _WIN32
const char kChildName[] = "fakelisp.exe";

fs::path OwnFolder()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return fs::path(path).parent_path();
}

bool ProcessAlive(unsigned long id)
{
    const HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (!h)
        return false;
    const bool alive = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    CloseHandle(h);
    return alive;
}
#else
const char kChildName[] = "fakelisp";

fs::path OwnFolder() { return fs::read_symlink("/proc/self/exe").parent_path(); }

// The state letter and the parent of a process; false when there is no such process.
bool ReadStat(const std::string &id, char &state, long &parent)
{
    std::ifstream stat("/proc/" + id + "/stat");
    std::string line;
    if (!std::getline(stat, line) || line.rfind(')') == std::string::npos)
        return false;
    std::istringstream rest(line.substr(line.rfind(')') + 1));
    return static_cast<bool>(rest >> state >> parent);
}

// A zombie has ended: only its entry waits to be reaped.
bool ProcessAlive(unsigned long id)
{
    char state = 0;
    long parent = 0;
    return ReadStat(std::to_string(id), state, parent) && state != 'Z';
}

long ParentOf(unsigned long id)
{
    char state = 0;
    long parent = 0;
    return ReadStat(std::to_string(id), state, parent) ? parent : 0;
}

// Children of this program, an ended one that is not reaped yet included.
long OwnChildren()
{
    long count = 0;
    for (const auto &entry : fs::directory_iterator("/proc")) {
        char state = 0;
        long parent = 0;
        count += ReadStat(entry.path().filename().string(), state, parent) && parent == ::getpid();
    }
    return count;
}
#endif

// Threads of this program.
long OwnThreads()
{
#ifdef _WIN32
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    long count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
#else
    return std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator());
#endif
}

// Handles (descriptors) this program holds open. The system's handle table is asked, since a
// count of one's own handles is not offered everywhere (wine answers 0).
long OpenHandles()
{
#ifdef _WIN32
    struct Entry
    {
        PVOID object;
        ULONG_PTR processId;
        ULONG_PTR handle;
        ULONG access;
        USHORT creatorBackTrace;
        USHORT type;
        ULONG attributes;
        ULONG reserved;
    };
    struct Table
    {
        ULONG_PTR count;
        ULONG_PTR reserved;
        Entry entries[1];
    };
    constexpr auto kExtendedHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(64);
    constexpr NTSTATUS kLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
    std::vector<char> buffer(1u << 16);
    NTSTATUS status;
    while ((status = NtQuerySystemInformation(kExtendedHandleInformation, buffer.data(),
                                              static_cast<ULONG>(buffer.size()), nullptr))
           == kLengthMismatch)
        buffer.resize(buffer.size() * 2);
    if (status != 0)
        return -1;
    const auto *table = reinterpret_cast<const Table *>(buffer.data());
    long count = 0;
    for (ULONG_PTR i = 0; i < table->count; ++i)
        count += table->entries[i].processId == GetCurrentProcessId();
    return count;
#else
    long count = 0;
    for ([[maybe_unused]] const auto &entry : fs::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
#endif
}

// CPU time this program has used, in milliseconds.
long long CpuMs()
{
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME &t) {
        return static_cast<long long>(((ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000);
    };
    return ms(kernel) + ms(user);
#else
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
#endif
}

fs::path ChildPath() { return OwnFolder() / kChildName; }

std::string Quoted(const fs::path &path) { return "\"" + path.string() + "\""; }

void SetEnvironment(const char *name, const std::string &value)
{
#ifdef _WIN32
    SetEnvironmentVariableA(name, value.c_str());
#else
    ::setenv(name, value.c_str(), 1);
#endif
}

// The command line of the fake Lisp, which runs in mode with the given settings (FAKELISP_*
// variables) when started next: a child takes this program's environment.
std::string FakeLisp(const std::string &mode, const std::vector<std::pair<const char *, size_t>> &settings = {})
{
    SetEnvironment("FAKELISP_MODE", mode);
    for (const auto &[name, value] : settings)
        SetEnvironment(name, std::to_string(value));
    return Quoted(ChildPath());
}

bool WaitUntil(const std::function<bool()> &done, int ms = 5000)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

unsigned long NumberAfter(const std::string &text, const std::string &label, size_t from = 0)
{
    const size_t at = text.find(label, from);
    return at == std::string::npos ? 0 : std::stoul(text.substr(at + label.size()));
}

// The processes a tree reported ("pid <n>" and "orphan <n>" lines) that are still running.
std::vector<unsigned long> RunningInTree(const std::string &text)
{
    std::vector<unsigned long> running;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string label;
        unsigned long id = 0;
        if (words >> label >> id && (label == "pid" || label == "orphan") && ProcessAlive(id))
            running.push_back(id);
    }
    return running;
}

bool NoneAlive(const std::vector<unsigned long> &ids)
{
    return std::none_of(ids.begin(), ids.end(), [](unsigned long id) { return ProcessAlive(id); });
}

// A child driven the way the redirector drives it: one thread, Wait, then read or write what is
// ready. Every call into the process layer is timed: none may block.
class Child
{
public:
    ~Child() { m_process.KillProcessTree(); }

    CChildProcess &Process() { return m_process; }

    void Start(const std::string &mode, const std::vector<std::pair<const char *, size_t>> &settings = {})
    {
        StartLine(FakeLisp(mode, settings));
    }

    void StartLine(const std::string &commandLine)
    {
        unsigned long error = 0;
        const bool started = m_process.Start(commandLine, error);
        if (!started)
            check::Fail(__FILE__, __LINE__, "start failed with code " + std::to_string(error));
    }

    // Reads until the text holds needle or the output ends; false on timeout.
    bool ReadUntil(const std::string &needle, int ms = 10000)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        while (m_text.find(needle) == std::string::npos) {
            if (m_bClosed || Clock::now() > deadline)
                return false;
            Pump(50, false);
        }
        return true;
    }

    // Reads until the output ends (every writer gone); false on timeout.
    bool ReadToEnd(int ms = 10000)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        while (!m_bClosed) {
            if (Clock::now() > deadline)
                return false;
            Pump(50, false);
        }
        return true;
    }

    // Writes all of data, reading output whenever the input pipe is full.
    void WriteAll(const std::string &data)
    {
        size_t done = 0;
        while (done < data.size()) {
            size_t written = 0;
            unsigned long error = 0;
            const auto start = Clock::now();
            const IoStatus status = m_process.Write(data.data() + done, data.size() - done, written, error);
            m_slowestCallMs = std::max(m_slowestCallMs, MsSince(start));
            CHECK(status == IoStatus::Ok || status == IoStatus::WouldBlock);
            done += written;
            if (status == IoStatus::WouldBlock)
                Pump(1000, true);
        }
    }

    // One round: wait, then read what is there.
    void Pump(int timeoutMs, bool wantInput)
    {
        const platform::WaitResult r = m_process.Wait(timeoutMs, !m_bClosed, wantInput);
        if (r.childExited)
            m_bExitSeen = true;
        if (!r.outputReady || m_bClosed)
            return;
        for (;;) {
            const auto start = Clock::now();
            const size_t want = std::max<size_t>(m_process.OutputAvailable(), 4096);
            std::string buffer(want, '\0');
            size_t count = 0;
            unsigned long error = 0;
            const IoStatus status = m_process.ReadOutput(buffer.data(), want, count, error);
            m_slowestCallMs = std::max(m_slowestCallMs, MsSince(start));
            if (status == IoStatus::Ok) {
                m_text.append(buffer.data(), count);
                continue;
            }
            if (status == IoStatus::Closed)
                m_bClosed = true;
            CHECK(status != IoStatus::Error);
            return;
        }
    }

    bool WaitForExit(int ms = 5000)
    {
        return WaitUntil([&] {
            Pump(50, false);
            return m_bExitSeen;
        }, ms);
    }

    std::string m_text;
    bool m_bClosed = false;
    bool m_bExitSeen = false;
    long long m_slowestCallMs = 0;

private:
    CChildProcess m_process;
};

// A copy of the child program in a fresh folder whose name holds a space.
struct SpacedCopy
{
    fs::path folder;
    fs::path program;

    SpacedCopy()
    {
        folder = fs::temp_directory_path() / ("talvex process test " + std::to_string(
#ifdef _WIN32
                                                  GetCurrentProcessId()
#else
                                                  ::getpid()
#endif
                                                      ));
        fs::create_directories(folder);
        program = folder / kChildName;
        fs::copy_file(ChildPath(), program, fs::copy_options::overwrite_existing);
    }
    ~SpacedCopy()
    {
        std::error_code ignored;
        fs::current_path(OwnFolder(), ignored);
        fs::remove_all(folder, ignored);
    }
};

} // namespace

TEST_CASE("a command line that names no program fails with code 2 and leaves nothing open")
{
    const std::string missing = (OwnFolder() / "no such folder" / "lisp").string() + " --core x";
    {
        // What the system sets up once, for the first process and the first failed start, stays.
        CChildProcess warmUp;
        unsigned long error = 0;
        CHECK(!warmUp.Start(missing, error));
        CHECK(warmUp.Start(FakeLisp("exit"), error));
        warmUp.KillProcessTree();
    }
    const long before = OpenHandles();
    {
        CChildProcess process;
        for (const std::string &line : {missing, std::string(), std::string("   ")}) {
            unsigned long error = 0;
            CHECK(!process.Start(line, error));
            CHECK_EQ(error, 2ul);
        }
        CHECK_EQ(OpenHandles(), before);
        CHECK(!process.Interrupt());
        process.KillProcessTree();   // nothing runs: harmless

        // The same object starts a program afterwards, and gives back all it held.
        unsigned long error = 0;
        CHECK(process.Start(FakeLisp("echo"), error));
        process.KillProcessTree();
    }
    CHECK_EQ(OpenHandles(), before);
}

TEST_CASE("bytes written come back exactly; closing the input ends the child and its output")
{
    Child child;
    child.Start("echo");
    const std::string sent = "hello\n(+ 1 2)\r\n\x01\x7f bytes \xe9\n";
    child.WriteAll(sent);
    CHECK(child.ReadUntil(sent));
    CHECK_EQ(child.m_text, sent);
    child.Process().CloseInput();
    CHECK(child.ReadToEnd());
    CHECK(child.WaitForExit());
    CHECK(child.Process().ReapChild());
    CHECK_EQ(child.m_text, sent);
    CHECK(child.m_slowestCallMs < 500);
}

TEST_CASE("standard output and error share one stream in order; the end is seen; late writes fail")
{
    Child child;
    child.Start("exit");
    CHECK(child.ReadToEnd());
    CHECK_EQ(child.m_text, std::string("last words\non stderr\n"));
    CHECK(child.WaitForExit());
    CHECK(child.Process().ReapChild());
    CHECK(!child.Process().Interrupt());
    // The child's input is gone: a write says so instead of blocking or ending this program.
    size_t written = 1;
    unsigned long error = 0;
    IoStatus status = IoStatus::Ok;
    for (int i = 0; i < 3 && status == IoStatus::Ok; ++i)
        status = child.Process().Write("late\n", 5, written, error);
    CHECK(status == IoStatus::Closed);
}

TEST_CASE("arguments reach the child as SplitArguments splits them; an unquoted path may hold spaces")
{
    SpacedCopy copy;
    const std::string arguments = "one \"two  three\" four\\\"five back\\slash";
    std::vector<std::string> words;
    CHECK(platform::SplitArguments(arguments, words));
    CHECK_EQ(words.size(), size_t(4));
    CHECK_EQ(words[0], std::string("one"));
    CHECK_EQ(words[1], std::string("two  three"));
    CHECK_EQ(words[2], std::string("four\"five"));

    [[maybe_unused]] const fs::path before = fs::current_path();
    FakeLisp("args");
    const std::string line = copy.program.string() + " " + arguments;
    const platform::CommandLineParts parts = platform::SplitCommandLine(line);
    CHECK_EQ(parts.program, copy.program.string());
    CHECK_EQ(parts.folder, copy.folder.string());
    CHECK(fs::equivalent(parts.executable, copy.program));

    CChildProcess process;
    unsigned long error = 0;
    CHECK(process.Start(line, error));
    std::string expected;
    for (const std::string &w : words)
        expected += "[" + w + "]\n";
    std::string text;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (text.find("cwd=") == std::string::npos || text.back() != '\n') {
        CHECK(Clock::now() < deadline);
        const platform::WaitResult r = process.Wait(50, true, false);
        char buffer[4096];
        size_t count = 0;
        if (r.outputReady && process.ReadOutput(buffer, sizeof buffer, count, error) == IoStatus::Ok)
            text.append(buffer, count);
    }
    CHECK_EQ(text.substr(0, text.find("cwd=")), expected);
    const fs::path childFolder = text.substr(text.find("cwd=") + 4, text.size() - text.find("cwd=") - 5);
#ifdef _WIN32
    // The program's folder becomes this program's current folder, and the child inherits it.
    CHECK(fs::equivalent(childFolder, copy.folder));
    CHECK(fs::equivalent(fs::current_path(), copy.folder));
#else
    // This program's folder never changes; the child starts in it.
    CHECK(fs::equivalent(childFolder, before));
    CHECK(fs::equivalent(fs::current_path(), before));
#endif
    process.KillProcessTree();
}

TEST_CASE("a flood both ways: no call blocks, every byte arrives in order")
{
    constexpr size_t kMegabytes = 8;
    std::string input(kMegabytes << 20, '\0');
    std::mt19937 random(7);
    for (char &c : input)
        c = static_cast<char>(random());
    Child child;
    child.Start("flood", {{"FAKELISP_MB", kMegabytes}, {"FAKELISP_READ", input.size()}});
    child.WriteAll(input);
    CHECK(child.ReadUntil(std::to_string(input.size()) + "\n"));
    const size_t flood = kMegabytes << 20;
    CHECK(child.m_text.size() > flood);
    size_t wrong = 0;
    for (size_t i = 0; i < flood; ++i)
        wrong += static_cast<unsigned char>(child.m_text[i]) != flood::PatternByte(i);
    CHECK_EQ(wrong, size_t(0));
    char expected[96];
    std::snprintf(expected, sizeof expected, "digest %016llx %llu\n",
                  static_cast<unsigned long long>(flood::Digest(input.data(), input.size())),
                  static_cast<unsigned long long>(input.size()));
    CHECK_EQ(child.m_text.substr(flood), std::string(expected));
    CHECK(child.m_slowestCallMs < 500);
}

TEST_CASE("ending the tree ends the child and its grandchild; a second time is harmless")
{
    Child child;
    child.Start("tree");
    CHECK(child.ReadUntil("ready\n"));
    const unsigned long own = NumberAfter(child.m_text, "pid ");
    const unsigned long grandchild = NumberAfter(child.m_text, "pid ", child.m_text.find('\n'));
    CHECK(own != 0 && grandchild != 0);
    CHECK(ProcessAlive(own) && ProcessAlive(grandchild));
    const auto start = Clock::now();
    child.Process().KillProcessTree();
    CHECK(MsSince(start) < 5000);
    CHECK(WaitUntil([&] { return !ProcessAlive(own) && !ProcessAlive(grandchild); }, 1000));
    child.Process().KillProcessTree();
    CHECK(!child.Process().Interrupt());
    CHECK(child.WaitForExit());
}

TEST_CASE("a descendant whose parent is gone still ends with the tree")
{
    Child child;
    child.Start("escape");
    CHECK(child.ReadUntil("\n"));
    const unsigned long sleeper = NumberAfter(child.m_text, "orphan ");
    CHECK(sleeper != 0);
    CHECK(child.WaitForExit());
    CHECK(ProcessAlive(sleeper));
    child.Process().KillProcessTree();
    CHECK(WaitUntil([&] { return !ProcessAlive(sleeper); }, 1000));
}

TEST_CASE("the interrupt reaches the child, which goes on; this program is not interrupted")
{
    Child child;
    child.Start("interrupt");
    CHECK(child.ReadUntil("\n"));
    CHECK(child.Process().Interrupt());
    CHECK(child.ReadUntil("interrupted 1\n"));
    child.WriteAll("still here\n");
    CHECK(child.ReadUntil("still here\n"));
    CHECK(child.Process().Interrupt());
    CHECK(child.ReadUntil("interrupted 2\n"));
    child.Process().KillProcessTree();
    CHECK(!child.Process().Interrupt());
}

TEST_CASE("redirector: a command line that names no program shows the error line; nothing runs or stays open")
{
    std::vector<std::string> lines = {(OwnFolder() / "no-such-lisp").string() + " --core x", "", "   ",
                                      "no-such-lisp-anywhere"};
#ifndef _WIN32
    // A folder, and a file without execute permission (Windows has codes of its own for these).
    lines.push_back(OwnFolder().string());
    lines.push_back("/etc/passwd");
#endif
#ifndef _WIN32
    const long children = OwnChildren();
#endif
    for (const std::string &line : lines) {
        const long handles = OpenHandles();
        const long threads = OwnThreads();
        CollectingRedirector console;
        console->m_strCommandLine = line;
        CHECK(!console->StartLisp());
        CHECK_EQ(console.Text(), std::string("Redirect console error: 2\r\n"));
        CHECK(!console->IsLispRunning());
        CHECK(!console->WriteToLisp("(+ 1 2)\n"));
        CHECK_EQ(OpenHandles(), handles);
        CHECK_EQ(OwnThreads(), threads);
#ifndef _WIN32
        CHECK_EQ(OwnChildren(), children);
#endif
        console->StopLisp();   // harmless when nothing runs
        console->StopLisp();
    }
}

TEST_CASE("redirector: the last output, then the ended line; then nothing, and later writes fail")
{
    std::vector<std::pair<std::string, std::string>> endings = {{"exit", "last words\non stderr\n"}};
#ifndef _WIN32
    endings.push_back({"crash", "about to crash\n"});
    const long children = OwnChildren();
#endif
    for (const auto &[mode, lastOutput] : endings) {
        CollectingRedirector console;
        console->m_strCommandLine = FakeLisp(mode);
        CHECK(console->StartLisp());
        CHECK(console.WaitFor(kEnded));
        CHECK(WaitUntil([&] { return !console->IsLispRunning(); }));
        CHECK(!console->WriteToLisp("(+ 1 2)\n"));
        CHECK(!console->InterruptLisp());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        CHECK_EQ(console.Text(), lastOutput + kEnded);   // nothing more, no error text
#ifndef _WIN32
        // The ended Lisp is reaped at once: no zombie waits for a restart.
        CHECK(WaitUntil([&] { return OwnChildren() == children; }));
#endif
        console->StopLisp();
    }
}

TEST_CASE("redirector: a Lisp that waits, or has ended, costs this program no processor time")
{
    CollectingRedirector console;
    console->m_strCommandLine = FakeLisp("echo");
    CHECK(console->StartLisp());
    CHECK(console->WriteToLisp("(+ 1 2)\n"));
    CHECK(console.WaitFor("(+ 1 2)\n"));
    long long before = CpuMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    CHECK(CpuMs() - before < 150);

    // Its input closed, the child ends; the I/O thread stays until the stop, idle.
    console->m_strCommandLine = FakeLisp("exit");
    CHECK(console->StartLisp());
    CHECK(console.WaitFor(kEnded));
    before = CpuMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    CHECK(CpuMs() - before < 150);
}

TEST_CASE("redirector: a write longer than the pipe while the child floods never hangs; both arrive whole")
{
    constexpr size_t kFlood = 8, kWrite = 4u << 20;
    CollectingRedirector console;
    console->m_strCommandLine = FakeLisp("flood", {{"FAKELISP_MB", kFlood}, {"FAKELISP_READ", kWrite}});
    console->m_bFrameCommands = true;
    CHECK(console->StartLisp());
    std::string text(kWrite - 13, '\0');   // framed: "[cmd]\n" + text + "[/cmd]\n" is kWrite bytes
    std::mt19937 random(42);
    for (char &c : text)
        c = static_cast<char>(random());
    const auto start = Clock::now();
    CHECK(console->WriteToLisp(text));
    CHECK(MsSince(start) < 100);
    CHECK(console.WaitFor("digest ", 30000));
    const std::string framed = "[cmd]\n" + text + "[/cmd]\n";
    char expected[96];
    std::snprintf(expected, sizeof expected, "digest %016llx %llu\n",
                  static_cast<unsigned long long>(flood::Digest(framed.data(), framed.size())),
                  static_cast<unsigned long long>(kWrite));
    CHECK(console.WaitFor(expected, 5000));
    const std::string output = console.Text();
    CHECK_EQ(output.size(), (kFlood << 20) + std::strlen(expected));
    size_t wrong = 0;
    for (size_t i = 0; i < (kFlood << 20) && i < output.size(); ++i)
        wrong += static_cast<unsigned char>(output[i]) != flood::PatternByte(i);
    CHECK_EQ(wrong, size_t(0));
    const auto stop = Clock::now();
    console->StopLisp();
    CHECK(MsSince(stop) < kStopMs);
}

TEST_CASE("redirector: a Lisp that ends while the console is behind: all its output, then the ended line")
{
    // Just over a multiple of what may wait for the console (4 MB): the child ends while the
    // redirector holds back for the console.
    constexpr size_t kMegabytes = 9;
    std::atomic<bool> pending{false};
    std::string text;
    CRedirector lisp([&] { pending = true; });
    lisp.m_strCommandLine = FakeLisp("spill", {{"FAKELISP_MB", kMegabytes}});
    CHECK(lisp.StartLisp());
    // A console that takes what waits only now and then, as a busy UI thread does.
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (text.find(kEnded) == std::string::npos && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (pending.exchange(false))
            while (lisp.TakeOutput(text))
                ;
    }
    CHECK_EQ(text.size(), (kMegabytes << 20) + kEnded.size());
    size_t wrong = 0;
    for (size_t i = 0; i < text.size() - kEnded.size(); ++i)
        wrong += static_cast<unsigned char>(text[i]) != flood::PatternByte(i);
    CHECK_EQ(wrong, size_t(0));
    lisp.StopLisp();
}

TEST_CASE("redirector: a Lisp that ends while a descendant holds its output open ends all the same")
{
    CollectingRedirector console;
    console->m_strCommandLine = FakeLisp("escape");
    CHECK(console->StartLisp());
    CHECK(console.WaitFor("\n"));
    const unsigned long sleeper = NumberAfter(console.Text(), "orphan ");
    CHECK(WaitUntil([&] { return !console->IsLispRunning(); }, 5000));
    CHECK(console.Text().find(kEnded) == std::string::npos);   // the output has not ended
    CHECK(!console->WriteToLisp("(+ 1 2)\n"));
    const auto start = Clock::now();
    console->StopLisp();
    CHECK(MsSince(start) < 5000);
    CHECK(WaitUntil([&] { return !ProcessAlive(sleeper); }, 1000));
}

TEST_CASE("redirector: a restart or a stop ends the whole tree at once, pipes or terminal")
{
#ifndef _WIN32
    const long before = OwnChildren();
#endif
    for (const bool terminal : {false, true}) {
        for (const bool restart : {true, false}) {
            CollectingRedirector console;
            console->m_bTerminal = terminal;   // Windows has no terminal for the Lisp: pipes again
            console->m_strCommandLine = FakeLisp("tree");
            CHECK(console->StartLisp());
            CHECK(console.WaitFor("ready\n"));
            const std::vector<unsigned long> tree = RunningInTree(console.Text());
            CHECK(tree.size() >= 2);
#ifndef _WIN32
            // The Lisp, two children, a grandchild, and the orphan of a session leader that has
            // ended, which this program adopted.
            CHECK_EQ(tree.size(), size_t(5));
            CHECK_EQ(ParentOf(NumberAfter(console.Text(), "orphan ")), long(::getpid()));
#endif
            const auto start = Clock::now();
            if (restart) {
                FakeLisp("echo");
                CHECK(console->StartLisp());   // stops the old tree first
            } else {
                console->StopLisp();
            }
            CHECK(MsSince(start) < kStopMs);
            CHECK(WaitUntil([&] { return NoneAlive(tree); }, 1000));
            CHECK_EQ(console->IsLispRunning(), restart);
#ifndef _WIN32
            CHECK_EQ(OwnChildren(), before + (restart ? 1 : 0));   // the new Lisp, if any; no zombie
#endif
        }
    }
}

#ifdef _WIN32
TEST_CASE("Windows: a batch file runs as the Lisp, from a folder with spaces, and ends with its tree")
{
    SpacedCopy copy;
    const fs::path batch = copy.folder / "run lisp.bat";
    {
        std::ofstream out(batch, std::ios::binary);
        out << "@echo off\r\necho from batch\r\n\"" << copy.program.string() << "\"\r\n";
    }
    FakeLisp("tree");
    Child child;
    unsigned long error = 0;
    CHECK(child.Process().Start(batch.string(), error));
    CHECK(child.ReadUntil("ready\n"));
    CHECK_EQ(child.m_text.substr(0, 12), std::string("from batch\r\n"));
    const unsigned long lisp = NumberAfter(child.m_text, "pid ");
    const unsigned long grandchild = NumberAfter(child.m_text, "pid ", child.m_text.find("pid ") + 4);
    CHECK(ProcessAlive(lisp) && ProcessAlive(grandchild));
    child.Process().KillProcessTree();
    CHECK(!ProcessAlive(lisp) && !ProcessAlive(grandchild));
}

TEST_CASE("Windows: icon 128 loads at the sizes the shell asks for; the manifest brings common controls 6")
{
    for (int size : {16, 32, 48, 256}) {
        const HICON icon = static_cast<HICON>(
            LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(128), IMAGE_ICON, size, size, 0));
        CHECK(icon != nullptr);
        ICONINFO info{};
        CHECK(GetIconInfo(icon, &info));
        BITMAP bitmap{};
        CHECK(GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap) != 0);
        CHECK_EQ(bitmap.bmWidth, long(size));
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
    // With the manifest the system resolves the common controls to its side-by-side assembly of
    // version 6; without it, to the old version 5 in the system folder.
    const HMODULE controls = LoadLibraryA("comctl32.dll");
    CHECK(controls != nullptr);
    char path[MAX_PATH] = {};
    GetModuleFileNameA(controls, path, MAX_PATH);
    std::string assembly = fs::path(path).parent_path().filename().string();
    for (char &c : assembly)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    CHECK(assembly.find("microsoft.windows.common-controls_") != std::string::npos);
    CHECK(assembly.find("_6.") != std::string::npos);
}
#endif

#ifndef _WIN32
// "--play-program STREAMS MODE": plays the program, started from a terminal: a session whose
// controlling terminal is a pseudo-terminal of its own, with its Lisp (the child program in MODE
// on pipes or a terminal). Prints "player <pid>\n", then passes the Lisp's output on and its own
// input to the Lisp.
int PlayProgram(bool terminal, const std::string &mode)
{
    // A process group's leader cannot start a session: its copy can.
    if (::setsid() < 0 && ::getsid(0) != ::getpid()) {
        if (::fork() != 0)
            ::_exit(0);
        ::setsid();
    }
    platform::GuardLispSessions();
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::open(::ptsname(master), O_RDWR) < 0)
        return 1;
    CChildProcess lisp;
    unsigned long error = 0;
    if (!lisp.Start(FakeLisp(mode), error, terminal ? platform::Streams::Terminal : platform::Streams::Pipes))
        return 1;
    const std::string hello = "player " + std::to_string(::getpid()) + "\n";
    posixchild::WriteAll(1, hello.data(), hello.size());
    char buffer[4096];
    for (;;) {
        size_t count = 0;
        if (lisp.Wait(20, true, false).outputReady
            && lisp.ReadOutput(buffer, sizeof buffer, count, error) == IoStatus::Ok)
            posixchild::WriteAll(1, buffer, count);
        pollfd input{0, POLLIN, 0};
        if (::poll(&input, 1, 0) <= 0)
            continue;
        const ssize_t n = ::read(0, buffer, sizeof buffer);
        if (n <= 0)
            return 0;
        size_t written = 0;
        lisp.Write(buffer, static_cast<size_t>(n), written, error);
    }
}

TEST_CASE("POSIX: a kill -9 of the program ends its Lisp and what the Lisp started within 1 s, pipes or terminal")
{
    for (const std::string streams : {"pipes", "terminal"}) {
        Child player;
        player.StartLine(Quoted(fs::read_symlink("/proc/self/exe")) + " --play-program " + streams + " tree");
        CHECK(player.ReadUntil("ready\n"));
        const pid_t program = static_cast<pid_t>(NumberAfter(player.m_text, "player "));
        const std::vector<unsigned long> tree = RunningInTree(player.m_text);
        CHECK(program > 0 && tree.size() == 5);
        ::kill(program, SIGKILL);
        CHECK(WaitUntil([&] { return NoneAlive(tree); }, 1000));
    }
}

TEST_CASE("POSIX: a pipe Lisp has no controlling terminal: /dev/tty fails at once, and the Lisp still answers")
{
    Child player;
    player.StartLine(Quoted(fs::read_symlink("/proc/self/exe")) + " --play-program pipes devtty");
    CHECK(player.ReadUntil("ready\n", 2000));
    CHECK_EQ(NumberAfter(player.m_text, "tty "), static_cast<unsigned long>(ENXIO));
    player.WriteAll("still here\n");
    CHECK(player.ReadUntil("still here\n"));
}
#endif

int main(int argc, char **argv)
{
#ifndef _WIN32
    if (argc > 3 && std::string(argv[1]) == "--play-program")
        return PlayProgram(std::string(argv[2]) == "terminal", argv[3]);
#endif
#ifdef _WIN32
    // Like the program itself, which is a GUI program: no console of its own.
    FreeConsole();
#endif
    return check::RunAll(argc, argv);
}
