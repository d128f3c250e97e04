// The main window's life: start-up steps, closing, key filter, idle states, drops, context menu.
#include "app/CMainFrame.h"

#include "editor/CTalvexView.h"
#include "editor/LispSyntax.h"
#include "editor/RecoveryOffer.h"
#include "editor/SendToLispEvent.h"
#include "editor/TextToSend.h"
#include "lisp/LispCommands.h"
#include "lisp/LispPathSelector.h"
#include "platform/Keys.h"
#include "settings/CSettingsStore.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QThread>
#include <QUrl>

#include <algorithm>

namespace {

const QString kKeyPath = QStringLiteral("Software\\Quenmark\\Talvex");

// A main window of its own (the help viewer) has its own keys, find in the page and copy among
// them: the frame's accelerators act in the frame and in the dialogs it shows, not there.
bool InOtherMainWindow(const QWidget *frame)
{
    const QWidget *focus = QApplication::focusWidget();
    const QWidget *window = focus ? focus->window() : QApplication::activeWindow();
    return window && window != frame && qobject_cast<const QMainWindow *>(window);
}
const QString &kSettings = CSettingsStore::kSettings;

} // namespace

// The images are linked from a static library: their registration has to be asked for.
// (The about box registers its own picture.)
static void InitResources()
{
    Q_INIT_RESOURCE(app);
}

CMainFrame::CMainFrame(QWidget *parent) : CMainFrame(CCommandTable::Standard(), parent) {}

CMainFrame::CMainFrame(const CCommandTable &commands, QWidget *parent)
    : QMainWindow(parent),
      m_commands(commands),
      m_ui(m_commands.UIMap()),
      m_recentFiles(QStringLiteral("Recent Document List"), Cmd::FileMruFirst, 16),
      m_openDocs(QStringLiteral("Open Document List"), 1, 32),
      m_recentMenu(m_recentFiles),
      m_docs(this, m_view, m_recentFiles),
      m_find(this, [this] { return GetActiveView(); }),
      m_help(this, [this]() -> CScintillaCtrl * { return GetActiveView(); },
             [this](const QString &text) {
                 if (m_pStatusText)
                     m_pStatusText->setText(text.isEmpty() ? CCommandTable::String(Cmd::StrReady) : text);
             })
{
    InitResources();
    setWindowTitle(CCommandTable::String(Cmd::StrTitle));
    // The installed icon of the desktop entry's name; the built-in copy of it where none is.
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addFile(QStringLiteral(":/icons/talvex-%1.png").arg(size), QSize(size, size));
    setWindowIcon(QIcon::fromTheme(QStringLiteral(TALVEX_APP_ID), icon));
    setAcceptDrops(true);
    // No size is stored: every start opens at three quarters of the screen.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        resize(screen->availableGeometry().size() * 3 / 4);
}

CMainFrame::~CMainFrame()
{
    // The filters go first: nothing may reach a frame that is half destroyed.
    m_keys.reset();
    m_idle.reset();
}

bool CMainFrame::Create()
{
    // 1. The settings key path.
    m_docs.m_nNewDocCount = 0;
    CSettingsStore::Instance().SetKeyPath(kKeyPath);

    // 2-5. Menu bar, toolbar, status bar ("Ready").
    CreateMenuBar();
    CreateToolBar();
    CreateStatusBar();

    // 6-9. Splitter with the tab view above and the console below, bar 400 px from the top.
    CreateSplitter();

    // 10. The toolbar joins the UI state table; both bars start visible.
    m_ui.UIAddToolBar(m_pToolBar);
    m_ui.UISetCheck(Cmd::ViewToolBar, true);
    m_ui.UISetCheck(Cmd::ViewStatusBar, true);

    // 11. Settings check marks from the stored values.
    SetSettingsChecks();

    // 12. The Window popup lists the documents; the caption follows the active one.
    connect(&m_view, &CLispTabView::windowListChanged, this, &CMainFrame::UpdateWindowMenu);
    UpdateWindowMenu();
    m_view.SetTitleBarWindow(this);

    // Every edit of every document is journalled; a failure is said in the status bar.
    m_docs.SetRecovery(&m_recovery);
    connect(&m_recovery, &CRecoveryJournals::protectionLost, this, [this](const QString &message) {
        if (m_pStatusText)
            m_pStatusText->setText(message);
    });

    // 13-14. Document lists; the documents open at the last close come back sorted.
    m_openDocs.SetMaxEntries(32);
    m_recentFiles.SetMaxEntries(16);
    m_recentFiles.ReadFromRegistry(kKeyPath);
    m_openDocs.ReadFromRegistry(kKeyPath);
    ReopenDocuments();

    // 15. The Lisp command line; without one the user is asked before the window shows.
    if (!InitLispCommandLine(this, m_console))
        return false;
    // A first start may have picked the keyword set with the Lisp.
    CheckGroupItem(CheckGroup::KeywordSet, CSettingsStore::Instance().ReadInt(kSettings, QStringLiteral("KeywordSet"), 0));

    // 16-17. The console and the Lisp process; the editors read and indent in the Lisp's dialect.
    m_console.ConfigureConsole();
    SetActiveReaderDialect(ReaderDialectForKeywordSet(m_console.Dialect().keywordSet));
    m_console.StartLisp();

    // 18. Message filter, then idle handler.
    m_keys.emplace(*this);
    m_idle.emplace(*this);
    return true;
}

void CMainFrame::SetSettingsChecks()
{
    CSettingsStore &store = CSettingsStore::Instance();
    const int lineEnding = store.ReadInt(kSettings, QStringLiteral("LineEnding"), CSettingsStore::kDefaultLineEnding);
    CheckGroupItem(CheckGroup::LineEnding, lineEnding); // 0 CR LF, 1 CR, 2 LF

    m_ui.UISetCheck(Cmd::TabUsesSpaces, store.ReadInt(kSettings, QStringLiteral("TabUsesSpaces"), 0) == 1);
    m_ui.UISetCheck(Cmd::AutoIndent, store.ReadInt(kSettings, QStringLiteral("AutoIndent"), 0) != 0);

    CheckGroupItem(CheckGroup::KeywordSet, store.ReadInt(kSettings, QStringLiteral("KeywordSet"), 0));

    int tabSize = store.ReadInt(kSettings, QStringLiteral("TabSize"), 0);
    if (tabSize == 0)
        tabSize = 4;
    CheckGroupItem(CheckGroup::TabSize, tabSize == 4 ? 0 : tabSize == 8 ? 1 : -1);
}

void CMainFrame::ReopenDocuments()
{
    QStringList names;
    for (int i = 0; i < m_openDocs.GetCount(); ++i)
        names.append(m_openDocs.GetEntry(i));
    // Ascending, ignoring letter case; equal names keep their order.
    std::stable_sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    m_openDocs.RemoveAll();
    for (const QString &name : std::as_const(names)) {
        if (!name.isEmpty()) // a never-saved document has nothing to reopen
            m_docs.OpenFile(name, false);
    }
}

void CMainFrame::OfferRecovery()
{
    ::OfferRecovery(this, m_docs, m_recovery);
}

void CMainFrame::closeEvent(QCloseEvent *e)
{
    // Every save prompt is answered before anything closes, so a Cancel keeps the window and all
    // of its documents, and the lists are written only when the close goes through. The paths
    // are read after the prompts: a document saved at one of them comes back under its name.
    if (!m_docs.QueryCloseAll()) {
        e->ignore();
        return;
    }
    WriteOpenDocuments();
    m_docs.CloseAllPages();
    e->accept();
    OnDestroy();
}

void CMainFrame::WriteOpenDocuments()
{
    const QStringList paths = m_docs.PagePaths();
    for (const QString &path : paths)
        m_openDocs.AddToList(path);
    m_openDocs.WriteToRegistry(kKeyPath);
}

void CMainFrame::OnDestroy()
{
    m_keys.reset();
    m_idle.reset();
    // The run ends with exit code 1. Without a running loop there is nothing to end, and asking
    // anyway would make every later event loop of this thread return at once.
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(1);
}

CTalvexView *CMainFrame::GetActiveView() const
{
    const int page = m_view.GetActivePage();
    return page < 0 ? nullptr : m_view.GetPageData(page);
}

bool CMainFrame::IsAccelerator(QKeyEvent *ev) const
{
    return !InOtherMainWindow(this) && m_commands.AcceleratorFor(KeyCombinationOf(*ev)) != 0;
}

bool CMainFrame::PreTranslateMessage(QKeyEvent *ev)
{
    // 1. Accelerators, whatever the enabled state of their command.
    if (InOtherMainWindow(this))
        return false;
    if (const int id = m_commands.AcceleratorFor(KeyCombinationOf(*ev))) {
        OnCommand(id);
        return true;
    }
    // 2. Enter in the find dialog is its default button.
    if (m_find.PreTranslateKey(ev))
        return true;
    // 3. Document switching keys of the tab view.
    return m_view.PreTranslateMessage(ev);
}

bool CMainFrame::OnIdle()
{
    // The toolbar gets what the previous pass computed; menus read the table when they open.
    m_ui.UIUpdateToolBar();

    bool modified = false;
    bool savable = false;
    bool sendable = false;
    const int page = m_view.GetActivePage();
    if (page >= 0) {
        if (CTalvexView *view = m_view.GetPageData(page)) {
            modified = view->GetModify();
            // A file deleted on disk is saved again, and its document shows it may be.
            savable = modified || view->m_bDeletedOnDisk;
            m_view.SetPageImage(page, modified ? 1 : 0);
            sendable = view->IsSendable();
        }
    }
    m_ui.UIEnable(Cmd::FileSave, savable);
    m_ui.UIEnable(Cmd::FileSaveAs, savable);
    m_ui.UIEnable(Cmd::EditSendToLisp, sendable);
    m_ui.UIEnable(Cmd::EditMacroexpand, sendable && CanMacroexpand(m_console.Dialect()));
    m_ui.UIEnable(Cmd::FileInterruptLisp, m_console.CanInterrupt());
    return false;
}

void CMainFrame::OnSendToLisp(QByteArray &text)
{
    if (m_pStatusText && m_pStatusText->text() == QLatin1String(kNothingToSend))
        m_pStatusText->setText(CCommandTable::String(Cmd::StrReady));
    m_console.SendToLisp(text);
}

bool CMainFrame::event(QEvent *e)
{
    // A watch can miss a change (a network file system, a file replaced while unwatched): every
    // return to the window looks at the files again.
    if (e->type() == QEvent::WindowActivate)
        m_docs.CheckDisk();
    if (e->type() == SendToLispEvent::Type) {
        OnSendToLisp(static_cast<SendToLispEvent *>(e)->Text());
        return true;
    }
    // What an editor has to say (nothing to send) stands in the status bar's text.
    if (e->type() == QEvent::StatusTip && m_pStatusText) {
        const QString tip = static_cast<QStatusTipEvent *>(e)->tip();
        if (!tip.isEmpty()) {
            m_pStatusText->setText(tip);
            return true;
        }
    }
    return QMainWindow::event(e);
}

void CMainFrame::contextMenuEvent(QContextMenuEvent *e)
{
    if (QMenu *edit = Popup(CCommandTable::kEditPopup))
        edit->popup(e->globalPos());
    e->accept();
}

bool CMainFrame::OnDropFiles(const QList<QUrl> &urls)
{
    activateWindow();
    for (const QUrl &url : urls)
        m_docs.OpenDroppedFile(url);
    return true;
}

bool CMainFrame::eventFilter(QObject *watched, QEvent *e)
{
    if (watched == m_pSplitter && e->type() == QEvent::Resize && m_nSplitterTop >= 0)
        KeepSplitterProportion();
    // The menu bar leaves its keyboard mode (Escape, a click elsewhere) with no popup open.
    if (watched == static_cast<QObject *>(menuBar()) && e->type() == QEvent::FocusOut
        && !QApplication::activePopupWidget())
        OnMenuClose();
    return QMainWindow::eventFilter(watched, e);
}

void CMainFrame::KeepSplitterProportion()
{
    // The first real size places the bar 400 px from the top; from then on the splitter keeps
    // its panes in proportion by itself.
    const int total = m_pSplitter->height() - m_pSplitter->handleWidth();
    if (total <= 0)
        return;
    const int top = std::min(m_nSplitterTop, total);
    m_pSplitter->setSizes({top, total - top});
    m_nSplitterTop = -1;
}

QString CMainFrame::StatusText() const
{
    return m_pStatusText ? m_pStatusText->text() : QString();
}

bool CMainFrame::IsMenuInUse() const
{
    return qobject_cast<QMenu *>(QApplication::activePopupWidget()) || menuBar()->hasFocus();
}

void CMainFrame::OnMenuSelect(QAction *action)
{
    if (!m_pStatusText || !action)
        return;
    QString prompt;
    if (!action->menu() && !action->isSeparator())
        prompt = m_commands.Prompt(action->data().toInt());
    m_pStatusText->setText(prompt);
}

void CMainFrame::OnMenuBarSelect(QAction *action)
{
    // The bar reports the items of its popups too, after their popup has shown their prompts:
    // only a highlighted title or submenu counts here, which has no prompt. The mouse passing
    // over the bar while no menu is in use leaves "Ready" alone.
    if (m_pStatusText && action && action->menu() && IsMenuInUse())
        m_pStatusText->clear();
}

void CMainFrame::OnMenuOpen()
{
    // A popup that has just opened has no item highlighted yet, so there is no prompt.
    if (m_pStatusText)
        m_pStatusText->clear();
}

void CMainFrame::OnMenuClose()
{
    if (m_pStatusText)
        m_pStatusText->setText(CCommandTable::String(Cmd::StrReady));
}
