// What the editor's Lisp reader must know of a dialect: its brackets, strings, comments and prefixes.
#pragma once

#include <cstdint>

// The dialects the editor reads and indents. A keyword set names one (ReaderDialectForKeywordSet).
enum class ReaderDialect : std::uint8_t { CommonLisp, Scheme, NewLisp, IsLisp, PicoLisp, Clojure };

// The dialect whose syntax and indentation the editor uses for a keyword set as stored (0 Common
// Lisp, 1 Scheme, 2 newLISP, 3 ISLISP, 4 PicoLisp, 5 Clojure); any other value reads as Common Lisp.
// The one place where the editor's dialect is chosen.
ReaderDialect ReaderDialectForKeywordSet(int keywordSet);

// The dialect of the Lisp in use, for every editor view: Common Lisp until the main window sets it.
ReaderDialect ActiveReaderDialect();
void SetActiveReaderDialect(ReaderDialect dialect);

// The lexical rules of one dialect, as flags the reader tests byte by byte.
struct LispSyntax
{
    ReaderDialect dialect = ReaderDialect::CommonLisp;
    bool squareBrackets = false;      // [ ] pair like ( )
    bool curlyBrackets = false;       // { } pair like ( )
    bool superBracket = false;        // PicoLisp: ] closes everything back to the last [
    bool blockComments = false;       // #| ... |#, nesting
    bool picoComments = false;        // #{ ... }#
    bool hashLineComments = false;    // # at the start of a token comments to the end of the line
    bool barSymbols = false;          // |...| quotes a symbol (also part of one), over lines
    bool hashCharacters = false;      // #\x is a character
    bool backslashCharacters = false; // \x is a character (Clojure)
    bool symbolEscapes = false;       // \x inside a symbol escapes x
    bool braceStrings = false;        // newLISP: {...} nests, [text]...[/text]
    bool commaIsWhitespace = false;   // Clojure
    bool foldCase = false;            // symbols compare without case (Common Lisp, ISLISP)
    char unquote = 0;             // ',' or '~'; 0 when there is none
};

const LispSyntax &SyntaxOf(ReaderDialect dialect);
