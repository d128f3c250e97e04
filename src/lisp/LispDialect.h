// How Talvex speaks to each Lisp dialect: evaluation wrappers, framing, streams, interrupt.
#pragma once

#include <string>
#include <vector>

// What goes before and after a form; no opening means the dialect has no such command.
struct LispWrapper
{
    const char *opening = nullptr;
    const char *closing = nullptr;
};

// One dialect, as the console, the redirector and the evaluation commands need it.
struct LispDialect
{
    const char *name;
    int keywordSet;             // the keyword set (index as stored) that names this dialect
    LispWrapper macroexpand;    // one expansion of a macro form, pretty-printed
    LispWrapper prettyPrint;    // the form pretty-printed as data
    const char *comment;        // characters that start a comment running to the line end
    bool frameCommands;         // every write is framed by "[cmd]\n" and "[/cmd]\n"
    // The Lisp's streams are a terminal: its REPL prompts, answers at once and survives an error
    // only on one.
    bool terminal;
    // Written before the user's first form, so that the interrupt stops the running form and
    // not the whole Lisp; nullptr when the Lisp needs nothing.
    const char *startForm;
    // What the Lisp answers to startForm (its value and the next prompt), hidden from the console.
    const char *startAnswer;
    // Why Interrupt Lisp cannot stop a form in this dialect without ending the session; nullptr
    // when the interrupt works.
    const char *noInterrupt;
};

// The dialect a keyword set names (unknown sets count as Common Lisp).
const LispDialect &DialectForKeywordSet(int keywordSet);

// The dialect of a program's file name when it is a Lisp Talvex knows ("sbcl", "guile-3.0",
// "ccl64", "csi", "clojure.bat"), in any letter case; nullptr for any other name.
const LispDialect *DialectForProgramName(std::string name);

// The dialect of the program a command line runs (by its own name, then by the file a symbolic
// link leads to), else the one the keyword set names.
const LispDialect &DialectForCommandLine(const std::string &commandLine, int keywordSet);

// The program names of the Lisps Talvex knows, the most common first.
std::vector<std::string> KnownLispPrograms();
