// A stand-in Lisp for the redirector tests: LISPHELPER_MODE picks what it does with its streams.
//
// Modes (extra settings in further LISPHELPER_* variables):
//   echo     copies its input to its output as it arrives, until the end of its input
//   args     prints every argument as "[arg]\n", then its current directory as "cwd=<dir>\n"
//   flood    writes LISPHELPER_MB megabytes of a pattern without reading its input, then reads
//            LISPHELPER_READ bytes and prints "digest <hex> <count>\n"; then waits for end of input
//   exit     prints "last words\n" to stdout, "on stderr\n" to stderr, exits with code 3
//   crash    prints "about to crash\n" and aborts
//   tree     starts children and grandchildren (one in a new session, one orphaned), prints
//            "pid <n>\n" for each ("orphan <n>\n" for the orphan), then "ready\n", and waits for
//            end of input
//   leave    starts a child that keeps the output open and sleeps, prints "orphan <n>\n", exits
//   orphans  every 300 ms starts a process in a new session that orphans a child living 600 ms
//            more; prints "orphan <n>\n" for each of them; waits for end of input
//   mixed    alternates lines on stdout and stderr: "out 1\n", "err 1\n", ... "err 5\n"
//   bytes    prints CR-only lines and NUL bytes: "a\rb\rc\r" "x\0y\0z" "\n"
//   children starts LISPHELPER_COUNT children that sleep, prints "ready\n", waits for end of input
//   daemon   double-forks a daemon in a new session that runs sleep with an empty environment;
//            prints "daemon <n>\n" and "ready\n", waits for end of input
//   blinks   starts LISPHELPER_COUNT short-lived orphans (a child that starts a grandchild and
//            exits at once; the grandchild ends a moment later), prints "ready\n", waits
//   interrupt  prints "pid <n>\n" and echoes input lines; on SIGINT prints "interrupted <n>\n"
//            and goes on
//   pieces   answers each input line as SBCL does, in two writes a moment apart: the line, then
//            "\n* "
//   longline writes LISPHELPER_KB kilobytes of "0123456789" repeated without a line break, then
//            "\nend\n", then echoes its input
//   ticks    prints "tick <n>\n" every LISPHELPER_MS milliseconds (default 50) and echoes input
//            lines as "got <line>\n"
//   terminal prints "tty <0|1> ctty <0|1> echo <0|1> term <TERM>\n" about its input, then
//            "inputrc <first line of the file INPUTRC names>\n", then "bold plain\n" wrapped in
//            escape sequences and a bell, written in two pieces; then reads nothing for
//            LISPHELPER_MS milliseconds (default 0) and answers every input line with
//            "line <bytes> <FNV-1a of the bytes, hex>\n"
#include "../FloodPattern.h"
#include "../PosixChild.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using posixchild::WriteAll;

bool WriteText(int fd, const std::string &text) { return WriteAll(fd, text.data(), text.size()); }

long EnvNumber(const char *name, long fallback)
{
    const char *value = std::getenv(name);
    return value && *value ? std::strtol(value, nullptr, 10) : fallback;
}

void WaitForEndOfInput()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(0, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EINTR))
            return;
    }
}

// Hands every piece of input to take(data, length) until the end of input (0) or until take
// returns false (1).
template <class Take>
int ForEachInput(Take take)
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(0, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        if (!take(buffer, static_cast<size_t>(n)))
            return 1;
    }
}

int Echo()
{
    return ForEachInput([](const char *data, size_t length) { return WriteAll(1, data, length); });
}

int Args(int argc, char **argv)
{
    std::string text;
    for (int i = 1; i < argc; ++i)
        text += std::string("[") + argv[i] + "]\n";
    char cwd[4096];
    text += std::string("cwd=") + (::getcwd(cwd, sizeof cwd) ? cwd : "?") + "\n";
    WriteText(1, text);
    WaitForEndOfInput();
    return 0;
}

int Flood()
{
    const size_t total = static_cast<size_t>(EnvNumber("LISPHELPER_MB", 1)) << 20;
    const size_t toRead = static_cast<size_t>(EnvNumber("LISPHELPER_READ", 0));
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
            return 1;
    }
    uint64_t digest = flood::kDigestStart;
    size_t count = 0;
    while (count < toRead) {
        const ssize_t n = ::read(0, block.data(), std::min(block.size(), toRead - count));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        digest = flood::Digest(block.data(), static_cast<size_t>(n), digest);
        count += static_cast<size_t>(n);
    }
    if (toRead > 0) {
        char line[96];
        std::snprintf(line, sizeof line, "digest %016llx %zu\n",
                      static_cast<unsigned long long>(digest), count);
        WriteText(1, line);
    }
    WaitForEndOfInput();
    return 0;
}

[[noreturn]] void SleepForever()
{
    for (;;)
        ::pause();
}

std::string PidLine(pid_t pid) { return "pid " + std::to_string(pid) + "\n"; }

int Tree()
{
    std::string report;
    int link[2];   // grandchildren report their pids through it
    if (::pipe(link) != 0)
        return 1;

    // A child that only sleeps.
    pid_t a = ::fork();
    if (a == 0) {
        ::close(link[0]);
        ::close(link[1]);
        SleepForever();
    }
    report += PidLine(a);

    // A child with a grandchild.
    pid_t b = ::fork();
    if (b == 0) {
        ::close(link[0]);
        pid_t g = ::fork();
        if (g == 0) {
            ::close(link[1]);
            SleepForever();
        }
        WriteText(link[1], PidLine(g));
        ::close(link[1]);
        SleepForever();
    }
    report += PidLine(b);

    // A child in a new session whose own child outlives it: that grandchild is orphaned.
    pid_t c = ::fork();
    if (c == 0) {
        ::setsid();
        ::close(link[0]);
        pid_t g = ::fork();
        if (g == 0) {
            ::close(link[1]);
            SleepForever();
        }
        WriteText(link[1], "orphan " + std::to_string(g) + "\n");
        ::_exit(0);
    }
    report += PidLine(c);
    ::close(link[1]);
    ::waitpid(c, nullptr, 0);   // the session leader is gone; its child now has a new parent

    char buffer[256];
    for (;;) {
        const ssize_t n = ::read(link[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        report.append(buffer, static_cast<size_t>(n));
    }
    ::close(link[0]);
    report += "ready\n";
    WriteText(1, report);
    WaitForEndOfInput();
    return 0;
}

int Leave()
{
    const pid_t g = ::fork();
    if (g == 0)
        SleepForever();
    WriteText(1, "orphan " + std::to_string(g) + "\n");
    return 0;
}

int Orphans()
{
    for (int i = 0; i < 5; ++i) {
        int link[2];
        if (::pipe(link) != 0)
            return 1;
        const pid_t c = ::fork();
        if (c == 0) {
            ::setsid();
            const pid_t g = ::fork();
            if (g == 0) {
                ::usleep(600 * 1000);   // outlives its parent, then ends as an orphan
                ::_exit(0);
            }
            WriteText(link[1], "orphan " + std::to_string(g) + "\n");
            ::_exit(0);
        }
        ::close(link[1]);
        char buffer[64];
        const ssize_t n = ::read(link[0], buffer, sizeof buffer);
        ::close(link[0]);
        ::waitpid(c, nullptr, 0);
        if (n > 0)
            WriteAll(1, buffer, static_cast<size_t>(n));
        ::usleep(300 * 1000);
    }
    WriteText(1, "done\n");
    WaitForEndOfInput();
    return 0;
}

int Children()
{
    const long count = EnvNumber("LISPHELPER_COUNT", 1000);
    for (long i = 0; i < count; ++i) {
        const pid_t c = ::fork();
        if (c == 0)
            SleepForever();
        if (c < 0)
            return 1;
    }
    WriteText(1, "ready\n");
    WaitForEndOfInput();
    return 0;
}

int Daemon()
{
    int link[2];
    if (::pipe(link) != 0)
        return 1;
    const pid_t c = ::fork();
    if (c == 0) {
        ::setsid();
        const pid_t g = ::fork();
        if (g == 0) {
            ::close(link[0]);
            ::close(link[1]);
            // Nothing of the parent's environment goes along, not even a mark.
            char *const argv[] = {const_cast<char *>("sleep"), const_cast<char *>("1005"), nullptr};
            char *const envp[] = {nullptr};
            ::execve("/bin/sleep", argv, envp);
            ::_exit(127);
        }
        WriteText(link[1], "daemon " + std::to_string(g) + "\n");
        ::_exit(0);
    }
    ::close(link[1]);
    ::waitpid(c, nullptr, 0);
    char buffer[64];
    const ssize_t n = ::read(link[0], buffer, sizeof buffer);
    ::close(link[0]);
    if (n > 0)
        WriteAll(1, buffer, static_cast<size_t>(n));
    WriteText(1, "ready\n");
    WaitForEndOfInput();
    return 0;
}

int Blinks()
{
    const long count = EnvNumber("LISPHELPER_COUNT", 50);
    for (long i = 0; i < count; ++i) {
        const pid_t c = ::fork();
        if (c == 0) {
            if (::fork() == 0) {
                ::usleep(static_cast<useconds_t>(1000 * (i % 5)));
                ::_exit(0);
            }
            ::_exit(0);
        }
        ::waitpid(c, nullptr, 0);
    }
    WriteText(1, "ready\n");
    WaitForEndOfInput();
    return 0;
}

int Interruptible()
{
    return posixchild::SigintEcho("pid " + std::to_string(::getpid()) + "\n",
                           [](const std::string &text) { WriteText(1, text); });
}

int Ticks()
{
    const long ms = EnvNumber("LISPHELPER_MS", 50);
    ::fcntl(0, F_SETFL, ::fcntl(0, F_GETFL) | O_NONBLOCK);
    std::string line;
    for (long tick = 1;; ++tick) {
        char buffer[4096];
        const ssize_t n = ::read(0, buffer, sizeof buffer);
        if (n == 0)
            return 0;
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] == '\n') {
                WriteText(1, "got " + line + "\n");
                line.clear();
            } else {
                line += buffer[i];
            }
        }
        WriteText(1, "tick " + std::to_string(tick) + "\n");
        ::usleep(static_cast<useconds_t>(ms * 1000));
    }
}

int Pieces()
{
    std::string line;
    char c;
    for (;;) {
        const ssize_t n = ::read(0, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        if (c != '\n') {
            line += c;
            continue;
        }
        WriteText(1, line);
        ::usleep(20 * 1000);
        WriteText(1, "\n* ");
        line.clear();
    }
}

int LongLine()
{
    const size_t total = static_cast<size_t>(EnvNumber("LISPHELPER_KB", 1024)) << 10;
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

int Mixed()
{
    for (int i = 1; i <= 5; ++i) {
        WriteText(1, "out " + std::to_string(i) + "\n");
        WriteText(2, "err " + std::to_string(i) + "\n");
    }
    WaitForEndOfInput();
    return 0;
}

// What a terminal Lisp finds: its streams, its terminal's settings and environment.
int Terminal()
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
        char c;
        while (fd >= 0 && ::read(fd, &c, 1) == 1 && c != '\n')
            rc += c;
        if (fd >= 0)
            ::close(fd);
    }
    WriteText(1, "inputrc " + rc + "\n");
    WriteText(1, "\x1b[1");
    ::usleep(50000);
    WriteText(1, "mbold\x1b[0m \x1b]0;title\x07plain\a\x1b(B\n");
    ::usleep(static_cast<useconds_t>(EnvNumber("LISPHELPER_MS", 0) * 1000));
    std::string line;
    return ForEachInput([&line](const char *data, size_t length) {
        for (size_t i = 0; i < length; ++i) {
            if (data[i] != '\n') {
                line += data[i];
                continue;
            }
            const uint64_t digest = flood::Digest(line.data(), line.size());
            char answer[96];
            std::snprintf(answer, sizeof answer, "line %zu %016llx\n", line.size(),
                          static_cast<unsigned long long>(digest));
            WriteText(1, answer);
            line.clear();
        }
        return true;
    });
}

} // namespace

int main(int argc, char **argv)
{
    const char *modeValue = std::getenv("LISPHELPER_MODE");
    const std::string mode = modeValue ? modeValue : "echo";
    if (mode == "echo")
        return Echo();
    if (mode == "args")
        return Args(argc, argv);
    if (mode == "flood")
        return Flood();
    if (mode == "tree")
        return Tree();
    if (mode == "mixed")
        return Mixed();
    if (mode == "leave")
        return Leave();
    if (mode == "orphans")
        return Orphans();
    if (mode == "children")
        return Children();
    if (mode == "daemon")
        return Daemon();
    if (mode == "blinks")
        return Blinks();
    if (mode == "interrupt")
        return Interruptible();
    if (mode == "pieces")
        return Pieces();
    if (mode == "longline")
        return LongLine();
    if (mode == "ticks")
        return Ticks();
    if (mode == "terminal")
        return Terminal();
    if (mode == "exit") {
        WriteText(1, "last words\n");
        WriteText(2, "on stderr\n");
        return 3;
    }
    if (mode == "crash") {
        WriteText(1, "about to crash\n");
        std::abort();
    }
    if (mode == "bytes") {
        static const char data[] = "a\rb\rc\rx\0y\0z\n";
        WriteAll(1, data, sizeof data - 1);
        WaitForEndOfInput();
        return 0;
    }
    WriteText(2, "lisphelper: unknown mode " + mode + "\n");
    return 2;
}
