// Benchmark of find and replace on large documents in a real editor view.
#include "editor/CFindReplaceController.h"
#include "editor/CFindReplaceDialog.h"
#include "editor/CTalvexView.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>

namespace {

using Dlg = CFindReplaceDialog;

QByteArray Lines(int count)
{
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += "(defun f" + QByteArray::number(i) + " (x) (* x x))\n";
    return text;
}

double Ms(const QElapsedTimer &t)
{
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    CTalvexView view;
    view.resize(800, 600);
    view.ConfigureView();
    view.show();

    const QByteArray doc = Lines(100000);
    std::printf("document: %lld bytes, 100000 lines\n", static_cast<long long>(doc.size()));

    // Find Next from the top to the end, one press at a time.
    view.SetText(doc);
    view.SetSel(0, 0);
    QElapsedTimer t;
    t.start();
    int presses = 0;
    while (CFindReplaceController::Search(view, Dlg::FR_DOWN | Dlg::FR_FINDNEXT, "defun", {}) == 1)
        ++presses;
    std::printf("Find Next x %d down: %.1f ms (%.2f us each)\n", presses, Ms(t), Ms(t) * 1000 / presses);

    // The same upwards, from the end.
    view.SetSel(doc.size(), doc.size());
    t.restart();
    presses = 0;
    while (CFindReplaceController::Search(view, Dlg::FR_FINDNEXT, "defun", {}) == 1)
        ++presses;
    std::printf("Find Next x %d up:   %.1f ms (%.2f us each)\n", presses, Ms(t), Ms(t) * 1000 / presses);

    // Replace All of 200000 matches ("x" in every line twice... and in f-names none).
    view.SetText(doc);
    view.SetSel(0, 0);
    t.restart();
    const int replaced = CFindReplaceController::Search(
        view, Dlg::FR_DOWN | Dlg::FR_REPLACEALL | Dlg::FR_WHOLEWORD, "x", "(y)");
    const double replaceMs = Ms(t);
    std::printf("Replace All x %d (whole word): %.1f ms (%.2f us each)\n", replaced, replaceMs,
                replaceMs * 1000 / replaced);

    // Baseline: the same replacement on bytes in memory, no editor involved.
    t.restart();
    QByteArray copy = doc;
    copy.replace(" (x) (* x x)", " ((y)) (* (y) (y))");
    std::printf("baseline QByteArray::replace of the same text: %.1f ms\n", Ms(t));
    std::printf("result identical: %s\n", view.GetText() == copy ? "yes" : "NO");

    // One long line: Scintilla lays out the whole line again for every caret move.
    view.SetText(QByteArray(5000, 'a'));
    view.SetSel(0, 0);
    t.restart();
    CFindReplaceController::Search(view, Dlg::FR_DOWN | Dlg::FR_REPLACEALL, "a", "b");
    std::printf("Replace All x 5000 on one line: %.1f ms\n", Ms(t));
    return 0;
}
