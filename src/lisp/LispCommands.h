// The evaluation commands' pieces: handing text to the Lisp process and the text wrappers.
#pragma once

#include <QByteArray>

class CTalvexPipe;

// Shows a line break in the console, arms its one-shot line-feed rule and writes text plus a
// line feed to Lisp (framed for newLISP when the console's switch is on).
void SendToLisp(CTalvexPipe &console, QByteArray text);

// "(pprint (macroexpand-1 '" + form + "))". When the form's last line holds a ';' the closing
// brackets would fall inside a comment, so a line feed goes before them.
QByteArray MacroexpandText(const QByteArray &form);

// "(pprint '" + form + ")", with the same care for a comment on the last line.
QByteArray PrettyPrintText(const QByteArray &form);

// Shows "\r\n" and restarts the Lisp process with the console's current command line.
void ResetLisp(CTalvexPipe &console);
