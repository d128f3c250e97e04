// The redirector on POSIX, against real child processes; what holds on every system is in tests/process.
#include "lisp/CRedirector.h"
#include "platform/Process.h"
#include "CollectingRedirector.h"
#include "FloodPattern.h"
#include "ProcTable.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <thread>

#include <dirent.h>
#include <unistd.h>

namespace {

const QString kHelper = QStringLiteral(TALVEX_TEST_HELPERS_DIR "/fakelisp");

// Like a busy console: the test thread takes what waits when it gets round to it.
class PolledRedirector
{
public:
    CRedirector *operator->() { return &m_lisp; }
    // One take of what waits; the bytes taken.
    size_t Take()
    {
        const size_t before = m_text.size();
        m_lisp.TakeOutput(m_text);
        return m_text.size() - before;
    }

    std::string m_text;

private:
    CRedirector m_lisp{[] {}};   // the test takes output whenever it likes, told or not
};

int CountEntries(const char *path)
{
    int count = 0;
    if (DIR *dir = ::opendir(path)) {
        while (dirent *e = ::readdir(dir))
            if (e->d_name[0] != '.')
                ++count;
        ::closedir(dir);
    }
    return count;
}

// Children of this process as "pid state" pairs.
QList<QPair<int, char>> OwnChildren()
{
    QList<QPair<int, char>> result;
    for (const ProcEntry &p : ReadProcTable()) {
        if (p.ppid == ::getpid())
            result.append({static_cast<int>(p.pid), p.state});
    }
    return result;
}

bool ProcessExists(int pid) { return ::kill(pid, 0) == 0 || errno != ESRCH; }

} // namespace

class TestRedirector : public QObject
{
    Q_OBJECT

private:
    QString m_startDir;

private slots:
    void init()
    {
        m_startDir = QDir::currentPath();
        qputenv("FAKELISP_MODE", "echo");
    }
    void cleanup() { QDir::setCurrent(m_startDir); }

    void commandLine_data()
    {
        QTest::addColumn<QString>("programName");   // file name of the helper copy in the temp dir
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<bool>("quoted");
        QTest::addColumn<QString>("expected");      // argument lines
        QTest::newRow("spaces in path, no quotes")
            << QStringLiteral("with space/lisp helper") << QString() << false << QString();
        QTest::newRow("spaces in path, quoted, arguments")
            << QStringLiteral("with space/lisp helper") << QStringLiteral("--core my.core") << true
            << QStringLiteral("[--core]\n[my.core]\n");
        QTest::newRow("shell-like splitting, no expansion")
            << QStringLiteral("plain/lisp")
            << QStringLiteral("one 'two  three' \"four\\\"five\" six\\ seven $HOME * ~ ''")
            << false << QStringLiteral("[one]\n[two  three]\n[four\"five]\n[six seven]\n[$HOME]\n[*]\n[~]\n[]\n");
        QTest::newRow("unquoted spaces and arguments")
            << QStringLiteral("with space/lisp helper") << QStringLiteral("--load /x/y.lisp") << false
            << QStringLiteral("[--load]\n[/x/y.lisp]\n");
    }
    void commandLine()
    {
        QFETCH(QString, programName);
        QFETCH(QString, arguments);
        QFETCH(bool, quoted);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString program = dir.filePath(programName);
        QVERIFY(QDir().mkpath(QFileInfo(program).absolutePath()));
        QVERIFY(QFile::copy(kHelper, program));
        qputenv("FAKELISP_MODE", "args");
        CollectingRedirector r;
        r->m_strCommandLine = (quoted ? "\"" + program + "\"" : program).toStdString();
        if (!arguments.isEmpty())
            r->m_strCommandLine += " " + arguments.toStdString();
        QVERIFY(r->StartLisp());
        QVERIFY(r.WaitFor("cwd="));
        const std::string folder = QDir::currentPath().toStdString();
        QVERIFY(r.WaitFor("cwd=" + folder + "\n"));
        QCOMPARE(r.Text(), expected.toStdString() + "cwd=" + folder + "\n");
    }

    void splitCommandLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("executable");   // empty: none found
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("folder");
        QTest::newRow("quoted program") << "\"/bin/sh\" -c 'x y'" << "/bin/sh" << "/bin/sh"
                                        << " -c 'x y'" << "/bin";
        QTest::newRow("leading spaces") << "   /bin/sh -i" << "/bin/sh" << "/bin/sh" << "-i" << "/bin";
        QTest::newRow("bare name: no folder") << "sh -c exit" << "sh"
                                              << QStandardPaths::findExecutable("sh") << "-c exit" << "";
        QTest::newRow("folder from the program, not from an argument")
            << "/bin/sh --load /x/y.lisp" << "/bin/sh" << "/bin/sh" << "--load /x/y.lisp" << "/bin";
        QTest::newRow("no executable file") << "/nonexistent/lisp --load /x/y.lisp" << "/nonexistent/lisp"
                                            << "" << "" << "/nonexistent";
        QTest::newRow("unterminated quote") << "\"/bin/sh" << "/bin/sh" << "/bin/sh" << "" << "/bin";
        QTest::newRow("root folder") << "/nonexistent-lisp" << "/nonexistent-lisp" << "" << "" << "/";
    }
    void splitCommandLine()
    {
        QFETCH(QString, line);
        QFETCH(QString, program);
        QFETCH(QString, executable);
        QFETCH(QString, arguments);
        QFETCH(QString, folder);
        const platform::CommandLineParts parts = platform::SplitCommandLine(line.toStdString());
        QCOMPARE(QString::fromStdString(parts.program), program);
        QCOMPARE(QFileInfo(QString::fromStdString(parts.executable)).canonicalFilePath(),
                 QFileInfo(executable).canonicalFilePath());
        QCOMPARE(QString::fromStdString(parts.arguments), arguments);
        QCOMPARE(QString::fromStdString(parts.folder), folder);
    }

    void splitArguments_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<bool>("complete");
        QTest::newRow("spaces and tabs") << " a\tb   c " << QStringList{"a", "b", "c"} << true;
        QTest::newRow("adjacent quotes join") << "a'b c'\"d\"e" << QStringList{"ab cde"} << true;
        QTest::newRow("backslash in single quotes stays")
            << "'a\\b'" << QStringList{"a\\b"} << true;
        QTest::newRow("backslash in double quotes before a plain char stays")
            << "\"a\\qb\"" << QStringList{"a\\qb"} << true;
        QTest::newRow("empty quoted word") << "\"\" ''" << QStringList{"", ""} << true;
        QTest::newRow("unterminated single quote") << "a 'b c" << QStringList{"a", "b c"} << false;
        QTest::newRow("unterminated double quote") << "\"b c" << QStringList{"b c"} << false;
    }
    void splitArguments()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, words);
        QFETCH(bool, complete);
        std::vector<std::string> result;
        QCOMPARE(platform::SplitArguments(text.toStdString(), result), complete);
        QStringList got;
        for (const std::string &w : result)
            got.append(QString::fromStdString(w));
        QCOMPARE(got, words);
    }

    // The shortest prefix that names an executable file is the program.
    void shortestPrefixWins()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QFile::copy(kHelper, dir.filePath("lisp")));
        QVERIFY(QDir().mkpath(dir.filePath("lisp dir")));
        QVERIFY(QFile::copy(kHelper, dir.filePath("lisp dir/real")));
        qputenv("FAKELISP_MODE", "args");
        CollectingRedirector r;
        r->m_strCommandLine = dir.filePath("lisp dir/real").toStdString();
        QVERIFY(r->StartLisp());
        QVERIFY(r.WaitFor("cwd="));
        QVERIFY(r.Text().starts_with("[dir/real]\n"));
    }

    // The Lisp starts in the folder the program was started from (the home folder instead of
    // the root); the program's own folder never changes, so a relative Lisp path keeps working
    // across restarts.
    void workingDirectory_data()
    {
        QTest::addColumn<QString>("start");      // the program's folder; empty: a new temporary one
        QTest::addColumn<bool>("bareName");
        QTest::addColumn<bool>("relative");
        QTest::newRow("bare name on PATH") << QString() << true << false;
        QTest::newRow("path with folder") << QString() << false << false;
        QTest::newRow("relative path, restarted") << QString() << false << true;
        QTest::newRow("started in the root: home folder") << QStringLiteral("/") << false << false;
    }
    void workingDirectory()
    {
        QFETCH(QString, start);
        QFETCH(bool, bareName);
        QFETCH(bool, relative);
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", QByteArray(TALVEX_TEST_HELPERS_DIR) + ":" + oldPath);
        QTemporaryDir elsewhere;
        QTemporaryDir home;
        const QByteArray oldHome = qgetenv("HOME");
        qputenv("HOME", home.path().toLocal8Bit());
        QVERIFY(QDir::setCurrent(start.isEmpty() ? elsewhere.path() : start));
        const QString before = QDir::currentPath();
        qputenv("FAKELISP_MODE", "args");
        CollectingRedirector r;
        if (bareName)
            r->m_strCommandLine = "fakelisp";
        else if (relative)
            r->m_strCommandLine = QDir(before).relativeFilePath(kHelper).toStdString();
        else
            r->m_strCommandLine = kHelper.toStdString();
        const bool started = r->StartLisp() && (!relative || r->StartLisp());
        qputenv("PATH", oldPath);
        qputenv("HOME", oldHome);
        QVERIFY(started);
        const QString expected = before == QStringLiteral("/") ? home.path() : before;
        QVERIFY2(r.WaitFor("cwd=" + expected.toStdString() + "\n"), r.Text().c_str());
        QCOMPARE(QDir::currentPath(), before);
    }

    void outputBytes_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("stdout and stderr interleaved")
            << QByteArray("mixed")
            << QByteArray("out 1\nerr 1\nout 2\nerr 2\nout 3\nerr 3\nout 4\nerr 4\nout 5\nerr 5\n");
        QTest::newRow("CR-only lines and NUL bytes")
            << QByteArray("bytes") << QByteArray("a\rb\rc\rx\0y\0z\n", 12);
    }
    void outputBytes()
    {
        QFETCH(QByteArray, mode);
        QFETCH(QByteArray, expected);
        qputenv("FAKELISP_MODE", mode);
        CollectingRedirector r;
        r->m_strCommandLine = kHelper.toStdString();
        QVERIFY(r->StartLisp());
        const std::string want(expected.constData(), static_cast<size_t>(expected.size()));
        QVERIFY(r.WaitFor(want));
        QCOMPARE(QByteArray::fromStdString(r.Text()), expected);
    }

    void writes_data()
    {
        QTest::addColumn<bool>("framed");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("plain") << false << QByteArray("(+ 1 2)\n");
        QTest::newRow("newLISP framing") << true << QByteArray("[cmd]\n(+ 1 2)\n[/cmd]\n");
    }
    void writes()
    {
        QFETCH(bool, framed);
        QFETCH(QByteArray, expected);
        CollectingRedirector r;
        r->m_bFrameCommands = framed;
        std::string early = "(+ 1 2)\n";
        QVERIFY(!r->WriteToLisp(early));   // before any start: nothing written
        r->m_strCommandLine = kHelper.toStdString();
        QVERIFY(r->StartLisp());
        QVERIFY(r->IsLispRunning());
        const std::string text = "(+ 1 2)\n";
        QVERIFY(r->WriteToLisp(text));
        QVERIFY(r.WaitFor(expected.toStdString()));
        QTest::qWait(30);
        QCOMPARE(QByteArray::fromStdString(r.Text()), expected);
    }

    // Writes to a Lisp that does not read are bounded: past 64 MB waiting the next is refused,
    // and what waits reaches the Lisp whole and in order once it reads; then writes go again.
    void writesBoundedWhileLispDoesNotRead()
    {
        CollectingRedirector r;
        r->m_strCommandLine = "/bin/sh -c 'sleep 2; exec cat'";
        QVERIFY(r->StartLisp());
        const std::string first = std::string(40 << 20, 'a') + "\n";
        const std::string second = std::string(30 << 20, 'b') + "\n";
        QVERIFY(r->WriteToLisp(first));
        QVERIFY(!r->IsInputFull());
        QVERIFY(r->WriteToLisp(second));
        QVERIFY(r->IsInputFull());
        QVERIFY(!r->WriteToLisp("refused\n"));
        QVERIFY(r.WaitFor(second, 60000));
        QCOMPARE(r.Text(), first + second);
        QTRY_VERIFY(!r->IsInputFull());
        QVERIFY(r->WriteToLisp("again\n"));
        QVERIFY(r.WaitFor("again\n"));
    }

    // Many writes from two threads: each whole, the order of each thread kept.
    void writesStayWholeAndInOrder()
    {
        CollectingRedirector r;
        r->m_strCommandLine = kHelper.toStdString();
        QVERIFY(r->StartLisp());
        auto writer = [&r](char tag) {
            for (int i = 0; i < 2000; ++i) {
                std::string line = std::string(1, tag) + std::to_string(i) + std::string(200, tag) + "\n";
                r->WriteToLisp(line);
            }
        };
        std::thread other(writer, 'b');
        writer('a');
        other.join();
        QVERIFY(r.WaitFor(std::string("b1999") + std::string(200, 'b') + "\n", 20000));
        QVERIFY(r.WaitFor(std::string("a1999") + std::string(200, 'a') + "\n", 20000));
        int nextA = 0, nextB = 0;
        const std::string text = r.Text();
        size_t pos = 0;
        while (pos < text.size()) {
            const size_t end = text.find('\n', pos);
            QVERIFY(end != std::string::npos);
            const std::string line = text.substr(pos, end - pos);
            const char tag = line[0];
            int &next = tag == 'a' ? nextA : nextB;
            QCOMPARE(line, std::string(1, tag) + std::to_string(next) + std::string(200, tag));
            ++next;
            pos = end + 1;
        }
        QCOMPARE(nextA, 2000);
        QCOMPARE(nextB, 2000);
    }

    // Orphans of the session that end by themselves while the Lisp runs are reaped meanwhile.
    void endedOrphansReapedWhileRunning()
    {
        qputenv("FAKELISP_MODE", "orphans");
        CollectingRedirector r;
        r->m_strCommandLine = kHelper.toStdString();
        QVERIFY(r->StartLisp());
        QVERIFY(r.WaitFor("done\n"));
        const auto onlyTheLisp = [] {
            const auto children = OwnChildren();
            return children.size() == 1 && children.first().second != 'Z';
        };
        QTRY_VERIFY_WITH_TIMEOUT(onlyTheLisp(), 5000);
        QVERIFY(r->IsLispRunning());
    }

    // Whatever a Lisp leaves behind ends with it: many children, a daemon in a session of its
    // own that cleared its environment, and orphans too short-lived to be seen alive.
    void restartLeavesNothing_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<int>("count");
        QTest::newRow("1000 children") << QByteArray("children") << 1000;
        QTest::newRow("daemon without environment") << QByteArray("daemon") << 1;
        QTest::newRow("50 short-lived orphans") << QByteArray("blinks") << 50;
    }
    void restartLeavesNothing()
    {
        QFETCH(QByteArray, mode);
        QFETCH(int, count);
        qputenv("FAKELISP_MODE", mode);
        qputenv("FAKELISP_COUNT", QByteArray::number(count));
        CollectingRedirector r;
        r->m_strCommandLine = kHelper.toStdString();
        QVERIFY(r->StartLisp());
        QVERIFY(r.WaitFor("ready\n", 30000));
        int daemon = 0;
        if (mode == "daemon") {
            const std::string text = r.Text();
            daemon = std::atoi(text.c_str() + text.find("daemon ") + 7);
            QTRY_VERIFY(OwnChildren().contains({daemon, 'S'}));   // adopted by this program
        }
        qunsetenv("FAKELISP_COUNT");
        qputenv("FAKELISP_MODE", "echo");
        for (int round = 0; round < 2; ++round) {
            QVERIFY(r->StartLisp());   // a restart ends the old tree first
            const auto children = OwnChildren();
            QVERIFY2(children.size() == 1 && children.first().second != 'Z',
                     qPrintable(QStringLiteral("%1 children left").arg(children.size())));
        }
        if (daemon)
            QVERIFY(!ProcessExists(daemon));
        r->StopLisp();
        QVERIFY(OwnChildren().isEmpty());
    }

    // Orphans that end while the Lisp runs are reaped at once, even those never seen alive.
    void shortLivedOrphansReaped()
    {
        qputenv("FAKELISP_MODE", "blinks");
        qputenv("FAKELISP_COUNT", "50");
        CollectingRedirector r;
        r->m_strCommandLine = kHelper.toStdString();
        QVERIFY(r->StartLisp());
        QVERIFY(r.WaitFor("ready\n"));
        qunsetenv("FAKELISP_COUNT");
        QTRY_VERIFY_WITH_TIMEOUT(OwnChildren().size() == 1, 2000);
        QVERIFY(r->IsLispRunning());
    }

    // A process this program started by another route (a browser for a link, say) is not the
    // Lisp's, although it was orphaned in a session of its own: a restart leaves it alone.
    void ownProcessesSurviveRestart()
    {
        CollectingRedirector r;
        r->m_strCommandLine = kHelper.toStdString();
        QVERIFY(r->StartLisp());
        qint64 pid = 0;
        QVERIFY(QProcess::startDetached(QStringLiteral("/bin/sleep"), {QStringLiteral("30")}, QString(), &pid));
        QTRY_VERIFY(OwnChildren().contains({int(pid), 'S'}));   // adopted, as the Lisp's orphans are
        QVERIFY(r->StartLisp());
        QVERIFY(ProcessExists(int(pid)));
        ::kill(pid, SIGKILL);
        QTRY_VERIFY(!ProcessExists(int(pid)));   // once it ends, the session reaps it
        r->StopLisp();
    }

    // The interrupt reaches the running child, which goes on: same process, still answering.
    void interruptKeepsSession_data()
    {
        QTest::addColumn<bool>("terminal");
        QTest::newRow("pipes") << false;
        QTest::newRow("terminal") << true;
    }
    void interruptKeepsSession()
    {
        QFETCH(bool, terminal);
        qputenv("FAKELISP_MODE", "interrupt");
        CollectingRedirector r;
        r->m_bTerminal = terminal;
        QVERIFY(!r->InterruptLisp());   // nothing runs
        r->m_strCommandLine = kHelper.toStdString();
        QVERIFY(r->StartLisp());
        QVERIFY(r.WaitFor("\n"));
        const int pid = std::atoi(r.Text().c_str() + 4);
        QVERIFY(pid > 0);
        QVERIFY(::getpgid(pid) == pid && ::getpgid(pid) != ::getpgrp());   // a group of its own
        QCOMPARE(::getsid(pid), pid);   // and a session: no terminal of this program's reaches it
        for (int i = 1; i <= 2; ++i) {
            QVERIFY(r->InterruptLisp());
            QVERIFY(r.WaitFor("interrupted " + std::to_string(i) + "\n"));
        }
        QVERIFY(r->WriteToLisp("still here\n"));
        QVERIFY(r.WaitFor("still here\n"));
        QVERIFY(ProcessExists(pid));
        QVERIFY(r->IsLispRunning());
    }

    // A consumer that does not drain: reading stops after a few megabytes, and stopping is quick.
    void busyConsumerBoundsMemory()
    {
        qputenv("FAKELISP_MODE", "flood");
        qputenv("FAKELISP_MB", "200");
        PolledRedirector r;
        r->m_strCommandLine = kHelper.toStdString();
        QVERIFY(r->StartLisp());
        QTest::qWait(800);
        const size_t waiting = r.Take();
        QVERIFY2(waiting > 0 && waiting <= (8u << 20), qPrintable(QString::number(waiting)));
        QElapsedTimer timer;
        timer.start();
        r->StopLisp();
        QVERIFY(timer.elapsed() < 1000);
        qunsetenv("FAKELISP_MB");
    }

    void startStopCycles()
    {
        const int fdsBefore = CountEntries("/proc/self/fd");
        const int threadsBefore = CountEntries("/proc/self/task");
        CollectingRedirector r;
        r->m_strCommandLine = kHelper.toStdString();
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 1000; ++i) {
            QVERIFY(r->StartLisp());
            if (i % 100 == 0) {
                std::string line = "cycle " + std::to_string(i) + "\n";
                QVERIFY(r->WriteToLisp(line));
                QVERIFY(r.WaitFor(line));
            }
            r->StopLisp();
        }
        qInfo("1000 start/stop cycles: %lld ms", static_cast<long long>(timer.elapsed()));
        QCOMPARE(CountEntries("/proc/self/fd"), fdsBefore);
        QCOMPARE(CountEntries("/proc/self/task"), threadsBefore);
        QVERIFY(OwnChildren().isEmpty());
    }

    // On a terminal the Lisp has a controlling terminal of its own that carries bytes as pipes
    // would: no echo, a 20 KB line with control bytes arrives whole while the Lisp is not
    // reading, and what the terminal program adds for a screen is taken out of its output.
    void terminalCarriesBytes()
    {
        qputenv("FAKELISP_MODE", "terminal");
        qputenv("FAKELISP_MS", "300");
        CollectingRedirector r;
        r->m_bTerminal = true;
        r->m_strCommandLine = kHelper.toStdString();
        QVERIFY(r->StartLisp());
        QVERIFY(r.WaitFor("plain\n"));
        QCOMPARE(r.Text(), std::string("tty 1 ctty 1 echo 0 term dumb\ninputrc set disable-completion on\n"
                                       "bold plain\n"));
        std::string line;
        for (int i = 0; line.size() < 20000; ++i)
            line += "(f\t\"\xce\xbb\" \x03\x04\x7f\x15\r\x1b " + std::to_string(i) + ")";
        QVERIFY(r->WriteToLisp(line + "\n"));
        char answer[96];
        std::snprintf(answer, sizeof answer, "line %zu %016llx\n", line.size(),
                      static_cast<unsigned long long>(flood::Digest(line.data(), line.size())));
        QVERIFY2(r.WaitFor(answer), r.Text().c_str());
        QElapsedTimer timer;
        timer.start();
        r->StopLisp();
        QVERIFY(timer.elapsed() < 1000);
        QVERIFY(OwnChildren().isEmpty());
        qunsetenv("FAKELISP_MS");
    }

    // 20 MB of text through a terminal, drained as the console drains it: all of it, in order.
    void terminalFlood()
    {
        qputenv("FAKELISP_MODE", "longline");
        qputenv("FAKELISP_KB", "20480");
        PolledRedirector r;
        r->m_bTerminal = true;
        r->m_strCommandLine = kHelper.toStdString();
        QVERIFY(r->StartLisp());
        const size_t total = (size_t(20) << 20) + 5;
        QElapsedTimer timer;
        timer.start();
        while (r.m_text.size() < total && timer.elapsed() < 30000) {
            if (r.Take() == 0)
                QThread::msleep(1);
        }
        QCOMPARE(r.m_text.size(), total);
        for (size_t i = 0; i + 5 < total; i += 4099)
            QCOMPARE(r.m_text[i], char('0' + i % 10));
        QCOMPARE(r.m_text.substr(total - 5), std::string("\nend\n"));
        r->StopLisp();
        qunsetenv("FAKELISP_KB");
    }

    void realSbcl()
    {
        const QString sbcl = QStandardPaths::findExecutable(QStringLiteral("sbcl"));
        if (sbcl.isEmpty())
            QSKIP("sbcl is not installed");
        CollectingRedirector r;
        r->m_strCommandLine = sbcl.toStdString() + " --noinform --no-userinit --no-sysinit";
        QVERIFY(r->StartLisp());
        std::string form = "(+ 1 2)\n";
        QVERIFY(r->WriteToLisp(form));
        QVERIFY2(r.WaitFor("3\n", 20000), r.Text().c_str());
        QElapsedTimer timer;
        timer.start();
        r->StopLisp();
        QVERIFY(timer.elapsed() < 1000);
        QVERIFY(OwnChildren().isEmpty());
    }

    // newLISP takes a framed multi-line command as one.
    void realNewLispFramed()
    {
        const QString newlisp = QStandardPaths::findExecutable(QStringLiteral("newlisp"));
        if (newlisp.isEmpty())
            QSKIP("newlisp is not installed");
        CollectingRedirector r;
        r->m_bFrameCommands = true;
        r->m_strCommandLine = newlisp.toStdString();
        QVERIFY(r->StartLisp());
        std::string form = "(+ 1\n 2)\n";
        QVERIFY(r->WriteToLisp(form));
        QVERIFY2(r.WaitFor("3\n", 20000), r.Text().c_str());
        r->StopLisp();
        QVERIFY(OwnChildren().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRedirector)
#include "tst_redirector.moc"
