// Pseudo-terminals for a Lisp that answers, prompts and survives errors only on a terminal (POSIX).
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// A pseudo-terminal set up so that the bytes on both sides stay as a pair of pipes would carry
// them: no echo, no line editing or line-length limit of the terminal itself, no characters that
// raise signals, no flow control, no line-end conversion in either direction. Both descriptors
// are close-on-exec and above the standard ones; the master is non-blocking.
struct PseudoTerminal
{
    int master = -1;
    int slave = -1;          // the program's own handle, opened without becoming anyone's terminal
    std::string slavePath;   // what the child opens to make the terminal its controlling one
};

// False with errno's value in error when the system has no pseudo-terminal to give.
bool OpenPseudoTerminal(PseudoTerminal &terminal, int &error);

// A descriptor of line-editor settings for the readline library, which terminal Lisps use to read
// their input: a tab is text (never completion) and bytes above 127 are text whatever the locale.
// One for the whole program, made on first use; -1 when it cannot be made.
int LineEditorSettings();

// Takes out of terminal output what a terminal program adds for a screen: escape sequences (CSI,
// OSC and other string commands, two- and three-byte escapes) and the bell. Sequences split
// between two reads are recognised; a sequence broken off by a control character or a line end
// ends there, so no text is lost to a stray escape. Everything else passes unchanged.
class CTerminalOutputFilter
{
public:
    // Filters data in place; returns the length kept.
    size_t Filter(char *data, size_t length);

private:
    enum class State { Text, Escape, Intermediate, Csi, String, StringEscape };
    State m_state = State::Text;
    size_t m_nLength = 0;   // bytes of the string command so far
};

} // namespace platform
