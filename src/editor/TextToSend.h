// Picks the text an evaluation command takes from an editor: the selection or the form before the caret.
#pragma once

#include <QByteArray>

class CScintillaCtrl;

// What the status bar says when an evaluation key finds nothing to send.
inline constexpr char kNothingToSend[] = "Nothing to send: put the caret after a closing bracket or select the text";

// The selected text when the selection is not empty; otherwise the form whose closing bracket
// stands just before the caret, read with the editor's Lisp reader in the dialect in use: from
// the reader prefixes before its opening bracket ('(a b), #(1 2), #{1 2}, @(atom 1)) to its
// closing bracket; otherwise empty (also when the brackets do not match, or the bracket is in a
// string or comment). The bytes are taken exactly as in the document.
QByteArray GetTextToSend(CScintillaCtrl &view);
