// The lexical rules of the six dialects, and the choice of the dialect in use.
#include "editor/LispSyntax.h"

namespace {

constexpr LispSyntax kCommonLisp{.dialect = ReaderDialect::CommonLisp, .blockComments = true, .barSymbols = true,
                                 .hashCharacters = true, .symbolEscapes = true, .foldCase = true, .unquote = ','};
constexpr LispSyntax kIsLisp{.dialect = ReaderDialect::IsLisp, .blockComments = true, .barSymbols = true,
                             .hashCharacters = true, .symbolEscapes = true, .foldCase = true, .unquote = ','};
// R7RS and Racket: square brackets, |symbols|, #| |# and #; comments.
constexpr LispSyntax kScheme{.dialect = ReaderDialect::Scheme, .squareBrackets = true, .blockComments = true,
                             .barSymbols = true, .hashCharacters = true, .unquote = ','};
// newLISP: ; and # comments, {strings} and [text] strings, no quasiquote.
constexpr LispSyntax kNewLisp{.dialect = ReaderDialect::NewLisp, .hashLineComments = true, .braceStrings = true};
constexpr LispSyntax kPicoLisp{.dialect = ReaderDialect::PicoLisp, .squareBrackets = true, .superBracket = true,
                               .picoComments = true, .hashLineComments = true, .symbolEscapes = true, .unquote = '~'};
constexpr LispSyntax kClojure{.dialect = ReaderDialect::Clojure, .squareBrackets = true, .curlyBrackets = true,
                              .backslashCharacters = true, .commaIsWhitespace = true, .unquote = '~'};

ReaderDialect g_activeDialect = ReaderDialect::CommonLisp;

} // namespace

ReaderDialect ReaderDialectForKeywordSet(int keywordSet)
{
    switch (keywordSet) {
    case 1: return ReaderDialect::Scheme;
    case 2: return ReaderDialect::NewLisp;
    case 3: return ReaderDialect::IsLisp;
    case 4: return ReaderDialect::PicoLisp;
    case 5: return ReaderDialect::Clojure;
    default: return ReaderDialect::CommonLisp;
    }
}

ReaderDialect ActiveReaderDialect()
{
    return g_activeDialect;
}

void SetActiveReaderDialect(ReaderDialect dialect)
{
    g_activeDialect = dialect;
}

const LispSyntax &SyntaxOf(ReaderDialect dialect)
{
    switch (dialect) {
    case ReaderDialect::Scheme: return kScheme;
    case ReaderDialect::NewLisp: return kNewLisp;
    case ReaderDialect::IsLisp: return kIsLisp;
    case ReaderDialect::PicoLisp: return kPicoLisp;
    case ReaderDialect::Clojure: return kClojure;
    case ReaderDialect::CommonLisp: break;
    }
    return kCommonLisp;
}
