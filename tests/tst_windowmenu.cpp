// Tests of the window list at the end of the Window menu.
#include "app/WindowMenu.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QMenu>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

QStringList Titles(int n)
{
    QStringList titles;
    for (int i = 0; i < n; ++i)
        titles.append(u"/src/doc%1.lisp"_s.arg(i));
    return titles;
}

// The Window popup as the frame builds it.
void FillWindowPopup(QMenu &menu)
{
    menu.addAction(u"&Close\tCtrl+F4"_s)->setData(57602);
    menu.addAction(u"Close &All"_s)->setData(32808);
}

} // namespace

class TestWindowMenu : public QObject
{
    Q_OBJECT

private slots:
    void listedDocuments_data();
    void listedDocuments();
    void rebuildsReplaceTheList();
    void titlesShownAsTheyAre();
};

void TestWindowMenu::listedDocuments_data()
{
    QTest::addColumn<int>("pages");
    QTest::addColumn<int>("active");
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("shown");
    QTest::newRow("none") << 0 << -1 << 100 << 0;
    QTest::newRow("one") << 1 << 0 << 100 << 1;
    QTest::newRow("twelve") << 12 << 10 << 100 << 12;
    QTest::newRow("nine") << 9 << 8 << 100 << 9;
    QTest::newRow("hundred") << 100 << 98 << 100 << 99;
    QTest::newRow("active not listed") << 100 << 99 << 100 << 99;
    QTest::newRow("no active") << 5 << -1 << 100 << 5;
    QTest::newRow("limit") << 12 << 2 << 5 << 5;
    QTest::newRow("zero limit") << 3 << 0 << 0 << 0;
}

void TestWindowMenu::listedDocuments()
{
    QFETCH(int, pages);
    QFETCH(int, active);
    QFETCH(int, limit);
    QFETCH(int, shown);
    QMenu popup;
    FillWindowPopup(popup);
    const QStringList titles = Titles(pages);
    BuildWindowMenu(&popup, titles, active, limit);

    const QList<QAction *> actions = popup.actions();
    QCOMPARE(actions[0]->data().toInt(), 57602);
    QCOMPARE(actions[1]->data().toInt(), 32808);
    if (pages == 0) {
        QCOMPARE(actions.size(), 2);
        return;
    }
    QCOMPARE(actions.size(), 3 + shown);
    QVERIFY(actions[2]->isSeparator());
    int checked = 0;
    for (int i = 0; i < shown; ++i) {
        const QAction *item = actions[3 + i];
        const QString expected = (i < 9 ? u"&"_s : QString()) + QString::number(i + 1) + u' ' + titles[i];
        QCOMPARE(item->text(), expected);
        QCOMPARE(item->data().toInt(), 0xFF00 + i);
        if (item->isChecked()) {
            ++checked;
            QCOMPARE(i, active);
            QVERIFY(item->actionGroup() && item->actionGroup()->isExclusive());   // radio mark
        }
    }
    QCOMPARE(checked, active >= 0 && active < shown ? 1 : 0);
}

void TestWindowMenu::rebuildsReplaceTheList()
{
    QMenu popup;
    FillWindowPopup(popup);
    const qsizetype ownedBefore = popup.findChildren<QAction *>().size();
    for (int n : {12, 3, 0, 5, 5}) {
        BuildWindowMenu(&popup, Titles(n), n - 1, 100);
        const QList<QAction *> actions = popup.actions();
        QCOMPARE(actions.size(), n == 0 ? 2 : 3 + n);
        int separators = 0;
        for (const QAction *action : actions)
            separators += action->isSeparator() ? 1 : 0;
        QCOMPARE(separators, n == 0 ? 0 : 1);
        if (n > 0)
            QCOMPARE(actions.last()->text(), (n <= 9 ? u"&"_s : QString()) + u"%1 /src/doc%2.lisp"_s.arg(n).arg(n - 1));
    }
    QCOMPARE(popup.findChildren<QActionGroup *>().size(), 1);
    QCOMPARE(popup.findChildren<QAction *>().size(), ownedBefore + 1 + 5);   // nothing left over
    BuildWindowMenu(nullptr, Titles(2), 0, 100);                    // no popup: nothing happens
}

void TestWindowMenu::titlesShownAsTheyAre()
{
    QMenu popup;
    BuildWindowMenu(&popup, {u"R&D notes.lisp"_s, u"Untitled1"_s}, 1, 100);
    const QList<QAction *> actions = popup.actions();
    QCOMPARE(actions.size(), 2);   // nothing before the list, so no separator
    QCOMPARE(actions[0]->text(), u"&1 R&&D notes.lisp"_s);
    QVERIFY(actions[1]->isChecked());
}

QTEST_MAIN(TestWindowMenu)
#include "tst_windowmenu.moc"
