// Tests of the help pieces: .chm files built here with chmcmd, the viewer, symbol lookup, the about box.
#include "editor/CScintillaCtrl.h"
#include "help/AboutInfo.h"
#include "help/CAboutDlg.h"
#include "help/CChmBrowser.h"
#include "help/CChmFile.h"
#include "help/CChmFindBar.h"
#include "help/CChmNavigationPane.h"
#include "help/CChmViewer.h"
#include "help/CReferenceLookup.h"
#include "help/CSymbolIndex.h"
#include "help/CTopicChooser.h"
#include "help/ChmBinaryIndex.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QSplitter>
#include <QTreeWidget>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QtTest>

namespace {

const char *const kPages[] = {"about.html", "start.html", "pages/second.html", "pages/dot.png", "toc.hhc"};

// The HyperSpec stand-in (tests/data/clhs): its pages, and the files of each way it may index them.
const QStringList kSpecPages{"start.htm", "toc.hhc", "Body/f_mapc_.htm", "Body/f_car_c.htm",
                             "Body/m_defun.htm", "Body/t_list.htm", "Body/f_list_.htm"};
const QString kSpecOptions = "Contents file=toc.hhc\nDefault topic=start.htm\nTitle=Common Lisp HyperSpec\n";
const QStringList kIndexPages{"Front/X_Alph_C.htm", "Front/X_Alph_D.htm", "Front/X_Alph_L.htm", "Front/X_Alph_M.htm"};

// Receives the addresses QDesktopServices would hand to the browser.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> m_urls;
public slots:
    void Catch(const QUrl &url) { m_urls.append(url); }
};

// The point of the first link to href in the browser's viewport, or (-1,-1).
QPoint LinkPoint(QTextBrowser &browser, const QString &href)
{
    QTextDocument *doc = browser.document();
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment frag = it.fragment();
            if (frag.charFormat().anchorHref() == href) {
                QTextCursor cursor(doc);
                cursor.setPosition(frag.position() + 1);
                return browser.cursorRect(cursor).center();
            }
        }
    }
    return QPoint(-1, -1);
}

bool ContainsColour(const QImage &image, QRgb colour)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xffffff) == (colour & 0xffffff))
                return true;
    return false;
}

} // namespace

class TestHelp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void defaultTopic_data();
    void defaultTopic();
    void readObjects();
    void viewerShowsDefaultTopic();
    void linksAndPictures();
    void referenceCommandsUseProgramFolder();
    void referenceSearchOrder_data();
    void referenceSearchOrder();
    void referenceNotFound_data();
    void referenceNotFound();
    void unreadableFile_data();
    void unreadableFile();
    void viewersBelongToFrame();
    void versionLine_data();
    void versionLine();
    void aboutBox();
    void aboutButtons();

    void lookUpSymbol_data();
    void lookUpSymbol();
    void symbolAsRead_data();
    void symbolAsRead();
    void severalPagesOrNone_data();
    void severalPagesOrNone();
    void historyAndContents();
    void indexTab();
    void damagedFiles();
    void binaryIndexMatchesSitemap_data();
    void binaryIndexMatchesSitemap();
    void findInPage();
    void paneKeepsWidth();

private:
    QString BuildChm(const QString &name, const QString &options, const QString &data = "chm",
                     QStringList files = {});
    // The reference of a lookup built with the given way of indexing, put where the command finds it.
    QString InstallSpec(const QString &variant);

    QTemporaryDir m_dir;
    QString m_full;
    QHash<QString, QString> m_specs; // the way of indexing -> its .chm
};

QString TestHelp::BuildChm(const QString &name, const QString &options, const QString &data, QStringList files)
{
    if (files.isEmpty())
        for (const char *page : kPages)
            files.append(page);
    const QString src = m_dir.filePath(name + "-src");
    for (const QString &file : files)
        if (!QDir().mkpath(QFileInfo(src + '/' + file).path())
            || !QFile::copy(QDir(TALVEX_TEST_DATA_DIR).filePath(data) + '/' + file, src + '/' + file))
            return QString();
    QFile hhp(src + "/project.hhp");
    if (!hhp.open(QIODevice::WriteOnly))
        return QString();
    QByteArray text = "[OPTIONS]\nCompiled file=" + name.toUtf8() + ".chm\n" + options.toUtf8()
        + "Language=0x409\n\n[FILES]\n";
    for (const QString &file : files)
        if (!file.endsWith(".hhc") && !file.endsWith(".hhk"))
            text += file.toUtf8() + '\n';
    hhp.write(text);
    hhp.close();
    QProcess chmcmd;
    chmcmd.setWorkingDirectory(src);
    chmcmd.start(QStandardPaths::findExecutable("chmcmd"), {"project.hhp"});
    if (!chmcmd.waitForFinished(60000) || chmcmd.exitCode() != 0)
        return QString();
    const QString out = src + '/' + name + ".chm";
    return QFileInfo(out).size() > 0 ? out : QString();
}

void TestHelp::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // The data folders the reference files are looked for in: ours, never the machine's.
    qputenv("XDG_DATA_HOME", m_dir.filePath("home").toLocal8Bit());
    qputenv("XDG_DATA_DIRS", (m_dir.filePath("dirA") + ':' + m_dir.filePath("dirB")).toLocal8Bit());
    QVERIFY2(!QStandardPaths::findExecutable("chmcmd").isEmpty(), "chmcmd (fp-utils) is needed");
    m_full = BuildChm("full", "Contents file=toc.hhc\nDefault topic=start.html\nTitle=Talvex Test Reference\n");
    QVERIFY(!m_full.isEmpty());
    m_specs["keyword index"] = BuildChm("hhk", kSpecOptions + "Index file=index.hhk\n", "clhs", kSpecPages + QStringList{"index.hhk"});
    m_specs["symbol map"] = BuildChm("map", kSpecOptions, "clhs", kSpecPages + QStringList{"Data/Map_Sym.txt"});
    m_specs["index pages"] = BuildChm("pages", kSpecOptions, "clhs", kSpecPages + kIndexPages);
    m_specs["broken keyword index"] = BuildChm("broken", kSpecOptions + "Index file=broken.hhk\n", "clhs",
                                               kSpecPages + QStringList{"broken.hhk", "Data/Map_Sym.txt"});
    for (const QString &chm : std::as_const(m_specs))
        QVERIFY(!chm.isEmpty());
    // Cut off in the middle, as a download that stopped.
    QFile whole(m_specs["keyword index"]);
    QVERIFY(whole.open(QIODevice::ReadOnly));
    QFile cut(m_dir.filePath("truncated.chm"));
    QVERIFY(cut.open(QIODevice::WriteOnly));
    cut.write(whole.readAll().left(whole.size() / 2));
    m_specs["truncated"] = cut.fileName();
}

QString TestHelp::InstallSpec(const QString &variant)
{
    const QString path = m_dir.filePath("home/talvex/CLHS.chm");
    QDir().mkpath(QFileInfo(path).path());
    QFile::remove(path);
    return QFile::copy(m_specs.value(variant), path) ? path : QString();
}

void TestHelp::defaultTopic_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QString>("title");
    QTest::newRow("system data") << "Contents file=toc.hhc\nDefault topic=start.html\nTitle=Reference A\n"
                                 << "/start.html" << "Reference A";
    QTest::newRow("default topic names a missing page")
        << "Contents file=toc.hhc\nDefault topic=gone.html\n" << "/pages/second.html" << "";
    QTest::newRow("first contents entry") << "Contents file=toc.hhc\nTitle=Reference B\n"
                                          << "/pages/second.html" << "Reference B";
    QTest::newRow("first page") << "" << "/about.html" << "";
}

void TestHelp::defaultTopic()
{
    QFETCH(QString, options);
    QFETCH(QString, topic);
    QFETCH(QString, title);
    const QString path = BuildChm(QString("case%1").arg(QTest::currentDataTag()).remove(' '), options);
    QVERIFY(!path.isEmpty());
    CChmFile file;
    QVERIFY(file.Open(path));
    QCOMPARE(file.DefaultTopic(), topic);
    QCOMPARE(file.Title(), title);
}

void TestHelp::readObjects()
{
    CChmFile file;
    QVERIFY(file.Open(m_full));
    QCOMPARE(file.ContentsFile(), QStringLiteral("/toc.hhc"));
    QByteArray data;
    QVERIFY(file.Read("/pages/dot.png", data));
    QFile original(TALVEX_TEST_DATA_DIR "/chm/pages/dot.png");
    QVERIFY(original.open(QIODevice::ReadOnly));
    QCOMPARE(data, original.readAll());
    QVERIFY(file.Read("START.HTML", data)); // names inside a .chm ignore letter case
    QVERIFY(data.contains("start page of the test help file"));
    QVERIFY(!file.Read("/nothing.html", data));
    QVERIFY(data.isEmpty());
    QCOMPARE(file.Pages(), QStringList({"/about.html", "/pages/second.html", "/start.html"}));
    file.Close();
    QVERIFY(!file.Read("/start.html", data));
}

void TestHelp::viewerShowsDefaultTopic()
{
    QWidget frame;
    CReferenceLookup lookup(&frame);
    lookup.OpenHelpFile(m_full);
    CChmViewer *viewer = lookup.Viewer(m_full);
    QVERIFY(viewer);
    QVERIFY(viewer->isVisible());
    QCOMPARE(viewer->windowTitle(), QStringLiteral("Start - Talvex Test Reference"));
    QCOMPARE(viewer->Browser()->source(), QUrl("chm:/start.html"));
    QVERIFY(viewer->Browser()->toPlainText().contains("start page of the test help file"));
}

void TestHelp::linksAndPictures()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "Catch");
    QWidget frame;
    CReferenceLookup lookup(&frame);
    lookup.OpenHelpFile(m_full);
    CChmViewer *viewer = lookup.Viewer(m_full);
    QVERIFY(viewer);
    viewer->resize(600, 400);
    QTextBrowser *browser = viewer->Browser();

    // A real click on the link, as the user follows it.
    QPoint at = LinkPoint(*browser, "pages/second.html");
    QVERIFY(at.x() >= 0);
    QTest::mouseClick(browser->viewport(), Qt::LeftButton, {}, at);
    QTRY_COMPARE(browser->source(), QUrl("chm:/pages/second.html"));
    QVERIFY(browser->toPlainText().contains(QString::fromUtf8("Café"))); // meta charset honoured

    // The picture comes from the file, relative to the page, and is drawn.
    const QVariant picture = browser->loadResource(QTextDocument::ImageResource, QUrl("dot.png"));
    QCOMPARE(QImage::fromData(picture.toByteArray()).size(), QSize(24, 16));
    const QImage shown = viewer->grab().toImage();
    QVERIFY(ContainsColour(shown, qRgb(0x20, 0xa0, 0x40)));
    shown.save(QDir::temp().filePath("talvex-chm-viewer-second.png"));

    // Web links go to the browser and leave the page as it is.
    at = LinkPoint(*browser, "https://talvex.dev/");
    QVERIFY(at.x() >= 0);
    QTest::mouseClick(browser->viewport(), Qt::LeftButton, {}, at);
    QTRY_COMPARE(catcher.m_urls.size(), 1);
    QCOMPARE(catcher.m_urls.first(), QUrl("https://talvex.dev/"));
    QCOMPARE(browser->source(), QUrl("chm:/pages/second.html"));

    // A link up a folder, then Back.
    at = LinkPoint(*browser, "../start.html");
    QVERIFY(at.x() >= 0);
    QTest::mouseClick(browser->viewport(), Qt::LeftButton, {}, at);
    QTRY_COMPARE(browser->source(), QUrl("chm:/start.html"));
    browser->backward();
    QCOMPARE(browser->source(), QUrl("chm:/pages/second.html"));

    // Opening the same file again shows its start page in the same window.
    lookup.OpenHelpFile(m_full);
    QCOMPARE(lookup.Viewer(m_full), viewer);
    QCOMPARE(browser->source(), QUrl("chm:/start.html"));
    viewer->grab().save(QDir::temp().filePath("talvex-chm-viewer.png"));
    QDesktopServices::unsetUrlHandler("https");
}

void TestHelp::referenceCommandsUseProgramFolder()
{
    const QString dir = QCoreApplication::applicationDirPath();
    QCOMPARE(CReferenceLookup::HelpFilePath("CLHS.chm"), dir + "/CLHS.chm");

    // The command reads the file beside the program, whatever the current folder is.
    const QString target = dir + "/CLtL2.chm";
    QFile::remove(target);
    QVERIFY(QFile::copy(m_full, target));
    const QString previous = QDir::currentPath();
    QDir::setCurrent(m_dir.path());
    QWidget frame;
    CReferenceLookup lookup(&frame);
    lookup.OnHelpCLtL2();
    QDir::setCurrent(previous);
    CChmViewer *viewer = lookup.Viewer(target);
    QFile::remove(target);
    QVERIFY(viewer);
    QCOMPARE(viewer->Browser()->source(), QUrl("chm:/start.html"));
}

void TestHelp::referenceSearchOrder_data()
{
    // Where copies of the file are put, and which of them the command shows.
    QTest::addColumn<QStringList>("placed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("last data folder") << QStringList{"dirB"} << "dirB";
    QTest::newRow("earlier data folder first") << QStringList{"dirB", "dirA"} << "dirA";
    QTest::newRow("the user's data folder first") << QStringList{"dirA", "home", "dirB"} << "home";
    QTest::newRow("program folder before all") << QStringList{"home", "program", "dirA"} << "program";
}

void TestHelp::referenceSearchOrder()
{
    QFETCH(QStringList, placed);
    QFETCH(QString, shown);
    auto placeOf = [this](const QString &where) {
        return where == "program" ? QCoreApplication::applicationDirPath() + "/CLHS.chm"
                                  : m_dir.filePath(where + "/talvex/CLHS.chm");
    };
    for (const QString &where : placed) {
        QVERIFY(QDir().mkpath(QFileInfo(placeOf(where)).path()));
        QVERIFY(QFile::copy(m_full, placeOf(where)));
    }
    QWidget frame;
    CReferenceLookup lookup(&frame);
    lookup.OnHelpHyperSpec();
    CChmViewer *viewer = lookup.Viewer(placeOf(shown));
    const bool showsStart = viewer && viewer->isVisible()
        && viewer->Browser()->source() == QUrl("chm:/start.html");
    for (const QString &where : placed)
        QFile::remove(placeOf(where));
    QVERIFY(showsStart);
    QCOMPARE(frame.findChildren<CChmViewer *>().size(), 1);
}

void TestHelp::referenceNotFound_data()
{
    // With the variables unset, the folders every Linux system uses.
    QTest::addColumn<bool>("unset");
    QTest::addColumn<QStringList>("folders");
    QTest::newRow("folders from the environment")
        << false << QStringList{m_dir.filePath("home"), m_dir.filePath("dirA"), m_dir.filePath("dirB")};
    QTest::newRow("default folders")
        << true << QStringList{m_dir.filePath("user/.local/share"), "/usr/local/share", "/usr/share"};
}

void TestHelp::referenceNotFound()
{
    QFETCH(bool, unset);
    QFETCH(QStringList, folders);
    const QByteArray home = qgetenv("HOME"), dataHome = qgetenv("XDG_DATA_HOME"), dataDirs = qgetenv("XDG_DATA_DIRS");
    if (unset) {
        qputenv("HOME", m_dir.filePath("user").toLocal8Bit());
        qunsetenv("XDG_DATA_HOME");
        qunsetenv("XDG_DATA_DIRS");
    }
    QWidget frame;
    CReferenceLookup lookup(&frame);
    lookup.OnHelpCLtL2();
    qputenv("HOME", home);
    qputenv("XDG_DATA_HOME", dataHome);
    qputenv("XDG_DATA_DIRS", dataDirs);

    // One window, named after the file, listing every place in the order looked in.
    const QList<CChmViewer *> viewers = frame.findChildren<CChmViewer *>();
    QCOMPARE(viewers.size(), 1);
    CChmViewer *viewer = viewers.first();
    QVERIFY(viewer->isVisible());
    QCOMPARE(viewer->windowTitle(), QStringLiteral("CLtL2.chm"));
    const QStringList lines = viewer->Browser()->toPlainText().split('\n');
    QStringList expected{QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + "/CLtL2.chm")};
    for (const QString &folder : folders)
        expected.append(QDir::toNativeSeparators(folder + "/talvex/CLtL2.chm"));
    const qsizetype first = lines.indexOf(expected.first());
    QVERIFY2(first > 0, qPrintable(lines.join('\n')));
    QCOMPARE(lines.mid(first, expected.size()), expected);
    QVERIFY(lines.first().contains("CLtL2.chm was not found"));
    viewer->grab().save(QDir::temp().filePath("talvex-reference-not-found.png"));

    // Once the file is in one of them, the same window shows it.
    const QString path = m_dir.filePath("dirB/talvex/CLtL2.chm");
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QVERIFY(QFile::copy(m_full, path));
    lookup.OnHelpCLtL2();
    QFile::remove(path);
    QCOMPARE(frame.findChildren<CChmViewer *>(), viewers);
    QCOMPARE(lookup.Viewer(path), viewer);
    QVERIFY(viewer->IsOpen());
    QCOMPARE(viewer->Browser()->source(), QUrl("chm:/start.html"));
    QCOMPARE(viewer->windowTitle(), QStringLiteral("Start - Talvex Test Reference"));
}

void TestHelp::unreadableFile_data()
{
    QTest::addColumn<bool>("exists");
    QTest::newRow("missing") << false;
    QTest::newRow("not a help file") << true;
}

void TestHelp::unreadableFile()
{
    QFETCH(bool, exists);
    const QString folder = m_dir.filePath(exists ? "junk" : "none");
    const QString path = folder + "/CLHS.chm";
    if (exists) {
        QVERIFY(QDir().mkpath(folder));
        QFile junk(path);
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("this is not a compiled help file\n");
    }
    QWidget frame;
    CReferenceLookup lookup(&frame);
    lookup.OpenHelpFile(path);
    CChmViewer *viewer = lookup.Viewer(path);
    QVERIFY(viewer);
    QVERIFY(viewer->isVisible());
    QVERIFY(!viewer->IsOpen());
    QVERIFY2(viewer->Browser()->toPlainText().contains(QDir::toNativeSeparators(path)),
             qPrintable(viewer->Browser()->toPlainText()));
    QCOMPARE(viewer->windowTitle(), QStringLiteral("CLHS.chm"));

    // Once the file is there, the command shows it in the same window.
    QFile::remove(path);
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QFile::copy(m_full, path));
    lookup.OpenHelpFile(path);
    QCOMPARE(lookup.Viewer(path), viewer);
    QVERIFY(viewer->IsOpen());
    QCOMPARE(viewer->Browser()->source(), QUrl("chm:/start.html"));
}

void TestHelp::viewersBelongToFrame()
{
    QPointer<CChmViewer> viewer;
    {
        auto frame = std::make_unique<QWidget>();
        CReferenceLookup lookup(frame.get());
        lookup.OpenHelpFile(m_full);
        viewer = lookup.Viewer(m_full);
        QVERIFY(viewer);
        QCOMPARE(viewer->parentWidget(), frame.get());
        QVERIFY(viewer->isWindow());
        // Closed by the user: gone, and the next command opens a new one.
        viewer->close();
        QTRY_VERIFY(!viewer);
        QVERIFY(!lookup.Viewer(m_full));
        lookup.OpenHelpFile(m_full);
        viewer = lookup.Viewer(m_full);
        QVERIFY(viewer);
        // Escape closes it the same way, wherever the focus is in it.
        QVERIFY(QTest::qWaitForWindowActive(viewer));
        viewer->Browser()->setFocus();
        QTest::keyClick(viewer->Browser(), Qt::Key_Escape);
        QTRY_VERIFY(!viewer);
        lookup.OpenHelpFile(m_full);
        viewer = lookup.Viewer(m_full);
        QVERIFY(viewer);
    }
    QVERIFY(!viewer);
}

void TestHelp::lookUpSymbol_data()
{
    // The text of the editor, the caret (or a selection from..to), and the caption of the page shown.
    QTest::addColumn<QString>("variant");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QString>("caption");
    for (const char *variant : {"keyword index", "symbol map", "index pages"}) {
        const QString v = QString::fromLatin1(variant);
        QTest::newRow(qPrintable(v + ": mapcar")) << v << QByteArray("(mapcar #'f xs)") << 4 << -1
                                      << "Function MAPCAR, MAPLIST - Common Lisp HyperSpec";
        QTest::newRow(qPrintable(v + ": #'car")) << v << QByteArray("(funcall #'car x)") << 14 << -1
                                     << "Accessor CAR, CDR - Common Lisp HyperSpec";
        QTest::newRow(qPrintable(v + ": cl:defun")) << v << QByteArray("(cl:defun f ())") << 1 << -1
                                        << "Macro DEFUN - Common Lisp HyperSpec";
        QTest::newRow(qPrintable(v + ": 'CDR selected")) << v << QByteArray("(f 'CDR)") << 3 << 7
                                             << "Accessor CAR, CDR - Common Lisp HyperSpec";
    }
}

void TestHelp::lookUpSymbol()
{
    QFETCH(QString, variant);
    QFETCH(QByteArray, text);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QString, caption);
    const QString path = InstallSpec(variant);
    QVERIFY(!path.isEmpty());
    CScintillaCtrl editor;
    editor.SetText(text);
    to < 0 ? editor.GotoPos(from) : editor.SetSel(from, to);
    QWidget frame;
    QString status = "untouched";
    CReferenceLookup lookup(&frame, [&] { return &editor; }, [&](const QString &t) { status = t; });
    lookup.OnHelpLookUpSymbol();
    CChmViewer *viewer = lookup.Viewer(path);
    QVERIFY2(viewer, qPrintable(status));
    QVERIFY(viewer->isVisible());
    QCOMPARE(viewer->windowTitle(), caption);
}

void TestHelp::symbolAsRead_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QString>("name");
    QTest::newRow("bars keep their case") << QByteArray("(f |Foo| x)") << 4 << -1 << "Foo";
    QTest::newRow("internal symbol") << QByteArray("(cl-user::x)") << 10 << -1 << "X";
    QTest::newRow("long package name") << QByteArray("(common-lisp:defun g)") << 14 << -1 << "DEFUN";
    QTest::newRow("splice") << QByteArray("`(a ,@car)") << 8 << -1 << "CAR";
    QTest::newRow("backquote selected") << QByteArray("(x `car)") << 3 << 7 << "CAR";
    QTest::newRow("escaped character") << QByteArray("(a\\(b)") << 2 << -1 << "A(B";
    QTest::newRow("selection over lines: the caret's") << QByteArray("(car\n cdr)") << 1 << 7 << "CDR";
    QTest::newRow("in a string") << QByteArray("(f \"car\")") << 5 << -1 << "";
}

void TestHelp::symbolAsRead()
{
    QFETCH(QByteArray, text);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QString, name);
    CScintillaCtrl editor;
    editor.SetText(text);
    to < 0 ? editor.GotoPos(from) : editor.SetSel(from, to);
    QCOMPARE(CReferenceLookup::SymbolToLookUp(editor, ReaderDialect::CommonLisp), name);
}

void TestHelp::severalPagesOrNone_data()
{
    QTest::addColumn<QString>("variant");
    QTest::addColumn<QStringList>("titles");
    QTest::newRow("keyword index") << "keyword index" << QStringList{"System Class LIST", "Function LIST"};
    QTest::newRow("symbol map") << "symbol map" << QStringList{"System Class LIST", "Function LIST, LIST*"};
    QTest::newRow("index pages") << "index pages" << QStringList{"System Class LIST", "Function LIST, LIST*"};
}

void TestHelp::severalPagesOrNone()
{
    QFETCH(QString, variant);
    QFETCH(QStringList, titles);
    const QString path = InstallSpec(variant);
    QVERIFY(!path.isEmpty());
    QWidget frame;
    QString status;
    CReferenceLookup lookup(&frame, {}, [&](const QString &t) { status = t; });

    // A name nobody knows: said in the status bar, and no viewer comes.
    lookup.LookUpSymbol("FROBNICATE");
    QCOMPARE(status, QStringLiteral("No entry for FROBNICATE in CLHS.chm"));
    QVERIFY(!lookup.Viewer(path) || !lookup.Viewer(path)->isVisible());

    lookup.LookUpSymbol("LIST");
    CChmViewer *viewer = lookup.Viewer(path);
    QVERIFY(viewer);
    CTopicChooser *chooser = viewer->Chooser();
    QVERIFY(chooser);
    QTRY_VERIFY(chooser->isVisible());
    QStringList offered;
    for (int row = 0; row < chooser->List()->count(); ++row)
        offered.append(chooser->List()->item(row)->text());
    QCOMPARE(offered, titles);
    chooser->grab().save(QDir::temp().filePath("talvex-lookup-chooser.png"));
    QTest::keyClick(chooser->List(), Qt::Key_Return);
    QTRY_COMPARE(viewer->Browser()->source().path(), QStringLiteral("/Body/t_list.htm"));
    QTRY_VERIFY(!viewer->Chooser());

    // Unknown again: the page stays as it was.
    lookup.LookUpSymbol("NO-SUCH-THING");
    QCOMPARE(status, QStringLiteral("No entry for NO-SUCH-THING in CLHS.chm"));
    QCOMPARE(viewer->Browser()->source().path(), QStringLiteral("/Body/t_list.htm"));
}

void TestHelp::historyAndContents()
{
    const QString path = InstallSpec("keyword index");
    QVERIFY(!path.isEmpty());
    QWidget frame;
    CReferenceLookup lookup(&frame);
    const QString pages[] = {"/Body/f_mapc_.htm", "/Body/f_car_c.htm", "/Body/m_defun.htm"};
    const QString entries[] = {"Function MAPCAR", "Accessor CAR, CDR", "Macro DEFUN"};
    lookup.LookUpSymbol("mapcar");
    CChmViewer *viewer = lookup.Viewer(path);
    QVERIFY(viewer);
    QTreeWidget *tree = viewer->NavigationPane()->ContentsTree();
    // The file's own tree: three entries at the top, the chapter holding three.
    QCOMPARE(tree->topLevelItemCount(), 3);
    QCOMPARE(tree->topLevelItem(1)->text(0), QStringLiteral("14. Conses"));
    QCOMPARE(tree->topLevelItem(1)->childCount(), 3);
    QCOMPARE(tree->currentItem()->text(0), entries[0]);
    lookup.LookUpSymbol("car");
    lookup.LookUpSymbol("defun");
    QCOMPARE(tree->currentItem()->text(0), entries[2]);
    QVERIFY(QTest::qWaitForWindowActive(viewer));

    const auto check = [&](int k) {
        return viewer->Browser()->source().path() == pages[k] && tree->currentItem()
            && tree->currentItem()->text(0) == entries[k];
    };
    QTest::keyClick(viewer->Browser(), Qt::Key_Left, Qt::AltModifier);
    QVERIFY2(check(1), qPrintable(viewer->Browser()->source().path()));
    QTest::keyClick(viewer->Browser(), Qt::Key_Left, Qt::AltModifier);
    QVERIFY(check(0));
    QTest::keyClick(viewer->Browser(), Qt::Key_Right, Qt::AltModifier);
    QVERIFY(check(1));
    viewer->grab().save(QDir::temp().filePath("talvex-lookup-viewer-contents.png"));

    // A click in the tree shows that page.
    QTreeWidgetItem *start = tree->topLevelItem(0);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(start).center());
    QCOMPARE(viewer->Browser()->source().path(), QStringLiteral("/start.htm"));
}

void TestHelp::indexTab()
{
    const QString path = InstallSpec("keyword index");
    QVERIFY(!path.isEmpty());
    QWidget frame;
    CReferenceLookup lookup(&frame);
    lookup.OnHelpHyperSpec();
    CChmViewer *viewer = lookup.Viewer(path);
    QVERIFY(viewer);
    CChmNavigationPane *pane = viewer->NavigationPane();
    pane->ShowIndex();
    QListView *list = pane->IndexList();
    QCOMPARE(list->model()->rowCount(), 5);
    QTest::keyClicks(pane->IndexFilter(), "ma");
    QCOMPARE(list->model()->rowCount(), 1);
    QCOMPARE(list->currentIndex().data().toString(), QStringLiteral("mapcar"));
    viewer->grab().save(QDir::temp().filePath("talvex-lookup-viewer-index.png"));
    QTest::keyClick(pane->IndexFilter(), Qt::Key_Return);
    QCOMPARE(viewer->Browser()->source().path(), QStringLiteral("/Body/f_mapc_.htm"));
    // A keyword of two pages asks which.
    pane->IndexFilter()->setText("list");
    QTest::keyClick(pane->IndexFilter(), Qt::Key_Return);
    QVERIFY(viewer->Chooser());
    QCOMPARE(viewer->Chooser()->List()->count(), 2);
}

void TestHelp::damagedFiles()
{
    QWidget frame;
    QString status;
    CReferenceLookup lookup(&frame, {}, [&](const QString &t) { status = t; });

    // A keyword index that does not read: the symbol map answers.
    QString path = InstallSpec("broken keyword index");
    lookup.LookUpSymbol("MAPCAR");
    QVERIFY2(lookup.Viewer(path), qPrintable(status));
    QCOMPARE(lookup.Viewer(path)->Browser()->source().path(), QStringLiteral("/Body/f_mapc_.htm"));
    QCOMPARE(lookup.SymbolIndex(path)->LastSource(), CSymbolIndex::SymbolMap);

    // A page the file lacks, and an object that is no page, are said in a line.
    CChmViewer *viewer = lookup.Viewer(path);
    viewer->ShowPage("/Body/gone.htm");
    QVERIFY(viewer->Browser()->toPlainText().contains("/Body/gone.htm is not in this help file"));
    viewer->ShowPage("/Data/Map_Sym.txt");
    QVERIFY(viewer->Browser()->toPlainText().contains("../Body/f_mapc_.htm"));

    // Cut in half: no crash, and the user is told the file is damaged, not that the name is unknown.
    delete viewer;
    status.clear();
    path = InstallSpec("truncated");
    for (const char *name : {"MAPCAR", "CAR", "DEFUN"}) {
        lookup.LookUpSymbol(name);
        const CChmViewer *shown = lookup.Viewer(path);
        QVERIFY2(status.contains("the file may be damaged")
                     || (shown && shown->isVisible() && shown->Browser()->toPlainText().contains("could not be opened")),
                 qPrintable(status));
    }
}

void TestHelp::binaryIndexMatchesSitemap_data()
{
    QTest::addColumn<int>("generated"); // keywords of a generated index; 0: the reference's own
    QTest::newRow("one block") << 0;
    QTest::newRow("many blocks") << 600;
}

void TestHelp::binaryIndexMatchesSitemap()
{
    // chmcmd writes the binary index from the .hhk: both must read as the same keywords and pages.
    QFETCH(int, generated);
    QString chm = m_specs["keyword index"];
    if (generated > 0) {
        const QString data = m_dir.filePath("generated");
        QDir().mkpath(data);
        QFile::copy(QStringLiteral(TALVEX_TEST_DATA_DIR "/clhs/start.htm"), data + "/start.htm");
        QFile hhk(data + "/many.hhk");
        QVERIFY(hhk.open(QIODevice::WriteOnly));
        hhk.write("<html><body><ul>\n");
        for (int k = 0; k < generated; ++k)
            hhk.write(QStringLiteral("<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"name-%1\">"
                                     "<param name=\"Local\" value=\"start.htm#n%1\"></object>\n").arg(k).toUtf8());
        hhk.write("</ul></body></html>\n");
        hhk.close();
        chm = BuildChm("many", "Index file=many.hhk\nDefault topic=start.htm\n", data, {"start.htm", "many.hhk"});
        QVERIFY(!chm.isEmpty());
    }
    CSymbolIndex index(chm);
    const ChmSitemap &sitemap = index.Entries(CSymbolIndex::KeywordIndex);
    QCOMPARE(sitemap.size(), generated ? generated : 5);
    CChmFile file;
    QVERIFY(file.Open(chm));
    const ChmSitemap binary = ChmBinaryIndex::Read(file);
    QCOMPARE(binary.size(), sitemap.size());
    for (qsizetype k = 0; k < binary.size(); ++k) {
        QCOMPARE(binary[k].name, sitemap[k].name);
        QStringList a, b;
        for (const ChmTopic &t : binary[k].topics)
            a.append(t.page);
        for (const ChmTopic &t : sitemap[k].topics)
            b.append(t.page);
        QCOMPARE(a, b);
    }
}

void TestHelp::findInPage()
{
    const QString path = InstallSpec("keyword index");
    QWidget frame;
    CReferenceLookup lookup(&frame);
    lookup.LookUpSymbol("car");
    CChmViewer *viewer = lookup.Viewer(path);
    QVERIFY(viewer);
    QVERIFY(QTest::qWaitForWindowActive(viewer));
    QTest::keyClick(viewer->Browser(), Qt::Key_F, Qt::ControlModifier);
    CChmFindBar *bar = viewer->FindBar();
    QVERIFY(bar->isVisible());
    QTest::keyClicks(bar->Field(), "CONS");
    QTest::keyClick(bar->Field(), Qt::Key_Return);
    QCOMPARE(viewer->Browser()->textCursor().selectedText(), QStringLiteral("cons"));
    bar->Field()->setText("zebra");
    QTest::keyClick(bar->Field(), Qt::Key_Return);
    QVERIFY(bar->Message().contains("zebra"));
    // Escape hides the bar and leaves the viewer open.
    QTest::keyClick(bar->Field(), Qt::Key_Escape);
    QVERIFY(!bar->isVisible());
    QVERIFY(viewer->isVisible());
}

void TestHelp::paneKeepsWidth()
{
    QWidget frame;
    CReferenceLookup lookup(&frame);
    lookup.OpenHelpFile(m_full);
    QPointer<CChmViewer> viewer = lookup.Viewer(m_full);
    QVERIFY(viewer);
    // The user drags the bar 60 pixels to the right.
    QSplitterHandle *handle = viewer->Splitter()->handle(1);
    const int width = viewer->Splitter()->sizes().first() + 60;
    const QPoint grip = handle->rect().center();
    QTest::mousePress(handle, Qt::LeftButton, {}, grip);
    QTest::mouseMove(handle, grip + QPoint(60, 0));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, grip + QPoint(60, 0));
    QCOMPARE(viewer->Splitter()->sizes().first(), width);
    viewer->PaneAction()->trigger();
    QVERIFY(!viewer->NavigationPane()->isVisible());
    viewer->PaneAction()->trigger();
    QVERIFY(viewer->NavigationPane()->isVisible());
    QCOMPARE(viewer->Splitter()->sizes().first(), width);
    // The next viewer of the run opens with the same width.
    viewer->close();
    QTRY_VERIFY(!viewer);
    lookup.OpenHelpFile(m_full);
    QCOMPARE(lookup.Viewer(m_full)->Splitter()->sizes().first(), width);
}

void TestHelp::versionLine_data()
{
    QTest::addColumn<QString>("stamp");
    QTest::addColumn<QString>("line");
    QTest::newRow("last hour of the year") << "2026-12-31 23" << "Talvex v20261231.23";
    QTest::newRow("morning") << "2010-03-18 07" << "Talvex v20100318.07";
    QTest::newRow("midnight") << "2027-01-01 00" << "Talvex v20270101.00";
    QTest::newRow("noon") << "2026-06-09 12" << "Talvex v20260609.12";
    QTest::newRow("unreadable") << "built somewhen" << "Talvex v0.00";
}

void TestHelp::versionLine()
{
    QFETCH(QString, stamp);
    QFETCH(QString, line);
    QCOMPARE(CAboutDlg::VersionLine(stamp), line);
}

void TestHelp::aboutBox()
{
    QWidget parent;
    parent.resize(800, 600);
    parent.show();
    CAboutDlg dlg(&parent);
    dlg.open();
    QCOMPARE(dlg.windowTitle(), QStringLiteral("About"));
    QCOMPARE(dlg.PictureLabel()->pixmap().size(), QSize(390, 233));
    QCOMPARE(dlg.VersionLabel()->text(), CAboutDlg::VersionLine(TALVEX_BUILD_STAMP));
    QVERIFY(dlg.VersionLabel()->text().contains(QRegularExpression(R"(^Talvex v\d{8}\.\d\d$)")));
    QCOMPARE(dlg.WebButton()->text(), QStringLiteral(TALVEX_WEBSITE));
    bool copyright = false;
    for (QLabel *label : dlg.findChildren<QLabel *>())
        copyright |= label->text() == QStringLiteral(TALVEX_COPYRIGHT);
    QVERIFY(copyright);
    QVERIFY(dlg.OkButton()->isDefault());
    dlg.grab().save(QDir::temp().filePath("talvex-about.png"));
}

void TestHelp::aboutButtons()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "Catch");
    CAboutDlg dlg(nullptr);
    dlg.open();
    QTest::mouseClick(dlg.WebButton(), Qt::LeftButton);
    QCOMPARE(catcher.m_urls, QList<QUrl>({QUrl(TALVEX_WEBSITE)}));
    QVERIFY(dlg.isVisible());

    QTest::keyClick(&dlg, Qt::Key_Escape);
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Rejected));

    dlg.open();
    QTest::keyClick(&dlg, Qt::Key_Return); // OK is the default button
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QDesktopServices::unsetUrlHandler("https");
}

QTEST_MAIN(TestHelp)
#include "tst_help.moc"
