// The evaluation commands' pieces: handing text to the Lisp process and the text wrappers.
#include "lisp/LispCommands.h"

#include "lisp/CTalvexPipe.h"

#include <string>

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

void SendToLisp(CTalvexPipe &console, QByteArray text)
{
    console.ShowText(QByteArrayLiteral("\n"));
    console.m_bSkipNewline.store(true);
    text += '\n';
    std::string line(text.constData(), static_cast<size_t>(text.size()));
    console.WriteToLisp(line);
}

QByteArray MacroexpandText(const QByteArray &form)
{
    return Wrap("(pprint (macroexpand-1 '", form, "))");
}

QByteArray PrettyPrintText(const QByteArray &form)
{
    return Wrap("(pprint '", form, ")");
}

void ResetLisp(CTalvexPipe &console)
{
    // A carriage return first, so the one-shot line-feed rule never eats this line break.
    console.ShowText(QByteArrayLiteral("\r\n"));
    console.StartLisp();
}
