// End-to-end tests of evaluation: editor view and console against real SBCL and newLISP processes.
#include "editor/CTalvexView.h"
#include "editor/SendToLispEvent.h"
#include "lisp/CTalvexPipe.h"
#include "lisp/LispCommands.h"
#include "editor/TextToSend.h"
#include "settings/CSettingsStore.h"
#include "ProcTable.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

namespace {

const QString kSettings = QStringLiteral("Settings");

// Stands in for the main frame: an editor above, the console below, and the frame's handler of
// the send-to-Lisp event.
class EvalFrame : public QWidget
{
public:
    explicit EvalFrame(const char *lisp)
        : m_view(new CTalvexView(this)), m_console(new CTalvexPipe(this))
    {
        auto *layout = new QVBoxLayout(this);
        layout->addWidget(m_view);
        layout->addWidget(m_console);
        m_view->ConfigureView();
        m_console->m_strCommandLine = lisp;
        m_console->ConfigureConsole();
        resize(700, 600);
        show();
    }

    // The frame's evaluation command: text from the view, wrapped, delivered as the event.
    bool Evaluate(QByteArray (*wrap)(const QByteArray &))
    {
        QByteArray text = GetTextToSend(*m_view);
        if (text.isEmpty())
            return false;
        SendToLispEvent ev(wrap ? wrap(text) : text);
        QCoreApplication::sendEvent(this, &ev);
        return true;
    }

    QByteArray Console() const { return m_console->GetText(); }

    CTalvexView *m_view;
    CTalvexPipe *m_console;

protected:
    bool event(QEvent *e) override
    {
        if (e->type() == SendToLispEvent::Type) {
            SendToLisp(*m_console, static_cast<SendToLispEvent *>(e)->Text());
            return true;
        }
        return QWidget::event(e);
    }
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
};

void TstEvaluation::initTestCase()
{
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
    QVERIFY(frame.m_console->StartLisp());
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
    QVERIFY(frame.m_console->StartLisp());
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().endsWith("* "), 10000);
    frame.m_view->SetText(document);
    if (selectAll)
        frame.m_view->SetSel(0, frame.m_view->GetLength());
    else
        frame.m_view->GotoPos(frame.m_view->GetLength());
    QVERIFY(frame.Evaluate(macroexpand ? &MacroexpandText : &PrettyPrintText));
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().contains(answer), 10000);
}

void TstEvaluation::commentOnLastLineDoesNotSwallowNextSend()
{
    EvalFrame frame("/usr/bin/sbcl");
    QVERIFY(frame.m_console->StartLisp());
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().endsWith("* "), 10000);
    frame.m_view->SetText("(+ 1 2) ; three");
    frame.m_view->SetSel(0, frame.m_view->GetLength());
    QVERIFY(frame.Evaluate(&PrettyPrintText));
    frame.m_view->SetText("(* 6 7)");
    frame.m_view->GotoPos(frame.m_view->GetLength());
    QVERIFY(frame.Evaluate(nullptr));
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().contains("42"), 10000);
    QVERIFY(frame.Console().contains("\n(+ 1 2)"));
    QVERIFY(!frame.Console().contains("error"));
}

void TstEvaluation::consoleLineAndHistory()
{
    EvalFrame frame("/usr/bin/sbcl");
    CTalvexPipe &console = *frame.m_console;
    QVERIFY(console.StartLisp());
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
    QVERIFY(console.StartLisp());
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().contains("* "), 10000);

    QApplication::clipboard()->setText(QStringLiteral("(+ 10 1)\n(+ 20 2)"));
    console.OnEditPaste();
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().contains("(+ 20 2)11"), 10000);
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
    QVERIFY(frame.m_console->m_bFrameCommands);
    QVERIFY(frame.m_console->StartLisp());

    frame.m_view->SetText("(define (sq x)\n  (* x x))");
    frame.m_view->GotoPos(frame.m_view->GetLength());
    QVERIFY(frame.Evaluate(nullptr));
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().contains("(lambda (x) (* x x))"), 10000);

    QTest::keyClicks(frame.m_console, "(sq 7)");
    QTest::keyClick(frame.m_console, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().contains("49"), 10000);
    QVERIFY(!frame.Console().contains("ERR"));
}

void TstEvaluation::resetEndsProcessTree()
{
    EvalFrame frame("/usr/bin/sbcl");
    QVERIFY(frame.m_console->StartLisp());
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().contains("* "), 10000);
    QList<qint64> lisp;
    QTRY_VERIFY_WITH_TIMEOUT(!(lisp = ChildrenNamed(QCoreApplication::applicationPid(), "sbcl")).isEmpty(), 5000);
    QCOMPARE(lisp.size(), 1);

    frame.m_view->SetText("(sb-ext:run-program \"/bin/sleep\" '(\"1000\") :wait nil)");
    frame.m_view->GotoPos(frame.m_view->GetLength());
    QVERIFY(frame.Evaluate(nullptr));
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().contains("PROCESS"), 10000);
    QList<qint64> sleeps;
    QTRY_VERIFY_WITH_TIMEOUT(!(sleeps = ChildrenNamed(lisp.first(), "sleep")).isEmpty(), 5000);

    ResetLisp(*frame.m_console);
    QTRY_COMPARE_WITH_TIMEOUT(frame.Console().count("This is SBCL"), qsizetype(2), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessExists(sleeps.first(), "sleep"), 5000);
    QVERIFY(!ProcessExists(lisp.first(), "sbcl"));
    QVERIFY(frame.m_console->IsLispRunning());
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().endsWith("* "), 10000);

    // The new Lisp answers.
    QTest::keyClicks(frame.m_console, "(* 3 5)");
    QTest::keyClick(frame.m_console, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(frame.Console().contains("(* 3 5)\n15"), 10000);
}

QTEST_MAIN(TstEvaluation)
#include "tst_evaluation.moc"
