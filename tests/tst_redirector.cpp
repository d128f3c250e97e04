// Tests of the Lisp redirector against real child processes: start, output, writes, stop, tree kill.
#include "lisp/CRedirector.h"
#include "platform/Process.h"
#include "DirectRedirector.h"
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

#include <condition_variable>
#include <csignal>
#include <functional>
#include <mutex>
#include <random>
#include <thread>

#include <dirent.h>
#include <unistd.h>

namespace {

const QString kHelper = QStringLiteral(TALVEX_TEST_HELPERS_DIR "/lisphelper");
const std::string kEnded = "\r\n<ERROR>: Child process ended\r\n";

// Like the console: the I/O thread only reports pending output; the test thread drains it.
class PolledRedirector
{
public:
    CRedirector *operator->() { return &m_lisp; }

    std::string m_text;
    size_t m_largestChunk = 0;
    std::atomic<int> m_pendingCalls{0};

private:
    CRedirector m_lisp{[this](const char *data, size_t length) {
                           m_text.append(data, length);
                           m_largestChunk = std::max(m_largestChunk, length);
                       },
                       [this] { ++m_pendingCalls; }};
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
        qputenv("LISPHELPER_MODE", "echo");
    }
    void cleanup() { QDir::setCurrent(m_startDir); }

    void startFailure_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::newRow("missing file") << QStringLiteral("/nonexistent/folder/lisp --core x");
        QTest::newRow("empty") << QString();
        QTest::newRow("only spaces") << QStringLiteral("   ");
        QTest::newRow("folder, not a file") << QStringLiteral("/tmp");
        QTest::newRow("file without execute permission") << QStringLiteral("/etc/passwd");
        QTest::newRow("unknown bare name") << QStringLiteral("no-such-lisp-anywhere");
    }
    void startFailure()
    {
        QFETCH(QString, commandLine);
        const int fdsBefore = CountEntries("/proc/self/fd");
        const int threadsBefore = CountEntries("/proc/self/task");
        DirectRedirector r;
        r->m_strCommandLine = commandLine.toStdString();
        QVERIFY(!r->StartLisp());
        QCOMPARE(r.Text(), std::string("Redirect console error: 2\r\n"));
        QVERIFY(!r->IsLispRunning());
        std::string text = "(+ 1 2)\n";
        QVERIFY(!r->WriteToLisp(text));
        QCOMPARE(CountEntries("/proc/self/fd"), fdsBefore);
        QCOMPARE(CountEntries("/proc/self/task"), threadsBefore);
        QVERIFY(OwnChildren().isEmpty());
        r->StopLisp();   // harmless when nothing runs
        r->StopLisp();
    }

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
        qputenv("LISPHELPER_MODE", "args");
        DirectRedirector r;
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
        qputenv("LISPHELPER_MODE", "args");
        DirectRedirector r;
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
        qputenv("LISPHELPER_MODE", "args");
        DirectRedirector r;
        if (bareName)
            r->m_strCommandLine = "lisphelper";
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

    void childEndsByItself_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QString>("lastOutput");
        QTest::newRow("exits") << QByteArray("exit") << QStringLiteral("last words\non stderr\n");
        QTest::newRow("crashes") << QByteArray("crash") << QStringLiteral("about to crash\n");
    }
    void childEndsByItself()
    {
        QFETCH(QByteArray, mode);
        QFETCH(QString, lastOutput);
        qputenv("LISPHELPER_MODE", mode);
        DirectRedirector r;
        r->m_strCommandLine = kHelper.toStdString();
        QVERIFY(r->StartLisp());
        QVERIFY(r.WaitFor(kEnded));
        QCOMPARE(r.Text(), lastOutput.toStdString() + kEnded);
        QTRY_VERIFY(!r->IsLispRunning());
        std::string text = "(+ 1 2)\n";
        QVERIFY(!r->WriteToLisp(text));
        QTest::qWait(50);
        QCOMPARE(r.Text(), lastOutput.toStdString() + kEnded);   // nothing more, no error text
        // The ended child is reaped at once: no zombie waits for a restart.
        QTRY_VERIFY(OwnChildren().isEmpty());
        QVERIFY(!r->InterruptLisp());
        r->StopLisp();
        QVERIFY(OwnChildren().isEmpty());
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
        qputenv("LISPHELPER_MODE", mode);
        DirectRedirector r;
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
        DirectRedirector r;
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

    // Many writes from two threads: each whole, the order of each thread kept.
    void writesStayWholeAndInOrder()
    {
        DirectRedirector r;
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

    void restartEndsWholeTree_data()
    {
        QTest::addColumn<bool>("terminal");
        QTest::newRow("pipes") << false;
        QTest::newRow("terminal") << true;
    }
    void restartEndsWholeTree()
    {
        QFETCH(bool, terminal);
        qputenv("LISPHELPER_MODE", "tree");
        DirectRedirector r;
        r->m_bTerminal = terminal;
        r->m_strCommandLine = kHelper.toStdString();
        QVERIFY(r->StartLisp());
        QVERIFY(r.WaitFor("ready\n"));
        QList<int> pids;
        int orphan = 0;   // the grandchild whose parent (a session leader) ended: now ours
        for (const QByteArray &line : QByteArray::fromStdString(r.Text()).split('\n')) {
            if (line.startsWith("pid "))
                pids.append(line.mid(4).toInt());
            else if (line.startsWith("orphan "))
                pids.append(orphan = line.mid(7).toInt());
        }
        QCOMPARE(pids.size(), 5);   // three children (one already ended), two grandchildren
        QVERIFY(orphan > 0);
        int alive = 0;
        for (int pid : pids)
            alive += ProcessExists(pid) ? 1 : 0;
        QCOMPARE(alive, 4);
        bool adopted = false;
        for (const auto &child : OwnChildren())
            adopted = adopted || child.first == orphan;
        QVERIFY(adopted);

        QElapsedTimer timer;
        timer.start();
        qputenv("LISPHELPER_MODE", "echo");
        QVERIFY(r->StartLisp());   // restart: stops the old tree first
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        for (int pid : pids)
            QVERIFY2(!ProcessExists(pid), qPrintable(QString::number(pid)));
        const auto children = OwnChildren();
        QCOMPARE(children.size(), 1);   // only the new Lisp; no zombie
        QVERIFY(children.first().second != 'Z');
        r->StopLisp();
        QVERIFY(OwnChildren().isEmpty());
    }

    // The child ends while its own child keeps the output open: no ended message (the output has
    // not ended), the child counts as ended, and StopLisp still ends the orphan.
    void childEndsOutputStaysOpen()
    {
        qputenv("LISPHELPER_MODE", "leave");
        DirectRedirector r;
        r->m_strCommandLine = kHelper.toStdString();
        QVERIFY(r->StartLisp());
        QVERIFY(r.WaitFor("\n"));
        const QByteArray line = QByteArray::fromStdString(r.Text()).trimmed();
        QVERIFY(line.startsWith("orphan "));
        const int orphan = line.mid(7).toInt();
        QTRY_VERIFY(!r->IsLispRunning());
        QTest::qWait(200);
        QVERIFY(r.Text().find(kEnded) == std::string::npos);
        QVERIFY(ProcessExists(orphan));
        r->StopLisp();
        QVERIFY(!ProcessExists(orphan));
        QVERIFY(OwnChildren().isEmpty());
    }

    // Orphans of the session that end by themselves while the Lisp runs are reaped meanwhile.
    void endedOrphansReapedWhileRunning()
    {
        qputenv("LISPHELPER_MODE", "orphans");
        DirectRedirector r;
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
        qputenv("LISPHELPER_MODE", mode);
        qputenv("LISPHELPER_COUNT", QByteArray::number(count));
        DirectRedirector r;
        r->m_strCommandLine = kHelper.toStdString();
        QVERIFY(r->StartLisp());
        QVERIFY(r.WaitFor("ready\n", 30000));
        int daemon = 0;
        if (mode == "daemon") {
            const std::string text = r.Text();
            daemon = std::atoi(text.c_str() + text.find("daemon ") + 7);
            QTRY_VERIFY(OwnChildren().contains({daemon, 'S'}));   // adopted by this program
        }
        qunsetenv("LISPHELPER_COUNT");
        qputenv("LISPHELPER_MODE", "echo");
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
        qputenv("LISPHELPER_MODE", "blinks");
        qputenv("LISPHELPER_COUNT", "50");
        DirectRedirector r;
        r->m_strCommandLine = kHelper.toStdString();
        QVERIFY(r->StartLisp());
        QVERIFY(r.WaitFor("ready\n"));
        qunsetenv("LISPHELPER_COUNT");
        QTRY_VERIFY_WITH_TIMEOUT(OwnChildren().size() == 1, 2000);
        QVERIFY(r->IsLispRunning());
    }

    // A process this program started by another route (a browser for a link, say) is not the
    // Lisp's, although it was orphaned in a session of its own: a restart leaves it alone.
    void ownProcessesSurviveRestart()
    {
        DirectRedirector r;
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
        qputenv("LISPHELPER_MODE", "interrupt");
        DirectRedirector r;
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

    // 100 MB of output while the child does not read; 10 MB written at the same time.
    void floodWhileWriting()
    {
        constexpr size_t floodBytes = 100u << 20;
        constexpr size_t writeBytes = 10u << 20;
        qputenv("LISPHELPER_MODE", "flood");
        qputenv("LISPHELPER_MB", QByteArray::number(int(floodBytes >> 20)));
        qputenv("LISPHELPER_READ", QByteArray::number(qulonglong(writeBytes)));
        std::string data(writeBytes, '\0');
        std::mt19937 random(42);
        for (char &c : data)
            c = static_cast<char>(random());
        const std::string digestLine = [&] {
            char line[96];
            std::snprintf(line, sizeof line, "digest %016llx %zu\n",
                          static_cast<unsigned long long>(flood::Digest(data.data(), data.size())), data.size());
            return std::string(line);
        }();

        PolledRedirector r;
        r->m_strCommandLine = kHelper.toStdString();
        QVERIFY(r->StartLisp());
        // The child reads nothing before its 100 MB are out, which needs this thread to drain
        // them: a write that waited for the child would never return.
        std::string text = data;
        QElapsedTimer timer;
        timer.start();
        QVERIFY(r->WriteToLisp(text));
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));

        size_t checked = 0;
        while (r.m_text.size() < floodBytes + digestLine.size() && timer.elapsed() < 60000) {
            if (r->DrainOutput() == 0)
                QThread::msleep(1);
            const size_t limit = std::min(r.m_text.size(), floodBytes);
            for (; checked < limit; ++checked)
                if (static_cast<unsigned char>(r.m_text[checked]) != flood::PatternByte(checked))
                    QFAIL(qPrintable(QStringLiteral("output differs at byte %1").arg(checked)));
        }
        QCOMPARE(r.m_text.size(), floodBytes + digestLine.size());
        QCOMPARE(r.m_text.substr(floodBytes), digestLine);
        QVERIFY(r.m_pendingCalls.load() > 0);
        timer.restart();
        r->StopLisp();
        QVERIFY(timer.elapsed() < 1000);
        qunsetenv("LISPHELPER_MB");
        qunsetenv("LISPHELPER_READ");
    }

    // A consumer that does not drain: reading stops after a few megabytes, and stopping is quick.
    void busyConsumerBoundsMemory()
    {
        qputenv("LISPHELPER_MODE", "flood");
        qputenv("LISPHELPER_MB", "200");
        PolledRedirector r;
        r->m_strCommandLine = kHelper.toStdString();
        QVERIFY(r->StartLisp());
        QTest::qWait(800);
        const size_t waiting = r->DrainOutput();
        QVERIFY2(waiting > 0 && waiting <= (8u << 20), qPrintable(QString::number(waiting)));
        QElapsedTimer timer;
        timer.start();
        r->StopLisp();
        QVERIFY(timer.elapsed() < 1000);
        qunsetenv("LISPHELPER_MB");
    }

    // The child ends while the consumer is behind (more than the reader takes ahead waits, the
    // rest sits in the pipe): once drained, everything it printed is shown, then the ended message.
    void childEndsWhileConsumerBehind()
    {
        PolledRedirector r;
        r->m_strCommandLine = "/usr/bin/seq 1 650000";   // 4.4 MB
        std::string expected;
        for (int i = 1; i <= 650000; ++i)
            expected += std::to_string(i) + '\n';
        expected += kEnded;
        QVERIFY(r->StartLisp());
        QTRY_VERIFY(!r->IsLispRunning());
        QElapsedTimer timer;
        timer.start();
        while (r.m_text.size() < expected.size() && timer.elapsed() < 5000) {
            if (r->DrainOutput() == 0)
                QThread::msleep(1);
        }
        QCOMPARE(r.m_text.size(), expected.size());
        QVERIFY(r.m_text == expected);
    }

    // StopLisp (and a restart) from inside AppendOutput, on the delivering thread itself.
    void stopFromInsideDelivery()
    {
        DirectRedirector r;
        r->m_strCommandLine = kHelper.toStdString();
        std::atomic<bool> stopped{false};
        r.m_onAppend = [&] {
            if (!stopped.exchange(true))
                r->StopLisp();
        };
        QVERIFY(r->StartLisp());
        std::string text = "hello\n";
        QVERIFY(r->WriteToLisp(text));
        QTRY_VERIFY(stopped.load());
        QTRY_VERIFY(!r->IsLispRunning());
        QTRY_VERIFY(OwnChildren().isEmpty());
        r.m_onAppend = nullptr;
        QVERIFY(r->StartLisp());
        std::string again = "again\n";
        QVERIFY(r->WriteToLisp(again));
        QVERIFY(r.WaitFor("again\n"));
    }

    // A delivery that does not return (the sink waits for the thread that calls StopLisp):
    // StopLisp still ends the child in bounded time, and the left-behind thread ends later.
    void stopWhileDeliveryBlocks()
    {
        const int threadsBefore = CountEntries("/proc/self/task");
        std::mutex mutex;
        std::condition_variable released;
        bool entered = false, release = false;
        {
            DirectRedirector r;
            r->m_strCommandLine = kHelper.toStdString();
            r.m_onAppend = [&] {
                std::unique_lock lock(mutex);
                entered = true;
                released.notify_all();
                released.wait_for(lock, std::chrono::seconds(20), [&] { return release; });
            };
            QVERIFY(r->StartLisp());
            std::string text = "blocked\n";
            QVERIFY(r->WriteToLisp(text));
            {
                std::unique_lock lock(mutex);
                QVERIFY(released.wait_for(lock, std::chrono::seconds(10), [&] { return entered; }));
            }
            QElapsedTimer timer;
            timer.start();
            r->StopLisp();
            QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
            QVERIFY(!r->IsLispRunning());
            QTRY_VERIFY(OwnChildren().isEmpty());
            {
                std::lock_guard lock(mutex);
                release = true;
            }
            released.notify_all();
            // The sink belongs to the derived object: it must outlive the delivery in progress.
            QTRY_COMPARE(CountEntries("/proc/self/task"), threadsBefore);
        }
    }

    void startStopCycles()
    {
        const int fdsBefore = CountEntries("/proc/self/fd");
        const int threadsBefore = CountEntries("/proc/self/task");
        DirectRedirector r;
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
        qputenv("LISPHELPER_MODE", "terminal");
        qputenv("LISPHELPER_MS", "300");
        DirectRedirector r;
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
        qunsetenv("LISPHELPER_MS");
    }

    // 20 MB of text through a terminal, drained as the console drains it: all of it, in order.
    void terminalFlood()
    {
        qputenv("LISPHELPER_MODE", "longline");
        qputenv("LISPHELPER_KB", "20480");
        PolledRedirector r;
        r->m_bTerminal = true;
        r->m_strCommandLine = kHelper.toStdString();
        QVERIFY(r->StartLisp());
        const size_t total = (size_t(20) << 20) + 5;
        QElapsedTimer timer;
        timer.start();
        while (r.m_text.size() < total && timer.elapsed() < 30000) {
            if (r->DrainOutput() == 0)
                QThread::msleep(1);
        }
        QCOMPARE(r.m_text.size(), total);
        for (size_t i = 0; i + 5 < total; i += 4099)
            QCOMPARE(r.m_text[i], char('0' + i % 10));
        QCOMPARE(r.m_text.substr(total - 5), std::string("\nend\n"));
        r->StopLisp();
        qunsetenv("LISPHELPER_KB");
    }

    void realSbcl()
    {
        const QString sbcl = QStandardPaths::findExecutable(QStringLiteral("sbcl"));
        if (sbcl.isEmpty())
            QSKIP("sbcl is not installed");
        DirectRedirector r;
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
        DirectRedirector r;
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
