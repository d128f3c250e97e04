// The evaluation commands' text wrappers, in the words of the dialect a keyword set names.
#include "lisp/LispCommands.h"

#include <iterator>

namespace {

// What goes before and after the form; no opening means the dialect has no such command.
struct Wrapper
{
    const char *opening = nullptr;
    const char *closing = nullptr;
};

struct Dialect
{
    Wrapper macroexpand;
    Wrapper prettyPrint;
    const char *comment;   // characters that start a comment running to the line end
};

constexpr Dialect kCommonLisp{{"(pprint (macroexpand-1 '", "))"}, {"(pprint '", ")"}, ";"};

// Guile: the pretty printer and the expander are reached through their modules, so nothing is
// added to the user's module. Guile has no one-step expansion; the full one, turned back from
// Guile's tree language into Scheme, is what its REPL can show.
constexpr Dialect kGuile{
    {"((@ (ice-9 pretty-print) pretty-print) ((@ (language tree-il) tree-il->scheme) (macroexpand '", ")))"},
    {"((@ (ice-9 pretty-print) pretty-print) '", ")"},
    ";"};

// newLISP's REPL lays out what it prints by the pretty-print settings; a printing call would show
// the form twice (printed, then as the value).
constexpr Dialect kNewLisp{{}, {"'", ""}, ";#"};

// PicoLisp: pretty comes with the library that pil loads; the bare interpreter has only print.
constexpr Dialect kPicoLisp{{}, {"(prog ((or (getd 'pretty) print) '", ") (prinl))"}, "#"};

// Indexed by keyword set: Common Lisp, Scheme, newLISP, ISLISP, PicoLisp, Clojure.
constexpr Dialect kDialects[] = {kCommonLisp, kGuile, kNewLisp, kCommonLisp, kPicoLisp, kCommonLisp};

const Dialect &DialectOf(int keywordSet)
{
    if (keywordSet < 0 || keywordSet >= int(std::size(kDialects)))
        return kCommonLisp;
    return kDialects[keywordSet];
}

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

QByteArray Wrap(const Wrapper &wrapper, const QByteArray &form, const char *comment)
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

bool CanMacroexpand(int keywordSet)
{
    return DialectOf(keywordSet).macroexpand.opening != nullptr;
}

QByteArray MacroexpandText(const QByteArray &form, int keywordSet)
{
    const Dialect &dialect = DialectOf(keywordSet);
    return Wrap(dialect.macroexpand, form, dialect.comment);
}

QByteArray PrettyPrintText(const QByteArray &form, int keywordSet)
{
    const Dialect &dialect = DialectOf(keywordSet);
    return Wrap(dialect.prettyPrint, form, dialect.comment);
}
