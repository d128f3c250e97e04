// The evaluation commands' text wrappers, in the words of a dialect.
#pragma once

#include <QByteArray>

struct LispDialect;

// In every wrapper, closing brackets after a form whose last line holds a comment character of
// the dialect would be read as part of the comment, so a line feed goes before them.

// Whether the dialect can show one expansion of a macro form. newLISP and PicoLisp cannot.
bool CanMacroexpand(const LispDialect &dialect);

// The form wrapped so that the Lisp prints the form's expansion: "(pprint (macroexpand-1 '" + form
// + "))" in Common Lisp, ISLISP and Clojure; the whole expansion turned back into Scheme and
// pretty-printed in Guile's words for Scheme; empty where CanMacroexpand is false.
QByteArray MacroexpandText(const QByteArray &form, const LispDialect &dialect);

// The form wrapped so that the Lisp pretty-prints it as data: "(pprint '" + form + ")" in Common
// Lisp, ISLISP and Clojure; Guile's pretty printer for Scheme; the quoted form, which the REPL
// prints laid out, for newLISP; PicoLisp's pretty printer (plain print where the Lisp was started
// without its library).
QByteArray PrettyPrintText(const QByteArray &form, const LispDialect &dialect);
