// End-to-end tests of evaluation: editor view and console against the real Lisps of each dialect.
#include "app/CMainFrame.h"
#include "editor/CTalvexView.h"
#include "lisp/CTalvexPipe.h"
#include "editor/TextToSend.h"
#include "settings/CSettingsStore.h"
#include "ProcTable.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <memory>

namespace {

const QString kSettings = QStringLiteral("Settings");

// The main frame with the given Lisp, one new document and the console; the evaluation
// commands go through the frame's own command dispatch.
struct EvalFrame
{
    explicit EvalFrame(const char *lisp, int keywordSet = 0)
    {
        CSettingsStore::Instance().WriteString(kSettings, QStringLiteral("Lisp"), QString::fromLocal8Bit(lisp));
        CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("KeywordSet"), keywordSet);
        frame = std::make_unique<CMainFrame>();
        if (!frame->Create())
            return;
        frame->resize(700, 600);
        frame->show();
        frame->OnCommand(Cmd::FileNew);
        m_view = frame->GetActiveView();
        m_console = &frame->Console();
    }

    // Runs an evaluation command of the frame; false when it had nothing to send.
    bool Evaluate(int command)
    {
        const bool sendable = !GetTextToSend(*m_view).isEmpty();
        frame->OnCommand(command);
        return sendable;
    }

    // Puts text in the document, the caret at its end, and presses Enter with the modifiers
    // (Shift: Send To Lisp, Ctrl: Macroexpand-1, Alt: PrettyPrint).
    void PressEnter(const QByteArray &text, Qt::KeyboardModifiers modifiers)
    {
        m_view->SetText(text);
        m_view->GotoPos(m_view->GetLength());
        m_view->setFocus();
        QTest::keyClick(m_view, Qt::Key_Return, modifiers);
    }

    QByteArray Console() const { return m_console->GetText(); }

    std::unique_ptr<CMainFrame> frame;
    CTalvexView *m_view = nullptr;
    CTalvexPipe *m_console = nullptr;
};

// Process ids whose parent is ppid and whose command name is comm.
QList<qint64> ChildrenNamed(qint64 ppid, const QByteArray &comm)
{
    QList<qint64> found;
    for (const ProcEntry &p : ReadProcTable()) {
        if (p.ppid == ppid && p.comm == comm)
            found.append(p.pid);
    }
    return found;
}

bool ProcessExists(qint64 pid, const QByteArray &comm)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    return stat.open(QIODevice::ReadOnly) && stat.readAll().contains("(" + comm + ")");
}

} // namespace

class TstEvaluation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void shiftEnterSendsFormBeforeCaret();
    void wrappedCommands_data();
    void wrappedCommands();
    void commentOnLastLineDoesNotSwallowNextSend();
    void consoleLineAndHistory();
    void pasteSendsFirstLineOnly();
    void newLispFramedMultiLineDefine();
    void resetEndsProcessTree();
    void answersStandAlone();
    void interruptKeepsSession_data();
    void interruptKeepsSession();
    void dialectCommands_data();
    void dialectCommands();
    void noMacroexpandWithoutExpander_data();
    void noMacroexpandWithoutExpander();
    void picoLispAnswersInTime();
    void prefixesReachTheLisp_data();
    void prefixesReachTheLisp();
};

void TstEvaluation::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
    CSettingsStore::Instance().SetKeyPath(QStringLiteral("Software\\Quenmark\\Talvex"));
    if (!QFile::exists(QStringLiteral("/usr/bin/sbcl")))
        QSKIP("SBCL is not installed");
}

void TstEvaluation::init()
{
    CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("KeywordSet"), 0);
}

void TstEvaluation::shiftEnterSendsFormBeforeCaret()
{
    EvalFrame frame("/usr/bin/sbcl");
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().contains("* "), 10000);

    frame.m_view->SetText("(defun f (x) (* x 2))");
    frame.m_view->GotoPos(frame.m_view->GetLength());
    QTest::keyClick(frame.m_view, Qt::Key_Return, Qt::ShiftModifier);
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().contains("* \nF"), 10000);
    QCOMPARE(frame.m_view->GetText(), QByteArray("(defun f (x) (* x 2))")); // nothing inserted

    // The function now exists in that Lisp.
    frame.m_view->SetText("(f 21)");
    frame.m_view->GotoPos(frame.m_view->GetLength());
    QTest::keyClick(frame.m_view, Qt::Key_Return, Qt::ShiftModifier);
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().indexOf("42") > frame.Console().indexOf("\nF"), 10000);
}

void TstEvaluation::wrappedCommands_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<bool>("selectAll");
    QTest::addColumn<bool>("macroexpand");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("Macroexpand-1 of a selection") << QByteArray("(when a b)") << true << true << QByteArray("(IF A\n    B)");
    QTest::newRow("PrettyPrint of a quoted list") << QByteArray("'(a b)") << false << false << QByteArray("'(A B)");
    QTest::newRow("Macroexpand-1 of a symbol") << QByteArray("foo") << true << true << QByteArray("FOO");
}

void TstEvaluation::wrappedCommands()
{
    QFETCH(QByteArray, document);
    QFETCH(bool, selectAll);
    QFETCH(bool, macroexpand);
    QFETCH(QByteArray, answer);

    EvalFrame frame("/usr/bin/sbcl");
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().endsWith("* "), 10000);
    frame.m_view->SetText(document);
    if (selectAll)
        frame.m_view->SetSel(0, frame.m_view->GetLength());
    else
        frame.m_view->GotoPos(frame.m_view->GetLength());
    QVERIFY(frame.Evaluate(macroexpand ? Cmd::EditMacroexpand : Cmd::EditPrettyPrint));
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().contains(answer), 10000);
}

void TstEvaluation::commentOnLastLineDoesNotSwallowNextSend()
{
    EvalFrame frame("/usr/bin/sbcl");
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().endsWith("* "), 10000);
    frame.m_view->SetText("(+ 1 2) ; three");
    frame.m_view->SetSel(0, frame.m_view->GetLength());
    QVERIFY(frame.Evaluate(Cmd::EditPrettyPrint));
    frame.m_view->SetText("(* 6 7)");
    frame.m_view->GotoPos(frame.m_view->GetLength());
    QVERIFY(frame.Evaluate(Cmd::EditSendToLisp));
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().contains("42"), 10000);
    QVERIFY(frame.Console().contains("\n(+ 1 2)"));
    QVERIFY(!frame.Console().contains("error"));
}

void TstEvaluation::consoleLineAndHistory()
{
    EvalFrame frame("/usr/bin/sbcl");
    CTalvexPipe &console = *frame.m_console;
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().contains("* "), 10000);

    QTest::keyClicks(&console, "(+ 1 2)");
    QTest::keyClick(&console, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().contains("(+ 1 2)\n3"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().endsWith("* "), 10000); // the next prompt

    QTest::keyClick(&console, Qt::Key_Return); // empty line: no history entry
    QCOMPARE(console.History(), QList<QByteArray>{"(+ 1 2)"});

    QTest::keyClick(&console, Qt::Key_Up);
    QCOMPARE(console.GetTextRange(console.InputStart(), console.GetLength()), QByteArray("(+ 1 2)"));
    QTest::keyClick(&console, Qt::Key_Return);
    QTRY_VERIFY2_WITH_TIMEOUT(frame.Console().count("(+ 1 2)\n3") == 2, frame.Console().right(120).constData(), 10000);
    QCOMPARE(console.History(), (QList<QByteArray>{"(+ 1 2)", "(+ 1 2)"}));
}

void TstEvaluation::pasteSendsFirstLineOnly()
{
    EvalFrame frame("/usr/bin/sbcl");
    CTalvexPipe &console = *frame.m_console;
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().contains("* "), 10000);

    QApplication::clipboard()->setText(QStringLiteral("(+ 10 1)\n(+ 20 2)"));
    console.OnEditPaste();
    // The first line's answer goes before the unsent second line, which stays whole.
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().endsWith("11\n* (+ 20 2)"), 10000);
    QTest::qWait(500);
    QVERIFY(!frame.Console().contains("22"));
    QTest::keyClick(&console, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().contains("22"), 10000);
}

void TstEvaluation::newLispFramedMultiLineDefine()
{
    if (!QFile::exists(QStringLiteral("/usr/bin/newlisp")))
        QSKIP("newLISP is not installed");
    EvalFrame frame("/usr/bin/newlisp", 2);
    QVERIFY(frame.m_console->Dialect().frameCommands);

    frame.m_view->SetText("(define (sq x)\n  (* x x))");
    frame.m_view->GotoPos(frame.m_view->GetLength());
    QVERIFY(frame.Evaluate(Cmd::EditSendToLisp));
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().contains("(lambda (x) (* x x))"), 10000);

    QTest::keyClicks(frame.m_console, "(sq 7)");
    QTest::keyClick(frame.m_console, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().contains("49"), 10000);
    QVERIFY(!frame.Console().contains("ERR"));
}

void TstEvaluation::resetEndsProcessTree()
{
    EvalFrame frame("/usr/bin/sbcl");
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().contains("* "), 10000);
    QList<qint64> lisp;
    QTRY_VERIFY_WITH_TIMEOUT(!(lisp = ChildrenNamed(QCoreApplication::applicationPid(), "sbcl")).isEmpty(), 5000);
    QCOMPARE(lisp.size(), 1);

    frame.m_view->SetText("(sb-ext:run-program \"/bin/sleep\" '(\"1000\") :wait nil)");
    frame.m_view->GotoPos(frame.m_view->GetLength());
    QVERIFY(frame.Evaluate(Cmd::EditSendToLisp));
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().contains("PROCESS"), 10000);
    QList<qint64> sleeps;
    QTRY_VERIFY_WITH_TIMEOUT(!(sleeps = ChildrenNamed(lisp.first(), "sleep")).isEmpty(), 5000);
    // A daemon that cleared its environment, started through a shell that is gone: this program
    // adopted it, and it still belongs to the Lisp.
    frame.m_view->SetText("(sb-ext:run-program \"/bin/sh\" '(\"-c\" \"env -i /bin/sleep 1005 &\") :wait t)");
    frame.m_view->GotoPos(frame.m_view->GetLength());
    QVERIFY(frame.Evaluate(Cmd::EditSendToLisp));
    QList<qint64> daemons;
    QTRY_VERIFY_WITH_TIMEOUT(!(daemons = ChildrenNamed(QCoreApplication::applicationPid(), "sleep")).isEmpty(), 5000);

    frame.m_console->ResetLisp();
    QTRY_COMPARE_WITH_TIMEOUT(frame.Console().count("This is SBCL"), qsizetype(2), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessExists(sleeps.first(), "sleep"), 5000);
    QVERIFY(!ProcessExists(daemons.first(), "sleep"));
    QVERIFY(!ProcessExists(lisp.first(), "sbcl"));
    QVERIFY(frame.m_console->IsLispRunning());
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().endsWith("* "), 10000);

    // The new Lisp answers.
    QTest::keyClicks(frame.m_console, "(* 3 5)");
    QTest::keyClick(frame.m_console, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().contains("(* 3 5)\n15"), 10000);
}

// SBCL answers in two writes (the value, then a line feed and the prompt): each answer of five
// sends in a row stands on its own line.
void TstEvaluation::answersStandAlone()
{
    EvalFrame frame("/usr/bin/sbcl --noinform");
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().endsWith("* "), 10000);
    for (int i = 1; i <= 5; ++i) {
        frame.m_view->SetText("(+ 1000 " + QByteArray::number(2340 + i) + ")");
        frame.m_view->GotoPos(frame.m_view->GetLength());
        QVERIFY(frame.Evaluate(Cmd::EditSendToLisp));
        QTRY_VERIFY_WITH_TIMEOUT(frame.Console().endsWith(QByteArray::number(3340 + i) + "\n* "), 10000);
    }
    QCOMPARE(frame.Console(), QByteArray("* \n3341\n* \n3342\n* \n3343\n* \n3344\n* \n3345\n* "));
}

// A runaway form, interrupted: the same process goes on, with what it had defined.
void TstEvaluation::interruptKeepsSession_data()
{
    QTest::addColumn<QString>("lisp");
    QTest::addColumn<int>("keywordSet");
    QTest::addColumn<QByteArray>("process");
    QTest::addColumn<QByteArray>("define");
    QTest::addColumn<QByteArray>("loop");
    QTest::addColumn<QByteArray>("use");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("breakPrompt");
    QTest::newRow("SBCL") << QStringLiteral("/usr/bin/sbcl") << 0 << QByteArray("sbcl") << QByteArray("(defvar *k* 42)")
                          << QByteArray("(loop)") << QByteArray("(+ *k* 1)") << QByteArray("\n43\n") << QByteArray("0] ");
    QTest::newRow("Guile") << QStringLiteral("/usr/bin/guile") << 1 << QByteArray("guile") << QByteArray("(define k 42)")
                           << QByteArray("(let loop () (loop))") << QByteArray("(+ k 1)") << QByteArray("= 43\n")
                           << QByteArray(" [1]> ");
    // On its terminal: the break prompt of PicoLisp.
    QTest::newRow("PicoLisp") << QStringLiteral("/usr/bin/pil +") << 4 << QByteArray("pil")
                              << QByteArray("(setq K 42)") << QByteArray("(loop (inc 'N))") << QByteArray("(+ K 1)")
                              << QByteArray("-> 43\n") << QByteArray("! ");
}

void TstEvaluation::interruptKeepsSession()
{
    QFETCH(QString, lisp);
    QFETCH(int, keywordSet);
    QFETCH(QByteArray, process);
    QFETCH(QByteArray, define);
    QFETCH(QByteArray, loop);
    QFETCH(QByteArray, use);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, breakPrompt);
    if (!QFile::exists(lisp.section(u' ', 0, 0)))
        QSKIP("not installed");
    EvalFrame frame(lisp.toLocal8Bit().constData(), keywordSet);
    CTalvexPipe &console = *frame.m_console;
    QList<qint64> pids;
    QTRY_VERIFY_WITH_TIMEOUT(!(pids = ChildrenNamed(QCoreApplication::applicationPid(), process)).isEmpty(), 5000);
    console.SendToLisp(define);
    console.SendToLisp(loop);
    QTest::qWait(300);
    const qsizetype banners = frame.Console().count("GNU") + frame.Console().count("This is SBCL");
    console.InterruptLisp();
    QVERIFY(frame.Console().contains("<INTERRUPT>: Interrupt sent to Lisp"));
    // The Lisp's break loop: typed-ahead input is cleared when it starts, so the user answers its prompt.
    QTRY_VERIFY2_WITH_TIMEOUT(frame.Console().endsWith(breakPrompt), frame.Console().right(400).constData(), 5000);
    console.SendToLisp(use);
    QTRY_VERIFY2_WITH_TIMEOUT(frame.Console().contains(answer), frame.Console().right(400).constData(), 10000);
    QCOMPARE(ChildrenNamed(QCoreApplication::applicationPid(), process), pids);
    QCOMPARE(frame.Console().count("GNU") + frame.Console().count("This is SBCL"), banners);
}

// Each dialect with its Lisp from Debian: the console shows the Lisp's prompt before anything is
// sent, then the answer to an evaluation key in the dialect's own words, and no error.
void TstEvaluation::dialectCommands_data()
{
    QTest::addColumn<QString>("lisp");
    QTest::addColumn<int>("keywordSet");
    QTest::addColumn<QByteArray>("prompt");
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<int>("modifier");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("error");

    const int shift = Qt::ShiftModifier, ctrl = Qt::ControlModifier, alt = Qt::AltModifier;
    const QByteArray guile = "scheme@(guile-user)> ";
    QTest::newRow("Guile, PrettyPrint") << QStringLiteral("/usr/bin/guile") << 1 << guile << QByteArray("'(a b)") << alt
                                        << QByteArray("> \n'(a b)\n" + guile) << QByteArray("new prompt");
    QTest::newRow("Guile, Macroexpand-1") << QStringLiteral("/usr/bin/guile") << 1 << guile << QByteArray("(when a b)")
                                          << ctrl << QByteArray("> \n(if a b)\n" + guile) << QByteArray("new prompt");
    QTest::newRow("newLISP, PrettyPrint") << QStringLiteral("/usr/bin/newlisp") << 2 << QByteArray("> ")
                                          << QByteArray("'(a b)") << alt << QByteArray("> \n'(a b)\n> ") << QByteArray("ERR");
    QTest::newRow("PicoLisp, PrettyPrint") << QStringLiteral("/usr/bin/pil +") << 4 << QByteArray(": ")
                                           << QByteArray("'(a b)") << alt << QByteArray(": \n'(a b)\n-> NIL\n: ")
                                           << QByteArray("!?");
    // On a terminal, readline would take the tab for its completion key.
    QTest::newRow("newLISP, a tab in the form") << QStringLiteral("/usr/bin/newlisp") << 2 << QByteArray("> ")
                                                << QByteArray("(list 1\t2 \"\xce\xbb\")") << shift
                                                << QByteArray("> \n(1 2 \"\xce\xbb\")\n> ") << QByteArray("ERR");
    QTest::newRow("PicoLisp, a tab in the form") << QStringLiteral("/usr/bin/pil +") << 4 << QByteArray(": ")
                                                 << QByteArray("(list 1\t2 \"\xce\xbb\")") << shift
                                                 << QByteArray(": \n-> (1 2 \"\xce\xbb\")\n: ") << QByteArray("!?");
    QTest::newRow("bare picolisp, PrettyPrint") << QStringLiteral("/usr/bin/picolisp") << 4 << QByteArray(": ")
                                                << QByteArray("'(a b)") << alt << QByteArray(": \n'(a b)\n-> NIL\n: ")
                                                << QByteArray("!?");
    QTest::newRow("Clojure, vector") << QStringLiteral("/usr/bin/clojure") << 5 << QByteArray("user=> ")
                                     << QByteArray("[1 (+ 1 1) 3]") << shift << QByteArray("user=> \n[1 2 3]\nuser=> ")
                                     << QByteArray("Exception");
    QTest::newRow("Clojure, map") << QStringLiteral("/usr/bin/clojure") << 5 << QByteArray("user=> ")
                                  << QByteArray("{:a (+ 1 2)}") << shift << QByteArray("user=> \n{:a 3}\nuser=> ")
                                  << QByteArray("Exception");
}

void TstEvaluation::dialectCommands()
{
    QFETCH(QString, lisp);
    QFETCH(int, keywordSet);
    QFETCH(QByteArray, prompt);
    QFETCH(QByteArray, document);
    QFETCH(int, modifier);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, error);
    if (!QFile::exists(lisp.section(u' ', 0, 0)))
        QSKIP("not installed");
    EvalFrame frame(lisp.toLocal8Bit().constData(), keywordSet);
    QTRY_VERIFY2_WITH_TIMEOUT(frame.Console().endsWith(prompt), frame.Console().constData(), 20000);
    frame.PressEnter(document, Qt::KeyboardModifiers(modifier));
    QTRY_VERIFY2_WITH_TIMEOUT(frame.Console().endsWith(answer), frame.Console().constData(), 20000);
    QVERIFY2(!frame.Console().contains(error), frame.Console().constData());
    QCOMPARE(frame.m_view->GetText(), document);   // the keys typed nothing
}

// newLISP and PicoLisp have no macro expansion: Macroexpand-1 is disabled and its key sends
// nothing, while Send To Lisp goes on.
void TstEvaluation::noMacroexpandWithoutExpander_data()
{
    QTest::addColumn<QString>("lisp");
    QTest::addColumn<int>("keywordSet");
    QTest::addColumn<QByteArray>("prompt");
    QTest::newRow("newLISP") << QStringLiteral("/usr/bin/newlisp") << 2 << QByteArray("> ");
    QTest::newRow("PicoLisp") << QStringLiteral("/usr/bin/pil +") << 4 << QByteArray(": ");
}

void TstEvaluation::noMacroexpandWithoutExpander()
{
    QFETCH(QString, lisp);
    QFETCH(int, keywordSet);
    QFETCH(QByteArray, prompt);
    if (!QFile::exists(lisp.section(u' ', 0, 0)))
        QSKIP("not installed");
    EvalFrame frame(lisp.toLocal8Bit().constData(), keywordSet);
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().endsWith(prompt), 20000);
    frame.PressEnter("(when 1 2)", Qt::ControlModifier);
    QTRY_VERIFY(frame.m_view->IsSendable());
    frame.frame->OnIdle();
    QVERIFY(frame.frame->UpdateUI().UIIsEnabled(Cmd::EditSendToLisp));
    QVERIFY(!frame.frame->UpdateUI().UIIsEnabled(Cmd::EditMacroexpand));
    const QByteArray before = frame.Console();
    frame.frame->OnCommand(Cmd::EditMacroexpand);   // the menu would not offer it; a key still could
    QTest::qWait(300);
    QCOMPARE(frame.Console(), before);
    frame.PressEnter("(when 1 2)", Qt::ShiftModifier);
    QTRY_VERIFY2_WITH_TIMEOUT(frame.Console().contains("2\n" + prompt), frame.Console().constData(), 10000);
}

// Over a pipe PicoLisp shows an answer only after the next send, and ends at its first error; on
// its terminal each answer comes at once, in order, and an error leaves it running.
void TstEvaluation::picoLispAnswersInTime()
{
    if (!QFile::exists(QStringLiteral("/usr/bin/pil")))
        QSKIP("PicoLisp is not installed");
    EvalFrame frame("/usr/bin/pil +", 4);
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().endsWith(": "), 20000);
    QElapsedTimer timer;
    timer.start();
    frame.PressEnter("(+ 1000 2345)", Qt::ShiftModifier);
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().contains("-> 3345\n: "), 1000);
    qInfo("answer after %lld ms", static_cast<long long>(timer.elapsed()));

    for (int i = 1; i <= 5; ++i)
        frame.PressEnter("(* " + QByteArray::number(i) + " 11)", Qt::ShiftModifier);
    // A send that comes while an answer is half written puts its line break there, after "-> ".
    const auto answer = [](int value) {
        return QRegularExpression(QStringLiteral("-> \\n?%1\\n").arg(value));
    };
    QTRY_VERIFY2_WITH_TIMEOUT(QString::fromUtf8(frame.Console()).contains(answer(55)), frame.Console().constData(), 5000);
    const QString console = QString::fromUtf8(frame.Console());
    qsizetype at = console.indexOf(QStringLiteral("3345"));
    for (int i = 1; i <= 5; ++i) {
        const qsizetype next = console.indexOf(answer(i * 11), at);
        QVERIFY2(next > at, frame.Console().constData());
        at = next;
    }

    frame.PressEnter("(car 5)", Qt::ShiftModifier);
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().contains("5 -- Variable expected\n? "), 5000);
    frame.PressEnter("(+ 1 2)", Qt::ShiftModifier);
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().endsWith("-> 3\n? "), 5000);
    QVERIFY(frame.m_console->IsLispRunning());
}

// Shift+Enter after each form, in one session: the Lisp answers the form as written, prefixes
// and all. The last answer shows that a prefix with nothing to read after it arrived too.
void TstEvaluation::prefixesReachTheLisp_data()
{
    QTest::addColumn<QString>("lisp");
    QTest::addColumn<int>("keywordSet");
    QTest::addColumn<QByteArray>("prompt");
    QTest::addColumn<QList<QByteArray>>("forms");
    QTest::addColumn<QList<QByteArray>>("answers");
    QTest::newRow("SBCL") << QStringLiteral("/usr/bin/sbcl --noinform") << 0 << QByteArray("* ")
                          << QList<QByteArray>{"'(a b c)", "`(1 ,(+ 1 1))", "#(1 2 3)", "#'(lambda (x) x)",
                                               "#+sbcl (list 1)", "#-nope (list 2)", "`(a ,(+ 1 2)"}
                          << QList<QByteArray>{"\n(A B C)\n", "\n(1 2)\n", "\n#(1 2 3)\n", "#<FUNCTION (LAMBDA (X))",
                                               "\n(1)\n", "\n(2)\n", "Comma not inside a backquote"};
    QTest::newRow("Clojure") << QStringLiteral("/usr/bin/clojure") << 5 << QByteArray("user=> ")
                             << QList<QByteArray>{"'(a b c)", "`(1 ~(+ 1 1))", "#{1 2}", "@(atom 42)",
                                                  "#:a{:b 1}", "#?(:clj 1 :cljs 2)", "#_(+ 5 5)", "(+ 3 4)"}
                             << QList<QByteArray>{"\n(a b c)\n", "\n(1 2)\n", "\n#{1 2}\n", "\n42\n",
                                                  "\n#:a{:b 1}\n", "\n1\n", "", "user=> \n7\nuser=> "};
}

void TstEvaluation::prefixesReachTheLisp()
{
    QFETCH(QString, lisp);
    QFETCH(int, keywordSet);
    QFETCH(QByteArray, prompt);
    QFETCH(QList<QByteArray>, forms);
    QFETCH(QList<QByteArray>, answers);
    if (!QFile::exists(lisp.section(u' ', 0, 0)))
        QSKIP("not installed");
    EvalFrame frame(lisp.toLocal8Bit().constData(), keywordSet);
    QTRY_VERIFY2_WITH_TIMEOUT(frame.Console().endsWith(prompt), frame.Console().constData(), 20000);
    qsizetype seen = frame.Console().size();
    for (qsizetype i = 0; i < forms.size(); ++i) {
        frame.PressEnter(forms[i], Qt::ShiftModifier);
        if (answers[i].isEmpty())
            continue;
        // The next form goes once the Lisp waits again, so its line break follows the prompt.
        const bool last = i + 1 == forms.size();
        QTRY_VERIFY2_WITH_TIMEOUT(frame.Console().indexOf(answers[i], seen) >= 0 && (last || frame.Console().endsWith(prompt)),
                                  frame.Console().constData(), 20000);
        seen = frame.Console().indexOf(answers[i], seen) + answers[i].size();
    }
    // Had the #_ not gone with its form, Clojure would have answered 10 first.
    QVERIFY2(!frame.Console().contains("\n10\n"), frame.Console().constData());
}

QTEST_MAIN(TstEvaluation)
#include "tst_evaluation.moc"
