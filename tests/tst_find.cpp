// Tests of find and replace: the search rules on a real Scintilla control, the dialog, Enter.
#include "editor/CFindReplaceController.h"
#include "editor/CFindReplaceDialog.h"
#include "editor/CTalvexView.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

namespace {

using Dlg = CFindReplaceDialog;

struct Sel
{
    long anchor = 0;
    long caret = 0;
};

void SetDocument(QsciScintillaBase &sci, const QByteArray &text, Sel sel)
{
    sci.SendScintilla(QsciScintillaBase::SCI_SETCODEPAGE, QsciScintillaBase::SC_CP_UTF8);
    sci.SendScintilla(QsciScintillaBase::SCI_SETTEXT, static_cast<uintptr_t>(0), text.constData());
    sci.SendScintilla(QsciScintillaBase::SCI_SETSEL, static_cast<unsigned long>(sel.anchor), sel.caret);
}

QByteArray Text(QsciScintillaBase &sci)
{
    const long length = sci.SendScintilla(QsciScintillaBase::SCI_GETTEXTLENGTH);
    QByteArray buffer(length + 1, '\0');
    sci.SendScintilla(QsciScintillaBase::SCI_GETTEXT, static_cast<unsigned long>(length + 1), buffer.data());
    buffer.chop(1);
    return buffer;
}

Sel Selection(QsciScintillaBase &sci)
{
    return {sci.SendScintilla(QsciScintillaBase::SCI_GETANCHOR),
            sci.SendScintilla(QsciScintillaBase::SCI_GETCURRENTPOS)};
}

// The frame's key filter, reduced to the find step.
class KeyFilter : public QObject
{
public:
    explicit KeyFilter(CFindReplaceController &find) : m_find(find) {}
    bool eventFilter(QObject *, QEvent *ev) override
    {
        if (ev->type() == QEvent::KeyPress && m_find.PreTranslateKey(static_cast<QKeyEvent *>(ev))) {
            ++m_nConsumed;
            return true;
        }
        return false;
    }
    int m_nConsumed = 0;
private:
    CFindReplaceController &m_find;
};

} // namespace

Q_DECLARE_METATYPE(Sel)

class TestFind : public QObject
{
    Q_OBJECT

private slots:
    void search_data();
    void search();
    void repeatedFindNext();
    void replaceAllTerminatesOnLargeText();
    void replaceAllIsOneUndoStep();

    void noDocumentNoDialog();
    void dialogKindAndTextFixedAtCreation();
    void initialTextCut();
    void buttonsActOnActiveView();
    void emptyTextDisablesSearch();
    void enterIsOneFindNext_data();
    void enterIsOneFindNext();
    void tabFollowsLayout();
    void cancelForgetsDialog();
    void closingNotification();
    void replaceDialogPicture();

private:
};

void TestFind::search_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<Sel>("start");
    QTest::addColumn<uint>("flags");
    QTest::addColumn<QByteArray>("find");
    QTest::addColumn<QByteArray>("replace");
    QTest::addColumn<QByteArray>("result");
    QTest::addColumn<Sel>("selection");
    QTest::addColumn<int>("found");

    const uint down = Dlg::FR_DOWN;
    const uint next = Dlg::FR_FINDNEXT;
    const uint repl = Dlg::FR_REPLACE;
    const uint all = Dlg::FR_REPLACEALL;
    const QByteArray abc2 = "abc abc";

    QTest::newRow("down from 0") << abc2 << Sel{0, 0} << (down | next) << QByteArray("abc") << QByteArray()
                                 << abc2 << Sel{0, 3} << 1;
    QTest::newRow("down after first") << abc2 << Sel{0, 3} << (down | next) << QByteArray("abc") << QByteArray()
                                      << abc2 << Sel{4, 7} << 1;
    QTest::newRow("down after last: no wrap") << abc2 << Sel{4, 7} << (down | next) << QByteArray("abc")
                                              << QByteArray() << abc2 << Sel{4, 7} << 0;
    QTest::newRow("up from end skips match ending at caret")
        << abc2 << Sel{7, 7} << next << QByteArray("abc") << QByteArray() << abc2 << Sel{0, 3} << 1;
    QTest::newRow("up again: nothing") << abc2 << Sel{0, 3} << next << QByteArray("abc") << QByteArray()
                                       << abc2 << Sel{0, 3} << 0;
    QTest::newRow("up from 0") << abc2 << Sel{0, 0} << next << QByteArray("abc") << QByteArray()
                               << abc2 << Sel{0, 0} << 0;
    QTest::newRow("up with caret inside later match") << abc2 << Sel{6, 6} << next << QByteArray("abc")
                                                      << QByteArray() << abc2 << Sel{0, 3} << 1;
    QTest::newRow("match case off finds ABC") << QByteArray("x ABC") << Sel{0, 0} << (down | next)
                                              << QByteArray("abc") << QByteArray() << QByteArray("x ABC")
                                              << Sel{2, 5} << 1;
    QTest::newRow("match case on") << QByteArray("x ABC") << Sel{0, 0} << (down | next | Dlg::FR_MATCHCASE)
                                   << QByteArray("abc") << QByteArray() << QByteArray("x ABC") << Sel{0, 0} << 0;
    QTest::newRow("whole word rejects xabcx") << QByteArray("xabcx") << Sel{0, 0}
                                              << (down | next | Dlg::FR_WHOLEWORD) << QByteArray("abc")
                                              << QByteArray() << QByteArray("xabcx") << Sel{0, 0} << 0;
    QTest::newRow("without whole word inside xabcx") << QByteArray("xabcx") << Sel{0, 0} << (down | next)
                                                     << QByteArray("abc") << QByteArray() << QByteArray("xabcx")
                                                     << Sel{1, 4} << 1;
    QTest::newRow("whole word finds the word") << QByteArray("xabcx abc") << Sel{0, 0}
                                               << (down | next | Dlg::FR_WHOLEWORD) << QByteArray("abc")
                                               << QByteArray() << QByteArray("xabcx abc") << Sel{6, 9} << 1;
    QTest::newRow("multi-byte text by bytes") << QByteArray("café café") << Sel{0, 0} << (down | next)
                                              << QByteArray("é") << QByteArray() << QByteArray("café café")
                                              << Sel{3, 5} << 1;
    QTest::newRow("replace, nothing selected") << abc2 << Sel{0, 0} << (down | repl) << QByteArray("abc")
                                               << QByteArray("X") << abc2 << Sel{0, 3} << 1;
    QTest::newRow("replace the match") << abc2 << Sel{0, 3} << (down | repl) << QByteArray("abc")
                                       << QByteArray("X") << QByteArray("X abc") << Sel{2, 5} << 1;
    QTest::newRow("replace an unrelated selection") << abc2 << Sel{3, 4} << (down | repl) << QByteArray("abc")
                                                    << QByteArray("-") << QByteArray("abc-abc") << Sel{4, 7} << 1;
    QTest::newRow("replace the last match") << abc2 << Sel{4, 7} << (down | repl) << QByteArray("abc")
                                            << QByteArray("X") << QByteArray("abc X") << Sel{5, 5} << 0;
    QTest::newRow("replace all a by b") << QByteArray("aaa") << Sel{0, 0} << (down | all) << QByteArray("a")
                                        << QByteArray("b") << QByteArray("bbb") << Sel{3, 3} << 3;
    QTest::newRow("replace all a by aa ends") << QByteArray("aaa") << Sel{0, 0} << (down | all)
                                              << QByteArray("a") << QByteArray("aa") << QByteArray("aaaaaa")
                                              << Sel{6, 6} << 3;
    QTest::newRow("replace all by nothing") << QByteArray("a-a-a") << Sel{0, 0} << (down | all)
                                            << QByteArray("a") << QByteArray() << QByteArray("--")
                                            << Sel{2, 2} << 3;
    QTest::newRow("replace all from the caret on") << QByteArray("aXaXa") << Sel{2, 2} << (down | all)
                                                   << QByteArray("a") << QByteArray("b")
                                                   << QByteArray("aXbXb") << Sel{5, 5} << 2;
    QTest::newRow("replace all starts with the selection") << QByteArray("zz a") << Sel{0, 2} << (down | all)
                                                           << QByteArray("a") << QByteArray("b")
                                                           << QByteArray("b b") << Sel{3, 3} << 1;
    QTest::newRow("empty find text does nothing") << QByteArray("abc") << Sel{0, 1} << (down | all)
                                                  << QByteArray() << QByteArray("x") << QByteArray("abc")
                                                  << Sel{0, 1} << 0;
}

void TestFind::search()
{
    QFETCH(QByteArray, text);
    QFETCH(Sel, start);
    QFETCH(uint, flags);
    QFETCH(QByteArray, find);
    QFETCH(QByteArray, replace);
    QFETCH(QByteArray, result);
    QFETCH(Sel, selection);
    QFETCH(int, found);

    QsciScintillaBase sci;
    SetDocument(sci, text, start);
    QCOMPARE(CFindReplaceController::Search(sci, flags, find, replace), found);
    QCOMPARE(Text(sci), result);
    const Sel now = Selection(sci);
    QCOMPARE(now.anchor, selection.anchor);
    QCOMPARE(now.caret, selection.caret);
}

void TestFind::repeatedFindNext()
{
    // Three presses down, then three up, on "abc abc": each press takes the next match only.
    QsciScintillaBase sci;
    SetDocument(sci, "abc abc", {0, 0});
    const QList<Sel> expectDown = {{0, 3}, {4, 7}, {4, 7}};
    for (const Sel &want : expectDown) {
        CFindReplaceController::Search(sci, Dlg::FR_DOWN | Dlg::FR_FINDNEXT, "abc", {});
        QCOMPARE(Selection(sci).anchor, want.anchor);
        QCOMPARE(Selection(sci).caret, want.caret);
    }
    // Searching up from the selected 4..7 (caret at 7): 4..7 ends at the caret, so 0..3.
    CFindReplaceController::Search(sci, Dlg::FR_FINDNEXT, "abc", {});
    QCOMPARE(Selection(sci).anchor, 0L);
    QCOMPARE(Selection(sci).caret, 3L);
    CFindReplaceController::Search(sci, Dlg::FR_FINDNEXT, "abc", {});
    QCOMPARE(Selection(sci).anchor, 0L);
    QCOMPARE(Selection(sci).caret, 3L);
}

void TestFind::replaceAllTerminatesOnLargeText()
{
    // 5000 matches, each replaced by a text that contains it: every search must start behind
    // the text just inserted, and the whole run must stay quick.
    CTalvexView view;
    QByteArray text;
    for (int i = 0; i < 5000; ++i)
        text += "(setq a 1)\n";
    view.SetText(text);
    view.SetSel(0, 0);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(CFindReplaceController::Search(view, Dlg::FR_DOWN | Dlg::FR_REPLACEALL, "a", "(a)"), 5000);
    const qint64 ms = timer.elapsed();
    QCOMPARE(view.GetText(), QByteArray(text).replace(" a ", " (a) "));
    qInfo("Replace All of 5000 matches: %lld ms", static_cast<long long>(ms));
    QVERIFY2(ms < 5000, "Replace All is far too slow");

    // The caret ended on the last line, and the view shows it.
    view.resize(400, 300);
    view.show();
    QCOMPARE(view.GetCurrentPos(), view.GetLength() - 4); // after the last "(a)"
    QVERIFY(view.SendScintilla(QsciScintillaBase::SCI_GETFIRSTVISIBLELINE) > 4900);

    // One long line: each replacement must not lay out the whole line again.
    view.SetText(QByteArray(4000, 'a'));
    view.SetSel(0, 0);
    timer.restart();
    QCOMPARE(CFindReplaceController::Search(view, Dlg::FR_DOWN | Dlg::FR_REPLACEALL, "a", "bb"), 4000);
    QCOMPARE(view.GetText(), QByteArray(8000, 'b'));
    QVERIFY2(timer.elapsed() < 3000, "Replace All on one long line is far too slow");
}

void TestFind::replaceAllIsOneUndoStep()
{
    QWidget frame;
    CTalvexView view(&frame);
    view.SetText("(a a)\n(a)\n");
    view.EmptyUndoBuffer();
    view.SetSel(0, 0);
    view.AddText("x"); // an edit of the user's own before the replacing
    CFindReplaceController find(&frame, [&] { return &view; });
    find.OnEditFind(CFindReplaceController::ID_EDIT_REPLACE);
    CFindReplaceDialog *dlg = find.Dialog();
    dlg->SetFindWhat("a");
    dlg->SetReplaceWith("bb");
    QTest::mouseClick(dlg->ReplaceAllButton(), Qt::LeftButton);
    QCOMPARE(view.GetText(), QByteArray("x(bb bb)\n(bb)\n"));
    view.OnEditUndo();
    QCOMPARE(view.GetText(), QByteArray("x(a a)\n(a)\n")); // every replacement at once, the x stays
    view.OnEditRedo();
    QCOMPARE(view.GetText(), QByteArray("x(bb bb)\n(bb)\n"));
    // Replace alone stays one step per replacement.
    view.SetSel(1, 1);
    dlg->SetFindWhat("bb");
    dlg->SetReplaceWith("c");
    QTest::mouseClick(dlg->FindNextButton(), Qt::LeftButton);
    QTest::mouseClick(dlg->ReplaceButton(), Qt::LeftButton);
    QTest::mouseClick(dlg->ReplaceButton(), Qt::LeftButton);
    QCOMPARE(view.GetText(), QByteArray("x(c c)\n(bb)\n"));
    view.OnEditUndo();
    QCOMPARE(view.GetText(), QByteArray("x(c bb)\n(bb)\n"));
}

void TestFind::noDocumentNoDialog()
{
    QWidget frame;
    CFindReplaceController find(&frame, [] { return nullptr; });
    find.OnEditFind(CFindReplaceController::ID_EDIT_FIND);
    QVERIFY(!find.Dialog());
    QCOMPARE(find.OnFindReplace(), 0);
}

void TestFind::dialogKindAndTextFixedAtCreation()
{
    QWidget frame;
    CTalvexView view(&frame);
    view.SetText("(defun abc () 'abc)");
    view.SetSel(7, 10);
    CFindReplaceController find(&frame, [&] { return &view; });

    find.OnEditFind(CFindReplaceController::ID_EDIT_FIND);
    CFindReplaceDialog *dlg = find.Dialog();
    QVERIFY(dlg);
    QVERIFY(dlg->isVisible());
    QCOMPARE(dlg->parentWidget(), &frame);
    QVERIFY(dlg->IsFindOnly());
    QVERIFY(!dlg->ReplaceButton());
    QCOMPARE(dlg->FindWhat(), QByteArray("abc"));
    QCOMPARE(dlg->Flags(), unsigned(Dlg::FR_DOWN)); // down, no options

    // Ctrl+R while the find-only dialog is open only shows it again, text unchanged.
    view.SetSel(0, 6);
    dlg->hide();
    find.OnEditFind(CFindReplaceController::ID_EDIT_REPLACE);
    QCOMPARE(find.Dialog(), dlg);
    QVERIFY(dlg->isVisible());
    QVERIFY(dlg->IsFindOnly());
    QCOMPARE(dlg->FindWhat(), QByteArray("abc"));

    // Closed, then Replace: a new dialog of the other kind.
    dlg->reject();
    QVERIFY(!find.Dialog());
    find.OnEditFind(CFindReplaceController::ID_EDIT_REPLACE);
    QVERIFY(find.Dialog());
    QVERIFY(!find.Dialog()->IsFindOnly());
    QVERIFY(find.Dialog()->ReplaceButton());
    QCOMPARE(find.Dialog()->FindWhat(), QByteArray("(defun"));
}

void TestFind::initialTextCut()
{
    QWidget frame;
    CTalvexView view(&frame);
    QByteArray longText;
    for (int i = 0; i < 30; ++i)
        longText += "word ";
    view.SetText(longText);
    view.SetSel(0, longText.size());
    CFindReplaceController find(&frame, [&] { return &view; });
    find.OnEditFind(CFindReplaceController::ID_EDIT_REPLACE);
    QCOMPARE(find.Dialog()->FindWhat(), longText.left(Dlg::MaxTextLength));
    // Typing cannot make it longer either.
    find.Dialog()->FindEdit()->end(false);
    QTest::keyClicks(find.Dialog()->FindEdit(), "xyz");
    QCOMPARE(find.Dialog()->FindWhat().size(), Dlg::MaxTextLength);
}

void TestFind::buttonsActOnActiveView()
{
    QWidget frame;
    CTalvexView first(&frame);
    CTalvexView second(&frame);
    first.SetText("one abc two abc");
    second.SetText("abc abc abc");
    first.SetSel(0, 0);
    second.SetSel(0, 0);
    CTalvexView *active = &first;
    CFindReplaceController find(&frame, [&] { return active; });
    find.OnEditFind(CFindReplaceController::ID_EDIT_REPLACE);
    CFindReplaceDialog *dlg = find.Dialog();
    dlg->SetFindWhat("abc");
    dlg->SetReplaceWith("X");

    QTest::mouseClick(dlg->FindNextButton(), Qt::LeftButton);
    QCOMPARE(first.GetSelectionStart(), 4);
    QCOMPARE(first.GetSelectionEnd(), 7);
    QTest::mouseClick(dlg->ReplaceButton(), Qt::LeftButton);
    QCOMPARE(first.GetText(), QByteArray("one X two abc"));
    QCOMPARE(first.GetSelectionStart(), 10);

    // The user switches documents while the dialog stays open.
    active = &second;
    QTest::mouseClick(dlg->ReplaceAllButton(), Qt::LeftButton);
    QCOMPARE(second.GetText(), QByteArray("X X X"));
    QCOMPARE(first.GetText(), QByteArray("one X two abc"));
}

void TestFind::emptyTextDisablesSearch()
{
    QWidget frame;
    CTalvexView view(&frame);
    view.SetText("aaa");
    view.SetSel(1, 1);
    CFindReplaceController find(&frame, [&] { return &view; });
    find.OnEditFind(CFindReplaceController::ID_EDIT_REPLACE);
    CFindReplaceDialog *dlg = find.Dialog();
    QVERIFY(dlg->FindWhat().isEmpty()); // nothing was selected
    QVERIFY(!dlg->FindNextButton()->isEnabled());
    QVERIFY(!dlg->ReplaceButton()->isEnabled());
    QVERIFY(!dlg->ReplaceAllButton()->isEnabled());

    QSignalSpy notified(dlg, &CFindReplaceDialog::findReplace);
    dlg->SetReplaceWith("b");
    view.SetSel(0, 1);
    dlg->ReplaceAll();
    dlg->Replace();
    dlg->FindNext();
    QCOMPARE(notified.size(), 0);
    QCOMPARE(view.GetText(), QByteArray("aaa"));
    QCOMPARE(view.GetSelectionEnd(), 1);

    QTest::keyClicks(dlg->FindEdit(), "a");
    QVERIFY(dlg->FindNextButton()->isEnabled());
    QVERIFY(dlg->ReplaceAllButton()->isEnabled());
    QTest::keyClick(dlg->FindEdit(), Qt::Key_Backspace);
    QVERIFY(!dlg->ReplaceAllButton()->isEnabled());
}

void TestFind::enterIsOneFindNext_data()
{
    QTest::addColumn<bool>("withFilter");
    QTest::addColumn<bool>("focusOnReplace");
    QTest::newRow("key filter, text field") << true << false;
    QTest::newRow("key filter, Replace button focused") << true << true;
    QTest::newRow("dialog alone, text field") << false << false;
    QTest::newRow("dialog alone, Replace button focused") << false << true;
}

void TestFind::enterIsOneFindNext()
{
    QFETCH(bool, withFilter);
    QFETCH(bool, focusOnReplace);
    QWidget frame;
    frame.resize(500, 300);
    CTalvexView view(&frame);
    view.resize(500, 300);
    view.SetText("abc abc abc");
    view.SetSel(0, 0);
    frame.show();
    CFindReplaceController find(&frame, [&] { return &view; });
    KeyFilter filter(find);
    if (withFilter)
        qApp->installEventFilter(&filter);
    find.OnEditFind(CFindReplaceController::ID_EDIT_REPLACE);
    CFindReplaceDialog *dlg = find.Dialog();
    QVERIFY(QTest::qWaitForWindowActive(dlg));
    dlg->SetFindWhat("abc");
    dlg->SetReplaceWith("X");
    QSignalSpy notified(dlg, &CFindReplaceDialog::findReplace);
    QWidget *target = dlg->FindEdit();
    if (focusOnReplace)
        target = dlg->ReplaceButton();
    target->setFocus();

    QTest::keyClick(target, Qt::Key_Return);
    QCOMPARE(notified.size(), 1);
    QCOMPARE(filter.m_nConsumed, withFilter ? 1 : 0); // the frame's filter took it, once
    QCOMPARE(view.GetText(), QByteArray("abc abc abc")); // Find Next, never Replace
    QCOMPARE(view.GetSelectionStart(), 0);
    QCOMPARE(view.GetSelectionEnd(), 3);
    QTest::keyClick(target, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(notified.size(), 2);
    QCOMPARE(view.GetSelectionStart(), 4);

    // Nothing to find: Enter does nothing at all.
    dlg->SetFindWhat(QString());
    QTest::keyClick(dlg->FindEdit(), Qt::Key_Return);
    QCOMPARE(notified.size(), 2);
    QCOMPARE(filter.m_nConsumed, withFilter ? 3 : 0); // consumed, so nothing else acts on it
    QCOMPARE(view.GetSelectionStart(), 4);
    QVERIFY(dlg->isVisible());
    qApp->removeEventFilter(&filter);
}

void TestFind::tabFollowsLayout()
{
    QWidget frame;
    CTalvexView view(&frame);
    frame.show();
    CFindReplaceController find(&frame, [&] { return &view; });
    find.OnEditFind(CFindReplaceController::ID_EDIT_REPLACE);
    CFindReplaceDialog *dlg = find.Dialog();
    QVERIFY(QTest::qWaitForWindowActive(dlg));
    QCOMPARE(QApplication::focusWidget(), dlg->FindEdit());
    QTest::keyClicks(dlg->FindEdit(), "old"); // so that the buttons take focus too
    // From "Find what" the next field down, "Replace with", then the options below it.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    auto *replaceEdit = qobject_cast<QLineEdit *>(QApplication::focusWidget());
    QVERIFY(replaceEdit && replaceEdit != dlg->FindEdit());
    QTest::keyClicks(replaceEdit, "new");
    QCOMPARE(dlg->ReplaceWith(), QByteArray("new"));
    QTest::keyClick(replaceEdit, Qt::Key_Tab);
    QVERIFY(qobject_cast<QCheckBox *>(QApplication::focusWidget()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), dlg->FindEdit());
    // The buttons come after the fields and options, Find Next first.
    QWidget *w = QApplication::focusWidget();
    while (w && !qobject_cast<QPushButton *>(w)) {
        QTest::keyClick(w, Qt::Key_Tab);
        w = QApplication::focusWidget();
    }
    QCOMPARE(w, dlg->FindNextButton());
}

void TestFind::cancelForgetsDialog()
{
    QWidget frame;
    CTalvexView view(&frame);
    view.SetText("abc");
    CFindReplaceController find(&frame, [&] { return &view; });
    find.OnEditFind(CFindReplaceController::ID_EDIT_FIND);
    QPointer<CFindReplaceDialog> dlg = find.Dialog();
    QTest::mouseClick(dlg->CancelButton(), Qt::LeftButton);
    QVERIFY(!find.Dialog());
    QTRY_VERIFY(!dlg); // it deletes itself

    // Escape closes it the same way; the next command makes a new one.
    find.OnEditFind(CFindReplaceController::ID_EDIT_FIND);
    dlg = find.Dialog();
    QVERIFY(dlg);
    QTest::keyClick(dlg.data(), Qt::Key_Escape);
    QVERIFY(!find.Dialog());
    QTRY_VERIFY(!dlg);
    find.OnEditFind(CFindReplaceController::ID_EDIT_FIND);
    QVERIFY(find.Dialog());
}

void TestFind::closingNotification()
{
    QWidget frame;
    CTalvexView view(&frame);
    CFindReplaceController find(&frame, [&] { return &view; });
    find.OnEditFind(CFindReplaceController::ID_EDIT_FIND);
    CFindReplaceDialog *dlg = find.Dialog();
    unsigned seen = 0;
    connect(dlg, &CFindReplaceDialog::findReplace, dlg, [&] { seen = dlg->Flags(); });
    dlg->close(); // the close box
    QVERIFY(seen & Dlg::FR_DIALOGTERM);
    QVERIFY(!find.Dialog());
    // A dialog still open when the frame goes is deleted with it, without notifications.
}

// A picture of the replace dialog over a Lisp document, for looking at by eye.
void TestFind::replaceDialogPicture()
{
    QWidget frame;
    frame.resize(640, 420);
    CTalvexView view(&frame);
    view.ConfigureView();
    view.setGeometry(frame.rect());
    frame.show();
    view.SetText(";; squares of the first numbers\n(defun squares (n)\n  (loop for i from 1 to n\n"
                 "        collect (* i i)))\n\n(defun sum-squares (n)\n  (reduce #'+ (squares n)))\n");
    view.SetSel(3, 10);
    CFindReplaceController find(&frame, [&] { return &view; });
    find.OnEditFind(CFindReplaceController::ID_EDIT_REPLACE);
    CFindReplaceDialog *dlg = find.Dialog();
    dlg->SetFindWhat("squares");
    dlg->SetReplaceWith("squares-of");
    QTest::mouseClick(dlg->FindNextButton(), Qt::LeftButton);
    QCOMPARE(view.GetSelText(), QByteArray("squares"));
    QCOMPARE(view.GetSelectionStart(), 39);
    dlg->adjustSize();
    QImage picture = frame.grab().toImage();
    QPainter painter(&picture);
    painter.drawPixmap(QPoint(150, 170), dlg->grab());
    painter.end();
    QVERIFY(picture.save(QDir::temp().filePath("talvex-replace-dialog.png")));

    CFindReplaceDialog findOnly(true, "squares", &frame);
    findOnly.show();
    findOnly.adjustSize();
    QVERIFY(findOnly.grab().save(QDir::temp().filePath("talvex-find-dialog.png")));
}

QTEST_MAIN(TestFind)
#include "tst_find.moc"
