// Tests of the document tab view and its strip: page rules, shortened texts, rows, Ctrl+Tab, dragging.
#include "editor/CLispTabView.h"
#include "editor/CTabStrip.h"
#include "editor/CTalvexView.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <QHelpEvent>

namespace {

// A stand-in top-level window that counts the context menu events reaching it.
class Frame : public QWidget
{
public:
    int contextMenus = 0;

protected:
    void contextMenuEvent(QContextMenuEvent *ev) override
    {
        ++contextMenus;
        ev->accept();
    }
};

QStringList Titles(const CLispTabView &view)
{
    QStringList titles;
    for (int i = 0; i < view.GetPageCount(); ++i)
        titles << view.GetPageTitle(i);
    return titles;
}

void SendMouse(QWidget *w, QEvent::Type type, const QPoint &pos, Qt::MouseButtons buttons)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent ev(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &ev);
}

bool SendKey(CLispTabView &view, int key, Qt::KeyboardModifiers mods)
{
    QKeyEvent ev(QEvent::KeyPress, key, mods);
    return view.PreTranslateMessage(&ev);
}

} // namespace

class TestTabs : public QObject
{
    Q_OBJECT

private:
    // A shown window with a tab view and pages T1..Tn (plain widgets, no page data).
    struct Fixture {
        Frame frame;
        CLispTabView *view = nullptr;
        QList<QPointer<QWidget>> pages;
        explicit Fixture(int count, int width = 600)
        {
            view = new CLispTabView(&frame);
            frame.resize(width, 300);
            view->setGeometry(0, 0, width, 300);
            for (int i = 1; i <= count; ++i) {
                auto *page = new QWidget;
                pages << page;
                view->AddPage(page, QStringLiteral("T%1").arg(i), 0, nullptr);
            }
            frame.show();
            QVERIFY(QTest::qWaitForWindowExposed(&frame));
        }
    };

    static QPoint TabCentre(CLispTabView &view, int i) { return view.TabStrip().GetItemRect(i).center(); }

private slots:
    void shownText_data();
    void shownText();
    void removePage_data();
    void removePage();
    void removeLastPageHidesStrip();
    void ctrlTab_data();
    void ctrlTab();
    void drag_data();
    void drag();
    void dragCursorAndImage();
    void singleTabDoesNotDrag();
    void twoRowsDoubleTheStrip();
    void changesPaintOnce();
    void imagesAndRightClick();
    void caption();
    void focusGoesToActivePage();
};

void TestTabs::shownText_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("shown");
    const QString thirty = QStringLiteral("abcdefghijklmnopqrstuvwxyz0123");
    QTest::newRow("30 whole") << thirty << thirty;
    QTest::newRow("31 cut") << thirty + "4" << thirty.left(27) + "...";
    QTest::newRow("long cut") << thirty + thirty << thirty.left(27) + "...";
    QTest::newRow("short") << QStringLiteral("a.lisp") << QStringLiteral("a.lisp");
    QTest::newRow("empty") << QString() << QString();
}

void TestTabs::shownText()
{
    QFETCH(QString, title);
    QFETCH(QString, shown);
    Fixture f(1);
    QSignalSpy listChanged(f.view, &CLispTabView::windowListChanged);
    QVERIFY(f.view->SetPageTitle(0, title));
    QCOMPARE(f.view->TabStrip().GetTabText(0), shown);
    QCOMPARE(f.view->TabStrip().GetTabToolTip(0), title);
    QCOMPARE(f.view->GetPageTitle(0), title);
    // The tooltip over the tab shows the full title.
    if (!title.isEmpty()) {
        const QPoint pos = TabCentre(*f.view, 0);
        QHelpEvent help(QEvent::ToolTip, pos, f.view->TabStrip().mapToGlobal(pos));
        QApplication::sendEvent(&f.view->TabStrip(), &help);
        QCOMPARE(QToolTip::text(), title);
        QToolTip::hideText();
    }
    // The Window menu is told to list the full title.
    QVERIFY(listChanged.count() > 0);
    QCOMPARE(f.view->PageTitles(), QStringList{title});
}

void TestTabs::removePage_data()
{
    QTest::addColumn<int>("active");
    QTest::addColumn<int>("removed");
    QTest::addColumn<QString>("activeTitle");
    QTest::addColumn<int>("activeIndex");
    QTest::newRow("close active T3: T2") << 2 << 2 << "T2" << 1;
    QTest::newRow("close T1 while T3 active") << 2 << 0 << "T3" << 1;
    QTest::newRow("close active T1: new first") << 0 << 0 << "T2" << 0;
    QTest::newRow("close active T4 (last)") << 3 << 3 << "T3" << 2;
    QTest::newRow("close T4 while T2 active") << 1 << 3 << "T2" << 1;
}

void TestTabs::removePage()
{
    QFETCH(int, active);
    QFETCH(int, removed);
    QFETCH(QString, activeTitle);
    QFETCH(int, activeIndex);
    Fixture f(4);
    f.view->SetActivePage(active);
    QSignalSpy spy(f.view, &CLispTabView::pageActivated);
    QPointer<QWidget> gone = f.pages[removed];
    f.view->RemovePage(removed);
    QCOMPARE(f.view->GetPageCount(), 3);
    QCOMPARE(f.view->GetActivePage(), activeIndex);
    QCOMPARE(f.view->GetPageTitle(activeIndex), activeTitle);
    QCOMPARE(f.view->TabStrip().GetCurSel(), activeIndex);
    QVERIFY(f.view->GetPageWindow(activeIndex)->isVisible());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.last().at(0).toInt(), activeIndex);
    // Only the active page is visible, and the removed page's window is destroyed.
    for (int i = 0; i < 3; ++i)
        QCOMPARE(f.view->GetPageWindow(i)->isVisible(), i == activeIndex);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(gone.isNull());
}

void TestTabs::removeLastPageHidesStrip()
{
    Fixture f(0);
    f.frame.setWindowTitle(QStringLiteral("Talvex"));
    f.view->SetTitleBarWindow(&f.frame);
    auto *doc = new CTalvexView;
    doc->m_strPath = QStringLiteral("/tmp/x.lisp");
    f.view->AddPage(doc, QStringLiteral("x.lisp"), 0, doc);
    QVERIFY(f.view->TabStrip().isVisible());
    QVERIFY(f.view->GetStripHeight() > 0);
    QSignalSpy spy(f.view, &CLispTabView::pageActivated);
    f.view->RemovePage(0);
    QCOMPARE(f.view->GetActivePage(), -1);
    QVERIFY(!f.view->TabStrip().isVisible());
    QCOMPARE(f.view->GetStripHeight(), 0);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.last().at(0).toInt(), -1);
    QCOMPARE(f.frame.windowTitle(), QStringLiteral("Talvex - /tmp/x.lisp")); // unchanged
}

void TestTabs::ctrlTab_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("active");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("mods");
    QTest::addColumn<int>("expected");
    const int ctrl = Qt::ControlModifier;
    const int ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
    QTest::newRow("one tab, swallowed") << 1 << 0 << int(Qt::Key_Tab) << ctrl << 0;
    QTest::newRow("next") << 3 << 0 << int(Qt::Key_Tab) << ctrl << 1;
    QTest::newRow("after the last: first") << 3 << 2 << int(Qt::Key_Tab) << ctrl << 0;
    QTest::newRow("previous") << 3 << 2 << int(Qt::Key_Backtab) << ctrlShift << 1;
    QTest::newRow("before the first: last") << 3 << 0 << int(Qt::Key_Backtab) << ctrlShift << 2;
    QTest::newRow("shift with Key_Tab") << 3 << 0 << int(Qt::Key_Tab) << ctrlShift << 2;
}

void TestTabs::ctrlTab()
{
    QFETCH(int, count);
    QFETCH(int, active);
    QFETCH(int, key);
    QFETCH(int, mods);
    QFETCH(int, expected);
    Fixture f(count);
    f.view->SetActivePage(active);
    QSignalSpy spy(f.view, &CLispTabView::pageActivated);
    QVERIFY(SendKey(*f.view, key, Qt::KeyboardModifiers(mods)));
    QCOMPARE(f.view->GetActivePage(), expected);
    QCOMPARE(spy.count(), count > 1 ? 1 : 0);
    // Without Ctrl the key is not the tab view's.
    QVERIFY(!SendKey(*f.view, Qt::Key_Tab, Qt::NoModifier));
}

void TestTabs::drag_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("onto");      // -1: released off the tabs
    QTest::addColumn<bool>("escape");
    QTest::addColumn<QStringList>("order");
    QTest::addColumn<int>("active");
    QTest::newRow("T2 onto T4") << 1 << 3 << false << QStringList{"T1", "T3", "T4", "T2"} << 3;
    QTest::newRow("T4 onto T1") << 3 << 0 << false << QStringList{"T4", "T1", "T2", "T3"} << 0;
    QTest::newRow("released off the tabs") << 1 << -1 << false << QStringList{"T1", "T2", "T3", "T4"} << 1;
    QTest::newRow("Escape") << 1 << 3 << true << QStringList{"T1", "T2", "T3", "T4"} << 1;
}

void TestTabs::drag()
{
    QFETCH(int, from);
    QFETCH(int, onto);
    QFETCH(bool, escape);
    QFETCH(QStringList, order);
    QFETCH(int, active);
    Fixture f(4);
    f.view->SetActivePage(2);
    QWidget *strip = &f.view->TabStrip();
    const QPoint start = TabCentre(*f.view, from);
    const QPoint end = onto >= 0 ? TabCentre(*f.view, onto) : QPoint(strip->width() - 3, 1);
    QVERIFY(f.view->TabStrip().HitTest(end) == onto);

    SendMouse(strip, QEvent::MouseButtonPress, start, Qt::LeftButton);
    QCOMPARE(f.view->GetActivePage(), from); // the click activates the tab
    QVERIFY(f.view->IsMouseCaptured());
    SendMouse(strip, QEvent::MouseMove, start + QPoint(QApplication::startDragDistance() + 1, 0), Qt::LeftButton);
    QVERIFY(f.view->IsDragging());
    SendMouse(strip, QEvent::MouseMove, end, Qt::LeftButton);
    QCOMPARE(f.view->GetInsertMark(), onto);
    if (onto >= 0) {
        // The mark sits at the right edge of a target right of the dragged tab, else at its left.
        const QRect target = f.view->TabStrip().GetItemRect(onto);
        const int edge = from < onto ? target.x() + target.width() : target.x();
        QCOMPARE(f.view->TabStrip().InsertMarkRect(), QRect(edge - 4, 0, 7, strip->height()));
    }
    if (escape) {
        QVERIFY(SendKey(*f.view, Qt::Key_Escape, Qt::NoModifier));
        QVERIFY(!f.view->IsDragging());
    }
    SendMouse(strip, QEvent::MouseButtonRelease, end, Qt::NoButton);
    QCOMPARE(Titles(*f.view), order);
    QCOMPARE(f.view->GetActivePage(), active);
    QCOMPARE(f.view->TabStrip().GetCurSel(), active);
    QVERIFY(f.view->GetPageWindow(active)->isVisible());
    QVERIFY(!f.view->IsDragging());
    QVERIFY(!f.view->IsMouseCaptured());
    QCOMPARE(f.view->GetInsertMark(), -1);
    QVERIFY(f.view->TabStrip().InsertMarkRect().isNull());
    QVERIFY(!f.view->DragImage().isVisible());
    QVERIFY(QApplication::overrideCursor() == nullptr);
}

void TestTabs::dragCursorAndImage()
{
    Fixture f(3);
    QWidget *strip = &f.view->TabStrip();
    const QPoint start = TabCentre(*f.view, 0);
    SendMouse(strip, QEvent::MouseButtonPress, start, Qt::LeftButton);
    SendMouse(strip, QEvent::MouseMove, TabCentre(*f.view, 1), Qt::LeftButton);
    QVERIFY(f.view->IsDragging());
    QVERIFY(QApplication::overrideCursor());
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::ArrowCursor);
    QVERIFY(f.view->DragImage().isVisible());
    // The drag image is the tab with 2 pixels around it, hanging below right of the pointer.
    const QRect tab = f.view->TabStrip().GetItemRect(0);
    QCOMPARE(f.view->DragImage().size(), tab.size() + QSize(4, 4));
    QVERIFY(f.view->DragImage().pos().x() > strip->mapToGlobal(TabCentre(*f.view, 1)).x());

    SendMouse(strip, QEvent::MouseMove, QPoint(strip->width() - 2, strip->height() - 1), Qt::LeftButton);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::ForbiddenCursor);
    QVERIFY(!f.view->DragImage().isVisible());
    QCOMPARE(f.view->GetInsertMark(), -1);

    SendMouse(strip, QEvent::MouseMove, TabCentre(*f.view, 2), Qt::LeftButton);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::ArrowCursor);
    QVERIFY(f.view->DragImage().isVisible());
    QCOMPARE(f.view->GetInsertMark(), 2);

    SendMouse(strip, QEvent::MouseButtonRelease, TabCentre(*f.view, 2), Qt::NoButton);
    QCOMPARE(Titles(*f.view), (QStringList{"T2", "T3", "T1"}));
    QVERIFY(QApplication::overrideCursor() == nullptr);
}

void TestTabs::singleTabDoesNotDrag()
{
    Fixture f(1);
    QWidget *strip = &f.view->TabStrip();
    SendMouse(strip, QEvent::MouseButtonPress, TabCentre(*f.view, 0), Qt::LeftButton);
    QVERIFY(!f.view->IsMouseCaptured());
    SendMouse(strip, QEvent::MouseMove, TabCentre(*f.view, 0) + QPoint(40, 0), Qt::LeftButton);
    QVERIFY(!f.view->IsDragging());
    SendMouse(strip, QEvent::MouseButtonRelease, TabCentre(*f.view, 0) + QPoint(40, 0), Qt::NoButton);
    QCOMPARE(f.view->GetPageCount(), 1);
}

void TestTabs::twoRowsDoubleTheStrip()
{
    Fixture f(1, 400);
    const int oneRow = f.view->GetStripHeight();
    const int tabHeight = f.view->TabStrip().GetItemRect(0).height();
    QCOMPARE(oneRow, tabHeight + 4);
    QCOMPARE(f.view->GetPageWindow(0)->geometry(), QRect(0, oneRow, 400, 300 - oneRow));
    int added = 1;
    while (f.view->TabStrip().GetRowCount() < 2) {
        f.view->AddPage(new QWidget, QStringLiteral("a-rather-long-name-%1.lisp").arg(++added), 0, nullptr);
        QVERIFY(added < 50);
    }
    QCOMPARE(f.view->GetStripHeight(), 2 * tabHeight + 4);
    QCOMPARE(f.view->TabStrip().height(), 2 * tabHeight + 4);
    const int active = f.view->GetActivePage();
    QCOMPARE(f.view->GetPageWindow(active)->geometry(), QRect(0, 2 * tabHeight + 4, 400, 300 - 2 * tabHeight - 4));
    // Wider, the tabs fit one row again and the strip shrinks.
    f.frame.resize(3000, 300);
    f.view->resize(3000, 300);
    QCOMPARE(f.view->GetStripHeight(), tabHeight + 4);
    // Row by row: the first tab of the second row lies below the first row, left of the tab before it.
    f.view->resize(400, 300);
    const int last = f.view->GetPageCount() - 1;
    QVERIFY(f.view->TabStrip().GetItemRect(last).y() > f.view->TabStrip().GetItemRect(0).y());
    QCOMPARE(f.view->TabStrip().HitTest(TabCentre(*f.view, last)), last);
}

void TestTabs::changesPaintOnce()
{
    Fixture f(2);
    QTest::qWait(50);
    CTabStrip &strip = f.view->TabStrip();
    const int before = strip.PaintCount();
    f.view->AddPage(new QWidget, QStringLiteral("T3"), 0, nullptr);
    f.view->SetActivePage(0);
    f.view->SetPageTitle(1, QStringLiteral("renamed"));
    QTest::qWait(50);
    QCOMPARE(strip.PaintCount() - before, 1);
    const int afterAdd = strip.PaintCount();
    f.view->MovePage(0, 2);
    QTest::qWait(50);
    QCOMPARE(strip.PaintCount() - afterAdd, 1);
}

void TestTabs::imagesAndRightClick()
{
    Fixture f(2);
    QCOMPARE(f.view->SetPageImage(1, 1), 0);
    QCOMPARE(f.view->SetPageImage(1, 0), 1);
    QCOMPARE(f.view->SetPageImage(5, 1), -1);
    f.view->SetPageImage(0, 1);
    // The images: green saved, red modified, dark borders round a bright 3 x 3 centre.
    const QImage saved = CTabStrip::TabImage(0).toImage();
    const QImage modified = CTabStrip::TabImage(1).toImage();
    QCOMPARE(saved.size(), QSize(5, 5));
    QCOMPARE(saved.pixelColor(2, 2), QColor(0, 255, 0));
    QCOMPARE(saved.pixelColor(0, 0), QColor(0, 128, 0));
    QCOMPARE(modified.pixelColor(2, 2), QColor(255, 0, 0));
    // The red square shows on the tab.
    const QImage shot = f.view->TabStrip().grab().toImage();
    const QRect tab0 = f.view->TabStrip().GetItemRect(0);
    bool red = false;
    for (int y = tab0.top(); y <= tab0.bottom() && !red; ++y)
        for (int x = tab0.left(); x < tab0.left() + 20 && !red; ++x)
            red = shot.pixelColor(x, y) == QColor(255, 0, 0);
    QVERIFY(red);

    // A right-click on a tab shows no menu: the frame never sees the event.
    const QPoint pos = TabCentre(*f.view, 1);
    QContextMenuEvent ev(QContextMenuEvent::Mouse, pos, f.view->TabStrip().mapToGlobal(pos));
    QApplication::sendEvent(&f.view->TabStrip(), &ev);
    QCOMPARE(f.frame.contextMenus, 0);
    QCOMPARE(f.view->GetActivePage(), 1);
}

void TestTabs::caption()
{
    Fixture f(0);
    f.frame.setWindowTitle(QStringLiteral("Talvex"));
    f.view->SetTitleBarWindow(&f.frame);
    auto *untitled = new CTalvexView;
    f.view->AddPage(untitled, QStringLiteral("Document1"), 0, untitled);
    QCOMPARE(f.frame.windowTitle(), QStringLiteral("Talvex - "));
    auto *titled = new CTalvexView;
    titled->m_strPath = QStringLiteral("/home/ann/src/a.lisp");
    f.view->AddPage(titled, QStringLiteral("a.lisp"), 0, titled);
    QCOMPARE(f.frame.windowTitle(), QStringLiteral("Talvex - /home/ann/src/a.lisp"));
    QVERIFY(SendKey(*f.view, Qt::Key_Tab, Qt::ControlModifier));
    QCOMPARE(f.frame.windowTitle(), QStringLiteral("Talvex - "));
    // A page without page data leaves the caption alone.
    f.view->AddPage(new QWidget, QStringLiteral("plain"), 0, nullptr);
    QCOMPARE(f.frame.windowTitle(), QStringLiteral("Talvex - "));
}

void TestTabs::focusGoesToActivePage()
{
    Fixture f(3);
    f.frame.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f.frame));
    for (QWidget *page : f.pages)
        page->setFocusPolicy(Qt::StrongFocus);
    f.view->SetActivePage(1);
    QCOMPARE(QApplication::focusWidget(), f.pages[1].data());
    f.pages[0]->setFocus();
    f.view->setFocus();
    QCOMPARE(QApplication::focusWidget(), f.pages[1].data());
}

QTEST_MAIN(TestTabs)
#include "tst_tabs.moc"
