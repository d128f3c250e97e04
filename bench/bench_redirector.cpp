// Benchmarks of the Lisp redirector: output throughput against cat, write-to-output latency, stop time.
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
#include <type_traits>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const std::string kHelper = TALVEX_TEST_HELPERS_DIR "/lisphelper";

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Counts what arrives; the I/O thread delivers straight to it.
class CountingRedirector : public CRedirector
{
public:
    ~CountingRedirector() override { StopLisp(); }
    std::atomic<size_t> m_nBytes{0};
    std::atomic<size_t> m_nChunks{0};

protected:
    void AppendOutput(const char *data, size_t length) override
    {
        // Touch the bytes as a real sink would.
        volatile char sink = 0;
        for (size_t i = 0; i < length; i += 4096)
            sink = sink + data[i];
        m_nBytes.fetch_add(length, std::memory_order_release);
        m_nChunks.fetch_add(1, std::memory_order_relaxed);
    }
};

// The console's pattern: the I/O thread only reports; another thread drains.
class PostingRedirector : public CountingRedirector
{
public:
    using CRedirector::DrainOutput;
    // Sleeps until output is reported, as an event loop would, then drains it.
    void DrainWhenPending()
    {
        {
            std::unique_lock lock(m_mutex);
            m_pendingChanged.wait_for(lock, std::chrono::milliseconds(10), [&] { return m_bPending; });
            m_bPending = false;
        }
        DrainOutput();
    }

protected:
    void OnOutputPending() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_bPending = true;
        }
        m_pendingChanged.notify_one();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_pendingChanged;
    bool m_bPending = false;
};

double ThroughputCat(size_t megabytes)
{
    const std::string command = "LISPHELPER_MODE=flood LISPHELPER_MB=" + std::to_string(megabytes)
        + " '" + kHelper + "' </dev/null | cat >/dev/null";
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "baseline command failed\n");
    return Ms(Clock::now() - start);
}

template <class R> double ThroughputRedirector(size_t megabytes)
{
    ::setenv("LISPHELPER_MODE", "flood", 1);
    ::setenv("LISPHELPER_MB", std::to_string(megabytes).c_str(), 1);
    ::setenv("LISPHELPER_READ", "0", 1);
    R r;
    r.m_strCommandLine = kHelper;
    const size_t total = megabytes << 20;
    const auto start = Clock::now();
    r.StartLisp();
    while (r.m_nBytes.load(std::memory_order_acquire) < total) {
        if constexpr (std::is_same_v<R, PostingRedirector>) {
            r.DrainWhenPending();
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    const double ms = Ms(Clock::now() - start);
    r.StopLisp();
    return ms;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;

    // Throughput: both sides in the same run, alternating, median of the rounds.
    std::vector<double> cat, direct, posted;
    for (int i = 0; i < rounds; ++i) {
        cat.push_back(ThroughputCat(megabytes));
        direct.push_back(ThroughputRedirector<CountingRedirector>(megabytes));
        posted.push_back(ThroughputRedirector<PostingRedirector>(megabytes));
    }
    const double mb = static_cast<double>(megabytes);
    const double catRate = mb / (Median(cat) / 1000);
    const double directRate = mb / (Median(direct) / 1000);
    const double postedRate = mb / (Median(posted) / 1000);
    std::printf("throughput, %zu MB (median of %d):\n", megabytes, rounds);
    std::printf("  helper | cat            %8.1f ms  %7.0f MB/s\n", Median(cat), catRate);
    std::printf("  redirector, direct sink %8.1f ms  %7.0f MB/s  (%3.0f %% of cat)\n", Median(direct),
                directRate, 100 * directRate / catRate);
    std::printf("  redirector, drained by another thread %8.1f ms  %7.0f MB/s  (%3.0f %% of cat)\n",
                Median(posted), postedRate, 100 * postedRate / catRate);

    // Latency: one line to an echoing child until its first byte is in the sink.
    ::setenv("LISPHELPER_MODE", "echo", 1);
    CountingRedirector r;
    r.m_strCommandLine = kHelper;
    r.StartLisp();
    std::vector<double> latency;
    for (int i = 0; i < 2000; ++i) {
        const size_t before = r.m_nBytes.load(std::memory_order_acquire);
        std::string line = "(+ 1 2)\n";
        const auto start = Clock::now();
        r.WriteToLisp(line);
        while (r.m_nBytes.load(std::memory_order_acquire) == before)
            std::this_thread::yield();
        latency.push_back(Ms(Clock::now() - start));
        while (r.m_nBytes.load(std::memory_order_acquire) < before + line.size())
            std::this_thread::yield();
    }
    std::sort(latency.begin(), latency.end());
    std::printf("latency WriteToLisp -> first byte in sink, %zu lines: median %.3f ms, p90 %.3f ms, "
                "p99 %.3f ms\n",
                latency.size(), latency[latency.size() / 2], latency[latency.size() * 9 / 10],
                latency[latency.size() * 99 / 100]);

    // Stop: StopLisp of an idle echoing child (ends the tree, reaps).
    std::vector<double> stops;
    for (int i = 0; i < 200; ++i) {
        r.StartLisp();
        const auto start = Clock::now();
        r.StopLisp();
        stops.push_back(Ms(Clock::now() - start));
    }
    std::sort(stops.begin(), stops.end());
    std::printf("StopLisp of an idle child, %zu stops: median %.2f ms, max %.2f ms\n", stops.size(),
                stops[stops.size() / 2], stops.back());
    return 0;
}
