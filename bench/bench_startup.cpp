// Benchmark: process start to a shown, idle main window, against a bare QMainWindow + QsciScintillaBase.
//
// Run without arguments. Each sample starts this program again as a child ("frame" or "bare"),
// the way a user starts a program: a new process that loads the libraries, builds its window,
// shows it and reaches its first idle moment with the window exposed; the child then prints one
// line and ends. The parent measures from the start of the process to that line. The frame runs
// with a fresh settings folder whose "Lisp" is /bin/cat, so no dialog comes up and no Lisp system's
// own start-up competes for the two cores.
#include "app/CMainFrame.h"
#include "settings/CSettingsStore.h"

#include <Qsci/qsciscintillabase.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QProcess>
#include <QTemporaryDir>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Prints "idle" at the first moment the event loop is about to wait with the window exposed.
void ReportWhenIdle(QWidget &window)
{
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     &window, [&window] {
                         if (window.windowHandle() && window.windowHandle()->isExposed()) {
                             std::fputs("idle\n", stdout);
                             std::fflush(stdout);
                             QCoreApplication::exit(0);
                         }
                     });
}

int RunFrame(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    CMainFrame frame;
    if (!frame.Create())
        return 2;
    frame.show();
    ReportWhenIdle(frame);
    return QApplication::exec();
}

int RunBare(int argc, char **argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    auto *editor = new QsciScintillaBase(&window);
    window.setCentralWidget(editor);
    window.show();
    ReportWhenIdle(window);
    return QApplication::exec();
}

struct Stats {
    double median;
    double min;
};

Stats Measure(const QString &self, const QString &mode, int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QProcess child;
        child.setProcessChannelMode(QProcess::SeparateChannels);
        QElapsedTimer timer;
        timer.start();
        child.start(self, {mode});
        if (!child.waitForStarted(10000))
            break;
        while (!child.canReadLine() && child.state() == QProcess::Running)
            child.waitForReadyRead(10000);
        const double ms = timer.nsecsElapsed() / 1e6;
        const QByteArray line = child.readLine();
        child.waitForFinished(10000);
        if (line.trimmed() != "idle") {
            std::fprintf(stderr, "%s: child did not report idle (exit %d)\n", qPrintable(mode), child.exitCode());
            break;
        }
        times.push_back(ms);
    }
    if (times.empty())
        return {0, 0};
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.front()};
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "frame") == 0)
        return RunFrame(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "bare") == 0)
        return RunBare(argc, argv);

    QCoreApplication app(argc, argv);
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    CSettingsStore::Instance().SetKeyPath(QStringLiteral("Software\\Quenmark\\Talvex"));
    CSettingsStore::Instance().WriteString(QStringLiteral("Settings"), QStringLiteral("Lisp"), QStringLiteral("/bin/cat"));

    const QString self = QCoreApplication::applicationFilePath();
    const int runs = 15;
    Measure(self, QStringLiteral("bare"), 2); // warm the file cache for both
    Measure(self, QStringLiteral("frame"), 2);
    const Stats bare = Measure(self, QStringLiteral("bare"), runs);
    const Stats frame = Measure(self, QStringLiteral("frame"), runs);
    std::printf("platform %s, %d runs each\n", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "default" : qgetenv("QT_QPA_PLATFORM").constData(), runs);
    std::printf("bare QMainWindow + QsciScintillaBase: median %.1f ms, min %.1f ms\n", bare.median, bare.min);
    std::printf("Talvex main frame:                    median %.1f ms, min %.1f ms\n", frame.median, frame.min);
    if (bare.median > 0)
        std::printf("ratio (median): %.2f  (target <= 1.5)\n", frame.median / bare.median);
    return 0;
}
