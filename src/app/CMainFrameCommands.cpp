// The main window's command dispatch and its thin handlers.
#include "app/CMainFrame.h"

#include "editor/CTalvexView.h"
#include "editor/SendToLispEvent.h"
#include "editor/TextToSend.h"
#include "help/CAboutDlg.h"
#include "lisp/LispCommands.h"
#include "lisp/LispPathSelector.h"
#include "platform/CSameFile.h"
#include "settings/CSettingsStore.h"

#include <QApplication>
#include <QComboBox>
#include <QFontDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QStatusBar>
#include <QToolBar>

#include <algorithm>

namespace {

const QString &kSettings = CSettingsStore::kSettings;

// A clipboard or undo command as a Scintilla control and as a line edit carry it out.
struct FocusCommand {
    void (CScintillaCtrl::*scintilla)();
    void (*lineEdit)(QLineEdit &);
};

constexpr FocusCommand kCut{&CScintillaCtrl::OnEditCut, [](QLineEdit &e) { e.cut(); }};
constexpr FocusCommand kCopy{&CScintillaCtrl::OnEditCopy, [](QLineEdit &e) { e.copy(); }};
constexpr FocusCommand kPaste{&CScintillaCtrl::OnEditPaste, [](QLineEdit &e) { e.paste(); }};
constexpr FocusCommand kUndo{&CScintillaCtrl::OnEditUndo, [](QLineEdit &e) { e.undo(); }};
constexpr FocusCommand kRedo{&CScintillaCtrl::OnEditRedo, [](QLineEdit &e) { e.redo(); }};

// Clipboard and undo commands act on whatever has the keyboard focus: a Scintilla control
// through its own (overridable) handlers, a line edit through its slots; anything else ignores them.
void SendToFocus(const FocusCommand &command)
{
    QWidget *focus = QApplication::focusWidget();
    if (!focus)
        return;
    CScintillaCtrl *sci = qobject_cast<CScintillaCtrl *>(focus);
    if (!sci && focus->parentWidget())
        sci = qobject_cast<CScintillaCtrl *>(focus->parentWidget()); // its viewport
    if (sci) {
        (sci->*command.scintilla)();
        return;
    }
    QLineEdit *edit = qobject_cast<QLineEdit *>(focus);
    if (!edit) {
        if (auto *combo = qobject_cast<QComboBox *>(focus))
            edit = combo->lineEdit();
    }
    if (edit)
        command.lineEdit(*edit);
}

} // namespace

void CMainFrame::OnCommand(int id)
{
    m_nLastCommand = id;
    // Ctrl+P, F6 and Shift+F6 have rows without a handler: their keys are taken, nothing happens.
    if (const Command *command = m_commands.Find(id); command && command->handler)
        command->handler(*this, id);
}

void CMainFrame::OnFileExit()
{
    // Queued like a posted close request: the close runs after the command has returned.
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void CMainFrame::OnViewToolBar()
{
    m_bToolBarVisible = !m_bToolBarVisible;
    m_pToolBar->setVisible(m_bToolBarVisible);
    m_ui.UISetCheck(Cmd::ViewToolBar, m_bToolBarVisible);
}

void CMainFrame::OnViewStatusBar()
{
    const bool show = statusBar()->isHidden();
    statusBar()->setVisible(show);
    m_ui.UISetCheck(Cmd::ViewStatusBar, show);
}

void CMainFrame::OnEditCut() { SendToFocus(kCut); }
void CMainFrame::OnEditCopy() { SendToFocus(kCopy); }
void CMainFrame::OnEditPaste() { SendToFocus(kPaste); }
void CMainFrame::OnEditUndo() { SendToFocus(kUndo); }
void CMainFrame::OnEditRedo() { SendToFocus(kRedo); }

void CMainFrame::SendActiveForm(QByteArray (*wrap)(const QByteArray &, const LispDialect &))
{
    CTalvexView *view = GetActiveView();
    if (!view)
        return;
    const QByteArray text = GetTextToSend(*view);
    if (text.isEmpty()) {
        if (m_pStatusText)
            m_pStatusText->setText(QString::fromLatin1(kNothingToSend));
        return;
    }
    // The dialect of the Lisp that runs; empty when it has no such command.
    QByteArray sent = wrap ? wrap(text, m_console.Dialect()) : text;
    if (sent.isEmpty())
        return;
    SendToLispEvent ev(std::move(sent));
    QCoreApplication::sendEvent(this, &ev);
}

void CMainFrame::OnEditSendToLisp()
{
    SendActiveForm(nullptr);
}

void CMainFrame::OnEditMacroexpand()
{
    SendActiveForm(&MacroexpandText);
}

void CMainFrame::OnEditPrettyPrint()
{
    SendActiveForm(&PrettyPrintText);
}

void CMainFrame::OnEditIndentLines()
{
    if (CTalvexView *view = GetActiveView())
        view->IndentSelectedLines();
}

void CMainFrame::OnFileResetLisp()
{
    m_console.ResetLisp();
}

void CMainFrame::OnSetLispPath()
{
    SetLispPath(this, m_console);
}

void CMainFrame::OnSetFont()
{
    bool ok = false;
    const QFont font = QFontDialog::getFont(&ok, m_console.Font(), this);
    if (!ok)
        return;
    CSettingsStore &store = CSettingsStore::Instance();
    store.WriteString(kSettings, QStringLiteral("FontName"), font.family());
    // Tenths of a point, as the stored value counts it.
    store.WriteInt(kSettings, QStringLiteral("FontSize"), qRound(font.pointSizeF() * 10.0));
    ShowRestartMessage();
}

void CMainFrame::SetLineEnding(int mode)
{
    for (int i = 0; i < m_view.GetPageCount(); ++i) {
        if (CTalvexView *view = m_view.GetPageData(i)) {
            view->SetEOLMode(mode);
            // The CR bytes of an image or a program are data, not line ends.
            if (!view->HoldsBinary())
                view->ConvertEOLs(mode);
        }
    }
}

void CMainFrame::OnLineEnding(int id)
{
    if (m_ui.UIIsChecked(id))
        return;
    const int mode = GroupIndex(id); // 0 CR LF, 1 CR, 2 LF
    CheckGroupItem(CheckGroup::LineEnding, mode);
    CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("LineEnding"), mode);
    SetLineEnding(mode);
}

void CMainFrame::OnTabUsesSpaces()
{
    const bool check = !m_ui.UIIsChecked(Cmd::TabUsesSpaces);
    m_ui.UISetCheck(Cmd::TabUsesSpaces, check);
    CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("TabUsesSpaces"), check ? 1 : 0);
    ShowRestartMessage();
}

void CMainFrame::OnAutoIndent()
{
    // Every open view follows at once; views made later read the stored value.
    const bool on = !m_ui.UIIsChecked(Cmd::AutoIndent);
    m_ui.UISetCheck(Cmd::AutoIndent, on);
    CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("AutoIndent"), on ? 1 : 0);
    for (int i = 0; i < m_view.GetPageCount(); ++i) {
        if (CTalvexView *view = m_view.GetPageData(i))
            view->SetAutoIndent(on);
    }
}

void CMainFrame::OnTabSize(int id)
{
    if (!m_ui.UIIsChecked(id)) {
        CheckGroupItem(CheckGroup::TabSize, GroupIndex(id));
        CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("TabSize"), id == Cmd::TabSize4 ? 4 : 8);
    }
    ShowRestartMessage();
}

void CMainFrame::OnKeywordSet(int id)
{
    // The check marks keep showing the set read at start: the console uses it until a restart.
    CSettingsStore::Instance().WriteInt(kSettings, QStringLiteral("KeywordSet"), GroupIndex(id));
    ShowRestartMessage();
}

void CMainFrame::CheckGroupItem(CheckGroup group, int index)
{
    const std::vector<int> ids = m_commands.Group(group);
    for (std::size_t i = 0; i < ids.size(); ++i)
        m_ui.UISetCheck(ids[i], int(i) == index);
}

int CMainFrame::GroupIndex(int id) const
{
    const Command *command = m_commands.Find(id);
    if (!command)
        return -1;
    const std::vector<int> ids = m_commands.Group(command->group);
    const auto it = std::find(ids.begin(), ids.end(), id);
    return it == ids.end() ? -1 : int(it - ids.begin());
}

void CMainFrame::ShowRestartMessage()
{
    QMessageBox box(QMessageBox::Warning, CCommandTable::String(Cmd::StrTitle),
                    QStringLiteral("Please restart Talvex"), QMessageBox::Ok, this);
    box.exec();
}

void CMainFrame::OnAppAbout()
{
    CAboutDlg dlg(this);
    dlg.exec();
}

void CMainFrame::OnWindowListItem(int id)
{
    const int index = id - Cmd::WindowFirst;
    if (m_view.IsValidPageIndex(index))
        m_view.SetActivePage(index);
}

void CMainFrame::OnRecentFile(int id)
{
    QString path;
    if (!m_recentFiles.GetFromList(id, path)) {
        QApplication::beep(); // the greyed "<none>" placeholder
        return;
    }
    const bool opened = m_docs.OpenFile(path) != 0;
    // Opening may already have reordered the list, so the entry is found again by its path.
    auto findId = [this, &path]() {
        for (int i = 0; i < m_recentFiles.GetCount(); ++i) {
            QString entry;
            const int entryId = Cmd::FileMruFirst + i;
            if (m_recentFiles.GetFromList(entryId, entry) && IsSameFile(entry, path))
                return entryId;
        }
        return 0;
    };
    if (const int current = findId()) {
        if (opened)
            m_recentFiles.MoveToTop(current);
        else
            m_recentFiles.RemoveFromList(current);
    }
    m_recentFiles.WriteToRegistry(CSettingsStore::Instance().KeyPath());
}
