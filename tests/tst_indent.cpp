// Tests of Lisp indentation in an editor view: peer cases, golden files per dialect, Auto Indent, the symbol at a place.
#include "editor/CIndentLexicon.h"
#include "editor/CTalvexView.h"
#include "editor/LispEditing.h"
#include "editor/LispSyntax.h"
#include "settings/CSettingsStore.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kSettings = QStringLiteral("Settings");

QByteArray ReadData(const QString &name)
{
    QFile file(QStringLiteral(TALVEX_TEST_DATA_DIR "/indent/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// An editor view set up as New makes it, in the dialect of a keyword set, holding text unmodified.
struct Editor
{
    Editor(const QByteArray &text, int keywordSet)
    {
        SetActiveReaderDialect(ReaderDialectForKeywordSet(keywordSet));
        view.ConfigureView();
        view.resize(600, 400);
        view.SetText(text);
        view.EmptyUndoBuffer();
        view.SetSavePoint();
    }
    // Ctrl+A, then Indent Lines.
    QByteArray IndentAll()
    {
        view.SetSel(0, view.GetLength());
        view.IndentSelectedLines();
        return view.GetText();
    }
    // Types text line by line, Enter between the lines, as a user would.
    void Type(const QByteArray &text)
    {
        const QList<QByteArray> lines = text.split('\n');
        for (qsizetype i = 0; i < lines.size(); ++i) {
            QTest::keyClicks(&view, QString::fromUtf8(lines[i]));
            if (i + 1 < lines.size())
                QTest::keyClick(&view, Qt::Key_Return);
        }
    }
    CTalvexView view;
};

} // namespace

class TestIndent : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { CSettingsStore::Instance().SetKeyPath(QStringLiteral("Software\\Quenmark\\Talvex")); }
    void init()
    {
        for (const char *name : {"TabSize", "TabUsesSpaces", "AutoIndent", "LineEnding"})
            CSettingsStore::Instance().DeleteValue(kSettings, QString::fromLatin1(name));
        CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("TabUsesSpaces"), 1);
    }

    void peerCases_data();
    void peerCases();
    void golden_data();
    void golden();
    void autoIndentTyping_data();
    void autoIndentTyping();
    void closingBracketFindsItsPlace_data();
    void closingBracketFindsItsPlace();
    void tabsOrSpaces_data();
    void tabsOrSpaces();
    void selectionStaysOnItsText();
    void macrosOfOpenDocuments();
    void symbolAt_data();
    void symbolAt();
};

void TestIndent::peerCases_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("keywordSet");
    for (const auto &[file, keywordSet] : {std::pair{"common-lisp.json", 0}, std::pair{"clojure.json", 5}}) {
        const QJsonArray cases = QJsonDocument::fromJson(ReadData(QString::fromLatin1(file))).array();
        QVERIFY2(!cases.isEmpty(), file);
        for (const QJsonValue &c : cases) {
            const QJsonObject o = c.toObject();
            QTest::newRow(qPrintable(o.value(u"name").toString()))
                << o.value(u"input").toString().toUtf8() << o.value(u"expected").toString().toUtf8() << keywordSet;
        }
    }
}

void TestIndent::peerCases()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QFETCH(int, keywordSet);
    Editor fresh(input, keywordSet);
    QCOMPARE(fresh.IndentAll(), expected);
    Editor done(expected, keywordSet);
    QCOMPARE(done.IndentAll(), expected);
    QVERIFY(!done.view.GetModify());
}

// Lexilla's shape: an unindented sample beside its indented form, with CR LF as well as LF.
void TestIndent::golden_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("keywordSet");
    QTest::addColumn<bool>("crlf");
    const std::pair<const char *, int> files[] = {{"common-lisp.lisp", 0}, {"scheme.scm", 1}, {"newlisp.lsp", 2},
                                                  {"islisp.lsp", 3}, {"picolisp.l", 4}, {"clojure.clj", 5}};
    for (const auto &[file, keywordSet] : files) {
        QTest::addRow("%s, LF", file) << QString::fromLatin1(file) << keywordSet << false;
        QTest::addRow("%s, CR LF", file) << QString::fromLatin1(file) << keywordSet << true;
    }
}

void TestIndent::golden()
{
    QFETCH(QString, file);
    QFETCH(int, keywordSet);
    QFETCH(bool, crlf);
    QByteArray input = ReadData(file);
    QByteArray expected = ReadData(file + QStringLiteral(".indented"));
    QVERIFY(!input.isEmpty() && !expected.isEmpty());
    if (crlf) {
        input.replace("\n", "\r\n");
        expected.replace("\n", "\r\n");
    }
    Editor editor(input, keywordSet);
    QCOMPARE(editor.IndentAll(), expected);
    QVERIFY(editor.view.GetModify());
    editor.view.Undo(); // one step takes it all back
    QCOMPARE(editor.view.GetText(), input);
    QVERIFY(!editor.view.GetModify());

    Editor indented(expected, keywordSet);
    QCOMPARE(indented.IndentAll(), expected);
    QVERIFY(!indented.view.GetModify());
}

// With Auto Indent, typing the flush-left sample gives what Indent Lines gives; without, the
// lines stay where they were typed.
void TestIndent::autoIndentTyping_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("keywordSet");
    QTest::addColumn<bool>("autoIndent");
    QTest::newRow("Common Lisp") << QStringLiteral("common-lisp.lisp") << 0 << true;
    QTest::newRow("Scheme") << QStringLiteral("scheme.scm") << 1 << true;
    QTest::newRow("Clojure") << QStringLiteral("clojure.clj") << 5 << true;
    QTest::newRow("off") << QStringLiteral("common-lisp.lisp") << 0 << false;
}

void TestIndent::autoIndentTyping()
{
    QFETCH(QString, file);
    QFETCH(int, keywordSet);
    QFETCH(bool, autoIndent);
    CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("AutoIndent"), autoIndent ? 1 : 0);
    // Up to the end of the last line: Enter there would indent the caret's new line.
    const QByteArray input = ReadData(file).chopped(1);
    Editor editor({}, keywordSet);
    QCOMPARE(editor.view.AutoIndent(), autoIndent);
    editor.Type(input);
    QCOMPARE(editor.view.GetText(), autoIndent ? ReadData(file + QStringLiteral(".indented")).chopped(1) : input);
}

void TestIndent::closingBracketFindsItsPlace_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("keywordSet");
    QTest::addColumn<QByteArray>("typed");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("first on its line") << QByteArray("(foo a\n") << 0 << QByteArray(")") << QByteArray("(foo a\n     )");
    QTest::newRow("after code") << QByteArray("(foo a\nb") << 0 << QByteArray(")") << QByteArray("(foo a\nb)");
    QTest::newRow("vector") << QByteArray("(let [x 1\n") << 5 << QByteArray("]") << QByteArray("(let [x 1\n      ]");
    QTest::newRow("no bracket in Lisp") << QByteArray("(foo a\n") << 0 << QByteArray("]") << QByteArray("(foo a\n]");
}

void TestIndent::closingBracketFindsItsPlace()
{
    QFETCH(QByteArray, text);
    QFETCH(int, keywordSet);
    QFETCH(QByteArray, typed);
    QFETCH(QByteArray, expected);
    CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("AutoIndent"), 1);
    Editor editor(text, keywordSet);
    editor.view.GotoPos(editor.view.GetLength());
    QTest::keyClicks(&editor.view, QString::fromLatin1(typed));
    QCOMPARE(editor.view.GetText(), expected);
    editor.view.Undo(); // the bracket and its indentation go together
    QCOMPARE(editor.view.GetText(), text);
}

void TestIndent::tabsOrSpaces_data()
{
    QTest::addColumn<int>("spaces");
    QTest::addColumn<int>("tabSize");
    QTest::addColumn<QByteArray>("expected");
    const char *text = "(defun f (x)\n  (let ((a 1)\n        (b 2))\n    (list a\n          b)))";
    QTest::newRow("spaces") << 1 << 4 << QByteArray(text);
    QTest::newRow("tabs of 4")
        << 0 << 4 << QByteArray("(defun f (x)\n  (let ((a 1)\n\t\t(b 2))\n\t(list a\n\t\t  b)))");
    QTest::newRow("tabs of 8") << 0 << 8 << QByteArray("(defun f (x)\n  (let ((a 1)\n\t(b 2))\n    (list a\n\t  b)))");
}

void TestIndent::tabsOrSpaces()
{
    QFETCH(int, spaces);
    QFETCH(int, tabSize);
    QFETCH(QByteArray, expected);
    CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("TabUsesSpaces"), spaces);
    CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("TabSize"), tabSize);
    Editor editor("(defun f (x)\n(let ((a 1)\n(b 2))\n(list a\nb)))", 0);
    QCOMPARE(editor.IndentAll(), expected);
}

void TestIndent::selectionStaysOnItsText()
{
    Editor editor("(defun f ()\n      (foo bar)\n(baz))", 0);
    // Anchor in "foo", caret in "baz": both move with their lines.
    editor.view.SetSel(20, 33);
    editor.view.IndentSelectedLines();
    QCOMPARE(editor.view.GetText(), QByteArray("(defun f ()\n  (foo bar)\n  (baz))"));
    QCOMPARE(editor.view.GetSelText(), QByteArray("oo bar)\n  (baz)"));
    // A caret in a line's blanks goes to its first character; the line alone is indented.
    Editor caret("(a\n      b\n      c)", 0);
    caret.view.GotoPos(5);
    caret.view.IndentSelectedLines();
    QCOMPARE(caret.view.GetText(), QByteArray("(a\n b\n      c)"));
    QCOMPARE(caret.view.GetCurrentPos(), 4);
}

void TestIndent::macrosOfOpenDocuments()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("frob.lisp"));
    const QByteArray call = "(frob a\nb\nc)";
    Editor user(call, 0);
    {
        Editor definer("(defmacro frob (x y &body body)\n  `(list ,x ,y ,@body))", 0);
        QVERIFY(definer.view.SaveFile(path));
        QCOMPARE(user.IndentAll(), QByteArray("(frob a\n    b\n  c)"));
        user.view.Undo();
    }
    // Closed, its macro is forgotten: a plain call again.
    QCOMPARE(user.IndentAll(), QByteArray("(frob a\n      b\n      c)"));
    // A document read from disk teaches it as well.
    Editor reader({}, 0);
    QVERIFY(reader.view.LoadFile(path));
    user.view.Undo();
    QCOMPARE(user.IndentAll(), QByteArray("(frob a\n    b\n  c)"));
}

void TestIndent::symbolAt_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("pos");
    QTest::addColumn<int>("keywordSet");
    QTest::addColumn<QByteArray>("symbol");
    QTest::newRow("inside") << QByteArray("(mapcar #'cl:car list)") << 14 << 0 << QByteArray("car");
    QTest::newRow("right after") << QByteArray("(length list)") << 7 << 0 << QByteArray("length");
    QTest::newRow("at its start") << QByteArray("(length list)") << 1 << 0 << QByteArray("length");
    QTest::newRow("keyword") << QByteArray("(f :test x)") << 5 << 0 << QByteArray("test");
    QTest::newRow("namespace") << QByteArray("(str/join \", \" xs)") << 3 << 5 << QByteArray("join");
    QTest::newRow("in a string") << QByteArray("(f \"length\")") << 6 << 0 << QByteArray();
    QTest::newRow("in a comment") << QByteArray("(f) ; length") << 9 << 0 << QByteArray();
    QTest::newRow("character") << QByteArray("(f #\\a)") << 5 << 0 << QByteArray();
    QTest::newRow("between brackets") << QByteArray("(f) (g)") << 4 << 0 << QByteArray();
}

void TestIndent::symbolAt()
{
    QFETCH(QByteArray, text);
    QFETCH(int, pos);
    QFETCH(int, keywordSet);
    QFETCH(QByteArray, symbol);
    Editor editor(text, keywordSet);
    QCOMPARE(LispEditing::SymbolAt(editor.view, pos, ActiveReaderDialect()), symbol);
}

QTEST_MAIN(TestIndent)
#include "tst_indent.moc"
