// The console pane: the Lisp it owns, and output shown in pieces, bounded and kept out of the input.
#include "lisp/CTalvexPipe.h"

#include "settings/CSettingsStore.h"

#include <QMetaObject>
#include <QScrollBar>
#include <QThread>

#include <algorithm>
#include <cstring>

namespace {

// Largest piece of one hand-over shown per UI event. Showing costs time in proportion to the bytes;
// a quarter megabyte keeps each event within a few milliseconds, so a key typed during a flood
// waits less than a frame, while the per-event cost stays negligible.
constexpr size_t kMaxAppend = size_t(256) << 10;
// Output limit when "ConsoleLimit" is absent, in megabytes.
constexpr int kDefaultLimitMb = 16;
// Room beyond the limit: one piece in flight and some typing.
constexpr size_t kSlack = size_t(64) << 10;
// The buffers get their room at the limit once the output passes this; smaller consoles grow as
// the control grows them, which is quick at these sizes. Beyond kRoomMax a limit is not given as
// room in advance: the control grows its buffers itself.
constexpr size_t kRoomFrom = size_t(1) << 20;
constexpr qint64 kRoomMax = qint64(256) << 20;
// Marks the display breaks of overlong lines (the first indicator free for the program's use).
constexpr int kBreakIndicator = 8;

// Keyword sets whose Lisps need the console's care.
constexpr int kNewLispSet = 2;
constexpr int kPicoLispSet = 4;

constexpr char kNotRunning[] = "<ERROR>: Lisp is not running; Reset Lisp starts it\r\n";
constexpr char kInterruptSent[] = "<INTERRUPT>: Interrupt sent to Lisp\r\n";

// Where to cut a piece of at most max bytes: after the last line feed in its second half, else
// never between a UTF-8 lead byte and its continuation bytes.
size_t PieceLength(const char *data, size_t length, size_t max)
{
    if (length <= max)
        return length;
    for (size_t i = max; i > max / 2; --i)
        if (data[i - 1] == '\n')
            return i;
    size_t cut = max;
    while (cut > 0 && (static_cast<unsigned char>(data[cut]) & 0xC0) == 0x80)
        --cut;
    return cut > 0 ? cut : max;
}

bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

// "[… 48 MB of earlier output dropped]": megabytes from one megabyte on, kilobytes below. The
// ellipsis is one character where the console shows UTF-8, three dots elsewhere.
QByteArray DroppedMarker(qint64 bytes, bool utf8)
{
    const qint64 mb = (bytes + (qint64(1) << 19)) >> 20;
    const QByteArray amount = mb >= 1 ? QByteArray::number(mb) + " MB"
                                      : QByteArray::number(std::max<qint64>(1, (bytes + 512) >> 10)) + " KB";
    return QByteArray("[") + (utf8 ? "\xE2\x80\xA6" : "...") + " " + amount + " of earlier output dropped]\n";
}

} // namespace

CTalvexPipe::CTalvexPipe(QWidget *parent)
    : CScintillaCtrl(parent),
      m_lisp([this](const char *data, size_t length) { AppendOutput(data, length); },
             [this] {
                 // On the UI thread (a start error, say) the text is shown right away; from the I/O
                 // thread one queued drain at a time, however fast output arrives.
                 if (QThread::currentThread() == thread())
                     FlushOutput();
                 else
                     PostDrain();
             })
{
    SendScintilla(SCI_INDICSETSTYLE, static_cast<unsigned long>(kBreakIndicator), static_cast<long>(INDIC_HIDDEN));
}

CTalvexPipe::~CTalvexPipe() = default;

void CTalvexPipe::ConfigureConsole()
{
    ApplyLispSetup();
    SetMarginWidthN(0, 0);
    SetMarginWidthN(1, 0);
    // Lines are broken for display as a terminal breaks them, at the width of the console when
    // they arrive; the control itself wraps nothing. Its word wrap lays every line out again in
    // the background after each change at the start of the text (every trim), and costs more per
    // byte the longer a line is: a flood or an overlong line kept the UI thread busy for seconds.
    SetWrapMode(SC_WRAP_NONE);
    SendScintilla(SCI_SETSCROLLWIDTH, 1UL);
    SendScintilla(SCI_SETSCROLLWIDTHTRACKING, 1UL);
    // The width of a typical character of the console's font, for the columns of a display line.
    static const char kSample[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    const int sampleWidth = static_cast<int>(SendScintilla(SCI_TEXTWIDTH, static_cast<unsigned long>(STYLE_DEFAULT), kSample));
    m_nCharWidth = std::max(1, sampleWidth / int(sizeof kSample - 1));
    // Output is not something to undo, and a history of it would grow without bound.
    SendScintilla(SCI_SETUNDOCOLLECTION, 0UL);
    EmptyUndoBuffer();
    CSettingsStore &store = CSettingsStore::Instance();
    int limitMb = store.ReadInt(CSettingsStore::kSettings, QStringLiteral("ConsoleLimit"), kDefaultLimitMb);
    if (limitMb < 0)
        limitMb = kDefaultLimitMb;
    SetOutputLimit(qint64(limitMb) << 20);
    // Read only here: the dialect chosen at start-up holds for the whole run.
    m_nKeywordSet = store.ReadInt(CSettingsStore::kSettings, QStringLiteral("KeywordSet"), 0);
    m_lisp.m_bFrameCommands = m_nKeywordSet == kNewLispSet;
    m_lisp.m_bTerminal = m_nKeywordSet == kNewLispSet || m_nKeywordSet == kPicoLispSet;
}

void CTalvexPipe::SetOutputLimit(qint64 bytes)
{
    m_nLimit = std::max<qint64>(0, bytes);
    m_reserve.Release();
    m_bRoomGiven = false;
}

// --- The Lisp -------------------------------------------------------------------------------

bool CTalvexPipe::StartLisp()
{
    return m_lisp.StartLisp();
}

void CTalvexPipe::StopLisp()
{
    m_lisp.StopLisp();
}

void CTalvexPipe::SendToLisp(const QByteArray &text)
{
    FlushOutput();
    if (!m_lisp.IsLispRunning()) {
        ShowNotRunning();
        return;
    }
    // Two sends with no output between show one line break: the second is the "first output"
    // of the first send and loses its line feed.
    if (!std::exchange(m_bSkipNewline, false))
        InsertOutput("\n", 1);
    m_bSkipNewline = true;
    std::string line(text.constData(), static_cast<size_t>(text.size()));
    line += '\n';
    m_lisp.WriteToLisp(line);
}

void CTalvexPipe::ResetLisp()
{
    FlushOutput();
    InsertOutput("\r\n", 2);
    m_bSkipNewline = false;
    m_lisp.StartLisp();
}

void CTalvexPipe::InterruptLisp()
{
    FlushOutput();
    if (!m_lisp.IsLispRunning()) {
        ShowNotRunning();
        return;
    }
    // Shown before the signal goes, so it always comes before the Lisp's answer to it.
    ShowMessage(kInterruptSent);
    m_lisp.InterruptLisp();
}

void CTalvexPipe::ShowNotRunning()
{
    ShowMessage(kNotRunning);
}

void CTalvexPipe::ShowMessage(const QByteArray &text)
{
    FlushOutput();
    const Pos at = OutputEnd();
    if (at > 0 && !IsLineEnd(static_cast<char>(GetCharAt(at - 1))))
        InsertOutput("\r\n", 2);
    InsertOutput(text.constData(), static_cast<size_t>(text.size()));
}

// --- Output ---------------------------------------------------------------------------------

void CTalvexPipe::PostDrain()
{
    if (!m_bDrainPosted.exchange(true))
        QMetaObject::invokeMethod(this, &CTalvexPipe::DrainPosted, Qt::QueuedConnection);
}

void CTalvexPipe::DrainPosted()
{
    // Cleared before draining: output arriving after this point posts a new drain, output
    // arriving before it is taken by this one.
    m_bDrainPosted.store(false);
    if (!m_backlog.isEmpty()) {
        // The rest of an earlier hand-over goes first; newer output waits for the next event.
        ShowBacklogPiece();
        return;
    }
    m_bSliceOutput = true;
    m_lisp.DrainOutput();
    m_bSliceOutput = false;
}

void CTalvexPipe::ShowBacklogPiece()
{
    const char *rest = m_backlog.constData() + m_nBacklogShown;
    const size_t left = size_t(m_backlog.size()) - m_nBacklogShown;
    const size_t piece = PieceLength(rest, left, MaxPiece());
    // Dropping the oldest lines moves the whole text once: when due, that is this event's work.
    if (!TrimFor(piece)) {
        InsertOutput(rest, piece);
        m_nBacklogShown += piece;
        if (m_nBacklogShown == size_t(m_backlog.size())) {
            m_backlog.truncate(0);   // keeps its memory for the next hand-over
            m_nBacklogShown = 0;
        }
    }
    PostDrain();
}

void CTalvexPipe::FlushOutput()
{
    if (!m_backlog.isEmpty()) {
        const QByteArray backlog = std::exchange(m_backlog, {});
        const size_t shown = std::exchange(m_nBacklogShown, 0);
        InsertOutput(backlog.constData() + shown, size_t(backlog.size()) - shown);
    }
    m_lisp.DrainOutput();
}

void CTalvexPipe::AppendOutput(const char *data, size_t length)
{
    if (length == 0)
        return;
    if (QThread::currentThread() != thread()) {
        // Not expected (output is drained on the UI thread), but never touch the control from
        // another thread: the copy is shown in order behind the drains already queued.
        QByteArray copy(data, static_cast<qsizetype>(length));
        QMetaObject::invokeMethod(
            this, [this, copy] { AppendOutput(copy.constData(), static_cast<size_t>(copy.size())); },
            Qt::QueuedConnection);
        return;
    }
    // The first output after a send loses one leading line feed, and only it.
    if (std::exchange(m_bSkipNewline, false) && data[0] == '\n') {
        ++data;
        --length;
    }
    if (m_bSliceOutput && (length > MaxPiece() || TrimDue(length))) {
        // One piece per UI event, and a trim an event of its own.
        m_backlog.append(data, static_cast<qsizetype>(length));
        ShowBacklogPiece();
        return;
    }
    InsertOutput(data, length);
}

size_t CTalvexPipe::MaxPiece() const
{
    // With a limit, a piece is at most an eighth of it, so one trim always makes room for it.
    if (m_nLimit <= 0)
        return kMaxAppend;
    return std::clamp<size_t>(size_t(m_nLimit / 8), 4096, kMaxAppend);
}

CScintillaCtrl::Pos CTalvexPipe::OutputEnd() const
{
    const Pos length = GetLength();
    return m_nInputStart >= 0 ? std::min(m_nInputStart, length) : length;
}

void CTalvexPipe::InsertOutput(const char *data, size_t length)
{
    while (length > 0) {
        const size_t piece = PieceLength(data, length, MaxPiece());
        TrimFor(piece);
        if (!m_bRoomGiven && m_nLimit > 0 && m_nLimit <= kRoomMax && size_t(GetLength()) + piece >= kRoomFrom) {
            // The room for the whole limit, given once into memory whose pages were written in
            // the background: no later growth copies the text, and no burst of page faults holds
            // up a key. Until the memory is ready the control grows its buffers itself.
            const size_t room = size_t(m_nLimit) + kMaxAppend + kSlack;
            if (m_reserve.PreparedSize() != room)
                m_reserve.Prepare(room, 2);
            if (m_reserve.ReadyCount() == 2 || !CBufferReserve::CanLend()) {
                {
                    CBufferReserve::Lend lend(m_reserve);
                    Allocate(static_cast<Pos>(room));
                }
                m_reserve.Release();
                m_bRoomGiven = true;
            }
        }
        const Pos at = OutputEnd();
        if (m_nInputStart < 0) {
            InsertBroken(at, data, piece);
            GotoPos(GetLength());
        } else {
            // Output goes before the line being typed; the caret stays where it was in that line.
            const Pos caret = GetCurrentPos();
            const Pos anchor = SendScintilla(SCI_GETANCHOR);
            const Pos added = InsertBroken(at, data, piece);
            m_nInputStart = at + added;
            if (caret >= at && anchor >= at)
                SetSel(anchor + added, caret + added);
            else
                GotoPos(GetLength());
        }
        data += piece;
        length -= piece;
    }
}

int CTalvexPipe::DisplayColumns() const
{
    // The width left with the vertical scroll bar shown, which it soon is.
    const int width = contentsRect().width() - verticalScrollBar()->sizeHint().width();
    const int margins = static_cast<int>(SendScintilla(SCI_GETMARGINLEFT) + SendScintilla(SCI_GETMARGINRIGHT));
    const int columns = (width - margins) / std::max(1, m_nCharWidth) - 1;
    return std::clamp(columns, kDisplayColumnsMin, kDisplayColumnsMax);
}

CScintillaCtrl::Pos CTalvexPipe::InsertBroken(Pos pos, const char *data, size_t length)
{
    const int width = DisplayColumns();
    const int tab = std::max(1, GetTabWidth());
    // Columns taken by one character; a continuation byte of UTF-8 takes none.
    const auto advance = [tab](unsigned char c, int column) {
        if ((c & 0xC0) == 0x80)
            return 0;
        return c == '	' ? tab - column % tab : 1;
    };
    const auto columnsOf = [&](const char *text, size_t count, int column) {
        for (size_t k = 0; k < count; ++k)
            column += advance(static_cast<unsigned char>(text[k]), column);
        return column;
    };
    // Columns already taken on the line where the text goes.
    const Pos lineStart = PositionFromLine(LineFromPosition(pos));
    int column = 0;
    if (pos > lineStart) {
        const QByteArray before = GetTextRange(std::max(lineStart, pos - Pos(4 * kDisplayColumnsMax)), pos);
        column = columnsOf(before.constData(), size_t(before.size()), 0);
    }
    m_breaks.clear();
    m_broken.clear();
    size_t copied = 0;
    size_t space = 0;   // just after the last space of the display line, 0 when none
    for (size_t i = 0; i < length; ++i) {
        if (column == 0) {
            // Quick way over lines that cannot be too wide: fewer bytes than columns.
            const void *end = std::memchr(data + i, '\n', length - i);
            const size_t next = end ? size_t(static_cast<const char *>(end) - data) : length;
            if (next - i < size_t(width) && (std::memchr(data + i, '\t', next - i) == nullptr)) {
                if (!end) {
                    column = columnsOf(data + i, next - i, 0);
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
            const size_t cut = space > copied && i - space < size_t(width / 4) ? space : i;
            m_broken.append(data + copied, static_cast<qsizetype>(cut - copied));
            m_breaks.push_back(Pos(m_broken.size()));
            m_broken.append('\n');
            copied = cut;
            column = columnsOf(data + cut, i - cut, 0);
            space = 0;
        }
        column += advance(c, column);
        if (c == ' ')
            space = i + 1;
    }
    if (m_breaks.empty()) {
        InsertText(pos, data, static_cast<Pos>(length));
        return static_cast<Pos>(length);
    }
    m_broken.append(data + copied, static_cast<qsizetype>(length - copied));
    InsertText(pos, m_broken.constData(), m_broken.size());
    SendScintilla(SCI_SETINDICATORCURRENT, static_cast<unsigned long>(kBreakIndicator));
    for (Pos offset : m_breaks)
        SendScintilla(SCI_INDICATORFILLRANGE, static_cast<unsigned long>(pos + offset), 1L);
    return m_broken.size();
}

QByteArray CTalvexPipe::PlainText(Pos start, Pos end) const
{
    const QByteArray text = GetTextRange(start, end);
    QByteArray plain;
    Pos pos = start;
    while (pos < end) {
        const bool isBreak = SendScintilla(SCI_INDICATORVALUEAT, static_cast<unsigned long>(kBreakIndicator),
                                           static_cast<long>(pos)) != 0;
        Pos runEnd = SendScintilla(SCI_INDICATOREND, static_cast<unsigned long>(kBreakIndicator),
                                   static_cast<long>(pos));
        if (runEnd <= pos || runEnd > end)
            runEnd = end;   // no marks, or none before the end
        if (!isBreak)
            plain.append(text.constData() + (pos - start), static_cast<qsizetype>(runEnd - pos));
        pos = runEnd;
    }
    return plain;
}

bool CTalvexPipe::TrimDue(size_t incoming) const
{
    return m_nLimit > 0 && GetLength() + Pos(incoming) > m_nLimit && OutputEnd() > m_nMarkerLength;
}

bool CTalvexPipe::TrimFor(size_t incoming)
{
    if (!TrimDue(incoming))
        return false;
    const Pos length = GetLength();
    // Down to three quarters of the limit, in whole lines, and never into the input line.
    const bool utf8 = SendScintilla(SCI_GETCODEPAGE) == SC_CP_UTF8;
    const QByteArray probe = DroppedMarker(m_nDropped + (length - m_nLimit), utf8);
    const Pos keep = m_nLimit - m_nLimit / 4 - Pos(incoming) - probe.size();
    const Pos outputEnd = OutputEnd();
    const Pos want = std::clamp<Pos>(length - keep, 1, outputEnd);
    const int line = LineFromPosition(want - 1);
    Pos cut = PositionFromLine(line + 1);
    if (cut > outputEnd)
        cut = PositionFromLine(line);
    if (cut <= m_nMarkerLength)
        return false;   // nothing but the line being typed after the marker: it is never dropped

    m_nDropped += cut - m_nMarkerLength;
    const QByteArray marker = DroppedMarker(m_nDropped, utf8);
    // The kept text keeps its colours: the styling done so far stays valid, shifted with it.
    const Pos styled = SendScintilla(SCI_GETENDSTYLED);
    SetTargetRange(0, cut);
    ReplaceTarget(marker);
    if (styled > cut)
        SendScintilla(SCI_STARTSTYLING, static_cast<unsigned long>(styled - cut + marker.size()), 0L);
    if (m_nInputStart >= 0)
        m_nInputStart -= cut - marker.size();
    m_nMarkerLength = marker.size();
    return true;
}
