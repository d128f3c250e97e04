// The command vocabulary: ids, menu, accelerators, toolbar order, prompt/tooltip strings.
#pragma once

#include <QKeyCombination>
#include <QString>

#include <span>

// Command ids. The framework's standard ones for File, Edit, View, Help and the recent-file list,
// the program's own from 32772 up, and the window list from 0xFF00.
namespace Cmd {
enum : int {
    FileNew = 57600,
    FileOpen = 57601,
    FileSave = 57603,
    FileSaveAs = 57604,
    FilePrint = 57607,          // Ctrl+P: bound, no handler
    FileMruFirst = 57616,       // recent-file items 57616..57631
    FileMruLast = 57631,
    FileResetLisp = 32804,
    AppExit = 57665,
    EditUndo = 57643,
    EditRedo = 57644,
    EditCut = 57635,
    EditCopy = 57634,
    EditPaste = 57637,
    EditFind = 57636,
    EditReplace = 57641,
    EditSendToLisp = 32800,
    EditMacroexpand = 32816,
    EditPrettyPrint = 32836,
    NextPane = 57680,           // F6: bound, no handler
    PrevPane = 57681,           // Shift+F6: bound, no handler
    ViewToolBar = 59392,
    ViewStatusBar = 59393,
    SetLispPath = 32809,
    SetFont = 32808,
    LineEndingCrLf = 32826,
    LineEndingCr = 32827,
    LineEndingLf = 32828,
    TabUsesSpaces = 32810,
    TabSize4 = 32840,
    TabSize8 = 32841,
    KeywordSetFirst = 32830,    // Common Lisp .. Clojure: 32830..32835
    KeywordSetLast = 32835,
    WindowClose = 32772,
    WindowCloseAll = 32773,
    WindowFirst = 0xFF00,       // window-list items 0xFF00..0xFFFD
    WindowLast = 0xFFFD,
    HelpHyperSpec = 32811,
    HelpCLtL2 = 32812,
    AppAbout = 57664,
};

// Ids of strings that are not commands.
enum : int {
    StrTitle = 128,
    StrReady = 57345,
    StrRecentItem = 61402,
    StrWindowItem = 61215,
};
} // namespace Cmd

// One row of the menu definition, read top to bottom: PopupBegin opens a (sub)menu, PopupEnd
// closes the innermost one.
struct MenuRow {
    enum Kind { Item, Separator, PopupBegin, PopupEnd };
    Kind kind;
    int id;             // Item: command id; otherwise 0
    const char *text;   // Item / PopupBegin: text with & mnemonic and \t shortcut column
    bool checkable;     // Item: shows a check mark when its state says so
    bool disabled;      // Item: greyed in the resource itself (the "<none>" placeholder)
};

struct Accelerator {
    QKeyCombination keys;
    int id;
};

// The frame's UI state table: ids and the kinds of element that show them.
struct UIMapEntry {
    int id;
    unsigned kinds;
};

namespace CommandTable {

inline constexpr int kToolbarSeparator = 0;
inline constexpr int kTooltipMax = 79;

// Index of the popups used by the frame.
inline constexpr int kFilePopup = 0;
inline constexpr int kEditPopup = 1;
inline constexpr int kWindowPopup = 5;
inline constexpr int kRecentFilesItem = 2; // position of "Recent Files" inside "&File"

std::span<const MenuRow> Menu();
std::span<const Accelerator> Accelerators();
std::span<const int> Toolbar();            // ids in button order, 0 = separator
std::span<const UIMapEntry> UIMap();

// The string of a string-table id exactly as stored; empty when there is none.
QString String(int id);
// The status-bar prompt of a menu item: recent-file and window items share one string each,
// system-menu ids map into the 0xE000 block; the text is cut at its first newline.
QString Prompt(int id);
// The tooltip of a toolbar button: what follows the first newline, at most 79 characters.
QString Tooltip(int id);
// The command bound to a key press (modifiers compared exactly, keypad flag ignored), or 0.
int AcceleratorFor(QKeyCombination keys);
// Resource path of the image for a command id, empty when it has none.
QString IconPath(int id);

} // namespace CommandTable
