// POSIX pseudo-terminals for terminal Lisps: opening one, line-editor settings, clean output.
#include "platform/PseudoTerminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <termios.h>
#include <unistd.h>

namespace platform {

namespace {

// Settings for the readline library. A tab in a sent form would otherwise be taken for the
// completion key and vanish; without a UTF-8 locale, bytes above 127 would be turned into
// meta-key sequences. Bracketed paste would add escape sequences around every line, and an
// interrupt would show as "^C" before the Lisp's own answer to it.
constexpr char kLineEditorSettings[] =
    "set disable-completion on\n"
    "set input-meta on\n"
    "set convert-meta off\n"
    "set output-meta on\n"
    "set enable-bracketed-paste off\n"
    "set echo-control-characters off\n";

// The descriptor moved to at least minimum, close-on-exec; the old one closed.
bool MoveAbove(int &fd, int minimum)
{
    if (fd >= minimum)
        return true;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, minimum);
    if (moved < 0)
        return false;
    ::close(fd);
    fd = moved;
    return true;
}

int MakeLineEditorSettings()
{
#ifdef MFD_CLOEXEC
    int fd = static_cast<int>(::memfd_create("talvex-inputrc", MFD_CLOEXEC));
    if (fd < 0)
        return -1;
    const size_t length = sizeof kLineEditorSettings - 1;
    // Above 3: the child gets it as descriptor 3, and a copy onto its own number would keep
    // its close-on-exec mark.
    if (::write(fd, kLineEditorSettings, length) != static_cast<ssize_t>(length) || !MoveAbove(fd, 4)) {
        ::close(fd);
        return -1;
    }
    return fd;
#else
    return -1;
#endif
}

} // namespace

bool OpenPseudoTerminal(PseudoTerminal &terminal, int &error)
{
    auto fail = [&] {
        error = errno;
        if (terminal.master >= 0)
            ::close(terminal.master);
        if (terminal.slave >= 0)
            ::close(terminal.slave);
        terminal = PseudoTerminal();
        return false;
    };
    terminal.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal.master < 0 || ::grantpt(terminal.master) != 0 || ::unlockpt(terminal.master) != 0)
        return fail();
    char name[256];
    if (::ptsname_r(terminal.master, name, sizeof name) != 0)
        return fail();
    terminal.slavePath = name;
    // O_NOCTTY: this program must never take the terminal as its own.
    terminal.slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal.slave < 0 || !MoveAbove(terminal.master, 3) || !MoveAbove(terminal.slave, 3))
        return fail();

    // Raw: the bytes arrive as written, however long a line is (a terminal's own line editing
    // drops what passes about 4 KB in one line), with no echo, no signal characters, no CR/LF
    // conversion. A Lisp that edits lines itself sets its own mode while it reads, and returns to
    // this one afterwards.
    termios settings{};
    if (::tcgetattr(terminal.slave, &settings) != 0)
        return fail();
    ::cfmakeraw(&settings);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (::tcsetattr(terminal.slave, TCSANOW, &settings) != 0)
        return fail();
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 80;
    ::ioctl(terminal.slave, TIOCSWINSZ, &size);

    const int flags = ::fcntl(terminal.master, F_GETFL);
    if (flags < 0 || ::fcntl(terminal.master, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail();
    return true;
}

int LineEditorSettings()
{
    static const int fd = MakeLineEditorSettings();
    return fd;
}

size_t CTerminalOutputFilter::Filter(char *data, size_t length)
{
    constexpr unsigned char kEsc = 0x1b;
    constexpr unsigned char kBell = 0x07;
    // A string command longer than this was no escape sequence: what follows is text again.
    constexpr size_t kMaxString = 4096;
    size_t kept = 0;
    auto text = [&](unsigned char c) {
        if (c == kEsc)
            m_state = State::Escape;
        else if (c != kBell)
            data[kept++] = static_cast<char>(c);
    };
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        switch (m_state) {
        case State::Text:
            text(c);
            break;
        case State::Escape:
            m_nLength = 0;
            if (c == '[')
                m_state = State::Csi;
            else if (c == ']' || c == 'P' || c == '_' || c == '^' || c == 'X')
                m_state = State::String;         // OSC, DCS, APC, PM, SOS: up to BEL or ESC backslash
            else if (c >= 0x20 && c <= 0x2f)
                m_state = State::Intermediate;   // e.g. ESC ( B
            else if (c >= 0x30 && c <= 0x7e)
                m_state = State::Text;           // a two-byte escape, e.g. ESC =
            else {
                m_state = State::Text;           // no escape after all: the byte is text
                text(c);
            }
            break;
        case State::Intermediate:
            if (c < 0x20 || c > 0x2f) {
                m_state = State::Text;
                if (c < 0x30 || c > 0x7e)
                    text(c);
            }
            break;
        case State::Csi:
            if (c >= 0x40 && c <= 0x7e) {
                m_state = State::Text;
            } else if (c < 0x20 || c > 0x3f) {
                m_state = State::Text;           // broken off: the byte is text
                text(c);
            }
            break;
        case State::String:
            if (c == kBell) {
                m_state = State::Text;
            } else if (c == kEsc) {
                m_state = State::StringEscape;
            } else if (c == '\n' || ++m_nLength > kMaxString) {
                m_state = State::Text;
                text(c);
            }
            break;
        case State::StringEscape:
            if (c == '\\') {
                m_state = State::Text;
            } else {
                m_state = State::String;
            }
            break;
        }
    }
    return kept;
}

} // namespace platform
