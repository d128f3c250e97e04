// The program's commands, one row each, and the layout of its menus and toolbar.
#include "app/CCommandTable.h"

#include "app/CMainFrame.h"

namespace {

constexpr auto Ctrl = Qt::ControlModifier;
constexpr auto Shift = Qt::ShiftModifier;
constexpr auto Alt = Qt::AltModifier;

// Kinds of element that show a command's state; CheckItem marks a check item and has no other effect.
constexpr unsigned InMenu = CUpdateUI::MenuPopup;
constexpr unsigned OnBar = CUpdateUI::ToolBar;
constexpr unsigned CheckItem = CUpdateUI::Checked;

using R = MenuRow;
constexpr R Item(int id) { return {R::Item, id}; }
constexpr R Sep() { return {R::Separator}; }
constexpr R Popup(const char *title) { return {R::PopupBegin, 0, title}; }
constexpr R End() { return {R::PopupEnd}; }

} // namespace

// Strings are stored exactly as shown: the prompt, a newline, the tooltip (some tooltips hold a
// second newline of their own).
const Command CCommandTable::kCommands[] = {
    {.id = Cmd::FileNew, .text = "&New\tCtrl+N", .keys = {Ctrl | Qt::Key_N}, .icon = ":/icons/new.png",
     .prompt = "Create a new document\nNew", .handler = On<&CDocumentManager::OnFileNew>},
    {.id = Cmd::FileOpen, .text = "&Open...\tCtrl+O", .keys = {Ctrl | Qt::Key_O}, .icon = ":/icons/open.png",
     .prompt = "Open an existing document\nOpen", .handler = On<&CDocumentManager::OnFileOpen>},
    {.id = Cmd::FileMruFirst, .lastId = Cmd::FileMruLast, .prompt = "Open this document",
     .handler = On<&CMainFrame::OnRecentFile>},
    {.id = Cmd::FileSave, .text = "&Save\tCtrl+S", .keys = {Ctrl | Qt::Key_S}, .icon = ":/icons/save.png",
     .prompt = "Save the active document\nSave", .handler = On<&CDocumentManager::OnFileSave>, .ui = InMenu | OnBar},
    {.id = Cmd::FileSaveAs, .text = "Save &As...", .prompt = "Save the active document with a new name\nSave \nAs",
     .handler = On<&CDocumentManager::OnFileSaveAs>, .ui = InMenu | OnBar},
    {.id = Cmd::FileResetLisp, .text = "Reset Lisp", .icon = ":/icons/resetlisp.png",
     .prompt = "Reset Lisp\nReset Lisp", .handler = On<&CMainFrame::OnFileResetLisp>},
    // Ctrl+Break is Ctrl+Pause on a PC keyboard; Windows names the key Cancel.
    {.id = Cmd::FileInterruptLisp, .text = "Interrupt Lisp\tCtrl+Break", .keys = {Ctrl | Qt::Key_Pause, Ctrl | Qt::Key_Cancel},
     .icon = ":/icons/interruptlisp.png", .prompt = "Interrupt the running form\nInterrupt Lisp",
     .handler = On<&CTalvexPipe::InterruptLisp>, .ui = InMenu | OnBar},
    {.id = Cmd::AppExit, .text = "E&xit", .prompt = "Quit the application; prompts to save \ndocuments\nExit",
     .handler = On<&CMainFrame::OnFileExit>},
    {.id = Cmd::FilePrint, .keys = {Ctrl | Qt::Key_P}},           // bound to nothing: taken, nothing happens
    {.id = Cmd::NextPane, .keys = {Qt::Key_F6}},                  // likewise
    {.id = Cmd::PrevPane, .keys = {Shift | Qt::Key_F6}},          // likewise

    {.id = Cmd::EditUndo, .text = "&Undo\tCtrl+Z", .keys = {Ctrl | Qt::Key_Z, Alt | Qt::Key_Backspace},
     .icon = ":/icons/undo.png", .prompt = "Undo the last action\nUndo", .handler = On<&CMainFrame::OnEditUndo>},
    {.id = Cmd::EditRedo, .text = "&Redo\tCtrl+Y", .keys = {Ctrl | Qt::Key_Y}, .icon = ":/icons/redo.png",
     .prompt = "Redo the previously undone action\nRedo", .handler = On<&CMainFrame::OnEditRedo>},
    {.id = Cmd::EditCut, .text = "Cu&t\tCtrl+X", .keys = {Ctrl | Qt::Key_X, Shift | Qt::Key_Delete},
     .icon = ":/icons/cut.png", .prompt = "Cut the selection and put it on the \nClipboard\nCut",
     .handler = On<&CMainFrame::OnEditCut>},
    {.id = Cmd::EditCopy, .text = "&Copy\tCtrl+C", .keys = {Ctrl | Qt::Key_C, Ctrl | Qt::Key_Insert},
     .icon = ":/icons/copy.png", .prompt = "Copy the selection and put it on the \nClipboard\nCopy",
     .handler = On<&CMainFrame::OnEditCopy>},
    {.id = Cmd::EditPaste, .text = "&Paste\tCtrl+V", .keys = {Ctrl | Qt::Key_V, Shift | Qt::Key_Insert},
     .icon = ":/icons/paste.png", .prompt = "Insert Clipboard contents\nPaste",
     .handler = On<&CMainFrame::OnEditPaste>},
    // Shift+Enter is the editor view's own key, so Send To Lisp has no accelerator.
    {.id = Cmd::EditSendToLisp, .text = "Send To Lisp\tShift+Enter", .icon = ":/icons/sendtolisp.png",
     .prompt = "Send To Lisp\nSend To Lisp", .handler = On<&CMainFrame::OnEditSendToLisp>, .ui = InMenu | OnBar},
    {.id = Cmd::EditMacroexpand, .text = "Macroexpand-1\tCtrl+Enter", .keys = {Ctrl | Qt::Key_Return},
     .handler = On<&CMainFrame::OnEditMacroexpand>, .ui = InMenu | OnBar},
    {.id = Cmd::EditPrettyPrint, .text = "PrettyPrint\tAlt+Enter", .keys = {Alt | Qt::Key_Return},
     .handler = On<&CMainFrame::OnEditPrettyPrint>},
    {.id = Cmd::EditIndentLines, .text = "Indent Lines\tCtrl+I", .keys = {Ctrl | Qt::Key_I},
     .prompt = "Indent the selected lines as Lisp\nIndent Lines", .handler = On<&CMainFrame::OnEditIndentLines>},

    {.id = Cmd::EditFind, .text = "Find\tCtrl+F", .keys = {Ctrl | Qt::Key_F},
     .prompt = "Find the specified text\nFind", .handler = On<&CFindReplaceController::OnEditFind>},
    {.id = Cmd::EditReplace, .text = "Replace\tCtrl+R", .keys = {Ctrl | Qt::Key_R},
     .prompt = "Replace specific text with different \ntext\nReplace",
     .handler = On<&CFindReplaceController::OnEditFind>},

    {.id = Cmd::ViewToolBar, .text = "&Toolbar", .prompt = "Show or hide the toolbar\nToggle ToolBar",
     .handler = On<&CMainFrame::OnViewToolBar>, .ui = InMenu},
    {.id = Cmd::ViewStatusBar, .text = "&Status Bar", .prompt = "Show or hide the status bar\nToggle StatusBar",
     .handler = On<&CMainFrame::OnViewStatusBar>, .ui = InMenu},

    {.id = Cmd::SetLispPath, .text = "Set Lisp Path", .handler = On<&CMainFrame::OnSetLispPath>},
    {.id = Cmd::SetFont, .text = "Set Font", .handler = On<&CMainFrame::OnSetFont>},
    {.id = Cmd::LineEndingCrLf, .text = "Windows (CRLF)", .handler = On<&CMainFrame::OnLineEnding>,
     .ui = InMenu | CheckItem, .group = CheckGroup::LineEnding},
    {.id = Cmd::LineEndingCr, .text = "Mac (CR)", .handler = On<&CMainFrame::OnLineEnding>,
     .ui = InMenu | CheckItem, .group = CheckGroup::LineEnding},
    {.id = Cmd::LineEndingLf, .text = "Unix (LF)", .handler = On<&CMainFrame::OnLineEnding>,
     .ui = InMenu | CheckItem, .group = CheckGroup::LineEnding},
    {.id = Cmd::TabUsesSpaces, .text = "Tab Uses Spaces", .prompt = "Tab Uses Spaces\nTab Uses Spaces",
     .handler = On<&CMainFrame::OnTabUsesSpaces>, .ui = InMenu | CheckItem},
    {.id = Cmd::AutoIndent, .text = "Auto Indent", .prompt = "Indent each new line as Lisp\nAuto Indent",
     .handler = On<&CMainFrame::OnAutoIndent>, .ui = InMenu | CheckItem},
    {.id = Cmd::TabSize4, .text = "4", .handler = On<&CMainFrame::OnTabSize>, .ui = InMenu | CheckItem,
     .group = CheckGroup::TabSize},
    {.id = Cmd::TabSize8, .text = "8", .handler = On<&CMainFrame::OnTabSize>, .ui = InMenu | CheckItem,
     .group = CheckGroup::TabSize},
    {.id = Cmd::KeywordCommonLisp, .text = "Common Lisp", .handler = On<&CMainFrame::OnKeywordSet>,
     .ui = InMenu | CheckItem, .group = CheckGroup::KeywordSet},
    {.id = Cmd::KeywordScheme, .text = "Scheme", .handler = On<&CMainFrame::OnKeywordSet>,
     .ui = InMenu | CheckItem, .group = CheckGroup::KeywordSet},
    {.id = Cmd::KeywordNewLisp, .text = "newLISP", .handler = On<&CMainFrame::OnKeywordSet>,
     .ui = InMenu | CheckItem, .group = CheckGroup::KeywordSet},
    {.id = Cmd::KeywordIsLisp, .text = "ISLISP", .handler = On<&CMainFrame::OnKeywordSet>,
     .ui = InMenu | CheckItem, .group = CheckGroup::KeywordSet},
    {.id = Cmd::KeywordPicoLisp, .text = "PicoLisp", .handler = On<&CMainFrame::OnKeywordSet>,
     .ui = InMenu | CheckItem, .group = CheckGroup::KeywordSet},
    {.id = Cmd::KeywordClojure, .text = "Clojure", .handler = On<&CMainFrame::OnKeywordSet>,
     .ui = InMenu | CheckItem, .group = CheckGroup::KeywordSet},

    {.id = Cmd::WindowClose, .text = "&Close\tCtrl+F4", .keys = {Ctrl | Qt::Key_F4},
     .handler = On<&CDocumentManager::OnWindowClose>},
    {.id = Cmd::WindowCloseAll, .text = "Close &All", .handler = On<&CDocumentManager::OnWindowCloseAll>},
    {.id = Cmd::WindowFirst, .lastId = Cmd::WindowLast, .prompt = "Activate this window",
     .handler = On<&CMainFrame::OnWindowListItem>},

    {.id = Cmd::HelpHyperSpec, .text = "Common Lisp HyperSpec\tF1", .keys = {Qt::Key_F1},
     .prompt = "Common Lisp HyperSpec", .handler = On<&CReferenceLookup::OnHelpHyperSpec>},
    {.id = Cmd::HelpCLtL2, .text = "Common Lisp The Language", .prompt = "Common Lisp The Language, 2nd Edition",
     .handler = On<&CReferenceLookup::OnHelpCLtL2>},
    {.id = Cmd::HelpLookUpSymbol, .text = "Look Up Symbol\tShift+F1", .keys = {Shift | Qt::Key_F1},
     .prompt = "Show the reference page of the symbol at the caret\nLook Up Symbol",
     .handler = On<&CReferenceLookup::OnHelpLookUpSymbol>},
    {.id = Cmd::AppAbout, .text = "&About Talvex...", .icon = ":/icons/about.png",
     .prompt = "Display program information, version number and \ncopyright\nAbout",
     .handler = On<&CMainFrame::OnAppAbout>},
};

// Popup 1 ("&Edit") is also the context menu.
const MenuRow CCommandTable::kMenu[] = {
    Popup("&File"),
        Item(Cmd::FileNew),
        Item(Cmd::FileOpen),
        Popup("Recent Files"),
            {R::RecentFiles, Cmd::FileMruFirst, "<none>"},
        End(),
        Item(Cmd::FileSave),
        Item(Cmd::FileSaveAs),
        Sep(),
        Item(Cmd::FileResetLisp),
        Item(Cmd::FileInterruptLisp),
        Sep(),
        Item(Cmd::AppExit),
    End(),
    Popup("&Edit"),
        Item(Cmd::EditUndo),
        Item(Cmd::EditRedo),
        Sep(),
        Item(Cmd::EditCut),
        Item(Cmd::EditCopy),
        Item(Cmd::EditPaste),
        Sep(),
        Item(Cmd::EditSendToLisp),
        Item(Cmd::EditMacroexpand),
        Item(Cmd::EditPrettyPrint),
        Sep(),
        Item(Cmd::EditIndentLines),
    End(),
    Popup("Search"),
        Item(Cmd::EditFind),
        Item(Cmd::EditReplace),
    End(),
    Popup("&View"),
        Item(Cmd::ViewToolBar),
        Item(Cmd::ViewStatusBar),
    End(),
    Popup("Settings"),
        Item(Cmd::SetLispPath),
        Item(Cmd::SetFont),
        Popup("Set Line Endings"),
            Item(Cmd::LineEndingCrLf),
            Item(Cmd::LineEndingCr),
            Item(Cmd::LineEndingLf),
        End(),
        Item(Cmd::TabUsesSpaces),
        Item(Cmd::AutoIndent),
        Popup("Tab Size"),
            Item(Cmd::TabSize4),
            Item(Cmd::TabSize8),
        End(),
        Popup("Keyword Set"),
            Item(Cmd::KeywordCommonLisp),
            Item(Cmd::KeywordScheme),
            Item(Cmd::KeywordNewLisp),
            Item(Cmd::KeywordIsLisp),
            Item(Cmd::KeywordPicoLisp),
            Item(Cmd::KeywordClojure),
        End(),
    End(),
    Popup("&Window"),
        Item(Cmd::WindowClose),
        Item(Cmd::WindowCloseAll),
        {R::WindowList},
    End(),
    Popup("&Help"),
        Item(Cmd::HelpHyperSpec),
        Item(Cmd::HelpCLtL2),
        Item(Cmd::HelpLookUpSymbol),
        Sep(),
        Item(Cmd::AppAbout),
    End(),
};

const int CCommandTable::kToolbar[] = {
    Cmd::FileNew, Cmd::FileOpen, Cmd::FileSave, kToolbarSeparator,
    Cmd::EditCut, Cmd::EditCopy, Cmd::EditPaste, kToolbarSeparator,
    Cmd::EditUndo, Cmd::EditRedo, kToolbarSeparator,
    Cmd::EditSendToLisp, kToolbarSeparator,
    Cmd::FileResetLisp, Cmd::FileInterruptLisp, kToolbarSeparator,
    Cmd::AppAbout,
};

const CCommandTable &CCommandTable::Standard()
{
    static const CCommandTable table(kCommands, kMenu, kToolbar);
    return table;
}
