// Measures typing and appending at the end of a 20 MB Lisp document, against a bare Scintilla control.
#include "editor/CTalvexView.h"
#include "settings/CSettingsStore.h"
#include "TypedKey.h"

#include <Qsci/qsciscintillabase.h>

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>

namespace {

QByteArray LispDocument(qsizetype bytes)
{
    const QByteArray block =
        "(defun fact (n)\n"
        "  \"Factorial of N, a non-negative integer.\"\n"
        "  (if (<= n 1) 1 (* n (fact (- n 1))))) ; recursion\n"
        "(defvar *table* (make-hash-table :test #'equal))\n"
        "#| a block comment |# (format t \"~a ~d~%\" 'sym 42.5)\n";
    QByteArray doc;
    doc.reserve(bytes + block.size());
    while (doc.size() < bytes)
        doc += block;
    return doc;
}

// Wall-clock mean, median and worst, and the mean processor time (which leaves out the time the
// process waited for a busy machine).
struct Timing
{
    double mean;
    double median;
    double worst;
    double cpu;
};

Timing Summarise(QList<double> ms, std::clock_t cpuTicks)
{
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (double m : ms)
        sum += m;
    return {sum / ms.size(), ms[ms.size() / 2], ms.last(), 1000.0 * cpuTicks / CLOCKS_PER_SEC / ms.size()};
}

// Types count characters at the end, repainting after each as the screen would; ms per char.
// One untimed key first: the first paint at the end styles the whole document once.
Timing TypeAtEnd(QsciScintillaBase &w, int count)
{
    w.SendScintilla(QsciScintillaBase::SCI_DOCUMENTEND);
    w.viewport()->repaint();
    QCoreApplication::processEvents();
    QList<double> ms;
    std::clock_t cpu = 0;
    for (int i = -1; i < count; ++i) {
        const std::clock_t c0 = std::clock();
        QElapsedTimer t;
        t.start();
        TypeKeyAndShow(w);
        if (i >= 0) {
            ms.append(t.nsecsElapsed() / 1e6);
            cpu += std::clock() - c0;
        }
    }
    return Summarise(ms, cpu);
}

// Appends count chunks of 1 KB at the end (as console output does) and shows the end; ms per
// append. Most of it is painting the scrolled view, whatever the document's size.
Timing AppendAtEnd(QsciScintillaBase &w, int count, const std::function<void(const QByteArray &)> &append)
{
    const QByteArray chunk = LispDocument(1024).left(1024);
    QList<double> ms;
    const std::clock_t c0 = std::clock();
    for (int i = 0; i < count; ++i) {
        QElapsedTimer t;
        t.start();
        append(chunk);
        w.SendScintilla(QsciScintillaBase::SCI_DOCUMENTEND);
        w.viewport()->repaint();
        QCoreApplication::processEvents();
        ms.append(t.nsecsElapsed() / 1e6);
    }
    return Summarise(ms, std::clock() - c0);
}

void SetBare(QsciScintillaBase &w, const QByteArray &doc)
{
    w.SendScintilla(QsciScintillaBase::SCI_SETCODEPAGE, QsciScintillaBase::SC_CP_UTF8);
    w.SendScintilla(QsciScintillaBase::SCI_SETLEXER, QsciScintillaBase::SCLEX_LISP);
    w.SendScintilla(QsciScintillaBase::SCI_SETTEXT, doc.constData());
}

void Row(const char *what, const Timing &t)
{
    std::printf("%-56s %9.3f %9.3f %9.3f %9.3f\n", what, t.mean, t.median, t.worst, t.cpu);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    CSettingsStore::Instance().SetKeyPath(QStringLiteral("Software\\Quenmark\\Talvex"));

    const QByteArray big = LispDocument(20 * 1024 * 1024);
    const QByteArray small = LispDocument(4 * 1024);
    const int chars = 40;
    std::printf("document: %lld bytes; %d keys or appends per run; ms each\n", static_cast<long long>(big.size()), chars);
    std::printf("%-56s %9s %9s %9s %9s\n", "", "mean", "median", "worst", "cpu mean");

    const bool oursOnly = app.arguments().contains(QStringLiteral("--ours-only"));
    if (!oursOnly) {
        // Bare controls first: before any of ours exists, QScintilla's accessibility is in force.
        QsciScintillaBase bare;
        bare.resize(800, 600);
        bare.show();
        const auto bareAppend = [&](const QByteArray &c) {
            bare.SendScintilla(QsciScintillaBase::SCI_APPENDTEXT, static_cast<unsigned long>(c.size()), c.constData());
        };
        SetBare(bare, small);
        Row("bare QsciScintillaBase, 4 KB, type", TypeAtEnd(bare, chars));
        Row("bare QsciScintillaBase, 4 KB, append 1 KB", AppendAtEnd(bare, chars, bareAppend));
        SetBare(bare, big);
        Row("bare QsciScintillaBase, 20 MB, type", TypeAtEnd(bare, chars));
        Row("bare QsciScintillaBase, 20 MB, append 1 KB", AppendAtEnd(bare, chars, bareAppend));
        QAccessible::queryAccessibleInterface(&bare); // as a screen reader would
        Row("bare QsciScintillaBase, 20 MB, accessible queried, type", TypeAtEnd(bare, chars));
    }
    {
        CTalvexView view;
        view.ConfigureView();
        view.resize(800, 600);
        view.show();
        const auto viewAppend = [&](const QByteArray &c) { view.AppendText(c); };
        view.SetText(small);
        Row("CTalvexView, 4 KB, type", TypeAtEnd(view, chars));
        Row("CTalvexView, 4 KB, append 1 KB", AppendAtEnd(view, chars, viewAppend));
        view.SetText(big);
        Row("CTalvexView, 20 MB, type", TypeAtEnd(view, chars));
        Row("CTalvexView, 20 MB, append 1 KB", AppendAtEnd(view, chars, viewAppend));
        QAccessible::queryAccessibleInterface(&view);
        Row("CTalvexView, 20 MB, accessible queried, type", TypeAtEnd(view, chars));
        QAccessible::setActive(true); // an assistive technology listening: caret events are sent
        Row("CTalvexView, 20 MB, assistive technology active, type", TypeAtEnd(view, chars));
        QAccessible::setActive(false);
    }
    return 0;
}
