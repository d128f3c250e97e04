// The editor's one Lisp reader: a forward scanner that knows code from strings and comments and which forms are open.
#pragma once

#include "editor/LispSyntax.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Reads Lisp text fed to it in order, from the start of a line. It knows strings and their escapes,
// ; and #| |# comments, character literals (#\( and \( included), |symbols|, reader prefixes ('
// ` , ,@ #' #( #+x ^meta and the like) and the brackets of its dialect, and keeps for each open
// form what indentation needs: where it opened, its head symbol, and where its elements began.
// It never goes back and holds no pointer into the text after Feed returns, so a caller may feed
// text that exists only piece by piece. Columns count characters (UTF-8 when asked) with tabs
// expanded; lines count from 0 at the first byte fed.
class CLispReader
{
public:
    using Pos = std::int64_t;

    // What the next byte fed belongs to. Line comments end with their line, so never carry over.
    enum class Context : std::uint8_t { Code, String, BlockComment, BarSymbol, BraceString, TextString };

    // What an element of a form is, as far as indentation cares.
    enum class Kind : std::uint8_t { None, Symbol, Keyword, Number, String, List, Other };

    // How an element or form was prefixed.
    enum Flag : std::uint8_t {
        Quoted = 1,        // ' before it
        Backquoted = 2,    // ` before it
        Unquoted = 4,      // , ,@ ~ ~@ before it
        Dispatch = 8,      // #( #{ #2A( #u8( and the like: a vector, a set, a literal
        Conditional = 16,  // #+feature / #-feature (Common Lisp), #? #?@ (Clojure)
        PrefixArg = 32,    // the feature or metadata of a prefix that takes one, not an element
        InData = 64,       // quoted, or inside a quoted form and not unquoted
        FnLiteral = 128,   // Clojure's #( ... )
    };

    // A symbol's name without its package or namespace, case-folded where the dialect folds case;
    // empty when it was longer than kNameMax or held escapes.
    static constexpr int kNameMax = 39;
    struct Name
    {
        std::array<char, kNameMax> text; // the first size bytes hold the name
        std::uint8_t size = 0;
        std::string_view View() const { return {text.data(), size}; }
    };

    // One open form, or (first in Frames()) the top level.
    struct Frame
    {
        Pos open = -1;            // offset of the opening bracket; -1 for the top level
        Pos start = -1;           // where its prefixes begin; open when it has none
        int openCol = 0;
        int openLine = 0;
        char bracket = 0;         // ( [ or {
        std::uint8_t flags = 0;   // Flag bits of the form itself
        int index = 0;            // its element index in the enclosing form

        int count = 0;            // elements begun so far; the head is element 0
        Kind headKind = Kind::None;
        Name head;                // when the head is a symbol
        int headCol = -1;
        int headLine = -1;
        int headEndLine = -1;     // the line where the head ended
        int anchorCol = -1;       // what follows the head on its line, a comment included
        int arg1Col = -1;         // element 1, when it begins on the line where the head ends
        Kind arg1Kind = Kind::None;
        std::uint64_t lineStarts = 0; // bit i: element i began its line (first 64 elements)
        int firstListIndex = -1;  // the first element from index 2 on that is a form
        int lastCondCol = -1;     // the last element prefixed with #+ or #-
        int lastElementCol = -1;  // where the element begun last began

        // The last element after the head that began a line, and what followed it on that line.
        int lastLineIndex = -1;
        int lastLineCol = -1;
        int lastLineLine = -1;
        int lastLineNextCol = -1;
        Kind lastLineKind = Kind::None;
        Name lastLineName;

        // Prefixes read at this level that belong to the next element.
        Pos pendingStart = -1;
        std::uint8_t pendingFlags = 0;
        std::int8_t pendingArgs = 0;  // data to read as a prefix's argument first (#+x, ^meta)
    };

    // The form closed by the last closing bracket read: from its prefixes to after its bracket.
    // matched is false for a bracket that closed nothing (or the wrong kind of bracket).
    struct Closed
    {
        Pos start = -1;
        Pos end = -1;
        bool matched = false;
    };

    // base is the offset of the first byte fed, which must start a line.
    explicit CLispReader(const LispSyntax &syntax, int tabWidth = 8, bool utf8 = true, Pos base = 0);

    // Reads the next piece of text. A token (symbol, number, character) ends at the end of a piece,
    // so pieces should end at a line end, or where reading is to stop.
    void Feed(std::string_view text);

    bool InCode() const { return m_context == Context::Code; }
    // Reading stopped inside the |quoted| part of a symbol, which began at BarTokenStart().
    bool InBarSymbol() const { return m_context == Context::BarSymbol; }
    Pos BarTokenStart() const { return m_barTokenStart; }
    // Reading stopped inside a ; comment (or a # one where # comments).
    bool InLineComment() const { return m_inLineComment; }
    // The open forms, outermost first; Frames()[0] is the top level and always there.
    const std::vector<Frame> &Frames() const { return m_frames; }
    const Closed &LastClosed() const { return m_closed; }
    // The token read last (a symbol, number or character, prefixes not included): [start, end).
    Pos LastTokenStart() const { return m_tokenStart; }
    Pos LastTokenEnd() const { return m_tokenEnd; }

    // The length of the token at the start of text (0 when text does not start with one).
    static std::size_t TokenLength(std::string_view text, const LispSyntax &syntax);
    // The symbol part of a token: without a package (pkg:x, pkg::x) or namespace (ns/x), and
    // without the colon of a keyword.
    static std::string_view WithoutPackage(std::string_view token, const LispSyntax &syntax);
    // The name of the symbol a token reads as, without its package or namespace: escaped
    // characters and |quoted| parts as written, the rest in upper case where the dialect folds
    // case, as the reader interns it ("CAR" for cl:car, "Foo" for |Foo|).
    static std::string SymbolName(std::string_view token, const LispSyntax &syntax);

private:
    enum CharClass : std::uint8_t {
        Constituent, Space, Newline, Open, Close, DoubleQuote, Semicolon, Hash, PrefixChar,
        Backslash, Bar, BraceOpen,
    };

    std::size_t ScanCode(std::size_t i);
    std::size_t ScanString(std::size_t i);
    std::size_t ScanBlockComment(std::size_t i);
    std::size_t ScanBar(std::size_t i);
    // Up to the unescaped close (the context turns to Code after it), or the end of the piece.
    std::size_t ScanQuoted(std::size_t i, char close);
    std::size_t ScanBraceString(std::size_t i);
    std::size_t ScanTextString(std::size_t i);
    // A symbol or number from i; start is where it began (-1: where its |symbol| part began).
    std::size_t ScanToken(Pos start, std::size_t i);
    std::size_t ScanHash(std::size_t i);
    std::size_t SkipLine(std::size_t i);
    void FinishToken(Pos start, std::size_t end, bool clean);
    void FinishAtom(std::size_t start, std::size_t end, bool element);
    std::size_t LineBreak(std::size_t i);
    void LinesWithin(std::size_t from, std::size_t to);
    void NewLine(std::size_t next);

    void Prefix(std::size_t at, std::uint8_t flags, int args);
    // A datum begins at the innermost level: an element, or a prefix's argument (returns false).
    // Sets m_datumStart and m_datumFlags.
    bool BeginDatum(std::size_t at, Kind kind);
    void StartElement(std::size_t at);
    void SetElementKind(Frame &f, Kind kind, const Name *name);
    void EndElement();
    void AnchorAt(std::size_t at);
    void OpenForm(std::size_t at, char bracket);
    void CloseForm(std::size_t at, char bracket);

    int ColumnAt(std::size_t at);
    Pos Abs(std::size_t i) const { return m_chunkBase + static_cast<Pos>(i); }
    char At(std::size_t i) const { return i < m_chunk.size() ? m_chunk[i] : '\0'; }
    bool Terminates(char c) const { return m_terminating[static_cast<unsigned char>(c)]; }

    const LispSyntax &m_syntax;
    int m_tabWidth;
    bool m_utf8;
    std::array<CharClass, 256> m_class{};
    std::array<bool, 256> m_terminating{};

    std::string_view m_chunk;
    Pos m_chunkBase = 0;
    Pos m_pos = 0;                 // offset after the last byte fed
    Context m_context = Context::Code;
    int m_commentDepth = 0;        // nesting of #| |#, or of { } in a newLISP string
    bool m_escape = false;         // a backslash ended the last piece inside a string or |symbol|
    bool m_picoComment = false;    // the block comment is PicoLisp's #{ }#
    bool m_afterCR = false;        // the last byte was a CR, so an LF next ends no second line
    bool m_inLineComment = false;  // the last piece ended inside a line comment
    Pos m_barTokenStart = -1;      // the token a |symbol| that spans pieces belongs to

    int m_line = 0;
    Pos m_lineStart = 0;
    bool m_seenOnLine = false;     // anything but blanks on the current line so far
    Pos m_colPos = 0;              // column cache: the column at m_colPos on the current line
    int m_col = 0;

    std::vector<Frame> m_frames;
    Closed m_closed;
    Pos m_tokenStart = -1;
    Pos m_tokenEnd = -1;
    Pos m_datumStart = -1;         // the datum begun last: where its prefixes begin
    std::uint8_t m_datumFlags = 0; // and the prefixes it carries
    bool m_tokenIsElement = false; // the token being read is an element, not a prefix's argument
    bool m_stringIsElement = false;
};
