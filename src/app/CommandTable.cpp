// The command vocabulary's tables: menu, accelerators, toolbar, UI state map and strings.
#include "app/CommandTable.h"

#include "app/CUpdateUI.h"

#include <algorithm>
#include <array>

namespace {

using R = MenuRow;

constexpr R Item(int id, const char *text) { return {R::Item, id, text, false, false}; }
constexpr R Check(int id, const char *text) { return {R::Item, id, text, true, false}; }
constexpr R Sep() { return {R::Separator, 0, nullptr, false, false}; }
constexpr R Popup(const char *text) { return {R::PopupBegin, 0, text, false, false}; }
constexpr R End() { return {R::PopupEnd, 0, nullptr, false, false}; }

constexpr R kMenu[] = {
    Popup("&File"),
        Item(Cmd::FileNew, "&New\tCtrl+N"),
        Item(Cmd::FileOpen, "&Open...\tCtrl+O"),
        Popup("Recent Files"),
            {R::Item, Cmd::FileMruFirst, "<none>", false, true},
        End(),
        Item(Cmd::FileSave, "&Save\tCtrl+S"),
        Item(Cmd::FileSaveAs, "Save &As..."),
        Sep(),
        Item(Cmd::FileResetLisp, "Reset Lisp"),
        Sep(),
        Item(Cmd::AppExit, "E&xit"),
    End(),
    Popup("&Edit"),
        Item(Cmd::EditUndo, "&Undo\tCtrl+Z"),
        Item(Cmd::EditRedo, "&Redo\tCtrl+Y"),
        Sep(),
        Item(Cmd::EditCut, "Cu&t\tCtrl+X"),
        Item(Cmd::EditCopy, "&Copy\tCtrl+C"),
        Item(Cmd::EditPaste, "&Paste\tCtrl+V"),
        Sep(),
        Item(Cmd::EditSendToLisp, "Send To Lisp\tShift+Enter"),
        Item(Cmd::EditMacroexpand, "Macroexpand-1\tCtrl+Enter"),
        Item(Cmd::EditPrettyPrint, "PrettyPrint\tAlt+Enter"),
    End(),
    Popup("Search"),
        Item(Cmd::EditFind, "Find\tCtrl+F"),
        Item(Cmd::EditReplace, "Replace\tCtrl+R"),
    End(),
    Popup("&View"),
        Check(Cmd::ViewToolBar, "&Toolbar"),
        Check(Cmd::ViewStatusBar, "&Status Bar"),
    End(),
    Popup("Settings"),
        Item(Cmd::SetLispPath, "Set Lisp Path"),
        Item(Cmd::SetFont, "Set Font"),
        Popup("Set Line Endings"),
            Check(Cmd::LineEndingCrLf, "Windows (CRLF)"),
            Check(Cmd::LineEndingCr, "Mac (CR)"),
            Check(Cmd::LineEndingLf, "Unix (LF)"),
        End(),
        Check(Cmd::TabUsesSpaces, "Tab Uses Spaces"),
        Popup("Tab Size"),
            Check(Cmd::TabSize4, "4"),
            Check(Cmd::TabSize8, "8"),
        End(),
        Popup("Keyword Set"),
            Check(32830, "Common Lisp"),
            Check(32831, "Scheme"),
            Check(32832, "newLISP"),
            Check(32833, "ISLISP"),
            Check(32834, "PicoLisp"),
            Check(32835, "Clojure"),
        End(),
    End(),
    Popup("&Window"),
        Item(Cmd::WindowClose, "&Close\tCtrl+F4"),
        Item(Cmd::WindowCloseAll, "Close &All"),
    End(),
    Popup("&Help"),
        Item(Cmd::HelpHyperSpec, "Common Lisp HyperSpec\tF1"),
        Item(Cmd::HelpCLtL2, "Common Lisp The Language"),
        Sep(),
        Item(Cmd::AppAbout, "&About Talvex..."),
    End(),
};

constexpr auto Ctrl = Qt::ControlModifier;
constexpr auto Shift = Qt::ShiftModifier;
constexpr auto Alt = Qt::AltModifier;

const Accelerator kAccelerators[] = {
    {Ctrl | Qt::Key_C, Cmd::EditCopy},
    {Ctrl | Qt::Key_Insert, Cmd::EditCopy},
    {Ctrl | Qt::Key_X, Cmd::EditCut},
    {Shift | Qt::Key_Delete, Cmd::EditCut},
    {Ctrl | Qt::Key_V, Cmd::EditPaste},
    {Shift | Qt::Key_Insert, Cmd::EditPaste},
    {Ctrl | Qt::Key_Z, Cmd::EditUndo},
    {Alt | Qt::Key_Backspace, Cmd::EditUndo},
    {Ctrl | Qt::Key_Y, Cmd::EditRedo},
    {Ctrl | Qt::Key_F, Cmd::EditFind},
    {Ctrl | Qt::Key_R, Cmd::EditReplace},
    {Ctrl | Qt::Key_N, Cmd::FileNew},
    {Ctrl | Qt::Key_O, Cmd::FileOpen},
    {Ctrl | Qt::Key_S, Cmd::FileSave},
    {Ctrl | Qt::Key_Return, Cmd::EditMacroexpand},
    {Alt | Qt::Key_Return, Cmd::EditPrettyPrint},
    {QKeyCombination(Qt::Key_F1), Cmd::HelpHyperSpec},
    {Ctrl | Qt::Key_P, Cmd::FilePrint},
    {QKeyCombination(Qt::Key_F6), Cmd::NextPane},
    {Shift | Qt::Key_F6, Cmd::PrevPane},
};

constexpr int kToolbar[] = {
    Cmd::FileNew, Cmd::FileOpen, Cmd::FileSave, CommandTable::kToolbarSeparator,
    Cmd::EditCut, Cmd::EditCopy, Cmd::EditPaste, CommandTable::kToolbarSeparator,
    Cmd::EditUndo, Cmd::EditRedo, CommandTable::kToolbarSeparator,
    Cmd::EditSendToLisp, CommandTable::kToolbarSeparator,
    Cmd::FileResetLisp, CommandTable::kToolbarSeparator,
    Cmd::AppAbout,
};

constexpr unsigned M = CUpdateUI::MenuPopup;
constexpr unsigned T = CUpdateUI::ToolBar;
constexpr unsigned C = CUpdateUI::Checked; // marks check items; no effect beyond that

constexpr UIMapEntry kUIMap[] = {
    {Cmd::ViewToolBar, M},
    {Cmd::ViewStatusBar, M},
    {Cmd::FileSave, M | T},
    {Cmd::FileSaveAs, M | T},
    {Cmd::EditSendToLisp, M | T},
    {Cmd::EditMacroexpand, M | T},
    {Cmd::TabUsesSpaces, M | C},
    {Cmd::LineEndingCrLf, M | C},
    {Cmd::LineEndingCr, M | C},
    {Cmd::LineEndingLf, M | C},
    {Cmd::TabSize4, M | C},
    {Cmd::TabSize8, M | C},
    {32830, M | C},
    {32831, M | C},
    {32832, M | C},
    {32833, M | C},
    {32834, M | C},
    {32835, M | C},
};

struct StringEntry {
    int id;
    const char *text;
};

// Sorted by id for the binary search in String().
constexpr StringEntry kStrings[] = {
    {128, "Talvex"},
    {32800, "Send To Lisp\nSend To Lisp"},
    {32804, "Reset Lisp\nReset Lisp"},
    {32810, "Tab Uses Spaces\nTab Uses Spaces"},
    {32811, "Common Lisp HyperSpec"},
    {32812, "Common Lisp The Language, 2nd Edition"},
    {57345, "Ready"},
    {57600, "Create a new document\nNew"},
    {57601, "Open an existing document\nOpen"},
    {57603, "Save the active document\nSave"},
    {57604, "Save the active document with a new name\nSave \nAs"},
    {57634, "Copy the selection and put it on the \nClipboard\nCopy"},
    {57635, "Cut the selection and put it on the \nClipboard\nCut"},
    {57636, "Find the specified text\nFind"},
    {57637, "Insert Clipboard contents\nPaste"},
    {57641, "Replace specific text with different \ntext\nReplace"},
    {57643, "Undo the last action\nUndo"},
    {57644, "Redo the previously undone action\nRedo"},
    {57664, "Display program information, version number and \ncopyright\nAbout"},
    {57665, "Quit the application; prompts to save \ndocuments\nExit"},
    {59392, "Show or hide the toolbar\nToggle ToolBar"},
    {59393, "Show or hide the status bar\nToggle StatusBar"},
    {61184, "Change the window size"},
    {61185, "Change the window position"},
    {61186, "Reduce the window to an icon"},
    {61187, "Enlarge the window to full size"},
    {61188, "Switch to the next document window"},
    {61189, "Switch to the previous document window"},
    {61190, "Close the active window and prompts to save the \ndocuments"},
    {61202, "Restore the window to normal size"},
    {61203, "Activate Task List"},
    {61215, "Activate this window"},
    {61402, "Open this document"},
};

struct IconEntry {
    int id;
    const char *path;
};

constexpr IconEntry kIcons[] = {
    {Cmd::FileNew, ":/icons/new.png"},
    {Cmd::FileOpen, ":/icons/open.png"},
    {Cmd::FileSave, ":/icons/save.png"},
    {Cmd::EditCut, ":/icons/cut.png"},
    {Cmd::EditCopy, ":/icons/copy.png"},
    {Cmd::EditPaste, ":/icons/paste.png"},
    {Cmd::EditUndo, ":/icons/undo.png"},
    {Cmd::EditRedo, ":/icons/redo.png"},
    {Cmd::EditSendToLisp, ":/icons/sendtolisp.png"},
    {Cmd::FileResetLisp, ":/icons/resetlisp.png"},
    {Cmd::AppAbout, ":/icons/about.png"},
};

} // namespace

namespace CommandTable {

std::span<const MenuRow> Menu() { return kMenu; }
std::span<const Accelerator> Accelerators() { return kAccelerators; }
std::span<const int> Toolbar() { return kToolbar; }
std::span<const UIMapEntry> UIMap() { return kUIMap; }

QString String(int id)
{
    const auto *it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                                      [](const StringEntry &e, int v) { return e.id < v; });
    if (it == std::end(kStrings) || it->id != id)
        return {};
    return QString::fromLatin1(it->text);
}

QString Prompt(int id)
{
    int stringId = id;
    if (id >= 0xF000 && id < 0xF1F0)
        stringId = 0xE000 | ((id >> 4) & 0xFFF);
    else if (id >= Cmd::FileMruFirst && id <= Cmd::FileMruLast)
        stringId = Cmd::StrRecentItem;
    else if (id >= Cmd::WindowFirst && id <= Cmd::WindowLast)
        stringId = Cmd::StrWindowItem;
    QString text = String(stringId).left(255);
    const qsizetype newline = text.indexOf(QLatin1Char('\n'));
    if (newline >= 0)
        text.truncate(newline);
    return text;
}

QString Tooltip(int id)
{
    const QString text = String(id);
    const qsizetype newline = text.indexOf(QLatin1Char('\n'));
    if (newline < 0)
        return {};
    return text.mid(newline + 1, kTooltipMax);
}

int AcceleratorFor(QKeyCombination keys)
{
    Qt::Key key = keys.key();
    if (key == Qt::Key_Enter) // the keypad Enter is the same virtual key as Return
        key = Qt::Key_Return;
    const Qt::KeyboardModifiers mods = keys.keyboardModifiers()
        & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
    for (const Accelerator &a : kAccelerators) {
        if (a.keys.key() == key && a.keys.keyboardModifiers() == mods)
            return a.id;
    }
    return 0;
}

QString IconPath(int id)
{
    for (const IconEntry &e : kIcons) {
        if (e.id == id)
            return QString::fromLatin1(e.path);
    }
    return {};
}

} // namespace CommandTable
