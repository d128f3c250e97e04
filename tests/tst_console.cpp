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
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QListView>
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
const std::string kHelper = TALVEX_TEST_HELPERS_DIR "/fakelisp";

const QString kSettings = QStringLiteral("Settings");

QByteArray InputText(const CTalvexPipe &console)
{
    return console.GetTextRange(console.InputStart(), console.GetLength());
}

// The last bytes of the console: what a poll during a flood looks at, without copying megabytes.
QByteArray Tail(const CTalvexPipe &console, CTalvexPipe::Pos bytes = 256)
{
    return console.GetTextRange(console.GetLength() - bytes, console.GetLength());
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
    void answersKeepTheirLineFeed();
    void outputGoesBeforeTypedLine();
    void sentLineIsWhatWasTyped();
    void selectionIntoOutputKeepsOutput_data();
    void selectionIntoOutputKeepsOutput();
    void cutCopiesOutputKeepsIt();
    void notRunningSaysSo();
    void outputLimitDropsOldest();
    void longLinesShownInPieces();
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
    void floodColouredWhenSeen();
    void framingFollowsKeywordSet_data();
    void framingFollowsKeywordSet();
    void clojureInterruptKeepsSession();
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
    void dialogListsEveryFile();
    void chosenLispPicksKeywordSet_data();
    void chosenLispPicksKeywordSet();
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
    // What Lisp answers to one send, and how the console shows the send's line break and it.
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("shown");

    QTest::newRow("one leading LF dropped") << QByteArray("\nab\n") << QByteArray("\nab\n");
    QTest::newRow("only one") << QByteArray("\n\nab\n") << QByteArray("\n\nab\n");
    QTest::newRow("CR LF kept") << QByteArray("\r\nab\n") << QByteArray("\n\r\nab\n");
    QTest::newRow("no LF: all kept") << QByteArray("ab\n") << QByteArray("\nab\n");
}

void TstConsole::skipNewline()
{
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, shown);
    qputenv("FAKELISP_MODE", "echo");
    m_console->SetCommandLine(kHelper);
    QVERIFY(m_console->StartLisp());
    m_console->SendToLisp(answer.chopped(1));   // the echo answers with exactly what it read
    QTRY_COMPARE(m_console->GetText(), shown);
    QCOMPARE(m_console->GetCurrentPos(), m_console->GetLength());
}

// SBCL answers in two writes, the value and then "\n* ": the first output after a send takes the
// one-shot rule with it, so the line feed that ends the answer stays.
void TstConsole::answersKeepTheirLineFeed()
{
    qputenv("FAKELISP_MODE", "pieces");
    m_console->SetCommandLine(kHelper);
    QVERIFY(m_console->StartLisp());
    QByteArray expected;
    for (int i = 1; i <= 5; ++i) {
        const QByteArray value = QByteArray::number(3340 + i);
        m_console->SendToLisp(value);
        expected += "\n" + value + "\n* ";
        QTRY_COMPARE(m_console->GetText(), expected);
    }
    // A reset right after a send clears the rule: the new Lisp's first output keeps its line feed.
    qputenv("FAKELISP_MODE", "longline");
    qputenv("FAKELISP_KB", "0");
    m_console->SendToLisp("x");
    m_console->ResetLisp();
    qunsetenv("FAKELISP_KB");
    QTRY_VERIFY(m_console->GetText().endsWith("\r\n\nend\n"));
}

void TstConsole::twoSendsShowOneLineBreak()
{
    m_console->SetCommandLine(kLineEcho);
    QVERIFY(m_console->StartLisp());
    m_console->SendToLisp("(a)");
    m_console->SendToLisp("(b)");
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

    m_console->ShowMessage("out\n");
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
    m_console->SetCommandLine(kLineEcho);
    QVERIFY(m_console->StartLisp());
    m_console->ShowMessage("printed\n");
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

    m_console->SetCommandLine(kLineEcho);
    QVERIFY(m_console->StartLisp());
    Type(*m_console, typed);
    QTest::keyClick(m_console.get(), Qt::Key_Return, Qt::KeyboardModifiers(modifiers));
    QCOMPARE(m_console->InputStart(), CScintillaCtrl::Pos(-1));
    QTRY_VERIFY_WITH_TIMEOUT(m_console->GetText().endsWith(echo), 5000);
    QCOMPARE(m_console->GetText(), typed.toUtf8() + echo);
    QCOMPARE(m_console->History(), history);
    QCOMPARE(m_console->HistoryIndex(), int(history.size()));
}

void TstConsole::emptyEnterWritesOneLineFeed()
{
    m_console->SetCommandLine(kLineEcho);
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

    m_console->SetCommandLine(kLineEcho);
    QVERIFY(m_console->StartLisp());
    QApplication::clipboard()->setText(clipboard);
    m_console->OnEditPaste();
    QTRY_VERIFY_WITH_TIMEOUT(m_console->GetText().contains(firstEcho), 5000);
    QCOMPARE(m_console->History().size(), 1);
    QCOMPARE(InputText(*m_console).left(rest.size()), rest);

    QTest::qWait(300);
    QCOMPARE(m_console->GetText().count('<'), 1); // the second line is not sent yet
    QCOMPARE(InputText(*m_console), rest);         // the first line's answer went before it
    QTest::keyClick(m_console.get(), Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(m_console->GetText().contains("<" + rest + ">"), 5000);
    QCOMPARE(m_console->History().last(), rest);
}

void TstConsole::pasteStaysWholeWhileOutputArrives()
{
    // Lines sent during the paste are answered at once; the answers may only follow the paste.
    m_console->SetCommandLine(kLineEcho);
    QVERIFY(m_console->StartLisp());
    QByteArray pasted;
    for (int i = 0; i < 200; ++i)
        pasted += "line " + QByteArray::number(i) + "\n";
    pasted += "tail";
    m_console->PasteText(pasted);
    QTRY_VERIFY_WITH_TIMEOUT(m_console->GetText().contains("<line 199>"), 5000);
    const QByteArray text = m_console->GetText();
    QVERIFY(text.startsWith(pasted.chopped(4)));   // the lines as pasted, then the answers
    QVERIFY(text.endsWith("<line 199>\ntail"));    // and the unsent rest after them
    QCOMPARE(m_console->History().size(), 200);
}

void TstConsole::floodArrivesWholeAndInOrder()
{
    CTalvexPipe console;
    console.ConfigureConsole();
    console.SetOutputLimit(0);
    // About 20 MB: the console's buffers grow several times.
    console.SetCommandLine("/usr/bin/seq 1 2500000");
    QByteArray expected;
    for (int i = 1; i <= 2500000; ++i)
        expected += QByteArray::number(i) + '\n';
    QVERIFY(console.StartLisp());
    // Text shown by the program in the middle of the flood lands between output bytes, with
    // everything read before it shown before it.
    QTRY_VERIFY_WITH_TIMEOUT(console.GetLength() > 0, 20000);
    console.ShowMessage("MARK\n");
    const QByteArray before = console.GetText();
    QTRY_VERIFY_WITH_TIMEOUT(Tail(console).endsWith("Child process ended\r\n"), 60000);
    QByteArray text = console.GetText();
    QVERIFY(text.startsWith(before));
    QCOMPARE(text.count("MARK"), qsizetype(1));
    text.replace("\r\nMARK\n", "").replace("MARK\n", "");
    QVERIFY(text.startsWith(expected));
    QCOMPARE(console.GetCurrentPos(), console.GetLength());
}

// Output far beyond the screen is not coloured as it comes, but it is once the user scrolls to it;
// what ends on screen is coloured at once.
void TstConsole::floodColouredWhenSeen()
{
    m_console->SetCommandLine("/bin/sh -c 'yes \"(defun f (x) x)\" | head -n 20000'");
    QVERIFY(m_console->StartLisp());
    QTRY_VERIFY_WITH_TIMEOUT(Tail(*m_console).endsWith("Child process ended\r\n"), 20000);
    constexpr int kKeyword = 3;   // SCE_LISP_KEYWORD
    const auto lastForm = m_console->GetText().lastIndexOf("(defun");
    m_console->viewport()->repaint();
    QCOMPARE(m_console->GetStyleAt(lastForm + 1), kKeyword);
    m_console->SendScintilla(QsciScintillaBase::SCI_SETFIRSTVISIBLELINE, 0UL);
    m_console->viewport()->repaint();
    QCOMPARE(m_console->GetStyleAt(1), kKeyword);
    const auto middle = m_console->GetText().indexOf("(defun", m_console->GetLength() / 2);
    m_console->SendScintilla(QsciScintillaBase::SCI_SETFIRSTVISIBLELINE,
                             static_cast<unsigned long>(m_console->LineFromPosition(middle)));
    m_console->viewport()->repaint();
    QCOMPARE(m_console->GetStyleAt(middle + 1), kKeyword);
}

// A Lisp that prints while the user types: its output goes before the typed line, which stays
// whole with the caret where it was, and Enter sends exactly what was typed.
void TstConsole::outputGoesBeforeTypedLine()
{
    qputenv("FAKELISP_MODE", "ticks");
    qputenv("FAKELISP_MS", "20");
    m_console->SetCommandLine(kHelper);
    QVERIFY(m_console->StartLisp());
    QTRY_VERIFY(m_console->GetText().contains("tick 2\n"));
    const QString typed = QStringLiteral("(list 1 2 3)");
    for (const QChar ch : typed) {
        Type(*m_console, QString(ch));
        QTest::qWait(15);   // ticks arrive between the keys
        QVERIFY(m_console->GetText().endsWith(typed.left(InputText(*m_console).size()).toUtf8()));
    }
    QCOMPARE(InputText(*m_console), typed.toUtf8());
    QTest::keyClick(m_console.get(), Qt::Key_Left);
    QTest::qWait(60);
    QCOMPARE(m_console->GetLength() - m_console->GetCurrentPos(), CScintillaCtrl::Pos(1));
    QTest::keyClick(m_console.get(), Qt::Key_Return);
    QTRY_VERIFY(m_console->GetText().contains("got (list 1 2 3)\n"));
    // Every tick is shown, in order, and none inside the typed line.
    const QByteArray text = m_console->GetText();
    QCOMPARE(text.count(typed.toUtf8()), qsizetype(2));   // the typed line and its echo
    int next = 1;
    for (const QByteArray &line : text.split('\n'))
        if (line.startsWith("tick "))
            QCOMPARE(line, "tick " + QByteArray::number(next++));
    QVERIFY(next > 10);
    qunsetenv("FAKELISP_MS");
}

// The input started (a click and End) before a send from an editor: the answer goes before the
// input, and the line typed after it is all that Enter sends.
void TstConsole::sentLineIsWhatWasTyped()
{
    m_console->SetCommandLine(kLineEcho);
    QVERIFY(m_console->StartLisp());
    QTest::keyClick(m_console.get(), Qt::Key_End);
    m_console->SendToLisp("(list 1 2)");
    QTRY_VERIFY(m_console->GetText().contains("<(list 1 2)>\n"));
    Type(*m_console, "(+ 10 20)");
    QTest::keyClick(m_console.get(), Qt::Key_Return);
    QTRY_VERIFY(m_console->GetText().contains("<(+ 10 20)>\n"));
    QCOMPARE(m_console->GetText(), QByteArray("\n<(list 1 2)>\n(+ 10 20)\n<(+ 10 20)>\n"));
}

// A selection that reaches into the output (Ctrl+A, say): typing, Backspace or a paste never
// deletes output; the input goes on at the end, and every pasted line is sent.
void TstConsole::selectionIntoOutputKeepsOutput_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QByteArray>("echo");
    QTest::newRow("typing") << QStringLiteral("type") << QByteArray("<ab(+ 5 5)>\n");
    QTest::newRow("Backspace") << QStringLiteral("backspace") << QByteArray("<a>\n");
    QTest::newRow("paste of three lines") << QStringLiteral("paste") << QByteArray("<ab(one)>\n<(two)>\n<(three)>\n");
}

void TstConsole::selectionIntoOutputKeepsOutput()
{
    QFETCH(QString, action);
    QFETCH(QByteArray, echo);
    m_console->SetCommandLine(kLineEcho);
    QVERIFY(m_console->StartLisp());
    m_console->ShowMessage("printed output\n");
    Type(*m_console, "ab");
    QTest::keyClick(m_console.get(), Qt::Key_A, Qt::ControlModifier);
    if (action == QLatin1String("type")) {
        Type(*m_console, "(+ 5 5)");
    } else if (action == QLatin1String("backspace")) {
        QTest::keyClick(m_console.get(), Qt::Key_Backspace);
    } else {
        m_console->SendScintilla(QsciScintillaBase::SCI_SELECTALL);
        m_console->PasteText("(one)\n(two)\n(three)\n");
    }
    if (action != QLatin1String("paste"))
        QTest::keyClick(m_console.get(), Qt::Key_Return);
    QTRY_VERIFY(m_console->GetText().endsWith(echo));
    QVERIFY(m_console->GetText().startsWith("printed output\n"));
}

void TstConsole::cutCopiesOutputKeepsIt()
{
    m_console->ShowMessage("printed output\n");
    Type(*m_console, "typed");
    m_console->SendScintilla(QsciScintillaBase::SCI_SELECTALL);
    m_console->OnEditCut();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("printed output\ntyped"));
    QCOMPARE(m_console->GetText(), QByteArray("printed output\n"));   // only the input went
}

// A Lisp that has ended takes nothing: a send or a console line shows one line saying so, and
// the text is not kept for the next Lisp either.
void TstConsole::notRunningSaysSo()
{
    const QByteArray line = "<ERROR>: Lisp is not running; Reset Lisp starts it\r\n";
    qputenv("FAKELISP_MODE", "exit");
    m_console->SetCommandLine(kHelper);
    QVERIFY(m_console->StartLisp());
    QTRY_VERIFY(m_console->GetText().contains("Child process ended"));
    QTRY_VERIFY(!m_console->IsLispRunning());
    const QByteArray ended = m_console->GetText();
    m_console->SendToLisp("(a)");
    QCOMPARE(m_console->GetText(), ended + line);
    Type(*m_console, "(b)");
    QTest::keyClick(m_console.get(), Qt::Key_Return);
    QCOMPARE(m_console->GetText(), ended + line + "(b)\n" + line);
    QCOMPARE(m_console->History(), QList<QByteArray>{"(b)"});
    qputenv("FAKELISP_MODE", "echo");
    m_console->ResetLisp();
    QTest::qWait(200);
    QVERIFY(!m_console->GetText().contains("(a)\n"));
    QVERIFY(!m_console->GetText().contains("(b)\n(b)"));
}

// Endless output under a 4 MB limit: the text stays within the limit, the first line says how
// much was dropped, the newest output is all there, and the line being typed survives.
void TstConsole::outputLimitDropsOldest()
{
    constexpr qint64 limit = 4 << 20;
    m_console->SetOutputLimit(limit);
    m_console->SetCommandLine("/usr/bin/seq 1 3000000");
    Type(*m_console, "(typed)");
    QVERIFY(m_console->StartLisp());
    qint64 longest = 0;
    QElapsedTimer timer;
    timer.start();
    while (!Tail(*m_console).contains("Child process ended") && timer.elapsed() < 60000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        longest = std::max<qint64>(longest, m_console->GetLength());
    }
    QVERIFY2(Tail(*m_console).contains("Child process ended"), "the output did not end within 60 s");
    QVERIFY(longest <= limit);
    const QByteArray text = m_console->GetText();
    QByteArray all;
    for (int i = 1; i <= 3000000; ++i)
        all += QByteArray::number(i) + '\n';
    const qint64 total = all.size();
    const qsizetype firstLine = text.indexOf('\n') + 1;
    const QByteArray marker = text.left(firstLine);
    const qint64 dropped = m_console->DroppedBytes();
    QCOMPARE(marker, "[\xE2\x80\xA6 " + QByteArray::number((dropped + (1 << 19)) >> 20) + " MB of earlier output dropped]\n");
    // What is kept, with what was dropped, is exactly the output.
    const QByteArray kept = text.mid(firstLine, text.indexOf("\r\n<ERROR>") - firstLine);
    QCOMPARE(dropped + kept.size(), total);
    QVERIFY(kept == all.right(kept.size()));
    QVERIFY(kept.size() >= limit / 2);
    QVERIFY(text.endsWith("(typed)"));
    QCOMPARE(InputText(*m_console), QByteArray("(typed)"));
}

// One line of 3 MB without a line break, and pasted lines: shown as a terminal shows them, in
// display lines no wider than the console, while copying and sending give back exactly the bytes.
void TstConsole::longLinesShownInPieces()
{
    qputenv("FAKELISP_MODE", "longline");
    qputenv("FAKELISP_KB", "3072");
    m_console->SetCommandLine(kHelper);
    QVERIFY(m_console->StartLisp());
    QTRY_VERIFY_WITH_TIMEOUT(m_console->GetText().endsWith("\nend\n"), 30000);
    qunsetenv("FAKELISP_KB");
    QByteArray digits;
    while (digits.size() < (3072 << 10))
        digits += "0123456789";
    digits.truncate(3072 << 10);
    const int columns = m_console->DisplayColumns();
    QVERIFY(columns > 40 && columns < 200);   // about what 600 pixels show
    const auto longestLine = [&] {
        qsizetype longest = 0;
        for (const QByteArray &line : m_console->GetText().split('\n'))
            longest = std::max(longest, QString::fromUtf8(line).size());
        return longest;
    };
    QCOMPARE(longestLine(), qsizetype(columns));
    QCOMPARE(m_console->PlainText(0, m_console->GetLength()), digits + "\nend\n");
    m_console->SetSel(5, 5000);
    m_console->OnEditCopy();
    const qsizetype breaks = m_console->GetTextRange(5, 5000).count('\n');
    QVERIFY(breaks > 20);
    QCOMPARE(QApplication::clipboard()->text().toLatin1(), digits.mid(5, 4995 - breaks));

    // Pasted: a long line of two-byte characters and one of words, sent back by the echo.
    const QByteArray lambdas = QString(5000, QChar(0x3bb)).toUtf8();
    QByteArray words;
    while (words.size() < 100000)
        words += "word" + QByteArray::number(words.size()) + ' ';
    for (const QByteArray &pasted : {lambdas, words, digits.left(2 << 20)}) {
        m_console->PasteText(pasted);
        QTRY_VERIFY(!m_console->IsPasting());
        QVERIFY(InputText(*m_console).size() > pasted.size());   // shown with breaks
        QTest::keyClick(m_console.get(), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(m_console->PlainText(0, m_console->GetLength()).endsWith(pasted + "\n" + pasted + "\n"), 30000);
        QCOMPARE(longestLine(), qsizetype(columns));
    }
    // Words are broken between words where one ends near the edge.
    QVERIFY(m_console->GetText().contains(" \nword"));
}

void TstConsole::framingFollowsKeywordSet_data()
{
    QTest::addColumn<int>("keywordSet");
    QTest::addColumn<QString>("program");   // the name the line echo runs under; empty: its own
    QTest::addColumn<QByteArray>("echo");

    const QByteArray framed("<[cmd]>\n<(x)>\n<[/cmd]>\n");
    QTest::newRow("newLISP framed") << 2 << QString() << framed;
    QTest::newRow("Common Lisp plain") << 0 << QString() << QByteArray("<(x)>\n");
    QTest::newRow("Scheme plain") << 1 << QString() << QByteArray("<(x)>\n");
    // A Lisp Talvex knows by its name speaks its own dialect, whatever the keyword set.
    QTest::newRow("newlisp program, Common Lisp set") << 0 << QStringLiteral("newlisp") << framed;
    QTest::newRow("sbcl program, newLISP set") << 2 << QStringLiteral("sbcl") << QByteArray("<(x)>\n");
}

void TstConsole::framingFollowsKeywordSet()
{
    QFETCH(int, keywordSet);
    QFETCH(QString, program);
    QFETCH(QByteArray, echo);

    CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("KeywordSet"), keywordSet);
    CTalvexPipe console;
    console.ConfigureConsole();
    // A later change of the keyword set does not change the framing.
    CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("KeywordSet"), keywordSet == 2 ? 0 : 2);
    std::string commandLine = kLineEcho;
    if (!program.isEmpty()) {
        const QString link = m_tmp.filePath(program);
        QFile::remove(link);
        QVERIFY(QFile::link(QStringLiteral("/usr/bin/sed"), link));
        commandLine.replace(0, commandLine.find(' '), link.toStdString());
    }
    console.SetCommandLine(commandLine);
    QVERIFY(console.StartLisp());
    QTest::keyClicks(&console, "(x)");
    QTest::keyClick(&console, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(console.GetText().endsWith(echo), 5000);
    QCOMPARE(console.GetText(), "(x)\n" + echo);
    QCOMPARE(console.Dialect().frameCommands, echo.startsWith("<[cmd]"));
}

// Interrupt Lisp stops a running form in the real Clojure, whose REPL would end without the
// break handler the console puts in force first; the definitions made before are kept.
void TstConsole::clojureInterruptKeepsSession()
{
    if (!QFile::exists(QStringLiteral("/usr/bin/clojure")))
        QSKIP("Clojure is not installed");
    m_console->SetCommandLine("/usr/bin/clojure");
    QVERIFY(m_console->StartLisp());
    Type(*m_console, "(def kept 41)");
    QTest::keyClick(m_console.get(), Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(m_console->GetText().contains("#'user/kept"), 60000);
    Type(*m_console, "(loop [i 0] (recur (inc i)))");
    QTest::keyClick(m_console.get(), Qt::Key_Return);
    QTest::qWait(1000);
    QVERIFY(m_console->CanInterrupt());
    m_console->InterruptLisp();
    QTRY_VERIFY_WITH_TIMEOUT(m_console->GetText().contains("ThreadDeath"), 10000);
    Type(*m_console, "(inc kept)");
    QTest::keyClick(m_console.get(), Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(m_console->GetText().contains("\n42\n"), 10000);
    QVERIFY(m_console->IsLispRunning());
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
    QCOMPARE(MacroexpandText(form, DialectForKeywordSet(0)), macroexpand);
    QCOMPARE(PrettyPrintText(form, DialectForKeywordSet(0)), prettyPrint);
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
    m_console->SetCommandLine("/usr/bin/before");
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
    QCOMPARE(m_console->CommandLine(), std::string("/usr/bin/before"));
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
    QCOMPARE(QString::fromStdString(m_console->CommandLine()), path);
    QCOMPARE(CSettingsStore::Instance().ReadString(kSettings, QStringLiteral("Lisp"), QString()), path);
    QVERIFY(!m_console->IsLispRunning()); // choosing does not start anything
}

void TstConsole::cancelStoresNothing()
{
    CSettingsStore::Instance().WriteString(kSettings, QStringLiteral("Lisp"), QStringLiteral("/usr/bin/old"));
    m_console->SetCommandLine("/usr/bin/old");
    int calls = 0;
    SetLispPathChooser([&](QWidget *, const LispDialogSetup &) { ++calls; return QString(); });
    QVERIFY(!SetLispPath(nullptr, *m_console));
    QCOMPARE(calls, 1);
    QCOMPARE(m_console->CommandLine(), std::string("/usr/bin/old"));
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
    QCOMPARE(QString::fromStdString(m_console->CommandLine()), sbcl);
    QCOMPARE(CSettingsStore::Instance().ReadString(kSettings, QStringLiteral("Lisp"), QString()), sbcl);
}

// The dialog shows every file of a folder (an executable, a link to one and a plain file), and
// a file that cannot be run is refused with a message instead of stored.
void TstConsole::dialogListsEveryFile()
{
    const QString folder = m_tmp.filePath(QStringLiteral("bin"));
    QVERIFY(QDir().mkpath(folder));
    QFile lisp(folder + QStringLiteral("/sbcl"));
    QVERIFY(lisp.open(QIODevice::WriteOnly));
    lisp.write("#!/bin/sh\nexec cat\n");
    lisp.close();
    QVERIFY(lisp.setPermissions(lisp.permissions() | QFileDevice::ExeOwner));
    QVERIFY(QFile::link(lisp.fileName(), folder + QStringLiteral("/ecl")));
    QFile notes(folder + QStringLiteral("/notes.txt"));
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.close();
    // The dialog opens where the first known Lisp on the search path lives.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", folder.toLocal8Bit() + ":" + path);
    CSettingsStore::Instance().WriteString(kSettings, QStringLiteral("Lisp"), QStringLiteral("/usr/bin/before"));

    QStringList listed;
    ModalDriver driver;
    driver.Push([&](QWidget *w) {
        auto *dialog = qobject_cast<QFileDialog *>(w);
        auto *view = dialog ? dialog->findChild<QListView *>(QStringLiteral("listView")) : nullptr;
        if (view) {
            // The folder is read in the background.
            (void)QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) >= 3; }, 5000);
            for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row)
                listed.append(view->model()->index(row, 0, view->rootIndex()).data().toString());
        }
        ModalDriver::ChooseFile(notes.fileName())(w);
    });
    driver.Push(ModalDriver::Answer(QMessageBox::Ok));
    const bool stored = SetLispPath(nullptr, *m_console);
    qputenv("PATH", path);

    listed.sort();
    QCOMPARE(listed, (QStringList{QStringLiteral("ecl"), QStringLiteral("notes.txt"), QStringLiteral("sbcl")}));
    QVERIFY(!stored);
    QCOMPARE(driver.seen.size(), 2);
    QCOMPARE(driver.seen.at(1).text, notes.fileName() + QStringLiteral(" is not a program that can be run.\n"
                                                                       "Please select your Lisp console executable."));
    QCOMPARE(driver.seen.at(1).icon, QMessageBox::Warning);
    QCOMPARE(driver.seen.at(1).caption, QStringLiteral("Talvex"));
    QCOMPARE(CSettingsStore::Instance().ReadString(kSettings, QStringLiteral("Lisp"), QString()),
             QStringLiteral("/usr/bin/before"));
}

// Choosing a known Lisp stores its dialect's keyword set when none is stored, never over one.
void TstConsole::chosenLispPicksKeywordSet_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("stored");   // -1: none
    QTest::addColumn<int>("expected"); // -1: none
    QTest::newRow("guile, none stored") << QStringLiteral("guile-3.0") << -1 << 1;
    QTest::newRow("pil, none stored") << QStringLiteral("pil") << -1 << 4;
    QTest::newRow("unknown, none stored") << QStringLiteral("mylisp") << -1 << -1;
}

void TstConsole::chosenLispPicksKeywordSet()
{
    QFETCH(QString, name);
    QFETCH(int, stored);
    QFETCH(int, expected);
    CSettingsStore &store = CSettingsStore::Instance();
    store.DeleteValue(kSettings, QStringLiteral("KeywordSet"));
    if (stored >= 0)
        store.WriteInt(kSettings, QStringLiteral("KeywordSet"), stored);
    const QString lisp = m_tmp.filePath(name);
    QFile::remove(lisp);
    QVERIFY(QFile::link(QStringLiteral("/bin/cat"), lisp));
    SetLispPathChooser([&](QWidget *, const LispDialogSetup &) { return lisp; });
    QVERIFY(SetLispPath(nullptr, *m_console));
    QCOMPARE(store.ValueNames(kSettings).contains(QStringLiteral("KeywordSet")), expected >= 0);
    QCOMPARE(store.ReadInt(kSettings, QStringLiteral("KeywordSet"), -1), expected);
}

void TstConsole::startupAsksOnlyWithoutPath()
{
    int calls = 0;
    SetLispPathChooser([&](QWidget *, const LispDialogSetup &) { ++calls; return QString(); });

    CSettingsStore::Instance().WriteString(kSettings, QStringLiteral("Lisp"), QStringLiteral("/usr/bin/sbcl --noinform"));
    QVERIFY(InitLispCommandLine(nullptr, *m_console));
    QCOMPARE(calls, 0);
    QCOMPARE(m_console->CommandLine(), std::string("/usr/bin/sbcl --noinform"));

    CSettingsStore::Instance().DeleteValue(kSettings, QStringLiteral("Lisp"));
    QVERIFY(!InitLispCommandLine(nullptr, *m_console));
    QCOMPARE(calls, 1);
    QVERIFY(m_console->CommandLine().empty());
}

QTEST_MAIN(TstConsole)
#include "tst_console.moc"
