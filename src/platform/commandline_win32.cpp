// Windows command lines: which file the system runs, the folder it names, and the C runtime's words.
#include "platform/CommandLine.h"

#include <windows.h>

namespace platform {

namespace {

bool IsFile(const std::string &path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool HasFolder(const std::string &program)
{
    return program.find_first_of("\\/:") != std::string::npos;
}

bool HasExtension(const std::string &program)
{
    const size_t dot = program.rfind('.');
    const size_t separator = program.find_last_of("\\/");
    return dot != std::string::npos && (separator == std::string::npos || dot > separator);
}

std::string FullPath(const std::string &path)
{
    char buffer[MAX_PATH * 4];
    const DWORD n = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : path;
}

// The file that process creation runs for a program part: the name as written, or with ".exe"
// when it has no extension; a name without a folder is searched where the system searches.
std::string ResolveProgram(const std::string &program)
{
    if (program.empty())
        return {};
    if (HasFolder(program)) {
        if (IsFile(program))
            return FullPath(program);
        if (!HasExtension(program) && IsFile(program + ".exe"))
            return FullPath(program + ".exe");
        return {};
    }
    char buffer[MAX_PATH * 4];
    const DWORD n = SearchPathA(nullptr, program.c_str(), ".exe", sizeof buffer, buffer, nullptr);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

} // namespace

// The words a program built with the C runtime sees in its command line: spaces and tabs separate
// words outside quotes; 2n backslashes before a quote give n backslashes and the quote opens or
// closes a quoted part, 2n+1 give n backslashes and a literal quote; "" inside a quoted part is a
// literal quote; every other backslash is itself.
bool SplitArguments(const std::string &text, std::vector<std::string> &words)
{
    words.clear();
    std::string word;
    bool inWord = false;
    bool quoted = false;
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        const char c = text[i];
        if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '\\') {
            size_t count = 0;
            while (i < n && text[i] == '\\') {
                ++count;
                ++i;
            }
            if (i < n && text[i] == '"') {
                word.append(count / 2, '\\');
                if (count % 2 == 1)
                    word += '"';
                else
                    --i;   // the quote is seen by the next round
            } else {
                word.append(count, '\\');
                --i;
            }
        } else if (c == '"') {
            if (quoted && i + 1 < n && text[i + 1] == '"') {
                word += '"';
                ++i;
            } else {
                quoted = !quoted;
            }
        } else {
            word += c;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    return !quoted;
}

CommandLineParts SplitCommandLine(const std::string &commandLine)
{
    CommandLineParts parts = SplitProgramPart(commandLine, ResolveProgram);
    // The folder of the program part; a drive's root keeps its separator ("C:" alone would name
    // the drive's current folder).
    const size_t separator = parts.program.find_last_of("\\/");
    if (separator != std::string::npos) {
        parts.folder = parts.program.substr(0, separator);
        if (parts.folder.empty() || parts.folder.back() == ':')
            parts.folder += '\\';
    }
    return parts;
}

} // namespace platform
