// Measures Lisp indentation: Ctrl+A, Ctrl+I on a 1 MB file, and Enter and typing with Auto Indent at the end of 20 MB.
#include "editor/CLispIndenter.h"
#include "editor/CTalvexView.h"
#include "settings/CSettingsStore.h"
#include "TypedKey.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>

namespace {

// Common Lisp as people write it, indented; about 35 bytes a line.
const char kBlock[] = R"((defun parse-entry (line &key (separator #\,) (trim t))
  "Split LINE at SEPARATOR into a list of fields.
Fields are trimmed when TRIM is true."
  (let ((fields '())
        (start 0))
    (loop for i from 0 below (length line)
          when (char= (char line i) separator)
            do (push (subseq line start i) fields)
               (setf start (1+ i))
          finally (push (subseq line start) fields))
    (cond ((null fields) nil)
          (trim
           (mapcar (lambda (f)
                     (string-trim " " f))
                   (nreverse fields)))
          (t (nreverse fields)))))

(defmacro with-entries ((var stream) &body body)
  `(loop for ,var = (read-line ,stream nil)
         while ,var
         do (progn ,@body)))

(defvar *table* (make-hash-table :test #'equal)) ; names seen

)";

QByteArray Document(qsizetype bytes, bool indented)
{
    QByteArray block(kBlock);
    if (!indented) {
        QByteArray flush;
        for (const QByteArray &line : block.split('\n'))
            flush += line.trimmed() + '\n';
        block = flush.chopped(1);
    }
    QByteArray doc;
    doc.reserve(bytes + block.size());
    while (doc.size() < bytes)
        doc += block;
    return doc;
}

double Median(QList<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

// Select all, Indent Lines; ms, median of runs, each on the text as given.
double IndentAll(CTalvexView &view, const QByteArray &text, int runs)
{
    QList<double> ms;
    for (int i = 0; i < runs; ++i) {
        view.SetText(text);
        view.EmptyUndoBuffer();
        view.SetSel(0, view.GetLength());
        QElapsedTimer t;
        t.start();
        view.IndentSelectedLines();
        ms.append(t.nsecsElapsed() / 1e6);
    }
    return Median(ms);
}

// The indenter alone over the whole text (no control): ms, median of runs.
double IndenterAlone(const QByteArray &text, int runs)
{
    CLispIndenter::Options options;
    options.useTabs = false;
    const CLispIndenter indenter(options);
    const std::string_view all(text.constData(), static_cast<std::size_t>(text.size()));
    const int lines = static_cast<int>(text.count('\n'));
    QList<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        const auto changes = indenter.IndentLines(all, 0, lines);
        ms.append(t.nsecsElapsed() / 1e6);
        if (changes.empty() && i == 0)
            std::printf("(the text needs no change)\n");
    }
    return Median(ms);
}

// Presses a key at the end count times, repainting after each as the screen would; ms per key
// appended to ms.
void KeysAtEnd(CTalvexView &view, Qt::Key key, const QString &text, int count, QList<double> &ms)
{
    view.GotoPos(view.GetLength());
    view.viewport()->repaint();
    QCoreApplication::processEvents();
    for (int i = -1; i < count; ++i) {
        QElapsedTimer t;
        t.start();
        TypeKeyAndShow(view, key, text);
        if (i >= 0)
            ms.append(t.nsecsElapsed() / 1e6);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    CSettingsStore::Instance().SetKeyPath(QStringLiteral("Software\\Quenmark\\Talvex"));
    CSettingsStore::Instance().WriteInt(CSettingsStore::kSettings, QStringLiteral("TabUsesSpaces"), 1);

    CTalvexView view;
    view.ConfigureView();
    view.resize(800, 600);
    view.show();

    const QByteArray flush = Document(1024 * 1024, false);
    const QByteArray indented = Document(1024 * 1024, true);
    std::printf("1 MB: %lld lines flush left, %lld bytes indented; ms, median of 5\n",
                static_cast<long long>(flush.count('\n')), static_cast<long long>(indented.size()));
    std::printf("%-60s %9.1f\n", "Ctrl+A, Indent Lines, every line changes", IndentAll(view, flush, 5));
    std::printf("%-60s %9.1f\n", "Ctrl+A, Indent Lines, already indented", IndentAll(view, indented, 5));
    std::printf("%-60s %9.1f\n", "the indenter alone, flush left", IndenterAlone(flush, 5));

    // The end of a large document, inside a form that is still open.
    QByteArray big = Document(20 * 1024 * 1024, true);
    big += "(defun still-open (x)\n  (let ((y (* x 2)))";
    view.SetText(big);
    // Off and on take turns, so a machine busy with something else slows both alike.
    const int rounds = 5;
    const int keys = 20;
    struct Key
    {
        const char *name;
        Qt::Key key;
        QString text;
        QList<double> ms[2];
    };
    Key typed[] = {{"Enter", Qt::Key_Return, QStringLiteral("\r"), {}},
                   {"x", Qt::Key_X, QStringLiteral("x"), {}},
                   {") after code (its partner is found)", Qt::Key_ParenRight, QStringLiteral(")"), {}}};
    for (int round = 0; round < rounds; ++round) {
        for (Key &k : typed) {
            for (const int on : {0, 1}) {
                view.SetAutoIndent(on != 0);
                // Each ")" gets an opening bracket to close: one for the untimed key, one timed.
                if (k.key == Qt::Key_ParenRight)
                    view.InsertText(view.GetLength(), "((", 2);
                KeysAtEnd(view, k.key, k.text, k.key == Qt::Key_ParenRight ? 1 : keys, k.ms[on]);
            }
        }
    }
    std::printf("20 MB, at the end of an open form; ms per key, median of %d rounds\n", rounds);
    std::printf("%-44s %12s %12s %12s\n", "", "Auto off", "Auto on", "difference");
    for (Key &k : typed) {
        const double off = Median(k.ms[0]);
        const double on = Median(k.ms[1]);
        std::printf("%-44s %12.3f %12.3f %12.3f\n", k.name, off, on, on - off);
    }
    return 0;
}
