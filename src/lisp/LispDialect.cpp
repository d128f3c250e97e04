// How Talvex speaks to each Lisp dialect: the table of dialects and the programs that run them.
#include "lisp/LispDialect.h"

#include "platform/Process.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <system_error>

namespace {

constexpr LispDialect kCommonLisp{
    "Common Lisp", 0, {"(pprint (macroexpand-1 '", "))"}, {"(pprint '", ")"}, ";", false, false, nullptr, nullptr, nullptr};

// Guile: the pretty printer and the expander are reached through their modules, so nothing is
// added to the user's module. Guile has no one-step expansion; the full one, turned back from
// Guile's tree language into Scheme, is what its REPL can show.
constexpr LispDialect kScheme{
    "Scheme", 1,
    {"((@ (ice-9 pretty-print) pretty-print) ((@ (language tree-il) tree-il->scheme) (macroexpand '", ")))"},
    {"((@ (ice-9 pretty-print) pretty-print) '", ")"}, ";", false, false, nullptr, nullptr, nullptr};

// newLISP's REPL lays out what it prints by the pretty-print settings; a printing call would show
// the form twice (printed, then as the value). It reads a form of several lines only framed.
constexpr LispDialect kNewLisp{"newLISP", 2, {}, {"'", ""}, ";#", true, true, nullptr, nullptr, nullptr};

constexpr LispDialect kIsLisp{
    "ISLISP", 3, {"(pprint (macroexpand-1 '", "))"}, {"(pprint '", ")"}, ";", false, false, nullptr, nullptr, nullptr};

// PicoLisp: pretty comes with the library that pil loads; the bare interpreter has only print.
constexpr LispDialect kPicoLisp{
    "PicoLisp", 4, {}, {"(prog ((or (getd 'pretty) print) '", ") (prinl))"}, "#", false, true, nullptr, nullptr, nullptr};

// Clojure's REPL ends on SIGINT unless a break handler is in force; the one of clojure.repl asks
// the JVM for a call that it no longer has, so the handler stops the REPL's thread itself, which
// the REPL reports as an error of the running form and goes on. Its answer, a nil and a second
// prompt, is not shown.
constexpr LispDialect kClojure{
    "Clojure", 5, {"(pprint (macroexpand-1 '", "))"}, {"(pprint '", ")"}, ";", false, false,
    "(let [t (Thread/currentThread)] (clojure.repl/set-break-handler! (fn [_] (.stop t))) nil)\n",
    "nil\nuser=> ", nullptr};

// Indexed by keyword set.
constexpr const LispDialect *kDialects[] = {&kCommonLisp, &kScheme, &kNewLisp, &kIsLisp, &kPicoLisp, &kClojure};

// Lisp systems by the name of their program.
struct KnownLisp
{
    const char *name;
    const LispDialect *dialect;
};
constexpr KnownLisp kKnownLisps[] = {
    {"sbcl", &kCommonLisp},  {"clisp", &kCommonLisp},  {"ecl", &kCommonLisp},  {"ccl", &kCommonLisp},
    {"abcl", &kCommonLisp},  {"guile", &kScheme},      {"racket", &kScheme},   {"chez", &kScheme},
    {"scheme", &kScheme},    {"chicken", &kScheme},    {"csi", &kScheme},      {"gsi", &kScheme},
    {"mit-scheme", &kScheme}, {"newlisp", &kNewLisp},  {"picolisp", &kPicoLisp}, {"pil", &kPicoLisp},
    {"clojure", &kClojure},  {"clj", &kClojure},
};

} // namespace

const LispDialect &DialectForKeywordSet(int keywordSet)
{
    if (keywordSet < 0 || keywordSet >= int(std::size(kDialects)))
        return kCommonLisp;
    return *kDialects[keywordSet];
}

const LispDialect *DialectForProgramName(std::string name)
{
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    for (const char *extension : {".exe", ".bat", ".cmd", ".com"})
        if (name.size() > 4 && name.ends_with(extension))
            name.resize(name.size() - 4);
    // The longest known name that the file name starts with, alone or followed by a version.
    const KnownLisp *best = nullptr;
    for (const KnownLisp &lisp : kKnownLisps) {
        const std::string_view known(lisp.name);
        if (!name.starts_with(known) || (best && known.size() <= std::strlen(best->name)))
            continue;
        if (name.size() == known.size()) {
            best = &lisp;
            continue;
        }
        const char next = name[known.size()];
        if (std::isdigit(static_cast<unsigned char>(next)) || next == '-' || next == '.' || next == '_')
            best = &lisp;
    }
    return best ? best->dialect : nullptr;
}

const LispDialect &DialectForCommandLine(const std::string &commandLine, int keywordSet)
{
    const platform::CommandLineParts parts = platform::SplitCommandLine(commandLine);
    if (!parts.executable.empty()) {
        const std::filesystem::path path(parts.executable);
        if (const LispDialect *dialect = DialectForProgramName(path.filename().string()))
            return *dialect;
        std::error_code error;
        const std::filesystem::path target = std::filesystem::canonical(path, error);
        if (!error)
            if (const LispDialect *dialect = DialectForProgramName(target.filename().string()))
                return *dialect;
    }
    return DialectForKeywordSet(keywordSet);
}

std::vector<std::string> KnownLispPrograms()
{
    std::vector<std::string> names;
    for (const KnownLisp &lisp : kKnownLisps)
        names.emplace_back(lisp.name);
    return names;
}
