// The console pane: the Lisp it owns, and output shown in pieces, bounded and kept out of the input.
#include "lisp/CTalvexPipe.h"

#include "settings/CSettingsStore.h"

#include <QMetaObject>
#include <QScrollBar>

#include <algorithm>
#include <cstring>

namespace {

// Output limit when "ConsoleLimit" is absent, in megabytes.
constexpr int kDefaultLimitMb = 16;
// Marks the display breaks of overlong lines (the first indicator free for the program's use).
constexpr int kBreakIndicator = 8;
// Once the text passes this, its buffers get room for the whole limit at once, so that no growth
// copies the text while keys come; limits beyond kRoomMax are left to the control's own growth.
constexpr CScintillaCtrl::Pos kRoomFrom = 1 << 20;
constexpr qint64 kRoomMax = qint64(256) << 20;
// Output not yet coloured up to this is coloured as it comes, however much of it is off screen.
constexpr CScintillaCtrl::Pos kStyleAlways = 16 << 10;

constexpr char kNotRunning[] = "<ERROR>: Lisp is not running; Reset Lisp starts it\r\n";
constexpr char kInterruptSent[] = "<INTERRUPT>: Interrupt sent to Lisp\r\n";
constexpr char kNotReading[] = "<ERROR>: Lisp is not reading its input; nothing sent\r\n";

} // namespace

CTalvexPipe::CTalvexPipe(QWidget *parent)
    : CScintillaCtrl(parent), m_pDialect(&DialectForKeywordSet(0)), m_lisp([this] { PostTake(); })
{
    SendScintilla(SCI_INDICSETSTYLE, static_cast<unsigned long>(kBreakIndicator), static_cast<long>(INDIC_HIDDEN));
    m_takeTimer.setSingleShot(true);
    m_takeTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_takeTimer, &QTimer::timeout, this, &CTalvexPipe::TakePiece);
    m_pasteTimer.setSingleShot(true);
    connect(&m_pasteTimer, &QTimer::timeout, this, &CTalvexPipe::PasteSome);
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
    m_output.SetColumns(DisplayColumns(), GetTabWidth());
    m_output.SetUtf8(SendScintilla(SCI_GETCODEPAGE) == SC_CP_UTF8);
    // Output is not something to undo, and a history of it would grow without bound.
    SendScintilla(SCI_SETUNDOCOLLECTION, 0UL);
    EmptyUndoBuffer();
    CSettingsStore &store = CSettingsStore::Instance();
    int limitMb = store.ReadInt(CSettingsStore::kSettings, QStringLiteral("ConsoleLimit"), kDefaultLimitMb);
    if (limitMb < 0)
        limitMb = kDefaultLimitMb;
    SetOutputLimit(qint64(limitMb) << 20);
    // Read only here: for a Lisp whose program Talvex does not know, the keyword set chosen at
    // start-up names the dialect for the whole run.
    m_nKeywordSet = store.ReadInt(CSettingsStore::kSettings, QStringLiteral("KeywordSet"), 0);
    m_pDialect = &DialectForCommandLine(m_lisp.m_strCommandLine, m_nKeywordSet);
}

void CTalvexPipe::SetOutputLimit(qint64 bytes)
{
    m_output.SetLimit(bytes);
    m_bRoomMade = false;
}

// --- The Lisp -------------------------------------------------------------------------------

bool CTalvexPipe::StartLisp()
{
    // The dialect follows the Lisp that runs now (Set Lisp Path may have changed it).
    m_pDialect = &DialectForCommandLine(m_lisp.m_strCommandLine, m_nKeywordSet);
    m_lisp.m_bFrameCommands = m_pDialect->frameCommands;
    m_lisp.m_bTerminal = m_pDialect->terminal;
    FlushOutput();   // what the last Lisp left is shown as it came
    const bool started = m_lisp.StartLisp();
    if (started && m_pDialect->startForm) {
        m_output.HideOnce(m_pDialect->startAnswer ? m_pDialect->startAnswer : "");
        m_lisp.WriteToLisp(m_pDialect->startForm);
    }
    FlushOutput();   // a start error shows at once
    return started;
}

void CTalvexPipe::StopLisp()
{
    m_lisp.StopLisp();
}

void CTalvexPipe::SendToLisp(const QByteArray &text)
{
    FlushOutput();
    if (!CanTakeLine())
        return;
    m_edits.clear();
    m_output.CommandSent(m_edits);
    ApplyEdits();
    WriteLine(text);
}

void CTalvexPipe::ResetLisp()
{
    // The old Lisp ends first, so that all it wrote comes before the break and none after it.
    m_lisp.StopLisp();
    FlushOutput();
    m_edits.clear();
    m_output.Restarted(m_edits);
    ApplyEdits();
    StartLisp();
}

void CTalvexPipe::InterruptLisp()
{
    FlushOutput();
    if (!m_lisp.IsLispRunning()) {
        ShowMessage(kNotRunning);
        return;
    }
    if (const char *reason = Dialect().noInterrupt) {
        ShowMessage(QByteArray("<ERROR>: ") + reason + "\r\n");
        return;
    }
    // Shown before the signal goes, so it always comes before the Lisp's answer to it.
    ShowMessage(kInterruptSent);
    m_lisp.InterruptLisp();
}

bool CTalvexPipe::CanTakeLine()
{
    if (!m_lisp.IsLispRunning())
        ShowMessage(kNotRunning);
    else if (m_lisp.IsInputFull())
        ShowNotReading();
    else
        return true;
    return false;
}

void CTalvexPipe::ShowNotReading()
{
    ShowMessage(kNotReading);
}

void CTalvexPipe::WriteLine(const QByteArray &text)
{
    std::string line(text.constData(), static_cast<size_t>(text.size()));
    line += '\n';
    m_lisp.WriteToLisp(line);
}

void CTalvexPipe::ShowMessage(const QByteArray &text)
{
    FlushOutput();
    m_edits.clear();
    m_output.Message(std::string_view(text.constData(), size_t(text.size())), m_edits);
    ApplyEdits();
}

// --- Output ---------------------------------------------------------------------------------

void CTalvexPipe::PostTake()
{
    if (!m_bTakePosted.exchange(true))
        QMetaObject::invokeMethod(this, &CTalvexPipe::TakePiece, Qt::QueuedConnection);
}

void CTalvexPipe::TakePiece()
{
    if (!m_nextTake.hasExpired()) {
        // Output came sooner after the last take than takes follow each other: the timer is
        // the take that stays posted.
        m_takeTimer.start(static_cast<int>((m_nextTake.remainingTimeNSecs() + 999999) / 1000000));
        return;
    }
    // Cleared before taking: output arriving after this point posts a new take, output arriving
    // before it is taken by this one.
    m_bTakePosted.store(false);
    m_takeTimer.stop();
    if (IsPasting())
        return;   // a paste stays whole on screen: the output follows it, taken when it is in
    if (m_nPieceBytes > 0) {
        // The last piece was not painted (the console is hidden, say): its insertion is its cost.
        m_output.PieceShown(m_nPieceBytes, std::chrono::nanoseconds(m_pieceTimer.nsecsElapsed()));
        m_nPieceBytes = 0;
    }
    const size_t piece = m_output.PieceBytes();
    m_edits.clear();
    QElapsedTimer timer;
    timer.start();
    bool more = true;
    m_taken.clear();   // a trim step shows no output: it is not a piece
    // When a trim is due or under way, one step of it is this event's work.
    const bool trimmed = m_output.Trim(piece, m_edits);
    if (!trimmed) {
        more = m_lisp.TakeOutput(m_taken, piece);
        m_output.Output(m_taken, m_edits);
    }
    ApplyEdits();
    if (trimmed)
        m_output.TrimStepShown(std::chrono::nanoseconds(timer.nsecsElapsed()));
    PassOverHiddenOutput();
    const qint64 limit = m_output.Limit();
    if (!m_bRoomMade && limit > 0 && limit <= kRoomMax && GetLength() >= kRoomFrom) {
        // Room for the limit and one piece beyond it; its pages are taken as the text fills them.
        Allocate(static_cast<Pos>(limit + (qint64(4) << 20)));
        m_bRoomMade = true;
    }
    if (!m_taken.empty()) {
        m_nPieceBytes = m_taken.size();
        m_pieceTimer = timer;   // the cost so far; the paint adds its own
    }
    const std::chrono::nanoseconds wait =
        m_output.WaitAfterTake(m_taken.size(), std::chrono::nanoseconds(timer.nsecsElapsed()), more);
    if (more) {
        if (!m_bTakePosted.exchange(true))
            m_takeTimer.start(static_cast<int>((wait.count() + 500000) / 1000000));   // to the nearest ms
    } else if (wait.count() > 0) {
        m_nextTake = QDeadlineTimer(wait, Qt::PreciseTimer);   // output that comes sooner waits
    }
}

void CTalvexPipe::FlushOutput()
{
    for (;;) {
        m_taken.clear();
        const bool more = m_lisp.TakeOutput(m_taken);
        m_edits.clear();
        m_output.Output(m_taken, m_edits);
        ApplyEdits();
        if (!more)
            break;
    }
}

void CTalvexPipe::ApplyEdits()
{
    for (const CConsoleOutput::Edit &edit : m_edits) {
        const Pos length = GetLength();
        const Pos start = std::clamp<Pos>(edit.start, 0, length);
        const Pos end = std::clamp<Pos>(edit.end, start, length);
        const Pos added = Pos(edit.text.size()) - (end - start);
        const Pos caret = GetCurrentPos();
        const Pos anchor = SendScintilla(SCI_GETANCHOR);
        // The kept text keeps its colours: the styling done so far stays valid, shifted with it.
        const Pos styled = SendScintilla(SCI_GETENDSTYLED);
        SetTargetRange(start, end);
        SendScintilla(SCI_REPLACETARGET, static_cast<unsigned long>(edit.text.size()), edit.text.data());
        if (end > start && styled > end)
            SendScintilla(SCI_STARTSTYLING, static_cast<unsigned long>(styled + added), 0L);
        if (end > start && m_nUnstyledTo > start) {
            // The text passed over moves with the replacement, or goes with it.
            m_nUnstyledFrom = m_nUnstyledFrom >= end ? m_nUnstyledFrom + added : start;
            m_nUnstyledTo = m_nUnstyledTo >= end ? m_nUnstyledTo + added : start;
        }
        MarkBreaks(start, edit.breaks);
        if (m_output.InputStart() < 0) {
            GotoPos(GetLength());
        } else if (caret >= end && anchor >= end) {
            // Output goes before the line being typed; the caret stays where it was in that line.
            SetSel(anchor + added, caret + added);
        } else {
            GotoPos(GetLength());
        }
    }
    m_edits.clear();
}

int CTalvexPipe::DisplayColumns() const
{
    // The width left with the vertical scroll bar shown, which it soon is.
    const int width = contentsRect().width() - verticalScrollBar()->sizeHint().width();
    const int margins = static_cast<int>(SendScintilla(SCI_GETMARGINLEFT) + SendScintilla(SCI_GETMARGINRIGHT));
    const int columns = (width - margins) / std::max(1, m_nCharWidth) - 1;
    return std::clamp(columns, CConsoleOutput::kColumnsMin, CConsoleOutput::kColumnsMax);
}

void CTalvexPipe::resizeEvent(QResizeEvent *e)
{
    CScintillaCtrl::resizeEvent(e);
    m_output.SetColumns(DisplayColumns(), GetTabWidth());
}

void CTalvexPipe::paintEvent(QPaintEvent *e)
{
    StyleVisible();
    CScintillaCtrl::paintEvent(e);
    if (m_nPieceBytes > 0) {
        // Insertion, styling, layout and painting of the last piece together.
        m_output.PieceShown(m_nPieceBytes, std::chrono::nanoseconds(m_pieceTimer.nsecsElapsed()));
        m_nPieceBytes = 0;
    }
}

void CTalvexPipe::PassOverHiddenOutput()
{
    // Scintilla colours text in order, from the end of what it has coloured to the end of what a
    // paint shows: after a piece at the end that is the whole piece, most of it never seen
    // (styling a quarter megabyte took 12 ms). Only the lines that will be on screen are left
    // to it; the new text before them keeps the default style it came in with.
    const Pos styled = SendScintilla(SCI_GETENDSTYLED);
    if (GetLength() - styled < kStyleAlways)
        return;
    const int lines = static_cast<int>(SendScintilla(SCI_GETLINECOUNT));
    const int onScreen = static_cast<int>(SendScintilla(SCI_LINESONSCREEN));
    const Pos from = PositionFromLine(std::max(0, lines - onScreen - 2));
    if (from <= styled)
        return;
    if (m_nUnstyledFrom >= m_nUnstyledTo || styled < m_nUnstyledFrom)
        m_nUnstyledFrom = styled;
    m_nUnstyledTo = from;
    SendScintilla(SCI_STARTSTYLING, static_cast<unsigned long>(from), 0L);
}

void CTalvexPipe::StyleVisible()
{
    if (m_nUnstyledFrom >= m_nUnstyledTo)
        return;
    const int first = static_cast<int>(SendScintilla(SCI_GETFIRSTVISIBLELINE));
    const int onScreen = static_cast<int>(SendScintilla(SCI_LINESONSCREEN));
    const Pos start = std::max(m_nUnstyledFrom, PositionFromLine(first));
    const Pos end = std::min(m_nUnstyledTo, PositionFromLine(first + onScreen + 1));
    if (start >= end)
        return;
    // Coloured from the start of its line; the end of what is coloured stays where it was.
    const Pos styled = SendScintilla(SCI_GETENDSTYLED);
    const Pos lineStart = PositionFromLine(LineFromPosition(start));
    SendScintilla(SCI_COLOURISE, static_cast<unsigned long>(lineStart), static_cast<long>(end));
    if (styled > end)
        SendScintilla(SCI_STARTSTYLING, static_cast<unsigned long>(styled), 0L);
    if (start == m_nUnstyledFrom)
        m_nUnstyledFrom = end;
    else if (end == m_nUnstyledTo)
        m_nUnstyledTo = start;
}

CScintillaCtrl::Pos CTalvexPipe::InsertBroken(Pos pos, const std::string_view &text, int column)
{
    m_output.Break(text, column, m_broken, m_breaks);
    if (m_breaks.empty()) {
        InsertText(pos, text.data(), Pos(text.size()));
        return Pos(text.size());
    }
    InsertText(pos, m_broken.data(), Pos(m_broken.size()));
    MarkBreaks(pos, m_breaks);
    return Pos(m_broken.size());
}

void CTalvexPipe::MarkBreaks(Pos start, const std::vector<CConsoleOutput::Pos> &breaks)
{
    if (breaks.empty())
        return;
    SendScintilla(SCI_SETINDICATORCURRENT, static_cast<unsigned long>(kBreakIndicator));
    for (const CConsoleOutput::Pos offset : breaks)
        SendScintilla(SCI_INDICATORFILLRANGE, static_cast<unsigned long>(start + offset), 1L);
}

QByteArray CTalvexPipe::PlainText(Pos start, Pos end) const
{
    // Display breaks are line feeds with the mark: only line feeds need a look at the marks.
    const QByteArray text = GetTextRange(start, end);
    QByteArray plain;
    plain.reserve(text.size());
    const char *data = text.constData();
    qsizetype copied = 0;
    for (;;) {
        const void *lf = std::memchr(data + copied, '\n', size_t(text.size() - copied));
        if (!lf)
            break;
        const qsizetype at = static_cast<const char *>(lf) - data;
        const bool isBreak = SendScintilla(SCI_INDICATORVALUEAT, static_cast<unsigned long>(kBreakIndicator),
                                           static_cast<long>(start + at)) != 0;
        plain.append(data + copied, at - copied + (isBreak ? 0 : 1));
        copied = at + 1;
    }
    plain.append(data + copied, text.size() - copied);
    return plain;
}
