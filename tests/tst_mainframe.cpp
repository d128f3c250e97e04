// Tests of the main window: menus and toolbar from the command table, keys, states, settings commands, exit codes.
#include "FifoGuard.h"
#include "app/CMainFrame.h"
#include "editor/CRecoveryJournals.h"
#include "editor/CFindReplaceDialog.h"
#include "editor/CTalvexView.h"
#include "help/CChmBrowser.h"
#include "help/CChmFindBar.h"
#include "help/CChmViewer.h"
#include "lisp/LispPathSelector.h"
#include "platform/FileLock.h"
#include "platform/FileVersion.h"
#include "settings/CRecentDocList.h"
#include "settings/CSettingsStore.h"

#include "FileBytes.h"
#include "ModalDriver.h"
#include "ProcTable.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFontDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

const QString kSettings = QStringLiteral("Settings");
const QString kKeyPath = QStringLiteral("Software\\Quenmark\\Talvex");

// Lets the event loop wait once, so the dispatcher's aboutToBlock (the idle hook) runs.
void SpinLoop(int ms = 30)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QAction *FindAction(QMenu *menu, int id)
{
    for (QAction *a : menu->actions()) {
        if (a->menu()) {
            if (QAction *found = FindAction(a->menu(), id))
                return found;
        } else if (!a->isSeparator() && a->data().toInt() == id) {
            return a;
        }
    }
    return nullptr;
}

QAction *ToolAction(QToolBar *bar, int id)
{
    for (QAction *a : bar->actions()) {
        if (!a->isSeparator() && a->data().toInt() == id)
            return a;
    }
    return nullptr;
}

// What a popup shows once the state table has written it.
QAction *OpenedItem(CMainFrame &frame, int popup, int id)
{
    QMenu *menu = frame.Popup(popup);
    emit menu->aboutToShow();
    for (QAction *a : menu->actions()) {
        if (a->menu())
            emit a->menu()->aboutToShow();
    }
    return FindAction(menu, id);
}

} // namespace

class TestMainFrame : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void menuMatchesTable();
    void addedCommandRow();
    void menuTexts_data();
    void menuTexts();
    void toolbarOrderAndTips();
    void prompts_data();
    void prompts();
    void menuHoverPrompts();
    void readyAfterMenuCloses();
    void accelerators_data();
    void accelerators();
    void helpViewerKeepsItsKeys();
    void deadKeys_data();
    void deadKeys();
    void acceleratorsNotInModalDialogs();
    void freshProfileChecks();
    void storedChecks_data();
    void storedChecks();
    void idleStates();
    void idleCountsEvents();
    void tabSizeTwice();
    void tabUsesSpacesTwice();
    void keywordSetKeepsCheck();
    void indentCommands();
    void lineEndingAlreadyChecked();
    void lineEndingConvertsAll();
    void evaluationCommands_data();
    void evaluationCommands();
    void interruptCommand();
    void setFont();
    void clipboardToFocus();
    void findDialogPaste();
    void viewToggles();
    void splitterProportion();
    void contextMenuIsEditPopup();
    void dropOpensFiles();
    void reopenSorted();
    void reopenSkipsPipesAndDevices();
    void recentFileCommand();
    void closeCancelKeepsWindow();
    void closeCancelAtSecondPromptKeepsAll();
    void savedAtExitPromptIsReopened();
    void ctrlF4ClosesActiveTab();
    void windowListFollowsTabs();
    void pictures();
    void exitCodes_data();
    void exitCodes();
    void firstStartPicksKeywordSet_data();
    void firstStartPicksKeywordSet();
    void heldSettingsLock();
    void hugeSettingsFile();

    // Files that others change, names that are bytes, dialogs that start where the user works.
    void twoWindowsOneFile();
    void namesThatAreNotUtf8();
    void fileDialogsStartWhereTheUserWorks();

private:
    std::unique_ptr<CMainFrame> MakeFrame(bool show = true);
    CTalvexView *NewDoc(CMainFrame &frame, const QByteArray &text = {});

    std::unique_ptr<QTemporaryDir> m_config;
};

void TestMainFrame::init()
{
    m_config = std::make_unique<QTemporaryDir>();
    QVERIFY(m_config->isValid());
    qputenv("XDG_CONFIG_HOME", m_config->path().toLocal8Bit());
    CSettingsStore::Instance().SetKeyPath(kKeyPath);
    // A real program that stays up reading its input, standing in for the user's Lisp.
    CSettingsStore::Instance().WriteString(kSettings, QStringLiteral("Lisp"), QStringLiteral("/bin/cat"));
}

void TestMainFrame::cleanup()
{
    QApplication::clipboard()->clear();
    m_config.reset();
}

std::unique_ptr<CMainFrame> TestMainFrame::MakeFrame(bool show)
{
    auto frame = std::make_unique<CMainFrame>();
    if (!frame->Create())
        return nullptr;
    if (show) {
        frame->resize(800, 580);
        frame->show();
        frame->activateWindow();
        if (!QTest::qWaitForWindowExposed(frame.get()))
            return nullptr;
    }
    return frame;
}

CTalvexView *TestMainFrame::NewDoc(CMainFrame &frame, const QByteArray &text)
{
    frame.OnCommand(Cmd::FileNew);
    CTalvexView *view = frame.GetActiveView();
    if (view && !text.isEmpty()) {
        view->SetText(text);
        view->SetSavePoint();
    }
    return view;
}

void TestMainFrame::menuMatchesTable()
{
    auto frame = MakeFrame(false);
    QVERIFY(frame);
    const CCommandTable &table = CCommandTable::Standard();
    const QList<QAction *> titles = frame->menuBar()->actions();
    QList<QMenu *> menus;                // the open popups
    QList<QList<QAction *>> stack;       // the remaining actions of each open popup
    int top = 0;
    for (const MenuRow &row : table.Menu()) {
        if (row.kind == MenuRow::PopupBegin) {
            QAction *a = stack.isEmpty() ? titles.value(top++) : stack.last().takeFirst();
            QVERIFY(a && a->menu());
            QCOMPARE(a->text(), QString::fromLatin1(row.text));
            menus.append(a->menu());
            stack.append(a->menu()->actions());
            continue;
        }
        if (row.kind == MenuRow::PopupEnd) {
            QVERIFY2(stack.last().isEmpty(), "extra items in a popup");
            stack.removeLast();
            menus.removeLast();
            continue;
        }
        if (row.kind == MenuRow::WindowList) {
            // The documents are listed at the end of this popup; there are none yet.
            QCOMPARE(menus.last(), frame->WindowPopup());
            continue;
        }
        QVERIFY(!stack.last().isEmpty());
        QAction *a = stack.last().takeFirst();
        if (row.kind == MenuRow::Separator) {
            QVERIFY(a->isSeparator());
            continue;
        }
        QCOMPARE(a->data().toInt(), row.id);
        if (row.kind == MenuRow::RecentFiles) {
            QCOMPARE(menus.last(), frame->RecentFilesPopup());
            QCOMPARE(a->text(), QString::fromLatin1(row.text));
            QVERIFY(!a->isEnabled());
            continue;
        }
        QCOMPARE(a->text(), QString::fromLatin1(table.Find(row.id)->text));
        QCOMPARE(a->icon().isNull(), table.IconPath(row.id).isEmpty());
    }
    QCOMPARE(top, titles.size());
    QCOMPARE(frame->WindowPopup()->title(), QStringLiteral("&Window"));
    QCOMPARE(frame->RecentFilesPopup()->title(), QStringLiteral("Recent Files"));
}

void TestMainFrame::addedCommandRow()
{
    // The program's table with one more row, placed in the File popup and on the toolbar.
    const CCommandTable &standard = CCommandTable::Standard();
    constexpr int kScratch = 32900;
    std::vector<Command> rows(standard.Commands().begin(), standard.Commands().end());
    rows.push_back({.id = kScratch, .text = "Scratch &Document\tCtrl+Shift+K",
                    .keys = {Qt::ControlModifier | Qt::ShiftModifier | Qt::Key_K}, .icon = ":/icons/new.png",
                    .prompt = "Open a scratch document\nScratch", .handler = CCommandTable::On<&CDocumentManager::OnFileNew>});
    std::vector<MenuRow> menu(standard.Menu().begin(), standard.Menu().end());
    const auto open = std::find_if(menu.begin(), menu.end(), [](const MenuRow &r) {
        return r.kind == MenuRow::Item && r.id == Cmd::FileOpen;
    });
    QVERIFY(open != menu.end());
    menu.insert(open + 1, {MenuRow::Item, kScratch});
    std::vector<int> toolbar(standard.Toolbar().begin(), standard.Toolbar().end());
    toolbar.push_back(kScratch);

    CMainFrame frame{CCommandTable(rows, menu, toolbar)};
    QVERIFY(frame.Create());
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QMenu *file = frame.Popup(0);
    QAction *item = file->actions().value(2);
    QVERIFY(item);
    QCOMPARE(item->data().toInt(), kScratch);
    QCOMPARE(item->text(), QStringLiteral("Scratch &Document\tCtrl+Shift+K"));
    QVERIFY(!item->icon().isNull());
    emit file->hovered(item);
    QCOMPARE(frame.StatusText(), QStringLiteral("Open a scratch document"));
    QCOMPARE(ToolAction(frame.ToolBar(), kScratch)->toolTip(), QStringLiteral("Scratch"));

    // Its keys, its menu item and its button all run it.
    QTest::keyClick(&frame.Console(), Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(frame.TabView().GetPageCount(), 1);
    item->trigger();
    QCOMPARE(frame.TabView().GetPageCount(), 2);
    ToolAction(frame.ToolBar(), kScratch)->trigger();
    QCOMPARE(frame.TabView().GetPageCount(), 3);
    QCOMPARE(frame.TabView().GetPageTitle(2), QStringLiteral("Document3"));
}

void TestMainFrame::menuTexts_data()
{
    QTest::addColumn<int>("popup");
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("text");
    QTest::newRow("new") << 0 << 57600 << "&New\tCtrl+N";
    QTest::newRow("open") << 0 << 57601 << "&Open...\tCtrl+O";
    QTest::newRow("save as") << 0 << 57604 << "Save &As...";
    QTest::newRow("exit") << 0 << 57665 << "E&xit";
    QTest::newRow("interrupt") << 0 << 32842 << "Interrupt Lisp\tCtrl+Break";
    QTest::newRow("cut") << 1 << 57635 << "Cu&t\tCtrl+X";
    QTest::newRow("send") << 1 << 32800 << "Send To Lisp\tShift+Enter";
    QTest::newRow("macroexpand") << 1 << 32816 << "Macroexpand-1\tCtrl+Enter";
    QTest::newRow("pprint") << 1 << 32836 << "PrettyPrint\tAlt+Enter";
    QTest::newRow("indent lines") << 1 << 32843 << "Indent Lines\tCtrl+I";
    QTest::newRow("auto indent") << 4 << 32844 << "Auto Indent";
    QTest::newRow("replace") << 2 << 57641 << "Replace\tCtrl+R";
    QTest::newRow("status bar") << 3 << 59393 << "&Status Bar";
    QTest::newRow("crlf") << 4 << 32826 << "Windows (CRLF)";
    QTest::newRow("clojure") << 4 << 32835 << "Clojure";
    QTest::newRow("close") << 5 << 32772 << "&Close\tCtrl+F4";
    QTest::newRow("close all") << 5 << 32773 << "Close &All";
    QTest::newRow("hyperspec") << 6 << 32811 << "Common Lisp HyperSpec\tF1";
    QTest::newRow("look up symbol") << 6 << 32847 << "Look Up Symbol\tShift+F1";
    QTest::newRow("about") << 6 << 57664 << "&About Talvex...";
}

void TestMainFrame::menuTexts()
{
    QFETCH(int, popup);
    QFETCH(int, id);
    QFETCH(QString, text);
    auto frame = MakeFrame(false);
    QVERIFY(frame);
    QAction *a = FindAction(frame->Popup(popup), id);
    QVERIFY(a);
    QCOMPARE(a->text(), text);
}

void TestMainFrame::toolbarOrderAndTips()
{
    auto frame = MakeFrame(false);
    QVERIFY(frame);
    const QList<int> expected = {57600, 57601, 57603, 0, 57635, 57634, 57637, 0, 57643, 57644, 0,
                                 32800, 0, 32804, 32842, 0, 57664};
    const QList<QAction *> actions = frame->ToolBar()->actions();
    QCOMPARE(actions.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        QCOMPARE(actions[i]->isSeparator(), expected[i] == 0);
        if (expected[i] == 0)
            continue;
        QCOMPARE(actions[i]->data().toInt(), expected[i]);
        QVERIFY(!actions[i]->icon().isNull());
        // Separate actions: the buttons show their states at their own moment.
        QVERIFY(actions[i] != FindAction(frame->Popup(0), expected[i]));
    }
    QCOMPARE(frame->ToolBar()->iconSize(), QSize(16, 15));
    QCOMPARE(ToolAction(frame->ToolBar(), 57635)->toolTip(), QStringLiteral("Clipboard\nCut"));
    QCOMPARE(ToolAction(frame->ToolBar(), 57600)->toolTip(), QStringLiteral("New"));
    QCOMPARE(ToolAction(frame->ToolBar(), 32800)->toolTip(), QStringLiteral("Send To Lisp"));
    // A crisp image for high-density screens comes with each button.
    QCOMPARE(ToolAction(frame->ToolBar(), 57600)->icon().pixmap(QSize(16, 15), 2.0).size(), QSize(32, 30));
    QVERIFY(!frame->windowIcon().isNull());
    QVERIFY(frame->windowIcon().availableSizes().contains(QSize(48, 48)));
}

void TestMainFrame::prompts_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<QString>("tooltip");
    QTest::newRow("cut") << 57635 << "Cut the selection and put it on the " << "Clipboard\nCut";
    QTest::newRow("save as") << 57604 << "Save the active document with a new name" << "Save \nAs";
    QTest::newRow("hyperspec, no tooltip") << 32811 << "Common Lisp HyperSpec" << "";
    QTest::newRow("look up symbol") << 32847 << "Show the reference page of the symbol at the caret" << "Look Up Symbol";
    QTest::newRow("no string") << 32809 << "" << "";
    QTest::newRow("indent lines") << 32843 << "Indent the selected lines as Lisp" << "Indent Lines";
    QTest::newRow("keyword set") << 32830 << "" << "";
    QTest::newRow("recent item") << 57620 << "Open this document" << "";
    QTest::newRow("window item") << 0xFF05 << "Activate this window" << "";
    QTest::newRow("system close") << 0xF060 << "Close the active window and prompts to save the " << "";
    QTest::newRow("system size") << 0xF000 << "Change the window size" << "";
}

void TestMainFrame::prompts()
{
    QFETCH(int, id);
    QFETCH(QString, prompt);
    QFETCH(QString, tooltip);
    QCOMPARE(CCommandTable::Standard().Prompt(id), prompt);
    if (id < 0xF000)
        QCOMPARE(CCommandTable::Standard().Tooltip(id), tooltip);
}

void TestMainFrame::menuHoverPrompts()
{
    auto frame = MakeFrame();
    QVERIFY(frame);
    QCOMPARE(frame->StatusText(), QStringLiteral("Ready"));
    QMenu *edit = frame->Popup(1);
    emit edit->hovered(FindAction(edit, 57635));
    QCOMPARE(frame->StatusText(), QStringLiteral("Cut the selection and put it on the "));
    emit edit->hovered(FindAction(edit, 32836));
    QCOMPARE(frame->StatusText(), QString());
    emit edit->aboutToHide();
    QCOMPARE(frame->StatusText(), QStringLiteral("Ready"));

    // A highlighted popup item has no prompt; the recent-file items share one.
    QMenu *file = frame->Popup(0);
    emit file->hovered(frame->RecentFilesPopup()->menuAction());
    QCOMPARE(frame->StatusText(), QString());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("r.lisp"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QVERIFY(frame->OnDropFiles({QUrl::fromLocalFile(path)})); // opened, so listed
    emit file->hovered(FindAction(frame->RecentFilesPopup(), 57616));
    QCOMPARE(frame->StatusText(), QStringLiteral("Open this document"));
}

void TestMainFrame::readyAfterMenuCloses()
{
    auto frame = MakeFrame();
    QVERIFY(frame);
    QMenuBar *bar = frame->menuBar();
    QMenu *file = frame->Popup(0);
    const QPoint title = bar->actionGeometry(file->menuAction()).center();
    // The mouse passing over the bar opens nothing and leaves "Ready".
    QTest::mouseMove(bar, title);
    QTest::mouseMove(bar, bar->actionGeometry(frame->Popup(3)->menuAction()).center());
    QCOMPARE(frame->StatusText(), QStringLiteral("Ready"));
    // A click opens the popup; a highlighted item shows its prompt.
    QTest::mouseClick(bar, Qt::LeftButton, {}, title);
    QTRY_VERIFY(file->isVisible());
    QTest::keyClick(file, Qt::Key_Down);
    QTRY_COMPARE(frame->StatusText(), QStringLiteral("Create a new document"));
    // Escape closes the popup and leaves the bar's title highlighted, a second one leaves the bar.
    QTest::keyClick(file, Qt::Key_Escape);
    QTRY_VERIFY(!file->isVisible());
    QTest::keyClick(bar, Qt::Key_Escape);
    QTRY_COMPARE(frame->StatusText(), QStringLiteral("Ready"));
    QVERIFY(!bar->hasFocus());
    // Clicking the title again closes its popup the other way.
    QTest::mouseClick(bar, Qt::LeftButton, {}, title);
    QTRY_VERIFY(file->isVisible());
    QTest::mouseClick(bar, Qt::LeftButton, {}, title);
    QTRY_VERIFY(!file->isVisible());
    QTRY_COMPARE(frame->StatusText(), QStringLiteral("Ready"));
}

void TestMainFrame::accelerators_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("mods");
    QTest::addColumn<int>("id");
    const int C = Qt::ControlModifier, S = Qt::ShiftModifier, A = Qt::AltModifier, N = 0;
    QTest::newRow("Ctrl+C") << int(Qt::Key_C) << C << 57634;
    QTest::newRow("Ctrl+Insert") << int(Qt::Key_Insert) << C << 57634;
    QTest::newRow("Ctrl+X") << int(Qt::Key_X) << C << 57635;
    QTest::newRow("Shift+Delete") << int(Qt::Key_Delete) << S << 57635;
    QTest::newRow("Ctrl+V") << int(Qt::Key_V) << C << 57637;
    QTest::newRow("Shift+Insert") << int(Qt::Key_Insert) << S << 57637;
    QTest::newRow("Ctrl+Z") << int(Qt::Key_Z) << C << 57643;
    QTest::newRow("Alt+Backspace") << int(Qt::Key_Backspace) << A << 57643;
    QTest::newRow("Ctrl+Y") << int(Qt::Key_Y) << C << 57644;
    QTest::newRow("Ctrl+F") << int(Qt::Key_F) << C << 57636;
    QTest::newRow("Ctrl+R") << int(Qt::Key_R) << C << 57641;
    QTest::newRow("Ctrl+N") << int(Qt::Key_N) << C << 57600;
    QTest::newRow("Ctrl+O") << int(Qt::Key_O) << C << 57601;
    QTest::newRow("Ctrl+S") << int(Qt::Key_S) << C << 57603;
    QTest::newRow("Ctrl+Enter") << int(Qt::Key_Return) << C << 32816;
    QTest::newRow("Ctrl+keypad Enter") << int(Qt::Key_Enter) << (C | int(Qt::KeypadModifier)) << 32816;
    QTest::newRow("Alt+Enter") << int(Qt::Key_Return) << A << 32836;
    QTest::newRow("F1") << int(Qt::Key_F1) << N << 32811;
    QTest::newRow("Shift+F1") << int(Qt::Key_F1) << S << 32847;
    QTest::newRow("Ctrl+P") << int(Qt::Key_P) << C << 57607;
    QTest::newRow("F6") << int(Qt::Key_F6) << N << 57680;
    QTest::newRow("Shift+F6") << int(Qt::Key_F6) << S << 57681;
    QTest::newRow("Ctrl+F4") << int(Qt::Key_F4) << C << 32772;
    QTest::newRow("Ctrl+Break") << int(Qt::Key_Pause) << C << 32842;
    QTest::newRow("Ctrl+I") << int(Qt::Key_I) << C << 32843;
    // Not bound (modifiers must match exactly): no command runs.
    QTest::newRow("Ctrl+Shift+C unbound") << int(Qt::Key_C) << (C | S) << 0;
}

void TestMainFrame::accelerators()
{
    QFETCH(int, key);
    QFETCH(int, mods);
    QFETCH(int, id);
    auto frame = MakeFrame();
    QVERIFY(frame);
    CTalvexView *view = NewDoc(*frame);
    QVERIFY(view);
    view->setFocus();
    ModalDriver answerer(QMessageBox::Cancel); // file dialogs and the like come and go
    const int before = frame->LastCommand();
    QTest::keyClick(view, Qt::Key(key), Qt::KeyboardModifiers(mods));
    QCOMPARE(frame->LastCommand(), id ? id : before);
    // The same in the console, where Ctrl+N and the rest act as well.
    QTest::keyClick(&frame->Console(), Qt::Key(key), Qt::KeyboardModifiers(mods));
    QCOMPARE(frame->LastCommand(), id ? id : before);
}

void TestMainFrame::helpViewerKeepsItsKeys()
{
    auto frame = MakeFrame();
    QVERIFY(frame);
    QVERIFY(NewDoc(*frame));
    QTest::keyClick(frame.get(), Qt::Key_F1); // the viewer comes, here saying where it looked
    CChmViewer *viewer = frame->findChild<CChmViewer *>();
    QVERIFY(viewer);
    viewer->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(viewer));
    viewer->Browser()->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), viewer->Browser());
    // Ctrl+F in the viewer finds in its page; the frame's Find stays away.
    const int before = frame->LastCommand();
    QTest::keyClick(viewer->Browser(), Qt::Key_F, Qt::ControlModifier);
    QVERIFY(viewer->FindBar()->isVisible());
    QCOMPARE(frame->LastCommand(), before);
    QVERIFY(!frame->findChild<CFindReplaceDialog *>());
    // Ctrl+C copies from the page, not from the document.
    viewer->Browser()->setFocus();
    viewer->Browser()->selectAll();
    QTest::keyClick(viewer->Browser(), Qt::Key_C, Qt::ControlModifier);
    QVERIFY(QApplication::clipboard()->text().contains("CLHS.chm"));
}

void TestMainFrame::deadKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("mods");
    QTest::newRow("Ctrl+P") << int(Qt::Key_P) << int(Qt::ControlModifier);
    QTest::newRow("F6") << int(Qt::Key_F6) << 0;
    QTest::newRow("Shift+F6") << int(Qt::Key_F6) << int(Qt::ShiftModifier);
}

// Records which key presses reach a widget.
class KeySpy : public QObject
{
public:
    int presses = 0;
    bool eventFilter(QObject *, QEvent *e) override
    {
        // Modifier keys come as presses of their own.
        if (e->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(e)->key();
            if (key != Qt::Key_Control && key != Qt::Key_Shift && key != Qt::Key_Alt)
                ++presses;
        }
        return false;
    }
};

void TestMainFrame::deadKeys()
{
    QFETCH(int, key);
    QFETCH(int, mods);
    auto frame = MakeFrame();
    QVERIFY(frame);
    CTalvexView *view = NewDoc(*frame, "(a b)");
    const int pages = frame->TabView().GetPageCount();
    for (CScintillaCtrl *target : {static_cast<CScintillaCtrl *>(view), static_cast<CScintillaCtrl *>(&frame->Console())}) {
        KeySpy spy;
        target->installEventFilter(&spy);
        const QByteArray before = target->GetText();
        QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(mods));
        QCOMPARE(spy.presses, 0);              // consumed before the widget
        QCOMPARE(target->GetText(), before);   // and nothing happened
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        // A plain letter still reaches the widget: the filter only takes its own keys.
        QTest::keyClick(target, Qt::Key_Q);
        QVERIFY(spy.presses > 0);
        target->removeEventFilter(&spy);
    }
    QCOMPARE(frame->TabView().GetPageCount(), pages);
}

void TestMainFrame::acceleratorsNotInModalDialogs()
{
    auto frame = MakeFrame();
    QVERIFY(frame);
    const int pages = frame->TabView().GetPageCount();
    QDialog dialog(frame.get());
    QLineEdit edit(&dialog);
    QTimer::singleShot(0, &dialog, [&] {
        QTest::keyClick(&edit, Qt::Key_N, Qt::ControlModifier);
        dialog.accept();
    });
    dialog.exec();
    QCOMPARE(frame->TabView().GetPageCount(), pages);
    QCOMPARE(frame->LastCommand(), 0);
}

void TestMainFrame::freshProfileChecks()
{
    auto frame = MakeFrame(false);
    QVERIFY(frame);
    // The platform's own line end: LF off Windows.
    const int eol = 32826 + CSettingsStore::kDefaultLineEnding;
    const struct { int popup, id; bool checked; } expected[] = {
        {4, 32840, true}, {4, 32841, false}, {4, 32830, true}, {4, 32831, false}, {4, 32835, false},
        {4, 32826, eol == 32826}, {4, 32827, false}, {4, 32828, eol == 32828}, {4, 32810, false},
        {3, 59392, true}, {3, 59393, true},
    };
    for (const auto &e : expected) {
        QCOMPARE(frame->UpdateUI().UIIsChecked(e.id), e.checked);
        QAction *a = OpenedItem(*frame, e.popup, e.id);
        QVERIFY(a);
        QCOMPARE(a->isChecked(), e.checked);
    }
}

void TestMainFrame::storedChecks_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("value");
    QTest::addColumn<QList<int>>("group");
    QTest::addColumn<int>("checkedId"); // 0: none of the group
    const QList<int> eol = {32826, 32827, 32828};
    const QList<int> tabs = {32840, 32841};
    const QList<int> sets = {32830, 32831, 32832, 32833, 32834, 32835};
    QTest::newRow("LF") << "LineEnding" << 2 << eol << 32828;
    QTest::newRow("line ending 3") << "LineEnding" << 3 << eol << 0;
    QTest::newRow("CR LF") << "LineEnding" << 0 << eol << 32826;
    QTest::newRow("tab 8") << "TabSize" << 8 << tabs << 32841;
    QTest::newRow("tab 6") << "TabSize" << 6 << tabs << 0;
    QTest::newRow("newLISP") << "KeywordSet" << 2 << sets << 32832;
    QTest::newRow("keyword set 7") << "KeywordSet" << 7 << sets << 0;
    QTest::newRow("spaces 1") << "TabUsesSpaces" << 1 << QList<int>{32810} << 32810;
    QTest::newRow("spaces 2") << "TabUsesSpaces" << 2 << QList<int>{32810} << 0;
}

void TestMainFrame::storedChecks()
{
    QFETCH(QString, name);
    QFETCH(int, value);
    QFETCH(QList<int>, group);
    QFETCH(int, checkedId);
    CSettingsStore::Instance().WriteInt(kSettings, name, value);
    auto frame = MakeFrame(false);
    QVERIFY(frame);
    for (int id : group)
        QCOMPARE(frame->UpdateUI().UIIsChecked(id), id == checkedId);
}

void TestMainFrame::idleStates()
{
    auto frame = MakeFrame();
    QVERIFY(frame);
    const CUpdateUI &ui = frame->UpdateUI();
    QToolBar *bar = frame->ToolBar();
    // No document: the four are disabled; the toolbar follows one pass later.
    frame->OnIdle();
    for (int id : {57603, 57604, 32800, 32816})
        QVERIFY(!ui.UIIsEnabled(id));
    QVERIFY(ToolAction(bar, 57603)->isEnabled());
    frame->OnIdle();
    QVERIFY(!ToolAction(bar, 57603)->isEnabled());
    QVERIFY(!ToolAction(bar, 32800)->isEnabled());
    QVERIFY(!OpenedItem(*frame, 0, 57603)->isEnabled());
    QVERIFY(!OpenedItem(*frame, 1, 32816)->isEnabled());
    QVERIFY(OpenedItem(*frame, 1, 32836)->isEnabled()); // PrettyPrint is never disabled

    // A modified document with a form before the caret.
    CTalvexView *view = NewDoc(*frame);
    view->setFocus();
    QTest::keyClicks(view, QStringLiteral("(a b)"));
    QTRY_VERIFY(view->IsSendable());
    frame->OnIdle();
    QVERIFY(ui.UIIsEnabled(57603) && ui.UIIsEnabled(57604));
    QVERIFY(ui.UIIsEnabled(32800) && ui.UIIsEnabled(32816));
    QVERIFY(OpenedItem(*frame, 0, 57603)->isEnabled());
    QVERIFY(!ToolAction(bar, 57603)->isEnabled()); // one pass behind
    frame->OnIdle();
    QVERIFY(ToolAction(bar, 57603)->isEnabled());
    QVERIFY(ToolAction(bar, 32800)->isEnabled());
    // The tab image follows: set back to unmodified, the next pass shows image 0.
    QCOMPARE(frame->TabView().SetPageImage(0, 1), 1);
    view->SetSavePoint();
    QTest::keyClick(view, Qt::Key_Space);
    view->SetSavePoint();
    QTRY_VERIFY(!view->IsSendable());
    frame->OnIdle();
    QCOMPARE(frame->TabView().SetPageImage(0, 0), 0);
    QVERIFY(!ui.UIIsEnabled(57603) && !ui.UIIsEnabled(57604));
    QVERIFY(!ui.UIIsEnabled(32800)); // a space before the caret: nothing to send

    // Ctrl+S on the unmodified document still saves (the table never blocks a command).
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("s.lisp"));
    view->m_strPath = path;
    QTest::keyClick(view, Qt::Key_S, Qt::ControlModifier);
    QVERIFY(QFileInfo::exists(path));
}

void TestMainFrame::idleCountsEvents()
{
    auto frame = MakeFrame();
    QVERIFY(frame);
    CIdleHook *hook = frame->IdleHook();
    QVERIFY(hook);
    hook->RunIfDue();
    QVERIFY(!hook->IsIdleDue());
    // Mouse moves and timers do not make idle work due; a key press does.
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&frame->Console(), &move);
    QTimerEvent tick(12345);
    QCoreApplication::sendEvent(&frame->Console(), &tick);
    QVERIFY(!hook->IsIdleDue());
    CTalvexView *view = NewDoc(*frame);
    view->setFocus();
    hook->RunIfDue();
    QVERIFY(!frame->UpdateUI().UIIsEnabled(57603));
    QTest::keyClicks(view, QStringLiteral("x"));
    QVERIFY(hook->IsIdleDue());
    // The idle pass runs by itself once the loop waits.
    SpinLoop();
    QVERIFY(frame->UpdateUI().UIIsEnabled(57603));
}

void TestMainFrame::tabSizeTwice()
{
    auto frame = MakeFrame(false);
    QVERIFY(frame);
    CSettingsStore &store = CSettingsStore::Instance();
    ModalDriver answerer;
    frame->OnCommand(32841);
    QTRY_COMPARE(answerer.seen.size(), 1);
    QCOMPARE(store.ReadInt(kSettings, QStringLiteral("TabSize"), -1), 8);
    QVERIFY(frame->UpdateUI().UIIsChecked(32841));
    QVERIFY(!frame->UpdateUI().UIIsChecked(32840));
    // Chosen again: the message comes again and nothing is written.
    store.WriteInt(kSettings, QStringLiteral("TabSize"), 4);
    frame->OnCommand(32841);
    QCOMPARE(answerer.seen.size(), 2);
    QCOMPARE(store.ReadInt(kSettings, QStringLiteral("TabSize"), -1), 4);
    QVERIFY(frame->UpdateUI().UIIsChecked(32841));
    for (const auto &s : answerer.seen) {
        QCOMPARE(s.caption, QStringLiteral("Talvex"));
        QCOMPARE(s.text, QStringLiteral("Please restart Talvex"));
        QCOMPARE(s.icon, QMessageBox::Warning);
    }
}

void TestMainFrame::tabUsesSpacesTwice()
{
    auto frame = MakeFrame(false);
    QVERIFY(frame);
    ModalDriver answerer;
    CSettingsStore &store = CSettingsStore::Instance();
    frame->OnCommand(32810);
    QCOMPARE(store.ReadInt(kSettings, QStringLiteral("TabUsesSpaces"), -1), 1);
    QVERIFY(frame->UpdateUI().UIIsChecked(32810));
    QVERIFY(OpenedItem(*frame, 4, 32810)->isChecked());
    frame->OnCommand(32810);
    QCOMPARE(store.ReadInt(kSettings, QStringLiteral("TabUsesSpaces"), -1), 0);
    QVERIFY(!frame->UpdateUI().UIIsChecked(32810));
    QVERIFY(!OpenedItem(*frame, 4, 32810)->isChecked());
    QCOMPARE(answerer.seen.size(), 2);
}

void TestMainFrame::keywordSetKeepsCheck()
{
    auto frame = MakeFrame(false);
    QVERIFY(frame);
    ModalDriver answerer;
    frame->OnCommand(32831);
    QCOMPARE(CSettingsStore::Instance().ReadInt(kSettings, QStringLiteral("KeywordSet"), -1), 1);
    QVERIFY(OpenedItem(*frame, 4, 32830)->isChecked());
    QVERIFY(!OpenedItem(*frame, 4, 32831)->isChecked());
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].text, QStringLiteral("Please restart Talvex"));
}

// Indent Lines behind a separator after PrettyPrint, Auto Indent after Tab Uses Spaces; Auto
// Indent acts on every open view at once and asks for no restart.
void TestMainFrame::indentCommands()
{
    auto frame = MakeFrame();
    QVERIFY(frame);
    const QList<QAction *> edit = frame->Popup(1)->actions();
    const qsizetype pprint = edit.indexOf(FindAction(frame->Popup(1), 32836));
    QVERIFY(edit.value(pprint + 1)->isSeparator());
    QCOMPARE(edit.value(pprint + 2)->data().toInt(), 32843);
    const QList<QAction *> settings = frame->Popup(4)->actions();
    QCOMPARE(settings.value(settings.indexOf(FindAction(frame->Popup(4), 32810)) + 1)->data().toInt(), 32844);

    CTalvexView *first = NewDoc(*frame, "(defun f (x)\n(print x)\nx)");
    first->setFocus();
    QTest::keyClick(first, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(first, Qt::Key_I, Qt::ControlModifier);
    QCOMPARE(first->GetText(), QByteArray("(defun f (x)\n  (print x)\n  x)"));

    CTalvexView *second = NewDoc(*frame);
    ModalDriver answerer;
    QVERIFY(!first->AutoIndent() && !second->AutoIndent());
    frame->OnCommand(32844);
    QVERIFY(first->AutoIndent() && second->AutoIndent());
    QVERIFY(OpenedItem(*frame, 4, 32844)->isChecked());
    QCOMPARE(CSettingsStore::Instance().ReadInt(kSettings, QStringLiteral("AutoIndent"), -1), 1);
    QVERIFY(NewDoc(*frame)->AutoIndent());
    frame->OnCommand(32844);
    QVERIFY(!first->AutoIndent() && !second->AutoIndent());
    QCOMPARE(CSettingsStore::Instance().ReadInt(kSettings, QStringLiteral("AutoIndent"), -1), 0);
    QVERIFY(answerer.seen.isEmpty());

    // Shift+Enter with nothing to send says what to do.
    second->setFocus();
    QTest::keyClick(second, Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(frame->StatusText(),
             QStringLiteral("Nothing to send: put the caret after a closing bracket or select the text"));
}

void TestMainFrame::lineEndingAlreadyChecked()
{
    auto frame = MakeFrame(false);
    QVERIFY(frame);
    CTalvexView *view = NewDoc(*frame, "(a)\n(b)\n");
    frame->OnCommand(32826 + CSettingsStore::kDefaultLineEnding); // checked already
    QCOMPARE(CSettingsStore::Instance().ReadInt(kSettings, QStringLiteral("LineEnding"), -1), -1);
    QCOMPARE(view->GetText(), QByteArray("(a)\n(b)\n"));
    QVERIFY(!view->GetModify());
    QVERIFY(frame->UpdateUI().UIIsChecked(32826 + CSettingsStore::kDefaultLineEnding));
}

void TestMainFrame::lineEndingConvertsAll()
{
    CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("LineEnding"), 0);
    auto frame = MakeFrame(false);
    QVERIFY(frame);
    CTalvexView *a = NewDoc(*frame, "(a)\r\n(b)\r\n");
    CTalvexView *b = NewDoc(*frame, "(c)\r(d)");
    CTalvexView *c = NewDoc(*frame, "(e)\n");
    // A file holding NUL bytes is not text: its CR bytes are data, and stay.
    QTemporaryDir dir;
    const QByteArray png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    QVERIFY(WriteBytes(dir.filePath(QStringLiteral("b.png")), png));
    frame->OnDropFiles({QUrl::fromLocalFile(dir.filePath(QStringLiteral("b.png")))});
    CTalvexView *binary = frame->GetActiveView();
    ModalDriver answerer;
    frame->OnCommand(32828); // Unix (LF)
    QCOMPARE(CSettingsStore::Instance().ReadInt(kSettings, QStringLiteral("LineEnding"), -1), 2);
    QCOMPARE(a->GetText(), QByteArray("(a)\n(b)\n"));
    QCOMPARE(b->GetText(), QByteArray("(c)\n(d)"));
    QCOMPARE(c->GetText(), QByteArray("(e)\n"));
    QVERIFY(a->GetModify() && b->GetModify());
    QVERIFY(!c->GetModify());
    QCOMPARE(a->GetEOLMode(), 2);
    QVERIFY(frame->UpdateUI().UIIsChecked(32828));
    QVERIFY(!frame->UpdateUI().UIIsChecked(32826));
    QVERIFY(answerer.seen.isEmpty()); // no message
    // The console keeps its own mode.
    const int consoleMode = frame->Console().GetEOLMode();
    frame->OnCommand(32827);
    QCOMPARE(a->GetText(), QByteArray("(a)\r(b)\r"));
    QCOMPARE(frame->Console().GetEOLMode(), consoleMode);
    QCOMPARE(binary->GetText(), png);
    QVERIFY(!binary->GetModify());
}

void TestMainFrame::evaluationCommands_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("mods");
    QTest::addColumn<int>("id");
    QTest::addColumn<QByteArray>("written");
    // The form goes with its quote.
    QTest::newRow("send to lisp") << 0 << 0 << 32800 << QByteArray("'(f 1 2)");
    QTest::newRow("macroexpand-1, Ctrl+Enter") << int(Qt::Key_Return) << int(Qt::ControlModifier) << 0
                                               << QByteArray("(pprint (macroexpand-1 ''(f 1 2)))");
    QTest::newRow("prettyprint, Alt+Enter") << int(Qt::Key_Return) << int(Qt::AltModifier) << 0
                                            << QByteArray("(pprint ''(f 1 2))");
}

void TestMainFrame::evaluationCommands()
{
    QFETCH(int, key);
    QFETCH(int, mods);
    QFETCH(int, id);
    QFETCH(QByteArray, written);
    auto frame = MakeFrame();
    QVERIFY(frame);
    CTalvexPipe &console = frame->Console();
    QTRY_VERIFY(console.IsLispRunning());
    // With no document nothing is sent and the console stays as it is.
    const QByteArray empty = console.GetText();
    frame->OnCommand(32800);
    frame->OnCommand(32816);
    frame->OnCommand(32836);
    QTest::qWait(50);
    QCOMPARE(console.GetText(), empty);
    // The Lisp here is cat: what it is sent comes straight back into the console.
    CTalvexView *view = NewDoc(*frame, "'(f 1 2)");
    view->setFocus();
    view->GotoPos(view->GetLength());
    const QByteArray before = view->GetText();
    if (id)
        frame->OnCommand(id);
    else
        QTest::keyClick(view, Qt::Key(key), Qt::KeyboardModifiers(mods));
    QTRY_VERIFY(console.GetText().contains(written));
    QCOMPARE(console.GetText().count(written), 1);
    QCOMPARE(view->GetText(), before); // the document is left as it was
}

// Interrupt Lisp: after Reset Lisp in the File menu and on the toolbar, Ctrl+Break, enabled
// while a Lisp runs; the console says the interrupt went, and the Lisp goes on.
void TestMainFrame::interruptCommand()
{
    qputenv("FAKELISP_MODE", "interrupt");
    CSettingsStore::Instance().WriteString(kSettings, QStringLiteral("Lisp"),
                                           QStringLiteral(TALVEX_TEST_HELPERS_DIR "/fakelisp"));
    auto frame = MakeFrame();
    QVERIFY(frame);
    CTalvexPipe &console = frame->Console();
    QTRY_VERIFY(console.GetText().contains("pid "));
    QList<QAction *> file = frame->Popup(0)->actions();
    const qsizetype reset = file.indexOf(FindAction(frame->Popup(0), Cmd::FileResetLisp));
    QCOMPARE(file.at(reset + 1)->data().toInt(), int(Cmd::FileInterruptLisp));
    frame->OnIdle();
    frame->OnIdle();
    QVERIFY(OpenedItem(*frame, 0, Cmd::FileInterruptLisp)->isEnabled());
    QVERIFY(ToolAction(frame->ToolBar(), Cmd::FileInterruptLisp)->isEnabled());
    QCOMPARE(ToolAction(frame->ToolBar(), Cmd::FileInterruptLisp)->toolTip(), QStringLiteral("Interrupt Lisp"));

    // Ctrl+Pause as Qt names it, then as the X window system sends it (an unnamed Break key).
    CTalvexView *view = NewDoc(*frame);
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Pause, Qt::ControlModifier);
    QTRY_VERIFY(console.GetText().contains("interrupted 1\n"));
    QKeyEvent press(QEvent::KeyPress, 0, Qt::ControlModifier, 0, 0xff6b, 0);
    QCoreApplication::sendEvent(view, &press);
    QTRY_VERIFY(console.GetText().contains("interrupted 2\n"));
    QCOMPARE(console.GetText().count("<INTERRUPT>: Interrupt sent to Lisp\r\n"), qsizetype(2));
    QVERIFY(console.IsLispRunning());

    // A Lisp that has ended cannot be interrupted: the command is disabled, and its key says so.
    qputenv("FAKELISP_MODE", "exit");
    frame->OnCommand(Cmd::FileResetLisp);
    QTRY_VERIFY(!console.IsLispRunning());
    frame->OnIdle();
    frame->OnIdle();
    QVERIFY(!OpenedItem(*frame, 0, Cmd::FileInterruptLisp)->isEnabled());
    QVERIFY(!ToolAction(frame->ToolBar(), Cmd::FileInterruptLisp)->isEnabled());
    QTest::keyClick(view, Qt::Key_Pause, Qt::ControlModifier);
    QVERIFY(console.GetText().endsWith("<ERROR>: Lisp is not running; Reset Lisp starts it\r\n"));
    qunsetenv("FAKELISP_MODE");
}

void TestMainFrame::setFont()
{
    auto frame = MakeFrame(false);
    QVERIFY(frame);
    CSettingsStore &store = CSettingsStore::Instance();
    QFont start;
    int messages = 0;
    bool accept = false;
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *dlg = qobject_cast<QFontDialog *>(modal)) {
            start = dlg->currentFont();
            if (accept) {
                dlg->setCurrentFont(QFont(QStringLiteral("DejaVu Sans Mono"), 12));
                dlg->accept();
            } else {
                dlg->reject();
            }
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            QCOMPARE(box->text(), QStringLiteral("Please restart Talvex"));
            ++messages;
            box->accept();
        }
    });
    poll.start(5);
    frame->OnCommand(32808); // cancelled: nothing stored, no message
    // The dialog opens on the console's font (it may spell the family in its own case).
    QCOMPARE(start.family().toLower(), frame->Console().Font().family().toLower());
    QCOMPARE(store.ReadString(kSettings, QStringLiteral("FontName"), QStringLiteral("-")), QStringLiteral("-"));
    QCOMPARE(messages, 0);
    accept = true;
    frame->OnCommand(32808);
    QCOMPARE(store.ReadString(kSettings, QStringLiteral("FontName"), QString()), QStringLiteral("DejaVu Sans Mono"));
    QCOMPARE(store.ReadInt(kSettings, QStringLiteral("FontSize"), 0), 120);
    QCOMPARE(messages, 1);
}

void TestMainFrame::clipboardToFocus()
{
    auto frame = MakeFrame();
    QVERIFY(frame);
    CTalvexView *view = NewDoc(*frame, "alpha");
    CTalvexPipe &console = frame->Console();
    // The console: copy its selection with Ctrl+C.
    console.setFocus();
    QTRY_VERIFY(console.hasFocus());
    console.ShowMessage("beta gamma");
    const auto len = console.GetLength();
    console.SetSel(len - 5, len);
    QTest::keyClick(&console, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("gamma"));
    // The editor: Ctrl+Insert copies, Shift+Insert pastes, Ctrl+Z undoes there, not in the console.
    view->setFocus();
    QTRY_VERIFY(view->hasFocus());
    view->SetSel(0, 5);
    QTest::keyClick(view, Qt::Key_Insert, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("alpha"));
    view->SetSel(5, 5);
    QTest::keyClick(view, Qt::Key_Insert, Qt::ShiftModifier);
    QCOMPARE(view->GetText(), QByteArray("alphaalpha"));
    const QByteArray consoleText = console.GetText();
    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(view->GetText(), QByteArray("alpha"));
    QTest::keyClick(view, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(view->GetText(), QByteArray("alphaalpha"));
    QCOMPARE(console.GetText(), consoleText);
    // Shift+Delete cuts.
    view->SetSel(0, 5);
    QTest::keyClick(view, Qt::Key_Delete, Qt::ShiftModifier);
    QCOMPARE(view->GetText(), QByteArray("alpha"));
    // With no focus widget nothing happens.
    view->clearFocus();
    QApplication::clipboard()->setText(QStringLiteral("zzz"));
    frame->OnCommand(57637);
    QCOMPARE(view->GetText(), QByteArray("alpha"));
}

void TestMainFrame::findDialogPaste()
{
    auto frame = MakeFrame();
    QVERIFY(frame);
    CTalvexView *view = NewDoc(*frame, "text");
    view->setFocus();
    QTest::keyClick(view, Qt::Key_F, Qt::ControlModifier);
    auto *dialog = frame->findChild<CFindReplaceDialog *>();
    QVERIFY(dialog);
    QLineEdit *edit = dialog->FindEdit();
    QVERIFY(edit);
    edit->activateWindow();
    edit->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), edit);
    QApplication::clipboard()->setText(QStringLiteral("needle"));
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    QVERIFY(edit->text().contains(QStringLiteral("needle")));
    QCOMPARE(view->GetText(), QByteArray("text"));
}

void TestMainFrame::viewToggles()
{
    auto frame = MakeFrame();
    QVERIFY(frame);
    frame->OnCommand(59392);
    QVERIFY(frame->ToolBar()->isHidden());
    QVERIFY(frame->menuBar()->isVisible());
    QVERIFY(!OpenedItem(*frame, 3, 59392)->isChecked());
    frame->OnCommand(59393);
    QVERIFY(frame->statusBar()->isHidden());
    QVERIFY(!OpenedItem(*frame, 3, 59393)->isChecked());
    frame->OnCommand(59392);
    frame->OnCommand(59393);
    QVERIFY(frame->ToolBar()->isVisible() && frame->statusBar()->isVisible());
    QVERIFY(OpenedItem(*frame, 3, 59392)->isChecked());
    QVERIFY(OpenedItem(*frame, 3, 59393)->isChecked());
    // Not stored: the next window shows both again.
    frame->OnCommand(59392);
    frame.reset();
    auto next = MakeFrame();
    QVERIFY(next && next->ToolBar()->isVisible());
}

void TestMainFrame::splitterProportion()
{
    auto frame = MakeFrame();
    QVERIFY(frame);
    QSplitter *splitter = frame->Splitter();
    QCOMPARE(splitter->widget(0), static_cast<QWidget *>(&frame->TabView()));
    QCOMPARE(splitter->widget(1), static_cast<QWidget *>(&frame->Console()));
    QCOMPARE(splitter->orientation(), Qt::Vertical);
    QTRY_COMPARE(splitter->sizes().value(0), 400);
    const double before = double(splitter->sizes()[0]) / (splitter->sizes()[0] + splitter->sizes()[1]);
    frame->resize(800, 1000);
    QTRY_VERIFY(splitter->height() > 700);
    const QList<int> after = splitter->sizes();
    QVERIFY2(qAbs(double(after[0]) / (after[0] + after[1]) - before) < 0.02, "proportion lost on resize");
    frame->showMinimized();
    frame->showNormal();
    QTest::qWait(20);
    const QList<int> restored = splitter->sizes();
    QVERIFY(qAbs(double(restored[0]) / (restored[0] + restored[1]) - before) < 0.02);
}

void TestMainFrame::contextMenuIsEditPopup()
{
    auto frame = MakeFrame();
    QVERIFY(frame);
    CTalvexView *view = NewDoc(*frame, "x");
    QMenu *edit = frame->Popup(1);
    for (QWidget *target : {static_cast<QWidget *>(view), static_cast<QWidget *>(&frame->Console())}) {
        const QPoint local(10, 10);
        const QPoint global = target->mapToGlobal(local);
        QContextMenuEvent ev(QContextMenuEvent::Mouse, local, global);
        QCoreApplication::sendEvent(target, &ev);
        QTRY_VERIFY(edit->isVisible());
        if (target == view) // the console's popup may be moved up to fit the screen
            QCOMPARE(edit->pos(), global);
        // Written from the state table as it opened.
        QVERIFY(FindAction(edit, 32836)->isEnabled());
        edit->hide();
        QTRY_COMPARE(frame->StatusText(), QStringLiteral("Ready"));
    }
}

void TestMainFrame::dropOpensFiles()
{
    auto frame = MakeFrame();
    QVERIFY(frame);
    QTemporaryDir dir;
    QList<QUrl> urls;
    for (const char *name : {"z.lisp", "a.lisp", "m.lisp"}) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("(x)");
        f.close();
        urls.append(QUrl::fromLocalFile(f.fileName()));
    }
    urls.append(urls.first()); // already open: only activated
    QMimeData mime;
    mime.setUrls(urls);
    // Dropped on an editor view, not only on the frame itself.
    CTalvexView *view = NewDoc(*frame);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &drop);
    QCOMPARE(frame->TabView().GetPageCount(), 4);
    QCOMPARE(frame->TabView().GetPageData(1)->m_strPath, urls[0].toLocalFile());
    QCOMPARE(frame->TabView().GetPageData(2)->m_strPath, urls[1].toLocalFile());
    QCOMPARE(frame->TabView().GetPageData(3)->m_strPath, urls[2].toLocalFile());
    QCOMPARE(frame->TabView().GetActivePage(), 1);
    QCOMPARE(view->GetText(), QByteArray()); // no path was pasted as text
}

void TestMainFrame::reopenSorted()
{
    QTemporaryDir dir;
    QStringList paths;
    for (const char *name : {"b.lisp", "A.lisp", "c.lisp"}) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        paths.append(f.fileName());
    }
    {
        CRecentDocList open(QStringLiteral("Open Document List"), 1, 32);
        open.SetMaxEntries(32);
        open.AddToList(paths[0]);
        open.AddToList(dir.filePath(QStringLiteral("gone.lisp")));
        open.AddToList(paths[1]);
        open.AddToList(QString());
        open.AddToList(paths[2]);
        QVERIFY(open.WriteToRegistry(kKeyPath));
    }
    auto frame = MakeFrame(false);
    QVERIFY(frame);
    QCOMPARE(frame->TabView().GetPageCount(), 3);
    QCOMPARE(frame->TabView().GetPageData(0)->m_strPath, paths[1]);
    QCOMPARE(frame->TabView().GetPageData(1)->m_strPath, paths[0]);
    QCOMPARE(frame->TabView().GetPageData(2)->m_strPath, paths[2]);
    // Closing writes the open documents again (in tab order) before closing them.
    frame->show();
    QVERIFY(frame->close());
    CRecentDocList again(QStringLiteral("Open Document List"), 1, 32);
    again.ReadFromRegistry(kKeyPath);
    QCOMPARE(again.GetCount(), 3);
    QCOMPARE(again.GetEntry(0), paths[1]);
    QCOMPARE(again.GetEntry(2), paths[2]);
}

void TestMainFrame::reopenSkipsPipesAndDevices()
{
    // Left in the list by an earlier run: a named pipe and devices that never end. The start
    // neither waits nor reads them; it shows the window with the one real document, silently.
    QTemporaryDir dir;
    const QString real = dir.filePath(QStringLiteral("real.lisp"));
    {
        QFile f(real);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("(real)\n") == 7);
    }
    FifoGuard fifo(dir.filePath(QStringLiteral("pipe.lisp")));
    QVERIFY(fifo.Created());
    {
        CRecentDocList open(QStringLiteral("Open Document List"), 1, 32);
        open.SetMaxEntries(32);
        for (const QString &path : {dir.filePath(QStringLiteral("pipe.lisp")), QStringLiteral("/dev/zero"),
                                    QStringLiteral("/dev/urandom"), real})
            open.AddToList(path);
        QVERIFY(open.WriteToRegistry(kKeyPath));
    }
    ModalDriver answerer;
    QElapsedTimer started;
    started.start();
    auto frame = MakeFrame(true);
    QVERIFY(frame);
    QVERIFY(frame->isVisible());
    QVERIFY2(!fifo.HadToRelease(), "the start waited on the named pipe");
    QVERIFY2(started.elapsed() < 8000, "the start took too long");
    QCOMPARE(frame->TabView().GetPageCount(), 1);
    QCOMPARE(frame->TabView().GetPageData(0)->m_strPath, real);
    QVERIFY(answerer.seen.isEmpty());
}

void TestMainFrame::recentFileCommand()
{
    QTemporaryDir dir;
    const QString kept = dir.filePath(QStringLiteral("kept.lisp"));
    const QString gone = dir.filePath(QStringLiteral("gone.lisp"));
    const QString other = dir.filePath(QStringLiteral("other.lisp"));
    for (const QString &p : {kept, other}) {
        QFile f(p);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
    }
    auto frame = MakeFrame(false);
    QVERIFY(frame);
    QAction *placeholder = FindAction(frame->RecentFilesPopup(), 57616);
    QVERIFY(placeholder && !placeholder->isEnabled());
    frame->OnCommand(57616); // "<none>": only a beep
    QCOMPARE(frame->TabView().GetPageCount(), 0);
    frame.reset();

    {
        CRecentDocList recent(QStringLiteral("Recent Document List"), 57616, 16);
        recent.SetMaxEntries(16);
        recent.AddToList(kept);
        recent.AddToList(gone);
        recent.AddToList(other); // shown: other, gone, kept
        QVERIFY(recent.WriteToRegistry(kKeyPath));
    }
    frame = MakeFrame(false);
    QVERIFY(frame);
    auto shown = [&] {
        QStringList items;
        for (QAction *a : frame->RecentFilesPopup()->actions())
            items.append(a->text());
        return items;
    };
    auto item = [](int n, const QString &path) { return QStringLiteral("&%1 ").arg(n) + QDir::toNativeSeparators(path); };
    QCOMPARE(shown(), (QStringList{item(1, other), item(2, gone), item(3, kept)}));
    ModalDriver answerer(QMessageBox::Ok); // the missing file's warning
    frame->OnCommand(57617);               // gone
    QCOMPARE(frame->TabView().GetPageCount(), 0);
    QCOMPARE(shown(), (QStringList{item(1, other), item(2, kept)}));
    frame->OnCommand(57617);               // kept: opened, now at the top
    QCOMPARE(frame->TabView().GetPageCount(), 1);
    QCOMPARE(shown(), (QStringList{item(1, kept), item(2, other)}));
    // Stored at once.
    CRecentDocList stored(QStringLiteral("Recent Document List"), 57616, 16);
    stored.ReadFromRegistry(kKeyPath);
    QCOMPARE(stored.GetCount(), 2);
    QCOMPARE(stored.GetEntry(1), kept);
}

void TestMainFrame::closeCancelKeepsWindow()
{
    auto frame = MakeFrame();
    QVERIFY(frame);
    CTalvexView *a = NewDoc(*frame);
    CTalvexView *b = NewDoc(*frame);
    b->setFocus();
    QTest::keyClicks(b, QStringLiteral("(unsaved)"));
    QVERIFY(b->GetModify());
    ModalDriver answerer(QMessageBox::Cancel);
    QVERIFY(!frame->close());
    QVERIFY(frame->isVisible());
    QCOMPARE(frame->TabView().GetPageCount(), 2);
    QCOMPARE(frame->TabView().GetPageData(0), a);
    QVERIFY(!answerer.seen.isEmpty());
}

void TestMainFrame::closeCancelAtSecondPromptKeepsAll()
{
    auto frame = MakeFrame();
    QVERIFY(frame);
    QList<CTalvexView *> views;
    for (int i = 0; i < 3; ++i) {
        CTalvexView *v = NewDoc(*frame);
        v->setFocus();
        QTest::keyClicks(v, QStringLiteral("(edit)"));
        QVERIFY(v->GetModify());
        views.append(v);
    }
    CSettingsStore::Instance().DeleteValue(QStringLiteral("Open Document List"), QStringLiteral("DocumentCount"));
    {
        // No for the last tab, Cancel for the one before it: the close is abandoned.
        ModalDriver answerer({QMessageBox::No, QMessageBox::Cancel});
        QVERIFY(!frame->close());
        QCOMPARE(answerer.seen.size(), 2);
    }
    QVERIFY(frame->isVisible());
    QCOMPARE(frame->TabView().GetPageCount(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(frame->TabView().GetPageData(i), views[i]);
        QVERIFY(views[i]->GetModify()); // the answer No discarded nothing yet
    }
    // The open-document list is written only by a close that goes through.
    QCOMPARE(CSettingsStore::Instance().ReadInt(QStringLiteral("Open Document List"),
                                                QStringLiteral("DocumentCount"), -1), -1);
    {
        ModalDriver answerer(QMessageBox::No);
        QVERIFY(frame->close());
        QCOMPARE(answerer.seen.size(), 3);
    }
    QCOMPARE(frame->TabView().GetPageCount(), 0);
    QCOMPARE(CSettingsStore::Instance().ReadInt(QStringLiteral("Open Document List"),
                                                QStringLiteral("DocumentCount"), -1), 32);
}

void TestMainFrame::savedAtExitPromptIsReopened()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("test1.lisp"));
    auto frame = MakeFrame();
    QVERIFY(frame);
    frame->OnCommand(Cmd::FileNew);
    CTalvexView *view = frame->GetActiveView();
    view->setFocus();
    QTest::keyClicks(view, QStringLiteral("(saved at exit)"));
    {
        // "Save changes to Document1 ?" Yes, then the new document's name.
        ModalDriver driver;
        driver.Push(ModalDriver::Answer(QMessageBox::Yes));
        driver.Push(ModalDriver::ChooseFile(path));
        QVERIFY(frame->close());
        QCOMPARE(driver.unexpected, 0);
    }
    QVERIFY(QFileInfo::exists(path));
    frame.reset();
    auto next = MakeFrame(false);
    QVERIFY(next);
    QCOMPARE(next->TabView().GetPageCount(), 1);
    QCOMPARE(next->GetActiveView()->m_strPath, path);
    QCOMPARE(next->GetActiveView()->GetText(), QByteArray("(saved at exit)"));
}

void TestMainFrame::ctrlF4ClosesActiveTab()
{
    auto frame = MakeFrame();
    QVERIFY(frame);
    NewDoc(*frame, "(kept)");
    CTalvexView *edited = NewDoc(*frame);
    edited->setFocus();
    QTest::keyClicks(edited, QStringLiteral("(edited)"));
    {
        // The save prompt of Window > Close comes with it; Cancel keeps the tab.
        ModalDriver driver(QMessageBox::Cancel);
        QTest::keyClick(edited, Qt::Key_F4, Qt::ControlModifier);
        QCOMPARE(driver.seen.size(), 1);
        QCOMPARE(driver.seen[0].text, QStringLiteral("Save changes to Document2 ?"));
    }
    QCOMPARE(frame->TabView().GetPageCount(), 2);
    {
        ModalDriver driver(QMessageBox::No);
        QTest::keyClick(edited, Qt::Key_F4, Qt::ControlModifier);
        QCOMPARE(driver.seen.size(), 1);
    }
    QCOMPARE(frame->TabView().GetPageCount(), 1);
    QCOMPARE(frame->GetActiveView()->GetText(), QByteArray("(kept)"));
    // From the console as well; an unmodified document goes without a question.
    ModalDriver driver;
    QTest::keyClick(&frame->Console(), Qt::Key_F4, Qt::ControlModifier);
    QCOMPARE(frame->TabView().GetPageCount(), 0);
    QCOMPARE(driver.seen.size(), 0);
}

void TestMainFrame::windowListFollowsTabs()
{
    auto frame = MakeFrame(false);
    QVERIFY(frame);
    auto listed = [&] {
        QStringList items;
        for (QAction *a : frame->WindowPopup()->actions())
            items.append(a->isSeparator() ? QStringLiteral("---") : a->text() + (a->isChecked() ? "*" : ""));
        return items;
    };
    QCOMPARE(listed(), (QStringList{"&Close\tCtrl+F4", "Close &All"}));
    NewDoc(*frame);
    NewDoc(*frame);
    QCOMPARE(listed(), (QStringList{"&Close\tCtrl+F4", "Close &All", "---", "&1 Document1", "&2 Document2*"}));
    // Choosing an item activates its document.
    FindAction(frame->WindowPopup(), Cmd::WindowFirst)->trigger();
    QCOMPARE(frame->TabView().GetActivePage(), 0);
    QCOMPARE(listed(), (QStringList{"&Close\tCtrl+F4", "Close &All", "---", "&1 Document1*", "&2 Document2"}));
    // The full title of a saved document; nothing left once all are closed.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a file with a rather long name.lisp"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QVERIFY(frame->OnDropFiles({QUrl::fromLocalFile(path)}));
    QCOMPARE(listed().last(), QStringLiteral("&3 a file with a rather long name.lisp*"));
    frame->OnCommand(Cmd::WindowCloseAll);
    QCOMPARE(listed(), (QStringList{"&Close\tCtrl+F4", "Close &All"}));
}

void TestMainFrame::pictures()
{
    auto frame = MakeFrame();
    QVERIFY(frame);
    NewDoc(*frame, "(defun square (x)\r\n  (* x x))\r\n");
    frame->Console().ShowMessage("* ");
    SpinLoop(50);
    QVERIFY(frame->menuBar()->isVisible());
    QVERIFY(frame->ToolBar()->isVisible());
    QVERIFY(frame->statusBar()->isVisible());
    QCOMPARE(frame->StatusText(), QStringLiteral("Ready"));
    const QString dir = QDir::tempPath();
    const QImage window = frame->grab().toImage();
    QVERIFY(!window.isNull());
    window.save(dir + QStringLiteral("/talvex-window.png"));
    QMenu *edit = frame->Popup(1);
    edit->popup(frame->mapToGlobal(QPoint(60, 40)));
    QTRY_VERIFY(edit->isVisible());
    const QImage menu = edit->grab().toImage();
    menu.save(dir + QStringLiteral("/talvex-edit-menu.png"));
    QVERIFY(menu.height() > 10 * 15); // ten items and two separators
    edit->hide();
}

void TestMainFrame::exitCodes_data()
{
    QTest::addColumn<QString>("lisp");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QString>("window");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("signal");   // sent after the keys; 0: none
    // File > Exit from the menu: a normal close.
    QTest::newRow("exit") << "/bin/cat" << QStringList{"alt+f", "x"} << "Talvex" << 1 << 0;
    // No Lisp at the first start; the dialog is cancelled.
    QTest::newRow("no lisp") << "" << QStringList{"Escape"} << "" << 0 << 0;
    // The program's own executable chosen at the first start: refused, then the run ends.
    QTest::newRow("own executable") << "" << QStringList{"type:" TALVEX_BINARY_DIR "/talvex", "repeat:Return"} << "" << 0 << 0;
    // A Lisp with children, grandchildren and an orphan; an unsaved document. A signal to end
    // ends the run without a prompt, as a shell reports it, and keeps the document's journal.
    const QString tree = QStringLiteral(TALVEX_TEST_HELPERS_DIR "/fakelisp");
    QTest::newRow("SIGTERM") << tree << QStringList{"ctrl+n", "type:(kept)"} << "Talvex" << 128 + SIGTERM << SIGTERM;
    QTest::newRow("SIGHUP during a save prompt") << tree << QStringList{"ctrl+n", "type:(kept)", "ctrl+F4"} << "Talvex"
                                                 << 128 + SIGHUP << SIGHUP;
    QTest::newRow("SIGKILL") << tree << QStringList{} << "Talvex" << -1 << SIGKILL;
}

void TestMainFrame::exitCodes()
{
    QFETCH(QString, lisp);
    QFETCH(QStringList, keys);
    QFETCH(QString, window);
    QFETCH(int, exitCode);
    QFETCH(int, signal);
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (xvfb.isEmpty() || xdotool.isEmpty())
        QSKIP("Xvfb and xdotool are needed to drive the program from outside");
    const QString binary = QStringLiteral(TALVEX_BINARY_DIR "/talvex");
    QVERIFY(QFileInfo::exists(binary));

    // A display of our own: the server picks a free number and writes it once it takes
    // connections.
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                        QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    QVERIFY(server.waitForStarted());
    QElapsedTimer started;
    started.start();
    while (!server.canReadLine() && server.state() == QProcess::Running && started.elapsed() < 15000)
        server.waitForReadyRead(500);
    const QString display = QStringLiteral(":") + QString::fromLatin1(server.readLine().trimmed());
    QVERIFY(display.size() > 1);

    QTemporaryDir config, state;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    env.insert(QStringLiteral("XDG_STATE_HOME"), state.path());
    env.insert(QStringLiteral("FAKELISP_MODE"), QStringLiteral("tree"));
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    // Under the sanitizers the X11 client libraries' own leftovers at exit would change the
    // exit code this test is about; leaks are checked by the tests that run in this process.
    if (env.contains(QStringLiteral("ASAN_OPTIONS")))
        env.insert(QStringLiteral("ASAN_OPTIONS"), env.value(QStringLiteral("ASAN_OPTIONS"))
                   + QStringLiteral(":detect_leaks=0:strict_string_checks=0")); // libxkbcommon-x11's strndup
    {
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        if (!lisp.isEmpty())
            CSettingsStore::Instance().WriteString(kSettings, QStringLiteral("Lisp"), lisp);
        qputenv("XDG_CONFIG_HOME", m_config->path().toLocal8Bit());
    }
    auto xdo = [&](const QStringList &args) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(xdotool, args);
        p.waitForFinished(10000);
        return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    };
    QProcess program;
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(binary, {QStringLiteral("ignored-file.lisp")}); // the command line is ignored
    QVERIFY(program.waitForStarted());

    // Wait for a window to take the keys: the main window, or the dialog asking for the Lisp.
    const QString pattern = window.isEmpty() ? QStringLiteral(".+") : QStringLiteral("^%1$").arg(window);
    QString wid;
    QElapsedTimer waited;
    waited.start();
    while (wid.isEmpty() && program.state() == QProcess::Running && waited.elapsed() < 30000) {
        wid = xdo({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), pattern}).section(QLatin1Char('\n'), -1);
        if (wid.isEmpty())
            QTest::qWait(100);
    }
    QVERIFY2(!wid.isEmpty(), qPrintable(QStringLiteral("no window came up; exit code %1").arg(program.exitCode())));
    if (window.isEmpty()) // the main window is not shown before a Lisp is chosen
        QVERIFY(xdo({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), QStringLiteral("^Talvex$")}).isEmpty());
    QTest::qWait(500);
    xdo({QStringLiteral("windowfocus"), QStringLiteral("--sync"), wid});
    for (const QString &key : keys) {
        if (key.startsWith(QLatin1String("type:"))) {
            xdo({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), key.mid(5)});
        } else if (key.startsWith(QLatin1String("repeat:"))) {
            // Until the program ends: a completion popup of the file dialog may take one press,
            // the dialog one, the refusal message one.
            for (int i = 0; i < 20 && program.state() == QProcess::Running; ++i) {
                xdo({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), key.mid(7)});
                QTest::qWait(800);
            }
        } else
            xdo({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), key});
        QTest::qWait(800);
    }
    // The program and everything it started: the Lisp's tree, and what ends it after a kill.
    QList<qint64> members;
    if (signal && program.processId() > 0)
        members.append(program.processId());
    for (qsizetype known = 0; !members.isEmpty() && known != members.size();) {
        known = members.size();
        for (const ProcEntry &p : ReadProcTable())
            if (members.contains(p.ppid) && !members.contains(p.pid))
                members.append(p.pid);
    }
    QElapsedTimer sent;
    sent.start();
    if (!members.isEmpty())
        ::kill(pid_t(members.first()), signal);
    // It may have ended already while the test waited between keys.
    const bool finished = program.state() == QProcess::NotRunning || program.waitForFinished(15000);
    if (!finished)
        program.kill();
    const auto anyLeft = [&] {
        for (const ProcEntry &p : ReadProcTable())
            if (members.contains(p.pid) && p.state != 'Z')
                return true;
        return false;
    };
    while (anyLeft() && sent.elapsed() < 1000)
        QTest::qWait(20);
    const bool left = anyLeft();
    for (const ProcEntry &p : ReadProcTable())   // a failed run leaves nothing running either
        if (left && p.pid > 1 && members.contains(p.pid) && p.state != 'Z')
            ::kill(pid_t(p.pid), SIGKILL);
    server.terminate();
    server.waitForFinished(5000);
    QVERIFY(finished);
    QVERIFY2(!left, "a process outlived the program by more than a second");
    if (signal == SIGKILL)
        return;
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), exitCode);
    if (signal) {
        QVERIFY(members.size() >= 5);   // the program, its guard, the Lisp and its children
        CRecoveryJournals journals(state.filePath(QStringLiteral("talvex/recovery")));
        const QList<CLeftOver> kept = journals.FindLeftOvers();
        QCOMPARE(kept.size(), 1);
        QCOMPARE(kept.first().contents.text, QByteArray("(kept)"));
    }
}

// A first start that picks a known Lisp brings its keyword set: stored, checked in the menu and
// used by the console from the start. A set that is stored already stays.
void TestMainFrame::firstStartPicksKeywordSet_data()
{
    QTest::addColumn<int>("stored");   // -1: none
    QTest::addColumn<int>("expected");
    QTest::newRow("none stored") << -1 << 1;
    QTest::newRow("one stored") << 3 << 3;
}

void TestMainFrame::firstStartPicksKeywordSet()
{
    QFETCH(int, stored);
    QFETCH(int, expected);
    CSettingsStore &store = CSettingsStore::Instance();
    store.DeleteValue(kSettings, QStringLiteral("Lisp"));
    if (stored >= 0)
        store.WriteInt(kSettings, QStringLiteral("KeywordSet"), stored);
    // A Guile by its name; /bin/cat stands in for it.
    const QString guile = m_config->filePath(QStringLiteral("guile"));
    QVERIFY(QFile::link(QStringLiteral("/bin/cat"), guile));
    int asked = 0;
    SetLispPathChooser([&](QWidget *, const LispDialogSetup &) { ++asked; return guile; });
    auto frame = MakeFrame(false);
    SetLispPathChooser({});
    QVERIFY(frame);
    QCOMPARE(asked, 1);
    QCOMPARE(store.ReadString(kSettings, QStringLiteral("Lisp"), QString()), guile);
    QCOMPARE(store.ReadInt(kSettings, QStringLiteral("KeywordSet"), -1), expected);
    // The console speaks Guile's dialect whatever set colours the text.
    QCOMPARE(frame->Console().Dialect().name, DialectForKeywordSet(1).name);
    QVERIFY(OpenedItem(*frame, 4, Cmd::KeywordCommonLisp + expected)->isChecked());
    QVERIFY(frame->Console().IsLispRunning());
}

// Another program holds the settings folder's lock and never lets go (a `flock` in a shell): a
// start-up, and a new document after it, take at most the one bounded wait of a read longer.
void TestMainFrame::heldSettingsLock()
{
    const QString path = CSettingsStore::FilePath();
    // A document to reopen, whose opening writes the recent-file list.
    const QString document = m_config->filePath(QStringLiteral("a.lisp"));
    QVERIFY(QFile(document).open(QIODevice::WriteOnly));
    QVERIFY(CSettingsStore::Instance().WriteSection(kKeyPath, QStringLiteral("Open Document List"),
                                                    {{QStringLiteral("DocumentCount"), 32}, {QStringLiteral("Document1"), document}}, {}));
    // A start-up and a new document; another program has just changed the file, so the first
    // read parses it again.
    auto timedStart = [&](qint64 &startMs, qint64 &newDocMs) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append));
        QVERIFY(file.write("\n") == 1);
        file.close();
        QElapsedTimer timer;
        timer.start();
        auto frame = MakeFrame(false);
        startMs = timer.elapsed();
        QVERIFY(frame);
        QCOMPARE(frame->GetActiveView()->m_strPath, document);
        timer.restart();
        frame->OnCommand(Cmd::FileNew);
        newDocMs = timer.elapsed();
        QVERIFY(frame->GetActiveView());
    };
    qint64 normalStart = 0, normalNewDoc = 0, lockedStart = 0, lockedNewDoc = 0;
    timedStart(normalStart, normalNewDoc);
    platform::CFileLock held;
    QVERIFY(held.Lock(QFile::encodeName(QFileInfo(path).absolutePath()).toStdString(),
                      platform::CFileLock::Mode::Exclusive, 0));
    timedStart(lockedStart, lockedNewDoc);
    qInfo("start-up %lld ms, new document %lld ms; with the lock held %lld ms and %lld ms",
          normalStart, normalNewDoc, lockedStart, lockedNewDoc);
    // Beyond the one wait of 200 ms, room for a loaded machine.
    QVERIFY(lockedStart < normalStart + 200 + 300);
    QVERIFY(lockedNewDoc < normalNewDoc + 200 + 100);
}

// A settings file far over the size that is read: the program starts at once on its defaults,
// says so in the status bar, and leaves the file exactly as it was, also when it closes.
void TestMainFrame::hugeSettingsFile()
{
    const QString path = CSettingsStore::FilePath();
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Quenmark\\Talvex\\Settings]\n"
                   "\"Lisp\"=\"/bin/cat\"\n\"TabSize\"=dword:00000008\n");
        QByteArray block;
        while (block.size() < (1 << 20))
            block += "\"Filler\"=\"a value line as another program might have left a million of\"\n";
        for (int i = 0; i < 100; ++i)
            QCOMPARE(file.write(block), block.size());
    }
    const std::optional<platform::FileVersion> version = platform::VersionOfPath(path);
    QVERIFY(version && version->size > 100 * 1000 * 1000);

    int asked = 0;
    SetLispPathChooser([&](QWidget *, const LispDialogSetup &) { ++asked; return QStringLiteral("/bin/cat"); });
    QElapsedTimer timer;
    timer.start();
    auto frame = MakeFrame();
    const qint64 startMs = timer.elapsed();
    SetLispPathChooser({});
    QVERIFY(frame);
    qInfo("start-up with a %lld MB settings file: %lld ms", static_cast<long long>(version->size >> 20), static_cast<long long>(startMs));
    QVERIFY(startMs < 2000);
    // Defaults: no Lisp (so it was asked for), tab size 4.
    QCOMPARE(asked, 1);
    QVERIFY(frame->Console().IsLispRunning());
    QVERIFY(frame->UpdateUI().UIIsChecked(Cmd::TabSize4));
    const auto *note = frame->statusBar()->findChild<QLabel *>(QStringLiteral("SettingsTooLarge"));
    QVERIFY(note && note->isVisible());
    QVERIFY(note->text().contains(QStringLiteral("too large")));

    // Changes go nowhere: not the tab size, not the list of documents open at the close.
    ModalDriver answerer;
    frame->OnCommand(Cmd::TabSize8);
    QCOMPARE(answerer.seen.size(), 1);
    QVERIFY(NewDoc(*frame, "(list 1 2)"));
    QVERIFY(frame->close());
    QCOMPARE(platform::VersionOfPath(path), version);
}


void TestMainFrame::twoWindowsOneFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("shared.lisp"));
    QVERIFY(WriteBytes(path, "(start)\n"));
    auto first = MakeFrame(false);
    auto second = MakeFrame(false);
    QVERIFY(first && second);
    first->OnDropFiles({QUrl::fromLocalFile(path)});
    second->OnDropFiles({QUrl::fromLocalFile(path)});
    first->GetActiveView()->AddText("(first)");
    first->OnCommand(Cmd::FileSave);
    // Coming back to the second window shows the first one's text at once.
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(second.get(), &activate);
    QCOMPARE(second->GetActiveView()->GetText(), QByteArray("(first)(start)\n"));
    QCOMPARE(second->StatusText(), QDir::toNativeSeparators(path) + QStringLiteral(" was reloaded: it changed on disk"));
    // Undoing the reload is an edit, which the recovery journal keeps.
    CTalvexView *view = second->GetActiveView();
    QVERIFY(second->Recovery().JournalPath(view).isEmpty());
    view->Undo();
    second->Recovery().FlushAll();
    QVERIFY(!second->Recovery().JournalPath(view).isEmpty());
    view->Redo();
    // Both edit; the first saves; the second's save asks, and No keeps the first one's text.
    second->GetActiveView()->AddText("(second)");
    first->GetActiveView()->AddText("(again)");
    first->OnCommand(Cmd::FileSave);
    ModalDriver driver(QMessageBox::No);
    second->OnCommand(Cmd::FileSave);
    QCOMPARE(driver.seen.size(), 1);
    QVERIFY2(driver.seen[0].text.contains(QStringLiteral("changed on disk by another program")), qPrintable(driver.seen[0].text));
    QCOMPARE(ReadBytes(path), QByteArray("(first)(again)(start)\n"));
    QVERIFY(second->GetActiveView()->GetModify());
}

void TestMainFrame::namesThatAreNotUtf8()
{
    QTemporaryDir dir;
    const QByteArray badName = QFile::encodeName(dir.path()) + "/bad\xff\xfe.lisp";
    const QString twin = QFile::decodeName(badName); // what Qt makes of the name: another file
    struct Unlink { // Qt cannot name the file to remove it with its folder
        QByteArray name;
        ~Unlink() { ::unlink(name.constData()); }
    } unlink{badName};
    {
        std::FILE *bad = std::fopen(badName.constData(), "wb");
        QVERIFY(bad && std::fputs("(bad)", bad) >= 0 && std::fclose(bad) == 0);
    }
    QVERIFY(WriteBytes(twin, "(twin)"));
    {
        CRecentDocList open(QStringLiteral("Open Document List"), 1, 32);
        open.AddToList(twin);
        QVERIFY(open.WriteToRegistry(kKeyPath));
    }
    ModalDriver driver(QMessageBox::Ok);
    auto frame = MakeFrame(false); // the session list
    QVERIFY(frame);
    frame->OnDropFiles({QUrl::fromEncoded("file://" + badName.toPercentEncoding("/"))});
    driver.Push(ModalDriver::ChooseFile(twin));
    frame->OnCommand(Cmd::FileOpen);
    QTRY_COMPARE(driver.seen.size(), 4); // three refusals and the Open dialog
    const QString refusal = QStringLiteral("Cannot open %1/bad\\xFF\\xFE.lisp: its name is not valid UTF-8")
                                .arg(QDir::toNativeSeparators(dir.path()));
    for (int i : {0, 1, 3}) {
        QCOMPARE(driver.seen[i].text, refusal);
        QCOMPARE(driver.seen[i].caption, QStringLiteral("Talvex"));
    }
    QCOMPARE(frame->TabView().GetPageCount(), 0);
    QCOMPARE(ReadBytes(twin), QByteArray("(twin)"));
}

void TestMainFrame::fileDialogsStartWhereTheUserWorks()
{
    auto frame = MakeFrame(false);
    QVERIFY(frame);
    // The Lisp's dialog is left in the Lisp's folder.
    ModalDriver driver;
    driver.Push(ModalDriver::ChooseFile(QStringLiteral("/bin/cat")));
    frame->OnCommand(Cmd::SetLispPath);
    QTRY_COMPARE(driver.seen.size(), 1);
    NewDoc(*frame, "(new)");
    driver.Push(ModalDriver::Cancel());
    frame->OnCommand(Cmd::FileSaveAs);
    QCOMPARE(driver.seen.last().directory, QDir::currentPath()); // the Lisp starts here
    // With a file open in another folder, both dialogs start there.
    QTemporaryDir dir;
    QVERIFY(WriteBytes(dir.filePath(QStringLiteral("here.lisp")), "(here)"));
    frame->OnDropFiles({QUrl::fromLocalFile(dir.filePath(QStringLiteral("here.lisp")))});
    for (int command : {Cmd::FileSaveAs, Cmd::FileOpen}) {
        driver.Push(ModalDriver::Cancel());
        frame->OnCommand(command);
        QCOMPARE(driver.seen.last().directory, QDir(dir.path()).absolutePath());
    }
    QCOMPARE(driver.unexpected, 0);
}

QTEST_MAIN(TestMainFrame)
#include "tst_mainframe.moc"
