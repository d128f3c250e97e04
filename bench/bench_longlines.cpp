// Measures opening files of very long lines and typing in them, against a bare Scintilla control.
#include "editor/CTalvexView.h"
#include "settings/CSettingsStore.h"
#include "TypedKey.h"

#include <Qsci/qsciscintillabase.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

// lines lines of lineBytes bytes each of Lisp text, LF between them.
QByteArray LongLines(int lines, qsizetype lineBytes)
{
    const QByteArray unit = "(defun f (x) (+ x 1)) \"a string\" 'sym 42.5 #\\a ";
    QByteArray line;
    line.reserve(lineBytes + unit.size());
    while (line.size() < lineBytes)
        line += unit;
    line.truncate(lineBytes);
    QByteArray doc;
    doc.reserve(lines * (lineBytes + 1));
    for (int i = 0; i < lines; ++i) {
        if (i > 0)
            doc += '\n';
        doc += line;
    }
    return doc;
}

double Ms(const QElapsedTimer &t) { return t.nsecsElapsed() / 1e6; }

void Show(QsciScintillaBase &w)
{
    w.viewport()->repaint();
    QCoreApplication::processEvents();
}

// Median and worst of count keys typed at pos (the caret moves on with each), each shown
// before the next; one untimed key first.
void TypeAt(QsciScintillaBase &w, qsizetype pos, int count, double &median, double &worst)
{
    w.SendScintilla(QsciScintillaBase::SCI_GOTOPOS, static_cast<unsigned long>(pos));
    Show(w);
    QList<double> ms;
    for (int i = -1; i < count; ++i) {
        QElapsedTimer t;
        t.start();
        TypeKeyAndShow(w);
        if (i >= 0)
            ms.append(Ms(t));
    }
    std::sort(ms.begin(), ms.end());
    median = ms[ms.size() / 2];
    worst = ms.last();
}

// Opening: the file read, the text in the control, its first screen shown.
template <typename Open>
double TimeOpen(QsciScintillaBase &w, Open open)
{
    QElapsedTimer t;
    t.start();
    open();
    Show(w);
    return Ms(t);
}

void Measure(const char *who, QsciScintillaBase &w, const QByteArray &doc, double openMs, int keys)
{
    const auto lines = w.SendScintilla(QsciScintillaBase::SCI_GETLINECOUNT);
    const long line = static_cast<long>(lines / 2);
    const qsizetype start = w.SendScintilla(QsciScintillaBase::SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
    const qsizetype end = w.SendScintilla(QsciScintillaBase::SCI_GETLINEENDPOSITION, static_cast<unsigned long>(line));
    double endMedian = 0, endWorst = 0, startMedian = 0, startWorst = 0;
    TypeAt(w, end, keys, endMedian, endWorst);
    TypeAt(w, start, keys, startMedian, startWorst);
    const QByteArray file = QByteArray::number(doc.size() / 1024) + " KB, line of "
                            + QByteArray::number((end - start) / 1024) + " KB";
    std::printf("%-14s %-22s %9.1f %9.2f %9.2f %9.2f %9.2f\n", who, file.constData(),
                openMs, endMedian, endWorst, startMedian, startWorst);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    CSettingsStore::Instance().SetKeyPath(QStringLiteral("Software\\Quenmark\\Talvex"));
    const bool oursOnly = app.arguments().contains(QStringLiteral("--ours-only"));
    const bool bareOnly = app.arguments().contains(QStringLiteral("--bare-only"));
    const int keys = 10;

    struct Case { const char *name; int lines; qsizetype lineBytes; };
    const Case cases[] = {{"100k", 50, 100 * 1024}, {"50m", 1, 50 * 1024 * 1024}};
    std::printf("%d keys at the end and at the start of a middle line; ms\n", keys);
    std::printf("%-14s %-22s %9s %9s %9s %9s %9s\n", "", "file", "open", "end med", "end max", "start med",
                "start max");
    const qsizetype only = app.arguments().indexOf(QStringLiteral("--only"));
    for (const Case &c : cases) {
        if (only >= 0 && app.arguments().value(only + 1) != QLatin1String(c.name))
            continue;
        const QByteArray doc = LongLines(c.lines, c.lineBytes);
        const QString path = dir.filePath(QString::fromLatin1(c.name) + QStringLiteral(".lisp"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(doc) != doc.size())
            return 1;
        file.close();
        if (!oursOnly) {
            // What the bare control does with the same file: read it, set the text, Lisp lexer.
            QsciScintillaBase bare;
            bare.resize(800, 600);
            bare.show();
            const double open = TimeOpen(bare, [&] {
                QFile in(path);
                in.open(QIODevice::ReadOnly);
                const QByteArray text = in.readAll();
                bare.SendScintilla(QsciScintillaBase::SCI_SETCODEPAGE, QsciScintillaBase::SC_CP_UTF8);
                bare.SendScintilla(QsciScintillaBase::SCI_SETLEXER, QsciScintillaBase::SCLEX_LISP);
                bare.SendScintilla(QsciScintillaBase::SCI_ADDTEXT, static_cast<unsigned long>(text.size()), text.constData());
            });
            Measure("bare", bare, doc, open, keys);
        }
        if (!bareOnly) {
            CTalvexView view;
            view.ConfigureView();
            view.resize(800, 600);
            view.show();
            const double open = TimeOpen(view, [&] { view.LoadFile(path); });
            Measure("CTalvexView", view, doc, open, keys);
        }
    }
    return 0;
}
