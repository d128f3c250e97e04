// What the open documents teach the indenter: the body position of the macros they define.
#pragma once

#include "editor/LispSyntax.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

// For each open document, the macros whose lambda list holds &body, with the number of
// parameters before it: (defmacro with-frob ((var) place &body body) ...) teaches with-frob 2, so
// its forms indent like a Body with two distinguished arguments. One process-wide instance holds
// the documents' entries; a document's entries are replaced when it is read again, and dropped
// when it closes.
class CIndentLexicon
{
public:
    static CIndentLexicon &Shared();

    // Reads every (defmacro ...) of text, the whole text of document doc, in place of what doc
    // taught before. Cheap: a search for the word, then a few tokens at each place found.
    void Learn(const void *doc, std::string_view text, const LispSyntax &syntax);
    // Adds what text (a part of doc) teaches to what doc taught before.
    void LearnMore(const void *doc, std::string_view text, const LispSyntax &syntax);
    void Forget(const void *doc);

    // The distinguished parameters of a learned macro, by name as the reader gives it.
    std::optional<int> BodyPosition(std::string_view name) const;

private:
    using Entries = std::unordered_map<std::string, int>;
    std::unordered_map<const void *, Entries> m_documents;
};
