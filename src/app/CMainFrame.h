// The main window: owns and wires every part of the program, routes every command.
#pragma once

#include "app/CIdleHandler.h"
#include "app/CIdleHook.h"
#include "app/CKeyFilter.h"
#include "app/CMessageFilter.h"
#include "app/CUpdateUI.h"
#include "editor/CDocumentManager.h"
#include "editor/CFindReplaceController.h"
#include "editor/CLispTabView.h"
#include "help/CReferenceLookup.h"
#include "lisp/CTalvexPipe.h"
#include "settings/CRecentDocList.h"

#include <QByteArray>
#include <QMainWindow>

#include <optional>

class CTalvexView;
class QLabel;
class QMenu;
class QSplitter;
class QToolBar;

// Top-level window: menu bar and toolbar built from the command table, a status bar, and a
// vertical splitter with the document tabs above and the Lisp console below. Create() runs the
// start-up steps; every menu item, toolbar button and accelerator ends in OnCommand.
class CMainFrame : public QMainWindow, public CMessageFilter, public CIdleHandler
{
    Q_OBJECT

public:
    explicit CMainFrame(QWidget *parent = nullptr);
    ~CMainFrame() override;

    // The start-up steps, before the window is shown. False when the program is to end at once
    // with exit code 0 (no Lisp chosen at the first start).
    bool Create();

    // One dispatch for every command id: the command table, the window list 0xFF00..0xFFFD and
    // the recent files 57616..57631. Ids without a handler do nothing.
    void OnCommand(int id);
    CTalvexView *GetActiveView() const;
    // The id OnCommand saw last, handled or not (0 before the first): shows where keys went.
    int LastCommand() const { return m_nLastCommand; }
    void OnSendToLisp(QByteArray &text);
    // Sets and converts the line-end mode of every open document, in tab order.
    void SetLineEnding(int mode);

    // Message filter: accelerators, then the find dialog's Enter, then the tab view's keys.
    bool PreTranslateMessage(QKeyEvent *ev) override;
    bool IsAccelerator(QKeyEvent *ev) const override;
    bool OnDropFiles(const QList<QUrl> &urls) override;
    const QWidget *DropWindow() const override { return this; }
    // Idle handler: toolbar states of the previous pass, then the states of the active document.
    bool OnIdle() override;

    // Handlers named after their menu items.
    void OnFileExit();
    void OnViewToolBar();
    void OnViewStatusBar();
    void OnEditCut();
    void OnEditCopy();
    void OnEditPaste();
    void OnEditUndo();
    void OnEditRedo();
    void OnEditSendToLisp();
    void OnEditMacroexpand();
    void OnEditPrettyPrint();
    void OnFileResetLisp();
    void OnSetLispPath();
    void OnSetFont();
    void OnLineEnding(int id);
    void OnTabUsesSpaces();
    void OnTabSize(int id);
    void OnKeywordSet(int id);
    void OnAppAbout();
    void OnWindowListItem(int id);
    void OnRecentFile(int id);
    void ShowRestartMessage();

    // Status-bar prompt of a highlighted menu item; "Ready" when the menu closes.
    void OnMenuSelect(QAction *action);
    void OnMenuClose();

    // Parts and bars, for the program's pieces and for tests.
    CUpdateUI &UpdateUI() { return m_ui; }
    QMenu *Popup(int index) const;
    QMenu *RecentFilesPopup() const { return m_pRecentMenu; }
    QToolBar *ToolBar() const { return m_pToolBar; }
    QSplitter *Splitter() const { return m_pSplitter; }
    QString StatusText() const;
    CIdleHook *IdleHook() { return m_idle ? &*m_idle : nullptr; }

    CLispTabView m_view;
    CTalvexPipe m_console;
    CRecentDocList m_recentFiles;
    CRecentDocList m_openDocs;
    CDocumentManager m_docs;
    CFindReplaceController m_find;
    CReferenceLookup m_help;

protected:
    bool event(QEvent *e) override;
    void closeEvent(QCloseEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *e) override;

private:
    // The evaluation commands: the active view's text to send, wrapped when wrap is given,
    // delivered as a send-to-Lisp event to this frame.
    void SendActiveForm(QByteArray (*wrap)(const QByteArray &));
    void CreateMenuBar();
    void CreateToolBar();
    void CreateStatusBar();
    void CreateSplitter();
    void SetSettingsChecks();
    void ReopenDocuments();
    void KeepSplitterProportion();
    void OnDestroy();
    void ApplyFocusCommand(int id);

    CUpdateUI m_ui;
    QList<QMenu *> m_popups;           // the top-level popups in menu order
    QMenu *m_pRecentMenu = nullptr;
    QToolBar *m_pToolBar = nullptr;
    QLabel *m_pStatusText = nullptr;
    QSplitter *m_pSplitter = nullptr;
    bool m_bToolBarVisible = true;
    int m_nLastCommand = 0;
    int m_nSplitterTop = 400;          // bar position until the splitter first has its size
    std::optional<CKeyFilter> m_keys;
    std::optional<CIdleHook> m_idle;
};
