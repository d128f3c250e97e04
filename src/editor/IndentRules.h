// How each dialect indents the arguments of its operators: one row per operator, as data.
#pragma once

#include "editor/LispSyntax.h"

#include <cstdint>
#include <optional>
#include <string_view>

// The shapes a form can take. Columns are counted from the form's opening bracket.
enum class IndentShape : std::uint8_t {
    Call,       // arguments under the first one when it is on the head's line, else 1 in
    Rest,       // as Call, but `count` in when nothing follows the head (cond, the simple loop)
    Body,       // `count` distinguished arguments 4 in (the first firstIndent), the body bodyIndent in
    Block,      // Clojure: a call until the argument after the first `count` begins a line; then a body 2 in
    Tagbody,    // Body, and in the body the tags (atoms) 1 in, the forms bodyIndent in
    Loop,       // Common Lisp's loop: clauses under the first clause, their forms under its first form
    Method,     // defmethod: the name, the qualifiers and the lambda list are distinguished
    Data,       // not a call: elements under the first (bindings, lists of names)
    LambdaList, // Data, with the parameters after a &keyword line 2 further in than it
};

// A rule for forms nested in an operator's form: those `depth` levels down, reached through the
// operator's element `element` (or any element when it is -1, or any from `element` on when
// orLater is set).
struct NestedIndent
{
    std::int8_t depth = 0; // 0: no such rule
    std::int8_t element = -1;
    bool orLater = false;
    IndentShape shape = IndentShape::Call;
    std::int8_t count = 0;
};

struct IndentRule
{
    std::string_view name;
    IndentShape shape = IndentShape::Call;
    std::int8_t count = 0;
    bool prefix = false;           // the rule is for every name that starts with `name`
    std::int8_t firstIndent = 4;
    std::int8_t bodyIndent = 2;
    bool namedLet = false;         // Scheme's named let: one more distinguished argument after a symbol
    NestedIndent nested;
};

// How a dialect's indentation differs from the others', besides its rows.
struct IndentStyle
{
    bool commentsAnchor = true;     // a comment after the head on its line aligns the arguments
    bool quotedIsData = true;       // '(...) and #(...) are data, not calls
    bool otherHeadIsData = true;    // a form whose head is no symbol lines up under the head
    bool bracketsAreData = false;   // [ ] { } #{ } #?( ): everything 1 in
    bool featureAlignment = false;  // a #+/#- line lines up under the previous #+/#- element
    bool keepTripleComments = false; // ;;; lines inside a form stay where they are
    int commentColumn = -1;         // where a line holding a single-; comment goes, -1: like code
};

const IndentStyle &IndentStyleOf(ReaderDialect dialect);

// The dialect's row for an operator's name (as the reader gives it: folded where the dialect
// folds case, without package), else the first prefix row it matches; nullopt for a plain call.
std::optional<IndentRule> FindIndentRule(ReaderDialect dialect, std::string_view name);

// Whether name starts a clause of Common Lisp's loop (for, collect, finally, ...).
bool IsLoopKeyword(std::string_view name);
