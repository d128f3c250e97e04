// A stand-in Lisp for the process contract tests, for POSIX and Windows: argv[1] says what it does.
//
//   echo       copies its input to its output until the end of its input
//   args       prints each further argument as "[arg]\n", then "cwd=<folder>\n"; waits for the end
//              of its input
//   exit       prints "last words\n" to stdout, "on stderr\n" to stderr, exits with code 3
//   flood M R  writes M megabytes of a pattern without reading, then reads R bytes and prints
//              "digest <hex> <count>\n"; waits for the end of its input
//   spill M    writes M megabytes of the flood pattern and exits at once
//   tree       starts a grandchild that sleeps; prints "pid <own>\n", "pid <grandchild>\n",
//              "ready\n"; waits for the end of its input
//   escape     starts a process that starts a sleeper and exits at once; prints "orphan <pid>\n"
//              for the sleeper and exits: nothing connects the sleeper to it any more
//   interrupt  prints "ready\n", echoes its input; on the console's interrupt (SIGINT, or
//              CTRL_BREAK_EVENT) prints "interrupted <n>\n" and goes on
//   sleep      sleeps until it is ended
//   devtty     (POSIX) opens /dev/tty and reads from it, prints "tty <errno>\n" (0: it could) and
//              "ready\n", then echoes its input
#include "../FloodPattern.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include "../PosixChild.h"

extern char **environ;
#endif

namespace {

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

[[noreturn]] void SleepForever()
{
    for (;;)
        Sleep(INFINITE);
}

// Starts this program again in another mode; its output goes to `output` when given.
unsigned long StartSelf(const char *mode, HANDLE output = nullptr)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string line = std::string("\"") + self + "\" " + mode;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (output) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = output;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
        return 0;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return info.dwProcessId;
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

[[noreturn]] void SleepForever()
{
    for (;;)
        ::pause();
}

unsigned long StartSelf(const char *mode, int output = -1)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output >= 0)
        posix_spawn_file_actions_adddup2(&actions, output, 1);
    char self[] = "/proc/self/exe";
    char *argv[] = {self, const_cast<char *>(mode), nullptr};
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, self, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? static_cast<unsigned long>(pid) : 0;
}

std::string CurrentFolder()
{
    char buffer[4096];
    return ::getcwd(buffer, sizeof buffer) ? buffer : "?";
}
#endif

bool WriteText(int stream, const std::string &text) { return WriteAll(stream, text.data(), text.size()); }

void WaitForEndOfInput()
{
    char buffer[4096];
    while (ReadSome(buffer, sizeof buffer) > 0) {
    }
}

int Echo()
{
    std::vector<char> buffer(1u << 16);
    for (;;) {
        const long n = ReadSome(buffer.data(), buffer.size());
        if (n <= 0)
            return 0;
        if (!WriteAll(1, buffer.data(), static_cast<size_t>(n)))
            return 1;
    }
}

bool Spill(size_t megabytes)
{
    std::vector<char> block(1u << 20);
    for (size_t offset = 0; offset < (megabytes << 20); offset += block.size()) {
        for (size_t k = 0; k < block.size(); ++k)
            block[k] = static_cast<char>(flood::PatternByte(offset + k));
        if (!WriteAll(1, block.data(), block.size()))
            return false;
    }
    return true;
}

int Flood(size_t megabytes, size_t toRead)
{
    if (!Spill(megabytes))
        return 1;
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
    char line[96];
    std::snprintf(line, sizeof line, "digest %016llx %llu\n", static_cast<unsigned long long>(digest),
                  static_cast<unsigned long long>(count));
    WriteText(1, line);
    WaitForEndOfInput();
    return 0;
}

int Tree()
{
    const unsigned long grandchild = StartSelf("sleep");
    if (grandchild == 0)
        return 1;
    WriteText(1, "pid " + std::to_string(OwnId()) + "\npid " + std::to_string(grandchild) + "\nready\n");
    WaitForEndOfInput();
    return 0;
}

// The middle process: starts the sleeper, tells its id on its output, and ends.
int Middle()
{
    const unsigned long sleeper = StartSelf("sleep");
    WriteText(1, std::to_string(sleeper) + "\n");
    return sleeper ? 0 : 1;
}

int Escape()
{
    std::string line;
    char c = 0;
#ifdef _WIN32
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return 1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    StartSelf("middle", writeEnd);
    CloseHandle(writeEnd);
    DWORD n = 0;
    while (ReadFile(readEnd, &c, 1, &n, nullptr) && n == 1 && c != '\n')
        line += c;
#else
    int link[2];
    if (::pipe(link) != 0)
        return 1;
    StartSelf("middle", link[1]);
    ::close(link[1]);
    while (::read(link[0], &c, 1) == 1 && c != '\n')
        line += c;
#endif
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

int Interruptible()
{
    // A process in a new process group starts with Ctrl+C ignored; taking it back lets the
    // interrupt arrive where only Ctrl+C can be raised (wine), as Ctrl+Break does elsewhere.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(OnControl, TRUE);
    WriteText(1, "ready\n");
    return Echo();
}
#else
int Interruptible()
{
    return posixchild::SigintEcho("ready\n", [](const std::string &text) { WriteText(1, text); });
}

// A Lisp that shares the terminal of a session it is in the background of is stopped by the read.
int DevTty()
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

} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc > 1 ? argv[1] : "echo";
    if (mode == "echo")
        return Echo();
    if (mode == "args") {
        std::string text;
        for (int i = 2; i < argc; ++i)
            text += std::string("[") + argv[i] + "]\n";
        WriteText(1, text + "cwd=" + CurrentFolder() + "\n");
        WaitForEndOfInput();
        return 0;
    }
    if (mode == "exit") {
        WriteText(1, "last words\n");
        WriteText(2, "on stderr\n");
        return 3;
    }
    if (mode == "flood" && argc > 3)
        return Flood(std::strtoul(argv[2], nullptr, 10), std::strtoul(argv[3], nullptr, 10));
    if (mode == "spill" && argc > 2)
        return Spill(std::strtoul(argv[2], nullptr, 10)) ? 0 : 1;
    if (mode == "tree")
        return Tree();
    if (mode == "middle")
        return Middle();
    if (mode == "escape")
        return Escape();
    if (mode == "interrupt")
        return Interruptible();
    if (mode == "sleep")
        SleepForever();
#ifndef _WIN32
    if (mode == "devtty")
        return DevTty();
#endif
    WriteText(2, "processchild: unknown mode " + mode + "\n");
    return 2;
}
