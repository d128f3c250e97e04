// Tests of the console pane, the evaluation wrappers and the Lisp path selection, with real child processes.
#include "lisp/CTalvexPipe.h"
#include "lisp/LispCommands.h"
#include "lisp/LispPathSelector.h"
#include "settings/CSettingsStore.h"

#include "ModalDriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

// Every line it reads comes back as "<line>\n": shows exactly what reached the child's stdin.
const char *const kLineEcho = "/usr/bin/sed -u s/^/</;s/$/>/";

const QString kSettings = QStringLiteral("Settings");

QByteArray InputText(const CTalvexPipe &console)
{
    return console.GetTextRange(console.InputStart(), console.GetLength());
}

// Types text key by key (also characters outside Latin-1, which QTest::keyClicks refuses).
void Type(CTalvexPipe &console, const QString &text)
{
    for (const QChar ch : text) {
        const int key = ch.unicode() < 0x80 ? ch.toUpper().unicode() : 0; // Qt's key codes for ASCII
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(ch));
        QCoreApplication::sendEvent(&console, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(ch));
        QCoreApplication::sendEvent(&console, &release);
    }
}

// A top-level window standing in for the frame: records the context menus it is asked for.
class MenuFrame : public QWidget
{
public:
    int m_nMenus = 0;
    QPoint m_globalPos;

protected:
    void contextMenuEvent(QContextMenuEvent *e) override
    {
        ++m_nMenus;
        m_globalPos = e->globalPos();
    }
};

} // namespace

class TstConsole : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void skipNewline_data();
    void skipNewline();
    void twoSendsShowOneLineBreak();
    void keysAtInputStart_data();
    void keysAtInputStart();
    void typingInOutputStartsNewInput();
    void enterWritesLine_data();
    void enterWritesLine();
    void emptyEnterWritesOneLineFeed();
    void historyWrapsAround();
    void pasteSendsLineByLine_data();
    void pasteSendsLineByLine();
    void pasteStaysWholeWhileOutputArrives();
    void floodArrivesWholeAndInOrder();
    void framingFollowsKeywordSet_data();
    void framingFollowsKeywordSet();
    void contextMenuGoesToFrame();

    void wrappers_data();
    void wrappers();

    void ownExecutable_data();
    void ownExecutable();
    void refusesOwnExecutable_data();
    void refusesOwnExecutable();
    void storesChosenPath_data();
    void storesChosenPath();
    void cancelStoresNothing();
    void dialogStartsAtLispOnPath();
    void startupAsksOnlyWithoutPath();

private:
    std::unique_ptr<CTalvexPipe> m_console;
    QTemporaryDir m_tmp;
};

void TstConsole::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    CSettingsStore::Instance().SetKeyPath(QStringLiteral("Software\\Quenmark\\Talvex"));
}

void TstConsole::init()
{
    CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("KeywordSet"), 0);
    m_console = std::make_unique<CTalvexPipe>();
    m_console->ConfigureConsole();
    m_console->resize(600, 300);
    m_console->show();
}

void TstConsole::cleanup()
{
    SetLispPathChooser({});
    m_console.reset();
}

// --- Output ---------------------------------------------------------------------------------

void TstConsole::skipNewline_data()
{
    QTest::addColumn<bool>("flag");
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QByteArray>("shown");
    QTest::addColumn<bool>("flagAfter");

    QTest::newRow("flag drops one leading LF") << true << QList<QByteArray>{"\n\nab"} << QByteArray("\nab") << false;
    QTest::newRow("no flag keeps LF") << false << QList<QByteArray>{"\nab"} << QByteArray("\nab") << false;
    QTest::newRow("CR LF keeps both, flag waits")
        << true << QList<QByteArray>{"\r\nab", "\ncd"} << QByteArray("\r\nabcd") << false;
    QTest::newRow("other start keeps flag") << true << QList<QByteArray>{"ab"} << QByteArray("ab") << true;
    QTest::newRow("only the first chunk loses it")
        << true << QList<QByteArray>{"\nab", "\ncd"} << QByteArray("ab\ncd") << false;
    QTest::newRow("lone LF vanishes") << true << QList<QByteArray>{"\n"} << QByteArray() << false;
}

void TstConsole::skipNewline()
{
    QFETCH(bool, flag);
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QByteArray, shown);
    QFETCH(bool, flagAfter);

    m_console->m_bSkipNewline = flag;
    for (const QByteArray &chunk : chunks)
        m_console->ShowText(chunk);
    QCOMPARE(m_console->GetText(), shown);
    QCOMPARE(m_console->m_bSkipNewline.load(), flagAfter);
    QCOMPARE(m_console->GetCurrentPos(), m_console->GetLength());
}

void TstConsole::twoSendsShowOneLineBreak()
{
    m_console->m_strCommandLine = kLineEcho;
    QVERIFY(m_console->StartLisp());
    SendToLisp(*m_console, "(a)");
    SendToLisp(*m_console, "(b)");
    QCOMPARE(m_console->GetText(), QByteArray("\n"));
    QTRY_VERIFY_WITH_TIMEOUT(m_console->GetText().contains("<(b)>\n"), 5000);
    QVERIFY(m_console->GetText().startsWith("\n<(a)>\n<(b)>\n"));
}

// --- Keys -----------------------------------------------------------------------------------

void TstConsole::keysAtInputStart_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("caretFromInputStart");
    QTest::addColumn<bool>("selection");

    const int none = Qt::NoModifier;
    QTest::newRow("Backspace at start") << "" << int(Qt::Key_Backspace) << none << QByteArray("out\n") << 0 << false;
    QTest::newRow("Backspace after start") << "ab" << int(Qt::Key_Backspace) << none << QByteArray("out\na") << 1 << false;
    QTest::newRow("Left at start") << "" << int(Qt::Key_Left) << none << QByteArray("out\n") << 0 << false;
    QTest::newRow("Left after start") << "ab" << int(Qt::Key_Left) << none << QByteArray("out\nab") << 1 << false;
    QTest::newRow("Home") << "abc" << int(Qt::Key_Home) << none << QByteArray("out\nabc") << 0 << false;
    QTest::newRow("Shift+Home selects nothing") << "abc" << int(Qt::Key_Home) << int(Qt::ShiftModifier) << QByteArray("out\nabc") << 0 << false;
    QTest::newRow("Page Up swallowed") << "ab" << int(Qt::Key_PageUp) << none << QByteArray("out\nab") << 2 << false;
    QTest::newRow("Page Down swallowed") << "ab" << int(Qt::Key_PageDown) << none << QByteArray("out\nab") << 2 << false;
    QTest::newRow("Up without history") << "ab" << int(Qt::Key_Up) << none << QByteArray("out\nab") << 2 << false;
    QTest::newRow("Down at start") << "" << int(Qt::Key_Down) << none << QByteArray("out\n") << 0 << false;
    QTest::newRow("Shift+Left selects") << "ab" << int(Qt::Key_Left) << int(Qt::ShiftModifier) << QByteArray("out\nab") << 1 << true;
    QTest::newRow("Alt+S types nothing") << "ab" << int(Qt::Key_S) << int(Qt::AltModifier) << QByteArray("out\nab") << 2 << false;
    QTest::newRow("Alt+K types nothing") << "ab" << int(Qt::Key_K) << int(Qt::AltModifier) << QByteArray("out\nab") << 2 << false;
}

void TstConsole::keysAtInputStart()
{
    QFETCH(QString, typed);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QByteArray, text);
    QFETCH(int, caretFromInputStart);
    QFETCH(bool, selection);

    m_console->ShowText("out\n");
    QTest::keyClick(m_console.get(), Qt::Key_Shift); // any key starts the input
    QCOMPARE(m_console->InputStart(), CScintillaCtrl::Pos(4));
    Type(*m_console, typed);
    QTest::keyClick(m_console.get(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(m_console->GetText(), text);
    QCOMPARE(m_console->GetCurrentPos() - m_console->InputStart(), CScintillaCtrl::Pos(caretFromInputStart));
    QCOMPARE(m_console->GetSelectionStart() != m_console->GetSelectionEnd(), selection);
}

void TstConsole::typingInOutputStartsNewInput()
{
    m_console->m_strCommandLine = kLineEcho;
    QVERIFY(m_console->StartLisp());
    m_console->ShowText("printed\n");
    Type(*m_console, "ab");
    m_console->SetSel(2, 2); // the user clicks into the printed output
    Type(*m_console, "c");
    QCOMPARE(m_console->GetText(), QByteArray("printed\nabc"));
    QCOMPARE(m_console->InputStart(), CScintillaCtrl::Pos(10));
    QTest::keyClick(m_console.get(), Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(m_console->GetText().contains("<c>"), 5000);
    QVERIFY(!m_console->GetText().contains("<abc>"));
    QCOMPARE(m_console->History(), QList<QByteArray>{"c"});
}

void TstConsole::enterWritesLine_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QByteArray>("echo");
    QTest::addColumn<QList<QByteArray>>("history");

    QTest::newRow("plain") << "(+ 1 2)" << int(Qt::NoModifier) << QByteArray("\n<(+ 1 2)>\n") << QList<QByteArray>{"(+ 1 2)"};
    QTest::newRow("trailing spaces kept") << "ab  " << int(Qt::NoModifier) << QByteArray("\n<ab  >\n") << QList<QByteArray>{"ab  "};
    QTest::newRow("Shift+Enter acts as Enter") << "x" << int(Qt::ShiftModifier) << QByteArray("\n<x>\n") << QList<QByteArray>{"x"};
    QTest::newRow("UTF-8") << QString::fromUtf8("(λ ü)") << int(Qt::NoModifier) << QByteArray("\n<(λ ü)>\n") << QList<QByteArray>{"(λ ü)"};
}

void TstConsole::enterWritesLine()
{
    QFETCH(QString, typed);
    QFETCH(int, modifiers);
    QFETCH(QByteArray, echo);
    QFETCH(QList<QByteArray>, history);

    m_console->m_strCommandLine = kLineEcho;
    QVERIFY(m_console->StartLisp());
    Type(*m_console, typed);
    QTest::keyClick(m_console.get(), Qt::Key_Return, Qt::KeyboardModifiers(modifiers));
    QCOMPARE(m_console->InputStart(), CScintillaCtrl::Pos(-1));
    QVERIFY(m_console->m_bSkipNewline);
    QTRY_VERIFY_WITH_TIMEOUT(m_console->GetText().endsWith(echo), 5000);
    QCOMPARE(m_console->GetText(), typed.toUtf8() + echo);
    QCOMPARE(m_console->History(), history);
    QCOMPARE(m_console->HistoryIndex(), int(history.size()));
}

void TstConsole::emptyEnterWritesOneLineFeed()
{
    m_console->m_strCommandLine = kLineEcho;
    QVERIFY(m_console->StartLisp());
    QTest::keyClick(m_console.get(), Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(m_console->GetText().contains("<>\n"), 5000);
    Type(*m_console, "z");
    QTest::keyClick(m_console.get(), Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(m_console->GetText().contains("<z>"), 5000);
    // One line feed written gives one empty echo; a second one would show "<>" twice.
    QCOMPARE(m_console->GetText(), QByteArray("\n<>\nz\n<z>\n"));
    QCOMPARE(m_console->History(), QList<QByteArray>{"z"});
}

void TstConsole::historyWrapsAround()
{
    for (const char *line : {"a", "bb"}) {
        Type(*m_console, line);
        QTest::keyClick(m_console.get(), Qt::Key_Return);
    }
    QCOMPARE(m_console->History(), (QList<QByteArray>{"a", "bb"}));

    const QList<QPair<Qt::Key, QByteArray>> steps = {
        {Qt::Key_Up, "bb"}, {Qt::Key_Up, "a"}, {Qt::Key_Up, "bb"}, {Qt::Key_Down, "a"}, {Qt::Key_Down, "bb"},
        {Qt::Key_Down, "a"}};
    for (const auto &[key, expected] : steps) {
        QTest::keyClick(m_console.get(), key);
        QCOMPARE(InputText(*m_console), expected);
        QCOMPARE(m_console->GetCurrentPos(), m_console->GetLength());
    }
    // Right after a send, Down recalls the oldest entry.
    QTest::keyClick(m_console.get(), Qt::Key_Return);
    QCOMPARE(m_console->History(), (QList<QByteArray>{"a", "bb", "a"}));
    QTest::keyClick(m_console.get(), Qt::Key_Down);
    QCOMPARE(InputText(*m_console), QByteArray("a"));
}

void TstConsole::pasteSendsLineByLine_data()
{
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<QByteArray>("firstEcho");
    QTest::addColumn<QByteArray>("rest");

    QTest::newRow("CR LF") << "(first)\r\n(second)" << QByteArray("<(first)>") << QByteArray("(second)");
    QTest::newRow("LF") << "(first)\n(second)" << QByteArray("<(first)>") << QByteArray("(second)");
    QTest::newRow("multi-byte") << QString::fromUtf8("(λ → x)\nü€") << QByteArray("<(λ → x)>") << QByteArray("ü€");
}

void TstConsole::pasteSendsLineByLine()
{
    QFETCH(QString, clipboard);
    QFETCH(QByteArray, firstEcho);
    QFETCH(QByteArray, rest);

    m_console->m_strCommandLine = kLineEcho;
    QVERIFY(m_console->StartLisp());
    QApplication::clipboard()->setText(clipboard);
    m_console->OnEditPaste();
    QTRY_VERIFY_WITH_TIMEOUT(m_console->GetText().contains(firstEcho), 5000);
    QCOMPARE(m_console->History().size(), 1);
    QCOMPARE(InputText(*m_console).left(rest.size()), rest);

    QTest::qWait(300);
    QCOMPARE(m_console->GetText().count('<'), 1); // the second line is not sent yet
    QTest::keyClick(m_console.get(), Qt::Key_Return);
    // The first line's answer landed after the pasted rest, so it belongs to the second line.
    QTRY_VERIFY_WITH_TIMEOUT(m_console->GetText().contains("<" + rest + firstEcho + ">"), 5000);
    QCOMPARE(m_console->History().last(), rest + firstEcho);
}

void TstConsole::pasteStaysWholeWhileOutputArrives()
{
    // Lines sent during the paste are answered at once; the answers may only follow the paste.
    m_console->m_strCommandLine = kLineEcho;
    QVERIFY(m_console->StartLisp());
    QByteArray pasted;
    for (int i = 0; i < 200; ++i)
        pasted += "line " + QByteArray::number(i) + "\n";
    pasted += "tail";
    m_console->PasteText(pasted);
    QTRY_VERIFY_WITH_TIMEOUT(m_console->GetText().contains("<line 199>"), 5000);
    QVERIFY(m_console->GetText().startsWith(pasted));
    QCOMPARE(m_console->History().size(), 200);
}

void TstConsole::floodArrivesWholeAndInOrder()
{
    CTalvexPipe console;
    console.ConfigureConsole();
    // About 20 MB: the console's buffers grow several times, the later growths into memory
    // made ready while the output arrives.
    console.m_strCommandLine = "/usr/bin/seq 1 2500000";
    QByteArray expected;
    for (int i = 1; i <= 2500000; ++i)
        expected += QByteArray::number(i) + '\n';
    QVERIFY(console.StartLisp());
    // Text shown by the program in the middle of the flood lands between output bytes, with
    // everything read before it shown before it.
    QTRY_VERIFY_WITH_TIMEOUT(console.GetLength() > 0, 20000);
    console.ShowText("MARK");
    const QByteArray before = console.GetText();
    QTRY_VERIFY_WITH_TIMEOUT(console.GetLength() >= expected.size() + 4, 60000);
    QByteArray text = console.GetText();
    QVERIFY(text.startsWith(before));
    QCOMPARE(text.count("MARK"), qsizetype(1));
    text.replace("MARK", "");
    QVERIFY(text.startsWith(expected));
    QCOMPARE(console.GetCurrentPos(), console.GetLength());
}

void TstConsole::framingFollowsKeywordSet_data()
{
    QTest::addColumn<int>("keywordSet");
    QTest::addColumn<QByteArray>("echo");

    QTest::newRow("newLISP framed") << 2 << QByteArray("<[cmd]>\n<(x)>\n<[/cmd]>\n");
    QTest::newRow("Common Lisp plain") << 0 << QByteArray("<(x)>\n");
    QTest::newRow("Scheme plain") << 1 << QByteArray("<(x)>\n");
}

void TstConsole::framingFollowsKeywordSet()
{
    QFETCH(int, keywordSet);
    QFETCH(QByteArray, echo);

    CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("KeywordSet"), keywordSet);
    CTalvexPipe console;
    console.ConfigureConsole();
    QCOMPARE(console.m_bFrameCommands, keywordSet == 2);
    // A later change of the keyword set does not change the framing.
    CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("KeywordSet"), keywordSet == 2 ? 0 : 2);
    console.m_strCommandLine = kLineEcho;
    QVERIFY(console.StartLisp());
    QTest::keyClicks(&console, "(x)");
    QTest::keyClick(&console, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(console.GetText().endsWith(echo), 5000);
    QCOMPARE(console.GetText(), "(x)\n" + echo);
}

void TstConsole::contextMenuGoesToFrame()
{
    MenuFrame frame;
    auto *console = new CTalvexPipe(&frame);
    console->ConfigureConsole();
    frame.resize(400, 300);
    console->resize(400, 300);
    frame.show();
    const QPoint global = console->mapToGlobal(QPoint(10, 12));
    QContextMenuEvent ev(QContextMenuEvent::Mouse, QPoint(10, 12), global);
    QCoreApplication::sendEvent(console, &ev);
    QCOMPARE(frame.m_nMenus, 1);
    QCOMPARE(frame.m_globalPos, global);
    QVERIFY(QApplication::activePopupWidget() == nullptr);
}

// --- Wrappers -------------------------------------------------------------------------------

void TstConsole::wrappers_data()
{
    QTest::addColumn<QByteArray>("form");
    QTest::addColumn<QByteArray>("macroexpand");
    QTest::addColumn<QByteArray>("prettyPrint");

    QTest::newRow("form") << QByteArray("(when a b)") << QByteArray("(pprint (macroexpand-1 '(when a b)))")
                          << QByteArray("(pprint '(when a b))");
    QTest::newRow("symbol") << QByteArray("foo") << QByteArray("(pprint (macroexpand-1 'foo))")
                            << QByteArray("(pprint 'foo)");
    QTest::newRow("comment on last line") << QByteArray("(a b) ; note") << QByteArray("(pprint (macroexpand-1 '(a b) ; note\n))")
                                          << QByteArray("(pprint '(a b) ; note\n)");
    QTest::newRow("comment on earlier line") << QByteArray("(a ; note\r\n b)") << QByteArray("(pprint (macroexpand-1 '(a ; note\r\n b)))")
                                             << QByteArray("(pprint '(a ; note\r\n b))");
    QTest::newRow("comment after CR LF") << QByteArray("(a\r\n b) ;; x") << QByteArray("(pprint (macroexpand-1 '(a\r\n b) ;; x\n))")
                                         << QByteArray("(pprint '(a\r\n b) ;; x\n)");
}

void TstConsole::wrappers()
{
    QFETCH(QByteArray, form);
    QFETCH(QByteArray, macroexpand);
    QFETCH(QByteArray, prettyPrint);
    QCOMPARE(MacroexpandText(form), macroexpand);
    QCOMPARE(PrettyPrintText(form), prettyPrint);
}

// --- Lisp path ------------------------------------------------------------------------------

void TstConsole::ownExecutable_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("own");

    const QString self = QCoreApplication::applicationFilePath();
    const QString link = m_tmp.filePath(QStringLiteral("talvex-link"));
    QFile::remove(link);
    QVERIFY(QFile::link(self, link));
    const QString linkToLink = m_tmp.filePath(QStringLiteral("talvex-link2"));
    QFile::remove(linkToLink);
    QVERIFY(QFile::link(link, linkToLink));

    QTest::newRow("itself") << self << true;
    QTest::newRow("through a symbolic link") << link << true;
    QTest::newRow("through two links") << linkToLink << true;
    QTest::newRow("dot-dot form") << QFileInfo(self).absolutePath() + "/../" + QFileInfo(self).dir().dirName() + "/" +
                                         QFileInfo(self).fileName()
                                  << true;
    QTest::newRow("a Lisp") << QStringLiteral("/usr/bin/sbcl") << false;
    QTest::newRow("empty") << QString() << false;
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    QTest::newRow("other letter case") << self.toUpper() << true;
#else
    QTest::newRow("other letter case is another file here") << self.toUpper() << false;
#endif
}

void TstConsole::ownExecutable()
{
    QFETCH(QString, path);
    QFETCH(bool, own);
    QCOMPARE(IsOwnExecutable(path), own);
}

void TstConsole::refusesOwnExecutable_data()
{
    QTest::addColumn<QString>("path");
    const QString self = QCoreApplication::applicationFilePath();
    const QString link = m_tmp.filePath(QStringLiteral("my-lisp"));
    QFile::remove(link);
    QVERIFY(QFile::link(self, link));
    QTest::newRow("itself") << self;
    QTest::newRow("through a symbolic link") << link;
}

void TstConsole::refusesOwnExecutable()
{
    QFETCH(QString, path);
    CSettingsStore::Instance().WriteString(kSettings, QStringLiteral("Lisp"), QStringLiteral("/usr/bin/before"));
    m_console->m_strCommandLine = "/usr/bin/before";
    SetLispPathChooser([&](QWidget *, const LispDialogSetup &) { return path; });

    QString text, caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    ModalAnswer<QMessageBox> answer([&](QMessageBox *box) {
        text = box->text();
        caption = box->windowTitle();
        icon = box->icon();
        box->button(QMessageBox::Ok)->click();
    });
    QVERIFY(!SetLispPath(nullptr, *m_console));
    QVERIFY(answer.Seen());
    QCOMPARE(text, QStringLiteral("Please dont select Talvex itself but your Lisp console executable."));
    QCOMPARE(caption, QStringLiteral("Talvex"));
    QCOMPARE(icon, QMessageBox::Warning);
    QCOMPARE(m_console->m_strCommandLine, std::string("/usr/bin/before"));
    QCOMPARE(CSettingsStore::Instance().ReadString(kSettings, QStringLiteral("Lisp"), QString()),
             QStringLiteral("/usr/bin/before"));
}

void TstConsole::storesChosenPath_data()
{
    QTest::addColumn<QString>("path");
    const QString spaced = m_tmp.filePath(QStringLiteral("with space/my lisp"));
    QVERIFY(QDir().mkpath(QFileInfo(spaced).absolutePath()));
    QFile file(spaced);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\nexec cat\n");
    file.close();
    QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
    QTest::newRow("plain") << QStringLiteral("/usr/bin/sbcl");
    QTest::newRow("spaces, no quotes") << spaced;
}

void TstConsole::storesChosenPath()
{
    QFETCH(QString, path);
    SetLispPathChooser([&](QWidget *, const LispDialogSetup &) { return path; });
    QVERIFY(SetLispPath(nullptr, *m_console));
    QCOMPARE(QString::fromStdString(m_console->m_strCommandLine), path);
    QCOMPARE(CSettingsStore::Instance().ReadString(kSettings, QStringLiteral("Lisp"), QString()), path);
    QVERIFY(!m_console->IsLispRunning()); // choosing does not start anything
}

void TstConsole::cancelStoresNothing()
{
    CSettingsStore::Instance().WriteString(kSettings, QStringLiteral("Lisp"), QStringLiteral("/usr/bin/old"));
    m_console->m_strCommandLine = "/usr/bin/old";
    int calls = 0;
    SetLispPathChooser([&](QWidget *, const LispDialogSetup &) { ++calls; return QString(); });
    QVERIFY(!SetLispPath(nullptr, *m_console));
    QCOMPARE(calls, 1);
    QCOMPARE(m_console->m_strCommandLine, std::string("/usr/bin/old"));
    QCOMPARE(CSettingsStore::Instance().ReadString(kSettings, QStringLiteral("Lisp"), QString()),
             QStringLiteral("/usr/bin/old"));
}

void TstConsole::dialogStartsAtLispOnPath()
{
    const QString sbcl = QStandardPaths::findExecutable(QStringLiteral("sbcl"));
    if (sbcl.isEmpty())
        QSKIP("sbcl is not on PATH");
    QString directory, title;
    QStringList selected;
    ModalAnswer<QFileDialog> answer([&](QFileDialog *dialog) {
        directory = dialog->directory().absolutePath();
        selected = dialog->selectedFiles();
        title = dialog->windowTitle();
        QMetaObject::invokeMethod(dialog, "accept");
    });
    QVERIFY(SetLispPath(nullptr, *m_console));
    QVERIFY(answer.Seen());
    QCOMPARE(title, QStringLiteral("Set Lisp path"));
    QCOMPARE(directory, QFileInfo(sbcl).absolutePath());
    QCOMPARE(selected, QStringList{sbcl});
    QCOMPARE(QString::fromStdString(m_console->m_strCommandLine), sbcl);
    QCOMPARE(CSettingsStore::Instance().ReadString(kSettings, QStringLiteral("Lisp"), QString()), sbcl);
}

void TstConsole::startupAsksOnlyWithoutPath()
{
    int calls = 0;
    SetLispPathChooser([&](QWidget *, const LispDialogSetup &) { ++calls; return QString(); });

    CSettingsStore::Instance().WriteString(kSettings, QStringLiteral("Lisp"), QStringLiteral("/usr/bin/sbcl --noinform"));
    QVERIFY(InitLispCommandLine(nullptr, *m_console));
    QCOMPARE(calls, 0);
    QCOMPARE(m_console->m_strCommandLine, std::string("/usr/bin/sbcl --noinform"));

    CSettingsStore::Instance().DeleteValue(kSettings, QStringLiteral("Lisp"));
    QVERIFY(!InitLispCommandLine(nullptr, *m_console));
    QCOMPARE(calls, 1);
    QVERIFY(m_console->m_strCommandLine.empty());
}

QTEST_MAIN(TstConsole)
#include "tst_console.moc"
