// Picks the text an evaluation command takes from an editor: the selection or the form before the caret.
#pragma once

#include <QByteArray>

class CScintillaCtrl;

// The selected text when the selection is not empty; otherwise the balanced form whose closing
// bracket ( ")", "]" or "}" ) stands just before the caret, from its opening to its closing
// bracket; otherwise empty (also when the brackets do not match). The bytes are taken exactly as in the document.
QByteArray GetTextToSend(CScintillaCtrl &view);
