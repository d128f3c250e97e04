// The indentation rows of each dialect and the lookup over them.
#include "editor/IndentRules.h"

#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

using S = IndentShape;
using I8 = std::int8_t;

constexpr IndentRule Body(std::string_view name, int count, NestedIndent nested = {})
{
    return {.name = name, .shape = S::Body, .count = I8(count), .nested = nested};
}
constexpr IndentRule Shape(std::string_view name, IndentShape shape, int count = 0, NestedIndent nested = {})
{
    return {.name = name, .shape = shape, .count = I8(count), .nested = nested};
}
constexpr IndentRule Prefix(std::string_view name, IndentShape shape, int count)
{
    return {.name = name, .shape = shape, .count = I8(count), .prefix = true, .nested = {}};
}

// Nested rules: the form's element n is data (bindings, lambda lists); every form in its element
// n is indented like a local definition; every form from element n on is a clause.
constexpr NestedIndent DataAt(int element, IndentShape shape = S::Data)
{
    return {.depth = 1, .element = I8(element), .shape = shape};
}
constexpr NestedIndent EachIn(int element, IndentShape shape, int count)
{
    return {.depth = 2, .element = I8(element), .shape = shape, .count = I8(count)};
}
constexpr NestedIndent ClausesFrom(int element, int count)
{
    return {.depth = 1, .element = I8(element), .orLater = true, .shape = S::Body, .count = I8(count)};
}
// Clojure's inner indentation of every form one level down (method bodies).
constexpr NestedIndent InnerForms() { return {.depth = 1, .element = -1, .shape = S::Body, .count = 0}; }

const IndentRule kCommonLisp[] = {
    Body("defun", 2, DataAt(2, S::LambdaList)),
    Body("defmacro", 2, DataAt(2, S::LambdaList)),
    Body("define-compiler-macro", 2, DataAt(2, S::LambdaList)),
    Body("defgeneric", 2, DataAt(2, S::LambdaList)),
    Shape("defmethod", S::Method),
    {.name = "defclass", .shape = S::Body, .count = 2, .firstIndent = 6, .nested = DataAt(2)},
    {.name = "define-condition", .shape = S::Body, .count = 2, .firstIndent = 6, .nested = DataAt(2)},
    Body("defstruct", 1),
    Body("defpackage", 1),
    Body("defsystem", 1),
    Body("defvar", 1),
    Body("defparameter", 1),
    Body("defconstant", 1),
    Body("deftype", 2, DataAt(2, S::LambdaList)),
    Body("lambda", 1, DataAt(1, S::LambdaList)),
    Body("destructuring-bind", 2, DataAt(1, S::LambdaList)),
    Body("multiple-value-bind", 2, DataAt(1)),
    Body("let", 1, DataAt(1)),
    Body("let*", 1, DataAt(1)),
    Body("symbol-macrolet", 1, DataAt(1)),
    Body("flet", 1, EachIn(1, S::Body, 1)),
    Body("labels", 1, EachIn(1, S::Body, 1)),
    Body("macrolet", 1, EachIn(1, S::Body, 1)),
    Body("handler-case", 1, ClausesFrom(2, 1)),
    Body("restart-case", 1, ClausesFrom(2, 1)),
    Body("handler-bind", 1, DataAt(1)),
    Body("restart-bind", 1, DataAt(1)),
    Body("when", 1),
    Body("unless", 1),
    Body("dolist", 1),
    Body("dotimes", 1),
    Body("case", 1),
    Body("ccase", 1),
    Body("ecase", 1),
    Body("typecase", 1),
    Body("ctypecase", 1),
    Body("etypecase", 1),
    Body("progn", 0),
    Body("locally", 0),
    Body("ignore-errors", 0),
    Body("prog1", 1),
    Body("prog2", 2),
    Body("block", 1),
    Body("catch", 1),
    Body("return-from", 1),
    Body("unwind-protect", 1),
    Body("eval-when", 1),
    Body("the", 1),
    Body("print-unreadable-object", 1),
    Body("with-slots", 2),
    Body("with-accessors", 2),
    Shape("cond", S::Rest, 2),
    {.name = "do", .shape = S::Tagbody, .count = 2, .nested = DataAt(1)},
    {.name = "do*", .shape = S::Tagbody, .count = 2, .nested = DataAt(1)},
    {.name = "tagbody", .shape = S::Tagbody, .count = 0, .bodyIndent = 3, .nested = {}},
    {.name = "prog", .shape = S::Tagbody, .count = 1, .bodyIndent = 3, .nested = DataAt(1)},
    {.name = "prog*", .shape = S::Tagbody, .count = 1, .bodyIndent = 3, .nested = DataAt(1)},
    Shape("loop", S::Loop),
    Prefix("def", S::Body, 2),
    Prefix("with-", S::Body, 1),
    Prefix("do-", S::Body, 1),
};

// ISLISP's own forms; the rest as in Common Lisp.
const IndentRule kIsLisp[] = {
    Body("dynamic-let", 1, DataAt(1)),
    Body("while", 1),
    Body("case-using", 2),
    Body("defglobal", 1),
    Body("defdynamic", 1),
    {.name = "for", .shape = S::Tagbody, .count = 2, .nested = DataAt(1)},
};

const IndentRule kScheme[] = {
    Body("define", 1),
    Body("define-syntax", 1),
    Body("lambda", 1),
    Body("case-lambda", 0),
    {.name = "let", .shape = S::Body, .count = 1, .namedLet = true, .nested = {}},
    Body("let*", 1),
    Body("letrec", 1),
    Body("letrec*", 1),
    Body("let-values", 1),
    Body("let*-values", 1),
    Body("let-syntax", 1),
    Body("letrec-syntax", 1),
    Body("syntax-rules", 1),
    Body("syntax-case", 2),
    Body("when", 1),
    Body("unless", 1),
    Body("do", 2),
    Body("case", 1),
    Body("parameterize", 1),
    Body("fluid-let", 1),
    Body("guard", 1),
    Body("receive", 2),
    Body("match", 1),
    Body("begin", 0),
    Body("call-with-output-string", 0),
    Body("call-with-current-continuation", 0),
    Prefix("def", S::Body, 1),
    Prefix("with-", S::Body, 1),
    Prefix("call-with-", S::Body, 1),
};

const IndentRule kNewLisp[] = {
    Body("define", 1),
    Body("define-macro", 1),
    Body("fn", 1),
    Body("lambda", 1),
    Body("lambda-macro", 1),
    Body("let", 1, DataAt(1)),
    Body("letn", 1, DataAt(1)),
    Body("letex", 1, DataAt(1)),
    Body("local", 1, DataAt(1)),
    Body("dolist", 1),
    Body("dotimes", 1),
    Body("dostring", 1),
    Body("dotree", 1),
    Body("doargs", 1),
    Body("for", 1),
    Body("while", 1),
    Body("until", 1),
    Body("do-while", 1),
    Body("do-until", 1),
    Body("when", 1),
    Body("unless", 1),
    Body("case", 1),
    Body("begin", 0),
    Shape("cond", S::Rest, 2),
};

const IndentRule kPicoLisp[] = {
    Body("de", 2),
    Body("dm", 2),
    Body("let", 1),
    Body("let?", 2),
    Body("use", 1),
    Body("for", 1),
    Body("if", 1),
    Body("ifn", 1),
    Body("if2", 2),
    Body("cond", 0),
    Body("nond", 0),
    Body("case", 1),
    Body("casq", 1),
    Body("when", 1),
    Body("unless", 1),
    Body("while", 1),
    Body("until", 1),
    Body("loop", 0),
    Body("do", 1),
    Body("with", 1),
    Body("job", 1),
    Body("catch", 1),
    Body("finally", 1),
    Body("prog", 0),
    Body("in", 1),
    Body("out", 1),
};

// cljfmt's default style: Block n is its [:block n], Body 0 its [:inner 0].
const IndentRule kClojure[] = {
    Shape("alt!", S::Block, 0), Shape("alt!!", S::Block, 0), Shape("are", S::Block, 2),
    Shape("as->", S::Block, 2), Shape("binding", S::Block, 1), Shape("case", S::Block, 1),
    Shape("catch", S::Block, 2), Shape("comment", S::Block, 0), Shape("cond", S::Block, 0),
    Shape("condp", S::Block, 2), Shape("cond->", S::Block, 1), Shape("cond->>", S::Block, 1),
    Shape("defstruct", S::Block, 1), Shape("do", S::Block, 0), Shape("doseq", S::Block, 1),
    Shape("dotimes", S::Block, 1), Shape("doto", S::Block, 1), Shape("extend", S::Block, 1),
    Shape("finally", S::Block, 0), Shape("for", S::Block, 1), Shape("future", S::Block, 0),
    Shape("go", S::Block, 0), Shape("go-loop", S::Block, 1), Shape("if", S::Block, 1),
    Shape("if-let", S::Block, 1), Shape("if-not", S::Block, 1), Shape("if-some", S::Block, 1),
    Shape("let", S::Block, 1), Shape("locking", S::Block, 1), Shape("loop", S::Block, 1),
    Shape("match", S::Block, 1), Shape("ns", S::Block, 1), Shape("struct-map", S::Block, 1),
    Shape("testing", S::Block, 1), Shape("thread", S::Block, 0), Shape("try", S::Block, 0),
    Shape("when", S::Block, 1), Shape("when-first", S::Block, 1), Shape("when-let", S::Block, 1),
    Shape("when-not", S::Block, 1), Shape("when-some", S::Block, 1), Shape("while", S::Block, 1),
    Shape("with-local-vars", S::Block, 1), Shape("with-open", S::Block, 1), Shape("with-out-str", S::Block, 0),
    Shape("with-precision", S::Block, 1), Shape("with-redefs", S::Block, 1),
    Shape("letfn", S::Block, 1, EachIn(1, S::Body, 0)),
    Shape("defprotocol", S::Block, 1, InnerForms()), Shape("defrecord", S::Block, 2, InnerForms()),
    Shape("deftype", S::Block, 2, InnerForms()), Shape("extend-protocol", S::Block, 1, InnerForms()),
    Shape("extend-type", S::Block, 1, InnerForms()), Shape("proxy", S::Block, 2, InnerForms()),
    Body("reify", 0, InnerForms()),
    Body("bound-fn", 0), Body("def", 0), Body("defmacro", 0), Body("defmethod", 0), Body("defmulti", 0),
    Body("defn", 0), Body("defn-", 0), Body("defonce", 0), Body("deftest", 0), Body("fn", 0),
    Body("use-fixtures", 0),
    Prefix("def", S::Body, 0),
    Prefix("with-", S::Body, 0),
};

constexpr std::string_view kLoopKeywords[] = {
    "named", "with", "for", "as", "repeat", "initially", "finally", "do", "doing", "return",
    "collect", "collecting", "append", "appending", "nconc", "nconcing", "count", "counting",
    "sum", "summing", "maximize", "maximizing", "minimize", "minimizing", "while", "until",
    "always", "never", "thereis", "if", "when", "unless", "else", "end", "and",
};

constexpr IndentStyle kLispStyle{.featureAlignment = true, .keepTripleComments = true, .commentColumn = 40};
constexpr IndentStyle kSchemeStyle{};
constexpr IndentStyle kClojureStyle{.commentsAnchor = false, .quotedIsData = false, .otherHeadIsData = false,
                                    .bracketsAreData = true};

// The rows a dialect looks in, own rows first: exact names by hash, prefix rows in order.
class RuleIndex
{
public:
    explicit RuleIndex(std::initializer_list<std::span<const IndentRule>> tables)
    {
        for (std::span<const IndentRule> table : tables) {
            for (const IndentRule &rule : table) {
                if (rule.prefix)
                    m_prefixes.push_back(&rule);
                else
                    m_exact.emplace(rule.name, &rule); // the first table's row wins
            }
        }
    }

    const IndentRule *Find(std::string_view name) const
    {
        if (const auto it = m_exact.find(name); it != m_exact.end())
            return it->second;
        for (const IndentRule *rule : m_prefixes) {
            if (name.size() > rule->name.size() && name.substr(0, rule->name.size()) == rule->name)
                return rule;
        }
        return nullptr;
    }

private:
    std::unordered_map<std::string_view, const IndentRule *> m_exact;
    std::vector<const IndentRule *> m_prefixes;
};

const RuleIndex &IndexOf(ReaderDialect dialect)
{
    static const RuleIndex commonLisp{kCommonLisp};
    static const RuleIndex isLisp{kIsLisp, kCommonLisp};
    static const RuleIndex scheme{kScheme};
    static const RuleIndex newLisp{kNewLisp};
    static const RuleIndex picoLisp{kPicoLisp};
    static const RuleIndex clojure{kClojure};
    switch (dialect) {
    case ReaderDialect::IsLisp: return isLisp;
    case ReaderDialect::Scheme: return scheme;
    case ReaderDialect::NewLisp: return newLisp;
    case ReaderDialect::PicoLisp: return picoLisp;
    case ReaderDialect::Clojure: return clojure;
    case ReaderDialect::CommonLisp: break;
    }
    return commonLisp;
}

} // namespace

const IndentStyle &IndentStyleOf(ReaderDialect dialect)
{
    switch (dialect) {
    case ReaderDialect::Scheme: return kSchemeStyle;
    case ReaderDialect::Clojure: return kClojureStyle;
    default: return kLispStyle;
    }
}

std::optional<IndentRule> FindIndentRule(ReaderDialect dialect, std::string_view name)
{
    if (name.empty())
        return std::nullopt;
    if (const IndentRule *rule = IndexOf(dialect).Find(name))
        return *rule;
    return std::nullopt;
}

bool IsLoopKeyword(std::string_view name)
{
    for (std::string_view keyword : kLoopKeywords) {
        if (keyword == name)
            return true;
    }
    return false;
}
