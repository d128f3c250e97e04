// Console benchmarks: round trip, flood, interrupt, overlong lines and endless output, each with a
// baseline in the same run where one exists.
//
//   bench_console                  round trip, 50 MB flood, interrupt, long lines (5, 10, 20 MB)
//   bench_console endless [s]      endless 80-byte lines for s seconds (default 600): memory and keys
//   bench_console longline [MB]    one line of MB megabytes (default: 5, 10 and 20 in turn)
//   bench_console longline bare    and, as the baseline, 5 MB into a bare word-wrapped control
//   bench_console paste            a 10 MB paste of 100-byte lines, then one of a single 10 MB line
//   bench_console <part> ...       only the named parts: roundtrip flood interrupt longline endless paste
#include "editor/CScintillaCtrl.h"
#include "lisp/CTalvexPipe.h"
#include "settings/CSettingsStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QInputDevice>
#include <QKeyEvent>
#include <QMetaObject>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QAbstractEventDispatcher>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

const char *const kSbcl = "/usr/bin/sbcl";
const std::string kHelper = TALVEX_TEST_HELPERS_DIR "/fakelisp";
constexpr int kRoundTrips = 200;
constexpr long kFloodLines = 625000; // 80 bytes each: 50 MB
const char *const kFloodForm =
    "(let ((s (make-string 79 :initial-element #\\x))) (dotimes (i 625000) (write-line s)) (finish-output))";

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double Worst(const std::vector<double> &v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

double Percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(double(v.size()) * p))];
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// CPU time of the calling thread (the UI thread here), in milliseconds.
double ThreadCpuMs()
{
    rusage u{};
    ::getrusage(RUSAGE_THREAD, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

double ResidentMb()
{
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return double(resident) * double(::sysconf(_SC_PAGESIZE)) / (1 << 20);
}

// A plain child with stdin and stdout+stderr on pipes, no layer of the program in between.
struct BareChild
{
    pid_t pid = -1;
    int in = -1;
    int out = -1;

    bool Start(const char *program)
    {
        int toChild[2], fromChild[2];
        if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)
            return false;
        pid = fork();
        if (pid == 0) {
            dup2(toChild[0], 0);
            dup2(fromChild[1], 1);
            dup2(fromChild[1], 2);
            execl(program, program, static_cast<char *>(nullptr));
            _exit(127);
        }
        close(toChild[0]);
        close(fromChild[1]);
        in = toChild[1];
        out = fromChild[0];
        return pid > 0;
    }
    void Write(const std::string &s) const
    {
        size_t done = 0;
        while (done < s.size()) {
            const ssize_t n = write(in, s.data() + done, s.size() - done);
            if (n <= 0)
                return;
            done += static_cast<size_t>(n);
        }
    }
    // Reads until the text read since the call ends with what; returns false on end of file.
    bool ReadUntil(const std::string &what) const
    {
        std::string got;
        char buf[65536];
        while (got.size() < what.size() || got.compare(got.size() - what.size(), what.size(), what) != 0) {
            const ssize_t n = read(out, buf, sizeof buf);
            if (n <= 0)
                return false;
            got.append(buf, static_cast<size_t>(n));
        }
        return true;
    }
    ~BareChild()
    {
        if (in >= 0)
            close(in);
        if (out >= 0)
            close(out);
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
};

// Handles the events that come, sleeping while there are none (a timer wakes the wait now and
// then), so that the time the UI thread spends is the console's own.
void HandleEvents()
{
    static QTimer *beat = [] {
        auto *timer = new QTimer(QCoreApplication::instance());
        timer->start(10);
        return timer;
    }();
    (void)beat;
    QThread::currentThread()->eventDispatcher()->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

// Handles events until the UI thread has been idle for a while (the control lays out wrapped
// lines in the background after the text is in); returns the UI thread's CPU time meanwhile.
double Settle()
{
    const double start = ThreadCpuMs();
    QElapsedTimer all;
    all.start();
    for (double before = start;; ) {
        QElapsedTimer window;
        window.start();
        while (window.elapsed() < 300)
            HandleEvents();
        const double now = ThreadCpuMs();
        if (now - before < 15 || all.elapsed() > 120000)
            break;
        before = now;
    }
    return ThreadCpuMs() - start;
}

// Waits (handling events) until pred holds or the timeout ends.
template <typename Pred>
bool WaitFor(Pred pred, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs)
            return false;
        HandleEvents();
    }
    return true;
}

// The console as the program has it, recording when each typed key is handled.
class TimedConsole : public CTalvexPipe
{
public:
    TimedConsole()
    {
        ConfigureConsole();
        resize(700, 300);
        show();
    }
    bool Start(const std::string &commandLine, const QByteArray &prompt)
    {
        SetCommandLine(commandLine);
        if (StartLisp() && (prompt.isEmpty() || WaitFor([&] { return EndsWith(prompt); }, 20000)))
            return true;
        std::printf("cannot start %s: %s\n", commandLine.c_str(), GetText().right(200).constData());
        return false;
    }
    bool EndsWith(const QByteArray &tail) const
    {
        const Pos length = GetLength();
        return length >= tail.size() && GetTextRange(length - tail.size(), length) == tail;
    }
    // Whether the output (before anything typed) ends with tail.
    bool OutputEndsWith(const QByteArray &tail) const
    {
        const Pos end = InputStart() >= 0 ? InputStart() : GetLength();
        return end >= tail.size() && GetTextRange(end - tail.size(), end) == tail;
    }

    // Posts a key every interval ms from now on, from a thread of its own as a user's keyboard
    // would, however busy the UI thread is; the delays until each is handled are kept.
    void TypeEvery(int intervalMs, bool eraseToo)
    {
        m_typing = true;
        m_typist = std::thread([this, intervalMs, eraseToo] {
            for (int n = 1; m_typing; ++n) {
                std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
                // A key posted once the UI thread waits in KeyDelays() would be timed through
                // that wait, which no user sees.
                if (!m_typing)
                    break;
                const bool erase = eraseToo && n % 2 == 0;
                {
                    std::lock_guard lock(m_mutex);
                    m_posted.push_back(Clock::now());
                }
                QCoreApplication::postEvent(this, erase ? new QKeyEvent(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier)
                                                        : new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x"));
            }
        });
    }
    std::vector<double> KeyDelays()
    {
        m_typing = false;
        if (m_typist.joinable())
            m_typist.join();
        WaitFor([&] { std::lock_guard lock(m_mutex); return m_handled.size() >= m_posted.size(); }, 10000);
        std::lock_guard lock(m_mutex);
        std::vector<double> delays;
        for (size_t i = 0; i < m_posted.size() && i < m_handled.size(); ++i)
            delays.push_back(Ms(m_handled[i] - m_posted[i]));
        return delays;
    }
    ~TimedConsole() override { KeyDelays(); }

protected:
    void keyPressEvent(QKeyEvent *e) override
    {
        CTalvexPipe::keyPressEvent(e);
        std::lock_guard lock(m_mutex);
        m_handled.push_back(Clock::now());
    }

private:
    std::atomic<bool> m_typing{false};
    std::thread m_typist;
    std::mutex m_mutex;
    std::vector<Clock::time_point> m_posted, m_handled;
};

void RoundTrip()
{
    // Baseline: a bare pipe round trip to its own SBCL.
    std::vector<double> bare;
    {
        BareChild child;
        if (!child.Start(kSbcl) || !child.ReadUntil("* ")) {
            std::printf("round trip: cannot start %s\n", kSbcl);
            return;
        }
        for (int i = 0; i < kRoundTrips; ++i) {
            const auto t0 = Clock::now();
            child.Write("(+ 1 2)\n");
            if (!child.ReadUntil("3\n* "))
                return;
            bare.push_back(Ms(Clock::now() - t0));
        }
    }
    std::vector<double> console;
    {
        TimedConsole pane;
        if (!pane.Start(kSbcl, "* ")) {
            std::printf("round trip: console cannot start %s\n", kSbcl);
            return;
        }
        for (int i = 0; i < kRoundTrips; ++i) {
            const auto t0 = Clock::now();
            pane.SendToLisp("(+ 1 2)");
            if (!WaitFor([&] { return pane.EndsWith("3\n* "); }, 5000)) {
                std::printf("round trip: no answer\n");
                return;
            }
            console.push_back(Ms(Clock::now() - t0));
        }
    }
    std::printf("round trip (+ 1 2), median of %d: bare pipe %.3f ms, console %.3f ms, difference %.3f ms\n",
                kRoundTrips, Median(bare), Median(console), Median(console) - Median(bare));
}

// The bare accumulating console: a reader thread collects what it reads; the UI thread takes
// all of it in one append and one caret move per drain.
class BareConsole
{
public:
    explicit BareConsole(CScintillaCtrl &ctrl) : m_ctrl(ctrl) {}

    void Run(int fd)
    {
        m_reader = std::thread([this, fd] {
            char buf[65536];
            for (;;) {
                const ssize_t n = read(fd, buf, sizeof buf);
                if (n <= 0)
                    break;
                bool post;
                {
                    std::lock_guard lock(m_mutex);
                    post = m_pending.empty();
                    m_pending.append(buf, static_cast<size_t>(n));
                }
                if (post)
                    QMetaObject::invokeMethod(&m_ctrl, [this] { Drain(); }, Qt::QueuedConnection);
            }
        });
    }
    void Join()
    {
        if (m_reader.joinable())
            m_reader.join();
    }
    ~BareConsole() { Join(); }

private:
    void Drain()
    {
        std::string chunk;
        {
            std::lock_guard lock(m_mutex);
            chunk.swap(m_pending);
        }
        if (chunk.empty())
            return;
        m_ctrl.AppendText(chunk.data(), static_cast<CScintillaCtrl::Pos>(chunk.size()));
        m_ctrl.GotoPos(m_ctrl.GetLength());
    }

    CScintillaCtrl &m_ctrl;
    std::thread m_reader;
    std::mutex m_mutex;
    std::string m_pending;
};

void Flood()
{
    const qint64 floodBytes = kFloodLines * 80;
    double bareMs = 0, bareCpu = 0;
    {
        CScintillaCtrl ctrl;
        ctrl.SetCodePage(QsciScintillaBase::SC_CP_UTF8);
        ctrl.SetWrapMode(QsciScintillaBase::SC_WRAP_WORD);
        ctrl.resize(700, 300);
        ctrl.show();
        BareChild child;
        if (!child.Start(kSbcl) || !child.ReadUntil("* "))
            return;
        BareConsole bare(ctrl);
        bare.Run(child.out);
        const double bareCpu0 = ThreadCpuMs();
        const auto t0 = Clock::now();
        child.Write(std::string(kFloodForm) + "\n");
        if (!WaitFor([&] { return ctrl.GetLength() >= floodBytes; }, 600000)) {
            std::printf("flood: bare console timed out\n");
            return;
        }
        bareMs = Ms(Clock::now() - t0);
        bareCpu = ThreadCpuMs() - bareCpu0;
        close(child.in);
        child.in = -1;
        kill(child.pid, SIGKILL);
        bare.Join();
    }

    TimedConsole pane;
    if (!pane.Start(kSbcl, "* "))
        return;
    const double cpu0 = ThreadCpuMs();
    const auto t0 = Clock::now();
    pane.SendToLisp(kFloodForm);
    pane.TypeEvery(100, true);
    if (!WaitFor([&] { return pane.OutputEndsWith("NIL\n* "); }, 600000)) {
        std::printf("flood: console timed out\n");
        return;
    }
    const double consoleMs = Ms(Clock::now() - t0);
    const double cpu = ThreadCpuMs() - cpu0;
    const std::vector<double> keys = pane.KeyDelays();
    std::printf("flood 50 MB: bare accumulating console %.0f ms (UI thread CPU %.0f ms), console %.0f ms (UI thread "
                "CPU %.0f ms), ratio %.2f; console kept %.1f MB, dropped %.1f MB, resident %.0f MB\n",
                bareMs, bareCpu, consoleMs, cpu, bareMs > 0 ? consoleMs / bareMs : 0, pane.GetLength() / 1048576.0,
                pane.DroppedBytes() / 1048576.0, ResidentMb());
    std::printf("keys typed during the flood: %zu, median delay %.1f ms, worst %.1f ms\n", keys.size(),
                Median(keys), Worst(keys));
}

void Interrupt()
{
    TimedConsole pane;
    if (!pane.Start(kSbcl, "* "))
        return;
    std::vector<double> delays;
    for (int i = 0; i < 20; ++i) {
        pane.SendToLisp("(loop)");
        QElapsedTimer settle;
        settle.start();
        WaitFor([&] { return settle.elapsed() >= 100; }, 200);
        const auto t0 = Clock::now();
        pane.InterruptLisp();
        if (!WaitFor([&] { return pane.EndsWith("0] "); }, 5000)) {
            std::fprintf(stderr, "interrupt: no break prompt: %s\n", pane.GetText().right(300).constData());
            return;
        }
        delays.push_back(Ms(Clock::now() - t0));
        pane.SendToLisp("1");   // the ABORT restart: back to the top level
        if (!WaitFor([&] { return pane.EndsWith("* "); }, 5000)) {
            std::printf("interrupt: no prompt after the break: %s\n", pane.GetText().right(300).constData());
            return;
        }
    }
    std::printf("interrupt of (loop) in SBCL until its break prompt shows, %zu times: median %.1f ms, worst %.1f ms\n",
                delays.size(), Median(delays), Worst(delays));
}

// One line of megabytes bytes without a line break from the Lisp, then the same as a paste and an
// Enter that sends it back through an echoing Lisp.
void LongLine(int megabytes)
{
    TimedConsole pane;
    ::setenv("FAKELISP_MODE", "longline", 1);
    ::setenv("FAKELISP_KB", std::to_string(megabytes * 1024).c_str(), 1);
    const double cpu0 = ThreadCpuMs();
    const auto t0 = Clock::now();
    pane.TypeEvery(50, true);
    if (!pane.Start(kHelper, "") || !WaitFor([&] { return pane.OutputEndsWith("\nend\n"); }, 900000)) {
        std::printf("long line: timed out with %lld bytes shown: %s\n", (long long)pane.GetLength(),
                    pane.GetText().right(100).constData());
        return;
    }
    const double shownMs = Ms(Clock::now() - t0);
    const std::vector<double> keys = pane.KeyDelays();
    const double cpu = ThreadCpuMs() - cpu0 + Settle();

    const QByteArray line(megabytes << 20, 'y');
    const auto p0 = Clock::now();
    pane.PasteText(line);
    const double pasteMs = Ms(Clock::now() - p0);
    const auto e0 = Clock::now();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
    QCoreApplication::sendEvent(&pane, &enter);
    const double enterMs = Ms(Clock::now() - e0);
    const qint64 sent = pane.DroppedBytes() + pane.GetLength();
    const auto echoed = [&] {
        const CScintillaCtrl::Pos length = pane.GetLength();
        return pane.DroppedBytes() + length >= sent + line.size()
            && pane.PlainText(std::max<CScintillaCtrl::Pos>(0, length - 16), length).endsWith("yyyy\n");
    };
    if (!WaitFor(echoed, 900000))
        std::printf("long line: no echo\n");
    const double echoMs = Ms(Clock::now() - e0);
    std::printf("line of %2d MB: shown in %.0f ms, UI thread CPU with layout %.0f ms (%.0f ns a byte), keys %zu, worst delay "
                "%.1f ms; paste %.0f ms, Enter %.0f ms, echo shown after %.0f ms\n",
                megabytes, shownMs, cpu, cpu * 1e6 / double(megabytes << 20), keys.size(), Worst(keys),
                pasteMs, enterMs, echoMs);
}

// The baseline of a long line: a bare word-wrapped control that is given it a megabyte at a time,
// while keys are posted to it.
void LongLineBare(int megabytes)
{
    CScintillaCtrl ctrl;
    ctrl.SetCodePage(QsciScintillaBase::SC_CP_UTF8);
    ctrl.SetWrapMode(QsciScintillaBase::SC_WRAP_WORD);
    ctrl.SendScintilla(QsciScintillaBase::SCI_SETUNDOCOLLECTION, 0UL);
    ctrl.resize(700, 300);
    ctrl.show();
    std::string piece;
    while (piece.size() < (1u << 20))
        piece += "0123456789";
    piece.resize(1u << 20);
    // Events posted from a thread of its own every 50 ms, as keys would come.
    std::mutex mutex;
    std::vector<double> keys;
    std::atomic<bool> typing{true};
    std::thread typist([&] {
        while (typing) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const auto posted = Clock::now();
            QMetaObject::invokeMethod(&ctrl, [&, posted] {
                std::lock_guard lock(mutex);
                keys.push_back(Ms(Clock::now() - posted));
            }, Qt::QueuedConnection);
        }
    });
    const double cpu0 = ThreadCpuMs();
    const auto t0 = Clock::now();
    int appended = 0;
    QTimer feed;
    QObject::connect(&feed, &QTimer::timeout, [&] {
        if (appended < megabytes) {
            ctrl.AppendText(piece.data(), CScintillaCtrl::Pos(piece.size()));
            ctrl.GotoPos(ctrl.GetLength());
            ++appended;
        }
    });
    feed.start(0);
    WaitFor([&] { return appended == megabytes; }, 3600000);
    feed.stop();
    const double shownMs = Ms(Clock::now() - t0);
    typing = false;
    typist.join();
    const double cpu = ThreadCpuMs() - cpu0 + Settle();
    std::printf("baseline, bare word-wrapped control, line of %2d MB: shown in %.0f ms, UI thread CPU with layout "
                "%.0f ms (%.0f ns a byte), worst delay of a posted event %.1f ms\n",
                megabytes, shownMs, cpu, cpu * 1e6 / double(megabytes << 20), [&] {
                    std::lock_guard lock(mutex);
                    return Worst(keys);
                }());
}

// A paste of 10 MB into the console of an echoing Lisp, while keys come every 50 ms: the worst
// key delay, the time until every line is sent, and until the last one's echo is shown.
void Paste(bool oneLine)
{
    TimedConsole pane;
    if (!pane.Start("/bin/cat", ""))
        return;
    QByteArray text;
    if (oneLine) {
        text = QByteArray(10 << 20, 'p') + "\n";
    } else {
        for (int i = 0; text.size() < (10 << 20); ++i)
            text += "(line " + QByteArray::number(i).rightJustified(8, '0') + ' ' + QByteArray(83, 'p') + ")\n";
    }
    text += "(end of paste)\n";
    pane.TypeEvery(50, false);
    const auto t0 = Clock::now();
    pane.PasteText(text);
    const double firstMs = Ms(Clock::now() - t0);
    WaitFor([&] { return !pane.IsPasting(); }, 600000);
    const double sentMs = Ms(Clock::now() - t0);
    // Every echo comes after the whole paste; the last one ends the output.
    const auto outputSoFar = [&] { return pane.DroppedBytes() + (pane.InputStart() >= 0 ? pane.InputStart() : pane.GetLength()); };
    const qint64 pasted = outputSoFar();
    const bool shown = WaitFor([&] { return outputSoFar() >= pasted + text.size() && pane.OutputEndsWith("(end of paste)\n"); },
                               600000);
    const double shownMs = Ms(Clock::now() - t0);
    const std::vector<double> keys = pane.KeyDelays();
    std::printf("paste of 10 MB (%s): first part %.0f ms, all lines sent %.0f ms, last echo %s %.0f ms; "
                "keys %zu, median delay %.1f ms, worst %.1f ms\n",
                oneLine ? "one line" : "100-byte lines", firstMs, sentMs, shown ? "shown" : "NOT shown", shownMs,
                keys.size(), Median(keys), Worst(keys));
}

// Endless 80-byte lines at the default output limit: resident memory over time, key delays.
void Endless(int seconds)
{
    TimedConsole pane;
    if (!pane.Start("/usr/bin/yes " + std::string(79, 'x'), ""))
        return;
    pane.TypeEvery(100, true);
    QElapsedTimer clock;
    clock.start();
    double atMinute = 0, low = 1e9, high = 0;
    std::printf("endless output for %d s (limit %lld MB):\n", seconds, pane.OutputLimit() >> 20);
    for (int second = 10; second <= seconds; second += 10) {
        WaitFor([&] { return clock.elapsed() >= second * 1000LL; }, 20000);
        const double rss = ResidentMb();
        if (second == 60)
            atMinute = rss;
        if (second > 60) {
            low = std::min(low, rss);
            high = std::max(high, rss);
        }
        std::printf("  %4d s: resident %.0f MB, shown %.0f MB in all\n", second, rss,
                    (pane.DroppedBytes() + pane.GetLength()) / 1048576.0);
        std::fflush(stdout);
    }
    const std::vector<double> keys = pane.KeyDelays();
    if (atMinute > 0 && high > 0)
        std::printf("resident after the first minute: %.0f MB at 60 s, then %.0f..%.0f MB (%+.1f %% .. %+.1f %%)\n",
                    atMinute, low, high, 100 * (low / atMinute - 1), 100 * (high / atMinute - 1));
    std::printf("keys typed: %zu, median delay %.1f ms, 99th percentile %.1f ms, worst %.1f ms, %zu over 16 ms\n",
                keys.size(), Median(keys), Percentile(keys, 0.99), Worst(keys),
                size_t(std::count_if(keys.begin(), keys.end(), [](double d) { return d > 16; })));
}

} // namespace

int main(int argc, char *argv[])
{
    // A settings folder of its own, so the run neither reads nor changes the user's settings.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    CSettingsStore::Instance().SetKeyPath(QStringLiteral("Software\\Quenmark\\Talvex"));
    signal(SIGPIPE, SIG_IGN);
    // The keyboard device that key events name is made on first use; on this thread, not a typist's.
    QInputDevice::primaryKeyboard();

    std::vector<std::string> parts;
    for (int i = 1; i < argc; ++i)
        parts.emplace_back(argv[i]);
    const auto wants = [&](const char *part) {
        return (parts.empty() && std::strcmp(part, "endless") != 0)
            || std::find(parts.begin(), parts.end(), part) != parts.end();
    };
    if (wants("roundtrip"))
        RoundTrip();
    if (wants("flood"))
        Flood();
    if (wants("interrupt"))
        Interrupt();
    if (wants("longline")) {
        auto it = std::find(parts.begin(), parts.end(), "longline");
        if (it != parts.end() && it + 1 != parts.end() && std::atoi((it + 1)->c_str()) > 0)
            LongLine(std::atoi((it + 1)->c_str()));
        else
            for (int mb : {5, 10, 20})
                LongLine(mb);
        if (std::find(parts.begin(), parts.end(), "bare") != parts.end())
            LongLineBare(5);
    }
    if (wants("paste")) {
        Paste(false);
        Paste(true);
    }
    if (wants("endless")) {
        auto it = std::find(parts.begin(), parts.end(), "endless");
        const int seconds = it != parts.end() && it + 1 != parts.end() ? std::atoi((it + 1)->c_str()) : 600;
        Endless(seconds > 0 ? seconds : 600);
    }
    return 0;
}
