// The console's output rules without a widget: where output goes, how it is broken, trimmed, paced.
#include "lisp/CConsoleOutput.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// Largest chunk of output inserted at once without a limit: a line broken for display is copied
// once, so no more than this.
constexpr std::size_t kChunkMax = std::size_t(256) << 10;
// Pieces per UI event: sized so that showing one takes about this long, within these bounds.
constexpr double kPieceTargetNs = 3e6;
constexpr std::size_t kPieceMin = std::size_t(8) << 10;
constexpr std::size_t kPieceFirst = std::size_t(64) << 10;
constexpr std::size_t kPieceMax = std::size_t(4) << 20;
// How far into the output an answer to hide is looked for.
constexpr std::size_t kHideWithin = 4096;
// Pieces smaller than this say little about the cost per byte.
constexpr std::size_t kPieceMeasured = std::size_t(4) << 10;
// Takes of output at least kPieceMeasured long start no closer together than this: output that
// comes in many small reads is shown in fewer, larger pieces, each with one paint, and no later
// than this after it came.
constexpr std::chrono::nanoseconds kFloodTakeSpacing = std::chrono::milliseconds(6);
// Most output dropped by one step of a trim. The first step moves the whole kept text (its bytes
// and its styles) to close the room at the start; later steps only pass over what they drop, so a
// trim of megabytes goes in steps between which keys are served.
constexpr std::size_t kTrimStepMax = std::size_t(1) << 20;
// Steps are sized to take about this long, at what the last one cost a byte: 80-byte lines cost
// about 1.2 ms a megabyte, SBCL printing one symbol a line 6.6 ms.
constexpr double kTrimStepTargetNs = 2e6;
constexpr std::size_t kTrimStepMin = std::size_t(64) << 10;

bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

// Where to cut a chunk of at most max bytes: after the last line feed in its second half, else
// never between a UTF-8 lead byte and its continuation bytes.
std::size_t ChunkLength(std::string_view data, std::size_t max)
{
    if (data.size() <= max)
        return data.size();
    for (std::size_t i = max; i > max / 2; --i)
        if (data[i - 1] == '\n')
            return i;
    std::size_t cut = max;
    while (cut > 0 && (static_cast<unsigned char>(data[cut]) & 0xC0) == 0x80)
        --cut;
    return cut > 0 ? cut : max;
}

} // namespace

CConsoleOutput::CConsoleOutput() = default;

void CConsoleOutput::SetColumns(int columns, int tabWidth)
{
    m_nColumns = std::clamp(columns, kColumnsMin, kColumnsMax);
    m_nTabWidth = std::max(1, tabWidth);
}

void CConsoleOutput::SetLimit(std::int64_t bytes)
{
    m_nLimit = std::max<std::int64_t>(0, bytes);
    m_nTrimTo = -1;
}

std::string &CConsoleOutput::NewText()
{
    if (m_nTextsUsed == m_texts.size())
        m_texts.emplace_back();
    std::string &text = m_texts[m_nTextsUsed++];
    text.clear();
    return text;
}

CConsoleOutput::Edit &CConsoleOutput::NewEdit(Edits &edits)
{
    Edit &edit = edits.emplace_back();
    return edit;
}

// --- Typed text that joins the output ---------------------------------------------------------

void CConsoleOutput::Joined(std::string_view text)
{
    const Pos at = m_nEnd;
    m_nEnd += Pos(text.size());
    if (text.empty())
        return;
    m_nColumn = ColumnAfter(text, m_nColumn);
    m_bAtLineStart = IsLineEnd(text.back());
    if (m_nLimit <= 0)
        return;   // no trim ever needs a place to cut
    // Trims cut at line starts; a few per part of the limit are enough to cut near where wanted.
    const Pos step = std::max<Pos>(64, Pos(m_nLimit / 1024));
    Pos next = m_lineStarts.empty() ? at : std::max(at, m_lineStarts.back() + step);
    while (next < m_nEnd) {
        const void *lf = std::memchr(text.data() + (next - at), '\n', std::size_t(m_nEnd - next));
        if (!lf)
            break;
        const Pos start = at + (static_cast<const char *>(lf) - text.data()) + 1;
        m_lineStarts.push_back(start);
        next = start + step;
    }
}

void CConsoleOutput::StartInput(std::string_view left)
{
    Joined(left);
    m_nInputStart = m_nEnd;
}

void CConsoleOutput::InputSent(std::string_view line)
{
    Joined(line);
    m_nInputStart = -1;
}

// --- Output -------------------------------------------------------------------------------------

void CConsoleOutput::HideOnce(std::string_view text)
{
    m_strHide = text;
    m_strHeld.clear();
    m_nHideSeen = 0;
}

void CConsoleOutput::Output(std::string_view data, Edits &edits)
{
    if (edits.empty())
        m_nTextsUsed = 0;
    if (!m_strHide.empty() && !data.empty()) {
        std::string &all = m_strFiltered;
        all.assign(m_strHeld).append(data);
        m_strHeld.clear();
        const std::size_t at = all.find(m_strHide);
        if (at != std::string::npos) {
            all.erase(at, m_strHide.size());
            m_strHide.clear();
        } else {
            // A tail that may be the start of the text waits for the next output.
            for (std::size_t k = std::min(m_strHide.size() - 1, all.size()); k > 0; --k) {
                if (std::string_view(all).substr(all.size() - k) == std::string_view(m_strHide).substr(0, k)) {
                    m_strHeld.assign(all, all.size() - k, k);
                    all.resize(all.size() - k);
                    break;
                }
            }
            m_nHideSeen += all.size();
            if (m_nHideSeen > kHideWithin) {
                all += m_strHeld;   // it did not come: nothing is hidden
                m_strHeld.clear();
                m_strHide.clear();
            }
        }
        data = all;
    }
    if (data.empty())
        return;
    // The first output after a send loses one leading line feed, and only it.
    if (std::exchange(m_bSkipNewline, false) && data.front() == '\n')
        data.remove_prefix(1);
    Show(data, edits);
}

void CConsoleOutput::Message(std::string_view text, Edits &edits)
{
    if (edits.empty())
        m_nTextsUsed = 0;
    if (!m_bAtLineStart)
        Show("\r\n", edits);
    Show(text, edits);
}

void CConsoleOutput::CommandSent(Edits &edits)
{
    if (edits.empty())
        m_nTextsUsed = 0;
    if (!std::exchange(m_bSkipNewline, false))
        Show("\n", edits);
    m_bSkipNewline = true;
}

void CConsoleOutput::Restarted(Edits &edits)
{
    if (edits.empty())
        m_nTextsUsed = 0;
    Show("\r\n", edits);
    m_bSkipNewline = false;
}

std::size_t CConsoleOutput::ChunkMax() const
{
    if (m_nLimit <= 0)
        return kChunkMax;
    return std::clamp<std::size_t>(std::size_t(m_nLimit / 8), 4096, kPieceMax);
}

void CConsoleOutput::Show(std::string_view data, Edits &edits)
{
    while (!data.empty()) {
        const std::size_t chunk = ChunkLength(data, ChunkMax());
        while (Trim(chunk, edits)) {
        }
        Insert(data.substr(0, chunk), edits);
        data.remove_prefix(chunk);
    }
}

void CConsoleOutput::Insert(std::string_view data, Edits &edits)
{
    Edit &edit = NewEdit(edits);
    edit.start = edit.end = m_nEnd;
    std::string &broken = NewText();
    const int column = Break(data, m_nColumn, broken, edit.breaks);
    const std::string_view shown = edit.breaks.empty() ? data : std::string_view(broken);
    edit.text = shown;
    Joined(shown);
    if (!shown.empty())
        m_nColumn = column;
    if (m_nInputStart >= 0)
        m_nInputStart += Pos(shown.size());
}

int CConsoleOutput::ColumnAfter(std::string_view text, int column) const
{
    // Only the last line counts.
    const std::size_t lineEnd = text.find_last_of("\r\n");
    if (lineEnd != std::string_view::npos) {
        text.remove_prefix(lineEnd + 1);
        column = 0;
    }
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if ((c & 0xC0) != 0x80)   // a continuation byte of UTF-8 takes no column
            column += c == '\t' ? m_nTabWidth - column % m_nTabWidth : 1;
    }
    return column;
}

int CConsoleOutput::Break(std::string_view text, int column, std::string &broken, std::vector<Pos> &breaks) const
{
    const char *data = text.data();
    const std::size_t length = text.size();
    const int width = m_nColumns;
    const int tab = m_nTabWidth;
    const auto advance = [tab](unsigned char c, int at) {
        if ((c & 0xC0) == 0x80)
            return 0;
        return c == '\t' ? tab - at % tab : 1;
    };
    broken.clear();
    breaks.clear();
    std::size_t copied = 0;
    std::size_t space = 0;   // just after the last space of the display line, 0 when none
    for (std::size_t i = 0; i < length; ++i) {
        if (column == 0) {
            // Quick way over lines that cannot be too wide: fewer bytes than columns.
            const void *end = std::memchr(data + i, '\n', length - i);
            const std::size_t next = end ? std::size_t(static_cast<const char *>(end) - data) : length;
            if (next - i < std::size_t(width) && !std::memchr(data + i, '\t', next - i)) {
                if (!end) {
                    column = ColumnAfter(text.substr(i), 0);
                    break;
                }
                i = next;
                continue;
            }
        }
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (c == '\n' || c == '\r') {
            column = 0;
            space = 0;
            continue;
        }
        const int step = advance(c, column);
        if (step > 0 && column + step > width) {
            // A display break: after the line's last space when that is near, else right here.
            const std::size_t cut = space > copied && i - space < std::size_t(width / 4) ? space : i;
            broken.append(data + copied, cut - copied);
            breaks.push_back(Pos(broken.size()));
            broken.push_back('\n');
            copied = cut;
            column = ColumnAfter(text.substr(cut, i - cut), 0);
            space = 0;
        }
        column += advance(c, column);
        if (c == ' ')
            space = i + 1;
    }
    if (!breaks.empty())
        broken.append(data + copied, length - copied);
    return column;
}

// --- Trimming -----------------------------------------------------------------------------------

std::string CConsoleOutput::DroppedMarker(std::int64_t bytes) const
{
    // "[… 48 MB of earlier output dropped]": megabytes from one megabyte on, kilobytes below. The
    // ellipsis is one character where the console shows UTF-8, three dots elsewhere.
    const std::int64_t mb = (bytes + (std::int64_t(1) << 19)) >> 20;
    const std::string amount = mb >= 1 ? std::to_string(mb) + " MB"
                                       : std::to_string(std::max<std::int64_t>(1, (bytes + 512) >> 10)) + " KB";
    return std::string("[") + (m_bUtf8 ? "\xE2\x80\xA6" : "...") + " " + amount + " of earlier output dropped]\n";
}

bool CConsoleOutput::TrimDue(std::size_t incoming) const
{
    if (m_nLimit <= 0 || m_nEnd <= m_nMarkerLength)
        return false;
    return m_nTrimTo >= 0 ? m_nEnd > m_nTrimTo : m_nEnd + Pos(incoming) > m_nLimit;
}

bool CConsoleOutput::Trim(std::size_t incoming, Edits &edits)
{
    if (edits.empty())
        m_nTextsUsed = 0;
    if (!TrimDue(incoming)) {
        m_nTrimTo = -1;
        return false;
    }
    if (m_nTrimTo < 0) {
        // Down to three quarters of the limit, in whole lines, over as many steps as it takes.
        const std::string probe = DroppedMarker(m_nDropped + (m_nEnd - m_nLimit));
        m_nTrimTo = std::max<Pos>(0, Pos(m_nLimit - m_nLimit / 4) - Pos(incoming) - Pos(probe.size()));
    }
    Pos step = Pos(std::clamp<std::int64_t>(m_nLimit / 16, 4096, kTrimStepMax));
    if (m_dTrimNsPerByte > 0)
        step = std::min(step, std::max(Pos(kTrimStepMin), Pos(kTrimStepTargetNs / m_dTrimNsPerByte)));
    const Pos want = std::clamp<Pos>(std::min(m_nEnd - m_nTrimTo, m_nMarkerLength + step), 1, m_nEnd);
    // The first line start at or after the point wanted, else the last one before it.
    const auto after = std::lower_bound(m_lineStarts.begin(), m_lineStarts.end(), want);
    Pos cut = 0;
    if (after != m_lineStarts.end())
        cut = *after;
    else if (!m_lineStarts.empty())
        cut = m_lineStarts.back();
    if (cut <= m_nMarkerLength) {
        m_nTrimTo = -1;
        return false;   // no line ends after the marker: nothing can go whole
    }

    // The first step's cost is mostly moving the kept text: it makes the next step small, which
    // then tells the cost a byte.
    m_nStepDropped = cut - m_nMarkerLength;
    m_nDropped += cut - m_nMarkerLength;
    std::string &marker = NewText();
    marker = DroppedMarker(m_nDropped);
    Edit &edit = NewEdit(edits);
    edit.start = 0;
    edit.end = cut;
    edit.text = marker;
    const Pos shift = Pos(marker.size()) - cut;
    m_nEnd += shift;
    if (m_nInputStart >= 0)
        m_nInputStart += shift;
    m_nMarkerLength = Pos(marker.size());
    while (!m_lineStarts.empty() && m_lineStarts.front() + shift <= m_nMarkerLength)
        m_lineStarts.pop_front();
    for (Pos &start : m_lineStarts)
        start += shift;
    if (m_nEnd <= m_nTrimTo) {
        m_nTrimTo = -1;
        m_bTrimmed = true;
    }
    return true;
}

void CConsoleOutput::TrimStepShown(std::chrono::nanoseconds cost)
{
    if (std::size_t(m_nStepDropped) >= kPieceMeasured)
        m_dTrimNsPerByte = double(cost.count()) / double(m_nStepDropped);
    m_nStepDropped = 0;
}

// --- Pieces -------------------------------------------------------------------------------------

std::size_t CConsoleOutput::PieceBytes() const
{
    // After a trim the first insertion at the end moves the kept text back: that alone is its
    // cost, so the piece is small and says nothing of the cost per byte.
    if (m_bTrimmed)
        return kPieceMin;
    std::size_t bytes = kPieceFirst;
    if (m_dNsPerByte > 0)
        bytes = std::size_t(std::clamp(kPieceTargetNs / m_dNsPerByte, double(kPieceMin), double(kPieceMax)));
    return std::min(bytes, m_nLimit > 0 ? ChunkMax() : kPieceMax);
}

void CConsoleOutput::PieceShown(std::size_t bytes, std::chrono::nanoseconds cost)
{
    if (std::exchange(m_bTrimmed, false) || bytes < kPieceMeasured)
        return;
    const double perByte = double(cost.count()) / double(bytes);
    // The last pieces weigh most, and a slow one at once: a key waits for the next piece.
    m_dNsPerByte = m_dNsPerByte <= 0 || perByte > m_dNsPerByte ? perByte : 0.7 * m_dNsPerByte + 0.3 * perByte;
}

std::chrono::nanoseconds CConsoleOutput::WaitAfterTake(std::size_t bytes, std::chrono::nanoseconds cost, bool more) const
{
    if (more)
        return cost;
    if (bytes < kPieceMeasured)
        return std::chrono::nanoseconds(0);
    return std::max(std::chrono::nanoseconds(0), kFloodTakeSpacing - cost);
}
