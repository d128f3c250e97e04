// The program's command ids, by name.
#pragma once

// The framework's standard ids for File, Edit, View, Help and the recent-file list, the
// program's own from 32772 up, and the window list from 0xFF00.
namespace Cmd {
enum : int {
    FileNew = 57600,
    FileOpen = 57601,
    FileSave = 57603,
    FileSaveAs = 57604,
    FilePrint = 57607,          // Ctrl+P: bound to nothing
    FileMruFirst = 57616,       // recent-file items 57616..57631
    FileMruLast = 57631,
    FileResetLisp = 32804,
    FileInterruptLisp = 32842,
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
    EditIndentLines = 32843,
    NextPane = 57680,           // F6: bound to nothing
    PrevPane = 57681,           // Shift+F6: bound to nothing
    ViewToolBar = 59392,
    ViewStatusBar = 59393,
    SetLispPath = 32809,
    SetFont = 32808,
    LineEndingCrLf = 32826,
    LineEndingCr = 32827,
    LineEndingLf = 32828,
    TabUsesSpaces = 32810,
    AutoIndent = 32844,
    TabSize4 = 32840,
    TabSize8 = 32841,
    KeywordCommonLisp = 32830,
    KeywordScheme = 32831,
    KeywordNewLisp = 32832,
    KeywordIsLisp = 32833,
    KeywordPicoLisp = 32834,
    KeywordClojure = 32835,
    WindowClose = 32772,
    WindowCloseAll = 32773,
    WindowFirst = 0xFF00,       // window-list items 0xFF00..0xFFFD
    WindowLast = 0xFFFD,
    HelpHyperSpec = 32811,
    HelpCLtL2 = 32812,
    HelpLookUpSymbol = 32847,
    AppAbout = 57664,
};

// Ids of strings that belong to no command.
enum : int {
    StrTitle = 128,
    StrReady = 57345,
};
} // namespace Cmd
