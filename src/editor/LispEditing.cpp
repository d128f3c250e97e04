// Reading a Scintilla control's text with the editor's Lisp reader, from the start of the form at hand.
#include "editor/LispEditing.h"

#include "editor/CIndentLexicon.h"
#include "editor/CLispIndenter.h"

#include <algorithm>
#include <string_view>

namespace LispEditing {

namespace {

constexpr Pos kSearchBlock = 64 * 1024;

std::string_view View(const QByteArray &bytes)
{
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

bool IsOpening(char c, const LispSyntax &s)
{
    return c == '(' || (s.squareBrackets && c == '[') || (s.curlyBrackets && c == '{');
}

bool IsClosing(int c, const LispSyntax &s)
{
    return c == ')' || (s.squareBrackets && c == ']') || (s.curlyBrackets && c == '}');
}

CLispIndenter::Options IndenterOptions(const CScintillaCtrl &ctrl, ReaderDialect dialect)
{
    CLispIndenter::Options options;
    options.dialect = dialect;
    options.tabWidth = ctrl.GetTabWidth();
    options.useTabs = ctrl.GetUseTabs();
    options.utf8 = ctrl.GetCodePage() == QsciScintillaBase::SC_CP_UTF8;
    options.lexicon = &CIndentLexicon::Shared();
    return options;
}

// Where a position in a line goes when the line's leading blanks change from oldLength to
// newLength bytes.
Pos MovedInLine(Pos offset, int oldLength, int newLength, bool keepLineStart)
{
    if (offset >= oldLength)
        return offset - oldLength + newLength;
    return offset == 0 && keepLineStart ? 0 : newLength;
}

} // namespace

Pos TopLevelStart(const CScintillaCtrl &ctrl, Pos pos, ReaderDialect dialect)
{
    const LispSyntax &syntax = SyntaxOf(dialect);
    Pos end = ctrl.PositionFromLine(ctrl.LineFromPosition(pos)) + 1; // the line's first byte included
    // Backwards a block at a time, one byte more in front for the line end before a bracket.
    while (end > 0) {
        const Pos from = std::max<Pos>(0, end - kSearchBlock);
        const QByteArray block = ctrl.GetTextRange(std::max<Pos>(0, from - 1), end);
        const Pos offset = from > 0 ? 1 : 0;
        const char *bytes = block.constData();
        for (Pos i = block.size() - 1; i >= offset; --i) {
            if (!IsOpening(bytes[i], syntax))
                continue;
            const Pos at = from + i - offset;
            if (at == 0 || bytes[i - 1] == '\n' || bytes[i - 1] == '\r')
                return at;
        }
        end = from;
    }
    return 0;
}

std::optional<Span> FormBeforeCaret(const CScintillaCtrl &ctrl, ReaderDialect dialect, bool wholeDocument)
{
    const LispSyntax &syntax = SyntaxOf(dialect);
    const Pos caret = ctrl.GetCurrentPos();
    if (caret <= 0 || !IsClosing(ctrl.GetCharAt(caret - 1), syntax))
        return std::nullopt;
    Pos top = TopLevelStart(ctrl, caret - 1, dialect);
    for (;;) {
        CLispReader reader(syntax, ctrl.GetTabWidth(), true, top);
        reader.Feed(View(ctrl.GetTextRange(top, caret)));
        const CLispReader::Closed &closed = reader.LastClosed();
        if (closed.end != caret || !reader.InCode())
            return std::nullopt; // the bracket is in a string, a comment or a character
        if (closed.matched)
            return Span{closed.start, caret};
        // A line that begins with a bracket inside the form (in a string, or badly indented)
        // can look like a top-level form: once more from the start before giving up.
        if (top == 0 || !wholeDocument)
            return std::nullopt;
        top = 0;
    }
}

QByteArray SymbolTokenAt(const CScintillaCtrl &ctrl, Pos pos, ReaderDialect dialect)
{
    const LispSyntax &syntax = SyntaxOf(dialect);
    pos = std::clamp<Pos>(pos, 0, ctrl.GetLength());
    const Pos top = TopLevelStart(ctrl, pos, dialect);
    const QByteArray text = ctrl.GetTextRange(top, ctrl.GetLineEndPosition(ctrl.LineFromPosition(pos)));
    const std::string_view all = View(text);
    CLispReader reader(syntax, ctrl.GetTabWidth(), true, top);
    reader.Feed(all.substr(0, static_cast<std::size_t>(pos - top)));
    Pos start = pos;
    if (reader.InBarSymbol() && reader.BarTokenStart() >= top)
        start = reader.BarTokenStart(); // between the bars of |Foo|
    else if (!reader.InCode() || reader.InLineComment())
        return {};
    else if (reader.LastTokenEnd() == pos && reader.LastTokenStart() >= top)
        start = reader.LastTokenStart(); // inside the token, or right after it
    const std::string_view token = all.substr(static_cast<std::size_t>(start - top));
    const std::string_view symbol = token.substr(0, CLispReader::TokenLength(token, syntax));
    if (symbol.empty() || symbol[0] == '#' || symbol[0] == '\\' || (symbol[0] >= '0' && symbol[0] <= '9'))
        return {};
    return QByteArray(symbol.data(), static_cast<qsizetype>(symbol.size()));
}

QByteArray SymbolAt(const CScintillaCtrl &ctrl, Pos pos, ReaderDialect dialect)
{
    const QByteArray token = SymbolTokenAt(ctrl, pos, dialect);
    const std::string_view bare = CLispReader::WithoutPackage(View(token), SyntaxOf(dialect));
    return QByteArray(bare.data(), static_cast<qsizetype>(bare.size()));
}

bool IndentLines(CScintillaCtrl &ctrl, int first, int last, ReaderDialect dialect, bool blankLast)
{
    const int lines = ctrl.GetLineCount();
    first = std::clamp(first, 0, lines - 1);
    last = std::clamp(last, first, lines - 1);
    const Pos top = TopLevelStart(ctrl, ctrl.PositionFromLine(first), dialect);
    const int topLine = ctrl.LineFromPosition(top);
    const QByteArray text = ctrl.GetTextRange(top, ctrl.GetLineEndPosition(last));
    const CLispIndenter indenter(IndenterOptions(ctrl, dialect));
    // What the form at hand defines is known before the lines after it are indented.
    CIndentLexicon::Shared().LearnMore(&ctrl, View(text), SyntaxOf(dialect));
    const std::vector<CLispIndenter::LineChange> changes =
        indenter.IndentLines(View(text), first - topLine, last - topLine, blankLast);
    if (changes.empty())
        return false;

    // The selection's ends as line and offset, moved with their lines' blanks.
    const Pos anchor = ctrl.GetAnchor();
    const Pos caret = ctrl.GetCurrentPos();
    const bool empty = anchor == caret;
    const int anchorLine = ctrl.LineFromPosition(anchor);
    const int caretLine = ctrl.LineFromPosition(caret);
    Pos anchorOffset = anchor - ctrl.PositionFromLine(anchorLine);
    Pos caretOffset = caret - ctrl.PositionFromLine(caretLine);

    ctrl.BeginUndoAction();
    for (const CLispIndenter::LineChange &change : changes) {
        const int line = topLine + change.line;
        const Pos start = ctrl.PositionFromLine(line);
        ctrl.SetTargetRange(start, start + change.oldLength);
        ctrl.ReplaceTarget(QByteArray::fromRawData(change.indent.data(), static_cast<qsizetype>(change.indent.size())));
        const int newLength = static_cast<int>(change.indent.size());
        if (line == anchorLine)
            anchorOffset = MovedInLine(anchorOffset, change.oldLength, newLength, !empty);
        if (line == caretLine)
            caretOffset = MovedInLine(caretOffset, change.oldLength, newLength, !empty);
    }
    ctrl.EndUndoAction();
    ctrl.SetSel(ctrl.PositionFromLine(anchorLine) + anchorOffset, ctrl.PositionFromLine(caretLine) + caretOffset);
    return true;
}

} // namespace LispEditing
