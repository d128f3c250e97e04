// Tests of the recovery journals: their records, a real child killed with SIGKILL mid-edit, the
// offer at start, and what happens when a journal cannot be written.
#include "editor/CDocumentManager.h"
#include "editor/CFindReplaceController.h"
#include "editor/CFindReplaceDialog.h"
#include "editor/CJournalFormat.h"
#include "editor/CLispTabView.h"
#include "editor/CRecoveryDialog.h"
#include "editor/CRecoveryJournals.h"
#include "editor/CTalvexView.h"
#include "editor/RecoveryOffer.h"
#include "settings/CRecentDocList.h"
#include "settings/CSettingsStore.h"

#include "FileBytes.h"
#include "ModalDriver.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <csignal>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The documents of a main frame with their journals in folder.
struct Docs {
    QWidget frame;
    CLispTabView *view;
    CRecentDocList recent{QStringLiteral("Recent Document List"), 57616, 16};
    CDocumentManager docs;
    CRecoveryJournals journals;
    explicit Docs(const QString &folder) : view(new CLispTabView(&frame)), docs(&frame, *view, recent), journals(folder)
    {
        docs.SetRecovery(&journals);
        frame.resize(500, 400);
        view->resize(500, 400);
        frame.show();
    }
    CTalvexView *Active() const { return view->GetPageData(view->GetActivePage()); }
};

// One step of an editing scenario, the same in the child that is killed and in the test that
// replays it: typing, deleting, 1 MB pastes, Replace All, undo and redo, line-end conversions,
// NUL bytes.
void Step(CTalvexView &v, const QByteArray &scenario, int step)
{
    QRandomGenerator rng(static_cast<quint32>(step * 7919 + qHash(scenario)));
    const auto anywhere = [&] { return static_cast<CScintillaCtrl::Pos>(rng.bounded(static_cast<int>(v.GetLength()) + 1)); };
    const char typed = "(defun x)\n ;ab"[rng.bounded(14)];
    if (scenario == "paste" && step % 10 == 3) {
        v.SetSel(anywhere(), anywhere());
        QByteArray block(1024 * 1024, static_cast<char>('a' + step % 26));
        for (qsizetype i = 63; i < block.size(); i += 64)
            block[i] = '\n';
        v.ReplaceSel(block);
    } else if (scenario == "replaceall" && step % 5 == 4) {
        v.GotoPos(0);
        CFindReplaceController::Search(v, CFindReplaceDialog::FR_REPLACEALL | CFindReplaceDialog::FR_DOWN, "ab", "xyz");
    } else if (scenario == "undoredo" && step % 4 == 3) {
        v.Undo();
        v.Undo();
    } else if (scenario == "undoredo" && step % 6 == 5) {
        v.Redo();
    } else if (scenario == "lineends" && step % 5 == 4) {
        v.ConvertEOLs(step % 3);
    } else if (scenario == "lineends" && step % 5 == 2) {
        v.InsertText(anywhere(), "\r\n;\r", 4);
    } else if (scenario == "nul" && step % 3 == 1) {
        v.InsertText(anywhere(), "a\0\0b", 4);
    } else if (step % 7 == 6) {
        v.GotoPos(anywhere());
        v.SendScintilla(QsciScintillaBase::SCI_DELETEBACK);
    } else if (scenario == "large") {
        v.InsertText(step % 2 ? v.GetLength() : anywhere(), &typed, 1);
    } else {
        v.GotoPos(anywhere());
        v.AddText(QByteArray(1, typed));
    }
}

// The child: opens path (none: an untitled document) and runs the scenario's steps, one per
// timer tick, with its journals in folder. Before step k it prints k: the event loop has waited
// since step k - 1, so every edit so far should be in the journal. Once the steps are done, or
// after "save" in the saved scenario, it only waits to be killed.
int EditChild(const QByteArray &scenario, const QString &path, const QString &folder, int steps)
{
    Docs d(folder);
    if (path.isEmpty())
        d.docs.OnFileNew();
    else if (d.docs.OpenFile(path) != 1)
        return 2;
    CTalvexView *view = d.Active();
    int done = 0;
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        // The first edit's snapshot is written off the UI thread; until it is down, a kill
        // would find no journal to replay.
        if (done > 0 && !d.journals.JournalPath(view).isEmpty() && !d.journals.IsProtected(view))
            return;
        const QByteArray line = QByteArray::number(done) + '\n';
        if (::write(1, line.constData(), static_cast<size_t>(line.size())) < 0)
            return;
        if (done == steps)
            return;
        if (scenario == "saved" && done == steps - 1)
            d.docs.OnFileSave();
        else
            Step(*view, scenario, done);
        ++done;
    });
    ticks.start(1);
    return QApplication::exec();
}

const QString kSettingsKey = QStringLiteral("Software\\Quenmark\\Talvex");

} // namespace

class TestRecovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void recordsReadBack();
    void tornTailIsCut();
    void killedChildReplays_data();
    void killedChildReplays();
    void rewriteWhileEditing();
    void offerAtStart_data();
    void offerAtStart();
    void unwritableJournal_data();
    void unwritableJournal();

private:
    // Starts the child and kills it with SIGKILL once it has printed a count of at least
    // killAt; while it runs, another instance's look finds nothing. The last count printed.
    int RunAndKill(const QByteArray &scenario, const QString &path, int steps, int killAt);
    // The text after the first n steps of the scenario, started from the file at path.
    QByteArray Replayed(const QByteArray &scenario, const QString &path, int n);

    QTemporaryDir m_dir;
    QString Folder() const { return m_dir.filePath(QStringLiteral("recovery")); }
};

void TestRecovery::initTestCase()
{
    QVERIFY(m_dir.isValid());
    CSettingsStore::Instance().SetKeyPath(kSettingsKey);
    CSettingsStore::Instance().WriteInt(QStringLiteral("Settings"), QStringLiteral("LineEnding"), 2);
}

void TestRecovery::recordsReadBack()
{
    CJournalHeader h;
    h.path = QStringLiteral("/tmp/a b/ü=x.lisp");
    h.title = QStringLiteral("ü=x.lisp");
    h.eolMode = 0;
    h.keywordSet = 5;
    h.owner = platform::CurrentProcess();
    h.createdMs = 1234;
    h.fileSize = 77;
    const QByteArray snapshot("(a\0b)\n", 6);
    QByteArray file = CJournalFormat::EncodeHeader(h) + CJournalFormat::SnapshotPrefix(snapshot) + snapshot;
    CJournalFormat::AppendEdit(file, 6, 0, "ins\0", 4);   // insertion at the end, NUL included
    CJournalFormat::AppendEdit(file, 0, 1, nullptr, 0);   // deletion
    CJournalFormat::AppendEdit(file, 1, 2, "XY", 2);      // replacement
    CJournalFormat::AppendEdit(file, 0, 0, "", 0);        // nothing
    const CJournalContents c = CJournalFormat::Parse(file);
    QVERIFY2(c.ok, qPrintable(c.error));
    QCOMPARE(c.text, QByteArray("aXY)\nins\0", 9));
    QCOMPARE(c.edits, 4);
    QCOMPARE(c.cutBytes, 0);
    QCOMPARE(c.header.path, h.path);
    QCOMPARE(c.header.title, h.title);
    QCOMPARE(c.header.eolMode, 0);
    QCOMPARE(c.header.keywordSet, 5);
    QCOMPARE(c.header.owner.pid, h.owner.pid);
    QCOMPARE(c.header.owner.bootId, h.owner.bootId);
    QCOMPARE(c.header.fileSize, 77);
    QVERIFY(platform::IsRunning(c.header.owner));

    // An edit outside the text ends the journal there, as a torn one does.
    QByteArray bad = file;
    CJournalFormat::AppendEdit(bad, 100, 0, "z", 1);
    CJournalFormat::AppendEdit(bad, 0, 0, "z", 1);
    const CJournalContents b = CJournalFormat::Parse(bad);
    QVERIFY(b.ok);
    QCOMPARE(b.text, c.text);
    QCOMPARE(b.cutBytes, bad.size() - file.size());

    // A snapshot cut short leaves nothing to recover.
    const qsizetype headerSize = CJournalFormat::EncodeHeader(h).size();
    QVERIFY(!CJournalFormat::Parse(file.left(headerSize + 10)).ok);
    QVERIFY(!CJournalFormat::Parse(file.mid(1)).ok);
}

void TestRecovery::tornTailIsCut()
{
    CJournalHeader h;
    const QByteArray snapshot("(list 1 2)");
    QByteArray whole = CJournalFormat::EncodeHeader(h) + CJournalFormat::SnapshotPrefix(snapshot) + snapshot;
    CJournalFormat::AppendEdit(whole, 5, 0, "0 ", 2);
    const qsizetype before = whole.size();
    CJournalFormat::AppendEdit(whole, 0, 3, "(vector", 7);
    // Cut at every byte of the last record, and with each of its bytes damaged in turn.
    for (qsizetype cut = before; cut < whole.size(); ++cut) {
        const CJournalContents c = CJournalFormat::Parse(whole.left(cut));
        QVERIFY(c.ok);
        QCOMPARE(c.text, QByteArray("(list0  1 2)"));
        QCOMPARE(c.edits, 1);
        QCOMPARE(c.cutBytes, cut - before);
        QByteArray damaged = whole;
        damaged[cut] = static_cast<char>(damaged[cut] ^ 0x20);
        QCOMPARE(CJournalFormat::Parse(damaged).edits, 1);
    }
    QCOMPARE(CJournalFormat::Parse(whole).text, QByteArray("(vectorst0  1 2)"));
}

void TestRecovery::killedChildReplays_data()
{
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<int>("fileSize"); // -1: an untitled document
    QTest::addColumn<int>("steps");
    QTest::newRow("typing and deleting") << QByteArray("typing") << 2000 << 80;
    QTest::newRow("1 MB pastes") << QByteArray("paste") << 500 << 40;
    QTest::newRow("Replace All") << QByteArray("replaceall") << 3000 << 60;
    QTest::newRow("undo and redo") << QByteArray("undoredo") << 1000 << 80;
    QTest::newRow("line-end conversion") << QByteArray("lineends") << 1500 << 60;
    QTest::newRow("untitled") << QByteArray("typing") << -1 << 60;
    QTest::newRow("NUL bytes") << QByteArray("nul") << 800 << 60;
    QTest::newRow("20 MB") << QByteArray("large") << 20 * 1024 * 1024 << 60;
    QTest::newRow("saved") << QByteArray("saved") << 1000 << 20;
}

void TestRecovery::killedChildReplays()
{
    QFETCH(QByteArray, scenario);
    QFETCH(int, fileSize);
    QFETCH(int, steps);
    QString path;
    if (fileSize >= 0) {
        path = m_dir.filePath(QString::fromLatin1(scenario) + QStringLiteral(".lisp"));
        QByteArray text(fileSize, 'q');
        for (int i = 0; i < fileSize; i += 61)
            text.replace(i, 9, "\n(ab cd) ");
        QVERIFY(WriteBytes(path, text.left(fileSize)));
    }
    QRandomGenerator rng(static_cast<quint32>(qHash(scenario) + fileSize));
    for (int run = 0; run < 2; ++run) {
        QDir(Folder()).removeRecursively();
        const int killAt = scenario == "saved" ? steps : 1 + rng.bounded(steps);
        const int printed = RunAndKill(scenario, path, steps, killAt);
        QVERIFY(printed >= killAt);
        CRecoveryJournals next(Folder());
        QList<CLeftOver> found = next.FindLeftOvers();
        if (scenario == "saved") {
            QVERIFY(found.isEmpty());
            QCOMPARE(QDir(Folder()).entryList(QDir::Files).size(), 0);
            continue;
        }
        QCOMPARE(found.size(), 1);
        const CJournalContents &c = found[0].contents;
        QVERIFY2(c.ok, qPrintable(c.error));
        QCOMPARE(c.header.path, path);
        if (path.isEmpty())
            QCOMPARE(c.header.title, QStringLiteral("Document1"));
        // The kill came after `printed` steps, perhaps during the next one.
        const QByteArray after = Replayed(scenario, path, printed);
        if (c.text != after)
            QVERIFY2(c.text == Replayed(scenario, path, printed + 1),
                     qPrintable(QStringLiteral("run %1: the journal replays to neither step %2 nor %3").arg(run).arg(printed).arg(printed + 1)));
    }
}

int TestRecovery::RunAndKill(const QByteArray &scenario, const QString &path, int steps, int killAt)
{
    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments({QStringLiteral("--edit-child"), QString::fromLatin1(scenario), path, Folder(), QString::number(steps)});
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start();
    if (!child.waitForStarted())
        return -1;
    int printed = -1;
    bool lookedAtLive = false;
    while (printed < killAt) {
        if (!child.canReadLine() && !child.waitForReadyRead(60000))
            return -1;
        while (child.canReadLine())
            printed = child.readLine().trimmed().toInt();
        if (!lookedAtLive && printed > 0) {
            // A second instance never offers the journal of one that runs.
            CRecoveryJournals other(Folder());
            if (!other.FindLeftOvers().isEmpty())
                return -2;
            lookedAtLive = true;
        }
    }
    ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
    child.waitForFinished(60000);
    while (child.canReadLine())
        printed = child.readLine().trimmed().toInt();
    return printed;
}

QByteArray TestRecovery::Replayed(const QByteArray &scenario, const QString &path, int n)
{
    CTalvexView view;
    view.ConfigureView();
    view.LoadFile(path);
    for (int i = 0; i < n; ++i)
        Step(view, scenario, i);
    return view.GetText();
}

void TestRecovery::rewriteWhileEditing()
{
    const QString folder = m_dir.filePath(QStringLiteral("rewrite"));
    Docs d(folder);
    CTalvexView *view = d.docs.OnFileNew();
    view->AddText("(start)");
    d.journals.FlushAll();
    QTRY_VERIFY(d.journals.IsProtected(view));
    const QString journal = d.journals.JournalPath(view);
    struct stat first {};
    QCOMPARE(::stat(QFile::encodeName(journal).constData(), &first), 0);
    // Past the bound the journal is written anew; edits made meanwhile go into both files.
    for (int i = 0; i < 5; ++i) {
        Step(*view, "paste", 3);
        d.journals.FlushAll();
    }
    for (int i = 0; i < 200; ++i) {
        Step(*view, "typing", i);
        d.journals.FlushAll();
        QCoreApplication::processEvents();
    }
    struct stat now {};
    QTRY_VERIFY(::stat(QFile::encodeName(journal).constData(), &now) == 0 && now.st_ino != first.st_ino
                && d.journals.IsProtected(view));
    QCOMPARE(d.journals.JournalPath(view), journal);
    const CJournalContents c = CJournalFormat::Parse(ReadBytes(journal));
    QVERIFY(c.ok);
    QCOMPARE(c.text, view->GetText());
    QVERIFY(c.edits < 200 + 5);
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 1);
}

void TestRecovery::offerAtStart_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("alreadyOpen");
    QTest::addColumn<bool>("changeOnDisk");
    QTest::newRow("Restore") << QStringLiteral("Restore") << false << false;
    QTest::newRow("Restore into the open tab, file changed") << QStringLiteral("Restore") << true << true;
    QTest::newRow("Discard") << QStringLiteral("Discard") << false << false;
    QTest::newRow("Later") << QStringLiteral("Later") << false << false;
}

void TestRecovery::offerAtStart()
{
    QFETCH(QString, button);
    QFETCH(bool, alreadyOpen);
    QFETCH(bool, changeOnDisk);
    QDir(Folder()).removeRecursively();
    const QString path = m_dir.filePath(QStringLiteral("offered.lisp"));
    QVERIFY(WriteBytes(path, "(defun offered ())\n"));
    QVERIFY(RunAndKill("typing", path, 30, 30) >= 30);
    const QByteArray expected = Replayed("typing", path, 30);
    if (changeOnDisk)
        QVERIFY(WriteBytes(path, "(changed elsewhere)\n"));
    QVERIFY(WriteBytes(Folder() + QStringLiteral("/broken.journal"), "not a journal"));

    Docs d(Folder());
    if (alreadyOpen)
        QCOMPARE(d.docs.OpenFile(path), 1);
    QStringList rows;
    ModalAnswer<CRecoveryDialog> answer([&](CRecoveryDialog *dlg) {
        for (int i = 0; i < dlg->List()->topLevelItemCount(); ++i)
            rows.append(dlg->List()->topLevelItem(i)->text(0) + QLatin1Char('|') + dlg->List()->topLevelItem(i)->text(3));
        for (QPushButton *b : dlg->findChildren<QPushButton *>()) {
            if (b->text() == button)
                b->click();
        }
    });
    OfferRecovery(&d.frame, d.docs, d.journals);
    QVERIFY(answer.Seen());
    QCOMPARE(rows.size(), 2);
    QVERIFY2(rows.filter(QStringLiteral("offered.lisp|")).size() == 1, qPrintable(rows.join(u'\n')));
    QCOMPARE(rows.filter(QStringLiteral("has changed since")).size(), changeOnDisk ? 1 : 0);
    QVERIFY(rows.filter(QStringLiteral("broken.journal|cannot be read")).size() == 1);

    const QStringList left = QDir(Folder()).entryList({QStringLiteral("*.journal")}, QDir::Files);
    if (button == QLatin1String("Restore")) {
        QCOMPARE(d.view->GetPageCount(), 1);
        CTalvexView *view = d.Active();
        QCOMPARE(view->m_strPath, path);
        QCOMPARE(view->GetText(), expected);
        QVERIFY(view->GetModify());
        // The undo history starts at the recovered text, and nothing makes it look saved.
        view->Undo();
        view->Redo();
        view->Undo();
        QCOMPARE(view->GetText(), expected);
        QVERIFY(view->GetModify());
        QVERIFY(ReadBytes(path) != expected);
        // Its own journal replaces the crash's once its snapshot is on the disk.
        QTRY_VERIFY(d.journals.IsProtected(view));
        const QStringList now = QDir(Folder()).entryList({QStringLiteral("*.journal")}, QDir::Files);
        QCOMPARE(now.size(), 2);
        QVERIFY(now.contains(QStringLiteral("broken.journal")));
        QCOMPARE(CJournalFormat::Parse(ReadBytes(d.journals.JournalPath(view))).text, expected);
    } else if (button == QLatin1String("Discard")) {
        QCOMPARE(d.view->GetPageCount(), 0);
        QCOMPARE(left, QStringList{QStringLiteral("broken.journal")});
        const QStringList discarded = QDir(Folder() + QStringLiteral("/discarded")).entryList(QDir::Files);
        QCOMPARE(discarded.size(), 1);
        QCOMPARE(CJournalFormat::Parse(ReadBytes(Folder() + QStringLiteral("/discarded/") + discarded[0])).text, expected);
    } else {
        QCOMPARE(d.view->GetPageCount(), 0);
        QCOMPARE(left.size(), 2);
        CRecoveryJournals again(Folder());
        QCOMPARE(again.FindLeftOvers().size(), 2);
    }
}

void TestRecovery::unwritableJournal_data()
{
    QTest::addColumn<QByteArray>("options");
    QTest::newRow("full disk") << QByteArray("size=64k");
    QTest::newRow("read-only folder") << QByteArray("ro,size=64k");
}

void TestRecovery::unwritableJournal()
{
    QFETCH(QByteArray, options);
    const QString mountPoint = m_dir.filePath(QStringLiteral("small-fs"));
    QVERIFY(QDir().mkpath(mountPoint));
    const QByteArray mp = QFile::encodeName(mountPoint);
    if (::mount("tmpfs", mp.constData(), "tmpfs", 0, options.constData()) != 0)
        QSKIP("cannot mount a small tmpfs here");
    struct Unmount {
        QByteArray mp;
        ~Unmount() { ::umount2(mp.constData(), MNT_DETACH); }
    } unmount{mp};
    if (!options.startsWith("ro")) {
        QVERIFY(QDir().mkpath(mountPoint + QStringLiteral("/recovery")));
        QFile filler(mountPoint + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size()) {
        }
    }
    Docs d(mountPoint + QStringLiteral("/recovery"));
    QSignalSpy lost(&d.journals, &CRecoveryJournals::protectionLost);
    CTalvexView *view = d.docs.OnFileNew();
    QByteArray typed;
    for (int i = 0; i < 300; ++i) {
        view->AddText(QByteArray(40, 'k'));
        typed += QByteArray(40, 'k');
        QCoreApplication::processEvents();
    }
    QCOMPARE(view->GetText(), typed);
    QCOMPARE(lost.size(), 1);
    QVERIFY(lost[0][0].toString().startsWith(QStringLiteral("Unsaved changes are not protected: ")));
}

int main(int argc, char **argv)
{
    if (argc == 6 && std::strcmp(argv[1], "--edit-child") == 0) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return EditChild(QByteArray(argv[2]), QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4]),
                         QByteArray(argv[5]).toInt());
    }
    QApplication app(argc, argv);
    TestRecovery tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_recovery.moc"
