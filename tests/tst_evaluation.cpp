// End-to-end tests of evaluation: editor view and console against real SBCL and newLISP processes.
#include "app/CMainFrame.h"
#include "editor/CTalvexView.h"
#include "lisp/CTalvexPipe.h"
#include "editor/TextToSend.h"
#include "settings/CSettingsStore.h"
#include "ProcTable.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTest>

#include <memory>

namespace {

const QString kSettings = QStringLiteral("Settings");

// The main frame with the given Lisp, one new document and the console; the evaluation
// commands go through the frame's own command dispatch.
struct EvalFrame
{
    explicit EvalFrame(const char *lisp)
    {
        CSettingsStore::Instance().WriteString(kSettings, QStringLiteral("Lisp"), QString::fromLocal8Bit(lisp));
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
    QTest::newRow("PrettyPrint after a quote") << QByteArray("'(a b)") << false << false << QByteArray("(A B)");
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
    CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("KeywordSet"), 2);
    EvalFrame frame("/usr/bin/newlisp");
    QVERIFY(frame.m_console->FramesCommands());

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
    QTest::addColumn<QByteArray>("define");
    QTest::addColumn<QByteArray>("loop");
    QTest::addColumn<QByteArray>("use");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("breakPrompt");
    QTest::newRow("SBCL") << QStringLiteral("/usr/bin/sbcl") << QByteArray("(defvar *k* 42)") << QByteArray("(loop)")
                          << QByteArray("(+ *k* 1)") << QByteArray("\n43\n") << QByteArray("0] ");
    QTest::newRow("Guile") << QStringLiteral("/usr/bin/guile") << QByteArray("(define k 42)")
                           << QByteArray("(let loop () (loop))") << QByteArray("(+ k 1)") << QByteArray("= 43\n")
                           << QByteArray(" [1]> ");
}

void TstEvaluation::interruptKeepsSession()
{
    QFETCH(QString, lisp);
    QFETCH(QByteArray, define);
    QFETCH(QByteArray, loop);
    QFETCH(QByteArray, use);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, breakPrompt);
    if (!QFile::exists(lisp))
        QSKIP("not installed");
    EvalFrame frame(lisp.toLocal8Bit().constData());
    CTalvexPipe &console = *frame.m_console;
    QList<qint64> pids;
    QTRY_VERIFY_WITH_TIMEOUT(!(pids = ChildrenNamed(QCoreApplication::applicationPid(),
                                                    QFileInfo(lisp).fileName().toLocal8Bit())).isEmpty(), 5000);
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
    QCOMPARE(ChildrenNamed(QCoreApplication::applicationPid(), QFileInfo(lisp).fileName().toLocal8Bit()), pids);
    QCOMPARE(frame.Console().count("GNU") + frame.Console().count("This is SBCL"), banners);
}

QTEST_MAIN(TstEvaluation)
#include "tst_evaluation.moc"
