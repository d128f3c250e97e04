// The choice of the Lisp executable: the "Set Lisp Path" dialog and the start-up decision.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class CTalvexPipe;
class QWidget;

// Shows the file dialog; refuses the program's own executable (also through another path to
// the same file) and anything that cannot be run with a warning; otherwise stores the path as the
// "Lisp" setting and sets the console's command line. When no "KeywordSet" is stored and the
// path names a known Lisp (sbcl, ccl, clisp, ecl; guile, racket; newlisp; picolisp, pil; clojure,
// clj), that dialect's set is stored too. True when a path was stored. The running Lisp is left
// alone.
bool SetLispPath(QWidget *parent, CTalvexPipe &console);

// Start-up: reads "Lisp" into the console's command line and, when it is empty, asks with
// SetLispPath. False means no Lisp was chosen and the program should end.
bool InitLispCommandLine(QWidget *parent, CTalvexPipe &console);

// What the dialog is shown with; computed by LispDialogSetup().
struct LispDialogSetup
{
    QString title;        // "Set Lisp path"
    QStringList filters;  // name filters
    QString directory;    // start folder; empty for the system's default
    QString preselected;  // file selected at start; empty for none
};
LispDialogSetup LispDialogSettings();

// Lisp systems looked for on PATH, in order, to pick the dialog's start folder; the names that
// choose a keyword set.
const QStringList &KnownLispNames();

// True when path names the running program's executable: same path (ignoring letter case on
// systems whose file names ignore it) or the same file once symbolic links are resolved.
bool IsOwnExecutable(const QString &path);

// Replaces the file dialog (tests only). The chooser gets the parent and the dialog set-up and
// returns the chosen path, empty for Cancel. An empty function restores the dialog.
using LispPathChooser = std::function<QString(QWidget *parent, const LispDialogSetup &setup)>;
void SetLispPathChooser(LispPathChooser chooser);
