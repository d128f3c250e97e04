// Benchmarks of the Lisp redirector: output throughput against cat, write-to-output latency, start and stop time.
#include "lisp/CRedirector.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <sys/resource.h>

namespace {

using Clock = std::chrono::steady_clock;

const std::string kHelper = TALVEX_TEST_HELPERS_DIR "/fakelisp";

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Counts what arrives, taken as the console takes it: the I/O thread only reports, and this
// thread takes what waits when told.
class CountingSink
{
public:
    CRedirector *operator->() { return &m_lisp; }

    // Sleeps until output is reported, as an event loop would, then takes and counts it.
    void TakeWhenPending()
    {
        {
            std::unique_lock lock(m_mutex);
            m_pendingChanged.wait_for(lock, std::chrono::milliseconds(10), [&] { return m_bPending; });
            m_bPending = false;
        }
        while (m_lisp.TakeOutput(m_chunk))
            ;
        // Touch the bytes as a real consumer would.
        volatile char sink = 0;
        for (size_t i = 0; i < m_chunk.size(); i += 4096)
            sink = sink + m_chunk[i];
        m_nBytes += m_chunk.size();
        m_chunk.clear();
    }

    size_t m_nBytes = 0;

private:
    void Report()
    {
        {
            std::lock_guard lock(m_mutex);
            m_bPending = true;
        }
        m_pendingChanged.notify_one();
    }

    std::mutex m_mutex;
    std::condition_variable m_pendingChanged;
    bool m_bPending = false;
    std::string m_chunk;
    CRedirector m_lisp{[this] { Report(); }};   // last: stopped before the rest goes
};

// CPU time (user + system) of this process and of its reaped children, in milliseconds.
double CpuMs()
{
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage u{};
        ::getrusage(who, &u);
        total += (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0
            + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
    }
    return total;
}

std::vector<double> g_cpuCat, g_cpuTaken;

double ThroughputCat(size_t megabytes)
{
    const double cpu = CpuMs();
    const std::string command = "FAKELISP_MODE=flood FAKELISP_MB=" + std::to_string(megabytes)
        + " '" + kHelper + "' </dev/null | cat >/dev/null";
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "baseline command failed\n");
    const double ms = Ms(Clock::now() - start);
    g_cpuCat.push_back(CpuMs() - cpu);
    return ms;
}

double ThroughputRedirector(size_t megabytes)
{
    ::setenv("FAKELISP_MODE", "flood", 1);
    ::setenv("FAKELISP_MB", std::to_string(megabytes).c_str(), 1);
    ::setenv("FAKELISP_READ", "0", 1);
    const double cpu = CpuMs();
    CountingSink r;
    r->m_strCommandLine = kHelper;
    const size_t total = megabytes << 20;
    const auto start = Clock::now();
    r->StartLisp();
    while (r.m_nBytes < total)
        r.TakeWhenPending();
    const double ms = Ms(Clock::now() - start);
    r->StopLisp();   // reaps the helper, so its CPU time counts too
    g_cpuTaken.push_back(CpuMs() - cpu);
    return ms;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Text output (one long line of digits) through pipes or a pseudo-terminal, drained as the
// console drains it.
double ThroughputText(size_t megabytes, bool terminal)
{
    ::setenv("FAKELISP_MODE", "longline", 1);
    ::setenv("FAKELISP_KB", std::to_string(megabytes << 10).c_str(), 1);
    CountingSink r;
    r->m_bTerminal = terminal;
    r->m_strCommandLine = kHelper;
    const size_t total = (megabytes << 20) + 5;   // and "\nend\n"
    const auto start = Clock::now();
    r->StartLisp();
    while (r.m_nBytes < total)
        r.TakeWhenPending();
    const double ms = Ms(Clock::now() - start);
    r->StopLisp();
    return ms;
}

// Median time from a write to the first byte of its echo, and median StopLisp time.
std::pair<double, double> EchoAndStop(bool terminal, int lines, int stops)
{
    ::setenv("FAKELISP_MODE", "echo", 1);
    CountingSink r;
    r->m_bTerminal = terminal;
    r->m_strCommandLine = kHelper;
    r->StartLisp();
    std::vector<double> latency;
    for (int i = 0; i < lines; ++i) {
        const size_t before = r.m_nBytes;
        const auto start = Clock::now();
        r->WriteToLisp("(+ 1 2)\n");
        while (r.m_nBytes == before)
            r.TakeWhenPending();
        latency.push_back(Ms(Clock::now() - start));
        while (r.m_nBytes < before + 8)
            r.TakeWhenPending();
    }
    std::vector<double> stopTimes;
    for (int i = 0; i < stops; ++i) {
        r->StartLisp();
        const auto start = Clock::now();
        r->StopLisp();
        stopTimes.push_back(Ms(Clock::now() - start));
    }
    return {Median(latency), Median(stopTimes)};
}

// Pipes against a pseudo-terminal, interleaved in the same run.
void CompareStreams(size_t megabytes, int rounds)
{
    std::vector<double> pipeRate, ttyRate, pipeEcho, ttyEcho, pipeStop, ttyStop;
    for (int i = 0; i < rounds; ++i) {
        for (bool terminal : {false, true}) {
            const double ms = ThroughputText(megabytes, terminal);
            const auto [echo, stop] = EchoAndStop(terminal, 300, 30);
            (terminal ? ttyRate : pipeRate).push_back(static_cast<double>(megabytes) / (ms / 1000));
            (terminal ? ttyEcho : pipeEcho).push_back(echo);
            (terminal ? ttyStop : pipeStop).push_back(stop);
        }
    }
    std::printf("pipes against a pseudo-terminal (median of %d rounds, interleaved):\n", rounds);
    std::printf("  text output, %zu MB:    pipes %7.0f MB/s   terminal %7.0f MB/s\n", megabytes,
                Median(pipeRate), Median(ttyRate));
    std::printf("  write -> first echoed byte: pipes %.3f ms   terminal %.3f ms\n", Median(pipeEcho),
                Median(ttyEcho));
    std::printf("  StopLisp of an idle child:  pipes %.2f ms   terminal %.2f ms\n", Median(pipeStop),
                Median(ttyStop));
}

// Median time from StartLisp until the Lisp's first answer, while this program holds residentMb
// megabytes more memory: a start copies the program's page tables once, so it grows with them.
double StartToAnswer(size_t residentMb, int rounds)
{
    std::vector<char> held(residentMb << 20);
    for (size_t i = 0; i < held.size(); i += 4096)
        held[i] = 1;
    ::setenv("FAKELISP_MODE", "echo", 1);
    CountingSink r;
    r->m_strCommandLine = kHelper;
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const size_t before = r.m_nBytes;
        const auto start = Clock::now();
        r->StartLisp();
        r->WriteToLisp("(+ 1 2)\n");
        while (r.m_nBytes == before)
            r.TakeWhenPending();
        times.push_back(Ms(Clock::now() - start));
        r->StopLisp();
    }
    return Median(times);
}

} // namespace

int main(int argc, char **argv)
{
    const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;

    // Throughput: both sides in the same run, alternating, median of the rounds.
    std::vector<double> cat, taken;
    for (int i = 0; i < rounds; ++i) {
        cat.push_back(ThroughputCat(megabytes));
        taken.push_back(ThroughputRedirector(megabytes));
    }
    const double mb = static_cast<double>(megabytes);
    const double catRate = mb / (Median(cat) / 1000);
    const double takenRate = mb / (Median(taken) / 1000);
    std::printf("throughput, %zu MB (median of %d):\n", megabytes, rounds);
    std::printf("  helper | cat            %8.1f ms  %7.0f MB/s\n", Median(cat), catRate);
    std::printf("  redirector, taken by another thread %8.1f ms  %7.0f MB/s  (%3.0f %% of cat)\n",
                Median(taken), takenRate, 100 * takenRate / catRate);
    // CPU time does not depend on what else the machine runs: producer plus transport plus consumer.
    std::printf("  CPU time (helper + transport + consumer): cat %.0f ms, taken %.0f ms\n",
                Median(g_cpuCat), Median(g_cpuTaken));

    // Latency: one line to an echoing child until its first byte is in the sink.
    ::setenv("FAKELISP_MODE", "echo", 1);
    CountingSink r;
    r->m_strCommandLine = kHelper;
    r->StartLisp();
    std::vector<double> latency;
    for (int i = 0; i < 2000; ++i) {
        const size_t before = r.m_nBytes;
        const std::string line = "(+ 1 2)\n";
        const auto start = Clock::now();
        r->WriteToLisp(line);
        while (r.m_nBytes == before)
            r.TakeWhenPending();
        latency.push_back(Ms(Clock::now() - start));
        while (r.m_nBytes < before + line.size())
            r.TakeWhenPending();
    }
    std::sort(latency.begin(), latency.end());
    std::printf("latency WriteToLisp -> first byte in sink, %zu lines: median %.3f ms, p90 %.3f ms, "
                "p99 %.3f ms\n",
                latency.size(), latency[latency.size() / 2], latency[latency.size() * 9 / 10],
                latency[latency.size() * 99 / 100]);

    // Stop: StopLisp of an idle echoing child (ends the tree, reaps).
    std::vector<double> stops;
    for (int i = 0; i < 200; ++i) {
        r->StartLisp();
        const auto start = Clock::now();
        r->StopLisp();
        stops.push_back(Ms(Clock::now() - start));
    }
    std::sort(stops.begin(), stops.end());
    std::printf("StopLisp of an idle child, %zu stops: median %.2f ms, max %.2f ms\n", stops.size(),
                stops[stops.size() / 2], stops.back());

    std::printf("StartLisp until the first answer (median of 30):");
    for (size_t resident : {0, 256, 1024})
        std::printf("  +%zu MB resident %.2f ms", resident, StartToAnswer(resident, 30));
    std::printf("\n");

    CompareStreams(std::min<size_t>(megabytes, 50), rounds);
    return 0;
}
