// The editor's Lisp reader: one pass over the text with byte classes per dialect; strings, comments, tokens, prefixes.
#include "editor/CLispReader.h"

#include <algorithm>
#include <cstring>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlnum(char c) { return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsNewline(char c) { return c == '\n' || c == '\r'; }

// Bytes of the UTF-8 character that starts with c (1 for anything else).
std::size_t CharLength(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u >= 0xF0 ? 4 : u >= 0xE0 ? 3 : u >= 0xC0 ? 2 : 1;
}

// Which bytes end a token, per dialect (index: ReaderDialect).
struct Terminators
{
    std::array<bool, 256> ends{};
};

Terminators MakeTerminators(const LispSyntax &s)
{
    Terminators t;
    auto set = [&t](const char *chars) {
        for (const char *p = chars; *p; ++p)
            t.ends[static_cast<unsigned char>(*p)] = true;
    };
    set(" \t\f\v\r\n()\";");
    if (s.squareBrackets)
        set("[]");
    if (s.curlyBrackets || s.braceStrings)
        set("{}");
    if (s.commaIsWhitespace)
        set(",");
    switch (s.dialect) {
    case ReaderDialect::Clojure: set("@^`~\\"); break;  // ' and # may stand inside a symbol
    case ReaderDialect::NewLisp: set("'"); break;
    case ReaderDialect::PicoLisp: set("'`~"); break;
    default: set("'`,"); break;
    }
    return t;
}

const Terminators &TerminatorsOf(const LispSyntax &s)
{
    static const Terminators tables[] = {
        MakeTerminators(SyntaxOf(ReaderDialect::CommonLisp)), MakeTerminators(SyntaxOf(ReaderDialect::Scheme)),
        MakeTerminators(SyntaxOf(ReaderDialect::NewLisp)), MakeTerminators(SyntaxOf(ReaderDialect::IsLisp)),
        MakeTerminators(SyntaxOf(ReaderDialect::PicoLisp)), MakeTerminators(SyntaxOf(ReaderDialect::Clojure)),
    };
    return tables[static_cast<int>(s.dialect)];
}

// The token at the start of text: its length, whether it ended inside an unclosed |...|, and
// whether it held no escape (so its bytes are its name).
struct TokenExtent
{
    std::size_t length = 0;
    bool openBar = false;     // it ends inside a |...| that the text does not close
    bool escapeAtEnd = false; // and the last byte of the text escapes the next one
    bool clean = true;
};

TokenExtent MeasureToken(std::string_view text, const LispSyntax &s, const std::array<bool, 256> &ends)
{
    TokenExtent e;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const char c = text[i];
        if (s.symbolEscapes && c == '\\') {
            e.clean = false;
            i = std::min(n, i + 2);
            continue;
        }
        if (s.barSymbols && c == '|') {
            e.clean = false;
            ++i;
            while (i < n && text[i] != '|') {
                if (text[i] == '\\' && i + 1 == n)
                    e.escapeAtEnd = true;
                i = text[i] == '\\' ? std::min(n, i + 2) : i + 1;
            }
            if (i >= n) {
                e.openBar = true;
                break;
            }
            ++i;
            continue;
        }
        if (ends[static_cast<unsigned char>(c)])
            break;
        ++i;
    }
    e.length = std::min(i, n);
    return e;
}

bool IsCommonLispFamily(ReaderDialect d) { return d == ReaderDialect::CommonLisp || d == ReaderDialect::IsLisp; }

} // namespace

CLispReader::CLispReader(const LispSyntax &syntax, int tabWidth, bool utf8, Pos base)
    : m_syntax(syntax), m_tabWidth(tabWidth > 0 ? tabWidth : 8), m_utf8(utf8), m_chunkBase(base), m_pos(base),
      m_lineStart(base), m_colPos(base)
{
    m_class.fill(Constituent);
    auto set = [this](const char *chars, CharClass cls) {
        for (const char *p = chars; *p; ++p)
            m_class[static_cast<unsigned char>(*p)] = cls;
    };
    set(" \t\f\v", Space);
    set("\r\n", Newline);
    set("(", Open);
    set(")", Close);
    set("\"", DoubleQuote);
    set(";", Semicolon);
    set("#", Hash);
    set("'", PrefixChar);
    if (syntax.dialect != ReaderDialect::NewLisp)
        set("`", PrefixChar);
    if (syntax.unquote)
        m_class[static_cast<unsigned char>(syntax.unquote)] = PrefixChar;
    if (syntax.dialect == ReaderDialect::Clojure)
        set("@^", PrefixChar);
    if (syntax.commaIsWhitespace)
        set(",", Space);
    if (syntax.squareBrackets) {
        set("[", Open);
        set("]", Close);
    }
    if (syntax.curlyBrackets) {
        set("{", Open);
        set("}", Close);
    }
    if (syntax.braceStrings)
        set("{", BraceOpen);
    if (syntax.backslashCharacters)
        set("\\", Backslash);
    if (syntax.barSymbols)
        set("|", Bar);
    m_terminating = TerminatorsOf(syntax).ends;
    m_frames.emplace_back();
}

void CLispReader::Feed(std::string_view text)
{
    m_chunk = text;
    m_chunkBase = m_pos;
    std::size_t i = 0;
    if (m_afterCR) {
        m_afterCR = false;
        if (!text.empty() && text[0] == '\n') {
            // The LF of a CR LF split between two pieces: the line began after it.
            i = 1;
            m_lineStart = m_colPos = Abs(1);
        }
    }
    const std::size_t n = text.size();
    if (m_inLineComment && m_context == Context::Code)
        i = SkipLine(i);
    while (i < n) {
        switch (m_context) {
        case Context::Code: i = ScanCode(i); break;
        case Context::String: i = ScanString(i); break;
        case Context::BlockComment: i = ScanBlockComment(i); break;
        case Context::BarSymbol:
            i = ScanBar(i);
            if (m_context == Context::Code)
                i = ScanToken(-1, i);
            break;
        case Context::BraceString: i = ScanBraceString(i); break;
        case Context::TextString: i = ScanTextString(i); break;
        }
    }
    ColumnAt(n); // keeps the column of a line that goes on in the next piece
    m_pos = Abs(n);
    m_chunk = {};
}

std::size_t CLispReader::ScanCode(std::size_t i)
{
    const std::size_t n = m_chunk.size();
    while (i < n && m_context == Context::Code) {
        const char c = m_chunk[i];
        switch (m_class[static_cast<unsigned char>(c)]) {
        case Space:
            ++i;
            break;
        case Newline:
            if (c == '\r' && At(i + 1) == '\n')
                ++i;
            else if (c == '\r' && i + 1 == n)
                m_afterCR = true;
            NewLine(++i);
            break;
        case Semicolon:
            AnchorAt(i);
            i = SkipLine(i);
            break;
        case Hash:
            i = ScanHash(i);
            break;
        case PrefixChar:
            if (c == '\'') {
                Prefix(i, Quoted, 0);
                ++i;
            } else if (c == '`') {
                Prefix(i, Backquoted, 0);
                ++i;
            } else if (c == m_syntax.unquote) {
                Prefix(i, Unquoted, 0);
                i += At(i + 1) == '@' ? 2 : 1;
            } else if (c == '^') {
                Prefix(i, 0, 1); // metadata, then the datum it belongs to
                ++i;
            } else {
                Prefix(i, 0, 0); // @ dereferences
                ++i;
            }
            break;
        case Open:
            OpenForm(i, c);
            ++i;
            break;
        case Close:
            CloseForm(i, c);
            ++i;
            break;
        case DoubleQuote:
            m_escape = false;
            m_stringIsElement = BeginDatum(i, Kind::String);
            m_context = Context::String;
            ++i;
            break;
        case Backslash: {
            // Clojure's \x: the character after the backslash whatever it is, then a name.
            const bool element = BeginDatum(i, Kind::Other);
            std::size_t j = i + 1;
            if (j < n && !IsNewline(m_chunk[j]))
                j = std::min(n, j + CharLength(m_chunk[j]));
            while (j < n && !Terminates(m_chunk[j]))
                ++j;
            FinishAtom(i, j, element);
            i = j;
            break;
        }
        case BraceOpen:
            m_stringIsElement = BeginDatum(i, Kind::String);
            m_context = Context::BraceString;
            m_commentDepth = 1;
            ++i;
            break;
        case Bar:
        case Constituent:
            if (m_syntax.braceStrings && m_chunk.substr(i, 6) == "[text]") {
                m_stringIsElement = BeginDatum(i, Kind::String);
                m_context = Context::TextString;
                i += 6;
                break;
            }
            m_tokenIsElement = BeginDatum(i, Kind::None);
            i = ScanToken(Abs(i), i);
            break;
        }
    }
    return i;
}

std::size_t CLispReader::ScanHash(std::size_t i)
{
    const std::size_t n = m_chunk.size();
    const char next = At(i + 1);
    if (m_syntax.hashLineComments) {
        AnchorAt(i);
        if (m_syntax.picoComments && next == '{') {
            m_context = Context::BlockComment;
            m_picoComment = true;
            return i + 2;
        }
        return SkipLine(i);
    }
    const ReaderDialect d = m_syntax.dialect;
    const bool clojure = d == ReaderDialect::Clojure;
    switch (next) {
    case '|':
        if (m_syntax.blockComments) {
            AnchorAt(i);
            m_context = Context::BlockComment;
            m_picoComment = false;
            m_commentDepth = 1;
            return i + 2;
        }
        break;
    case '\\':
        if (m_syntax.hashCharacters) {
            // #\x: the character after the backslash whatever it is (#\( #\; #\"), then a name.
            const bool element = BeginDatum(i, Kind::Other);
            std::size_t j = i + 2;
            if (j < n && !IsNewline(m_chunk[j]))
                j = std::min(n, j + CharLength(m_chunk[j]));
            while (j < n && !Terminates(m_chunk[j]))
                ++j;
            FinishAtom(i, j, element);
            return j;
        }
        break;
    case '\'':
        Prefix(i, 0, 0);
        return i + 2;
    case '(':
        Prefix(i, clojure ? FnLiteral : Dispatch, 0);
        return i + 1;
    case '{':
        if (clojure) {
            Prefix(i, Dispatch, 0);
            return i + 1;
        }
        break;
    case '_':
        if (clojure) {
            Prefix(i, 0, 0);
            return i + 2;
        }
        break;
    case ';':
        if (d == ReaderDialect::Scheme) {
            Prefix(i, 0, 0);
            return i + 2;
        }
        break;
    case '?':
        if (clojure) {
            Prefix(i, Conditional, 0);
            return At(i + 2) == '@' ? i + 3 : i + 2;
        }
        break;
    case '+':
    case '-':
        if (IsCommonLispFamily(d)) {
            Prefix(i, Conditional, 1);
            return i + 2;
        }
        break;
    case '^':
        if (clojure) {
            Prefix(i, 0, 1);
            return i + 2;
        }
        break;
    case '"':
        if (clojure) {
            m_escape = false;
            m_stringIsElement = BeginDatum(i, Kind::String);
            m_context = Context::String;
            return i + 2;
        }
        break;
    case '.':
        if (IsCommonLispFamily(d)) {
            Prefix(i, 0, 0);
            return i + 2;
        }
        break;
    case ':':
        if (clojure) {
            // #:ns{...}, a map whose keys take the namespace.
            const std::size_t j = i + 2 + TokenLength(m_chunk.substr(std::min(n, i + 2)), m_syntax);
            if (At(j) == '{') {
                Prefix(i, 0, 0);
                return j;
            }
        }
        break;
    default:
        break;
    }
    // #2A( #S( #C( #u8( #P"...", labels #1=, Clojure's tagged literals #inst "...".
    std::size_t j = i + 1;
    while (j < n && IsAlnum(m_chunk[j]))
        ++j;
    if (j > i + 1 && (At(j) == '(' || At(j) == '"') && !clojure) {
        Prefix(i, Dispatch, 0);
        return j;
    }
    if (j > i + 1 && At(j) == '=' && IsCommonLispFamily(d)
        && std::all_of(m_chunk.begin() + i + 1, m_chunk.begin() + j, IsDigit)) {
        Prefix(i, 0, 0);
        return j + 1;
    }
    if (clojure && j > i + 1 && !IsDigit(next)) {
        Prefix(i, 0, 0);
        return i + 1 + TokenLength(m_chunk.substr(i + 1), m_syntax);
    }
    // Anything else is an atom that starts with #: #t, #x1F, #:sym, #1#, ##Inf.
    m_tokenIsElement = BeginDatum(i, Kind::Other);
    return ScanToken(Abs(i), i + 1);
}

std::size_t CLispReader::ScanToken(Pos start, std::size_t i)
{
    if (start < 0)
        start = m_barTokenStart;
    const TokenExtent e = MeasureToken(m_chunk.substr(i), m_syntax, m_terminating);
    const std::size_t end = i + e.length;
    if (!e.clean)
        LinesWithin(i, end); // a |symbol| or an escape may hold a line end
    if (e.openBar) {
        // A |symbol| that goes on in the next piece.
        m_context = Context::BarSymbol;
        m_barTokenStart = start;
        m_escape = e.escapeAtEnd;
        return end;
    }
    FinishToken(start, end, e.clean && start >= m_chunkBase);
    return end;
}

void CLispReader::FinishToken(Pos start, std::size_t end, bool clean)
{
    m_tokenStart = start;
    m_tokenEnd = Abs(end);
    m_barTokenStart = -1;
    if (!m_tokenIsElement)
        return;
    Name name;
    Kind kind = Kind::Symbol;
    if (start >= m_chunkBase) {
        const std::string_view token = m_chunk.substr(static_cast<std::size_t>(start - m_chunkBase),
                                                      static_cast<std::size_t>(Abs(end) - start));
        const char c0 = token.empty() ? '\0' : token[0];
        const char c1 = token.size() > 1 ? token[1] : '\0';
        if (c0 == '#')
            kind = Kind::Other;
        else if (c0 == ':')
            kind = Kind::Keyword;
        else if (IsDigit(c0) || ((c0 == '+' || c0 == '-' || c0 == '.') && IsDigit(c1)))
            kind = Kind::Number;
        const std::string_view bare = WithoutPackage(token, m_syntax);
        if (clean && kind == Kind::Symbol && !bare.empty() && bare.size() <= std::size_t(kNameMax)) {
            for (std::size_t k = 0; k < bare.size(); ++k) {
                char c = bare[k];
                if (m_syntax.foldCase && c >= 'A' && c <= 'Z')
                    c = static_cast<char>(c - 'A' + 'a');
                name.text[k] = c;
            }
            name.size = static_cast<std::uint8_t>(bare.size());
        }
    }
    SetElementKind(m_frames.back(), kind, &name);
    EndElement();
}

void CLispReader::FinishAtom(std::size_t start, std::size_t end, bool element)
{
    m_tokenStart = Abs(start);
    m_tokenEnd = Abs(end);
    if (element)
        EndElement();
}

std::size_t CLispReader::ScanString(std::size_t i)
{
    i = ScanQuoted(i, '"');
    if (m_context == Context::Code && m_stringIsElement)
        EndElement();
    return i;
}

std::size_t CLispReader::ScanBlockComment(std::size_t i)
{
    const std::size_t n = m_chunk.size();
    while (i < n) {
        const char c = m_chunk[i];
        if (IsNewline(c)) {
            i = LineBreak(i);
        } else if (m_picoComment ? (c == '}' && At(i + 1) == '#') : (c == '|' && At(i + 1) == '#')) {
            i += 2;
            if (m_picoComment || --m_commentDepth == 0) {
                m_context = Context::Code;
                return i;
            }
        } else if (!m_picoComment && c == '#' && At(i + 1) == '|') {
            ++m_commentDepth;
            i += 2;
        } else {
            ++i;
        }
    }
    return n;
}

std::size_t CLispReader::ScanBar(std::size_t i)
{
    return ScanQuoted(i, '|');
}

std::size_t CLispReader::ScanQuoted(std::size_t i, char close)
{
    const std::size_t n = m_chunk.size();
    while (i < n) {
        const char c = m_chunk[i];
        if (m_escape) {
            m_escape = false;
            i = IsNewline(c) ? LineBreak(i) : i + 1;
        } else if (c == '\\') {
            m_escape = true;
            ++i;
        } else if (c == close) {
            m_context = Context::Code;
            return i + 1;
        } else if (IsNewline(c)) {
            i = LineBreak(i);
        } else {
            ++i;
        }
    }
    return n;
}

std::size_t CLispReader::ScanBraceString(std::size_t i)
{
    const std::size_t n = m_chunk.size();
    while (i < n) {
        const char c = m_chunk[i];
        if (IsNewline(c)) {
            i = LineBreak(i);
            continue;
        }
        ++i;
        if (c == '{') {
            ++m_commentDepth;
        } else if (c == '}' && --m_commentDepth == 0) {
            m_context = Context::Code;
            if (m_stringIsElement)
                EndElement();
            return i;
        }
    }
    return n;
}

std::size_t CLispReader::ScanTextString(std::size_t i)
{
    const std::size_t n = m_chunk.size();
    while (i < n) {
        if (IsNewline(m_chunk[i])) {
            i = LineBreak(i);
        } else if (m_chunk.substr(i, 7) == "[/text]") {
            m_context = Context::Code;
            if (m_stringIsElement)
                EndElement();
            return i + 7;
        } else {
            ++i;
        }
    }
    return n;
}

std::size_t CLispReader::SkipLine(std::size_t i)
{
    const std::size_t n = m_chunk.size();
    while (i < n && !IsNewline(m_chunk[i]))
        ++i;
    m_inLineComment = i == n; // the comment goes on in the next piece
    return i;
}

std::size_t CLispReader::LineBreak(std::size_t i)
{
    if (m_chunk[i] == '\r' && At(i + 1) == '\n')
        ++i;
    else if (m_chunk[i] == '\r' && i + 1 == m_chunk.size())
        m_afterCR = true;
    NewLine(++i);
    return i;
}

void CLispReader::LinesWithin(std::size_t from, std::size_t to)
{
    const int line = m_line;
    for (std::size_t k = from; k < to;)
        k = IsNewline(m_chunk[k]) ? LineBreak(k) : k + 1;
    if (m_line != line)
        m_seenOnLine = true; // the token goes on on the new line
}

void CLispReader::NewLine(std::size_t next)
{
    ++m_line;
    m_lineStart = m_colPos = Abs(next);
    m_col = 0;
    m_seenOnLine = false;
    m_inLineComment = false;
}

std::size_t CLispReader::TokenLength(std::string_view text, const LispSyntax &syntax)
{
    return MeasureToken(text, syntax, TerminatorsOf(syntax).ends).length;
}

std::string_view CLispReader::WithoutPackage(std::string_view token, const LispSyntax &syntax)
{
    if (syntax.dialect == ReaderDialect::Clojure) {
        while (!token.empty() && token[0] == ':')
            token.remove_prefix(1);
        const std::size_t slash = token.rfind('/');
        if (slash != std::string_view::npos && slash + 1 < token.size())
            token.remove_prefix(slash + 1);
        return token;
    }
    if (IsCommonLispFamily(syntax.dialect)) {
        const std::size_t colon = token.rfind(':');
        if (colon != std::string_view::npos)
            token.remove_prefix(colon + 1);
    }
    return token;
}

std::string CLispReader::SymbolName(std::string_view token, const LispSyntax &syntax)
{
    if (!IsCommonLispFamily(syntax.dialect))
        return std::string(WithoutPackage(token, syntax));
    // The package marker is the last colon outside bars and escapes; the name follows it.
    std::size_t nameStart = 0;
    for (std::size_t i = 0; i < token.size(); ++i) {
        const char c = token[i];
        if (syntax.symbolEscapes && c == '\\')
            ++i;
        else if (syntax.barSymbols && c == '|')
            for (++i; i < token.size() && token[i] != '|'; ++i)
                i += token[i] == '\\' ? 1 : 0;
        else if (c == ':')
            nameStart = i + 1;
    }
    std::string name;
    name.reserve(token.size() - std::min(nameStart, token.size()));
    for (std::size_t i = nameStart; i < token.size(); ++i) {
        const char c = token[i];
        if (syntax.symbolEscapes && c == '\\') {
            if (++i < token.size())
                name += token[i];
        } else if (syntax.barSymbols && c == '|') {
            for (++i; i < token.size() && token[i] != '|'; ++i) {
                if (token[i] == '\\' && i + 1 < token.size())
                    ++i;
                name += token[i];
            }
        } else {
            name += syntax.foldCase && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        }
    }
    return name;
}
