// The evaluation commands' text wrappers.
#pragma once

#include <QByteArray>

// "(pprint (macroexpand-1 '" + form + "))". When the form's last line holds a ';' the closing
// brackets would fall inside a comment, so a line feed goes before them.
QByteArray MacroexpandText(const QByteArray &form);

// "(pprint '" + form + ")", with the same care for a comment on the last line.
QByteArray PrettyPrintText(const QByteArray &form);
