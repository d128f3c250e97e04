// The Lisp reader's open forms: where their elements begin, their heads, prefixes and brackets.
#include "editor/CLispReader.h"

int CLispReader::ColumnAt(std::size_t at)
{
    const Pos target = Abs(at);
    if (m_colPos < m_lineStart) {
        m_colPos = m_lineStart;
        m_col = 0;
    }
    if (target <= m_colPos)
        return m_col;
    for (auto k = static_cast<std::size_t>(m_colPos - m_chunkBase); k < at; ++k) {
        const char c = m_chunk[k];
        if (c == '\t')
            m_col = (m_col / m_tabWidth + 1) * m_tabWidth;
        else if (!m_utf8 || (static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++m_col;
    }
    m_colPos = target;
    return m_col;
}

void CLispReader::Prefix(std::size_t at, std::uint8_t flags, int args)
{
    Frame &f = m_frames.back();
    if (f.pendingArgs > 0)
        return; // a prefix on a prefix's own argument (#+ 'x): part of that argument
    if (f.pendingStart < 0) {
        StartElement(at);
        f.pendingStart = Abs(at);
        f.pendingFlags = 0;
    }
    f.pendingFlags |= flags;
    if ((flags & Conditional) && args > 0)
        f.lastCondCol = f.lastElementCol;
    f.pendingArgs = static_cast<std::int8_t>(f.pendingArgs + args);
}

bool CLispReader::BeginDatum(std::size_t at, Kind kind)
{
    Frame &f = m_frames.back();
    if (f.pendingArgs > 0) {
        --f.pendingArgs;
        m_datumFlags = PrefixArg;
        m_datumStart = Abs(at);
        return false;
    }
    if (f.pendingStart >= 0) {
        m_datumStart = f.pendingStart;
        m_datumFlags = f.pendingFlags;
        f.pendingStart = -1;
        f.pendingFlags = 0;
    } else {
        StartElement(at);
        m_datumStart = Abs(at);
        m_datumFlags = 0;
    }
    if (kind != Kind::None)
        SetElementKind(f, kind, nullptr);
    return true;
}

void CLispReader::StartElement(std::size_t at)
{
    Frame &f = m_frames.back();
    const int idx = f.count++;
    const int col = ColumnAt(at);
    const bool first = !m_seenOnLine;
    m_seenOnLine = true;
    f.lastElementCol = col;
    if (idx < 64 && first)
        f.lineStarts |= std::uint64_t(1) << idx;
    if (idx == 0) {
        f.headCol = col;
        f.headLine = m_line;
        return;
    }
    if (f.headEndLine == m_line) {
        if (f.anchorCol < 0)
            f.anchorCol = col;
        if (idx == 1)
            f.arg1Col = col;
    }
    if (first) {
        f.lastLineIndex = idx;
        f.lastLineCol = col;
        f.lastLineLine = m_line;
        f.lastLineNextCol = -1;
        f.lastLineKind = Kind::None;
        f.lastLineName = {};
    } else if (f.lastLineLine == m_line && f.lastLineNextCol < 0) {
        f.lastLineNextCol = col;
    }
}

void CLispReader::SetElementKind(Frame &f, Kind kind, const Name *name)
{
    const int idx = f.count - 1;
    // A prefixed atom ('x, #'f, ,y) is no symbol to look up.
    if (kind != Kind::List && (m_datumFlags & (Quoted | Backquoted | Unquoted | Dispatch | Conditional)))
        kind = Kind::Other;
    const bool named = name && kind == Kind::Symbol;
    if (idx == 0) {
        f.headKind = kind;
        if (named)
            f.head = *name;
    } else if (idx == 1) {
        f.arg1Kind = kind;
    }
    if (idx > 0 && idx == f.lastLineIndex) {
        f.lastLineKind = kind;
        if (named)
            f.lastLineName = *name;
    }
    if (kind == Kind::List && idx >= 2 && f.firstListIndex < 0)
        f.firstListIndex = idx;
}

void CLispReader::EndElement()
{
    Frame &f = m_frames.back();
    if (f.count == 1)
        f.headEndLine = m_line;
}

void CLispReader::AnchorAt(std::size_t at)
{
    Frame &f = m_frames.back();
    if (f.anchorCol < 0 && f.count >= 1 && f.headEndLine == m_line)
        f.anchorCol = ColumnAt(at);
    m_seenOnLine = true;
}

void CLispReader::OpenForm(std::size_t at, char bracket)
{
    const bool element = BeginDatum(at, Kind::List);
    const Frame &parent = m_frames.back();
    const std::uint8_t inherited = parent.flags;
    const int index = element ? parent.count - 1 : -1;
    Frame &child = m_frames.emplace_back(); // parent is not to be used from here on
    child.open = Abs(at);
    child.start = element ? m_datumStart : Abs(at);
    child.openCol = ColumnAt(at);
    child.openLine = m_line;
    child.bracket = bracket;
    child.flags = m_datumFlags;
    if ((m_datumFlags & Quoted) || ((inherited & InData) && !(m_datumFlags & (Unquoted | Backquoted))))
        child.flags |= InData;
    child.index = index;
}

void CLispReader::CloseForm(std::size_t at, char bracket)
{
    const char opener = bracket == ')' ? '(' : bracket == ']' ? '[' : '{';
    const Pos end = Abs(at) + 1;
    const bool super = m_syntax.superBracket && bracket == ']';
    if (m_frames.size() == 1 || (!super && m_frames.back().bracket != opener)) {
        m_closed = {Abs(at), end, false};
        return;
    }
    Pos start = -1;
    bool done = false;
    while (!done && m_frames.size() > 1) {
        // PicoLisp's ] closes every form back to its [ (or all of them).
        const Frame f = m_frames.back();
        m_frames.pop_back();
        start = f.start;
        done = !super || f.bracket == '[';
        if (!(f.flags & PrefixArg))
            EndElement();
    }
    m_closed = {start, end, true};
}
