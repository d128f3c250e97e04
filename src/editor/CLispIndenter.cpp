// Lisp indentation from the reader's open forms and the dialect's rows.
#include "editor/CLispIndenter.h"

#include "editor/CIndentLexicon.h"

namespace {

using Kind = CLispReader::Kind;
using Frame = CLispReader::Frame;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool Matches(const NestedIndent &nested, int index)
{
    return index >= 0 && (nested.element < 0 || index == nested.element || (nested.orLater && index > nested.element));
}

bool IsLoopKeywordFolded(std::string_view name)
{
    char folded[16];
    if (name.empty() || name.size() > sizeof folded)
        return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        folded[i] = name[i] >= 'A' && name[i] <= 'Z' ? static_cast<char>(name[i] - 'A' + 'a') : name[i];
    return IsLoopKeyword({folded, name.size()});
}

} // namespace

CLispIndenter::CLispIndenter(const Options &options)
    : m_options(options), m_syntax(SyntaxOf(options.dialect)), m_style(IndentStyleOf(options.dialect))
{
    if (m_options.tabWidth <= 0)
        m_options.tabWidth = 8;
}

CLispReader CLispIndenter::MakeReader(CLispReader::Pos base) const
{
    return CLispReader(m_syntax, m_options.tabWidth, m_options.utf8, base);
}

std::string CLispIndenter::IndentText(int column) const
{
    if (column <= 0)
        return {};
    const int tabs = m_options.useTabs ? column / m_options.tabWidth : 0;
    const int spaces = column - tabs * m_options.tabWidth;
    return std::string(static_cast<std::size_t>(tabs), '\t') + std::string(static_cast<std::size_t>(spaces), ' ');
}

CLispIndenter::Lead CLispIndenter::Classify(std::string_view rest) const
{
    Lead lead;
    if (rest.empty())
        return lead;
    const char c = rest[0];
    const char next = rest.size() > 1 ? rest[1] : '\0';
    const bool lispFamily = m_syntax.dialect == ReaderDialect::CommonLisp || m_syntax.dialect == ReaderDialect::IsLisp;
    if (c == ';') {
        lead.type = Lead::Comment;
        while (std::size_t(lead.semicolons) < rest.size() && rest[std::size_t(lead.semicolons)] == ';')
            ++lead.semicolons;
        return lead;
    }
    if (c == '#' && (m_syntax.hashLineComments || (next == '|' && m_syntax.blockComments))) {
        lead.type = Lead::Comment;
        return lead;
    }
    lead.type = Lead::Datum;
    if (c == ')' || (m_syntax.squareBrackets && c == ']') || (m_syntax.curlyBrackets && c == '}')) {
        lead.type = Lead::Close;
    } else if (c == '#' && (next == '+' || next == '-') && lispFamily) {
        lead.feature = true;
        lead.kind = Kind::Other;
    } else if (c == '(' || (m_syntax.squareBrackets && c == '[') || (m_syntax.curlyBrackets && c == '{')) {
        lead.kind = Kind::List;
    } else if (c == '"') {
        lead.kind = Kind::String;
    } else if (const std::size_t length = CLispReader::TokenLength(rest, m_syntax); length == 0 || c == '#') {
        lead.kind = Kind::Other;
    } else if (IsDigit(c) || ((c == '+' || c == '-') && IsDigit(next))) {
        lead.kind = Kind::Number;
    } else {
        lead.kind = c == ':' ? Kind::Keyword : Kind::Symbol;
        lead.symbol = CLispReader::WithoutPackage(rest.substr(0, length), m_syntax);
    }
    return lead;
}

int CLispIndenter::ColumnFor(const CLispReader &reader, std::string_view rest) const
{
    if (!reader.InCode())
        return -1;
    const std::vector<Frame> &frames = reader.Frames();
    if (frames.size() == 1)
        return 0;
    const Lead lead = Classify(rest);
    if (lead.type == Lead::Comment) {
        if (lead.semicolons >= 3 && m_style.keepTripleComments)
            return -1;
        if (lead.semicolons == 1 && m_style.commentColumn >= 0)
            return m_style.commentColumn;
    }
    return FormColumn(frames, frames.size() - 1, lead);
}

int CLispIndenter::FormColumn(const std::vector<Frame> &frames, std::size_t d, const Lead &lead) const
{
    const Frame &f = frames[d];
    const int open = f.openCol;
    const bool data = m_style.bracketsAreData
                          ? (f.bracket != '(' || (f.flags & (CLispReader::Dispatch | CLispReader::Conditional)))
                          : (m_style.quotedIsData && (f.flags & (CLispReader::InData | CLispReader::Dispatch)));
    if (data)
        return DataColumn(f);
    if (f.count == 0)
        return open + 1;
    if (m_style.featureAlignment && lead.feature && f.lastCondCol >= 0)
        return f.lastCondCol;
    if (f.headLine != f.openLine)
        return f.headCol;
    // A form headed by a form is a call of what it yields; one headed by a string, number or
    // keyword is data.
    if (f.headKind != Kind::Symbol)
        return m_style.otherHeadIsData && f.headKind != Kind::List ? f.headCol : CallColumn(f);

    const IndentRule rule = ShapeOf(frames, d);
    const int k = f.count; // the element the line begins
    switch (rule.shape) {
    case IndentShape::Call:
        return CallColumn(f);
    case IndentShape::Rest: {
        const int anchor = m_style.commentsAnchor ? f.anchorCol : f.arg1Col;
        return anchor >= 0 ? anchor : open + rule.count;
    }
    case IndentShape::Body:
    case IndentShape::Method: {
        int n = rule.count;
        if (rule.shape == IndentShape::Method)
            n = f.firstListIndex >= 2 ? f.firstListIndex : k; // up to the lambda list
        else if (rule.namedLet && (f.count >= 2 ? f.arg1Kind == Kind::Symbol : lead.kind == Kind::Symbol))
            ++n;
        if (k <= n)
            return open + (k == 1 ? rule.firstIndent : 4);
        return open + rule.bodyIndent;
    }
    case IndentShape::Block: {
        const int n = rule.count;
        const bool bodyBegunLine = k == n + 1 || (n + 1 < 64 && ((f.lineStarts >> (n + 1)) & 1));
        return k > n && bodyBegunLine ? open + 2 : CallColumn(f);
    }
    case IndentShape::Tagbody:
        if (k <= rule.count)
            return open + 4;
        if (lead.kind == Kind::Symbol || lead.kind == Kind::Number || lead.kind == Kind::Keyword)
            return open + 1; // a tag
        return open + rule.bodyIndent;
    case IndentShape::Loop: {
        const bool extended = f.count >= 2 ? (f.arg1Kind == Kind::Symbol || f.arg1Kind == Kind::Keyword)
                                           : (lead.kind == Kind::Symbol || lead.kind == Kind::Keyword);
        if (!extended) {
            const int anchor = m_style.commentsAnchor ? f.anchorCol : f.arg1Col;
            return anchor >= 0 ? anchor : open + 2;
        }
        const int clause = f.arg1Col >= 0 ? f.arg1Col : open + 2;
        if (k == 1 || IsLoopKeywordLead(lead) || f.lastLineIndex < 1)
            return clause;
        // A form in a clause: under the clause's first form, or under the form above it.
        if (IsLoopKeywordFolded(f.lastLineName.View()))
            return f.lastLineNextCol >= 0 ? f.lastLineNextCol : f.lastLineCol + 2;
        return f.lastLineCol;
    }
    case IndentShape::LambdaList:
        if (lead.kind == Kind::Symbol && !lead.symbol.empty() && lead.symbol[0] == '&')
            return DataColumn(f);
        if (f.lastLineIndex >= 1) {
            const std::string_view above = f.lastLineName.View();
            return !above.empty() && above[0] == '&' ? f.lastLineCol + 2 : f.lastLineCol;
        }
        return DataColumn(f);
    case IndentShape::Data:
        return DataColumn(f);
    }
    return CallColumn(f);
}

int CLispIndenter::CallColumn(const Frame &f) const
{
    const int anchor = m_style.commentsAnchor ? f.anchorCol : f.arg1Col;
    return anchor >= 0 ? anchor : f.openCol + 1;
}

int CLispIndenter::DataColumn(const Frame &f) const
{
    if (!m_style.bracketsAreData && f.count > 0 && f.headLine == f.openLine)
        return f.headCol;
    return f.openCol + 1;
}

bool CLispIndenter::IsLoopKeywordLead(const Lead &lead) const
{
    if (lead.kind != Kind::Symbol && lead.kind != Kind::Keyword)
        return false;
    return IsLoopKeywordFolded(lead.symbol);
}

std::optional<IndentRule> CLispIndenter::RuleOf(const Frame &f) const
{
    if (f.headKind != Kind::Symbol || f.head.size == 0 || (f.flags & CLispReader::InData))
        return std::nullopt;
    const std::string_view name = f.head.View();
    const bool lispFamily = m_syntax.dialect == ReaderDialect::CommonLisp || m_syntax.dialect == ReaderDialect::IsLisp;
    if (lispFamily && m_options.lexicon) {
        if (const std::optional<int> body = m_options.lexicon->BodyPosition(name))
            return IndentRule{.name = name, .shape = IndentShape::Body, .count = static_cast<std::int8_t>(*body), .nested = {}};
    }
    return FindIndentRule(m_syntax.dialect, name);
}

IndentRule CLispIndenter::ShapeOf(const std::vector<Frame> &frames, std::size_t d) const
{
    // What the enclosing forms say of this one comes first: bindings, lambda lists, local
    // definitions and method bodies are shaped by their place.
    const Frame &f = frames[d];
    if (d >= 2) {
        const std::optional<IndentRule> parent = RuleOf(frames[d - 1]);
        if (parent && parent->nested.depth == 1 && Matches(parent->nested, f.index))
            return {.name = {}, .shape = parent->nested.shape, .count = parent->nested.count, .nested = {}};
    }
    if (d >= 3) {
        const std::optional<IndentRule> grand = RuleOf(frames[d - 2]);
        if (grand && grand->nested.depth == 2 && Matches(grand->nested, frames[d - 1].index))
            return {.name = {}, .shape = grand->nested.shape, .count = grand->nested.count, .nested = {}};
    }
    if (std::optional<IndentRule> own = RuleOf(f))
        return *own;
    return {};
}

std::vector<CLispIndenter::LineChange> CLispIndenter::IndentLines(std::string_view text, int first, int last,
                                                                  bool blankLast) const
{
    std::vector<LineChange> changes;
    CLispReader reader = MakeReader();
    const std::size_t n = text.size();
    std::size_t pos = 0;
    for (int line = 0; line <= last; ++line) {
        std::size_t eol = pos;
        while (eol < n && text[eol] != '\n' && text[eol] != '\r')
            ++eol;
        std::size_t next = eol;
        if (next < n)
            next += (text[next] == '\r' && next + 1 < n && text[next + 1] == '\n') ? 2 : 1;
        int column = -1;
        std::size_t blanks = pos;
        if (line >= first) {
            while (blanks < eol && (text[blanks] == ' ' || text[blanks] == '\t'))
                ++blanks;
            const std::string_view rest = text.substr(blanks, eol - blanks);
            if (!rest.empty() || (blankLast && line == last))
                column = ColumnFor(reader, rest);
        }
        if (column >= 0) {
            std::string indent = IndentText(column);
            reader.Feed(indent);
            reader.Feed(text.substr(blanks, next - blanks));
            if (text.substr(pos, blanks - pos) != indent)
                changes.push_back({line, static_cast<int>(blanks - pos), std::move(indent)});
        } else {
            reader.Feed(text.substr(pos, next - pos));
        }
        if (next == eol) // the text ends on this line
            break;
        pos = next;
    }
    return changes;
}
