// The evaluation commands' text wrappers.
#include "lisp/LispCommands.h"


namespace {

// True when the last line of text (after its last CR or LF) contains a semicolon: closing
// brackets appended there could be read as part of a line comment. A semicolon inside a string
// or a character name also counts; the extra line feed is harmless whitespace then.
bool LastLineHoldsSemicolon(const QByteArray &text)
{
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
        const char c = text.at(i);
        if (c == '\n' || c == '\r')
            return false;
        if (c == ';')
            return true;
    }
    return false;
}

QByteArray Wrap(const char *opening, const QByteArray &form, const char *closing)
{
    QByteArray text(opening);
    text += form;
    if (LastLineHoldsSemicolon(form))
        text += '\n';
    text += closing;
    return text;
}

} // namespace

QByteArray MacroexpandText(const QByteArray &form)
{
    return Wrap("(pprint (macroexpand-1 '", form, "))");
}

QByteArray PrettyPrintText(const QByteArray &form)
{
    return Wrap("(pprint '", form, ")");
}
