// POSIX command lines: which file runs, which folder it names, and its arguments split like a shell.
#include "platform/CommandLine.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

bool IsExecutableFile(const std::string &path)
{
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)
        && ::access(path.c_str(), X_OK) == 0;
}

std::string MakeAbsolute(const std::string &path)
{
    if (path.empty() || path[0] == '/')
        return path;
    char buffer[4096];
    if (!::getcwd(buffer, sizeof buffer))
        return path;
    std::string result(buffer);
    if (result.back() != '/')
        result += '/';
    return result + path;
}

std::string FindOnPath(const std::string &name)
{
    const char *path = std::getenv("PATH");
    std::string list = (path && *path) ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        const size_t end = list.find(':', start);
        // An empty entry means the current directory.
        std::string candidate(end == start ? std::string_view(".")
                                           : std::string_view(list).substr(start, end - start));
        candidate += '/';
        candidate += name;
        if (IsExecutableFile(candidate))
            return MakeAbsolute(candidate);
        if (end == std::string::npos)
            return {};
        start = end + 1;
    }
}

// The file that a program part names: a path when it has a slash, else a name on the search path.
std::string ResolveProgram(const std::string &program)
{
    if (program.empty())
        return {};
    if (program.find('/') != std::string::npos)
        return IsExecutableFile(program) ? MakeAbsolute(program) : std::string();
    return FindOnPath(program);
}

} // namespace

bool SplitArguments(const std::string &text, std::vector<std::string> &words)
{
    words.clear();
    std::string word;
    bool inWord = false;
    bool complete = true;
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '\\') {
            if (i + 1 < n) {
                if (text[i + 1] != '\n')
                    word += text[i + 1];
                ++i;
            } else {
                word += c;
            }
        } else if (c == '\'') {
            const size_t end = text.find('\'', i + 1);
            if (end == std::string::npos) {
                word.append(text, i + 1, std::string::npos);
                complete = false;
                i = n;
            } else {
                word.append(text, i + 1, end - i - 1);
                i = end;
            }
        } else if (c == '"') {
            size_t j = i + 1;
            for (; j < n && text[j] != '"'; ++j) {
                if (text[j] == '\\' && j + 1 < n
                    && std::strchr("\"\\$`\n", text[j + 1]) != nullptr) {
                    if (text[j + 1] != '\n')
                        word += text[j + 1];
                    ++j;
                } else {
                    word += text[j];
                }
            }
            if (j >= n)
                complete = false;
            i = j;
        } else {
            word += c;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    return complete;
}

CommandLineParts SplitCommandLine(const std::string &commandLine)
{
    CommandLineParts parts = SplitProgramPart(commandLine, ResolveProgram);
    const size_t slash = parts.program.rfind('/');
    if (slash != std::string::npos)
        parts.folder = slash == 0 ? std::string("/") : parts.program.substr(0, slash);
    return parts;
}

} // namespace platform
