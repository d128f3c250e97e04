// The evaluation commands' text wrappers, in the words of a dialect.
#include "lisp/LispCommands.h"

#include "lisp/LispDialect.h"

namespace {

// True when the last line of text (after its last CR or LF) holds one of the comment characters.
// One inside a string or a character name also counts; the extra line feed is harmless then.
bool LastLineHoldsComment(const QByteArray &text, const char *comment)
{
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
        const char c = text.at(i);
        if (c == '\n' || c == '\r')
            return false;
        for (const char *p = comment; *p; ++p)
            if (c == *p)
                return true;
    }
    return false;
}

QByteArray Wrap(const LispWrapper &wrapper, const QByteArray &form, const char *comment)
{
    if (!wrapper.opening)
        return {};
    QByteArray text(wrapper.opening);
    text += form;
    if (*wrapper.closing && LastLineHoldsComment(form, comment))
        text += '\n';
    text += wrapper.closing;
    return text;
}

} // namespace

bool CanMacroexpand(const LispDialect &dialect)
{
    return dialect.macroexpand.opening != nullptr;
}

QByteArray MacroexpandText(const QByteArray &form, const LispDialect &dialect)
{
    return Wrap(dialect.macroexpand, form, dialect.comment);
}

QByteArray PrettyPrintText(const QByteArray &form, const LispDialect &dialect)
{
    return Wrap(dialect.prettyPrint, form, dialect.comment);
}
