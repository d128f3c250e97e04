// Measures what the recovery journals cost: typing in a 20 MB document with and without a
// journal, bytes written per key, the longest stall, and restoring 100 000 journalled edits.
#include "editor/CDocumentManager.h"
#include "editor/CJournalFormat.h"
#include "editor/CLispTabView.h"
#include "editor/CRecoveryJournals.h"
#include "editor/CTalvexView.h"
#include "settings/CRecentDocList.h"
#include "settings/CSettingsStore.h"
#include "TypedKey.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

QByteArray LispDocument(qsizetype bytes)
{
    const QByteArray block = "(defun fact (n)\n  (if (<= n 1) 1 (* n (fact (- n 1))))) ; recursion\n";
    QByteArray doc;
    doc.reserve(bytes + block.size());
    while (doc.size() < bytes)
        doc += block;
    return doc;
}

double Ms(const QElapsedTimer &t)
{
    return t.nsecsElapsed() / 1e6;
}

// One key through the window at the end of the document, painted (the paint writes the key's
// record first); ms.
double TypeKey(CTalvexView &v)
{
    QElapsedTimer t;
    t.start();
    TypeKeyAndShow(v);
    return Ms(t);
}

void Row(const char *what, QList<double> ms)
{
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (double m : ms)
        sum += m;
    std::printf("%-52s %9.3f %9.3f %9.3f %9.3f\n", what, sum / ms.size(), ms[ms.size() / 2],
                ms[std::min<qsizetype>(ms.size() - 1, ms.size() * 99 / 100)], ms.last());
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    CSettingsStore::Instance().SetKeyPath(QStringLiteral("Software\\Quenmark\\Talvex"));
    QTemporaryDir dir; // the journals' folder; --folder puts them elsewhere (a real disk)
    const qsizetype at = app.arguments().indexOf(QStringLiteral("--folder"));
    const QString folder = at > 0 && at + 1 < app.arguments().size() ? app.arguments().at(at + 1) : dir.path();
    CRecoveryJournals journals(folder + QStringLiteral("/recovery"));
    const QByteArray big = LispDocument(20 * 1024 * 1024);
    const int keys = 400;

    // Two views with the same 20 MB text, keys taken in turn, so that both see the same machine.
    CTalvexView off, on;
    for (CTalvexView *v : {&off, &on}) {
        v->ConfigureView();
        v->resize(800, 600);
        v->show();
        v->SetText(big);
        v->SendScintilla(QsciScintillaBase::SCI_DOCUMENTEND);
        v->viewport()->repaint();
    }
    journals.Attach(&on, QStringLiteral("Document1"));
    // A user types some time after opening: by then the buffer for the snapshot is ready.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double firstOff = TypeKey(off);
    const double first = TypeKey(on); // the journal begins: the text is copied for its snapshot
    while (!journals.IsProtected(&on))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    const qint64 sizeBefore = QFileInfo(journals.JournalPath(&on)).size();
    QList<double> msOff, msOn;
    for (int i = 0; i < keys; ++i) {
        msOff.append(TypeKey(off));
        msOn.append(TypeKey(on));
    }
    const qint64 sizeAfter = QFileInfo(journals.JournalPath(&on)).size();
    std::printf("20 MB document, %d keys each at its end, through the window; ms\n", keys);
    std::printf("%-52s %9s %9s %9s %9s\n", "", "mean", "median", "p99", "worst");
    Row("type, no journal", msOff);
    Row("type, journalled", msOn);
    std::printf("first key: %.3f ms journalled (the journal starts), %.3f ms without\n", first, firstOff);
    std::printf("bytes written per typed character: %.1f\n", double(sizeAfter - sizeBefore) / keys);

    // The rewrite of a 20 MB document's journal: records past twice the text's size, the last
    // megabyte replaced again and again; what each flush costs the UI thread, the one that
    // starts the rewrite included (its spare buffer is prepared when half the bound is reached).
    const QByteArray piece = LispDocument(1024 * 1024).left(1024 * 1024);
    QList<double> flushes;
    const QString name = journals.JournalPath(&on);
    for (int i = 0; i < 45; ++i) {
        on.SetTargetRange(on.GetLength() - piece.size(), on.GetLength());
        on.ReplaceTarget(piece);
        QElapsedTimer t;
        t.start();
        journals.FlushAll();
        flushes.append(Ms(t));
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    while (!journals.IsProtected(&on) || QFile::exists(name + QStringLiteral(".new")))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    Row("flush after replacing 1 MB, rewrite included", flushes);
    std::printf("journal after the rewrite: %.1f MB (text %.1f MB)\n", QFileInfo(name).size() / 1048576.0,
                on.GetLength() / 1048576.0);

    // Recovery: 100 000 edits into a 20 MB document, read back and restored as a tab.
    {
        QWidget frame;
        auto *tabs = new CLispTabView(&frame);
        CRecentDocList recent(QStringLiteral("Recent Document List"), 57616, 16);
        CDocumentManager docs(&frame, *tabs, recent);
        docs.SetRecovery(&journals);
        frame.resize(800, 600);
        tabs->resize(800, 600);
        frame.show();
        CTalvexView *view = docs.OnFileNew();
        view->SendScintilla(QsciScintillaBase::SCI_SETUNDOCOLLECTION, 0UL); // as a file is loaded
        view->SetText(big);
        view->SendScintilla(QsciScintillaBase::SCI_SETUNDOCOLLECTION, 1UL);
        view->GotoPos(big.size() / 2);
        for (int i = 0; i < 100000; ++i) {
            if (i % 10 == 9)
                view->SendScintilla(QsciScintillaBase::SCI_DELETEBACK);
            else
                view->AddText("k");
            if (i % 100 == 0)
                journals.FlushAll();
        }
        journals.FlushAll();
        const QByteArray expected = view->GetText();
        while (!journals.IsProtected(view))
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        QByteArray bytes;
        {
            QFile f(journals.JournalPath(view));
            f.open(QIODevice::ReadOnly);
            bytes = f.readAll();
        }
        QElapsedTimer t;
        t.start();
        CJournalContents c = CJournalFormat::Parse(bytes);
        const double parse = Ms(t);
        t.restart();
        CTalvexView *restored = docs.RestoreDocument(c.header, c.text);
        CLeftOver leftOver;
        leftOver.contents = std::move(c);
        journals.Restored(restored, std::move(leftOver));
        restored->show();
        restored->viewport()->repaint();
        const double restore = Ms(t);
        std::printf("recovery of %lld edits in a %.1f MB journal: read back %.1f ms, Restore to shown text %.1f ms, %s\n",
                    static_cast<long long>(leftOver.contents.edits), bytes.size() / 1048576.0, parse, restore,
                    restored->GetText() == expected ? "text identical" : "TEXT DIFFERS");
    }
    return 0;
}
