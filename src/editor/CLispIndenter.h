// Lisp indentation: the column of a line from the text before it, in the style of a dialect.
#pragma once

#include "editor/CLispReader.h"
#include "editor/IndentRules.h"

#include <string>
#include <string_view>
#include <vector>

class CIndentLexicon;

// Widget-free: its input is text (from the start of a top-level form), its output columns. The
// dialect's rows (IndentRules) say how each operator's arguments go; the macros the lexicon
// learned from the open documents come before the rows.
class CLispIndenter
{
public:
    struct Options
    {
        ReaderDialect dialect = ReaderDialect::CommonLisp;
        int tabWidth = 8;
        bool useTabs = true;
        bool utf8 = true;
        const CIndentLexicon *lexicon = nullptr;
    };

    // One line to re-indent: its index in the text, the bytes of leading blanks it has now, and
    // the blanks it gets instead.
    struct LineChange
    {
        int line = 0;
        int oldLength = 0;
        std::string indent;
    };

    explicit CLispIndenter(const Options &options);

    CLispReader MakeReader(CLispReader::Pos base = 0) const;

    // The column for the line whose text after its leading blanks is rest, with reader having
    // read everything before the line; -1 when the line keeps its indentation (it begins inside
    // a string, a block comment or a |symbol|, or is a ;;; comment inside a form).
    int ColumnFor(const CLispReader &reader, std::string_view rest) const;

    // Tabs (where the options allow them) then spaces up to column.
    std::string IndentText(int column) const;

    // Re-indents lines first..last of text, which starts at the start of a top-level form; each
    // line is read as it will be after its change, so later lines line up with the new text.
    // Lines whose indentation is right already are not listed, nor blank lines (except the last
    // one when blankLast is set: a line just begun with Enter).
    std::vector<LineChange> IndentLines(std::string_view text, int first, int last, bool blankLast = false) const;

private:
    // What the line begins with.
    struct Lead
    {
        enum Type : std::uint8_t { Blank, Close, Comment, Datum } type = Blank;
        int semicolons = 0;
        bool feature = false;                       // #+ or #-
        CLispReader::Kind kind = CLispReader::Kind::None;
        std::string_view symbol;                    // the bare name of a symbol (not folded)
    };

    Lead Classify(std::string_view rest) const;
    int FormColumn(const std::vector<CLispReader::Frame> &frames, std::size_t d, const Lead &lead) const;
    std::optional<IndentRule> RuleOf(const CLispReader::Frame &f) const;
    IndentRule ShapeOf(const std::vector<CLispReader::Frame> &frames, std::size_t d) const;
    int CallColumn(const CLispReader::Frame &f) const;
    int DataColumn(const CLispReader::Frame &f) const;
    bool IsLoopKeywordLead(const Lead &lead) const;

    Options m_options;
    const LispSyntax &m_syntax;
    const IndentStyle &m_style;
};
