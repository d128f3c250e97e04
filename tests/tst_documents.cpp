// Tests of documents and their files: open, save, close prompts, whole-file I/O and safe saving.
#include "FifoGuard.h"
#include "editor/CDiskWatcher.h"
#include "editor/CDocumentFile.h"
#include "editor/CDocumentManager.h"
#include "editor/CLispTabView.h"
#include "editor/CTalvexView.h"
#include "settings/CRecentDocList.h"
#include "settings/CSettingsStore.h"

#include "FileBytes.h"
#include "ModalDriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QBuffer>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QQueue>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QStatusTipEvent>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QThread>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <sys/resource.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The status tips that reach a window: what its status bar would say.
struct StatusTips : QObject {
    QStringList seen;
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::StatusTip)
            seen.append(static_cast<QStatusTipEvent *>(e)->tip());
        return false;
    }
};

// The document machinery of the main frame, on a window of its own.
struct Docs {
    StatusTips tips;
    QWidget frame;
    CLispTabView *view;
    CRecentDocList recent{QStringLiteral("Recent Document List"), 57616, 16};
    CDocumentManager docs;
    Docs()
        : view(new CLispTabView(&frame))
        , docs(&frame, *view, recent)
    {
        frame.setWindowTitle(QStringLiteral("Talvex"));
        frame.resize(500, 400);
        view->resize(500, 400);
        view->SetTitleBarWindow(&frame);
        frame.installEventFilter(&tips);
        frame.show();
    }
    CTalvexView *Active() const { return view->GetPageData(view->GetActivePage()); }
};

// The child side of the interrupted-save test: loads the new text into a view and saves it.
int SaveChild(const QString &source, const QString &target)
{
    // A failed save shows "Save failed": the box is reported on stdout and closed.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            std::printf("box: %s\n", qPrintable(box->text()));
            std::fflush(stdout);
            box->done(0);
        }
    });
    closer.start(5);
    CTalvexView view;
    view.SetModEventMask(0);
    view.SetText(ReadBytes(source));
    std::fputs("saving\n", stdout);
    std::fflush(stdout);
    return view.SaveFile(target) == 1 ? 0 : 1;
}

// The child side of the out-of-memory test: loads the file with room more bytes of address space
// than the process has, and says whether the load was refused.
int LoadChild(const QString &path, qint64 room)
{
    CTalvexView view;
    view.ConfigureView();
    QFile status(QStringLiteral("/proc/self/status"));
    qint64 vmSize = 0;
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmSize:"))
                vmSize = line.mid(7).trimmed().split(' ').value(0).toLongLong() * 1024;
        }
    }
    if (vmSize <= 0)
        return 2;
    const rlimit limit{static_cast<rlim_t>(vmSize + room), static_cast<rlim_t>(vmSize + room)};
    if (::setrlimit(RLIMIT_AS, &limit) != 0)
        return 2;
    const int loaded = view.LoadFile(path);
    std::fputs(loaded ? "loaded\n" : "refused\n", stdout);
    return view.GetLength() == 0 ? 0 : 1;
}

const QString kSettingsKey = QStringLiteral("Software\\Quenmark\\Talvex");

} // namespace

class TestDocuments : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    // Files on their own.
    void convertLineEnds_data();
    void convertLineEnds();
    void readWhole_data();
    void readWhole();
    void readFailures();
    void writeKeepsPermissionsAndLinks();
    void writeFailureLeavesOriginal();

    // Documents.
    void newDocumentNumbering();
    void openSamePathAndCaseVariant();
    void openAnotherNameOfAnOpenFile_data();
    void openAnotherNameOfAnOpenFile();
    void openConvertsLineEnds();
    void lfFileRoundTripsOnFreshProfile();
    void openEmptyFile();
    void nulBytesSurviveRoundTrip();
    void longLineRoundTrip();
    void unreadablePathGetsNoPage_data();
    void unreadablePathGetsNoPage();
    void loadBeyondMemory_data();
    void loadBeyondMemory();
    void saveAsDialogAndRecentList();
    void saveAsOntoOpenPathRefused();
    void saveFailedKeepsDocument();
    void closeModifiedUntitled_data();
    void closeModifiedUntitled();
    void closeAllCancelAtSecond();
    void closeWithNoPageBeeps();

    // Files that other programs change, and files that are not text.
    void externalChanges_data();
    void externalChanges();
    void binaryFilesKeepTheirBytes_data();
    void binaryFilesKeepTheirBytes();

    // Real faults.
    void diskFull();
    void flushToDiskFails();
    void killDuringSave();

private:
    void SaveUnderInjectedSyncError(const char *error);
    QTemporaryDir m_dir;
    QString Path(const QString &name) const { return m_dir.filePath(name); }
};

void TestDocuments::initTestCase()
{
    QVERIFY(m_dir.isValid());
    CSettingsStore::Instance().SetKeyPath(kSettingsKey);
}

void TestDocuments::init()
{
    CSettingsStore::Instance().WriteInt(QStringLiteral("Settings"), QStringLiteral("LineEnding"), 2);
}

void TestDocuments::convertLineEnds_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray mixed("a\r\nb\rc\nd\r\n\r\ne\r");
    QTest::newRow("mixed to LF") << mixed << 2 << QByteArray("a\nb\nc\nd\n\ne\n");
    QTest::newRow("mixed to CR") << mixed << 1 << QByteArray("a\rb\rc\rd\r\re\r");
    QTest::newRow("mixed to CRLF") << mixed << 0 << QByteArray("a\r\nb\r\nc\r\nd\r\n\r\ne\r\n");
    QTest::newRow("LF\\r\\n stays one line end") << QByteArray("x\n\r\ny") << 2 << QByteArray("x\n\ny");
    QTest::newRow("LF unchanged") << QByteArray("(a)\n(b)\n") << 2 << QByteArray("(a)\n(b)\n");
    QTest::newRow("NUL bytes kept") << QByteArray("a\0b\r\nc\0", 7) << 2 << QByteArray("a\0b\nc\0", 6);
    QTest::newRow("empty") << QByteArray() << 0 << QByteArray();
    QTest::newRow("lone CR at the end to CRLF") << QByteArray("x\r") << 0 << QByteArray("x\r\n");
}

void TestDocuments::convertLineEnds()
{
    QFETCH(QByteArray, input);
    QFETCH(int, mode);
    QFETCH(QByteArray, expected);
    QCOMPARE(CDocumentFile::ConvertLineEnds(input, mode), expected);
}

void TestDocuments::readWhole_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("NUL in the middle") << QByteArray("(a)\0(b)\r\n", 9);
    QTest::newRow("empty") << QByteArray();
    QByteArray big(3 * 1024 * 1024 + 17, 'x');
    big[1000] = '\0';
    QTest::newRow("3 MB with NUL") << big;
}

void TestDocuments::readWhole()
{
    QFETCH(QByteArray, content);
    const QString path = Path(QStringLiteral("whole.bin"));
    QVERIFY(WriteBytes(path, content));
    QByteArray data("previous");
    QString error;
    QVERIFY(CDocumentFile::Read(path, data, error));
    QCOMPARE(data, content);
    const QString copy = Path(QStringLiteral("whole-copy.bin"));
    QVERIFY(CDocumentFile::Write(copy, data, error));
    QCOMPARE(ReadBytes(copy), content);
}

void TestDocuments::readFailures()
{
    QByteArray data("kept");
    QString error;
    QVERIFY(!CDocumentFile::Read(m_dir.path(), data, error)); // a folder
    QVERIFY(!error.isEmpty());
    QVERIFY(!CDocumentFile::Read(Path(QStringLiteral("missing.lisp")), data, error));
    // A read that fails after the open: memory of this process at address 0.
    QVERIFY(!CDocumentFile::Read(QStringLiteral("/proc/self/mem"), data, error));
    QCOMPARE(data, QByteArray("kept"));
    // Files that report size 0 are read to their end.
    QVERIFY(CDocumentFile::Read(QStringLiteral("/proc/self/status"), data, error));
    QVERIFY(data.contains("Name:"));
}

void TestDocuments::writeKeepsPermissionsAndLinks()
{
    const QString target = Path(QStringLiteral("perm-target.lisp"));
    const QString link = Path(QStringLiteral("perm-link.lisp"));
    QVERIFY(WriteBytes(target, "old"));
    QVERIFY(::chmod(QFile::encodeName(target).constData(), 0640) == 0);
    QFile::remove(link);
    QVERIFY(QFile::link(target, link));
    QString error;
    QVERIFY2(CDocumentFile::Write(link, "new text", error), qPrintable(error));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(ReadBytes(target), QByteArray("new text"));
    struct stat st {};
    QVERIFY(::stat(QFile::encodeName(target).constData(), &st) == 0);
    QCOMPARE(st.st_mode & 07777, 0640u);
    // No temporary file is left beside it.
    const QStringList left = QDir(m_dir.path()).entryList({QStringLiteral("perm-*")}, QDir::Files | QDir::System);
    QCOMPARE(left, (QStringList{"perm-link.lisp", "perm-target.lisp"}));
}

void TestDocuments::writeFailureLeavesOriginal()
{
    // A folder where the file should be, and a path through a regular file: both must fail.
    QString error;
    const QString folder = Path(QStringLiteral("a-folder"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(!CDocumentFile::Write(folder, "text", error));
    QVERIFY(QFileInfo(folder).isDir());
    const QString plain = Path(QStringLiteral("plain.txt"));
    QVERIFY(WriteBytes(plain, "original"));
    QVERIFY(!CDocumentFile::Write(plain + QStringLiteral("/x.lisp"), "text", error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(ReadBytes(plain), QByteArray("original"));
}

void TestDocuments::newDocumentNumbering()
{
    Docs d;
    QVERIFY(WriteBytes(Path("one.lisp"), "(one)"));
    QVERIFY(WriteBytes(Path("two.lisp"), "(two)"));
    QCOMPARE(d.docs.OpenFile(Path("one.lisp")), 1);
    QCOMPARE(d.docs.OpenFile(Path("two.lisp")), 1);
    CTalvexView *v = d.docs.OnFileNew();
    QVERIFY(v);
    QCOMPARE(d.view->GetPageTitle(2), QStringLiteral("Document3"));
    QCOMPARE(d.Active(), v);
    QCOMPARE(d.frame.windowTitle(), QStringLiteral("Talvex - ")); // untitled caption
    QCOMPARE(d.docs.PagePaths(), (QStringList{Path("one.lisp"), Path("two.lisp"), QString()}));
    QCOMPARE(d.view->GetPageTitle(0), QStringLiteral("one.lisp"));
    // Nothing at the path: no page, no message.
    ModalDriver driver;
    QCOMPARE(d.docs.OpenFile(Path("nothing-here.lisp")), 0);
    QCOMPARE(d.view->GetPageCount(), 3);
    QTest::qWait(20);
    QCOMPARE(driver.seen.size(), 0);
}

void TestDocuments::openSamePathAndCaseVariant()
{
    Docs d;
    QVERIFY(WriteBytes(Path("case.lisp"), "(lower)"));
    QVERIFY(WriteBytes(Path("CASE.lisp"), "(upper)"));
    QCOMPARE(d.docs.OpenFile(Path("case.lisp")), 1);
    d.Active()->AddText("edited ");
    QCOMPARE(d.docs.OpenFile(Path("CASE.lisp")), 1); // a different string opens again
    QCOMPARE(d.view->GetPageCount(), 2);
    QCOMPARE(d.docs.OpenFile(Path("case.lisp")), 0); // the very same string only activates
    QCOMPARE(d.view->GetPageCount(), 2);
    QCOMPARE(d.view->GetActivePage(), 0);
    QVERIFY(d.Active()->GetModify()); // not read again, unsaved changes stay
    QCOMPARE(d.frame.windowTitle(), QStringLiteral("Talvex - ") + QDir::toNativeSeparators(Path("case.lisp")));
    QCOMPARE(d.recent.GetCount(), 2);
    QCOMPARE(d.recent.GetEntry(1), Path("CASE.lisp"));
}

void TestDocuments::openAnotherNameOfAnOpenFile_data()
{
    QTest::addColumn<QString>("first");    // names relative to the test folder
    QTest::addColumn<QString>("second");
    QDir dir(m_dir.path());
    QVERIFY(dir.mkpath(QStringLiteral("sub")));
    QVERIFY(WriteBytes(Path("real.lisp"), "(real)"));
    QFile::remove(Path("link.lisp"));
    QVERIFY(QFile::link(Path("real.lisp"), Path("link.lisp")));
    QFile::remove(Path("folder-link"));
    QVERIFY(QFile::link(m_dir.path(), Path("folder-link")));
    QTest::newRow("symbolic link") << "real.lisp" << "link.lisp";
    QTest::newRow("by its own name after the link") << "link.lisp" << "real.lisp";
    QTest::newRow("linked folder") << "real.lisp" << "folder-link/real.lisp";
    QTest::newRow("dot-dot") << "real.lisp" << "sub/../real.lisp";
}

void TestDocuments::openAnotherNameOfAnOpenFile()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    Docs d;
    QVERIFY(WriteBytes(Path("other.lisp"), "(other)"));
    QCOMPARE(d.docs.OpenFile(Path(first)), 1);
    d.Active()->AddText("edited ");
    QCOMPARE(d.docs.OpenFile(Path("other.lisp")), 1);
    // The second name is the same file: its tab comes to the front, nothing is read again.
    QCOMPARE(d.docs.OpenFile(Path(second)), 0);
    QCOMPARE(d.view->GetPageCount(), 2);
    QCOMPARE(d.view->GetActivePage(), 0);
    QCOMPARE(d.Active()->m_strPath, Path(first));
    QCOMPARE(d.Active()->GetText(), QByteArray("edited (real)"));
    QCOMPARE(d.recent.GetCount(), 2);
}

void TestDocuments::openConvertsLineEnds()
{
    Docs d;
    const QString path = Path("crlf.lisp");
    QVERIFY(WriteBytes(path, "(defun f ()\r\n  1)\r\n"));
    QCOMPARE(d.docs.OpenFile(path), 1);
    CTalvexView *v = d.Active();
    QCOMPARE(v->GetEOLMode(), 2);
    QCOMPARE(v->GetText(), QByteArray("(defun f ()\n  1)\n"));
    QVERIFY(!v->GetModify());
    QVERIFY(!v->SendScintilla(QsciScintillaBase::SCI_CANUNDO)); // the load cannot be undone
    QCOMPARE(v->GetCurrentPos(), 0);
    QCOMPARE(d.docs.OnFileSave(), 1);
    QCOMPARE(ReadBytes(path), QByteArray("(defun f ()\n  1)\n"));
}

void TestDocuments::lfFileRoundTripsOnFreshProfile()
{
    // No line-end choice stored: an LF file from a checkout comes back with only the user's edit.
    QVERIFY(CSettingsStore::Instance().DeleteValue(QStringLiteral("Settings"), QStringLiteral("LineEnding")));
    const QByteArray original("(defun f (x)\n  (* x 2))\n\n(f 3)\n");
    const QString path = Path("checkout.lisp");
    QVERIFY(WriteBytes(path, original));
    Docs d;
    QCOMPARE(d.docs.OpenFile(path), 1);
    CTalvexView *view = d.Active();
    QVERIFY(!view->GetModify());
    view->GotoPos(view->GetLength());
    QTest::keyClicks(view, "(g)");
    QTest::keyClick(view, Qt::Key_Return);
    QCOMPARE(d.docs.OnFileSave(), 1);
    QCOMPARE(ReadBytes(path), original + "(g)\n");
    // A new document types the same line ends.
    CTalvexView *fresh = d.docs.OnFileNew();
    QTest::keyClicks(fresh, "(h)");
    QTest::keyClick(fresh, Qt::Key_Return);
    QCOMPARE(fresh->GetText(), QByteArray("(h)\n"));
}

void TestDocuments::openEmptyFile()
{
    Docs d;
    const QString path = Path("empty.lisp");
    QVERIFY(WriteBytes(path, QByteArray()));
    QCOMPARE(d.docs.OpenFile(path), 1);
    QCOMPARE(d.Active()->GetLength(), 0);
    QVERIFY(!d.Active()->GetModify());
    QCOMPARE(d.Active()->m_strPath, path);
    QCOMPARE(d.view->GetPageTitle(0), QStringLiteral("empty.lisp"));
}

void TestDocuments::nulBytesSurviveRoundTrip()
{
    Docs d;
    const QString path = Path("nul.lisp");
    const QByteArray content("(a)\0(b)\n\0\0(c)\n", 14);
    QVERIFY(WriteBytes(path, content));
    QCOMPARE(d.docs.OpenFile(path), 1);
    QCOMPARE(d.Active()->GetLength(), content.size());
    QCOMPARE(d.docs.OnFileSave(), 1);
    QCOMPARE(ReadBytes(path), content);
}

// A line far longer than a screen is shown wrapped, but saved exactly as it came, and
// a key typed at its end adds just that key.
void TestDocuments::longLineRoundTrip()
{
    Docs d;
    const QString path = Path("long.lisp");
    static const char unit[] = "(f \"\xc3\xa9\xe4\xb8\xad\" 'x\t12)\0 ";
    QByteArray content;
    while (content.size() < 512 * 1024)
        content += QByteArray(unit, sizeof unit - 1);
    QVERIFY(WriteBytes(path, content));
    QCOMPARE(d.docs.OpenFile(path), 1);
    CTalvexView *view = d.Active();
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view));
    QCOMPARE(view->GetLineCount(), 1);
    // Shown wrapped over many screen lines.
    QTRY_VERIFY(view->SendScintilla(QsciScintillaBase::SCI_WRAPCOUNT, 0UL) > 100);
    QCOMPARE(d.docs.OnFileSave(), 1);
    QCOMPARE(ReadBytes(path), content);
    view->GotoPos(view->GetLength());
    QTest::keyClick(view, Qt::Key_Y);
    QCOMPARE(d.docs.OnFileSave(), 1);
    QCOMPARE(ReadBytes(path), content + "y");
}

void TestDocuments::unreadablePathGetsNoPage_data()
{
    // "folder", "fifo" and "huge" are made in the test's folder; anything else is a path.
    QTest::addColumn<QString>("what");
    QTest::addColumn<bool>("interactive");
    QTest::newRow("folder, interactive") << "folder" << true;
    QTest::newRow("folder, at restore") << "folder" << false;
    QTest::newRow("read error, interactive") << "/proc/self/mem" << true;
    QTest::newRow("read error, at restore") << "/proc/self/mem" << false;
    QTest::newRow("named pipe, interactive") << "fifo" << true;
    QTest::newRow("named pipe, at restore") << "fifo" << false;
    QTest::newRow("endless device, interactive") << "/dev/zero" << true;
    QTest::newRow("endless device, at restore") << "/dev/urandom" << false;
    QTest::newRow("too large to hold, interactive") << "huge" << true;
}

void TestDocuments::unreadablePathGetsNoPage()
{
    QFETCH(QString, what);
    QFETCH(bool, interactive);
    QString path = what;
    std::optional<FifoGuard> fifo;
    if (what == QLatin1String("folder")) {
        path = Path("folder.lisp");
        QVERIFY(QDir().mkpath(path));
    } else if (what == QLatin1String("fifo")) {
        path = Path("pipe.lisp");
        fifo.emplace(path);
        QVERIFY(fifo->Created());
    } else if (what == QLatin1String("huge")) {
        // Sparse: no disk space, and nothing of it may be read.
        path = Path("huge.lisp");
        QFile huge(path);
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(CDocumentFile::kMaxFileSize + 1));
    }
    Docs d;
    ModalDriver driver;
    if (interactive)
        driver.Push(ModalDriver::Answer(QMessageBox::Ok));
    QCOMPARE(d.docs.OpenFile(path, interactive), 0);
    QTest::qWait(20);
    if (fifo)
        QVERIFY2(!fifo->HadToRelease(), "the open waited for a writer");
    if (what == QLatin1String("huge"))
        QFile::remove(path);
    QCOMPARE(d.view->GetPageCount(), 0);
    QCOMPARE(d.recent.GetCount(), 0);
    QCOMPARE(driver.unexpected, 0);
    if (interactive) {
        QCOMPARE(driver.seen.size(), 1);
        QCOMPARE(driver.seen[0].caption, QStringLiteral("Talvex"));
        QCOMPARE(driver.seen[0].icon, QMessageBox::Warning);
        QVERIFY2(driver.seen[0].text.contains(QDir::toNativeSeparators(path)), qPrintable(driver.seen[0].text));
    } else {
        QCOMPARE(driver.seen.size(), 0);
    }
}

void TestDocuments::loadBeyondMemory_data()
{
    // How much more address space the loading process gets than it has: too little for the
    // file's bytes, or enough for them but not for the editor's copy.
    QTest::addColumn<qint64>("room");
    QTest::newRow("no room to read") << (qint64(64) << 20);
    QTest::newRow("no room to edit") << (qint64(400) << 20);
}

void TestDocuments::loadBeyondMemory()
{
#if defined(__SANITIZE_ADDRESS__)
    if (true)
        QSKIP("the sanitizers reserve address space of their own: a limit on it cannot work");
#endif
    QFETCH(qint64, room);
    const QString path = Path("big.lisp");
    {
        QFile big(path);
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(qint64(256) << 20));
    }
    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments({QStringLiteral("--load-child"), path, QString::number(room)});
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start();
    QVERIFY(child.waitForFinished(120000));
    QFile::remove(path);
    QCOMPARE(child.exitStatus(), QProcess::NormalExit); // no abort on a failed allocation
    QCOMPARE(child.readAllStandardOutput(), QByteArray("refused\n"));
    QCOMPARE(child.exitCode(), 0);
}

void TestDocuments::saveAsDialogAndRecentList()
{
    Docs d;
    ModalDriver driver;
    d.docs.OnFileNew();
    d.Active()->AddText("(saved)");
    driver.Push(ModalDriver::ChooseFile(Path("chosen"))); // no suffix: "lisp" is added
    QCOMPARE(d.docs.OnFileSave(), 1); // untitled: Save runs Save As
    QCOMPARE(driver.filters.value(0), QStringLiteral("Lisp Files (*.lisp;*.lsp) (*.lisp *.lsp)"));
    QVERIFY(driver.filters.value(1).startsWith(QStringLiteral("All Files")));
    QCOMPARE(driver.defaultSuffix, QStringLiteral("lisp"));
    QCOMPARE(ReadBytes(Path("chosen.lisp")), QByteArray("(saved)"));
    QCOMPARE(d.view->GetPageTitle(0), QStringLiteral("chosen.lisp"));
    QCOMPARE(d.Active()->m_strPath, Path("chosen.lisp"));
    QVERIFY(!d.Active()->GetModify());
    QCOMPARE(d.frame.windowTitle(), QStringLiteral("Talvex - ") + Path("chosen.lisp"));
    QCOMPARE(d.recent.GetCount(), 1);
    // The list is stored as well: a fresh list reads it back.
    CRecentDocList reread(QStringLiteral("Recent Document List"), 57616, 16);
    reread.ReadFromRegistry(kSettingsKey); // its result is the menu update's; no menu here
    QVERIFY(reread.GetCount() > 0);
    QCOMPARE(reread.GetEntry(reread.GetCount() - 1), Path("chosen.lisp"));
    // Cancelling the dialog saves nothing.
    driver.Push(ModalDriver::Cancel());
    QCOMPARE(d.docs.OnFileSaveAs(), 0);
    QCOMPARE(driver.unexpected, 0);
}

void TestDocuments::saveAsOntoOpenPathRefused()
{
    Docs d;
    const QString other = Path("other.lisp");
    QVERIFY(WriteBytes(other, "(other)"));
    QCOMPARE(d.docs.OpenFile(other), 1);
    d.docs.OnFileNew();
    d.Active()->AddText("(new)");
    ModalDriver driver;
    driver.Push(ModalDriver::ChooseFile(other));
    driver.Push(ModalDriver::Answer(QMessageBox::Yes)); // the dialog's own "replace?" question
    driver.Push(ModalDriver::Answer(QMessageBox::Ok));
    QCOMPARE(d.docs.OnFileSaveAs(), 0);
    QTRY_COMPARE(driver.Pending(), 0);
    QCOMPARE(ReadBytes(other), QByteArray("(other)"));
    QVERIFY(d.Active()->m_strPath.isEmpty());
    QVERIFY(d.Active()->GetModify());
    QCOMPARE(d.view->GetPageTitle(1), QStringLiteral("Document2"));
    const ModalDriver::Seen &refusal = driver.seen.last();
    QVERIFY2(refusal.text.contains(QDir::toNativeSeparators(other)), qPrintable(refusal.text));
    QCOMPARE(refusal.caption, QStringLiteral("Talvex"));
}

void TestDocuments::saveFailedKeepsDocument()
{
    Docs d;
    const QString dir = Path("will-vanish");
    QVERIFY(QDir().mkpath(dir));
    const QString path = dir + QStringLiteral("/doc.lisp");
    QVERIFY(WriteBytes(path, "(disk)"));
    QCOMPARE(d.docs.OpenFile(path), 1);
    d.Active()->AddText("(edit)");
    // The folder is replaced by a plain file: the save cannot create its temporary file.
    QVERIFY(QDir(dir).removeRecursively());
    QVERIFY(WriteBytes(dir, "not a folder"));
    ModalDriver driver;
    driver.Push(ModalDriver::Answer(QMessageBox::Ok));
    QCOMPARE(d.docs.OnFileSave(), 0);
    QCOMPARE(driver.seen.size(), 1);
    QCOMPARE(driver.seen[0].text, QStringLiteral("Save failed"));
    QCOMPARE(driver.seen[0].caption, QStringLiteral("Talvex"));
    QCOMPARE(driver.seen[0].icon, QMessageBox::Critical);
    QVERIFY(d.Active()->GetModify());
    QCOMPARE(d.Active()->m_strPath, path);
    QCOMPARE(ReadBytes(dir), QByteArray("not a folder"));
}

void TestDocuments::closeModifiedUntitled_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("cancelSaveAs");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("pagesLeft");
    QTest::newRow("Yes, then cancel Save As") << int(QMessageBox::Yes) << true << 0 << 1;
    QTest::newRow("No discards") << int(QMessageBox::No) << false << 1 << 0;
    QTest::newRow("Cancel keeps") << int(QMessageBox::Cancel) << false << 0 << 1;
}

void TestDocuments::closeModifiedUntitled()
{
    QFETCH(int, answer);
    QFETCH(bool, cancelSaveAs);
    QFETCH(int, result);
    QFETCH(int, pagesLeft);
    Docs d;
    d.docs.OnFileNew();
    d.Active()->AddText("(unsaved)");
    ModalDriver driver;
    driver.Push(ModalDriver::Answer(QMessageBox::StandardButton(answer)));
    if (cancelSaveAs)
        driver.Push(ModalDriver::Cancel());
    QCOMPARE(d.docs.OnWindowClose(), result);
    QCOMPARE(d.view->GetPageCount(), pagesLeft);
    QCOMPARE(driver.seen[0].text, QStringLiteral("Save changes to Document1 ?"));
    QCOMPARE(driver.seen[0].icon, QMessageBox::Warning);
    QCOMPARE(driver.seen[0].caption, QStringLiteral("Talvex"));
    QCOMPARE(driver.seen.size(), cancelSaveAs ? 2 : 1);
    QCOMPARE(driver.unexpected, 0);
}

void TestDocuments::closeAllCancelAtSecond()
{
    Docs d;
    for (int i = 0; i < 3; ++i) {
        d.docs.OnFileNew();
        d.Active()->AddText("(x)");
    }
    // An unmodified fourth page closes without a question.
    d.docs.OnFileNew();
    ModalDriver driver;
    driver.Push(ModalDriver::Answer(QMessageBox::No));
    driver.Push(ModalDriver::Answer(QMessageBox::Cancel));
    QCOMPARE(d.docs.OnWindowCloseAll(), 0);
    QCOMPARE(driver.seen.size(), 2);
    QCOMPARE(driver.seen[0].text, QStringLiteral("Save changes to Document3 ?"));
    QCOMPARE(driver.seen[1].text, QStringLiteral("Save changes to Document2 ?"));
    QCOMPARE(d.view->GetPageCount(), 2);
    QCOMPARE(d.view->GetPageTitle(0), QStringLiteral("Document1"));
    QCOMPARE(d.view->GetPageTitle(1), QStringLiteral("Document2"));
    QVERIFY(d.view->GetPageData(0)->GetModify());
    // Answering No to the rest closes everything.
    driver.Push(ModalDriver::Answer(QMessageBox::No));
    driver.Push(ModalDriver::Answer(QMessageBox::No));
    QCOMPARE(d.docs.OnWindowCloseAll(), 1);
    QCOMPARE(d.view->GetPageCount(), 0);
    QCOMPARE(driver.unexpected, 0);
}

void TestDocuments::closeWithNoPageBeeps()
{
    Docs d;
    QCOMPARE(d.docs.OnWindowClose(), 0);
    QCOMPARE(d.docs.OnFileSave(), 0);
    QCOMPARE(d.docs.OnWindowCloseAll(), 1);
}

void TestDocuments::externalChanges_data()
{
    // What another program does to the file, as a shell command on "$1".
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("modified"); // the document has an edit of its own
    const QList<std::pair<const char *, const char *>> changes = {
        {"write in place", "sed 's/(line 1)/(theirs)/' \"$1\" > \"$1.w\" && cat \"$1.w\" > \"$1\""},
        {"sed -i", "sed -i 's/(line 1)/(theirs)/' \"$1\""},
        {"rename over, as editors save", "sed 's/(line 1)/(theirs)/' \"$1\" > \"$1.new\" && mv \"$1.new\" \"$1\""},
        {"renamed to a backup, written anew, as vim saves", "mv \"$1\" \"$1~\" && sed 's/(line 1)/(theirs)/' \"$1~\" > \"$1\""},
        {"delete", "rm \"$1\""},
        {"touch", "touch \"$1\""},
        {"rename away", "mv \"$1\" \"$1.moved\""},
    };
    for (const auto &[name, command] : changes) {
        QTest::addRow("%s, unmodified", name) << QString::fromLatin1(command) << false;
        QTest::addRow("%s, modified", name) << QString::fromLatin1(command) << true;
    }
}

void TestDocuments::externalChanges()
{
    QFETCH(QString, command);
    QFETCH(bool, modified);
    QByteArray original;
    for (int i = 1; i <= 200; ++i)
        original += "(line " + QByteArray::number(i) + ")\n";
    const QString path = Path("outside.lisp");
    QVERIFY(WriteBytes(path, original));
    Docs d;
    QCOMPARE(d.docs.OpenFile(path), 1);
    CTalvexView *view = d.Active();
    view->show();
    view->GotoPos(view->PositionFromLine(150) + 3);
    view->SendScintilla(QsciScintillaBase::SCI_SETFIRSTVISIBLELINE, 120UL);
    if (modified)
        view->AddText("(mine)");
    const QByteArray before = view->GetText();

    QCOMPARE(QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), command, QStringLiteral("sh"), path}), 0);
    QTest::qWait(CDiskWatcher::kSettleMs * 4);
    const QByteArray disk = QFileInfo::exists(path) ? ReadBytes(path) : QByteArray();
    const bool gone = disk.isEmpty();
    const bool changed = !gone && disk != original;
    const bool reloaded = changed && !modified;
    // (Waited for longer when the machine is slow to deliver the notice.)
    QTRY_COMPARE(view->GetText(), reloaded ? disk : before);
    QCOMPARE(view->GetModify(), modified);
    // The bar comes for a modified document's changed file and for every deleted one.
    QTRY_COMPARE(view->IsDiskBarShown(), gone || (changed && modified));
    if (view->IsDiskBarShown())
        QCOMPARE(view->DiskBar()->ReloadButton().isVisible(), !gone);
    QCOMPARE(d.view->TabStrip().GetTabToolTip(0).contains(QStringLiteral("deleted on disk")), gone);
    if (reloaded) {
        QCOMPARE(view->LineFromPosition(view->GetCurrentPos()), 150);
        QCOMPARE(view->SendScintilla(QsciScintillaBase::SCI_GETFIRSTVISIBLELINE), 120L);
        QCOMPARE(d.tips.seen.last(), QDir::toNativeSeparators(path) + QStringLiteral(" was reloaded: it changed on disk"));
        view->Undo(); // one step back to the text before the reload
        QCOMPARE(view->GetText(), before);
        view->Redo();
    }

    // The save asks only when it would overwrite what the other program wrote; No saves nothing.
    // Keeping the text hides the bar for this version of the file, not the question.
    const bool asks = changed && modified;
    if (asks) {
        view->DiskBar()->KeepButton().click();
        d.docs.CheckDisk();
        QVERIFY(!view->IsDiskBarShown());
    }
    ModalDriver driver(QMessageBox::No);
    QCOMPARE(d.docs.OnFileSave(), asks ? 0 : 1);
    QCOMPARE(driver.seen.size(), asks ? 1 : 0);
    QCOMPARE(ReadBytes(path), asks ? disk : view->GetText());
    if (asks) {
        QCOMPARE(driver.seen[0].text, QDir::toNativeSeparators(path)
                                          + QStringLiteral(" has been changed on disk by another program. Overwrite it with the text in Talvex?"));
        QCOMPARE(driver.seen[0].icon, QMessageBox::Warning);
        QCOMPARE(driver.seen[0].caption, QStringLiteral("Talvex"));
        // A later change brings the bar back; its Reload shows the disk's text, and one undo
        // brings the edit back.
        QVERIFY(WriteBytes(path, disk + "(more)\n"));
        d.docs.CheckDisk();
        QVERIFY(view->IsDiskBarShown());
        view->DiskBar()->ReloadButton().click();
        QCOMPARE(view->GetText(), disk + "(more)\n");
        QVERIFY(!view->IsDiskBarShown());
        view->Undo();
        QCOMPARE(view->GetText(), before);
    }
    QVERIFY(!view->IsDiskBarShown());
}

void TestDocuments::binaryFilesKeepTheirBytes_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("mode");
    QImage image(64, 64, QImage::Format_RGB32);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            image.setPixel(x, y, qRgb(x * 13 % 256, 13, (x ^ y) * 7 % 256));
    QBuffer png;
    QVERIFY(png.open(QIODevice::WriteOnly) && image.save(&png, "PNG"));
    QFile self(QCoreApplication::applicationFilePath());
    QVERIFY(self.open(QIODevice::ReadOnly));
    const QByteArray elf = self.read(256 * 1024);
    QStringEncoder toUtf16(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
    const QByteArray utf16 = toUtf16(QStringLiteral("(a)\r\n(b \"\u00e9\")\r\n"));
    const QByteArray nul("(a)\r\n\0(b)\r(c)\n", 15);
    for (int mode : {0, 2}) {
        const char *eol = mode == 0 ? "CR LF" : "LF";
        QTest::addRow("PNG, %s", eol) << png.data() << mode;
        QTest::addRow("ELF, %s", eol) << elf << mode;
        QTest::addRow("UTF-16, %s", eol) << utf16 << mode;
        QTest::addRow("NUL byte, %s", eol) << nul << mode;
    }
}

void TestDocuments::binaryFilesKeepTheirBytes()
{
    QFETCH(QByteArray, content);
    QFETCH(int, mode);
    QVERIFY(content.contains('\r') && content.contains('\0')); // CR bytes a conversion would change
    CSettingsStore::Instance().WriteInt(QStringLiteral("Settings"), QStringLiteral("LineEnding"), mode);
    const QString path = Path("binary.bin");
    QVERIFY(WriteBytes(path, content));
    Docs d;
    QCOMPARE(d.docs.OpenFile(path), 1);
    QCOMPARE(d.tips.seen, QStringList{QDir::toNativeSeparators(path) + QStringLiteral(" holds binary data: its line ends are kept as they are")});
    CTalvexView *view = d.Active();
    QVERIFY(!view->GetModify());
    QTest::keyClick(view, Qt::Key_X);
    QCOMPARE(d.docs.OnFileSave(), 1);
    QCOMPARE(ReadBytes(path), "x" + content);
}

void TestDocuments::diskFull()
{
    const QString mountPoint = Path("small-fs");
    QVERIFY(QDir().mkpath(mountPoint));
    const QByteArray mp = QFile::encodeName(mountPoint);
    if (::mount("tmpfs", mp.constData(), "tmpfs", 0, "size=256k") != 0) {
        SaveUnderInjectedSyncError("ENOSPC");
        return;
    }
    struct Unmount {
        QByteArray mp;
        ~Unmount() { ::umount2(mp.constData(), MNT_DETACH); }
    } unmount{mp};

    const QString path = mountPoint + QStringLiteral("/doc.lisp");
    const QByteArray original(20 * 1024, 'o');
    QVERIFY(WriteBytes(path, original));
    // Fill the rest of the file system.
    {
        QFile filler(mountPoint + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size()) {
        }
    }
    Docs d;
    QCOMPARE(d.docs.OpenFile(path), 1);
    d.Active()->AddText(QByteArray(100 * 1024, 'n'));
    ModalDriver driver;
    driver.Push(ModalDriver::Answer(QMessageBox::Ok));
    QCOMPARE(d.docs.OnFileSave(), 0);
    QCOMPARE(driver.seen.size(), 1);
    QCOMPARE(driver.seen[0].text, QStringLiteral("Save failed"));
    QCOMPARE(driver.seen[0].icon, QMessageBox::Critical);
    QCOMPARE(ReadBytes(path), original);
    QVERIFY(d.Active()->GetModify());
    // Nothing but the two files is left on the full file system.
    QCOMPARE(QDir(mountPoint).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2);
}

// A child saves while strace makes every flush to disk fail with the given error, as a disk
// does that fills up or breaks while cached data is written back.
void TestDocuments::SaveUnderInjectedSyncError(const char *error)
{
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (strace.isEmpty())
        QSKIP("neither a tmpfs mount nor strace is available");
    const QString target = Path("injected.lisp");
    const QString source = Path("injected-new.lisp");
    QVERIFY(WriteBytes(target, "(original)"));
    QVERIFY(WriteBytes(source, QByteArray(100 * 1024, 'n')));
    QProcess child;
    // LeakSanitizer cannot run under ptrace and aborts the child at exit; leaks are checked
    // in the test's own process instead.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               (asan.isEmpty() ? QString() : asan + QLatin1Char(':')) + QStringLiteral("detect_leaks=0"));
    child.setProcessEnvironment(env);
    child.start(strace, {QStringLiteral("-f"), QStringLiteral("-qq"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                         QStringLiteral("-e"), QStringLiteral("trace=fsync,fdatasync"),
                         QStringLiteral("-e"), QStringLiteral("inject=fsync,fdatasync:error=") + QLatin1String(error),
                         QCoreApplication::applicationFilePath(), QStringLiteral("--save-child"), source, target});
    QVERIFY(child.waitForFinished(120000));
    const QByteArray out = child.readAllStandardOutput();
    if (!out.contains("saving"))
        QSKIP(qPrintable(QStringLiteral("strace cannot trace here: ") + QString::fromLocal8Bit(child.readAllStandardError())));
    QVERIFY2(out.contains("box: Save failed"), out.constData());
    QCOMPARE(child.exitCode(), 1);
    QCOMPARE(ReadBytes(target), QByteArray("(original)"));
}

void TestDocuments::flushToDiskFails()
{
    SaveUnderInjectedSyncError("EIO");
}

void TestDocuments::killDuringSave()
{
    constexpr int kRuns = 50;
    constexpr qsizetype kSize = 50 * 1024 * 1024;
    QByteArray oldText(kSize, 'o');
    QByteArray newText(kSize, 'n');
    for (qsizetype i = 0; i < kSize; i += 4096) {
        oldText[i] = '\n';
        newText[i] = '\n';
    }
    const QString target = Path("killed.lisp");
    const QString source = Path("killed-new.lisp");
    QVERIFY(WriteBytes(source, newText));

    auto startChild = [&](QProcess &child) {
        child.setProgram(QCoreApplication::applicationFilePath());
        child.setArguments({QStringLiteral("--save-child"), source, target});
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start();
        if (!child.waitForStarted())
            return false;
        while (!child.canReadLine())
            if (!child.waitForReadyRead(60000))
                return false;
        return child.readLine() == "saving\n";
    };

    // One whole save first, to know how long the write takes.
    QVERIFY(WriteBytes(target, oldText));
    qint64 saveMs = 0;
    {
        QProcess child;
        QVERIFY(startChild(child));
        QElapsedTimer t;
        t.start();
        QVERIFY(child.waitForFinished(120000));
        saveMs = std::max<qint64>(t.elapsed(), 2);
        QCOMPARE(child.exitCode(), 0);
        QVERIFY(ReadBytes(target) == newText);
    }

    int sawOld = 0;
    int sawNew = 0;
    int killedEarly = 0;
    QRandomGenerator rng(20261208);
    for (int run = 0; run < kRuns; ++run) {
        QVERIFY(WriteBytes(target, oldText));
        QProcess child;
        QVERIFY(startChild(child));
        QThread::usleep(static_cast<unsigned long>(rng.bounded(static_cast<int>(saveMs * 1000 * 6 / 5))));
        const bool stillRunning = child.state() == QProcess::Running;
        child.kill();
        QVERIFY(child.waitForFinished(60000));
        if (stillRunning && child.exitStatus() == QProcess::CrashExit)
            ++killedEarly;
        const QByteArray onDisk = ReadBytes(target);
        if (onDisk == oldText)
            ++sawOld;
        else if (onDisk == newText)
            ++sawNew;
        else
            QFAIL(qPrintable(QStringLiteral("run %1: the file holds %2 bytes of neither text").arg(run).arg(onDisk.size())));
    }
    qInfo("save takes %lld ms; %d kills before the end, old text %d times, new text %d times", saveMs,
          killedEarly, sawOld, sawNew);
    QVERIFY(killedEarly > 0); // the kills did interrupt saves
    QCOMPARE(sawOld + sawNew, kRuns);
    // No partial temporary file is left beside the target. The text is written to an unnamed file
    // that only gets a name just before the rename over the target, so a kill between those two
    // steps (rarely hit) leaves a complete copy of the new text, and nothing else can stay.
    const QStringList files = QDir(m_dir.path()).entryList({QStringLiteral("killed*")}, QDir::Files | QDir::Hidden);
    QVERIFY(files.contains(QStringLiteral("killed.lisp")) && files.contains(QStringLiteral("killed-new.lisp")));
    for (const QString &name : files)
        if (name != QStringLiteral("killed.lisp") && name != QStringLiteral("killed-new.lisp"))
            QVERIFY2(ReadBytes(Path(name)) == newText, qPrintable(name));
}

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--save-child") == 0) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return SaveChild(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    if (argc == 4 && std::strcmp(argv[1], "--load-child") == 0) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return LoadChild(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toLongLong());
    }
    // The interrupted-save test runs 50 saves of 50 MB through the disk: more than the default
    // five minutes per test function on a slow machine.
    if (qEnvironmentVariableIsEmpty("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", "840000");
    QApplication app(argc, argv);
    TestDocuments tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_documents.moc"
