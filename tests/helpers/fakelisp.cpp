// A stand-in Lisp for the tests and benchmarks, on POSIX and Windows: FAKELISP_MODE picks what it does.
//
// Modes (settings in further FAKELISP_* variables; the POSIX ones say elsewhere that they are not
// available there):
//   echo       copies its input to its output as it arrives, until the end of its input (the default)
//   args       prints every argument as "[arg]\n", then its current folder as "cwd=<folder>\n";
//              waits for the end of its input
//   exit       prints "last words\n" to stdout, "on stderr\n" to stderr, exits with code 3
//   flood      writes FAKELISP_MB megabytes (default 1) of the flood pattern without reading its
//              input; then, when FAKELISP_READ is above 0, reads that many bytes and prints
//              "digest <hex> <count>\n"; waits for the end of its input
//   spill      writes FAKELISP_MB megabytes of the flood pattern and exits at once
//   longline   writes FAKELISP_KB kilobytes (default 1024) of "0123456789" repeated without a line
//              break, then "\nend\n", then echoes its input
//   mixed      alternates lines on stdout and stderr: "out 1\n", "err 1\n", ... "err 5\n"
//   bytes      prints CR-only lines and NUL bytes: "a\rb\rc\r" "x\0y\0z" "\n"
//   pieces     answers each input line as SBCL does, in two writes a moment apart: the line, then
//              "\n* "
//   tree       prints "pid <own>\n", starts a child that sleeps ("pid <n>\n"); on POSIX also a
//              child with a grandchild and a child in a new session that orphans its own child
//              ("orphan <n>\n"); then prints "ready\n" and waits for the end of its input
//   escape     starts a process that starts a sleeper and ends at once; prints "orphan <pid>\n" for
//              the sleeper and exits: nothing connects the sleeper to it any more
//   middle     escape's middle process: starts a sleeper, prints its id, ends
//   interrupt  prints "pid <own>\n" and echoes its input; on the console's interrupt (SIGINT, or
//              CTRL_BREAK_EVENT) prints "interrupted <n>\n" and goes on
//   sleep      sleeps until it is ended
//   crash      (POSIX) prints "about to crash\n" and aborts
//   ticks      (POSIX) prints "tick <n>\n" every FAKELISP_MS milliseconds (default 50) and echoes
//              input lines as "got <line>\n"
//   orphans    (POSIX) five times, 300 ms apart, starts a process in a new session that orphans a
//              child living 600 ms more, printing "orphan <n>\n"; then "done\n"; waits
//   children   (POSIX) starts FAKELISP_COUNT children (default 1000) that sleep, prints "ready\n",
//              waits for the end of its input
//   daemon     (POSIX) double-forks a daemon in a new session that runs sleep with an empty
//              environment; prints "daemon <n>\n" and "ready\n", waits
//   blinks     (POSIX) starts FAKELISP_COUNT (default 50) short-lived orphans (a child that starts
//              a grandchild and exits at once; the grandchild ends a moment later), prints
//              "ready\n", waits
//   terminal   (POSIX) prints "tty <0|1> ctty <0|1> echo <0|1> term <TERM>\n" about its input,
//              then "inputrc <first line of the file INPUTRC names>\n", then "bold plain\n" wrapped
//              in escape sequences and a bell, written in two pieces; then reads nothing for
//              FAKELISP_MS milliseconds (default 0) and answers every input line with
//              "line <bytes> <FNV-1a of the bytes, hex>\n"
//   devtty     (POSIX) opens /dev/tty and reads from it, prints "tty <errno>\n" (0: it could) and
//              "ready\n", then echoes its input
#include "../FloodPattern.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <termios.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../PosixChild.h"

extern char **environ;
#endif

namespace {

const char kModeVariable[] = "FAKELISP_MODE";

#ifdef _WIN32
bool WriteAll(int stream, const char *data, size_t length)
{
    const HANDLE h = GetStdHandle(stream == 2 ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    while (length > 0) {
        DWORD n = 0;
        if (!WriteFile(h, data, static_cast<DWORD>(std::min<size_t>(length, 1u << 20)), &n, nullptr))
            return false;
        data += n;
        length -= n;
    }
    return true;
}

// Bytes read, 0 at the end of the input.
long ReadSome(char *buffer, size_t size)
{
    DWORD n = 0;
    if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, static_cast<DWORD>(size), &n, nullptr))
        return 0;
    return static_cast<long>(n);
}

unsigned long OwnId() { return GetCurrentProcessId(); }

// Starts this program again in another mode; with `line`, its output is read up to the first line
// break, which goes into line.
unsigned long StartSelf(const char *mode, std::string *line = nullptr)
{
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    if (line && !CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return 0;
    if (readEnd)
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string commandLine = std::string("\"") + self + "\"";
    SetEnvironmentVariableA(kModeVariable, mode);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (writeEnd) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = writeEnd;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION info{};
    const bool started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &info);
    if (writeEnd)
        CloseHandle(writeEnd);
    if (started) {
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
    char c = 0;
    DWORD n = 0;
    while (started && readEnd && ReadFile(readEnd, &c, 1, &n, nullptr) && n == 1 && c != '\n')
        *line += c;
    if (readEnd)
        CloseHandle(readEnd);
    return started ? info.dwProcessId : 0;
}

std::string CurrentFolder()
{
    char buffer[MAX_PATH * 4];
    const DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
    return n > 0 ? std::string(buffer, n) : "?";
}
#else
using posixchild::WriteAll;

long ReadSome(char *buffer, size_t size)
{
    for (;;) {
        const ssize_t n = ::read(0, buffer, size);
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 ? 0 : static_cast<long>(n);
    }
}

unsigned long OwnId() { return static_cast<unsigned long>(::getpid()); }

// Reads fd up to its first line break or its end.
std::string ReadLine(int fd)
{
    std::string line;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n')
        line += c;
    return line;
}

unsigned long StartSelf(const char *mode, std::string *line = nullptr)
{
    int link[2] = {-1, -1};
    if (line && ::pipe(link) != 0)
        return 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (line) {
        posix_spawn_file_actions_adddup2(&actions, link[1], 1);
        posix_spawn_file_actions_addclose(&actions, link[0]);
    }
    // By its own name, so that a process list shows what runs.
    char self[4096] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) < 0)
        std::strcpy(self, "/proc/self/exe");
    char *argv[] = {self, nullptr};
    ::setenv(kModeVariable, mode, 1);
    pid_t pid = 0;
    const bool started = ::posix_spawn(&pid, self, &actions, nullptr, argv, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (line) {
        ::close(link[1]);
        if (started)
            *line = ReadLine(link[0]);
        ::close(link[0]);
    }
    return started ? static_cast<unsigned long>(pid) : 0;
}

std::string CurrentFolder()
{
    char buffer[4096];
    return ::getcwd(buffer, sizeof buffer) ? buffer : "?";
}
#endif

bool WriteText(int stream, const std::string &text) { return WriteAll(stream, text.data(), text.size()); }

long Setting(const char *name, long fallback)
{
    const char *value = std::getenv(name);
    return value && *value ? std::strtol(value, nullptr, 10) : fallback;
}

void SleepMs(long ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

[[noreturn]] void SleepForever()
{
    for (;;)
        SleepMs(3600 * 1000);
}

// Hands every piece of input to take(data, length) until the end of input (0) or until take
// returns false (1).
template <class Take>
int ForEachInput(Take take)
{
    std::vector<char> buffer(1u << 16);
    for (;;) {
        const long n = ReadSome(buffer.data(), buffer.size());
        if (n <= 0)
            return 0;
        if (!take(buffer.data(), static_cast<size_t>(n)))
            return 1;
    }
}

// Hands every line of input, without its line feed, to answer(line).
template <class Answer>
int ForEachLine(Answer answer)
{
    std::string line;
    return ForEachInput([&](const char *data, size_t length) {
        for (size_t i = 0; i < length; ++i) {
            if (data[i] != '\n') {
                line += data[i];
                continue;
            }
            answer(line);
            line.clear();
        }
        return true;
    });
}

int WaitForEndOfInput()
{
    return ForEachInput([](const char *, size_t) { return true; });
}

int Echo(char ** = nullptr)
{
    return ForEachInput([](const char *data, size_t length) { return WriteAll(1, data, length); });
}

int Args(char **arguments)
{
    std::string text;
    for (; *arguments; ++arguments)
        text += std::string("[") + *arguments + "]\n";
    WriteText(1, text + "cwd=" + CurrentFolder() + "\n");
    return WaitForEndOfInput();
}

std::string Hex(uint64_t value)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

bool WriteFlood()
{
    const size_t total = static_cast<size_t>(Setting("FAKELISP_MB", 1)) << 20;
    // Block b of 1 MB is the first block with every byte xor b, so a block costs next to nothing.
    std::vector<unsigned char> base(1u << 20);
    for (size_t k = 0; k < base.size(); ++k)
        base[k] = flood::PatternByte(k);
    std::vector<char> block(base.size());
    for (size_t offset = 0; offset < total; offset += block.size()) {
        const size_t length = std::min(block.size(), total - offset);
        const unsigned char x = static_cast<unsigned char>(offset >> 20);
        for (size_t k = 0; k < length; ++k)
            block[k] = static_cast<char>(base[k] ^ x);
        if (!WriteAll(1, block.data(), length))
            return false;
    }
    return true;
}

int Flood(char **)
{
    if (!WriteFlood())
        return 1;
    const size_t toRead = static_cast<size_t>(Setting("FAKELISP_READ", 0));
    std::vector<char> block(1u << 20);
    uint64_t digest = flood::kDigestStart;
    size_t count = 0;
    while (count < toRead) {
        const long n = ReadSome(block.data(), std::min(block.size(), toRead - count));
        if (n <= 0)
            break;
        digest = flood::Digest(block.data(), static_cast<size_t>(n), digest);
        count += static_cast<size_t>(n);
    }
    if (toRead > 0)
        WriteText(1, "digest " + Hex(digest) + " " + std::to_string(count) + "\n");
    return WaitForEndOfInput();
}

int LongLine(char **)
{
    const size_t total = static_cast<size_t>(Setting("FAKELISP_KB", 1024)) << 10;
    std::string block;
    while (block.size() < (64u << 10))
        block += "0123456789";
    for (size_t done = 0; done < total;) {
        const size_t n = std::min(block.size(), total - done);
        if (!WriteAll(1, block.data(), n))
            return 1;
        done += n;
    }
    WriteText(1, "\nend\n");
    return Echo();
}

int Mixed(char **)
{
    for (int i = 1; i <= 5; ++i) {
        WriteText(1, "out " + std::to_string(i) + "\n");
        WriteText(2, "err " + std::to_string(i) + "\n");
    }
    return WaitForEndOfInput();
}

int Pieces(char **)
{
    return ForEachLine([](const std::string &line) {
        WriteText(1, line);
        SleepMs(20);
        WriteText(1, "\n* ");
    });
}

std::string PidLine(unsigned long pid) { return "pid " + std::to_string(pid) + "\n"; }


#ifndef _WIN32
// Starts a child in a new session that forks grandchild() and ends at once, so that the
// grandchild is orphaned; returns "<label> <grandchild>\n" once the child has ended.
template <class Grandchild>
std::string StartOrphan(const char *label, Grandchild grandchild, pid_t *child = nullptr)
{
    int link[2];
    if (::pipe(link) != 0)
        return {};
    const pid_t c = ::fork();
    if (c == 0) {
        ::setsid();
        ::close(link[0]);
        const pid_t g = ::fork();
        if (g == 0) {
            ::close(link[1]);
            grandchild();
            ::_exit(0);
        }
        WriteText(link[1], std::string(label) + " " + std::to_string(g) + "\n");
        ::_exit(0);
    }
    ::close(link[1]);
    ::waitpid(c, nullptr, 0);
    const std::string line = ReadLine(link[0]) + "\n";
    ::close(link[0]);
    if (child)
        *child = c;
    return line;
}

// The POSIX part of a tree: a child with a grandchild, and a session leader's orphan.
std::string PosixBranches()
{
    int link[2];   // the grandchild's id comes through it
    if (::pipe(link) != 0)
        return {};
    const pid_t b = ::fork();
    if (b == 0) {
        ::close(link[0]);
        const pid_t g = ::fork();
        if (g == 0)
            SleepForever();
        WriteText(link[1], PidLine(static_cast<unsigned long>(g)));
        SleepForever();
    }
    ::close(link[1]);
    std::string report = PidLine(static_cast<unsigned long>(b)) + ReadLine(link[0]) + "\n";
    ::close(link[0]);
    pid_t c = 0;
    const std::string orphan = StartOrphan("orphan", [] { SleepForever(); }, &c);
    return report + PidLine(static_cast<unsigned long>(c)) + orphan;
}
#endif

int Tree(char **)
{
    const unsigned long sleeper = StartSelf("sleep");
    if (sleeper == 0)
        return 1;
    std::string report = PidLine(OwnId()) + PidLine(sleeper);
#ifndef _WIN32
    report += PosixBranches();
#endif
    WriteText(1, report + "ready\n");
    return WaitForEndOfInput();
}

int Middle(char **)
{
    const unsigned long sleeper = StartSelf("sleep");
    WriteText(1, std::to_string(sleeper) + "\n");
    return sleeper ? 0 : 1;
}

int Escape(char **)
{
    std::string line;
    if (!StartSelf("middle", &line))
        return 1;
    WriteText(1, "orphan " + line + "\n");
    return 0;
}

#ifdef _WIN32
volatile LONG g_interrupts = 0;

BOOL WINAPI OnControl(DWORD event)
{
    if (event != CTRL_BREAK_EVENT && event != CTRL_C_EVENT)
        return FALSE;
    const LONG n = InterlockedIncrement(&g_interrupts);
    WriteText(1, "interrupted " + std::to_string(n) + "\n");
    return TRUE;
}

int Interruptible(char **)
{
    // A process in a new process group starts with Ctrl+C ignored; taking it back lets the
    // interrupt arrive where only Ctrl+C can be raised (wine), as Ctrl+Break does elsewhere.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(OnControl, TRUE);
    WriteText(1, PidLine(OwnId()));
    return Echo();
}
#else
int Interruptible(char **)
{
    return posixchild::SigintEcho(PidLine(OwnId()), [](const std::string &text) { WriteText(1, text); });
}

int Crash(char **)
{
    WriteText(1, "about to crash\n");
    std::abort();
}

int Ticks(char **)
{
    const long ms = Setting("FAKELISP_MS", 50);
    ::fcntl(0, F_SETFL, ::fcntl(0, F_GETFL) | O_NONBLOCK);
    std::string line;
    for (long tick = 1;; ++tick) {
        char buffer[4096];
        const ssize_t n = ::read(0, buffer, sizeof buffer);
        if (n == 0)
            return 0;
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] != '\n') {
                line += buffer[i];
                continue;
            }
            WriteText(1, "got " + line + "\n");
            line.clear();
        }
        WriteText(1, "tick " + std::to_string(tick) + "\n");
        SleepMs(ms);
    }
}


int Orphans(char **)
{
    for (int i = 0; i < 5; ++i) {
        // The orphan outlives its parent, then ends.
        WriteText(1, StartOrphan("orphan", [] { SleepMs(600); }));
        SleepMs(300);
    }
    WriteText(1, "done\n");
    return WaitForEndOfInput();
}

int Daemon(char **)
{
    WriteText(1, StartOrphan("daemon", [] {
        // Nothing of the parent's environment goes along, not even a mark.
        char *const argv[] = {const_cast<char *>("sleep"), const_cast<char *>("1005"), nullptr};
        char *const envp[] = {nullptr};
        ::execve("/bin/sleep", argv, envp);
    }));
    WriteText(1, "ready\n");
    return WaitForEndOfInput();
}

int Children(char **)
{
    const long count = Setting("FAKELISP_COUNT", 1000);
    for (long i = 0; i < count; ++i) {
        const pid_t c = ::fork();
        if (c == 0)
            SleepForever();
        if (c < 0)
            return 1;
    }
    WriteText(1, "ready\n");
    return WaitForEndOfInput();
}

int Blinks(char **)
{
    const long count = Setting("FAKELISP_COUNT", 50);
    for (long i = 0; i < count; ++i) {
        const pid_t c = ::fork();
        if (c == 0) {
            if (::fork() == 0) {
                SleepMs(i % 5);
                ::_exit(0);
            }
            ::_exit(0);
        }
        ::waitpid(c, nullptr, 0);
    }
    WriteText(1, "ready\n");
    return WaitForEndOfInput();
}

// What a terminal Lisp finds: its streams, its terminal's settings and environment.
int Terminal(char **)
{
    termios settings{};
    const bool tty = ::isatty(0) == 1;
    const bool echo = tty && ::tcgetattr(0, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
    // The terminal is the controlling one when its session is this process's session.
    const bool controlling = tty && ::tcgetsid(0) == ::getsid(0);
    const char *term = std::getenv("TERM");
    WriteText(1, std::string("tty ") + (tty ? "1" : "0") + " ctty " + (controlling ? "1" : "0") + " echo "
                     + (echo ? "1" : "0") + " term " + (term ? term : "") + "\n");
    std::string rc;
    if (const char *path = std::getenv("INPUTRC")) {
        const int fd = ::open(path, O_RDONLY);
        if (fd >= 0) {
            rc = ReadLine(fd);
            ::close(fd);
        }
    }
    WriteText(1, "inputrc " + rc + "\n");
    WriteText(1, "\x1b[1");
    SleepMs(50);
    WriteText(1, "mbold\x1b[0m \x1b]0;title\x07plain\a\x1b(B\n");
    SleepMs(Setting("FAKELISP_MS", 0));
    return ForEachLine([](const std::string &line) {
        WriteText(1, "line " + std::to_string(line.size()) + " " + Hex(flood::Digest(line.data(), line.size()))
                         + "\n");
    });
}

// A Lisp that shares the terminal of a session it is in the background of is stopped by the read.
int DevTty(char **)
{
    const int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
    int error = errno;
    char c;
    if (fd >= 0)
        error = ::read(fd, &c, 1) < 0 ? errno : 0;   // 0: the terminal was the Lisp's to read
    WriteText(1, "tty " + std::to_string(error) + "\nready\n");
    return Echo();
}
#endif

#ifdef _WIN32
#define POSIX_ONLY(run) nullptr
#else
#define POSIX_ONLY(run) run
#endif

struct Mode
{
    const char *name;
    int (*run)(char **arguments);   // null: not available on this system
};

const Mode kModes[] = {
    {"echo", Echo},
    {"args", Args},
    {"exit",
     [](char **) {
         WriteText(1, "last words\n");
         WriteText(2, "on stderr\n");
         return 3;
     }},
    {"flood", Flood},
    {"spill", [](char **) { return WriteFlood() ? 0 : 1; }},
    {"longline", LongLine},
    {"mixed", Mixed},
    {"bytes",
     [](char **) {
         static const char data[] = "a\rb\rc\rx\0y\0z\n";
         WriteAll(1, data, sizeof data - 1);
         return WaitForEndOfInput();
     }},
    {"pieces", Pieces},
    {"tree", Tree},
    {"escape", Escape},
    {"middle", Middle},
    {"interrupt", Interruptible},
    {"sleep", [](char **) -> int { SleepForever(); }},
    {"crash", POSIX_ONLY(Crash)},
    {"ticks", POSIX_ONLY(Ticks)},
    {"orphans", POSIX_ONLY(Orphans)},
    {"children", POSIX_ONLY(Children)},
    {"daemon", POSIX_ONLY(Daemon)},
    {"blinks", POSIX_ONLY(Blinks)},
    {"terminal", POSIX_ONLY(Terminal)},
    {"devtty", POSIX_ONLY(DevTty)},
};

} // namespace

int main(int, char **argv)
{
    const char *chosen = std::getenv(kModeVariable);
    const std::string mode = chosen && *chosen ? chosen : "echo";
    for (const Mode &m : kModes) {
        if (mode != m.name)
            continue;
        if (m.run)
            return m.run(argv + 1);
        WriteText(2, "fakelisp: mode " + mode + " is not available on this system\n");
        return 2;
    }
    WriteText(2, "fakelisp: unknown mode " + mode + "\n");
    return 2;
}
