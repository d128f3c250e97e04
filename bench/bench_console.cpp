// Console benchmarks: evaluation round trip and output flood, each against a bare baseline in the same run.
#include "editor/CScintillaCtrl.h"
#include "lisp/CTalvexPipe.h"
#include "lisp/LispCommands.h"
#include "settings/CSettingsStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMetaObject>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char *const kSbcl = "/usr/bin/sbcl";
constexpr int kRoundTrips = 200;
constexpr long kFloodLines = 625000; // 80 bytes each: 50 MB
const char *const kFloodForm =
    "(let ((s (make-string 79 :initial-element #\\x))) (dotimes (i 625000) (write-line s)) (finish-output))";

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
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
    bool ReadUntil(const std::string &what, std::string *all = nullptr) const
    {
        std::string got;
        char buf[65536];
        while (got.size() < what.size() || got.compare(got.size() - what.size(), what.size(), what) != 0) {
            const ssize_t n = read(out, buf, sizeof buf);
            if (n <= 0)
                return false;
            got.append(buf, static_cast<size_t>(n));
        }
        if (all)
            *all = std::move(got);
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

// Waits (handling events) until pred holds or the timeout ends.
template <typename Pred>
bool WaitFor(Pred pred, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

double Ms(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

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
            const auto t0 = std::chrono::steady_clock::now();
            child.Write("(+ 1 2)\n");
            if (!child.ReadUntil("3\n* "))
                return;
            bare.push_back(Ms(std::chrono::steady_clock::now() - t0));
        }
    }

    // The console: SendToLisp until "3" is shown.
    std::vector<double> console;
    {
        CTalvexPipe pane;
        pane.ConfigureConsole();
        pane.resize(700, 300);
        pane.show();
        pane.m_strCommandLine = kSbcl;
        if (!pane.StartLisp() || !WaitFor([&] { return pane.GetText().endsWith("* "); }, 10000)) {
            std::printf("round trip: console cannot start %s\n", kSbcl);
            return;
        }
        for (int i = 0; i < kRoundTrips; ++i) {
            const CScintillaCtrl::Pos from = pane.GetLength();
            const auto t0 = std::chrono::steady_clock::now();
            SendToLisp(pane, "(+ 1 2)");
            if (!WaitFor([&] { return pane.GetTextRange(from, pane.GetLength()).contains('3'); }, 5000)) {
                std::printf("round trip: no answer\n");
                return;
            }
            console.push_back(Ms(std::chrono::steady_clock::now() - t0));
            WaitFor([&] { return pane.GetText().endsWith("* "); }, 5000);
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

// Records when typed keys are handled during the flood, and the size and time of each hand-over.
class TimedConsole : public CTalvexPipe
{
public:
    std::vector<std::chrono::steady_clock::time_point> m_handled;
    std::vector<std::pair<size_t, double>> m_appends;

    void AppendOutput(const char *data, size_t length) override
    {
        const auto t0 = std::chrono::steady_clock::now();
        CTalvexPipe::AppendOutput(data, length);
        m_appends.emplace_back(length, Ms(std::chrono::steady_clock::now() - t0));
    }

protected:
    void keyPressEvent(QKeyEvent *e) override
    {
        CTalvexPipe::keyPressEvent(e);
        m_handled.push_back(std::chrono::steady_clock::now());
    }
};

void Flood()
{
    const qint64 floodBytes = kFloodLines * 80;

    double bareMs = 0;
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
        const auto t0 = std::chrono::steady_clock::now();
        child.Write(std::string(kFloodForm) + "\n");
        if (!WaitFor([&] { return ctrl.GetLength() >= floodBytes; }, 600000)) {
            std::printf("flood: bare console timed out\n");
            return;
        }
        bareMs = Ms(std::chrono::steady_clock::now() - t0);
        close(child.in);
        child.in = -1;
        kill(child.pid, SIGKILL);
        bare.Join();
    }

    double consoleMs = 0;
    std::vector<double> keyLatency;
    std::vector<std::pair<size_t, double>> appendStats;
    {
        TimedConsole pane;
        pane.ConfigureConsole();
        pane.resize(700, 300);
        pane.show();
        pane.m_strCommandLine = kSbcl;
        if (!pane.StartLisp() || !WaitFor([&] { return pane.GetText().endsWith("* "); }, 10000))
            return;
        const CScintillaCtrl::Pos start = pane.GetLength();
        std::vector<std::chrono::steady_clock::time_point> posted;
        QTimer keys;
        keys.setInterval(100);
        QObject::connect(&keys, &QTimer::timeout, [&] {
            posted.push_back(std::chrono::steady_clock::now());
            QCoreApplication::postEvent(&pane, new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x"));
        });
        const auto t0 = std::chrono::steady_clock::now();
        SendToLisp(pane, kFloodForm);
        keys.start();
        if (!WaitFor([&] { return pane.GetLength() - start >= floodBytes + qint64(posted.size()); }, 600000)) {
            std::printf("flood: console timed out\n");
            return;
        }
        consoleMs = Ms(std::chrono::steady_clock::now() - t0);
        keys.stop();
        QCoreApplication::processEvents();
        appendStats = pane.m_appends;
        for (size_t i = 0; i < posted.size() && i < pane.m_handled.size(); ++i)
            keyLatency.push_back(Ms(pane.m_handled[i] - posted[i]));
    }
    size_t biggest = 0;
    double slowest = 0;
    for (const auto &[size, ms] : appendStats) {
        biggest = std::max(biggest, size);
        slowest = std::max(slowest, ms);
    }
    std::printf("console hand-overs: %zu, largest %zu bytes, slowest %.1f ms\n", appendStats.size(), biggest, slowest);
    const double worst = keyLatency.empty() ? 0 : *std::max_element(keyLatency.begin(), keyLatency.end());
    std::printf("flood 50 MB: bare accumulating console %.0f ms, console %.0f ms, ratio %.2f\n", bareMs, consoleMs,
                bareMs > 0 ? consoleMs / bareMs : 0);
    std::printf("keys typed during the flood: %zu, median latency %.1f ms, worst %.1f ms\n", keyLatency.size(),
                Median(keyLatency), worst);
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
    RoundTrip();
    Flood();
    return 0;
}
