// Learns the body positions of the macros the open documents define.
#include "editor/CIndentLexicon.h"

#include "editor/CLispReader.h"

namespace {

constexpr std::string_view kDefmacro = "(defmacro";

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsFolded(std::string_view a, std::string_view lower)
{
    if (a.size() != lower.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != lower[i])
            return false;
    }
    return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

// After blanks and ; comments.
std::size_t SkipBlank(std::string_view text, std::size_t p)
{
    while (p < text.size()) {
        if (IsBlank(text[p])) {
            ++p;
        } else if (text[p] == ';') {
            while (p < text.size() && text[p] != '\n')
                ++p;
        } else {
            break;
        }
    }
    return p;
}

// After the list that opens at p (strings inside it skipped), or the end of text.
std::size_t SkipList(std::string_view text, std::size_t p)
{
    int depth = 0;
    for (; p < text.size(); ++p) {
        const char c = text[p];
        if (c == '"') {
            for (++p; p < text.size() && text[p] != '"'; ++p)
                p += text[p] == '\\' ? 1 : 0;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')' && --depth == 0) {
            return p + 1;
        }
    }
    return text.size();
}

// The macro defined by the (defmacro at p, and how many parameters stand before its &body.
bool ReadDefinition(std::string_view text, std::size_t p, const LispSyntax &syntax, std::string &name, int &body)
{
    p += kDefmacro.size();
    if (p >= text.size() || !IsBlank(text[p]))
        return false;
    p = SkipBlank(text, p);
    const std::size_t nameLength = CLispReader::TokenLength(text.substr(p), syntax);
    if (nameLength == 0)
        return false;
    const std::string_view bare = CLispReader::WithoutPackage(text.substr(p, nameLength), syntax);
    p = SkipBlank(text, p + nameLength);
    if (p >= text.size() || text[p] != '(' || bare.empty())
        return false;
    ++p;
    int count = 0;
    bool skipNext = false; // the variable after &whole or &environment is no parameter
    while ((p = SkipBlank(text, p)) < text.size()) {
        if (text[p] == ')')
            return false;
        if (text[p] == '(') {
            p = SkipList(text, p);
            count += skipNext ? 0 : 1;
            skipNext = false;
            continue;
        }
        const std::size_t length = CLispReader::TokenLength(text.substr(p), syntax);
        if (length == 0) {
            ++p;
            continue;
        }
        const std::string_view token = text.substr(p, length);
        p += length;
        if (EqualsFolded(token, "&body")) {
            name.clear();
            for (char c : bare)
                name += syntax.foldCase ? Lower(c) : c;
            body = count;
            return true;
        }
        if (EqualsFolded(token, "&whole") || EqualsFolded(token, "&environment")) {
            skipNext = true;
        } else if (token[0] != '&') {
            count += skipNext ? 0 : 1;
            skipNext = false;
        }
    }
    return false;
}

} // namespace

CIndentLexicon &CIndentLexicon::Shared()
{
    static CIndentLexicon lexicon;
    return lexicon;
}

void CIndentLexicon::Learn(const void *doc, std::string_view text, const LispSyntax &syntax)
{
    m_documents.erase(doc);
    LearnMore(doc, text, syntax);
}

void CIndentLexicon::LearnMore(const void *doc, std::string_view text, const LispSyntax &syntax)
{
    if (syntax.dialect != ReaderDialect::CommonLisp && syntax.dialect != ReaderDialect::IsLisp)
        return;
    std::string name;
    int body = 0;
    for (std::size_t p = text.find('('); p != std::string_view::npos; p = text.find('(', p + 1)) {
        if (text.size() - p < kDefmacro.size() || !EqualsFolded(text.substr(p, kDefmacro.size()), kDefmacro))
            continue;
        if (ReadDefinition(text, p, syntax, name, body))
            m_documents[doc][name] = body;
    }
}

void CIndentLexicon::Forget(const void *doc)
{
    m_documents.erase(doc);
}

std::optional<int> CIndentLexicon::BodyPosition(std::string_view name) const
{
    for (const auto &[doc, entries] : m_documents) {
        if (const auto it = entries.find(std::string(name)); it != entries.end())
            return it->second;
    }
    return std::nullopt;
}
