// Benchmark: opening and saving a 20 MB CR LF Lisp file against bare Scintilla and cp + sync.
#include "editor/CDocumentManager.h"
#include "editor/CLispTabView.h"
#include "editor/CTalvexView.h"
#include "settings/CRecentDocList.h"
#include "settings/CSettingsStore.h"

#include <Qsci/qsciscintillabase.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRounds = 5;

QByteArray MakeLispText(qsizetype size)
{
    const QByteArray unit =
        ";;; A comment line that explains the following function\r\n"
        "(defun fact-%1 (n &optional (acc 1))\r\n"
        "  \"Factorial of N, tail-recursive.\"\r\n"
        "  (if (<= n 1) acc (fact (- n 1) (* acc n))))\r\n"
        "\r\n"
        "(defparameter *table* '((:a . 1) (:b . 2) (\"key\" . #\\x)))\r\n";
    QByteArray text;
    text.reserve(size + unit.size());
    int n = 0;
    while (text.size() < size)
        text += QByteArray(unit).replace("%1", QByteArray::number(++n));
    return text;
}

// Runs the event loop until nothing is pending: the window is painted and idle.
void RunUntilIdle()
{
    // A few rounds: paint requests posted while painting are handled in the next round.
    for (int i = 0; i < 4; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double BaselineOpen(const QByteArray &bytes)
{
    QsciScintillaBase sci;
    sci.resize(800, 600);
    sci.SendScintilla(QsciScintillaBase::SCI_SETMODEVENTMASK, 0UL);
    sci.SendScintilla(QsciScintillaBase::SCI_SETLEXER, static_cast<unsigned long>(QsciScintillaBase::SCLEX_LISP));
    sci.show();
    RunUntilIdle();
    QElapsedTimer t;
    t.start();
    sci.SendScintilla(QsciScintillaBase::SCI_SETTEXT, 0UL, bytes.constData());
    sci.SendScintilla(QsciScintillaBase::SCI_CONVERTEOLS, static_cast<unsigned long>(QsciScintillaBase::SC_EOL_LF));
    sci.SendScintilla(QsciScintillaBase::SCI_COLOURISE, 0UL, -1L);
    RunUntilIdle();
    return t.nsecsElapsed() / 1e6;
}

struct OpenResult {
    double idle;
    double colouredAll;
};

OpenResult TalvexOpen(const QString &path)
{
    QWidget frame;
    frame.resize(800, 600);
    auto *view = new CLispTabView(&frame);
    view->resize(800, 600);
    CRecentDocList recent(QStringLiteral("Recent Document List"), 57616, 16);
    CDocumentManager docs(&frame, *view, recent);
    frame.show();
    RunUntilIdle();
    QElapsedTimer t;
    t.start();
    if (docs.OpenFile(path) != 1)
        std::fprintf(stderr, "open failed\n");
    RunUntilIdle();
    const double idle = t.nsecsElapsed() / 1e6;
    view->GetPageData(0)->Colourise(0, -1);
    const double all = t.nsecsElapsed() / 1e6;
    return {idle, all};
}

double TalvexSave(CTalvexView &v, const QString &path)
{
    QElapsedTimer t;
    t.start();
    if (v.SaveFile(path) != 1)
        std::fprintf(stderr, "save failed\n");
    return t.nsecsElapsed() / 1e6;
}

double CopyAndSync(const QString &from, const QString &to)
{
    // cp writes over the copy of the previous round, as the save replaces its previous file.
    QElapsedTimer t;
    t.start();
    QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("cp \"$0\" \"$1\" && sync \"$1\""), from, to});
    return t.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("config"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    CSettingsStore::Instance().SetKeyPath(QStringLiteral("Software\\Quenmark\\Talvex"));
    CSettingsStore::Instance().WriteInt(QStringLiteral("Settings"), QStringLiteral("LineEnding"), 2);

    const QByteArray text = MakeLispText(20 * 1024 * 1024);
    const QString path = dir.filePath(QStringLiteral("big.lisp"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
            return 1;
    }
    std::printf("file: %.1f MB, CR LF line ends, opened in LF mode\n", text.size() / 1048576.0);

    std::vector<double> base, idle, all, save, cp;
    for (int i = 0; i < kRounds; ++i) {
        base.push_back(BaselineOpen(text));
        const OpenResult r = TalvexOpen(path);
        idle.push_back(r.idle);
        all.push_back(r.colouredAll);
    }
    {
        CTalvexView v;
        v.ConfigureView();
        v.LoadFile(path);
        const QString out = dir.filePath(QStringLiteral("saved.lisp"));
        const QString copy = dir.filePath(QStringLiteral("copy.lisp"));
        for (int i = 0; i < 3 * kRounds; ++i) {
            save.push_back(TalvexSave(v, out));
            cp.push_back(CopyAndSync(out, copy));
        }
    }
    const double b = Median(base), o = Median(idle), oa = Median(all), s = Median(save), c = Median(cp);
    std::printf("open, bare Scintilla (SETTEXT+CONVERTEOLS+COLOURISE, events masked): %8.1f ms\n", b);
    std::printf("open, OpenFile to an idle coloured view:                          %8.1f ms  (%.2fx)\n", o, o / b);
    std::printf("open, OpenFile and then colouring the whole text:                 %8.1f ms  (%.2fx)\n", oa, oa / b);
    std::printf("save, cp + sync of the copy:                                      %8.1f ms\n", c);
    std::printf("save, SaveFile (temporary file, fdatasync, rename):               %8.1f ms  (%.2fx)\n", s, s / c);
    return 0;
}
