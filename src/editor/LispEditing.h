// The editor's Lisp reader on a Scintilla control: top-level forms, the form before the caret, the symbol at a place, indentation.
#pragma once

#include "editor/CScintillaCtrl.h"
#include "editor/LispSyntax.h"

#include <QByteArray>

#include <optional>

namespace LispEditing {

using Pos = CScintillaCtrl::Pos;

struct Span
{
    Pos start = 0;
    Pos end = 0;
};

// The start of the top-level form around pos: the nearest line, pos's own or one before it,
// that begins with an opening bracket in column 0; else 0. Reading starts there, never earlier.
Pos TopLevelStart(const CScintillaCtrl &ctrl, Pos pos, ReaderDialect dialect);

// The form that ends right before the caret, from the reader prefixes before its opening bracket
// ('(a b), #'(lambda ...), `(1 ,x), #(1 2), #+sbcl (f), #{1 2}, @(atom 1), ^:m [x]) to its
// closing bracket; nullopt when no closing bracket of code with a partner stands before the caret.
// Reading starts at the top-level form around the caret; when the bracket finds no partner
// there, at the start of the document, unless wholeDocument is false (a quick answer).
std::optional<Span> FormBeforeCaret(const CScintillaCtrl &ctrl, ReaderDialect dialect, bool wholeDocument = true);

// The symbol at or touching pos (pos inside it, at its start or right after it), without its
// reader prefixes and without its package or namespace: "car" for #'cl:car. Empty inside a
// string or comment and where no symbol touches pos.
QByteArray SymbolAt(const CScintillaCtrl &ctrl, Pos pos, ReaderDialect dialect);
// The same token whole, package and |bars| included ("cl:car" for #'cl:car), for a reader that
// must know how it is written (CLispReader::SymbolName).
QByteArray SymbolTokenAt(const CScintillaCtrl &ctrl, Pos pos, ReaderDialect dialect);

// Re-indents lines first..last as one undo step, each line's leading blanks only, in the tabs or
// spaces the control inserts; lines already right are not touched. The selection stays on its
// text: a position in a line's leading blanks goes to the line's first character, except the
// start of a line in a selection that is not empty. True when anything changed.
// blankLast: the last line gets its indentation also when it is blank (a line begun with Enter).
bool IndentLines(CScintillaCtrl &ctrl, int first, int last, ReaderDialect dialect, bool blankLast = false);

} // namespace LispEditing
