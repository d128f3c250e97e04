// Tests of the Scintilla wrapper, the Lisp editor view, the keyword lists and the text sent to Lisp.
#include "editor/CTalvexView.h"
#include "editor/KeywordSets.h"
#include "editor/LispSyntax.h"
#include "editor/SendToLispEvent.h"
#include "editor/TextToSend.h"
#include "settings/CSettingsStore.h"

#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

namespace {

const QString kSettings = QStringLiteral("Settings");

// A top-level window that records what an editor view sends to it.
class RecordingWindow : public QWidget
{
public:
    QList<QByteArray> m_sent;
    QList<QPoint> m_menus;

protected:
    bool event(QEvent *e) override
    {
        if (e->type() == SendToLispEvent::Type) {
            m_sent.append(static_cast<SendToLispEvent *>(e)->Text());
            return true;
        }
        return QWidget::event(e);
    }
    void contextMenuEvent(QContextMenuEvent *e) override { m_menus.append(e->globalPos()); }
};

QStringList Words(int set) { return QString::fromLatin1(KeywordList(set)).split(QLatin1Char(' ')); }

int StyleGroup(const QString &w)
{
    static const QRegularExpression special(QStringLiteral("^\\*[a-z].*\\*$"));
    if (special.match(w).hasMatch())
        return 0;
    if (w.startsWith(QLatin1Char('&')))
        return 1;
    return w.at(0).isLetter() ? 3 : 2;
}

// Share of the pixels of a character cell that show the given background colour.
double CellShare(CScintillaCtrl &view, const QImage &image, CScintillaCtrl::Pos pos, QRgb colour)
{
    const int x = static_cast<int>(view.SendScintilla(QsciScintillaBase::SCI_POINTXFROMPOSITION, 0UL, static_cast<long>(pos)));
    const int y = static_cast<int>(view.SendScintilla(QsciScintillaBase::SCI_POINTYFROMPOSITION, 0UL, static_cast<long>(pos)));
    const int x2 = static_cast<int>(view.SendScintilla(QsciScintillaBase::SCI_POINTXFROMPOSITION, 0UL, static_cast<long>(pos + 1)));
    const int h = static_cast<int>(view.SendScintilla(QsciScintillaBase::SCI_TEXTHEIGHT, 0UL));
    const QPoint origin = view.viewport()->mapTo(&view, QPoint(0, 0));
    int hits = 0, total = 0;
    for (int yy = y; yy < y + h; ++yy)
        for (int xx = x; xx < x2; ++xx, ++total)
            hits += (image.pixel(origin.x() + xx, origin.y() + yy) & 0xFFFFFF) == (colour & 0xFFFFFF);
    return total ? double(hits) / total : 0.0;
}

} // namespace

class TestEditor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { CSettingsStore::Instance().SetKeyPath(QStringLiteral("Software\\Quenmark\\Talvex")); }
    void init()
    {
        ResetSettings();
        SetActiveReaderDialect(ReaderDialect::CommonLisp);
    }

    void keywordCounts_data();
    void keywordCounts();
    void keywordListOutsideRange();
    void commonLispOrder();
    void commonLispMatchesSbcl();
    void keywordSetApplied_data();
    void keywordSetApplied();
    void colouringGolden();
    void lispSetupDefaults();
    void fontRule_data();
    void fontRule();
    void tabsAsSpaces();
    void braces_data();
    void braces();
    void updateUiRunsHighlighter();
    void lineNumberMarginFits();
    void textToSend_data();
    void textToSend();
    void nulBytes();
    void rectangularSelection();
    void enterInsertsLineEnd_data();
    void enterInsertsLineEnd();
    void enterReplacesSelection();
    void altKeysTypeNothing_data();
    void altKeysTypeNothing();
    void sendKeys_data();
    void sendKeys();
    void contextMenuGoesToWindow();
    void accessibleOffsets();

private:
    static void ResetSettings()
    {
        auto &s = CSettingsStore::Instance();
        for (const char *name : {"TabSize", "TabUsesSpaces", "KeywordSet", "LineEnding", "FontSize", "FontName"})
            s.DeleteValue(kSettings, QString::fromLatin1(name));
    }
    static void Configure(CTalvexView &view, const QByteArray &text)
    {
        view.ConfigureView();
        view.resize(600, 300);
        view.SetText(text);
        view.Colourise(0, -1);
    }
};

void TestEditor::keywordCounts_data()
{
    QTest::addColumn<int>("set");
    QTest::addColumn<int>("words");
    QTest::addColumn<int>("distinct");
    QTest::newRow("Common Lisp") << 0 << 978 << 978;
    QTest::newRow("Scheme") << 1 << 260 << 254;
    QTest::newRow("newLISP") << 2 << 384 << 384;
    QTest::newRow("ISLISP") << 3 << 62 << 62;
    QTest::newRow("PicoLisp") << 4 << 564 << 564;
    QTest::newRow("Clojure") << 5 << 588 << 588;
}

void TestEditor::keywordCounts()
{
    QFETCH(int, set);
    QFETCH(int, words);
    QFETCH(int, distinct);
    const QByteArray list(KeywordList(set));
    QVERIFY(!list.isEmpty());
    for (char c : list)
        QVERIFY2(c > ' ' - 1 && c < 127, "printable ASCII only");
    QVERIFY2(!list.contains("  ") && !list.startsWith(' ') && !list.endsWith(' '), "single spaces between words");
    const QStringList w = Words(set);
    QCOMPARE(w.size(), words);
    QCOMPARE(QSet<QString>(w.begin(), w.end()).size(), distinct);
}

void TestEditor::keywordListOutsideRange()
{
    for (int set : {-1, 6, 7, 1000})
        QVERIFY(KeywordList(set) == nullptr);
}

void TestEditor::commonLispOrder()
{
    const QStringList w = Words(0);
    // Groups in order: special variables, lambda-list keywords, operator symbols, the rest;
    // each group in alphabetical order.
    for (int i = 1; i < w.size(); ++i) {
        const int g0 = StyleGroup(w[i - 1]), g1 = StyleGroup(w[i]);
        QVERIFY2(g0 < g1 || (g0 == g1 && w[i - 1] < w[i]), qPrintable(w[i - 1] + QLatin1Char(' ') + w[i]));
    }
    for (const QString &word : w)
        QCOMPARE(word, word.toLower());
    QCOMPARE(w.first(), QStringLiteral("*break-on-signals*"));
    QCOMPARE(w[w.indexOf(QStringLiteral("*trace-output*")) + 1], QStringLiteral("&allow-other-keys"));
    QCOMPARE(w[w.indexOf(QStringLiteral("&whole")) + 1], QStringLiteral("*"));
    const QStringList ops = w.mid(w.indexOf(QStringLiteral("&whole")) + 1, 18);
    QCOMPARE(ops.join(QLatin1Char(' ')), QStringLiteral("* ** *** + ++ +++ - / // /// /= 1+ 1- < <= = > >="));
    QCOMPARE(w[w.indexOf(QStringLiteral(">=")) + 1], QStringLiteral("abort"));
    QCOMPARE(w.last(), QStringLiteral("zerop"));
}

void TestEditor::commonLispMatchesSbcl()
{
    // The list holds exactly the external symbols of COMMON-LISP, as a real Lisp reports them.
    QProcess sbcl;
    sbcl.start(QStringLiteral("sbcl"), {QStringLiteral("--noinform"), QStringLiteral("--non-interactive"), QStringLiteral("--no-userinit"),
                                        QStringLiteral("--eval"),
                                        QStringLiteral("(do-external-symbols (s :cl) (write-line (string-downcase (symbol-name s))))")});
    if (!sbcl.waitForStarted())
        QSKIP("sbcl is not installed");
    QVERIFY(sbcl.waitForFinished(60000));
    QStringList fromLisp = QString::fromLatin1(sbcl.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QStringList ours = Words(0);
    fromLisp.sort();
    fromLisp.removeDuplicates();
    ours.sort();
    QCOMPARE(ours, fromLisp);
}

void TestEditor::keywordSetApplied_data()
{
    QTest::addColumn<int>("set");
    QTest::addColumn<QByteArray>("word");
    QTest::addColumn<bool>("keyword");
    QTest::newRow("CL defun") << 0 << QByteArray("defun") << true;
    QTest::newRow("CL has no defn") << 0 << QByteArray("defn") << false;
    QTest::newRow("Scheme") << 1 << QByteArray("call-with-current-continuation") << true;
    QTest::newRow("newLISP Class capitalised") << 2 << QByteArray("Class") << true;
    QTest::newRow("newLISP no lower-case class") << 2 << QByteArray("class") << false;
    QTest::newRow("ISLISP") << 3 << QByteArray("defdynamic") << true;
    QTest::newRow("PicoLisp") << 4 << QByteArray("accu") << true;
    QTest::newRow("Clojure") << 5 << QByteArray("defn") << true;
    QTest::newRow("set 7: no keywords") << 7 << QByteArray("defun") << false;
    QTest::newRow("set -1: no keywords") << -1 << QByteArray("defun") << false;
}

void TestEditor::keywordSetApplied()
{
    QFETCH(int, set);
    QFETCH(QByteArray, word);
    QFETCH(bool, keyword);
    CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("KeywordSet"), set);
    CTalvexView view;
    Configure(view, "(" + word + " x)");
    QCOMPARE(view.GetStyleAt(1), keyword ? 3 : 9); // SCE_LISP_KEYWORD : SCE_LISP_IDENTIFIER
}

void TestEditor::colouringGolden()
{
    // Golden file: each line of the sample beside the style of each of its bytes (hex digit).
    QFile in(QStringLiteral(TALVEX_TEST_DATA_DIR "/colour_sample.lisp"));
    QFile golden(QStringLiteral(TALVEX_TEST_DATA_DIR "/colour_sample.styles"));
    QVERIFY(in.open(QIODevice::ReadOnly));
    QVERIFY(golden.open(QIODevice::ReadOnly));
    const QByteArray lf = in.readAll();
    const QList<QByteArray> expected = golden.readAll().split('\n');
    QByteArray crlf = lf;
    crlf.replace("\n", "\r\n");

    for (const QByteArray &text : {lf, crlf}) {
        CTalvexView view;
        Configure(view, text);
        QList<QByteArray> got{QByteArray()};
        for (CScintillaCtrl::Pos i = 0; i < view.GetLength(); ++i) {
            const char c = text.at(i);
            if (c == '\n')
                got.append(QByteArray());
            else if (c != '\r')
                got.last().append("0123456789abcdef"[view.GetStyleAt(i) & 15]);
        }
        QCOMPARE(got.size(), expected.size());
        for (int line = 0; line < got.size(); ++line)
            QCOMPARE(got[line], expected[line]);
    }
}

void TestEditor::lispSetupDefaults()
{
    CTalvexView view;
    Configure(view, "x");
    QCOMPARE(view.GetTabWidth(), 4);
    QVERIFY(view.GetUseTabs());
    QCOMPARE(view.GetEOLMode(), CSettingsStore::kDefaultLineEnding);
    QCOMPARE(view.GetMarginWidthN(0), 40);
    QCOMPARE(view.GetMarginWidthN(1), 0);
    const QList<QPair<int, int>> colours = {{0, 0xFF0000}, {1, 0x808080}, {2, 0x008000}, {3, 0xFF0000}, {4, 0xFF0000}, {5, 0x0000FF},
                                            {6, 0xFF00FF}, {8, 0xFF00FF}, {9, 0x000000}, {10, 0x0000FF}, {11, 0x0000FF}, {12, 0xFFFF00}};
    for (const auto &[style, colour] : colours)
        QCOMPARE(view.StyleGetFore(style), colour);
    QCOMPARE(view.StyleGetBack(QsciScintillaBase::STYLE_BRACELIGHT), 0x00FF00);
    QCOMPARE(view.StyleGetBack(QsciScintillaBase::STYLE_BRACEBAD), 0x0000FF);
    QCOMPARE(view.SendScintilla(QsciScintillaBase::SCI_GETMODEVENTMASK), 0L);
    QCOMPARE(view.SendScintilla(QsciScintillaBase::SCI_GETCODEPAGE), static_cast<long>(QsciScintillaBase::SC_CP_UTF8));
}

void TestEditor::fontRule_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("tenths");
    QTest::addColumn<bool>("system");
    QTest::newRow("nothing stored") << QString() << 0 << true;
    QTest::newRow("name without size") << QStringLiteral("DejaVu Sans Mono") << 0 << true;
    QTest::newRow("size without name") << QString() << 140 << true;
    QTest::newRow("empty name stored") << QStringLiteral("") << 140 << true;
    QTest::newRow("name and size") << QStringLiteral("DejaVu Sans Mono") << 140 << false;
    // A damaged settings file: sizes no font has count as absent.
    QTest::newRow("size 0x80000000") << QStringLiteral("DejaVu Sans Mono") << int(0x80000000u) << true;
    QTest::newRow("size of 10000 points") << QStringLiteral("DejaVu Sans Mono") << 100000 << true;
}

void TestEditor::fontRule()
{
    QFETCH(QString, name);
    QFETCH(int, tenths);
    QFETCH(bool, system);
    if (!name.isNull())
        QVERIFY(CSettingsStore::Instance().WriteString(kSettings, QStringLiteral("FontName"), name));
    if (tenths != 0)
        QVERIFY(CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("FontSize"), tenths));
    CTalvexView view;
    Configure(view, "x");
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const QString face = system ? fixed.family() : name;
    const int points = system ? (fixed.pointSize() > 0 ? fixed.pointSize() : QFontInfo(fixed).pointSize()) : tenths / 10;
    QVERIFY(points > 2); // never Scintilla's 2-point minimum
    for (int style : {0, 3, 6, 12}) {
        QCOMPARE(view.StyleGetSize(style), points);
        char buffer[256] = {};
        view.SendScintilla(QsciScintillaBase::SCI_STYLEGETFONT, static_cast<unsigned long>(style), buffer);
        QCOMPARE(QString::fromUtf8(buffer), face);
    }
    QCOMPARE(view.Font().family(), face);
}

void TestEditor::tabsAsSpaces()
{
    CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("TabSize"), 8);
    CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("TabUsesSpaces"), 1);
    CTalvexView view;
    Configure(view, "x");
    view.GotoPos(0);
    QTest::keyClick(&view, Qt::Key_Tab);
    QCOMPARE(view.GetText(), QByteArray(8, ' ') + "x");
}

void TestEditor::braces_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("anchor");
    QTest::addColumn<int>("caret");
    QTest::addColumn<bool>("sendable");
    QTest::addColumn<QList<int>>("green");
    QTest::addColumn<QList<int>>("red");
    QTest::addColumn<int>("keywordSet");
    QTest::newRow("start of document") << QByteArray("(a b)") << 0 << 0 << false << QList<int>{} << QList<int>{} << 0;
    QTest::newRow("after closing bracket") << QByteArray("(a b)") << 5 << 5 << true << QList<int>{0, 4} << QList<int>{} << 0;
    QTest::newRow("after opening bracket") << QByteArray("(a b)") << 1 << 1 << true << QList<int>{0, 4} << QList<int>{} << 0;
    QTest::newRow("unmatched opening") << QByteArray("(a b") << 1 << 1 << false << QList<int>{} << QList<int>{0} << 0;
    QTest::newRow("unmatched closing") << QByteArray("a b)") << 4 << 4 << false << QList<int>{} << QList<int>{3} << 0;
    QTest::newRow("between ) and (") << QByteArray("(a)(b)") << 3 << 3 << true << QList<int>{0, 2} << QList<int>{} << 0;
    QTest::newRow("square brackets in Clojure") << QByteArray("[a]") << 3 << 3 << true << QList<int>{0, 2} << QList<int>{} << 5;
    QTest::newRow("selection ending on a letter") << QByteArray("(abc)") << 1 << 4 << true << QList<int>{} << QList<int>{} << 0;
    QTest::newRow("byte 0xA9 is no bracket") << QByteArray("(x)\xc2\xa9") << 5 << 5 << false << QList<int>{} << QList<int>{} << 0;
    QTest::newRow("square brackets in Common Lisp") << QByteArray("[a]") << 3 << 3 << true << QList<int>{0, 2} << QList<int>{} << 0;
    QTest::newRow("paren in string unmatched") << QByteArray("(a \")\"") << 5 << 5 << false << QList<int>{} << QList<int>{4} << 0;
}

void TestEditor::braces()
{
    QFETCH(QByteArray, text);
    QFETCH(int, anchor);
    QFETCH(int, caret);
    QFETCH(bool, sendable);
    QFETCH(QList<int>, green);
    QFETCH(QList<int>, red);
    QFETCH(int, keywordSet);
    SetActiveReaderDialect(ReaderDialectForKeywordSet(keywordSet));
    CTalvexView view;
    Configure(view, text);
    view.show();
    view.SetSel(anchor, caret);
    QCOMPARE(view.HighlightBraces(), 0);
    QCOMPARE(view.IsSendable(), sendable);
    const QImage image = view.grab().toImage();
    for (int pos = 0; pos < text.size(); ++pos) {
        if (!QByteArray("()[]{}\xa9").contains(text.at(pos)))
            continue;
        const bool isGreen = CellShare(view, image, pos, qRgb(0, 255, 0)) > 0.3;
        const bool isRed = CellShare(view, image, pos, qRgb(255, 0, 0)) > 0.3;
        QVERIFY2(isGreen == green.contains(pos), qPrintable(QStringLiteral("green at %1").arg(pos)));
        QVERIFY2(isRed == red.contains(pos), qPrintable(QStringLiteral("red at %1").arg(pos)));
    }
}

void TestEditor::updateUiRunsHighlighter()
{
    // The highlighter runs from Scintilla's own SCN_UPDATEUI, not only when called.
    CTalvexView view;
    Configure(view, "(a b)");
    view.show();
    view.GotoPos(5);
    QTRY_VERIFY(view.IsSendable());
    view.GotoPos(2);
    QTRY_VERIFY(!view.IsSendable());
}

// Past 99 999 lines the margin widens until the largest number fits whole, and it narrows back
// to its 40 pixels when the lines go again.
void TestEditor::lineNumberMarginFits()
{
    CTalvexView view;
    Configure(view, QByteArray(99999, '\n')); // 100 000 lines
    view.show();
    const int numberWidth = view.TextWidth(QsciScintillaBase::STYLE_LINENUMBER, "100000");
    QTRY_VERIFY(view.GetMarginWidthN(0) > 40);
    // Scintilla keeps 3 pixels right of the number; the rest must hold all six digits.
    QVERIFY(view.GetMarginWidthN(0) >= numberWidth + 3);

    view.SetSel(view.GetLength() - 1, view.GetLength());
    view.ReplaceSel("");
    QCOMPARE(view.GetLineCount(), 99999);
    QTRY_COMPARE(view.GetMarginWidthN(0), 40);
    view.Undo();
    QTRY_VERIFY(view.GetMarginWidthN(0) >= numberWidth + 3);
}

void TestEditor::textToSend_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("anchor");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("keywordSet");
    const QByteArray defun("(defun f (x) (* x 2))");
    QTest::newRow("after a balanced form") << defun << 21 << 21 << defun << 0;
    QTest::newRow("inner form") << defun << 12 << 12 << QByteArray("(x)") << 0;
    QTest::newRow("unmatched closing") << QByteArray("a)") << 2 << 2 << QByteArray() << 0;
    QTest::newRow("space after form") << QByteArray("(a b) ") << 6 << 6 << QByteArray() << 0;
    QTest::newRow("inside a form") << QByteArray("(a b)") << 3 << 3 << QByteArray() << 0;
    QTest::newRow("after opening bracket") << QByteArray("(a b)") << 1 << 1 << QByteArray() << 0;
    QTest::newRow("start of document") << QByteArray("(a b)") << 0 << 0 << QByteArray() << 0;
    QTest::newRow("quote kept") << QByteArray("'(a b)") << 6 << 6 << QByteArray("'(a b)") << 0;
    QTest::newRow("square bracket ends a form") << QByteArray("(let [a 1] a)[a b]") << 18 << 18 << QByteArray("[a b]") << 5;
    QTest::newRow("brace ends a form") << QByteArray("{:a (f [1])}") << 12 << 12 << QByteArray("{:a (f [1])}") << 5;
    QTest::newRow("bracket without its match") << QByteArray("(a b]") << 5 << 5 << QByteArray() << 5;
    QTest::newRow("paren in string ignored") << QByteArray("(f \")\" x)") << 9 << 9 << QByteArray("(f \")\" x)") << 0;
    QTest::newRow("paren in comment ignored") << QByteArray("(f ; )\r\n x)") << 11 << 11 << QByteArray("(f ; )\r\n x)") << 0;
    QTest::newRow("selection wins") << QByteArray("(foo bar)") << 1 << 4 << QByteArray("foo") << 0;
    QTest::newRow("selection backwards") << QByteArray("(foo bar)") << 4 << 1 << QByteArray("foo") << 0;
    QTest::newRow("multi-line selection keeps CR LF") << QByteArray("(a\r\n b)\r\n") << 0 << 7 << QByteArray("(a\r\n b)") << 0;
}

void TestEditor::textToSend()
{
    QFETCH(QByteArray, text);
    QFETCH(int, anchor);
    QFETCH(int, caret);
    QFETCH(QByteArray, expected);
    QFETCH(int, keywordSet);
    SetActiveReaderDialect(ReaderDialectForKeywordSet(keywordSet));
    CTalvexView view;
    Configure(view, text);
    view.SetSel(anchor, caret);
    QCOMPARE(GetTextToSend(view), expected);
    QCOMPARE(view.GetText(), text);
}

void TestEditor::nulBytes()
{
    CTalvexView view;
    view.ConfigureView();
    const QByteArray text("a\0b\0\0c", 6);
    view.SetText(text);
    QCOMPARE(view.GetLength(), 6);
    QCOMPARE(view.GetCurrentPos(), 0);
    QCOMPARE(view.GetText(), text);
    QCOMPARE(view.GetTextRange(1, 5), QByteArray("\0b\0\0", 4));
    QCOMPARE(view.GetTextRange(4, 100), QByteArray("\0c", 2)); // clamped to the document
    view.AppendText(QByteArray("\0z", 2));
    QCOMPARE(view.GetText(), text + QByteArray("\0z", 2));
    view.SetSel(1, 4);
    QCOMPARE(view.GetSelText(), QByteArray("\0b\0", 3));
    view.ReplaceSel(QByteArray("\0\0", 2));
    QCOMPARE(view.GetText(), QByteArray("a\0\0\0c\0z", 7));
    QCOMPARE(view.GetCurrentPos(), 3);
}

void TestEditor::rectangularSelection()
{
    // A rectangular selection comes back as its parts, each followed by the line end.
    CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("LineEnding"), 2);
    CTalvexView view;
    Configure(view, "abc\ndef\n");
    view.SendScintilla(QsciScintillaBase::SCI_SETRECTANGULARSELECTIONANCHOR, 1UL);
    view.SendScintilla(QsciScintillaBase::SCI_SETRECTANGULARSELECTIONCARET, 7UL);
    QCOMPARE(view.GetSelText(), QByteArray("bc\nef\n"));
    QCOMPARE(GetTextToSend(view), QByteArray("bc\nef\n"));
}

void TestEditor::enterInsertsLineEnd_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("eol");
    QTest::newRow("CR LF") << 0 << QByteArray("\r\n");
    QTest::newRow("CR") << 1 << QByteArray("\r");
    QTest::newRow("LF") << 2 << QByteArray("\n");
}

void TestEditor::enterInsertsLineEnd()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, eol);
    CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("LineEnding"), mode);
    CTalvexView view;
    Configure(view, "  (foo bar)");
    view.GotoPos(6);
    QTest::keyClick(&view, Qt::Key_Return);
    // Exactly the mode's line end, and no indentation on the new line.
    QCOMPARE(view.GetText(), "  (foo" + eol + " bar)");
    QCOMPARE(view.GetCurrentPos(), 6 + eol.size());
}

void TestEditor::enterReplacesSelection()
{
    CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("LineEnding"), 2);
    CTalvexView view;
    Configure(view, "abcdef");
    view.SetSel(2, 4);
    QTest::keyClick(&view, Qt::Key_Return);
    QCOMPARE(view.GetText(), QByteArray("ab\nef"));
}

void TestEditor::altKeysTypeNothing_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("caret");
    QTest::addColumn<bool>("rectangle");
    const int alt = Qt::AltModifier;
    const int altShift = Qt::AltModifier | Qt::ShiftModifier;
    QTest::newRow("Alt+S") << int(Qt::Key_S) << alt << 2 << false;
    QTest::newRow("Alt+Q") << int(Qt::Key_Q) << alt << 2 << false;
    QTest::newRow("Alt+Shift+K") << int(Qt::Key_K) << altShift << 2 << false;
    QTest::newRow("Alt+8") << int(Qt::Key_8) << alt << 2 << false;
    // Scintilla's own Alt commands still run.
    QTest::newRow("Alt+Shift+Right extends a rectangle") << int(Qt::Key_Right) << altShift << 3 << true;
}

void TestEditor::altKeysTypeNothing()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, caret);
    QFETCH(bool, rectangle);
    CTalvexView view;
    Configure(view, "(ab)");
    view.GotoPos(2);
    QTest::keyClick(&view, static_cast<Qt::Key>(key), static_cast<Qt::KeyboardModifiers>(modifiers));
    QCOMPARE(view.GetText(), QByteArray("(ab)"));
    QCOMPARE(view.GetCurrentPos(), caret);
    QCOMPARE(view.SendScintilla(QsciScintillaBase::SCI_SELECTIONISRECTANGLE) != 0, rectangle);
    // Plain typing still types.
    view.GotoPos(2);
    QTest::keyClick(&view, Qt::Key_S);
    QCOMPARE(view.GetText(), QByteArray("(asb)"));
}

void TestEditor::sendKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QList<QByteArray>>("sent");
    const QByteArray doc("(defun f (x) (* x 2))\r\n(g)");
    QTest::newRow("Shift+Enter after form") << int(Qt::Key_Return) << int(Qt::ShiftModifier) << doc << 21 << QList<QByteArray>{doc.left(21)};
    QTest::newRow("keypad Enter after form") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << doc << 26 << QList<QByteArray>{"(g)"};
    QTest::newRow("Shift+Enter, nothing to send") << int(Qt::Key_Return) << int(Qt::ShiftModifier) << doc << 3 << QList<QByteArray>{};
    QTest::newRow("Ctrl+Enter inserts nothing") << int(Qt::Key_Return) << int(Qt::ControlModifier) << doc << 21 << QList<QByteArray>{};
}

void TestEditor::sendKeys()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QByteArray, text);
    QFETCH(int, caret);
    QFETCH(QList<QByteArray>, sent);
    RecordingWindow top;
    auto *view = new CTalvexView(&top); // owned by top
    Configure(*view, text);
    view->GotoPos(caret);
    QTest::keyClick(view, static_cast<Qt::Key>(key), static_cast<Qt::KeyboardModifiers>(modifiers));
    QCOMPARE(top.m_sent, sent);
    QCOMPARE(view->GetText(), text);
    QCOMPARE(view->GetCurrentPos(), caret);
}

void TestEditor::contextMenuGoesToWindow()
{
    RecordingWindow top;
    top.resize(400, 300);
    auto *view = new CTalvexView(&top);
    Configure(*view, "(a)");
    top.show();
    const QPoint global = view->mapToGlobal(QPoint(20, 10));
    QContextMenuEvent ev(QContextMenuEvent::Mouse, QPoint(20, 10), global);
    QCoreApplication::sendEvent(view->viewport(), &ev);
    QCOMPARE(top.m_menus, QList<QPoint>{global});
    QVERIFY(QApplication::activePopupWidget() == nullptr); // Scintilla's own menu never shows
}

void TestEditor::accessibleOffsets()
{
    // The light interface converts bytes and UTF-16 offsets per line, correctly for non-ASCII text.
    CTalvexView view;
    Configure(view, "\xc3\xa9t\xc3\xa9\n(\xf0\x9f\x98\x80 x)\n");
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&view);
    QVERIFY(iface);
    QCOMPARE(iface->role(), QAccessible::EditableText);
    QAccessibleTextInterface *text = iface->textInterface();
    QVERIFY(text);
    const QString expected = QString::fromUtf8("\xc3\xa9t\xc3\xa9\n(\xf0\x9f\x98\x80 x)\n");
    QCOMPARE(text->characterCount(), expected.size());
    QCOMPARE(text->text(0, expected.size()), expected);
    view.GotoPos(11); // after the emoji: bytes 0-5 are the first line, '(' is 6, the emoji 7..10
    QCOMPARE(text->cursorPosition(), 7);
    text->setSelection(0, 5, 7);
    QCOMPARE(view.GetSelectionStart(), 7);
    QCOMPARE(view.GetSelectionEnd(), 11);
    int start = 0, end = 0;
    QCOMPARE(text->textAtOffset(6, QAccessible::LineBoundary, &start, &end), QString::fromUtf8("(\xf0\x9f\x98\x80 x)\n"));
    QCOMPARE(start, 4);
    QCOMPARE(end, expected.size());
}

QTEST_MAIN(TestEditor)
#include "tst_editor.moc"
