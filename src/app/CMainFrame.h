// The main window: owns and wires every part of the program, routes every command.
#pragma once

#include "app/CCommandTable.h"
#include "app/CIdleHandler.h"
#include "app/CIdleHook.h"
#include "app/CKeyFilter.h"
#include "app/CMessageFilter.h"
#include "app/CRecentFilesMenu.h"
#include "app/CUpdateUI.h"
#include "editor/CDocumentManager.h"
#include "editor/CFindReplaceController.h"
#include "editor/CLispTabView.h"
#include "editor/CRecoveryJournals.h"
#include "help/CReferenceLookup.h"
#include "lisp/CTalvexPipe.h"
#include "settings/CRecentDocList.h"

#include <QByteArray>
#include <QMainWindow>

#include <optional>
#include <type_traits>

class CTalvexView;
class QLabel;
class QMenu;
class QSplitter;
class QToolBar;

// Top-level window: menu bar and toolbar built from the command table, a status bar, and a
// vertical splitter with the document tabs above and the Lisp console below. Create() runs the
// start-up steps; every menu item, toolbar button and accelerator ends in OnCommand, which runs
// the handler of the command's row.
class CMainFrame : public QMainWindow, public CMessageFilter, public CIdleHandler
{
    Q_OBJECT

public:
    explicit CMainFrame(QWidget *parent = nullptr);
    // A frame whose menus, toolbar, keys and prompts come from another table.
    explicit CMainFrame(const CCommandTable &commands, QWidget *parent = nullptr);
    ~CMainFrame() override;

    // The start-up steps, before the window is shown. False when the program is to end at once
    // with exit code 0 (no Lisp chosen at the first start).
    bool Create();

    // One dispatch for every command id, ranges included. Ids without a handler do nothing.
    void OnCommand(int id);
    CTalvexView *GetActiveView() const;
    // After the window is shown: offers the unsaved changes that a crash left behind.
    void OfferRecovery();
    // Every document's recovery journal.
    CRecoveryJournals &Recovery() { return m_recovery; }
    // An end that nobody answers (a signal to end the program, a logout): no prompt; every
    // recovery journal is brought to the disk and kept for the next start, the open documents are
    // listed as at Exit, the Lisp's whole tree is ended, and the run ends with exit code 128 plus
    // the signal's number, as a shell reports a program that the signal ended.
    void EndUnanswered(int signalNumber);
    // The id OnCommand saw last, handled or not (0 before the first): shows where keys went.
    int LastCommand() const { return m_nLastCommand; }

    // Message filter: accelerators, then the find dialog's Enter, then the tab view's keys.
    bool PreTranslateMessage(QKeyEvent *ev) override;
    bool IsAccelerator(QKeyEvent *ev) const override;
    bool OnDropFiles(const QList<QUrl> &urls) override;
    const QWidget *DropWindow() const override { return this; }
    // Idle handler: toolbar states of the previous pass, then the states of the active document.
    bool OnIdle() override;

    // Parts and bars, for tests that must look at one.
    CTalvexPipe &Console() { return m_console; }
    CLispTabView &TabView() { return m_view; }
    const CUpdateUI &UpdateUI() const { return m_ui; }
    QMenu *Popup(int index) const;
    QMenu *RecentFilesPopup() const { return m_recentMenu.MenuHandle(); }
    QMenu *WindowPopup() const { return m_pWindowMenu; }
    QToolBar *ToolBar() const { return m_pToolBar; }
    QSplitter *Splitter() const { return m_pSplitter; }
    QString StatusText() const;
    CIdleHook *IdleHook() { return m_idle ? &*m_idle : nullptr; }

protected:
    bool event(QEvent *e) override;
    void closeEvent(QCloseEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *e) override;

private:
    // The command rows name the handlers below and those of the parts.
    friend class CCommandTable;

    // The object whose member function a command row names: the frame or one of its parts.
    template <class Part>
    Part &CommandOwner()
    {
        if constexpr (std::is_same_v<Part, CMainFrame>)
            return *this;
        else if constexpr (std::is_same_v<Part, CDocumentManager>)
            return m_docs;
        else if constexpr (std::is_same_v<Part, CFindReplaceController>)
            return m_find;
        else if constexpr (std::is_same_v<Part, CReferenceLookup>)
            return m_help;
        else if constexpr (std::is_same_v<Part, CTalvexPipe>)
            return m_console;
        else if constexpr (std::is_same_v<Part, CLispTabView>)
            return m_view;
        else
            static_assert(sizeof(Part) == 0, "no part of the frame owns this handler");
    }

    // Handlers named after their menu items.
    void OnFileExit();
    void OnFileResetLisp();
    void OnRecentFile(int id);
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
    void OnEditIndentLines();
    void OnSetLispPath();
    void OnSetFont();
    void OnLineEnding(int id);
    void OnTabUsesSpaces();
    void OnAutoIndent();
    void OnTabSize(int id);
    void OnKeywordSet(int id);
    void OnWindowListItem(int id);
    void OnAppAbout();

    void OnSendToLisp(QByteArray &text);
    // The evaluation commands: the active view's text to send, wrapped for the console's dialect
    // when wrap is given, delivered as a send-to-Lisp event to this frame.
    void SendActiveForm(QByteArray (*wrap)(const QByteArray &, const LispDialect &));
    // Sets and converts the line-end mode of every open document, in tab order.
    void SetLineEnding(int mode);
    void ShowRestartMessage();
    // Checks the item at index of a check group and clears the others (none for an index
    // outside the group); the index of id in its group, -1 when it has none.
    void CheckGroupItem(CheckGroup group, int index);
    int GroupIndex(int id) const;

    // Status-bar prompt of a highlighted menu item or title; "Ready" when a popup closes and when
    // the menu bar leaves its keyboard mode.
    bool IsMenuInUse() const;
    void OnMenuSelect(QAction *action);
    void OnMenuBarSelect(QAction *action);
    void OnMenuOpen();
    void OnMenuClose();
    void UpdateWindowMenu();

    void CreateMenuBar();
    void CreateToolBar();
    void CreateStatusBar();
    void CreateSplitter();
    void SetSettingsChecks();
    void ReopenDocuments();
    void KeepSplitterProportion();
    void OnDestroy();
    // The open documents' list as the next start reads it: written when the window goes.
    void WriteOpenDocuments();

    const CCommandTable m_commands;
    CUpdateUI m_ui;
    CLispTabView m_view;
    CTalvexPipe m_console;
    CRecentDocList m_recentFiles;
    CRecentDocList m_openDocs;
    CRecentFilesMenu m_recentMenu;
    CRecoveryJournals m_recovery;
    CDocumentManager m_docs;
    CFindReplaceController m_find;
    CReferenceLookup m_help;
    QList<QMenu *> m_popups;           // the top-level popups in menu order
    QMenu *m_pWindowMenu = nullptr;
    QToolBar *m_pToolBar = nullptr;
    QLabel *m_pStatusText = nullptr;
    QSplitter *m_pSplitter = nullptr;
    bool m_bToolBarVisible = true;
    int m_nLastCommand = 0;
    int m_nSplitterTop = 400;          // bar position until the splitter first has its size
    std::optional<CKeyFilter> m_keys;
    std::optional<CIdleHook> m_idle;
    int m_nEndRounds = 0;              // rounds EndUnanswered waited for dialogs to close
};
