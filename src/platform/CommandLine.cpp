// The program part of a command line, as process creation reads it, on every system.
#include "platform/CommandLine.h"

namespace platform {

CommandLineParts SplitProgramPart(const std::string &commandLine, ProgramResolver resolve)
{
    CommandLineParts parts;
    const size_t begin = commandLine.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return parts;
    if (commandLine[begin] == '"') {
        const size_t end = commandLine.find('"', begin + 1);
        parts.program = commandLine.substr(begin + 1, end == std::string::npos ? std::string::npos
                                                                                : end - begin - 1);
        if (end != std::string::npos)
            parts.arguments = commandLine.substr(end + 1);
        parts.executable = resolve(parts.program);
        return parts;
    }
    for (size_t pos = begin;;) {
        const size_t space = commandLine.find(' ', pos);
        const std::string candidate = commandLine.substr(
            begin, space == std::string::npos ? std::string::npos : space - begin);
        std::string file = resolve(candidate);
        if (!file.empty()) {
            parts.program = candidate;
            parts.executable = std::move(file);
            if (space != std::string::npos)
                parts.arguments = commandLine.substr(space + 1);
            return parts;
        }
        if (space == std::string::npos) {
            const size_t first = commandLine.find(' ', begin);
            parts.program = commandLine.substr(
                begin, first == std::string::npos ? std::string::npos : first - begin);
            return parts;
        }
        pos = space + 1;
    }
}

} // namespace platform
